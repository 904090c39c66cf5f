// Hostile and broken archives, one generated archive per kind of damage:
// each must fail with its exact text. Damaged archives and data go through
// the reader over memory, leaving in Dest what the failed extraction wrote;
// names and paths that leave the destination go through the component and
// must leave the destination as it was.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "ArchiveFixture.h"

namespace fs = std::filesystem;
using namespace kv;
using kvtest::MessageOf;
using kvtest::TBytes;

namespace {

// An archive put together record by record: data blocks as given, a raw or
// compressed directory of Entries (compressed by Pack), the trailer, and a
// correct archive CRC.
TBytes HandBuilt(const TBytes& Blocks, const std::vector<TZLBFileEntry>& Entries, bool RawDirectory,
                 void (*ChangeTrailer)(TZLBArchiveTrailer&) = nullptr,
                 TBytes (*Pack)(const TBytes&) = kvtest::ZlibCompress) {
  TBytes Directory(Entries.size() * TZLBFileEntry::Size);
  for (size_t I = 0; I < Entries.size(); ++I)
    Entries[I].Encode(std::span<uint8_t, TZLBFileEntry::Size>(
        Directory.data() + I * TZLBFileEntry::Size, TZLBFileEntry::Size));
  if (!RawDirectory) Directory = Pack(Directory);
  TBytes Out = Blocks;
  TZLBArchiveTrailer T;
  T.FileCount = int32_t(Entries.size());
  T.DirectoryOffset = int32_t(Out.size());
  T.DirectorySize = uint32_t(Directory.size());
  T.DirectoryCompressed = RawDirectory ? 0 : 1;
  Out.insert(Out.end(), Directory.begin(), Directory.end());
  if (ChangeTrailer) ChangeTrailer(T);
  Out.resize(Out.size() + TZLBArchiveTrailer::Size);
  kvtest::SetTrailer(Out, T);
  return Out;
}

TZLBFileEntry Entry(const std::string& Name, int32_t Size, int32_t Offset, bool Stored,
                    const std::string& Path = "") {
  TZLBFileEntry E;
  E.FileName = TShortString::FromString(Name);
  E.FilePath = TShortString::FromString(Path);
  E.OriginalSize = Size;
  E.DataOffset = Offset;
  E.Stored = Stored ? 1 : 0;
  return E;
}

const TBytes& Data() {
  static const TBytes Bytes = kvtest::PatternBytes(30000, 11);
  return Bytes;
}

// A good archive of one entry "victim.bin" holding Data(), compressed.
TBytes GoodArchive(bool RawDirectory = false) {
  const TBytes Z = kvtest::ZlibCompress(Data());
  return HandBuilt(Z, {Entry("victim.bin", int32_t(Data().size()), 0, false)}, RawDirectory);
}

// An archive of one compressed entry "victim.bin" of 20,000 bytes whose
// zlib data fails right after the first FailureAt bytes of Data().
TBytes FailingAfter(size_t FailureAt) {
  const TBytes Good(Data().begin(), Data().begin() + ptrdiff_t(FailureAt));
  return HandBuilt(kvtest::ZlibFailingAfter(Good), {Entry("victim.bin", 20000, 0, false)}, true);
}

// A directory of ten entries (5,320 bytes) whose zlib data fails after its
// first 5,000 bytes, in the second chunk.
TBytes DirectoryFailingAfter5000() {
  return HandBuilt(
      kvtest::ZlibCompress(Data()),
      std::vector<TZLBFileEntry>(10, Entry("victim.bin", 30000, 0, false)), false, nullptr,
      [](const TBytes& Directory) {
        return kvtest::ZlibFailingAfter(TBytes(Directory.begin(), Directory.begin() + 5000));
      });
}

struct TBadInput {
  const char* What;
  std::function<TBytes()> Build;
  const char* Expected;
  // What the failed extraction leaves in Dest: a prefix of Data() of at
  // least this length (and at most all of it, unless AnyLength; exactly this
  // length when Exact).
  std::optional<size_t> Survivor = std::nullopt;
  bool AnyLength = false;
  // Which check raised "File (%d) is corrupt".
  TCorruptCause Cause = TCorruptCause::None;
  // When set: every percentage reported while the directory or the entry
  // was read, in order.
  std::optional<std::vector<int32_t>> Percentages = std::nullopt;
  bool Exact = false;
};

}  // namespace

