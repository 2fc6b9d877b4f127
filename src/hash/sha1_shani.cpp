// SHA-1 block compression with the SHA extensions. Four steps are one SHA1RNDS4, which keeps
// A, B, C, D in one register (A in the top lane) and takes E + W[t], W[t+1], W[t+2], W[t+3]
// in another (E + W[t] in the top lane). It does not produce the next E: after four steps E is
// the A of four steps earlier rotated by 30, which SHA1NEXTE computes and adds to the top lane
// of the next four message words. SHA1MSG1 and SHA1MSG2 together, with one XOR in between,
// extend the message schedule by four words.
//
// Compiled with -msha -msse4.1 -mssse3; only called once sha1_cpu_has_shani() has said yes.
// Everything here has internal linkage (see sha1_blocks.hpp).
#if defined(__x86_64__)

#include <immintrin.h>

#include <utility>

#include "hash/sha1_blocks.hpp"

namespace vantor {
namespace {

// A vector holds four words in the order the steps consume them, first word in the top lane:
// reversing all 16 bytes turns four big-endian words into that in one shuffle.
inline __m128i load_words(const uint8_t* p) noexcept {
  const __m128i reverse_bytes = _mm_set_epi64x(0x0001020304050607, 0x08090A0B0C0D0E0F);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse_bytes);
}

// Steps 4g .. 4g+3. `w` is a ring of the last four groups of message words; `prev` holds the
// A, B, C, D of the previous group's start (from which E follows), or E itself in its top
// lane before group 0.
template <int g>
inline void four_steps(__m128i& abcd, __m128i& prev, __m128i* w) noexcept {
  __m128i& words = w[g & 3];
  if constexpr (g >= 4) {
    // W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]): MSG1 gives W[t-16] ^ W[t-14] for
    // the four words, the XOR adds W[t-8], MSG2 adds W[t-3] and rotates. The slot of
    // W[t-16] is free once MSG1 has read it.
    words = _mm_sha1msg2_epu32(
        _mm_xor_si128(_mm_sha1msg1_epu32(words, w[(g + 1) & 3]), w[(g + 2) & 3]), w[(g + 3) & 3]);
  }
  __m128i e_plus_words;
  if constexpr (g == 0) {
    e_plus_words = _mm_add_epi32(prev, words);
  } else {
    e_plus_words = _mm_sha1nexte_epu32(prev, words);
  }
  prev = abcd;
  // Step functions and constants change every 20 steps: Ch, parity, Maj, parity.
  abcd = _mm_sha1rnds4_epu32(abcd, e_plus_words, g / 5);
}

template <size_t... g>
inline void all_steps(__m128i& abcd, __m128i& prev, __m128i* w,
                      std::index_sequence<g...>) noexcept {
  (four_steps<static_cast<int>(g)>(abcd, prev, w), ...);
}

}  // namespace

void sha1_compress_shani(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept {
  if (count == 0) return;
  // H0..H3 are stored low word first; SHA1RNDS4 wants A on top.
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count != 0; --count, blocks += 64) {
    __m128i w[4] = {load_words(blocks), load_words(blocks + 16), load_words(blocks + 32),
                    load_words(blocks + 48)};
    const __m128i abcd0 = abcd, e0 = e;
    __m128i prev = e;
    all_steps(abcd, prev, w, std::make_index_sequence<20>{});
    // E after the last group is the A of its start rotated by 30: SHA1NEXTE adds it to H4.
    e = _mm_sha1nexte_epu32(prev, e0);
    abcd = _mm_add_epi32(abcd, abcd0);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace vantor

#endif  // defined(__x86_64__)
