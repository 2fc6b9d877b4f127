#include "time/v7.hpp"
#include "time/v7_reservation.hpp"

#include <gtest/gtest.h>

#include "fork_support.hpp"
#include "scripted_draw.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdint>
#include <ostream>
#include <optional>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vantor {

// Readable failure output; gtest finds these by argument-dependent lookup.
inline void PrintTo(const Timestamp& t, std::ostream* os) {
  *os << t.seconds << "s+" << t.subsec_nanos << "ns";
}

namespace {

constexpr uint64_t kSeedMask = (uint64_t{1} << 41) - 1;
constexpr uint64_t kCounterMax = (uint64_t{1} << 42) - 1;
constexpr u128 kFixedRandom = (u128{0x0123456789ABCDEFULL} << 64) | 0xFEDCBA9876543210ULL;

// ---- Milliseconds ---------------------------------------------------------------------------

struct MillisCase {
  uint64_t seconds;
  uint32_t subsec_nanos;
  uint64_t millis;
};

class V7Millis : public ::testing::TestWithParam<MillisCase> {};

TEST_P(V7Millis, TruncatesAndSaturates) {
  const MillisCase& c = GetParam();
  EXPECT_EQ(unix_millis(c.seconds, c.subsec_nanos), c.millis);
}

constexpr uint64_t kLastWholeSecond = UINT64_MAX / 1000;  // * 1000 still fits

INSTANTIATE_TEST_SUITE_P(
    V7Times, V7Millis,
    ::testing::Values(MillisCase{0, 0, 0}, MillisCase{0, 999'999, 0}, MillisCase{0, 1'000'000, 1},
                      MillisCase{1, 999'999'999, 1999},
                      MillisCase{1'700'000'000, 123'456'789, 1'700'000'000'123},
                      MillisCase{kLastWholeSecond, 614'999'999, UINT64_MAX - 1},
                      MillisCase{kLastWholeSecond, 615'000'000, UINT64_MAX},
                      MillisCase{kLastWholeSecond, 999'999'999, UINT64_MAX},  // the sum saturates
                      MillisCase{kLastWholeSecond + 1, 0, UINT64_MAX},        // the product saturates
                      MillisCase{UINT64_MAX, 999'999'999, UINT64_MAX}));

// ---- The generation step --------------------------------------------------------------------

using ScriptedDraw = test_support::ScriptedDraw<uint64_t>;

struct NoDraw {
  uint64_t operator()() const {
    ADD_FAILURE() << "unexpected draw";
    return 0;
  }
};

u128 packed(const V7Step& step) { return pack_v7(step.timestamp, step.counter, kFixedRandom).to_u128(); }

TEST(V7Step, NewMillisecondReseedsWithTopCounterBitClear) {
  V7State state;
  // Bits above 40 of the draw, including counter bit 41, must not survive.
  ScriptedDraw draw{{UINT64_MAX, 0x0000'0355'5555'5555ULL}};
  V7Step first = next_v7_timestamp(state, {100, 5'000'000}, draw);
  EXPECT_EQ(first.counter, kSeedMask);
  EXPECT_EQ(first.timestamp, (Timestamp{100, 5'000'000}));
  V7Step second = next_v7_timestamp(state, {100, 6'000'000}, draw);
  EXPECT_EQ(second.counter, 0x0000'0155'5555'5555ULL);
  EXPECT_EQ(state.last_millis, 100'006u);
  EXPECT_EQ(state.counter, second.counter);
  EXPECT_EQ(draw.used, 2u);
}

// One reading of the clock and what the step must make of it.
struct Reading {
  Timestamp clock;
  Timestamp expected;
  std::optional<uint64_t> reseed;  // the draw when the counter restarts; none when it counts on
};

struct ScenarioCase {
  const char* name;
  std::vector<Reading> readings;
};

class V7Scenario : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(V7Scenario, KeepsTimestampsAndValuesInOrder) {
  V7State state;
  std::optional<uint64_t> previous_counter;
  std::optional<u128> previous_value;
  for (size_t i = 0; i < GetParam().readings.size(); ++i) {
    const Reading& r = GetParam().readings[i];
    SCOPED_TRACE(::testing::Message() << "reading " << i);
    ScriptedDraw draw;
    if (r.reseed) draw.values.push_back(*r.reseed);
    V7Step step = next_v7_timestamp(state, r.clock, draw);
    EXPECT_EQ(step.timestamp, r.expected);
    EXPECT_EQ(draw.used, draw.values.size());
    if (r.reseed) {
      EXPECT_EQ(step.counter, *r.reseed & kSeedMask);
    } else {
      ASSERT_TRUE(previous_counter);
      EXPECT_EQ(step.counter, *previous_counter + 1);
    }
    u128 value = packed(step);
    if (previous_value) {
      EXPECT_GT(value, *previous_value);
    }
    previous_counter = step.counter;
    previous_value = value;
  }
}

INSTANTIATE_TEST_SUITE_P(
    V7Clocks, V7Scenario,
    ::testing::Values(
        ScenarioCase{"SameMillisecond",
                     {{{100, 500'000'000}, {100, 500'000'000}, 0x10},
                      // Later within the millisecond: the reading is the later time.
                      {{100, 500'400'000}, {100, 500'400'000}, std::nullopt},
                      // Earlier within it: the stored time stays.
                      {{100, 500'100'000}, {100, 500'400'000}, std::nullopt},
                      {{100, 501'000'000}, {100, 501'000'000}, 0x20}}},
        ScenarioCase{"BackWithinASecond",
                     {{{100, 500'000'000}, {100, 500'000'000}, 0x10},
                      {{100, 200'000'000}, {100, 500'000'000}, std::nullopt},
                      {{100, 300'000'000}, {100, 500'000'000}, std::nullopt},
                      {{100, 500'000'000}, {100, 500'000'000}, std::nullopt},
                      // Caught up: a later millisecond starts afresh, even with a smaller draw.
                      {{100, 600'000'000}, {100, 600'000'000}, 0x01}}},
        ScenarioCase{"BackAcrossASecondBoundary",
                     // Stored seconds with the reading's nanoseconds would make 101.9999 s here,
                     // almost a second ahead of any real reading.
                     {{{101, 100'000}, {101, 100'000}, 0x10},
                      {{100, 999'900'000}, {101, 100'000}, std::nullopt},
                      {{100, 999'950'000}, {101, 100'000}, std::nullopt},
                      {{101, 0}, {101, 100'000}, std::nullopt},
                      {{101, 150'000}, {101, 150'000}, std::nullopt},
                      {{101, 1'000'000}, {101, 1'000'000}, 0x02},
                      {{101, 2'000'000}, {101, 2'000'000}, 0x03}}},
        ScenarioCase{"BackByManySeconds",
                     {{{2000, 0}, {2000, 0}, kSeedMask},
                      {{1000, 999'999'999}, {2000, 0}, std::nullopt},
                      {{1999, 999'999'999}, {2000, 0}, std::nullopt},
                      {{2000, 1'000'000}, {2000, 1'000'000}, 0}}}),
    [](const ::testing::TestParamInfo<ScenarioCase>& info) { return std::string(info.param.name); });

struct OverflowCase {
  Timestamp stored;
  Timestamp advanced;
};

class V7Overflow : public ::testing::TestWithParam<OverflowCase> {};

TEST_P(V7Overflow, BorrowsExactlyOneMillisecondAndReseeds) {
  const OverflowCase& c = GetParam();
  V7State state{unix_millis(c.stored), c.stored.seconds, c.stored.subsec_nanos, kCounterMax - 1, false};

  // The last value the counter can hold is still used in place.
  V7Step last = next_v7_timestamp(state, c.stored, NoDraw{});
  EXPECT_EQ(last.counter, kCounterMax);
  EXPECT_EQ(last.timestamp, c.stored);

  ScriptedDraw draw{{UINT64_MAX, 0x77}};
  V7Step pushed = next_v7_timestamp(state, c.stored, draw);
  EXPECT_EQ(pushed.timestamp, c.advanced);
  EXPECT_EQ(pushed.counter, kSeedMask);
  EXPECT_EQ(state.last_millis, unix_millis(c.advanced));

  // Still in the original millisecond by the clock: count on from the borrowed one.
  V7Step next = next_v7_timestamp(state, c.stored, draw);
  EXPECT_EQ(next.timestamp, c.advanced);
  EXPECT_EQ(next.counter, kSeedMask + 1);
  EXPECT_EQ(draw.used, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    V7Timestamps, V7Overflow,
    ::testing::Values(OverflowCase{{100, 500'000'000}, {100, 501'000'000}},
                      OverflowCase{{100, 999'500'000}, {101, 500'000}},  // carries into seconds
                      OverflowCase{{100, 999'000'000}, {101, 0}},
                      OverflowCase{{0, 0}, {0, 1'000'000}}));

TEST(V7OverflowOrder, ValuesStayOrderedAcrossTheBorrow) {
  V7State state{100'500, 100, 500'000'000, kCounterMax - 2, false};
  ScriptedDraw draw{{0}};
  std::optional<u128> previous;
  for (int i = 0; i < 5; ++i) {
    u128 value = packed(next_v7_timestamp(state, {100, 500'000'000}, draw));
    if (previous) {
      EXPECT_GT(value, *previous) << "step " << i;
    }
    previous = value;
  }
}

TEST(V7Fork, ReseedsOnceInTheSameMillisecond) {
  V7State state;
  ScriptedDraw draw{{0x100, 0x1'FFFF'FFFF'FFFFULL}};
  next_v7_timestamp(state, {100, 0}, draw);
  state.reseed_after_fork = true;
  V7Step reseeded = next_v7_timestamp(state, {99, 0}, draw);  // clock also stepped back
  EXPECT_EQ(reseeded.counter, 0x1'FFFF'FFFF'FFFFULL & kSeedMask);
  EXPECT_EQ(reseeded.timestamp, (Timestamp{100, 0}));
  EXPECT_FALSE(state.reseed_after_fork);
  V7Step next = next_v7_timestamp(state, {100, 0}, draw);
  EXPECT_EQ(next.counter, reseeded.counter + 1);
  EXPECT_EQ(draw.used, 2u);
}

TEST(V7Fork, NewMillisecondClearsTheFlagWithASingleDraw) {
  V7State state;
  ScriptedDraw draw{{0x100, 0x200}};
  next_v7_timestamp(state, {100, 0}, draw);
  state.reseed_after_fork = true;
  EXPECT_EQ(next_v7_timestamp(state, {100, 1'000'000}, draw).counter, 0x200u);
  EXPECT_FALSE(state.reseed_after_fork);
  EXPECT_EQ(next_v7_timestamp(state, {100, 1'000'000}, draw).counter, 0x201u);
  EXPECT_EQ(draw.used, 2u);
}

TEST(V7Fork, ReseedsEvenAtAFullCounter) {
  V7State state{100'000, 100, 0, kCounterMax, true};
  ScriptedDraw draw{{0x42}};
  V7Step step = next_v7_timestamp(state, {100, 0}, draw);
  EXPECT_EQ(step.counter, 0x42u);
  EXPECT_EQ(step.timestamp, (Timestamp{100, 0}));
}

TEST(V7Step, ThrowingDrawLeavesStateUntouched) {
  auto throwing = []() -> uint64_t { throw std::runtime_error("no entropy"); };
  struct Case {
    V7State state;
    Timestamp reading;
  };
  const Case cases[] = {
      {{100'000, 100, 0, 5, false}, {100, 1'000'000}},     // new millisecond
      {{100'000, 100, 0, kCounterMax, false}, {100, 0}},  // overflow
      {{100'000, 100, 0, 5, true}, {100, 0}},             // after a fork
  };
  for (const Case& c : cases) {
    V7State state = c.state;
    EXPECT_THROW(next_v7_timestamp(state, c.reading, throwing), std::runtime_error);
    EXPECT_EQ(state.last_millis, c.state.last_millis);
    EXPECT_EQ(state.last_seconds, c.state.last_seconds);
    EXPECT_EQ(state.last_subsec_nanos, c.state.last_subsec_nanos);
    EXPECT_EQ(state.counter, c.state.counter);
    EXPECT_EQ(state.reseed_after_fork, c.state.reseed_after_fork);
  }
}

// ---- The 48-bit millisecond limit ------------------------------------------------------------

// The last millisecond the time field holds is 281474976710.655 s after the epoch.
constexpr uint64_t kLimitSeconds = 281'474'976'710;
constexpr Timestamp kLastMillisecond{kLimitSeconds, 655'999'999};
constexpr Timestamp kPastLimit{kLimitSeconds, 656'000'000};

TEST(V7Limit, LastMillisecondIsTheLargestTimeField) {
  V7State state;
  ScriptedDraw draw{{0}};
  V7Step step = next_v7_timestamp(state, kLastMillisecond, draw);
  EXPECT_EQ(static_cast<uint64_t>(packed(step) >> 80), (uint64_t{1} << 48) - 1);
}

// Past the limit a step fails, whether the clock reads beyond it or the spent counter would
// borrow the millisecond after it; the state is left for the next step to continue from.
TEST(V7Limit, PastTheLimitFailsAndLeavesStateUntouched) {
  struct Case {
    const char* name;
    V7State state;
    Timestamp reading;
  };
  const uint64_t last = (uint64_t{1} << 48) - 1;
  const Case cases[] = {
      {"clock one millisecond past", {}, kPastLimit},
      {"clock saturated", {}, {UINT64_MAX, 999'999'999}},
      {"counter spent in the last millisecond", {last, kLimitSeconds, 655'000'000, kCounterMax, false}, kLastMillisecond},
      {"clock past after values in the last millisecond", {last, kLimitSeconds, 655'000'000, 7, false}, kPastLimit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    V7State state = c.state;
    ::testing::internal::CaptureStderr();
    try {
      next_v7_timestamp(state, c.reading, NoDraw{});
      ADD_FAILURE() << "no failure";
    } catch (const Panic& panic) {
      EXPECT_EQ(panic.message, kV7PastLimitMessage);
    }
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(kV7PastLimitMessage), std::string::npos);
    EXPECT_EQ(state.last_millis, c.state.last_millis);
    EXPECT_EQ(state.last_seconds, c.state.last_seconds);
    EXPECT_EQ(state.last_subsec_nanos, c.state.last_subsec_nanos);
    EXPECT_EQ(state.counter, c.state.counter);
  }
}

TEST(V7Limit, ClockBackInRangeCountsOnAfterAFailure) {
  V7State state;
  ScriptedDraw draw{{0x10}};
  const u128 first = packed(next_v7_timestamp(state, kLastMillisecond, draw));
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(next_v7_timestamp(state, kPastLimit, draw), Panic);
  ::testing::internal::GetCapturedStderr();
  V7Step next = next_v7_timestamp(state, kLastMillisecond, draw);
  EXPECT_EQ(next.counter, 0x11u);
  EXPECT_GT(packed(next), first);
}

// ---- The shared context ---------------------------------------------------------------------

TEST(V7SharedContext, StepUnlocksWhenTheDrawThrows) {
  V7Context context;
  EXPECT_THROW(context.step({100, 0}, []() -> uint64_t { throw std::runtime_error("no entropy"); }),
               std::runtime_error);
  ASSERT_TRUE(context.mutex.try_lock());
  context.mutex.unlock();
}

TEST(V7SharedContext, ForkedChildStepsWhileAParentThreadHeldTheLock) {
#if VANTOR_TEST_HAVE_FORK
  V7Context context;
  context.step({100, 0}, []() -> uint64_t { return 0x500; });
  std::atomic<bool> inside{false}, release{false};
  // The holder's reading is a new millisecond, so it draws, and waits there holding the lock.
  std::thread holder([&] {
    context.step({100, 5'000'000}, [&]() -> uint64_t {
      inside = true;
      while (!release) std::this_thread::yield();
      return 0;
    });
  });
  while (!inside) std::this_thread::yield();
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    alarm(20);  // a child stuck on the inherited lock dies of SIGALRM instead of hanging
    context.on_fork_child();
    V7Step step = context.step({100, 0}, []() -> uint64_t { return 0x777; });
    _exit(step.counter == 0x777 ? 0 : 1);
  }
  release = true;
  holder.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child did not finish normally";
  EXPECT_EQ(WEXITSTATUS(status), 0);
#else
  GTEST_SKIP() << VANTOR_TEST_NO_FORK_REASON;
#endif
}

// uuid7 reaches the one shared state through v7_context(): a second step in the same
// millisecond continues the first one's counter. The reading lies beyond any other test's, so
// the first step starts afresh from the draw.
TEST(V7SharedContext, GlobalContextKeepsItsCounterAcrossCalls) {
  const Timestamp far{4'000'000'000, 500};
  const V7Step first = v7_context().step(far, []() -> uint64_t { return 0x1234; });
  const V7Step second = v7_context().step(far, []() -> uint64_t {
    ADD_FAILURE() << "drew in the same millisecond";
    return 0;
  });
  EXPECT_EQ(first.counter, uint64_t{0x1234});
  EXPECT_EQ(second.counter, uint64_t{0x1235});
}

// ---- Per-thread reservations ------------------------------------------------------------------

std::unique_lock<std::mutex> plain_lock(std::mutex& mutex) { return std::unique_lock(mutex); }

// Draws 0x1000, 0x2000, ...: both sides of a comparison draw the same values at the same steps.
struct CountingDraw {
  uint64_t drawn = 0;
  uint64_t operator()() { return ++drawn * 0x1000; }
};

struct ReservationCase {
  const char* name;
  V7State start;
  std::vector<std::pair<Timestamp, int>> readings;  // each reading, taken that many times
};

class V7Reserved : public ::testing::TestWithParam<ReservationCase> {};

// A thread's values from its reservation are the values single steps of the shared state give.
TEST_P(V7Reserved, GivesTheValuesOfSingleSteps) {
  const ReservationCase& c = GetParam();
  V7State single = c.start;
  V7Context context;
  context.state = c.start;
  V7Reservation reservation;
  CountingDraw single_draw, reserved_draw;
  size_t index = 0;
  for (const auto& [reading, times] : c.readings) {
    for (int i = 0; i < times; ++i, ++index) {
      SCOPED_TRACE(::testing::Message() << "value " << index);
      std::optional<V7Step> expected, got;  // empty: the step failed past the 48-bit limit
      try {
        expected = next_v7_timestamp(single, reading, single_draw);
      } catch (const Panic&) {
      }
      try {
        got = next_v7_reserved(reservation, context, reading, plain_lock, reserved_draw);
      } catch (const Panic&) {
      }
      ASSERT_EQ(got.has_value(), expected.has_value());
      if (!expected) continue;
      ASSERT_EQ(got->counter, expected->counter);
      ASSERT_EQ(unix_millis(got->timestamp), unix_millis(expected->timestamp));
    }
  }
  EXPECT_EQ(reserved_draw.drawn, single_draw.drawn);
}

INSTANTIATE_TEST_SUITE_P(
    V7Clocks, V7Reserved,
    ::testing::Values(
        ReservationCase{"OneMillisecondAcrossBlocks", {}, {{{100, 5'000'000}, 3 * int(kV7ReservationSize) + 7}}},
        ReservationCase{"NewMillisecondsMidBlock", {}, {{{100, 5'000'000}, 10}, {{100, 6'000'000}, 300}, {{100, 9'000'000}, 1}}},
        ReservationCase{"ClockStepsBack", {}, {{{100, 9'000'000}, 5}, {{100, 2'000'000}, 600}, {{100, 9'500'000}, 3}}},
        ReservationCase{"CounterRunsOutInABlock",
                        {100'005, 100, 5'000'000, kCounterMax - 20, false},
                        {{{100, 5'000'000}, 600}}},
        ReservationCase{"ReseedAfterFork", {100'005, 100, 5'000'000, 77, true}, {{{100, 5'000'000}, 300}}},
        // The last millisecond the field holds is 281474976710655 (in the year 10889).
        ReservationCase{"PastTheLimitAndBack",
                        {},
                        {{{281474976710, 654'000'000}, 3},
                         {{281474976710, 655'000'000}, 2},
                         {{281474976710, 656'000'000}, 2},
                         {{281474976710, 655'500'000}, 2}}}),
    [](const ::testing::TestParamInfo<ReservationCase>& info) { return std::string(info.param.name); });

// Threads reserving from one context at once: every value is distinct, and each thread's values
// increase.
TEST(V7Reserved, ThreadsGetDistinctIncreasingValues) {
  constexpr int kThreads = 4, kPerThread = 50'000;
  V7Context context;
  std::vector<std::vector<u128>> values(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      V7Reservation reservation;
      CountingDraw draw;
      // A millisecond every 1,000 values: blocks are both used up and abandoned.
      for (int i = 0; i < kPerThread; ++i) {
        const Timestamp reading{200, static_cast<uint32_t>(i / 1000) * 1'000'000u};
        values[t].push_back(packed(next_v7_reserved(reservation, context, reading, plain_lock, draw)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<u128> all;
  for (const auto& mine : values) {
    for (size_t i = 1; i < mine.size(); ++i) ASSERT_GT(mine[i], mine[i - 1]) << "at " << i;
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

// ---- Packing --------------------------------------------------------------------------------

TEST(V7PackTime, MillisecondsFromNanoseconds) {
  struct Case {
    u128 nanoseconds;
    std::array<uint8_t, 6> head;
  };
  const Case cases[] = {
      {u128{1'700'000'000'123'456'789ULL}, {0x01, 0x8B, 0xCF, 0xE5, 0x68, 0x7B}},
      {~u128{0}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},  // saturated, not wrapped
      {u128{0}, {0, 0, 0, 0, 0, 0}},
      // Milliseconds past 2^48 keep their low 48 bits.
      {(u128{1} << 48) * 1'000'000 + 5'999'999, {0, 0, 0, 0, 0, 5}},
  };
  for (const Case& c : cases) {
    UuidValue v = pack_v7(timestamp_from_nanoseconds(c.nanoseconds), std::nullopt, 0);
    EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), v.bytes.begin()))
        << "at " << static_cast<uint64_t>(c.nanoseconds / 1'000'000);
  }
}

TEST(V7PackTime, TimestampFromNanosecondsSplits) {
  EXPECT_EQ(timestamp_from_nanoseconds(1'700'000'000'123'456'789ULL), (Timestamp{1'700'000'000, 123'456'789}));
  // Seconds beyond 64 bits wrap.
  EXPECT_EQ(timestamp_from_nanoseconds((u128{1} << 64) * 1'000'000'000 + 7'000'000'001ULL),
            (Timestamp{7, 1}));
}

struct PackCase {
  std::optional<uint64_t> counter;
  u128 random;
  uint64_t high;
  uint64_t low;
};

class V7Pack : public ::testing::TestWithParam<PackCase> {};

TEST_P(V7Pack, PlacesCounterAndRandomBits) {
  const PackCase& c = GetParam();
  const Timestamp ts{1'700'000'000, 123'456'789};
  UuidValue v = pack_v7(ts, c.counter, c.random);
  EXPECT_EQ(v, UuidValue::from_halves(c.high, c.low));
  EXPECT_EQ(v.version(), 7);
  EXPECT_EQ(v.timestamp(), 1'700'000'000'123);
}

constexpr u128 kAllOnes = ~u128{0};

INSTANTIATE_TEST_SUITE_P(
    V7Fields, V7Pack,
    ::testing::Values(
        // Without a counter bytes 6-15 are random bits 127..48 under the version and variant.
        PackCase{std::nullopt, kFixedRandom, 0x018BCFE5687B7123ULL, 0x856789ABCDEFFEDCULL},
        PackCase{0x2AAAAAAAAAAULL, kFixedRandom, 0x018BCFE5687B7AAAULL, 0xAAAAAAAACDEFFEDCULL},
        PackCase{kCounterMax, 0, 0x018BCFE5687B7FFFULL, 0xBFFFFFFF00000000ULL},
        PackCase{0, kAllOnes, 0x018BCFE5687B7000ULL, 0x80000000FFFFFFFFULL},
        // Counter bits above 41 are dropped.
        PackCase{kCounterMax | (uint64_t{1} << 50), kAllOnes, 0x018BCFE5687B7FFFULL,
                 0xBFFFFFFFFFFFFFFFULL}));

}  // namespace
}  // namespace vantor
