// zlbtool test: checks every entry's data against its CRC-32 without
// writing any file.
#include <cstdio>
#include <string>

#include "ArchiveMessages.h"
#include "CRCSink.h"
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
      // The shared text says that the entry is corrupt; the cause says how.
      if (E.Cause() != kv::TCorruptCause::None)
        Problem += std::string(": ") + kv::CorruptCauseText(E.Cause());
    } catch (const kv::Exception& E) {
      Problem = E.Message();
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
