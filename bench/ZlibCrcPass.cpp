// bench_zlib_crc: zlib's crc32 over an archive's bytes, read as OpenArchive reads them.
//
// usage: bench_zlib_crc ARCHIVE
//
// The reference for the archive CRC pass of TZLBArchive::OpenArchive: the
// same bytes (all but the trailer), read the same way (the project's file
// stream, 10 KiB chunks into one buffer), fed to zlib's crc32 instead of the
// project's CRC32Update. The result is checked against the trailer, so the
// pass cannot be skipped.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLBFormat.h"

namespace {

// The chunk OpenArchive reads in (CRCChunkSize in archive/ZLBReader.cpp).
constexpr int32_t ChunkSize = 10240;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bench_zlib_crc ARCHIVE\n", stderr);
    return 1;
  }
  try {
    kv::TFileStream File(argv[1], kv::fmOpenRead | kv::fmShareDenyWrite);
    File.Seek(0, kv::TSeekOrigin::soBeginning);
    int64_t Remaining = File.GetSize() - int64_t(kv::TZLBArchiveTrailer::Size);
    const int64_t Covered = Remaining;
    uLong CRC = crc32(0, nullptr, 0);
    std::array<uint8_t, ChunkSize> Buffer;
    while (Remaining > 0) {
      const auto Chunk = static_cast<int32_t>(std::min<int64_t>(Remaining, ChunkSize));
      const int32_t Got = File.Read(Buffer.data(), Chunk);
      if (Got <= 0) break;
      CRC = crc32(CRC, Buffer.data(), uInt(Got));
      Remaining -= Got;
    }

    std::array<uint8_t, kv::TZLBArchiveTrailer::Size> Raw{};
    File.Seek(-int64_t(Raw.size()), kv::TSeekOrigin::soEnd);
    File.ReadBuffer(Raw.data(), int32_t(Raw.size()));
    const auto Trailer = kv::TZLBArchiveTrailer::Decode(Raw);
    if (Remaining != 0 || uint32_t(CRC) != Trailer.ArchiveCRC) {
      std::fprintf(stderr, "bench_zlib_crc: CRC %08lX does not match the trailer's %08X\n", CRC,
                   Trailer.ArchiveCRC);
      return 1;
    }
    std::printf("%lld bytes, CRC-32 %08lX matches the trailer (zlib %s, %d-byte reads)\n",
                static_cast<long long>(Covered), CRC, zlibVersion(), int(ChunkSize));
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_zlib_crc: %s\n", Error.what());
    return 1;
  }
}
