// The writer: entries added many at once, on any number of threads, give
// the bytes of entries added one by one; the first failing entry's failure
// is raised (a failed read with its reason, never as the end of the data),
// with nothing of the entries after it written; events come in entry order
// on the calling thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <thread>

#include "FailingStream.h"
#include "TestSupport.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/zlb/ArchiveMessages.h"

using namespace kv;
using kvtest::TBytes;
using kvtest::TTestEntry;

namespace {

// How entries are added: one by one with AddEntry, or with AddEntries on
// this many threads.
struct TWay {
  std::optional<unsigned> Threads;
  std::string Name() const {
    return Threads ? "AddEntries on " + std::to_string(*Threads) + " threads" : "AddEntry";
  }
};
const TWay OneByOne{};
const std::vector<TWay> ManyAtOnce = {{1}, {2}, {7}};

// Many small entries and a few large: entries after a large one wait their
// turn, and the second large one outgrows what two threads hold back.
const std::vector<TTestEntry>& Release() {
  static const std::vector<TTestEntry> Entries = [] {
    std::vector<TTestEntry> All = {{"first.bin", kvtest::PatternBytes(3 << 20, 1)}};
    for (uint32_t I = 0; I < 150; ++I) {
      All.push_back({"small" + std::to_string(I) + ".txt", kvtest::PatternBytes(I * 97 % 7000, I),
                     I % 4 == 0 ? "sub\\" : ""});
      if (I == 40) All.push_back({"held.bin", kvtest::PatternBytes(12 << 20, 2)});
      if (I == 90) All.push_back({"empty", {}});
    }
    All.push_back({"last.bin", kvtest::PatternBytes(1 << 20, 3)});
    return All;
  }();
  return Entries;
}

// A few entries of several reads each, for the failures.
const std::vector<TTestEntry>& SmallRelease() {
  static const std::vector<TTestEntry> Entries = [] {
    std::vector<TTestEntry> All;
    for (uint32_t I = 0; I < 12; ++I)
      All.push_back({"e" + std::to_string(I), kvtest::PatternBytes(100000 + I * 30000, 50 + I)});
    return All;
  }();
  return Entries;
}

// A source whose reads Plan counts and fails one of.
class TFailingSource : public TStream {
 public:
  TFailingSource(const TBytes& Data, uint64_t FailAt)
      : FMemory(Data.data(), int64_t(Data.size())), FPlan(FailAt), FFailing(FMemory, FPlan) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    const int32_t Got = FFailing.Read(Buffer, Count);
    SetError(FFailing.Error());
    return Got;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    return FFailing.Seek(Offset, Origin);
  }
  uint64_t Reads() const { return FPlan.Count(); }

 private:
  TReadOnlyMemoryStream FMemory;
  kvtest::TFaultPlan FPlan;
  kvtest::TFailingStream FFailing;
};

// An event as the caller saw it: a piece written (its source bytes so far)
// or an entry written (its packed size); on which thread.
struct TEvent {
  bool EntryWritten = false;
  size_t Index = 0;
  int64_t Value = 0;
  std::thread::id Thread;
  bool operator==(const TEvent&) const = default;
};

struct TWritten {
  TBytes Archive;  // what reached the output, up to a failure
  std::vector<TZLBFileEntry> Entries;
  std::vector<TEvent> Events;
  std::string Failure;  // described with its causes; "" for none
};

// Opens entry Index's data; a test may put a failure in its place.
using TOpener = std::function<std::unique_ptr<TStream>(size_t Index)>;

TOpener PlainOpener(const std::vector<TTestEntry>& Entries) {
  return [&Entries](size_t Index) -> std::unique_ptr<TStream> {
    const TBytes& Data = Entries[Index].Data;
    return std::make_unique<TReadOnlyMemoryStream>(Data.data(), int64_t(Data.size()));
  };
}

