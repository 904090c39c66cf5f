// zlbtool extract: extracts all or the named entries into a directory.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "EntryNames.h"
#include "Input.h"
#include "konvoro/Environment.h"
#include "konvoro/Files.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

namespace {

constexpr const char* ExtractUsage =
    "usage: zlbtool extract [-d DIR] [--with-paths] [--check-crc] [--skip-existing]\n"
    "                       ARCHIVE|UPDATER [NAME...]\n"
    "\n"
    "Extracts every entry, or those named (by name or by stored path and name,\n"
    "letter case ignored), into DIR. An archive whose entries share their data\n"
    "is refused before anything is written.\n"
    "\n"
    "  -d DIR           the destination directory, made if missing (default: the\n"
    "                   current one)\n"
    "  --with-paths     recreate each entry's stored directory below DIR\n"
    "  --check-crc      verify each extracted file against its CRC-32\n"
    "  --skip-existing  leave files that already exist untouched\n";

// Draws one progress line on a terminal: entry, percent, overall bytes.
class TProgressLine {
 public:
  explicit TProgressLine(int64_t TotalBytes)
      : FTotal(TotalBytes), FEnabled(kv::StandardErrorIsTerminal()) {}
  ~TProgressLine() {
    if (FEnabled && FDrawn) std::fputs("\n", stderr);
  }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  void StartEntry(const std::string& Name, int64_t Size) {
    FName = Name;
    FSize = Size;
  }
  void EndEntry() { FDoneBefore += FSize; }
  void Report(int32_t Percentage) {
    if (!FEnabled) return;
    const int64_t Done = FDoneBefore + FSize * Percentage / 100;
    std::fprintf(stderr, "\r\033[K%-48.48s %3" PRId32 "%%  %" PRId64 " / %" PRId64 " bytes",
                 FName.c_str(), Percentage, Done, FTotal);
    std::fflush(stderr);
    FDrawn = true;
  }

 private:
  std::string FName;
  int64_t FSize = 0;
  int64_t FDoneBefore = 0;
  int64_t FTotal;
  bool FEnabled;
  bool FDrawn = false;
};

}  // namespace

int Extract(const TArgs& Args) {
  const TParsedArgs Parsed =
      ParseArgs(Args, {"--with-paths", "--check-crc", "--skip-existing", "--help", "-h"}, {"-d"});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(ExtractUsage, stdout);
    return 0;
  }
  if (Parsed.Operands.empty()) throw EUsageError("no archive given");
  const std::string Dir = Parsed.Value("-d", ".");
  const bool WithPaths = Parsed.Has("--with-paths");

  kv::TZLBArchive Archive;
  Archive.SetExtractWithPath(WithPaths);
  Archive.SetCheckCRC(Parsed.Has("--check-crc"));
  if (Parsed.Has("--skip-existing"))
    Archive.SetOnReplaceFile([](std::string, bool& Replace) { Replace = false; });
  TInput Input(Archive, Parsed.Operands[0]);
  Input.RequireDataApart();
  const int32_t Count = Archive.GetFileCount();

  // Select the entries before anything is written.
  std::vector<int32_t> Selected;
  std::vector<bool> NameFound(Parsed.Operands.size(), false);
  kv::TZLBFileEntry Entry;
  int64_t TotalBytes = 0;
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    bool Wanted = Parsed.Operands.size() == 1;
    for (size_t N = 1; N < Parsed.Operands.size(); ++N) {
      const std::string& Want = Parsed.Operands[N];
      if (kv::SameText(Want, Entry.FileName.ToString()) || kv::SameText(Want, DisplayName(Entry))) {
        Wanted = true;
        NameFound[N] = true;
      }
    }
    if (Wanted) {
      Selected.push_back(I);
      TotalBytes += Entry.OriginalSize;
    }
  }
  for (size_t N = 1; N < Parsed.Operands.size(); ++N)
    if (!NameFound[N]) throw kv::Exception("no entry named '" + Parsed.Operands[N] + "'");

  // A missing destination is made, parents included, as unzip and 7z do.
  if (!kv::DirectoryExists(Dir))
    if (const std::error_code Error = kv::ForceDirectories(Dir))
      throw kv::Exception("cannot create directory '" + Dir + "': " + Error.message());
  // With paths the stored path is appended to the destination as it stands;
  // a trailing delimiter makes "sub\", "\sub\" and "sub" all land below DIR
  // (runs of backslashes collapse). Without paths the name follows one "\".
  const std::string DestDir = WithPaths ? Dir + "\\" : Dir;

  TProgressLine Progress(TotalBytes);
  Archive.SetOnProgress([&Progress](std::string, int32_t Percentage) {
    if (Percentage > 0) Progress.Report(Percentage);
  });
  for (const int32_t I : Selected) {
    Archive.GetFileEntry(I, Entry);
    Progress.StartEntry(DisplayName(Entry), Entry.OriginalSize);
    Input.ReadEntry(I, [&] { Archive.ExtractFile(DestDir, I); });
    Progress.EndEntry();
  }
  return 0;
}

}  // namespace zlbtool
