// wait.exe: kvUpdate.bat runs it first ("@wait"), so that the copies after
// it start only once the updater that wrote the script has ended. It ships
// with zlbtool, which adds it to a release that carries none.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "SafeStartup.h"
#include "WinHandles.h"
#include "konvoro/Text.h"

// Needs the types of windows.h, which WinHandles.h brings in.
#include <tlhelp32.h>

namespace {

constexpr char DefaultImage[] = "KVUpdater.exe";
constexpr unsigned long DefaultSeconds = 30;

enum TExitCode : int { ecNoneLeft = 0, ecTimedOut = 1, ecUsage = 2, ecSnapshotFailed = 3 };

// The file name part of a process image as the snapshot reports it; some
// systems report a full path.
std::string_view FileNamePart(std::string_view Image) {
  const size_t Separator = Image.find_last_of("\\/");
  return Separator == std::string_view::npos ? Image : Image.substr(Separator + 1);
}

// The id of a process other than this one whose image is named Image, 0 when
// there is none, or nothing when no snapshot could be taken.
std::optional<DWORD> FindProcess(std::string_view Image) {
  const kv::TUniqueHFile Snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!Snapshot) return std::nullopt;
  PROCESSENTRY32 Entry{};
  Entry.dwSize = sizeof(Entry);
  const DWORD OwnId = ::GetCurrentProcessId();
  for (BOOL More = ::Process32First(Snapshot.Get(), &Entry); More;
       More = ::Process32Next(Snapshot.Get(), &Entry)) {
    if (Entry.th32ProcessID != OwnId && kv::SameText(FileNamePart(Entry.szExeFile), Image))
      return Entry.th32ProcessID;
  }
  return 0;
}

}  // namespace

// Usage: wait [IMAGE [SECONDS]]
// Waits until no process other than itself runs an image named IMAGE
// (compared without regard to case; default KVUpdater.exe), for at most
// SECONDS seconds (default 30). Exits with 0 once there is none, at once
// when there is none to begin with; 1 when the time ran out; 2 on bad
// arguments; 3 when the process list cannot be read.
//
// It waits by name rather than for its grandparent (the updater that
// started cmd.exe): by the time it runs the updater may have gone and its id
// been given to another process, and run by hand it has no updater above it.
int main(int argc, char** argv) {
  // It runs elevated from update\, beside the release's DLLs.
  kv::RestrictDllSearchToSystem();
  if (argc > 3) {
    std::fputs("usage: wait [IMAGE [SECONDS]]\n", stderr);
    return ecUsage;
  }
  const std::string Image = argc > 1 ? argv[1] : DefaultImage;
  unsigned long Seconds = DefaultSeconds;
  if (argc > 2) {
    char* End = nullptr;
    Seconds = std::strtoul(argv[2], &End, 10);
    if (End == argv[2] || *End != '\0' || Seconds > 24 * 60 * 60) {
      std::fputs("wait: SECONDS must be a whole number of seconds up to a day\n", stderr);
      return ecUsage;
    }
  }
  if (Image.empty()) {
    std::fputs("wait: IMAGE must not be empty\n", stderr);
    return ecUsage;
  }

  const ULONGLONG Deadline = ::GetTickCount64() + Seconds * 1000ULL;
  for (;;) {
    const std::optional<DWORD> ProcessId = FindProcess(Image);
    if (!ProcessId) return ecSnapshotFailed;
    if (*ProcessId == 0) return ecNoneLeft;
    const ULONGLONG Now = ::GetTickCount64();
    if (Now >= Deadline) return ecTimedOut;
    const DWORD Remaining = static_cast<DWORD>(Deadline - Now);
    const kv::TUniqueHandle Process(::OpenProcess(SYNCHRONIZE, FALSE, *ProcessId));
    // Without the right to wait on it, look again shortly.
    if (Process)
      ::WaitForSingleObject(Process.Get(), Remaining);
    else
      ::Sleep(Remaining < 100 ? Remaining : 100);
  }
}
