// Names as the Windows port takes and hands them: every file and
// environment call goes through the wide API, and names are converted from
// and to the path encoding (Environment.h) here, in one place: the ANSI code
// page, as the ANSI calls convert inside, or UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// The code page of the path encoding: CP_ACP or CP_UTF8.
uint32_t PathCodePage();
// Name in UTF-16, converted exactly from the path encoding; nullopt when
// its bytes are no text of it (the calls then fail with ERROR_INVALID_NAME).
std::optional<std::wstring> WideFromPath(std::string_view Name);
// A name or text the system hands back, in the path encoding: exactly in
// UTF-8 (an unpaired surrogate as U+FFFD); in the ANSI code page with "?"
// for each character it lacks, never a look-alike that names another file.
std::string PathFromWide(std::wstring_view Wide);

}  // namespace kv
