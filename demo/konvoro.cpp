// konvoro.exe of the demo release: a stand-in for the client that records
// each run in konvoro-runs.log beside itself and exits, showing no window.
#include <string>
#include <string_view>
#include <vector>

#include "WinHandles.h"
#include "konvorocore.h"

#ifndef KONVORO_VERSION
#error "KONVORO_VERSION must be defined"
#endif

namespace {

// The directory of this program with a trailing backslash; empty when the
// system does not tell. In UTF-16: the client may be installed in a folder
// whose name the ANSI code page cannot spell.
std::wstring OwnDirectory() {
  std::vector<wchar_t> Buffer(MAX_PATH);
  for (;;) {
    const DWORD Length =
        ::GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return std::wstring();
    if (Length < Buffer.size()) {
      const std::wstring Path(Buffer.data(), Length);
      const size_t Separator = Path.find_last_of(L"\\/");
      return Separator == std::wstring::npos ? std::wstring() : Path.substr(0, Separator + 1);
    }
    Buffer.resize(Buffer.size() * 2);
  }
}

bool IsBlank(wchar_t C) {
  return C == L' ' || C == L'\t';
}

// What follows the program part of CommandLine, without the blanks around
// it, in UTF-8. The program part ends at the closing quote when it starts
// with one, else at the first blank, as CreateProcess reads it.
std::string ArgumentsOf(std::wstring_view CommandLine) {
  size_t Position = 0;
  if (!CommandLine.empty() && CommandLine.front() == L'"') {
    const size_t Quote = CommandLine.find(L'"', 1);
    Position = Quote == std::wstring_view::npos ? CommandLine.size() : Quote + 1;
  }
  while (Position < CommandLine.size() && !IsBlank(CommandLine[Position]))
    ++Position;
  while (Position < CommandLine.size() && IsBlank(CommandLine[Position]))
    ++Position;
  size_t End = CommandLine.size();
  while (End > Position && IsBlank(CommandLine[End - 1]))
    --End;
  const std::wstring_view Arguments = CommandLine.substr(Position, End - Position);
  if (Arguments.empty()) return std::string();
  const int Length = static_cast<int>(Arguments.size());
  std::string Out(size_t(::WideCharToMultiByte(CP_UTF8, 0, Arguments.data(), Length, nullptr, 0,
                                               nullptr, nullptr)),
                  '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Arguments.data(), Length, Out.data(),
                        static_cast<int>(Out.size()), nullptr, nullptr);
  return Out;
}

// The version konvorocore.dll in Directory reports, or "none" when it cannot
// be loaded or lacks the export. Loaded by full path, so that the library
// beside the program counts and no other.
std::string CoreVersion(const std::wstring& Directory) {
  const kv::TUniqueModule Core(::LoadLibraryW((Directory + L"konvorocore.dll").c_str()));
  if (!Core) return "none";
  const auto Version =
      reinterpret_cast<TKonvoroCoreVersion>(::GetProcAddress(Core.Get(), KonvoroCoreVersionExport));
  return Version == nullptr ? "none" : std::to_string(Version());
}

// Appends Text to FileName, creating the file if needed. Append access makes
// each write land at the end even when several runs write at once.
bool AppendToFile(const std::wstring& FileName, const std::string& Text) {
  const kv::TUniqueHFile File(::CreateFileW(FileName.c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!File) return false;
  DWORD Written = 0;
  const BOOL Wrote =
      ::WriteFile(File.Get(), Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
  return Wrote && Written == Text.size();
}

}  // namespace

// Appends "version=V core=C args=A" and CR LF to konvoro-runs.log in the
// program's directory: V the version built in, C the version of the
// konvorocore.dll beside the program or "none", A the command line after
// the program part, without surrounding blanks (empty when there is none).
// Returns 0, or 1 when the line could not be written.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // A missing or broken library must not bring up a dialog.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const std::wstring Directory = OwnDirectory();
  if (Directory.empty()) return 1;
  const std::string Line = "version=" + std::to_string(KONVORO_VERSION) +
                           " core=" + CoreVersion(Directory) +
                           " args=" + ArgumentsOf(::GetCommandLineW()) + "\r\n";
  return AppendToFile(Directory + L"konvoro-runs.log", Line) ? 0 : 1;
}
