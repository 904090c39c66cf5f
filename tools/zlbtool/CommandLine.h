// Argument parsing for zlbtool's commands: flags, options with a value, and
// operands, with "--" ending the options.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "konvoro/Exceptions.h"

namespace zlbtool {

// A usage error: the message is printed with the command's usage line.
class EUsageError : public kv::Exception {
  using kv::Exception::Exception;
};

struct TParsedArgs {
  std::set<std::string> Flags;
  std::map<std::string, std::string> Values;
  std::vector<std::string> Operands;

  bool Has(const std::string& Flag) const { return Flags.count(Flag) != 0; }
  std::string Value(const std::string& Option, const std::string& Default) const;
};

// Parses Args against the known flags and value options (short or long
// names, e.g. "-o" and "--output"). Raises EUsageError for anything else.
TParsedArgs ParseArgs(const std::vector<std::string>& Args, const std::set<std::string>& Flags,
                      const std::set<std::string>& ValueOptions);

}  // namespace zlbtool
