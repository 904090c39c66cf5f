// A stream decorator for tests that makes one read or write fail.
#include "FailingStream.h"

#include <system_error>

#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"

namespace kvtest {

bool TFaultPlan::Fails(TStreamOperation Operation) {
  if (++FCount != FFailAt) return false;
  FFailed = Operation;
  return true;
}

int32_t TFailingStream::Read(void* Buffer, int32_t Count) {
  if (!WriteGathered() || (Count > 0 && FPlan.Fails(TStreamOperation::Read))) {
    SetError(std::make_error_code(std::errc::io_error));
    return 0;
  }
  const int32_t Got = Count > 0 ? FInner.Read(Buffer, Count) : 0;
  SetError(Count > 0 ? FInner.Error() : std::error_code());
  return Got;
}

int32_t TFailingStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (FGathering) {
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    FGathered.insert(FGathered.end(), Bytes, Bytes + Count);
    return Count;
  }
  if (FPlan.Fails(TStreamOperation::Write)) return 0;
  return FInner.Write(Buffer, Count);
}

int64_t TFailingStream::Seek(int64_t Offset, kv::TSeekOrigin Origin) {
  if (!WriteGathered()) return -1;
  return FInner.Seek(Offset, Origin);
}

void TFailingStream::Flush() {
  if (!WriteGathered()) throw kv::EWriteError(kv::messages::SWriteError);
  FInner.Flush();
}

bool TFailingStream::WriteGathered() {
  if (FGathered.empty()) return true;
  if (FPlan.Fails(TStreamOperation::Write)) return false;
  FInner.WriteBuffer(FGathered.data(), int32_t(FGathered.size()));
  FGathered.clear();
  return true;
}

}  // namespace kvtest
