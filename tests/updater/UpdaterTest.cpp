// The updater's parts on their own: script lines, paths, the application
// title, staging and holding the payload, and the scheduler probe against
// the real registry.
#include <gtest/gtest.h>
#include <windows.h>
#undef OemToAnsi  // windows.h's names for the ANSI calls
#undef ShellExecute

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>

#include "CodePages.h"
#include "FailingSystem.h"
#include "Forms.h"
#include "PayloadResource.h"
#include "Registry.h"
#include "Resources.h"
#include "SchedulerValue.h"
#include "Shell.h"
#include "TestSupport.h"
#include "UpdateScript.h"
#include "VMUpdate.h"
#include "fmDoKVUpdate.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/StringList.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace fs = std::filesystem;
using namespace kv::updater;
using kvtest::MessageOf;
using kvtest::TBytes;

TEST(UpdateScript, LinesNameTheUpdateDirectoryAndTheQuotedClient) {
  const std::string A = "C:\\Apps\\K\\";
  EXPECT_EQ(CopyLine(A, "App.exe"), "@copy /Y \"C:\\Apps\\K\\update\\App.exe\" \"C:\\Apps\\K\\\"");
  EXPECT_EQ(ClientStartLine(A, false), "@\"C:\\Apps\\K\\konvoro.exe\"");
  EXPECT_EQ(ClientStartLine(A, true), "@\"C:\\Apps\\K\\konvoro.exe\" /s");
  EXPECT_EQ(DeleteLines(A), (std::vector<std::string>{
                                "@del \"C:\\Apps\\K\\update\\*.exe\"",
                                "@del \"C:\\Apps\\K\\update\\*.dll\"",
                                "@del \"C:\\Apps\\K\\update\\KonvoroServers.txt\"",
                                "@del \"C:\\Apps\\K\\update\\*.bin\"",
                            }));
}

// With the ANSI code page 1252 and the OEM code page 437, as the tests run.
TEST(UpdateScript, ScriptTextIsExactOemWithPercentDoubled) {
  ASSERT_EQ(GetACP(), 1252u);
  ASSERT_EQ(GetOEMCP(), 437u);
  const struct {
    const char* Label;
    std::string Ansi;
    std::optional<std::string> Script;
  } Rows[] = {
      {.Label = "ASCII", .Ansi = "C:\\Apps\\K\\", .Script = "C:\\Apps\\K\\"},
      {.Label = "percent signs",
       .Ansi = "C:\\100% sure\\%PATH%\\",
       .Script = "C:\\100%% sure\\%%PATH%%\\"},
      {.Label = "o-umlaut has an OEM form",
       .Ansi = "\xF6"
               "ffnen",
       .Script = "\x94"
                 "ffnen"},
      {.Label = "curly quotes would close the quoting",
       .Ansi = "Konvoro \x93"
               "Beta\x94",
       .Script = std::nullopt},
      {.Label = "per mille would become an undoubled %", .Ansi = "100\x89", .Script = std::nullopt},
      {.Label = "angle quotes would redirect",
       .Ansi = "\x8B"
               "x\x9B",
       .Script = std::nullopt},
      {.Label = "euro would become ?", .Ansi = "\x80", .Script = std::nullopt},
  };
  for (const auto& Row : Rows)
    EXPECT_EQ(ScriptText(Row.Ansi), Row.Script) << Row.Label;
}

