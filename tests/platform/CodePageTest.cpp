// Windows code pages and Unicode helpers: known conversions and refusals on
// every platform; on Windows, every table against the system's own
// conversions, whatever its ANSI code page.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "konvoro/CodePage.h"
#include "konvoro/Unicode.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace kv;

namespace {

const TCodePage& Page(uint32_t Number) {
  const TCodePage* Found = TCodePage::Find(Number);
  if (!Found) throw std::runtime_error("no code page " + std::to_string(Number));
  return *Found;
}

std::vector<uint32_t> AllKnownCodePages() {
  std::set<uint32_t> All;
  for (const uint32_t Ansi : SupportedAnsiCodePages()) {
    All.insert(Ansi);
    for (const uint32_t Oem : Page(Ansi).OemPartners())
      All.insert(Oem);
  }
  return {All.begin(), All.end()};
}

std::string Hex(std::string_view Bytes) {
  std::string Out;
  for (const char B : Bytes) {
    static const char Digits[] = "0123456789ABCDEF";
    Out += Digits[static_cast<unsigned char>(B) >> 4];
    Out += Digits[B & 0xF];
  }
  return Out;
}

std::string Shown(const std::optional<std::string>& Bytes) {
  return Bytes ? Hex(*Bytes) : "none";
}

}  // namespace

