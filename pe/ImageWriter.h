// The reader's counterpart: writes a PE image again with its resource
// section rebuilt from a list of resources. Portable, so that every platform
// writes the same bytes; made for images of this project's shape (the
// resource section last but for the base relocations) and refusing others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PEImage.h"
#include "konvoro/Streams.h"

namespace kv::pe {

// LANG_NEUTRAL: a resource for every language.
inline constexpr uint32_t NeutralLanguage = 0;

// One resource to write: where the tree files it, and its data.
struct TResource {
  TResourceId Type;
  TResourceId Name;
  TResourceId Language;
  uint32_t CodePage = 0;
  std::vector<uint8_t> Bytes;  // the data, unless Stream is set
  TStream* Stream = nullptr;   // else the data: all of this stream, read when written
};

// "type/name/language" for messages: numbers in decimal, names as ASCII
// ("?" for other characters).
std::string ResourcePath(const TResource& Resource);

// The resources of Image, in the tree's order, with their data read into
// memory, at most MaxBytes of it all together. Raises EPEFormatError as
// TPEImage::ResourceLeaves does, and when their data add up to more than
// MaxBytes (counted before anything is read).
std::vector<TResource> ReadResources(const TPEImage& Image, size_t MaxBytes);

// An image whose resource section can be rebuilt.
class TImageRewriter {
 public:
  // Checks that Image can be written again with other resources, and
  // raises EPEFormatError saying what stands in the way and where
  // otherwise:
  //  - its alignments are not powers of two from 512 up, the section
  //    alignment at least the file alignment;
  //  - it has no resource directory, or that directory does not start a
  //    section with file-aligned data, after the headers;
  //  - a section follows the resource section in the table that is not the
  //    one the base relocations start and fill, directly after it in the
  //    file (they alone can move: nothing but their directory refers to
  //    them); or a section before it in the table reaches into it;
  //  - another data directory (but the certificate table's) reaches into the
  //    resource section or past it;
  //  - bytes that are not a certificate table follow the last section.
  // Image (and the stream it reads) must outlive this object.
  explicit TImageRewriter(const TPEImage& Image);

  // Writes the image to Out, which must be empty and seekable: the headers
  // and the sections before the resource section byte for byte, the
  // resource section built anew from Resources (directory tables, then the
  // names, the data entries and the data, each aligned, sorted as Windows
  // looks them up), the base relocations after it, moved with their
  // directory entry, and no certificate table. SizeOfImage,
  // SizeOfInitializedData and the checksum are computed from what is
  // written. Raises EPEFormatError when two resources share a type, name and
  // language or the resources do not fit in an image, EReadError or
  // EWriteError when a stream fails.
  void Write(const std::vector<TResource>& Resources, TStream& Out) const;

 private:
  const TPEImage& FImage;
  size_t FResourceSection = 0;
  // The base relocations' section, when it follows the resource section.
  std::optional<size_t> FRelocationSection;
  int64_t FTableEnd = 0;  // where the section table ends
};

}  // namespace kv::pe