// Windows refuses WC_NO_BEST_FIT_CHARS and a used-default pointer for
// UTF-8, the code page of "Use Unicode UTF-8 for worldwide language
// support"; Wine does not, so the choice is checked here and the bytes
// through the real call.
TEST(CodePages, Utf8TakesOnlyTheFlagItAllowsAndEncodesEveryCharacter) {
  const struct {
    uint32_t CodePage;
    uint32_t Flags;
    bool AsksUsedDefault;
  } Choices[] = {
      {.CodePage = 437, .Flags = WC_NO_BEST_FIT_CHARS, .AsksUsedDefault = true},
      {.CodePage = 932, .Flags = WC_NO_BEST_FIT_CHARS, .AsksUsedDefault = true},
      {.CodePage = CP_UTF8, .Flags = WC_ERR_INVALID_CHARS, .AsksUsedDefault = false},
  };
  for (const auto& Row : Choices) {
    EXPECT_EQ(kv::ExactConversionFor(Row.CodePage).Flags, Row.Flags) << Row.CodePage;
    EXPECT_EQ(kv::ExactConversionFor(Row.CodePage).AsksUsedDefault, Row.AsksUsedDefault)
        << Row.CodePage;
  }
  const struct {
    std::wstring Text;
    std::optional<std::string> Utf8;
  } Texts[] = {
      {.Text = L"\u00D6", .Utf8 = "\xC3\x96"},
      {.Text = L"\u201C", .Utf8 = "\xE2\x80\x9C"},
      {.Text = L"\u2030\u2030\u2030", .Utf8 = "\xE2\x80\xB0\xE2\x80\xB0\xE2\x80\xB0"},
      {.Text = std::wstring(L"a") + wchar_t(0xD800) + L"b", .Utf8 = std::nullopt},
  };
  for (const auto& Row : Texts)
    EXPECT_EQ(kv::WideToCodePageExact(Row.Text, CP_UTF8), Row.Utf8);
}

TEST(UpdateScript, DirectoryWithoutAnExactFormIsNamedByItsShortNameOrRefused) {
  kvtest::TTempDir Dir;
  const std::string Quoted = Dir.Str() +
                             "\\Konvoro \x93"
                             "Beta\x94";
  ASSERT_TRUE(CreateDirectoryA(Quoted.c_str(), nullptr));
  const std::string Script = ScriptDirectory(Quoted + "\\");
  EXPECT_EQ(Script.find('"'), std::string::npos) << Script;
  char Long[MAX_PATH] = {};
  ASSERT_NE(GetLongPathNameA(kv::OemToAnsi(Script).c_str(), Long, MAX_PATH), 0u)
      << "names an existing directory: " << Script;
  EXPECT_EQ(std::string(Long), Quoted + "\\") << "the same one";

  const std::string Missing = Dir.Str() + "\\gone \x89\\";
  EXPECT_EQ(MessageOf([&] { ScriptDirectory(Missing); }),
            "The installation directory \"" + Missing +
                "\" cannot be named in the update script: the system's code pages lack some of "
                "its characters and it has no short name; nothing was installed");
}

TEST(UpdateRun, EveryFailureOfAnEntryBecomesTheZlibErrorText) {
  EXPECT_EQ(EntryFailure([] {}), "");
  EXPECT_EQ(EntryFailure([] { throw kv::Exception("File (3) is corrupt"); }),
            "ZLIB error File (3) is corrupt");
  EXPECT_EQ(EntryFailure([] { throw std::bad_alloc(); }), "ZLIB error std::bad_alloc");
}

TEST(UpdateScript, OnlyWaitExeInAsciiLettersOfAnyCaseIsTheWaitProgram) {
  for (const char* Name : {"wait.exe", "WAIT.EXE", "Wait.exe", "wAiT.ExE"})
    EXPECT_TRUE(IsWaitProgram(Name)) << Name;
  for (const char* Name : {"wait.exe.old", "wait.ex", "await.exe", "w\xC0it.exe", "wait.exe "})
    EXPECT_FALSE(IsWaitProgram(Name)) << Name;
}

TEST(UpdaterPaths, ApplicationDirectoryAndStagedArchive) {
  EXPECT_EQ(ApplicationDirectory("C:\\Program Files\\K\\KVUpdater.exe"), "C:\\Program Files\\K\\");
  EXPECT_EQ(ApplicationDirectory("C:KVUpdater.exe"), "C:\\");
  TempDir = "C:\\T";
  EXPECT_EQ(StagedArchivePath(), "C:\\T\\kvUPDzip.dat");
  TempDir = "C:\\T\\";
  EXPECT_EQ(StagedArchivePath(), "C:\\T\\kvUPDzip.dat");
  TempDir = "";
  EXPECT_EQ(StagedArchivePath(), "kvUPDzip.dat");
  // The kanji hyou ends with the byte "\" in code page 932.
  TempDir = "C:\\T\\\x95\x5C";
  EXPECT_EQ(StagedArchivePath(), kvtest::AnsiCodePage() == kvtest::JapaneseCodePage
                                     ? "C:\\T\\\x95\x5C\\kvUPDzip.dat"
                                     : "C:\\T\\\x95\x5CkvUPDzip.dat");
}

