// Unicode text as UTF-8 and UTF-16, checked strictly, and letter case as
// Windows' file systems compare names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kv {

// The code points of Utf8; nullopt unless it is well-formed UTF-8 (no
// overlong forms, no surrogates, nothing beyond U+10FFFF, no cut sequence).
std::optional<std::u32string> DecodeUtf8(std::string_view Utf8);
// Text as UTF-8. Code points that UTF-8 cannot hold (surrogates, beyond
// U+10FFFF) are never passed here.
std::string EncodeUtf8(std::u32string_view Text);
// Utf8 as UTF-16; nullopt unless it is well-formed UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view Utf8);
// Utf16 as UTF-8; nullopt when it holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view Utf16);

// The character that Windows' file systems take C for when they compare
// names without regard to case: its simple uppercase mapping, as NTFS's
// upcase table holds it (for every letter, not only A to Z: "ł" is "Ł",
// "é" is "É", "ж" is "Ж"); C itself when it has none or lies beyond the
// Basic Multilingual Plane.
char32_t UpcaseForNames(char32_t C);
// Utf8 with every character through UpcaseForNames: two names are one file
// on Windows when these are equal. nullopt unless Utf8 is well-formed.
std::optional<std::string> NameCompareKey(std::string_view Utf8);

}  // namespace kv
