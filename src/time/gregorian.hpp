// Versions 1 and 6: a 60-bit count of 100-ns ticks since the Gregorian reform, a 14-bit clock
// sequence and a 48-bit node. Both versions share one process-wide clock sequence.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#include "uuid/uuid_value.hpp"

namespace vantor {

// Ticks for a time since the Unix epoch. Sub-tick nanoseconds are truncated; the sum wraps
// modulo 2^64, and packing keeps only the low 60 bits of it.
constexpr uint64_t gregorian_ticks(uint64_t seconds, uint32_t subsec_nanos) noexcept {
  return seconds * 10'000'000u + subsec_nanos / 100u + kGregorianOffset;
}

namespace detail {

// Bytes 8-15, common to both versions: variant, 14-bit clock sequence, 48-bit node.
constexpr uint64_t clock_seq_and_node(uint16_t clock_seq, uint64_t node) noexcept {
  return (uint64_t{0x80u | ((clock_seq >> 8) & 0x3Fu)} << 56) | (uint64_t{clock_seq & 0xFFu} << 48) |
         (node & 0xFFFF'FFFF'FFFFULL);
}

}  // namespace detail

// Bits above the field widths (ticks 63..60, clock_seq 15..14, node 63..48) are dropped.
inline UuidValue pack_v1(uint64_t ticks, uint16_t clock_seq, uint64_t node) noexcept {
  uint64_t high = ((ticks & 0xFFFF'FFFFULL) << 32) | (((ticks >> 32) & 0xFFFFu) << 16) | 0x1000u |
                  ((ticks >> 48) & 0x0FFFu);
  return UuidValue::from_halves(high, detail::clock_seq_and_node(clock_seq, node));
}

// Same fields as version 1 but the ticks are stored most significant first, so that values sort
// by time.
inline UuidValue pack_v6(uint64_t ticks, uint16_t clock_seq, uint64_t node) noexcept {
  uint64_t high = (((ticks >> 28) & 0xFFFF'FFFFULL) << 32) | (((ticks >> 12) & 0xFFFFu) << 16) |
                  0x6000u | (ticks & 0x0FFFu);
  return UuidValue::from_halves(high, detail::clock_seq_and_node(clock_seq, node));
}

// A 16-bit counter started at a random value and advanced once per generated UUID. Only its low
// 14 bits reach a UUID, but the whole 16 bits wrap, so the 14-bit sequence also wraps smoothly.
class ClockSequenceContext {
 public:
  ClockSequenceContext() noexcept = default;  // constexpr wherever std::mutex has a constexpr constructor
  ClockSequenceContext(const ClockSequenceContext&) = delete;
  ClockSequenceContext& operator=(const ClockSequenceContext&) = delete;

  // Seeds the counter from the low 16 bits of one draw, unless already seeded. If the draw
  // throws, the context stays unseeded and the next call draws again.
  template <class Draw32>
  void ensure_initialised(Draw32&& draw_u32) {
    if (initialised_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(init_mutex_);
    if (initialised_.load(std::memory_order_relaxed)) return;
    count_.store(static_cast<uint16_t>(draw_u32()), std::memory_order_relaxed);
    initialised_.store(true, std::memory_order_release);
  }

  // The next 14-bit clock sequence. Kept apart from ensure_initialised() so that a caller can
  // seed, then read the clock, and advance only once the reading succeeded.
  // REQUIRES: ensure_initialised() has returned normally since construction or the last fork.
  uint16_t advance() noexcept {
    return static_cast<uint16_t>(count_.fetch_add(1, std::memory_order_relaxed) & 0x3FFFu);
  }

  template <class Draw32>
  uint16_t next_clock_seq(Draw32&& draw_u32) {
    ensure_initialised(draw_u32);
    return advance();
  }

  // For a pthread_atfork child handler: a child must not continue its parent's sequence, so the
  // next call draws a fresh start. Only plain stores, as befits that context. The mutex is
  // rebuilt because a parent thread may have held it at the fork and does not exist here.
  void on_fork_child() noexcept {
    new (&init_mutex_) std::mutex;
    initialised_.store(false, std::memory_order_relaxed);
  }

 private:
  std::atomic<uint16_t> count_{0};
  std::atomic<bool> initialised_{false};
  std::mutex init_mutex_;
};

// The context shared by uuid1 and uuid6.
ClockSequenceContext& clock_sequence() noexcept;

}  // namespace vantor
