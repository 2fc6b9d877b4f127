// Version 7: 48-bit Unix milliseconds, then a 42-bit counter that keeps values from one process
// strictly increasing within a millisecond and when the clock steps back, then 32 random bits.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>
#include <optional>

#include "core/panic.hpp"
#include "time/clock.hpp"
#include "uuid/uuid_value.hpp"

namespace vantor {

// Saturates at 2^64 - 1 instead of wrapping, so that an absurd clock cannot produce a small value.
constexpr uint64_t unix_millis(uint64_t seconds, uint32_t subsec_nanos) noexcept {
  uint64_t millis;
  if (__builtin_mul_overflow(seconds, uint64_t{1000}, &millis)) return UINT64_MAX;
  if (__builtin_add_overflow(millis, uint64_t{subsec_nanos / 1'000'000u}, &millis)) return UINT64_MAX;
  return millis;
}

constexpr uint64_t unix_millis(Timestamp t) noexcept { return unix_millis(t.seconds, t.subsec_nanos); }

// seconds = (ns / 10^9) mod 2^64, subsec_nanos = ns % 10^9.
constexpr Timestamp timestamp_from_nanoseconds(u128 ns) noexcept {
  return {static_cast<uint64_t>(ns / 1'000'000'000u), static_cast<uint32_t>(ns % 1'000'000'000u)};
}

// The last millisecond the 48-bit time field can hold (in the year 10889).
inline constexpr uint64_t kV7MaxMillis = (uint64_t{1} << 48) - 1;
inline constexpr char kV7PastLimitMessage[] =
    "the clock is past the last millisecond a version-7 UUID can hold (2^48 - 1 ms after the Unix epoch)";

inline constexpr uint64_t kV7CounterSeedMask = (uint64_t{1} << 41) - 1;
// First value the 42-bit counter field cannot hold.
inline constexpr uint64_t kV7CounterLimit = uint64_t{1} << 42;

struct V7State {
  uint64_t last_millis = 0;
  uint64_t last_seconds = 0;
  uint32_t last_subsec_nanos = 0;
  uint64_t counter = 0;
  bool reseed_after_fork = false;
};

struct V7Step {
  uint64_t counter;
  Timestamp timestamp;
};

namespace detail {

// Wraps the seconds modulo 2^64 at the very end of the range rather than failing.
constexpr Timestamp one_milli_later(Timestamp t) noexcept {
  u128 total = u128{t.seconds} * 1'000'000'000u + t.subsec_nanos + 1'000'000u;
  return timestamp_from_nanoseconds(total);
}

}  // namespace detail

// One generation step. The caller serialises calls on the same state. `draw_u64` is called at
// most once; if it throws, `state` is left as it was.
//
// Past the 48-bit millisecond limit the step is an internal failure (a thrown Panic, state left
// as it was), whether the clock reads beyond it or the counter, spent in the last millisecond,
// would borrow the next one. Packing only the low 48 bits would wrap to 00000000-0000-7... and
// break the order; holding the time at the limit would hand out values with a false time. A
// clock 8900 years ahead is broken, like one before 1970.
template <class Draw64>
V7Step next_v7_timestamp(V7State& state, Timestamp reading, Draw64&& draw_u64) {
  const uint64_t millis = unix_millis(reading);
  uint64_t last_millis = state.last_millis;
  Timestamp timestamp;
  uint64_t counter;
  if (millis > last_millis) {
    if (millis > kV7MaxMillis) [[unlikely]]
      internal_failure(kV7PastLimitMessage);
    // A fresh random start, with the top bit clear so that many increments fit before overflow.
    counter = static_cast<uint64_t>(draw_u64()) & kV7CounterSeedMask;
    timestamp = reading;
    last_millis = millis;
  } else {
    // Same millisecond, or the clock stepped back: keep the later time, compared as whole
    // (seconds, nanos) pairs. Mixing the stored seconds with the reading's nanoseconds would jump
    // up to a second ahead when the step back crosses a second boundary.
    const Timestamp stored{state.last_seconds, state.last_subsec_nanos};
    timestamp = reading > stored ? reading : stored;
    if (state.reseed_after_fork) {
      // A forked child shares its parent's state; continuing the parent's counter would give
      // both processes the same values.
      counter = static_cast<uint64_t>(draw_u64()) & kV7CounterSeedMask;
    } else {
      counter = state.counter + 1;
      if (counter >= kV7CounterLimit) {
        // Borrow the next millisecond rather than repeat a value.
        timestamp = detail::one_milli_later(timestamp);
        last_millis = unix_millis(timestamp);
        if (last_millis > kV7MaxMillis) [[unlikely]]
          internal_failure(kV7PastLimitMessage);
        counter = static_cast<uint64_t>(draw_u64()) & kV7CounterSeedMask;
      }
    }
  }
  state.last_millis = last_millis;
  state.last_seconds = timestamp.seconds;
  state.last_subsec_nanos = timestamp.subsec_nanos;
  state.counter = counter;
  state.reseed_after_fork = false;
  return {counter, timestamp};
}

// Bytes 0-5 are unix_millis(ts) mod 2^48; bytes 6-15 come from the top 80 bits of `random`, then
// a counter (if given) overwrites the 12 bits after the version and the 30 bits after the
// variant, leaving the last 32 bits random. Counter bits above 41 are dropped.
inline UuidValue pack_v7(Timestamp ts, std::optional<uint64_t> counter, u128 random) noexcept {
  const u128 tail = random >> 48;
  uint64_t high = (unix_millis(ts) << 16) | static_cast<uint64_t>(tail >> 64);
  uint64_t low = static_cast<uint64_t>(tail);
  if (counter) {
    high = (high & ~uint64_t{0x0FFF}) | ((*counter >> 30) & 0x0FFFu);
    low = (low & 0xC000'0000'FFFF'FFFFULL) | ((*counter & 0x3FFF'FFFFu) << 32);
  }
  return apply_version(UuidValue::from_halves(high, low), 7);
}

struct V7Context {
  std::mutex mutex;
  V7State state;

  // Locks, steps and unlocks, also when the draw throws or the step fails past the 48-bit
  // millisecond limit. A caller stepping many times in a row (bulk generation) keeps the values
  // stepped before a failure: each step leaves a state the next one can continue from.
  template <class Draw64>
  V7Step step(Timestamp reading, Draw64&& draw_u64) {
    std::lock_guard lock(mutex);
    return next_v7_timestamp(state, reading, draw_u64);
  }

  // For a pthread_atfork child handler. The mutex is rebuilt because a parent thread may have
  // held it at the fork and does not exist here; the next step in the same millisecond reseeds.
  void on_fork_child() noexcept {
    new (&mutex) std::mutex;
    state.reseed_after_fork = true;
  }
};

// The process-wide context used by uuid7.
V7Context& v7_context() noexcept;

}  // namespace vantor
