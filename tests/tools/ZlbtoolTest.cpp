// zlbtool end to end: the real program on real files, its output, exit
// status and error texts; updaters it reads and updaters it makes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "ImageBuilder.h"
#include "PEImage.h"
#include "TestSupport.h"
#include "konvoro/zlb/ZLBFormat.h"
#include "konvoro/zlb/ZLBReader.h"

namespace fs = std::filesystem;
using kvtest::TBytes;

namespace {

struct TRun {
  int Status;
  std::string Out;
  std::string Err;
};

class ZlbtoolTest : public ::testing::Test {
 protected:
  // Runs zlbtool with Args (already quoted for the shell) in the temporary
  // directory.
  TRun Run(const std::string& Args) {
    const std::string Out = Dir / "stdout.txt";
    const std::string Err = Dir / "stderr.txt";
    const std::string Command = "cd '" + Dir.Str() + "' && '" ZLBTOOL_PATH "' " + Args + " >'" +
                                Out + "' 2>'" + Err + "' </dev/null";
    const int Raw = std::system(Command.c_str());
    auto Text = [](const std::string& F) {
      const TBytes B = kvtest::ReadAll(F);
      return std::string(B.begin(), B.end());
    };
    TRun R{WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, Text(Out), Text(Err)};
    fs::remove(Out);
    fs::remove(Err);
    return R;
  }

  void MakeTree() {
    fs::create_directories(Dir.Path() / "tree" / "sub" / "deeper");
    kvtest::WriteAll(Dir.Path() / "tree" / "a.bin", kvtest::PatternBytes(70000, 1));
    kvtest::WriteAll(Dir.Path() / "tree" / "empty", {});
    kvtest::WriteAll(Dir.Path() / "tree" / "sub" / "b.txt", kvtest::ToBytes("bee\nbee\n"));
    kvtest::WriteAll(Dir.Path() / "tree" / "sub" / "deeper" / "c.dat",
                     kvtest::PatternBytes(5000, 2));
  }

  kvtest::TTempDir Dir;
};

uint32_t Crc(const TBytes& B) {
  return uint32_t(crc32(0, B.data(), uInt(B.size())));
}

// The value of "Key" in one JSON object line of zlbtool's output, as written
// (strings keep their quotes and escapes).
std::string Field(const std::string& Line, const std::string& Key) {
  const std::string Tag = "\"" + Key + "\": ";
  const size_t At = Line.find(Tag);
  if (At == std::string::npos) return "(missing)";
  const size_t Start = At + Tag.size();
  size_t End = Start;
  if (Line[Start] == '"') {
    for (End = Start + 1; End < Line.size() && Line[End] != '"'; ++End)
      if (Line[End] == '\\') ++End;
    ++End;
  } else {
    End = Line.find_first_of(",}", Start);
  }
  return Line.substr(Start, End - Start);
}

std::vector<std::string> ObjectLines(const std::string& Out) {
  std::vector<std::string> Lines;
  std::istringstream In(Out);
  std::string Line;
  while (std::getline(In, Line))
    if (Line.find('{') != std::string::npos) Lines.push_back(Line);
  return Lines;
}

}  // namespace

TEST_F(ZlbtoolTest, PackThenListJsonRoundTripsADirectoryInThePayloadLayout) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb --with-paths tree").Status, 0);
  const TRun List = Run("list --json t.zlb");
  ASSERT_EQ(List.Status, 0) << List.Err;

  struct TExpect {
    const char* Name;
    const char* Path;
    fs::path File;
  };
  const TExpect Expected[] = {
      {.Name = "a.bin", .Path = "", .File = "tree/a.bin"},
      {.Name = "empty", .Path = "", .File = "tree/empty"},
      {.Name = "b.txt", .Path = "sub\\\\", .File = "tree/sub/b.txt"},
      {.Name = "c.dat", .Path = "sub\\\\deeper\\\\", .File = "tree/sub/deeper/c.dat"}};
  const std::vector<std::string> Rows = ObjectLines(List.Out);
  ASSERT_EQ(Rows.size(), std::size(Expected)) << List.Out;
  EXPECT_EQ(List.Out.front(), '[');
  const TBytes Archive = kvtest::ReadAll(Dir.Path() / "t.zlb");
  int64_t NextOffset = 0;
  int64_t PackedTotal = 0;
  for (size_t I = 0; I < std::size(Expected); ++I) {
    const std::string& R = Rows[I];
    const TBytes Data = kvtest::ReadAll(Dir.Path() / Expected[I].File);
    EXPECT_EQ(Field(R, "index"), std::to_string(I));
    EXPECT_EQ(Field(R, "name"), "\"" + std::string(Expected[I].Name) + "\"");
    EXPECT_EQ(Field(R, "path"), "\"" + std::string(Expected[I].Path) + "\"");
    EXPECT_EQ(Field(R, "size"), std::to_string(Data.size()));
    char Hex[16];
    std::snprintf(Hex, sizeof Hex, "\"%08x\"", Crc(Data));
    EXPECT_EQ(Field(R, "crc32"), Hex);
    EXPECT_EQ(Field(R, "stored"), "false");
    // Blocks back to back from 0, each a zlib stream with header 78 9C.
    const int64_t Offset = std::stoll(Field(R, "offset"));
    EXPECT_EQ(Offset, NextOffset);
    EXPECT_EQ(Archive[size_t(Offset)], 0x78);
    EXPECT_EQ(Archive[size_t(Offset) + 1], 0x9C);
    NextOffset += std::stoll(Field(R, "packed"));
    PackedTotal += std::stoll(Field(R, "packed"));
  }

  const kv::TZLBArchiveTrailer T = kvtest::TrailerOf(Archive);
  EXPECT_EQ(T.Reserved1, 1u);
  EXPECT_EQ(T.DirectoryCompressed, 1);
  EXPECT_EQ(T.DirectoryOffset, PackedTotal);
  EXPECT_EQ(Archive[size_t(T.DirectoryOffset)], 0x78);
  EXPECT_EQ(int64_t(Archive.size()), PackedTotal + T.DirectorySize + 36);
}

TEST_F(ZlbtoolTest, TableListingShowsMethodSizesCrcAndPath) {
  MakeTree();
  ASSERT_EQ(Run("pack -o s.zlb --stored --raw-directory --with-paths tree").Status, 0);
  const TRun List = Run("list s.zlb");
  ASSERT_EQ(List.Status, 0) << List.Err;
  std::istringstream Lines(List.Out);
  std::string Header, Line;
  std::getline(Lines, Header);
  EXPECT_NE(Header.find("CRC-32"), std::string::npos);
  std::vector<std::string> Rows;
  while (std::getline(Lines, Line))
    Rows.push_back(Line);
  ASSERT_EQ(Rows.size(), 4u);
  char Expected[128];
  std::snprintf(Expected, sizeof Expected, "%7d %-8s %12d %12d %08X  %s", 3, "stored", 5000, 5000,
                Crc(kvtest::PatternBytes(5000, 2)), "sub\\deeper\\c.dat");
  EXPECT_EQ(Rows[3], Expected);
  EXPECT_EQ(kvtest::TrailerOf(kvtest::ReadAll(Dir.Path() / "s.zlb")).DirectoryCompressed, 0);
}

TEST_F(ZlbtoolTest, ListOfADamagedArchiveFails) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb tree").Status, 0);
  TBytes Archive = kvtest::ReadAll(Dir.Path() / "t.zlb");
  Archive[100] ^= 0x40;
  kvtest::WriteAll(Dir.Path() / "t.zlb", Archive);
  // Every reader names the file and what failed: the CRC computed and the
  // one the trailer records, as unzip says a bad CRC.
  char Crcs[96];
  std::snprintf(Crcs, sizeof Crcs, "the CRC-32 of its bytes is %08x, the trailer records %08x",
                Crc(TBytes(Archive.begin(), Archive.end() - 36)),
                kvtest::TrailerOf(Archive).ArchiveCRC);
  for (const char* Command : {"list", "test", "extract -d out"}) {
    const TRun R = Run(std::string(Command) + " t.zlb");
    EXPECT_EQ(R.Status, 1) << Command;
    EXPECT_EQ(R.Err, "zlbtool: t.zlb: The archive file appears to be corrupted: " +
                         std::string(Crcs) + "\n")
        << Command;
  }
  EXPECT_EQ(Run("list missing.zlb").Err, "zlbtool: missing.zlb: No such file or directory\n");
}

TEST_F(ZlbtoolTest, PackLeavesNothingBehindOnFailure) {
  MakeTree();
  // A stored path over 255 bytes cannot be recorded.
  fs::path Deep = Dir.Path() / "tree";
  for (int I = 0; I < 6; ++I)
    Deep /= std::string(50, char('a' + I));
  fs::create_directories(Deep);
  kvtest::WriteAll(Deep / "x", kvtest::ToBytes("x"));
  const TRun Long = Run("pack -o t.zlb --with-paths tree");
  EXPECT_EQ(Long.Status, 1);
  EXPECT_NE(Long.Err.find("/x: a folder path longer than 255 bytes"), std::string::npos)
      << Long.Err;

  const TRun Missing = Run("pack -o t.zlb tree/a.bin no-such-file");
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_NE(Missing.Err.find("no-such-file"), std::string::npos);

  // Without paths, two files that would extract to one name are refused.
  kvtest::WriteAll(Dir.Path() / "tree" / "sub" / "A.BIN", kvtest::ToBytes("clash"));
  EXPECT_EQ(Run("pack -o t.zlb tree").Status, 1);
  EXPECT_FALSE(fs::exists(Dir.Path() / "t.zlb"));
  EXPECT_FALSE(fs::exists(Dir.Path() / "t.zlb.partial"));
}

