#include "hash/md5.hpp"

#include "hash/block_padding.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "core/byte_order.hpp"

namespace vantor {
namespace {

// RFC 1321 table T: T[i] is the integer part of 2^32 * |sin(i + 1)|.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Which word of the block step i reads: each round walks the 16 words in its own order.
constexpr int message_index(int i) {
  switch (i / 16) {
    case 0: return i;
    case 1: return (5 * i + 1) & 15;
    case 2: return (3 * i + 5) & 15;
    default: return (7 * i) & 15;
  }
}

// The auxiliary functions F, G, H, I are written in forms that need one operation fewer than
// the RFC's and give the same bits.
template <int i>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, const uint32_t* x) noexcept {
  if constexpr (i >= 16 && i < 32) {
    // G = (b & d) | (c & ~d). Its two halves share no bits, so they can be added instead; the
    // half without b (the value the previous step just produced) is then summed in early, which
    // shortens the dependency chain from step to step.
    a = b + std::rotl(a + x[message_index(i)] + kSine[i] + (c & ~d) + (b & d), kShift[1][i % 4]);
    return;
  }
  uint32_t f;
  if constexpr (i < 16) {
    f = d ^ (b & (c ^ d));
  } else if constexpr (i < 48) {
    f = b ^ c ^ d;
  } else {
    f = c ^ (b | ~d);
  }
  a = b + std::rotl(a + f + x[message_index(i)] + kSine[i], kShift[i / 16][i % 4]);
}

// Passing the registers in rotated order instead of moving them lets the steps unroll into
// straight-line code with no copies.
template <int j>
inline void four_steps(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* x) noexcept {
  step<4 * j>(a, b, c, d, x);
  step<4 * j + 1>(d, a, b, c, x);
  step<4 * j + 2>(c, d, a, b, x);
  step<4 * j + 3>(b, c, d, a, x);
}

template <size_t... j>
inline void all_steps(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* x,
                      std::index_sequence<j...>) noexcept {
  (four_steps<static_cast<int>(j)>(a, b, c, d, x), ...);
}

void compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count != 0; --count, blocks += Md5::kBlockSize) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load_le32(blocks + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    all_steps(a, b, c, d, x, std::make_index_sequence<16>{});
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace

void Md5::update(const uint8_t* data, size_t n) noexcept {
  detail::absorb<&compress>(state_.data(), length_, buffer_.data(), data, n);
}

Md5::Digest Md5::finish() noexcept {
  detail::pad_final_block<&compress, std::endian::little>(state_.data(), length_, buffer_.data());
  Digest digest;
  for (int i = 0; i < 4; ++i) store_le32(digest.data() + 4 * i, state_[i]);
  reset();
  return digest;
}

void Md5::reset() noexcept {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  length_ = 0;
}

Md5::Digest md5(const uint8_t* data, size_t n) noexcept {
  Md5 hash;
  hash.update(data, n);
  return hash.finish();
}

}  // namespace vantor
