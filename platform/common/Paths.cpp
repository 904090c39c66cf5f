// Path strings, directory creation and enumeration, common to every
// platform; which characters delimit paths is each port's own rule
// (IsPathDelimiter), and each port gathers a directory's entries itself.
#include <array>
#include <string>

#include "ClassMessages.h"
#include "Exceptions.h"
#include "Files.h"

namespace kv {

namespace {

size_t LastDelimiterOrDrive(const std::string& FileName) {
  for (size_t I = FileName.size(); I > 0; --I) {
    const char C = FileName[I - 1];
    if (IsPathDelimiter(C) || C == ':') return I - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string ExtractFilePath(const std::string& FileName) {
  const size_t At = LastDelimiterOrDrive(FileName);
  return At == std::string::npos ? std::string() : FileName.substr(0, At + 1);
}

std::string ExtractFileName(const std::string& FileName) {
  const size_t At = LastDelimiterOrDrive(FileName);
  return At == std::string::npos ? FileName : FileName.substr(At + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& Path) {
  if (!Path.empty() && IsPathDelimiter(Path.back())) return Path;
  return Path + '\\';
}

std::error_code ForceDirectories(std::string Dir) {
  if (Dir.empty()) throw EInOutError(messages::SCannotCreateDir);
  while (Dir.size() > 1 && IsPathDelimiter(Dir.back()))
    Dir.pop_back();
  if (DirectoryExists(Dir)) return {};
  // Walk up to the deepest existing ancestor, then create downwards.
  std::string Parent = ExtractFilePath(Dir);
  while (Parent.size() > 1 && IsPathDelimiter(Parent.back()))
    Parent.pop_back();
  const bool AtRoot = Parent.empty() || Parent == Dir || Parent.back() == ':' ||
                      (Parent.size() == 1 && IsPathDelimiter(Parent[0]));
  if (!AtRoot && !DirectoryExists(Parent))
    if (const std::error_code Error = ForceDirectories(Parent)) return Error;
  const std::error_code Error = CreateDir(Dir);
  // Another process may have made it meanwhile; then all is well.
  if (Error && DirectoryExists(Dir)) return {};
  return Error;
}

TErrorOr<uint32_t> UniqueNumber() {
  std::array<uint8_t, 4> Bytes{};
  if (const std::error_code Error = SystemRandom(Bytes)) return Error;
  return uint32_t(Bytes[0]) | uint32_t(Bytes[1]) << 8 | uint32_t(Bytes[2]) << 16 |
         uint32_t(Bytes[3]) << 24;
}

// ---------------------------------------------------------------------------

bool TFileSearch::FindFirst(const std::string& Pattern, uint32_t Attr, TSearchRec& Found) {
  FindClose();
  return Gather(Pattern, ~Attr & (faHidden | faSysFile | faVolumeID | faDirectory)) &&
         FindNext(Found);
}

bool TFileSearch::FindNext(TSearchRec& Found) {
  if (FNext >= FEntries.size()) return false;
  Found = FEntries[FNext++];
  return true;
}

void TFileSearch::FindClose() {
  FEntries.clear();
  FNext = 0;
}

}  // namespace kv
