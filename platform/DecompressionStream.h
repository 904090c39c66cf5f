// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
#pragma once

#include <cstdint>
#include <memory>

#include "Streams.h"

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

  // Delivers up to Count inflated bytes. Fewer (or none) are delivered when
  // the zlib stream has ended or the source has no more input: a stream that
  // is cut short ends the output, it never waits for more. Input is pulled in
  // blocks of up to InputBlockSize bytes, so the source may be read past the
  // end of the zlib stream. Raises EZDecompressionError("error") when zlib
  // reports an error, once every byte inflated before the error has been
  // delivered.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Raises EStreamError: the stream is read-only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Reports the count of bytes delivered so far for Seek(0, soCurrent); any
  // other seek raises EStreamError.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  // True once the end of the zlib stream has been reached.
  bool StreamEnded() const { return FStreamEnded; }

 private:
  // Inflates the next block of output. Returns false when no more will come.
  bool Refill();

  struct TInflater;  // zlib's state and buffers, kept out of this header
  TStream& FSource;
  int64_t FSourcePosition;
  std::unique_ptr<TInflater> FInflater;
  int64_t FDelivered = 0;
  bool FStreamEnded = false;
  bool FSourceExhausted = false;
  bool FErrorPending = false;
};

}  // namespace kv
