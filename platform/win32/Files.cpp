// Files and directories on Windows, through kernel32's ANSI calls with
// explicit share modes.
#include "WinApi.h"

#include <algorithm>
#include <string>
#include <vector>

#include "FaultSeam.h"
#include "Files.h"

namespace kv {

namespace {

HANDLE AsHandle(intptr_t Native) {
  return reinterpret_cast<HANDLE>(Native);
}

DWORD AccessFor(uint32_t Mode) {
  switch (Mode & 0x3) {
    case fmOpenWrite:
      return GENERIC_WRITE;
    case fmOpenReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

DWORD ShareFor(uint32_t Mode) {
  switch (Mode & 0xF0) {
    case fmShareExclusive:
      return 0;
    case fmShareDenyWrite:
      return FILE_SHARE_READ;
    case 0x30 /* deny read */:
      return FILE_SHARE_WRITE;
    default:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;  // deny none, compatibility
  }
}

}  // namespace

void TFileHandle::Close() noexcept {
  if (Valid()) {
    ::CloseHandle(AsHandle(FNative));
    FNative = InvalidValue;
  }
}

TFileHandle FileOpen(const std::string& FileName, uint32_t Mode) {
  if (fault::Injected(fault::TOperation::Open)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return TFileHandle();
  }
  HANDLE H = ::CreateFileA(FileName.c_str(), AccessFor(Mode), ShareFor(Mode), nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return H == INVALID_HANDLE_VALUE ? TFileHandle() : TFileHandle(reinterpret_cast<intptr_t>(H));
}

TFileHandle FileCreate(const std::string& FileName) {
  if (fault::Injected(fault::TOperation::Open)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return TFileHandle();
  }
  HANDLE H = ::CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return H == INVALID_HANDLE_VALUE ? TFileHandle() : TFileHandle(reinterpret_cast<intptr_t>(H));
}

TFileHandle FileCreateNew(const std::string& FileName) {
  if (fault::Injected(fault::TOperation::Open)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return TFileHandle();
  }
  // DELETE access lets the file be renamed or removed through this handle
  // later, so that nobody can swap it in between.
  HANDLE H = ::CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  return H == INVALID_HANDLE_VALUE ? TFileHandle() : TFileHandle(reinterpret_cast<intptr_t>(H));
}

bool IsAlreadyExistsError(int ErrorCode) {
  return ErrorCode == ERROR_FILE_EXISTS || ErrorCode == ERROR_ALREADY_EXISTS;
}

namespace {

std::wstring WideFullPath(const std::string& FileName) {
  const std::string Full = ExpandFileName(FileName);
  const int Length = ::MultiByteToWideChar(CP_ACP, 0, Full.data(), int(Full.size()), nullptr, 0);
  std::wstring Wide(size_t(Length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, Full.data(), int(Full.size()), Wide.data(), Length);
  return Wide;
}

// Renaming over a file that another process holds open fails as "access
// denied"; creating over it, which is what this replaces, fails as a
// sharing violation. Tell the two apart, so that the message names the
// real cause.
DWORD ReplaceFailure(const std::string& NewName) {
  const DWORD Error = ::GetLastError();
  if (Error != ERROR_ACCESS_DENIED) return Error;
  HANDLE Probe = ::CreateFileA(
      NewName.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (Probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(Probe);
    return Error;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : Error;
}

}  // namespace

bool FileReplaceOpen(const TFileHandle& Handle, const std::string&, const std::string& NewName) {
  if (fault::Injected(fault::TOperation::Replace)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  // Renamed through the open handle: the file cannot be swapped for
  // something else by name before it is moved.
  const std::wstring Target = WideFullPath(NewName);
  std::vector<uint8_t> Buffer(sizeof(FILE_RENAME_INFO) + Target.size() * sizeof(wchar_t));
  auto* Info = reinterpret_cast<FILE_RENAME_INFO*>(Buffer.data());
  Info->ReplaceIfExists = TRUE;
  Info->RootDirectory = nullptr;
  Info->FileNameLength = DWORD(Target.size() * sizeof(wchar_t));
  std::copy(Target.begin(), Target.end(), Info->FileName);
  if (::SetFileInformationByHandle(AsHandle(Handle.Native()), FileRenameInfo, Info,
                                   DWORD(Buffer.size())))
    return true;
  ::SetLastError(ReplaceFailure(NewName));
  return false;
}

bool FileDeleteOpen(const TFileHandle& Handle, const std::string&) {
  FILE_DISPOSITION_INFO Info{TRUE};
  return ::SetFileInformationByHandle(AsHandle(Handle.Native()), FileDispositionInfo, &Info,
                                      sizeof Info) != 0;
}

int32_t FileRead(const TFileHandle& Handle, void* Buffer, int32_t Count) {
  if (fault::Injected(fault::TOperation::Read)) {
    ::SetLastError(ERROR_READ_FAULT);
    return -1;
  }
  DWORD Got = 0;
  if (!::ReadFile(AsHandle(Handle.Native()), Buffer, static_cast<DWORD>(Count), &Got, nullptr))
    return -1;
  return static_cast<int32_t>(Got);
}

int32_t FileWrite(const TFileHandle& Handle, const void* Buffer, int32_t Count) {
  if (fault::Injected(fault::TOperation::Write)) {
    ::SetLastError(ERROR_DISK_FULL);
    return -1;
  }
  DWORD Put = 0;
  if (!::WriteFile(AsHandle(Handle.Native()), Buffer, static_cast<DWORD>(Count), &Put, nullptr))
    return -1;
  return static_cast<int32_t>(Put);
}

int64_t FileSeek(const TFileHandle& Handle, int64_t Offset, TSeekOrigin Origin) {
  const DWORD Method = Origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : Origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LONG High = static_cast<LONG>(Offset >> 32);
  ::SetLastError(NO_ERROR);
  const DWORD Low = ::SetFilePointer(AsHandle(Handle.Native()),
                                     static_cast<LONG>(Offset & 0xFFFFFFFF), &High, Method);
  if (Low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(High) << 32) | Low;
}

int GetLastOSError() {
  return static_cast<int>(::GetLastError());
}

std::string SysErrorMessage(int ErrorCode) {
  char Buffer[512];
  const DWORD Length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(ErrorCode), 0, Buffer, sizeof Buffer, nullptr);
  std::string Text(Buffer, Length);
  // The dialog adds its own full stop; drop the system's and its line break.
  while (!Text.empty() &&
         (Text.back() == '.' || Text.back() == ' ' || Text.back() == '\n' || Text.back() == '\r'))
    Text.pop_back();
  return Text;
}

bool FileExists(const std::string& FileName) {
  const DWORD Attr = ::GetFileAttributesA(FileName.c_str());
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& Name) {
  const DWORD Attr = ::GetFileAttributesA(Name.c_str());
  return Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDir(const std::string& Dir) {
  if (fault::Injected(fault::TOperation::CreateDir)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return ::CreateDirectoryA(Dir.c_str(), nullptr) != 0;
}

bool DeleteFile(const std::string& FileName) {
  return ::DeleteFileA(FileName.c_str()) != 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  return ::MoveFileExA(OldName.c_str(), NewName.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string ExpandFileName(const std::string& FileName) {
  std::vector<char> Buffer(MAX_PATH);
  for (;;) {
    char* NamePart = nullptr;
    const DWORD Length = ::GetFullPathNameA(FileName.c_str(), static_cast<DWORD>(Buffer.size()),
                                            Buffer.data(), &NamePart);
    if (Length == 0) return FileName;
    if (Length < Buffer.size()) return std::string(Buffer.data(), Length);
    Buffer.resize(Length + 1);
  }
}

std::string ExtractShortPathName(const std::string& FileName) {
  std::vector<char> Buffer(MAX_PATH);
  for (;;) {
    const DWORD Length =
        ::GetShortPathNameA(FileName.c_str(), Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return std::string();
    if (Length < Buffer.size()) return std::string(Buffer.data(), Length);
    Buffer.resize(Length + 1);
  }
}

// ---------------------------------------------------------------------------

struct TFileSearch::TState {
  HANDLE Handle = INVALID_HANDLE_VALUE;
  uint32_t ExcludeAttr = 0;
  ~TState() {
    if (Handle != INVALID_HANDLE_VALUE) ::FindClose(Handle);
  }
};

namespace {

// Fills Found from Data; false when the mask excludes the entry.
bool Accept(const WIN32_FIND_DATAA& Data, uint32_t ExcludeAttr, TSearchRec& Found) {
  if ((Data.dwFileAttributes & ExcludeAttr) != 0) return false;
  Found.Name = Data.cFileName;
  Found.Attr = Data.dwFileAttributes;
  Found.Size = (static_cast<int64_t>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
  return true;
}

}  // namespace

TFileSearch::TFileSearch() = default;
TFileSearch::TFileSearch(TFileSearch&&) noexcept = default;
TFileSearch& TFileSearch::operator=(TFileSearch&&) noexcept = default;
TFileSearch::~TFileSearch() = default;

bool TFileSearch::FindFirst(const std::string& Pattern, uint32_t Attr, TSearchRec& Found) {
  FindClose();
  auto State = std::make_unique<TState>();
  State->ExcludeAttr = ~Attr & (faHidden | faSysFile | faVolumeID | faDirectory);
  WIN32_FIND_DATAA Data;
  State->Handle = ::FindFirstFileA(Pattern.c_str(), &Data);
  if (State->Handle == INVALID_HANDLE_VALUE) return false;
  const bool First = Accept(Data, State->ExcludeAttr, Found);
  FState = std::move(State);
  return First || FindNext(Found);
}

bool TFileSearch::FindNext(TSearchRec& Found) {
  if (!FState) return false;
  WIN32_FIND_DATAA Data;
  while (::FindNextFileA(FState->Handle, &Data)) {
    if (Accept(Data, FState->ExcludeAttr, Found)) return true;
  }
  return false;
}

void TFileSearch::FindClose() {
  FState.reset();
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