TEST_F(ZlbtoolTest, EveryCommandHasHelp) {
  for (const char* Command : {"pack", "list", "extract", "test", "info", "updater"}) {
    const TRun Help = Run(std::string(Command) + " --help");
    EXPECT_EQ(Help.Status, 0) << Command;
    EXPECT_EQ(Help.Out.rfind(std::string("usage: zlbtool ") + Command, 0), 0u) << Help.Out;
  }
  // Usage errors exit 2, failures 1, as the tools people know do.
  MakeTree();
  for (const char* Usage : {"list --bogus t.zlb", "bogus", "pack tree", "pack -o", "list",
                            "pack --threads=0 -o t.zlb tree", "pack --code-page=1200 -o t.zlb tree",
                            "list -q -v t.zlb", "pack --with-paths=yes -o t.zlb tree"})
    EXPECT_EQ(Run(Usage).Status, 2) << Usage;
  EXPECT_EQ(Run("").Status, 2);
  // --opt=value wherever --opt value works; -q leaves nothing but errors.
  ASSERT_EQ(Run("pack --output=t.zlb --code-page=1252 tree").Status, 0);
  ASSERT_TRUE(fs::exists(Dir.Path() / "t.zlb"));
  const TRun Quiet = Run("test -q t.zlb");
  EXPECT_EQ(Quiet.Status, 0);
  EXPECT_EQ(Quiet.Out + Quiet.Err, "");
  EXPECT_EQ(Run("test t.zlb").Out,
            "OK      a.bin\nOK      b.txt\nOK      c.dat\nOK      empty\n"
            "0 of 4 entries failed\n");
}

TEST_F(ZlbtoolTest, ExtractWithPathsReproducesTheTree) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb --with-paths tree").Status, 0);
  const TRun Extract = Run("extract -d copy --with-paths --check-crc t.zlb");
  ASSERT_EQ(Extract.Status, 0) << Extract.Err;
  EXPECT_EQ(Extract.Err, "") << "no progress output when stderr is not a terminal";
  EXPECT_EQ(kvtest::Snapshot(Dir.Path() / "copy"), kvtest::Snapshot(Dir.Path() / "tree"));

  // Without paths every entry lands directly in the directory, which is
  // made, parents included, when missing.
  ASSERT_EQ(Run("extract -d flat/deeper t.zlb").Status, 0);
  EXPECT_TRUE(fs::exists(Dir.Path() / "flat" / "deeper" / "c.dat"));
  EXPECT_FALSE(fs::exists(Dir.Path() / "flat" / "deeper" / "sub"));
}

TEST_F(ZlbtoolTest, FailureNamesTheFileWithThePlatformsSeparator) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb tree").Status, 0);
  fs::create_directories(Dir.Path() / "out" / "a.bin");
  const TRun Taken = Run("extract -d ./out t.zlb a.bin");
  EXPECT_EQ(Taken.Status, 1);
  EXPECT_EQ(Taken.Err, "zlbtool: ./out/a.bin: Is a directory\n");

  // A file in the way of the destination is no directory, as mkdir -p says.
  EXPECT_EQ(Run("extract -d t.zlb/sub t.zlb").Err, "zlbtool: t.zlb/sub: Not a directory\n");

  // A destination that cannot be made gives the reason of the creation that
  // failed (below /sys: not permitted), not that of a later look at the
  // name (no such directory).
  if (::mkdir("/sys/kvtest", 0777) != 0) {
    const std::string Reason = std::strerror(errno);
    EXPECT_EQ(Run("extract -d /sys/kvtest/out t.zlb").Err,
              "zlbtool: /sys/kvtest/out: " + Reason + "\n");
  }
}

TEST_F(ZlbtoolTest, PackGivesTheSameBytesWhateverTheListingOrderAndFileTimes) {
  const char* Names[] = {"b.txt", "A.bin", "c", "sub/z", "sub/a"};
  TBytes Packed[2];
  for (int Round = 0; Round < 2; ++Round) {
    const fs::path Tree = Dir.Path() / ("tree" + std::to_string(Round));
    fs::create_directories(Tree / "sub");
    for (size_t I = 0; I < std::size(Names); ++I) {
      const size_t N = Round == 0 ? I : std::size(Names) - 1 - I;
      kvtest::WriteAll(Tree / Names[N], kvtest::PatternBytes(1000 + N, uint32_t(N)));
      fs::last_write_time(Tree / Names[N],
                          fs::file_time_type::clock::now() - std::chrono::hours(24 * (N + Round)));
    }
    ASSERT_EQ(
        Run("pack -o t" + std::to_string(Round) + ".zlb --with-paths tree" + std::to_string(Round))
            .Status,
        0);
    Packed[Round] = kvtest::ReadAll(Dir.Path() / ("t" + std::to_string(Round) + ".zlb"));
  }
  EXPECT_EQ(Packed[0], Packed[1]);
  // In byte order of stored path and name, not in the file system's order.
  std::string Order;
  for (const std::string& Row : ObjectLines(Run("list --json t0.zlb").Out))
    Order += Field(Row, "path") + Field(Row, "name") + " ";
  EXPECT_EQ(Order, R"("""A.bin" """b.txt" """c" "sub\\""a" "sub\\""z" )");
}

TEST_F(ZlbtoolTest, ExtractPlacesEveryFormOfStoredPathBelowTheDirectory) {
  kvtest::WriteAll(Dir.Path() / "forms.zlb",
                   kvtest::BuildArchive({{"1", kvtest::ToBytes("1"), "sub\\"},
                                         {"2", kvtest::ToBytes("2"), "\\sub\\"},
                                         {"3", kvtest::ToBytes("3"), "sub"},
                                         {"4", kvtest::ToBytes("4"), "\\sub"}}));
  ASSERT_EQ(Run("extract -d out --with-paths forms.zlb").Status, 0);
  for (const char* N : {"1", "2", "3", "4"})
    EXPECT_TRUE(fs::exists(Dir.Path() / "out" / "sub" / N)) << N;
  EXPECT_EQ(kvtest::Snapshot(Dir.Path() / "out").size(), 5u);
}

TEST_F(ZlbtoolTest, ExtractSelectedEntriesAndSkipExisting) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb --with-paths tree").Status, 0);
  fs::create_directories(Dir.Path() / "sel");
  kvtest::WriteAll(Dir.Path() / "sel" / "a.bin", kvtest::ToBytes("mine"));
  ASSERT_EQ(Run("extract -d sel --skip-existing t.zlb A.BIN sub\\\\b.txt").Status, 0);
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "sel" / "a.bin"), kvtest::ToBytes("mine"));
  EXPECT_EQ(kvtest::Snapshot(Dir.Path() / "sel").size(), 2u);
  const TRun Missing = Run("extract -d sel t.zlb nothing.txt");
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_EQ(Missing.Err, "zlbtool: t.zlb: no entry named 'nothing.txt'\n");
}

// A name or stored path that extraction refuses before it writes anything
// (one that would leave the destination, or reach a device or a stream)
// fails test too: the build's check must not pass a release that the
// updater refuses on every machine.
TEST_F(ZlbtoolTest, TestAndExtractRefuseNamesThatLeaveTheDirectory) {
  const std::string Forbidden =
      "a character Windows does not allow in a file name (\\ / : * ? \" < > | or a control "
      "character)";
  const struct {
    const char* Name;
    const char* Path;
    const char* Extract;  // extract's options
    std::string Failure;  // test's, after the name
    std::string Refusal;  // extract's
  } Rows[] = {
      {.Name = "..\\evil.txt",
       .Path = "",
       .Extract = "",
       .Failure = Forbidden,
       .Refusal = "File (0) has an invalid name"},
      {.Name = "C:evil.txt",
       .Path = "",
       .Extract = "",
       .Failure = Forbidden,
       .Refusal = "File (0) has an invalid name"},
      {.Name = "COM1.txt",
       .Path = "",
       .Extract = "",
       .Failure = "a reserved device name (CON, PRN, AUX, NUL, COM1, LPT1, ...)",
       .Refusal = "File (0) has an invalid name"},
      {.Name = "a:b.txt",
       .Path = "",
       .Extract = "",
       .Failure = Forbidden,
       .Refusal = "File (0) has an invalid name"},
      {.Name = "evil.txt",
       .Path = "sub\\..\\..\\",
       .Extract = "--with-paths",
       .Failure = "its stored folder does not stay below the destination",
       .Refusal = "Unable to create destination path: its stored folder does not stay below the "
                  "destination"},
  };
  for (const auto& Row : Rows) {
    const std::string Shown = std::string(Row.Path) + Row.Name;
    kvtest::WriteAll(Dir.Path() / "evil.zlb",
                     kvtest::BuildArchive({{Row.Name, kvtest::ToBytes("x"), Row.Path}}));
    const TRun Tested = Run("test evil.zlb");
    EXPECT_EQ(Tested.Status, 1) << Shown;
    EXPECT_EQ(Tested.Out, "FAILED  " + Shown + ": " + Row.Failure + "\n1 of 1 entries failed\n");
    fs::create_directories(Dir.Path() / "box" / "in");
    const auto Before = kvtest::Snapshot(Dir.Path());
    const TRun R = Run("extract -d box/in " + std::string(Row.Extract) + " evil.zlb");
    EXPECT_EQ(R.Status, 1) << Shown;
    EXPECT_EQ(R.Err, "zlbtool: " + Shown + ": " + Row.Refusal + "\n") << Shown;
    EXPECT_EQ(kvtest::Snapshot(Dir.Path()), Before) << Shown;
  }
}

