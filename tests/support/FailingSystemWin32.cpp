// The failing operating system on Windows: the test program's import slots
// of the system's file functions (kernel32's, ntdll's creation and rename,
// advapi32's random source), through which every call of the program's own code goes,
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
extern decltype(&::CreateFileW) CreateFileWSlot __asm__("__imp__CreateFileW@28");
extern decltype(&::NtCreateFile) NtCreateFileSlot __asm__("__imp__NtCreateFile@44");
extern decltype(&::ReadFile) ReadFileSlot __asm__("__imp__ReadFile@20");
extern decltype(&::WriteFile) WriteFileSlot __asm__("__imp__WriteFile@20");
extern decltype(&::NtSetInformationFile) NtSetInformationFileSlot __asm__(
    "__imp__NtSetInformationFile@20");
extern decltype(&::RtlGenRandom) RtlGenRandomSlot __asm__("__imp__SystemFunction036@8");
extern decltype(&::CreateDirectoryW) CreateDirectoryWSlot __asm__("__imp__CreateDirectoryW@8");
extern decltype(&::MoveFileExW) MoveFileExWSlot __asm__("__imp__MoveFileExW@12");
}

namespace {

using kvtest::TFileCall;
using kvtest::failing::Fails;

decltype(&::CreateFileW) RealCreateFileW;
decltype(&::NtCreateFile) RealNtCreateFile;
decltype(&::ReadFile) RealReadFile;
decltype(&::WriteFile) RealWriteFile;
decltype(&::NtSetInformationFile) RealNtSetInformationFile;
decltype(&::RtlGenRandom) RealRtlGenRandom;

// The reading end of the pipe that an open reached (TPipeAtOpen).
HANDLE PipeReader = nullptr;
decltype(&::CreateDirectoryW) RealCreateDirectoryW;
decltype(&::MoveFileExW) RealMoveFileExW;

// The writing end of a new pipe, whose reading end the failing system
// keeps; null when there is one already.
HANDLE PipeWriter() {
  HANDLE Writer = nullptr;
  if (PipeReader == nullptr && ::CreatePipe(&PipeReader, &Writer, nullptr, 1 << 20)) return Writer;
  return nullptr;
}

HANDLE WINAPI FailingCreateFileW(LPCWSTR Name, DWORD Access, DWORD Share,
                                 LPSECURITY_ATTRIBUTES Security, DWORD Disposition, DWORD Flags,
                                 HANDLE Template) {
  if (kvtest::failing::ReachesPipe(Flags)) {
    if (const HANDLE Writer = PipeWriter()) return Writer;
    ::SetLastError(ERROR_PIPE_BUSY);
    return INVALID_HANDLE_VALUE;
  }
  if (const int Error = Fails(TFileCall::Open, ERROR_ACCESS_DENIED)) {
    ::SetLastError(DWORD(Error));
    return INVALID_HANDLE_VALUE;
  }
  return RealCreateFileW(Name, Access, Share, Security, Disposition, Flags, Template);
}

// A system error as a status: a code of the facility FACILITY_NTWIN32
// stands for the system error in its low word, which is what the caller
// gets back from RtlNtStatusToDosError.
NTSTATUS StatusOf(int Error) {
  return NTSTATUS(0xC0070000u | (uint32_t(Error) & 0xFFFF));
}

// The quality of service a native open asks for, in the bits CreateFileW's
// flags carry it in.
uint32_t QualityOfServiceFlags(const OBJECT_ATTRIBUTES* Attributes) {
  const auto* Service =
      static_cast<const SECURITY_QUALITY_OF_SERVICE*>(Attributes->SecurityQualityOfService);
  if (Service == nullptr) return 0;
  return SECURITY_SQOS_PRESENT | (uint32_t(Service->ImpersonationLevel) << 16) |
         (Service->ContextTrackingMode ? SECURITY_CONTEXT_TRACKING : 0) |
         (Service->EffectiveOnly ? SECURITY_EFFECTIVE_ONLY : 0);
}

NTSTATUS NTAPI FailingNtCreateFile(PHANDLE File, ACCESS_MASK Access, POBJECT_ATTRIBUTES Attributes,
                                   PIO_STATUS_BLOCK Io, PLARGE_INTEGER Allocation,
                                   ULONG FileAttributes, ULONG Share, ULONG Disposition,
                                   ULONG Options, PVOID Ea, ULONG EaLength) {
  if (kvtest::failing::ReachesPipe(QualityOfServiceFlags(Attributes))) {
    *File = PipeWriter();
    return *File != nullptr ? NTSTATUS(0) : StatusOf(ERROR_PIPE_BUSY);
  }
  if (const int Error = Fails(TFileCall::Open, ERROR_ACCESS_DENIED)) return StatusOf(Error);
  return RealNtCreateFile(File, Access, Attributes, Io, Allocation, FileAttributes, Share,
                          Disposition, Options, Ea, EaLength);
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

// Only moves count.
NTSTATUS NTAPI FailingNtSetInformationFile(HANDLE File, PIO_STATUS_BLOCK Io, PVOID Information,
                                           ULONG Size, FILE_INFORMATION_CLASS Class) {
  if (const int Error =
          Class == FileRenameInformation ? Fails(TFileCall::Replace, ERROR_SHARING_VIOLATION) : 0)
    return StatusOf(Error);
  return RealNtSetInformationFile(File, Io, Information, Size, Class);
}

BOOLEAN WINAPI FailingRtlGenRandom(PVOID Buffer, ULONG Size) {
  if (const int Error = Fails(TFileCall::Random, ERROR_GEN_FAILURE)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealRtlGenRandom(Buffer, Size);
}

BOOL WINAPI FailingCreateDirectoryW(LPCWSTR Name, LPSECURITY_ATTRIBUTES Security) {
  if (const int Error = Fails(TFileCall::CreateDir, ERROR_ACCESS_DENIED)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealCreateDirectoryW(Name, Security);
}

BOOL WINAPI FailingMoveFileExW(LPCWSTR From, LPCWSTR To, DWORD Flags) {
  if (const int Error = Fails(TFileCall::Replace, ERROR_SHARING_VIOLATION)) {
    ::SetLastError(DWORD(Error));
    return FALSE;
  }
  return RealMoveFileExW(From, To, Flags);
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
  TakeOver(CreateFileWSlot, RealCreateFileW, &FailingCreateFileW);
  TakeOver(NtCreateFileSlot, RealNtCreateFile, &FailingNtCreateFile);
  TakeOver(ReadFileSlot, RealReadFile, &FailingReadFile);
  TakeOver(WriteFileSlot, RealWriteFile, &FailingWriteFile);
  TakeOver(NtSetInformationFileSlot, RealNtSetInformationFile, &FailingNtSetInformationFile);
  TakeOver(RtlGenRandomSlot, RealRtlGenRandom, &FailingRtlGenRandom);
  TakeOver(CreateDirectoryWSlot, RealCreateDirectoryW, &FailingCreateDirectoryW);
  TakeOver(MoveFileExWSlot, RealMoveFileExW, &FailingMoveFileExW);
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
