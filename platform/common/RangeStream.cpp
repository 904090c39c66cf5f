// A window on another stream.
#include "konvoro/RangeStream.h"

#include <algorithm>

#include "konvoro/Binary.h"
#include "konvoro/Exceptions.h"

namespace kv {

TRangeStream::TRangeStream(std::unique_ptr<TStream> Base, int64_t Offset, int64_t Length)
    : FBase(std::move(Base)), FOffset(Offset), FLength(Length) {
  if (!FBase || Offset < 0 || Length < 0 || Offset > INT64_MAX - Length)
    throw Exception("A stream window needs a stream, and an offset and a length from 0 on");
}

int32_t TRangeStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition >= FLength) return 0;
  const auto Wanted = static_cast<int32_t>(std::min<int64_t>(Count, FLength - FPosition));
  if (FBase->Seek(FOffset + FPosition, TSeekOrigin::soBeginning) != FOffset + FPosition) {
    SetError(FBase->Error());
    return 0;
  }
  const int32_t Got = FBase->Read(Buffer, Wanted);
  SetError(FBase->Error());
  if (Got > 0) FPosition += Got;
  return std::max(Got, 0);
}

int64_t TRangeStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  // Far beyond the end is allowed, as in a file, but not past what an
  // offset into Base can express.
  const std::optional<int64_t> Target = SeekTarget(SeekBase(Origin, FPosition, FLength), Offset);
  if (!Target || !SeekTarget(FOffset, *Target)) return -1;
  FPosition = *Target;
  return FPosition;
}

}  // namespace kv
