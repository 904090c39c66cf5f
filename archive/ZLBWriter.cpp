// TZLBArchiveWriter: writes ZLB archives.
#include "ZLBWriter.h"

#include <zlib.h>

#include <array>
#include <memory>

#include "konvoro/Exceptions.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/CRC32.h"

namespace kv {

namespace {

constexpr size_t BlockSize = 65536;
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

}  // namespace

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
  AddEntryFrom(FileName, FilePath, Source, FOptions.Stored);
}

void TZLBArchiveWriter::AddEntry(std::string_view FileName, std::string_view FilePath,
                                 std::span<const uint8_t> Data) {
  AddEntry(FileName, FilePath, Data, FOptions.Stored);
}

void TZLBArchiveWriter::AddEntry(std::string_view FileName, std::string_view FilePath,
                                 std::span<const uint8_t> Data, bool Stored) {
  TReadOnlyMemoryStream Source(Data.data(), int64_t(Data.size()));
  AddEntryFrom(FileName, FilePath, Source, Stored);
}

void TZLBArchiveWriter::AddEntryFrom(std::string_view FileName, std::string_view FilePath,
                                     TStream& Source, bool Stored) {
  if (FFinished) throw Exception(messages::SWriterFinished);
  TZLBFileEntry Entry;
  Entry.FileName = TShortString::FromString(FileName);
  Entry.FilePath = TShortString::FromString(FilePath);
  Entry.DataOffset = int32_t(FOffset);
  Entry.Stored = Stored ? 1 : 0;
  Entry.Level = Stored ? LevelStored : LevelDefault;
  uint32_t CRC = 0;
  int64_t Size = 0;
  Entry.CompressedSize = Stored ? Copy(Source, CRC, Size) : Deflate(Source, CRC, Size);
  CheckLimit(Size);
  Entry.OriginalSize = int32_t(Size);
  Entry.FileCRC = CRC;
  FEntries.push_back(Entry);
}

uint32_t TZLBArchiveWriter::Copy(TStream& Source, uint32_t& CRC, int64_t& Size) {
  const auto Buffer = std::make_unique_for_overwrite<uint8_t[]>(BlockSize);
  for (;;) {
    const int32_t Got = Source.Read(Buffer.get(), int32_t(BlockSize));
    if (Got <= 0) break;
    CRC = CRC32Update(CRC, {Buffer.get(), size_t(Got)});
    Size += Got;
    CheckLimit(Size);
    Emit(Buffer.get(), size_t(Got));
  }
  return uint32_t(Size);
}

uint32_t TZLBArchiveWriter::Deflate(TStream& Source, uint32_t& CRC, int64_t& Size) {
  TDeflater Deflater;
  z_stream& Z = Deflater.Z;
  const auto In = std::make_unique_for_overwrite<uint8_t[]>(BlockSize);
  const auto Out = std::make_unique_for_overwrite<uint8_t[]>(BlockSize);
  int64_t Written = 0;
  int Flush = Z_NO_FLUSH;
  do {
    const int32_t Got = Source.Read(In.get(), int32_t(BlockSize));
    if (Got > 0) {
      CRC = CRC32Update(CRC, {In.get(), size_t(Got)});
      Size += Got;
      CheckLimit(Size);
    }
    Flush = Got <= 0 ? Z_FINISH : Z_NO_FLUSH;
    Z.next_in = In.get();
    Z.avail_in = uInt(Got > 0 ? Got : 0);
    int Result;
    do {
      Z.next_out = Out.get();
      Z.avail_out = uInt(BlockSize);
      Result = deflate(&Z, Flush);
      if (Result == Z_STREAM_ERROR) throw Exception(messages::SDeflateFailed);
      const size_t Produced = BlockSize - Z.avail_out;
      Emit(Out.get(), Produced);
      Written += int64_t(Produced);
    } while (Z.avail_out == 0);
  } while (Flush != Z_FINISH);
  return uint32_t(Written);
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
    uint32_t Unused = 0;
    int64_t Size = 0;
    Trailer.DirectorySize = Deflate(Source, Unused, Size);
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
