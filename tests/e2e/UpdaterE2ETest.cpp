// KVUpdater.exe end to end: the real program in a temporary installation,
// the real registry, file system and command interpreter, and the windows it
// shows, driven like a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "CodePages.h"
#include "SchedulerValue.h"
#include "TestSupport.h"
#include "WinHandles.h"
#include "WindowDriver.h"
#include "konvoro/Files.h"

namespace {

using TBytes = std::vector<uint8_t>;
using namespace windriver;

constexpr uint32_t StartTimeoutMs = 20000;
constexpr uint32_t ScriptTimeoutMs = 45000;

// ---------------------------------------------------------------------------
// Files, through the wide calls: the tests in every language use names that
// the ANSI code page lacks. The ANSI forms, which the program under test
// uses, convert in the ANSI code page.

std::wstring Wide(std::string_view Text) {
  std::wstring Out(Text.size(), L'\0');
  Out.resize(size_t(
      MultiByteToWideChar(CP_ACP, 0, Text.data(), int(Text.size()), Out.data(), int(Out.size()))));
  return Out;
}

bool Exists(const std::wstring& Path) {
  return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
bool Exists(const std::string& Path) {
  return Exists(Wide(Path));
}

std::optional<TBytes> ReadBytes(const std::wstring& Path) {
  const kv::TUniqueHFile File(CreateFileW(Path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  if (!File) return std::nullopt;
  TBytes Out(GetFileSize(File.Get(), nullptr));
  DWORD Got = 0;
  const BOOL Ok = Out.empty() || ReadFile(File.Get(), Out.data(), DWORD(Out.size()), &Got, nullptr);
  if (!Ok || Got != Out.size()) return std::nullopt;
  return Out;
}
std::optional<TBytes> ReadBytes(const std::string& Path) {
  return ReadBytes(Wide(Path));
}

std::string ReadText(const std::wstring& Path) {
  const auto Bytes = ReadBytes(Path);
  return Bytes ? std::string(Bytes->begin(), Bytes->end()) : std::string("(missing)");
}
std::string ReadText(const std::string& Path) {
  return ReadText(Wide(Path));
}

void WriteText(const std::string& Path, const std::string& Text) {
  const kv::TUniqueHFile File(
      CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(File) << Path;
  DWORD Put = 0;
  WriteFile(File.Get(), Text.data(), DWORD(Text.size()), &Put, nullptr);
}

// The names below Dir that match Pattern ("*.tmp"), as FindFirstFile gives
// them ("." and ".." included for "*").
std::vector<WIN32_FIND_DATAA> Find(const std::string& Dir, const std::string& Pattern) {
  std::vector<WIN32_FIND_DATAA> Found(1);
  const kv::TUniqueFind Search(FindFirstFileA((Dir + "\\" + Pattern).c_str(), &Found[0]));
  if (!Search) return {};
  for (WIN32_FIND_DATAA Next; FindNextFileA(Search.Get(), &Next);)
    Found.push_back(Next);
  return Found;
}

// The names of what Dir holds, "." and ".." left out.
std::vector<std::wstring> Contents(const std::wstring& Dir) {
  std::vector<std::wstring> Names;
  WIN32_FIND_DATAW Found;
  const kv::TUniqueFind Search(FindFirstFileW((Dir + L"\\*").c_str(), &Found));
  if (!Search) return Names;
  do {
    const std::wstring Name = Found.cFileName;
    if (Name != L"." && Name != L"..") Names.push_back(Name);
  } while (FindNextFileW(Search.Get(), &Found));
  std::sort(Names.begin(), Names.end());
  return Names;
}

void CopyInto(const std::wstring& From, const std::wstring& To) {
  ASSERT_TRUE(CopyFileW(From.c_str(), To.c_str(), FALSE));
}
void CopyInto(const std::string& From, const std::string& To) {
  SCOPED_TRACE(From + " -> " + To);
  CopyInto(Wide(From), Wide(To));
}

void RemoveTree(const std::wstring& Dir) {
  for (const std::wstring& Name : Contents(Dir)) {
    const std::wstring Path = Dir + L"\\" + Name;
    if (GetFileAttributesW(Path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
      RemoveTree(Path);
    else
      DeleteFileW(Path.c_str());
  }
  RemoveDirectoryW(Dir.c_str());
}

// True when a name in Dir matches Pattern.
bool AnyMatches(const std::wstring& Dir, const std::wstring& Pattern) {
  WIN32_FIND_DATAW Found;
  return bool(kv::TUniqueFind(FindFirstFileW((Dir + L"\\" + Pattern).c_str(), &Found)));
}

bool WaitUntil(uint32_t TimeoutMs, const auto& Condition) {
  for (uint32_t Waited = 0;; Waited += 100) {
    if (Condition()) return true;
    if (Waited >= TimeoutMs) return false;
    Sleep(100);
  }
}

// The Unix path of a Windows path, as Wine maps it.
std::string UnixPath(const std::string& Path) {
  using TGetUnixFileName = char*(__cdecl*)(const wchar_t*);
  const FARPROC Proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (Proc == nullptr) return std::string();
  TGetUnixFileName GetUnixFileName;
  std::memcpy(&GetUnixFileName, &Proc, sizeof Proc);
  std::wstring Wide(Path.size(), L'\0');
  Wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, Path.data(), int(Path.size()), Wide.data(),
                                         int(Wide.size()))));
  char* Unix = GetUnixFileName(Wide.c_str());
  if (Unix == nullptr) return std::string();
  std::string Out = Unix;
  HeapFree(GetProcessHeap(), 0, Unix);
  return Out;
}

enum class TLinkKind { Symbolic, Hard };

// Plants a link named Link that leads to Target. A symbolic link is made
// with the Unix ln: Wine's CreateSymbolicLink makes none.
void PlantLink(TLinkKind Kind, const std::string& Link, const std::string& Target) {
  if (Kind == TLinkKind::Hard) {
    ASSERT_TRUE(CreateHardLinkA(Link.c_str(), Target.c_str(), nullptr));
    return;
  }
  const std::string From = UnixPath(Target), To = UnixPath(Link);
  ASSERT_FALSE(From.empty() || To.empty()) << "not under Wine";
  TChildProcess Ln("/bin/ln", "", {}, "-s \"" + From + "\" \"" + To + "\"");
  ASSERT_TRUE(WaitUntil(5000, [&] {
    return GetFileAttributesA(Link.c_str()) != INVALID_FILE_ATTRIBUTES;
  })) << "no link made";
}

// The scripts the runs write, with "{A}" for the installation directory as
// the script names it and "{S}" for the client's switch; lines end with CR
// LF.
constexpr const char* WorkedScript = R"(@echo off
@wait
@copy /Y "{A}update\App.exe" "{A}"
@copy /Y "{A}update\core.dll" "{A}"
@"{A}konvoro.exe"{S}
@del "{A}update\*.exe"
@del "{A}update\*.dll"
@del "{A}update\KonvoroServers.txt"
@del "{A}update\*.bin"
@cls
)";
constexpr const char* EmptyArchiveScript = R"(@echo off
@wait
@"{A}konvoro.exe"{S}
@del "{A}update\*.exe"
@del "{A}update\*.dll"
@del "{A}update\KonvoroServers.txt"
@del "{A}update\*.bin"
@cls
)";

// Template filled in for the installation A and the client switch.
std::string ExpectedScript(std::string_view Lines, const std::string& A,
                           const std::string& Switch = "") {
  std::string Out;
  for (size_t At = 0; At < Lines.size(); ++At) {
    if (Lines.substr(At, 3) == "{A}") {
      Out += A;
      At += 2;
    } else if (Lines.substr(At, 3) == "{S}") {
      Out += Switch;
      At += 2;
    } else {
      Out += Lines[At] == '\n' ? "\r\n" : std::string(1, Lines[At]);
    }
  }
  return Out;
}

// Turns a link while a run goes on: a Unix shell (started first, so that its
// start costs nothing later) makes LINK lead to FIRST, waits until a file
// in DIR matches the glob PATTERN, then turns LINK to SECOND in one rename.
// It writes READY when it waits, and into REPORT "late" when DIR/LATE_IF
// existed by then, else "in time". It gives up when READY goes (the test
// has ended).
//   sh turn-link.sh FIRST SECOND LINK DIR PATTERN LATE_IF REPORT READY
constexpr const char* TurnLinkScript = R"(ln -s "$1" "$3" && ln -s "$2" "$3.next" || exit 1
echo >"$8"
while [ -e "$8" ]; do for f in "$4"/$5; do [ -e "$f" ] && break 2; done; done
[ -e "$8" ] || exit 1
mv -T "$3.next" "$3"
if [ -e "$4/$6" ]; then echo late; else echo in time; fi >"$7"
)";

// ---------------------------------------------------------------------------

// A temporary installation of the client (version 1) holding the variant
// of KVUpdater.exe under test, and temporary directories beside it.
class UpdaterE2ETest : public ::testing::Test {
 protected:
  UpdaterE2ETest() {
    kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
    char Temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, Temp);
    static int Counter = 0;
    Root = std::string(Temp) + "kve2e-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++Counter);
    CreateDirectoryA(Root.c_str(), nullptr);
    TempDir = Root + "\\temp";
    TmpDir = Root + "\\tmp";
    WorkDir = Root + "\\work";
    for (const std::string& D : {TempDir, TmpDir, WorkDir})
      CreateDirectoryA(D.c_str(), nullptr);
    UseAppDir("Konvoro Client");
  }

