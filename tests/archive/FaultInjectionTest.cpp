// Failing file operations, one at a time: every run of an extraction either
// succeeds with byte-exact output or fails with one of the documented texts,
// and leaves no file open.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "ArchiveFixture.h"
#include "FaultSeam.h"

namespace fs = std::filesystem;
using namespace kv;
using kvtest::TBytes;

namespace {

bool IsDocumentedFailure(const std::string& Message, const std::string& ArchiveName) {
  for (const std::string& Exact : std::vector<std::string>{
           "The archive file appears to be corrupted", "Unable to read archive file list",
           "Unable to create destination path", "Unable to create directory",
           "Unable to open file (" + ArchiveName + ")"})
    if (Message == Exact) return true;
  for (const char* Prefix : {"Cannot create file \"", "File ("})
    if (Message.rfind(Prefix, 0) == 0) return true;
  return false;
}

}  // namespace

class FaultInjectionTest : public ArchiveTest {
 protected:
  ~FaultInjectionTest() override { fault::Disarm(); }

  // Opens the archive and extracts every entry below out, with the FailAt-th
  // file operation failing (0: none). Returns the failure's text, or "";
  // FailedWrite tells whether the operation that failed was a write.
  std::string Run(uint64_t FailAt, bool CheckCRC, uint64_t* Calls = nullptr,
                  bool* FailedWrite = nullptr) {
    fs::remove_all(Dir.Path() / "out");
    fs::create_directories(Dir.Path() / "out");
    std::string Message;
    fault::Arm(FailAt);
    try {
      TZLBArchive Reader;
      Reader.SetExtractWithPath(true);
      Reader.SetCheckCRC(CheckCRC);
      Reader.OpenArchive(Name);
      for (int32_t I = 0; I < Reader.GetFileCount(); ++I)
        Reader.ExtractFile(Dir.Str() + "\\out\\", I);
    } catch (const Exception& E) {
      Message = E.Message();
    }
    if (Calls) *Calls = fault::Count();
    if (FailedWrite) *FailedWrite = fault::FailedOperation() == fault::TOperation::Write;
    fault::Disarm();
    return Message;
  }

  void SetUp() override {
    // Several input blocks, a stored entry, an empty one, stored paths.
    Name = Write(kvtest::BuildArchive({{"big.bin", kvtest::PatternBytes(300000, 21), "a\\b\\"},
                                       {"raw.bin", kvtest::PatternBytes(10000, 22), "", true},
                                       {"empty", {}, "a\\"},
                                       {"last.txt", kvtest::ToBytes("the end"), "c\\"}}));
    Expected = {{"a/", {}},
                {"a/b/", {}},
                {"a/b/big.bin", kvtest::PatternBytes(300000, 21)},
                {"a/empty", {}},
                {"c/", {}},
                {"c/last.txt", kvtest::ToBytes("the end")},
                {"raw.bin", kvtest::PatternBytes(10000, 22)}};
  }

  std::string Name;
  std::vector<std::pair<std::string, TBytes>> Expected;
};

TEST_F(FaultInjectionTest, EveryFailingOperationIsReportedAndNothingStaysOpen) {
  for (const bool CheckCRC : {false, true}) {
    uint64_t Calls = 0;
    ASSERT_EQ(Run(0, CheckCRC, &Calls), "");
    ASSERT_EQ(kvtest::Snapshot(Dir.Path() / "out"), Expected);
    ASSERT_GT(Calls, 10u) << "opens, reads, writes and directories are counted";

    int Failures = 0;
    for (uint64_t K = 1; K <= Calls; ++K) {
      SCOPED_TRACE("operation " + std::to_string(K) + " of " + std::to_string(Calls) +
                   (CheckCRC ? ", CRC checked" : ""));
      bool FailedWrite = false;
      const std::string Message = Run(K, CheckCRC, nullptr, &FailedWrite);
      if (Message.empty()) {
        EXPECT_EQ(kvtest::Snapshot(Dir.Path() / "out"), Expected) << "success means exact";
      } else {
        ++Failures;
        EXPECT_TRUE(IsDocumentedFailure(Message, Name)) << Message;
      }
      if (FailedWrite) {
        // Also when the first real write comes from the buffered target's
        // last flush, before the CRC check.
        EXPECT_TRUE(Message.starts_with("File (") && Message.ends_with(") is corrupt")) << Message;
      }
      EXPECT_TRUE(kvtest::NotHeldOpen(Name));
      for (const auto& Entry : fs::recursive_directory_iterator(Dir.Path() / "out")) {
        if (Entry.is_regular_file()) {
          EXPECT_TRUE(kvtest::NotHeldOpen(Entry.path())) << Entry.path();
        }
      }
    }
    std::printf("[   INFO   ] %d of %d failing operations reported%s\n", Failures, int(Calls),
                CheckCRC ? " (CRC checked)" : "");
  }
}
