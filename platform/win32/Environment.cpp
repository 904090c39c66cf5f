// The process's environment on Windows.
#include "WinApi.h"

#include <string>
#include <vector>

#include "Environment.h"

namespace kv {

std::string GetEnvironmentVariable(const std::string& Name) {
  return StringFromGrowingBuffer([&](char* Buffer, DWORD Size) {
           return ::GetEnvironmentVariableA(Name.c_str(), Buffer, Size);
         })
      .value_or(std::string());
}

std::string GetModuleFileName() {
  return StringFromGrowingBuffer(
             [](char* Buffer, DWORD Size) { return ::GetModuleFileNameA(nullptr, Buffer, Size); })
      .value_or(std::string());
}

bool StandardErrorIsTerminal() {
  return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

}  // namespace kv
