// The file a command is given: a ZLB archive, or an updater; and where its
// entries' data lies.
#include "Input.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "Output.h"
#include "UpdaterPayload.h"
#include "konvoro/Files.h"
#include "konvoro/RangeStream.h"
#include "konvoro/Streams.h"
#include "konvoro/UniqueHandle.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBReader.h"

namespace zlbtool {

// The archive as Base gives it, except while one entry is read alone: its
// streams then end where that entry's data range ends.
class TConfinedSource : public kv::TArchiveSource {
 public:
  explicit TConfinedSource(std::unique_ptr<kv::TArchiveSource> Base) : FBase(std::move(Base)) {}
  std::unique_ptr<kv::TStream> Open() override {
    std::unique_ptr<kv::TStream> Stream = FBase->Open();
    if (!FEnd) return Stream;
    return std::make_unique<kv::TRangeStream>(std::move(Stream), 0, *FEnd);
  }
  void Confine(std::optional<int64_t> End) { FEnd = End; }

 private:
  std::unique_ptr<kv::TArchiveSource> FBase;
  std::optional<int64_t> FEnd;
};

// One stream of the archive read at given positions from several threads,
// one read at a time.
class TSharedReads {
 public:
  explicit TSharedReads(std::unique_ptr<kv::TStream> Stream) : FStream(std::move(Stream)) {}
  // Up to Count bytes from Position on; fewer at the end of the archive, or
  // when a read fails, whose reason goes to Error.
  int32_t ReadAt(int64_t Position, void* Buffer, int32_t Count, std::error_code& Error) {
    const std::lock_guard Lock(FLock);
    if (FStream->Seek(Position, kv::TSeekOrigin::soBeginning) != Position) {
      Error = FStream->Error();
      return 0;
    }
    int32_t Done = 0;
    while (Done < Count) {
      const int32_t Got = FStream->Read(static_cast<uint8_t*>(Buffer) + Done, Count - Done);
      if (Got <= 0) break;
      Done += Got;
    }
    Error = FStream->Error();
    return Done;
  }

 private:
  std::mutex FLock;
  std::unique_ptr<kv::TStream> FStream;
};

namespace {

// The archive up to End, as TSharedReads gives it, read ahead in pieces of
// its own so that threads take the lock seldom.
class TEntryStream : public kv::TStream {
 public:
  static constexpr int32_t PieceSize = 64 * 1024;

  TEntryStream(TSharedReads& Shared, int64_t End) : FShared(Shared), FEnd(End), FPiece(PieceSize) {}

  int32_t Read(void* Buffer, int32_t Count) override {
    int32_t Done = 0;
    SetError({});
    while (Done < Count && FPosition < FEnd) {
      if (FPosition < FPieceAt || FPosition >= FPieceAt + FPieceLength) {
        std::error_code Error;
        FPieceAt = FPosition;
        FPieceLength =
            FShared.ReadAt(FPosition, FPiece.data(),
                           int32_t(std::min<int64_t>(PieceSize, FEnd - FPosition)), Error);
        SetError(Error);
        if (FPieceLength == 0) break;
      }
      const auto Taken =
          int32_t(std::min<int64_t>(Count - Done, FPieceAt + FPieceLength - FPosition));
      std::memcpy(static_cast<uint8_t*>(Buffer) + Done, FPiece.data() + (FPosition - FPieceAt),
                  size_t(Taken));
      Done += Taken;
      FPosition += Taken;
    }
    return Done;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, kv::TSeekOrigin Origin) override {
    const int64_t Position = SeekBase(Origin, FPosition, FEnd) + Offset;
    if (Position < 0) return -1;
    FPosition = Position;
    return FPosition;
  }
  int64_t GetSize() override { return FEnd; }