namespace {

// An archive of Entries whose raw directory Change alters (given the
// archive's bytes), with its CRC made right again.
TBytes WithRecords(
    const std::vector<kvtest::TTestEntry>& Entries,
    const std::function<void(std::vector<kv::TZLBFileEntry>&, const TBytes&)>& Change) {
  TBytes Archive = kvtest::BuildArchive(Entries, {.RawDirectory = true});
  const size_t At = size_t(kvtest::TrailerOf(Archive).DirectoryOffset);
  std::vector<kv::TZLBFileEntry> Records;
  for (size_t I = 0; I < Entries.size(); ++I)
    Records.push_back(kv::TZLBFileEntry::Decode(std::span<const uint8_t, kv::TZLBFileEntry::Size>(
        Archive.data() + At + I * kv::TZLBFileEntry::Size, kv::TZLBFileEntry::Size)));
  Change(Records, Archive);
  for (size_t I = 0; I < Records.size(); ++I)
    Records[I].Encode(std::span<uint8_t, kv::TZLBFileEntry::Size>(
        Archive.data() + At + I * kv::TZLBFileEntry::Size, kv::TZLBFileEntry::Size));
  kvtest::RecomputeArchiveCRC(Archive);
  return Archive;
}

}  // namespace

// Records that share their data make an archive cost far more than its size
// to test or extract: a bomb whose records all point at one large stream
// inflates it once per record. test and extract refuse such an archive
// before they read any entry. A compressed entry's data may run up to where
// the next entry's starts, and is read no further: a stream that runs on
// into the next entry's data fails its entry.
TEST_F(ZlbtoolTest, EntriesThatShareTheirDataAreRefused) {
  const TBytes Data = kvtest::PatternBytes(200000, 3);
  const std::string Shared =
      " share their data: each entry's data must lie apart from every "
      "other's\n";
  const struct {
    const char* What;
    TBytes Archive;
    int Status;
    std::string TestErr = {};
    std::vector<std::string> TestLines = {};  // in test's report
    std::string ExtractErr = {};
  } Rows[] = {
      {.What = "three records of one stream",
       .Archive = WithRecords({{"a", Data}, {"b", Data}, {"c", Data}},
                              [](std::vector<kv::TZLBFileEntry>& R, const TBytes&) {
                                R[2].DataOffset = R[1].DataOffset = R[0].DataOffset;
                              }),
       .Status = 1,
       .TestErr = "zlbtool: shared.zlb: entries 0 (a) and 1 (b)" + Shared,
       .ExtractErr = "zlbtool: shared.zlb: entries 0 (a) and 1 (b)" + Shared},
      {.What = "a stored entry that runs into the next one's data",
       .Archive = WithRecords(
           {{"a", TBytes(Data.begin(), Data.begin() + 1000), "", true},
            {"b", TBytes(Data.begin(), Data.begin() + 1000), "", true}},
           [](std::vector<kv::TZLBFileEntry>& R, const TBytes&) { R[0].OriginalSize = 1001; }),
       .Status = 1,
       .TestErr = "zlbtool: shared.zlb: entries 0 (a) and 1 (b)" + Shared,
       .ExtractErr = "zlbtool: shared.zlb: entries 0 (a) and 1 (b)" + Shared},
      {.What = "a stored entry inside the stream of the one before it",
       .Archive = WithRecords({{"a", Data}, {"b", kvtest::ToBytes("xxxx"), "", true}},
                              [](std::vector<kv::TZLBFileEntry>& R, const TBytes& A) {
                                R[1].DataOffset = R[0].DataOffset + 100;
                                R[1].FileCRC = Crc(TBytes(A.begin() + R[1].DataOffset,
                                                          A.begin() + R[1].DataOffset + 4));
                              }),
       .Status = 1,
       .TestLines = {"FAILED  a: File (0) is corrupt: ", "OK      b\n"},
       .ExtractErr = "zlbtool: shared.zlb: File (0) is corrupt\n"},
      {.What = "an empty stored entry where the next one starts",
       .Archive = kvtest::BuildArchive({{"empty", {}, "", true}, {"b", Data, "", true}}),
       .Status = 0,
       .TestLines = {"OK      empty\n", "OK      b\n"}},
  };
  for (const auto& Row : Rows) {
    kvtest::WriteAll(Dir.Path() / "shared.zlb", Row.Archive);
    const TRun Tested = Run("test shared.zlb");
    EXPECT_EQ(Tested.Status, Row.Status) << Row.What;
    EXPECT_EQ(Tested.Err, Row.TestErr) << Row.What;
    for (const std::string& Line : Row.TestLines)
      EXPECT_NE(Tested.Out.find(Line), std::string::npos) << Row.What << ": " << Tested.Out;
    if (Row.TestLines.empty()) {
      EXPECT_EQ(Tested.Out, "") << Row.What << ": nothing read";
    }
    // info gives test's verdict, and exits as test does.
    EXPECT_EQ(Run("info shared.zlb").Status, Row.Status) << Row.What;
    const TRun Extract = Run("extract -d out shared.zlb");
    EXPECT_EQ(Extract.Status, Row.Status) << Row.What;
    EXPECT_EQ(Extract.Err, Row.ExtractErr) << Row.What;
    if (!Row.TestErr.empty()) {
      EXPECT_FALSE(fs::exists(Dir.Path() / "out")) << Row.What << ": nothing written";
    }
    fs::remove_all(Dir.Path() / "out");
  }
}

TEST_F(ZlbtoolTest, TestChecksEveryEntryAndNamesTheBadOne) {
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb --with-paths tree").Status, 0);
  const TRun Good = Run("test t.zlb");
  EXPECT_EQ(Good.Status, 0) << Good.Out;
  EXPECT_NE(Good.Out.find("OK      sub\\deeper\\c.dat\n"), std::string::npos) << Good.Out;
  EXPECT_FALSE(fs::exists(Dir.Path() / "a.bin")) << "nothing is written";

  // One byte of the last entry's data changed, the archive CRC made right.
  const TRun Json = Run("list --json t.zlb");
  const std::string Last = ObjectLines(Json.Out).back();
  const size_t Offset = size_t(std::stoll(Field(Last, "offset")));
  TBytes Archive = kvtest::ReadAll(Dir.Path() / "t.zlb");
  Archive[Offset + size_t(std::stoll(Field(Last, "packed"))) / 2] ^= 0x10;
  kvtest::RecomputeArchiveCRC(Archive);
  kvtest::WriteAll(Dir.Path() / "t.zlb", Archive);
  const TRun Bad = Run("test t.zlb");
  EXPECT_EQ(Bad.Status, 1);
  const std::string Failed = "FAILED  sub\\deeper\\c.dat: File (3) is corrupt: ";
  ASSERT_NE(Bad.Out.find(Failed), std::string::npos) << Bad.Out;
  const std::string Cause = Bad.Out.substr(Bad.Out.find(Failed) + Failed.size());
  bool Named = false;
  for (const auto C : {kv::TCorruptCause::ChunkFailed, kv::TCorruptCause::DataShort,
                       kv::TCorruptCause::StreamNotEnded})
    Named = Named || Cause.rfind(kv::CorruptCauseText(C), 0) == 0;
  EXPECT_TRUE(Named) << "which check found it: " << Bad.Out;
  // zlib's own words say what was wrong with the data.
  if (Cause.rfind(kv::CorruptCauseText(kv::TCorruptCause::ChunkFailed), 0) == 0) {
    EXPECT_NE(Cause.find(" (error: incorrect data check)\n"), std::string::npos) << Bad.Out;
  }
  EXPECT_NE(Bad.Out.find("OK      a.bin\n"), std::string::npos);
}

// --- updaters: the archive in a PE image's RCDATA resource ZLBDATA --------

namespace {

TBytes PayloadArchive() {
  return kvtest::BuildArchive({{"konvoro.exe", kvtest::PatternBytes(90000, 7)},
                               {"WAIT.EXE", kvtest::PatternBytes(3000, 8)},
                               {"notes.txt", kvtest::ToBytes("notes\r\n"), "docs\\"}});
}

}  // namespace

