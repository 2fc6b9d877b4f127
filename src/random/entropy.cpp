#include "random/entropy.hpp"

#include "platform/platform.hpp"

namespace vantor {

std::string EntropyError::text() const {
  switch (kind) {
    case Kind::os_error:
      return platform::error_text(code) + " (os error " + std::to_string(code) + ")";
    case Kind::errno_not_positive:
      return "errno: did not return a positive value";
    case Kind::unexpected_result:
      break;
  }
  return "unexpected situation";
}

std::optional<EntropyError> read_os_entropy(uint8_t* dst, size_t len) noexcept {
  using Status = platform::EntropyStatus::Kind;
  const platform::EntropyStatus status = platform::read_entropy(dst, len);
  switch (status.kind) {
    case Status::filled:
      return std::nullopt;
    case Status::os_error:
      return EntropyError{EntropyError::Kind::os_error, status.code};
    case Status::no_error_number:
      return EntropyError{EntropyError::Kind::errno_not_positive};
    case Status::unexpected_result:
      break;
  }
  return EntropyError{EntropyError::Kind::unexpected_result};
}

}  // namespace vantor
