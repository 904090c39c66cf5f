// Unicode text as UTF-8 and UTF-16, and letter case as Windows compares
// names (a table generated from Unicode::UCD, CharTables.h).
#include "konvoro/Unicode.h"

#include "CharTables.h"

namespace kv {

namespace {

constexpr char32_t LastCodePoint = 0x10FFFF;

constexpr bool IsSurrogate(char32_t C) {
  return C >= 0xD800 && C <= 0xDFFF;
}

// The code point that Utf8 holds at Pos, which moves past it; nullopt for
// anything but the shortest form of a scalar value.
std::optional<char32_t> DecodeNext(std::string_view Utf8, size_t& Pos) {
  const auto Lead = static_cast<unsigned char>(Utf8[Pos]);
  size_t Length;
  char32_t C, Least;
  if (Lead < 0x80) {
    ++Pos;
    return Lead;
  } else if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2, C = Lead & 0x1F, Least = 0x80;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3, C = Lead & 0x0F, Least = 0x800;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4, C = Lead & 0x07, Least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (Utf8.size() - Pos < Length) return std::nullopt;
  for (size_t I = 1; I < Length; ++I) {
    const auto Next = static_cast<unsigned char>(Utf8[Pos + I]);
    if ((Next & 0xC0) != 0x80) return std::nullopt;
    C = (C << 6) | (Next & 0x3F);
  }
  if (C < Least || C > LastCodePoint || IsSurrogate(C)) return std::nullopt;
  Pos += Length;
  return C;
}

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += char(C);
  } else if (C < 0x800) {
    Out += char(0xC0 | (C >> 6));
    Out += char(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += char(0xE0 | (C >> 12));
    Out += char(0x80 | ((C >> 6) & 0x3F));
    Out += char(0x80 | (C & 0x3F));
  } else {
    Out += char(0xF0 | (C >> 18));
    Out += char(0x80 | ((C >> 12) & 0x3F));
    Out += char(0x80 | ((C >> 6) & 0x3F));
    Out += char(0x80 | (C & 0x3F));
  }
}

}  // namespace

std::optional<std::u32string> DecodeUtf8(std::string_view Utf8) {
  std::u32string Out;
  Out.reserve(Utf8.size());
  for (size_t Pos = 0; Pos < Utf8.size();) {
    const std::optional<char32_t> C = DecodeNext(Utf8, Pos);
    if (!C) return std::nullopt;
    Out += *C;
  }
  return Out;
}

std::string EncodeUtf8(std::u32string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (const char32_t C : Text)
    AppendUtf8(Out, C);
  return Out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view Utf8) {
  std::u16string Out;
  Out.reserve(Utf8.size());
  for (size_t Pos = 0; Pos < Utf8.size();) {
    const std::optional<char32_t> C = DecodeNext(Utf8, Pos);
    if (!C) return std::nullopt;
    if (*C < 0x10000) {
      Out += char16_t(*C);
    } else {
      Out += char16_t(0xD800 + ((*C - 0x10000) >> 10));
      Out += char16_t(0xDC00 + ((*C - 0x10000) & 0x3FF));
    }
  }
  return Out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view Utf16) {
  std::string Out;
  Out.reserve(Utf16.size());
  for (size_t I = 0; I < Utf16.size(); ++I) {
    char32_t C = Utf16[I];
    if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Utf16.size() && Utf16[I + 1] >= 0xDC00 &&
        Utf16[I + 1] <= 0xDFFF) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Utf16[++I] - 0xDC00);
    } else if (IsSurrogate(C)) {
      return std::nullopt;
    }
    AppendUtf8(Out, C);
  }
  return Out;
}

char32_t UpcaseForNames(char32_t C) {
  // Windows' table has one entry for each UTF-16 unit, so beyond the Basic
  // Multilingual Plane nothing changes.
  if (C > 0xFFFF) return C;
  const uint16_t Upper = chartables::UpcaseForNames[uint16_t(C)];
  return Upper != 0 ? Upper : C;
}

std::optional<std::string> NameCompareKey(std::string_view Utf8) {
  std::string Out;
  Out.reserve(Utf8.size());
  for (size_t Pos = 0; Pos < Utf8.size();) {
    const std::optional<char32_t> C = DecodeNext(Utf8, Pos);
    if (!C) return std::nullopt;
    AppendUtf8(Out, UpcaseForNames(*C));
  }
  return Out;
}

}  // namespace kv
