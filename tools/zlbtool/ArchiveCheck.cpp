// An archive checked as the updater takes it.
#include "ArchiveCheck.h"

#include "CRCSink.h"
#include "Output.h"
#include "PayloadResource.h"
#include "konvoro/Format.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ArchiveMessages.h"

namespace zlbtool {

namespace {

// What is wrong with entry Index's data, or "": read alone, against its
// length and CRC-32. The text is the component's, with how and why.
std::string DataProblem(kv::TZLBArchive& Archive, TInput& Input, int32_t Index,
                        const kv::TZLBFileEntry& Entry) {
  try {
    TCRCSink Sink;
    Input.ReadEntry(Index, [&] { Archive.ExtractToStream(Index, Sink); });
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
                            const std::function<void(int32_t Index)>& Progress) {
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

  for (int32_t I = 0; I < Count; ++I) {
    Archive.GetFileEntry(I, Entry);
    if (Progress) Progress(I);
    // A name extraction refuses is never written, so its data is not read.
    if (!kv::IsSafeEntryName(Entry.FileName.View(), Input.Codec().Rules())) continue;
    const std::string Problem = DataProblem(Archive, Input, I, Entry);
    if (!Problem.empty())
      Report.Entries[size_t(I)].Problems.push_back(
          {TProblemKind::Data, Report.Entries[size_t(I)].Shown, Problem, I});
  }
  return Report;
}

}  // namespace zlbtool
