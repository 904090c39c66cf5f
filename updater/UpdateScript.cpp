// The lines of the update script kvUpdate.bat.
#include "UpdateScript.h"

#include "CodePages.h"
#include "UpdaterNames.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"

namespace kv::updater {

std::optional<std::string> ScriptText(std::string_view Text) {
  const std::optional<std::string> Oem = AnsiToOemExact(Text);
  if (!Oem) return std::nullopt;
  std::string Out;
  Out.reserve(Oem->size());
  // Byte by byte: the trail bytes of the double-byte code pages start at
  // 0x40, so a "%" (0x25) byte is always the character itself.
  for (const char C : *Oem) {
    Out.push_back(C);
    if (C == '%') Out.push_back('%');
  }
  return Out;
}

std::string ScriptDirectory(const std::string& AppDir) {
  if (std::optional<std::string> Dir = ScriptText(AppDir)) return *Dir;
  const std::string Short = ExtractShortPathName(AppDir);
  if (!Short.empty())
    if (std::optional<std::string> Dir = ScriptText(Short)) return *Dir;
  throw Exception(Format(SInstallDirNotScriptable, AppDir));
}

bool IsWaitProgram(std::string_view EntryName) {
  return SameText(EntryName, PayloadWaitProgramName);
}

std::string CopyLine(const std::string& Dir, const std::string& Name) {
  return "@copy /Y \"" + Dir + UpdateDirName + "\\" + Name + "\" \"" + Dir + "\"";
}

std::string ClientStartLine(const std::string& Dir, bool WithScheduler) {
  return "@\"" + Dir + ClientProgramName + "\"" + (WithScheduler ? SchedulerSwitch : "");
}

std::vector<std::string> DeleteLines(const std::string& Dir) {
  const std::string Update = Dir + UpdateDirName + "\\";
  std::vector<std::string> Lines;
  for (const char* Pattern : {"*.exe", "*.dll", "KonvoroServers.txt", "*.bin"})
    Lines.push_back("@del \"" + Update + Pattern + "\"");
  return Lines;
}

}  // namespace kv::updater
