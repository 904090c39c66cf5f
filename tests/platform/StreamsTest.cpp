// Streams: read/write semantics, file open modes and their failure texts.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

#include "FailingSystem.h"
#include "TestSupport.h"
#include "konvoro/Environment.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Files.h"
#include "konvoro/RangeStream.h"
#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLIBArchive.h"

#ifdef _WIN32
#include <windows.h>
#undef GetEnvironmentVariable  // windows.h's names for the ANSI calls
#undef GetModuleFileName

#include <cstring>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

using namespace kv;
using kvtest::MessageOf;

namespace {

// Stores at most Limit bytes in all, then nothing: a disk that fills up.
class TFillingStream : public TMemoryStream {
 public:
  explicit TFillingStream(int32_t Limit) : FLeft(Limit) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t N = std::min(Count, FLeft);
    FLeft -= N;
    return TMemoryStream::Write(Buffer, N);
  }

 private:
  int32_t FLeft;
};

// Makes Link a symbolic link that leads to Target. Under Wine, which makes
// none through CreateSymbolicLink, the Unix ln makes it, as Wine maps both
// names.
bool MakeLink(const std::string& Target, const std::string& Link) {
#ifdef _WIN32
  using TGetUnixFileName = char*(__cdecl*)(const wchar_t*);
  const FARPROC Proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (Proc == nullptr) return false;
  TGetUnixFileName GetUnixFileName;
  std::memcpy(&GetUnixFileName, &Proc, sizeof Proc);
  const auto Unix = [&](const std::string& Path) {
    const std::wstring Wide(Path.begin(), Path.end());  // the test's names are ASCII
    char* Name = GetUnixFileName(Wide.c_str());
    const std::string Out = Name != nullptr ? Name : "";
    HeapFree(GetProcessHeap(), 0, Name);
    return Out;
  };
  std::string CommandLine = "\"/bin/ln\" -s \"" + Unix(Target) + "\" \"" + Unix(Link) + "\"";
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process{};
  if (!CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &Startup, &Process))
    return false;
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  // A Unix process's handle tells Wine nothing of its end: the link tells.
  for (int Tries = 0; Tries < 100; ++Tries, Sleep(50)) {
    const std::wstring Wide(Link.begin(), Link.end());
    WIN32_FIND_DATAW Found;
    const HANDLE Search = FindFirstFileW(Wide.c_str(), &Found);
    if (Search != INVALID_HANDLE_VALUE) {
      FindClose(Search);
      return true;
    }
  }
  return false;
#else
  return ::symlink(Target.c_str(), Link.c_str()) == 0;
#endif
}

}  // namespace

TEST(MemoryStream, ReadsDeliverWhatIsThereAndNeverRaise) {
  TMemoryStream S;
  S.WriteBuffer("abcdef", 6);
  char Buf[8] = {};
  EXPECT_EQ(S.Read(Buf, 4), 0) << "position is at the end after writing";
  S.SetPosition(2);
  EXPECT_EQ(S.Read(Buf, 8), 4);
  EXPECT_EQ(std::string(Buf, 4), "cdef");
  EXPECT_EQ(S.Read(Buf, 8), 0);
  EXPECT_EQ(S.Seek(-1, TSeekOrigin::soBeginning), -1) << "a seek before the start fails";
  EXPECT_EQ(S.GetPosition(), 6) << "and leaves the position alone";
  EXPECT_EQ(S.Seek(-2, TSeekOrigin::soEnd), 4);
}