class BadInputTest : public ReaderTest {
 protected:
  // Reads the archive and extracts every entry into memory; checks the first
  // failure's text and check, the reports, and what the entry that failed
  // left in Dest.
  void Check(const TBadInput& Case) {
    SCOPED_TRACE(Case.What);
    Percentages.clear();
    TMemoryStream Dest;
    std::string Message = "(no exception)";
    TCorruptCause Cause = TCorruptCause::None;
    try {
      Open(Case.Build());
      for (int32_t I = 0; I < int32_t(Entries.size()); ++I) {
        Dest.Clear();
        Extract(I, Dest);
      }
    } catch (const EZLBArchiveError& E) {
      Message = E.Message();
      Cause = E.Cause();
    } catch (const Exception& E) {
      Message = E.Message();
    }
    EXPECT_EQ(Message, Case.Expected);
    EXPECT_EQ(int(Cause), int(Case.Cause)) << "the check that fired";
    if (Case.Percentages) {
      EXPECT_EQ(Percentages, *Case.Percentages);
    }
    if (Case.Survivor) {
      const TBytes& Left = Dest.Bytes();
      EXPECT_GE(Left.size(), *Case.Survivor);
      if (Case.Exact) {
        EXPECT_EQ(Left.size(), *Case.Survivor);
      }
      const size_t Compared = std::min(Left.size(), Data().size());
      if (!Case.AnyLength) {
        EXPECT_LE(Left.size(), Data().size());
      }
      EXPECT_TRUE(std::equal(Left.begin(), Left.begin() + std::min(Compared, *Case.Survivor),
                             Data().begin()));
    }
  }
};

class BadNameTest : public ArchiveTest {
 protected:
  BadNameTest() {
    fs::create_directories(Dir.Path() / "out");
    kvtest::WriteAll(Dir.Path() / "out" / "existing.txt", kvtest::ToBytes("untouched"));
  }

  // Everything in the temporary directory but the archives: the destination
  // "out" and whatever an escaping name would reach around it.
  std::vector<std::pair<std::string, TBytes>> Destination() const {
    auto Files = kvtest::Snapshot(Dir.Path());
    std::erase_if(Files, [](const auto& F) { return F.first.rfind("archive", 0) == 0; });
    return Files;
  }

  // Opens the archive and extracts every entry into out (with or without
  // stored paths); checks the first failure's text and that nothing changed.
  void Check(const TBadInput& Case, bool WithPaths = false) {
    SCOPED_TRACE(Case.What);
    const std::string Name = Write(Case.Build());
    const auto Before = Destination();
    Archive.SetExtractWithPath(WithPaths);
    TCorruptCause Cause = TCorruptCause::None;
    EXPECT_EQ(MessageOf([&] {
                try {
                  Archive.OpenArchive(Name);
                  for (int32_t I = 0; I < Archive.GetFileCount(); ++I)
                    Archive.ExtractFile(Dir.Str() + "\\out\\", I);
                } catch (const EZLBArchiveError& E) {
                  Cause = E.Cause();
                  throw;
                }
              }),
              Case.Expected);
    EXPECT_EQ(int(Cause), int(TCorruptCause::None));
    EXPECT_EQ(Destination(), Before) << "nothing changed";
    Archive.CloseArchive();
  }
};