  ~UpdaterE2ETest() override {
    kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
    RemoveTree(Wide(Root));
    // A link to a folder, planted from Unix, goes only through Unix: it
    // would stay, and with it Root, for a later run of the same name.
    if (Exists(Root)) {
      TChildProcess Rm("/bin/rm", "", {}, "-rf \"" + UnixPath(Root) + "\"");
      EXPECT_TRUE(WaitUntil(5000, [&] { return !Exists(Root); })) << Root << " stays";
    }
  }

  // Makes the installation directory Root\Name (with a trailing "\").
  void UseAppDir(const std::string& Name) {
    AppDir = Root + "\\" + Name + "\\";
    CreateDirectoryA(AppDir.c_str(), nullptr);
    const std::string Client = kvtest::ProgramDirectory() + KV_E2E_CLIENT_DIR + "\\";
    CopyInto(Client + "konvoro.exe", AppDir + "konvoro.exe");
    CopyInto(Client + "konvorocore.dll", AppDir + "konvorocore.dll");
  }

  static std::string Variant(const std::string& Name) {
    return kvtest::ProgramDirectory() + "variants\\" + Name + "\\KVUpdater.exe";
  }
  static std::string Payload(const std::string& Name) {
    return kvtest::ProgramDirectory() + "payloads\\" + Name + ".zlb";
  }
  static std::string Source(const std::string& Payload, const std::string& File) {
    return kvtest::ProgramDirectory() + "payloads\\sources\\" + Payload + "\\" + File;
  }

