// Failing operations. Reads of the archive and reads and writes of the
// destinations fail one at a time through the reader: every run either
// succeeds with byte-exact output or fails with one of the reader's texts.
// Where the component opens and writes files itself, real failures: each
// raises its text and leaves no file open (ExtractTest makes targets and
// directories that cannot be created).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "ArchiveFixture.h"
#include "FailingStream.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace kv;
using kvtest::MessageOf;
using kvtest::TBytes;
using kvtest::TFailingStream;
using kvtest::TFaultPlan;
using kvtest::TStreamOperation;

namespace {

bool IsCorrupt(const std::string& Message) {
  return Message.starts_with("File (") && Message.ends_with(") is corrupt");
}

bool IsReaderFailure(const std::string& Message) {
  return Message == "The archive file appears to be corrupted" ||
         Message == "Unable to read archive file list" || IsCorrupt(Message) ||
         (Message.starts_with("File (") && Message.ends_with(") failed CRC check"));
}

// Several input blocks, a stored entry, an empty one.
const std::vector<kvtest::TTestEntry>& Contents() {
  static const std::vector<kvtest::TTestEntry> Entries = {
      {"big.bin", kvtest::PatternBytes(300000, 21)},
      {"raw.bin", kvtest::PatternBytes(10000, 22), "", true},
      {"empty", {}},
      {"last.txt", kvtest::ToBytes("the end")}};
  return Entries;
}

const TBytes& ArchiveBytes() {
  static const TBytes Bytes = kvtest::BuildArchive(Contents());
  return Bytes;
}

// Reads the archive and extracts every entry, the reads of the archive and
// the reads and writes of the destinations counted (and one failed) by Plan.
// Gathering destinations hand their bytes on only when flushed, as the
// component's target files do. Returns the failure's text, or "" when every
// entry came out exactly.
std::string ReadAndExtract(TFaultPlan& Plan, bool CheckCRC, bool Gathering) {
  TReadOnlyMemoryStream Archive(ArchiveBytes().data(), int64_t(ArchiveBytes().size()));
  TFailingStream Source(Archive, Plan);
  try {
    const TZLBArchiveTrailer Trailer = ReadTrailer(Source);
    std::deque<TZLBFileEntry> Entries;
    ReadDirectory(Source, Trailer, Entries);
    for (int32_t I = 0; I < int32_t(Entries.size()); ++I) {
      TMemoryStream Out;
      TFailingStream Dest(Out, Plan, Gathering);
      ExtractEntry(Source, Entries[size_t(I)], I, Dest, CheckCRC);
      if (Out.Bytes() != Contents()[size_t(I)].Data) return "success, but not exact";
    }
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

}  // namespace

class FaultInjectionTest : public ArchiveTest {};

TEST_F(FaultInjectionTest, EveryFailingReadOrWriteIsReported) {
  for (const bool Gathering : {false, true}) {
    for (const bool CheckCRC : {false, true}) {
      const std::string Variant =
          std::string(Gathering ? "gathering" : "direct") + (CheckCRC ? ", CRC checked" : "");
      TFaultPlan Counting;
      ASSERT_EQ(ReadAndExtract(Counting, CheckCRC, Gathering), "") << Variant;
      const uint64_t Calls = Counting.Count();
      ASSERT_GT(Calls, 10u) << "reads and writes are counted";

      int Failures = 0;
      for (uint64_t K = 1; K <= Calls; ++K) {
        SCOPED_TRACE("operation " + std::to_string(K) + " of " + std::to_string(Calls) + ", " +
                     Variant);
        TFaultPlan Plan(K);
        const std::string Message = ReadAndExtract(Plan, CheckCRC, Gathering);
        if (!Message.empty()) {
          ++Failures;
          EXPECT_TRUE(IsReaderFailure(Message)) << Message;
        }
        if (Plan.Failed() == TStreamOperation::Write) {
          // Also when the only write comes from the last flush, before the
          // CRC check.
          EXPECT_TRUE(IsCorrupt(Message)) << Message;
        }
      }
      std::printf("[   INFO   ] %d of %d failing operations reported (%s)\n", Failures, int(Calls),
                  Variant.c_str());
    }
  }
}

TEST_F(FaultInjectionTest, FailingDestinationLeavesNoFileOpen) {
  const std::string Name = Write(ArchiveBytes());
  ASSERT_TRUE(Archive.OpenArchive(Name));
  Archive.SetCheckCRC(true);
  TFaultPlan Counting;
  TMemoryStream Out;
  TFailingStream Counted(Out, Counting);
  ASSERT_TRUE(Archive.ExtractToStream(0, Counted));
  ASSERT_GT(Counting.Count(), 2u);
  for (uint64_t K = 1; K <= Counting.Count(); ++K) {
    SCOPED_TRACE("operation " + std::to_string(K));
    TFaultPlan Plan(K);
    TMemoryStream Sink;
    TFailingStream Dest(Sink, Plan);
    const std::string Message = MessageOf([&] { Archive.ExtractToStream(0, Dest); });
    EXPECT_TRUE(Message == "File (0) is corrupt" || Message == "File (0) failed CRC check")
        << Message;
    EXPECT_TRUE(kvtest::NotHeldOpen(Name));
  }
}

// The archive file is there, but cannot be opened: on Windows another
// process holds it open for writing; elsewhere it is a socket.
TEST_F(FaultInjectionTest, ArchiveThatCannotBeOpenedLeavesTheComponentNamedButEmpty) {
#ifdef _WIN32
  const std::string Name = Write(kvtest::BuildArchive({}));
  TFileStream Holder(Name, fmOpenReadWrite | fmShareDenyNone);
#else
  const std::string Name = Dir / "socket.zlb";
  const int Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(Socket, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  ASSERT_LT(Name.size(), sizeof Address.sun_path);
  Name.copy(Address.sun_path, Name.size());
  ASSERT_EQ(::bind(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address), 0);
  ::close(Socket);
#endif
  EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Name); }), "Unable to open file (" + Name + ")");
  EXPECT_EQ(Archive.GetArchiveFileName(), Name);
  EXPECT_EQ(Archive.GetFileCount(), 0);
}

#ifndef _WIN32
// /dev/full takes any open and fails every write, as a full disk does.
TEST_F(FaultInjectionTest, TargetOnAFullDiskIsCorruptAndLeavesNoFileOpen) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string Name = Write(kvtest::BuildArchive({{"full", kvtest::PatternBytes(10000, 23)}}));
  ASSERT_TRUE(Archive.OpenArchive(Name));
  int Extracted = 0;
  Archive.SetOnFileExtracted([&](std::string) { ++Extracted; });
  for (const bool CheckCRC : {false, true}) {
    Archive.SetCheckCRC(CheckCRC);
    try {
      Archive.ExtractFile("/dev", 0);
      ADD_FAILURE() << "no failure";
    } catch (const EZLBArchiveError& E) {
      EXPECT_EQ(E.Message(), "File (0) is corrupt");
      EXPECT_EQ(int(E.Cause()), int(TCorruptCause::WriteBack)) << "from the last flush";
    }
    EXPECT_EQ(Extracted, 0);
    EXPECT_TRUE(kvtest::NotHeldOpen(Name));
    EXPECT_TRUE(kvtest::NotHeldOpen("/dev/full"));
  }
}
#endif
