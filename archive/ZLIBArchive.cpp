// TZLBArchive: opening, validating and listing ZLB archives, progress
// reports and the published-property table.
#include "konvoro/zlb/ZLIBArchive.h"

#include <cmath>

#include "konvoro/ClassMessages.h"
#include "konvoro/Format.h"
#include "konvoro/zlb/ArchiveMessages.h"

namespace kv {

namespace {

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
}

uint32_t TZLBArchive::StreamCRC32(TStream& Stream, int32_t Tail) {
  return kv::StreamCRC32(Stream, Tail);
}

void TZLBArchive::DoProgress(TStream* Source) {
  if (IsDestroying() || !FOnProgress) return;
  switch (FProgressStage) {
    case TProgressStage::psDirectory:
    case TProgressStage::psExtract:
    case TProgressStage::psCount:
      FOnProgress(FProgressMessage, ProgressPercentage(FProgressDone, FProgressTotal));
      break;
    case TProgressStage::psPosition:
    case TProgressStage::psPositionToo:
      FOnProgress(FProgressMessage,
                  ProgressPercentage(Source ? Source->GetPosition() : 0, FProgressTotal));
      break;
    case TProgressStage::psArchiveName:
      FOnProgress(FFileName, 0);
      break;
  }
}

void TZLBArchive::SetProgress(TProgressStage Stage, int32_t Done, int32_t Total,
                              std::string Message) {
  FProgressStage = Stage;
  FProgressDone = Done;
  FProgressTotal = Total;
  FProgressMessage = std::move(Message);
}

std::unique_ptr<TStream> THeldFileSource::Open() {
  TErrorOr<TFileHandle> Copy = FileDuplicate(FFile);
  if (!Copy)
    throw EFOpenError(Format(messages::SFOpenErrorEx, FFileName, Copy.Error().message()),
                      Copy.Error());
  auto Stream = std::make_unique<TFileStream>(FFileName, std::move(*Copy));
  // The handles share one position, which the last operation left anywhere.
  if (Stream->Seek(0, TSeekOrigin::soBeginning) != 0)
    throw EReadError(messages::SReadError, Stream->Error());
  return Stream;
}

std::unique_ptr<TStream> TZLBArchive::OpenArchiveFile() const {
  try {
    if (FSource) return FSource->Open();
    return std::make_unique<TFileStream>(FFileName, fmOpenRead | fmShareDenyWrite);
  } catch (...) {
    // Whatever the reason (the file, a source's own failure, memory), the
    // component's own text, with the failure nested as its cause.
    std::throw_with_nested(EZLBArchiveError(Format(messages::SUnableToOpenFile, FFileName)));
  }
}

TReadHooks TZLBArchive::ProgressHooks(TProgressStage Stage, std::string Message) {
  return {.Started = [this, Stage, Message = std::move(Message)](
                         int32_t Total) { SetProgress(Stage, 0, Total, Message); },
          .ChunkRead =
              [this](int32_t Delivered) {
                FProgressDone += Delivered;
                DoProgress();
              }};
}

bool TZLBArchive::OpenArchive(const std::string& ArchiveFileName) {
  return OpenArchive(ArchiveFileName, nullptr);
}

bool TZLBArchive::OpenArchive(const std::string& ArchiveFileName,
                              std::unique_ptr<TArchiveSource> Source) {
  const bool FromSource = Source != nullptr;
  CloseArchive();
  FFileName = ArchiveFileName;
  if (ArchiveFileName.empty()) return false;
  FSource = std::move(Source);
  // A source stands for the file; its name is never looked up.
  if (!FromSource && !FileExists(ArchiveFileName))
    throw EZLBArchiveError(messages::SArchiveNotFound);

  {
    const std::unique_ptr<TStream> File = OpenArchiveFile();
    try {
      FTrailer = ReadTrailer(*File);
    } catch (const EZLBArchiveError&) {
      FFileName.clear();  // FTrailer stays all zero
      FSource.reset();
      throw;
    }
    try {
      // The entries join the list once the whole directory has been read: a
      // progress handler never sees a list partly filled.
      std::deque<TZLBFileEntry> Entries;
      ReadDirectory(*File, FTrailer, Entries,
                    ProgressHooks(TProgressStage::psDirectory, messages::SExtractingRegistry));
      FEntries = std::move(Entries);
      if (FOnArchiveOpened) FOnArchiveOpened(this);
    } catch (...) {
      // A guarded stretch: whatever fails while the directory is read or in
      // OnArchiveOpened closes the archive and becomes the list error, with
      // the failure nested as its cause.
      CloseArchive();
      std::throw_with_nested(EZLBArchiveError(messages::SUnableToReadFileList));
    }
  }

  FProgressStage = TProgressStage::psArchiveName;
  DoProgress();
  return true;
}

void TZLBArchive::CloseArchive() {
  FEntries.clear();
  FEntries.shrink_to_fit();  // a large directory gives its memory back
  FTrailer = TZLBArchiveTrailer();
  FFileName.clear();
  FSource.reset();
  FProgressStage = TProgressStage::psArchiveName;
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
