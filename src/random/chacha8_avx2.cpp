// ChaCha, eight blocks at once with 256-bit vectors: register i holds word i of blocks 0..7, so
// column and diagonal rounds are the same lane-wise steps on different registers. The blocks
// are transposed back to their own 16 words only at the end, in two 8x8 transposes.
//
// Compiled with -mavx2; only called once simd_level() has found AVX2. Internal linkage for all
// helpers (see chacha.hpp).
#if defined(__x86_64__)
#include <immintrin.h>

#include "random/chacha_wide.hpp"

namespace vantor {
namespace {

template <int n>
inline __m256i rotl(__m256i v) noexcept {
  if constexpr (n == 16) {
    const __m256i bytes = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                           2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    return _mm256_shuffle_epi8(v, bytes);
  } else if constexpr (n == 8) {
    const __m256i bytes = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14,
                                           3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    return _mm256_shuffle_epi8(v, bytes);
  } else {
    return _mm256_or_si256(_mm256_slli_epi32(v, n), _mm256_srli_epi32(v, 32 - n));
  }
}

// The same quarter round on two independent groups of eight blocks, step by step: each step of
// one group depends on the step before it, so interleaving gives the CPU two chains to overlap.
inline void quarter_round2(__m256i& a, __m256i& b, __m256i& c, __m256i& d, __m256i& e, __m256i& f, __m256i& g,
                           __m256i& h) noexcept {
  a = _mm256_add_epi32(a, b); e = _mm256_add_epi32(e, f);
  d = _mm256_xor_si256(d, a); h = _mm256_xor_si256(h, e);
  d = rotl<16>(d);            h = rotl<16>(h);
  c = _mm256_add_epi32(c, d); g = _mm256_add_epi32(g, h);
  b = _mm256_xor_si256(b, c); f = _mm256_xor_si256(f, g);
  b = rotl<12>(b);            f = rotl<12>(f);
  a = _mm256_add_epi32(a, b); e = _mm256_add_epi32(e, f);
  d = _mm256_xor_si256(d, a); h = _mm256_xor_si256(h, e);
  d = rotl<8>(d);             h = rotl<8>(h);
  c = _mm256_add_epi32(c, d); g = _mm256_add_epi32(g, h);
  b = _mm256_xor_si256(b, c); f = _mm256_xor_si256(f, g);
  b = rotl<7>(b);             f = rotl<7>(f);
}

inline void quarter_round(__m256i& a, __m256i& b, __m256i& c, __m256i& d) noexcept {
  a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl<16>(d);
  c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl<12>(b);
  a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl<8>(d);
  c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl<7>(b);
}

// x[0..7]: word w0+k of blocks 0..7 in register k -> out[16 * block + w0 + k].
inline void transpose_store(const __m256i* x, uint32_t* out) noexcept {
  const __m256i t0 = _mm256_unpacklo_epi32(x[0], x[1]), t1 = _mm256_unpackhi_epi32(x[0], x[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(x[2], x[3]), t3 = _mm256_unpackhi_epi32(x[2], x[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(x[4], x[5]), t5 = _mm256_unpackhi_epi32(x[4], x[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(x[6], x[7]), t7 = _mm256_unpackhi_epi32(x[6], x[7]);
  // u_j: words 0-3 (low lane: block j, high lane: block j + 4); v_j the same for words 4-7.
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i v0 = _mm256_unpacklo_epi64(t4, t6), v1 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i v2 = _mm256_unpacklo_epi64(t5, t7), v3 = _mm256_unpackhi_epi64(t5, t7);
  const __m256i rows[4][2] = {{u0, v0}, {u1, v1}, {u2, v2}, {u3, v3}};
  for (int j = 0; j < 4; ++j) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * j), _mm256_permute2x128_si256(rows[j][0], rows[j][1], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * (j + 4)), _mm256_permute2x128_si256(rows[j][0], rows[j][1], 0x31));
  }
}

}  // namespace

// Words 12 and 13 of blocks c + first .. c + first + 7: 64-bit block counters per lane, the low
// word carrying into the high one.
inline void set_counters(const uint32_t state[16], int first, __m256i& word12, __m256i& word13) noexcept {
  const __m256i start = _mm256_set1_epi32(static_cast<int>(state[12]));
  const __m256i low = _mm256_add_epi32(start, _mm256_add_epi32(_mm256_set1_epi32(first), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
  const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  // Unsigned low < start means the addition wrapped: compare with the sign bit flipped.
  const __m256i wrapped = _mm256_cmpgt_epi32(_mm256_xor_si256(start, sign), _mm256_xor_si256(low, sign));
  word13 = _mm256_sub_epi32(_mm256_set1_epi32(static_cast<int>(state[13])), wrapped);  // wrapped lanes: -1
  word12 = low;
}

void chacha_blocks8_avx2(const uint32_t state[16], uint32_t out[128], int rounds) noexcept {
  __m256i input[16];
  for (int i = 0; i < 16; ++i) input[i] = _mm256_set1_epi32(static_cast<int>(state[i]));
  set_counters(state, 0, input[12], input[13]);

  __m256i x[16];
  for (int i = 0; i < 16; ++i) x[i] = input[i];
  for (int r = 0; r < rounds; r += 2) {
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (int i = 0; i < 16; ++i) x[i] = _mm256_add_epi32(x[i], input[i]);
  transpose_store(x, out);
  transpose_store(x + 8, out + 8);
}

void chacha_blocks16_avx2(const uint32_t state[16], uint32_t out[256], int rounds) noexcept {
  __m256i x[16], y[16];
  for (int i = 0; i < 16; ++i) x[i] = y[i] = _mm256_set1_epi32(static_cast<int>(state[i]));
  set_counters(state, 0, x[12], x[13]);
  set_counters(state, 8, y[12], y[13]);
  for (int r = 0; r < rounds; r += 2) {
    quarter_round2(x[0], x[4], x[8], x[12], y[0], y[4], y[8], y[12]);
    quarter_round2(x[1], x[5], x[9], x[13], y[1], y[5], y[9], y[13]);
    quarter_round2(x[2], x[6], x[10], x[14], y[2], y[6], y[10], y[14]);
    quarter_round2(x[3], x[7], x[11], x[15], y[3], y[7], y[11], y[15]);
    quarter_round2(x[0], x[5], x[10], x[15], y[0], y[5], y[10], y[15]);
    quarter_round2(x[1], x[6], x[11], x[12], y[1], y[6], y[11], y[12]);
    quarter_round2(x[2], x[7], x[8], x[13], y[2], y[7], y[8], y[13]);
    quarter_round2(x[3], x[4], x[9], x[14], y[3], y[4], y[9], y[14]);
  }
  __m256i input12, input13;
  set_counters(state, 0, input12, input13);
  for (int i = 0; i < 16; ++i) {
    const __m256i in = i == 12 ? input12 : i == 13 ? input13 : _mm256_set1_epi32(static_cast<int>(state[i]));
    x[i] = _mm256_add_epi32(x[i], in);
  }
  transpose_store(x, out);
  transpose_store(x + 8, out + 8);
  set_counters(state, 8, input12, input13);
  for (int i = 0; i < 16; ++i) {
    const __m256i in = i == 12 ? input12 : i == 13 ? input13 : _mm256_set1_epi32(static_cast<int>(state[i]));
    y[i] = _mm256_add_epi32(y[i], in);
  }
  transpose_store(y, out + 128);
  transpose_store(y + 8, out + 128 + 8);
}

}  // namespace vantor

#endif  // defined(__x86_64__)
