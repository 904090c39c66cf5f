// Path strings, directory creation and enumeration, common to every
// platform; which characters delimit paths is each port's own rule
// (IsPathDelimiter), and each port gathers a directory's entries itself.
// Paths are walked by character in the path encoding: in a double-byte
// ANSI code page the second byte of a character may be "\\"; in UTF-8 no
// byte of a longer character is ever taken for one.
#include <array>
#include <string>

#include "konvoro/ClassMessages.h"
#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/Text.h"

namespace kv {

namespace {

// UTF-8's rules for a walk that looks for ASCII separators: every byte a
// character.
class TBytewiseRules final : public TCharRules {
 public:
  size_t CharLength(std::string_view Text) const override { return Text.empty() ? 0 : 1; }
  bool IsValid(std::string_view) const override { return true; }
};

// The rules of the path encoding.
const TCharRules& PathRules() {
  static const TBytewiseRules Bytewise;
  return GetPathEncoding() == TPathEncoding::Utf8 ? Bytewise : SystemAnsiRules();
}

// The last character of Path under the path encoding's rules.
std::string_view LastPathChar(std::string_view Path) {
  std::string_view Last;
  ForEachChar(PathRules(), Path, [&](std::string_view Char) { Last = Char; });
  return Last;
}

size_t LastDelimiterOrDrive(const std::string& FileName) {
  size_t Last = std::string::npos, At = 0;
  ForEachChar(PathRules(), FileName, [&](std::string_view Char) {
    if (Char.size() == 1 && (IsPathDelimiter(Char[0]) || Char[0] == ':')) Last = At;
    At += Char.size();
  });
  return Last;
}

// Path without the path delimiters it ends with, but for a lone one.
void RemoveTrailingPathDelimiters(std::string& Path) {
  while (Path.size() > 1 && EndsWithPathDelimiter(Path))
    Path.pop_back();
}

}  // namespace

bool EndsWithPathDelimiter(std::string_view Path) {
  const std::string_view Last = LastPathChar(Path);
  return Last.size() == 1 && IsPathDelimiter(Last[0]);
}

std::string ExtractFilePath(const std::string& FileName) {
  const size_t At = LastDelimiterOrDrive(FileName);
  return At == std::string::npos ? std::string() : FileName.substr(0, At + 1);
}

std::string ExtractFileName(const std::string& FileName) {
  const size_t At = LastDelimiterOrDrive(FileName);
  return At == std::string::npos ? FileName : FileName.substr(At + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& Path) {
  if (EndsWithPathDelimiter(Path)) return Path;
  return Path + '\\';
}

std::error_code ForceDirectories(std::string Dir) {
  if (Dir.empty()) throw EInOutError(messages::SCannotCreateDir);
  RemoveTrailingPathDelimiters(Dir);
  if (DirectoryExists(Dir)) return {};
  // Walk up to the deepest existing ancestor, then create downwards.
  std::string Parent = ExtractFilePath(Dir);
  RemoveTrailingPathDelimiters(Parent);
  const bool AtRoot = Parent.empty() || Parent == Dir || Parent.back() == ':' ||
                      (Parent.size() == 1 && IsPathDelimiter(Parent[0]));
  if (!AtRoot && !DirectoryExists(Parent))
    if (const std::error_code Error = ForceDirectories(Parent)) return Error;
  const std::error_code Error = CreateDir(Dir);
  // Another process may have made it meanwhile; then all is well.
  if (Error && DirectoryExists(Dir)) return {};
  // What stands there is no directory, as mkdir -p says.
  if (Error == std::errc::file_exists) return std::make_error_code(std::errc::not_a_directory);
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
