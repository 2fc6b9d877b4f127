// Plain C++ ChaCha: the reference the vector versions are checked against.
#include "random/chacha.hpp"

namespace vantor {
namespace {

// Own helpers instead of std::rotl: see chacha.hpp on inline code shared between ISA files.
inline uint32_t rotl(uint32_t v, int n) noexcept { return (v << n) | (v >> (32 - n)); }

inline void quarter_round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) noexcept {
  a += b; d ^= a; d = rotl(d, 16);
  c += d; b ^= c; b = rotl(b, 12);
  a += b; d ^= a; d = rotl(d, 8);
  c += d; b ^= c; b = rotl(b, 7);
}

void block(const uint32_t in[16], uint32_t out[16], int rounds) noexcept {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = in[i];
  for (int r = 0; r < rounds; r += 2) {
    quarter_round(x[0], x[4], x[8], x[12]);  // columns
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);  // diagonals
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (int i = 0; i < 16; ++i) out[i] = x[i] + in[i];
}

}  // namespace

void chacha_blocks4_portable(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  uint32_t in[16];
  for (int i = 0; i < 16; ++i) in[i] = state[i];
  const uint64_t counter = state[12] | uint64_t{state[13]} << 32;
  for (int b = 0; b < 4; ++b) {
    // The counter is one 64-bit number: block b of a group starting at 2^32 - 1 carries into
    // word 13, and the group starting at 2^64 - 1 wraps to 0.
    const uint64_t c = counter + static_cast<uint64_t>(b);
    in[12] = static_cast<uint32_t>(c);
    in[13] = static_cast<uint32_t>(c >> 32);
    block(in, out + 16 * b, rounds);
  }
}

}  // namespace vantor
