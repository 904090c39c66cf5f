// The process's environment on POSIX systems.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "konvoro/Environment.h"

namespace kv {

std::string GetEnvironmentVariable(const std::string& Name) {
  const char* Value = std::getenv(Name.c_str());
  return Value ? std::string(Value) : std::string();
}

std::string GetModuleFileName() {
  std::vector<char> Buffer(256);
  for (;;) {
    const ssize_t N = ::readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (N < 0) return std::string();
    if (static_cast<size_t>(N) < Buffer.size()) return std::string(Buffer.data(), size_t(N));
    Buffer.resize(Buffer.size() * 2);
  }
}

TExactPath GetExactModuleFileName() {
  std::string Path = GetModuleFileName();
  return {Path, Path};
}

TExactPath GetExactEnvironmentPath(const std::string& Name) {
  std::string Path = GetEnvironmentVariable(Name);
  return {Path, Path};
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace kv
