// The commands of zlbtool. Each takes the arguments after its name and
// returns the exit status; failures are raised as kv::Exception.
#pragma once

#include <string>
#include <vector>

namespace zlbtool {

using TArgs = std::vector<std::string>;

int Pack(const TArgs& Args);
int List(const TArgs& Args);
int Extract(const TArgs& Args);
int Test(const TArgs& Args);
int Info(const TArgs& Args);
int Updater(const TArgs& Args);
// --version: zlbtool's version, the stub and wait.exe it takes by default.
int Version(const TArgs& Args);

}  // namespace zlbtool
