// The reading of ZLB archives over any seekable stream.
#include "konvoro/zlb/ZLBReader.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "konvoro/Binary.h"
#include "konvoro/DecompressionStream.h"
#include "konvoro/Format.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/CRC32.h"

namespace kv {

namespace {

constexpr int32_t CRCChunkSize = 10240;
constexpr int32_t DirectoryChunkSize = 4096;
constexpr int32_t ExtractChunkSize = 4096;
// Every offset, size and count of the format is a signed 32-bit value.
constexpr int64_t MaxDirectoryBytes = int64_t(1) << 31;

[[noreturn]] void RaiseListError(std::error_code Reason = {}) {
  throw EZLBArchiveError(messages::SUnableToReadFileList, TCorruptCause::None, Reason);
}

void ReadRawRecords(TStream& Source, const TZLBArchiveTrailer& Trailer, int64_t DirectoryBytes,
                    std::deque<TZLBFileEntry>& Entries) {
  if (!RangeInside(Trailer.DirectoryOffset, DirectoryBytes, Source.GetSize())) RaiseListError();
  Source.Seek(Trailer.DirectoryOffset, TSeekOrigin::soBeginning);
  std::array<uint8_t, TZLBFileEntry::Size> Record;
  for (int32_t I = 0; I < Trailer.FileCount; ++I) {
    Source.ReadBuffer(Record.data(), int32_t(Record.size()));
    Entries.push_back(TZLBFileEntry::Decode(Record));
  }
}

// Records are decoded as the directory inflates, so that memory holds the
// entries only, and only as many as really arrive.
void InflateRecords(TStream& Source, const TZLBArchiveTrailer& Trailer, int64_t DirectoryBytes,
                    std::deque<TZLBFileEntry>& Entries, const TReadHooks& Hooks) {
  Source.Seek(Trailer.DirectoryOffset, TSeekOrigin::soBeginning);
  std::array<uint8_t, TZLBFileEntry::Size> Record;
  size_t RecordHave = 0;
  TDecompressionStream Inflater(Source);
  int64_t Remaining = DirectoryBytes;
  if (Hooks.Started) Hooks.Started(int32_t(DirectoryBytes));
  while (Remaining > 0) {
    const auto Chunk = int32_t(std::min<int64_t>(Remaining, DirectoryChunkSize));
    std::vector<uint8_t> Buffer(size_t(Chunk), 0);
    const int32_t Got = Inflater.Read(Buffer.data(), Chunk);
    if (Hooks.ChunkRead) Hooks.ChunkRead(Got);
    for (int32_t At = 0; At < Got;) {
      const size_t Take = std::min(Record.size() - RecordHave, size_t(Got - At));
      std::copy_n(Buffer.begin() + At, Take, Record.begin() + RecordHave);
      RecordHave += Take;
      At += int32_t(Take);
      if (RecordHave == Record.size()) {
        Entries.push_back(TZLBFileEntry::Decode(Record));
        RecordHave = 0;
      }
    }
    // A directory that ends early has no more records to give.
    if (Got < Chunk) RaiseListError(Inflater.Error());
    Remaining -= Chunk;
  }
  // As for entries: damage that still inflates to the right length shows up
  // only at the end of the zlib stream.
  if (!Inflater.EndsHere()) RaiseListError();
}

}  // namespace

const char* CorruptCauseText(TCorruptCause Cause) {
  switch (Cause) {
    case TCorruptCause::None:
      break;
    case TCorruptCause::OutsideFile:
      return messages::SCauseOutsideFile;
    case TCorruptCause::ChunkFailed:
      return messages::SCauseChunkFailed;
    case TCorruptCause::DataShort:
      return messages::SCauseDataShort;
    case TCorruptCause::StreamNotEnded:
      return messages::SCauseStreamNotEnded;
    case TCorruptCause::WriteBack:
      return messages::SCauseWriteBack;
  }
  return "";
}

uint32_t StreamCRC32(TStream& Stream, int64_t Tail, std::error_code* ReadError) {
  const int64_t Saved = Stream.GetPosition();
  Stream.Seek(0, TSeekOrigin::soBeginning);
  int64_t Remaining = Stream.GetSize() - Tail;
  uint32_t CRC = 0;
  std::array<uint8_t, CRCChunkSize> Buffer;
  if (ReadError) *ReadError = {};
  while (Remaining > 0) {
    const auto Chunk = static_cast<int32_t>(std::min<int64_t>(Remaining, CRCChunkSize));
    const int32_t Got = Stream.Read(Buffer.data(), Chunk);
    if (Got > 0) CRC = CRC32Update(CRC, {Buffer.data(), size_t(Got)});
    if (ReadError && Stream.Error() && !*ReadError) *ReadError = Stream.Error();
    // A short read still uses up the chunk, so the loop always ends.
    Remaining -= Chunk;
  }
  Stream.Seek(Saved, TSeekOrigin::soBeginning);
  return CRC;
}

TTrailerCheck CheckTrailer(TStream& Source) {
  TTrailerCheck Check;
  Check.ComputedCRC = StreamCRC32(Source, TZLBArchiveTrailer::Size, &Check.ReadError);
  // When the seek fails the source stays where it stood.
  std::array<uint8_t, TZLBArchiveTrailer::Size> Raw{};
  Source.Seek(-int64_t(TZLBArchiveTrailer::Size), TSeekOrigin::soEnd);
  Source.Read(Raw.data(), int32_t(Raw.size()));
  if (!Check.ReadError) Check.ReadError = Source.Error();
  Check.Trailer = TZLBArchiveTrailer::Decode(Raw);
  return Check;
}

TZLBArchiveTrailer ReadTrailer(TStream& Source) {
  const TTrailerCheck Check = CheckTrailer(Source);
  if (!Check.Holds())
    throw EZLBArchiveError(messages::SArchiveCorrupted, TCorruptCause::None, Check.ReadError);
  return Check.Trailer;
}

void ReadDirectory(TStream& Source, const TZLBArchiveTrailer& Trailer,
                   std::deque<TZLBFileEntry>& Entries, const TReadHooks& Hooks) {
  const int32_t Count = Trailer.FileCount;
  const int64_t DirectoryBytes = int64_t(Count) * int64_t(TZLBFileEntry::Size);
  if (Count < 0 || DirectoryBytes >= MaxDirectoryBytes) RaiseListError();
  if (Count == 0) return;  // nothing is read, wherever the directory claims to be
  if (Trailer.DirectoryOffset < 0) RaiseListError();
  try {
    if (Trailer.DirectoryCompressed == 0)
      ReadRawRecords(Source, Trailer, DirectoryBytes, Entries);
    else
      InflateRecords(Source, Trailer, DirectoryBytes, Entries, Hooks);
  } catch (...) {
    // A guarded stretch: whatever fails in it (the inflater, the source, a
    // hook, memory) is the directory's failure, with the one text and the
    // failure nested as its cause.
    std::throw_with_nested(EZLBArchiveError(messages::SUnableToReadFileList));
  }
}

void ExtractEntry(TStream& Source, const TZLBFileEntry& Entry, int32_t Index, TStream& Dest,
                  bool CheckCRC, const TReadHooks& Hooks) {
  const auto Corrupt = [Index](TCorruptCause Cause, std::error_code Reason = {}) {
    return EZLBArchiveError(Format(messages::SFileCorrupt, Index), Cause, Reason);
  };
  // A record that places its data outside the source, or claims a negative
  // size, cannot deliver its bytes.
  if (!RangeInside(Entry.DataOffset, 0, Source.GetSize()) || Entry.OriginalSize < 0)
    throw Corrupt(TCorruptCause::OutsideFile);
  Source.Seek(Entry.DataOffset, TSeekOrigin::soBeginning);

  {
    TDecompressionStream Inflater(Source);  // made for stored entries too, never read then
    int64_t Remaining = Entry.OriginalSize;
    if (Hooks.Started) Hooks.Started(Entry.OriginalSize);
    while (Remaining > 0) {
      const auto Chunk = int32_t(std::min<int64_t>(Remaining, ExtractChunkSize));
      int32_t Got = 0;
      try {
        const auto Buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(Chunk));
        Got = Entry.Stored != 0 ? Source.Read(Buffer.get(), Chunk)
                                : Inflater.Read(Buffer.get(), Chunk);
        if (Hooks.ChunkRead) Hooks.ChunkRead(Got);
        if (Got != 0) Dest.WriteBuffer(Buffer.get(), Got);
      } catch (...) {
        // A guarded stretch: whatever fails while a chunk is read, reported
        // or written (zlib, the streams, a hook, memory) is corruption.
        std::throw_with_nested(Corrupt(TCorruptCause::ChunkFailed));
      }
      // Short data would otherwise pass as a complete, shorter file.
      if (Got < Chunk)
        throw Corrupt(TCorruptCause::DataShort,
                      Entry.Stored != 0 ? Source.Error() : Inflater.Error());
      Remaining -= Chunk;
    }
    // Damaged data that still decodes, perhaps to more bytes, shows up no
    // other way.
    if (Entry.Stored == 0 && !Inflater.EndsHere()) throw Corrupt(TCorruptCause::StreamNotEnded);
  }

  // Bytes that Dest holds back are written out before the check reads them
  // back: a failing write is corruption, not a wrong CRC.
  try {
    Dest.Flush();
  } catch (...) {
    // Dest may be any stream, raising anything: the entry is corrupt.
    std::throw_with_nested(Corrupt(TCorruptCause::WriteBack));
  }
  if (CheckCRC && StreamCRC32(Dest, 0) != Entry.FileCRC)
    throw EZLBArchiveError(Format(messages::SFileFailedCRC, Index));
}

}  // namespace kv
