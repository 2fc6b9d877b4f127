#include <string.h>

#include <string>

#include "platform/platform.hpp"

namespace vantor::platform {

namespace {

// strerror_r comes in two forms. GNU's (glibc with _GNU_SOURCE, which g++ defines) returns the
// message, which for known errors is a static string while the buffer is left untouched. XSI's
// (musl, macOS) writes the message into the buffer and returns 0, or an error number when it
// has no message for the code.
[[maybe_unused]] const char* message_of(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* message_of(int returned, const char* buffer) { return returned == 0 ? buffer : nullptr; }

}  // namespace

std::string error_text(int code) {
  char buffer[128] = {};
  const char* message = message_of(strerror_r(code, buffer, sizeof buffer), buffer);
  if (message == nullptr || *message == '\0') return "Unknown error " + std::to_string(code);
  return message;
}

}  // namespace vantor::platform