// The window on a stream that updaters' payloads are read through.
TEST(RangeStream, ReadsSeeksAndSizesRelativeToItsWindow) {
  const std::string Bytes = "0123456789";
  auto Base = std::make_unique<TReadOnlyMemoryStream>(Bytes.data(), int64_t(Bytes.size()));
  TReadOnlyMemoryStream* Shared = Base.get();
  TRangeStream Window(std::move(Base), 3, 4);
  char Buf[16] = {};
  EXPECT_EQ(Window.GetSize(), 4);
  EXPECT_EQ(Window.Read(Buf, 16), 4) << "a read stops at the window's end";
  EXPECT_EQ(std::string(Buf, 4), "3456");
  EXPECT_EQ(Window.Read(Buf, 16), 0);
  // Whoever else moves the base (a shared file position) does not matter.
  EXPECT_EQ(Window.Seek(-3, TSeekOrigin::soEnd), 1);
  Shared->Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(Window.Read(Buf, 2), 2);
  EXPECT_EQ(std::string(Buf, 2), "45");
  EXPECT_EQ(Window.Seek(-4, TSeekOrigin::soCurrent), -1) << "no seek before the window";
  EXPECT_EQ(Window.GetPosition(), 3);
  EXPECT_EQ(Window.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(Window.Read(Buf, 1), 0) << "beyond the end reads nothing";
  EXPECT_EQ(Window.Write("x", 1), 0);

  // A window reaching past its base delivers what the base has.
  TRangeStream Tail(std::make_unique<TReadOnlyMemoryStream>(Bytes.data(), int64_t(Bytes.size())), 8,
                    5);
  EXPECT_EQ(Tail.Read(Buf, 16), 2);
  EXPECT_EQ(Tail.Read(Buf, 16), 0);
}

// A seek whose target would overflow fails and leaves the position alone,
// whatever the stream.
TEST(Stream, SeeksThatWouldOverflowFailAndLeaveThePosition) {
  const std::string Bytes = "0123456789";
  const auto Memory = [&] {
    auto S = std::make_unique<TMemoryStream>();
    S->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
    return S;
  };
  const auto ReadOnly = [&] {
    return std::make_unique<TReadOnlyMemoryStream>(Bytes.data(), int64_t(Bytes.size()));
  };
  const struct {
    const char* What;
    std::function<std::unique_ptr<TStream>()> Make;
  } Streams[] = {
      {.What = "memory", .Make = Memory},
      {.What = "read-only memory", .Make = ReadOnly},
      {.What = "a window",
       .Make = [&] { return std::make_unique<TRangeStream>(ReadOnly(), 3, 4); }},
  };
  constexpr int64_t Max = std::numeric_limits<int64_t>::max();
  constexpr int64_t Min = std::numeric_limits<int64_t>::min();
  for (const auto& Row : Streams) {
    const std::unique_ptr<TStream> S = Row.Make();
    ASSERT_EQ(S->Seek(1, TSeekOrigin::soBeginning), 1) << Row.What;
    EXPECT_EQ(S->Seek(Max, TSeekOrigin::soCurrent), -1) << Row.What;
    EXPECT_EQ(S->Seek(Max, TSeekOrigin::soEnd), -1) << Row.What;
    EXPECT_EQ(S->Seek(Min, TSeekOrigin::soCurrent), -1) << Row.What;
    EXPECT_EQ(S->GetPosition(), 1) << Row.What;
  }
}

TEST(Stream, ShortWriteRaisesStreamWriteError) {
  TFillingStream S(5);
  S.WriteBuffer("abc", 3);
  EXPECT_EQ(MessageOf([&] { S.WriteBuffer("defg", 4); }), "Stream write error");
  EXPECT_THROW(S.WriteBuffer("x", 1), EWriteError);
}

TEST(Stream, ShortReadBufferRaisesStreamReadError) {
  TReadOnlyMemoryStream S("abc", 3);
  char Buf[4];
  EXPECT_EQ(MessageOf([&] { S.ReadBuffer(Buf, 4); }), "Stream read error");
}

TEST(FileStream, CreateTruncatesAndOpenReadsBack) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "f.bin";
  kvtest::WriteAll(Name, kvtest::TBytes(1000, 7));
  {
    TFileStream Out(Name, fmCreate);
    Out.WriteBuffer("hello", 5);
  }
  TFileStream In(Name, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(In.GetSize(), 5);
  char Buf[16];
  EXPECT_EQ(In.Read(Buf, 16), 5);
  EXPECT_EQ(In.Read(Buf, 16), 0);
  EXPECT_EQ(In.Write("x", 1), 0) << "a file opened for reading stores nothing";
  EXPECT_EQ(In.Seek(-100, TSeekOrigin::soEnd), -1);
  EXPECT_EQ(In.GetPosition(), 5);
}

TEST(FileStream, FailuresNameTheExpandedFileAndTheSystemReason) {
  kvtest::TTempDir Dir;
  const std::string Missing = (Dir.Path() / "no-such-dir" / "x.bin").string();
  const std::string Create = MessageOf([&] { TFileStream S(Missing, fmCreate); });
  const std::string Prefix = "Cannot create file \"" + ExpandFileName(Missing) + "\". ";
  ASSERT_EQ(Create.substr(0, Prefix.size()), Prefix);
  EXPECT_GT(Create.size(), Prefix.size()) << "the system's description follows";
  EXPECT_NE(Create.back(), '.') << "no trailing full stop: the dialog adds its own";
  EXPECT_NE(Create.back(), '\n');

  const std::string Open =
      MessageOf([&] { TFileStream S(Missing, fmOpenRead | fmShareDenyWrite); });
  EXPECT_EQ(Open.rfind("Cannot open file \"" + ExpandFileName(Missing) + "\". ", 0), 0u) << Open;
  EXPECT_THROW(TFileStream(Missing, fmCreate), EFCreateError);
}

TEST(FileHandle, MovingHandsTheFileOverAndOnlyTheLastOwnerClosesIt) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "owned.bin";
  kvtest::WriteAll(Name, kvtest::ToBytes("data"));
  TFileHandle Second;
  {
    TErrorOr<TFileHandle> Opened = FileOpen(Name, fmOpenRead | fmShareDenyWrite);
    ASSERT_TRUE(Opened);
    TFileHandle First = std::move(*Opened);
    Second = std::move(First);
    EXPECT_FALSE(First);  // NOLINT(bugprone-use-after-move): the moved-from state is tested
  }
  EXPECT_FALSE(kvtest::NotHeldOpen(Name)) << "the moved-from owner closed nothing";
  Second.Reset();
  EXPECT_TRUE(kvtest::NotHeldOpen(Name));
  EXPECT_FALSE(FileOpen(Dir / "missing.bin", fmOpenRead | fmShareDenyWrite));
}

