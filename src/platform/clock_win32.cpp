#include <windows.h>

#include "platform/platform.hpp"

namespace vantor::platform {

// The system time in 100-nanosecond intervals since 1601-01-01 UTC, as precise as the hardware
// allows (Windows 8 and later, which every supported Python needs).
int read_wall_clock(WallClockReading& out) noexcept {
  constexpr int64_t kIntervalsPerSecond = 10'000'000;
  constexpr int64_t kSeconds1601To1970 = 11'644'473'600;
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const int64_t intervals = static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
  // Floor division, so that a time before 1970 still has nanoseconds in [0, 10^9).
  int64_t seconds = intervals / kIntervalsPerSecond;
  int64_t rest = intervals % kIntervalsPerSecond;
  if (rest < 0) {
    rest += kIntervalsPerSecond;
    --seconds;
  }
  out.seconds = seconds - kSeconds1601To1970;
  out.nanoseconds = rest * 100;
  return 0;
}

const char* wall_clock_call() noexcept { return "GetSystemTimePreciseAsFileTime"; }

}  // namespace vantor::platform
