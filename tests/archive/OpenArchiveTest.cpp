// Opening archives: CRC verification, compressed and raw directories and
// layouts the reader must accept (over memory); the component's three
// states, progress reports and failure texts (over files).
#include <gtest/gtest.h>
#include <zlib.h>

#include "ArchiveFixture.h"

using namespace kv;
using kvtest::MessageOf;
using kvtest::TBytes;
using kvtest::TTestEntry;

TEST_F(ReaderTest, OpensCompressedAndRawDirectoriesAlike) {
  const std::vector<TTestEntry> Contents = {{"one.txt", kvtest::ToBytes("first")},
                                            {"two.bin", kvtest::PatternBytes(9000, 1), "", true},
                                            {"three.dat", kvtest::PatternBytes(70000, 2), "sub\\"}};
  for (const bool Raw : {false, true}) {
    kv::TMemoryStream Out;
    kv::TZLBArchiveWriter Writer(Out, {.Stored = false, .RawDirectory = Raw});
    for (const TTestEntry& E : Contents)
      Writer.AddEntry(E.Name, E.Path, E.Data, E.Stored);
    Writer.Finish();
    Open(Out.TakeBytes());
    ASSERT_EQ(Entries.size(), 3u);
    for (size_t I = 0; I < 3; ++I)
      EXPECT_EQ(Entries[I], Writer.Entries()[I]) << "entry " << I;
    EXPECT_EQ(Trailer.DirectoryCompressed, Raw ? 0 : 1);
  }
}

TEST_F(ReaderTest, RegionsNeedNotBeAdjacent) {
  kv::TMemoryStream Out;
  kvtest::TGapWriter Writer(Out);
  const TBytes Gap(777, 0xEE);
  Writer.AddGap(Gap);
  Writer.AddEntry("a", "", kvtest::ToBytes("alpha"));
  Writer.AddGap(Gap);
  Writer.AddEntry("b", "", kvtest::ToBytes("beta"), true);
  Writer.AddGap(Gap);
  Writer.Finish();
  Open(Out.TakeBytes());
  ASSERT_EQ(Entries.size(), 2u);
  EXPECT_EQ(Entries[1].DataOffset, 777 + int32_t(Writer.Entries()[0].CompressedSize) + 777);
}

TEST_F(ReaderTest, ArchiveWithoutEntriesIsValid) {
  Open(kvtest::BuildArchive({}));
  EXPECT_EQ(Trailer.FileCount, 0);
  EXPECT_TRUE(Entries.empty());
}

TEST_F(ReaderTest, NoBytesAreAnArchiveWithoutEntries) {
  // The CRC of nothing is 0 and the trailer stays all zero.
  Open({});
  EXPECT_EQ(Trailer, TZLBArchiveTrailer());
  EXPECT_TRUE(Entries.empty());
}

TEST_F(ReaderTest, ZerosShorterThanATrailerAreAnArchiveWithoutEntries) {
  // The trailer is read from offset 0 as far as the bytes go, and the CRC
  // over the (empty) body is 0.
  Open(TBytes(10, 0));
  EXPECT_TRUE(Entries.empty());
}

TEST_F(ReaderTest, OtherBytesShorterThanATrailerAreCorrupt) {
  EXPECT_EQ(MessageOf([&] { Open(kvtest::ToBytes("tiny file")); }),
            "The archive file appears to be corrupted");
}

TEST_F(ArchiveTest, AnyChangedByteBeforeTheTrailerIsCorruption) {
  const TBytes Good = kvtest::BuildArchive(
      {{"a.txt", kvtest::PatternBytes(5000, 3)}, {"b.txt", kvtest::ToBytes("bee")}});
  for (const size_t At : {size_t(0), Good.size() / 2, Good.size() - 37}) {
    TBytes Bad = Good;
    Bad[At] ^= 0x01;
    EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Write(Bad)); }),
              "The archive file appears to be corrupted")
        << "byte " << At;
    EXPECT_EQ(Archive.GetArchiveFileName(), "");
    EXPECT_EQ(Archive.GetTrailer(), TZLBArchiveTrailer());
    EXPECT_EQ(MessageOf([&] { Archive.GetFileCount(); }), "No archive is currently open");
  }
}

