// The failing operating system on Windows: the test program's import slots
// of the system's file functions (kernel32's, ntdll's rename, advapi32's
// random source), through which every call of the program's own code goes,
// are pointed here; each call is counted and passed on to the real function
// unless it is the one to fail.
#include "FailingSystem.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h.
#include <ntsecapi.h>
#include <winternl.h>

// The import slots by their 32-bit names (the argument bytes follow "@").
static_assert(sizeof(void*) == 4, "the import slot names are those of 32-bit Windows");
extern "C" {
extern decltype(&::CreateFileA) CreateFileASlot __asm__("__imp__CreateFileA@28");
extern decltype(&::ReadFile) ReadFileSlot __asm__("__imp__ReadFile@20");
extern decltype(&::WriteFile) WriteFileSlot __asm__("__imp__WriteFile@20");
extern decltype(&::NtSetInformationFile) NtSetInformationFileSlot __asm__(
    "__imp__NtSetInformationFile@20");
extern decltype(&::RtlGenRandom) RtlGenRandomSlot __asm__("__imp__SystemFunction036@8");
extern decltype(&::CreateDirectoryA) CreateDirectoryASlot __asm__("__imp__CreateDirectoryA@8");
extern decltype(&::MoveFileExA) MoveFileExASlot __asm__("__imp__MoveFileExA@12");
}

namespace {

using kvtest::TFileCall;
using kvtest::failing::Fails;

decltype(&::CreateFileA) RealCreateFileA;
decltype(&::ReadFile) RealReadFile;
decltype(&::WriteFile) RealWriteFile;
decltype(&::NtSetInformationFile) RealNtSetInformationFile;
decltype(&::RtlGenRandom) RealRtlGenRandom;

// The reading end of the pipe that an open reached (TPipeAtOpen).
HANDLE PipeReader = nullptr;
decltype(&::CreateDirectoryA) RealCreateDirectoryA;
decltype(&::MoveFileExA) RealMoveFileExA;

HANDLE WINAPI FailingCreateFileA(LPCSTR Name, DWORD Access, DWORD Share,
                                 LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                 HANDLE Template) {
  if (kvtest::failing::ReachesPipe(Flags)) {
    HANDLE Writer = nullptr;
    if (PipeReader == nullptr && ::CreatePipe(&PipeReader, &Writer, nullptr, 1 << 20))
      return Writer;
    ::SetLastError(ERROR_PIPE_BUSY);
    return INVALID_HANDLE_VALUE;
  }
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

// Only moves count. A code of the facility FACILITY_NTWIN32 stands for the
// system error in its low word, which is what the caller gets back from
// RtlNtStatusToDosError.
NTSTATUS NTAPI FailingNtSetInformationFile(HANDLE File, PIO_STATUS_BLOCK Io, PVOID Information,
                                           ULONG Size, FILE_INFORMATION_CLASS Class) {
  if (const int Error =
          Class == FileRenameInformation ? Fails(TFileCall::Replace, ERROR_SHARING_VIOLATION) : 0)
    return NTSTATUS(0xC0070000u | (uint32_t(Error) & 0xFFFF));
  return RealNtSetInformationFile(File, Io, Information, Size, Class);
}

BOOLEAN WINAPI FailingRtlGenRandom(PVOID Buffer, ULONG Size) {
  if (const int Error = Fails(TFileCall::Random, ERROR_GEN_FAILURE)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealRtlGenRandom(Buffer, Size);
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
  TakeOver(NtSetInformationFileSlot, RealNtSetInformationFile, &FailingNtSetInformationFile);
  TakeOver(RtlGenRandomSlot, RealRtlGenRandom, &FailingRtlGenRandom);
  TakeOver(CreateDirectoryASlot, RealCreateDirectoryA, &FailingCreateDirectoryA);
  TakeOver(MoveFileExASlot, RealMoveFileExA, &FailingMoveFileExA);
}

void kvtest::failing::ClosePipe() noexcept {
  if (PipeReader != nullptr) ::CloseHandle(PipeReader);
  PipeReader = nullptr;
}

uint32_t kvtest::TFailingSystem::BytesInPipe() const {
  DWORD Waiting = 0;
  if (PipeReader != nullptr) ::PeekNamedPipe(PipeReader, nullptr, 0, nullptr, &Waiting, nullptr);
  return Waiting;
}
