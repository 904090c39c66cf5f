// The failing operating system on POSIX: the linker routes the test
// program's calls of open, read, write, rename and mkdir here (-Wl,--wrap,
// set where this file is built); each is counted and passed on to the real
// call unless it is the one to fail.
#include <fcntl.h>
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
ssize_t __real_read(int File, void* Buffer, size_t Count);
ssize_t __real_write(int File, const void* Buffer, size_t Count);
int __real_rename(const char* From, const char* To);
int __real_mkdir(const char* Path, mode_t Mode);

int __wrap_open(const char* Path, int Flags, ...) {
  mode_t Mode = 0;
  if ((Flags & O_CREAT) != 0 || (Flags & O_TMPFILE) == O_TMPFILE) {
    va_list Args;
    va_start(Args, Flags);
    Mode = va_arg(Args, mode_t);
    va_end(Args);
  }
  if (const int Error = Fails(TFileCall::Open, EIO)) {
    errno = Error;
    return -1;
  }
  return __real_open(Path, Flags, Mode);
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
