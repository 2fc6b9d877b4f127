// ThreadRng::fill_bytes: the generator's keystream written straight into a large buffer, for bulk
// generation. Same words in the same order as draw_u32 would hand out; only the copy through the
// generator's own 64-word buffer is skipped. Also the bulk version-4 values made from it.
#include "random/bulk_fill.hpp"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>  // SSE2, part of x86-64 itself
#endif

#include "core/byte_order.hpp"
#include "core/panic.hpp"
#include "platform/platform.hpp"
#include "random/chacha.hpp"
#include "random/chacha_wide.hpp"
#include "random/version_bits.hpp"

namespace vantor {
namespace {

constexpr size_t kBlockBytes = 64;
constexpr size_t kWidestBlocks = 16;

// The most blocks one call computes at this level: 16 with AVX-512 or AVX2 (two interleaved
// groups of eight, which overlap better than one), else 4 through the usual dispatch.
size_t widest_step(SimdLevel level) noexcept {
  return level == SimdLevel::avx512 || level == SimdLevel::avx2 ? 16 : 4;
}

void compute_blocks(SimdLevel level, size_t blocks, const uint32_t state[16], uint32_t* out, int rounds) noexcept {
#if defined(__x86_64__)
  if (blocks == 16) {
    if (level == SimdLevel::avx512) return chacha_blocks16_avx512(state, out, rounds);
    return chacha_blocks16_avx2(state, out, rounds);
  }
  if (blocks == 8) return chacha_blocks8_avx2(state, out, rounds);
#else
  (void)level, (void)blocks;
#endif
  chacha_blocks4(state, out, rounds);
}

// Values per piece of fill_uuid4_values: 16 KiB, well inside every first-level data cache, so
// that the version pass reads what the cipher has just written.
constexpr size_t kPieceValues = 1024;

// Values from `scratch` (in the cache) to `out` past the caches, when `out` is 16-byte aligned.
void copy_streaming(uint8_t* out, const uint8_t* scratch, size_t bytes) noexcept {
#if defined(__x86_64__)
  if (reinterpret_cast<uintptr_t>(out) % 16 == 0) {
    for (size_t i = 0; i < bytes; i += 16)
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_load_si128(reinterpret_cast<const __m128i*>(scratch + i)));
    return;
  }
#endif
  std::memcpy(out, scratch, bytes);
}

// Buffers from this size on go past the caches when their pages are mapped. Measured on an
// AVX-512 machine with nothing else running: a warm 64 MB lent buffer 3.1 ns per value streamed
// against 3.7 with plain stores, a 16 MB one 3.1-3.7 streamed against 2.7-2.9 plain. Smaller
// ones fit in the caches of most machines, and the reader after us finds them there.
constexpr size_t kStreamingFrom = size_t{32} << 20;

}  // namespace

void ThreadRng::fill_bytes(uint8_t* out, size_t len) {
  // Words left over from the last refill come first, so that nothing is skipped or repeated.
  while (len >= 4 && buffer_[0] < kBufferWords) {
    store_le32(out, draw_u32());
    out += 4;
    len -= 4;
  }
  if (len >= kBufferWords * 4) {
    // The buffer is used up here, so the next blocks of the current key are the next words.
    const bool direct = std::endian::native == std::endian::little &&
                        reinterpret_cast<uintptr_t>(out) % alignof(uint32_t) == 0;
    const SimdLevel level = simd_level();
    const size_t widest = widest_step(level);
    alignas(64) uint32_t group[kWidestBlocks * 16];
    bool group_used = false;
    while (len >= kBufferWords * 4) {
      if (block_counter() >= kBlocksPerKey) [[unlikely]] {
        uint8_t key[kKeyBytes];
        auto err = entropy_(key, sizeof key);
        if (err) {
          platform::secure_zero(key, sizeof key);
          if (group_used) platform::secure_zero(group, sizeof group);
          internal_failure("could not reseed ThreadRng: " + err->text());
        }
        set_key(key);
        platform::secure_zero(key, sizeof key);
        set_block_counter(0);
      }
      // The widest step that fits in the output and under the current key, else four blocks.
      size_t blocks = widest;
      while (blocks > 4 && (len < blocks * kBlockBytes || block_counter() + blocks > kBlocksPerKey)) blocks /= 2;
      const size_t words = blocks * 16;
      uint32_t* target = direct ? reinterpret_cast<uint32_t*>(out) : group;
      compute_blocks(level, blocks, cipher_state_, target, kRounds);
      if (!direct) {
        group_used = true;
        for (size_t i = 0; i < words; ++i) store_le32(out + 4 * i, group[i]);
      }
      set_block_counter(block_counter() + blocks);
      out += 4 * words;
      len -= 4 * words;
    }
    if (group_used) platform::secure_zero(group, sizeof group);
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

void fill_uuid4_values(ThreadRng& rng, uint8_t* out, size_t count, Stores stores) {
  if (stores == Stores::cached) {
    for (size_t done = 0; done < count;) {
      const size_t k = count - done < kPieceValues ? count - done : kPieceValues;
      rng.fill_bytes(out, 16 * k);
      set_version_bits(out, k, 4);
      out += 16 * k;
      done += k;
    }
    return;
  }
  alignas(64) uint8_t scratch[16 * kPieceValues];
  struct Wipe {
    uint8_t* data;
    ~Wipe() { platform::secure_zero(data, 16 * kPieceValues); }  // also when a reseed fails
  } wipe{scratch};
  for (size_t done = 0; done < count;) {
    const size_t k = count - done < kPieceValues ? count - done : kPieceValues;
    rng.fill_bytes(scratch, 16 * k);
    set_version_bits(scratch, k, 4);
    copy_streaming(out, scratch, 16 * k);
    out += 16 * k;
    done += k;
  }
#if defined(__x86_64__)
  _mm_sfence();  // streamed stores are weakly ordered: all done before another thread reads
#endif
}

bool prefer_streaming_stores(const uint8_t* out, size_t size) noexcept {
  return size >= kStreamingFrom && platform::pages_resident(out, size);
}

}  // namespace vantor
