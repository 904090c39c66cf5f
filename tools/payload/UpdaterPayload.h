// Finding the archive in what zlbtool is given: a ZLB archive file, or an
// updater (a PE image) that carries one as its RCDATA resource ZLBDATA, which
// is then read in place through a window on the file. Where the PE reader
// and the archive component meet, so that neither needs the other.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "PEImage.h"
#include "konvoro/Files.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace kv::payload {

// Texts of the refusals, beside the PE reader's own.
namespace messages {
// %s: the resource's name.
inline constexpr const char* SNoPayloadResource = "no %s resource";
// %s: the resource's name, %s: the languages it is filed under.
inline constexpr const char* SSeveralPayloads =
    "more than one %s resource (languages %s): which one runs depends on the user's language";
}  // namespace messages

// What a file holds.
struct TPayloadLocation {
  // Set when the file is an executable image; the payload then is its
  // ZLBDATA resource, when it has one.
  bool IsImage = false;
  // Where the archive lies: the whole file, or the payload resource.
  // Empty for an image without a payload.
  std::optional<pe::TFileRange> Archive;
};

// Decides what Stream holds; one answer for each file, never a second
// reading. A ZLB archive has no magic number: it starts with zlib data, or,
// stored, with its first entry's bytes. So:
//  - a file that begins as a Windows image ("MZ", and the PE signature
//    where e_lfanew points) is an image and nothing else: its headers and
//    resource tree are read, and its ZLBDATA resource is the archive. An
//    image that is malformed, or carries more than one payload in any
//    languages (Windows would pick one by the user's language), is refused;
//    an archive that its bytes may also make up is not looked for, since
//    what runs is the image;
//  - any other file is an archive. One that starts with "MZ" all the same
//    (a stored archive whose first entry is an MS-DOS program) is so only
//    when its trailer's CRC-32 holds over the whole file; otherwise what it
//    lacks as an image is reported.
// Raises pe::EPEFormatError with what is wrong with such an image, or "more
// than one ZLBDATA resource (languages ...)"; an image without a payload
// raises nothing (Archive stays empty).
TPayloadLocation LocatePayload(TStream& Stream);

// "no ZLBDATA resource".
std::string NoPayloadMessage();

// True when Stream, as a whole, is a ZLB archive whose CRC-32 holds.
bool IsWholeArchive(TStream& Stream);

// An archive that lies inside a file already open: every operation reads it
// through a window on a second handle to that very file.
class TEmbeddedArchiveSource : public TArchiveSource {
 public:
  TEmbeddedArchiveSource(THeldFileSource File, pe::TFileRange Range)
      : FFile(std::move(File)), FRange(Range) {}
  std::unique_ptr<TStream> Open() override;

 private:
  THeldFileSource FFile;
  pe::TFileRange FRange;
};

}  // namespace kv::payload
