// A window on another stream: a range of it, given by an offset and a
// length, read as a stream of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "konvoro/Streams.h"

namespace kv {

// Reads Length bytes of Base from Offset on as a stream of its own: position 0
// is Base's Offset, the size is Length, and reads stop at the window's end
// (or earlier, where Base ends first). Every read positions Base itself, so
// Base may share its position with other handles. Seeks relative to the
// window go anywhere from 0 on, as in a file; before 0 they fail. Writes
// store nothing: the window is for reading.
class TRangeStream : public TStream {
 public:
  // Raises Exception when Offset or Length is negative.
  TRangeStream(std::unique_ptr<TStream> Base, int64_t Offset, int64_t Length);

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return FLength; }

 private:
  std::unique_ptr<TStream> FBase;
  int64_t FOffset;
  int64_t FLength;
  int64_t FPosition = 0;
};

}  // namespace kv
