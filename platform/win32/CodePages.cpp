// Conversions between the ANSI and OEM code pages through user32.
#include "CodePages.h"

#include "WinApi.h"

namespace kv {

std::string AnsiToOem(std::string_view Text) {
  std::string Out(Text);
  if (!Out.empty()) ::CharToOemBuffA(Out.data(), Out.data(), static_cast<DWORD>(Out.size()));
  return Out;
}

std::string OemToAnsi(std::string_view Text) {
  std::string Out(Text);
  if (!Out.empty()) ::OemToCharBuffA(Out.data(), Out.data(), static_cast<DWORD>(Out.size()));
  return Out;
}

}  // namespace kv
