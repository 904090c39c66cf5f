// Finding the archive in an archive file or an updater.
#include "UpdaterPayload.h"

#include "ArchiveMessages.h"
#include "Format.h"
#include "PEMessages.h"
#include "PayloadResource.h"
#include "RangeStream.h"
#include "Text.h"
#include "ZLBReader.h"

namespace kv::pe {

std::string NoPayloadMessage() {
  return Format(messages::SNoPayloadResource, UpperCase(PayloadResourceName));
}

bool IsWholeArchive(TStream& Stream) {
  try {
    Stream.Seek(0, TSeekOrigin::soBeginning);
    ReadTrailer(Stream);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

TPayloadLocation LocatePayload(TStream& Stream) {
  const int64_t Size = Stream.GetSize();
  if (!StartsAsExecutable(Stream)) return {false, TFileRange{0, Size}};
  try {
    const TPEImage Image(Stream);
    const std::optional<TFileRange> Payload = Image.FindResource(
        TResourceKey::ById(PayloadResourceType), TResourceKey::ByName(PayloadResourceName));
    if (Payload) return {true, Payload};
  } catch (const EPEFormatError&) {
    if (IsWholeArchive(Stream)) return {false, TFileRange{0, Size}};
    throw;
  }
  if (IsWholeArchive(Stream)) return {false, TFileRange{0, Size}};
  return {true, std::nullopt};
}

std::unique_ptr<TStream> TEmbeddedArchiveSource::Open() {
  return std::make_unique<TRangeStream>(FFile.Open(), FRange.Offset, FRange.Size);
}

}  // namespace kv::pe
