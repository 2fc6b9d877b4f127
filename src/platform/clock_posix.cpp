#include <time.h>

#include <cerrno>

#include "platform/platform.hpp"

namespace vantor::platform {

// clock_gettime from libc, which tests interpose on Linux with LD_PRELOAD.
int read_wall_clock(WallClockReading& out) noexcept {
  timespec reading;
  if (clock_gettime(CLOCK_REALTIME, &reading) != 0) return errno;
  out.seconds = reading.tv_sec;
  out.nanoseconds = reading.tv_nsec;
  return 0;
}

const char* wall_clock_call() noexcept { return "clock_gettime(CLOCK_REALTIME)"; }

}  // namespace vantor::platform
