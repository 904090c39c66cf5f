// The process's environment on POSIX systems.
#include <unistd.h>

#include <cstdio>
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

// Names are bytes here, whatever the encoding.
void SetPathEncoding(TPathEncoding) {}

TPathEncoding GetPathEncoding() {
  return TPathEncoding::Utf8;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void WriteStandard(TStandardStream Stream, std::string_view Text) {
  std::FILE* To = Stream == TStandardStream::Output ? stdout : stderr;
  std::fwrite(Text.data(), 1, Text.size(), To);
}

uint32_t SystemAnsiCodePage() {
  return 0;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace kv
