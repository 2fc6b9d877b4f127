// Random bytes from the operating system, the only seed source of the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantor {

struct EntropyError {
  enum class Kind : uint8_t {
    os_error,            // the call failed with errno `code`
    errno_not_positive,  // the call failed but errno held no error number
    unexpected_result,   // a result the system's call never gives
  };
  Kind kind = Kind::os_error;
  int code = 0;  // the system's error code, for os_error

  // os_error: the system's message, then " (os error N)", e.g. "Input/output error (os error 5)".
  std::string text() const;

  friend bool operator==(const EntropyError&, const EntropyError&) = default;
};

// Fills dst[0..len) from the system's random source (platform::read_entropy). A failure ends
// the read: there is no fallback source.
std::optional<EntropyError> read_os_entropy(uint8_t* dst, size_t len) noexcept;

}  // namespace vantor
