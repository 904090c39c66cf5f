// Files and directories on Windows, through kernel32's ANSI calls with
// explicit share modes, and ntdll's native calls where a name is taken
// relative to a folder held open.
#include "konvoro/Files.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "WinHandles.h"
#include "konvoro/Text.h"

// After windows.h: the native calls, and RtlGenRandom.
#include <ntsecapi.h>
#include <winternl.h>

namespace kv {

namespace {

// The reason of the call that has just failed; read at once, before
// anything else can change the thread's last error.
std::error_code LastError() {
  return OSError(static_cast<int>(::GetLastError()));
}

DWORD AccessFor(TOpenMode Mode) {
  DWORD Access = 0;
  switch (Mode.Access) {
    case TAccess::Read:
      Access = GENERIC_READ;
      break;
    case TAccess::Write:
      Access = GENERIC_WRITE;
      break;
    case TAccess::ReadWrite:
      Access = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  return Access;
}

DWORD ShareFor(TShare Share) {
  switch (Share) {
    case TShare::Exclusive:
      return 0;
    case TShare::DenyWrite:
      return FILE_SHARE_READ;
    case TShare::DenyNone:
      break;
  }
  return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DWORD DispositionFor(TDisposition Disposition) {
  switch (Disposition) {
    case TDisposition::OpenExisting:
      break;
    case TDisposition::CreateAlways:
      return CREATE_ALWAYS;
  }
  return OPEN_EXISTING;
}

// Every name this program opens may lead to a pipe server that someone
// planted there; so opened, the server may learn who connected, never act
// as this program (which may run elevated).
constexpr DWORD NoImpersonation = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// A failing native call's reason, as the ANSI calls would have set it.
std::error_code StatusError(NTSTATUS Status) {
  return OSError(static_cast<int>(::RtlNtStatusToDosError(Status)));
}

// The last part of FileName, exactly in UTF-16; nullopt when the ANSI code
// page has no such bytes.
std::optional<std::wstring> WideName(const std::string& FileName) {
  const std::string Name = ExtractFileName(FileName);
  const int Length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Name.data(),
                                           int(Name.size()), nullptr, 0);
  if (Length <= 0 || Length > 0x7FFF) return std::nullopt;
  std::wstring Wide(size_t(Length), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Name.data(), int(Name.size()), Wide.data(),
                        Length);
  return Wide;
}

// Opens the last part of FileName relative to the folder Dir holds, through
// no path: what the folder's path leads to now does not matter.
TErrorOr<TFileHandle> OpenIn(const TFileHandle& Dir, const std::string& FileName,
                             ACCESS_MASK Access, ULONG Options) {
  std::optional<std::wstring> Name = WideName(FileName);
  if (!Name) return OSError(ERROR_INVALID_NAME);
  UNICODE_STRING Unicode{USHORT(Name->size() * sizeof(wchar_t)),
                         USHORT(Name->size() * sizeof(wchar_t)), Name->data()};
  SECURITY_QUALITY_OF_SERVICE Service{sizeof Service, SecurityIdentification,
                                      SECURITY_STATIC_TRACKING, FALSE};
  OBJECT_ATTRIBUTES Attributes{sizeof Attributes,    Dir.Get(), &Unicode,
                               OBJ_CASE_INSENSITIVE, nullptr,   &Service};
  IO_STATUS_BLOCK Io{};
  HANDLE Opened = nullptr;
  const NTSTATUS Status =
      ::NtCreateFile(&Opened, Access | SYNCHRONIZE, &Attributes, &Io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     Options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(Status)) return StatusError(Status);
  return TFileHandle(Opened);
}

// True when A and B are the same file.
bool SameFile(const TFileHandle& A, const TFileHandle& B) {
  BY_HANDLE_FILE_INFORMATION InfoA{}, InfoB{};
  return ::GetFileInformationByHandle(A.Get(), &InfoA) &&
         ::GetFileInformationByHandle(B.Get(), &InfoB) &&
         InfoA.dwVolumeSerialNumber == InfoB.dwVolumeSerialNumber &&
         InfoA.nFileIndexHigh == InfoB.nFileIndexHigh && InfoA.nFileIndexLow == InfoB.nFileIndexLow;
}

}  // namespace

void FileClose(HANDLE File) noexcept {
  ::CloseHandle(File);
}

TErrorOr<TFileHandle> FileOpen(const std::string& FileName, TOpenMode Mode) {
  TFileHandle File(::CreateFileA(FileName.c_str(), AccessFor(Mode), ShareFor(Mode.Share), nullptr,
                                 DispositionFor(Mode.Disposition),
                                 FILE_ATTRIBUTE_NORMAL | NoImpersonation, nullptr));
  if (!File) return LastError();
  return File;
}

std::error_condition OSErrorCondition(int Code) noexcept {
  switch (static_cast<DWORD>(Code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return std::errc::no_such_file_or_directory;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return std::errc::permission_denied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::errc::file_exists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
      return std::errc::device_or_resource_busy;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::errc::no_space_on_device;
    case ERROR_DIRECTORY:
      return std::errc::not_a_directory;
    case ERROR_DIR_NOT_EMPTY:
      return std::errc::directory_not_empty;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return std::errc::not_enough_memory;
    case ERROR_INVALID_HANDLE:
      return std::errc::bad_file_descriptor;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_NEGATIVE_SEEK:
      return std::errc::invalid_argument;
    case ERROR_FILENAME_EXCED_RANGE:
      return std::errc::filename_too_long;
    case ERROR_WRITE_PROTECT:
      return std::errc::read_only_file_system;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
      return std::errc::io_error;
    case ERROR_NOT_SUPPORTED:
      return std::errc::not_supported;
    default:
      return {Code, OSCategory()};
  }
}

// RtlGenRandom, from advapi32, which the program imports already: bcrypt's
// BCryptGenRandom would add a library that the loader looks for beside the
// program first.
std::error_code SystemRandom(std::span<uint8_t> Bytes) {
  ::SetLastError(NO_ERROR);
  if (::RtlGenRandom(Bytes.data(), ULONG(Bytes.size()))) return {};
  // It tells no reason of its own; should the thread's last error hold none
  // either, the source is out of order.
  const DWORD Error = ::GetLastError();
  return OSError(static_cast<int>(Error != NO_ERROR ? Error : ERROR_GEN_FAILURE));
}

TErrorOr<TFileHandle> DirectoryOpen(const std::string& Dir) {
  TFileHandle Folder(::CreateFileA(Dir.empty() ? "." : Dir.c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | NoImpersonation,
                                   nullptr));
  if (!Folder) return LastError();
  BY_HANDLE_FILE_INFORMATION Info{};
  if (::GetFileType(Folder.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(Folder.Get(), &Info) ||
      (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return OSError(ERROR_DIRECTORY);
  return Folder;
}

TErrorOr<TFileHandle> FileCreateIn(const TFileHandle& Dir, const std::string& FileName) {
  // Created by its path, which the user may have turned elsewhere since the
  // folder was opened: what was made is checked to be a file on a disk and
  // the one of that name in the folder held, before anything is written.
  TFileHandle File(::CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | NoImpersonation,
                                 nullptr));
  if (!File) return LastError();
  const auto Refuse = [&] {
    (void)FileDeleteIn(Dir, File, FileName);
    return OSError(ERROR_FILE_INVALID);
  };
  if (::GetFileType(File.Get()) != FILE_TYPE_DISK) return Refuse();
  // Attributes only: the new file is shared with nobody.
  TErrorOr<TFileHandle> InFolder =
      OpenIn(Dir, FileName, FILE_READ_ATTRIBUTES, FILE_NON_DIRECTORY_FILE);
  if (!InFolder || !SameFile(File, *InFolder)) return Refuse();
  return File;
}

namespace {

// Renaming over a file that another process holds open fails as "access
// denied"; creating over it, which is what this replaces, fails as a
// sharing violation. Tell the two apart, so that the message names the
// real cause. Error is the rename's own reason.
std::error_code ReplaceFailure(std::error_code Error, const TFileHandle& Dir,
                               const std::string& NewName) {
  if (Error != OSError(ERROR_ACCESS_DENIED)) return Error;
  const TErrorOr<TFileHandle> Probe = OpenIn(Dir, NewName, DELETE, 0);
  return Probe.Error() == OSError(ERROR_SHARING_VIOLATION) ? Probe.Error() : Error;
}

}  // namespace

std::error_code FileReplaceIn(const TFileHandle& Dir, const TFileHandle& File, const std::string&,
                              const std::string& NewName) {
  // Through the open handle, with the name alone relative to the folder
  // held. SetFileInformationByHandle would do with no folder at all on
  // Windows, but not under Wine, which resolves a name alone against the
  // current directory. FILE_RENAME_INFO is laid out as the native call's
  // FILE_RENAME_INFORMATION.
  const std::optional<std::wstring> Name = WideName(NewName);
  if (!Name) return OSError(ERROR_INVALID_NAME);
  std::vector<uint8_t> Buffer(sizeof(FILE_RENAME_INFO) + Name->size() * sizeof(wchar_t));
  auto* Info = reinterpret_cast<FILE_RENAME_INFO*>(Buffer.data());
  Info->ReplaceIfExists = TRUE;
  Info->RootDirectory = Dir.Get();
  Info->FileNameLength = DWORD(Name->size() * sizeof(wchar_t));
  std::copy(Name->begin(), Name->end(), Info->FileName);
  IO_STATUS_BLOCK Io{};
  const NTSTATUS Status =
      ::NtSetInformationFile(File.Get(), &Io, Info, ULONG(Buffer.size()), FileRenameInformation);
  if (!NT_SUCCESS(Status)) return ReplaceFailure(StatusError(Status), Dir, NewName);
  return {};
}

std::error_code FileDeleteIn(const TFileHandle&, const TFileHandle& File, const std::string&) {
  FILE_DISPOSITION_INFO Info{TRUE};
  if (!::SetFileInformationByHandle(File.Get(), FileDispositionInfo, &Info, sizeof Info))
    return LastError();
  return {};
}

TErrorOr<TFileHandle> FileDuplicate(const TFileHandle& Handle) {
  HANDLE Copy = INVALID_HANDLE_VALUE;
  const HANDLE Process = ::GetCurrentProcess();
  if (!::DuplicateHandle(Process, Handle.Get(), Process, &Copy, FILE_GENERIC_READ, FALSE, 0))
    return LastError();
  return TFileHandle(Copy);
}

TErrorOr<int32_t> FileRead(const TFileHandle& Handle, void* Buffer, int32_t Count) {
  DWORD Got = 0;
  if (!::ReadFile(Handle.Get(), Buffer, static_cast<DWORD>(Count), &Got, nullptr))
    return LastError();
  return static_cast<int32_t>(Got);
}

TErrorOr<int32_t> FileWrite(const TFileHandle& Handle, const void* Buffer, int32_t Count) {
  DWORD Put = 0;
  if (!::WriteFile(Handle.Get(), Buffer, static_cast<DWORD>(Count), &Put, nullptr))
    return LastError();
  return static_cast<int32_t>(Put);
}

TErrorOr<int64_t> FileSeek(const TFileHandle& Handle, int64_t Offset, TSeekOrigin Origin) {
  const DWORD Method = Origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : Origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER Distance, Position;
  Distance.QuadPart = Offset;
  if (!::SetFilePointerEx(Handle.Get(), Distance, &Position, Method)) return LastError();
  return static_cast<int64_t>(Position.QuadPart);
}

std::string SysErrorMessage(int ErrorCode) {
  char Buffer[512];
  const DWORD Length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(ErrorCode), 0, Buffer, sizeof Buffer, nullptr);
  return std::string(TrimMessageEnd(std::string_view(Buffer, Length)));
}

bool FileExists(const std::string& FileName) {
  const DWORD Attr = ::GetFileAttributesA(FileName.c_str());
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& Name) {
  const DWORD Attr = ::GetFileAttributesA(Name.c_str());
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::error_code CreateDir(const std::string& Dir) {
  if (!::CreateDirectoryA(Dir.c_str(), nullptr)) return LastError();
  return {};
}

std::error_code DeleteFile(const std::string& FileName) {
  if (!::DeleteFileA(FileName.c_str())) return LastError();
  return {};
}

std::error_code RenameFile(const std::string& OldName, const std::string& NewName) {
  if (!::MoveFileExA(OldName.c_str(), NewName.c_str(), MOVEFILE_REPLACE_EXISTING))
    return LastError();
  return {};
}

// "\" only: names are split as the class library splits them, though the
// system itself would take "/" too.
bool IsPathDelimiter(char C) {
  return C == '\\';
}

std::string ExpandFileName(const std::string& FileName) {
  return StringFromGrowingBuffer([&](char* Buffer, DWORD Size) {
           return ::GetFullPathNameA(FileName.c_str(), Size, Buffer, nullptr);
         })
      .value_or(FileName);
}

std::string ExtractShortPathName(const std::string& FileName) {
  return StringFromGrowingBuffer([&](char* Buffer, DWORD Size) {
           return ::GetShortPathNameA(FileName.c_str(), Buffer, Size);
         })
      .value_or(std::string());
}

// ---------------------------------------------------------------------------

bool TFileSearch::Gather(const std::string& Pattern, uint32_t ExcludeAttr) {
  WIN32_FIND_DATAA Data;
  const TUniqueFind Search(::FindFirstFileA(Pattern.c_str(), &Data));
  if (!Search) return false;
  do {
    if ((Data.dwFileAttributes & ExcludeAttr) == 0)
      FEntries.push_back({Data.cFileName, Data.dwFileAttributes});
  } while (::FindNextFileA(Search.Get(), &Data));
  return true;
}

// ---------------------------------------------------------------------------

std::string GetTempPath() {
  char Buffer[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, Buffer);
  return Buffer;
}

std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, uint32_t Unique) {
  char Buffer[MAX_PATH + 1] = {};
  ::GetTempFileNameA(Dir.c_str(), Prefix.c_str(), Unique, Buffer);
  return Buffer;
}

}  // namespace kv
