// The standard CRC-32: slicing-by-8 tables built on first use, and on x86
// processors with the carry-less multiply instruction, folding 64 bytes a
// step.
#include "konvoro/zlb/CRC32.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_CRC32_FOLDING 1
#endif

namespace kv {

namespace {

#ifdef KV_CRC32_FOLDING
// Folding constants for the reflected polynomial: x^(k) mod P(x) for the
// fold distances used below, and the Barrett pair (P', u').
constexpr uint64_t K1 = 0x154442bd4, K2 = 0x1c6e41596;  // 512-bit folds
constexpr uint64_t K3 = 0x1751997d0, K4 = 0x0ccaa009e;  // 128-bit folds
constexpr uint64_t K5 = 0x163cd6124;                    // 64 to 32 bits
constexpr uint64_t PolyP = 0x1db710641, PolyU = 0x1f7011641;

__attribute__((target("pclmul,sse4.1"))) __m128i Fold(__m128i Acc, __m128i Keys, __m128i Next) {
  const __m128i Low = _mm_clmulepi64_si128(Acc, Keys, 0x00);
  const __m128i High = _mm_clmulepi64_si128(Acc, Keys, 0x11);
  return _mm_xor_si128(_mm_xor_si128(Low, High), Next);
}

__attribute__((target("pclmul,sse4.1"))) __m128i Load(const uint8_t* P) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
}

// Register after Length bytes (at least 64, a multiple of 16).
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldingUpdate(uint32_t Register, const uint8_t* P,
                                                                size_t Length) {
  __m128i X1 = _mm_xor_si128(Load(P), _mm_cvtsi32_si128(int(Register)));
  __m128i X2 = Load(P + 16), X3 = Load(P + 32), X4 = Load(P + 48);
  P += 64;
  Length -= 64;
  const __m128i K1K2 = _mm_set_epi64x(int64_t(K2), int64_t(K1));
  while (Length >= 64) {
    X1 = Fold(X1, K1K2, Load(P));
    X2 = Fold(X2, K1K2, Load(P + 16));
    X3 = Fold(X3, K1K2, Load(P + 32));
    X4 = Fold(X4, K1K2, Load(P + 48));
    P += 64;
    Length -= 64;
  }
  const __m128i K3K4 = _mm_set_epi64x(int64_t(K4), int64_t(K3));
  X1 = Fold(X1, K3K4, X2);
  X1 = Fold(X1, K3K4, X3);
  X1 = Fold(X1, K3K4, X4);
  while (Length >= 16) {
    X1 = Fold(X1, K3K4, Load(P));
    P += 16;
    Length -= 16;
  }
  // 128 to 64 bits, appending 32 zero bits.
  __m128i X = _mm_xor_si128(_mm_clmulepi64_si128(K3K4, X1, 0x01), _mm_srli_si128(X1, 8));
  // 64 to 32 bits.
  const __m128i Mask32 = _mm_set_epi32(0, 0, 0, -1);
  X = _mm_xor_si128(
      _mm_clmulepi64_si128(_mm_and_si128(X, Mask32), _mm_set_epi64x(0, int64_t(K5)), 0x00),
      _mm_srli_si128(X, 4));
  // Barrett reduction to the 32-bit remainder.
  const __m128i Poly = _mm_set_epi64x(int64_t(PolyU), int64_t(PolyP));
  __m128i T = _mm_clmulepi64_si128(_mm_and_si128(X, Mask32), Poly, 0x10);
  T = _mm_clmulepi64_si128(_mm_and_si128(T, Mask32), Poly, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(X, T), 1));
}

bool CanFold() {
  static const bool Supported =
      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return Supported;
}
#endif

// Table 0 is the standard table; table K gives the contribution of a byte
// that still has K further bytes to travel through the register.
using TCRCSliceTables = std::array<TCRCTable, 8>;

TCRCSliceTables MakeSliceTables() {
  TCRCSliceTables T{};
  for (uint32_t N = 0; N < 256; ++N) {
    uint32_t C = N;
    for (int Round = 0; Round < 8; ++Round)
      C = (C & 1) ? (C >> 1) ^ CRC32Polynomial : C >> 1;
    T[0][N] = C;
  }
  for (size_t N = 0; N < 256; ++N)
    for (size_t K = 1; K < T.size(); ++K)
      T[K][N] = (T[K - 1][N] >> 8) ^ T[0][T[K - 1][N] & 0xFF];
  return T;
}

// Built once, on first use: 8 KiB of tables cost the program file more than
// their computing costs at run time.
const TCRCSliceTables& Slices() {
  static const TCRCSliceTables Tables = MakeSliceTables();
  return Tables;
}

uint32_t SlicingUpdate(uint32_t Reg, const uint8_t* Data, size_t Length) {
  const TCRCSliceTables& S = Slices();
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
    Reg = S[7][Low & 0xFF] ^ S[6][(Low >> 8) & 0xFF] ^ S[5][(Low >> 16) & 0xFF] ^ S[4][Low >> 24] ^
          S[3][High & 0xFF] ^ S[2][(High >> 8) & 0xFF] ^ S[1][(High >> 16) & 0xFF] ^
          S[0][High >> 24];
    Data += 8;
    Length -= 8;
  }
  while (Length-- > 0)
    Reg = S[0][(Reg ^ *Data++) & 0xFF] ^ (Reg >> 8);
  return Reg;
}

}  // namespace

void FillCRCTable(TCRCTable& Table) {
  Table = Slices()[0];
}

uint32_t CRC32Update(uint32_t CRC, std::span<const uint8_t> Data) {
  uint32_t Register = ~CRC;
  const uint8_t* P = Data.data();
  size_t Length = Data.size();
#ifdef KV_CRC32_FOLDING
  if (Length >= 64 && CanFold()) {
    const size_t Folded = Length & ~size_t(15);
    Register = FoldingUpdate(Register, P, Folded);
    P += Folded;
    Length -= Folded;
  }
#endif
  return ~SlicingUpdate(Register, P, Length);
}

}  // namespace kv
