// The lines of the update script kvUpdate.bat. AppDir is the application
// directory, ending with "\".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv::updater {

inline constexpr const char* EchoOffLine = "@echo off";
inline constexpr const char* WaitLine = "@wait";
inline constexpr const char* ClearScreenLine = "@cls";

// The entry that the script runs as "@wait" from the update directory and
// that gets no copy line.
inline constexpr const char* WaitProgramName = "wait.exe";
inline constexpr const char* ClientProgramName = "konvoro.exe";
inline constexpr const char* SchedulerSwitch = " /s";

// Text with every "%" doubled, so that the command interpreter does not
// expand it as a variable.
std::string EscapeForScript(std::string_view Text);
// True when EntryName, with only the letters A to Z lower-cased, is
// "wait.exe".
bool IsWaitProgram(std::string_view EntryName);

// @copy /Y "A\update\N" "A\"
std::string CopyLine(const std::string& AppDir, const std::string& EntryName);
// @"A\konvoro.exe" /s, or without " /s". The path is quoted: installation
// paths hold blanks.
std::string ClientStartLine(const std::string& AppDir, bool WithScheduler);
// @del "A\update\*.exe", *.dll, KonvoroServers.txt and *.bin, in this order.
std::vector<std::string> DeleteLines(const std::string& AppDir);

}  // namespace kv::updater
