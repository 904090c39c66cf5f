// Files and directories on Windows, through kernel32's wide calls with
// explicit share modes, and ntdll's native calls where a name is taken
// relative to a folder held open. Names are converted from and to the path
// encoding (PathEncoding.h).
#include "konvoro/Files.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "CodePages.h"
#include "PathEncoding.h"
#include "WinHandles.h"
#include "konvoro/Text.h"

// After windows.h: the native calls, and RtlGenRandom.
#include <ntsecapi.h>
#include <winternl.h>

// Declared by the DDK alone.
extern "C" NTSTATUS NTAPI NtQueryAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes,
                                                PFILE_BASIC_INFORMATION Information);

namespace kv {

namespace {

// The reason of the call that has just failed; read at once, before
// anything else can change the thread's last error.
std::error_code LastError() {
  return OSError(static_cast<int>(::GetLastError()));
}

// What a name that is no text of the path encoding fails with.
std::error_code InvalidName() {
  return OSError(ERROR_INVALID_NAME);
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

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A failing native call's reason, as the kernel32 calls would have set it.
std::error_code StatusError(NTSTATUS Status) {
  return OSError(static_cast<int>(::RtlNtStatusToDosError(Status)));
}

// CreateFileW of Name, converted from the path encoding.
TErrorOr<TFileHandle> CreateFileIn(const std::string& Name, DWORD Access, DWORD Share,
                                   DWORD Disposition, DWORD Flags) {
  const std::optional<std::wstring> Wide = WideFromPath(Name);
  if (!Wide) return InvalidName();
  TFileHandle File(
      ::CreateFileW(Wide->c_str(), Access, Share, nullptr, Disposition, Flags, nullptr));
  if (!File) return LastError();
  return File;
}

// The last part of FileName in UTF-16; nullopt when it is no text of the
// path encoding, or longer than a name can be.
std::optional<std::wstring> WideName(const std::string& FileName) {
  std::optional<std::wstring> Wide = WideFromPath(ExtractFileName(FileName));
  if (Wide && Wide->size() > 0x7FFF) return std::nullopt;
  return Wide;
}

// The last part of a name, relative to the folder Dir holds, as the native
// calls take it; valid while Name and Dir live.
struct TNameInFolder {
  std::wstring Name;
  UNICODE_STRING Unicode{};
  SECURITY_QUALITY_OF_SERVICE Service{sizeof Service, SecurityIdentification,
                                      SECURITY_STATIC_TRACKING, FALSE};
  OBJECT_ATTRIBUTES Attributes{};

  TNameInFolder(const TFileHandle& Dir, std::wstring Wide) : Name(std::move(Wide)) {
    Unicode = {USHORT(Name.size() * sizeof(wchar_t)), USHORT(Name.size() * sizeof(wchar_t)),
               Name.data()};
    Attributes = {sizeof Attributes, Dir.Get(), &Unicode, OBJ_CASE_INSENSITIVE, nullptr, &Service};
  }
  TNameInFolder(const TNameInFolder&) = delete;
  TNameInFolder& operator=(const TNameInFolder&) = delete;
};

// Opens or creates the last part of FileName relative to the folder Dir
// holds, through no path: what the folder's path leads to now does not
// matter. A reparse point there (a symbolic link, a junction) is opened
// itself, never followed.
TErrorOr<TFileHandle> NativeOpenIn(const TFileHandle& Dir, const std::string& FileName,
                                   ACCESS_MASK Access, ULONG Share, ULONG Disposition,
                                   ULONG Options, ULONG Attributes = 0) {
  std::optional<std::wstring> Wide = WideName(FileName);
  if (!Wide) return InvalidName();
  TNameInFolder Name(Dir, std::move(*Wide));
  IO_STATUS_BLOCK Io{};
  HANDLE Opened = nullptr;
  const NTSTATUS Status = ::NtCreateFile(
      &Opened, Access | SYNCHRONIZE, &Name.Attributes, &Io, nullptr, Attributes, Share, Disposition,
      Options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(Status)) return StatusError(Status);
  return TFileHandle(Opened);
}

TErrorOr<TFileHandle> OpenIn(const TFileHandle& Dir, const std::string& FileName,
                             ACCESS_MASK Access, ULONG Options) {
  return NativeOpenIn(Dir, FileName, Access, ShareAll, FILE_OPEN, Options);
}

// True when the name FileName in the folder Dir holds is a reparse point,
// as the name itself tells it. Windows tells the same through a handle
// opened on the reparse point; Wine opens what a link leads to even so,
// and tells a link to a folder by its name alone.
bool NameIsReparsePoint(const TFileHandle& Dir, const std::string& FileName) {
  std::optional<std::wstring> Wide = WideName(FileName);
  if (!Wide) return false;
  TNameInFolder Name(Dir, std::move(*Wide));
  FILE_BASIC_INFORMATION Info{};
  return NT_SUCCESS(::NtQueryAttributesFile(&Name.Attributes, &Info)) &&
         (Info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TFileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& Info) {
  return {Info.dwVolumeSerialNumber,
          uint64_t(Info.nFileIndexHigh) << 32 | uint64_t(Info.nFileIndexLow)};
}

int64_t SizeOf(DWORD High, DWORD Low) {
  return int64_t(uint64_t(High) << 32 | uint64_t(Low));
}

// What File is, by its handle: Other for anything but a disk's.
TFileKind KindOf(const TFileHandle& File, const BY_HANDLE_FILE_INFORMATION& Info) {
  if (::GetFileType(File.Get()) != FILE_TYPE_DISK) return TFileKind::Other;
  if (Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return TFileKind::Link;
  if (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return TFileKind::Directory;
  return TFileKind::File;
}

// What a name that leads nowhere fails with: nothing there, a folder on the
// way missing or a file, a link that cannot be resolved (a loop).
bool LeadsNowhere(std::error_code Error) {
  for (const DWORD Code : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_CANT_RESOLVE_FILENAME})
    if (Error == OSError(int(Code))) return true;
  return false;
}

// What Path is with every link on it followed, by a handle that only asks
// for attributes.
TErrorOr<TPathInfo> FollowedInfo(const std::string& Path) {
  TErrorOr<TFileHandle> File = CreateFileIn(Path, FILE_READ_ATTRIBUTES, ShareAll, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | NoImpersonation);
  if (!File) {
    if (LeadsNowhere(File.Error())) return TPathInfo{};
    return File.Error();
  }
  BY_HANDLE_FILE_INFORMATION Info{};
  if (::GetFileType(File->Get()) != FILE_TYPE_DISK) return TPathInfo{TFileKind::Other, 0};
  if (!::GetFileInformationByHandle(File->Get(), &Info)) return LastError();
  if (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return TPathInfo{TFileKind::Directory, 0};
  return TPathInfo{TFileKind::File, SizeOf(Info.nFileSizeHigh, Info.nFileSizeLow)};
}

}  // namespace

void FileClose(HANDLE File) noexcept {
  ::CloseHandle(File);
}

TErrorOr<TFileHandle> FileOpen(const std::string& FileName, TOpenMode Mode) {
  TErrorOr<TFileHandle> File =
      CreateFileIn(FileName, AccessFor(Mode), ShareFor(Mode.Share),
                   DispositionFor(Mode.Disposition), FILE_ATTRIBUTE_NORMAL | NoImpersonation);
  // A pipe or a device opened for reading would be waited on: refused
  // before a byte is read.
  if (File && Mode.Access == TAccess::Read && ::GetFileType(File->Get()) != FILE_TYPE_DISK)
    return OSError(ERROR_INVALID_PARAMETER);
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
    case ERROR_CANT_RESOLVE_FILENAME:
      return std::errc::too_many_symbolic_link_levels;
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
  // "C:\T\." is the folder "C:\T", "C:\." the root: named without its
  // trailing delimiter, a file there opens as itself, and is refused below
  // for what it is, not for the delimiter after its name.
  const std::string Folder = Dir.empty()                                         ? "."
                             : (EndsWithPathDelimiter(Dir) || Dir.back() == ':') ? Dir + "."
                                                                                 : Dir;
  TErrorOr<TFileHandle> Opened =
      CreateFileIn(Folder, FILE_TRAVERSE | SYNCHRONIZE, ShareAll, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS | NoImpersonation);
  // The folder is held to make names in it: a missing one, or a file in
  // its place, fails as the system fails such a name, "path not found".
  if (!Opened)
    return Opened.Error() == OSError(ERROR_FILE_NOT_FOUND) ? OSError(ERROR_PATH_NOT_FOUND)
                                                           : Opened.Error();
  TFileHandle Handle = std::move(*Opened);
  if (::GetFileType(Handle.Get()) != FILE_TYPE_DISK) return OSError(ERROR_DIRECTORY);
  BY_HANDLE_FILE_INFORMATION Info{};
  if (!::GetFileInformationByHandle(Handle.Get(), &Info)) return LastError();
  if ((Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return OSError(ERROR_PATH_NOT_FOUND);
  return Handle;
}

TErrorOr<TFileHandle> FileCreateIn(const TFileHandle& Dir, const std::string& FileName) {
  // Created new relative to the folder held, never by a path that may lead
  // elsewhere by now; shared with nobody.
  TErrorOr<TFileHandle> File =
      NativeOpenIn(Dir, FileName, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL);
  if (!File) return File;
  // Whatever answered at the name must be a file on a disk before anything
  // is written (a pipe server answers creations too).
  if (::GetFileType(File->Get()) != FILE_TYPE_DISK) {
    (void)FileDeleteIn(Dir, *File, FileName);
    return OSError(ERROR_FILE_INVALID);
  }
  return File;
}

TErrorOr<TFileIdentity> FileIdentityOf(const TFileHandle& File) {
  BY_HANDLE_FILE_INFORMATION Info{};
  if (!::GetFileInformationByHandle(File.Get(), &Info)) return LastError();
  return IdentityOf(Info);
}

TErrorOr<TNameInfo> NameInfoIn(const TFileHandle& Dir, const std::string& Name) {
  TErrorOr<TFileHandle> File = OpenIn(Dir, Name, FILE_READ_ATTRIBUTES, 0);
  if (!File) {
    if (File.Error() == OSError(ERROR_FILE_NOT_FOUND)) return TNameInfo{};
    return File.Error();
  }
  BY_HANDLE_FILE_INFORMATION Info{};
  if (!::GetFileInformationByHandle(File->Get(), &Info)) return LastError();
  TNameInfo Found{KindOf(*File, Info), IdentityOf(Info)};
  if (Found.Kind != TFileKind::Other && NameIsReparsePoint(Dir, Name)) Found.Kind = TFileKind::Link;
  return Found;
}

TErrorOr<TFileHandle> DirectoryOpenIn(const TFileHandle& Dir, const std::string& Name,
                                      bool Create) {
  TErrorOr<TFileHandle> Folder =
      NativeOpenIn(Dir, Name, FILE_TRAVERSE | FILE_READ_ATTRIBUTES, ShareAll,
                   Create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE);
  if (!Folder) {
    // A link to a file is no folder either; which stands there tells.
    if (Folder.Error() != std::errc::not_a_directory) return Folder.Error();
    TErrorOr<TNameInfo> Info = NameInfoIn(Dir, Name);
    if (Info && Info->Kind == TFileKind::Link) return OSError(ERROR_CANT_RESOLVE_FILENAME);
    return Folder.Error();
  }
  BY_HANDLE_FILE_INFORMATION Info{};
  if (!::GetFileInformationByHandle(Folder->Get(), &Info)) return LastError();
  switch (KindOf(*Folder, Info)) {
    case TFileKind::Directory:
      if (!NameIsReparsePoint(Dir, Name)) return Folder;
      [[fallthrough]];
    case TFileKind::Link:
      return OSError(ERROR_CANT_RESOLVE_FILENAME);
    default:
      return OSError(ERROR_DIRECTORY);
  }
}

TErrorOr<std::vector<TDirectoryEntry>> ListDirectory(const std::string& Dir) {
  const std::string Folder = Dir.empty() ? "." : IncludeTrailingPathDelimiter(Dir);
  const std::optional<std::wstring> Pattern = WideFromPath(Folder + "*");
  if (!Pattern) return InvalidName();
  WIN32_FIND_DATAW Data;
  const TUniqueFind Search(::FindFirstFileExW(Pattern->c_str(), FindExInfoBasic, &Data,
                                              FindExSearchNameMatch, nullptr, 0));
  std::vector<TDirectoryEntry> Entries;
  // Only a drive's root lists neither "." nor "..": empty.
  if (!Search) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return Entries;
    return LastError();
  }
  do {
    const std::wstring_view Wide = Data.cFileName;
    if (Wide == L"." || Wide == L"..") continue;
    TDirectoryEntry Entry;
    Entry.Name = PathFromWide(Wide);
    if (Data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      Entry.Kind = TFileKind::Link;
      TErrorOr<TPathInfo> Target = FollowedInfo(Folder + Entry.Name);
      if (!Target) return Target.Error();
      Entry.Target = Target->Kind;
      Entry.Size = Target->Size;
    } else if (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Entry.Kind = TFileKind::Directory;
    } else {
      Entry.Kind = TFileKind::File;
      Entry.Size = SizeOf(Data.nFileSizeHigh, Data.nFileSizeLow);
    }
    Entries.push_back(std::move(Entry));
  } while (::FindNextFileW(Search.Get(), &Data));
  if (::GetLastError() != ERROR_NO_MORE_FILES) return LastError();
  return Entries;
}

TErrorOr<TPathInfo> PathInfo(const std::string& Path) {
  const std::optional<std::wstring> Wide = WideFromPath(Path);
  if (!Wide) return InvalidName();
  // By its attributes, unless a link stands at its end: then by a handle on
  // what it leads to.
  WIN32_FILE_ATTRIBUTE_DATA Data{};
  if (!::GetFileAttributesExW(Wide->c_str(), GetFileExInfoStandard, &Data)) {
    const std::error_code Error = LastError();
    if (LeadsNowhere(Error)) return TPathInfo{};
    return Error;
  }
  if (Data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FollowedInfo(Path);
  if (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return TPathInfo{TFileKind::Directory, 0};
  return TPathInfo{TFileKind::File, SizeOf(Data.nFileSizeHigh, Data.nFileSizeLow)};
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
  wchar_t Buffer[512];
  const DWORD Length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(ErrorCode), 0, Buffer, DWORD(std::size(Buffer)), nullptr);
  return std::string(TrimMessageEnd(PathFromWide(std::wstring_view(Buffer, Length))));
}

namespace {

// The attributes of Name; INVALID_FILE_ATTRIBUTES when there are none.
DWORD AttributesOf(const std::string& Name) {
  const std::optional<std::wstring> Wide = WideFromPath(Name);
  return Wide ? ::GetFileAttributesW(Wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool FileExists(const std::string& FileName) {
  const DWORD Attr = AttributesOf(FileName);
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& Name) {
  const DWORD Attr = AttributesOf(Name);
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::error_code CreateDir(const std::string& Dir) {
  const std::optional<std::wstring> Wide = WideFromPath(Dir);
  if (!Wide) return InvalidName();
  if (!::CreateDirectoryW(Wide->c_str(), nullptr)) return LastError();
  return {};
}

std::error_code DeleteFile(const std::string& FileName) {
  const std::optional<std::wstring> Wide = WideFromPath(FileName);
  if (!Wide) return InvalidName();
  if (!::DeleteFileW(Wide->c_str())) return LastError();
  return {};
}

std::error_code RenameFile(const std::string& OldName, const std::string& NewName) {
  const std::optional<std::wstring> From = WideFromPath(OldName), To = WideFromPath(NewName);
  if (!From || !To) return InvalidName();
  if (!::MoveFileExW(From->c_str(), To->c_str(), MOVEFILE_REPLACE_EXISTING)) return LastError();
  return {};
}

// "\" only: names are split as the class library splits them, though the
// system itself would take "/" too.
bool IsPathDelimiter(char C) {
  return C == '\\';
}

std::string ExpandFileName(const std::string& FileName) {
  const std::optional<std::wstring> Wide = WideFromPath(FileName);
  if (!Wide) return FileName;
  const std::optional<std::wstring> Full =
      StringFromGrowingBuffer<wchar_t>([&](wchar_t* Buffer, DWORD Size) {
        return ::GetFullPathNameW(Wide->c_str(), Size, Buffer, nullptr);
      });
  return Full ? PathFromWide(*Full) : FileName;
}

std::string ExtractShortPathName(const std::string& FileName) {
  const std::optional<std::wstring> Wide = WideFromPath(FileName);
  if (!Wide) return std::string();
  const std::optional<std::wstring> Short =
      StringFromGrowingBuffer<wchar_t>([&](wchar_t* Buffer, DWORD Size) {
        return ::GetShortPathNameW(Wide->c_str(), Buffer, Size);
      });
  return Short ? PathFromWide(*Short) : std::string();
}

// ---------------------------------------------------------------------------

bool TFileSearch::Gather(const std::string& Pattern, uint32_t ExcludeAttr) {
  const std::optional<std::wstring> Wide = WideFromPath(Pattern);
  if (!Wide) return false;
  WIN32_FIND_DATAW Data;
  const TUniqueFind Search(::FindFirstFileW(Wide->c_str(), &Data));
  if (!Search) return false;
  do {
    if ((Data.dwFileAttributes & ExcludeAttr) == 0)
      FEntries.push_back({PathFromWide(Data.cFileName), Data.dwFileAttributes});
  } while (::FindNextFileW(Search.Get(), &Data));
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
