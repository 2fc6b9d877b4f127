// Random bytes from the operating system (getrandom(2)), the only seed source of the library.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantor {

struct EntropyError {
  enum class Kind : uint8_t {
    os_error,            // the call failed with errno `code`
    errno_not_positive,  // the call failed but errno held no error number
    unexpected_result,   // a return value getrandom(2) never gives
  };
  Kind kind = Kind::os_error;
  int code = 0;  // errno, for os_error

  // os_error: the system's message, then " (os error N)", e.g. "Input/output error (os error 5)".
  std::string text() const;

  friend bool operator==(const EntropyError&, const EntropyError&) = default;
};

// The contract of getrandom(2): fills up to `len` bytes and returns how many, or -1 with errno.
using GetrandomFn = ssize_t (*)(void* buf, size_t len, unsigned flags);

// Fills dst[0..len) through `fn`, continuing after short reads and retrying calls interrupted
// by a signal. Any other failure ends the read: there is no fallback source.
std::optional<EntropyError> read_entropy_with(GetrandomFn fn, uint8_t* dst, size_t len) noexcept;

// read_entropy_with(getrandom, ...). Without flags getrandom waits only while the kernel's pool
// is not yet initialised (early boot), and reads of up to 256 bytes are never short.
std::optional<EntropyError> read_os_entropy(uint8_t* dst, size_t len) noexcept;

}  // namespace vantor