TEST_F(BadInputTest, ArchivesThatCannotBeOpened) {
  const TBadInput Cases[] = {
      {.What = "trailer missing: the file ends before it",
       .Build =
           [] {
             TBytes A = GoodArchive();
             A.resize(A.size() - 36);
             return A;
           },
       .Expected = "The archive file appears to be corrupted"},
      {.What = "file shorter than a trailer",
       .Build = [] { return kvtest::ToBytes("ZLB? not at all"); },
       .Expected = "The archive file appears to be corrupted"},
      {.What = "damaged byte before the trailer",
       .Build =
           [] {
             TBytes A = GoodArchive();
             A[A.size() - 40] ^= 0x80;
             return A;
           },
       .Expected = "The archive file appears to be corrupted"},
      {.What = "negative FileCount",
       .Build =
           [] { return HandBuilt({}, {}, true, [](TZLBArchiveTrailer& T) { T.FileCount = -1; }); },
       .Expected = "Unable to read archive file list"},
      {.What = "huge FileCount, compressed directory",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              false, [](TZLBArchiveTrailer& T) { T.FileCount = 100000000; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "huge FileCount, raw directory",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              true, [](TZLBArchiveTrailer& T) { T.FileCount = 0x7FFFFFFF; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "negative DirectoryOffset",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              false, [](TZLBArchiveTrailer& T) { T.DirectoryOffset = -532; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "DirectoryOffset past the end, raw",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              true, [](TZLBArchiveTrailer& T) { T.DirectoryOffset = 0x10000000; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "DirectoryOffset past the end, compressed",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              false, [](TZLBArchiveTrailer& T) { T.DirectoryOffset = 0x10000000; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "directory that inflates short",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              false, [](TZLBArchiveTrailer& T) { T.FileCount = 2; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "directory zlib data failing in its second chunk: no report for that chunk",
       .Build = DirectoryFailingAfter5000,
       .Expected = "Unable to read archive file list",
       .Percentages = std::vector<int32_t>{77}},
      {.What = "directory inflating to FileCount records, then more",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()),
                              {Entry("victim.bin", 30000, 0, false), Entry("more", 1, 0, false)},
                              false, [](TZLBArchiveTrailer& T) { T.FileCount = 1; });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "damaged directory that inflates to the full length, check value wrong",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, 0, false)},
                              false, nullptr, [](const TBytes& Directory) {
                                // Stored blocks: one changed byte changes the
                                // names, not the length.
                                uLongf Size = compressBound(uLong(Directory.size()));
                                TBytes Z(Size);
                                compress2(Z.data(), &Size, Directory.data(),
                                          uLong(Directory.size()), 0);
                                Z.resize(Size);
                                Z[8] ^= 0x20;
                                return Z;
                              });
           },
       .Expected = "Unable to read archive file list"},
      {.What = "damaged directory zlib data",
       .Build =
           [] {
             TBytes A = GoodArchive();
             const TZLBArchiveTrailer T = kvtest::TrailerOf(A);
             for (size_t I = 2; I < 10; ++I)
               A[size_t(T.DirectoryOffset) + I] ^= 0x3C;
             kvtest::RecomputeArchiveCRC(A);
             return A;
           },
       .Expected = "Unable to read archive file list"},
  };
  for (const TBadInput& Case : Cases)
    Check(Case);
}