TEST_F(ReaderTest, FieldsTheReaderIgnoresDoNotMatter) {
  TBytes Archive1 = kvtest::BuildArchive({{"a.txt", kvtest::ToBytes("x")}});
  TZLBArchiveTrailer T = kvtest::TrailerOf(Archive1);
  T.Reserved1 = 0xDEADBEEF;
  T.DirectorySize = 12345;
  T.Padding = {1, 2, 3};
  T.Reserved2 = {4, 5, 6};
  kvtest::SetTrailer(Archive1, T, false);  // the trailer is not covered by the CRC
  Open(Archive1);
  EXPECT_EQ(Entries.size(), 1u);
}

TEST_F(ReaderTest, PathOf255BytesUsesTheWholeField) {
  const std::string Path(255, 'p');
  Open(kvtest::BuildArchive({{"n", {}, Path}}));
  ASSERT_EQ(Entries.size(), 1u);
  EXPECT_EQ(Entries[0].FilePath.ToString(), Path);
}

TEST_F(ArchiveTest, EmptyNameReturnsFalseAfterOneCloseReport) {
  EXPECT_FALSE(Archive.OpenArchive(""));
  EXPECT_EQ(Progress, (TReports{{"", 0}}));
  EXPECT_EQ(MessageOf([&] { Archive.GetFileCount(); }), "No archive is currently open");
}

TEST_F(ArchiveTest, ProgressOfATenEntryCompressedDirectory) {
  std::vector<TTestEntry> Entries;
  for (int I = 0; I < 10; ++I)
    Entries.push_back({"f" + std::to_string(I), {}});
  const std::string Name = Write(kvtest::BuildArchive(Entries));
  // The list is filled only once the whole directory is read.
  std::vector<bool> FirstEntrySeen;
  Archive.SetOnProgress([&](std::string Msg, int32_t Percentage) {
    Progress.emplace_back(Msg, Percentage);
    TZLBFileEntry First;
    FirstEntrySeen.push_back(MessageOf([&] { Archive.GetFileEntry(0, First); }) ==
                             "(no exception)");
  });
  ASSERT_TRUE(Archive.OpenArchive(Name));
  EXPECT_EQ(FirstEntrySeen, (std::vector<bool>{false, false, false, true}));
  // 5,320 directory bytes in chunks of 4,096 and 1,224.
  EXPECT_EQ(Progress, (TReports{{"", 0},
                                {"Extracting archive registry", 77},
                                {"Extracting archive registry", 100},
                                {Name, 0}}));
  EXPECT_EQ(Archive.GetArchiveFileName(), Name);
  EXPECT_EQ(Archive.GetFileCount(), 10);
}

TEST_F(ArchiveTest, RawDirectoryMakesNoRegistryReports) {
  const std::string Name =
      Write(kvtest::BuildArchive({{"a", {}}, {"b", {}}}, {.Stored = false, .RawDirectory = true}));
  ASSERT_TRUE(Archive.OpenArchive(Name));
  EXPECT_EQ(Progress, (TReports{{"", 0}, {Name, 0}}));
}

TEST_F(ArchiveTest, ArchiveOpenedHandlerRunsWithTheSenderAndItsFailureClosesTheArchive) {
  const std::string Name = Write(kvtest::BuildArchive({{"a", kvtest::ToBytes("a")}}));
  TObject* Sender = nullptr;
  int32_t CountSeen = -1;
  Archive.SetOnArchiveOpened([&](TObject* S) {
    Sender = S;
    CountSeen = Archive.GetFileCount();
  });
  ASSERT_TRUE(Archive.OpenArchive(Name));
  EXPECT_EQ(Sender, &Archive);
  EXPECT_EQ(CountSeen, 1) << "the directory is loaded before the event";

  Archive.SetOnArchiveOpened([](TObject*) { throw Exception("handler failed"); });
  Progress.clear();
  EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Name); }), "Unable to read archive file list");
  EXPECT_EQ(Archive.GetArchiveFileName(), "");
  EXPECT_EQ(Progress.back(), (TReport{"", 0})) << "the close reported stage 5";
}

