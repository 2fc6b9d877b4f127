// The version/variant pass with 512-bit vectors: four values per instruction, a bitwise select
// (VPTERNLOGD) of the fixed bits over the random ones; the last one to three values through a
// masked load and store. Compiled with -mavx512f -mavx512vl; only called once simd_level() has
// found AVX-512.
#if defined(__x86_64__)
#include <immintrin.h>

#include "random/version_bits.hpp"

// g++ 12 takes the "undefined" pass-through operand inside its AVX-512 intrinsics for a read of
// an uninitialised value.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace vantor {

void set_version_bits_avx512(uint8_t* out, size_t count, uint8_t version) noexcept {
  // Per value, as little-endian 32-bit words: byte 6 is bits 16-23 of word 1, byte 8 bits 0-7 of
  // word 2.
  const int fixed_word1 = 0x00F00000, fixed_word2 = 0xC0;
  const int set_word1 = (version & 0x0F) << 20, set_word2 = 0x80;
  const __m512i fixed = _mm512_setr_epi32(0, fixed_word1, fixed_word2, 0, 0, fixed_word1, fixed_word2, 0,
                                          0, fixed_word1, fixed_word2, 0, 0, fixed_word1, fixed_word2, 0);
  const __m512i set = _mm512_setr_epi32(0, set_word1, set_word2, 0, 0, set_word1, set_word2, 0,
                                        0, set_word1, set_word2, 0, 0, set_word1, set_word2, 0);
  // Truth table of "fixed ? set : value" with value, fixed, set as the operands A, B, C.
  constexpr int kSelect = 0xB8;
  size_t i = 0;
  for (; i + 4 <= count; i += 4, out += 64) {
    const __m512i values = _mm512_loadu_si512(out);
    _mm512_storeu_si512(out, _mm512_ternarylogic_epi32(values, fixed, set, kSelect));
  }
  if (i < count) {
    const __mmask16 words = static_cast<__mmask16>((1u << (4 * (count - i))) - 1);
    const __m512i values = _mm512_maskz_loadu_epi32(words, out);
    _mm512_mask_storeu_epi32(out, words, _mm512_ternarylogic_epi32(values, fixed, set, kSelect));
  }
}

}  // namespace vantor

#endif  // defined(__x86_64__)
