#include "platform/entropy_getrandom.hpp"

#include <sys/random.h>

#include <cerrno>

namespace vantor::platform {

std::optional<EntropyError> read_entropy_with(GetrandomFn fn, uint8_t* dst, size_t len) noexcept {
  using Kind = EntropyError::Kind;
  size_t done = 0;
  while (done < len) {
    const size_t remaining = len - done;
    const ssize_t n = fn(dst + done, remaining, 0);
    if (n > 0) {
      if (static_cast<size_t>(n) > remaining) return EntropyError{Kind::unexpected_result};
      // A short read is normal (large requests, signals); the bytes already written are kept.
      done += static_cast<size_t>(n);
    } else if (n == -1) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err > 0) return EntropyError{Kind::system_error, err};
      return EntropyError{Kind::no_error_code};
    } else {
      return EntropyError{Kind::unexpected_result};
    }
  }
  return std::nullopt;
}

// The libc symbol, not the raw system call: tests interpose it with LD_PRELOAD. Without flags
// getrandom waits only while the kernel's pool is not yet initialised (early boot), and reads of
// up to 256 bytes are never short.
std::optional<EntropyError> read_entropy(uint8_t* dst, size_t len) noexcept {
  return read_entropy_with(&::getrandom, dst, len);
}

}  // namespace vantor::platform
