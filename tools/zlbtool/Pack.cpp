// zlbtool pack: writes an archive from files and directory trees.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "Files.h"
#include "Streams.h"
#include "Text.h"
#include "UniqueHandle.h"
#include "ZLBWriter.h"

namespace fs = std::filesystem;

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

struct TInput {
  std::string SourcePath;  // where to read the file
  std::string Name;        // the entry's FileName
  std::string Path;        // the entry's FilePath: "sub\deeper\" or ""
};

std::string StoredPathOf(const fs::path& Relative) {
  std::string Path;
  for (const fs::path& Part : Relative.parent_path()) {
    Path += Part.string();
    Path += '\\';
  }
  return Path;
}

void AddDirectory(const fs::path& Root, std::vector<TInput>& Inputs) {
  std::vector<TInput> Found;
  for (auto It = fs::recursive_directory_iterator(Root); It != fs::recursive_directory_iterator();
       ++It) {
    if (!It->is_regular_file()) continue;
    const fs::path Relative = fs::relative(It->path(), Root);
    Found.push_back({It->path().string(), It->path().filename().string(), StoredPathOf(Relative)});
  }
  std::sort(Found.begin(), Found.end(),
            [](const TInput& A, const TInput& B) { return A.Path + A.Name < B.Path + B.Name; });
  Inputs.insert(Inputs.end(), Found.begin(), Found.end());
}

// Refuses what the format cannot hold, before anything is written.
void CheckInputs(const std::vector<TInput>& Inputs, bool WithPaths) {
  std::vector<std::string> Keys;
  for (const TInput& In : Inputs) {
    if (In.Name.size() > kv::TShortString::MaxLength)
      throw kv::Exception("file name longer than 255 bytes: " + In.SourcePath);
    if (WithPaths && In.Path.size() > kv::TShortString::MaxLength)
      throw kv::Exception("directory path longer than 255 bytes: " + In.SourcePath);
    Keys.push_back(kv::UpperCase((WithPaths ? In.Path : std::string()) + In.Name));
  }
  // Entries that would extract to the same file would overwrite each other.
  std::sort(Keys.begin(), Keys.end());
  const auto Dup = std::adjacent_find(Keys.begin(), Keys.end());
  if (Dup != Keys.end())
    throw kv::Exception("two files would be stored as '" + *Dup +
                        (WithPaths ? "'" : "' (use --with-paths to keep their directories)"));
}

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

  std::vector<TInput> Inputs;
  for (const std::string& Operand : Parsed.Operands) {
    std::error_code Error;
    const fs::file_status Status = fs::status(Operand, Error);
    if (fs::is_directory(Status)) {
      AddDirectory(Operand, Inputs);
    } else if (fs::is_regular_file(Status)) {
      Inputs.push_back({Operand, fs::path(Operand).filename().string(), ""});
    } else {
      throw kv::Exception("cannot read '" + Operand + "': no such file or directory");
    }
  }
  if (!WithPaths)
    for (TInput& In : Inputs)
      In.Path.clear();
  CheckInputs(Inputs, WithPaths);

  // The archive appears under its name only once it is complete.
  const std::string Partial = Output + ".partial";
  auto RemovePartial = kv::ScopeExit([&] { (void)kv::DeleteFile(Partial); });
  {
    kv::TFileStream Out(Partial, kv::fmCreate);
    kv::TZLBArchiveWriter Writer(Out, {Parsed.Has("--stored"), Parsed.Has("--raw-directory")});
    for (const TInput& In : Inputs) {
      kv::TFileStream Source(In.SourcePath, kv::fmOpenRead | kv::fmShareDenyWrite);
      Writer.AddEntry(In.Name, In.Path, Source);
    }
    Writer.Finish();
  }
  if (const std::error_code Error = kv::RenameFile(Partial, Output))
    throw kv::Exception("cannot rename '" + Partial + "' to '" + Output + "': " + Error.message());
  RemovePartial.Dismiss();
  return 0;
}

}  // namespace zlbtool