  // Starts the variant from the installation with "temp" and "tmp" as given
  // ("" unsets one), and the show command given (-1: none).
  TChildProcess Start(const std::string& VariantName, const std::string& Temp,
                      const std::string& Tmp, int ShowCommand = -1) {
    CopyInto(Variant(VariantName), AppDir + "KVUpdater.exe");
    return TChildProcess(AppDir + "KVUpdater.exe", WorkDir, {{"TEMP", Temp}, {"TMP", Tmp}}, "",
                         ShowCommand);
  }

  std::string UpdateDir() const { return AppDir + "update\\"; }

  // Waits until the script has started the client in App (by default the
  // installation) and deleted the extracted files. Returns the client's log.
  std::string WaitForScript() { return WaitForScript(Wide(AppDir)); }
  static std::string WaitForScript(const std::wstring& App) {
    const std::wstring Log = App + L"konvoro-runs.log", Update = App + L"update";
    EXPECT_TRUE(WaitUntil(ScriptTimeoutMs, [&] { return Exists(Log); }))
        << "the script never started the client";
    EXPECT_TRUE(WaitUntil(ScriptTimeoutMs, [&] {
      for (const wchar_t* P : {L"*.exe", L"*.dll", L"*.bin", L"KonvoroServers.txt"})
        if (AnyMatches(Update, P)) return false;
      return true;
    })) << "the script never deleted the extracted files";
    Sleep(300);  // let the command interpreter end before the files go
    return ReadText(Log);
  }

  // Runs the variant VariantName (built around the "worked" release) to its
  // end and waits until its script has installed the release. Returns the
  // script it wrote.
  std::string RunWorkedUpdate(const std::string& VariantName = "worked") {
    TChildProcess Updater = Start(VariantName, TempDir, TmpDir);
    EXPECT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
    const std::string Script = ReadText(UpdateDir() + "kvUpdate.bat");
    EXPECT_EQ(WaitForScript(), "version=1 core=1 args=\r\n");
    EXPECT_EQ(ReadBytes(AppDir + "App.exe"), ReadBytes(Source("worked", "App.exe")));
    return Script;
  }

