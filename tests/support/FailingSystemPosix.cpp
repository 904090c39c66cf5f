// The failing operating system on POSIX: the linker routes the test
// program's calls of open, openat, read, write, rename, renameat, mkdir and
// getrandom here (-Wl,--wrap, set where this file is built); each is
// counted and passed on to the real call unless it is the one to fail.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "FailingSystem.h"

using kvtest::TFileCall;
using kvtest::failing::Fails;

extern "C" {

int __real_open(const char* Path, int Flags, ...);
int __real_openat(int Dir, const char* Path, int Flags, ...);
ssize_t __real_read(int File, void* Buffer, size_t Count);
ssize_t __real_write(int File, const void* Buffer, size_t Count);
int __real_rename(const char* From, const char* To);
int __real_renameat(int FromDir, const char* From, int ToDir, const char* To);
int __real_mkdir(const char* Path, mode_t Mode);
ssize_t __real_getrandom(void* Buffer, size_t Count, unsigned int Flags);

namespace {

// The mode argument of open and openat, present when a file may be created.
mode_t ModeOf(int Flags, va_list Args) {
  return (Flags & O_CREAT) != 0 || (Flags & O_TMPFILE) == O_TMPFILE ? va_arg(Args, mode_t) : 0;
}

}  // namespace

int __wrap_open(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const mode_t Mode = ModeOf(Flags, Args);
  va_end(Args);
  if (const int Error = Fails(TFileCall::Open, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_open(Path, Flags, Mode);
}

int __wrap_openat(int Dir, const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const mode_t Mode = ModeOf(Flags, Args);
  va_end(Args);
  if (const int Error = Fails(TFileCall::Open, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_openat(Dir, Path, Flags, Mode);
}

ssize_t __wrap_read(int File, void* Buffer, size_t Count) {
  if (const int Error = Fails(TFileCall::Read, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_read(File, Buffer, Count);
}

ssize_t __wrap_write(int File, const void* Buffer, size_t Count) {
  if (const int Error = Fails(TFileCall::Write, ENOSPC)) {
    errno = Error;
    return -1;
  }
  return __real_write(File, Buffer, Count);
}

int __wrap_rename(const char* From, const char* To) {
  if (const int Error = Fails(TFileCall::Replace, EBUSY)) {
    errno = Error;
    return -1;
  }
  return __real_rename(From, To);
}

int __wrap_renameat(int FromDir, const char* From, int ToDir, const char* To) {
  if (const int Error = Fails(TFileCall::Replace, EBUSY)) {
    errno = Error;
    return -1;
  }
  return __real_renameat(FromDir, From, ToDir, To);
}

ssize_t __wrap_getrandom(void* Buffer, size_t Count, unsigned int Flags) {
  if (const int Error = Fails(TFileCall::Random, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_getrandom(Buffer, Count, Flags);
}

int __wrap_mkdir(const char* Path, mode_t Mode) {
  if (const int Error = Fails(TFileCall::CreateDir, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_mkdir(Path, Mode);
}

}  // extern "C"

// The linker has routed the calls already.
void kvtest::failing::TakeOverFileCalls() {}
