// Adler-32, the check value of zlib streams, computed with SSSE3 where the
// processor has it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// The Adler-32 of no bytes.
inline constexpr uint32_t Adler32Initial = 1;

// Adler after Length more bytes of Data.
uint32_t Adler32Update(uint32_t Adler, const uint8_t* Data, size_t Length);

}  // namespace kv
