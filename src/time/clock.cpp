#include "time/clock.hpp"

#include "core/panic.hpp"
#include "platform/platform.hpp"

namespace vantor {

namespace {

constexpr int64_t kNanosPerSecond = 1'000'000'000;

}  // namespace

std::string ClockBeforeEpoch::describe() const {
  std::string text = "SystemTimeError(" + std::to_string(seconds);
  if (subsec_nanos != 0) {
    char digits[10];
    uint32_t rest = subsec_nanos;
    for (int i = 8; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    }
    size_t length = 9;
    while (digits[length - 1] == '0') --length;
    text += '.';
    text.append(digits, length);
  }
  text += "s)";
  return text;
}

std::expected<Timestamp, ClockBeforeEpoch> timestamp_from_reading(platform::WallClockReading reading) noexcept {
  // The clock's own normal form after 1970 needs no arithmetic (and no 128-bit division).
  if (reading.seconds >= 0 && reading.nanoseconds >= 0 && reading.nanoseconds < kNanosPerSecond) [[likely]]
    return Timestamp{static_cast<uint64_t>(reading.seconds), static_cast<uint32_t>(reading.nanoseconds)};
  // 128 bits hold any seconds * 10^9 + nanoseconds, even at the extremes of both, so the sign of
  // the whole reading decides, not the sign of one field.
  __int128 total = static_cast<__int128>(reading.seconds) * kNanosPerSecond + reading.nanoseconds;
  if (total >= 0) {
    return Timestamp{static_cast<uint64_t>(total / kNanosPerSecond),
                     static_cast<uint32_t>(total % kNanosPerSecond)};
  }
  unsigned __int128 distance = static_cast<unsigned __int128>(-total);
  return std::unexpected(ClockBeforeEpoch{static_cast<uint64_t>(distance / kNanosPerSecond),
                                          static_cast<uint32_t>(distance % kNanosPerSecond)});
}

std::expected<Timestamp, ClockBeforeEpoch> now_since_epoch() noexcept(false) {
  platform::WallClockReading reading;
  if (int error = platform::read_wall_clock(reading)) {
    internal_failure(std::string(platform::wall_clock_call()) + " failed: " + platform::error_text(error));
  }
  return timestamp_from_reading(reading);
}

std::string clock_failure_message(const ClockBeforeEpoch& error) {
  return "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated causality: " +
         error.describe();
}

std::string clock_unwrap_failure_message(const ClockBeforeEpoch& error) {
  return "called `Result::unwrap()` on an `Err` value: " + error.describe();
}

}  // namespace vantor
