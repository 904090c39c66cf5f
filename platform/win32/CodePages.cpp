// Conversions between the ANSI and OEM code pages.
#include "CodePages.h"

#include "WinApi.h"

namespace kv {

std::optional<std::string> AnsiToOemExact(std::string_view Text) {
  if (Text.empty()) return std::string();
  const int Length = static_cast<int>(Text.size());
  std::wstring Wide(Text.size(), L'\0');
  const int WideLength =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Text.data(), Length, Wide.data(), Length);
  if (WideLength == 0) return std::nullopt;
  // A double-byte OEM code page may need two bytes a character.
  std::string Out(size_t(WideLength) * 2, '\0');
  BOOL UsedDefault = FALSE;
  const int OutLength =
      ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, Wide.data(), WideLength, Out.data(),
                            static_cast<int>(Out.size()), nullptr, &UsedDefault);
  if (OutLength == 0 || UsedDefault) return std::nullopt;
  Out.resize(size_t(OutLength));
  return Out;
}

std::string OemToAnsi(std::string_view Text) {
  std::string Out(Text);
  if (!Out.empty()) ::OemToCharBuffA(Out.data(), Out.data(), static_cast<DWORD>(Out.size()));
  return Out;
}

}  // namespace kv
