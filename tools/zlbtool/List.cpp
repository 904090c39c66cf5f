// zlbtool list: shows an archive's entries as a table or as JSON.
#include <cinttypes>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "Input.h"
#include "Json.h"
#include "Output.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* ListUsage =
    "usage: zlbtool list [--json] [--code-page N] ARCHIVE|UPDATER\n"
    "\n"
    "Opens the archive (verifying its CRC and loading its directory) and shows\n"
    "one row per entry: index, method, original size, packed size, CRC-32 and\n"
    "the stored path joined to the name, in this system's characters. Names are\n"
    "read in the code page given, else the one the archive records; a name that\n"
    "is not ASCII without either is shown with its bytes as \\xNN.\n"
    "\n"
    "  --json          print one JSON array of objects with the keys index, name,\n"
    "                  path, size, packed, offset, crc32 and stored\n"
    "  --code-page N   the ANSI code page the names are written in\n";

}  // namespace

int List(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--json"}, {CodePageOption});
  if (WantsHelp(Parsed)) {
    Print(ListUsage);
    return 0;
  }
  if (Parsed.Operands.size() != 1) throw EUsageError("list takes exactly one archive");

  kv::TZLBArchive Archive;
  const TInput Input(Archive, Parsed.Operands[0], Parsed);
  const TNameCodec& Codec = Input.Codec();
  const int32_t Count = Archive.GetFileCount();
  kv::TZLBFileEntry Entry;

  if (Parsed.Has("--json")) {
    std::string Out = "[";
    for (int32_t I = 0; I < Count; ++I) {
      Archive.GetFileEntry(I, Entry);
      Out += Printf("%s\n  {\"index\": %" PRId32 ", \"name\": %s, \"path\": %s, \"size\": %" PRId32
                    ", \"packed\": %" PRIu32 ", \"offset\": %" PRId32
                    ", \"crc32\": \"%08x\", \"stored\": %s}",
                    I == 0 ? "" : ",", I, JsonString(Codec.Shown(Entry.FileName.View())).c_str(),
                    JsonString(Codec.Shown(Entry.FilePath.View())).c_str(), Entry.OriginalSize,
                    Entry.CompressedSize, Entry.DataOffset, Entry.FileCRC,
                    Entry.Stored != 0 ? "true" : "false");
    }
    Out += Count == 0 ? "]\n" : "\n]\n";
    Print(Out);
    return 0;
  }

  std::string Out = Printf("%-7s %-8s %12s %12s %-8s  %s\n", "Index", "Method", "Size", "Packed",
                           "CRC-32", "Name");
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    Out += Printf("%7" PRId32 " %-8s %12" PRId32 " %12" PRIu32 " %08X  %s\n", I,
                  Entry.Stored != 0 ? "stored" : "deflated", Entry.OriginalSize,
                  Entry.CompressedSize, Entry.FileCRC, Input.Shown(Entry).c_str());
  }
  Print(Out);
  return 0;
}

}  // namespace zlbtool