TEST_F(ZlbtoolTest, UpdaterIsListedTestedAndExtractedAsTheArchiveItCarries) {
  const TBytes Archive = PayloadArchive();
  kvtest::WriteAll(Dir.Path() / "payload.zlb", Archive);
  kvtest::WriteAll(Dir.Path() / "KVUpdater.exe",
                   kvtest::BuildImage(kvtest::UpdaterRecipe(Archive)).Bytes);
  for (const char* Command : {"list", "list --json", "test", "extract -d out --with-paths"}) {
    const TRun Plain = Run(std::string(Command) + " payload.zlb");
    const std::vector<std::pair<std::string, TBytes>> PlainFiles = kvtest::Snapshot(Dir.Path());
    fs::remove_all(Dir.Path() / "out");
    const TRun Embedded = Run(std::string(Command) + " KVUpdater.exe");
    EXPECT_EQ(Embedded.Status, 0) << Command << ": " << Embedded.Err;
    EXPECT_EQ(Embedded.Out, Plain.Out) << Command;
    EXPECT_EQ(Embedded.Err, Plain.Err) << Command;
    EXPECT_EQ(kvtest::Snapshot(Dir.Path()), PlainFiles) << Command;
    fs::remove_all(Dir.Path() / "out");
  }

  // A damaged payload fails as the same damaged archive does.
  TBytes Damaged = Archive;
  Damaged[Damaged.size() / 2] ^= 0x01;
  kvtest::WriteAll(Dir.Path() / "damaged.exe",
                   kvtest::BuildImage(kvtest::UpdaterRecipe(Damaged)).Bytes);
  const TRun Bad = Run("test damaged.exe");
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_EQ(Bad.Err.rfind("zlbtool: damaged.exe: The archive file appears to be corrupted: the "
                          "CRC-32 of its bytes is ",
                          0),
            0u)
      << Bad.Err;
}

TEST_F(ZlbtoolTest, InfoReportsTheImageAndItsPayload) {
  const TBytes Archive = PayloadArchive();
  kvtest::TImageRecipe Signed = kvtest::UpdaterRecipe(Archive);
  Signed.Certificate = kvtest::PatternBytes(1000, 9);
  kvtest::TImageRecipe Plus;
  Plus.PE32Plus = true;
  Plus.Machine = 0x8664;
  Plus.Subsystem = 3;
  Plus.Resources = {{10, "ZLBDATA", 1, kvtest::BuildArchive({{"a", kvtest::ToBytes("a")}})}};
  kvtest::WriteAll(Dir.Path() / "signed.exe", kvtest::BuildImage(Signed).Bytes);
  kvtest::WriteAll(Dir.Path() / "plus.exe", kvtest::BuildImage(Plus).Bytes);
  kvtest::WriteAll(Dir.Path() / "payload.zlb", Archive);
  int64_t Packed = 0;
  for (const std::string& Row : ObjectLines(Run("list --json payload.zlb").Out))
    Packed += std::stoll(Field(Row, "packed"));
  const std::string PayloadJson =
      "  \"payload\": {\"entries\": 3, \"packed\": " + std::to_string(Packed) +
      ", \"unpacked\": 93007, \"code_page\": null, \"crc_ok\": true, \"wait_exe\": true, "
      "\"check_ok\": true, \"problems\": []}\n}\n";

  const TRun Json = Run("info --json signed.exe");
  EXPECT_EQ(Json.Status, 0) << Json.Err;
  EXPECT_EQ(Json.Out,
            "{\n  \"file\": \"signed.exe\",\n  \"stub\": null,\n"
            "  \"image\": {\"format\": \"PE32\", \"machine\": \"i386\", \"subsystem\": \"gui\",\n"
            "            \"file_version\": \"2.0.0.0\", \"product_version\": \"2.0.0.0\",\n"
            "            \"fixed_file_version\": \"2.0.0.0\", \"fixed_product_version\": "
            "\"2.0.0.0\",\n"
            "            \"execution_level\": \"requireAdministrator\", \"made_from_stub\": null,\n"
            "            \"signature\": {\"present\": true, \"size\": 1008, \"signer\": null}},\n" +
                PayloadJson);
  const TRun Text = Run("info signed.exe");
  EXPECT_EQ(Text.Out.substr(0, Text.Out.find("Payload:")),
            "Image:            PE32, i386, Windows GUI\n"
            "FileVersion:      2.0.0.0\n"
            "ProductVersion:   2.0.0.0\n"
            "Fixed versions:   file 2.0.0.0, product 2.0.0.0\n"
            "Execution level:  requireAdministrator\n"
            "Made from stub:   (none)\n"
            "Signature:        present, 1008 bytes (not verified here: osslsigncode verify "
            "checks it)\n"
            "Signer:           unreadable: the signature is malformed: the content info has tag "
            "0x51, not 0x30\n");
  EXPECT_NE(Text.Out.find("wait.exe:         present\n"), std::string::npos) << Text.Out;

  const TRun PlusJson = Run("info --json plus.exe");
  EXPECT_EQ(PlusJson.Status, 0) << PlusJson.Err;
  EXPECT_NE(PlusJson.Out.find("{\"format\": \"PE32+\", \"machine\": \"x86-64\", \"subsystem\": "
                              "\"console\",\n            \"file_version\": null"),
            std::string::npos)
      << PlusJson.Out;
  EXPECT_NE(PlusJson.Out.find("\"execution_level\": null, \"made_from_stub\": null,\n"
                              "            \"signature\": {\"present\": false, \"size\": 0, "
                              "\"signer\": null}},\n  \"payload\": "
                              "{\"entries\": 1, "),
            std::string::npos)
      << PlusJson.Out;

  // An archive: the payload part alone.
  EXPECT_EQ(
      Run("info --json payload.zlb").Out,
      "{\n  \"file\": \"payload.zlb\",\n  \"stub\": null,\n  \"image\": null,\n" + PayloadJson);
  // A payload whose CRC fails is reported, and the run fails.
  TBytes Damaged = Archive;
  Damaged[10] ^= 0x01;
  kvtest::WriteAll(Dir.Path() / "damaged.zlb", Damaged);
  const TRun Bad = Run("info damaged.zlb");
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_NE(Bad.Out.find("Archive CRC:      FAILED\n"), std::string::npos) << Bad.Out;
  EXPECT_EQ(Bad.Err, "zlbtool: damaged.zlb: the payload is damaged\n");

  // An empty or very short file is an archive without entries to every
  // command, as to the component.
  kvtest::WriteAll(Dir.Path() / "empty.zlb", {});
  kvtest::WriteAll(Dir.Path() / "short.zlb", TBytes(10, 0));
  for (const char* Name : {"empty.zlb", "short.zlb"})
    for (const char* Command : {"list ", "test ", "info "}) {
      const TRun R = Run(Command + std::string(Name));
      EXPECT_EQ(R.Status, 0) << Command << Name << ": " << R.Err;
      if (std::string(Command) == "info ") {
        EXPECT_NE(R.Out.find("Archive CRC:      OK\n"), std::string::npos) << R.Out;
      }
    }
}

// One answer for each file: one that begins as a Windows image is read as
// one, whatever archive its bytes may also make up; one that only starts
// with "MZ" is an archive when its trailer holds.
TEST_F(ZlbtoolTest, AFileThatBeginsAsAnImageIsReadAsOneAndAnArchiveStartingWithMZAsAnArchive) {
  // The first entry, stored, is an MS-DOS program: "MZ", no PE signature.
  TBytes Dos = kvtest::BuildImage({}).Bytes;
  Dos[0x40] = 'N';
  fs::create_directories(Dir.Path() / "dos");
  kvtest::WriteAll(Dir.Path() / "dos" / "a.exe", Dos);
  kvtest::WriteAll(Dir.Path() / "dos" / "b.txt", kvtest::ToBytes("b"));
  ASSERT_EQ(Run("pack --stored -o dos.zlb dos").Status, 0);
  const TRun List = Run("list dos.zlb");
  EXPECT_EQ(List.Status, 0) << List.Err;
  EXPECT_EQ(ObjectLines(Run("list --json dos.zlb").Out).size(), 2u);

  // The first entry, stored, is a Windows image without a payload: the file
  // is that image, whose trailer's CRC holds all the same.
  fs::create_directories(Dir.Path() / "win");
  kvtest::WriteAll(Dir.Path() / "win" / "a.exe", kvtest::BuildImage({}).Bytes);
  kvtest::WriteAll(Dir.Path() / "win" / "b.txt", kvtest::ToBytes("b"));
  ASSERT_EQ(Run("pack --stored -o win.zlb win").Status, 0);
  for (const char* Command : {"list", "test", "info"}) {
    const TRun R = Run(std::string(Command) + " win.zlb");
    EXPECT_EQ(R.Status, 1) << Command;
    EXPECT_EQ(R.Err, "zlbtool: win.zlb: no ZLBDATA resource\n") << Command;
  }
}

