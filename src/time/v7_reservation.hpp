// Reserving version-7 values: the timestamps and counter values of n consecutive single calls,
// taken from the shared state in one step and then written outside the lock. A bulk call fills
// its batch at once; a thread keeps its reservation and hands it out call by call.
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

// A thread's own share of the shared state, for builds where threads run in parallel: a block of
// consecutive values, taken kV7ReservationSize at a time under the lock and handed out one by one
// without it, so that threads generating at once touch the shared state once every block rather
// than once a value. Each thread's values are the values single calls would have produced, in
// the same order, so they are strictly increasing within the thread; blocks never overlap, so no
// value repeats across threads. Values of different threads interleave by block, not by call.
inline constexpr uint64_t kV7ReservationSize = 256;

struct V7Reservation {
  V7Batch batch{};  // run_count 0: nothing reserved
  int run = 0;
  uint64_t used = 0;  // values of batch.runs[run] handed out
};

// The next value for a clock reading: from the reservation while its current run's millisecond
// is not behind the clock (as a single call would continue the counter), otherwise from a fresh
// block of the shared state, taken with `lock(context.mutex)` held. A reading in a later
// millisecond abandons the rest of the block; the shared state has moved past it, so its values
// are skipped, never handed out twice.
template <class Lock, class Draw64>
V7Step next_v7_reserved(V7Reservation& reservation, V7Context& context, Timestamp reading, Lock&& lock,
                        Draw64&& draw_u64) {
  const uint64_t millis = unix_millis(reading);
  if (reservation.run >= reservation.batch.run_count ||
      millis > unix_millis(reservation.batch.runs[reservation.run].timestamp)) {
    V7Batch batch;
    {
      auto held = lock(context.mutex);
      batch = reserve_v7_batch(context.state, reading, kV7ReservationSize, draw_u64);
    }
    // A failure above (a clock past the 48-bit limit, a failing draw) leaves the shared state as
    // it was and the reservation too, so that a clock back in range counts on from the last value
    // as a single call would.
    reservation = {batch, 0, 0};
  }
  const V7Run& run = reservation.batch.runs[reservation.run];
  V7Step step{run.first_counter + reservation.used, run.timestamp};
  if (++reservation.used == run.count) {
    ++reservation.run;
    reservation.used = 0;
  }
  return step;
}

}  // namespace vantor
