// Argument parsing for zlbtool's commands.
#include "CommandLine.h"

namespace zlbtool {

std::string TParsedArgs::Value(const std::string& Option, const std::string& Default) const {
  const auto Found = Values.find(Option);
  return Found == Values.end() ? Default : Found->second;
}

TParsedArgs ParseArgs(const std::vector<std::string>& Args, const std::set<std::string>& Flags,
                      const std::set<std::string>& ValueOptions) {
  TParsedArgs Parsed;
  bool OptionsEnded = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    const std::string& Arg = Args[I];
    if (OptionsEnded || Arg.size() < 2 || Arg[0] != '-') {
      Parsed.Operands.push_back(Arg);
    } else if (Arg == "--") {
      OptionsEnded = true;
    } else if (Flags.count(Arg)) {
      Parsed.Flags.insert(Arg);
    } else if (ValueOptions.count(Arg)) {
      if (I + 1 >= Args.size()) throw EUsageError("option " + Arg + " needs a value");
      Parsed.Values[Arg] = Args[++I];
    } else {
      throw EUsageError("unknown option " + Arg);
    }
  }
  return Parsed;
}

}  // namespace zlbtool
