// A failing operating system for the tests: the file calls that the
// platform layer makes are counted, and one of them can be made to fail as
// the system reports a failure. It lies beneath the platform's ports and is
// linked into the test programs that use it, never into a shipped program:
// on Windows it takes over the test program's own import slots of
// kernel32's file functions; on POSIX the linker routes the program's calls
// of open, read, write, rename and mkdir through it (-Wl,--wrap).
#pragma once

#include <cstdint>
#include <optional>

namespace kvtest {

// The calls counted: opening or creating a file (CreateFileA, open),
// reading, writing, moving a file into place (SetFileInformationByHandle
// with FileRenameInfo, rename) and creating a directory.
enum class TFileCall : uint8_t { Open, Read, Write, Replace, CreateDir };

// While it lives, every file call of the program is counted and the
// FailAt-th (1: the next one; 0: none) fails without reaching the system,
// which the caller sees as: access denied (EIO on POSIX) for an open or a
// directory, a read fault (EIO), a full disk (ENOSPC), a sharing violation
// (EBUSY) for a replace. One at a time; single-threaded, like the code it
// tests.
class TFailingSystem {
 public:
  explicit TFailingSystem(uint64_t FailAt);
  ~TFailingSystem();
  TFailingSystem(const TFailingSystem&) = delete;
  TFailingSystem& operator=(const TFailingSystem&) = delete;

  // The calls counted so far.
  uint64_t Count() const;
  // The kind of call that was made to fail, if one was.
  std::optional<TFileCall> Failed() const;
};

namespace failing {
// Counts Call. Returns true when it is the one to fail. For the two system
// parts (FailingSystemWin32.cpp, FailingSystemPosix.cpp).
bool Fails(TFileCall Call) noexcept;
// Routes the program's file calls through Fails; done once, by the first
// TFailingSystem. Each system part has its own.
void TakeOverFileCalls();
}  // namespace failing

}  // namespace kvtest
