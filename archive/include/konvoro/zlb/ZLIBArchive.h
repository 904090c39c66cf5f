// TZLBArchive: the archive component that opens ZLB archives, verifies their
// CRC, loads their directory, hands out entries and extracts them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "konvoro/Component.h"
#include "konvoro/Streams.h"
#include "konvoro/StringList.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/CRC32.h"
#include "konvoro/zlb/ZLBFormat.h"
#include "konvoro/zlb/ZLBReader.h"

namespace kv {

enum class TFileCompressionLevel : uint8_t { fcNone, fcFastest, fcDefault, fcMaximum };

using TReplaceFileEvent = std::function<void(std::string Filename, bool& Replace)>;
using TFileExtractedEvent = std::function<void(std::string filename)>;
using TErrorLogEvent = std::function<void(std::string Msg)>;
using TProgressEvent = std::function<void(std::string Msg, int32_t Percentage)>;

// Where an archive is read from when it is not opened by its name. Each
// operation of the component that reads the archive asks for a stream of
// its own and lets it go before it returns.
class TArchiveSource {
 public:
  virtual ~TArchiveSource() = default;
  // A stream over the whole archive, standing at its start as a file just
  // opened. What it raises the component reports as "Unable to open file
  // (%s)".
  virtual std::unique_ptr<TStream> Open() = 0;
};

// An archive file that is open already and stays open: every read goes
// through a second handle on that very file, whatever has since become of
// its name. Its holder may thus check the file once and rely on what it
// checked.
class THeldFileSource : public TArchiveSource {
 public:
  // FileName names the file in texts only; it is never opened.
  THeldFileSource(std::string FileName, TFileHandle File)
      : FFileName(std::move(FileName)), FFile(std::move(File)) {}
  std::unique_ptr<TStream> Open() override;

 private:
  std::string FFileName;
  TFileHandle FFile;
};

// What DoProgress reports (OnProgress's Msg and Percentage).
enum class TProgressStage : uint8_t {
  psDirectory,    // the compressed directory inflating: message, done / total
  psExtract,      // an entry extracting: message, done / total
  psPosition,     // message, the source's position / total; no operation here enters it
  psPositionToo,  // as psPosition; no operation here enters it
  psCount,        // message, done / total; no operation here enters it
  psArchiveName,  // the archive's name and 0: an archive opened, extracted from or closed
};

// The component keeps no file open between calls: each operation that needs
// the archive opens it, allowing others to read but not to write, and closes
// it before returning; an archive opened from a source is asked for a stream
// instead. States: Closed (no name), Named-but-empty (a name that could not
// be opened) and Open (directory loaded).
class TZLBArchive : public TComponent {
 public:
  explicit TZLBArchive(TComponent* AOwner = nullptr);
  ~TZLBArchive() override;

  // Closes any open archive, then opens ArchiveFileName, verifies its CRC and
  // loads its directory. Returns false, raising nothing, for an empty name.
  // Raises EZLBArchiveError with "Archive file not found", "Unable to open
  // file (%s)", "The archive file appears to be corrupted" or "Unable to read
  // archive file list"; the last two leave the component Closed, the first
  // two Named-but-empty.
  bool OpenArchive(const std::string& ArchiveFileName);
  // As above, but with a Source the archive is read from it and never by
  // the name, which then serves the texts and reports only. The component
  // keeps Source until the archive is closed.
  bool OpenArchive(const std::string& ArchiveFileName, std::unique_ptr<TArchiveSource> Source);
  // Forgets the open archive and reports psArchiveName. Raises nothing of
  // its own.
  void CloseArchive();
  // The number of entries; raises "No archive is currently open" when Closed.
  int32_t GetFileCount() const;
  // Copies entry Index; raises "Index out of bounds".
  void GetFileEntry(int32_t Index, TZLBFileEntry& Entry) const;

  // Writes entry Index's original bytes into Dest from its current position
  // on, as ExtractEntry (ZLBReader.h) does, from the archive file opened for
  // this call; with CheckCRC, Dest is checked. Every chunk is reported in
  // psExtract. Returns true; raises "Index out of bounds", "Unable to
  // open file (%s)", or what ExtractEntry raises.
  bool ExtractToStream(int32_t Index, TStream& Dest);
  // Extracts entry Index into DestDir + "\" + its name, below its stored path
  // when ExtractWithPath is on. Raises "No archive is currently open", "Index
  // out of bounds", "File (%d) has an invalid name", "Unable to create
  // destination path", "Unable to create directory", the file-creation
  // failure, or what ExtractToStream raises (the target then stays on disk
  // holding what was written).
  void ExtractFile(const std::string& DestDir, int32_t Index);

  // A unique new file name with the prefix "ZLB" in the temporary directory.
  virtual std::string GetTempArchiveFileName();
  // Appends Dir's files (and, with RecursePaths, its subdirectories' files
  // before them; with SavePaths, the subdirectories too) to List.
  virtual void GetFileList(std::string Dir, TStrings& List);

  // Fills FCRCTable with the standard CRC-32 table.
  void BuildCRCTable();
  // The CRC-32 of Stream from position 0 to its size less Tail; the position
  // is left where it was.
  uint32_t StreamCRC32(TStream& Stream, int32_t Tail);
  // Reports progress through OnProgress as the progress stage selects;
  // Source serves psPosition and psPositionToo.
  void DoProgress(TStream* Source = nullptr);

  // The archive's name while one is open or named; "" when Closed.
  const std::string& GetArchiveFileName() const { return FFileName; }
  const TZLBArchiveTrailer& GetTrailer() const { return FTrailer; }

