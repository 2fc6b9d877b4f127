#include "hash/sha1.hpp"

#include "hash/block_padding.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <utility>

#include "core/byte_order.hpp"
#include "core/cpu_features.hpp"
#include "hash/sha1_blocks.hpp"

namespace vantor {
namespace {

// The message schedule is kept as a ring of 16 words: W[t] needs nothing older than W[t-16],
// whose slot it takes.
template <int t>
inline void step(uint32_t a, uint32_t& b, uint32_t c, uint32_t d, uint32_t& e, uint32_t* w) noexcept {
  uint32_t wt;
  if constexpr (t < 16) {
    wt = w[t];
  } else {
    wt = std::rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
    w[t & 15] = wt;
  }
  // Ch and Maj in forms with one operation fewer than FIPS 180-4's, same bits.
  uint32_t f, k;
  if constexpr (t < 20) {
    f = d ^ (b & (c ^ d));
    k = 0x5A827999u;
  } else if constexpr (t < 40) {
    f = b ^ c ^ d;
    k = 0x6ED9EBA1u;
  } else if constexpr (t < 60) {
    f = (b & c) | (d & (b | c));
    k = 0x8F1BBCDCu;
  } else {
    f = b ^ c ^ d;
    k = 0xCA62C1D6u;
  }
  e += std::rotl(a, 5) + f + k + wt;
  b = std::rotl(b, 30);
}

// Each step's new `a` lands in the variable of the old `e`; rotating the argument order instead
// of moving five registers lets the 80 steps unroll into straight-line code with no copies.
template <int j>
inline void five_steps(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e,
                       uint32_t* w) noexcept {
  step<5 * j>(a, b, c, d, e, w);
  step<5 * j + 1>(e, a, b, c, d, w);
  step<5 * j + 2>(d, e, a, b, c, w);
  step<5 * j + 3>(c, d, e, a, b, w);
  step<5 * j + 4>(b, c, d, e, a, w);
}

template <size_t... j>
inline void all_steps(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t* w,
                      std::index_sequence<j...>) noexcept {
  (five_steps<static_cast<int>(j)>(a, b, c, d, e, w), ...);
}

// Threads racing on the first call all compute the same answer, so a plain relaxed store is
// enough: whoever loses the race writes the same value again.
std::atomic<uint8_t> cached_path{static_cast<uint8_t>(Sha1Path::detect)};

// Every block goes through here; after the first call it costs one load and a well-predicted
// branch.
inline void compress(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept {
#if defined(__x86_64__)
  if (sha1_path() == Sha1Path::shani) {
    sha1_compress_shani(state, blocks, count);
    return;
  }
#elif defined(__aarch64__)
  if (sha1_path() == Sha1Path::armv8) {
    sha1_compress_armv8(state, blocks, count);
    return;
  }
#endif
  sha1_compress_portable(state, blocks, count);
}

Sha1Path detect() noexcept {
  if (sha1_cpu_has_shani()) return Sha1Path::shani;
  if (sha1_cpu_has_armv8()) return Sha1Path::armv8;
  return Sha1Path::portable;
}

}  // namespace

void sha1_compress_portable(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; count != 0; --count, blocks += Sha1::kBlockSize) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(blocks + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
    all_steps(a, b, c, d, e, w, std::make_index_sequence<16>{});
    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

bool sha1_cpu_has_shani() noexcept { return cpu_has_sha_ni(); }
bool sha1_cpu_has_armv8() noexcept { return cpu_has_arm_sha1(); }

Sha1Path sha1_path() noexcept {
  auto path = static_cast<Sha1Path>(cached_path.load(std::memory_order_relaxed));
  if (path == Sha1Path::detect) [[unlikely]] {
    path = detect();
    cached_path.store(static_cast<uint8_t>(path), std::memory_order_relaxed);
  }
  return path;
}

void sha1_set_path_for_testing(Sha1Path path) noexcept {
  cached_path.store(static_cast<uint8_t>(path), std::memory_order_relaxed);
}

void Sha1::update(const uint8_t* data, size_t n) noexcept {
  detail::absorb<&compress>(state_.data(), length_, buffer_.data(), data, n);
}

Sha1::Digest Sha1::finish() noexcept {
  detail::pad_final_block<&compress, std::endian::big>(state_.data(), length_, buffer_.data());
  Digest digest;
  for (int i = 0; i < 5; ++i) store_be32(digest.data() + 4 * i, state_[i]);
  reset();
  return digest;
}

void Sha1::reset() noexcept {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  length_ = 0;
}

Sha1::Digest sha1(const uint8_t* data, size_t n) noexcept {
  Sha1 hash;
  hash.update(data, n);
  return hash.finish();
}

}  // namespace vantor
