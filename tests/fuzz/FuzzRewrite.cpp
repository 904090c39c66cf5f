// fuzz_rewrite: arbitrary bytes as the stub that zlbtool updater is given.
// An image the writer accepts is written with its own resources and a
// payload; what it writes must read back with every one of them, and
// written again with what it holds must come out unchanged. kv::Exception
// is the only acceptable failure before the write.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ImageWriter.h"
#include "PEImage.h"

namespace {

using kvfuzz::Fail;
using kvfuzz::TBytes;
using namespace kv::pe;

// The writer's rows are cheap, but the resources are read whole.
constexpr size_t MaxResourceBytes = 1 << 20;

// Every resource as its path and bytes, in an order of their own.
std::vector<std::pair<std::string, TBytes>> Listing(const std::vector<TResource>& Resources) {
  std::vector<std::pair<std::string, TBytes>> Out;
  for (const TResource& R : Resources)
    Out.emplace_back(ResourcePath(R) + (R.Type.Named ? "+" : "") + (R.Name.Named ? "+" : ""),
                     R.Bytes);
  std::sort(Out.begin(), Out.end());
  return Out;
}

TBytes Rewrite(const TImageRewriter& Rewriter, const std::vector<TResource>& Resources) {
  kv::TMemoryStream Out;
  Rewriter.Write(Resources, Out);
  return Out.TakeBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kv::TReadOnlyMemoryStream In(Data, int64_t(Size));
  std::vector<TResource> Resources;
  TBytes Written;
  try {
    const TPEImage Image(In);
    const TImageRewriter Rewriter(Image);
    Resources = ReadResources(Image, MaxResourceBytes);
    TResource Payload{TResourceId::ById(10),
                      TResourceId::ByName(u"ZLBDATA"),
                      TResourceId::ById(NeutralLanguage),
                      0,
                      TBytes(77, 0x5A),
                      nullptr};
    const bool Present = std::any_of(Resources.begin(), Resources.end(), [&](const TResource& R) {
      return R.Type == Payload.Type && R.Name == Payload.Name && R.Language == Payload.Language;
    });
    if (!Present) Resources.push_back(std::move(Payload));
    Written = Rewrite(Rewriter, Resources);
  } catch (const kv::Exception&) {
    return 0;
  }
  try {
    kv::TReadOnlyMemoryStream Back(Written.data(), int64_t(Written.size()));
    const TPEImage Image(Back);
    const std::vector<TResource> Read = ReadResources(Image, MaxResourceBytes + 77);
    if (Listing(Read) != Listing(Resources)) Fail("the resources read back differ");
    if (Image.CertificateTable()) Fail("a certificate table was kept");
    if (Rewrite(TImageRewriter(Image), Read) != Written) Fail("writing again changed the image");
  } catch (const kv::Exception& E) {
    Fail("what the writer wrote does not read back: " + E.Message());
  }
  return 0;
}
