// ChaCha, sixteen blocks at once with 512-bit vectors: register i holds word i of blocks 0..15,
// so column and diagonal rounds are the same lane-wise steps on different registers, and with 32
// registers the working state and the input both stay in registers for the whole call. A
// rotation is one instruction (VPROLD). The blocks are put back into their own 16 words only at
// the end: a 4x4 transpose of words inside each 128-bit lane, then a 4x4 transpose of lanes.
//
// Compiled with -mavx512f -mavx512vl; only called once simd_level() has found AVX-512. Internal
// linkage for all helpers (see chacha.hpp).
#if defined(__x86_64__)
#include <immintrin.h>

#include "random/chacha_wide.hpp"

// g++ 12 takes the "undefined" pass-through operand inside its AVX-512 intrinsics for a read of
// an uninitialised value.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace vantor {
namespace {

inline void quarter_round(__m512i& a, __m512i& b, __m512i& c, __m512i& d) noexcept {
  a = _mm512_add_epi32(a, b); d = _mm512_xor_si512(d, a); d = _mm512_rol_epi32(d, 16);
  c = _mm512_add_epi32(c, d); b = _mm512_xor_si512(b, c); b = _mm512_rol_epi32(b, 12);
  a = _mm512_add_epi32(a, b); d = _mm512_xor_si512(d, a); d = _mm512_rol_epi32(d, 8);
  c = _mm512_add_epi32(c, d); b = _mm512_xor_si512(b, c); b = _mm512_rol_epi32(b, 7);
}

// x[0..3]: words w..w+3 of blocks 0..15, one block per 32-bit lane -> r[0..3], where the 128-bit
// lane k of r[j] holds words w..w+3 of block 4k + j.
inline void transpose_words(const __m512i* x, __m512i* r) noexcept {
  const __m512i t0 = _mm512_unpacklo_epi32(x[0], x[1]), t1 = _mm512_unpackhi_epi32(x[0], x[1]);
  const __m512i t2 = _mm512_unpacklo_epi32(x[2], x[3]), t3 = _mm512_unpackhi_epi32(x[2], x[3]);
  r[0] = _mm512_unpacklo_epi64(t0, t2);
  r[1] = _mm512_unpackhi_epi64(t0, t2);
  r[2] = _mm512_unpacklo_epi64(t1, t3);
  r[3] = _mm512_unpackhi_epi64(t1, t3);
}

// g[0..3]: the four word groups (words 0-3, 4-7, 8-11, 12-15) laid out by transpose_words for the
// blocks 4k + j of one j -> the 16 words of blocks j, 4 + j, 8 + j, 12 + j.
inline void store_blocks(__m512i g0, __m512i g1, __m512i g2, __m512i g3, uint32_t* out) noexcept {
  // 0x44 takes lanes 0-1 of each source, 0xEE lanes 2-3; then 0x88 the even lanes, 0xDD the odd.
  const __m512i low01 = _mm512_shuffle_i32x4(g0, g1, 0x44), high01 = _mm512_shuffle_i32x4(g0, g1, 0xEE);
  const __m512i low23 = _mm512_shuffle_i32x4(g2, g3, 0x44), high23 = _mm512_shuffle_i32x4(g2, g3, 0xEE);
  _mm512_storeu_si512(out + 16 * 0, _mm512_shuffle_i32x4(low01, low23, 0x88));
  _mm512_storeu_si512(out + 16 * 4, _mm512_shuffle_i32x4(low01, low23, 0xDD));
  _mm512_storeu_si512(out + 16 * 8, _mm512_shuffle_i32x4(high01, high23, 0x88));
  _mm512_storeu_si512(out + 16 * 12, _mm512_shuffle_i32x4(high01, high23, 0xDD));
}

}  // namespace

void chacha_blocks16_avx512(const uint32_t state[16], uint32_t out[256], int rounds) noexcept {
  __m512i input[16];
  for (int i = 0; i < 16; ++i) input[i] = _mm512_set1_epi32(static_cast<int>(state[i]));
  // 64-bit block counters c + lane: a lane whose low word wrapped carries into its high word.
  const __m512i low = _mm512_add_epi32(input[12], _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __mmask16 wrapped = _mm512_cmplt_epu32_mask(low, input[12]);
  input[13] = _mm512_mask_add_epi32(input[13], wrapped, input[13], _mm512_set1_epi32(1));
  input[12] = low;

  __m512i x[16];
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
  for (int i = 0; i < 16; ++i) x[i] = _mm512_add_epi32(x[i], input[i]);

  __m512i groups[4][4];  // [word group][j]
  for (int g = 0; g < 4; ++g) transpose_words(x + 4 * g, groups[g]);
  for (int j = 0; j < 4; ++j) store_blocks(groups[0][j], groups[1][j], groups[2][j], groups[3][j], out + 16 * j);
}

}  // namespace vantor

#endif  // defined(__x86_64__)
