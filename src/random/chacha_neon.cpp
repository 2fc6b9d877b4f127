// ChaCha with 128-bit NEON vectors, the four blocks side by side as in chacha_sse2.cpp: vector
// i holds state word i of blocks 0, 1, 2, 3 in lanes 0, 1, 2, 3, so the rounds need no
// shuffling between words, and the blocks are transposed back into row order once, at the end.
//
// NEON rotates in two instructions (shift left, then shift right and insert) and by 16 in one
// (REV32 on 16-bit halves). Everything here has internal linkage (see chacha.hpp).
#if defined(__aarch64__)

#include <arm_neon.h>

#include "random/chacha.hpp"

namespace vantor {
namespace {

template <int n>
inline uint32x4_t rotl(uint32x4_t v) noexcept {
  if constexpr (n == 16) {
    return vreinterpretq_u32_u16(vrev32q_u16(vreinterpretq_u16_u32(v)));
  } else {
    return vsriq_n_u32(vshlq_n_u32(v, n), v, 32 - n);
  }
}

inline void quarter_round(uint32x4_t& a, uint32x4_t& b, uint32x4_t& c, uint32x4_t& d) noexcept {
  a = vaddq_u32(a, b); d = veorq_u32(d, a); d = rotl<16>(d);
  c = vaddq_u32(c, d); b = veorq_u32(b, c); b = rotl<12>(b);
  a = vaddq_u32(a, b); d = veorq_u32(d, a); d = rotl<8>(d);
  c = vaddq_u32(c, d); b = veorq_u32(b, c); b = rotl<7>(b);
}

// Words k..k+3 of the four blocks -> block b's words k..k+3 at out[16 * b + k].
inline void transpose_store(uint32x4_t w0, uint32x4_t w1, uint32x4_t w2, uint32x4_t w3,
                            uint32_t* out) noexcept {
  // Pairs of 32-bit lanes first, then pairs of 64-bit halves.
  const uint64x2_t t0 = vreinterpretq_u64_u32(vtrn1q_u32(w0, w1));  // k of 0, 1; k of 2, 3
  const uint64x2_t t1 = vreinterpretq_u64_u32(vtrn2q_u32(w0, w1));  // k+1 likewise
  const uint64x2_t t2 = vreinterpretq_u64_u32(vtrn1q_u32(w2, w3));  // k+2
  const uint64x2_t t3 = vreinterpretq_u64_u32(vtrn2q_u32(w2, w3));  // k+3
  vst1q_u32(out + 0, vreinterpretq_u32_u64(vtrn1q_u64(t0, t2)));
  vst1q_u32(out + 16, vreinterpretq_u32_u64(vtrn1q_u64(t1, t3)));
  vst1q_u32(out + 32, vreinterpretq_u32_u64(vtrn2q_u64(t0, t2)));
  vst1q_u32(out + 48, vreinterpretq_u32_u64(vtrn2q_u64(t1, t3)));
}

}  // namespace

void chacha_blocks4_neon(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  // Block counters as 64-bit numbers so that a group crossing 2^32 carries into word 13.
  const uint64_t c = state[12] | uint64_t{state[13]} << 32;
  const uint64_t c1 = c + 1, c2 = c + 2, c3 = c + 3;
  const uint32_t lo[4] = {static_cast<uint32_t>(c), static_cast<uint32_t>(c1),
                          static_cast<uint32_t>(c2), static_cast<uint32_t>(c3)};
  const uint32_t hi[4] = {static_cast<uint32_t>(c >> 32), static_cast<uint32_t>(c1 >> 32),
                          static_cast<uint32_t>(c2 >> 32), static_cast<uint32_t>(c3 >> 32)};

  uint32x4_t input[16];
  for (int i = 0; i < 16; ++i) input[i] = vdupq_n_u32(state[i]);
  input[12] = vld1q_u32(lo);
  input[13] = vld1q_u32(hi);

  uint32x4_t x0 = input[0], x1 = input[1], x2 = input[2], x3 = input[3];
  uint32x4_t x4 = input[4], x5 = input[5], x6 = input[6], x7 = input[7];
  uint32x4_t x8 = input[8], x9 = input[9], x10 = input[10], x11 = input[11];
  uint32x4_t x12 = input[12], x13 = input[13], x14 = input[14], x15 = input[15];

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

  transpose_store(vaddq_u32(x0, input[0]), vaddq_u32(x1, input[1]), vaddq_u32(x2, input[2]),
                  vaddq_u32(x3, input[3]), out + 0);
  transpose_store(vaddq_u32(x4, input[4]), vaddq_u32(x5, input[5]), vaddq_u32(x6, input[6]),
                  vaddq_u32(x7, input[7]), out + 4);
  transpose_store(vaddq_u32(x8, input[8]), vaddq_u32(x9, input[9]), vaddq_u32(x10, input[10]),
                  vaddq_u32(x11, input[11]), out + 8);
  transpose_store(vaddq_u32(x12, input[12]), vaddq_u32(x13, input[13]),
                  vaddq_u32(x14, input[14]), vaddq_u32(x15, input[15]), out + 12);
}

}  // namespace vantor

#endif  // defined(__aarch64__)
