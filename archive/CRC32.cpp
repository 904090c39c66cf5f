// The standard CRC-32 with slicing-by-8.
#include "CRC32.h"

#include <cstring>

namespace kv {

void FillCRCTable(TCRCTable& Table) {
  for (uint32_t N = 0; N < 256; ++N) {
    uint32_t C = N;
    for (int Round = 0; Round < 8; ++Round)
      C = (C & 1) ? (C >> 1) ^ CRC32Polynomial : C >> 1;
    Table[N] = C;
  }
}

void FillCRCSliceTables(const TCRCTable& Table, TCRCSliceTables& Slices) {
  for (size_t N = 0; N < 256; ++N) {
    uint32_t C = Table[N];
    for (size_t K = 0; K < Slices.size(); ++K) {
      C = (C >> 8) ^ Table[C & 0xFF];
      Slices[K][N] = C;
    }
  }
}

uint32_t CRC32Update(const TCRCTable& T0, const TCRCSliceTables& S, uint32_t Reg,
                     const uint8_t* Data, size_t Length) {
  // Eight bytes a step: each byte's contribution is looked up for the
  // distance it still has to travel, so the eight lookups are independent.
  while (Length >= 8) {
    uint32_t Low, High;
    std::memcpy(&Low, Data, 4);
    std::memcpy(&High, Data + 4, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    Low = __builtin_bswap32(Low);
    High = __builtin_bswap32(High);
#endif
    Low ^= Reg;
    Reg = S[6][Low & 0xFF] ^ S[5][(Low >> 8) & 0xFF] ^ S[4][(Low >> 16) & 0xFF] ^ S[3][Low >> 24] ^
          S[2][High & 0xFF] ^ S[1][(High >> 8) & 0xFF] ^ S[0][(High >> 16) & 0xFF] ^ T0[High >> 24];
    Data += 8;
    Length -= 8;
  }
  while (Length-- > 0)
    Reg = T0[(Reg ^ *Data++) & 0xFF] ^ (Reg >> 8);
  return Reg;
}

}  // namespace kv