TEST_F(BadInputTest, EntriesWhoseDataIsBroken) {
  using enum TCorruptCause;
  const TBadInput Cases[] = {
      {.What = "negative DataOffset",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 30000, -1, false)},
                              true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 0,
       .Cause = OutsideFile},
      {.What = "stored, DataOffset past the end",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()),
                              {Entry("victim.bin", 30000, 0x7FFF0000, true)}, true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 0,
       .Cause = OutsideFile,
       .Percentages = std::vector<int32_t>{}},
      {.What = "stored entry running past the end of the file",
       .Build = [] { return HandBuilt(Data(), {Entry("victim.bin", 1 << 24, 0, true)}, true); },
       .Expected = "File (0) is corrupt",
       .Survivor = 30000,
       .AnyLength = true,
       .Cause = DataShort},
      {.What = "damaged entry zlib data",
       .Build =
           [] {
             TBytes Z = kvtest::ZlibCompress(Data());
             for (size_t I = Z.size() / 2; I < Z.size() / 2 + 8; ++I)
               Z[I] ^= 0x77;
             return HandBuilt(Z, {Entry("victim.bin", 30000, 0, false)}, true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 4096,
       .Cause = StreamNotEnded},
      {.What = "entry zlib stream ending early",
       .Build =
           [] {
             TBytes Z = kvtest::ZlibCompress(Data());
             Z.resize(Z.size() * 2 / 3);
             return HandBuilt(Z, {Entry("victim.bin", 30000, 0, false)}, true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 4096,
       .Cause = DataShort},
      {.What = "OriginalSize larger than the stream delivers",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 45000, 0, false)},
                              true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 30000,
       .Cause = DataShort},
      {.What = "OriginalSize smaller than the stream delivers",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", 20000, 0, false)},
                              true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 20000,
       .Cause = StreamNotEnded,
       .Exact = true},
      {.What = "check value wrong: the last chunk reaches the failure point",
       .Build =
           [] {
             TBytes Z = kvtest::ZlibCompress(Data());
             Z.back() ^= 0x01;
             return HandBuilt(Z, {Entry("victim.bin", 30000, 0, false)}, true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 28672,
       .Cause = ChunkFailed,
       .Percentages = std::vector<int32_t>{14, 27, 41, 55, 68, 82, 96},
       .Exact = true},
      {.What = "negative OriginalSize",
       .Build =
           [] {
             return HandBuilt(kvtest::ZlibCompress(Data()), {Entry("victim.bin", -5, 0, false)},
                              true);
           },
       .Expected = "File (0) is corrupt",
       .Survivor = 0,
       .Cause = OutsideFile},
      {.What = "stored, negative OriginalSize",
       .Build = [] { return HandBuilt(Data(), {Entry("victim.bin", -5, 0, true)}, true); },
       .Expected = "File (0) is corrupt",
       .Survivor = 0,
       .Cause = OutsideFile,
       .Percentages = std::vector<int32_t>{}},
      // The read that meets the failure point raises: its chunk is neither
      // reported nor written, the chunks before it are.
      {.What = "zlib failing in the third chunk",
       .Build = [] { return FailingAfter(10000); },
       .Expected = "File (0) is corrupt",
       .Survivor = 8192,
       .Cause = ChunkFailed,
       .Percentages = std::vector<int32_t>{20, 41},
       .Exact = true},
      {.What = "zlib failing right at the end of the second chunk",
       .Build = [] { return FailingAfter(8192); },
       .Expected = "File (0) is corrupt",
       .Survivor = 4096,
       .Cause = ChunkFailed,
       .Percentages = std::vector<int32_t>{20},
       .Exact = true},
      {.What = "zlib failing in the first chunk",
       .Build = [] { return FailingAfter(100); },
       .Expected = "File (0) is corrupt",
       .Survivor = 0,
       .Cause = ChunkFailed,
       .Percentages = std::vector<int32_t>{},
       .Exact = true},
  };
  for (const TBadInput& Case : Cases)
    Check(Case);
}

// Names that Windows cannot create or that leave the destination are refused
// before anything is created.
TEST_F(BadNameTest, EntryNamesThatAreNoPlainFileName) {
  const std::vector<std::string> Names = {"",
                                          ".",
                                          "..",
                                          "..\\victim.bin",
                                          "sub\\victim.bin",
                                          "../victim.bin",
                                          "C:victim.bin",
                                          "victim.bin:stream",
                                          "vic*tim",
                                          "vic?tim",
                                          "vic\"tim",
                                          "vic<tim",
                                          "vic>tim",
                                          "vic|tim",
                                          std::string("vic\0tim", 7),
                                          "vic\ttim",
                                          "vic\x1Ftim",
                                          "victim ",
                                          "victim.",
                                          "CON",
                                          "con",
                                          "PRN.txt",
                                          "AUX",
                                          "NUL.bin",
                                          "COM1",
                                          "com5.log",
                                          "COM9",
                                          "LPT1",
                                          "Lpt7.doc",
                                          "LPT9",
                                          "CON .txt",
                                          "COM0",
                                          "lpt0.txt",
                                          "COM\xB9",
                                          "com\xB2.log",
                                          "LPT\xB3",
                                          "COM\xC2\xB9",
                                          "lpt\xC2\xB2.txt",
                                          "COM\xC2\xB3 .x",
                                          "CONIN$",
                                          "conout$.txt",
                                          "CONOUT$ .x"};
  for (const std::string& Name : Names) {
    Check({.What = Name.c_str(),
           .Build =
               [&] {
                 return HandBuilt(kvtest::ZlibCompress(Data()), {Entry(Name, 30000, 0, false)},
                                  true);
               },
           .Expected = "File (0) has an invalid name"});
  }
  for (const char* Good : {"COM10", "COM\xB4", "LPT\xB9\xB9", "CONIN", "CONIN$$", "CONSOLE", "LPT",
                           "a..b", ".hidden", "x y", "\xE4"})
    EXPECT_TRUE(IsSafeEntryName(Good)) << Good;
}

TEST_F(BadNameTest, StoredPathsThatLeaveTheDestination) {
  const std::vector<std::string> Paths = {"..\\",         "a\\..\\..\\", "\\..",      "../up/",
                                          "x\\...\\",     "x\\.. \\",    "C:\\abs\\", "C:rel\\",
                                          "sub:stream\\", "ctl\x01\\"};
  for (const std::string& Path : Paths) {
    Check({.What = Path.c_str(),
           .Build =
               [&] {
                 return HandBuilt(kvtest::ZlibCompress(Data()),
                                  {Entry("victim.bin", 30000, 0, false, Path)}, true);
               },
           .Expected = "Unable to create destination path"},
          true);
  }
  for (const char* Good : {"", "\\", "sub\\", "\\a\\\\b\\", "a..b\\", ".x\\", "...x\\"})
    EXPECT_TRUE(IsSafeEntryPath(Good)) << Good;
}

// Names and paths are walked by character in the ANSI code page. In code
// page 932 a lead byte and its trail byte are one character, which is
// never a separator even when the trail byte is "\\" or "|"; bytes that are
// no character there make an invalid name. Elsewhere, and on POSIX, every
// byte counts alone.
TEST(EntryNames, AreWalkedByCharacterInTheAnsiCodePage) {
  const bool DoubleByte = kvtest::AnsiCodePage() == kvtest::JapaneseCodePage;
  const struct {
    const char* What;
    std::string Text;
    bool SafeByByte;
    bool SafeIn932;
  } Names[] = {
      {.What = "katakana so, fu, to",
       .Text = "\x83\x5C\x83\x74\x83\x67.txt",
       .SafeByByte = false,
       .SafeIn932 = true},
      {.What = "kanji hyou", .Text = "\x95\x5C", .SafeByByte = false, .SafeIn932 = true},
      {.What = "katakana po", .Text = "\x83\x7C.txt", .SafeByByte = false, .SafeIn932 = true},
      {.What = "lead byte at the end", .Text = "a\x83", .SafeByByte = true, .SafeIn932 = false},
      {.What = "lead byte before a blank",
       .Text = "\x83\x20x",
       .SafeByByte = true,
       .SafeIn932 = false},
      {.What = "kanji then a trailing full stop",
       .Text = "\x95\x5C.",
       .SafeByByte = false,
       .SafeIn932 = false},
      {.What = "a device with a kanji extension",
       .Text = "NUL.\x95\x5C",
       .SafeByByte = false,
       .SafeIn932 = false},
  };
  for (const auto& Row : Names)
    EXPECT_EQ(IsSafeEntryName(Row.Text), DoubleByte ? Row.SafeIn932 : Row.SafeByByte) << Row.What;
  const struct {
    const char* What;
    std::string Text;
    bool SafeByByte;
    bool SafeIn932;
  } Paths[] = {
      {.What = "kanji folder", .Text = "\x95\x5C\\", .SafeByByte = true, .SafeIn932 = true},
      {.What = "so followed by two dots",
       .Text = "\x83\x5C..\\",
       .SafeByByte = false,
       .SafeIn932 = true},
      {.What = "dots after a kanji folder",
       .Text = "\x95\x5C\\..\\",
       .SafeByByte = false,
       .SafeIn932 = false},
      {.What = "lead byte at the end", .Text = "sub\\\x83", .SafeByByte = true, .SafeIn932 = false},
  };
  for (const auto& Row : Paths)
    EXPECT_EQ(IsSafeEntryPath(Row.Text), DoubleByte ? Row.SafeIn932 : Row.SafeByByte) << Row.What;
}
