// ThreadRng: the per-thread generator behind random UUIDs. ChaCha12 keystream, computed four
// blocks (64 words) at a time and handed out word by word, strictly in order; the key is
// replaced with fresh OS entropy after every 1024 blocks (64 KiB of output).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "platform/platform.hpp"
#include "uuid/uuid_value.hpp"

namespace vantor {

// Where a generator takes its keys from (the system's source unless a test injects another).
using EntropyFn = std::optional<platform::EntropyError> (*)(uint8_t* dst, size_t len);

class alignas(64) ThreadRng {
 public:
  static constexpr size_t kKeyBytes = 32;
  static constexpr int kRounds = 12;
  static constexpr uint32_t kBufferWords = 64;      // four blocks
  static constexpr uint64_t kBlocksPerKey = 1024;

  // Nothing is computed yet: the first draw computes blocks 0-3 of `key`, without rekeying.
  explicit ThreadRng(std::span<const uint8_t, kKeyBytes> key,
                     EntropyFn entropy = &platform::read_entropy) noexcept;
  ~ThreadRng();
  ThreadRng(const ThreadRng&) = delete;
  ThreadRng& operator=(const ThreadRng&) = delete;

  // The next 4, 8 or 16 keystream bytes as one little-endian number. When the key is due for
  // replacement and the entropy source fails, they call internal_failure (Panic) and leave the
  // generator as it was, so the next draw tries again.
  uint32_t draw_u32();
  uint64_t draw_u64();
  u128 draw_u128();

  // The next len keystream bytes, in order, as if drawn word by word (a final partial word is
  // used up whole). Whole groups of four blocks are computed straight into `out`. Defined in
  // bulk_fill.cpp. Fails like a draw, after writing some of `out`.
  void fill_bytes(uint8_t* out, size_t len);

  // Discards the buffered words and takes a new key from the entropy source. On failure the key
  // and block counter are kept (the buffer stays discarded) and the error is returned.
  std::optional<platform::EntropyError> reseed();

  // For a forked child: not one more word of the stream the parent also holds is handed out.
  // The next draw replaces the key first (and fails, to be retried, if it cannot).
  void mark_forked() noexcept;

  // The next block to compute with the current key.
  uint64_t block_counter() const noexcept { return cipher_state_[12] | uint64_t{cipher_state_[13]} << 32; }
  // Index of the next unread buffer word, 1..64; 64 means the buffer is used up.
  uint32_t position() const noexcept { return buffer_[0]; }

 private:
  [[gnu::cold, gnu::noinline]] uint32_t draw_u32_slow();
  [[gnu::cold, gnu::noinline]] uint64_t draw_u64_slow();
  [[gnu::cold, gnu::noinline]] u128 draw_u128_slow();
  void take_across_refill(uint32_t* words, uint32_t n);
  [[gnu::cold, gnu::noinline]] void refill();
  void set_key(const uint8_t* key) noexcept;
  void set_block_counter(uint64_t counter) noexcept;

  // Keystream words of the last refill, in counter order. Word 0 doubles as the read position:
  // a refill is always followed at once by reading word 0, after which that slot is free. Its
  // values are 1..64 (position 0 is never stored). The hot path then works on one array only.
  uint32_t buffer_[kBufferWords];
  // Constants, key, block counter (words 12-13), nonce (words 14-15, always 0).
  uint32_t cipher_state_[16];
  EntropyFn entropy_;
};

namespace detail {
// Consecutive words as one number, the first word least significant: on a little-endian machine
// that is a plain unaligned load.
template <class T>
inline T load_words(const uint32_t* words) noexcept {
  T v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, words, sizeof v);
  } else {
    for (size_t i = sizeof v / 4; i-- > 0;) v = v << 32 | words[i];
  }
  return v;
}
}  // namespace detail

inline uint32_t ThreadRng::draw_u32() {
  const size_t p = buffer_[0];
  if (p >= kBufferWords) [[unlikely]] return draw_u32_slow();
  const uint32_t w = buffer_[p];
  buffer_[0] = static_cast<uint32_t>(p + 1);
  return w;
}

inline uint64_t ThreadRng::draw_u64() {
  const size_t p = buffer_[0];
  if (p > kBufferWords - 2) [[unlikely]] return draw_u64_slow();
  const uint64_t v = detail::load_words<uint64_t>(buffer_ + p);
  buffer_[0] = static_cast<uint32_t>(p + 2);
  return v;
}

inline u128 ThreadRng::draw_u128() {
  const size_t p = buffer_[0];
  if (p > kBufferWords - 4) [[unlikely]] return draw_u128_slow();
  const u128 v = detail::load_words<u128>(buffer_ + p);
  buffer_[0] = static_cast<uint32_t>(p + 4);
  return v;
}

namespace detail {
// Constant-initialised, so reads need no initialisation guard.
extern constinit thread_local ThreadRng* tls_thread_rng VANTOR_TLS_MODEL;
}  // namespace detail

// Creates the calling thread's generator, seeded from the OS, destroyed when the thread exits.
// Calls internal_failure and creates nothing if the OS gives no entropy (the next use retries).
[[gnu::cold, gnu::noinline]] ThreadRng& create_thread_rng();

// The calling thread's generator.
inline ThreadRng& thread_rng() {
  ThreadRng* rng = detail::tls_thread_rng;
  if (rng == nullptr) [[unlikely]] return create_thread_rng();
  return *rng;
}

// Number of ThreadRng objects in existence, per-thread or made directly: lets a test see that a
// thread's generator is destroyed when the thread exits.
size_t live_thread_rngs() noexcept;

}  // namespace vantor