  TFileCompressionLevel GetCompressionLevel() const { return FCompressionLevel; }
  void SetCompressionLevel(TFileCompressionLevel Value) { FCompressionLevel = Value; }
  bool GetExtractWithPath() const { return FExtractWithPath; }
  void SetExtractWithPath(bool Value) { FExtractWithPath = Value; }
  bool GetCheckCRC() const { return FCheckCRC; }
  void SetCheckCRC(bool Value) { FCheckCRC = Value; }
  bool GetSavePaths() const { return FSavePaths; }
  void SetSavePaths(bool Value) { FSavePaths = Value; }
  bool GetRecursePaths() const { return FRecursePaths; }
  void SetRecursePaths(bool Value) { FRecursePaths = Value; }

  const TReplaceFileEvent& GetOnReplaceFile() const { return FOnReplaceFile; }
  void SetOnReplaceFile(TReplaceFileEvent Value) { FOnReplaceFile = std::move(Value); }
  const TFileExtractedEvent& GetOnFileExtracted() const { return FOnFileExtracted; }
  void SetOnFileExtracted(TFileExtractedEvent Value) { FOnFileExtracted = std::move(Value); }
  const TNotifyEvent& GetOnArchiveOpened() const { return FOnArchiveOpened; }
  void SetOnArchiveOpened(TNotifyEvent Value) { FOnArchiveOpened = std::move(Value); }
  const TFileExtractedEvent& GetOnStreamExtracted() const { return FOnStreamExtracted; }
  void SetOnStreamExtracted(TFileExtractedEvent Value) { FOnStreamExtracted = std::move(Value); }
  const TErrorLogEvent& GetOnErrorLogged() const { return FOnErrorLogged; }
  void SetOnErrorLogged(TErrorLogEvent Value) { FOnErrorLogged = std::move(Value); }
  const TProgressEvent& GetOnProgress() const { return FOnProgress; }
  void SetOnProgress(TProgressEvent Value) { FOnProgress = std::move(Value); }

  std::span<const TPropInfo> PublishedProperties() const override;

 protected:
  // What DoProgress reports next. The component's own operations set it as
  // they go; a descendant that reports in a stage of its own (2 to 4, which
  // no operation here enters) sets it so.
  void SetProgress(TProgressStage Stage, int32_t Done, int32_t Total, std::string Message);
  // The table that construction builds (BuildCRCTable).
  const TCRCTable& CRCTable() const { return FCRCTable; }

 private:
  // Opens the archive for one operation: from FSource when there is one,
  // else the file FFileName, allowing others to read but not to write.
  // Raises "Unable to open file (%s)" whatever the reason.
  std::unique_ptr<TStream> OpenArchiveFile() const;
  // Hooks that report a read through DoProgress in Stage with Message.
  TReadHooks ProgressHooks(TProgressStage Stage, std::string Message);
  void ListLevel(std::string Dir, TStrings& List);

  std::string FFileName;
  TZLBArchiveTrailer FTrailer;
  // A deque grows without moving what it holds: a directory never needs
  // twice its size while it is read.
  std::deque<TZLBFileEntry> FEntries;
  // Where the open archive is read from, when not from the file FFileName.
  std::unique_ptr<TArchiveSource> FSource;
  // Published and kept for those who read it; no reading operation does.
  TFileCompressionLevel FCompressionLevel = TFileCompressionLevel::fcDefault;
  bool FExtractWithPath = false;
  bool FRecursePaths = false;
  bool FSavePaths = false;
  bool FCheckCRC = false;
  // Built by every component when it is created, as the class has always
  // done; the component's own CRC-32 uses CRC32Update's faster tables.
  TCRCTable FCRCTable{};
  TProgressStage FProgressStage = TProgressStage::psDirectory;
  std::string FProgressMessage;
  int32_t FProgressTotal = 0;
  int32_t FProgressDone = 0;
  TReplaceFileEvent FOnReplaceFile;
  TFileExtractedEvent FOnFileExtracted;
  // Published and stored for handlers that expect them; nothing fires them.
  TFileExtractedEvent FOnStreamExtracted;
  TNotifyEvent FOnArchiveOpened;
  // Published and stored for handlers that expect it; nothing fires it.
  TErrorLogEvent FOnErrorLogged;
  TProgressEvent FOnProgress;
};

// round(Done / Total × 100) in extended precision, an exact half going to
// the even neighbour; 0 when Total is not positive.
int32_t ProgressPercentage(int64_t Done, int64_t Total);

// What keeps a name from being created as a file inside a directory and
// nowhere else.
enum class TNameFault : uint8_t {
  None,
  NotText,             // empty, "." or "..", or bytes that are no text of the code page
  ForbiddenCharacter,  // a path separator, drive colon, wildcard, reserved character or control
                       // byte
  TrailingDotOrBlank,  // Windows would drop it, naming another file
  DeviceName,          // CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, COM or LPT with a
                       // superscript 1-3, with or without an extension
};
// Name's fault, walked by character under Rules (the system's ANSI code
// page by default): the second byte of a double-byte character may be "\"
// or "|" and is part of that character, never a separator.
TNameFault EntryNameFault(std::string_view Name, const TCharRules& Rules = SystemAnsiRules());
// True when Name has no fault: it can be created as a file inside a
// directory and nowhere else.
bool IsSafeEntryName(std::string_view Name, const TCharRules& Rules = SystemAnsiRules());
// True when a stored path stays below the directory it is joined to: no ".."
// segment, no ":" and no control bytes, walked by character under Rules.
bool IsSafeEntryPath(std::string_view Path, const TCharRules& Rules = SystemAnsiRules());

}  // namespace kv
