// The updater's parts on their own: script lines, paths, the application
// title, staging and holding the payload, and the scheduler probe against
// the real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "Exceptions.h"
#include "FaultSeam.h"
#include "Files.h"
#include "Forms.h"
#include "Registry.h"
#include "Resources.h"
#include "StringList.h"
#include "TestSupport.h"
#include "UpdateScript.h"
#include "VMUpdate.h"
#include "fmDoKVUpdate.h"

namespace fs = std::filesystem;
using namespace kv::updater;
using kvtest::MessageOf;
using kvtest::TBytes;

TEST(UpdateScript, WorkedExampleLines) {
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

TEST(UpdateScript, PercentSignsAreDoubledEverywhere) {
  const std::string A = "C:\\100% sure\\%PATH%\\";
  EXPECT_EQ(
      CopyLine(A, "50%.txt"),
      "@copy /Y \"C:\\100%% sure\\%%PATH%%\\update\\50%%.txt\" \"C:\\100%% sure\\%%PATH%%\\\"");
  EXPECT_EQ(ClientStartLine(A, true), "@\"C:\\100%% sure\\%%PATH%%\\konvoro.exe\" /s");
  EXPECT_EQ(DeleteLines(A)[2], "@del \"C:\\100%% sure\\%%PATH%%\\update\\KonvoroServers.txt\"");
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
}

TEST(ApplicationTitle, FileNameCutAtTheFirstFullStopWithTheRestLowerCase) {
  EXPECT_EQ(kv::ApplicationTitleFromPath("C:\\Program Files\\Konvoro\\KVUpdater.exe"), "Kvupdater");
  EXPECT_EQ(kv::ApplicationTitleFromPath("C:\\x.y\\my.app.exe"), "my");
  EXPECT_EQ(kv::ApplicationTitleFromPath("D:\\UPPER"), "Upper");
}

class StagingTest : public ::testing::Test {
 protected:
  StagingTest() { TempDir = Dir.Str(); }
  ~StagingTest() override { TempDir.clear(); }

  TBytes Payload() {
    kv::TResourceStream R("ZLBData", kv::RT_RCDATA_TYPE);
    return TBytes(R.Memory(), R.Memory() + R.GetSize());
  }
  std::string Staged() const { return Dir / "kvUPDzip.dat"; }

  kvtest::TTempDir Dir;
  TForm1 Form{nullptr};
};

TEST_F(StagingTest, PayloadIsCopiedExactlyAndReplacesALongerFile) {
  ASSERT_GT(Payload().size(), 2u * 61440u) << "several chunks";
  kvtest::WriteAll(Staged(), TBytes(Payload().size() + 5000, 'x'));
  EXPECT_TRUE(Form.ExtractPayload());
  EXPECT_EQ(kvtest::ReadAll(Staged()), Payload());
}

TEST_F(StagingTest, StagedArchiveOpenElsewhereFailsWithTheCreationText) {
  kvtest::WriteAll(Staged(), kvtest::ToBytes("held by someone else"));
  HANDLE Other = CreateFileA(Staged().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(Other, INVALID_HANDLE_VALUE);
  const std::string Message = MessageOf([&] { Form.ExtractPayload(); });
  CloseHandle(Other);
  EXPECT_EQ(Message.rfind("Cannot create file \"" + kv::ExpandFileName(Staged()) + "\". ", 0), 0u)
      << Message;
  EXPECT_EQ(kvtest::ReadAll(Staged()), kvtest::ToBytes("held by someone else"));
}

TEST_F(StagingTest, HeldArchiveCannotBeChangedAndMustMatchThePayload) {
  Form.ExtractPayload();
  {
    auto Held = HoldStagedArchive(Staged());
    HANDLE Writer = CreateFileA(Staged().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Writer, INVALID_HANDLE_VALUE) << "no writing";
    if (Writer != INVALID_HANDLE_VALUE) CloseHandle(Writer);
    EXPECT_FALSE(DeleteFileA(Staged().c_str())) << "no deleting";
    EXPECT_FALSE(MoveFileA(Staged().c_str(), (Staged() + ".x").c_str())) << "no renaming";
    kv::TFileStream Reader(Staged(), kv::fmOpenRead | kv::fmShareDenyWrite);
    EXPECT_EQ(Reader.GetSize(), int64_t(Payload().size())) << "reading along is fine";
  }
  TBytes Swapped = Payload();
  Swapped[70000] ^= 1;
  kvtest::WriteAll(Staged(), Swapped);
  EXPECT_EQ(MessageOf([&] { HoldStagedArchive(Staged()); }),
            "The staged update archive \"" + Staged() +
                "\" was changed after it was written; nothing was installed");
  Swapped.pop_back();
  kvtest::WriteAll(Staged(), Swapped);
  EXPECT_THROW(HoldStagedArchive(Staged()), kv::Exception) << "a shorter file";
}

// The probe asks the real registry (HKLM, the process's own view).
class SchedulerTest : public ::testing::Test {
 protected:
  static constexpr const char* RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  ~SchedulerTest() override {
    RemoveValue(HKEY_LOCAL_MACHINE);
    RemoveValue(HKEY_CURRENT_USER);
  }
  static void SetValue(HKEY Root, DWORD Type, const void* Data, DWORD Size) {
    HKEY Key;
    ASSERT_EQ(RegCreateKeyExA(Root, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &Key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(Key, "VelmorSched", 0, Type, static_cast<const BYTE*>(Data), Size),
              ERROR_SUCCESS);
    RegCloseKey(Key);
  }
  static void RemoveValue(HKEY Root) {
    HKEY Key;
    if (RegOpenKeyExA(Root, RunKey, 0, KEY_SET_VALUE, &Key) == ERROR_SUCCESS) {
      RegDeleteValueA(Key, "VelmorSched");
      RegCloseKey(Key);
    }
  }
};

TEST_F(SchedulerTest, AnyValueNamedVelmorSchedCountsWhateverItHolds) {
  RemoveValue(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(SchedulerIsRegistered());
  SetValue(HKEY_LOCAL_MACHINE, REG_SZ, "", 1);
  EXPECT_TRUE(SchedulerIsRegistered()) << "an empty string";
  const DWORD Number = 7;
  SetValue(HKEY_LOCAL_MACHINE, REG_DWORD, &Number, sizeof Number);
  EXPECT_TRUE(SchedulerIsRegistered()) << "a number";
  const char Long[] = "C:\\Program Files\\Velmor\\sched.exe /background /with /a /long /line";
  SetValue(HKEY_LOCAL_MACHINE, REG_SZ, Long, sizeof Long);
  EXPECT_TRUE(SchedulerIsRegistered()) << "no data buffer is needed";
  RemoveValue(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(SchedulerIsRegistered());
}

TEST_F(SchedulerTest, TheCurrentUsersRunKeyDoesNotCount) {
  RemoveValue(HKEY_LOCAL_MACHINE);
  SetValue(HKEY_CURRENT_USER, REG_SZ, "x", 2);
  EXPECT_FALSE(SchedulerIsRegistered());
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
    kv::fault::Arm(FailAt);
    try {
      Form.ExtractPayload();
      HoldStagedArchive(Staged());
      Lines.SaveToFile(Script, kv::TLineEncoding::Oem);
    } catch (const kv::Exception& E) {
      Message = E.Message();
    }
    if (Calls) *Calls = kv::fault::Count();
    kv::fault::Disarm();
    return Message;
  };
  uint64_t Calls = 0;
  ASSERT_EQ(Run(0, &Calls), "");
  ASSERT_GE(Calls, 6u) << "create, three chunk writes, hold open and read, script";
  int Failures = 0;
  for (uint64_t K = 1; K <= Calls; ++K) {
    SCOPED_TRACE("operation " + std::to_string(K));
    const std::string Message = Run(K, nullptr);
    if (Message.empty()) {
      EXPECT_EQ(kvtest::ReadAll(Staged()), Payload());
      EXPECT_EQ(kvtest::ReadAll(Script), kvtest::ToBytes(Lines.Text()));
    } else {
      ++Failures;
      const bool Documented = Message.rfind("Cannot create file \"", 0) == 0 ||
                              Message.rfind("Cannot open file \"", 0) == 0 ||
                              Message == "Stream write error" ||
                              Message.find("was changed after it was written") != std::string::npos;
      EXPECT_TRUE(Documented) << Message;
    }
    for (const std::string& Name : {Staged(), Script}) {
      if (!kv::FileExists(Name)) continue;
      EXPECT_TRUE(MoveFileA(Name.c_str(), (Name + ".x").c_str())) << Name << " stays open";
      MoveFileA((Name + ".x").c_str(), Name.c_str());
    }
  }
  std::printf("[   INFO   ] %d of %d failing operations reported\n", Failures, int(Calls));
}
