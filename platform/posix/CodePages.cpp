// POSIX systems have no ANSI/OEM code page pair: text passes unchanged.
#include "CodePages.h"

namespace kv {

std::string AnsiToOem(std::string_view Text) {
  return std::string(Text);
}
std::string OemToAnsi(std::string_view Text) {
  return std::string(Text);
}

}  // namespace kv
