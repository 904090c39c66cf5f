// A stream decorator for tests that makes one read or write fail, as a
// failing file operation does, counted across every stream that shares one
// plan.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "konvoro/Streams.h"

namespace kvtest {

enum class TStreamOperation : uint8_t { Read, Write };

// Counts the reads and writes of the streams decorated with it and fails one.
class TFaultPlan {
 public:
  // The FailAt-th operation from now on fails (1 is the next one); 0 only
  // counts.
  explicit TFaultPlan(uint64_t FailAt = 0) : FFailAt(FailAt) {}

  // Counts one operation. Returns true when it is the one to fail.
  bool Fails(TStreamOperation Operation);
  uint64_t Count() const { return FCount; }
  // The kind of the operation that failed, if one did.
  std::optional<TStreamOperation> Failed() const { return FFailed; }

 private:
  uint64_t FFailAt;
  uint64_t FCount = 0;
  std::optional<TStreamOperation> FFailed;
};

// Passes everything on to Inner; the reads and writes (of at least one byte)
// are counted by Plan, and the one it picks fails: a read delivers nothing
// and tells an input/output error as its reason, as a failing file does; a
// write stores nothing. Gathering, it holds written bytes back until Flush
// hands them on in one write, as a buffered file does; Flush then raises
// EWriteError when that write fails.
class TFailingStream : public kv::TStream {
 public:
  TFailingStream(kv::TStream& Inner, TFaultPlan& Plan, bool Gathering = false)
      : FInner(Inner), FPlan(Plan), FGathering(Gathering) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, kv::TSeekOrigin Origin) override;
  void Flush() override;

 private:
  // Hands the gathered bytes on. Returns false when the write failed.
  bool WriteGathered();

  kv::TStream& FInner;
  TFaultPlan& FPlan;
  bool FGathering;
  std::vector<uint8_t> FGathered;
};

}  // namespace kvtest
