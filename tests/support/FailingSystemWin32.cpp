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
}

namespace {

using kvtest::TFileCall;
using kvtest::failing::Fails;

decltype(&::CreateFileA) RealCreateFileA;
decltype(&::ReadFile) RealReadFile;
decltype(&::WriteFile) RealWriteFile;
decltype(&::SetFileInformationByHandle) RealSetFileInformationByHandle;
decltype(&::CreateDirectoryA) RealCreateDirectoryA;

HANDLE WINAPI FailingCreateFileA(LPCSTR Name, DWORD Access, DWORD Share,
                                 LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                 HANDLE Template) {
  if (Fails(TFileCall::Open)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return RealCreateFileA(Name, Access, Share, Security, Disposition, Flags, Template);
}

BOOL WINAPI FailingReadFile(HANDLE File, LPVOID Buffer, DWORD Count, LPDWORD Got,
                            LPOVERLAPPED Overlapped) {
  if (Fails(TFileCall::Read)) {
    ::SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  return RealReadFile(File, Buffer, Count, Got, Overlapped);
}

BOOL WINAPI FailingWriteFile(HANDLE File, LPCVOID Buffer, DWORD Count, LPDWORD Put,
                             LPOVERLAPPED Overlapped) {
  if (Fails(TFileCall::Write)) {
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return RealWriteFile(File, Buffer, Count, Put, Overlapped);
}

// Only moves count: removing a file through its handle is cleanup.
BOOL WINAPI FailingSetFileInformationByHandle(HANDLE File, FILE_INFO_BY_HANDLE_CLASS Class,
                                              LPVOID Information, DWORD Size) {
  if (Class == FileRenameInfo && Fails(TFileCall::Replace)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  return RealSetFileInformationByHandle(File, Class, Information, Size);
}

BOOL WINAPI FailingCreateDirectoryA(LPCSTR Name, LPSECURITY_ATTRIBUTES Security) {
  if (Fails(TFileCall::CreateDir)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return RealCreateDirectoryA(Name, Security);
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
}