TEST_F(ArchiveTest, ProgressHandlerFailingInTheDirectoryReadBecomesTheListError) {
  std::vector<TTestEntry> Entries(3, TTestEntry{"x", {}});
  const std::string Name = Write(kvtest::BuildArchive(Entries));
  Archive.SetOnProgress([](std::string Msg, int32_t) {
    if (Msg == "Extracting archive registry") throw Exception("stop");
  });
  EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Name); }), "Unable to read archive file list");
}

TEST_F(ArchiveTest, MissingArchiveLeavesTheComponentNamedButEmpty) {
  const std::string Name = Dir / "missing.zlb";
  EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Name); }), "Archive file not found");
  EXPECT_EQ(Archive.GetArchiveFileName(), Name);
  EXPECT_EQ(Archive.GetFileCount(), 0);
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Dir.Str(), 0); }), "Index out of bounds");
  EXPECT_EQ(MessageOf([&] { Archive.OpenArchive(Dir.Str()); }), "Archive file not found")
      << "a directory is no archive file";
}

TEST_F(ArchiveTest, EntryIndexIsBoundsChecked) {
  ASSERT_TRUE(Archive.OpenArchive(Write(kvtest::BuildArchive({{"a", {}}, {"b", {}}}))));
  TZLBFileEntry Entry;
  EXPECT_EQ(MessageOf([&] { Archive.GetFileEntry(-1, Entry); }), "Index out of bounds");
  EXPECT_EQ(MessageOf([&] { Archive.GetFileEntry(2, Entry); }), "Index out of bounds");
  EXPECT_NO_THROW(Archive.GetFileEntry(1, Entry));
  Archive.CloseArchive();
  EXPECT_EQ(MessageOf([&] { Archive.GetFileEntry(0, Entry); }), "Index out of bounds");
}

TEST_F(ArchiveTest, CloseReportsEveryTimeButDestructionReportsNothing) {
  Archive.CloseArchive();
  Archive.CloseArchive();
  EXPECT_EQ(Progress, (TReports{{"", 0}, {"", 0}}));

  TReports Reports;
  {
    TZLBArchive Local;
    Local.SetOnProgress([&](std::string M, int32_t P) { Reports.emplace_back(M, P); });
    ASSERT_TRUE(
        Local.OpenArchive(Write(kvtest::BuildArchive({{"a", {}}}, {.RawDirectory = true}))));
    Reports.clear();
  }
  EXPECT_TRUE(Reports.empty());
}

TEST_F(ReaderTest, NoEntriesMeansNothingIsReadWhateverTheOffset) {
  TBytes Empty = kvtest::BuildArchive({});
  TZLBArchiveTrailer T = kvtest::TrailerOf(Empty);
  T.DirectoryOffset = -100;
  kvtest::SetTrailer(Empty, T);
  Open(Empty);
  EXPECT_TRUE(Entries.empty());
}

TEST_F(ArchiveTest, StreamCRC32CoversAllButTheTailAndKeepsThePosition) {
  const TBytes Data = kvtest::PatternBytes(25000, 6);
  TReadOnlyMemoryStream S(Data.data(), int64_t(Data.size()));
  S.SetPosition(123);
  EXPECT_EQ(Archive.StreamCRC32(S, 36), uint32_t(crc32(0, Data.data(), uInt(Data.size() - 36))));
  EXPECT_EQ(S.GetPosition(), 123);
  EXPECT_EQ(Archive.StreamCRC32(S, 0), uint32_t(crc32(0, Data.data(), uInt(Data.size()))));
  EXPECT_EQ(Archive.StreamCRC32(S, 30000), 0u) << "an empty range";
}