// The PE reader's faults are tested with it (tests/pe); here, that zlbtool
// names the file and the fault, refuses an image that carries two payloads,
// and writes nothing, for every command that reads an updater.
TEST_F(ZlbtoolTest, HostileImagesFailWithWhatIsWrong) {
  const TBytes Payload = kvtest::BuildArchive({{"a", kvtest::ToBytes("a")}});
  const kvtest::TBuiltImage Good = kvtest::BuildImage(kvtest::UpdaterRecipe(Payload));
  TBytes LfanewPastEnd = Good.Bytes;
  kvtest::PutU32(LfanewPastEnd, 60, 0x7FFFFFF0);
  kvtest::TImageRecipe TwoPayloads = kvtest::UpdaterRecipe(Payload);
  TwoPayloads.Resources.back().Language = 0x407;
  TwoPayloads.Resources.push_back(
      {.Type = 10, .Name = "ZlbData", .Data = kvtest::BuildArchive({{"b", kvtest::ToBytes("b")}})});
  // The same image followed by an archive of its own, laid out so that the
  // whole file passes the trailer's CRC.
  kv::TMemoryStream Appended;
  {
    kvtest::TGapWriter Writer(Appended);
    Writer.AddGap(kvtest::BuildImage(TwoPayloads).Bytes);
    Writer.AddEntry("evil.exe", "", kvtest::ToBytes("not the release"));
    (void)Writer.Finish();
  }
  const struct {
    const char* Name;
    TBytes Bytes;
    std::string Message;
  } Cases[] = {
      {.Name = "e_lfanew past the end",
       .Bytes = LfanewPastEnd,
       .Message = "e_lfanew (0x7FFFFFF0) points past the end of the file (" +
                  std::to_string(Good.Bytes.size()) + " bytes)"},
      {.Name = "payloads in German and in English",
       .Bytes = kvtest::BuildImage(TwoPayloads).Bytes,
       .Message = "more than one ZLBDATA resource (languages 0x0407, 0x0409): which one runs "
                  "depends on the user's language"},
      {.Name = "payloads in two languages, and an archive appended whose CRC holds",
       .Bytes = Appended.TakeBytes(),
       .Message = "more than one ZLBDATA resource (languages 0x0407, 0x0409): which one runs "
                  "depends on the user's language"},
  };
  kvtest::WriteAll(Dir.Path() / "bad.exe", Good.Bytes);
  ASSERT_EQ(Run("info bad.exe").Status, 0) << "the undamaged image passes";
  for (const auto& Case : Cases) {
    kvtest::WriteAll(Dir.Path() / "bad.exe", Case.Bytes);
    for (const char* Command : {"list", "test", "extract -d out", "info --json"}) {
      const TRun R = Run(std::string(Command) + " bad.exe");
      EXPECT_EQ(R.Status, 1) << Case.Name << ", " << Command;
      EXPECT_EQ(R.Err, "zlbtool: bad.exe: " + Case.Message + "\n") << Case.Name << ", " << Command;
    }
    EXPECT_FALSE(fs::exists(Dir.Path() / "out")) << Case.Name;
  }
}

// --- updater: an updater made of the stub and a release -------------------

namespace {

// A stub as the build links one: version (with the stub's mark), manifest
// and form, the base relocations after the resources, and here also a
// signature, which a made updater must not keep.
kvtest::TImageRecipe StubRecipe() {
  kvtest::TImageRecipe Recipe;
  Recipe.Resources = {{16, "", 1,
                       kvtest::VersionResource("2.0.0.0", {{"FileVersion", "2.0.0.0"},
                                                           {"ProductVersion", "2.0.0.0"},
                                                           {"KVUpdaterStub", "1"}})},
                      {24, "", 1, kvtest::ToBytes(kvtest::UpdaterManifest)},
                      {10, "TFORM1", 1, kvtest::ToBytes("form")}};
  Recipe.Relocations = kvtest::PatternBytes(0x30C, 5);
  Recipe.Certificate = kvtest::PatternBytes(500, 6);
  return Recipe;
}

// The data of the resource Type/Name in the image File; empty when none.
TBytes ResourceOf(const fs::path& File, uint16_t Type, const std::string& Name) {
  const TBytes Bytes = kvtest::ReadAll(File);
  kv::TReadOnlyMemoryStream Stream(Bytes.data(), int64_t(Bytes.size()));
  const kv::pe::TPEImage Image(Stream);
  const auto Key =
      Name.empty() ? kv::pe::TResourceKey::AnyFirst() : kv::pe::TResourceKey::ByName(Name);
  const auto Range = Image.FindResource(kv::pe::TResourceKey::ById(Type), Key);
  return Range ? Image.ReadRange(*Range, Bytes.size(), "resource") : TBytes();
}

class ZlbtoolUpdaterTest : public ZlbtoolTest {
 protected:
  void MakeRelease() {
    fs::create_directories(Dir.Path() / "release" / "sub");
    kvtest::WriteAll(Dir.Path() / "release" / "konvoro.exe", kvtest::PatternBytes(90000, 7));
    kvtest::WriteAll(Dir.Path() / "release" / "WAIT.EXE", kvtest::PatternBytes(3000, 8));
    kvtest::WriteAll(Dir.Path() / "release" / "sub" / "notes.txt", kvtest::ToBytes("notes\r\n"));
    kvtest::WriteAll(Dir.Path() / "stub.exe", kvtest::BuildImage(StubRecipe()).Bytes);
  }

  // Nothing that updater writes is left in the directory but Kept.
  void ExpectOnlyLeft(const std::vector<std::string>& Kept, const std::string& Case) {
    for (const auto& Entry : fs::directory_iterator(Dir.Path())) {
      const std::string Name = Entry.path().filename().string();
      if (Name.ends_with(".exe") || Name.ends_with(".partial")) {
        EXPECT_TRUE(std::find(Kept.begin(), Kept.end(), Name) != Kept.end())
            << Case << ": " << Name << " left behind";
      }
    }
  }
};

}  // namespace

TEST_F(ZlbtoolUpdaterTest, CarriesWhatPackMakesInACopyOfTheStubWithTheVersionSet) {
  MakeRelease();
  ASSERT_EQ(Run("pack -o release.zlb release").Status, 0);
  const TRun Made =
      Run("updater --stub stub.exe --version 3.1.4.1 --flatten -o KVUpdater.exe release");
  ASSERT_EQ(Made.Status, 0) << Made.Err;
  // One line sums it up, and the files the script's delete lines leave in
  // update\ are named.
  const int64_t Packed = int64_t(fs::file_size(Dir.Path() / "release.zlb"));
  char Summary[160];
  std::snprintf(Summary, sizeof Summary,
                "KVUpdater.exe: 3 entries, 93007 bytes in %lld packed (%.1f%%)\n",
                static_cast<long long>(Packed), 100.0 * double(Packed) / 93007.0);
  EXPECT_EQ(Made.Out, std::string(Summary) +
                          "Left in update\\ after the update (the script deletes only *.exe, "
                          "*.dll, *.bin and KonvoroServers.txt): notes.txt\n");
  EXPECT_EQ(Made.Err, "");
  const TRun Quiet =
      Run("updater -q --stub stub.exe --version 3.1.4.1 --flatten -o quiet.exe release");
  EXPECT_EQ(Quiet.Status, 0);
  EXPECT_EQ(Quiet.Out + Quiet.Err, "");
  EXPECT_EQ(ResourceOf(Dir.Path() / "KVUpdater.exe", 10, "ZLBDATA"),
            kvtest::ReadAll(Dir.Path() / "release.zlb"))
      << "the payload is the archive pack makes";
  for (const auto& [Type, Name] : {std::pair<uint16_t, const char*>{10, "TFORM1"}, {24, ""}})
    EXPECT_EQ(ResourceOf(Dir.Path() / "KVUpdater.exe", Type, Name),
              ResourceOf(Dir.Path() / "stub.exe", Type, Name))
        << "kept: " << Type << " " << Name;
  const TRun Info = Run("info KVUpdater.exe");
  EXPECT_EQ(Info.Status, 0) << Info.Err;
  EXPECT_EQ(Info.Out.substr(0, Info.Out.find("Payload:")),
            "Image:            PE32, i386, Windows GUI\n"
            "FileVersion:      3.1.4.1\n"
            "ProductVersion:   3.1.4.1\n"
            "Fixed versions:   file 3.1.4.1, product 3.1.4.1\n"
            "Execution level:  requireAdministrator\n"
            "Made from stub:   1\n"
            "Signature:        none\n");
  ExpectOnlyLeft({"stub.exe", "KVUpdater.exe", "quiet.exe"}, "success");

  // The same arguments, the same bytes; without --version the stub's stays.
  ASSERT_EQ(Run("updater --stub stub.exe --version 3.1.4.1 --flatten -o again.exe release").Status,
            0);
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "again.exe"),
            kvtest::ReadAll(Dir.Path() / "KVUpdater.exe"));
  ASSERT_EQ(Run("updater --stub stub.exe -o stubs.exe --payload release.zlb").Status, 0);
  EXPECT_NE(Run("info stubs.exe").Out.find("FileVersion:      2.0.0.0\n"), std::string::npos);
  EXPECT_EQ(ResourceOf(Dir.Path() / "stubs.exe", 10, "ZLBDATA"),
            kvtest::ReadAll(Dir.Path() / "release.zlb"));

  // The bare stub says what it is, and its version.
  const TRun Stub = Run("info stub.exe");
  EXPECT_EQ(Stub.Status, 0) << Stub.Err;
  EXPECT_EQ(
      Stub.Out.rfind("Updater stub:     version 1 (makes updaters: zlbtool updater --stub)\n", 0),
      0u)
      << Stub.Out;
  // --version names zlbtool's version, and the stub and wait.exe it takes.
  const TRun Version = Run("--version");
  EXPECT_EQ(Version.Status, 0);
  EXPECT_EQ(Version.Out.rfind("zlbtool 2.0.0\nDefault stub:     ", 0), 0u) << Version.Out;
  EXPECT_NE(Version.Out.find("\nDefault wait.exe: "), std::string::npos) << Version.Out;
}

