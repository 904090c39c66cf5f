// The file a command is given: a ZLB archive, or an updater.
#include "Input.h"

#include <memory>
#include <optional>

#include "Files.h"
#include "Streams.h"
#include "UpdaterPayload.h"

namespace zlbtool {

void OpenInput(kv::TZLBArchive& Archive, const std::string& File) {
  kv::TErrorOr<kv::TFileHandle> Handle = kv::FileOpen(File, kv::fmOpenRead | kv::fmShareDenyWrite);
  // A file that cannot be opened gets the component's own texts.
  if (!Handle || !kv::FileExists(File)) {
    Archive.OpenArchive(File);
    return;
  }
  kv::THeldFileSource Held(File, std::move(*Handle));
  kv::pe::TPayloadLocation Location;
  try {
    Location = kv::pe::LocatePayload(*Held.Open());
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(File + ": " + E.Message());
  }
  if (!Location.IsImage) {
    Archive.OpenArchive(File);
    return;
  }
  if (!Location.Archive) throw kv::Exception(File + ": " + kv::pe::NoPayloadMessage());
  Archive.OpenArchive(
      File, std::make_unique<kv::pe::TEmbeddedArchiveSource>(std::move(Held), *Location.Archive));
}

}  // namespace zlbtool
