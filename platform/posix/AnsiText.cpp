// Characters in the ANSI code page on POSIX, which has none: names are
// plain bytes there, and every byte is a character of its own.
#include "konvoro/Text.h"

namespace kv {

size_t AnsiCharLength(std::string_view Text) {
  return Text.empty() ? 0 : 1;
}

bool IsValidAnsiText(std::string_view) {
  return true;
}

}  // namespace kv
