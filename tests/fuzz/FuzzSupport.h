// Helpers shared by the fuzz targets: a decoder of fuzzer bytes, a memory
// sink with a work budget, archive descriptions built with the writer, and
// failure reports that abort. Scratch directories and files come from the
// tests' support library (TestSupport.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ZLBWriter.h"
#include "konvoro/Streams.h"

namespace kvfuzz {

using TBytes = std::vector<uint8_t>;

// Reports a broken property of the code under test on stderr and aborts, so
// that libFuzzer and the replaying main both count the input as a finding.
[[noreturn]] void Fail(const std::string& What);

// Takes values from the front of the fuzzer's bytes. Once they run out every
// value is zero or empty, so that any input decodes to something.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}

  bool Empty() const { return FPosition >= FSize; }
  uint8_t Byte();
  // Two bytes, little-endian.
  uint16_t U16();
  // The next Count bytes, fewer when the input ends first.
  std::string_view Take(size_t Count);

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPosition = 0;
};

// The work one input may cause: bytes stored by sinks and a fixed charge
// for each extraction attempt, so that neither huge entries nor huge entry
// counts can run an input past the fuzzer's time and memory limits.
class TWorkBudget {
 public:
  explicit TWorkBudget(int64_t Units) : FRemaining(Units) {}
  // Takes Units from the budget. Returns false, taking nothing, when fewer
  // remain.
  bool Spend(int64_t Units);

 private:
  int64_t FRemaining;
};

// A growable memory stream that stores at most Limit bytes and charges each
// byte it grows by to Budget; a write that would exceed either stores
// nothing, so WriteBuffer raises EWriteError as on a full disk.
class TBoundedSink : public kv::TStream {
 public:
  TBoundedSink(TWorkBudget& Budget, int64_t Limit) : FBudget(Budget), FLimit(Limit) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, kv::TSeekOrigin Origin) override;
  int64_t GetSize() override { return int64_t(FData.size()); }

  const TBytes& Bytes() const { return FData; }

 private:
  TWorkBudget& FBudget;
  int64_t FLimit;
  TBytes FData;
  int64_t FPosition = 0;
};

// One entry of an archive the fuzzer describes.
struct TFuzzEntry {
  std::string Name;
  std::string Path;
  bool Stored = false;
  TBytes GapBefore;  // bytes written between the previous region and this entry
  TBytes Data;
};

// An archive the fuzzer describes, for targets that build archives with the
// writer rather than read arbitrary bytes.
struct TFuzzArchive {
  // Bits 0 and 1 select the writer's options; the others are left to the
  // target.
  uint8_t Settings = 0;
  kv::TZLBWriterOptions Options;
  std::vector<TFuzzEntry> Entries;
};

inline constexpr size_t MaxFuzzEntries = 64;
inline constexpr size_t MaxEntryBytes = 512 * 1024;
inline constexpr size_t MaxArchiveBytes = 1024 * 1024;

// Decodes an archive description:
//   settings byte: bit 0 writer option Stored, bit 1 RawDirectory
//   then, until the input ends, at most MaxFuzzEntries entries of
//     flags byte: bit 0 this entry stored, bit 1 a gap before it, bit 2
//       scrambled contents
//     [gap length byte, gap bytes]   when bit 1 is set
//     name length byte, name bytes
//     path length byte, path bytes
//     data length (two bytes, little-endian), repeat byte, data bytes
// The entry's contents are its data bytes repeated (repeat + 1) times, cut
// at MaxEntryBytes and at what remains of MaxArchiveBytes; scrambled, they
// are then mixed with a pseudo-random sequence, which deflate cannot shrink,
// so that small inputs make compressed entries of many input blocks.
TFuzzArchive DecodeArchive(TFuzzInput& Input);

// Writes Archive with the writer. Raises what the writer raises.
TBytes BuildArchive(const TFuzzArchive& Archive, std::vector<kv::TZLBFileEntry>* Written = nullptr);

}  // namespace kvfuzz
