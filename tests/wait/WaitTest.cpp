// wait.exe, as the update script runs it and as the README documents it:
// what it waits for, how long, and its exit codes.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "WindowDriver.h"
#include "konvoro/Text.h"

using namespace std::chrono_literals;
using windriver::TChildProcess;

namespace {

constexpr uint32_t ExitTimeoutMs = 15000;
// Starting a program under Wine takes a few hundred milliseconds.
constexpr auto StartAllowance = 5s;

const std::string WaitPath = KV_WAIT_EXE_NATIVE;
// A program that runs as long as it is told to, to be waited for.
const std::filesystem::path SleeperPath = KV_WAIT_SLEEPER_NATIVE;

// A copy of the sleeper under a name of this process's own, so that tests
// running at the same time do not wait for each other's programs.
std::string TargetName(const std::string& Base) {
  return Base + std::to_string(::GetCurrentProcessId()) + ".exe";
}

TChildProcess StartSleeper(const kvtest::TTempDir& Directory, const std::string& Name) {
  std::filesystem::copy_file(SleeperPath, Directory.Path() / Name);
  return TChildProcess(Directory / Name, "", {}, "sleep 60000");
}

}  // namespace

TEST(WaitTest, ReturnsAtOnceWhenNoSuchProcessRuns) {
  const auto Start = std::chrono::steady_clock::now();
  TChildProcess Wait(WaitPath, "", {}, TargetName("kvnosuchprogram") + " 30");
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, StartAllowance);
}

TEST(WaitTest, WaitsUntilTheNamedProgramHasEnded) {
  kvtest::TTempDir Directory;
  const std::string Name = TargetName("KvWaitTarget");
  TChildProcess Target = StartSleeper(Directory, Name);

  const std::string OtherCase = kv::UpperCase(Name);
  TChildProcess Wait(WaitPath, "", {}, OtherCase + " 30");
  EXPECT_FALSE(Wait.WaitForExit(1500)) << "wait.exe did not wait for " << Name;
  ASSERT_TRUE(Target.Terminate());
  const auto Ended = std::chrono::steady_clock::now();
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - Ended, 2s);
}

TEST(WaitTest, GivesUpAfterItsTimeLimit) {
  kvtest::TTempDir Directory;
  const std::string Name = TargetName("kvwaitlimit");
  TChildProcess Target = StartSleeper(Directory, Name);

  const auto Start = std::chrono::steady_clock::now();
  TChildProcess Wait(WaitPath, "", {}, Name + " 1");
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 1u);
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Took, 1s);
  EXPECT_LT(Took, 1s + StartAllowance);
  EXPECT_TRUE(Target.IsRunning());
}

// Arguments it refuses, with exit code 2, before it looks at any process.
class WaitUsageTest : public testing::TestWithParam<const char*> {};

TEST_P(WaitUsageTest, RefusesWithExitCodeTwo) {
  TChildProcess Wait(WaitPath, "", {}, GetParam());
  EXPECT_EQ(Wait.WaitForExit(ExitTimeoutMs), 2u) << "wait " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Arguments, WaitUsageTest,
                         testing::Values("KVUpdater.exe 30 more",  // three operands
                                         "KVUpdater.exe 1.5",      // no whole number
                                         "KVUpdater.exe 30s",      // trailing text
                                         "KVUpdater.exe \"\"",     // no number at all
                                         "KVUpdater.exe 86401",    // over a day
                                         "\"\" 30"));              // no image
