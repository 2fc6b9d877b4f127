#include "random/entropy.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace vantor {

std::string EntropyError::text() const {
  switch (kind) {
    case Kind::os_error: {
      char buf[128];
      // GNU strerror_r: the message is what it returns, which for known errors is a static
      // string while `buf` is left untouched.
      const char* message = strerror_r(code, buf, sizeof buf);
      return std::string(message) + " (os error " + std::to_string(code) + ")";
    }
    case Kind::errno_not_positive:
      return "errno: did not return a positive value";
    case Kind::unexpected_result:
      break;
  }
  return "unexpected situation";
}

std::optional<EntropyError> read_entropy_with(GetrandomFn fn, uint8_t* dst, size_t len) noexcept {
  size_t done = 0;
  while (done < len) {
    const size_t remaining = len - done;
    const ssize_t n = fn(dst + done, remaining, 0);
    if (n > 0) {
      if (static_cast<size_t>(n) > remaining) return EntropyError{EntropyError::Kind::unexpected_result};
      // A short read is normal (large requests, signals); the bytes already written are kept.
      done += static_cast<size_t>(n);
    } else if (n == -1) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err > 0) return EntropyError{EntropyError::Kind::os_error, err};
      return EntropyError{EntropyError::Kind::errno_not_positive};
    } else {
      return EntropyError{EntropyError::Kind::unexpected_result};
    }
  }
  return std::nullopt;
}

std::optional<EntropyError> read_os_entropy(uint8_t* dst, size_t len) noexcept {
  return read_entropy_with(&::getrandom, dst, len);
}

}  // namespace vantor
