#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.hpp"

namespace vantor::platform {

// getentropy(2) fills at most 256 bytes per call, in full or not at all, and is not interrupted
// by signals.
std::optional<EntropyError> read_entropy(uint8_t* dst, size_t len) noexcept {
  constexpr size_t kMaxPerCall = 256;
  for (size_t done = 0; done < len;) {
    const size_t chunk = std::min(len - done, kMaxPerCall);
    if (getentropy(dst + done, chunk) != 0) {
      const int err = errno;
      if (err > 0) return EntropyError{EntropyError::Kind::system_error, err};
      return EntropyError{EntropyError::Kind::no_error_code};
    }
    done += chunk;
  }
  return std::nullopt;
}

}  // namespace vantor::platform
