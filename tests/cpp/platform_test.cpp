// The platform layer on whichever system the tests run: each service answers, and answers
// plausibly. The system-specific parts are in platform_<system>_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/platform.hpp"

namespace vantor {
namespace {

TEST(PlatformEntropy, FillsLargeAndOddSizedBuffersToTheEnd) {
  // Larger than any one call may return on some systems (256 bytes on macOS, 32 MiB minus one
  // on Linux), so the pieces must be stitched together. Each tail of 32 bytes staying zero has
  // a chance of 2^-256 with a working source.
  for (size_t len : {size_t{1}, size_t{33}, size_t{257}, size_t{70'001}}) {
    std::vector<uint8_t> buffer(len + 32, 0);
    ASSERT_EQ(platform::read_entropy(buffer.data(), len), std::nullopt);
    const size_t tail = std::min<size_t>(len, 32);
    if (tail == 32) {
      EXPECT_TRUE(std::any_of(buffer.begin() + (len - 32), buffer.begin() + len, [](uint8_t b) { return b != 0; }))
          << "the last 32 of " << len << " bytes stayed zero";
    }
    EXPECT_TRUE(std::all_of(buffer.begin() + len, buffer.end(), [](uint8_t b) { return b == 0; }))
        << "wrote past " << len << " bytes";
  }
}

TEST(PlatformClock, AgreesWithTheStandardLibrarysClock) {
  platform::WallClockReading reading;
  const auto before = std::chrono::system_clock::now();
  ASSERT_EQ(platform::read_wall_clock(reading), 0);
  const auto after = std::chrono::system_clock::now();
  EXPECT_GE(reading.nanoseconds, 0);
  EXPECT_LT(reading.nanoseconds, 1'000'000'000);
  const auto ours = std::chrono::sys_seconds(std::chrono::seconds(reading.seconds)) +
                    std::chrono::nanoseconds(reading.nanoseconds);
  // The two clocks may differ in resolution, not in what they read.
  EXPECT_GE(ours, before - std::chrono::milliseconds(20));
  EXPECT_LE(ours, after + std::chrono::milliseconds(20));
}

TEST(PlatformInterfaces, ListsAddressesWithinBounds) {
  std::vector<platform::HardwareAddress> addresses;
  ASSERT_TRUE(platform::list_hardware_addresses(addresses));
  for (const auto& address : addresses) EXPECT_LE(address.length, platform::HardwareAddress::kMaxOctets);
}

TEST(PlatformMemory, SecureZeroClearsExactlyTheRange) {
  uint8_t buffer[64];
  std::memset(buffer, 0xA5, sizeof buffer);
  platform::secure_zero(buffer + 8, 40);
  for (size_t i = 0; i < sizeof buffer; ++i)
    EXPECT_EQ(buffer[i], (i >= 8 && i < 48) ? 0 : 0xA5) << "byte " << i;
}

TEST(PlatformMemory, HugePageAdviceKeepsWhatIsWritten) {
  // Unaligned at both ends, and large enough to span several huge pages: the hint may remap
  // pages, never change or drop what they hold.
  constexpr size_t kSize = size_t{8} << 20;
  auto buffer = std::make_unique<uint8_t[]>(kSize + 100);
  for (size_t i = 0; i < kSize + 100; i += 4096) buffer[i] = static_cast<uint8_t>(i / 4096 + 1);
  for (size_t i = 1; i < 100; ++i) buffer[i] = static_cast<uint8_t>(i);
  platform::advise_huge_pages(buffer.get() + 3, kSize);
  platform::advise_huge_pages(buffer.get() + 1, 10);
  for (size_t i = 0; i < kSize + 100; i += 4096) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i / 4096 + 1)) << i;
  for (size_t i = 1; i < 100; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i)) << i;
  buffer[kSize + 99] = 7;
  EXPECT_EQ(buffer[kSize + 99], 7);
}

TEST(PlatformErrorText, NamesKnownCodesAndFallsBackForUnknownOnes) {
  const std::string known = platform::error_text(EINVAL);
  EXPECT_FALSE(known.empty());
  EXPECT_EQ(known.find("Unknown error"), std::string::npos) << known;
  EXPECT_FALSE(platform::error_text(987654).empty());
}

TEST(PlatformCpu, Sha1NeedsAdvancedSimd) {
  const platform::ArmFeatures features = platform::arm_features();
#if !defined(__aarch64__)
  EXPECT_FALSE(features.asimd);
  EXPECT_FALSE(features.sha1);
#endif
  EXPECT_TRUE(!features.sha1 || features.asimd);
}

}  // namespace
}  // namespace vantor
