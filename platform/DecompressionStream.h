// TDecompressionStream: a read-only stream that inflates a zlib stream read
// from another stream.
#pragma once

#include <cstdint>
#include <memory>

#include "Streams.h"

namespace kv {

class TDecompressionStream : public TStream {
 public:
  // The size of the blocks in which input is pulled from the source.
  static constexpr int32_t InputBlockSize = 65536;

  // Takes its input from Source, starting where Source stands now; nothing is
  // read until the first Read. Source must outlive this stream and stays open.
  explicit TDecompressionStream(TStream& Source);
  ~TDecompressionStream() override;

  // Delivers up to Count inflated bytes. Fewer (or none) are delivered when
  // the zlib stream has ended or the source has no more input: a stream that
  // is cut short ends the output, it never waits for more. Input is pulled in
  // blocks of up to InputBlockSize bytes, so the source may be read past the
  // end of the zlib stream. Raises EZDecompressionError("error") when zlib
  // reports an error.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Raises EStreamError: the stream is read-only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Reports the count of bytes delivered so far for Seek(0, soCurrent); any
  // other seek raises EStreamError.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  // True once the end of the zlib stream has been reached.
  bool StreamEnded() const { return FStreamEnded; }

 private:
  struct TInflater;  // zlib's state, kept out of this header
  TStream& FSource;
  int64_t FSourcePosition;
  std::unique_ptr<TInflater> FInflater;
  bool FStreamEnded = false;
  bool FSourceExhausted = false;
};

}  // namespace kv
