// TZLBArchive: extraction of entries into streams and files, and the checks
// that keep an entry's name and stored path inside the destination.
#include <algorithm>

#include "ArchiveMessages.h"
#include "Format.h"
#include "Text.h"
#include "ZLIBArchive.h"

namespace kv {

namespace {

// Device names that Windows reserves in every directory, also with an
// extension and with blanks before it: CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// and COM and LPT followed by a digit 0-9 or a superscript 1, 2 or 3. The
// superscripts are those bytes in code page 1252; they are refused in every
// code page, since a rare harmless name refused costs less than one device
// name let through.
bool IsReservedDeviceName(std::string_view Name) {
  std::string_view Stem = Name.substr(0, Name.find('.'));
  while (!Stem.empty() && Stem.back() == ' ')
    Stem.remove_suffix(1);
  for (const char* Device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameText(Stem, Device)) return true;
  if (Stem.size() != 4 ||
      !(SameText(Stem.substr(0, 3), "COM") || SameText(Stem.substr(0, 3), "LPT")))
    return false;
  const char Last = Stem[3];
  return (Last >= '0' && Last <= '9') || Last == '\xB9' || Last == '\xB2' || Last == '\xB3';
}

}  // namespace

bool IsSafeEntryName(std::string_view Name) {
  if (Name.empty() || Name == "." || Name == "..") return false;
  for (const char C : Name) {
    if (static_cast<unsigned char>(C) < 0x20) return false;
    if (std::string_view("\\/:*?\"<>|").find(C) != std::string_view::npos) return false;
  }
  if (Name.back() == ' ' || Name.back() == '.') return false;
  return !IsReservedDeviceName(Name);
}

bool IsSafeEntryPath(std::string_view Path) {
  for (const char C : Path)
    if (static_cast<unsigned char>(C) < 0x20 || C == ':') return false;
  // Windows drops trailing dots and blanks from a path segment, so "..." and
  // ".. " climb like ".." does.
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find_first_of("\\/", Start);
    if (End == std::string_view::npos) End = Path.size();
    const std::string_view Segment = Path.substr(Start, End - Start);
    const bool OnlyDotsAndBlanks = Segment.find_first_not_of(". ") == std::string_view::npos;
    if (OnlyDotsAndBlanks && std::count(Segment.begin(), Segment.end(), '.') >= 2) return false;
    Start = End + 1;
  }
  return true;
}

bool TZLBArchive::ExtractToStream(int32_t Index, TStream& Dest) {
  TZLBFileEntry Entry;
  GetFileEntry(Index, Entry);
  const std::unique_ptr<TStream> File = OpenArchiveFile();
  ExtractEntry(*File, Entry, Index, Dest, FCheckCRC,
               ProgressHooks(TProgressStage::psExtract,
                             Format(messages::SExtractingFile, Entry.FileName.View())));
  return true;
}

void TZLBArchive::ExtractFile(const std::string& DestDir, int32_t Index) {
  if (FFileName.empty()) throw EZLBArchiveError(messages::SNoArchiveOpen);
  if (Index < 0 || size_t(Index) >= FEntries.size())
    throw EZLBArchiveError(messages::SIndexOutOfBounds);
  TZLBFileEntry Entry;
  GetFileEntry(Index, Entry);

  // Refused before anything is created: such a name would land outside
  // DestDir, in an alternate data stream or on a device.
  const std::string Name = Entry.FileName.ToString();
  if (!IsSafeEntryName(Name)) throw EZLBArchiveError(Format(messages::SFileInvalidName, Index));

  std::string Path = DestDir;
  if (FExtractWithPath) {
    const std::string StoredPath = Entry.FilePath.ToString();
    if (!IsSafeEntryPath(StoredPath)) throw EZLBArchiveError(messages::SUnableToCreateDestPath);
    Path += StoredPath;
    std::string Collapsed;
    Collapsed.reserve(Path.size());
    for (const char C : Path)
      if (!(C == '\\' && !Collapsed.empty() && Collapsed.back() == '\\')) Collapsed.push_back(C);
    Path = std::move(Collapsed);
    if (!Path.empty() && Path.back() == '\\') Path.pop_back();
    // The reason is not told: the test below decides, as the class library's
    // callers have always done.
    (void)ForceDirectories(Path);
    if (!DirectoryExists(Path)) throw EZLBArchiveError(messages::SUnableToCreateDestPath);
  }
  const std::string Target = Path + "\\" + Name;

  bool Replace = true;
  if (FileExists(Target) && FOnReplaceFile) {
    Replace = false;
    FOnReplaceFile(Target, Replace);
  }
  if (Replace) {
    // Chunks are gathered and written out in large pieces: all of them by
    // ExtractToStream's flush, or, after a failure, what was gathered before
    // it when the file is closed.
    TBufferedFileStream Out(Target, fmCreate);
    if (ExtractToStream(Index, Out) && FOnFileExtracted) FOnFileExtracted(DestDir + Name);
  }

  FProgressStage = TProgressStage::psArchiveName;
  DoProgress();
}

}  // namespace kv
