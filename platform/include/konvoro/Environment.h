// The process's environment: environment variables, its own executable, and
// where its error output goes.
#pragma once

#include <optional>
#include <string>

namespace kv {

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