TEST_F(ZlbtoolUpdaterTest, RefusalsSayWhyAndLeaveNothingBehind) {
  MakeRelease();
  kvtest::WriteAll(Dir.Path() / "notes.txt", kvtest::ToBytes("not a program"));
  kvtest::TImageRecipe NotAStub = StubRecipe();
  NotAStub.Resources[0].Data = kvtest::VersionResource("2.0.0.0", {{"FileVersion", "2.0.0.0"}});
  kvtest::WriteAll(Dir.Path() / "other.exe", kvtest::BuildImage(NotAStub).Bytes);
  ASSERT_EQ(Run("updater --stub stub.exe --flatten -o made.exe release").Status, 0);
  kvtest::TImageRecipe Unsigned = StubRecipe();
  Unsigned.Certificate.clear();
  TBytes Trailing = kvtest::BuildImage(Unsigned).Bytes;
  Trailing.resize(Trailing.size() + 16, 0);
  kvtest::WriteAll(Dir.Path() / "trailing.exe", Trailing);
  kvtest::WriteAll(Dir.Path() / "nowait.zlb",
                   kvtest::BuildArchive({{"konvoro.exe", kvtest::ToBytes("k")}}));
  TBytes Damaged = kvtest::BuildArchive({{"wait.exe", kvtest::PatternBytes(5000, 9)}});
  Damaged[20] ^= 0x10;
  kvtest::RecomputeArchiveCRC(Damaged);
  kvtest::WriteAll(Dir.Path() / "damaged.zlb", Damaged);
  const std::string NoWait =
      "the release has no wait.exe: the update script's \"@wait\" runs it from the update "
      "folder, and without one the elevated command interpreter would run whatever \"wait\" the "
      "PATH offers";
  const std::string InstalledStub =
      (fs::path(ZLBTOOL_PATH).parent_path().parent_path() / "share/zlbtool/KVUpdater-stub.exe")
          .string();

  struct TCase {
    const char* Name;
    std::function<void()> Setup = nullptr;
    std::string Args;
    std::string Err;  // every line of it in what zlbtool says
    int Status = 1;
  };
  const TCase Cases[] = {
      {.Name = "a release without wait.exe",
       .Setup = [&] { fs::remove(Dir.Path() / "release" / "WAIT.EXE"); },
       .Args = "--stub stub.exe --flatten release",
       .Err = NoWait},
      {.Name = "a release with sub-folders, not flattened",
       .Args = "--stub stub.exe release",
       .Err = "out.exe: not written, for 1 reason:\n  release/sub/notes.txt: in a sub-folder, but "
              "the updater installs every file into the installation folder itself (give "
              "--flatten if that is what is meant)"},
      {.Name = "every file the updater would not extract, each with its reason",
       .Setup =
           [&] {
             kvtest::WriteAll(Dir.Path() / "release" / "sub" / "Nul.txt", {});
             kvtest::WriteAll(Dir.Path() / "release" / "a<b.txt", {});
             kvtest::WriteAll(Dir.Path() / "release" / "KONVOR~1.TXT", {});
           },
       .Args = "--stub stub.exe --flatten release",
       .Err =
           "out.exe: not written, for 3 reasons:\n"
           "  release/KONVOR~1.TXT: the form of a short (8.3) name, which on Windows may name "
           "another file\n"
           "  release/a<b.txt: a character Windows does not allow in a file name\n"
           "  release/sub/Nul.txt: a reserved device name (CON, PRN, AUX, NUL, COM1, LPT1, ...)"},
      {.Name = "two files that land on one name",
       .Setup = [&] { kvtest::WriteAll(Dir.Path() / "release" / "sub" / "wait.exe", {}); },
       .Args = "--stub stub.exe --flatten release",
       .Err = "release/sub/wait.exe: one file on Windows with release/WAIT.EXE (every file lands "
              "in one folder)"},
      {.Name = "a malformed version",
       .Args = "--stub stub.exe --version 3.1.04.1 release",
       .Err = "malformed version '3.1.04.1': four numbers from 0 to 65535 without leading "
              "zeros, as 3.1.4.1\nRun 'zlbtool updater --help' for usage.",
       .Status = 2},
      {.Name = "a stub that is no program",
       .Args = "--stub notes.txt release",
       .Err = "notes.txt: not an executable image: it does not start with \"MZ\""},
      {.Name = "a program that is not the stub",
       .Args = "--stub other.exe release",
       .Err = "other.exe: not a Konvoro updater stub: its version resource has no KVUpdaterStub "
              "string"},
      {.Name = "an updater for the stub",
       .Args = "--stub made.exe release",
       .Err = "made.exe: already carries a payload (RCDATA ZLBDATA): give the stub, not an "
              "updater"},
      {.Name = "a stub the writer cannot rewrite",
       .Args = "--stub trailing.exe release",
       .Err = "trailing.exe: 16 bytes follow the last section's data, and they are not a "
              "certificate table"},
      {.Name = "no stub given, none installed",
       .Args = "release",
       .Err = "no stub given, and none installed with zlbtool at '" + InstalledStub +
              "' (give one with --stub FILE)"},
      {.Name = "an archive without wait.exe",
       .Args = "--stub stub.exe --payload nowait.zlb",
       .Err = "out.exe: " + NoWait},
      {.Name = "an archive whose entries land on one file",
       .Setup =
           [&] {
             kvtest::WriteAll(Dir.Path() / "release" / "sub" / "wait.exe", {});
             ASSERT_EQ(Run("pack -o paths.zlb --with-paths release").Status, 0);
           },
       .Args = "--stub stub.exe --payload paths.zlb",
       .Err = "out.exe: the payload does not test clean:\n  sub\\wait.exe: one file on Windows "
              "with WAIT.EXE (every file lands in one folder)"},
      {.Name = "an archive that does not test clean",
       .Args = "--stub stub.exe --payload damaged.zlb",
       .Err = "out.exe: the payload does not test clean:\n  wait.exe: File (0) is corrupt: "},
  };
  for (const TCase& Case : Cases) {
    if (Case.Setup) Case.Setup();
    const TRun R = Run("updater -o out.exe " + Case.Args);
    EXPECT_EQ(R.Status, Case.Status) << Case.Name;
    std::istringstream Lines(Case.Err);
    std::string Line;
    while (std::getline(Lines, Line))
      EXPECT_NE(R.Err.find(Line), std::string::npos) << Case.Name << "\n" << R.Err;
    EXPECT_EQ(R.Err.rfind("zlbtool: ", 0), 0u) << Case.Name << "\n" << R.Err;
    ExpectOnlyLeft({"stub.exe", "other.exe", "made.exe", "trailing.exe"}, Case.Name);
    fs::remove_all(Dir.Path() / "release");
    MakeRelease();
  }

  // A release without wait.exe gets the one beside the stub, and is told so;
  // its own wins.
  fs::remove(Dir.Path() / "release" / "WAIT.EXE");
  fs::create_directories(Dir.Path() / "kit");
  fs::copy_file(Dir.Path() / "stub.exe", Dir.Path() / "kit" / "KVUpdater-stub.exe");
  kvtest::WriteAll(Dir.Path() / "kit" / "wait.exe", kvtest::PatternBytes(2000, 4));
  const TRun Added = Run("updater --stub kit/KVUpdater-stub.exe --flatten -o added.exe release");
  EXPECT_EQ(Added.Status, 0) << Added.Err;
  EXPECT_EQ(Added.Out.rfind("The release has no wait.exe: adding kit/wait.exe\n", 0), 0u)
      << Added.Out;
  ASSERT_EQ(Run("extract -d added added.exe wait.exe").Status, 0);
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "added" / "wait.exe"), kvtest::PatternBytes(2000, 4));
  MakeRelease();
  const TRun Own = Run("updater --stub kit/KVUpdater-stub.exe --flatten -o own.exe release");
  EXPECT_EQ(Own.Out.find("adding"), std::string::npos) << Own.Out;
  ASSERT_EQ(Run("extract -d own own.exe wait.exe").Status, 0);
  EXPECT_EQ(Own.Status, 0) << Own.Err;
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "own" / "WAIT.EXE"), kvtest::PatternBytes(3000, 8));

  // The build's test variants carry such payloads, saying so.
  ASSERT_EQ(
      Run("updater --stub stub.exe --allow-no-wait -o nowait.exe --payload nowait.zlb").Status, 0);
  ASSERT_EQ(Run("updater --stub stub.exe --allow-damaged-payload -o damaged.exe --payload "
                "damaged.zlb")
                .Status,
            0);
  EXPECT_EQ(ResourceOf(Dir.Path() / "damaged.exe", 10, "ZLBDATA"), Damaged);
}

