// The demo release as the end-to-end tests rely on it: its files, what
// konvoro.exe logs, and how long wait.exe waits.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "TestPrograms.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "konvoro/Text.h"

using namespace std::chrono_literals;
using windriver::TChildProcess;

namespace {

constexpr uint32_t ExitTimeoutMs = 15000;
// Starting a program under Wine takes a few hundred milliseconds.
constexpr auto StartAllowance = 5s;

const std::filesystem::path ReleaseDir = KV_DEMO_RELEASE_DIR_NATIVE;
const std::filesystem::path VersionOneDir = KV_DEMO_V1_DIR_NATIVE;

std::string ReadText(const std::filesystem::path& File) {
  const kvtest::TBytes Bytes = kvtest::ReadAll(File);
  return std::string(Bytes.begin(), Bytes.end());
}

void CopyInto(const std::filesystem::path& File, const kvtest::TTempDir& Directory,
              const std::string& Name = "") {
  std::filesystem::copy_file(File, Directory.Path() / (Name.empty() ? File.filename() : Name));
}

// Runs konvoro.exe in Directory with Arguments; returns its exit code.
std::optional<uint32_t> RunClient(const kvtest::TTempDir& Directory, const std::string& Arguments) {
  return TChildProcess(Directory / "konvoro.exe", Directory.Str(), {}, Arguments)
      .WaitForExit(ExitTimeoutMs);
}

std::string WaitPath() {
  return (ReleaseDir / "wait.exe").string();
}

// A copy of the helper under a name of this process's own, so that tests
// running at the same time do not wait for each other's programs.
std::string TargetName(const std::string& Base) {
  return Base + std::to_string(::GetCurrentProcessId()) + ".exe";
}

}  // namespace

TEST(DemoReleaseTest, HoldsTheFiveReleaseFilesAndNothingElse) {
  std::set<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(ReleaseDir))
    Names.insert(Entry.path().filename().string());
  EXPECT_EQ(Names, (std::set<std::string>{"KonvoroServers.txt", "konvoro.bin", "konvoro.exe",
                                          "konvorocore.dll", "wait.exe"}));
  EXPECT_EQ(std::filesystem::file_size(ReleaseDir / "konvoro.bin"), 4096u);
}

TEST(DemoReleaseTest, ClientLogsEachRunWithItsArguments) {
  kvtest::TTempDir Installation;
  CopyInto(ReleaseDir / "konvoro.exe", Installation);
  CopyInto(ReleaseDir / "konvorocore.dll", Installation);
  EXPECT_EQ(RunClient(Installation, "/s"), 0u);
  EXPECT_EQ(RunClient(Installation, ""), 0u);
  EXPECT_EQ(RunClient(Installation, "a  \"b c\" "), 0u);
  EXPECT_EQ(ReadText(Installation.Path() / "konvoro-runs.log"),
            "version=2 core=2 args=/s\r\n"
            "version=2 core=2 args=\r\n"
            "version=2 core=2 args=a  \"b c\"\r\n");
}

TEST(DemoReleaseTest, ClientReportsTheLibraryBesideIt) {
  kvtest::TTempDir Installation;
  CopyInto(VersionOneDir / "konvoro.exe", Installation);
  EXPECT_EQ(RunClient(Installation, "/s"), 0u);
  CopyInto(ReleaseDir / "konvorocore.dll", Installation);
  EXPECT_EQ(RunClient(Installation, "/s"), 0u);
  EXPECT_EQ(ReadText(Installation.Path() / "konvoro-runs.log"),
            "version=1 core=none args=/s\r\n"
            "version=1 core=2 args=/s\r\n");
}

TEST(DemoReleaseTest, WaitReturnsAtOnceWhenNoSuchProcessRuns) {
  const auto Start = std::chrono::steady_clock::now();
  TChildProcess Wait(WaitPath(), "", {}, TargetName("kvnosuchprogram") + " 30");
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, StartAllowance);
}

TEST(DemoReleaseTest, WaitWaitsUntilTheNamedProgramHasEnded) {
  kvtest::TTempDir Directory;
  const std::string Name = TargetName("KvWaitTarget");
  CopyInto(windriver_test::HelperPath(), Directory, Name);
  TChildProcess Target(Directory / Name, "", {}, "sleep 60000");

  const std::string OtherCase = kv::UpperCase(Name);
  TChildProcess Wait(WaitPath(), "", {}, OtherCase + " 30");
  EXPECT_FALSE(Wait.WaitForExit(1500)) << "wait.exe did not wait for " << Name;
  ASSERT_TRUE(Target.Terminate());
  const auto Ended = std::chrono::steady_clock::now();
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - Ended, 2s);
}

TEST(DemoReleaseTest, WaitGivesUpAfterItsTimeLimit) {
  kvtest::TTempDir Directory;
  const std::string Name = TargetName("kvwaitlimit");
  CopyInto(windriver_test::HelperPath(), Directory, Name);
  TChildProcess Target(Directory / Name, "", {}, "sleep 60000");

  const auto Start = std::chrono::steady_clock::now();
  TChildProcess Wait(WaitPath(), "", {}, Name + " 1");
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 1u);
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Took, 1s);
  EXPECT_LT(Took, 1s + StartAllowance);
  EXPECT_TRUE(Target.IsRunning());
}