TEST(FileStream, DirectoryIsNotAFileToOpen) {
  kvtest::TTempDir Dir;
  EXPECT_THROW(TFileStream(Dir.Str(), fmOpenRead | fmShareDenyWrite), EFOpenError);
  EXPECT_FALSE(FileExists(Dir.Str()));
  EXPECT_TRUE(DirectoryExists(Dir.Str()));
}

#ifdef _WIN32
TEST(FileStream, ShareModesAreEnforcedOnWindows) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "shared.bin";
  kvtest::WriteAll(Name, kvtest::ToBytes("data"));
  {
    TFileStream Reader(Name, fmOpenRead | fmShareDenyWrite);
    // Others may read along, but not write or recreate.
    EXPECT_NO_THROW(TFileStream(Name, fmOpenRead | fmShareDenyWrite));
    EXPECT_THROW(TFileStream(Name, fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(Name, fmOpenReadWrite | fmShareDenyNone), EFOpenError);
  }
  {
    TFileStream Writer(Name, fmCreate);
    // An unshared file cannot be opened again, not even for reading.
    EXPECT_THROW(TFileStream(Name, fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
}
#endif

// A file opened for reading alone must be a file on a disk: what would be
// waited on (a FIFO, a pipe) is refused at once, never read.
TEST(FileHandle, ReadingRefusesAnythingButAFileOnADisk) {
  kvtest::TTempDir Dir;
#ifdef _WIN32
  const std::string Pipe = "\\\\.\\pipe\\kvtest-" + std::to_string(GetCurrentProcessId());
  const std::wstring WidePipe(Pipe.begin(), Pipe.end());
  // One instance for each open below.
  HANDLE Servers[2];
  for (HANDLE& Server : Servers) {
    Server = CreateNamedPipeW(WidePipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                              PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    ASSERT_NE(Server, INVALID_HANDLE_VALUE);
  }
  const auto CloseServers = kv::ScopeExit([&] {
    for (const HANDLE Server : Servers)
      CloseHandle(Server);
  });
#else
  const std::string Pipe = Dir / "fifo";
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0600), 0);
#endif
  const TErrorOr<TFileHandle> Opened = FileOpen(Pipe, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(Opened.Error(), std::errc::invalid_argument);
  EXPECT_EQ(MessageOf([&] { TFileStream S(Pipe, fmOpenRead | fmShareDenyWrite); }),
            "Cannot open file \"" + ExpandFileName(Pipe) + "\". " + Opened.Error().message());
}

// What stands at a name in a folder held open is seen as it stands: a link
// is a link, never what it leads to, and is never opened as a folder.
// Wine tells a link from what it leads to only when it leads to a folder;
// the other links are seen on POSIX alone.
TEST(HeldFolder, NamesAreSeenAndFoldersOpenedWithoutFollowingLinks) {
  kvtest::TTempDir Dir;
  ASSERT_FALSE(CreateDir(Dir / "folder"));
  kvtest::WriteAll(Dir / "file", kvtest::ToBytes("12345"));
  ASSERT_TRUE(MakeLink(Dir / "folder", Dir / "to-folder"));
#ifndef _WIN32
  ASSERT_TRUE(MakeLink(Dir / "file", Dir / "to-file"));
  ASSERT_TRUE(MakeLink(Dir / "missing", Dir / "dangling"));
#endif
  const struct {
    const char* Name;
    TFileKind Kind;
    std::errc OpenAsFolder;  // std::errc() when it opens
    TFileKind Target;        // as a listing sees it through a link
    int64_t Size;
  } Rows[] = {
      {"folder", TFileKind::Directory, std::errc(), TFileKind::None, 0},
      {"file", TFileKind::File, std::errc::not_a_directory, TFileKind::None, 5},
      {"to-folder", TFileKind::Link, std::errc::too_many_symbolic_link_levels, TFileKind::Directory,
       0},
#ifndef _WIN32
      {"to-file", TFileKind::Link, std::errc::too_many_symbolic_link_levels, TFileKind::File, 5},
      {"dangling", TFileKind::Link, std::errc::too_many_symbolic_link_levels, TFileKind::None, 0},
#endif
  };
  TErrorOr<TFileHandle> Held = DirectoryOpen(Dir.Str());
  ASSERT_TRUE(Held);
  TErrorOr<std::vector<TDirectoryEntry>> Listed = ListDirectory(Dir.Str());
  ASSERT_TRUE(Listed);
  ASSERT_EQ(Listed->size(), std::size(Rows));
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    TErrorOr<TNameInfo> Info = NameInfoIn(*Held, Row.Name);
    ASSERT_TRUE(Info);
    EXPECT_EQ(Info->Kind, Row.Kind);
    TErrorOr<TFileHandle> Folder = DirectoryOpenIn(*Held, Row.Name, true);
    EXPECT_EQ(Folder.Error(), Row.OpenAsFolder);
    if (Folder) {
      TErrorOr<TFileIdentity> Identity = FileIdentityOf(*Folder);
      ASSERT_TRUE(Identity);
      EXPECT_EQ(*Identity, Info->Identity) << "the very folder of that name";
    }
    const auto Entry = std::find_if(Listed->begin(), Listed->end(),
                                    [&](const TDirectoryEntry& E) { return E.Name == Row.Name; });
    ASSERT_NE(Entry, Listed->end());
    EXPECT_EQ(Entry->Kind, Row.Kind);
    EXPECT_EQ(Entry->Target, Row.Target);
    EXPECT_EQ(Entry->Size, Row.Size);
  }
  TErrorOr<TNameInfo> Missing = NameInfoIn(*Held, "missing");
  ASSERT_TRUE(Missing);
  EXPECT_EQ(Missing->Kind, TFileKind::None);
  EXPECT_EQ(DirectoryOpenIn(*Held, "missing", false).Error(), std::errc::no_such_file_or_directory);
  EXPECT_TRUE(DirectoryOpenIn(*Held, "made", true)) << "made when nothing stands there";
  EXPECT_TRUE(DirectoryExists(Dir / "made"));
  TErrorOr<TPathInfo> Through = PathInfo(Dir / "to-folder");
  ASSERT_TRUE(Through);
  EXPECT_EQ(Through->Kind, TFileKind::Directory) << "a path is followed";
}

#ifdef _WIN32
// In UTF-8, every name is one: also one that no ANSI code page has, made,
// opened, listed and handed back under its very characters.
TEST(PathEncoding, Utf8NamesOutsideTheAnsiCodePageAreTheirOwn) {
  kvtest::TTempDir Dir;
  SetPathEncoding(TPathEncoding::Utf8);
  const auto Restore = kv::ScopeExit([] { SetPathEncoding(TPathEncoding::Ansi); });
  // "Łódź Привет ソ.txt": Polish, Russian and Japanese at once.
  const std::string Name =
      "\xC5\x81\xC3\xB3\x64\xC5\xBA \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
      "\xE3\x82\xBD.txt";
  const std::string Path = Dir.Str() + "\\" + Name;
  {
    TFileStream Out(Path, fmCreate);
    Out.WriteBuffer("utf8", 4);
  }
  const std::wstring Wide = Dir.Path().wstring() +
                            L"\\\u0141\u00F3d\u017A "
                            L"\u041F\u0440\u0438\u0432\u0435\u0442 \u30BD.txt";
  EXPECT_NE(GetFileAttributesW(Wide.c_str()), INVALID_FILE_ATTRIBUTES) << "made under that name";
  TFileStream In(Path, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(In.GetSize(), 4);
  TErrorOr<std::vector<TDirectoryEntry>> Listed = ListDirectory(Dir.Str());
  ASSERT_TRUE(Listed);
  ASSERT_EQ(Listed->size(), 1u);
  EXPECT_EQ(Listed->front().Name, Name);
  EXPECT_EQ(ExpandFileName(Path), Path);
  EXPECT_EQ(FileOpen(Dir.Str() + "\\\xC3(", fmOpenRead | fmShareDenyWrite).Error(),
            OSError(ERROR_INVALID_NAME))
      << "bytes that are no UTF-8";
}
#endif

TEST(Paths, PathHelpers) {
  EXPECT_EQ(ExtractFilePath("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(ExtractFilePath("C:b.exe"), "C:");
  EXPECT_EQ(ExtractFilePath("b.exe"), "");
  EXPECT_EQ(ExtractFileName("C:\\a\\b.exe"), "b.exe");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\T"), "C:\\T\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\T\\"), "C:\\T\\");
}

// Paths are walked by character in the ANSI code page: in code page 932
// "\x95\x5C" is one character, the kanji hyou, whose second byte is "\\".
TEST(Paths, PathHelpersWalkByCharacterInTheAnsiCodePage) {
  const bool DoubleByte = kvtest::AnsiCodePage() == kvtest::JapaneseCodePage;
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\\x95\x5C"),
            DoubleByte ? "C:\\\x95\x5C\\" : "C:\\\x95\x5C");
  EXPECT_EQ(ExtractFilePath("C:\\a\\\x95\x5C.exe"), DoubleByte ? "C:\\a\\" : "C:\\a\\\x95\x5C");
  EXPECT_EQ(ExtractFileName("C:\\a\\\x95\x5C.exe"), DoubleByte ? "\x95\x5C.exe" : ".exe");
  EXPECT_EQ(EndsWithPathDelimiter("\x95\x5C"), !DoubleByte);
}

TEST(Paths, ForceDirectoriesCreatesTheChain) {
  kvtest::TTempDir Dir;
  const std::string Deep = Dir.Str() + "\\a\\b\\c\\";
  EXPECT_FALSE(ForceDirectories(Deep));
  EXPECT_TRUE(DirectoryExists(Dir.Str() + "\\a\\b\\c"));
  EXPECT_FALSE(ForceDirectories(Deep)) << "existing chains are fine";
  EXPECT_EQ(MessageOf([] { (void)ForceDirectories(""); }), "Unable to create directory");
  // A file in the way of a folder, as mkdir -p says.
  kvtest::WriteAll(Dir / "file", kvtest::ToBytes("in the way"));
  EXPECT_EQ(ForceDirectories(Dir / "file" + "\\sub"), std::errc::not_a_directory);
  kvtest::WriteAll(Dir / "file", {});
  EXPECT_TRUE(ForceDirectories(Dir.Str() + "\\file\\sub")) << "a file in the way";
}

TEST(BufferedFileStream, GathersWritesAndWritesThemOutWhenAskedOrClosed) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "b.bin";
  const kvtest::TBytes Data = kvtest::PatternBytes(10000, 3);
  kvtest::WriteAll(Name, {});
  {
    // Shared, so that the test can look at the file while it is open.
    TBufferedFileStream Out(Name, fmOpenReadWrite | fmShareDenyNone, 4096);
    Out.WriteBuffer(Data.data(), 3000);
    EXPECT_EQ(kvtest::ReadAll(Name).size(), 0u) << "still gathered";
    Out.WriteBuffer(Data.data() + 3000, 3000);  // overflows: the first 3000 go out
    EXPECT_EQ(kvtest::ReadAll(Name).size(), 3000u);
    EXPECT_EQ(Out.GetPosition(), 6000) << "a seek writes everything out first";
    Out.WriteBuffer(Data.data() + 6000, 4000);  // as large as the buffer: straight through
    Out.WriteBuffer(Data.data() + 10000 - 1, 0);
    Out.SetPosition(0);
    kvtest::TBytes Back(10000);
    EXPECT_EQ(Out.Read(Back.data(), 10000), 10000);
    EXPECT_EQ(Back, Data);
    Out.SetPosition(10000);
    Out.WriteBuffer("tail", 4);
  }
  kvtest::TBytes Expected = Data;
  for (char C : std::string("tail"))
    Expected.push_back(uint8_t(C));
  EXPECT_EQ(kvtest::ReadAll(Name), Expected) << "closing wrote the rest";
}

TEST(BufferedFileStream, FailedWriteOutIsReportedByFlushAndKeepsTheBytes) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "f.bin";
  kvtest::WriteAll(Name, {});
  TBufferedFileStream Out(Name, fmOpenReadWrite | fmShareDenyNone, 4096);
  Out.WriteBuffer("abc", 3);
  {
    const kvtest::TFailingSystem Failing(1);  // the next file call, the write, fails
    EXPECT_EQ(MessageOf([&] { Out.Flush(); }), "Stream write error");
    EXPECT_EQ(Failing.Failed(), kvtest::TFileCall::Write);
    EXPECT_EQ(Out.Seek(0, TSeekOrigin::soCurrent), 3) << "the failure struck once";
  }
  Out.Flush();
  EXPECT_EQ(kvtest::ReadAll(Name), kvtest::ToBytes("abc"));
}

// The folder is held before the new file is made in it: a path turned
// elsewhere meanwhile leads the file nowhere else, neither when it is made
// nor when it takes its name.
TEST(ReplacingFileStream, PathTurnedBeforeTheFileIsMadeLeavesItInTheFolderHeld) {
  kvtest::TTempDir Dir;
  const std::string Folder = Dir / "folder", Held = Dir / "held";
  ASSERT_FALSE(CreateDir(Folder));
  {
    // Just before the second open (the first holds the folder).
    const kvtest::TFailingSystem Turn(
        kvtest::TFileCall::Open,
        [&] {
          EXPECT_FALSE(RenameFile(Folder, Held));
          EXPECT_FALSE(CreateDir(Folder));
        },
        2);
    TReplacingFileStream Out(Folder + "\\f.dat");
    Out.WriteBuffer("held", 4);
    (void)Out.Commit();
  }
  EXPECT_EQ(kvtest::ReadAll(Dir.Path() / "held" / "f.dat"), kvtest::ToBytes("held"));
  EXPECT_TRUE(kvtest::Snapshot(Folder).empty());
}

// Each file call that fails for a reason of its own: what reaches the caller
// names that reason, not one that a later call (a probe, an existence test,
// a cleanup) left behind. The codes differ from what those later calls
// would leave.
TEST(FailingCalls, TheReasonIsThatOfTheCallThatFailed) {
  using kvtest::TFileCall;
#ifdef _WIN32
  constexpr int Refused = ERROR_WRITE_PROTECT, NotReady = ERROR_NOT_READY,
                Locked = ERROR_LOCK_VIOLATION, Unreadable = ERROR_CRC;
#else
  constexpr int Refused = EROFS, NotReady = EACCES, Locked = EXDEV, Unreadable = EIO;
#endif
  kvtest::TTempDir Dir;
  const std::string Existing = Dir / "existing.bin", Staged = Dir / "staged.dat",
                    Archive = Dir / "archive.zlb";
  kvtest::WriteAll(Existing, kvtest::ToBytes("data"));
  kvtest::WriteAll(Archive, kvtest::BuildArchive({{"a.bin", kvtest::PatternBytes(3000, 1)}}));
  // The component's texts stay as they are; the reason rides along.
  const auto Described = [](const std::function<void()>& Statement) {
    return kvtest::DescriptionOf(Statement);
  };
  const auto Text = [](const char* Format, const std::string& Name, int Code) {
    return std::string(Format) + " \"" + ExpandFileName(Name) + "\". " + SysErrorMessage(Code);
  };
  const struct {
    const char* Label;
    TFileCall Call;
    int Code;
    std::function<std::string()> Fail;
    std::string Expected;
    uint64_t Nth = 1;
  } Rows[] = {
      {.Label = "a file created",
       .Call = TFileCall::Open,
       .Code = Refused,
       .Fail = [&] { return MessageOf([&] { TFileStream S(Dir / "new.bin", fmCreate); }); },
       .Expected = Text("Cannot create file", Dir / "new.bin", Refused)},
      {.Label = "a file opened",
       .Call = TFileCall::Open,
       .Code = NotReady,
       .Fail =
           [&] {
             return MessageOf([&] { TFileStream S(Existing, fmOpenRead | fmShareDenyWrite); });
           },
       .Expected = Text("Cannot open file", Existing, NotReady)},
      {.Label = "a new file moved into place",
       .Call = TFileCall::Replace,
       .Code = Locked,
       .Fail = [&] { return MessageOf([&] { TReplacingFileStream(Staged).Commit(); }); },
       .Expected = Text("Cannot create file", Staged, Locked)},
      {.Label = "a name nobody can foresee",
       .Call = TFileCall::Random,
       .Code = Locked,
       .Fail = [&] { return MessageOf([&] { TReplacingFileStream S(Staged); }); },
       .Expected = Text("Cannot create file", Staged, Locked)},
      {.Label = "a directory chain",
       .Call = TFileCall::CreateDir,
       .Code = Refused,
       .Fail = [&] { return ForceDirectories(Dir / "a" + "\\b").message(); },
       .Expected = SysErrorMessage(Refused)},
      {.Label = "a file renamed",
       .Call = TFileCall::Replace,
       .Code = NotReady,
       .Fail = [&] { return RenameFile(Existing, Dir / "renamed.bin").message(); },
       .Expected = SysErrorMessage(NotReady)},
      {.Label = "an archive opened",
       .Call = TFileCall::Open,
       .Code = NotReady,
       .Fail = [&] { return Described([&] { TZLBArchive().OpenArchive(Archive); }); },
       .Expected = "Unable to open file (" + Archive + ") (" +
                   Text("Cannot open file", Archive, NotReady) + ")"},
      {.Label = "an archive read",
       .Call = TFileCall::Read,
       .Code = Unreadable,
       .Fail = [&] { return Described([&] { TZLBArchive().OpenArchive(Archive); }); },
       .Expected =
           "The archive file appears to be corrupted (" + SysErrorMessage(Unreadable) + ")"},
      // After the three reads of opening: the CRC, the trailer, the directory.
      {.Label = "an entry read",
       .Call = TFileCall::Read,
       .Code = Unreadable,
       .Fail =
           [&] {
             return Described([&] {
               TZLBArchive Reader;
               Reader.OpenArchive(Archive);
               TMemoryStream Out;
               Reader.ExtractToStream(0, Out);
             });
           },
       .Expected = "File (0) is corrupt (" + SysErrorMessage(Unreadable) + ")",
       .Nth = 4},
  };
  for (const auto& Row : Rows) {
    const kvtest::TFailingSystem Failing(Row.Call, Row.Code, Row.Nth);
    EXPECT_EQ(Row.Fail(), Row.Expected) << Row.Label;
    EXPECT_EQ(Failing.Failed(), Row.Call) << Row.Label;
  }
  EXPECT_EQ(kvtest::Snapshot(Dir.Path()).size(), 2u) << "nothing made, nothing left behind";
}
