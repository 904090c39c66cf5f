// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
#include "DecompressionStream.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "ClassMessages.h"
#include "Exceptions.h"

namespace kv {

struct TDecompressionStream::TInflater {
  z_stream Z{};
  std::unique_ptr<Bytef[]> Input = std::make_unique_for_overwrite<Bytef[]>(InputBlockSize);
  std::unique_ptr<Bytef[]> Output = std::make_unique_for_overwrite<Bytef[]>(OutputBlockSize);
  size_t OutputStart = 0;  // the next byte to hand out
  size_t OutputEnd = 0;    // the end of the inflated bytes

  explicit TInflater(TCheckValue Check) {
    if (inflateInit(&Z) != Z_OK) throw EZDecompressionError(messages::SZlibError);
    if (Check == TCheckValue::Ignore) inflateValidate(&Z, 0);
  }
  ~TInflater() { inflateEnd(&Z); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
};

TDecompressionStream::TDecompressionStream(TStream& Source, TCheckValue Check)
    : FSource(Source), FSourcePosition(Source.GetPosition()),
      FInflater(std::make_unique<TInflater>(Check)) {}

TDecompressionStream::~TDecompressionStream() = default;

bool TDecompressionStream::Refill() {
  if (FStreamEnded || FErrorPending) return false;
  TInflater& I = *FInflater;
  z_stream& Z = I.Z;
  Z.next_out = I.Output.get();
  Z.avail_out = uInt(OutputBlockSize);
  while (Z.avail_out > 0) {
    if (Z.avail_in == 0) {
      if (FSourceExhausted) break;
      // The source may have been moved by someone else since the last pull.
      FSource.Seek(FSourcePosition, TSeekOrigin::soBeginning);
      const int32_t Got = FSource.Read(I.Input.get(), InputBlockSize);
      if (Got <= 0) {
        FSourceExhausted = true;
        break;
      }
      FSourcePosition += Got;
      Z.next_in = I.Input.get();
      Z.avail_in = uInt(Got);
    }
    const int Result = inflate(&Z, Z_NO_FLUSH);
    if (Result == Z_STREAM_END) {
      FStreamEnded = true;
      break;
    }
    // Z_NEED_DICT and Z_BUF_ERROR count as errors too: with input and room
    // for output, inflate makes progress or fails. What was inflated before
    // the error is still handed out first.
    if (Result != Z_OK) {
      FErrorPending = true;
      break;
    }
  }
  I.OutputStart = 0;
  I.OutputEnd = size_t(OutputBlockSize) - Z.avail_out;
  return I.OutputEnd > 0;
}

int32_t TDecompressionStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  TInflater& I = *FInflater;
  auto* Out = static_cast<uint8_t*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    if (I.OutputStart == I.OutputEnd && !Refill()) {
      // The error surfaces once everything before it has been handed out.
      if (FErrorPending && Done == 0) throw EZDecompressionError(messages::SZlibError);
      break;
    }
    const size_t N = std::min(size_t(Count - Done), I.OutputEnd - I.OutputStart);
    std::memcpy(Out + Done, I.Output.get() + I.OutputStart, N);
    I.OutputStart += N;
    Done += int32_t(N);
  }
  FDelivered += Done;
  return Done;
}

int32_t TDecompressionStream::Write(const void*, int32_t) {
  throw EStreamError(messages::SInvalidStreamOperation);
}

int64_t TDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == TSeekOrigin::soCurrent) return FDelivered;
  throw EStreamError(messages::SInvalidStreamOperation);
}

}  // namespace kv
