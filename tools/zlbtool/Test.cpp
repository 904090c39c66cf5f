// zlbtool test: checks every entry as extraction would take it (name,
// stored path, data against its CRC-32) without writing any file.
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
    "Checks every entry as extraction would take it: its name and stored path\n"
    "must stay inside the destination, and its data, inflated in memory that\n"
    "does not grow with its size, must have its length and CRC-32. Prints one\n"
    "line per entry; exits 1 if any fails. An archive whose entries share\n"
    "their data is refused before any entry is read.\n";

// Why a stored path fails extraction's rules, after the name's text.
constexpr const char* UnsafePathCause = "its stored path does not stay below the destination";

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

// What is wrong with entry Index (Entry), or "": extraction's rules for its
// name and stored path, which it applies before it writes anything, then
// its data, read alone.
std::string Problem(kv::TZLBArchive& Archive, TInput& Input, int32_t Index,
                    const kv::TZLBFileEntry& Entry) {
  if (!kv::IsSafeEntryName(Entry.FileName.View()))
    return kv::Format(kv::messages::SFileInvalidName, Index);
  if (!kv::IsSafeEntryPath(Entry.FilePath.View()))
    return kv::Format(kv::messages::SFileInvalidName, Index) + ": " + UnsafePathCause;
  try {
    TCRCSink Sink;
    Input.ReadEntry(Index, [&] { Archive.ExtractToStream(Index, Sink); });
    if (Sink.CRC() != Entry.FileCRC) return kv::Format(kv::messages::SFileFailedCRC, Index);
  } catch (const kv::EZLBArchiveError& E) {
    // The shared text says that the entry is corrupt; the cause says how,
    // and the failure behind it why.
    std::string Text = E.Message();
    if (E.Cause() != kv::TCorruptCause::None)
      Text += std::string(": ") + kv::CorruptCauseText(E.Cause());
    return Text + kv::FailureCauses(E);
  } catch (const kv::Exception& E) {
    return kv::DescribeFailure(E);
  }
  return "";
}

}  // namespace

int Test(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--help", "-h"}, {});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(TestUsage, stdout);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("test takes exactly one archive");

  kv::TZLBArchive Archive;
  TInput Input(Archive, Parsed.Operands[0]);
  Input.RequireDataApart();
  int Failures = 0;
  kv::TZLBFileEntry Entry;
  for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
    Archive.GetFileEntry(I, Entry);
    const std::string Name = DisplayName(Entry);
    const std::string Failure = Problem(Archive, Input, I, Entry);
    if (Failure.empty()) {
      std::printf("OK      %s\n", Name.c_str());
    } else {
      std::printf("FAILED  %s: %s\n", Name.c_str(), Failure.c_str());
      ++Failures;
    }
  }
  std::printf("%d of %d entries failed\n", Failures, Archive.GetFileCount());
  return Failures == 0 ? 0 : 1;
}

}  // namespace zlbtool
