// ThreadRng::fill_bytes: the generator's keystream written straight into a large buffer, for bulk
// generation. Same words in the same order as draw_u32 would hand out; only the copy through the
// generator's own 64-word buffer is skipped.
#include <bit>
#include <cstring>

#include "core/byte_order.hpp"
#include "core/panic.hpp"
#include "platform/platform.hpp"
#include "random/chacha.hpp"
#include "random/chacha_wide.hpp"
#include "random/thread_rng.hpp"

namespace vantor {
namespace {

constexpr size_t kGroupBytes = ThreadRng::kBufferWords * 4;  // four blocks

// Eight blocks per step where the CPU has AVX2; elsewhere four, through the usual dispatch.
inline bool has_eight_wide() noexcept {
#if defined(__x86_64__)
  return simd_level() == SimdLevel::avx2;
#else
  return false;
#endif
}

inline void blocks8(const uint32_t state[16], uint32_t out[128], int rounds) noexcept {
#if defined(__x86_64__)
  chacha_blocks8_avx2(state, out, rounds);
#else
  (void)state, (void)out, (void)rounds;
  __builtin_unreachable();
#endif
}

}  // namespace

void ThreadRng::fill_bytes(uint8_t* out, size_t len) {
  // Words left over from the last refill come first, so that nothing is skipped or repeated.
  while (len >= 4 && buffer_[0] < kBufferWords) {
    store_le32(out, draw_u32());
    out += 4;
    len -= 4;
  }
  if (len >= kGroupBytes) {
    // The buffer is used up here, so the next blocks of the current key are the next words.
    const bool direct = std::endian::native == std::endian::little &&
                        reinterpret_cast<uintptr_t>(out) % alignof(uint32_t) == 0;
    const bool eight_wide = has_eight_wide();
    alignas(64) uint32_t group[2 * kBufferWords];
    while (len >= kGroupBytes) {
      if (block_counter() >= kBlocksPerKey) [[unlikely]] {
        uint8_t key[kKeyBytes];
        auto err = entropy_(key, sizeof key);
        if (err) {
          platform::secure_zero(key, sizeof key);
          internal_failure("could not reseed ThreadRng: " + err->text());
        }
        set_key(key);
        platform::secure_zero(key, sizeof key);
        set_block_counter(0);
      }
      // Eight blocks where they fit in the output and under the current key, else four.
      const bool eight = eight_wide && len >= 2 * kGroupBytes && block_counter() + 8 <= kBlocksPerKey;
      const size_t words = eight ? 2 * kBufferWords : kBufferWords;
      uint32_t* target = direct ? reinterpret_cast<uint32_t*>(out) : group;
      if (eight)
        blocks8(cipher_state_, target, kRounds);
      else
        chacha_blocks4(cipher_state_, target, kRounds);
      if (!direct)
        for (size_t i = 0; i < words; ++i) store_le32(out + 4 * i, group[i]);
      set_block_counter(block_counter() + words / 16);
      out += 4 * words;
      len -= 4 * words;
    }
    platform::secure_zero(group, sizeof group);
  }
  while (len >= 4) {
    store_le32(out, draw_u32());
    out += 4;
    len -= 4;
  }
  if (len > 0) {
    uint8_t last[4];
    store_le32(last, draw_u32());
    std::memcpy(out, last, len);
  }
}

}  // namespace vantor
