// Windows code pages from tables generated at build time (CharTables.h):
// the same bytes as Windows' own conversions, on every platform.
#include "konvoro/CodePage.h"

#include <vector>

#include "CharTables.h"
#include "konvoro/Unicode.h"

namespace kv {

namespace {

constexpr uint32_t Utf8CodePage = 65001;

using chartables::TCodePageTables;

bool IsLeadByte(const TCodePageTables& Tables, unsigned char Byte) {
  return Byte >= 0x80 && ((Tables.LeadBytes[(Byte - 0x80) >> 6] >> ((Byte - 0x80) & 63)) & 1) != 0;
}

// The character that Bytes holds at Pos, which moves past it; nullopt for
// a sequence that MultiByteToWideChar with MB_ERR_INVALID_CHARS refuses.
// Never for UTF-8, which has no tables.
std::optional<char16_t> DecodeNext(const TCodePageTables& Tables, std::string_view Bytes,
                                   size_t& Pos) {
  const auto Byte = static_cast<unsigned char>(Bytes[Pos]);
  uint16_t C;
  if (Byte < 0x80) {
    C = Byte;
    ++Pos;
  } else if (IsLeadByte(Tables, Byte)) {
    if (Pos + 1 == Bytes.size()) return std::nullopt;
    C = Tables.DoubleBytes[uint16_t(Byte << 8 | static_cast<unsigned char>(Bytes[Pos + 1]))];
    Pos += 2;
  } else {
    C = Tables.SingleBytes[Byte - 0x80];
    ++Pos;
  }
  if (C == 0 && Byte != 0) return std::nullopt;
  return char16_t(C);
}

}  // namespace

TCodePage::TCodePage(const TCodePageTables& Tables) : FTables(Tables), FNumber(Tables.Number) {}

const TCodePage* TCodePage::Find(uint32_t Number) {
  static const std::vector<TCodePage> Known = [] {
    std::vector<TCodePage> Pages;
    Pages.reserve(chartables::KnownCodePages.size());
    for (const TCodePageTables& Tables : chartables::KnownCodePages)
      Pages.push_back(TCodePage(Tables));
    return Pages;
  }();
  for (const TCodePage& Page : Known)
    if (Page.Number() == Number) return &Page;
  return nullptr;
}

bool TCodePage::IsAnsi() const {
  return FTables.IsAnsi;
}

std::span<const uint32_t> TCodePage::OemPartners() const {
  return FTables.OemPartners;
}

size_t TCodePage::CharLength(std::string_view Text) const {
  if (Text.empty()) return 0;
  return (Text.size() >= 2 && IsLeadByte(FTables, static_cast<unsigned char>(Text[0]))) ? 2 : 1;
}

bool TCodePage::IsValid(std::string_view Text) const {
  if (FNumber == Utf8CodePage) return DecodeUtf8(Text).has_value();
  for (size_t Pos = 0; Pos < Text.size();)
    if (!DecodeNext(FTables, Text, Pos)) return false;
  return true;
}

std::optional<std::string> TCodePage::FromUtf8(std::string_view Utf8) const {
  const std::optional<std::u32string> Chars = DecodeUtf8(Utf8);
  if (!Chars) return std::nullopt;
  if (FNumber == Utf8CodePage) return std::string(Utf8);
  std::string Out;
  Out.reserve(Utf8.size());
  for (const char32_t C : *Chars) {
    if (C < 0x80) {
      Out += char(C);
      continue;
    }
    // Only UTF-8 holds characters beyond the Basic Multilingual Plane.
    const uint16_t Bytes = C <= 0xFFFF ? FTables.Encoding[uint16_t(C)] : 0;
    if (Bytes == 0) return std::nullopt;
    if (Bytes > 0xFF) Out += char(Bytes >> 8);
    Out += char(Bytes & 0xFF);
  }
  return Out;
}

std::optional<std::string> TCodePage::ToUtf8(std::string_view Bytes) const {
  if (FNumber == Utf8CodePage) {
    if (!DecodeUtf8(Bytes)) return std::nullopt;
    return std::string(Bytes);
  }
  std::u32string Chars;
  Chars.reserve(Bytes.size());
  for (size_t Pos = 0; Pos < Bytes.size();) {
    const std::optional<char16_t> C = DecodeNext(FTables, Bytes, Pos);
    if (!C) return std::nullopt;
    Chars += *C;
  }
  return EncodeUtf8(Chars);
}

std::span<const uint32_t> SupportedAnsiCodePages() {
  return chartables::AnsiCodePageNumbers;
}

}  // namespace kv
