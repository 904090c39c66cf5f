// Little-endian fields of binary records, and the checks that keep offsets
// and sizes taken from a file inside what they index: one place for every
// reader and writer of the archive and of PE images, and for every stream's
// seek.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace kv {

constexpr uint16_t GetU16LE(const uint8_t* P) {
  return uint16_t(P[0] | P[1] << 8);
}
constexpr uint32_t GetU32LE(const uint8_t* P) {
  return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}
constexpr int32_t GetI32LE(const uint8_t* P) {
  return static_cast<int32_t>(GetU32LE(P));
}

constexpr void PutU16LE(uint8_t* P, uint16_t V) {
  P[0] = uint8_t(V);
  P[1] = uint8_t(V >> 8);
}
constexpr void PutU32LE(uint8_t* P, uint32_t V) {
  P[0] = uint8_t(V);
  P[1] = uint8_t(V >> 8);
  P[2] = uint8_t(V >> 16);
  P[3] = uint8_t(V >> 24);
}
constexpr void PutI32LE(uint8_t* P, int32_t V) {
  PutU32LE(P, static_cast<uint32_t>(V));
}

// Value into the two or four bytes at At, which must lie inside Bytes.
inline void PutU16LE(std::span<uint8_t> Bytes, size_t At, uint16_t Value) {
  PutU16LE(Bytes.subspan(At, 2).data(), Value);
}
inline void PutU32LE(std::span<uint8_t> Bytes, size_t At, uint32_t Value) {
  PutU32LE(Bytes.subspan(At, 4).data(), Value);
}

// Value appended to Bytes.
inline void AppendU16LE(std::vector<uint8_t>& Bytes, uint16_t Value) {
  Bytes.push_back(uint8_t(Value));
  Bytes.push_back(uint8_t(Value >> 8));
}
inline void AppendU32LE(std::vector<uint8_t>& Bytes, uint32_t Value) {
  AppendU16LE(Bytes, uint16_t(Value));
  AppendU16LE(Bytes, uint16_t(Value >> 16));
}

// True when Length bytes from Offset lie inside Size bytes, that is when
// none is negative and Offset + Length <= Size, worked out so that no sum
// can overflow.
constexpr bool RangeInside(int64_t Offset, int64_t Length, int64_t Size) {
  return Offset >= 0 && Length >= 0 && Offset <= Size && Length <= Size - Offset;
}

// The position Offset bytes from Base, or nullopt when it would lie before 0
// or beyond what an int64_t holds.
constexpr std::optional<int64_t> SeekTarget(int64_t Base, int64_t Offset) {
  constexpr int64_t Max = std::numeric_limits<int64_t>::max();
  constexpr int64_t Min = std::numeric_limits<int64_t>::min();
  if ((Offset > 0 && Base > Max - Offset) || (Offset < 0 && Base < Min - Offset))
    return std::nullopt;
  if (Base + Offset < 0) return std::nullopt;
  return Base + Offset;
}

}  // namespace kv
