// Conversions between the ANSI and OEM code pages.
#include "CodePages.h"

#include "WinApi.h"

namespace kv {

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
