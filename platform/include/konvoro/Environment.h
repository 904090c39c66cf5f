// The process's environment: environment variables, its own executable, and
// where its error output goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// How the port names files and takes texts from the system: in the ANSI
// code page (the default: the updater's names, as Windows' ANSI calls take
// them) or in UTF-8 (zlbtool, which takes names of every language, and its
// output). Only Windows tells the two apart: POSIX names are bytes either
// way, UTF-8 by convention. Set once, first thing, before any name is
// used.
enum class TPathEncoding : uint8_t { Ansi, Utf8 };
void SetPathEncoding(TPathEncoding Encoding);
TPathEncoding GetPathEncoding();

// The program's arguments after its name, in the path encoding: on Windows
// taken from the wide command line, so that no argument reaches the
// program as a look-alike; argv elsewhere.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Writes Text, in the path encoding, to the standard output or error
// stream: to a Windows console as its characters, elsewhere as its bytes.
enum class TStandardStream : uint8_t { Output, Error };
void WriteStandard(TStandardStream Stream, std::string_view Text);

// The system's ANSI code page (GetACP); 0 where there is none (POSIX).
uint32_t SystemAnsiCodePage();

// The value of the environment variable Name, read whole however long it is;
// "" when it is not set.
std::string GetEnvironmentVariable(const std::string& Name);

// The full path of the running executable, to show: on Windows with "?"
// for each character that the ANSI code page lacks.
std::string GetModuleFileName();

// A path as the ANSI calls must be given it: exactly, never by a
// look-alike (for a character that the ANSI code page lacks, Windows' ANSI
// calls hand out a look-alike, which names another file or none). Exact is
// the path itself when every character has its exact form, else its short
// (8.3) form when the volume keeps one that has; nullopt when neither has.
// Shown is the path for messages. On POSIX, where names are bytes, Exact
// is the path as it stands.
struct TExactPath {
  std::optional<std::string> Exact;
  std::string Shown;
};
// The full path of the running executable.
TExactPath GetExactModuleFileName();
// The value of the environment variable Name, a path; "" when it is not set.
TExactPath GetExactEnvironmentPath(const std::string& Name);

// True when the standard error stream is a terminal (a console on Windows),
// where a progress line may be redrawn in place.
bool StandardErrorIsTerminal();

}  // namespace kv
