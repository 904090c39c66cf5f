// Files and directories on POSIX systems. "\" in paths counts as "/", and
// share modes are not enforced (POSIX has no mandatory sharing).
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "konvoro/Environment.h"
#include "konvoro/Files.h"
#include "konvoro/Text.h"

namespace kv {

namespace {

std::string NativePath(std::string Path) {
  std::replace(Path.begin(), Path.end(), '\\', '/');
  return Path;
}

// The share mode has no counterpart: POSIX has no mandatory sharing.
int OpenFlags(TOpenMode Mode) {
  int Flags = O_CLOEXEC;
  switch (Mode.Access) {
    case TAccess::Read:
      Flags |= O_RDONLY;
      break;
    case TAccess::Write:
      Flags |= O_WRONLY;
      break;
    case TAccess::ReadWrite:
      Flags |= O_RDWR;
      break;
  }
  switch (Mode.Disposition) {
    case TDisposition::OpenExisting:
      break;
    case TDisposition::CreateAlways:
      Flags |= O_CREAT | O_TRUNC;
      break;
  }
  return Flags;
}

using TDirectory = TUniqueAny<DIR*, &::closedir>;

// The reason of the call that has just failed; read at once, before
// anything else can change errno.
std::error_code LastError() {
  return OSError(errno);
}

// Wildcard match in the Windows manner: "*" and "?", letter case ignored,
// and a mask of "*.*" matches every name.
bool MatchesMask(std::string_view Name, std::string_view Mask) {
  if (Mask == "*.*" || Mask == "*") return true;
  size_t N = 0, M = 0, StarM = std::string_view::npos, StarN = 0;
  while (N < Name.size()) {
    if (M < Mask.size() && (Mask[M] == '?' || LowCase(Mask[M]) == LowCase(Name[N]))) {
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

void FileClose(int File) noexcept {
  ::close(File);
}

TErrorOr<TFileHandle> FileOpen(const std::string& FileName, TOpenMode Mode) {
  // A FIFO opened for reading would wait for a writer: opened without
  // waiting, it is then refused.
  const bool ReadOnly = Mode.Access == TAccess::Read;
  TFileHandle File(
      ::open(NativePath(FileName).c_str(), OpenFlags(Mode) | (ReadOnly ? O_NONBLOCK : 0), 0666));
  if (!File) return LastError();
  struct stat St {};
  if (::fstat(File.Get(), &St) != 0) return LastError();
  // Windows opens no directory as a file; neither does this port.
  if (S_ISDIR(St.st_mode)) return OSError(EISDIR);
  if (ReadOnly) {
    if (!S_ISREG(St.st_mode)) return OSError(EINVAL);
    const int Flags = ::fcntl(File.Get(), F_GETFL);
    if (Flags < 0 || ::fcntl(File.Get(), F_SETFL, Flags & ~O_NONBLOCK) != 0) return LastError();
  }
  return File;
}

// errno values are the std::errc values.
std::error_condition OSErrorCondition(int Code) noexcept {
  return std::generic_category().default_error_condition(Code);
}

std::error_code SystemRandom(std::span<uint8_t> Bytes) {
  for (size_t Done = 0; Done < Bytes.size();) {
    const ssize_t Got = ::getrandom(Bytes.data() + Done, Bytes.size() - Done, 0);
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) return LastError();
    Done += size_t(Got);
  }
  return {};
}

TErrorOr<TFileHandle> DirectoryOpen(const std::string& Dir) {
  TFileHandle Folder(
      ::open(Dir.empty() ? "." : NativePath(Dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!Folder) return LastError();
  return Folder;
}

TErrorOr<TFileHandle> FileCreateIn(const TFileHandle& Dir, const std::string& FileName) {
  // O_EXCL fails on any existing name, a dangling symbolic link included.
  TFileHandle File(::openat(Dir.Get(), ExtractFileName(FileName).c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!File) return LastError();
  struct stat St {};
  if (::fstat(File.Get(), &St) != 0 || !S_ISREG(St.st_mode)) {
    (void)FileDeleteIn(Dir, File, FileName);
    return OSError(EINVAL);
  }
  return File;
}

// POSIX renames and unlinks directory entries by name, never through a link
// at the target; relative to the folder held, the file's own name is what
// moves.
std::error_code FileReplaceIn(const TFileHandle& Dir, const TFileHandle&,
                              const std::string& FileName, const std::string& NewName) {
  if (::renameat(Dir.Get(), ExtractFileName(FileName).c_str(), Dir.Get(),
                 ExtractFileName(NewName).c_str()) != 0)
    return LastError();
  return {};
}

std::error_code FileDeleteIn(const TFileHandle& Dir, const TFileHandle&,
                             const std::string& FileName) {
  if (::unlinkat(Dir.Get(), ExtractFileName(FileName).c_str(), 0) != 0) return LastError();
  return {};
}

namespace {

TFileKind KindOf(mode_t Mode) {
  if (S_ISREG(Mode)) return TFileKind::File;
  if (S_ISDIR(Mode)) return TFileKind::Directory;
  if (S_ISLNK(Mode)) return TFileKind::Link;
  return TFileKind::Other;
}

TFileIdentity IdentityOf(const struct stat& St) {
  return {uint64_t(St.st_dev), uint64_t(St.st_ino)};
}

}  // namespace

TErrorOr<TFileIdentity> FileIdentityOf(const TFileHandle& File) {
  struct stat St {};
  if (::fstat(File.Get(), &St) != 0) return LastError();
  return IdentityOf(St);
}

TErrorOr<TNameInfo> NameInfoIn(const TFileHandle& Dir, const std::string& Name) {
  struct stat St {};
  if (::fstatat(Dir.Get(), ExtractFileName(Name).c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return TNameInfo{};
    return LastError();
  }
  return TNameInfo{KindOf(St.st_mode), IdentityOf(St)};
}

TErrorOr<TFileHandle> DirectoryOpenIn(const TFileHandle& Dir, const std::string& Name,
                                      bool Create) {
  const std::string Last = ExtractFileName(Name);
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    TFileHandle Folder(
        ::openat(Dir.Get(), Last.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (Folder) return Folder;
    const int Error = errno;
    if (Error == ENOENT && Create && Attempt == 0) {
      // Made here unless someone made it meanwhile; the open decides.
      if (::mkdirat(Dir.Get(), Last.c_str(), 0777) != 0 && errno != EEXIST) return LastError();
      continue;
    }
    // O_NOFOLLOW fails on a link with ELOOP, O_DIRECTORY on anything else
    // with ENOTDIR; which stands there tells.
    if (Error == ELOOP || Error == ENOTDIR) {
      struct stat St {};
      const bool IsLink =
          ::fstatat(Dir.Get(), Last.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(St.st_mode);
      return OSError(IsLink ? ELOOP : ENOTDIR);
    }
    return OSError(Error);
  }
  return OSError(ENOENT);
}

TErrorOr<std::vector<TDirectoryEntry>> ListDirectory(const std::string& Dir) {
  const TDirectory Handle(::opendir(Dir.empty() ? "." : NativePath(Dir).c_str()));
  if (!Handle) return LastError();
  const int Fd = ::dirfd(Handle.Get());
  std::vector<TDirectoryEntry> Entries;
  for (;;) {
    errno = 0;
    const dirent* Found = ::readdir(Handle.Get());
    if (Found == nullptr) {
      if (errno != 0) return LastError();
      break;
    }
    TDirectoryEntry Entry;
    Entry.Name = Found->d_name;
    if (Entry.Name == "." || Entry.Name == "..") continue;
    struct stat St {};
    if (::fstatat(Fd, Entry.Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since it was listed: nothing stands there now.
      if (errno == ENOENT) continue;
      return LastError();
    }
    Entry.Kind = KindOf(St.st_mode);
    if (Entry.Kind == TFileKind::Link) {
      if (::fstatat(Fd, Entry.Name.c_str(), &St, 0) == 0)
        Entry.Target = KindOf(St.st_mode);
      else if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR)
        return LastError();
    }
    const TFileKind Kind = Entry.Kind == TFileKind::Link ? Entry.Target : Entry.Kind;
    if (Kind == TFileKind::File) Entry.Size = int64_t(St.st_size);
    Entries.push_back(std::move(Entry));
  }
  return Entries;
}

TErrorOr<TPathInfo> PathInfo(const std::string& Path) {
  struct stat St {};
  if (::stat(NativePath(Path).c_str(), &St) != 0) {
    if (errno == ENOENT || errno == ELOOP) return TPathInfo{};
    return LastError();
  }
  TPathInfo Info{KindOf(St.st_mode), 0};
  if (Info.Kind == TFileKind::File) Info.Size = int64_t(St.st_size);
  return Info;
}

TErrorOr<TFileHandle> FileDuplicate(const TFileHandle& Handle) {
  TFileHandle Copy(::fcntl(Handle.Get(), F_DUPFD_CLOEXEC, 0));
  if (!Copy) return LastError();
  return Copy;
}

TErrorOr<int32_t> FileRead(const TFileHandle& Handle, void* Buffer, int32_t Count) {
  ssize_t Got;
  do {
    Got = ::read(Handle.Get(), Buffer, static_cast<size_t>(Count));
  } while (Got < 0 && errno == EINTR);
  if (Got < 0) return LastError();
  return static_cast<int32_t>(Got);
}

TErrorOr<int32_t> FileWrite(const TFileHandle& Handle, const void* Buffer, int32_t Count) {
  // A regular file takes a whole write unless the disk is full; loop over
  // partial writes so that the count returned is what really went out.
  const auto* Bytes = static_cast<const uint8_t*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    const ssize_t Put = ::write(Handle.Get(), Bytes + Done, static_cast<size_t>(Count - Done));
    if (Put < 0 && errno == EINTR) continue;
    if (Put < 0 && Done == 0) return LastError();
    if (Put <= 0) break;
    Done += static_cast<int32_t>(Put);
  }
  return Done;
}

TErrorOr<int64_t> FileSeek(const TFileHandle& Handle, int64_t Offset, TSeekOrigin Origin) {
  const int Whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t Position = ::lseek(Handle.Get(), static_cast<off_t>(Offset), Whence);
  if (Position < 0) return LastError();
  return static_cast<int64_t>(Position);
}

std::string SysErrorMessage(int ErrorCode) {
  return std::string(TrimMessageEnd(std::strerror(ErrorCode)));
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

std::error_code CreateDir(const std::string& Dir) {
  if (::mkdir(NativePath(Dir).c_str(), 0777) != 0) return LastError();
  return {};
}

std::error_code DeleteFile(const std::string& FileName) {
  if (::unlink(NativePath(FileName).c_str()) != 0) return LastError();
  return {};
}

std::error_code RenameFile(const std::string& OldName, const std::string& NewName) {
  if (::rename(NativePath(OldName).c_str(), NativePath(NewName).c_str()) != 0) return LastError();
  return {};
}

// "/" is this platform's own separator; "\" is taken as one too, so that
// the Windows paths the system is written around work here.
bool IsPathDelimiter(char C) {
  return C == '\\' || C == '/';
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

bool TFileSearch::Gather(const std::string& Pattern, uint32_t ExcludeAttr) {
  const std::string Dir = ExtractFilePath(Pattern);
  const std::string Mask = ExtractFileName(Pattern);
  const std::string NativeDir = Dir.empty() ? std::string(".") : NativePath(Dir);
  const TDirectory Handle(::opendir(NativeDir.c_str()));
  if (!Handle) return false;
  while (const dirent* Entry = ::readdir(Handle.Get())) {
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
    if ((Rec.Attr & ExcludeAttr) != 0) continue;
    FEntries.push_back(std::move(Rec));
  }
  // readdir's order depends on the file system; sort for a stable order.
  std::sort(FEntries.begin(), FEntries.end(),
            [](const TSearchRec& A, const TSearchRec& B) { return A.Name < B.Name; });
  return true;
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
  TErrorOr<uint32_t> Start = UniqueNumber();
  if (!Start) return std::string();
  for (uint32_t I = 0; I < 0x10000; ++I) {
    const uint32_t Number = ((*Start + I) & 0xFFFFu) == 0 ? 1 : (*Start + I) & 0xFFFFu;
    std::snprintf(Hex, sizeof Hex, "%X", Number);
    const std::string Name = Base + Hex + ".tmp";
    const TFileHandle Reserved(
        ::open(NativePath(Name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (Reserved) return Name;
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

}  // namespace kv
