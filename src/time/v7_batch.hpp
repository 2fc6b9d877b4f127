// Version-7 values in bulk: a batch takes the timestamps and counter values of n consecutive
// single calls from the shared state in one step, and is then filled outside the lock.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "time/v7.hpp"

namespace vantor {

// Consecutive counter values at one timestamp.
struct V7Run {
  Timestamp timestamp;
  uint64_t first_counter;
  uint64_t count;
};

// A batch spans at most two runs: a reseeded counter starts below 2^41, which leaves room for
// more than 2^41 values before it would need a third.
inline constexpr uint64_t kV7MaxBatch = uint64_t{1} << 41;

struct V7Batch {
  V7Run runs[2];
  int run_count;
};

// The state after n calls of next_v7_timestamp with the same reading, and the values those
// calls would have returned. REQUIRES: 1 <= n <= kV7MaxBatch.
template <class Draw64>
V7Batch reserve_v7_batch(V7State& state, Timestamp reading, uint64_t n, Draw64&& draw_u64) {
  const V7Step first = next_v7_timestamp(state, reading, draw_u64);
  const uint64_t room = kV7CounterLimit - 1 - first.counter;  // values after the first one
  if (n - 1 <= room) {
    state.counter = first.counter + (n - 1);
    return {{{first.timestamp, first.counter, n}, {}}, 1};
  }
  // The counter runs out: continue as a single call would, one millisecond later with a fresh
  // counter. The draw comes first so that a throwing draw leaves the state at the first value.
  const uint64_t seed = static_cast<uint64_t>(draw_u64()) & kV7CounterSeedMask;
  const Timestamp later = detail::one_milli_later(first.timestamp);
  const uint64_t rest = n - 1 - room;
  state.last_millis = unix_millis(later);
  state.last_seconds = later.seconds;
  state.last_subsec_nanos = later.subsec_nanos;
  state.counter = seed + rest - 1;
  return {{{first.timestamp, first.counter, room + 1}, {later, seed, rest}}, 2};
}

// Writes run.count values of 16 bytes each to `out`, taking the last 32 bits of each value from
// random[0..count). Equal to pack_v7 with each counter and those bits as the low random word.
inline void write_v7_run(const V7Run& run, const uint32_t* random, uint8_t* out) noexcept {
  const uint64_t millis = (unix_millis(run.timestamp) << 16) | 0x7000;
  uint64_t counter = run.first_counter;
  for (uint64_t i = 0; i < run.count; ++i, ++counter, out += 16) {
    uint64_t high = millis | ((counter >> 30) & 0x0FFF);
    uint64_t low = 0x8000'0000'0000'0000ULL | ((counter & 0x3FFF'FFFFu) << 32) | random[i];
    if constexpr (std::endian::native == std::endian::little) {
      high = std::byteswap(high);
      low = std::byteswap(low);
    }
    std::memcpy(out, &high, 8);
    std::memcpy(out + 8, &low, 8);
  }
}

}  // namespace vantor
