// Finding the archive in an archive file or an updater.
#include "UpdaterPayload.h"

#include <cstdio>

#include "PEMessages.h"
#include "PayloadResource.h"
#include "konvoro/Format.h"
#include "konvoro/RangeStream.h"
#include "konvoro/Text.h"
#include "konvoro/zlb/ArchiveMessages.h"
#include "konvoro/zlb/ZLBReader.h"

namespace kv::payload {

using namespace pe;

namespace {

// Languages named in the refusal of several payloads; beyond them "...".
constexpr size_t MaxLanguagesTold = 8;

// "0x0407, 0x0409", with "a name" for a language entry that is a name.
std::string Languages(const std::vector<TResourceData>& Payloads) {
  std::string Text;
  for (size_t I = 0; I < Payloads.size(); ++I) {
    if (!Text.empty()) Text += ", ";
    if (I == MaxLanguagesTold) return Text + "...";
    char Id[16];
    if (Payloads[I].Language)
      std::snprintf(Id, sizeof Id, "0x%04X", unsigned(*Payloads[I].Language));
    Text += Payloads[I].Language ? Id : "a name";
  }
  return Text;
}

}  // namespace

std::string NoPayloadMessage() {
  return Format(payload::messages::SNoPayloadResource, UpperCase(PayloadResourceName));
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
  if (!BeginsAsImage(Stream)) {
    if (!StartsAsExecutable(Stream) || IsWholeArchive(Stream))
      return {false, TFileRange{0, Stream.GetSize()}};
    // It claims to be a program and is no archive: what it lacks as an
    // image tells more than a trailer that does not hold. The reader
    // refuses it below.
  }
  const TPEImage Image(Stream);
  // Should an image carry several, the one checked here need not be the
  // one that runs: none is taken.
  const std::vector<TResourceData> Payloads =
      Image.FindResources(TResourceKey::ById(PayloadResourceType),
                          TResourceKey::ByName(PayloadResourceName), MaxLanguagesTold + 1);
  if (Payloads.size() > 1)
    throw EPEFormatError(Format(payload::messages::SSeveralPayloads, UpperCase(PayloadResourceName),
                                Languages(Payloads)));
  if (Payloads.empty()) return {true, std::nullopt};
  return {true, Payloads.front().Range};
}

std::unique_ptr<TStream> TEmbeddedArchiveSource::Open() {
  return std::make_unique<TRangeStream>(FFile.Open(), FRange.Offset, FRange.Size);
}

}  // namespace kv::payload
