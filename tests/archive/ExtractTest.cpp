// Extracting entries: chunks and progress, stored and compressed data and
// the CRC check (over memory); the component's targets, replace decision,
// stored paths, events and what survives failures (over files).
#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveFixture.h"

namespace fs = std::filesystem;
using namespace kv;
using kvtest::MessageOf;
using kvtest::TBytes;
using kvtest::TTestEntry;

namespace {

// A memory stream that logs each write into a shared event log.
class TLoggingStream : public TMemoryStream {
 public:
  explicit TLoggingStream(std::vector<std::string>& Log) : FLog(Log) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    FLog.push_back("write " + std::to_string(Count));
    return TMemoryStream::Write(Buffer, Count);
  }

 private:
  std::vector<std::string>& FLog;
};

std::string Text(const TBytes& B) {
  return std::string(B.begin(), B.end());
}

}  // namespace

class ExtractTest : public ArchiveTest {
 protected:
  // Opens an archive of Entries and clears the progress log.
  std::string Open(const std::vector<TTestEntry>& Entries, kv::TZLBWriterOptions Options = {}) {
    const std::string Name = Write(kvtest::BuildArchive(Entries, Options));
    EXPECT_TRUE(Archive.OpenArchive(Name));
    Progress.clear();
    return Name;
  }
  std::string Out() const { return Dir.Str() + "\\out"; }
  void MakeOut() { fs::create_directories(Dir.Path() / "out"); }
  fs::path OutPath(const std::string& Rel) const { return Dir.Path() / "out" / Rel; }
};

TEST_F(ReaderTest, EntryMovesInChunksOf4096WithProgressBetweenReadAndWrite) {
  const TBytes Data = kvtest::PatternBytes(10000, 1);
  std::vector<std::string> Log;
  int32_t Total = 0, Done = 0;
  const TReadHooks Hooks{
      .Started = [&](int32_t T) { Total = T; },
      .ChunkRead =
          [&](int32_t Delivered) {
            Done += Delivered;
            Log.push_back("report " + std::to_string(ProgressPercentage(Done, Total)));
          }};
  for (const bool Stored : {false, true}) {
    Open(kvtest::BuildArchive({{"ten.bin", Data, "", Stored}}));
    Log.clear();
    Done = 0;
    TReadOnlyMemoryStream Source(Bytes.data(), int64_t(Bytes.size()));
    TLoggingStream Dest(Log);
    ExtractEntry(Source, Entries[0], 0, Dest, false, Hooks);
    EXPECT_EQ(Dest.Bytes(), Data);
    EXPECT_EQ(Log, (std::vector<std::string>{"report 41", "write 4096", "report 82", "write 4096",
                                             "report 100", "write 1808"}))
        << (Stored ? "stored" : "compressed");
  }
}

TEST_F(ReaderTest, StoredEntriesAreCopiedRawEvenWhenTheyLookLikeZlib) {
  // The stored bytes are themselves a valid zlib stream.
  const TBytes Inner = kvtest::BuildArchive({{"x", kvtest::ToBytes("hello")}});
  const TBytes ZlibLooking(Inner.begin(), Inner.begin() + 13);
  ASSERT_EQ(ZlibLooking[0], 0x78);
  Open(kvtest::BuildArchive(
      {{"raw.bin", ZlibLooking, "", true}, {"big.bin", kvtest::PatternBytes(100000, 2)}}));
  TMemoryStream Dest;
  Extract(0, Dest);
  EXPECT_EQ(Dest.Bytes(), ZlibLooking);
  TMemoryStream Big;
  Extract(1, Big);
  EXPECT_EQ(Big.Bytes(), kvtest::PatternBytes(100000, 2));
}

TEST_F(ReaderTest, ExtractionWritesFromDestsCurrentPosition) {
  Open(kvtest::BuildArchive({{"a", kvtest::ToBytes("data")}}));
  TMemoryStream Dest;
  Dest.WriteBuffer("0123456789", 10);
  Dest.SetPosition(3);
  Extract(0, Dest);
  EXPECT_EQ(Text(Dest.Bytes()), "012data789");
}

TEST_F(ReaderTest, CheckCRCCoversAllOfDest) {
  Open(kvtest::BuildArchive({{"a", kvtest::PatternBytes(5000, 3)}}));
  TMemoryStream Clean;
  Extract(0, Clean, true);
  EXPECT_EQ(Clean.GetPosition(), 5000) << "the position is restored after the check";

  TMemoryStream Dirty;
  Dirty.WriteBuffer("x", 1);
  EXPECT_EQ(MessageOf([&] { Extract(0, Dirty, true); }), "File (0) failed CRC check");
  EXPECT_EQ(Dirty.GetSize(), 5001) << "what was written stays";

  TMemoryStream Unchecked;
  Unchecked.WriteBuffer("x", 1);
  EXPECT_NO_THROW(Extract(0, Unchecked, false));
}