// The ANSI calls take the installation and the temporary directory exactly
// or by their short names: a look-alike would name another folder. Each
// folder has an exact long form in the code pages listed, else it is named
// by its short form when it exists; a missing one has none and is refused.
TEST(UpdaterPaths, DirectoriesAreNamedExactlyOrByTheirShortNamesOrRefused) {
  kvtest::TTempDir Dir;
  const std::wstring Root = Dir.Path().wstring() + L"\\";
  const struct {
    std::wstring Name;
    bool Exists;
    std::vector<uint32_t> ExactIn;
  } Folders[] = {
      {.Name = L"Konvoro Client", .Exists = true, .ExactIn = {932, 1250, 1251, 1252}},
      {.Name = L"\u0141\u00F3d\u017A Client", .Exists = true, .ExactIn = {1250}},
      {.Name = L"Konvoro \u65E5\u672C", .Exists = true, .ExactIn = {932}},
      {.Name = L"\u041A\u043B\u0438\u0435\u043D\u0442", .Exists = true, .ExactIn = {932, 1251}},
      {.Name = L"\u0141\u00F3d\u017A gone", .Exists = false, .ExactIn = {1250}},
  };
  const uint32_t CodePage = kvtest::AnsiCodePage();
  for (const auto& Folder : Folders) {
    const std::wstring Path = Root + Folder.Name;
    if (Folder.Exists) {
      ASSERT_TRUE(CreateDirectoryW(Path.c_str(), nullptr));
    }
    ASSERT_TRUE(SetEnvironmentVariableW(L"temp", Path.c_str()));
    const bool Exact =
        std::find(Folder.ExactIn.begin(), Folder.ExactIn.end(), CodePage) != Folder.ExactIn.end();
    if (Exact) {
      EXPECT_EQ(TemporaryDirectory(), kv::WideToCodePageExact(Path, CP_ACP));
    } else if (Folder.Exists) {
      wchar_t Short[MAX_PATH] = {};
      ASSERT_NE(GetShortPathNameW(Path.c_str(), Short, MAX_PATH), 0u);
      EXPECT_EQ(TemporaryDirectory(), kv::WideToCodePageExact(Short, CP_ACP));
    } else {
      EXPECT_EQ(MessageOf([] { TemporaryDirectory(); }),
                "The temporary directory \"" + kv::WideToAnsiShown(Path) +
                    "\" cannot be named: the system's code page lacks some of its characters and "
                    "it has no short name; nothing was installed");
    }
  }
  SetEnvironmentVariableW(L"temp", nullptr);
}

// Walked by character in the ANSI code page: the first character stays as
// it is, both bytes of a double-byte one, and every character after it is
// lower-cased. In code page 932 "\x83\x41" is the katakana a, whose second
// byte is "A", and "\x95\x5C" the kanji hyou, whose second byte is "\\".
TEST(ApplicationTitle, FileNameCutAtTheFirstFullStopWithTheRestLowerCase) {
  const struct {
    const char* Path;
    const char* Title;
    uint32_t OnlyIn;  // 0: every code page
  } Rows[] = {
      {"C:\\Program Files\\Konvoro\\KVUpdater.exe", "Kvupdater", 0},
      {"C:\\x.y\\my.app.exe", "my", 0},
      {"D:\\UPPER", "Upper", 0},
      // "アップデートUP.exe"
      {"C:\\K\\\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67UP.exe",
       "\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67up", kvtest::JapaneseCodePage},
      // "表UP.exe"
      {"C:\\K\\\x95\x5CUP.exe", "\x95\x5Cup", kvtest::JapaneseCodePage},
  };
  const uint32_t CodePage = kvtest::AnsiCodePage();
  for (const auto& Row : Rows) {
    if (Row.OnlyIn != 0 && Row.OnlyIn != CodePage) continue;
    EXPECT_EQ(kv::ApplicationTitleFromPath(Row.Path), Row.Title) << Row.Path;
  }
}

class StagingTest : public ::testing::Test {
 protected:
  StagingTest() { TempDir = Dir.Str(); }
  ~StagingTest() override { TempDir.clear(); }