// Writes Entries the Way given, and Finishes when nothing failed. Out
// wraps the output when a test makes it fail.
TWritten WriteRelease(
    const std::vector<TTestEntry>& Entries, const TWay& Way, bool Stored, const TOpener& Open,
    const std::function<TStream&(TStream&)>& Out = [](TStream& S) -> TStream& { return S; }) {
  TWritten Result;
  TMemoryStream Memory;
  TZLBArchiveWriter Writer(Out(Memory), {.Stored = Stored, .RawDirectory = false});
  try {
    if (Way.Threads) {
      std::vector<TZLBEntrySource> Sources;
      for (size_t I = 0; I < Entries.size(); ++I)
        Sources.push_back({Entries[I].Name, Entries[I].Path, [&Open, I] { return Open(I); }});
      TZLBAddOptions Options;
      Options.Threads = *Way.Threads;
      Options.OnProgress = [&](size_t Index, int64_t SourceBytes) {
        Result.Events.push_back({false, Index, SourceBytes, std::this_thread::get_id()});
      };
      Options.OnEntryWritten = [&](size_t Index, const TZLBFileEntry& Entry) {
        Result.Events.push_back(
            {true, Index, int64_t(Entry.CompressedSize), std::this_thread::get_id()});
      };
      Writer.AddEntries(Sources, Options);
    } else {
      for (size_t I = 0; I < Entries.size(); ++I)
        Writer.AddEntry(Entries[I].Name, Entries[I].Path, *Open(I));
    }
    Writer.Finish();
  } catch (const std::exception& E) {
    Result.Failure = DescribeFailure(E);
  }
  Result.Archive = Memory.TakeBytes();
  Result.Entries = Writer.Entries();
  return Result;
}

// The events that entries written in turn report: each entry's pieces with
// the source bytes growing to its size, then the entry itself; all on this
// thread.
void ExpectEventsInEntryOrder(const TWritten& Written, size_t EntryCount) {
  size_t Index = 0;
  int64_t SourceBytes = 0;
  for (const TEvent& Event : Written.Events) {
    ASSERT_EQ(Event.Thread, std::this_thread::get_id());
    ASSERT_EQ(Event.Index, Index);
    if (Event.EntryWritten) {
      EXPECT_EQ(SourceBytes, Written.Entries[Index].OriginalSize) << "entry " << Index;
      EXPECT_EQ(Event.Value, int64_t(Written.Entries[Index].CompressedSize));
      ++Index;
      SourceBytes = 0;
    } else {
      EXPECT_GE(Event.Value, SourceBytes) << "entry " << Index;
      SourceBytes = Event.Value;
    }
  }
  EXPECT_EQ(Index, EntryCount);
}

}  // namespace

TEST(Writer, AnyNumberOfThreadsWritesTheBytesOfEntriesAddedOneByOne) {
  const std::vector<TTestEntry>& Entries = Release();
  for (const bool Stored : {false, true}) {
    const TWritten Expected = WriteRelease(Entries, OneByOne, Stored, PlainOpener(Entries));
    ASSERT_EQ(Expected.Failure, "");
    // Each entry's block is its data, or zlib's one stream of it at the
    // default level, whichever way it was read and cut.
    for (size_t I = 0; I < Entries.size(); ++I) {
      const TZLBFileEntry& Entry = Expected.Entries[I];
      const auto Block = Expected.Archive.begin() + Entry.DataOffset;
      const TBytes Data = Stored ? Entries[I].Data : kvtest::ZlibCompress(Entries[I].Data);
      ASSERT_TRUE(TBytes(Block, Block + Entry.CompressedSize) == Data) << "entry " << I;
    }
    std::optional<TWritten> InTurn;
    for (const TWay& Way : ManyAtOnce) {
      SCOPED_TRACE(Way.Name() + (Stored ? ", stored" : ", compressed"));
      const TWritten Written = WriteRelease(Entries, Way, Stored, PlainOpener(Entries));
      ASSERT_EQ(Written.Failure, "");
      EXPECT_TRUE(Written.Archive == Expected.Archive) << "the bytes differ";
      EXPECT_EQ(Written.Entries, Expected.Entries);
      ExpectEventsInEntryOrder(Written, Entries.size());
      if (!InTurn) InTurn = Written;
      EXPECT_TRUE(Written.Events == InTurn->Events) << "the events differ from one thread's";
    }
  }
}