 private:
  TSharedReads& FShared;
  int64_t FEnd;
  int64_t FPosition = 0;
  std::vector<uint8_t> FPiece;
  int64_t FPieceAt = 0;
  int32_t FPieceLength = 0;
};

// The archive in File, open as Handle: the file itself, or the payload of
// the updater it is.
std::unique_ptr<kv::TArchiveSource> ArchiveIn(const std::string& File, kv::TFileHandle Handle) {
  kv::THeldFileSource Held(File, std::move(Handle));
  kv::payload::TPayloadLocation Location;
  try {
    Location = kv::payload::LocatePayload(*Held.Open());
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(File + ": " + E.Message());
  }
  if (!Location.IsImage) return std::make_unique<kv::THeldFileSource>(std::move(Held));
  if (!Location.Archive) throw kv::Exception(File + ": " + kv::payload::NoPayloadMessage());
  return std::make_unique<kv::payload::TEmbeddedArchiveSource>(std::move(Held), *Location.Archive);
}

// Where an entry's extraction reads, as the directory tells. A stored entry
// reads its OriginalSize bytes from DataOffset. A compressed entry reads
// its zlib stream from DataOffset, and the directory does not tell where
// that ends: CompressedSize is the writer's word, which the component never
// reads, so nothing here trusts it either. Its range is taken to run to
// where the next entry's data starts (or the archive ends), which is where
// the component's writer ends it, and ReadEntry holds its reads to that:
// a stream that runs on into another entry's data fails as corrupt rather
// than share it. An entry that reads nothing (stored and empty, or placed
// outside the archive, which extraction refuses before it reads) has none.
struct TDataStart {
  int64_t Start;
  int32_t Index;
  std::optional<int64_t> StoredEnd;
};

}  // namespace

namespace {

kv::TFileHandle Opened(const std::string& File) {
  kv::TErrorOr<kv::TFileHandle> Handle = kv::FileOpen(File, kv::fmOpenRead | kv::fmShareDenyWrite);
  if (!Handle) throw kv::Exception(File + ": " + Handle.Error().message());
  return std::move(*Handle);
}

}  // namespace

TInput::TInput(kv::TZLBArchive& Archive, const std::string& File, const TParsedArgs& Parsed)
    : TInput(Archive, File, Opened(File), Parsed) {}

TInput::TInput(kv::TZLBArchive& Archive, const std::string& File, kv::TFileHandle Handle,
               const TParsedArgs& Parsed)
    : FFile(File), FSource(nullptr) {
  auto Source = std::make_unique<TConfinedSource>(ArchiveIn(File, std::move(Handle)));
  FSource = Source.get();
  std::unique_ptr<kv::TStream> Whole = Source->Open();
  const int64_t Size = Whole->GetSize();
  FSize = Size;
  try {
    Archive.OpenArchive(File, std::move(Source));
  } catch (const kv::EZLBArchiveError& E) {
    // Which CRC fails, as a tool that diagnoses archives says it.
    std::string Text = E.Message();
    if (Text == kv::messages::SArchiveCorrupted) {
      Whole->SetPosition(0);
      const kv::TTrailerCheck Check = kv::CheckTrailer(*Whole);
      if (!Check.ReadError)
        Text += Printf(": the CRC-32 of its bytes is %08x, the trailer records %08x",
                       Check.ComputedCRC, Check.Trailer.ArchiveCRC);
    }
    throw kv::Exception(File + ": " + Text + kv::FailureCauses(E));
  }
  FCodec = TNameCodec(ReadingCodePage(Parsed, Archive.GetTrailer()));
  FShared = std::make_unique<TSharedReads>(std::move(Whole));

  // Sorted by where they start, each range ends no later than the next
  // begins; otherwise the two share data.
  const int32_t Count = Archive.GetFileCount();
  std::vector<TDataStart> Starts;
  kv::TZLBFileEntry Entry;
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    if (Entry.DataOffset < 0 || Entry.DataOffset >= Size || Entry.OriginalSize < 0) continue;
    if (Entry.Stored == 0)
      Starts.push_back({Entry.DataOffset, I, std::nullopt});
    else if (Entry.OriginalSize > 0)
      Starts.push_back({Entry.DataOffset, I,
                        std::min<int64_t>(int64_t(Entry.DataOffset) + Entry.OriginalSize, Size)});
  }
  std::sort(Starts.begin(), Starts.end(), [](const TDataStart& A, const TDataStart& B) {
    return A.Start != B.Start ? A.Start < B.Start : A.Index < B.Index;
  });
  FEnds.assign(size_t(Count), std::nullopt);
  for (size_t K = 0; K < Starts.size(); ++K) {
    const int64_t Next = K + 1 < Starts.size() ? Starts[K + 1].Start : Size;
    const int64_t End = Starts[K].StoredEnd.value_or(Next);
    FEnds[size_t(Starts[K].Index)] = End;
    if (FOverlap || K + 1 == Starts.size() || (Next != Starts[K].Start && End <= Next)) continue;
    // Each range holds a byte at least, so equal starts overlap too.
    const int32_t A = std::min(Starts[K].Index, Starts[K + 1].Index);
    const int32_t B = std::max(Starts[K].Index, Starts[K + 1].Index);
    std::string Names[2];
    for (const int32_t I : {A, B}) {
      Archive.GetFileEntry(I, Entry);
      Names[I == A ? 0 : 1] = Shown(Entry);
    }
    FOverlap = "entries " + std::to_string(A) + " (" + Names[0] + ") and " + std::to_string(B) +
               " (" + Names[1] + ") share their data: each entry's data must lie apart from " +
               "every other's";
  }
}

TInput::~TInput() = default;

std::string TInput::Shown(const kv::TZLBFileEntry& Entry) const {
  return FCodec.Shown(JoinedName(Entry, FCodec.Rules()));
}

void TInput::RequireDataApart() const {
  if (FOverlap) throw kv::Exception(FFile + ": " + *FOverlap);
}

void TInput::ReadEntry(int32_t Index, const std::function<void()>& Read) {
  FSource->Confine(FEnds.at(size_t(Index)));
  const auto Release = kv::ScopeExit([this] { FSource->Confine(std::nullopt); });
  Read();
}

std::unique_ptr<kv::TStream> TInput::OpenEntry(int32_t Index) {
  return std::make_unique<TEntryStream>(*FShared, FEnds.at(size_t(Index)).value_or(FSize));
}

}  // namespace zlbtool
