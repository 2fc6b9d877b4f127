// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>

#include "platform/platform.hpp"

namespace vantor::platform {

// The system-preferred generator needs no algorithm handle. A call takes a ULONG length, so
// larger requests go in pieces; each call fills its piece in full or fails.
std::optional<EntropyError> read_entropy(uint8_t* dst, size_t len) noexcept {
  constexpr size_t kMaxPerCall = ULONG_MAX;
  for (size_t done = 0; done < len;) {
    const size_t chunk = std::min(len - done, kMaxPerCall);
    const NTSTATUS status =
        BCryptGenRandom(nullptr, dst + done, static_cast<ULONG>(chunk), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) return EntropyError{EntropyError::Kind::system_error, static_cast<int>(status)};
    done += chunk;
  }
  return std::nullopt;
}

}  // namespace vantor::platform
