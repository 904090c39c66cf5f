// A seam for tests: makes the k-th counted file operation fail as the
// operating system would report it. Inert unless a test arms it.
#pragma once

#include <cstdint>
#include <optional>

namespace kv::fault {

enum class TOperation : uint8_t { Open, Read, Write, Replace, CreateDir };

// Counts one operation. Returns true when this one is the armed call, which
// the caller then fails with an error code of its platform.
bool Injected(TOperation Operation) noexcept;

// Arms the seam: the FailAt-th counted operation from now on fails (1 is the
// next one); 0 only counts. Resets the count.
void Arm(uint64_t FailAt) noexcept;
// Stops counting and failing.
void Disarm() noexcept;
// The number of operations counted since the last Arm.
uint64_t Count() noexcept;
// The kind of operation that was made to fail since the last Arm, if any.
std::optional<TOperation> FailedOperation() noexcept;

}  // namespace kv::fault
