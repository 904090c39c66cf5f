// The lines of the update script kvUpdate.bat. The script is read by the
// command interpreter in the OEM code page, so every name in it is script
// text (ScriptText): exactly converted, with "%" doubled.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::updater {

// Text (in the ANSI code page) as the script holds it: converted exactly to
// the OEM code page, then every "%" doubled so that the interpreter does not
// expand it as a variable. nullopt when a character has no exact OEM form: a
// look-alike would break the line's quoting or name another file.
std::optional<std::string> ScriptText(std::string_view Text);
// The application directory AppDir (ending with "\") as script text: AppDir
// itself, else its short form when the volume keeps one. Raises
// Exception(SInstallDirNotScriptable) naming AppDir when neither can be
// written exactly.
std::string ScriptDirectory(const std::string& AppDir);

// True when EntryName, with only the letters A to Z lower-cased, is
// "wait.exe".
bool IsWaitProgram(std::string_view EntryName);

// The lines, from script text: Dir is ScriptDirectory's result, Name an
// entry name through ScriptText.
// @copy /Y "A\update\N" "A\"
std::string CopyLine(const std::string& Dir, const std::string& Name);
// @"A\konvoro.exe" /s, or without " /s". The path is quoted: installation
// paths hold blanks.
std::string ClientStartLine(const std::string& Dir, bool WithScheduler);
// @del "A\update\*.exe", *.dll, KonvoroServers.txt and *.bin, in this order.
std::vector<std::string> DeleteLines(const std::string& Dir);

}  // namespace kv::updater
