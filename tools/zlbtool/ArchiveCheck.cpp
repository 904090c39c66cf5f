// An archive checked as the updater takes it.
#include "ArchiveCheck.h"

#include <atomic>

#include "CRCSink.h"
#include "OrderedWork.h"
#include "Output.h"
#include "PayloadResource.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBReader.h"

namespace zlbtool {

namespace {

// What is wrong with entry Index's data, or "": read alone by Extract,
// which writes it into the stream given, against its length and CRC-32.
// The text is the component's, with how and why.
std::string DataProblem(int32_t Index, const kv::TZLBFileEntry& Entry,
                        const std::function<void(kv::TStream& Sink)>& Extract) {
  try {
    TCRCSink Sink;
    Extract(Sink);
    if (Sink.CRC() != Entry.FileCRC)
      return kv::Format(kv::messages::SFileFailedCRC, Index) +
             Printf(": its data's CRC-32 is %08x, its record says %08x", Sink.CRC(), Entry.FileCRC);
  } catch (const kv::EZLBArchiveError& E) {
    std::string Text = E.Message();
    if (E.Cause() != kv::TCorruptCause::None)
      Text += std::string(": ") + kv::CorruptCauseText(E.Cause());
    return Text + kv::FailureCauses(E);
  } catch (const kv::Exception& E) {
    return kv::DescribeFailure(E);
  }
  return std::string();
}

}  // namespace

int32_t TArchiveReport::FailedEntries() const {
  int32_t Failed = 0;
  for (const TEntryReport& Entry : Entries)
    if (!Entry.Problems.empty()) ++Failed;
  return Failed;
}

std::vector<TProblem> TArchiveReport::AllProblems() const {
  std::vector<TProblem> All = Problems;
  for (const TEntryReport& Entry : Entries)
    All.insert(All.end(), Entry.Problems.begin(), Entry.Problems.end());
  return All;
}

TArchiveReport CheckArchive(kv::TZLBArchive& Archive, TInput& Input, bool ReadData,
                            const std::function<void(int32_t Index)>& Progress, unsigned Threads) {
  TArchiveReport Report;
  if (Input.Overlap())
    Report.Problems.push_back({TProblemKind::Data, Input.File(), *Input.Overlap()});

  const int32_t Count = Archive.GetFileCount();
  std::vector<TCheckedName> Names;
  kv::TZLBFileEntry Entry;
  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    const std::string Shown = Input.Shown(Entry);
    Report.Entries.push_back({Shown, {}});
    Names.push_back({I, Shown, Entry.FileName.ToString(), Entry.FilePath.ToString()});
    if (kv::SameText(Entry.FileName.View(), kv::PayloadWaitProgramName)) Report.HasWait = true;
  }
  for (TProblem& Problem : CheckNames(Names, Input.Codec(), {}))
    Report.Entries[size_t(Problem.Index)].Problems.push_back(std::move(Problem));
  if (!ReadData || Input.Overlap()) return Report;

  const auto Record = [&Report](int32_t I, const std::string& Problem) {
    if (!Problem.empty())
      Report.Entries[size_t(I)].Problems.push_back(
          {TProblemKind::Data, Report.Entries[size_t(I)].Shown, Problem, I});
  };
  if (Threads <= 1) {
    for (int32_t I = 0; I < Count; ++I) {
      Archive.GetFileEntry(I, Entry);
      if (Progress) Progress(I);
      // A name extraction refuses is never written, so its data is not read.
      if (!kv::IsSafeEntryName(Entry.FileName.View(), Input.Codec().Rules())) continue;
      Record(I, DataProblem(I, Entry, [&](kv::TStream& Sink) {
               Input.ReadEntry(I, [&] { Archive.ExtractToStream(I, Sink); });
             }));
    }
    return Report;
  }

  // As above, the entries read on several threads, each through a stream of
  // its own, at most two per thread ahead of the oldest; their problems are
  // recorded in index order.
  std::vector<std::string> Found(static_cast<size_t>(Count));
  {
    TOrderedWork Workers(Threads);
    size_t Posted = 0;
    const auto TakeOldest = [&] {
      if (const std::exception_ptr Failure = Workers.TakeOldest()) std::rethrow_exception(Failure);
      --Posted;
    };
    const bool CheckCRC = Archive.GetCheckCRC();
    for (int32_t I = 0; I < Count; ++I) {
      Archive.GetFileEntry(I, Entry);
      if (Progress) Progress(I);
      if (!kv::IsSafeEntryName(Entry.FileName.View(), Input.Codec().Rules())) continue;
      while (Posted >= 2 * size_t(Threads))
        TakeOldest();
      Workers.Post([&Found, &Input, I, Entry, CheckCRC](const std::atomic<bool>& Stopping) {
        Found[size_t(I)] = DataProblem(I, Entry, [&](kv::TStream& Sink) {
          kv::ExtractEntry(*Input.OpenEntry(I), Entry, I, Sink, CheckCRC,
                           {.Started = {}, .ChunkRead = [&Stopping](int32_t) {
                              if (Stopping) throw kv::Exception("stopped");
                            }});
        });
      });
      ++Posted;
    }
    while (Posted > 0)
      TakeOldest();
  }
  for (int32_t I = 0; I < Count; ++I)
    Record(I, Found[size_t(I)]);
  return Report;
}

}  // namespace zlbtool