// Text that each code page holds exactly, both ways, including what Windows
// adds to the published tables: the C1 controls in the gaps of 1252, the
// Hebrew point at 0xCA of 1255, and 720, which Perl's Encode lacks.
TEST(CodePage, ConvertsExactlyBothWays) {
  struct TRow {
    uint32_t CodePage;
    std::string Utf8, Bytes;
  };
  const TRow Rows[] = {
      {1250, "Łódź.txt", "\xA3\xF3\x64\x9F.txt"},
      {1251, "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {932, "ソフト", "\x83\x5C\x83\x74\x83\x67"},
      {932, "表", "\x95\x5C"},
      {932, "ｱ", "\xB1"},
      {1252, "€", "\x80"},
      {936, "€", "\x80"},
      {949, "한", "\xC7\xD1"},
      {950, "中", "\xA4\xA4"},
      {1252, "\xC2\x81", "\x81"},
      {1255, "\xD6\xBA", "\xCA"},
      {720, "ب", "\xA0"},
      {850, "É", "\x90"},
      {866, "Ё", "\xF0"},
      {65001, "ソ😀", "ソ😀"},
      {1252, "", ""},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(std::to_string(Row.CodePage) + " " + Row.Utf8);
    EXPECT_EQ(Shown(Page(Row.CodePage).FromUtf8(Row.Utf8)), Hex(Row.Bytes));
    EXPECT_EQ(Page(Row.CodePage).ToUtf8(Row.Bytes), Row.Utf8);
    EXPECT_TRUE(Page(Row.CodePage).IsValid(Row.Bytes));
  }
}

// Characters with no exact form are refused, never given a look-alike, and
// so is text that is not UTF-8.
TEST(CodePage, FromUtf8RefusesWhatHasNoExactForm) {
  struct TRow {
    uint32_t CodePage;
    std::string Utf8;
  };
  const TRow Rows[] = {
      {1252, "Łódź.txt"},  // best fit: "L"
      {932, "¥"},          // best fit: 0x5C, the path delimiter
      {437, "☺"},          // best fit: 0x01
      {1251, "ä"},         // best fit: "a"
      {932, "😀"},          // beyond the Basic Multilingual Plane
      {1258, "ệ"},         // only decomposed
      {874, "\xC3"},       // cut
      {1252, "\xED\xA0\x80"},
      {65001, "\xC0\xAF"},
  };
  for (const TRow& Row : Rows)
    EXPECT_EQ(Page(Row.CodePage).FromUtf8(Row.Utf8), std::nullopt)
        << Row.CodePage << " " << Row.Utf8;
}

// Bytes several of which decode to one character (932's NEC and IBM
// duplicates) decode, and the character goes back to the sequence Windows
// chooses; bytes the code page does not define are refused.
TEST(CodePage, ToUtf8TakesWhatWindowsTakes) {
  struct TRow {
    uint32_t CodePage;
    std::string Bytes;
    std::optional<std::string> Utf8, Chosen;
  };
  const TRow Rows[] = {
      {932, "\x87\x90", "≒", "\x81\xE0"},
      {932, "\xED\x40", "纊", "\xFA\x5C"},
      {932, "\xEE\xF9", "￢", "\x81\xCA"},
      {932, "\xFA\x54", "￢", "\x81\xCA"},
      {932, "\x83", std::nullopt, {}},  // a lead byte alone
      {932, "a\x83", std::nullopt, {}},
      {932, "\x85\x40", std::nullopt, {}},  // a lead byte with no characters
      {932, "\xA0", std::nullopt, {}},      // private use
      {936, "\xFF", std::nullopt, {}},
      {949, "\xC7\x20", std::nullopt, {}},
      {1253, "\xAA", std::nullopt, {}},
      {874, "\xDB", std::nullopt, {}},
      {65001, "\xED\xA0\x80", std::nullopt, {}},
      {65001, "\xF4\x90\x80\x80", std::nullopt, {}},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(std::to_string(Row.CodePage) + " " + Hex(Row.Bytes));
    const TCodePage& P = Page(Row.CodePage);
    EXPECT_EQ(P.ToUtf8(Row.Bytes), Row.Utf8);
    EXPECT_EQ(P.IsValid(Row.Bytes), Row.Utf8.has_value());
    if (Row.Chosen) {
      EXPECT_EQ(Shown(P.FromUtf8(*Row.Utf8)), Hex(*Row.Chosen));
    }
  }
}

// Only the double-byte code pages have lead bytes, in Windows' ranges; a
// lead byte at the end counts alone, and UTF-8's bytes one each.
TEST(CodePage, CharactersEndWhereWindowsEndsThem) {
  struct TLeadRange {
    uint32_t CodePage;
    unsigned char First, Last;
  };
  const TLeadRange LeadRanges[] = {
      {932, 0x81, 0x9F}, {932, 0xE0, 0xFC}, {936, 0x81, 0xFE}, {949, 0x81, 0xFE}, {950, 0x81, 0xFE},
  };
  for (const uint32_t Number : AllKnownCodePages()) {
    const TCodePage& P = Page(Number);
    EXPECT_EQ(P.CharLength(""), 0u);
    for (int Byte = 0; Byte < 256; ++Byte) {
      const bool IsLead = std::any_of(std::begin(LeadRanges), std::end(LeadRanges), [&](auto& R) {
        return R.CodePage == Number && Byte >= R.First && Byte <= R.Last;
      });
      const std::string Pair{char(Byte), '\\'};
      ASSERT_EQ(P.CharLength(Pair), IsLead ? 2u : 1u) << Number << " byte " << Byte;
      ASSERT_EQ(P.CharLength(Pair.substr(0, 1)), 1u) << Number << " byte " << Byte;
    }
  }
}

TEST(CodePage, KnowsTheAnsiCodePagesAndTheirOemPartners) {
  const std::vector<std::pair<uint32_t, std::vector<uint32_t>>> Expected = {
      {874, {874}},  {932, {932}},  {936, {936}},       {949, {949}},   {950, {950}},
      {1250, {852}}, {1251, {866}}, {1252, {437, 850}}, {1253, {737}},  {1254, {857}},
      {1255, {862}}, {1256, {720}}, {1257, {775}},      {1258, {1258}}, {65001, {65001}},
  };
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> Known;
  for (const uint32_t Ansi : SupportedAnsiCodePages()) {
    const std::span<const uint32_t> Partners = Page(Ansi).OemPartners();
    Known.emplace_back(Ansi, std::vector<uint32_t>(Partners.begin(), Partners.end()));
    EXPECT_TRUE(Page(Ansi).IsAnsi()) << Ansi;
    EXPECT_EQ(Page(Ansi).Number(), Ansi);
  }
  EXPECT_EQ(Known, Expected);
  for (const uint32_t OemOnly : {437, 720, 737, 775, 850, 852, 857, 862, 866}) {
    EXPECT_FALSE(Page(OemOnly).IsAnsi()) << OemOnly;
    EXPECT_TRUE(Page(OemOnly).OemPartners().empty()) << OemOnly;
  }
  EXPECT_EQ(TCodePage::Find(1234), nullptr);
  EXPECT_EQ(TCodePage::Find(0), nullptr);
}

// UTF-8 as MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS take it: shortest
// forms of scalar values only.
TEST(Unicode, TakesOnlyWellFormedUtf8) {
  struct TRow {
    std::string Utf8;
    bool Valid;
  };
  const TRow Rows[] = {
      {"", true},
      {"a\x7F", true},
      {"\xC3\xA9", true},
      {"\xE2\x82\xAC", true},
      {"\xEF\xBF\xBF", true},  // a noncharacter is still a scalar value
      {"\xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\x80", false},
      {"\xBF", false},
      {"\xC0\x80", false},
      {"\xC1\xBF", false},
      {"\xE0\x9F\xBF", false},
      {"\xF0\x8F\xBF\xBF", false},
      {"\xED\xA0\x80", false},  // surrogates
      {"\xED\xBF\xBF", false},
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"\xC3", false},  // cut
      {"\xE2\x82", false},
      {"\xF0\x9F\x98", false},
      {"\xC3(", false},
      {"\xE2\x82\xAC\x80", false},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Hex(Row.Utf8));
    const std::optional<std::u32string> Chars = DecodeUtf8(Row.Utf8);
    EXPECT_EQ(Chars.has_value(), Row.Valid);
    EXPECT_EQ(Page(65001).IsValid(Row.Utf8), Row.Valid);
    EXPECT_EQ(NameCompareKey(Row.Utf8).has_value(), Row.Valid);
    const std::optional<std::u16string> Utf16 = Utf8ToUtf16(Row.Utf8);
    ASSERT_EQ(Utf16.has_value(), Row.Valid);
    if (!Row.Valid) continue;
    EXPECT_EQ(EncodeUtf8(*Chars), Row.Utf8);
    EXPECT_EQ(Utf16ToUtf8(*Utf16), Row.Utf8);
  }
  EXPECT_EQ(Utf8ToUtf16("a😀"), u"a\xD83D\xDE00");
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83D\xDE00"), "a😀");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), std::nullopt);
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00\xD83D"), std::nullopt);
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D"
                        u"a"),
            std::nullopt);
}

