// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
#pragma once

#include <cstdint>
#include <memory>

#include "konvoro/Streams.h"

namespace kv {

// Whether the zlib stream's Adler-32 check value is computed and verified
// when the end of the stream is reached.
enum class TCheckValue : uint8_t { Verify, Ignore };

class TDecompressionStream : public TStream {
 public:
  // The size of the blocks in which input is pulled from the source.
  static constexpr int32_t InputBlockSize = 65536;
  // Inflated data is made this much at a time and handed out from there:
  // zlib works much faster on large output areas than on small reads.
  static constexpr int32_t OutputBlockSize = 256 * 1024;

  // Takes its input from Source, starting where Source stands now; nothing is
  // read until the first Read. Source must outlive this stream and stays open.
  explicit TDecompressionStream(TStream& Source, TCheckValue Check = TCheckValue::Verify);
  ~TDecompressionStream() override;

  // Delivers Count inflated bytes, or fewer (perhaps none) when the zlib
  // stream has ended or the source has no more input: a stream that is cut
  // short ends the output, it never waits for more. Input is pulled in blocks
  // of up to InputBlockSize bytes, so the source may be read past the end of
  // the zlib stream.
  //
  // A read that delivers fewer bytes because the source failed tells the
  // source's reason through Error().
  //
  // When zlib reports an error (damaged data, a wrong check value), the
  // failure point is the count of bytes inflated before it. A read from
  // position P of Count bytes with P + Count >= that point, one that reaches
  // or crosses it, raises EZDecompressionError("error"), with zlib's own
  // description of the error nested in it as its cause, and delivers nothing,
  // not even the good bytes before the point (Buffer's contents are then
  // undefined); so does every later read. Reads that end before the point
  // deliver in full: an error never shortens a read. To tell whether a read
  // ends right at the point, the stream inflates ahead before it hands out
  // the last byte made so far.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Raises EStreamError: the stream is read-only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Reports the count of bytes delivered so far for Seek(0, soCurrent); any
  // other seek raises EStreamError.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  // True once the end of the zlib stream has been reached.
  bool StreamEnded() const { return FStreamEnded; }
  // True when the zlib stream ends exactly at the current position: no more
  // bytes inflate, the end is there and its check value matches (when
  // verified). Reads on to find out; false, never raising, when zlib fails.
  bool EndsHere();

 private:
  // Inflates the next block of output. Returns false when it made none: the
  // stream has ended, its input ran out or zlib failed (FErrorPending).
  bool Refill();

  struct TInflater;  // zlib's state and buffers, kept out of this header
  TStream& FSource;
  int64_t FSourcePosition;
  std::unique_ptr<TInflater> FInflater;
  int64_t FDelivered = 0;
  bool FStreamEnded = false;
  bool FSourceExhausted = false;
  bool FErrorPending = false;
  // Why the source ran out, when it failed.
  std::error_code FSourceError;
};

}  // namespace kv
