// The process's environment on Windows. Paths are taken in UTF-16 and
// converted exactly, since the ANSI calls would hand out look-alikes.
#include "WinApi.h"

#include <string>
#include <vector>

#include "CodePages.h"
#include "konvoro/Environment.h"

namespace kv {

namespace {

std::wstring WideModuleFileName() {
  return StringFromGrowingBuffer<wchar_t>([](wchar_t* Buffer, DWORD Size) {
           return ::GetModuleFileNameW(nullptr, Buffer, Size);
         })
      .value_or(std::wstring());
}

TExactPath ExactPath(const std::wstring& Path) {
  TExactPath Out{WideToCodePageExact(Path, CP_ACP), WideToAnsiShown(Path)};
  if (Out.Exact) return Out;
  const std::optional<std::wstring> Short = StringFromGrowingBuffer<wchar_t>(
      [&](wchar_t* Buffer, DWORD Size) { return ::GetShortPathNameW(Path.c_str(), Buffer, Size); });
  if (Short) Out.Exact = WideToCodePageExact(*Short, CP_ACP);
  return Out;
}

}  // namespace

std::string GetEnvironmentVariable(const std::string& Name) {
  return StringFromGrowingBuffer([&](char* Buffer, DWORD Size) {
           return ::GetEnvironmentVariableA(Name.c_str(), Buffer, Size);
         })
      .value_or(std::string());
}

std::string GetModuleFileName() {
  return WideToAnsiShown(WideModuleFileName());
}

TExactPath GetExactModuleFileName() {
  return ExactPath(WideModuleFileName());
}

TExactPath GetExactEnvironmentPath(const std::string& Name) {
  // Variable names are ASCII.
  const std::wstring WideName(Name.begin(), Name.end());
  return ExactPath(StringFromGrowingBuffer<wchar_t>([&](wchar_t* Buffer, DWORD Size) {
                     return ::GetEnvironmentVariableW(WideName.c_str(), Buffer, Size);
                   }).value_or(std::wstring()));
}

bool StandardErrorIsTerminal() {
  return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

}  // namespace kv
