// What pack and updater share: inputs, their checks, the archive.
#include "Packing.h"

#include <algorithm>
#include <filesystem>

#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/Text.h"

namespace fs = std::filesystem;

namespace zlbtool {

namespace {

std::string StoredPathOf(const fs::path& Relative) {
  std::string Path;
  for (const fs::path& Part : Relative.parent_path()) {
    Path += Part.string();
    Path += '\\';
  }
  return Path;
}

void AddDirectory(const fs::path& Root, std::vector<TPackInput>& Inputs) {
  std::vector<TPackInput> Found;
  for (auto It = fs::recursive_directory_iterator(Root); It != fs::recursive_directory_iterator();
       ++It) {
    if (!It->is_regular_file()) continue;
    const fs::path Relative = fs::relative(It->path(), Root);
    Found.push_back({It->path().string(), It->path().filename().string(), StoredPathOf(Relative)});
  }
  std::sort(Found.begin(), Found.end(), [](const TPackInput& A, const TPackInput& B) {
    return A.Path + A.Name < B.Path + B.Name;
  });
  Inputs.insert(Inputs.end(), Found.begin(), Found.end());
}

}  // namespace

std::vector<TPackInput> GatherInputs(const std::vector<std::string>& Operands, bool WithPaths) {
  std::vector<TPackInput> Inputs;
  for (const std::string& Operand : Operands) {
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
    for (TPackInput& In : Inputs)
      In.Path.clear();
  return Inputs;
}

void CheckInputs(const std::vector<TPackInput>& Inputs, bool WithPaths, const std::string& Hint) {
  std::vector<std::pair<std::string, const TPackInput*>> Keys;
  for (const TPackInput& In : Inputs) {
    if (In.Name.size() > kv::TShortString::MaxLength)
      throw kv::Exception("file name longer than 255 bytes: " + In.SourcePath);
    if (WithPaths && In.Path.size() > kv::TShortString::MaxLength)
      throw kv::Exception("directory path longer than 255 bytes: " + In.SourcePath);
    Keys.emplace_back(kv::UpperCase(In.Path + In.Name), &In);
  }
  // Entries that would extract to the same file would overwrite each other.
  std::stable_sort(Keys.begin(), Keys.end(),
                   [](const auto& A, const auto& B) { return A.first < B.first; });
  const auto Dup = std::adjacent_find(
      Keys.begin(), Keys.end(), [](const auto& A, const auto& B) { return A.first == B.first; });
  if (Dup != Keys.end())
    throw kv::Exception("two files would be stored as '" + Dup->first + "': '" +
                        Dup->second->SourcePath + "' and '" + (Dup + 1)->second->SourcePath + "'" +
                        Hint);
}

void WriteArchive(const std::vector<TPackInput>& Inputs, kv::TZLBWriterOptions Options,
                  kv::TStream& Out) {
  kv::TZLBArchiveWriter Writer(Out, Options);
  for (const TPackInput& In : Inputs) {
    kv::TFileStream Source(In.SourcePath, kv::fmOpenRead | kv::fmShareDenyWrite);
    Writer.AddEntry(In.Name, In.Path, Source);
  }
  Writer.Finish();
}

}  // namespace zlbtool
