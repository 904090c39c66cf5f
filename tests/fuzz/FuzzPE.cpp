// fuzz_pe: arbitrary bytes as a file given to zlbtool: told apart as an
// archive or an executable image, the image's headers, resource tree,
// version resource, manifest, certificate table and signer read, and the
// payload read through its window. kv::Exception is the only acceptable
// failure.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "ImageFacts.h"
#include "PEImage.h"
#include "UpdaterPayload.h"
#include "konvoro/RangeStream.h"
#include "konvoro/zlb/ZLBReader.h"

namespace {

using kvfuzz::Fail;
using namespace kv::pe;
using namespace kv::payload;

// What the reader hands out lies inside the file.
void CheckInside(const TFileRange& Range, size_t Size, const char* What) {
  if (Range.Offset < 0 || Range.Size < 0 || Range.Offset > int64_t(Size) ||
      Range.Size > int64_t(Size) - Range.Offset)
    Fail(std::string(What) + " reaches outside the file");
}

void ReadImage(kv::TStream& Stream, size_t Size) {
  const TPEImage Image(Stream);
  if (Image.Sections().size() > MaxSections) Fail("more sections than the limit");
  for (const uint16_t Type : {RT_VERSION, RT_MANIFEST})
    if (const auto Range = Image.FindResource(TResourceKey::ById(Type), {}))
      CheckInside(*Range, Size, "a resource");
  if (const auto Table = Image.CertificateTable()) CheckInside(*Table, Size, "the certificates");
  // Read as zlbtool info reads them. The signer's subject is shown as it
  // stands: no control character may reach the terminal.
  const TImageFacts Facts = ReadImageFacts(Image);
  const std::string Subject = Facts.SignerSubject.value_or("");
  for (size_t I = 0; I < Subject.size(); ++I) {
    const auto Byte = uint8_t(Subject[I]);
    const bool C1 = Byte == 0xC2 && I + 1 < Subject.size() && uint8_t(Subject[I + 1]) >= 0x80 &&
                    uint8_t(Subject[I + 1]) <= 0x9F;
    if (Byte < 0x20 || Byte == 0x7F || C1) Fail("a control character in the signer's subject");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kv::TReadOnlyMemoryStream Stream(Data, int64_t(Size));
  TPayloadLocation Location;
  try {
    Location = LocatePayload(Stream);
  } catch (const kv::Exception&) {
    return 0;
  }
  try {
    if (Location.IsImage) ReadImage(Stream, Size);
  } catch (const kv::Exception&) {
  }
  if (!Location.Archive) return 0;
  CheckInside(*Location.Archive, Size, "the payload");
  // The archive through its window, as zlbtool reads it.
  kv::TRangeStream Window(std::make_unique<kv::TReadOnlyMemoryStream>(Data, int64_t(Size)),
                          Location.Archive->Offset, Location.Archive->Size);
  if (Window.GetSize() != Location.Archive->Size) Fail("the window's size differs");
  try {
    const kv::TZLBArchiveTrailer Trailer = kv::ReadTrailer(Window);
    std::deque<kv::TZLBFileEntry> Entries;
    kv::ReadDirectory(Window, Trailer, Entries);
  } catch (const kv::Exception&) {
  }
  return 0;
}
