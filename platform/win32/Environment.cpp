// The process's environment on Windows, and the path encoding. Everything
// is taken in UTF-16 and converted exactly, since the ANSI calls would hand
// out look-alikes.
#include "WinApi.h"

// After windows.h: CommandLineToArgvW.
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CodePages.h"
#include "PathEncoding.h"
#include "konvoro/Environment.h"
#include "konvoro/UniqueHandle.h"

namespace kv {

namespace {

// Set once, first thing, before any name is used (Environment.h).
TPathEncoding Encoding = TPathEncoding::Ansi;

std::wstring WideModuleFileName() {
  return StringFromGrowingBuffer<wchar_t>([](wchar_t* Buffer, DWORD Size) {
           return ::GetModuleFileNameW(nullptr, Buffer, Size);
         })
      .value_or(std::wstring());
}

std::wstring WideEnvironmentVariable(const std::wstring& Name) {
  return StringFromGrowingBuffer<wchar_t>([&](wchar_t* Buffer, DWORD Size) {
           return ::GetEnvironmentVariableW(Name.c_str(), Buffer, Size);
         })
      .value_or(std::wstring());
}

TExactPath ExactPath(const std::wstring& Path) {
  if (Encoding == TPathEncoding::Utf8) {
    std::string Utf8 = PathFromWide(Path);
    return {Utf8, Utf8};
  }
  TExactPath Out{WideToCodePageExact(Path, CP_ACP), WideToAnsiShown(Path)};
  if (Out.Exact) return Out;
  const std::optional<std::wstring> Short = StringFromGrowingBuffer<wchar_t>(
      [&](wchar_t* Buffer, DWORD Size) { return ::GetShortPathNameW(Path.c_str(), Buffer, Size); });
  if (Short) Out.Exact = WideToCodePageExact(*Short, CP_ACP);
  return Out;
}

}  // namespace

void SetPathEncoding(TPathEncoding NewEncoding) {
  Encoding = NewEncoding;
}

TPathEncoding GetPathEncoding() {
  return Encoding;
}

uint32_t PathCodePage() {
  return Encoding == TPathEncoding::Utf8 ? CP_UTF8 : CP_ACP;
}

std::optional<std::wstring> WideFromPath(std::string_view Name) {
  if (Name.empty()) return std::wstring();
  const int Size = static_cast<int>(Name.size());
  const int Length =
      ::MultiByteToWideChar(PathCodePage(), MB_ERR_INVALID_CHARS, Name.data(), Size, nullptr, 0);
  if (Length <= 0) return std::nullopt;
  std::wstring Wide(size_t(Length), L'\0');
  if (::MultiByteToWideChar(PathCodePage(), MB_ERR_INVALID_CHARS, Name.data(), Size, Wide.data(),
                            Length) != Length)
    return std::nullopt;
  return Wide;
}

std::string PathFromWide(std::wstring_view Wide) {
  if (Encoding == TPathEncoding::Ansi) return WideToAnsiShown(Wide);
  if (Wide.empty()) return std::string();
  // No flags: UTF-8 has every character, and an unpaired surrogate becomes
  // U+FFFD.
  const int Size = static_cast<int>(Wide.size());
  const int Length =
      ::WideCharToMultiByte(CP_UTF8, 0, Wide.data(), Size, nullptr, 0, nullptr, nullptr);
  if (Length <= 0) return std::string();
  std::string Out(size_t(Length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Wide.data(), Size, Out.data(), Length, nullptr, nullptr);
  return Out;
}

std::vector<std::string> ProgramArguments(int, char**) {
  int Count = 0;
  wchar_t** const Arguments = ::CommandLineToArgvW(::GetCommandLineW(), &Count);
  const TUniqueAny<HLOCAL, &::LocalFree> Owner(Arguments);
  std::vector<std::string> Out;
  for (int I = 1; Arguments != nullptr && I < Count; ++I)
    Out.push_back(PathFromWide(Arguments[I]));
  return Out;
}

void WriteStandard(TStandardStream Stream, std::string_view Text) {
  std::FILE* To = Stream == TStandardStream::Output ? stdout : stderr;
  const HANDLE Handle =
      ::GetStdHandle(Stream == TStandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD Mode = 0;
  if (Text.empty() || ::GetFileType(Handle) != FILE_TYPE_CHAR || !::GetConsoleMode(Handle, &Mode)) {
    std::fwrite(Text.data(), 1, Text.size(), To);
    return;
  }
  // A console shows characters, whatever its code page: what the stream
  // holds so far goes first, so that the order stays.
  std::fflush(To);
  const int Size = static_cast<int>(Text.size());
  std::wstring Wide(Text.size(), L'\0');
  Wide.resize(size_t(
      ::MultiByteToWideChar(PathCodePage(), 0, Text.data(), Size, Wide.data(), int(Wide.size()))));
  for (size_t Done = 0; Done < Wide.size();) {
    DWORD Put = 0;
    if (!::WriteConsoleW(Handle, Wide.data() + Done, DWORD(Wide.size() - Done), &Put, nullptr) ||
        Put == 0)
      return;
    Done += Put;
  }
}

uint32_t SystemAnsiCodePage() {
  return ::GetACP();
}

std::string GetEnvironmentVariable(const std::string& Name) {
  const std::optional<std::wstring> WideName = WideFromPath(Name);
  if (!WideName) return std::string();
  return PathFromWide(WideEnvironmentVariable(*WideName));
}

std::string GetModuleFileName() {
  return PathFromWide(WideModuleFileName());
}

TExactPath GetExactModuleFileName() {
  return ExactPath(WideModuleFileName());
}

TExactPath GetExactEnvironmentPath(const std::string& Name) {
  const std::optional<std::wstring> WideName = WideFromPath(Name);
  return ExactPath(WideName ? WideEnvironmentVariable(*WideName) : std::wstring());
}

bool StandardErrorIsTerminal() {
  return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

}  // namespace kv
