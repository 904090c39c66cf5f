// Conversions between UTF-16 and the system's ANSI and OEM code pages
// (Windows only). The conversions from UTF-16 belong to the port, which
// takes paths in UTF-16 too (AnsiText.cpp); the others to the Windows-only
// part (CodePages.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// How WideCharToMultiByte converts to a code page without look-alikes: the
// flags it is given, and whether it is asked to tell that it put the default
// character in for one that the code page lacks. UTF-8 (65001) encodes every
// character and takes only WC_ERR_INVALID_CHARS, with no default-character
// pointer at all (any other flag or pointer fails the call), so there only
// unpaired surrogates fail. Every other code page takes
// WC_NO_BEST_FIT_CHARS, and a default character used marks a character it
// lacks.
struct TExactConversion {
  uint32_t Flags;
  bool AsksUsedDefault;
};
TExactConversion ExactConversionFor(uint32_t CodePage);

// Text converted exactly to CodePage; nullopt when a character has no form
// of its own there.
std::optional<std::string> WideToCodePageExact(std::wstring_view Text, uint32_t CodePage);
// Text converted to the ANSI code page for a message to show: "?" for each
// character the code page lacks, never a look-alike that could be taken for
// another name.
std::string WideToAnsiShown(std::wstring_view Text);
// Text in the ANSI code page converted exactly to the OEM code page, which
// the command interpreter reads batch files in; nullopt when a character has
// no OEM form of its own (no look-alike is ever put in its place: a curly
// quote must not turn into a straight one, nor a per-mille sign into "%").
std::optional<std::string> AnsiToOemExact(std::string_view Text);
// Text in the OEM code page converted to the ANSI code page.
std::string OemToAnsi(std::string_view Text);

}  // namespace kv
