// TZLBArchive: opening, validating and listing ZLB archives, progress
// reports and the published-property table.
#include "ZLIBArchive.h"

#include <array>
#include <cmath>
#include <optional>

#include "ArchiveMessages.h"
#include "DecompressionStream.h"
#include "Format.h"

namespace kv {

namespace {

constexpr int32_t CRCChunkSize = 10240;
constexpr int32_t DirectoryChunkSize = 4096;
// Every offset, size and count of the format is a signed 32-bit value.
constexpr int64_t MaxDirectoryBytes = int64_t(1) << 31;

constexpr TIdentMapEntry CompressionLevelNames[] = {
    {0, "fcNone"}, {1, "fcFastest"}, {2, "fcDefault"}, {3, "fcMaximum"}};

}  // namespace

int32_t ProgressPercentage(int64_t Done, int64_t Total) {
  if (Total <= 0) return 0;
  const long double Quotient =
      static_cast<long double>(Done) / static_cast<long double>(Total) * 100.0L;
  long double Whole = std::floor(Quotient);
  const long double Fraction = Quotient - Whole;
  if (Fraction > 0.5L || (Fraction == 0.5L && std::fmod(Whole, 2.0L) != 0.0L)) Whole += 1.0L;
  return static_cast<int32_t>(Whole);
}

TZLBArchive::TZLBArchive(TComponent* AOwner) : TComponent(AOwner) {
  BuildCRCTable();
}

TZLBArchive::~TZLBArchive() {
  Destroying();
  if (!FFileName.empty()) CloseArchive();
}

void TZLBArchive::BuildCRCTable() {
  FillCRCTable(FCRCTable);
  FillCRCSliceTables(FCRCTable, FCRCSlices);
}

uint32_t TZLBArchive::StreamCRC32(TStream& Stream, int32_t Tail) {
  const int64_t Saved = Stream.GetPosition();
  Stream.Seek(0, TSeekOrigin::soBeginning);
  int64_t Remaining = Stream.GetSize() - Tail;
  uint32_t Register = 0xFFFFFFFFu;
  std::array<uint8_t, CRCChunkSize> Buffer;
  while (Remaining > 0) {
    const auto Chunk = static_cast<int32_t>(std::min<int64_t>(Remaining, CRCChunkSize));
    const int32_t Got = Stream.Read(Buffer.data(), Chunk);
    if (Got > 0)
      Register = CRC32Update(FCRCTable, FCRCSlices, Register, Buffer.data(), size_t(Got));
    // A short read still uses up the chunk, so the loop always ends.
    Remaining -= Chunk;
  }
  Stream.Seek(Saved, TSeekOrigin::soBeginning);
  return ~Register;
}

void TZLBArchive::DoProgress(TStream* Source) {
  if (IsDestroying() || !FOnProgress) return;
  switch (FProgressStage) {
    case 0:
    case 1:
    case 4:
      FOnProgress(FProgressMessage, ProgressPercentage(FProgressDone, FProgressTotal));
      break;
    case 2:
    case 3:
      FOnProgress(FProgressMessage,
                  ProgressPercentage(Source ? Source->GetPosition() : 0, FProgressTotal));
      break;
    case 5:
      FOnProgress(FFileName, 0);
      break;
    default:
      break;
  }
}

bool TZLBArchive::OpenArchive(const std::string& ArchiveFileName) {
  CloseArchive();
  FFileName = ArchiveFileName;
  if (ArchiveFileName.empty()) return false;
  if (!FileExists(ArchiveFileName)) throw EZLBArchiveError(messages::SArchiveNotFound);

  std::optional<TFileStream> File;
  try {
    File.emplace(ArchiveFileName, fmOpenRead | fmShareDenyWrite);
  } catch (...) {
    throw EZLBArchiveError(Format(messages::SUnableToOpenFile, ArchiveFileName));
  }

  const uint32_t ComputedCRC = StreamCRC32(*File, TZLBArchiveTrailer::Size);
  // A file shorter than the trailer cannot be positioned before its start:
  // the seek fails, the file stays at 0 and the trailer is filled from there
  // as far as the file reaches, zero beyond.
  std::array<uint8_t, TZLBArchiveTrailer::Size> Raw{};
  File->Seek(-int64_t(TZLBArchiveTrailer::Size), TSeekOrigin::soEnd);
  File->Read(Raw.data(), int32_t(Raw.size()));
  FTrailer = TZLBArchiveTrailer::Decode(Raw);

  if (ComputedCRC != FTrailer.ArchiveCRC) {
    FFileName.clear();
    FTrailer = TZLBArchiveTrailer();
    throw EZLBArchiveError(messages::SArchiveCorrupted);
  }

  try {
    ReadDirectory(*File);
    if (FOnArchiveOpened) FOnArchiveOpened(this);
  } catch (...) {
    CloseArchive();
    throw EZLBArchiveError(messages::SUnableToReadFileList);
  }
  File.reset();

  FProgressStage = 5;
  DoProgress();
  return true;
}

// Loads FTrailer.FileCount records from the directory block. Any failure
// raises; the caller turns it into "Unable to read archive file list". The
// count is never trusted on its own: a raw directory must fit in the file
// before anything is allocated, and a compressed one is collected only as
// far as it really inflates and must end right after the last record, with
// a matching check value.
void TZLBArchive::ReadDirectory(TStream& File) {
  const int32_t Count = FTrailer.FileCount;
  const int64_t DirectoryBytes = int64_t(Count) * int64_t(TZLBFileEntry::Size);
  if (Count < 0 || DirectoryBytes >= MaxDirectoryBytes)
    throw EZLBArchiveError(messages::SUnableToReadFileList);
  if (Count == 0) return;  // nothing is read, wherever the directory claims to be
  if (FTrailer.DirectoryOffset < 0) throw EZLBArchiveError(messages::SUnableToReadFileList);

  if (FTrailer.DirectoryCompressed == 0) {
    if (FTrailer.DirectoryOffset + DirectoryBytes > File.GetSize())
      throw EZLBArchiveError(messages::SUnableToReadFileList);
    File.Seek(FTrailer.DirectoryOffset, TSeekOrigin::soBeginning);
    std::array<uint8_t, TZLBFileEntry::Size> Record;
    for (int32_t I = 0; I < Count; ++I) {
      File.ReadBuffer(Record.data(), int32_t(Record.size()));
      FEntries.push_back(TZLBFileEntry::Decode(Record));
    }
    return;
  }

  File.Seek(FTrailer.DirectoryOffset, TSeekOrigin::soBeginning);
  // Records are decoded as the directory inflates, so that memory holds the
  // entries only, and only as many as really arrive.
  std::array<uint8_t, TZLBFileEntry::Size> Record;
  size_t RecordHave = 0;
  TDecompressionStream Inflater(File);
  int64_t Remaining = DirectoryBytes;
  FProgressStage = 0;
  FProgressTotal = int32_t(DirectoryBytes);
  FProgressDone = 0;
  FProgressMessage = messages::SExtractingRegistry;
  while (Remaining > 0) {
    const auto Chunk = int32_t(std::min<int64_t>(Remaining, DirectoryChunkSize));
    try {
      std::vector<uint8_t> Buffer(size_t(Chunk), 0);
      const int32_t Got = Inflater.Read(Buffer.data(), Chunk);
      FProgressDone += Got;
      DoProgress();
      for (int32_t At = 0; At < Got;) {
        const size_t Take = std::min(Record.size() - RecordHave, size_t(Got - At));
        std::copy_n(Buffer.begin() + At, Take, Record.begin() + RecordHave);
        RecordHave += Take;
        At += int32_t(Take);
        if (RecordHave == Record.size()) {
          FEntries.push_back(TZLBFileEntry::Decode(Record));
          RecordHave = 0;
        }
      }
      // A directory that ends early has no more records to give.
      if (Got < Chunk) throw EZLBArchiveError(messages::SUnableToReadFileList);
    } catch (...) {
      throw EZLBArchiveError(messages::SUnableToReadFileList);
    }
    Remaining -= Chunk;
  }
  // As for entries: damage that still inflates to the right length shows up
  // only at the end of the zlib stream.
  if (!Inflater.EndsHere()) throw EZLBArchiveError(messages::SUnableToReadFileList);
}

void TZLBArchive::CloseArchive() {
  FEntries.clear();
  FEntries.shrink_to_fit();  // a large directory gives its memory back
  FTrailer = TZLBArchiveTrailer();
  FFileName.clear();
  FProgressStage = 5;
  DoProgress();
}

int32_t TZLBArchive::GetFileCount() const {
  if (FFileName.empty()) throw EZLBArchiveError(messages::SNoArchiveOpen);
  return int32_t(FEntries.size());
}

void TZLBArchive::GetFileEntry(int32_t Index, TZLBFileEntry& Entry) const {
  if (Index < 0 || size_t(Index) >= FEntries.size())
    throw EZLBArchiveError(messages::SIndexOutOfBounds);
  Entry = FEntries[size_t(Index)];
}

std::span<const TPropInfo> TZLBArchive::PublishedProperties() const {
  using namespace published;
  using A = TZLBArchive;
  static constexpr TPropInfo Properties[] = {
      EnumProperty<&A::GetCompressionLevel, &A::SetCompressionLevel, CompressionLevelNames>(
          "CompressionLevel", "TFileCompressionLevel", "fcDefault"),
      BooleanProperty<&A::GetExtractWithPath, &A::SetExtractWithPath>("ExtractWithPath", "False"),
      BooleanProperty<&A::GetCheckCRC, &A::SetCheckCRC>("CheckCRC", "False"),
      BooleanProperty<&A::GetSavePaths, &A::SetSavePaths>("SavePaths", "False"),
      BooleanProperty<&A::GetRecursePaths, &A::SetRecursePaths>("RecursePaths", "False"),
      EventProperty<&A::GetOnReplaceFile, &A::SetOnReplaceFile>(
          "OnReplaceFile", "TReplaceFileEvent", "Filename: string; var Replace: Boolean"),
      EventProperty<&A::GetOnFileExtracted, &A::SetOnFileExtracted>(
          "OnFileExtracted", "TFileExtractedEvent", "filename: string"),
      EventProperty<&A::GetOnArchiveOpened, &A::SetOnArchiveOpened>(
          "OnArchiveOpened", "TNotifyEvent", "Sender: TObject"),
      EventProperty<&A::GetOnStreamExtracted, &A::SetOnStreamExtracted>(
          "OnStreamExtracted", "TFileExtractedEvent", "filename: string"),
      EventProperty<&A::GetOnErrorLogged, &A::SetOnErrorLogged>("OnErrorLogged", "TErrorLogEvent",
                                                                "Msg: string"),
      EventProperty<&A::GetOnProgress, &A::SetOnProgress>("OnProgress", "TProgressEvent",
                                                          "Msg: string; Percentage: Integer"),
  };
  return Properties;
}

}  // namespace kv
