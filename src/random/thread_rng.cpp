#include "random/thread_rng.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "core/byte_order.hpp"
#include "core/panic.hpp"
#include "platform/platform.hpp"
#include "random/chacha.hpp"

namespace vantor {
namespace {

// A key on the stack, erased however the scope is left.
struct KeyBuffer {
  uint8_t bytes[ThreadRng::kKeyBytes];
  ~KeyBuffer() { platform::secure_zero(bytes, sizeof bytes); }
};

std::atomic<size_t> live_generators{0};

}  // namespace

ThreadRng::ThreadRng(std::span<const uint8_t, kKeyBytes> key, EntropyFn entropy) noexcept
    : buffer_{}, cipher_state_{}, entropy_(entropy) {
  buffer_[0] = kBufferWords;
  for (int i = 0; i < 4; ++i) cipher_state_[i] = kChachaConstants[i];
  set_key(key.data());
  live_generators.fetch_add(1, std::memory_order_relaxed);
}

ThreadRng::~ThreadRng() {
  // Keystream not yet handed out and the key that would recompute it.
  platform::secure_zero(buffer_, sizeof buffer_);
  platform::secure_zero(cipher_state_, sizeof cipher_state_);
  live_generators.fetch_sub(1, std::memory_order_relaxed);
}

void ThreadRng::set_key(const uint8_t* key) noexcept {
  for (int i = 0; i < 8; ++i) cipher_state_[4 + i] = load_le32(key + 4 * i);
}

void ThreadRng::set_block_counter(uint64_t counter) noexcept {
  cipher_state_[12] = static_cast<uint32_t>(counter);
  cipher_state_[13] = static_cast<uint32_t>(counter >> 32);
}

// Leaves the generator untouched when it throws: the key is only replaced once the new one has
// been read in full, and nothing after that can fail.
void ThreadRng::refill() {
  if (block_counter() >= kBlocksPerKey) {
    KeyBuffer key;
    if (auto err = entropy_(key.bytes, sizeof key.bytes)) {
      internal_failure("could not reseed ThreadRng: " + err->text());
    }
    set_key(key.bytes);
    set_block_counter(0);
  }
  chacha_blocks4(cipher_state_, buffer_, kRounds);
  set_block_counter(block_counter() + kBufferWords / 16);
}

// Hands out the n words that remain from position p on (fewer than n), then refills and takes
// the rest from the start of the new buffer. The old words are copied out before the refill
// overwrites them, and the position is only written after it: a failed refill leaves the
// generator as it was, and the retried draw takes the same old words, which the failed one
// never handed out.
void ThreadRng::take_across_refill(uint32_t* words, uint32_t n) {
  const uint32_t p = buffer_[0];
  const uint32_t old = kBufferWords - p;
  for (uint32_t i = 0; i < old; ++i) words[i] = buffer_[p + i];
  refill();
  for (uint32_t i = old; i < n; ++i) words[i] = buffer_[i - old];
  buffer_[0] = n - old;
}

uint32_t ThreadRng::draw_u32_slow() {
  uint32_t w;
  take_across_refill(&w, 1);
  return w;
}

uint64_t ThreadRng::draw_u64_slow() {
  uint32_t w[2];
  take_across_refill(w, 2);
  return w[0] | uint64_t{w[1]} << 32;
}

u128 ThreadRng::draw_u128_slow() {
  uint32_t w[4];
  take_across_refill(w, 4);
  return w[0] | uint64_t{w[1]} << 32 | u128{w[2] | uint64_t{w[3]} << 32} << 64;
}

std::optional<platform::EntropyError> ThreadRng::reseed() {
  buffer_[0] = kBufferWords;
  KeyBuffer key;
  if (auto err = entropy_(key.bytes, sizeof key.bytes)) return err;
  set_key(key.bytes);
  set_block_counter(0);
  return std::nullopt;
}

void ThreadRng::mark_forked() noexcept {
  buffer_[0] = kBufferWords;
  set_block_counter(kBlocksPerKey);
}

// ---------------------------------------------------------------------------------------------
// One generator per thread.

namespace detail {
constinit thread_local ThreadRng* tls_thread_rng VANTOR_TLS_MODEL = nullptr;
}  // namespace detail

namespace {

platform::ThreadKey destructor_key;
std::once_flag process_setup;

// Runs at thread exit, after C++ thread_local destructors, which may still draw. Clearing the
// pointer lets a later destructor that draws get a new generator, which the key then destroys in
// its next round of destructors.
void destroy_at_thread_exit(void* p) {
  detail::tls_thread_rng = nullptr;
  delete static_cast<ThreadRng*>(p);
}

// The child of fork() holds a copy of its parent's generator: same key, same buffered words.
// Only the forking thread survives in the child, so its generator is the only one to fence off.
void after_fork_in_child() {
  if (ThreadRng* rng = detail::tls_thread_rng) rng->mark_forked();
}

[[noreturn]] void fail_to_initialize(const platform::SystemCallError& error) {
  internal_failure(std::string("could not initialize ThreadRng: ") + error.call + ": " +
                   platform::describe_system_error(error.code));
}

// Both registrations happen before the first generator is published, so no generator can be
// inherited by a child that was forked before the fork handler existed. A failure throws out of
// call_once, which lets the next thread_rng() try again.
void setup_process() {
  if (auto err = platform::create_thread_key(destructor_key, &destroy_at_thread_exit)) fail_to_initialize(*err);
  if (int err = platform::register_fork_child_handler(&after_fork_in_child)) {
    platform::delete_thread_key(destructor_key);
    fail_to_initialize({"pthread_atfork", err});
  }
}

}  // namespace

ThreadRng& create_thread_rng() {
  KeyBuffer key;
  if (auto err = platform::read_entropy(key.bytes, sizeof key.bytes)) {
    internal_failure("could not initialize ThreadRng: " + err->text());
  }
  // Detect the CPU now rather than in the first refill, which is on the path of a draw.
  (void)simd_level();
  std::call_once(process_setup, setup_process);

  auto* rng = new ThreadRng(key.bytes);
  if (auto err = platform::set_thread_value(destructor_key, rng)) {
    delete rng;
    fail_to_initialize(*err);
  }
  detail::tls_thread_rng = rng;
  return *rng;
}

size_t live_thread_rngs() noexcept { return live_generators.load(std::memory_order_relaxed); }

}  // namespace vantor