TEST_F(ExtractTest, WrongFileCRCFailsTheCheckOnly) {
  kv::TMemoryStream Built;
  kv::TZLBArchiveWriter Writer(Built, {.RawDirectory = true});
  Writer.AddEntry("a", "", kvtest::ToBytes("payload"));
  const TZLBArchiveTrailer T = Writer.Finish();
  TBytes Bytes = Built.TakeBytes();
  Bytes[size_t(T.DirectoryOffset) + entry_layout::FileCRC] ^= 1;
  kvtest::RecomputeArchiveCRC(Bytes);
  ASSERT_TRUE(Archive.OpenArchive(Write(Bytes)));
  MakeOut();
  Archive.SetCheckCRC(true);
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), 0); }), "File (0) failed CRC check");
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a"))), "payload") << "the file stays on disk";
  Archive.SetCheckCRC(false);
  EXPECT_NO_THROW(Archive.ExtractFile(Out(), 0));
}

TEST_F(ExtractTest, ExtractFileCreatesTheTargetAndAnnouncesIt) {
  const std::string Name = Open({{"a.txt", kvtest::ToBytes("alpha")}, {"empty", {}}});
  MakeOut();
  std::vector<std::string> Extracted;
  Archive.SetOnFileExtracted([&](std::string F) { Extracted.push_back(F); });
  Archive.ExtractFile(Out(), 0);
  Archive.ExtractFile(Out() + "\\", 1);
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a.txt"))), "alpha");
  EXPECT_TRUE(fs::exists(OutPath("empty")));
  EXPECT_EQ(fs::file_size(OutPath("empty")), 0u);
  // DestDir as given, directly followed by the name.
  EXPECT_EQ(Extracted, (std::vector<std::string>{Out() + "a.txt", Out() + "\\empty"}));
  EXPECT_EQ(Progress, (TReports{{"Extracting a.txt", 100}, {Name, 0}, {Name, 0}}))
      << "an empty entry makes no chunk report";
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
}

TEST_F(ExtractTest, ReplaceHandlerLeavingReplaceFalseKeepsTheExistingFile) {
  const std::string Name = Open({{"a.txt", kvtest::ToBytes("new")}});
  MakeOut();
  kvtest::WriteAll(OutPath("a.txt"), kvtest::ToBytes("old contents"));
  std::vector<std::string> Asked;
  int Extracted = 0;
  Archive.SetOnFileExtracted([&](std::string) { ++Extracted; });
  Archive.SetOnReplaceFile([&](std::string F, bool& Replace) {
    Asked.push_back(F);
    EXPECT_FALSE(Replace) << "the handler is asked with Replace false";
  });
  Archive.ExtractFile(Out(), 0);
  EXPECT_EQ(Asked, std::vector<std::string>{Out() + "\\a.txt"});
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a.txt"))), "old contents") << "left untouched";
  EXPECT_EQ(Extracted, 0);
  EXPECT_EQ(Progress, (TReports{{Name, 0}})) << "the closing report is still made";
}

TEST_F(ExtractTest, ReplaceHandlerSettingReplaceOverwritesTheExistingFile) {
  Open({{"a.txt", kvtest::ToBytes("new")}});
  MakeOut();
  kvtest::WriteAll(OutPath("a.txt"), kvtest::ToBytes("old contents"));
  Archive.SetOnReplaceFile([](std::string, bool& Replace) { Replace = true; });
  Archive.ExtractFile(Out(), 0);
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a.txt"))), "new");
}

TEST_F(ExtractTest, WithoutReplaceHandlerTheExistingFileIsOverwritten) {
  Open({{"a.txt", kvtest::ToBytes("new")}});
  MakeOut();
  kvtest::WriteAll(OutPath("a.txt"), kvtest::ToBytes("older"));
  Archive.ExtractFile(Out(), 0);
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a.txt"))), "new");
}

TEST_F(ExtractTest, WithoutAnExistingFileNobodyIsAsked) {
  Open({{"a.txt", kvtest::ToBytes("new")}});
  MakeOut();
  std::vector<std::string> Asked;
  Archive.SetOnReplaceFile([&](std::string F, bool&) { Asked.push_back(F); });
  Archive.ExtractFile(Out(), 0);
  EXPECT_TRUE(Asked.empty());
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("a.txt"))), "new");
}

