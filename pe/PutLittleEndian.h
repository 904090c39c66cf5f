// Little-endian stores of the image writer, in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kv::pe {

// Value into the two or four bytes at At, which must lie inside Bytes.
inline void PutU16(std::span<uint8_t> Bytes, size_t At, uint16_t Value) {
  Bytes[At] = uint8_t(Value);
  Bytes[At + 1] = uint8_t(Value >> 8);
}
inline void PutU32(std::span<uint8_t> Bytes, size_t At, uint32_t Value) {
  for (size_t I = 0; I < 4; ++I)
    Bytes[At + I] = uint8_t(Value >> (8 * I));
}

// Value appended to Bytes.
inline void AppendU16(std::vector<uint8_t>& Bytes, uint16_t Value) {
  Bytes.push_back(uint8_t(Value));
  Bytes.push_back(uint8_t(Value >> 8));
}
inline void AppendU32(std::vector<uint8_t>& Bytes, uint32_t Value) {
  for (size_t I = 0; I < 4; ++I)
    Bytes.push_back(uint8_t(Value >> (8 * I)));
}

}  // namespace kv::pe
