// zlbtool test: checks every entry as the updater would take it (name,
// stored path, data against its CRC-32) without writing any file.
#include <string>

#include "ArchiveCheck.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Input.h"
#include "Json.h"
#include "Output.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* TestUsage =
    "usage: zlbtool test [--json] [--code-page N] [--threads N] ARCHIVE|UPDATER\n"
    "\n"
    "Checks the archive as the updater takes it: its CRC, then every entry: its\n"
    "name and stored path (names Windows refuses, names that leave the\n"
    "destination, names the update script cannot write in the OEM code page, the\n"
    "form of a short 8.3 name, two names that are one file on Windows, since\n"
    "every entry lands in one folder), and its data, inflated in memory that does\n"
    "not grow with its size, against its length and CRC-32. Prints one line per\n"
    "entry; exits 1 if any fails. An archive whose entries share their data is\n"
    "refused before any entry is read.\n"
    "\n"
    "  --json         print one JSON object: {\"file\", \"crc_ok\", \"failed\",\n"
    "                 \"problem\" (the archive's, or null), \"entries\": [{\"index\",\n"
    "                 \"name\", \"ok\", \"problems\": [...]}]}\n"
    "  --code-page N  the ANSI code page the names are written in\n"
    "  --threads N    entries read at once (default: one per processor)\n";

}  // namespace

int Test(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--json"}, {CodePageOption, "--threads"});
  if (WantsHelp(Parsed)) {
    Print(TestUsage);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("test takes exactly one archive");
  const unsigned Threads = ThreadCount(Parsed);
  const std::string& File = Parsed.Operands[0];
  const bool Json = Parsed.Has("--json");

  kv::TZLBArchive Archive;
  std::optional<TInput> Input;
  try {
    Input.emplace(Archive, File, Parsed);
  } catch (const kv::Exception& E) {
    if (!Json) throw;
    Print("{\"file\": " + JsonString(File) + ", \"crc_ok\": false, \"failed\": null, " +
          "\"problem\": " + JsonString(kv::DescribeFailure(E)) + ", \"entries\": []}\n");
    return 1;
  }
  const TArchiveReport Report = CheckArchive(Archive, *Input, true, {}, Threads);
  if (Json) {
    std::string Out = "{\"file\": " + JsonString(File) +
                      ", \"crc_ok\": true, \"failed\": " + std::to_string(Report.FailedEntries()) +
                      ", \"problem\": " +
                      (Report.Problems.empty() ? std::string("null")
                                               : JsonString(Report.Problems.front().Cause)) +
                      ", \"entries\": [";
    for (size_t I = 0; I < Report.Entries.size(); ++I) {
      const TEntryReport& Entry = Report.Entries[I];
      Out +=
          Printf("%s\n  {\"index\": %zu, \"name\": %s, \"ok\": %s, \"problems\": [", I ? "," : "",
                 I, JsonString(Entry.Shown).c_str(), Entry.Problems.empty() ? "true" : "false");
      for (size_t P = 0; P < Entry.Problems.size(); ++P)
        Out += (P ? ", " : "") + JsonString(Entry.Problems[P].Cause);
      Out += "]}";
    }
    Print(Out + (Report.Entries.empty() ? "]}\n" : "\n]}\n"));
    return Report.Clean() ? 0 : 1;
  }
  if (!Report.Problems.empty()) throw kv::Exception(Describe(Report.Problems.front()));
  std::string Out;
  for (const TEntryReport& Entry : Report.Entries) {
    if (Entry.Problems.empty()) {
      if (Verbosity() != TVerbosity::Quiet) Out += "OK      " + Entry.Shown + "\n";
      continue;
    }
    std::string Causes;
    for (const TProblem& Problem : Entry.Problems)
      Causes += (Causes.empty() ? "" : "; ") + Problem.Cause;
    Out += "FAILED  " + Entry.Shown + ": " + Causes + "\n";
  }
  Print(Out);
  Say(Printf("%d of %zu entries failed\n", Report.FailedEntries(), Report.Entries.size()));
  return Report.Clean() ? 0 : 1;
}

}  // namespace zlbtool
