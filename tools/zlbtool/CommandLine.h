// Argument parsing for zlbtool's commands: flags, options with a value (as
// "--opt value" or "--opt=value"), and operands, with "--" ending the
// options; and the options every command takes.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "konvoro/Exceptions.h"

namespace zlbtool {

// A usage error (exit status 2): the message is printed with a pointer to
// the command's usage.
class EUsageError : public kv::Exception {
  using kv::Exception::Exception;
};

struct TParsedArgs {
  std::set<std::string> Flags;
  std::map<std::string, std::string> Values;
  std::vector<std::string> Operands;

  bool Has(const std::string& Flag) const { return Flags.count(Flag) != 0; }
  std::string Value(const std::string& Option, const std::string& Default) const;
  // The value of the first of Options given, if any.
  std::optional<std::string> Find(std::initializer_list<const char*> Options) const;
};

// Parses Args against the known flags and value options (short or long
// names, e.g. "-o" and "--output"). Every command also takes -q/--quiet,
// -v/--verbose and -h/--help, which set the output's verbosity here. Raises
// EUsageError for anything else, and for a value option without a value.
TParsedArgs ParseArgs(const std::vector<std::string>& Args, std::set<std::string> Flags,
                      const std::set<std::string>& ValueOptions);

// True when the arguments ask for the command's help.
bool WantsHelp(const TParsedArgs& Parsed);

// The number of threads --threads asks for: a number from 1 to 256; by
// default one per processor. Raises EUsageError for another value.
unsigned ThreadCount(const TParsedArgs& Parsed);

}  // namespace zlbtool
