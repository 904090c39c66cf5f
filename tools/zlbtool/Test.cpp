// zlbtool test: checks every entry as extraction would take it (name,
// stored path, data against its CRC-32) without writing any file.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "EntryCheck.h"
#include "EntryNames.h"
#include "Input.h"
#include "konvoro/Format.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLIBArchive.h"

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
    const std::string Failure = EntryProblem(Archive, Input, I, Entry);
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
