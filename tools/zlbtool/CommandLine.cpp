// Argument parsing for zlbtool's commands.
#include "CommandLine.h"

#include <thread>

#include "Output.h"

namespace zlbtool {

std::string TParsedArgs::Value(const std::string& Option, const std::string& Default) const {
  const auto Found = Values.find(Option);
  return Found == Values.end() ? Default : Found->second;
}

std::optional<std::string> TParsedArgs::Find(std::initializer_list<const char*> Options) const {
  for (const char* Option : Options) {
    const auto Found = Values.find(Option);
    if (Found != Values.end()) return Found->second;
  }
  return std::nullopt;
}

TParsedArgs ParseArgs(const std::vector<std::string>& Args, std::set<std::string> Flags,
                      const std::set<std::string>& ValueOptions) {
  Flags.insert({"-q", "--quiet", "-v", "--verbose", "-h", "--help"});
  TParsedArgs Parsed;
  bool OptionsEnded = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    const std::string& Arg = Args[I];
    if (OptionsEnded || Arg.size() < 2 || Arg[0] != '-') {
      Parsed.Operands.push_back(Arg);
      continue;
    }
    if (Arg == "--") {
      OptionsEnded = true;
      continue;
    }
    // --opt=value, as GNU tools take it; a short option keeps its "=".
    const size_t Equals = Arg.rfind("--", 0) == 0 ? Arg.find('=') : std::string::npos;
    const std::string Name = Arg.substr(0, Equals);
    if (ValueOptions.count(Name)) {
      if (Equals != std::string::npos)
        Parsed.Values[Name] = Arg.substr(Equals + 1);
      else if (I + 1 < Args.size())
        Parsed.Values[Name] = Args[++I];
      else
        throw EUsageError("option " + Name + " needs a value");
    } else if (Flags.count(Name)) {
      if (Equals != std::string::npos) throw EUsageError("option " + Name + " takes no value");
      Parsed.Flags.insert(Name);
    } else {
      throw EUsageError("unknown option " + Name);
    }
  }
  if ((Parsed.Has("-q") || Parsed.Has("--quiet")) && (Parsed.Has("-v") || Parsed.Has("--verbose")))
    throw EUsageError("give -q or -v, not both");
  SetVerbosity(Parsed.Has("-q") || Parsed.Has("--quiet")     ? TVerbosity::Quiet
               : Parsed.Has("-v") || Parsed.Has("--verbose") ? TVerbosity::Verbose
                                                             : TVerbosity::Normal);
  return Parsed;
}

bool WantsHelp(const TParsedArgs& Parsed) {
  return Parsed.Has("--help") || Parsed.Has("-h");
}

unsigned ThreadCount(const TParsedArgs& Parsed) {
  const std::optional<std::string> Text = Parsed.Find({"--threads"});
  if (!Text) return std::max(1u, std::thread::hardware_concurrency());
  unsigned Count = 0;
  for (const char C : *Text) {
    if (C < '0' || C > '9' || Count > 256)
      throw EUsageError("malformed thread count '" + *Text + "'");
    Count = Count * 10 + unsigned(C - '0');
  }
  if (Text->empty() || Count < 1 || Count > 256)
    throw EUsageError("malformed thread count '" + *Text + "': a number from 1 to 256");
  return Count;
}

}  // namespace zlbtool
