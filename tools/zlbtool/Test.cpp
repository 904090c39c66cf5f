// zlbtool test: checks every entry's data against its CRC-32 without
// writing any file.
#include <cstdio>
#include <string>

#include "ArchiveMessages.h"
#include "CRC32.h"
#include "CommandLine.h"
#include "Commands.h"
#include "EntryNames.h"
#include "Format.h"
#include "Input.h"
#include "ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* TestUsage =
    "usage: zlbtool test ARCHIVE|UPDATER\n"
    "\n"
    "Inflates every entry in memory that does not grow with its size, checks\n"
    "its length and CRC-32, and prints one line per entry. Exits 1 if any fails.\n";

// A stream that keeps only the CRC-32 and count of what is written to it.
class TCRCSink : public kv::TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0) return 0;
    FCRC = kv::CRC32Update(FCRC, {static_cast<const uint8_t*>(Buffer), size_t(Count)});
    FCount += Count;
    return Count;
  }
  int64_t Seek(int64_t, kv::TSeekOrigin) override { return FCount; }
  uint32_t CRC() const { return FCRC; }
  int64_t Count() const { return FCount; }

 private:
  uint32_t FCRC = 0;
  int64_t FCount = 0;
};

}  // namespace

int Test(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--help", "-h"}, {});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(TestUsage, stdout);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("test takes exactly one archive");

  kv::TZLBArchive Archive;
  OpenInput(Archive, Parsed.Operands[0]);
  int Failures = 0;
  kv::TZLBFileEntry Entry;
  for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
    Archive.GetFileEntry(I, Entry);
    const std::string Name = DisplayName(Entry);
    std::string Problem;
    try {
      TCRCSink Sink;
      Archive.ExtractToStream(I, Sink);
      if (Sink.CRC() != Entry.FileCRC) Problem = kv::Format(kv::messages::SFileFailedCRC, I);
    } catch (const kv::EZLBArchiveError& E) {
      Problem = E.Message();
      // The shared text says that the entry is corrupt; the cause says how,
      // and the failure behind it why.
      if (E.Cause() != kv::TCorruptCause::None)
        Problem += std::string(": ") + kv::CorruptCauseText(E.Cause());
      Problem += kv::FailureCauses(E);
    } catch (const kv::Exception& E) {
      Problem = kv::DescribeFailure(E);
    }
    if (Problem.empty()) {
      std::printf("OK      %s\n", Name.c_str());
    } else {
      std::printf("FAILED  %s: %s\n", Name.c_str(), Problem.c_str());
      ++Failures;
    }
  }
  std::printf("%d of %d entries failed\n", Failures, Archive.GetFileCount());
  return Failures == 0 ? 0 : 1;
}

}  // namespace zlbtool
