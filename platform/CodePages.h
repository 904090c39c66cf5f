// Conversions between the system's ANSI and OEM code pages.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// Text in the ANSI code page converted to the OEM code page, which the
// command interpreter reads batch files in. ASCII is unchanged; on POSIX
// systems the text is returned as it is.
std::string AnsiToOem(std::string_view Text);
// The reverse of AnsiToOem.
std::string OemToAnsi(std::string_view Text);

}  // namespace kv
