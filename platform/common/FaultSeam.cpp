// A seam for tests: makes the k-th counted file operation fail.
#include "FaultSeam.h"

namespace kv::fault {

namespace {
// Single-threaded by design, like everything that performs file operations.
bool GArmed = false;
uint64_t GFailAt = 0;
uint64_t GCount = 0;
std::optional<TOperation> GFailed;
}  // namespace

bool Injected(TOperation Operation) noexcept {
  if (!GArmed) return false;
  ++GCount;
  if (GCount != GFailAt) return false;
  GFailed = Operation;
  return true;
}

void Arm(uint64_t FailAt) noexcept {
  GArmed = true;
  GFailAt = FailAt;
  GCount = 0;
  GFailed.reset();
}

void Disarm() noexcept {
  GArmed = false;
  GFailAt = 0;
}

uint64_t Count() noexcept {
  return GCount;
}

std::optional<TOperation> FailedOperation() noexcept {
  return GFailed;
}

}  // namespace kv::fault
