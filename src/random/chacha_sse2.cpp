// ChaCha with 128-bit vectors, the four blocks side by side: vector i holds state word i of
// blocks 0, 1, 2, 3 in lanes 0, 1, 2, 3. The rounds then need no shuffling between words at
// all; the blocks are transposed back into row order once, at the end.
//
// Compiled with -msse2 only. SSE2 has no byte shuffle, so the 16-bit rotation swaps the 16-bit
// halves of each word with pshuflw/pshufhw and the other rotations use two shifts.
// Everything here has internal linkage (see chacha.hpp).
#if defined(__x86_64__)

#include <emmintrin.h>

#include "random/chacha.hpp"

namespace vantor {
namespace {

typedef uint32_t u32x4 __attribute__((vector_size(16)));

inline __m128i raw(u32x4 v) noexcept { return reinterpret_cast<__m128i>(v); }
inline u32x4 lanes(__m128i v) noexcept { return reinterpret_cast<u32x4>(v); }

inline u32x4 splat(uint32_t w) noexcept { return u32x4{w, w, w, w}; }

template <int n>
inline u32x4 rotl(u32x4 v) noexcept {
  if constexpr (n == 16) {
    constexpr int swap_halves = _MM_SHUFFLE(2, 3, 0, 1);
    return lanes(_mm_shufflehi_epi16(_mm_shufflelo_epi16(raw(v), swap_halves), swap_halves));
  } else {
    return (v << n) | (v >> (32 - n));
  }
}

inline void quarter_round(u32x4& a, u32x4& b, u32x4& c, u32x4& d) noexcept {
  a += b; d ^= a; d = rotl<16>(d);
  c += d; b ^= c; b = rotl<12>(b);
  a += b; d ^= a; d = rotl<8>(d);
  c += d; b ^= c; b = rotl<7>(b);
}

// Words k..k+3 of the four blocks -> block b's words k..k+3 at out[16 * b + k].
inline void transpose_store(u32x4 w0, u32x4 w1, u32x4 w2, u32x4 w3, uint32_t* out) noexcept {
  const __m128i t0 = _mm_unpacklo_epi32(raw(w0), raw(w1));  // blocks 0, 1
  const __m128i t1 = _mm_unpacklo_epi32(raw(w2), raw(w3));
  const __m128i t2 = _mm_unpackhi_epi32(raw(w0), raw(w1));  // blocks 2, 3
  const __m128i t3 = _mm_unpackhi_epi32(raw(w2), raw(w3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 0), _mm_unpacklo_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi64(t2, t3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi64(t2, t3));
}

}  // namespace

void chacha_blocks4_sse2(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  // Block counters as 64-bit numbers so that a group crossing 2^32 carries into word 13.
  const uint64_t c = state[12] | uint64_t{state[13]} << 32;
  const uint64_t c1 = c + 1, c2 = c + 2, c3 = c + 3;
  const u32x4 counter_lo = {static_cast<uint32_t>(c), static_cast<uint32_t>(c1),
                            static_cast<uint32_t>(c2), static_cast<uint32_t>(c3)};
  const u32x4 counter_hi = {static_cast<uint32_t>(c >> 32), static_cast<uint32_t>(c1 >> 32),
                            static_cast<uint32_t>(c2 >> 32), static_cast<uint32_t>(c3 >> 32)};

  u32x4 x0 = splat(state[0]), x1 = splat(state[1]), x2 = splat(state[2]), x3 = splat(state[3]);
  u32x4 x4 = splat(state[4]), x5 = splat(state[5]), x6 = splat(state[6]), x7 = splat(state[7]);
  u32x4 x8 = splat(state[8]), x9 = splat(state[9]), x10 = splat(state[10]), x11 = splat(state[11]);
  u32x4 x12 = counter_lo, x13 = counter_hi, x14 = splat(state[14]), x15 = splat(state[15]);

  for (int r = 0; r < rounds; r += 2) {
    quarter_round(x0, x4, x8, x12);  // columns
    quarter_round(x1, x5, x9, x13);
    quarter_round(x2, x6, x10, x14);
    quarter_round(x3, x7, x11, x15);
    quarter_round(x0, x5, x10, x15);  // diagonals
    quarter_round(x1, x6, x11, x12);
    quarter_round(x2, x7, x8, x13);
    quarter_round(x3, x4, x9, x14);
  }

  x0 += splat(state[0]); x1 += splat(state[1]); x2 += splat(state[2]); x3 += splat(state[3]);
  x4 += splat(state[4]); x5 += splat(state[5]); x6 += splat(state[6]); x7 += splat(state[7]);
  x8 += splat(state[8]); x9 += splat(state[9]); x10 += splat(state[10]); x11 += splat(state[11]);
  x12 += counter_lo; x13 += counter_hi; x14 += splat(state[14]); x15 += splat(state[15]);

  transpose_store(x0, x1, x2, x3, out + 0);
  transpose_store(x4, x5, x6, x7, out + 4);
  transpose_store(x8, x9, x10, x11, out + 8);
  transpose_store(x12, x13, x14, x15, out + 12);
}

}  // namespace vantor

#endif  // defined(__x86_64__)