  // After a failure: the message box first, with the main window hidden;
  // then the blank window "Form1" at its stored place, open until closed.
  TMessageBoxInfo AnswerMessageBoxThenCloseMainWindow(TChildProcess& Process) {
    const auto Box = WaitForWindow("Kvupdater", "#32770", Process.Id(), StartTimeoutMs);
    EXPECT_TRUE(Box.has_value()) << "no message box";
    if (!Box) return {};
    // Centred on the screen.
    EXPECT_NEAR(Box->Left + Box->Width / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
    EXPECT_NEAR(Box->Top + Box->Height / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
    const auto Info = ReadMessageBox(Box->Handle);
    EXPECT_TRUE(Info.has_value());
    EXPECT_TRUE(FindWindows("Form1", "TForm1", Process.Id()).empty())
        << "the main window is shown only after the message";
    EXPECT_TRUE(PressButton(Box->Handle, "OK"));

    const auto Main = WaitForWindow("Form1", "TForm1", Process.Id(), StartTimeoutMs);
    EXPECT_TRUE(Main.has_value()) << "no main window after the message";
    if (Main) {
      EXPECT_EQ(Main->Left, 338);
      EXPECT_EQ(Main->Top, 154);
      EXPECT_EQ(Main->Width, 369);
      EXPECT_EQ(Main->Height, 217);
      EXPECT_TRUE(Main->Visible);
      EXPECT_FALSE(Process.WaitForExit(500).has_value()) << "it stays open until closed";
      EXPECT_TRUE(windriver::CloseWindow(Main->Handle));
    }
    EXPECT_EQ(Process.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
    return Info.value_or(TMessageBoxInfo{});
  }

  // Starts the shell of TurnLinkScript and returns once it waits. Report()
  // then tells whether Dir\LateIf existed when Link was turned.
  TChildProcess StartLinkTurner(const std::string& First, const std::string& Second,
                                const std::string& Link, const std::string& Dir,
                                const std::string& Pattern, const std::string& LateIf) {
    const std::string Script = Root + "\\turn-link.sh", Ready = Root + "\\turn-link.ready";
    WriteText(Script, TurnLinkScript);
    std::string Arguments = "\"" + UnixPath(Script) + "\"";
    for (const std::string& Arg : {UnixPath(First), UnixPath(Second), UnixPath(Link), UnixPath(Dir),
                                   Pattern, LateIf, UnixPath(Report()), UnixPath(Ready)})
      Arguments += " \"" + Arg + "\"";
    TChildProcess Shell("/bin/sh", "", {}, Arguments);
    EXPECT_TRUE(WaitUntil(10000, [&] { return Exists(Ready); })) << "the shell never got ready";
    return Shell;
  }
  std::string Report() const { return Root + "\\turn-link.txt"; }

  std::string Root, TempDir, TmpDir, WorkDir, AppDir;
};

// ---------------------------------------------------------------------------

TEST_F(UpdaterE2ETest, UpdateRunsAndTheScriptInstallsTheRelease) {
  // A process named KVUpdater.exe holds the script at "@wait" while the
  // extracted files are looked at.
  const std::string HolderDir = Root + "\\holder\\";
  CreateDirectoryA(HolderDir.c_str(), nullptr);
  CopyInto(kvtest::ProgramDirectory() + KV_E2E_WAIT_EXE, HolderDir + "KVUpdater.exe");
  TChildProcess Holder(HolderDir + "KVUpdater.exe", HolderDir, {}, "KVUpdater.exe 60");

  TChildProcess Updater = Start("worked", TempDir, TmpDir);
  const DWORD Started = GetTickCount();
  ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  EXPECT_LT(GetTickCount() - Started, 10000u);

  EXPECT_EQ(ReadBytes(TempDir + "\\kvUPDzip.dat"), ReadBytes(Payload("worked")))
      << "the staged archive is the payload";
  EXPECT_FALSE(Exists(TmpDir + "\\kvUPDzip.dat"));
  for (const char* Entry : {"App.exe", "WAIT.EXE", "core.dll"}) {
    const auto Extracted = ReadBytes(UpdateDir() + Entry);
    ASSERT_TRUE(Extracted.has_value()) << Entry;
    EXPECT_EQ(Extracted, ReadBytes(Source("worked", Entry))) << Entry;
  }
  EXPECT_EQ(ReadText(UpdateDir() + "kvUpdate.bat"), ExpectedScript(WorkedScript, AppDir));
  EXPECT_FALSE(Exists(AppDir + "konvoro-runs.log")) << "the script waits";

  Holder.Terminate();
  EXPECT_EQ(WaitForScript(), "version=1 core=1 args=\r\n");
  EXPECT_EQ(ReadBytes(AppDir + "App.exe"), ReadBytes(Source("worked", "App.exe")));
  EXPECT_EQ(ReadBytes(AppDir + "core.dll"), ReadBytes(Source("worked", "core.dll")));
  EXPECT_FALSE(Exists(AppDir + "WAIT.EXE")) << "wait.exe gets no copy line";
  EXPECT_TRUE(Exists(UpdateDir() + "kvUpdate.bat")) << "the script is left behind";
}

TEST_F(UpdaterE2ETest, RegisteredSchedulerStartsTheClientWithS) {
  ASSERT_TRUE(kvtest::SetSchedulerValue(HKEY_LOCAL_MACHINE));
  TChildProcess Updater = Start("worked", TempDir, "");
  ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  EXPECT_EQ(ReadText(UpdateDir() + "kvUpdate.bat"), ExpectedScript(WorkedScript, AppDir, " /s"));
  EXPECT_EQ(WaitForScript(), "version=1 core=1 args=/s\r\n");
}

TEST_F(UpdaterE2ETest, SignedProgramStillInstallsTheRelease) {
#ifdef KV_E2E_SIGNING_SKIPPED
  GTEST_SKIP() << KV_E2E_SIGNING_SKIPPED;
#endif
  EXPECT_EQ(RunWorkedUpdate("signed"), ExpectedScript(WorkedScript, AppDir));
  EXPECT_EQ(ReadBytes(TempDir + "\\kvUPDzip.dat"), ReadBytes(Payload("worked")))
      << "the staged archive is the payload alone, without the signature";
}

TEST_F(UpdaterE2ETest, TemporaryDirectoryComesFromTempThenTmpThenTheCurrentDirectory) {
  TChildProcess FromTmp = Start("empty", "", TmpDir);
  ASSERT_EQ(FromTmp.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  EXPECT_EQ(ReadBytes(TmpDir + "\\kvUPDzip.dat"), ReadBytes(Payload("empty")));
  WaitForScript();

  DeleteFileA((AppDir + "konvoro-runs.log").c_str());
  TChildProcess FromNeither = Start("empty", "", "");
  ASSERT_EQ(FromNeither.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  EXPECT_EQ(ReadBytes(WorkDir + "\\kvUPDzip.dat"), ReadBytes(Payload("empty")))
      << "staged in the current directory";
  EXPECT_FALSE(Exists(TempDir + "\\kvUPDzip.dat"));
  WaitForScript();
}

TEST_F(UpdaterE2ETest, ArchiveWithoutEntriesGivesEightLinesAndStillStartsTheClient) {
  TChildProcess Updater = Start("empty", TempDir, TmpDir);
  ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  const std::string Script = ReadText(UpdateDir() + "kvUpdate.bat");
  EXPECT_EQ(Script, ExpectedScript(EmptyArchiveScript, AppDir));
  size_t Lines = 0;
  for (size_t At = 0; (At = Script.find("\r\n", At)) != std::string::npos; At += 2)
    ++Lines;
  EXPECT_EQ(Lines, 8u);
  EXPECT_EQ(WaitForScript(), "version=1 core=1 args=\r\n");
}

TEST_F(UpdaterE2ETest, ExistingUpdateDirectoryIsUsedAndAnOldScriptReplaced) {
  CreateDirectoryA(UpdateDir().c_str(), nullptr);
  WriteText(UpdateDir() + "keep.txt", "not an entry");
  WriteText(UpdateDir() + "kvUpdate.bat", std::string(5000, 'x'));
  WriteText(UpdateDir() + "App.exe", "an older App.exe");
  TChildProcess Updater = Start("worked", TempDir, TmpDir);
  ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  EXPECT_EQ(ReadText(UpdateDir() + "kvUpdate.bat"), ExpectedScript(WorkedScript, AppDir));
  WaitForScript();
  EXPECT_EQ(ReadBytes(AppDir + "App.exe"), ReadBytes(Source("worked", "App.exe")))
      << "the entry replaced the older file";
  EXPECT_EQ(ReadText(UpdateDir() + "keep.txt"), "not an entry");
}

TEST_F(UpdaterE2ETest, InstallationPathWithBlanksPercentAndNonAsciiLetters) {
  // "\xF6" is o-umlaut in the ANSI code page: the script must reach the
  // interpreter in its OEM code page, with "%" taken literally.
  UseAppDir(
      "Prog 100% sure \xF6"
      "ffnen %PATH%");
  const std::string Script = RunWorkedUpdate();
  EXPECT_NE(Script.find("100%% sure"), std::string::npos) << Script;
  EXPECT_NE(Script.find("%%PATH%%"), std::string::npos) << Script;
  EXPECT_EQ(Script.find('\xF6'), std::string::npos) << "ANSI bytes were converted";
}

TEST_F(UpdaterE2ETest, DamagedPayloadIsReportedWithTheStopIcon) {
  TChildProcess Updater = Start("damaged", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Title, "Kvupdater");
  EXPECT_EQ(Box.Text, "The archive file appears to be corrupted.");
  EXPECT_TRUE(Box.HasIcon);
  EXPECT_EQ(Box.Buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(Exists(UpdateDir() + "kvUpdate.bat"));
}

TEST_F(UpdaterE2ETest, MissingPayloadResourceIsReported) {
  TChildProcess Updater = Start("no-payload", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Text, "Resource ZLBData not found.");
  EXPECT_TRUE(Box.HasIcon);
  EXPECT_FALSE(Exists(TempDir + "\\kvUPDzip.dat"));
}

TEST_F(UpdaterE2ETest, StagedArchiveHeldByAnotherProcessIsReported) {
  const std::string Staged = TempDir + "\\kvUPDzip.dat";
  WriteText(Staged, "someone else's");
  kv::TUniqueHFile Other(
      CreateFileA(Staged.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(Other);
  TChildProcess Updater = Start("worked", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  Other.Reset();
  EXPECT_EQ(Box.Text, "Cannot create file \"" + Staged + "\". " +
                          kv::SysErrorMessage(ERROR_SHARING_VIOLATION) + ".");
  EXPECT_TRUE(Box.HasIcon);
  EXPECT_EQ(ReadText(Staged), "someone else's");
  EXPECT_TRUE(Find(TempDir, "*.tmp").empty()) << "a temporary file is left behind";
}

// Whatever an unelevated process plants at the staged name, the elevated
// updater never writes through it.
TEST_F(UpdaterE2ETest, LinkPlantedAtTheStagedNameIsReplacedNotWrittenThrough) {
  for (const TLinkKind Kind : {TLinkKind::Symbolic, TLinkKind::Hard}) {
    SCOPED_TRACE(Kind == TLinkKind::Symbolic ? "symbolic link" : "hard link");
    const std::string Victim = Root + "\\victim.txt", Staged = TempDir + "\\kvUPDzip.dat";
    WriteText(Victim, "a file the user may not change");
    DeleteFileA(Staged.c_str());
    PlantLink(Kind, Staged, Victim);
    ASSERT_EQ(ReadText(Staged), "a file the user may not change") << "the link leads there";

    EXPECT_EQ(RunWorkedUpdate(), ExpectedScript(WorkedScript, AppDir));
    EXPECT_EQ(ReadText(Victim), "a file the user may not change");
    EXPECT_EQ(ReadBytes(Staged), ReadBytes(Payload("worked")));
    DeleteFileA((AppDir + "konvoro-runs.log").c_str());
    DeleteFileA(Victim.c_str());
  }
}

// Whoever owns the temporary directory can turn a link on its path to
// another folder once the staged archive is written, and put a forged
// archive of the same layout there. The run must still install only what
// it staged.
TEST_F(UpdaterE2ETest, TempTurnedToAForgedArchiveMidRunInstallsOnlyThePayload) {
  const std::string Genuine = Root + "\\genuine", Forged = Root + "\\forged",
                    Link = Root + "\\temp-link";
  for (const std::string& D : {Genuine, Forged})
    CreateDirectoryA(D.c_str(), nullptr);
  CopyInto(Payload("retarget-forged"), Forged + "\\kvUPDzip.dat");
  TChildProcess Shell =
      StartLinkTurner(Genuine, Forged, Link, AppDir + "update", "big.bin", "release.txt");
  ASSERT_FALSE(HasFailure());

  TChildProcess Updater = Start("retarget", Link, TmpDir);
  ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  ASSERT_TRUE(WaitUntil(5000, [&] { return Exists(Report()); }));
  EXPECT_EQ(ReadText(Report()), "in time\n")
      << "the link was turned only after the run had read on";
  EXPECT_EQ(ReadBytes(Link + "\\kvUPDzip.dat"), ReadBytes(Payload("retarget-forged")))
      << "temp leads to the forgery now";

  EXPECT_EQ(WaitForScript(), "version=1 core=1 args=\r\n");
  for (const char* Entry : {"big.bin", "release.txt"})
    EXPECT_EQ(ReadBytes(AppDir + Entry), ReadBytes(Source("retarget", Entry))) << Entry;
}

// The link can also be turned while the payload is staged: after the new
// file appears and before it takes the name kvUPDzip.dat. The file must
// stay in the folder it was created in, and nothing may be written into the
// other one: the run either completes so, or shows its failure and leaves
// no file behind.
TEST_F(UpdaterE2ETest, TempTurnedWhileStagingLeavesTheStagedFileWhereItWasCreated) {
  // Files of tens of MB are compared here, never printed.
  const std::string First = Root + "\\first", Second = Root + "\\second",
                    Link = Root + "\\temp-link";
  for (const std::string& D : {First, Second})
    CreateDirectoryA(D.c_str(), nullptr);
  WriteText(Second + "\\kvUPDzip.dat", "the second folder's own file");
  TChildProcess Shell =
      StartLinkTurner(First, Second, Link, First, "kvUPDzip.dat.*.tmp", "kvUPDzip.dat");
  ASSERT_FALSE(HasFailure());

  TChildProcess Updater = Start("large", Link, TmpDir);
  std::optional<uint32_t> Exit;
  ASSERT_TRUE(WaitUntil(StartTimeoutMs, [&] {
    Exit = Updater.WaitForExit(0);
    return Exit || !FindWindows("Kvupdater", "#32770", Updater.Id()).empty();
  })) << "neither an end nor a message";
  ASSERT_TRUE(WaitUntil(5000, [&] { return Exists(Report()); }));
  EXPECT_EQ(ReadText(Report()), "in time\n") << "the link was turned before the rename";
  if (Exit) {
    EXPECT_EQ(*Exit, 0u);
    EXPECT_TRUE(ReadBytes(First + "\\kvUPDzip.dat") == ReadBytes(Payload("large")))
        << "staged in the folder it was created in";
    EXPECT_EQ(WaitForScript(), "version=1 core=1 args=\r\n");
  } else {
    const std::string Text = AnswerMessageBoxThenCloseMainWindow(Updater).Text;
    EXPECT_EQ(Text.rfind("Cannot create file \"", 0), 0u) << Text;
    EXPECT_FALSE(Exists(UpdateDir() + "kvUpdate.bat"));
  }
  EXPECT_TRUE(Find(First, "*.tmp").empty()) << "a temporary file is left behind";
  std::vector<std::string> SecondNames;
  for (const WIN32_FIND_DATAA& Found : Find(Second, "*"))
    if (std::string(Found.cFileName) != "." && std::string(Found.cFileName) != "..")
      SecondNames.push_back(Found.cFileName);
  EXPECT_EQ(SecondNames, std::vector<std::string>{"kvUPDzip.dat"});
  EXPECT_TRUE(ReadText(Second + "\\kvUPDzip.dat") == "the second folder's own file")
      << "the second folder's kvUPDzip.dat was replaced";
}

TEST_F(UpdaterE2ETest, EntryThatFailsIsShownAsZlibErrorAndNoScriptIsWritten) {
  TChildProcess Updater = Start("bad-entry", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Title, "Kvupdater");
  EXPECT_EQ(Box.Text, "ZLIB error File (1) is corrupt");
  EXPECT_FALSE(Box.HasIcon);
  EXPECT_EQ(Box.Buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(ReadBytes(UpdateDir() + "first.txt"), ReadBytes(Source("bad-entry", "first.txt")))
      << "entries before the failure stay extracted";
  EXPECT_FALSE(Exists(UpdateDir() + "third.txt"));
  EXPECT_FALSE(Exists(UpdateDir() + "kvUpdate.bat"));
  EXPECT_FALSE(Exists(AppDir + "konvoro-runs.log"));
}

TEST_F(UpdaterE2ETest, EntryNameThatLeavesTheUpdateDirectoryIsRefused) {
  TChildProcess Updater = Start("evil-name", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Text, "ZLIB error File (1) has an invalid name");
  EXPECT_TRUE(Exists(UpdateDir() + "fine.txt"));
  EXPECT_FALSE(Exists(AppDir + "evil.txt"));
  EXPECT_FALSE(Exists(UpdateDir() + "kvUpdate.bat"));
}

// "\x93 \x94" are curly quotes and "\x89" the per-mille sign in the ANSI
// code page; the OEM code page has none of them. The script names such an
// installation by its short name.
TEST_F(UpdaterE2ETest, InstallationWithoutAnExactOemNameIsNamedByItsShortName) {
  for (const char* Name : {"Konvoro \x93"
                           "Beta\x94",
                           "Konvoro 100\x89"}) {
    SCOPED_TRACE(Name);
    UseAppDir(Name);
    char Short[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(AppDir.c_str(), Short, MAX_PATH), 0u);
    EXPECT_EQ(RunWorkedUpdate(), ExpectedScript(WorkedScript, Short));
  }
}

TEST_F(UpdaterE2ETest, EntryNameWithoutAnExactOemFormIsRefused) {
  TChildProcess Updater = Start("inexact-name", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Text, "ZLIB error File (1) has an invalid name");
  EXPECT_FALSE(Box.HasIcon);
  EXPECT_TRUE(Exists(UpdateDir() + "fine.txt"));
  EXPECT_FALSE(Exists(UpdateDir() + "kvUpdate.bat"));
}

TEST_F(UpdaterE2ETest, ScriptThatCannotBeStartedIsReported) {
  TChildProcess Updater = Start("failing-launch", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Text, "Cannot start the update script \"" + UpdateDir() + "kvUpdate.bat\". " +
                          kv::SysErrorMessage(ERROR_ACCESS_DENIED) + ".");
  EXPECT_TRUE(Box.HasIcon);
  EXPECT_EQ(ReadText(UpdateDir() + "kvUpdate.bat"), ExpectedScript(WorkedScript, AppDir))
      << "the script stays for a later attempt";
  EXPECT_EQ(ReadBytes(UpdateDir() + "App.exe"), ReadBytes(Source("worked", "App.exe")));
  EXPECT_FALSE(Exists(AppDir + "konvoro-runs.log"));
}

TEST_F(UpdaterE2ETest, StartedMinimisedOrMaximisedTheMainWindowFollows) {
  for (const int Show : {SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED}) {
    SCOPED_TRACE(Show == SW_SHOWMAXIMIZED ? "maximised" : "minimised");
    TChildProcess Updater = Start("damaged", TempDir, TmpDir, Show);
    const auto Box = WaitForWindow("Kvupdater", "#32770", Updater.Id(), StartTimeoutMs);
    ASSERT_TRUE(Box.has_value());
    PressButton(Box->Handle, "OK");
    const auto Main = WaitForWindow("Form1", "TForm1", Updater.Id(), StartTimeoutMs, false);
    ASSERT_TRUE(Main.has_value());
    const bool Settled = WaitUntil(5000, [&] {
      const auto Now = GetWindowInfo(Main->Handle);
      return Now && (Show == SW_SHOWMAXIMIZED ? Now->Maximized : Now->Minimized);
    });
    EXPECT_TRUE(Settled);
    windriver::CloseWindow(Main->Handle);
    EXPECT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  }
  // A successful run still ends at once when started minimised.
  TChildProcess Updater = Start("empty", TempDir, TmpDir, SW_SHOWMINNOACTIVE);
  EXPECT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
  WaitForScript();
}

TEST_F(UpdaterE2ETest, DamagedFormResourceEndsStartUpWithAMessage) {
  TChildProcess Updater = Start("broken-form", TempDir, TmpDir);
  const auto Box = WaitForWindow("Kvupdater", "#32770", Updater.Id(), StartTimeoutMs);
  ASSERT_TRUE(Box.has_value());
  const auto Info = ReadMessageBox(Box->Handle);
  ASSERT_TRUE(Info.has_value());
  EXPECT_EQ(Info->Text.rfind("Error reading form resource TFORM1, line 6: Caption: ", 0), 0u)
      << Info->Text;
  EXPECT_TRUE(Info->HasIcon);
  PressButton(Box->Handle, "OK");
  EXPECT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(1));
  EXPECT_FALSE(Exists(UpdateDir())) << "the update never ran";
}

// ---------------------------------------------------------------------------
// Every language: whole updates in folders, with temporary directories and
// release files, whose names are in the system's own code page, or, where
// the code page lacks a character of the folder's name, through its short
// name. ctest runs the test under each system language (Wine takes the
// code pages from the locale), and each run takes the rows of its code
// page: 1252 is the default.

struct TLanguageRow {
  const char* What;
  uint32_t CodePage;
  // Below the test's root: the installation, and "temp" ("" for the
  // fixture's).
  std::wstring Folder;
  std::wstring Temp;
  // The variant and its payload, and the release files its script copies.
  const char* Release;
  std::vector<std::wstring> Files;
  // The script names the installation by its short name.
  bool ByShortName;
};

const TLanguageRow LanguageRows[] = {
    // The second bytes of so (83 5C) and hyou (95 5C) are "\".
    {.What = "Japanese system",
     .CodePage = 932,
     .Folder = L"Konvoro \u30BD\u30D5\u30C8\u8868",
     .Temp = L"\u4E00\u6642\u8868",
     .Release = "japanese",
     .Files = {L"\u30BD\u30D5\u30C8.txt", L"\u8868.txt"},
     .ByShortName = false},
    {.What = "Russian system",
     .CodePage = 1251,
     .Folder = L"\u041A\u043B\u0438\u0435\u043D\u0442 Konvoro",
     .Temp = L"",
     .Release = "russian",
     .Files = {L"\u041E\u0431\u043D\u043E\u0432\u043B\u0435\u043D\u0438\u0435.txt"},
     .ByShortName = false},
    // The same release, recording its code page, which is the system's.
    {.What = "Russian system, a release that records its code page",
     .CodePage = 1251,
     .Folder = L"Konvoro \u041A\u043B\u0438\u0435\u043D\u0442",
     .Temp = L"",
     .Release = "russian-recorded",
     .Files = {L"\u041E\u0431\u043D\u043E\u0432\u043B\u0435\u043D\u0438\u0435.txt"},
     .ByShortName = false},
    {.What = "Polish system",
     .CodePage = 1250,
     .Folder = L"\u0141\u00F3d\u017A Klient",
     .Temp = L"",
     .Release = "polish",
     .Files = {L"\u0179r\u00F3d\u0142o.txt"},
     .ByShortName = false},
    {.What = "Western system, a folder with Polish letters",
     .CodePage = 1252,
     .Folder = L"\u0141\u00F3d\u017A Client",
     .Temp = L"Tymczasowe \u0141\u00F3d\u017A",
     .Release = "worked",
     .Files = {L"App.exe", L"core.dll"},
     .ByShortName = true},
    {.What = "Western system, a folder with Japanese characters",
     .CodePage = 1252,
     .Folder = L"Konvoro \u65E5\u672C",
     .Temp = L"",
     .Release = "worked",
     .Files = {L"App.exe", L"core.dll"},
     .ByShortName = true},
};

std::string ExactIn(uint32_t CodePage, const std::wstring& Text) {
  const std::optional<std::string> Out = kv::WideToCodePageExact(Text, CodePage);
  EXPECT_TRUE(Out.has_value()) << "no exact form in code page " << CodePage;
  return Out.value_or("");
}

TEST_F(UpdaterE2ETest, UpdatesInTheSystemsLanguage) {
  const uint32_t CodePage = kvtest::AnsiCodePage();
  const std::wstring Top = Wide(Root) + L"\\";
  size_t Rows = 0;
  for (const TLanguageRow& Row : LanguageRows) {
    if (Row.CodePage != CodePage) continue;
    SCOPED_TRACE(Row.What);
    ++Rows;
    const std::wstring App = Top + Row.Folder + L"\\";
    const std::wstring Temp = Row.Temp.empty() ? Wide(TempDir) : Top + Row.Temp;
    ASSERT_TRUE(CreateDirectoryW(App.c_str(), nullptr));
    CreateDirectoryW(Temp.c_str(), nullptr);
    const std::wstring Client = Wide(kvtest::ProgramDirectory() + KV_E2E_CLIENT_DIR + "\\");
    for (const wchar_t* File : {L"konvoro.exe", L"konvorocore.dll"})
      CopyInto(Client + File, App + File);
    CopyInto(Wide(Variant(Row.Release)), App + L"KVUpdater.exe");
    const std::vector<std::wstring> Beside = Contents(Top);

    TChildProcess Updater(App + L"KVUpdater.exe", Wide(WorkDir),
                          {{L"TEMP", Temp}, {L"TMP", Wide(TmpDir)}});
    ASSERT_EQ(Updater.WaitForExit(StartTimeoutMs), std::optional<uint32_t>(0));
    EXPECT_EQ(ReadBytes(Temp + L"\\kvUPDzip.dat"), ReadBytes(Payload(Row.Release)))
        << "staged in the temporary directory itself";

    // The script names the very installation, in the interpreter's code
    // page.
    wchar_t Short[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(App.c_str(), Short, MAX_PATH), 0u);
    const std::string A = ExactIn(GetOEMCP(), Row.ByShortName ? std::wstring(Short) : App);
    std::string Copies;
    for (const std::wstring& File : Row.Files)
      Copies += "@copy /Y \"" + A + "update\\" + ExactIn(GetOEMCP(), File) + "\" \"" + A + "\"\r\n";
    std::string Expected = ExpectedScript(EmptyArchiveScript, A);
    Expected.insert(Expected.find("@\""), Copies);
    EXPECT_EQ(ReadText(App + L"update\\kvUpdate.bat"), Expected);

    EXPECT_EQ(WaitForScript(App), "version=1 core=1 args=\r\n");
    const std::wstring Sources =
        Wide(kvtest::ProgramDirectory() + "payloads\\sources\\" + Row.Release + "\\");
    for (const std::wstring& File : Row.Files) {
      const auto Installed = ReadBytes(App + File);
      EXPECT_TRUE(Installed.has_value()) << ExactIn(CP_UTF8, File) << " was not installed";
      EXPECT_EQ(Installed, ReadBytes(Sources + File)) << ExactIn(CP_UTF8, File);
    }
    EXPECT_EQ(Contents(Top), Beside) << "nothing appears beside the installation";
  }
  EXPECT_GT(Rows, 0u) << "no row for code page " << CodePage;
}

// A release whose names are in code page 1251, and that records it, would
// install its files under other names on a system of another code page: it
// is refused with the stop icon before anything is extracted, and no
// script is written. ctest runs it in every language; the Russian system
// installs it (LanguageRows).
TEST_F(UpdaterE2ETest, ReleaseMadeForAnotherCodePageIsRefused) {
  const uint32_t CodePage = kvtest::AnsiCodePage();
  if (CodePage == 1251) GTEST_SKIP() << "made for this system: UpdatesInTheSystemsLanguage";
  TChildProcess Updater = Start("russian-recorded", TempDir, TmpDir);
  const TMessageBoxInfo Box = AnswerMessageBoxThenCloseMainWindow(Updater);
  EXPECT_EQ(Box.Text,
            "This update was made for systems whose code page is 1251, and this "
            "system's is " +
                std::to_string(CodePage) +
                ": its files would take other names here; nothing was installed.");
  EXPECT_TRUE(Box.HasIcon);
  EXPECT_TRUE(Contents(Wide(AppDir + "update")).empty()) << "something was extracted";
  EXPECT_FALSE(Exists(AppDir + "konvoro-runs.log"));
}

}  // namespace
