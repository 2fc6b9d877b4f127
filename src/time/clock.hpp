// Wall-clock readings as an unsigned distance from the Unix epoch. A reading before 1970 is not a
// fault of ours but of the host clock, so it is returned as a value and the caller decides how to
// report it.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>

#include "platform/platform.hpp"

namespace vantor {

// Time since 1970-01-01T00:00:00Z. subsec_nanos is 0..999,999,999.
struct Timestamp {
  uint64_t seconds;
  uint32_t subsec_nanos;

  // Member order makes the defaulted comparison chronological.
  friend constexpr auto operator<=>(const Timestamp&, const Timestamp&) = default;
};

// The clock read earlier than the epoch; holds how far before it (same normal form as Timestamp).
struct ClockBeforeEpoch {
  uint64_t seconds;
  uint32_t subsec_nanos;

  friend constexpr bool operator==(const ClockBeforeEpoch&, const ClockBeforeEpoch&) = default;

  // "SystemTimeError(1.5s)": whole seconds, then the fraction without trailing zeros, if any.
  std::string describe() const;
};

// The pure half of now_since_epoch(). Accepts any nanoseconds, including negative or >= 10^9
// values, by treating the reading as seconds * 10^9 + nanoseconds.
std::expected<Timestamp, ClockBeforeEpoch> timestamp_from_reading(platform::WallClockReading reading) noexcept;

// Reads the system's real-time clock. The clock call itself failing is an internal failure
// (throws Panic).
std::expected<Timestamp, ClockBeforeEpoch> now_since_epoch() noexcept(false);

// Panic texts for a pre-epoch clock. The first is for uuid1/uuid6 without an explicit clock
// sequence and for uuid7; the second for uuid1/uuid6 called with one.
std::string clock_failure_message(const ClockBeforeEpoch& error);
std::string clock_unwrap_failure_message(const ClockBeforeEpoch& error);

}  // namespace vantor
