// ChaCha with 256-bit vectors, two blocks per register: a block is four rows of four words
// (a = words 0-3, b = 4-7, c = 8-11, d = 12-15), and each register holds one row of block 0
// in its low 128-bit lane and the same row of block 1 in its high lane. Blocks 2 and 3 form a
// second, independent set of registers, interleaved with the first to hide latencies.
//
// A quarter round on whole rows is the column round. The diagonal round needs word i of row a
// next to words i+1, i+2, i+3 of rows b, c, d. Rather than rotating b, c, d, the rows a, c, d
// are rotated by -1, +1, +2 positions within each lane (the same alignment, one column over):
// b is the row a quarter round writes last and reads first, so leaving it in place keeps every
// shuffle off the dependency chain. The rotation is undone afterwards. Shuffles never cross a
// 128-bit lane, so the two blocks in a register never mix.
//
// Compiled with -mavx2; only called once simd_level() has found AVX2. Everything here has
// internal linkage (see chacha.hpp).
#if defined(__x86_64__)

#include <immintrin.h>

#include "random/chacha.hpp"

namespace vantor {
namespace {

typedef uint32_t u32x8 __attribute__((vector_size(32)));

inline __m256i raw(u32x8 v) noexcept { return reinterpret_cast<__m256i>(v); }
inline u32x8 lanes(__m256i v) noexcept { return reinterpret_cast<u32x8>(v); }

// Rotations by whole bytes are a single byte shuffle; little-endian words, so rotating left by
// 8 moves byte 3 to byte 0 and rotating by 16 swaps the 16-bit halves.
template <int n>
inline u32x8 rotl(u32x8 v) noexcept {
  if constexpr (n == 16) {
    const __m256i bytes = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                           2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    return lanes(_mm256_shuffle_epi8(raw(v), bytes));
  } else if constexpr (n == 8) {
    const __m256i bytes = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14,
                                           3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    return lanes(_mm256_shuffle_epi8(raw(v), bytes));
  } else {
    return (v << n) | (v >> (32 - n));
  }
}

// Word i of each lane takes word (i + n) mod 4.
template <int n>
inline u32x8 rotate_words(u32x8 v) noexcept {
  constexpr int order = _MM_SHUFFLE((n + 3) % 4, (n + 2) % 4, (n + 1) % 4, n % 4);
  return lanes(_mm256_shuffle_epi32(raw(v), order));
}

// Two sets (blocks 0-1 and 2-3) advanced step by step together: each step of one set depends
// on the step before it, so interleaving gives the CPU two independent chains.
inline void quarter_round(u32x8& a, u32x8& b, u32x8& c, u32x8& d, u32x8& e, u32x8& f,
                          u32x8& g, u32x8& h) noexcept {
  a += b; d ^= a; d = rotl<16>(d);    e += f; h ^= e; h = rotl<16>(h);
  c += d; b ^= c; b = rotl<12>(b);    g += h; f ^= g; f = rotl<12>(f);
  a += b; d ^= a; d = rotl<8>(d);     e += f; h ^= e; h = rotl<8>(h);
  c += d; b ^= c; b = rotl<7>(b);     g += h; f ^= g; f = rotl<7>(f);
}

inline u32x8 both_lanes(const uint32_t* row) noexcept {
  return lanes(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row))));
}

// Rows a..d of the two blocks in a set -> 16 words of the low-lane block at out[0..15] and of
// the high-lane block at out[16..31].
inline void store_pair(u32x8 a, u32x8 b, u32x8 c, u32x8 d, uint32_t* out) noexcept {
  constexpr int low_lanes = 0x20, high_lanes = 0x31;
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 0), _mm256_permute2x128_si256(raw(a), raw(b), low_lanes));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_permute2x128_si256(raw(c), raw(d), low_lanes));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), _mm256_permute2x128_si256(raw(a), raw(b), high_lanes));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 24), _mm256_permute2x128_si256(raw(c), raw(d), high_lanes));
}

}  // namespace

void chacha_blocks4_avx2(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  // Block counters as 64-bit numbers so that a group crossing 2^32 carries into word 13.
  const uint64_t c0 = state[12] | uint64_t{state[13]} << 32;
  const uint64_t c1 = c0 + 1, c2 = c0 + 2, c3 = c0 + 3;
  const uint32_t n0 = state[14], n1 = state[15];
  const u32x8 d01_in = {static_cast<uint32_t>(c0), static_cast<uint32_t>(c0 >> 32), n0, n1,
                        static_cast<uint32_t>(c1), static_cast<uint32_t>(c1 >> 32), n0, n1};
  const u32x8 d23_in = {static_cast<uint32_t>(c2), static_cast<uint32_t>(c2 >> 32), n0, n1,
                        static_cast<uint32_t>(c3), static_cast<uint32_t>(c3 >> 32), n0, n1};
  const u32x8 a_in = both_lanes(state + 0), b_in = both_lanes(state + 4), c_in = both_lanes(state + 8);

  u32x8 a01 = a_in, b01 = b_in, c01 = c_in, d01 = d01_in;
  u32x8 a23 = a_in, b23 = b_in, c23 = c_in, d23 = d23_in;
  for (int r = 0; r < rounds; r += 2) {
    quarter_round(a01, b01, c01, d01, a23, b23, c23, d23);  // columns
    a01 = rotate_words<3>(a01); c01 = rotate_words<1>(c01); d01 = rotate_words<2>(d01);
    a23 = rotate_words<3>(a23); c23 = rotate_words<1>(c23); d23 = rotate_words<2>(d23);
    quarter_round(a01, b01, c01, d01, a23, b23, c23, d23);  // diagonals
    a01 = rotate_words<1>(a01); c01 = rotate_words<3>(c01); d01 = rotate_words<2>(d01);
    a23 = rotate_words<1>(a23); c23 = rotate_words<3>(c23); d23 = rotate_words<2>(d23);
  }

  store_pair(a01 + a_in, b01 + b_in, c01 + c_in, d01 + d01_in, out + 0);
  store_pair(a23 + a_in, b23 + b_in, c23 + c_in, d23 + d23_in, out + 32);
}

}  // namespace vantor

#endif  // defined(__x86_64__)
