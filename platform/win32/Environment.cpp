// The process's environment on Windows.
#include "WinApi.h"

#include <string>
#include <vector>

#include "Environment.h"

namespace kv {

std::string GetEnvironmentVariable(const std::string& Name) {
  std::vector<char> Buffer(256);
  for (;;) {
    const DWORD Length =
        ::GetEnvironmentVariableA(Name.c_str(), Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return std::string();
    if (Length < Buffer.size()) return std::string(Buffer.data(), Length);
    Buffer.resize(Length);  // Length counts the terminating NUL here
  }
}

std::string GetModuleFileName() {
  std::vector<char> Buffer(MAX_PATH);
  for (;;) {
    const DWORD Length =
        ::GetModuleFileNameA(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return std::string();
    if (Length < Buffer.size()) return std::string(Buffer.data(), Length);
    Buffer.resize(Buffer.size() * 2);
  }
}

bool StandardErrorIsTerminal() {
  return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

}  // namespace kv
