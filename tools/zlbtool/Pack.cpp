// zlbtool pack: writes an archive from files and folder trees.
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "Output.h"
#include "Release.h"
#include "konvoro/Files.h"
#include "konvoro/Streams.h"

namespace zlbtool {

namespace {

constexpr const char* PackUsage =
    "usage: zlbtool pack -o OUT.zlb [--stored] [--raw-directory] [--with-paths]\n"
    "                    [--code-page N] [--threads N] FILE|DIR...\n"
    "\n"
    "Writes an archive of the given files; a folder adds every file below it, in\n"
    "sorted order (a symbolic link to a file as that file, under the link's name).\n"
    "By default each entry is one zlib stream at the default level, the directory\n"
    "is compressed, and no paths are stored. Every file is checked first: names\n"
    "Windows refuses, names with no form in the code page, two names that are one\n"
    "file on Windows, files over 2 GiB and anything that is no regular file are\n"
    "all reported, and nothing is written.\n"
    "\n"
    "  -o, --output FILE  the archive to write (it appears only once complete)\n"
    "  --stored           hold the entries raw instead of compressed\n"
    "  --raw-directory    hold the directory raw instead of compressed\n"
    "  --with-paths       record each file's folder relative to the argument\n"
    "  --code-page N      the target system's ANSI code page, which names are\n"
    "                     stored in (874, 932, 936, 949, 950, 1250-1258, 65001);\n"
    "                     default: the system's on Windows, none (ASCII names\n"
    "                     alone) elsewhere; recorded in the archive\n"
    "  --threads N        entries compressed at once (default: one per processor)\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      print each file as it is stored\n";

}  // namespace

int Pack(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(Args, {"--stored", "--raw-directory", "--with-paths"},
                                       {"-o", "--output", CodePageOption, "--threads"});
  if (WantsHelp(Parsed)) {
    Print(PackUsage);
    return 0;
  }
  const std::string Output = Parsed.Find({"-o", "--output"}).value_or("");
  if (Output.empty()) throw EUsageError("no output archive given (-o OUT.zlb)");
  if (Parsed.Operands.empty()) throw EUsageError("no files to pack");
  const unsigned Threads = ThreadCount(Parsed);
  const bool WithPaths = Parsed.Has("--with-paths");
  const TNameCodec Codec(WritingCodePage(Parsed));

  TRelease Release = GatherRelease(Parsed.Operands, WithPaths, Codec);
  std::vector<TCheckedName> Names;
  for (size_t I = 0; I < Release.Files.size(); ++I)
    Names.push_back(
        {int32_t(I), Release.Files[I].Subject, Release.Files[I].Name, Release.Files[I].Path});
  for (TProblem& Problem :
       CheckNames(Names, Codec, {.OneFolder = !WithPaths, .ScriptNames = false}))
    Release.Problems.push_back(std::move(Problem));
  if (!Release.Problems.empty()) RefuseRelease(Output, Release.Problems);

  // The archive appears under its name only once it is complete.
  kv::TZLBWriterOptions Options;
  Options.Stored = Parsed.Has("--stored");
  Options.RawDirectory = Parsed.Has("--raw-directory");
  WithFileNamed(Output, [&] {
    kv::TReplacingFileStream Out(Output);
    WriteArchive(Release.Files, Options, Codec, Threads, Out);
    (void)Out.Commit();
  });
  return 0;
}

}  // namespace zlbtool
