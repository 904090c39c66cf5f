// Characters in the system's ANSI code page on Windows, and exact
// conversions from UTF-16 into a code page.
#include "WinApi.h"

#include <array>

#include "CodePages.h"
#include "konvoro/Text.h"

namespace kv {

namespace {

// The lead bytes of the ANSI code page, which cannot change while the
// process runs. Single-byte code pages and UTF-8 have none: in UTF-8 every
// byte of a longer character is 0x80 or above, so no part of one is ever
// taken for a separator.
const std::array<bool, 256>& LeadBytes() {
  static const std::array<bool, 256> Table = [] {
    std::array<bool, 256> Lead{};
    CPINFO Info{};
    if (::GetCPInfo(CP_ACP, &Info) && Info.MaxCharSize == 2)
      for (size_t I = 0; I + 1 < MAX_LEADBYTES && Info.LeadByte[I] != 0; I += 2)
        for (unsigned B = Info.LeadByte[I]; B <= Info.LeadByte[I + 1]; ++B)
          Lead[B] = true;
    return Lead;
  }();
  return Table;
}

}  // namespace

size_t AnsiCharLength(std::string_view Text) {
  if (Text.empty()) return 0;
  return LeadBytes()[static_cast<unsigned char>(Text[0])] && Text.size() >= 2 ? 2 : 1;
}

bool IsValidAnsiText(std::string_view Text) {
  if (Text.empty()) return true;
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Text.data(),
                               static_cast<int>(Text.size()), nullptr, 0) > 0;
}

TExactConversion ExactConversionFor(uint32_t CodePage) {
  if (CodePage == CP_UTF8) return {WC_ERR_INVALID_CHARS, false};
  return {WC_NO_BEST_FIT_CHARS, true};
}

std::optional<std::string> WideToCodePageExact(std::wstring_view Text, uint32_t CodePage) {
  if (Text.empty()) return std::string();
  const TExactConversion How = ExactConversionFor(CodePage);
  BOOL UsedDefault = FALSE;
  BOOL* const AskUsedDefault = How.AsksUsedDefault ? &UsedDefault : nullptr;
  const int WideLength = static_cast<int>(Text.size());
  // Asked for the length first: a character may take up to four bytes.
  const int Length = ::WideCharToMultiByte(CodePage, How.Flags, Text.data(), WideLength, nullptr, 0,
                                           nullptr, AskUsedDefault);
  if (Length <= 0 || UsedDefault) return std::nullopt;
  std::string Out(size_t(Length), '\0');
  if (::WideCharToMultiByte(CodePage, How.Flags, Text.data(), WideLength, Out.data(), Length,
                            nullptr, AskUsedDefault) != Length ||
      UsedDefault)
    return std::nullopt;
  return Out;
}

std::string WideToAnsiShown(std::wstring_view Text) {
  if (Text.empty()) return std::string();
  // UTF-8 has every character and takes neither flag nor default.
  const bool Utf8 = ::GetACP() == CP_UTF8;
  const DWORD Flags = Utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* const Default = Utf8 ? nullptr : "?";
  const int WideLength = static_cast<int>(Text.size());
  const int Length =
      ::WideCharToMultiByte(CP_ACP, Flags, Text.data(), WideLength, nullptr, 0, Default, nullptr);
  if (Length <= 0) return std::string();
  std::string Out(size_t(Length), '\0');
  ::WideCharToMultiByte(CP_ACP, Flags, Text.data(), WideLength, Out.data(), Length, Default,
                        nullptr);
  return Out;
}

}  // namespace kv
