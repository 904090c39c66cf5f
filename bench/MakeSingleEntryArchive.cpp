// bench_make_archive: writes a ZLB archive holding one generated entry of a given size.
//
// usage: bench_make_archive OUT.zlb SIZE_IN_BYTES
//
// The entry ("payload.bin") is a repeated text pattern with pseudo-random
// bytes mixed in: compressible, but never trivially so, and the same on every
// run. It is generated while it is packed, through the project's archive
// writer at zlib's default level (as zlbtool pack writes), so the original
// bytes never exist on disk.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "ZLBWriter.h"
#include "konvoro/Streams.h"

namespace {

// Every 64 bytes, 8 pseudo-random ones; the rest cycle through a text whose
// length (67) does not divide 64, so no two 64-byte runs are identical.
class TGeneratedSource : public kv::TStream {
 public:
  explicit TGeneratedSource(int64_t Size) : FSize(Size) {}

  int32_t Read(void* Buffer, int32_t Count) override {
    const auto N = static_cast<int32_t>(std::clamp<int64_t>(FSize - FPosition, 0, Count));
    auto* Out = static_cast<uint8_t*>(Buffer);
    for (int32_t I = 0; I < N; ++I, ++FPosition) {
      if (FPosition % 64 < 8) {
        Out[I] = static_cast<uint8_t>(NextRandom() >> 56);
      } else {
        Out[I] = static_cast<uint8_t>(Pattern[size_t(FPosition % int64_t(Pattern.size()))]);
      }
    }
    return N;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, kv::TSeekOrigin Origin) override {
    if (Offset == 0 && Origin == kv::TSeekOrigin::soCurrent) return FPosition;
    return -1;
  }

 private:
  static constexpr std::string_view Pattern =
      "Konvoro update payload: a repeated line of text for the benchmark.\n";
  static_assert(Pattern.size() == 67);

  // xorshift64*: cheap and fixed-seeded, enough to defeat long matches.
  uint64_t NextRandom() {
    FState ^= FState >> 12;
    FState ^= FState << 25;
    FState ^= FState >> 27;
    return FState * 0x2545F4914F6CDD1Dull;
  }

  int64_t FSize;
  int64_t FPosition = 0;
  uint64_t FState = 0x9E3779B97F4A7C15ull;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_make_archive OUT.zlb SIZE_IN_BYTES\n", stderr);
    return 1;
  }
  const long long Size = std::atoll(argv[2]);
  if (Size <= 0) {
    std::fputs("bench_make_archive: the size must be a positive number of bytes\n", stderr);
    return 1;
  }
  try {
    kv::TFileStream Out(argv[1], kv::fmCreate);
    kv::TZLBArchiveWriter Writer(Out);
    TGeneratedSource Source(Size);
    Writer.AddEntry("payload.bin", "", Source);
    Writer.Finish();
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_make_archive: %s\n", Error.what());
    return 1;
  }
}
