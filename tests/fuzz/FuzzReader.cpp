// fuzz_reader: arbitrary bytes as an archive in memory, read and extracted
// by the reader; kv::Exception is the only acceptable failure.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TestSupport.h"
#include "konvoro/zlb/ZLBReader.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace {

using kvfuzz::Fail;

// A zlib bomb in a few kilobytes can claim gigabytes; extractions stop at
// these bounds instead (see TWorkBudget).
constexpr int64_t ExtractionLimit = int64_t(64) << 20;
constexpr int64_t InputBudget = int64_t(256) << 20;
constexpr int64_t ChargePerExtraction = int64_t(64) << 10;

// Reads the archive in Bytes and extracts every entry, checking what the
// reader promises on the way.
void Exercise(const std::vector<uint8_t>& Bytes, kvfuzz::TWorkBudget& Budget) {
  int32_t Total = 0, Done = 0;
  const kv::TReadHooks Hooks{.Started =
                                 [&](int32_t T) {
                                   Total = T;
                                   Done = 0;
                                 },
                             .ChunkRead =
                                 [&](int32_t Delivered) {
                                   Done += Delivered;
                                   const int32_t Percentage = kv::ProgressPercentage(Done, Total);
                                   if (Percentage < 0 || Percentage > 100)
                                     Fail("progress of " + std::to_string(Percentage) + " percent");
                                 }};
  kv::TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
  kv::TZLBArchiveTrailer Trailer;
  std::deque<kv::TZLBFileEntry> Entries;
  try {
    Trailer = kv::ReadTrailer(Source);
    kv::ReadDirectory(Source, Trailer, Entries, Hooks);
  } catch (const kv::Exception&) {
    return;  // a damaged archive
  }
  if (int64_t(Entries.size()) != Trailer.FileCount)
    Fail(std::to_string(Entries.size()) + " entries read but the trailer says " +
         std::to_string(Trailer.FileCount));

  for (const bool CheckCRC : {true, false}) {
    for (int32_t I = 0; I < int32_t(Entries.size()); ++I) {
      if (!Budget.Spend(ChargePerExtraction)) break;
      const kv::TZLBFileEntry& Entry = Entries[size_t(I)];
      kvfuzz::TBoundedSink Sink(Budget, ExtractionLimit);
      try {
        kv::ExtractEntry(Source, Entry, I, Sink, CheckCRC, Hooks);
      } catch (const kv::Exception&) {
        continue;
      }
      // A successful extraction delivered exactly the entry's bytes, and
      // with the check on, bytes of the recorded CRC.
      if (Sink.GetSize() != Entry.OriginalSize)
        Fail("entry " + std::to_string(I) + " extracted " + std::to_string(Sink.GetSize()) +
             " bytes of " + std::to_string(Entry.OriginalSize));
      const uint32_t CRC = uint32_t(crc32(0, Sink.Bytes().data(), uInt(Sink.Bytes().size())));
      if (CheckCRC && CRC != Entry.FileCRC)
        Fail("entry " + std::to_string(I) + " passed a wrong CRC");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::TWorkBudget Budget(InputBudget);

  // First with a right CRC, so that the input gets past it to the directory
  // and the entries; then as it is.
  std::vector<uint8_t> Fixed(Data, Data + Size);
  kvtest::RecomputeArchiveCRC(Fixed);
  Exercise(Fixed, Budget);
  if (!std::equal(Fixed.begin(), Fixed.end(), Data)) Exercise({Data, Data + Size}, Budget);
  return 0;
}
