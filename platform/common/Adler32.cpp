// Adler-32 with 32-byte vector steps (SSSE3) and a scalar remainder.
#include "konvoro/Adler32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_ADLER32_VECTOR 1
#endif

namespace kv {

namespace {

constexpr uint32_t Base = 65521;
// The most bytes that can be summed before the sums must be reduced: the
// largest n with 255 n (n + 1) / 2 + (n + 1) (Base - 1) < 2^32.
constexpr size_t MaxRun = 5552;

uint32_t ScalarUpdate(uint32_t A, uint32_t S, const uint8_t* Data, size_t Length) {
  while (Length > 0) {
    size_t Run = Length < MaxRun ? Length : MaxRun;
    Length -= Run;
    while (Run-- > 0) {
      A += *Data++;
      S += A;
    }
    A %= Base;
    S %= Base;
  }
  return (S << 16) | A;
}

#ifdef KV_ADLER32_VECTOR
__attribute__((target("ssse3"))) uint32_t HorizontalSum(__m128i V) {
  V = _mm_add_epi32(V, _mm_shuffle_epi32(V, _MM_SHUFFLE(1, 0, 3, 2)));
  V = _mm_add_epi32(V, _mm_shuffle_epi32(V, _MM_SHUFFLE(2, 3, 0, 1)));
  return uint32_t(_mm_cvtsi128_si32(V));
}

// Sums of 32-byte blocks: for a block b[0..31] the first sum grows by the
// bytes, the second by 32 times the first sum before the block plus the
// bytes weighted 32, 31, ..., 1.
__attribute__((target("ssse3"))) uint32_t VectorUpdate(uint32_t A, uint32_t S, const uint8_t*& Data,
                                                       size_t& Length) {
  const __m128i WeightsHigh =
      _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i WeightsLow = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m128i Ones = _mm_set1_epi16(1);
  const __m128i Zero = _mm_setzero_si128();
  while (Length >= 32) {
    size_t Blocks = Length / 32;
    if (Blocks > MaxRun / 32) Blocks = MaxRun / 32;
    Length -= Blocks * 32;
    __m128i Sums = Zero;         // the first sum's growth, per lane
    __m128i EarlierSums = Zero;  // the first sum's growth before each block, summed
    __m128i Weighted = Zero;     // the weighted bytes
    for (size_t K = 0; K < Blocks; ++K) {
      const __m128i First = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data));
      const __m128i Second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 16));
      Data += 32;
      EarlierSums = _mm_add_epi32(EarlierSums, Sums);
      Sums =
          _mm_add_epi32(Sums, _mm_add_epi32(_mm_sad_epu8(First, Zero), _mm_sad_epu8(Second, Zero)));
      Weighted =
          _mm_add_epi32(Weighted, _mm_madd_epi16(_mm_maddubs_epi16(First, WeightsHigh), Ones));
      Weighted =
          _mm_add_epi32(Weighted, _mm_madd_epi16(_mm_maddubs_epi16(Second, WeightsLow), Ones));
    }
    const uint64_t Second64 = uint64_t(S) + uint64_t(A) * 32 * Blocks +
                              uint64_t(HorizontalSum(EarlierSums)) * 32 + HorizontalSum(Weighted);
    A = uint32_t((uint64_t(A) + HorizontalSum(Sums)) % Base);
    S = uint32_t(Second64 % Base);
  }
  return (S << 16) | A;
}

bool HasVectors() {
  static const bool Supported = __builtin_cpu_supports("ssse3");
  return Supported;
}
#endif

}  // namespace

uint32_t Adler32Update(uint32_t Adler, const uint8_t* Data, size_t Length) {
  uint32_t A = Adler & 0xFFFF;
  uint32_t S = Adler >> 16;
#ifdef KV_ADLER32_VECTOR
  if (Length >= 32 && HasVectors()) {
    const uint32_t Sums = VectorUpdate(A, S, Data, Length);
    A = Sums & 0xFFFF;
    S = Sums >> 16;
  }
#endif
  return ScalarUpdate(A, S, Data, Length);
}

}  // namespace kv
