// File lists of directory trees and temporary archive names.
#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveFixture.h"

namespace fs = std::filesystem;
using namespace kv;

class FileListTest : public ::testing::Test {
 protected:
  // X holds files a and c and, between them in name order, subdirectory b,
  // which holds file x and subdirectory t with file y. Both ports enumerate
  // a directory in name order.
  FileListTest() {
    fs::create_directories(Dir.Path() / "X" / "b" / "t");
    for (const char* F : {"X/a", "X/c", "X/b/x", "X/b/t/y"})
      kvtest::WriteAll(Dir.Path() / F, {});
    X = Dir.Str() + "\\X";
  }

  std::vector<std::string> List(const std::string& D, bool Recurse, bool SavePaths) {
    TZLBArchive Archive;
    Archive.SetRecursePaths(Recurse);
    Archive.SetSavePaths(SavePaths);
    TStringList Out;
    Archive.GetFileList(D, Out);
    return Out.Items();
  }

  kvtest::TTempDir Dir;
  std::string X;
};

TEST_F(FileListTest, SubdirectoryContentsComeBeforeTheirParentsOwnItems) {
  // A subdirectory's own path comes after its contents, among its parent's
  // items in enumeration order.
  EXPECT_EQ(List(X, true, true),
            (std::vector<std::string>{X + "\\b\\t\\y", X + "\\b\\t", X + "\\b\\x", X + "\\a",
                                      X + "\\b", X + "\\c"}));
  EXPECT_EQ(List(X, true, false),
            (std::vector<std::string>{X + "\\b\\t\\y", X + "\\b\\x", X + "\\a", X + "\\c"}));
  EXPECT_EQ(List(X, false, true), (std::vector<std::string>{X + "\\a", X + "\\b", X + "\\c"}))
      << "no recursion, whatever SavePaths says";
  EXPECT_EQ(List(X, false, false), (std::vector<std::string>{X + "\\a", X + "\\c"}));
}

TEST_F(FileListTest, TrailingBackslashMakesNoDifference) {
  EXPECT_EQ(List(X + "\\", true, true), List(X, true, true));
  for (const std::string& P : List(X + "\\", true, true))
    EXPECT_EQ(P.rfind(X + "\\", 0), 0u);
}

TEST_F(FileListTest, ExistingStringsStayAndNothingIsAddedForEmptyOrMissingDirs) {
  fs::create_directories(Dir.Path() / "E");
  TZLBArchive Archive;
  Archive.SetRecursePaths(true);
  TStringList Out;
  Out.Add("keep me");
  Archive.GetFileList(Dir.Str() + "\\E", Out);
  Archive.GetFileList(Dir.Str() + "\\missing", Out);
  Archive.GetFileList("", Out);
  EXPECT_EQ(Out.Items(), std::vector<std::string>{"keep me"});
  Archive.GetFileList(X, Out);
  EXPECT_EQ(Out.Count(), 5);
  EXPECT_EQ(Out[0], "keep me");
}

TEST(TempArchiveName, IsANewFileInTheTemporaryDirectoryWithPrefixZLB) {
  TZLBArchive Archive;
  const std::string A = Archive.GetTempArchiveFileName();
  const std::string B = Archive.GetTempArchiveFileName();
  EXPECT_NE(A, B);
  for (const std::string& Name : {A, B}) {
    EXPECT_EQ(ExtractFilePath(Name), GetTempPath());
    EXPECT_EQ(ExtractFileName(Name).rfind("ZLB", 0), 0u) << Name;
    EXPECT_TRUE(FileExists(Name)) << "the name is reserved by creating the file";
    EXPECT_FALSE(DeleteFile(Name)) << "and can be removed";
  }
}
