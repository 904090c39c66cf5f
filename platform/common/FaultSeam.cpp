// A seam for tests: makes the k-th counted file operation fail.
#include "FaultSeam.h"

namespace kv::fault {

namespace {
// Single-threaded by design, like everything that performs file operations.
bool GArmed = false;
uint64_t GFailAt = 0;
uint64_t GCount = 0;
}  // namespace

bool Injected(TOperation) noexcept {
  if (!GArmed) return false;
  ++GCount;
  return GCount == GFailAt;
}

void Arm(uint64_t FailAt) noexcept {
  GArmed = true;
  GFailAt = FailAt;
  GCount = 0;
}

void Disarm() noexcept {
  GArmed = false;
  GFailAt = 0;
}

uint64_t Count() noexcept {
  return GCount;
}

}  // namespace kv::fault
