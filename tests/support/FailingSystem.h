// A failing operating system for the tests: the file calls that the
// platform layer makes are counted, and one of them can be made to fail as
// the system reports a failure. It lies beneath the platform's ports and is
// linked into the test programs that use it, never into a shipped program:
// on Windows it takes over the test program's own import slots of the
// system's file functions; on POSIX the linker routes the program's calls
// of open, openat, read, write, rename, renameat, mkdir and getrandom
// through it (-Wl,--wrap).
// A failing call leaves its reason where the system would (errno, the
// thread's last error), and nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace kvtest {

// The calls counted: opening or creating a file or folder (CreateFileW,
// NtCreateFile, open, openat), reading, writing, moving a file into place
// (NtSetInformationFile with FileRenameInformation, MoveFileExW, rename,
// renameat), creating a directory (CreateDirectoryW, mkdir) and drawing
// from the system's random source (RtlGenRandom, getrandom).
enum class TFileCall : uint8_t { Open, Read, Write, Replace, CreateDir, Random };

// While it lives, every file call of the program is counted and the
// FailAt-th (1: the next one; 0: none) fails without reaching the system,
// which the caller sees as: access denied (EIO on POSIX) for an open or a
// directory, a read fault (EIO), a full disk (ENOSPC), a sharing violation
// (EBUSY) for a replace, a general failure (EIO) of the random source. One
// at a time; single-threaded, like the code it tests.
class TFailingSystem {
 public:
  explicit TFailingSystem(uint64_t FailAt);
  // While it lives, the Nth call of the kind Call (1: the next one) fails
  // with the system's error code Code (errno on POSIX, a Windows error
  // code); other calls pass.
  TFailingSystem(TFileCall Call, int Code, uint64_t Nth = 1);
  // While it lives, Action runs just before the Nth call of the kind Call
  // (1: the next one), which then goes on to the system: the system changes
  // under the program at that very moment. Nothing fails; the calls that
  // Action makes are not counted.
  TFailingSystem(TFileCall Call, std::function<void()> Action, uint64_t Nth = 1);
#ifdef _WIN32
  // While it lives, the Nth open (1: the next one), whatever it names,
  // reaches the writing end of a pipe instead, as it would reach a pipe
  // server planted at that name; the failing system holds the reading end
  // and never reads. The pipe buffers 1 MB, so that a program that wrote
  // into it would go on, and the bytes would show.
  struct TPipeAtOpen {
    uint64_t Nth = 1;
  };
  explicit TFailingSystem(TPipeAtOpen Pipe);
  // The flags and attributes (CreateFileW's dwFlagsAndAttributes) of the
  // open that reached the pipe, where a native open (NtCreateFile) carries
  // its quality of service in the same bits; none before it.
  std::optional<uint32_t> PipeOpenFlags() const;
  // The bytes written into the pipe.
  uint32_t BytesInPipe() const;
#endif
  ~TFailingSystem();
  TFailingSystem(const TFailingSystem&) = delete;
  TFailingSystem& operator=(const TFailingSystem&) = delete;

  // The calls counted so far.
  uint64_t Count() const;
  // The kind of call that was made to fail, if one was.
  std::optional<TFileCall> Failed() const;
};

namespace failing {
// Counts Call. Returns 0 when it passes, else the error code it fails with:
// the one chosen, or Default. For the two system parts
// (FailingSystemWin32.cpp, FailingSystemPosix.cpp).
int Fails(TFileCall Call, int Default) noexcept;
#ifdef _WIN32
// Counts an open armed with TPipeAtOpen. Returns true when it is the one to
// reach the pipe, and keeps its Flags.
bool ReachesPipe(uint32_t Flags) noexcept;
// Closes the pipe, when there is one; done when a TFailingSystem goes.
void ClosePipe() noexcept;
#endif
// Routes the program's file calls through Fails; done once, by the first
// TFailingSystem. Each system part has its own.
void TakeOverFileCalls();
}  // namespace failing

}  // namespace kvtest
