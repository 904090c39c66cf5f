// The file a command is given: a ZLB archive, or an updater whose payload
// is read in place.
#pragma once

#include <string>

#include "ZLIBArchive.h"

namespace zlbtool {

// Opens File in Archive: an archive file as the component opens it, an
// updater's ZLBDATA resource through a window on the file (nothing is
// copied), under File's name either way. Raises what OpenArchive raises,
// and kv::Exception("FILE: what is wrong") for an executable image that is
// malformed or carries no payload (kv::pe::LocatePayload tells when a file
// counts as an image).
void OpenInput(kv::TZLBArchive& Archive, const std::string& File);

}  // namespace zlbtool
