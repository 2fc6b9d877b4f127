// Reading the system's entropy through the core's interface, and its error messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace vantor {
namespace {

using platform::EntropyError;
using Kind = EntropyError::Kind;

TEST(EntropyErrorText, DescribesEachKind) {
  const struct {
    EntropyError error;
    std::string text;
  } cases[] = {
      // The system's message for the code, then the code.
      {{Kind::system_error, EIO}, platform::error_text(EIO) + " (os error " + std::to_string(EIO) + ")"},
      {{Kind::system_error, 4242}, platform::error_text(4242) + " (os error 4242)"},
      {{Kind::no_error_code}, "errno: did not return a positive value"},
      {{Kind::unexpected_result}, "unexpected situation"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.text(), c.text);
}

TEST(EntropyOs, FillsTheBuffer) {
  // Two reads agreeing, or a read leaving the zeroed buffer as it was, would mean nothing was
  // written: the chance of either with a working source is 2^-256.
  uint8_t a[32] = {}, b[32] = {};
  const uint8_t zeros[32] = {};
  ASSERT_EQ(platform::read_entropy(a, sizeof a), std::nullopt);
  ASSERT_EQ(platform::read_entropy(b, sizeof b), std::nullopt);
  EXPECT_NE(std::memcmp(a, zeros, 32), 0);
  EXPECT_NE(std::memcmp(b, zeros, 32), 0);
  EXPECT_NE(std::memcmp(a, b, 32), 0);
}

}  // namespace
}  // namespace vantor
