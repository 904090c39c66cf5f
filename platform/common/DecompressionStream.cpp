// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
//
// zlib inflates the raw deflate data; the two-byte header and the Adler-32
// check value around it are handled here, the check value computed with
// vector instructions, which zlib's own does not use.
#include "konvoro/DecompressionStream.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "konvoro/Adler32.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"

namespace kv {

namespace {
constexpr size_t HeaderSize = 2;
constexpr size_t TrailerSize = 4;
}  // namespace

struct TDecompressionStream::TInflater {
  enum class TPhase : uint8_t { Header, Data, Trailer, Ended };

  z_stream Z{};
  std::unique_ptr<Bytef[]> Input = std::make_unique_for_overwrite<Bytef[]>(InputBlockSize);
  std::unique_ptr<Bytef[]> Output = std::make_unique_for_overwrite<Bytef[]>(OutputBlockSize);
  size_t OutputStart = 0;  // the next byte to hand out
  size_t OutputEnd = 0;    // the end of the inflated bytes
  TPhase Phase = TPhase::Header;
  uint8_t Framing[TrailerSize] = {};  // header or trailer bytes gathered so far
  size_t FramingHave = 0;
  bool Verify;
  uint32_t Adler = Adler32Initial;
  // What went wrong, in zlib's words, once something has.
  const char* ErrorText = nullptr;

  explicit TInflater(TCheckValue Check) : Verify(Check == TCheckValue::Verify) {
    if (inflateInit2(&Z, -MAX_WBITS) != Z_OK) throw EZDecompressionError(messages::SZlibError);
  }
  ~TInflater() { inflateEnd(&Z); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // Moves input bytes into Framing until Needed are there. Returns whether
  // they are.
  bool Gather(size_t Needed) {
    while (FramingHave < Needed && Z.avail_in > 0) {
      Framing[FramingHave++] = *Z.next_in++;
      --Z.avail_in;
    }
    return FramingHave == Needed;
  }

  // A zlib header: deflate, a window of at most 32 KiB, no preset
  // dictionary, and the check bits right.
  bool HeaderValid() const {
    const unsigned Method = Framing[0], Flags = Framing[1];
    return (Method & 0x0F) == Z_DEFLATED && (Method >> 4) <= 7 && (Flags & 0x20) == 0 &&
           (Method * 256 + Flags) % 31 == 0;
  }

  uint32_t StoredCheckValue() const {
    return uint32_t(Framing[0]) << 24 | uint32_t(Framing[1]) << 16 | uint32_t(Framing[2]) << 8 |
           Framing[3];
  }
};

TDecompressionStream::TDecompressionStream(TStream& Source, TCheckValue Check)
    : FSource(Source),
      FSourcePosition(Source.GetPosition()),
      FInflater(std::make_unique<TInflater>(Check)) {}

TDecompressionStream::~TDecompressionStream() = default;

bool TDecompressionStream::Refill() {
  using TPhase = TInflater::TPhase;
  TInflater& I = *FInflater;
  if (I.Phase == TPhase::Ended || FErrorPending) return false;
  z_stream& Z = I.Z;
  Z.next_out = I.Output.get();
  Z.avail_out = uInt(OutputBlockSize);
  while (Z.avail_out > 0 && I.Phase != TPhase::Ended && !FErrorPending) {
    if (Z.avail_in == 0) {
      if (FSourceExhausted) break;
      // The source may have been moved by someone else since the last pull.
      FSource.Seek(FSourcePosition, TSeekOrigin::soBeginning);
      const int32_t Got = FSource.Read(I.Input.get(), InputBlockSize);
      if (Got <= 0) {
        FSourceExhausted = true;
        FSourceError = FSource.Error();
        break;
      }
      FSourcePosition += Got;
      Z.next_in = I.Input.get();
      Z.avail_in = uInt(Got);
    }
    switch (I.Phase) {
      case TPhase::Header:
        if (!I.Gather(HeaderSize)) break;
        if (!I.HeaderValid()) {
          I.ErrorText = "incorrect header check";
          FErrorPending = true;
          break;
        }
        I.Phase = TPhase::Data;
        I.FramingHave = 0;
        break;
      case TPhase::Data: {
        Bytef* const Start = Z.next_out;
        const int Result = inflate(&Z, Z_NO_FLUSH);
        if (I.Verify) I.Adler = Adler32Update(I.Adler, Start, size_t(Z.next_out - Start));
        if (Result == Z_STREAM_END) {
          I.Phase = I.Verify ? TPhase::Trailer : TPhase::Ended;
        } else if (Result != Z_OK) {
          // With input and room for output inflate makes progress or fails;
          // what it inflated before failing is still handed out first.
          I.ErrorText = Z.msg != nullptr ? Z.msg : zError(Result);
          FErrorPending = true;
        }
        break;
      }
      case TPhase::Trailer:
        if (!I.Gather(TrailerSize)) break;
        if (I.StoredCheckValue() != I.Adler) {
          I.ErrorText = "incorrect data check";
          FErrorPending = true;
        } else {
          I.Phase = TPhase::Ended;
        }
        break;
      case TPhase::Ended:
        break;
    }
  }
  FStreamEnded = I.Phase == TPhase::Ended;
  I.OutputStart = 0;
  I.OutputEnd = size_t(OutputBlockSize) - Z.avail_out;
  return I.OutputEnd > 0;
}

int32_t TDecompressionStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  TInflater& I = *FInflater;
  auto* Out = static_cast<uint8_t*>(Buffer);
  int32_t Done = 0;
  for (;;) {
    const size_t Held = I.OutputEnd - I.OutputStart;
    const auto Wanted = size_t(Count - Done);
    if (Held > Wanted) {
      // A byte beyond this read has inflated cleanly, so the failure point,
      // if any, lies past the read.
      std::memcpy(Out + Done, I.Output.get() + I.OutputStart, Wanted);
      I.OutputStart += Wanted;
      Done = Count;
      break;
    }
    std::memcpy(Out + Done, I.Output.get() + I.OutputStart, Held);
    I.OutputStart = I.OutputEnd;
    Done += int32_t(Held);
    // Everything inflated before the error lies within this read.
    if (FErrorPending)
      RaiseWithCause(EZDecompressionError(messages::SZlibError),
                     Exception(I.ErrorText != nullptr ? I.ErrorText : messages::SZlibError));
    // Inflates on even when the read is complete: an error right at its end
    // must make it raise.
    if (!Refill() && !FErrorPending) break;
  }
  FDelivered += Done;
  SetError(Done < Count ? FSourceError : std::error_code());
  return Done;
}

bool TDecompressionStream::EndsHere() {
  uint8_t Beyond;
  try {
    return Read(&Beyond, 1) == 0 && FStreamEnded;
  } catch (const EZDecompressionError&) {
    return false;
  }
}

int32_t TDecompressionStream::Write(const void*, int32_t) {
  throw EStreamError(messages::SInvalidStreamOperation);
}

int64_t TDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == TSeekOrigin::soCurrent) return FDelivered;
  throw EStreamError(messages::SInvalidStreamOperation);
}

}  // namespace kv