// Names are stored in the target system's ANSI code page, converted exactly
// from UTF-8, checked by character in that code page, recorded in the
// trailer, and shown and extracted here as UTF-8 again.
TEST_F(ZlbtoolTest, NamesAreStoredInTheTargetsCodePageAndReadBackExactly) {
  const struct {
    uint32_t CodePage;
    std::vector<std::string> Names;
    TBytes FirstNameBytes;  // of the first name, as the target's system has it
  } Rows[] = {
      {1250, {"Kraków.txt", "Łódź.txt"}, {'K', 'r', 'a', 'k', 0xF3, 'w', '.', 't', 'x', 't'}},
      {1251, {"Привет.dll"}, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, '.', 'd', 'l', 'l'}},
      // The second byte of 表 is "\\": one character in code page 932.
      {932, {"ソフト.txt", "表.txt"}, {0x83, 0x5C, 0x83, 0x74, 0x83, 0x67, '.', 't', 'x', 't'}},
  };
  for (const auto& Row : Rows) {
    const std::string Page = std::to_string(Row.CodePage);
    fs::remove_all(Dir.Path() / "rel");
    fs::remove_all(Dir.Path() / "out");
    fs::create_directories(Dir.Path() / "rel");
    for (const std::string& Name : Row.Names)
      kvtest::WriteAll(Dir.Path() / "rel" / Name, kvtest::ToBytes(Name));
    // Without a code page, a name outside ASCII is refused, naming the option.
    const TRun Refused = Run("pack -o a.zlb rel");
    EXPECT_EQ(Refused.Status, 1) << Page;
    EXPECT_NE(Refused.Err.find("is not ASCII: name the target system's ANSI code page with "
                               "--code-page"),
              std::string::npos)
        << Refused.Err;
    ASSERT_EQ(Run("pack -o a.zlb --raw-directory --code-page " + Page + " rel").Status, 0) << Page;
    const TBytes Archive = kvtest::ReadAll(Dir.Path() / "a.zlb");
    EXPECT_EQ(kvtest::TrailerOf(Archive).Reserved2[1], Row.CodePage);
    EXPECT_EQ(kv::RecordedCodePage(kvtest::TrailerOf(Archive)), Row.CodePage);
    const std::vector<std::string> Listed = ObjectLines(Run("list --json a.zlb").Out);
    ASSERT_EQ(Listed.size(), Row.Names.size());
    EXPECT_EQ(Field(Listed[0], "name"), "\"" + Row.Names[0] + "\"") << Page;
    // The bytes the target's system reads, walked by its characters.
    const TBytes& Bytes = Row.FirstNameBytes;
    EXPECT_NE(std::search(Archive.begin(), Archive.end(), Bytes.begin(), Bytes.end()),
              Archive.end());
    EXPECT_EQ(Run("test a.zlb").Status, 0) << Run("test a.zlb").Out;
    ASSERT_EQ(Run("extract -d out a.zlb").Status, 0);
    for (const std::string& Name : Row.Names)
      EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "out" / Name), kvtest::ToBytes(Name));
  }
  // A name with no exact form is refused by its own name, never stored as a
  // look-alike.
  const TRun Western = Run("pack -o w.zlb --code-page 1252 rel/ソフト.txt");
  EXPECT_EQ(Western.Status, 1);
  EXPECT_NE(Western.Err.find("'ソフト.txt' has no form in code page 1252"), std::string::npos)
      << Western.Err;

  // ASCII names pack as they always have: nothing recorded.
  MakeTree();
  ASSERT_EQ(Run("pack -o t.zlb tree").Status, 0);
  ASSERT_EQ(Run("pack -o t1252.zlb --code-page 1252 tree").Status, 0);
  EXPECT_EQ(kvtest::TrailerOf(kvtest::ReadAll(Dir.Path() / "t.zlb")).Reserved2,
            (std::array<uint32_t, 3>{0, 0, 0}));
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "t.zlb"), kvtest::ReadAll(Dir.Path() / "t1252.zlb"));

  // Without the code page, names outside ASCII are shown escaped and not
  // extracted.
  kvtest::WriteAll(Dir.Path() / "legacy.zlb",
                   kvtest::BuildArchive({{"Krak\xF3w.txt", kvtest::ToBytes("x")}}));
  EXPECT_NE(Run("list legacy.zlb").Out.find("Krak\\xF3w.txt"), std::string::npos);
  const TRun NoPage = Run("extract -d legacy legacy.zlb");
  EXPECT_EQ(NoPage.Status, 1);
  EXPECT_NE(NoPage.Err.find("--code-page"), std::string::npos) << NoPage.Err;
  EXPECT_EQ(Run("extract -d legacy --code-page 1250 legacy.zlb").Status, 0);
  EXPECT_TRUE(fs::exists(Dir.Path() / "legacy" / "Kraków.txt"));
}

// Names that are one file on Windows are refused, naming both: letter case
// is ignored for every letter, and a name in the form of a short (8.3)
// alias may be another file's.
TEST_F(ZlbtoolTest, NamesThatAreOneFileOnWindowsAreRefused) {
  const struct {
    std::vector<std::string> Names;
    std::string Err;
  } Rows[] = {
      {{"Łódź.txt", "łódź.txt"}, "rel/łódź.txt: one file on Windows with rel/Łódź.txt"},
      {{"résumé.txt", "RÉSUMÉ.TXT"}, "rel/résumé.txt: one file on Windows with rel/RÉSUMÉ.TXT"},
      {{"konvoro-servers.txt", "KONVOR~1.TXT"},
       "rel/KONVOR~1.TXT: the form of a short (8.3) name, which on Windows may name another file"},
  };
  for (const auto& Row : Rows) {
    fs::remove_all(Dir.Path() / "rel");
    fs::create_directories(Dir.Path() / "rel");
    for (const std::string& Name : Row.Names)
      kvtest::WriteAll(Dir.Path() / "rel" / Name, kvtest::ToBytes(Name));
    const TRun R = Run("pack -o a.zlb --code-page 1250 rel");
    EXPECT_EQ(R.Status, 1) << Row.Err;
    EXPECT_NE(R.Err.find(Row.Err), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Dir.Path() / "a.zlb"));
  }
  // An archive made elsewhere with such names fails test.
  kvtest::WriteAll(Dir.Path() / "twins.zlb",
                   kvtest::BuildArchive({{"\xA3\xF3\x64\x9F.txt", kvtest::ToBytes("a")},
                                         {"\xB3\xF3\x64\x9F.txt", kvtest::ToBytes("b")}}));
  const TRun Tested = Run("test --code-page 1250 twins.zlb");
  EXPECT_EQ(Tested.Status, 1);
  EXPECT_NE(Tested.Out.find("FAILED  łódź.txt: one file on Windows with Łódź.txt"),
            std::string::npos)
      << Tested.Out;
}

// A release is read exactly as it is, or refused by the name of what is
// wrong; the files zlbtool writes never go through what stands at their
// place.
TEST_F(ZlbtoolTest, OddFilesAreRefusedByNameAndLinksAreNeverWrittenThrough) {
  MakeTree();
  const fs::path Outside = Dir.Path() / "outside.txt";
  kvtest::WriteAll(Outside, kvtest::ToBytes("outside"));
  // A link to a file is packed as that file, under its own name and place.
  fs::create_symlink(Outside, Dir.Path() / "tree" / "sub" / "link.txt");
  ASSERT_EQ(Run("pack -o t.zlb --with-paths tree").Status, 0);
  EXPECT_NE(Run("list t.zlb").Out.find("sub\\link.txt"), std::string::npos);
  EXPECT_EQ(Run("test t.zlb").Status, 0);

  // Everything else that is no file is refused by name, in one run.
  fs::create_symlink(Dir.Path() / "nowhere", Dir.Path() / "tree" / "konvorocore.dll");
  fs::create_directory_symlink(Dir.Path() / "tree" / "sub", Dir.Path() / "tree" / "folder");
  ASSERT_EQ(::mkfifo((Dir.Path() / "tree" / "fifo").c_str(), 0600), 0);
  const TRun Odd = Run("pack -o odd.zlb --with-paths tree");
  EXPECT_EQ(Odd.Status, 1);
  for (const char* Line :
       {"tree/konvorocore.dll: a link that leads to no file", "tree/folder: a link to a folder",
        "tree/fifo: a FIFO, socket or device"})
    EXPECT_NE(Odd.Err.find(Line), std::string::npos) << Odd.Err;
  EXPECT_FALSE(fs::exists(Dir.Path() / "odd.zlb"));
  // A read that fails is a failure with its reason, never the end of a file.
  const TRun Unreadable = Run("pack -o mem.zlb /proc/self/mem");
  EXPECT_EQ(Unreadable.Status, 1);
  EXPECT_EQ(Unreadable.Err, "zlbtool: /proc/self/mem: Input/output error\n");
  EXPECT_FALSE(fs::exists(Dir.Path() / "mem.zlb"));
  // A FIFO given itself is refused at once, never opened and waited on.
  for (const char* Command : {"test tree/fifo", "pack -o f.zlb tree/fifo", "info tree/fifo"})
    EXPECT_EQ(Run(Command).Status, 1) << Command;
  fs::remove(Dir.Path() / "tree" / "fifo");
  fs::remove(Dir.Path() / "tree" / "folder");
  fs::remove(Dir.Path() / "tree" / "konvorocore.dll");

  // A link planted where a file is written is replaced, and what it leads
  // to keeps its bytes: in extract's destination, and at the output's name
  // and the working names it once used.
  fs::create_directories(Dir.Path() / "dest");
  fs::create_symlink(Outside, Dir.Path() / "dest" / "a.bin");
  fs::create_symlink(Outside, Dir.Path() / "out.zlb");
  fs::create_symlink(Outside, Dir.Path() / "out.zlb.partial");
  ASSERT_EQ(Run("extract -d dest t.zlb").Status, 0);
  ASSERT_EQ(Run("pack -o out.zlb tree").Status, 0);
  EXPECT_EQ(kvtest::ReadAll(Outside), kvtest::ToBytes("outside"));
  EXPECT_FALSE(fs::is_symlink(Dir.Path() / "dest" / "a.bin"));
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "dest" / "a.bin"), kvtest::PatternBytes(70000, 1));
  EXPECT_FALSE(fs::is_symlink(Dir.Path() / "out.zlb"));
  EXPECT_TRUE(fs::is_symlink(Dir.Path() / "out.zlb.partial"));

  // An entry whose target is the archive being read is refused before
  // anything is written, whatever name reaches the archive.
  fs::create_directories(Dir.Path() / "self");
  kvtest::WriteAll(Dir.Path() / "self" / "a.bin", kvtest::ToBytes("a"));
  kvtest::WriteAll(Dir.Path() / "self" / "b.bin", kvtest::ToBytes("b"));
  ASSERT_EQ(Run("pack -o self/a.bin self/b.bin self/a.bin").Status, 0);
  const TBytes Self = kvtest::ReadAll(Dir.Path() / "self" / "a.bin");
  fs::create_hard_link(Dir.Path() / "self" / "a.bin", Dir.Path() / "self.zlb");
  const TRun Refused = Run("extract -d self self.zlb");
  EXPECT_EQ(Refused.Status, 1);
  EXPECT_NE(Refused.Err.find("self/a.bin: is the archive being read"), std::string::npos)
      << Refused.Err;
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "self" / "a.bin"), Self);
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "self" / "b.bin"), kvtest::ToBytes("b"));
}