TEST_F(ExtractTest, WithoutPathsTheStoredPathIsIgnoredAndNothingIsCreated) {
  Open({{"a.txt", kvtest::ToBytes("a"), "sub\\"}});
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), 0); }).rfind("Cannot create file \"", 0), 0u)
      << "the destination is not created without ExtractWithPath";
  EXPECT_FALSE(fs::exists(Dir.Path() / "out"));
  MakeOut();
  Archive.ExtractFile(Out(), 0);
  EXPECT_TRUE(fs::exists(OutPath("a.txt")));
}

TEST_F(ExtractTest, StoredPathsAreJoinedCollapsedAndCreated) {
  Open({{"one", kvtest::ToBytes("1"), "\\sub\\"},
        {"two", kvtest::ToBytes("2"), "sub"},
        {"three", kvtest::ToBytes("3"), "deep\\\\er\\"},
        {"four", kvtest::ToBytes("4"), ""}});
  Archive.SetExtractWithPath(true);
  std::vector<std::string> Extracted;
  Archive.SetOnFileExtracted([&](std::string F) { Extracted.push_back(F); });
  const std::string D = Out() + "\\";
  Archive.ExtractFile(D, 0);      // out\ + \sub\ -> out\sub
  Archive.ExtractFile(Out(), 1);  // out + sub -> outsub, a sibling
  Archive.ExtractFile(D, 2);      // out\deep\\er\ -> out\deep\er
  Archive.ExtractFile(D, 3);      // out\ -> out
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("sub/one"))), "1");
  EXPECT_EQ(Text(kvtest::ReadAll(Dir.Path() / "outsub" / "two")), "2");
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("deep/er/three"))), "3");
  EXPECT_EQ(Text(kvtest::ReadAll(OutPath("four"))), "4");
  EXPECT_EQ(Extracted,
            (std::vector<std::string>{D + "one", Out() + "two", D + "three", D + "four"}))
      << "the announced name never includes the stored path";
}

// In code page 932 "\x83\x5C" is one character, katakana so, whose second
// byte is "\\": joined to the destination, it is neither collapsed with the
// separator after it nor dropped as a trailing one. By byte it is the
// folder "\x83" and a separator.
TEST_F(ExtractTest, StoredPathsAreJoinedByCharacterInTheAnsiCodePage) {
  const bool DoubleByte = kvtest::AnsiCodePage() == kvtest::JapaneseCodePage;
  Open({{"one", kvtest::ToBytes("1"), "\x83\x5C\\"}});
  Archive.SetExtractWithPath(true);
  Archive.ExtractFile(Out() + "\\", 0);
  const std::string Folder = Out() + "\\" + (DoubleByte ? "\x83\x5C" : "\x83");
  EXPECT_TRUE(FileExists(Folder + "\\one")) << Folder;
}

TEST_F(ExtractTest, PathsThatCannotBeMadeAreRefused) {
  const std::string Name =
      Open({{"a", kvtest::ToBytes("a"), "\\"}, {"b", kvtest::ToBytes("b"), ""}, {"c", {}, "f\\"}});
  Archive.SetExtractWithPath(true);
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile("", 0); }), "Unable to create directory");
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile("", 1); }), "Unable to create directory");
  MakeOut();
  kvtest::WriteAll(OutPath("f"), kvtest::ToBytes("a file in the way"));
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out() + "\\", 2); }),
            "Unable to create destination path");
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
}

TEST_F(ExtractTest, DamagedDataLeavesTheChunksWrittenBeforeIt) {
  const TBytes Data = kvtest::PatternBytes(40000, 4);
  kv::TMemoryStream Out1;
  kv::TZLBArchiveWriter Writer(Out1);
  Writer.AddEntry("d.bin", "", Data);
  Writer.Finish();
  TBytes Bytes = Out1.TakeBytes();
  const uint32_t Packed = Writer.Entries()[0].CompressedSize;
  for (size_t I = Packed * 3 / 4; I < Packed * 3 / 4 + 8; ++I)
    Bytes[I] ^= 0x55;
  kvtest::RecomputeArchiveCRC(Bytes);
  const std::string Name = Write(Bytes);
  ASSERT_TRUE(Archive.OpenArchive(Name));
  Progress.clear();
  MakeOut();
  int Extracted = 0;
  Archive.SetOnFileExtracted([&](std::string) { ++Extracted; });
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), 0); }), "File (0) is corrupt");
  const TBytes Left = kvtest::ReadAll(OutPath("d.bin"));
  // Damaged deflate data may decode to garbage for a while before zlib
  // notices; everything well before the damage is intact.
  ASSERT_GE(Left.size(), Data.size() / 2);
  EXPECT_LT(Left.size(), Data.size());
  EXPECT_TRUE(std::equal(Left.begin(), Left.begin() + Data.size() / 2, Data.begin()));
  EXPECT_EQ(Extracted, 0);
  EXPECT_TRUE(Progress.empty() || Progress.back().first != Name) << "no closing report";
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
  EXPECT_EQ(Archive.GetFileCount(), 1) << "the component stays open";
}

