// File lists of directory trees and temporary archive names.
#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveFixture.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

// The names of Dir's entries in the order the platform enumerates them,
// without "." and "..".
std::vector<std::string> EnumerationOrder(const std::string& Dir) {
  std::vector<std::string> Names;
  TFileSearch Search;
  TSearchRec Found;
  if (Search.FindFirst(Dir + "\\*.*", faAnyFile, Found)) {
    do {
      if (Found.Name != "." && Found.Name != "..") Names.push_back(Found.Name);
    } while (Search.FindNext(Found));
  }
  return Names;
}

}  // namespace

class FileListTest : public ::testing::Test {
 protected:
  // X holds files a and b and subdirectory S, which holds file x and the
  // subdirectory T with file y.
  FileListTest() {
    fs::create_directories(Dir.Path() / "X" / "S" / "T");
    for (const char* F : {"X/a", "X/b", "X/S/x", "X/S/T/y"})
      kvtest::WriteAll(Dir.Path() / F, {});
    X = Dir.Str() + "\\X";
  }

  // The expected list: with recursion, each subdirectory's full list before
  // the directory's own items, in enumeration order.
  std::vector<std::string> Expected(const std::string& D, bool Recurse, bool SavePaths) {
    std::vector<std::string> Sub, Own;
    for (const std::string& Name : EnumerationOrder(D)) {
      const std::string Path = D + "\\" + Name;
      if (DirectoryExists(Path)) {
        if (Recurse) {
          const auto Inner = Expected(Path, Recurse, SavePaths);
          Sub.insert(Sub.end(), Inner.begin(), Inner.end());
        }
        if (SavePaths) Own.push_back(Path);
      } else {
        Own.push_back(Path);
      }
    }
    Sub.insert(Sub.end(), Own.begin(), Own.end());
    return Sub;
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
  const auto Both = List(X, true, true);
  EXPECT_EQ(Both, Expected(X, true, true));
  ASSERT_EQ(Both.size(), 6u);
  // The deepest file first, a subdirectory's own path after its contents.
  EXPECT_EQ(Both[0], X + "\\S\\T\\y");
  const auto At = [&](const std::string& P) {
    return std::find(Both.begin(), Both.end(), P) - Both.begin();
  };
  EXPECT_LT(At(X + "\\S\\x"), At(X + "\\S"));
  EXPECT_LT(At(X + "\\S\\T"), At(X + "\\S"));
  EXPECT_LT(At(X + "\\S"), int(Both.size()));
  EXPECT_GT(At(X + "\\a"), At(X + "\\S\\x"));

  EXPECT_EQ(List(X, true, false), Expected(X, true, false));
  EXPECT_EQ(List(X, true, false).size(), 4u);
  EXPECT_EQ(List(X, false, true), Expected(X, false, true));
  EXPECT_EQ(List(X, false, true).size(), 3u) << "no recursion, whatever SavePaths says";
  EXPECT_EQ(List(X, false, false), (Expected(X, false, false)));
  EXPECT_EQ(List(X, false, false).size(), 2u);
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
    DeleteFile(Name);
  }
}
