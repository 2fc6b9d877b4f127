#include "time/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <limits>
#include <string>

namespace vantor {

// Readable failure output; gtest finds these by argument-dependent lookup.
inline void PrintTo(const Timestamp& t, std::ostream* os) {
  *os << t.seconds << "s+" << t.subsec_nanos << "ns";
}

inline void PrintTo(const ClockBeforeEpoch& d, std::ostream* os) { *os << d.describe(); }

namespace {

struct DescribeCase {
  ClockBeforeEpoch distance;
  const char* text;
};

class ClockDescribe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(ClockDescribe, RendersSecondsWithTrimmedFraction) {
  EXPECT_EQ(GetParam().distance.describe(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    ClockDistances, ClockDescribe,
    ::testing::Values(DescribeCase{{1, 500'000'000}, "SystemTimeError(1.5s)"},
                      DescribeCase{{86400, 0}, "SystemTimeError(86400s)"},
                      DescribeCase{{0, 1}, "SystemTimeError(0.000000001s)"},
                      DescribeCase{{0, 0}, "SystemTimeError(0s)"},
                      DescribeCase{{0, 100'000'000}, "SystemTimeError(0.1s)"},
                      DescribeCase{{12, 345'678'900}, "SystemTimeError(12.3456789s)"},
                      DescribeCase{{3, 10}, "SystemTimeError(3.00000001s)"},
                      DescribeCase{{UINT64_MAX, 999'999'999},
                                   "SystemTimeError(18446744073709551615.999999999s)"}));

struct ReadingCase {
  int64_t reading_seconds;
  int64_t reading_nanoseconds;
  bool before_epoch;
  uint64_t seconds;
  uint32_t subsec_nanos;
};

class ClockReading : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ClockReading, SplitsIntoDistanceFromEpoch) {
  const ReadingCase& c = GetParam();
  auto result = timestamp_from_reading({c.reading_seconds, c.reading_nanoseconds});
  ASSERT_EQ(!result.has_value(), c.before_epoch);
  if (c.before_epoch) {
    EXPECT_EQ(result.error(), (ClockBeforeEpoch{c.seconds, c.subsec_nanos}));
  } else {
    EXPECT_EQ(*result, (Timestamp{c.seconds, c.subsec_nanos}));
  }
}

constexpr int64_t kMinSec = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxSec = std::numeric_limits<int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    ClockReadings, ClockReading,
    ::testing::Values(ReadingCase{0, 0, false, 0, 0},
                      ReadingCase{1'700'000'000, 123'456'789, false, 1'700'000'000, 123'456'789},
                      ReadingCase{kMaxSec, 999'999'999, false, uint64_t{kMaxSec}, 999'999'999},
                      // Not normalised by the source: still read as a plain nanosecond sum.
                      ReadingCase{0, 1'500'000'000, false, 1, 500'000'000},
                      ReadingCase{1, -1, false, 0, 999'999'999},
                      // -1 s + 0.3 s is 0.7 s before, not 1.3 s.
                      ReadingCase{-1, 300'000'000, true, 0, 700'000'000},
                      ReadingCase{-1, 0, true, 1, 0},
                      ReadingCase{0, -1, true, 0, 1},
                      ReadingCase{-2, 999'999'999, true, 1, 1},
                      ReadingCase{-86400, 0, true, 86400, 0},
                      ReadingCase{kMinSec, 0, true, uint64_t{1} << 63, 0}));

TEST(ClockNow, ReadsAfterTheEpoch) {
  auto now = now_since_epoch();
  ASSERT_TRUE(now.has_value());
  EXPECT_LT(now->subsec_nanos, 1'000'000'000u);
  EXPECT_GT(now->seconds, 1'600'000'000u);  // any host this runs on is past September 2020
}

TEST(ClockMessages, QuoteTheDistance) {
  ClockBeforeEpoch distance{1, 500'000'000};
  EXPECT_EQ(clock_failure_message(distance),
            "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated "
            "causality: SystemTimeError(1.5s)");
  EXPECT_EQ(clock_unwrap_failure_message(distance),
            "called `Result::unwrap()` on an `Err` value: SystemTimeError(1.5s)");
}

}  // namespace
}  // namespace vantor
