// The file a command is given: a ZLB archive, or an updater.
#include "Input.h"

#include <memory>
#include <optional>

#include "Files.h"
#include "Streams.h"
#include "UpdaterPayload.h"

namespace zlbtool {

void OpenInput(kv::TZLBArchive& Archive, const std::string& File) {
  kv::TFileHandle Handle = kv::FileOpen(File, kv::fmOpenRead | kv::fmShareDenyWrite);
  // A file that cannot be opened gets the component's own texts.
  if (!Handle.Valid() || !kv::FileExists(File)) {
    Archive.OpenArchive(File);
    return;
  }
  kv::pe::TPayloadLocation Location;
  try {
    kv::TFileStream Stream(File, kv::FileDuplicate(Handle));
    Location = kv::pe::LocatePayload(Stream);
  } catch (const kv::pe::EPEFormatError& E) {
    throw kv::Exception(File + ": " + E.Message());
  }
  if (!Location.IsImage) {
    Archive.OpenArchive(File);
    return;
  }
  if (!Location.Archive) throw kv::Exception(File + ": " + kv::pe::NoPayloadMessage());
  Archive.OpenArchive(File, std::make_unique<kv::pe::TEmbeddedArchiveSource>(
                                File, std::move(Handle), *Location.Archive));
}

}  // namespace zlbtool
