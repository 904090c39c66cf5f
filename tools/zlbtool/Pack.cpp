// zlbtool pack: writes an archive from files and directory trees.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "Packing.h"
#include "konvoro/Files.h"
#include "konvoro/Streams.h"
#include "konvoro/UniqueHandle.h"

namespace zlbtool {

namespace {

constexpr const char* PackUsage =
    "usage: zlbtool pack -o OUT.zlb [--stored] [--raw-directory] [--with-paths] FILE|DIR...\n"
    "\n"
    "Writes an archive of the given files; a directory adds every file below it,\n"
    "in sorted order. By default each entry is one zlib stream at the default\n"
    "level, the directory is compressed, and no paths are stored.\n"
    "\n"
    "  -o, --output FILE  the archive to write (replaced only once complete)\n"
    "  --stored           hold the entries raw instead of compressed\n"
    "  --raw-directory    hold the directory raw instead of compressed\n"
    "  --with-paths       record each file's directory relative to the argument\n";

}  // namespace

int Pack(const TArgs& Args) {
  const TParsedArgs Parsed = ParseArgs(
      Args, {"--stored", "--raw-directory", "--with-paths", "--help", "-h"}, {"-o", "--output"});
  if (Parsed.Has("--help") || Parsed.Has("-h")) {
    std::fputs(PackUsage, stdout);
    return 0;
  }
  const std::string Output = Parsed.Value("-o", Parsed.Value("--output", ""));
  if (Output.empty()) throw EUsageError("no output archive given (-o OUT.zlb)");
  if (Parsed.Operands.empty()) throw EUsageError("no files to pack");
  const bool WithPaths = Parsed.Has("--with-paths");

  const std::vector<TPackInput> Inputs = GatherInputs(Parsed.Operands, WithPaths);
  CheckInputs(Inputs, WithPaths, WithPaths ? "" : " (use --with-paths to keep their directories)");

  // The archive appears under its name only once it is complete.
  const std::string Partial = Output + ".partial";
  auto RemovePartial = kv::ScopeExit([&] { (void)kv::DeleteFile(Partial); });
  {
    kv::TFileStream Out(Partial, kv::fmCreate);
    WriteArchive(Inputs, {Parsed.Has("--stored"), Parsed.Has("--raw-directory")}, Out);
  }
  if (const std::error_code Error = kv::RenameFile(Partial, Output))
    throw kv::Exception("cannot rename '" + Partial + "' to '" + Output + "': " + Error.message());
  RemovePartial.Dismiss();
  return 0;
}

}  // namespace zlbtool
