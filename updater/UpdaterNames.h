// The names and texts of the update run, in one place. The payload's
// resource and the wait program it must hold are facts shared with zlbtool
// and the build (PayloadResource.h).
#pragma once

#include "PayloadResource.h"

namespace kv::updater {

// The staged copy of the payload in the temporary directory.
inline constexpr const char* StagedArchiveName = "kvUPDzip.dat";
// Environment variables naming the temporary directory, in the order asked.
inline constexpr const char* TempVariable = "temp";
inline constexpr const char* TmpVariable = "tmp";

// Below the application directory.
inline constexpr const char* UpdateDirName = "update";
inline constexpr const char* ScriptFileName = "kvUpdate.bat";
// The name the script is launched by; file names ignore letter case.
inline constexpr const char* ScriptLaunchName = "kvupdate.bat";
inline constexpr const char* ScriptLaunchOperation = "open";

// The script's fixed lines and the programs it names.
inline constexpr const char* EchoOffLine = "@echo off";
inline constexpr const char* WaitLine = "@wait";
inline constexpr const char* ClearScreenLine = "@cls";
inline constexpr const char* ClientProgramName = "konvoro.exe";
inline constexpr const char* SchedulerSwitch = " /s";

// What the per-entry failure dialog says before the exception's text.
inline constexpr const char* EntryFailurePrefix = "ZLIB error ";
// %s: the application directory, "?" for the characters that have no form.
inline constexpr const char* SInstallDirNotScriptable =
    "The installation directory \"%s\" cannot be named in the update script: the system's code "
    "pages lack some of its characters and it has no short name; nothing was installed";
// %s: the temporary directory, "?" for the characters that have no form.
inline constexpr const char* STempDirNotNameable =
    "The temporary directory \"%s\" cannot be named: the system's code page lacks some of its "
    "characters and it has no short name; nothing was installed";
// %d: the code page the release's names are in, as it records it; %d: the
// system's ANSI code page.
inline constexpr const char* SReleaseForAnotherCodePage =
    "This update was made for systems whose code page is %d, and this system's is %d: its "
    "files would take other names here; nothing was installed";
// %s: the script's path; %s: the system's description of the error.
inline constexpr const char* SScriptLaunchFailed = "Cannot start the update script \"%s\". %s";

}  // namespace kv::updater
