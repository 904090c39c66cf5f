// The process's environment: environment variables, its own executable, and
// where its error output goes.
#pragma once

#include <string>

namespace kv {

// The value of the environment variable Name, read whole however long it is;
// "" when it is not set.
std::string GetEnvironmentVariable(const std::string& Name);

// The full path of the running executable.
std::string GetModuleFileName();

// True when the standard error stream is a terminal (a console on Windows),
// where a progress line may be redrawn in place.
bool StandardErrorIsTerminal();

}  // namespace kv