// Entry Failed fails (and, in some rows, a later one too, sooner): its
// failure is raised once the entries before it are written, and nothing of
// those after it is.
TEST(Writer, TheFirstFailingEntryIsRaisedAndNothingAfterItIsWritten) {
  const std::vector<TTestEntry>& Entries = SmallRelease();
  const TWritten Whole = WriteRelease(Entries, OneByOne, false, PlainOpener(Entries));
  ASSERT_EQ(Whole.Failure, "");
  const auto ReadsOf = [&](size_t Index) {
    TFailingSource Counting(Entries[Index].Data, 0);
    TMemoryStream Sink;
    TZLBArchiveWriter(Sink).AddEntry("x", "", Counting);
    return Counting.Reads();
  };
  const std::string ReadFailure =
      "Stream read error (" + std::make_error_code(std::errc::io_error).message() + ")";
  const std::string OpenFailure = "Cannot open file \"e\". No such file or directory";

  struct TRow {
    std::string Case;
    size_t Failed;
    uint64_t FailingRead;  // 0: the opener raises
    std::optional<size_t> AlsoFailsAtOnce = std::nullopt;
    // The failed entry's name is too long too: checked before its data is
    // opened, whatever the threads (AddEntry's caller opens first).
    bool LongName = false;
  };
  const uint64_t Reads = ReadsOf(5);
  ASSERT_GT(Reads, 2u);
  const std::vector<TRow> Rows = {
      {"the first read fails", 5, 1},
      {"a read in the middle fails", 5, Reads / 2},
      {"the read that would find the end fails", 5, Reads},
      {"the first entry's last read fails", 0, ReadsOf(0)},
      {"the opener raises", 5, 0},
      {"a later entry fails at once", 5, Reads, 8},
      {"the last entry fails", Entries.size() - 1, ReadsOf(Entries.size() - 1)},
      {"the name is too long and the opener raises", 5, 0, std::nullopt, true},
  };
  std::vector<TWay> Ways = {OneByOne};
  Ways.insert(Ways.end(), ManyAtOnce.begin(), ManyAtOnce.end());
  for (const TRow& Row : Rows) {
    std::vector<TTestEntry> Named = Entries;
    if (Row.LongName) Named[Row.Failed].Name.assign(256, 'n');
    for (const TWay& Way : Ways) {
      if (Row.LongName && !Way.Threads) continue;
      SCOPED_TRACE(Row.Case + ", " + Way.Name());
      const TOpener Open = [&](size_t Index) -> std::unique_ptr<TStream> {
        if ((Index == Row.Failed && Row.FailingRead == 0) || Index == Row.AlsoFailsAtOnce)
          throw EFOpenError(OpenFailure);
        const uint64_t FailAt = Index == Row.Failed ? Row.FailingRead : 0;
        return std::make_unique<TFailingSource>(Entries[Index].Data, FailAt);
      };
      const TWritten Written = WriteRelease(Named, Way, false, Open);
      EXPECT_EQ(Written.Failure, Row.LongName           ? messages::SNameTooLong
                                 : Row.FailingRead == 0 ? OpenFailure
                                                        : ReadFailure);
      ASSERT_EQ(Written.Entries.size(), Row.Failed) << "the records written before the failure";
      const TZLBFileEntry& Next = Whole.Entries[Row.Failed];
      EXPECT_LE(Written.Archive.size(), size_t(Next.DataOffset) + Next.CompressedSize);
      EXPECT_TRUE(std::equal(Written.Archive.begin(), Written.Archive.end(), Whole.Archive.begin()))
          << "what was written before the failure is what a whole run writes";
      if (Way.Threads) {
        EXPECT_TRUE(Written.Events.empty() || Written.Events.back().Index <= Row.Failed);
        EXPECT_EQ(std::count_if(Written.Events.begin(), Written.Events.end(),
                                [](const TEvent& E) { return E.EntryWritten; }),
                  int64_t(Row.Failed));
      }
    }
  }
}

// The output fails under every way of adding: the failure is raised, and
// the threads still compressing are stopped.
TEST(Writer, AFailingOutputIsRaisedWhateverTheThreads) {
  const std::vector<TTestEntry>& Entries = SmallRelease();
  std::vector<TWay> Ways = {OneByOne};
  Ways.insert(Ways.end(), ManyAtOnce.begin(), ManyAtOnce.end());
  for (const TWay& Way : Ways) {
    for (const uint64_t FailingWrite : {1, 10, 25}) {
      SCOPED_TRACE(Way.Name() + ", write " + std::to_string(FailingWrite));
      kvtest::TFaultPlan Plan(FailingWrite);
      std::optional<kvtest::TFailingStream> Failing;
      const TWritten Written =
          WriteRelease(Entries, Way, false, PlainOpener(Entries),
                       [&](TStream& S) -> TStream& { return Failing.emplace(S, Plan); });
      EXPECT_EQ(Written.Failure, messages::SWriteError);
      EXPECT_EQ(Plan.Failed(), kvtest::TStreamOperation::Write);
    }
  }
}
