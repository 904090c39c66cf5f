// Conversions between the ANSI and OEM code pages.
#include "CodePages.h"

#include "WinApi.h"

namespace kv {

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

std::optional<std::string> AnsiToOemExact(std::string_view Text) {
  if (Text.empty()) return std::string();
  const int Length = static_cast<int>(Text.size());
  // No character takes fewer than one byte, whatever the code page.
  std::wstring Wide(Text.size(), L'\0');
  const int WideLength =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Text.data(), Length, Wide.data(), Length);
  if (WideLength == 0) return std::nullopt;
  Wide.resize(size_t(WideLength));
  return WideToCodePageExact(Wide, ::GetOEMCP());
}

std::string OemToAnsi(std::string_view Text) {
  std::string Out(Text);
  if (!Out.empty()) ::OemToCharBuffA(Out.data(), Out.data(), static_cast<DWORD>(Out.size()));
  return Out;
}

}  // namespace kv
