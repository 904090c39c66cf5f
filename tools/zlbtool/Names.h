// Names between this system and an archive. An archive holds its names as
// bytes in the ANSI code page of the system it is made for; zlbtool takes
// and shows names in UTF-8 (on Windows converted from and to the wide
// calls' UTF-16), and converts between the two exactly, in the code page
// chosen with --code-page or recorded in the archive, never by look-alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "CommandLine.h"
#include "konvoro/CodePage.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace zlbtool {

// The option that names the target's code page.
inline constexpr const char* CodePageOption = "--code-page";

bool IsAscii(std::string_view Text);

// How names convert, in one code page or, without one, for ASCII names alone.
class TNameCodec {
 public:
  explicit TNameCodec(const kv::TCodePage* CodePage) : FCodePage(CodePage) {}

  const kv::TCodePage* CodePage() const { return FCodePage; }
  // The character rules names are checked by: the code page's, else one
  // byte a character, ASCII alone being text.
  const kv::TCharRules& Rules() const;

  // Host (UTF-8) to archive bytes; nullopt when a character has no exact
  // form (without a code page: when Host is not ASCII).
  std::optional<std::string> ToArchive(std::string_view Host) const;
  // Archive bytes to host (UTF-8); nullopt when they are no text of the
  // code page (without one: not ASCII).
  std::optional<std::string> ToHost(std::string_view Bytes) const;
  // The name to show: ToHost, or the bytes with those outside ASCII as \xNN.
  std::string Shown(std::string_view Bytes) const;
  // Why a host name cannot be stored: "'Łódź.txt' has no form in code page
  // 1252", or that a code page must be chosen.
  std::string NoFormText(std::string_view Host) const;

 private:
  const kv::TCodePage* FCodePage;
};

// The code page names are written in: --code-page when given (a usage error
// for one not supported), else the system's ANSI code page on Windows, else
// none.
const kv::TCodePage* WritingCodePage(const TParsedArgs& Parsed);
// The code page an archive's names are read in: --code-page when given,
// else the one the archive records, else the system's ANSI code page on
// Windows, else none.
const kv::TCodePage* ReadingCodePage(const TParsedArgs& Parsed,
                                     const kv::TZLBArchiveTrailer& Trailer);

// The entry's stored path joined to its name, as bytes: the path, one
// backslash unless its last character (under Rules) is one, the name.
std::string JoinedName(const kv::TZLBFileEntry& Entry, const kv::TCharRules& Rules);

}  // namespace zlbtool
