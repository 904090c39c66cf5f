// bench_crc_kernels: the project's CRC-32 and zlib's crc32, timed in one process.
//
// usage: bench_crc_kernels FILE
//
// Process start and file reads dilute the CRC comparison between zlbtool
// list and bench_zlib_crc; this isolates the two kernels. The file is read
// whole into memory, then each kernel runs over it in 10 KiB steps (as
// OpenArchive feeds it) several times; the fastest pass of each is reported,
// with the two results checked against each other.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <vector>

#include "konvoro/Streams.h"
#include "konvoro/zlb/CRC32.h"

namespace {

constexpr size_t StepSize = 10240;
constexpr int Passes = 7;

// The fastest of Passes runs of Pass, in milliseconds.
double FastestMs(const std::function<void()>& Pass) {
  double Best = 1e300;
  for (int I = 0; I < Passes; ++I) {
    const auto Start = std::chrono::steady_clock::now();
    Pass();
    const auto End = std::chrono::steady_clock::now();
    Best = std::min(Best, std::chrono::duration<double, std::milli>(End - Start).count());
  }
  return Best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bench_crc_kernels FILE\n", stderr);
    return 1;
  }
  try {
    kv::TFileStream File(argv[1], kv::fmOpenRead | kv::fmShareDenyWrite);
    std::vector<uint8_t> Bytes(size_t(File.GetSize()));
    for (size_t Done = 0; Done < Bytes.size();) {
      const auto Chunk = static_cast<int32_t>(std::min<size_t>(Bytes.size() - Done, 1 << 20));
      File.ReadBuffer(Bytes.data() + Done, Chunk);
      Done += size_t(Chunk);
    }

    uint32_t ProjectCRC = 0;
    uLong ZlibCRC = 0;
    const double ProjectMs = FastestMs([&] {
      uint32_t CRC = 0;
      for (size_t At = 0; At < Bytes.size(); At += StepSize)
        CRC = kv::CRC32Update(CRC, {Bytes.data() + At, std::min(StepSize, Bytes.size() - At)});
      ProjectCRC = CRC;
    });
    const double ZlibMs = FastestMs([&] {
      uLong CRC = crc32(0, nullptr, 0);
      for (size_t At = 0; At < Bytes.size(); At += StepSize)
        CRC = crc32(CRC, Bytes.data() + At, uInt(std::min(StepSize, Bytes.size() - At)));
      ZlibCRC = CRC;
    });
    if (ProjectCRC != uint32_t(ZlibCRC)) {
      std::fputs("bench_crc_kernels: the two CRC-32 results differ\n", stderr);
      return 1;
    }
    const double MiB = double(Bytes.size()) / 1048576.0;
    // Tab-separated: project ms, project MiB/s, zlib ms, zlib MiB/s.
    std::printf("%.2f\t%.0f\t%.2f\t%.0f\n", ProjectMs, MiB / (ProjectMs / 1000), ZlibMs,
                MiB / (ZlibMs / 1000));
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "bench_crc_kernels: %s\n", Error.what());
    return 1;
  }
}
