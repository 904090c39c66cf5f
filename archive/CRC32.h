// The standard CRC-32 (zlib, IEEE 802.3: reflected polynomial 0xEDB88320,
// register preset to all ones, result complemented), computed with
// slicing-by-8 tables derived from the 256-entry table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

inline constexpr uint32_t CRC32Polynomial = 0xEDB88320u;

using TCRCTable = std::array<uint32_t, 256>;
// Tables 1 to 7 of slicing-by-8; table 0 is the CRC table itself.
using TCRCSliceTables = std::array<TCRCTable, 7>;

// Entry n of the standard table: n through eight rounds of shift right by
// one, XOR-ing the polynomial when the bit shifted out was 1.
void FillCRCTable(TCRCTable& Table);
void FillCRCSliceTables(const TCRCTable& Table, TCRCSliceTables& Slices);

// Feeds Length bytes into the register Register (not complemented) and
// returns the new register.
uint32_t CRC32Update(const TCRCTable& Table, const TCRCSliceTables& Slices, uint32_t Register,
                     const uint8_t* Data, size_t Length);

}  // namespace kv
