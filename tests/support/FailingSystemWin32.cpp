// The failing operating system on Windows: the test program's import slots
// of kernel32's file functions, through which every call of the program's
// own code goes, are pointed here; each call is counted and passed on to
// the real function unless it is the one to fail.
#include "FailingSystem.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The import slots by their 32-bit names (the argument bytes follow "@").
static_assert(sizeof(void*) == 4, "the import slot names are those of 32-bit Windows");
extern "C" {
extern decltype(&::CreateFileA) CreateFileASlot __asm__("__imp__CreateFileA@28");
extern decltype(&::ReadFile) ReadFileSlot __asm__("__imp__ReadFile@20");
extern decltype(&::WriteFile) WriteFileSlot __asm__("__imp__WriteFile@20");
extern decltype(&::SetFileInformationByHandle) SetFileInformationByHandleSlot __asm__(
    "__imp__SetFileInformationByHandle@16");
extern decltype(&::CreateDirectoryA) CreateDirectoryASlot __asm__("__imp__CreateDirectoryA@8");
extern decltype(&::MoveFileExA) MoveFileExASlot __asm__("__imp__MoveFileExA@12");
}

namespace {

using kvtest::TFileCall;
using kvtest::failing::Fails;

decltype(&::CreateFileA) RealCreateFileA;
decltype(&::ReadFile) RealReadFile;
decltype(&::WriteFile) RealWriteFile;
decltype(&::SetFileInformationByHandle) RealSetFileInformationByHandle;
decltype(&::CreateDirectoryA) RealCreateDirectoryA;
decltype(&::MoveFileExA) RealMoveFileExA;

HANDLE WINAPI FailingCreateFileA(LPCSTR Name, DWORD Access, DWORD Share,
                                 LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                 HANDLE Template) {
  if (const int Error = Fails(TFileCall::Open, ERROR_ACCESS_DENIED)) {
    ::SetLastError(DWORD(Error));
    return INVALID_HANDLE_VALUE;
  }
  return RealCreateFileA(Name, Access, Share, Security, Disposition, Flags, Template);
}

BOOL WINAPI FailingReadFile(HANDLE File, LPVOID Buffer, DWORD Count, LPDWORD Got,
                            LPOVERLAPPED Overlapped) {
  if (const int Error = Fails(TFileCall::Read, ERROR_READ_FAULT)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealReadFile(File, Buffer, Count, Got, Overlapped);
}

BOOL WINAPI FailingWriteFile(HANDLE File, LPCVOID Buffer, DWORD Count, LPDWORD Put,
                             LPOVERLAPPED Overlapped) {
  if (const int Error = Fails(TFileCall::Write, ERROR_DISK_FULL)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealWriteFile(File, Buffer, Count, Put, Overlapped);
}

// Only moves count: removing a file through its handle is cleanup.
BOOL WINAPI FailingSetFileInformationByHandle(HANDLE File, FILE_INFO_BY_HANDLE_CLASS Class,
                                              LPVOID Information, DWORD Size) {
  if (const int Error =
          Class == FileRenameInfo ? Fails(TFileCall::Replace, ERROR_SHARING_VIOLATION) : 0) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealSetFileInformationByHandle(File, Class, Information, Size);
}

BOOL WINAPI FailingCreateDirectoryA(LPCSTR Name, LPSECURITY_ATTRIBUTES Security) {
  if (const int Error = Fails(TFileCall::CreateDir, ERROR_ACCESS_DENIED)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealCreateDirectoryA(Name, Security);
}

BOOL WINAPI FailingMoveFileExA(LPCSTR From, LPCSTR To, DWORD Flags) {
  if (const int Error = Fails(TFileCall::Replace, ERROR_SHARING_VIOLATION)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealMoveFileExA(From, To, Flags);
}

template <class F>
void TakeOver(F& Slot, F& Real, F Failing) {
  DWORD Protection = 0;
  ::VirtualProtect(&Slot, sizeof Slot, PAGE_READWRITE, &Protection);
  Real = Slot;
  Slot = Failing;
  ::VirtualProtect(&Slot, sizeof Slot, Protection, &Protection);
}

}  // namespace

void kvtest::failing::TakeOverFileCalls() {
  TakeOver(CreateFileASlot, RealCreateFileA, &FailingCreateFileA);
  TakeOver(ReadFileSlot, RealReadFile, &FailingReadFile);
  TakeOver(WriteFileSlot, RealWriteFile, &FailingWriteFile);
  TakeOver(SetFileInformationByHandleSlot, RealSetFileInformationByHandle,
           &FailingSetFileInformationByHandle);
  TakeOver(CreateDirectoryASlot, RealCreateDirectoryA, &FailingCreateDirectoryA);
  TakeOver(MoveFileExASlot, RealMoveFileExA, &FailingMoveFileExA);
}
