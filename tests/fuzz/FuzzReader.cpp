// fuzz_reader: arbitrary bytes as an archive file, opened, listed and
// extracted by TZLBArchive; kv::Exception is the only acceptable failure.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ZLIBArchive.h"

namespace {

using kvfuzz::Fail;

// A zlib bomb in a few kilobytes can claim gigabytes; extractions stop at
// these bounds instead (see TWorkBudget).
constexpr int64_t ExtractionLimit = int64_t(64) << 20;
constexpr int64_t InputBudget = int64_t(256) << 20;
constexpr int64_t ChargePerExtraction = int64_t(64) << 10;

void ExpectClosed(kv::TZLBArchive& Archive, const std::string& When) {
  if (!Archive.GetArchiveFileName().empty()) Fail(When + ": the archive still has a name");
  try {
    Archive.GetFileCount();
  } catch (const kv::Exception&) {
    return;
  }
  Fail(When + ": GetFileCount works on a closed archive");
}

// Opens, lists and extracts the archive file Name, checking what the
// component promises on the way.
void Exercise(const std::string& Name, kvfuzz::TWorkBudget& Budget) {
  kv::TZLBArchive Archive;
  Archive.SetOnProgress([](std::string, int32_t Percentage) {
    if (Percentage < 0 || Percentage > 100)
      Fail("progress of " + std::to_string(Percentage) + " percent");
  });
  try {
    if (!Archive.OpenArchive(Name)) Fail("OpenArchive returned false for a named file");
  } catch (const kv::Exception&) {
    // A damaged archive leaves the component Closed.
    ExpectClosed(Archive, "after a failed open");
    return;
  }

  const int32_t Count = Archive.GetFileCount();
  if (Count != Archive.GetTrailer().FileCount)
    Fail("GetFileCount " + std::to_string(Count) + " but the trailer says " +
         std::to_string(Archive.GetTrailer().FileCount));
  std::vector<kv::TZLBFileEntry> Entries(static_cast<size_t>(Count));
  for (int32_t I = 0; I < Count; ++I)
    Archive.GetFileEntry(I, Entries[size_t(I)]);

  for (const bool CheckCRC : {true, false}) {
    Archive.SetCheckCRC(CheckCRC);
    for (int32_t I = 0; I < Count; ++I) {
      if (!Budget.Spend(ChargePerExtraction)) break;
      const kv::TZLBFileEntry& Entry = Entries[size_t(I)];
      kvfuzz::TBoundedSink Sink(Budget, ExtractionLimit);
      try {
        if (!Archive.ExtractToStream(I, Sink)) Fail("ExtractToStream returned false");
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
  Archive.CloseArchive();
  ExpectClosed(Archive, "after CloseArchive");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const kvfuzz::TScratchDir Scratch;
  const auto File = Scratch.Path() / "input.zlb";
  kvfuzz::TWorkBudget Budget(InputBudget);

  // First with a right CRC, so that the input gets past it to the directory
  // and the entries; then as it is.
  std::vector<uint8_t> Fixed(Data, Data + Size);
  kv::RecomputeArchiveCRC(Fixed);
  kvfuzz::WriteFile(File, Fixed.data(), Fixed.size());
  Exercise(File.string(), Budget);
  if (!std::equal(Fixed.begin(), Fixed.end(), Data)) {
    kvfuzz::WriteFile(File, Data, Size);
    Exercise(File.string(), Budget);
  }
  return 0;
}
