// Whether an entry is one the updater takes.
#include "EntryCheck.h"

#include "CRCSink.h"
#include "konvoro/Format.h"
#include "konvoro/zlb/ArchiveMessages.h"

namespace zlbtool {

namespace {

// Why a stored path fails extraction's rules, after the name's text.
constexpr const char* UnsafePathCause = "its stored path does not stay below the destination";

}  // namespace

std::string EntryProblem(kv::TZLBArchive& Archive, TInput& Input, int32_t Index,
                         const kv::TZLBFileEntry& Entry) {
  if (!kv::IsSafeEntryName(Entry.FileName.View()))
    return kv::Format(kv::messages::SFileInvalidName, Index);
  if (!kv::IsSafeEntryPath(Entry.FilePath.View()))
    return kv::Format(kv::messages::SFileInvalidName, Index) + ": " + UnsafePathCause;
  try {
    TCRCSink Sink;
    Input.ReadEntry(Index, [&] { Archive.ExtractToStream(Index, Sink); });
    if (Sink.CRC() != Entry.FileCRC) return kv::Format(kv::messages::SFileFailedCRC, Index);
  } catch (const kv::EZLBArchiveError& E) {
    // The shared text says that the entry is corrupt; the cause says how,
    // and the failure behind it why.
    std::string Text = E.Message();
    if (E.Cause() != kv::TCorruptCause::None)
      Text += std::string(": ") + kv::CorruptCauseText(E.Cause());
    return Text + kv::FailureCauses(E);
  } catch (const kv::Exception& E) {
    return kv::DescribeFailure(E);
  }
  return "";
}

}  // namespace zlbtool
