// zlbtool end to end: the real program on real files, its output, exit
// status and error texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "ZLBFormat.h"

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
  const TRun List = Run("list t.zlb");
  EXPECT_EQ(List.Status, 1);
  EXPECT_EQ(List.Err, "zlbtool: The archive file appears to be corrupted\n");
  EXPECT_EQ(Run("list missing.zlb").Err, "zlbtool: Archive file not found\n");
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
  EXPECT_NE(Long.Err.find("zlbtool: directory path longer than 255 bytes"), std::string::npos)
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
  for (const char* Command : {"pack", "list", "extract", "test"}) {
    const TRun Help = Run(std::string(Command) + " --help");
    EXPECT_EQ(Help.Status, 0) << Command;
    EXPECT_EQ(Help.Out.rfind(std::string("usage: zlbtool ") + Command, 0), 0u) << Help.Out;
  }
  EXPECT_EQ(Run("list --bogus t.zlb").Status, 1);
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
  const std::string Full = (fs::canonical(Dir.Path()) / "out" / "a.bin").string();
  EXPECT_EQ(Taken.Err, "zlbtool: Cannot create file \"" + Full + "\". Is a directory\n");

  // A destination that cannot be made gives the reason of the creation that
  // failed (below /sys: not permitted), not that of a later look at the
  // name (no such directory).
  if (::mkdir("/sys/kvtest", 0777) != 0) {
    const std::string Reason = std::strerror(errno);
    EXPECT_EQ(Run("extract -d /sys/kvtest/out t.zlb").Err,
              "zlbtool: cannot create directory '/sys/kvtest/out': " + Reason + "\n");
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
  EXPECT_EQ(Missing.Err, "zlbtool: no entry named 'nothing.txt'\n");
}

TEST_F(ZlbtoolTest, ExtractRefusesNamesThatLeaveTheDirectory) {
  for (const char* Evil : {"..\\evil.txt", "C:evil.txt"}) {
    kvtest::WriteAll(Dir.Path() / "evil.zlb", kvtest::BuildArchive({{Evil, kvtest::ToBytes("x")}}));
    fs::create_directories(Dir.Path() / "box" / "in");
    const auto Before = kvtest::Snapshot(Dir.Path());
    const TRun R = Run("extract -d box/in evil.zlb");
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err, "zlbtool: File (0) has an invalid name\n");
    EXPECT_EQ(kvtest::Snapshot(Dir.Path()), Before) << Evil;
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
  EXPECT_NE(Bad.Out.find("FAILED  sub\\deeper\\c.dat: File (3) "), std::string::npos) << Bad.Out;
  EXPECT_NE(Bad.Out.find("OK      a.bin\n"), std::string::npos);
}
