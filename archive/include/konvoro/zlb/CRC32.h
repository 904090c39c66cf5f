// The standard CRC-32 (zlib, IEEE 802.3: reflected polynomial 0xEDB88320,
// register preset to all ones, result complemented), one entry point for
// the reader, the writer and the tools.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kv {

inline constexpr uint32_t CRC32Polynomial = 0xEDB88320u;

using TCRCTable = std::array<uint32_t, 256>;

// Entry n of the standard table: n through eight rounds of shift right by
// one, XOR-ing the polynomial when the bit shifted out was 1.
void FillCRCTable(TCRCTable& Table);

// The CRC-32 of the bytes that gave CRC followed by Data, as zlib's crc32
// counts it: start with 0, the CRC of no bytes. Its tables are built once,
// on first use.
uint32_t CRC32Update(uint32_t CRC, std::span<const uint8_t> Data);

}  // namespace kv
