// TZLBArchiveWriter: writes ZLB archives.
#include "ZLBWriter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/CRC32.h"

namespace kv {

namespace {

constexpr size_t ReadSize = 65536;
// Output goes on in pieces of this size (the last of an entry shorter).
constexpr size_t PieceSize = 65536;
// What each compressing thread may hold back of entries not yet to be
// written, and the next entry's own backlog while it is written.
constexpr size_t HeldBackPerThread = size_t(4) << 20;
constexpr size_t NextEntryBacklog = 16 * PieceSize;
constexpr int64_t Limit = int64_t(1) << 31;
constexpr uint8_t LevelStored = 0;   // fcNone
constexpr uint8_t LevelDefault = 2;  // fcDefault

// A zlib deflater that is always ended.
class TDeflater {
 public:
  TDeflater() {
    if (deflateInit(&Z, Z_DEFAULT_COMPRESSION) != Z_OK) throw Exception(messages::SDeflateFailed);
  }
  ~TDeflater() { deflateEnd(&Z); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  z_stream Z{};
};

void CheckLimit(int64_t Value) {
  if (Value >= Limit) throw Exception(messages::SArchiveTooLarge);
}

// Reads up to Count bytes; 0 only at the end of the data. A read that fails
// raises with its reason.
int32_t ReadSome(TStream& Source, uint8_t* Buffer, int32_t Count) {
  const int32_t Got = Source.Read(Buffer, Count);
  if (Got < 0 || (Got == 0 && Source.Error()))
    throw EReadError(messages::SReadError, Source.Error());
  return Got;
}

// Receives an entry's output piece by piece, with the source bytes read so
// far.
using TPieceSink = std::function<void(std::span<const uint8_t> Piece, int64_t SourceBytes)>;

// What an entry's data came to.
struct TEncoded {
  uint32_t CRC = 0;
  int64_t Size = 0;    // bytes read
  int64_t Packed = 0;  // bytes put out
};

TEncoded Copy(TStream& Source, const TPieceSink& Sink) {
  const auto Buffer = std::make_unique_for_overwrite<uint8_t[]>(PieceSize);
  TEncoded Result;
  while (const int32_t Got = ReadSome(Source, Buffer.get(), int32_t(PieceSize))) {
    Result.CRC = CRC32Update(Result.CRC, {Buffer.get(), size_t(Got)});
    Result.Size += Got;
    CheckLimit(Result.Size);
    Sink({Buffer.get(), size_t(Got)}, Result.Size);
  }
  Result.Packed = Result.Size;
  return Result;
}

// One zlib stream at the default level. Its bytes do not depend on how the
// input is read or the output cut, as long as nothing is flushed before the
// end.
TEncoded Deflate(TStream& Source, const TPieceSink& Sink) {
  TDeflater Deflater;
  z_stream& Z = Deflater.Z;
  const auto In = std::make_unique_for_overwrite<uint8_t[]>(ReadSize);
  const auto Out = std::make_unique_for_overwrite<uint8_t[]>(PieceSize);
  TEncoded Result;
  Z.next_out = Out.get();
  Z.avail_out = uInt(PieceSize);
  int Flush = Z_NO_FLUSH;
  do {
    const int32_t Got = ReadSome(Source, In.get(), int32_t(ReadSize));
    Result.CRC = CRC32Update(Result.CRC, {In.get(), size_t(Got)});
    Result.Size += Got;
    CheckLimit(Result.Size);
    Flush = Got == 0 ? Z_FINISH : Z_NO_FLUSH;
    Z.next_in = In.get();
    Z.avail_in = uInt(Got);
    // Until the input is taken (or the stream ended): only a full output
    // buffer stops deflate sooner.
    for (;;) {
      const int Status = deflate(&Z, Flush);
      if (Status == Z_STREAM_ERROR) throw Exception(messages::SDeflateFailed);
      if (Z.avail_out != 0) break;
      Sink({Out.get(), PieceSize}, Result.Size);
      Result.Packed += int64_t(PieceSize);
      Z.next_out = Out.get();
      Z.avail_out = uInt(PieceSize);
    }
  } while (Flush != Z_FINISH);
  const size_t Rest = PieceSize - Z.avail_out;
  if (Rest > 0) Sink({Out.get(), Rest}, Result.Size);
  Result.Packed += int64_t(Rest);
  return Result;
}

TEncoded Encode(TStream& Source, bool Stored, const TPieceSink& Sink) {
  return Stored ? Copy(Source, Sink) : Deflate(Source, Sink);
}

// An entry's record before its data is written: names and how it is held.
TZLBFileEntry NewRecord(std::string_view FileName, std::string_view FilePath, bool Stored) {
  TZLBFileEntry Entry;
  Entry.FileName = TShortString::FromString(FileName);
  Entry.FilePath = TShortString::FromString(FilePath);
  Entry.Stored = Stored ? 1 : 0;
  Entry.Level = Stored ? LevelStored : LevelDefault;
  return Entry;
}

void CompleteRecord(TZLBFileEntry& Entry, const TEncoded& Encoded) {
  Entry.OriginalSize = int32_t(Encoded.Size);
  Entry.CompressedSize = uint32_t(Encoded.Packed);
  Entry.FileCRC = Encoded.CRC;
}

std::unique_ptr<TStream> OpenSource(const TZLBEntrySource& Source) {
  std::unique_ptr<TStream> Stream = Source.Open();
  if (!Stream) throw Exception(messages::SNoEntryStream);
  return Stream;
}

}  // namespace

// Compresses entries on worker threads while the calling thread writes
// them, in order. Workers start entries in order; a worker whose entry is
// not the next to be written holds its output back while the threads'
// common allowance lasts, then waits. The next entry's worker never waits
// for the allowance, so the writing always goes on.
class TZLBArchiveWriter::TParallelEntries {
 public:
  TParallelEntries(TZLBArchiveWriter& Writer, std::span<const TZLBEntrySource> Sources,
                   const TZLBAddOptions& Options, unsigned Threads)
      : FWriter(Writer),
        FSources(Sources),
        FOptions(Options),
        FThreads(Threads),
        FHoldLimit(Threads * HeldBackPerThread),
        FJobs(Sources.size()) {}
  // Stops the workers: those still compressing give up at their next piece.
  ~TParallelEntries() {
    {
      const std::lock_guard Lock(FLock);
      FStopping = true;
    }
    FWorkersWake.notify_all();
    FWorkers.clear();
  }
  TParallelEntries(const TParallelEntries&) = delete;
  TParallelEntries& operator=(const TParallelEntries&) = delete;

