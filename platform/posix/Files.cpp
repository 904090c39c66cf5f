// Files and directories on POSIX systems. "\" in paths counts as "/", and
// share modes are not enforced (POSIX has no mandatory sharing).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Environment.h"
#include "FaultSeam.h"
#include "Files.h"

namespace kv {

namespace {

std::string NativePath(std::string Path) {
  std::replace(Path.begin(), Path.end(), '\\', '/');
  return Path;
}

int OpenFlags(uint32_t Mode) {
  switch (Mode & 0x3) {
    case fmOpenWrite:
      return O_WRONLY;
    case fmOpenReadWrite:
      return O_RDWR;
    default:
      return O_RDONLY;
  }
}

char Lower(char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C;
}

// Wildcard match in the Windows manner: "*" and "?", letter case ignored,
// and a mask of "*.*" matches every name.
bool MatchesMask(std::string_view Name, std::string_view Mask) {
  if (Mask == "*.*" || Mask == "*") return true;
  size_t N = 0, M = 0, StarM = std::string_view::npos, StarN = 0;
  while (N < Name.size()) {
    if (M < Mask.size() && (Mask[M] == '?' || Lower(Mask[M]) == Lower(Name[N]))) {
      ++N;
      ++M;
    } else if (M < Mask.size() && Mask[M] == '*') {
      StarM = M++;
      StarN = N;
    } else if (StarM != std::string_view::npos) {
      M = StarM + 1;
      N = ++StarN;
    } else {
      return false;
    }
  }
  while (M < Mask.size() && Mask[M] == '*')
    ++M;
  return M == Mask.size();
}

}  // namespace

void TFileHandle::Close() noexcept {
  if (Valid()) {
    ::close(static_cast<int>(FNative));
    FNative = InvalidValue;
  }
}

TFileHandle FileOpen(const std::string& FileName, uint32_t Mode) {
  if (fault::Injected(fault::TOperation::Open)) {
    errno = EIO;
    return TFileHandle();
  }
  const int Fd = ::open(NativePath(FileName).c_str(), OpenFlags(Mode) | O_CLOEXEC);
  if (Fd < 0) return TFileHandle();
  struct stat St {};
  if (::fstat(Fd, &St) == 0 && S_ISDIR(St.st_mode)) {
    ::close(Fd);
    errno = EISDIR;
    return TFileHandle();
  }
  return TFileHandle(Fd);
}

TFileHandle FileCreate(const std::string& FileName) {
  if (fault::Injected(fault::TOperation::Open)) {
    errno = EIO;
    return TFileHandle();
  }
  const int Fd = ::open(NativePath(FileName).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return Fd < 0 ? TFileHandle() : TFileHandle(Fd);
}

TFileHandle FileCreateNew(const std::string& FileName) {
  if (fault::Injected(fault::TOperation::Open)) {
    errno = EIO;
    return TFileHandle();
  }
  // O_EXCL fails on any existing name, a dangling symbolic link included.
  const int Fd = ::open(NativePath(FileName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return Fd < 0 ? TFileHandle() : TFileHandle(Fd);
}

bool IsAlreadyExistsError(int ErrorCode) {
  return ErrorCode == EEXIST;
}

// POSIX renames and unlinks directory entries by name, never through a link
// at the target; the file's own name is what moves.
bool FileReplaceOpen(const TFileHandle&, const std::string& FileName, const std::string& NewName) {
  if (fault::Injected(fault::TOperation::Replace)) {
    errno = EBUSY;
    return false;
  }
  return ::rename(NativePath(FileName).c_str(), NativePath(NewName).c_str()) == 0;
}

bool FileDeleteOpen(const TFileHandle&, const std::string& FileName) {
  return ::unlink(NativePath(FileName).c_str()) == 0;
}

int32_t FileRead(const TFileHandle& Handle, void* Buffer, int32_t Count) {
  if (fault::Injected(fault::TOperation::Read)) {
    errno = EIO;
    return -1;
  }
  ssize_t Got;
  do {
    Got = ::read(static_cast<int>(Handle.Native()), Buffer, static_cast<size_t>(Count));
  } while (Got < 0 && errno == EINTR);
  return static_cast<int32_t>(Got);
}

int32_t FileWrite(const TFileHandle& Handle, const void* Buffer, int32_t Count) {
  if (fault::Injected(fault::TOperation::Write)) {
    errno = ENOSPC;
    return -1;
  }
  // A regular file takes a whole write unless the disk is full; loop over
  // partial writes so that the count returned is what really went out.
  const auto* Bytes = static_cast<const uint8_t*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    const ssize_t Put =
        ::write(static_cast<int>(Handle.Native()), Bytes + Done, static_cast<size_t>(Count - Done));
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) return Done > 0 ? Done : -1;
    Done += static_cast<int32_t>(Put);
  }
  return Done;
}

int64_t FileSeek(const TFileHandle& Handle, int64_t Offset, TSeekOrigin Origin) {
  const int Whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return ::lseek(static_cast<int>(Handle.Native()), static_cast<off_t>(Offset), Whence);
}

int GetLastOSError() {
  return errno;
}

std::string SysErrorMessage(int ErrorCode) {
  std::string Text = std::strerror(ErrorCode);
  while (!Text.empty() &&
         (Text.back() == '.' || Text.back() == ' ' || Text.back() == '\n' || Text.back() == '\r'))
    Text.pop_back();
  return Text;
}

bool FileExists(const std::string& FileName) {
  struct stat St {};
  return !FileName.empty() && ::stat(NativePath(FileName).c_str(), &St) == 0 &&
         !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& Name) {
  struct stat St {};
  return !Name.empty() && ::stat(NativePath(Name).c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool CreateDir(const std::string& Dir) {
  if (fault::Injected(fault::TOperation::CreateDir)) {
    errno = EIO;
    return false;
  }
  return ::mkdir(NativePath(Dir).c_str(), 0777) == 0;
}

bool DeleteFile(const std::string& FileName) {
  return ::unlink(NativePath(FileName).c_str()) == 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  return ::rename(NativePath(OldName).c_str(), NativePath(NewName).c_str()) == 0;
}

// The name in this platform's own form, as GetFullPathName gives it on
// Windows: absolute, "/" as the separator, "." and ".." resolved lexically.
std::string ExpandFileName(const std::string& FileName) {
  std::string Path = NativePath(FileName);
  if (Path.empty() || Path[0] != '/') {
    std::vector<char> Cwd(4096);
    while (::getcwd(Cwd.data(), Cwd.size()) == nullptr) {
      if (errno != ERANGE) return Path;
      Cwd.resize(Cwd.size() * 2);
    }
    Path = std::string(Cwd.data()) + "/" + Path;
  }
  return std::filesystem::path(Path).lexically_normal().string();
}

std::string ExtractShortPathName(const std::string&) {
  return std::string();  // POSIX volumes keep no short names
}

// ---------------------------------------------------------------------------

struct TFileSearch::TState {
  std::vector<TSearchRec> Entries;
  size_t Next = 0;
  uint32_t ExcludeAttr = 0;
};

TFileSearch::TFileSearch() = default;
TFileSearch::TFileSearch(TFileSearch&&) noexcept = default;
TFileSearch& TFileSearch::operator=(TFileSearch&&) noexcept = default;
TFileSearch::~TFileSearch() = default;

bool TFileSearch::FindFirst(const std::string& Pattern, uint32_t Attr, TSearchRec& Found) {
  FindClose();
  const std::string Dir = ExtractFilePath(Pattern);
  const std::string Mask = ExtractFileName(Pattern);
  const std::string NativeDir = Dir.empty() ? std::string(".") : NativePath(Dir);
  DIR* Handle = ::opendir(NativeDir.c_str());
  if (Handle == nullptr) return false;
  auto State = std::make_unique<TState>();
  State->ExcludeAttr = ~Attr & (faHidden | faSysFile | faVolumeID | faDirectory);
  while (const dirent* Entry = ::readdir(Handle)) {
    TSearchRec Rec;
    Rec.Name = Entry->d_name;
    if (!MatchesMask(Rec.Name, Mask)) continue;
    // lstat: a symbolic link is reported as itself, so that a link to a
    // directory is never descended into (no cycles).
    struct stat St {};
    const std::string Full = NativeDir + "/" + Rec.Name;
    if (::lstat(Full.c_str(), &St) != 0) continue;
    Rec.Attr = S_ISDIR(St.st_mode) ? faDirectory : faArchive;
    if (::access(Full.c_str(), W_OK) != 0 && errno == EROFS) Rec.Attr |= faReadOnly;
    Rec.Size = S_ISDIR(St.st_mode) ? 0 : static_cast<int64_t>(St.st_size);
    if ((Rec.Attr & State->ExcludeAttr) != 0) continue;
    State->Entries.push_back(std::move(Rec));
  }
  ::closedir(Handle);
  // readdir's order depends on the file system; sort for a stable order.
  std::sort(State->Entries.begin(), State->Entries.end(),
            [](const TSearchRec& A, const TSearchRec& B) { return A.Name < B.Name; });
  FState = std::move(State);
  return FindNext(Found);
}

bool TFileSearch::FindNext(TSearchRec& Found) {
  if (!FState || FState->Next >= FState->Entries.size()) return false;
  Found = FState->Entries[FState->Next++];
  return true;
}

void TFileSearch::FindClose() {
  FState.reset();
}

// ---------------------------------------------------------------------------

std::string GetTempPath() {
  std::string Dir = GetEnvironmentVariable("TMPDIR");
  if (Dir.empty()) Dir = "/tmp";
  if (Dir.back() != '/') Dir += '/';
  return Dir;
}

std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, uint32_t Unique) {
  const std::string Base = IncludeTrailingPathDelimiter(Dir) + Prefix.substr(0, 3);
  char Hex[16];
  if (Unique != 0) {
    std::snprintf(Hex, sizeof Hex, "%X", Unique & 0xFFFFu);
    return Base + Hex + ".tmp";
  }
  // Like the Windows service: try numbers from a varying start until a name
  // is free, and create that file to reserve it.
  uint32_t Start = static_cast<uint32_t>(::getpid()) ^ static_cast<uint32_t>(std::rand());
  for (uint32_t I = 0; I < 0x10000; ++I) {
    const uint32_t Number = ((Start + I) & 0xFFFFu) == 0 ? 1 : (Start + I) & 0xFFFFu;
    std::snprintf(Hex, sizeof Hex, "%X", Number);
    const std::string Name = Base + Hex + ".tmp";
    const int Fd = ::open(NativePath(Name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (Fd >= 0) {
      ::close(Fd);
      return Name;
    }
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

}  // namespace kv
