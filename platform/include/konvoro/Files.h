// Files and directories: open and create with explicit share modes, read,
// write and seek through a move-only handle owner, existence tests,
// directory creation and enumeration, temporary names, error texts.
// Paths may use "\" as the separator on every platform.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "konvoro/OSError.h"
#include "konvoro/UniqueHandle.h"

namespace kv {

// How a file is opened: the access asked for, what others may do with it
// meanwhile, and whether it is opened, created or replaced. Each port maps
// these to its own calls.
enum class TAccess : uint8_t { Read, Write, ReadWrite };
enum class TShare : uint8_t { Exclusive, DenyWrite, DenyNone };
enum class TDisposition : uint8_t {
  OpenExisting,
  CreateAlways,  // a new file, or an existing one truncated
};
struct TOpenMode {
  TAccess Access;
  TShare Share;
  TDisposition Disposition;
};

// The class library's names: an access combined with a share mode opens an
// existing file (fmOpenRead | fmShareDenyWrite); fmCreate creates a file or
// truncates an existing one, open for reading and writing, shared with
// nobody.
inline constexpr TAccess fmOpenRead = TAccess::Read;
inline constexpr TAccess fmOpenWrite = TAccess::Write;
inline constexpr TAccess fmOpenReadWrite = TAccess::ReadWrite;
inline constexpr TShare fmShareExclusive = TShare::Exclusive;
inline constexpr TShare fmShareDenyWrite = TShare::DenyWrite;
inline constexpr TShare fmShareDenyNone = TShare::DenyNone;
constexpr TOpenMode operator|(TAccess Access, TShare Share) {
  return {Access, Share, TDisposition::OpenExisting};
}
inline constexpr TOpenMode fmCreate = {TAccess::ReadWrite, TShare::Exclusive,
                                       TDisposition::CreateAlways};

// Seek origins.
enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// File attributes as directory enumeration reports them.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;
inline constexpr uint32_t faAnyFile = 0x3F;

// An open file as the system knows it: a HANDLE (a void*) on Windows, a
// descriptor on POSIX; spelt out here so that this header needs no system
// header.
#if defined(_WIN32)
using TNativeFile = void*;
#else
using TNativeFile = int;
#endif
// Closes File with the port's own call.
void FileClose(TNativeFile File) noexcept;
// Owner of one open file; -1 means none (INVALID_HANDLE_VALUE on Windows).
using TFileHandle = TUniqueAny<TNativeFile, &FileClose, -1>;

// Every call that can fail returns its reason (OSError.h), taken at the
// failing call.

// Opens FileName as Mode says. A file opened for reading alone must be a
// file on a disk: a FIFO, socket, device or pipe is refused at once
// (std::errc::invalid_argument), never opened and waited on.
TErrorOr<TFileHandle> FileOpen(const std::string& FileName, TOpenMode Mode);
// Fills Bytes from the system's random source, which nobody can foresee.
[[nodiscard]] std::error_code SystemRandom(std::span<uint8_t> Bytes);
// A number that nobody can foresee, from SystemRandom: the suffix of a name
// that another process must not guess.
TErrorOr<uint32_t> UniqueNumber();

// A file that takes a name in a folder which someone else may turn
// elsewhere at any moment (a link on its path, in a user's temporary folder
// that an elevated program writes to): the folder is held open first, and
// the file is created in it, moved and removed within it through handles,
// never by a path that may lead elsewhere by then. The names below are
// paths whose folder is the one held; only their last parts are used where
// the system takes a name relative to the folder.

// Opens the folder Dir ("" for the current one) to hold it. Fails for
// anything that is not a folder on a disk (a pipe, a device, a file); a
// missing folder or a file in its place fails as a name in it would, with
// the reason the system gives for creating one there ("path not found" on
// Windows).
TErrorOr<TFileHandle> DirectoryOpen(const std::string& Dir);
// Creates FileName new in the folder Dir holds, for reading and writing,
// shared with nobody: its last part, relative to the folder's handle, so
// that no name is created by a path that may lead elsewhere by now, and no
// limit of a full path's length applies. Nothing existing is ever opened,
// not even a link that leads nowhere. Fails, before anything is written,
// for a handle that is not a file on a disk (a pipe server at the name).
TErrorOr<TFileHandle> FileCreateIn(const TFileHandle& Dir, const std::string& FileName);
// Renames File, created by FileCreateIn as FileName, to NewName in the same
// folder, replacing what stands there as a directory entry: a link at
// NewName is replaced itself and never followed. Fails with a sharing
// violation when another process holds NewName open.
[[nodiscard]] std::error_code FileReplaceIn(const TFileHandle& Dir, const TFileHandle& File,
                                            const std::string& FileName,
                                            const std::string& NewName);
// Removes File, created by FileCreateIn as FileName; it is gone once closed.
[[nodiscard]] std::error_code FileDeleteIn(const TFileHandle& Dir, const TFileHandle& File,
                                           const std::string& FileName);

// What stands at a name, seen without following a link there.
enum class TFileKind : uint8_t {
  None,       // nothing of that name
  File,       // a regular file
  Directory,  // a folder
  Link,       // a symbolic link or junction, whatever it leads to
  Other,      // a FIFO, socket or device
};

// Which file an open file or a name is, whatever name reached it: the
// volume it lies on and its number there. Two names or handles with one
// identity are one file.
struct TFileIdentity {
  uint64_t Volume = 0;
  uint64_t Index = 0;
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};
TErrorOr<TFileIdentity> FileIdentityOf(const TFileHandle& File);

// What Name (its last part alone) is in the folder Dir holds, seen without
// following a link at it. Identity is set for every kind but None.
struct TNameInfo {
  TFileKind Kind = TFileKind::None;
  TFileIdentity Identity;
};
TErrorOr<TNameInfo> NameInfoIn(const TFileHandle& Dir, const std::string& Name);

// Opens the folder Name (its last part alone) in the folder Dir holds, to
// hold it; with Create, makes it first when nothing stands there. Never
// follows a link: a link at Name fails with
// std::errc::too_many_symbolic_link_levels, anything else that is no folder
// with std::errc::not_a_directory.
TErrorOr<TFileHandle> DirectoryOpenIn(const TFileHandle& Dir, const std::string& Name, bool Create);

// One entry of a folder: its name, what it is, and for a link what it leads
// to when followed as the system follows it (None when it leads nowhere,
// in a loop included). Size is a file's size in bytes, followed through a
// link; 0 for the other kinds.
struct TDirectoryEntry {
  std::string Name;
  TFileKind Kind = TFileKind::None;
  TFileKind Target = TFileKind::None;
  int64_t Size = 0;
};
// Every entry of the folder Dir but "." and "..", in no particular order.
TErrorOr<std::vector<TDirectoryEntry>> ListDirectory(const std::string& Dir);

// What Path is with every link on it followed: File, Directory or Other
// (None when nothing is there, or a link leads nowhere), and a file's size.
struct TPathInfo {
  TFileKind Kind = TFileKind::None;
  int64_t Size = 0;
};
TErrorOr<TPathInfo> PathInfo(const std::string& Path);

// A second handle, for reading, on the file that Handle has open: it reaches
// that very file whatever has become of its name since (renamed, replaced,
// or a link on its path turned elsewhere), and shares its position.
TErrorOr<TFileHandle> FileDuplicate(const TFileHandle& Handle);
// Reads up to Count bytes. Returns the count read, 0 at the end.
TErrorOr<int32_t> FileRead(const TFileHandle& Handle, void* Buffer, int32_t Count);
// Writes up to Count bytes. Returns the count written: fewer only when some
// went out before the system refused the rest, whose reason the next write
// then returns.
TErrorOr<int32_t> FileWrite(const TFileHandle& Handle, const void* Buffer, int32_t Count);
// Moves the file pointer. Returns the new position; on failure the position
// is unchanged (a seek before the start fails this way).
TErrorOr<int64_t> FileSeek(const TFileHandle& Handle, int64_t Offset, TSeekOrigin Origin);

// The system's description of an error code, without trailing line breaks,
// blanks or full stops.
std::string SysErrorMessage(int ErrorCode);

// True when FileName names an existing file (a directory does not count).
bool FileExists(const std::string& FileName);
// True when Name names an existing directory.
bool DirectoryExists(const std::string& Name);
// Creates one directory.
[[nodiscard]] std::error_code CreateDir(const std::string& Dir);
// Creates Dir and every missing directory above it. Succeeds when Dir exists
// afterwards; else fails with the reason of the creation that failed, or
// std::errc::not_a_directory where something other than a directory stands
// in the way. Raises EInOutError("Unable to create directory") for an empty
// Dir.
[[nodiscard]] std::error_code ForceDirectories(std::string Dir);
// Deletes a file.
[[nodiscard]] std::error_code DeleteFile(const std::string& FileName);
// Renames a file, replacing an existing target.
[[nodiscard]] std::error_code RenameFile(const std::string& OldName, const std::string& NewName);
// The absolute form of FileName, as the platform resolves a relative name
// against the current directory.
std::string ExpandFileName(const std::string& FileName);
// The short (8.3) form of an existing FileName, as the volume keeps it; ""
// when there is none or FileName does not exist.
std::string ExtractShortPathName(const std::string& FileName);

// True for the port's path delimiters: "\", and on POSIX "/" too.
bool IsPathDelimiter(char C);
// True when Path's last character is a path delimiter. Like the three below,
// it walks Path by character in the path encoding (Environment.h): in the
// ANSI code page (Text.h), or in UTF-8.
bool EndsWithPathDelimiter(std::string_view Path);
// The part of FileName up to and including its last path delimiter or ":".
std::string ExtractFilePath(const std::string& FileName);
// The part of FileName after its last path delimiter or ":".
std::string ExtractFileName(const std::string& FileName);
// Path followed by "\" unless it already ends with a path delimiter.
std::string IncludeTrailingPathDelimiter(const std::string& Path);

// One entry found by a directory enumeration.
struct TSearchRec {
  std::string Name;
  uint32_t Attr = 0;
};

// A directory enumeration with a wildcard pattern and an attribute mask, as
// FindFirst/FindNext/FindClose. Entries whose hidden, system, volume or
// directory attribute is not in the mask are skipped. FindFirst gathers
// the whole directory at once, through the system's enumeration, which is
// closed again before it returns; FindNext hands the entries out in its
// order.
class TFileSearch {
 public:
  // Starts an enumeration of Pattern (a directory, "\", and a wildcard name).
  // Returns false when nothing matches or the directory cannot be read.
  bool FindFirst(const std::string& Pattern, uint32_t Attr, TSearchRec& Found);
  // Returns false at the end of the enumeration.
  bool FindNext(TSearchRec& Found);
  // Ends the enumeration; it may be ended more than once.
  void FindClose();

 private:
  // Fills FEntries as the port enumerates Pattern. Returns false when the
  // directory cannot be read.
  bool Gather(const std::string& Pattern, uint32_t ExcludeAttr);

  std::vector<TSearchRec> FEntries;
  size_t FNext = 0;
};

// The system's temporary directory, ending with a path delimiter. Buffer
// limits and failures follow the platform's own call; the result may be empty.
std::string GetTempPath();
// A unique file name in Dir made from Prefix (up to three characters) and a
// number, as the platform's temporary-name service makes it; when Unique is 0
// the file is created empty to reserve the name. Returns "" on failure.
std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, uint32_t Unique);

}  // namespace kv
