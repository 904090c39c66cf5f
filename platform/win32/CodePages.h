// Conversions between the system's ANSI and OEM code pages (Windows only).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Text in the ANSI code page converted exactly to the OEM code page, which
// the command interpreter reads batch files in; nullopt when a character has
// no OEM form of its own (no look-alike is ever put in its place: a curly
// quote must not turn into a straight one, nor a per-mille sign into "%").
std::optional<std::string> AnsiToOemExact(std::string_view Text);
// Text in the OEM code page converted to the ANSI code page.
std::string OemToAnsi(std::string_view Text);

}  // namespace kv
