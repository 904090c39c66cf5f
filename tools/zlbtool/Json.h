// JSON output of zlbtool.
#pragma once

#include <cstdio>
#include <string>

namespace zlbtool {

// A JSON string literal of Text, which is UTF-8 (names are shown in the
// host's form): quotes, backslashes and control characters are escaped,
// every other character written as it stands.
inline std::string JsonString(const std::string& Text) {
  std::string Out = "\"";
  for (const char C : Text) {
    const auto B = static_cast<unsigned char>(C);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += C;
    } else if (B < 0x20 || B == 0x7F) {
      char Escaped[8];
      std::snprintf(Escaped, sizeof Escaped, "\\u%04x", B);
      Out += Escaped;
    } else {
      Out += C;
    }
  }
  return Out + "\"";
}

}  // namespace zlbtool