// --- entries read on several threads ----------------------------------------

namespace {

// A release of many small files and a few large ones; s.txt stands twice,
// at the top and in sub, with different bytes, its two entries close
// enough to be inflated at once.
void MakeRelease(const fs::path& Root) {
  fs::create_directories(Root / "sub");
  for (uint32_t I = 0; I < 48; ++I)
    kvtest::WriteAll(Root / ("f" + std::to_string(100 + I)), kvtest::PatternBytes(I * 331, I));
  std::string Text;
  for (int Line = 0; Line < 120000; ++Line)
    Text += "line " + std::to_string(Line) + " of a large text\n";
  kvtest::WriteAll(Root / "big-text", kvtest::ToBytes(Text));
  kvtest::WriteAll(Root / "big-random", kvtest::PatternBytes(3 << 20, 99));
  kvtest::WriteAll(Root / "sub" / "big-sub", kvtest::PatternBytes(1 << 20, 98));
  kvtest::WriteAll(Root / "s.txt", kvtest::ToBytes("top"));
  kvtest::WriteAll(Root / "sub" / "s.txt", kvtest::ToBytes("sub"));
}

// What extract -v prints below Out for the entries of a list --json, in
// their order, the first Count of them.
std::string WrittenLines(const std::vector<std::string>& Rows, const std::string& Out,
                         size_t Count) {
  std::string Lines;
  for (size_t I = 0; I < Count; ++I) {
    std::string Path = Field(Rows[I], "path");
    Path = Path.substr(1, Path.size() - 2);
    for (size_t At; (At = Path.find("\\\\")) != std::string::npos;)
      Path.replace(At, 2, "/");
    const std::string Name = Field(Rows[I], "name");
    Lines += "  " + Out + "/" + Path + Name.substr(1, Name.size() - 2) + "\n";
  }
  return Lines;
}

}  // namespace

TEST_F(ZlbtoolTest, ExtractAndTestGiveTheSameWhateverTheThreadCount) {
  MakeRelease(Dir.Path() / "rel");
  ASSERT_EQ(Run("pack -o r.zlb --with-paths rel").Status, 0);
  const std::vector<std::string> Rows = ObjectLines(Run("list --json r.zlb").Out);
  ASSERT_EQ(Rows.size(), 53u);
  // test reads every entry's data, and fails the release for its one name
  // that two entries share on Windows.
  const TRun TestedAlone = Run("test --threads 1 r.zlb");
  EXPECT_EQ(TestedAlone.Status, 1);
  EXPECT_NE(TestedAlone.Out.find("\nOK      sub\\big-sub\nFAILED  sub\\s.txt: one file on Windows"),
            std::string::npos)
      << TestedAlone.Out;

  for (const std::string Threads : {"1", "2", "7"}) {
    SCOPED_TRACE("--threads " + Threads);
    const std::string Out = "out" + Threads;
    const TRun Extract =
        Run("extract -v --with-paths --check-crc --threads " + Threads + " -d " + Out + " r.zlb");
    ASSERT_EQ(Extract.Status, 0) << Extract.Err;
    EXPECT_EQ(Extract.Out, WrittenLines(Rows, Out, Rows.size())) << "each file, in entry order";
    EXPECT_EQ(kvtest::Snapshot(Dir.Path() / Out), kvtest::Snapshot(Dir.Path() / "rel"));

    // Both s.txt land on one file without paths: the later entry's bytes
    // replace the earlier's, or, with --skip-existing, the earlier's stay.
    ASSERT_EQ(Run("extract --threads " + Threads + " -d flat" + Threads + " r.zlb").Status, 0);
    EXPECT_EQ(kvtest::ReadAll(Dir.Path() / ("flat" + Threads) / "s.txt"), kvtest::ToBytes("sub"));
    ASSERT_EQ(Run("extract --skip-existing --threads " + Threads + " -d kept" + Threads + " r.zlb")
                  .Status,
              0);
    EXPECT_EQ(kvtest::ReadAll(Dir.Path() / ("kept" + Threads) / "s.txt"), kvtest::ToBytes("top"));
    EXPECT_EQ(kvtest::Snapshot(Dir.Path() / ("kept" + Threads)).size(), 52u);

    const TRun Tested = Run("test --threads " + Threads + " r.zlb");
    EXPECT_EQ(Tested.Status, 1);
    EXPECT_EQ(Tested.Out, TestedAlone.Out);
  }
}

TEST_F(ZlbtoolTest, AFailingEntryStopsExtractionThereWhateverTheThreadCount) {
  MakeRelease(Dir.Path() / "rel");
  ASSERT_EQ(Run("pack -o r.zlb --with-paths rel").Status, 0);
  const std::vector<std::string> Rows = ObjectLines(Run("list --json r.zlb").Out);
  ASSERT_EQ(Rows.size(), 53u);
  // A small entry with a few after it, among them the first of a folder
  // and a large one, close enough to be inflated at once.
  const size_t Bad = Rows.size() - 5;
  ASSERT_EQ(Field(Rows[Bad], "path"), "\"\"");
  TBytes Archive = kvtest::ReadAll(Dir.Path() / "r.zlb");
  Archive[size_t(std::stoll(Field(Rows[Bad], "offset")) +
                 std::stoll(Field(Rows[Bad], "packed")) / 2)] ^= 0x10;
  kvtest::RecomputeArchiveCRC(Archive);
  kvtest::WriteAll(Dir.Path() / "r.zlb", Archive);
  const std::string BadName =
      Field(Rows[Bad], "name").substr(1, Field(Rows[Bad], "name").size() - 2);
  const TRun TestedAlone = Run("test --threads 1 r.zlb");
  EXPECT_EQ(TestedAlone.Status, 1);
  EXPECT_NE(TestedAlone.Out.find("FAILED  " + BadName + ": File (" + std::to_string(Bad) +
                                 ") is corrupt: "),
            std::string::npos)
      << TestedAlone.Out;

  for (const std::string Threads : {"1", "2", "7"}) {
    SCOPED_TRACE("--threads " + Threads);
    const std::string Out = "out" + Threads;
    const TRun Extract =
        Run("extract -v --with-paths --threads " + Threads + " -d " + Out + " r.zlb");
    EXPECT_EQ(Extract.Status, 1);
    EXPECT_EQ(Extract.Err.rfind("zlbtool: r.zlb: File (" + std::to_string(Bad) + ") is corrupt", 0),
              0u)
        << Extract.Err;
    EXPECT_EQ(Extract.Out, WrittenLines(Rows, Out, Bad));
    // The entries before it, whole, and nothing else: no later entry's
    // file, no half-written one, no folder of a later entry.
    std::vector<std::pair<std::string, TBytes>> Before;
    for (const auto& [Name, Bytes] : kvtest::Snapshot(Dir.Path() / "rel"))
      if (WrittenLines(Rows, Out, Bad).find("/" + Name + "\n") != std::string::npos)
        Before.emplace_back(Name, Bytes);
    ASSERT_EQ(Before.size(), Bad);
    EXPECT_EQ(kvtest::Snapshot(Dir.Path() / Out), Before);
    EXPECT_FALSE(fs::exists(Dir.Path() / Out / "sub"));

    const TRun Tested = Run("test --threads " + Threads + " r.zlb");
    EXPECT_EQ(Tested.Status, 1);
    EXPECT_EQ(Tested.Out, TestedAlone.Out);
  }
}