TEST_F(ExtractTest, ProgressHandlerFailureIsReportedAsCorruption) {
  Open({{"a", kvtest::PatternBytes(9000, 5)}});
  Archive.SetOnProgress([](std::string, int32_t P) {
    if (P > 50) throw Exception("cancelled");
  });
  TMemoryStream Dest;
  EXPECT_EQ(MessageOf([&] { Archive.ExtractToStream(0, Dest); }), "File (0) is corrupt");
  EXPECT_EQ(Dest.GetSize(), 4096);
}

TEST_F(ExtractTest, ExtractFileWithoutAnArchiveRaisesNoArchiveOpen) {
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), 0); }), "No archive is currently open");
}

TEST_F(ExtractTest, ExtractToStreamWithoutAnArchiveFindsNoEntry) {
  TMemoryStream Dest;
  EXPECT_EQ(MessageOf([&] { Archive.ExtractToStream(0, Dest); }), "Index out of bounds");
}

TEST_F(ExtractTest, ExtractFileChecksTheIndex) {
  Open({{"a", kvtest::ToBytes("a")}});
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), 1); }), "Index out of bounds");
  EXPECT_EQ(MessageOf([&] { Archive.ExtractFile(Out(), -1); }), "Index out of bounds");
}

TEST_F(ExtractTest, TheArchiveIsReopenedForEachExtraction) {
  const std::string Name = Open({{"a", kvtest::ToBytes("a")}});
  fs::remove(Name);
  TMemoryStream Dest;
  EXPECT_EQ(MessageOf([&] { Archive.ExtractToStream(0, Dest); }),
            "Unable to open file (" + Name + ")");
}

// An archive opened from a file held open is read through that file from
// then on: a name that later leads elsewhere changes nothing.
TEST_F(ExtractTest, ArchiveFromAHeldFileIsReadThroughItWhateverBecomesOfItsName) {
  const std::vector<TTestEntry> Genuine = {{"tiny", kvtest::ToBytes("genuine")},
                                           {"text", kvtest::ToBytes("the genuine text"), "", true}};
  std::vector<TTestEntry> Forged = Genuine;
  Forged[1].Data = kvtest::ToBytes("the FORGED! text");
  const std::string Name = Write(kvtest::BuildArchive(Genuine));
  TErrorOr<TFileHandle> Held = FileOpen(Name, fmOpenRead | fmShareDenyWrite);
  ASSERT_TRUE(Held);
  ASSERT_TRUE(Archive.OpenArchive(Name, std::make_unique<THeldFileSource>(Name, std::move(*Held))));
  EXPECT_EQ(Progress.back(), TReport(Name, 0));

  // Elsewhere the name is taken over by a forged archive. Windows refuses
  // that already: the held file shares no deletion, so it cannot be replaced.
  std::error_code Refused;
  fs::rename(Write(kvtest::BuildArchive(Forged)), Name, Refused);
#ifdef _WIN32
  EXPECT_TRUE(Refused) << "a held archive was replaced";
#else
  ASSERT_FALSE(Refused) << Refused.message();
#endif
  MakeOut();
  for (const int32_t Index : {1, 0, 1}) {
    Archive.ExtractFile(Out(), Index);
    EXPECT_EQ(kvtest::ReadAll(OutPath(Genuine[size_t(Index)].Name)), Genuine[size_t(Index)].Data);
  }
  TMemoryStream Dest;
  Archive.SetCheckCRC(true);
  EXPECT_TRUE(Archive.ExtractToStream(1, Dest));
  EXPECT_EQ(Text(Dest.Bytes()), "the genuine text");

  // Closing lets the file go; a source that cannot be read is the open failure.
  Archive.CloseArchive();
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
  EXPECT_EQ(MessageOf([&] {
              Archive.OpenArchive(Name, std::make_unique<THeldFileSource>(Name, TFileHandle()));
            }),
            "Unable to open file (" + Name + ")");
  EXPECT_EQ(Archive.GetFileCount(), 0) << "named but empty";
}

TEST_F(ExtractTest, TargetThatCannotBeCreatedRaisesTheFileCreationText) {
  const std::string Name = Open({{"a", kvtest::ToBytes("a")}});
  const std::string Missing = Dir.Str() + "\\missing";
  const std::string Message = MessageOf([&] { Archive.ExtractFile(Missing, 0); });
  EXPECT_EQ(Message.rfind("Cannot create file \"" + ExpandFileName(Missing + "\\a") + "\". ", 0),
            0u)
      << Message;
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
}
