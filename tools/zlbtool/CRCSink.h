// A stream that keeps only the CRC-32 and count of what is written to it:
// an entry's data tested without being kept.
#pragma once

#include <cstdint>

#include "konvoro/Streams.h"
#include "konvoro/zlb/CRC32.h"

namespace zlbtool {

class TCRCSink : public kv::TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0) return 0;
    FCRC = kv::CRC32Update(FCRC, {static_cast<const uint8_t*>(Buffer), size_t(Count)});
    FCount += Count;
    return Count;
  }
  int64_t Seek(int64_t, kv::TSeekOrigin) override { return FCount; }
  uint32_t CRC() const { return FCRC; }
  int64_t Count() const { return FCount; }

 private:
  uint32_t FCRC = 0;
  int64_t FCount = 0;
};

}  // namespace zlbtool
