// JSON output of zlbtool.
#pragma once

#include <cstdio>
#include <string>

namespace zlbtool {

// A JSON string literal of bytes in the ANSI code page: bytes outside ASCII
// are written as \u00XX, so the output is always valid JSON.
inline std::string JsonString(const std::string& Bytes) {
  std::string Out = "\"";
  for (const char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += C;
    } else if (B < 0x20 || B >= 0x7F) {
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
