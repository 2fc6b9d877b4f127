// The version/variant pass with 256-bit vectors: two values per AND and OR. Compiled with -mavx2;
// only called once simd_level() has found AVX2.
#if defined(__x86_64__)
#include <immintrin.h>

#include "random/version_bits.hpp"

namespace vantor {

void set_version_bits_avx2(uint8_t* out, size_t count, uint8_t version) noexcept {
  const char v = static_cast<char>(version << 4);
  const __m256i keep = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, 0x0F, -1, 0x3F, -1, -1, -1, -1, -1, -1, -1,
                                        -1, -1, -1, -1, -1, -1, 0x0F, -1, 0x3F, -1, -1, -1, -1, -1, -1, -1);
  const __m256i set = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, v, 0, static_cast<char>(0x80), 0, 0, 0, 0, 0, 0, 0,
                                       0, 0, 0, 0, 0, 0, v, 0, static_cast<char>(0x80), 0, 0, 0, 0, 0, 0, 0);
  size_t i = 0;
  for (; i + 2 <= count; i += 2, out += 32) {
    const __m256i values = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_or_si256(_mm256_and_si256(values, keep), set));
  }
  if (i < count) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_and_si128(values, _mm256_castsi256_si128(keep)), _mm256_castsi256_si128(set)));
  }
}

}  // namespace vantor

#endif  // defined(__x86_64__)
