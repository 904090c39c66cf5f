// A window on another stream.
#include "RangeStream.h"

#include <algorithm>

#include "Exceptions.h"

namespace kv {

TRangeStream::TRangeStream(std::unique_ptr<TStream> Base, int64_t Offset, int64_t Length)
    : FBase(std::move(Base)), FOffset(Offset), FLength(Length) {
  if (!FBase || Offset < 0 || Length < 0 || Offset > INT64_MAX - Length)
    throw Exception("A stream window needs a stream, and an offset and a length from 0 on");
}

int32_t TRangeStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition >= FLength) return 0;
  const auto Wanted = static_cast<int32_t>(std::min<int64_t>(Count, FLength - FPosition));
  if (FBase->Seek(FOffset + FPosition, TSeekOrigin::soBeginning) != FOffset + FPosition) return 0;
  const int32_t Got = FBase->Read(Buffer, Wanted);
  if (Got > 0) FPosition += Got;
  return std::max(Got, 0);
}

int64_t TRangeStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t Base = 0;
  switch (Origin) {
    case TSeekOrigin::soBeginning:
      Base = 0;
      break;
    case TSeekOrigin::soCurrent:
      Base = FPosition;
      break;
    case TSeekOrigin::soEnd:
      Base = FLength;
      break;
  }
  // Far beyond the end is allowed, as in a file, but not past what an
  // offset into Base can express.
  if (Offset < -Base || Offset > INT64_MAX - FOffset - Base) return -1;
  FPosition = Base + Offset;
  return FPosition;
}

}  // namespace kv
