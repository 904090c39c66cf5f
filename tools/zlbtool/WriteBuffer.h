// A stream that gathers small writes into large ones for the stream
// beneath it: the image writer writes headers and tables piece by piece.
#pragma once

#include <cstring>
#include <vector>

#include "konvoro/Exceptions.h"
#include "konvoro/Streams.h"

namespace zlbtool {

class TWriteBuffer : public kv::TStream {
 public:
  explicit TWriteBuffer(kv::TStream& Out, size_t Size = 256 * 1024) : FOut(Out), FBuffer(Size) {}

  int32_t Read(void* Buffer, int32_t Count) override {
    Flush();
    return FOut.Read(Buffer, Count);
  }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0) return 0;
    if (FUsed + size_t(Count) > FBuffer.size()) {
      Flush();
      if (size_t(Count) >= FBuffer.size()) return FOut.Write(Buffer, Count);
    }
    std::memcpy(FBuffer.data() + FUsed, Buffer, size_t(Count));
    FUsed += size_t(Count);
    return Count;
  }
  int64_t Seek(int64_t Offset, kv::TSeekOrigin Origin) override {
    Flush();
    return FOut.Seek(Offset, Origin);
  }
  // Hands the gathered bytes on; raises EWriteError with the reason when
  // the stream beneath stores fewer.
  void Flush() override {
    if (FUsed == 0) return;
    const size_t Used = FUsed;
    FUsed = 0;
    FOut.WriteBuffer(FBuffer.data(), int32_t(Used));
  }

 private:
  kv::TStream& FOut;
  std::vector<uint8_t> FBuffer;
  size_t FUsed = 0;
};

}  // namespace zlbtool
