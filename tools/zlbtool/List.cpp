// zlbtool list: shows an archive's entries as a table or as JSON.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "EntryNames.h"
#include "Input.h"
#include "Json.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* ListUsage =
    "usage: zlbtool list [--json] ARCHIVE|UPDATER\n"
    "\n"
    "Opens the archive (verifying its CRC and loading its directory) and shows\n"
    "one row per entry: index, method, original size, packed size, CRC-32 and\n"
    "the stored path joined to the name.\n"
    "\n"
    "  --json  print one JSON array of objects with the keys index, name, path,\n"
    "          size, packed, offset, crc32 and stored\n";

}  // namespace

int List(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--json", "--help", "-h"}, {});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(ListUsage, stdout);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("list takes exactly one archive");

  kv::TZLBArchive Archive;
  const TInput Input(Archive, Parsed.Operands[0]);
  const int32_t Count = Archive.GetFileCount();
  kv::TZLBFileEntry Entry;

  if (Parsed.Has("--json")) {
    std::fputs("[", stdout);
    for (int32_t I = 0; I < Count; ++I) {
      Archive.GetFileEntry(I, Entry);
      std::printf("%s\n  {\"index\": %" PRId32 ", \"name\": %s, \"path\": %s, \"size\": %" PRId32
                  ", \"packed\": %" PRIu32 ", \"offset\": %" PRId32
                  ", \"crc32\": \"%08x\", \"stored\": %s}",
                  I == 0 ? "" : ",", I, JsonString(Entry.FileName.ToString()).c_str(),
                  JsonString(Entry.FilePath.ToString()).c_str(), Entry.OriginalSize,
                  Entry.CompressedSize, Entry.DataOffset, Entry.FileCRC,
                  Entry.Stored != 0 ? "true" : "false");
    }
    std::fputs(Count == 0 ? "]\n" : "\n]\n", stdout);
    return 0;
  }

  std::printf("%-7s %-8s %12s %12s %-8s  %s\n", "Index", "Method", "Size", "Packed", "CRC-32",
              "Name");
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    std::printf("%7" PRId32 " %-8s %12" PRId32 " %12" PRIu32 " %08X  %s\n", I,
                Entry.Stored != 0 ? "stored" : "deflated", Entry.OriginalSize, Entry.CompressedSize,
                Entry.FileCRC, DisplayName(Entry).c_str());
  }
  return 0;
}

}  // namespace zlbtool
