// Windows code pages, the same on every platform: the byte text of names
// meant for a Windows system whose ANSI code page is known, converted
// exactly to and from Unicode (UTF-8 here), walked by character, and paired
// with the OEM code pages that the command interpreter of such a system
// reads. The tables are Windows' own, so that a name converted here is the
// name that system shows, and no character ever becomes a look-alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "konvoro/Text.h"

namespace kv {

namespace chartables {
struct TCodePageTables;
}

class TCodePage final : public TCharRules {
 public:
  // The code page numbered Number, or nullptr when it is none of those
  // known here: the ANSI code pages of SupportedAnsiCodePages() and the OEM
  // code pages paired with them.
  static const TCodePage* Find(uint32_t Number);

  uint32_t Number() const { return FNumber; }
  // True for an ANSI code page (one a system can have as its ANSI code
  // page), false for one that is only an OEM code page.
  bool IsAnsi() const;

  // 2 for a lead byte followed by a byte, else 1; 0 for empty Text.
  size_t CharLength(std::string_view Text) const override;
  // True when every character of Text is one the code page defines, as
  // MultiByteToWideChar with MB_ERR_INVALID_CHARS takes it.
  bool IsValid(std::string_view Text) const override;

  // Utf8 in this code page exactly: what WideCharToMultiByte gives with
  // WC_NO_BEST_FIT_CHARS without using the default character (with
  // WC_ERR_INVALID_CHARS for 65001), so that the bytes convert back to the
  // very same characters. nullopt when a character has no such form (outside
  // 65001, no character beyond the Basic Multilingual Plane has one), or
  // Utf8 is not valid UTF-8. Where several byte sequences decode to one character
  // (932's NEC and IBM duplicates), the one Windows chooses. As on Windows,
  // the private-use characters that stand for a single-byte code page's
  // undefined bytes convert, to bytes that ToUtf8 refuses.
  std::optional<std::string> FromUtf8(std::string_view Utf8) const;
  // Bytes of this code page as UTF-8, as MultiByteToWideChar with
  // MB_ERR_INVALID_CHARS converts them; nullopt when IsValid is false.
  std::optional<std::string> ToUtf8(std::string_view Bytes) const;

  // For an ANSI code page, the OEM code pages that Windows pairs with it,
  // where the batch files it runs are read: one for most (1250: 852, 1251:
  // 866, 932: 932), two for 1252 (437 and 850, by country). Empty for an
  // OEM code page.
  std::span<const uint32_t> OemPartners() const;

 private:
  // Find makes one for each code page known, for the program's lifetime.
  explicit TCodePage(const chartables::TCodePageTables& Tables);

  const chartables::TCodePageTables& FTables;
  uint32_t FNumber;
};

// The ANSI code pages known here, ascending: at least 874, 932, 936, 949,
// 950, 1250 to 1258 and 65001.
std::span<const uint32_t> SupportedAnsiCodePages();

}  // namespace kv