  TBytes Payload() {
    kv::TResourceStream R(kv::PayloadResourceName, kv::PayloadResourceType);
    return TBytes(R.Memory(), R.Memory() + R.GetSize());
  }
  std::string Staged() const { return Dir / "kvUPDzip.dat"; }
  std::vector<std::string> Names() const {
    std::vector<std::string> Out;
    for (const auto& [Name, Bytes] : kvtest::Snapshot(Dir.Path()))
      Out.push_back(Name);
    return Out;
  }

  kvtest::TTempDir Dir;
  TForm1 Form{nullptr};
};

TEST_F(StagingTest, PayloadIsCopiedExactlyAndReplacesALongerFile) {
  ASSERT_GT(Payload().size(), 2u * 61440u) << "several chunks";
  kvtest::WriteAll(Staged(), TBytes(Payload().size() + 5000, 'x'));
  kv::TFileHandle Held;
  EXPECT_TRUE(Form.ExtractPayload(Held));
  Held.Reset();
  EXPECT_EQ(kvtest::ReadAll(Staged()), Payload());
}

TEST_F(StagingTest, StagedArchiveOpenElsewhereFailsWithTheCreationText) {
  kvtest::WriteAll(Staged(), kvtest::ToBytes("held by someone else"));
  kv::TUniqueHFile Other(CreateFileA(Staged().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(Other);
  kv::TFileHandle Held;
  const std::string Message = MessageOf([&] { Form.ExtractPayload(Held); });
  Other.Reset();
  EXPECT_EQ(Message, "Cannot create file \"" + kv::ExpandFileName(Staged()) + "\". " +
                         kv::SysErrorMessage(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(kvtest::ReadAll(Staged()), kvtest::ToBytes("held by someone else"));
  EXPECT_EQ(Names(), std::vector<std::string>{"kvUPDzip.dat"}) << "the new file is gone again";
}

// The run reads the staged archive through the file staging wrote, which
// nobody else can open meanwhile: not to write, delete or rename it, nor to
// hold it so that it cannot be deleted later.
TEST_F(StagingTest, StagedArchiveStaysOpenToTheRunAlone) {
  kv::TFileHandle Held;
  ASSERT_TRUE(Form.ExtractPayload(Held));
  kv::THeldFileSource Source(Staged(), std::move(Held));
  for (const DWORD Access : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE), DWORD(DELETE)}) {
    const kv::TUniqueHFile Other(CreateFileA(Staged().c_str(), Access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(Other) << "access " << Access;
  }
  EXPECT_FALSE(DeleteFileA(Staged().c_str())) << "no deleting";
  EXPECT_FALSE(MoveFileA(Staged().c_str(), (Staged() + ".x").c_str())) << "no renaming";
  for (int Read = 0; Read < 2; ++Read) {
    const std::unique_ptr<kv::TStream> Stream = Source.Open();
    TBytes Bytes(Payload().size() + 1);
    EXPECT_EQ(Stream->Read(Bytes.data(), int32_t(Bytes.size())), int32_t(Payload().size()));
    Bytes.pop_back();
    EXPECT_EQ(Bytes, Payload()) << "every read from the start";
  }
}

// A pipe server planted where staging opens the folder or creates the new
// file is refused before anything is written: the run ends with the
// creation text rather than waiting on a pipe that nobody reads, and the
// server could at most have identified the program, never acted as it.
TEST_F(StagingTest, PipeReachedInsteadOfTheFolderOrTheFileIsRefusedUnwritten) {
  for (const uint64_t Open : {1, 2}) {
    SCOPED_TRACE(Open == 1 ? "the folder" : "the new file");
    kv::TFileHandle Held;
    const kvtest::TFailingSystem Pipe(kvtest::TFailingSystem::TPipeAtOpen{Open});
    const std::string Message = MessageOf([&] { Form.ExtractPayload(Held); });
    EXPECT_EQ(Message.rfind("Cannot create file \"" + kv::ExpandFileName(Staged()) + "\". ", 0), 0u)
        << Message;
    EXPECT_EQ(Pipe.BytesInPipe(), 0u) << "written into the pipe";
    EXPECT_FALSE(Held.Valid());
    ASSERT_TRUE(Pipe.PipeOpenFlags().has_value());
    // SECURITY_DELEGATION covers both bits of the level.
    EXPECT_EQ(*Pipe.PipeOpenFlags() & (SECURITY_SQOS_PRESENT | SECURITY_DELEGATION),
              uint32_t(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION));
    EXPECT_TRUE(Names().empty()) << "nothing left";
  }
}

// A temporary directory that is missing, or a file in its place, fails as
// creating the staged archive there fails: "path not found".
TEST_F(StagingTest, MissingTemporaryDirectoryOrAFileInItsPlaceIsAPathNotFound) {
  kvtest::WriteAll(Dir / "file", kvtest::ToBytes("in the way"));
  for (const std::string& Temp : {Dir / "missing", Dir / "file"}) {
    TempDir = Temp;
    kv::TFileHandle Held;
    EXPECT_EQ(MessageOf([&] { Form.ExtractPayload(Held); }),
              "Cannot create file \"" + kv::ExpandFileName(StagedArchivePath()) + "\". " +
                  kv::SysErrorMessage(ERROR_PATH_NOT_FOUND))
        << Temp;
  }
}

// The new file is made relative to the folder held, so that a temporary
// directory in which kvUPDzip.dat fits within a path's length limit takes
// the longer temporary name too.
TEST_F(StagingTest, LongTemporaryDirectoryStages) {
  std::string Temp = Dir.Str() + "\\";
  Temp += std::string(240 - Temp.size(), 'd');
  ASSERT_TRUE(CreateDirectoryA(Temp.c_str(), nullptr));
  TempDir = Temp;
  kv::TFileHandle Held;
  EXPECT_EQ(MessageOf([&] { Form.ExtractPayload(Held); }), "(no exception)");
  Held.Reset();
  EXPECT_EQ(kvtest::ReadAll(Temp + "\\kvUPDzip.dat"), Payload());
}

// Whoever owns the temporary directory may turn its path elsewhere between
// the moment the folder is opened and the moment the new file is made: the
// file is made in the folder held all the same, never where the path leads
// by then.
TEST_F(StagingTest, PathTurnedBeforeTheFileIsMadeLeavesItInTheFolderHeld) {
  const std::string Temp = Dir / "temp", Held = Dir / "held";
  ASSERT_TRUE(CreateDirectoryA(Temp.c_str(), nullptr));
  TempDir = Temp;
  kv::TFileHandle Staged;
  {
    // Just before the second open (the first holds the folder), the folder
    // moves away and another takes its name.
    const kvtest::TFailingSystem Turn(
        kvtest::TFileCall::Open,
        [&] {
          EXPECT_TRUE(MoveFileA(Temp.c_str(), Held.c_str()));
          EXPECT_TRUE(CreateDirectoryA(Temp.c_str(), nullptr));
        },
        2);
    EXPECT_EQ(MessageOf([&] { Form.ExtractPayload(Staged); }), "(no exception)");
  }
  Staged.Reset();
  EXPECT_EQ(kvtest::ReadAll(Held + "\\kvUPDzip.dat"), Payload()) << "staged in the folder held";
  EXPECT_TRUE(kvtest::Snapshot(Temp).empty()) << "something was made where the path led";
}

// The probe asks the real registry (HKLM, the process's own view).
class SchedulerTest : public ::testing::Test {
 protected:
  ~SchedulerTest() override {
    kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
    kvtest::RemoveSchedulerValue(HKEY_CURRENT_USER);
  }
};

TEST_F(SchedulerTest, AnyValueNamedVelmorSchedCountsWhateverItHolds) {
  kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(SchedulerIsRegistered());
  ASSERT_TRUE(kvtest::SetSchedulerValue(HKEY_LOCAL_MACHINE, REG_SZ, "", 1));
  EXPECT_TRUE(SchedulerIsRegistered()) << "an empty string";
  const DWORD Number = 7;
  ASSERT_TRUE(kvtest::SetSchedulerValue(HKEY_LOCAL_MACHINE, REG_DWORD, &Number, sizeof Number));
  EXPECT_TRUE(SchedulerIsRegistered()) << "a number";
  const char Long[] = "C:\\Program Files\\Velmor\\sched.exe /background /with /a /long /line";
  ASSERT_TRUE(kvtest::SetSchedulerValue(HKEY_LOCAL_MACHINE, REG_SZ, Long, sizeof Long));
  EXPECT_TRUE(SchedulerIsRegistered()) << "no data buffer is needed";
  kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(SchedulerIsRegistered());
}

TEST_F(SchedulerTest, TheCurrentUsersRunKeyDoesNotCount) {
  kvtest::RemoveSchedulerValue(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(kvtest::SetSchedulerValue(HKEY_CURRENT_USER, REG_SZ, "x", 2));
  EXPECT_FALSE(SchedulerIsRegistered());
}

// A start that fails is told by the shell's own result, not by whatever
// error one of the calls it made on the way left behind: a file with no
// program for its kind is no missing file.
TEST(Shell, AFailedStartGivesTheShellsOwnReason) {
  kvtest::TTempDir Dir;
  kvtest::WriteAll(Dir / "x.kvnoassoc", kvtest::ToBytes("no program opens this"));
  EXPECT_EQ(kv::ShellExecute("open", "x.kvnoassoc", "", Dir.Str(), kv::SW_HIDE_COMMAND),
            kv::OSError(ERROR_NO_ASSOCIATION));
  EXPECT_EQ(kv::ShellExecute("open", "missing.bat", "", Dir.Str(), kv::SW_HIDE_COMMAND),
            std::errc::no_such_file_or_directory);
}

TEST(Registry, MissingKeyOpensNothing) {
  kv::TRegistry Registry;
  Registry.SetRootKey(kv::TRootKey::LocalMachine);
  EXPECT_FALSE(Registry.OpenKeyReadOnly("\\Software\\No Such Vendor\\No Such Key"));
  EXPECT_FALSE(Registry.HasOpenKey());
  EXPECT_FALSE(Registry.ValueExists("VelmorSched"));
  EXPECT_TRUE(Registry.OpenKeyReadOnly("\\Software\\Microsoft"));
  EXPECT_TRUE(Registry.HasOpenKey());
}

// Staging the payload and saving a script with the k-th file operation
// failing: each run writes the exact bytes or raises the creation or write
// failure, and leaves nothing open.
TEST_F(StagingTest, FailingFileOperationsWhileStagingAndSavingAScript) {
  kv::TStringList Lines;
  Lines.Add("@echo off");
  Lines.Add("@\"C:\\K\\konvoro.exe\" /s");
  const std::string Script = Dir / "kvUpdate.bat";
  auto Run = [&](uint64_t FailAt, uint64_t* Calls) {
    DeleteFileA(Staged().c_str());
    DeleteFileA(Script.c_str());
    std::string Message;
    const kvtest::TFailingSystem Failing(FailAt);
    try {
      kv::TFileHandle Held;
      Form.ExtractPayload(Held);
      Held.Reset();
      Lines.SaveToFile(Script);
    } catch (const kv::Exception& E) {
      Message = E.Message();
    }
    if (Calls) *Calls = Failing.Count();
    return Message;
  };
  uint64_t Calls = 0;
  ASSERT_EQ(Run(0, &Calls), "");
  ASSERT_GE(Calls, 7u) << "create, three chunk writes, replace, the script's create and write";
  int Failures = 0;
  for (uint64_t K = 1; K <= Calls; ++K) {
    SCOPED_TRACE("operation " + std::to_string(K));
    const std::string Message = Run(K, nullptr);
    if (Message.empty()) {
      EXPECT_EQ(kvtest::ReadAll(Staged()), Payload());
      EXPECT_EQ(kvtest::ReadAll(Script), kvtest::ToBytes(Lines.Text()));
    } else {
      ++Failures;
      const bool Documented =
          Message.rfind("Cannot create file \"", 0) == 0 || Message == "Stream write error";
      EXPECT_TRUE(Documented) << Message;
    }
    for (const std::string& Name : Names())
      EXPECT_TRUE(Name == "kvUPDzip.dat" || Name == "kvUpdate.bat") << Name << " left behind";
    for (const std::string& Name : {Staged(), Script}) {
      if (!kv::FileExists(Name)) continue;
      EXPECT_TRUE(MoveFileA(Name.c_str(), (Name + ".x").c_str())) << Name << " stays open";
      MoveFileA((Name + ".x").c_str(), Name.c_str());
    }
  }
  std::printf("[   INFO   ] %d of %d failing operations reported\n", Failures, int(Calls));
}