  void Run();

 private:
  struct TPiece {
    std::vector<uint8_t> Bytes;
    int64_t SourceBytes = 0;
  };
  struct TJob {
    std::deque<TPiece> Pieces;
    size_t Held = 0;
    bool Done = false;
    std::exception_ptr Failure;
    TZLBFileEntry Entry;  // complete but for DataOffset, once Done without Failure
  };
  // A worker leaves an entry whose output will never be written.
  struct TGivenUp {};

  void Work();
  void Compress(size_t Index);
  void Hold(size_t Index, std::span<const uint8_t> Piece, int64_t SourceBytes);
  bool GivenUp(size_t Index) const { return FStopping || Index > FFirstFailed; }
  bool MayHold(size_t Index, size_t Length) const {
    if (Index == FNextToWrite) return FJobs[Index].Held < NextEntryBacklog;
    return FHeld + Length <= FHoldLimit;
  }

  TZLBArchiveWriter& FWriter;
  const std::span<const TZLBEntrySource> FSources;
  const TZLBAddOptions& FOptions;
  const unsigned FThreads;
  const size_t FHoldLimit;

  std::mutex FLock;
  std::condition_variable FWorkersWake;  // the next entry or the allowance changed
  std::condition_variable FWriterWake;   // a piece came, or an entry ended
  std::vector<TJob> FJobs;
  size_t FNextToStart = 0;
  size_t FNextToWrite = 0;
  size_t FHeld = 0;                // bytes held back, all entries together
  size_t FFirstFailed = SIZE_MAX;  // no entry after it is started
  bool FStopping = false;
  std::vector<std::jthread> FWorkers;  // last, so that they go first
};

void TZLBArchiveWriter::TParallelEntries::Run() {
  const size_t Count = std::min<size_t>(FThreads, FJobs.size());
  for (size_t I = 0; I < Count; ++I)
    FWorkers.emplace_back([this] { Work(); });

  for (size_t Index = 0; Index < FJobs.size(); ++Index) {
    TJob& Job = FJobs[Index];
    {
      const std::lock_guard Lock(FLock);
      FNextToWrite = Index;
    }
    FWorkersWake.notify_all();
    const int64_t Offset = FWriter.FOffset;
    TZLBFileEntry Entry;
    for (;;) {
      std::unique_lock Lock(FLock);
      FWriterWake.wait(Lock, [&] { return Job.Failure || !Job.Pieces.empty() || Job.Done; });
      if (Job.Failure) std::rethrow_exception(Job.Failure);
      if (Job.Pieces.empty()) {
        Entry = Job.Entry;
        break;
      }
      const TPiece Piece = std::move(Job.Pieces.front());
      Job.Pieces.pop_front();
      Job.Held -= Piece.Bytes.size();
      FHeld -= Piece.Bytes.size();
      Lock.unlock();
      FWorkersWake.notify_all();
      FWriter.Emit(Piece.Bytes.data(), Piece.Bytes.size());
      if (FOptions.OnProgress) FOptions.OnProgress(Index, Piece.SourceBytes);
    }
    Entry.DataOffset = int32_t(Offset);
    FWriter.FEntries.push_back(Entry);
    if (FOptions.OnEntryWritten) FOptions.OnEntryWritten(Index, FWriter.FEntries.back());
  }
}

void TZLBArchiveWriter::TParallelEntries::Work() {
  for (;;) {
    size_t Index;
    {
      const std::lock_guard Lock(FLock);
      if (FNextToStart == FJobs.size() || GivenUp(FNextToStart)) return;
      Index = FNextToStart++;
    }
    Compress(Index);
  }
}

void TZLBArchiveWriter::TParallelEntries::Compress(size_t Index) {
  const TZLBEntrySource& Source = FSources[Index];
  const bool Stored = FWriter.FOptions.Stored;
  try {
    TZLBFileEntry Entry = NewRecord(Source.FileName, Source.FilePath, Stored);
    TEncoded Encoded;
    {
      const std::unique_ptr<TStream> Stream = OpenSource(Source);
      Encoded = Encode(*Stream, Stored,
                       [this, Index](std::span<const uint8_t> Piece, int64_t SourceBytes) {
                         Hold(Index, Piece, SourceBytes);
                       });
    }
    CompleteRecord(Entry, Encoded);
    const std::lock_guard Lock(FLock);
    FJobs[Index].Entry = Entry;
    FJobs[Index].Done = true;
  } catch (const TGivenUp&) {
    return;  // nobody waits for it
  } catch (...) {
    {
      const std::lock_guard Lock(FLock);
      FJobs[Index].Failure = std::current_exception();
      FJobs[Index].Done = true;
      FFirstFailed = std::min(FFirstFailed, Index);
    }
    FWorkersWake.notify_all();
  }
  FWriterWake.notify_one();
}

void TZLBArchiveWriter::TParallelEntries::Hold(size_t Index, std::span<const uint8_t> Piece,
                                               int64_t SourceBytes) {
  TPiece Held{{Piece.begin(), Piece.end()}, SourceBytes};
  {
    std::unique_lock Lock(FLock);
    FWorkersWake.wait(Lock, [&] { return GivenUp(Index) || MayHold(Index, Piece.size()); });
    if (GivenUp(Index)) throw TGivenUp{};
    TJob& Job = FJobs[Index];
    Job.Held += Piece.size();
    FHeld += Piece.size();
    Job.Pieces.push_back(std::move(Held));
  }
  FWriterWake.notify_one();
}

TZLBArchiveWriter::TZLBArchiveWriter(TStream& Out, TZLBWriterOptions Options)
    : FOut(Out), FOptions(Options) {}

void TZLBArchiveWriter::Emit(const void* Data, size_t Length) {
  if (Length == 0) return;
  CheckLimit(FOffset + int64_t(Length));
  FOut.WriteBuffer(Data, int32_t(Length));
  FArchiveCRC = CRC32Update(FArchiveCRC, {static_cast<const uint8_t*>(Data), Length});
  FOffset += int64_t(Length);
}

void TZLBArchiveWriter::AddEntry(std::string_view FileName, std::string_view FilePath,
                                 TStream& Source) {
  AddEntryFrom(NewRecord(FileName, FilePath, FOptions.Stored), Source);
}

void TZLBArchiveWriter::AddEntry(std::string_view FileName, std::string_view FilePath,
                                 std::span<const uint8_t> Data) {
  AddEntry(FileName, FilePath, Data, FOptions.Stored);
}

void TZLBArchiveWriter::AddEntry(std::string_view FileName, std::string_view FilePath,
                                 std::span<const uint8_t> Data, bool Stored) {
  TReadOnlyMemoryStream Source(Data.data(), int64_t(Data.size()));
  AddEntryFrom(NewRecord(FileName, FilePath, Stored), Source);
}

void TZLBArchiveWriter::AddEntryFrom(TZLBFileEntry Entry, TStream& Source,
                                     const std::function<void(int64_t)>& OnPiece) {
  if (FFinished) throw Exception(messages::SWriterFinished);
  Entry.DataOffset = int32_t(FOffset);
  const TEncoded Encoded =
      Encode(Source, Entry.Stored != 0, [&](std::span<const uint8_t> Piece, int64_t SourceBytes) {
        Emit(Piece.data(), Piece.size());
        if (OnPiece) OnPiece(SourceBytes);
      });
  CompleteRecord(Entry, Encoded);
  FEntries.push_back(Entry);
}

void TZLBArchiveWriter::AddEntries(std::span<const TZLBEntrySource> Sources,
                                   const TZLBAddOptions& Options) {
  if (FFinished) throw Exception(messages::SWriterFinished);
  unsigned Threads = Options.Threads != 0 ? Options.Threads : std::thread::hardware_concurrency();
  if (std::min<size_t>(Threads, Sources.size()) <= 1) {
    AddEntriesInTurn(Sources, Options);
    return;
  }
  TParallelEntries(*this, Sources, Options, Threads).Run();
}

void TZLBArchiveWriter::AddEntriesInTurn(std::span<const TZLBEntrySource> Sources,
                                         const TZLBAddOptions& Options) {
  for (size_t Index = 0; Index < Sources.size(); ++Index) {
    // The names are checked before the data is opened, as on other threads.
    const TZLBFileEntry Entry =
        NewRecord(Sources[Index].FileName, Sources[Index].FilePath, FOptions.Stored);
    const std::unique_ptr<TStream> Stream = OpenSource(Sources[Index]);
    AddEntryFrom(Entry, *Stream, [&](int64_t SourceBytes) {
      if (Options.OnProgress) Options.OnProgress(Index, SourceBytes);
    });
    if (Options.OnEntryWritten) Options.OnEntryWritten(Index, FEntries.back());
  }
}

TZLBArchiveTrailer TZLBArchiveWriter::Finish() {
  if (FFinished) throw Exception(messages::SWriterFinished);
  FFinished = true;
  std::vector<uint8_t> Directory(FEntries.size() * TZLBFileEntry::Size);
  for (size_t I = 0; I < FEntries.size(); ++I)
    FEntries[I].Encode(std::span<uint8_t, TZLBFileEntry::Size>(
        Directory.data() + I * TZLBFileEntry::Size, TZLBFileEntry::Size));
  CheckLimit(int64_t(Directory.size()));

  TZLBArchiveTrailer Trailer;
  Trailer.FileCount = int32_t(FEntries.size());
  Trailer.Reserved1 = 1;
  Trailer.DirectoryOffset = int32_t(FOffset);
  if (FOptions.RawDirectory) {
    Emit(Directory.data(), Directory.size());
    Trailer.DirectorySize = uint32_t(Directory.size());
  } else {
    TReadOnlyMemoryStream Source(Directory.data(), int64_t(Directory.size()));
    const TEncoded Encoded = Deflate(Source, [this](std::span<const uint8_t> Piece, int64_t) {
      Emit(Piece.data(), Piece.size());
    });
    Trailer.DirectorySize = uint32_t(Encoded.Packed);
    Trailer.DirectoryCompressed = 1;
  }
  if (FOptions.NameCodePage) RecordCodePage(Trailer, *FOptions.NameCodePage);
  Trailer.ArchiveCRC = FArchiveCRC;
  std::array<uint8_t, TZLBArchiveTrailer::Size> Raw{};
  Trailer.Encode(Raw);
  FOut.WriteBuffer(Raw.data(), int32_t(Raw.size()));
  return Trailer;
}

}  // namespace kv
