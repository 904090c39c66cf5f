// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
#include "DecompressionStream.h"

#include <zlib.h>

#include <vector>

#include "ClassMessages.h"
#include "Exceptions.h"

namespace kv {

struct TDecompressionStream::TInflater {
  z_stream Z{};
  std::vector<Bytef> Input = std::vector<Bytef>(InputBlockSize);

  TInflater() {
    if (inflateInit(&Z) != Z_OK) throw EZDecompressionError(messages::SZlibError);
  }
  ~TInflater() { inflateEnd(&Z); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
};

TDecompressionStream::TDecompressionStream(TStream& Source)
    : FSource(Source),
      FSourcePosition(Source.GetPosition()),
      FInflater(std::make_unique<TInflater>()) {}

TDecompressionStream::~TDecompressionStream() = default;

int32_t TDecompressionStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FStreamEnded) return 0;
  z_stream& Z = FInflater->Z;
  Z.next_out = static_cast<Bytef*>(Buffer);
  Z.avail_out = static_cast<uInt>(Count);
  while (Z.avail_out > 0) {
    if (Z.avail_in == 0) {
      if (FSourceExhausted) break;
      // The source may have been moved by someone else since the last pull.
      FSource.Seek(FSourcePosition, TSeekOrigin::soBeginning);
      const int32_t Got = FSource.Read(FInflater->Input.data(), InputBlockSize);
      if (Got <= 0) {
        FSourceExhausted = true;
        break;
      }
      FSourcePosition += Got;
      Z.next_in = FInflater->Input.data();
      Z.avail_in = static_cast<uInt>(Got);
    }
    const int Result = inflate(&Z, Z_NO_FLUSH);
    if (Result == Z_STREAM_END) {
      FStreamEnded = true;
      break;
    }
    // Z_NEED_DICT and Z_BUF_ERROR count as errors too: with input and room
    // for output, inflate makes progress or fails.
    if (Result != Z_OK) throw EZDecompressionError(messages::SZlibError);
  }
  const int32_t Delivered = Count - static_cast<int32_t>(Z.avail_out);
  Z.next_out = nullptr;
  Z.avail_out = 0;
  return Delivered;
}

int32_t TDecompressionStream::Write(const void*, int32_t) {
  throw EStreamError(messages::SInvalidStreamOperation);
}

int64_t TDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == TSeekOrigin::soCurrent)
    return static_cast<int64_t>(FInflater->Z.total_out);
  throw EStreamError(messages::SInvalidStreamOperation);
}

}  // namespace kv