// Letter case as Windows compares names: every letter with a simple
// uppercase form that lowercases back, nothing that would take two
// characters, nothing beyond the Basic Multilingual Plane.
TEST(Unicode, UpcaseForNamesAsWindowsComparesNames) {
  const std::pair<char32_t, char32_t> Rows[] = {
      {U'a', U'A'}, {U'Z', U'Z'}, {U'1', U'1'}, {U'ł', U'Ł'},   {U'é', U'É'},
      {U'ж', U'Ж'}, {U'ÿ', U'Ÿ'}, {U'ß', U'ß'}, {U'ı', U'ı'},   {U'ſ', U'ſ'},
      {U'µ', U'µ'}, {U'ǅ', U'ǅ'}, {U'ǆ', U'Ǆ'}, {U'ｚ', U'Ｚ'}, {U'𐐨', U'𐐨'},
  };
  for (const auto& [C, Upper] : Rows)
    EXPECT_EQ(uint32_t(UpcaseForNames(C)), uint32_t(Upper)) << uint32_t(C);
  EXPECT_EQ(NameCompareKey("Łódź.txt"), NameCompareKey("łÓDŹ.TXT"));
  EXPECT_EQ(NameCompareKey("résumé.txt"), "RÉSUMÉ.TXT");
  EXPECT_NE(NameCompareKey("Straße"), NameCompareKey("STRASSE"));
}

#ifdef _WIN32

// Every table against the system's own conversions, for every code page
// known here: the same bytes Windows gives, character by character.
class CodePageMatchesWindows : public testing::TestWithParam<uint32_t> {
 protected:
  const TCodePage& P = Page(GetParam());
  const UINT Number = GetParam();
  std::vector<std::string> Differences;

  void Differ(std::string Difference) {
    if (Differences.size() < 20) Differences.push_back(std::move(Difference));
  }
  void Compare(const std::string& What, const std::optional<std::string>& Ours,
               const std::optional<std::string>& Windows) {
    if (Ours != Windows) Differ(What + ": ours " + Shown(Ours) + ", Windows " + Shown(Windows));
  }
  void TearDown() override {
    std::string All;
    for (const std::string& Difference : Differences)
      All += Difference + "\n";
    EXPECT_TRUE(Differences.empty()) << All;
  }
};

