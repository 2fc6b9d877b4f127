// SHA-1 block compression with the ARMv8 SHA-1 instructions. Four steps are one SHA1C, SHA1P
// or SHA1M (Ch, parity, Maj), which keeps A, B, C, D in one register (A in lane 0) and takes E
// as a scalar plus W[t]+K .. W[t+3]+K in another. The E of the next group is the A of this
// group's start rotated by 30, which SHA1H computes. SHA1SU0 and SHA1SU1 extend the message
// schedule by four words.
//
// Compiled with the crypto extension enabled; only called once sha1_cpu_has_armv8() has said
// yes. Everything here has internal linkage (see sha1_blocks.hpp).
#if defined(__aarch64__)

#include <arm_neon.h>

#include <bit>
#include <utility>

#include "hash/sha1_blocks.hpp"

namespace vantor {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the byte reversal below assumes little-endian lanes");

constexpr uint32_t kRoundConstants[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

// Four big-endian message words, W[t] in lane 0.
inline uint32x4_t load_words(const uint8_t* p) noexcept {
  return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p)));
}

// Steps 4g .. 4g+3. `w` is a ring of the last four groups of message words.
template <int g>
inline void four_steps(uint32x4_t& abcd, uint32_t& e, uint32x4_t* w) noexcept {
  uint32x4_t& words = w[g & 3];
  if constexpr (g >= 4) {
    // SU0 gives W[t-16] ^ W[t-14] ^ W[t-8] for the four words, SU1 adds W[t-3] and rotates.
    // The slot of W[t-16] is free once SU0 has read it.
    words = vsha1su1q_u32(vsha1su0q_u32(words, w[(g + 1) & 3], w[(g + 2) & 3]), w[(g + 3) & 3]);
  }
  const uint32x4_t words_plus_k = vaddq_u32(words, vdupq_n_u32(kRoundConstants[g / 5]));
  const uint32_t next_e = vsha1h_u32(vgetq_lane_u32(abcd, 0));
  // Step functions change every 20 steps: Ch, parity, Maj, parity.
  if constexpr (g < 5) {
    abcd = vsha1cq_u32(abcd, e, words_plus_k);
  } else if constexpr (g >= 10 && g < 15) {
    abcd = vsha1mq_u32(abcd, e, words_plus_k);
  } else {
    abcd = vsha1pq_u32(abcd, e, words_plus_k);
  }
  e = next_e;
}

template <size_t... g>
inline void all_steps(uint32x4_t& abcd, uint32_t& e, uint32x4_t* w,
                      std::index_sequence<g...>) noexcept {
  (four_steps<static_cast<int>(g)>(abcd, e, w), ...);
}

}  // namespace

void sha1_compress_armv8(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept {
  if (count == 0) return;
  uint32x4_t abcd = vld1q_u32(state);
  uint32_t e = state[4];
  for (; count != 0; --count, blocks += 64) {
    uint32x4_t w[4] = {load_words(blocks), load_words(blocks + 16), load_words(blocks + 32),
                       load_words(blocks + 48)};
    const uint32x4_t abcd0 = abcd;
    const uint32_t e0 = e;
    all_steps(abcd, e, w, std::make_index_sequence<20>{});
    abcd = vaddq_u32(abcd, abcd0);
    e += e0;
  }
  vst1q_u32(state, abcd);
  state[4] = e;
}

}  // namespace vantor

#endif  // defined(__aarch64__)
