// The texts of the platform's errors, the same on every system.
#include <string>

#include "platform/platform.hpp"

namespace vantor::platform {

std::string describe_system_error(int code) {
  return error_text(code) + " (os error " + std::to_string(code) + ")";
}

std::string EntropyError::text() const {
  switch (kind) {
    case Kind::system_error:
      return describe_system_error(code);
    case Kind::no_error_code:
      return "errno: did not return a positive value";
    case Kind::unexpected_result:
      break;
  }
  return "unexpected situation";
}

}  // namespace vantor::platform