TEST_P(CodePageMatchesWindows, FromUtf8OfEveryBmpCharacter) {
  for (uint32_t C = 0; C <= 0xFFFF; ++C) {
    const wchar_t Wide = wchar_t(C);
    char Bytes[8];
    BOOL UsedDefault = FALSE;
    const bool IsUtf8 = Number == CP_UTF8;
    const int Length =
        ::WideCharToMultiByte(Number, IsUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, &Wide,
                              1, Bytes, sizeof Bytes, nullptr, IsUtf8 ? nullptr : &UsedDefault);
    std::optional<std::string> Windows;
    if (Length > 0 && !UsedDefault) Windows = std::string(Bytes, size_t(Length));
    // A surrogate in UTF-8's form, which is no UTF-8.
    const bool IsSurrogate = C >= 0xD800 && C <= 0xDFFF;
    const std::string Utf8 = IsSurrogate ? std::string{char(0xED), char(0x80 | ((C >> 6) & 0x3F)),
                                                       char(0x80 | (C & 0x3F))}
                                         : EncodeUtf8(std::u32string(1, C));
    Compare("U+" + Hex(std::string{char(C >> 8), char(C)}), P.FromUtf8(Utf8), Windows);
  }
}

// Every byte alone, every pair of a byte from 0x80 on and any byte, and
// those followed by two more bytes (UTF-8's longer sequences).
TEST_P(CodePageMatchesWindows, ToUtf8OfEveryByteAndPair) {
  std::vector<std::string> Sequences;
  for (int First = 0; First < 256; ++First) {
    Sequences.push_back(std::string(1, char(First)));
    if (First < 0x80) continue;
    for (int Second = 0; Second < 256; ++Second) {
      Sequences.push_back({char(First), char(Second)});
      Sequences.push_back({char(First), char(Second), '\x80', '\x80'});
    }
  }
  for (const std::string& Bytes : Sequences) {
    wchar_t Wide[8];
    const int Length = ::MultiByteToWideChar(Number, MB_ERR_INVALID_CHARS, Bytes.data(),
                                             int(Bytes.size()), Wide, 8);
    std::optional<std::string> Windows;
    if (Length > 0)
      Windows =
          Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(Wide), size_t(Length)));
    const std::optional<std::string> Ours = P.ToUtf8(Bytes);
    Compare(Hex(Bytes), Ours, Windows);
    if (P.IsValid(Bytes) != Ours.has_value()) Differ(Hex(Bytes) + ": IsValid differs from ToUtf8");
  }
}

TEST_P(CodePageMatchesWindows, LeadBytesAsGetCPInfo) {
  CPINFO Info{};
  ASSERT_TRUE(::GetCPInfo(Number, &Info));
  std::set<int> Lead;
  for (int I = 0; I + 1 < MAX_LEADBYTES && Info.LeadByte[I]; I += 2)
    for (int Byte = Info.LeadByte[I]; Byte <= Info.LeadByte[I + 1]; ++Byte)
      Lead.insert(Byte);
  for (int Byte = 0; Byte < 256; ++Byte) {
    const bool Ours = P.CharLength(std::string{char(Byte), 'A'}) == 2;
    if (Ours != Lead.contains(Byte))
      Differ(Hex(std::string(1, char(Byte))) + ": lead byte differs");
  }
}

INSTANTIATE_TEST_SUITE_P(AllKnown, CodePageMatchesWindows, testing::ValuesIn(AllKnownCodePages()),
                         [](const auto& Info) { return std::to_string(Info.param); });

// Letter case against what Windows compares names with.
TEST(UnicodeMatchesWindows, UpcaseForNamesOfEveryBmpCharacter) {
  using TUpcase = WCHAR(NTAPI*)(WCHAR);
  const auto RtlUpcaseUnicodeChar = reinterpret_cast<TUpcase>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(RtlUpcaseUnicodeChar, nullptr);
  std::vector<std::string> Differences;
  for (uint32_t C = 0; C <= 0xFFFF; ++C) {
    const wchar_t Ours = wchar_t(UpcaseForNames(C)), Char = wchar_t(C);
    const wchar_t Windows = RtlUpcaseUnicodeChar(Char);
    const bool SameName = ::CompareStringOrdinal(&Char, 1, &Ours, 1, TRUE) == CSTR_EQUAL;
    if ((Ours != Windows || !SameName) && Differences.size() < 20)
      Differences.push_back(std::to_string(C) + ": ours " + std::to_string(Ours) + ", Windows " +
                            std::to_string(Windows));
  }
  std::string All;
  for (const std::string& Difference : Differences)
    All += Difference + "\n";
  EXPECT_TRUE(Differences.empty()) << All;
}

#endif
