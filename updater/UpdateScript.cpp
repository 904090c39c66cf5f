// The lines of the update script kvUpdate.bat.
#include "UpdateScript.h"

#include "UpdaterNames.h"

namespace kv::updater {

std::string EscapeForScript(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (const char C : Text) {
    Out.push_back(C);
    if (C == '%') Out.push_back('%');
  }
  return Out;
}

bool IsWaitProgram(std::string_view EntryName) {
  std::string Lower(EntryName);
  for (char& C : Lower)
    if (C >= 'A' && C <= 'Z') C = char(C + ('a' - 'A'));
  return Lower == WaitProgramName;
}

std::string CopyLine(const std::string& AppDir, const std::string& EntryName) {
  const std::string A = EscapeForScript(AppDir);
  return "@copy /Y \"" + A + UpdateDirName + "\\" + EscapeForScript(EntryName) + "\" \"" + A + "\"";
}

std::string ClientStartLine(const std::string& AppDir, bool WithScheduler) {
  return "@\"" + EscapeForScript(AppDir) + ClientProgramName + "\"" +
         (WithScheduler ? SchedulerSwitch : "");
}

std::vector<std::string> DeleteLines(const std::string& AppDir) {
  const std::string Update = EscapeForScript(AppDir) + UpdateDirName + "\\";
  std::vector<std::string> Lines;
  for (const char* Pattern : {"*.exe", "*.dll", "KonvoroServers.txt", "*.bin"})
    Lines.push_back("@del \"" + Update + Pattern + "\"");
  return Lines;
}

}  // namespace kv::updater
