// The demo release as the end-to-end tests rely on it: its files and what
// konvoro.exe logs.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "TestSupport.h"
#include "WindowDriver.h"

using windriver::TChildProcess;

namespace {

constexpr uint32_t ExitTimeoutMs = 15000;

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
