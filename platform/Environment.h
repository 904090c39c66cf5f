// The process's environment: environment variables and its own executable.
#pragma once

#include <string>

namespace kv {

// The value of the environment variable Name, read whole however long it is;
// "" when it is not set.
std::string GetEnvironmentVariable(const std::string& Name);

// The full path of the running executable.
std::string GetModuleFileName();

}  // namespace kv
