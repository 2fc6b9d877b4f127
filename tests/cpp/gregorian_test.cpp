#include "time/gregorian.hpp"

#include <gtest/gtest.h>

#include "fork_support.hpp"
#include "scripted_draw.hpp"

#include <chrono>
#include <cstdint>
#include <latch>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vantor {
namespace {

// ---- Tick conversion ------------------------------------------------------------------------

struct TicksCase {
  uint64_t seconds;
  uint32_t subsec_nanos;
  uint64_t ticks;
};

class GregorianTicks : public ::testing::TestWithParam<TicksCase> {};

TEST_P(GregorianTicks, CountsHundredNanosecondsFromTheReform) {
  const TicksCase& c = GetParam();
  EXPECT_EQ(gregorian_ticks(c.seconds, c.subsec_nanos), c.ticks);
}

INSTANTIATE_TEST_SUITE_P(
    GregorianTimes, GregorianTicks,
    ::testing::Values(TicksCase{0, 0, 0x01B21DD213814000ULL},
                      TicksCase{0, 99, 0x01B21DD213814000ULL},  // under one tick: truncated
                      TicksCase{0, 100, 0x01B21DD213814001ULL},
                      TicksCase{0, 999'999'999, 0x01B21DD213814000ULL + 9'999'999},
                      TicksCase{1, 0, 0x01B21DD213814000ULL + 10'000'000},
                      TicksCase{1'700'000'000, 123'456'789,
                                1'700'000'000ULL * 10'000'000 + 1'234'567 + 0x01B21DD213814000ULL},
                      // seconds * 10^7 wraps to -10^7 modulo 2^64.
                      TicksCase{UINT64_MAX, 0, 0x01B21DD213814000ULL - 10'000'000},
                      TicksCase{UINT64_MAX / 10'000'000 + 1, 0,
                                (UINT64_MAX / 10'000'000 + 1) * 10'000'000 + 0x01B21DD213814000ULL}));

// ---- Packing --------------------------------------------------------------------------------

struct PackCase {
  uint64_t ticks;
  uint16_t clock_seq;
  uint64_t node;
  UuidValue v1;
  UuidValue v6;
};

class GregorianPack : public ::testing::TestWithParam<PackCase> {};

TEST_P(GregorianPack, LaysOutVersionOne) {
  const PackCase& c = GetParam();
  UuidValue v = pack_v1(c.ticks, c.clock_seq, c.node);
  EXPECT_EQ(v, c.v1);
  EXPECT_EQ(v.version(), 1);
  EXPECT_EQ(v.v1_ticks(), c.ticks & ((uint64_t{1} << 60) - 1));
  EXPECT_EQ(v.clock_seq(), c.clock_seq & 0x3FFF);
  EXPECT_EQ(v.node(), c.node & 0xFFFF'FFFF'FFFFULL);
}

TEST_P(GregorianPack, LaysOutVersionSix) {
  const PackCase& c = GetParam();
  UuidValue v = pack_v6(c.ticks, c.clock_seq, c.node);
  EXPECT_EQ(v, c.v6);
  EXPECT_EQ(v.version(), 6);
  EXPECT_EQ(v.v6_ticks(), c.ticks & ((uint64_t{1} << 60) - 1));
  EXPECT_EQ(v.clock_seq(), c.clock_seq & 0x3FFF);
  EXPECT_EQ(v.node(), c.node & 0xFFFF'FFFF'FFFFULL);
}

UuidValue halves(uint64_t high, uint64_t low) { return UuidValue::from_halves(high, low); }

INSTANTIATE_TEST_SUITE_P(
    GregorianFields, GregorianPack,
    ::testing::Values(
        PackCase{0x0FEDCBA987654321ULL, 0x1234, 0xA1B2C3D4E5F6ULL,
                 halves(0x87654321CBA91FEDULL, 0x9234A1B2C3D4E5F6ULL),
                 halves(0xFEDCBA9876546321ULL, 0x9234A1B2C3D4E5F6ULL)},
        // Same fields with every bit above their widths set: those bits must vanish.
        PackCase{0xFFEDCBA987654321ULL, 0xD234, 0xFFFFA1B2C3D4E5F6ULL,
                 halves(0x87654321CBA91FEDULL, 0x9234A1B2C3D4E5F6ULL),
                 halves(0xFEDCBA9876546321ULL, 0x9234A1B2C3D4E5F6ULL)},
        PackCase{0, 0, 0, halves(0x0000000000001000ULL, 0x8000000000000000ULL),
                 halves(0x0000000000006000ULL, 0x8000000000000000ULL)},
        PackCase{UINT64_MAX, 0xFFFF, UINT64_MAX, halves(0xFFFFFFFFFFFF1FFFULL, 0xBFFFFFFFFFFFFFFFULL),
                 halves(0xFFFFFFFFFFFF6FFFULL, 0xBFFFFFFFFFFFFFFFULL)},
        PackCase{0x01B21DD213814000ULL, 0x2AAA, 0x5555AAAA5555ULL,
                 halves(0x138140001DD211B2ULL, 0xAAAA5555AAAA5555ULL),
                 halves(0x1B21DD2138146000ULL, 0xAAAA5555AAAA5555ULL)}));

TEST(GregorianPackOrder, VersionSixSortsByTime) {
  // Across a time_low wrap, version 1 values fall while version 6 values rise.
  const uint64_t before = 0x01E0000FFFFFFFFFULL;
  const uint64_t after = before + 1;
  EXPECT_GT(pack_v1(before, 0, 0).to_u128(), pack_v1(after, 0, 0).to_u128());
  EXPECT_LT(pack_v6(before, 0x3FFF, 0xFFFF'FFFF'FFFFULL).to_u128(), pack_v6(after, 0, 0).to_u128());
}

// ---- Clock sequence -------------------------------------------------------------------------

using ScriptedDraw = test_support::ScriptedDraw<uint32_t>;

struct SequenceCase {
  uint32_t draw;
  std::vector<uint16_t> sequence;
};

class ClockSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(ClockSequence, StartsFromTheDrawAndAdvancesByOne) {
  const SequenceCase& c = GetParam();
  ClockSequenceContext context;
  ScriptedDraw draw{{c.draw}};
  for (uint16_t expected : c.sequence) EXPECT_EQ(context.next_clock_seq(draw), expected);
  EXPECT_EQ(draw.used, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ClockSequenceStarts, ClockSequence,
    ::testing::Values(SequenceCase{0x12345678, {0x1678, 0x1679, 0x167A}},
                      SequenceCase{0, {0, 1, 2}},
                      // The 14-bit value wraps inside the 16-bit count...
                      SequenceCase{0xABCD3FFE, {0x3FFE, 0x3FFF, 0, 1}},
                      // ...and at the 16-bit wrap itself.
                      SequenceCase{0x0000FFFE, {0x3FFE, 0x3FFF, 0, 1}},
                      SequenceCase{0xFFFFFFFF, {0x3FFF, 0, 1}}));

TEST(ClockSequenceInit, SeedingDoesNotAdvance) {
  ClockSequenceContext context;
  ScriptedDraw draw{{0x0100}};
  context.ensure_initialised(draw);
  context.ensure_initialised(draw);  // e.g. a clock failure between two attempts
  EXPECT_EQ(context.advance(), 0x0100);
  EXPECT_EQ(context.advance(), 0x0101);
  EXPECT_EQ(draw.used, 1u);
}

TEST(ClockSequenceInit, ThrowingDrawLeavesItUnseeded) {
  ClockSequenceContext context;
  EXPECT_THROW(context.ensure_initialised([]() -> uint32_t { throw std::runtime_error("no entropy"); }),
               std::runtime_error);
  ScriptedDraw draw{{0x0200}};
  EXPECT_EQ(context.next_clock_seq(draw), 0x0200);
  EXPECT_EQ(draw.used, 1u);
}

TEST(ClockSequenceInit, ForkChildRestartsFromAFreshDraw) {
  ClockSequenceContext context;
  ScriptedDraw draw{{0x0010, 0x0900}};
  EXPECT_EQ(context.next_clock_seq(draw), 0x0010);
  EXPECT_EQ(context.next_clock_seq(draw), 0x0011);
  context.on_fork_child();
  EXPECT_EQ(context.next_clock_seq(draw), 0x0900);
  EXPECT_EQ(context.next_clock_seq(draw), 0x0901);
  EXPECT_EQ(draw.used, 2u);
}

TEST(ClockSequenceInit, ForkedChildSeedsWhileAParentThreadWasSeeding) {
#if VANTOR_TEST_HAVE_FORK
  ClockSequenceContext context;
  // A parent thread is inside the seeding draw, holding the mutex, when the process forks.
  std::atomic<bool> inside{false}, release{false};
  std::thread seeder([&] {
    context.ensure_initialised([&]() -> uint32_t {
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
    uint16_t first = context.next_clock_seq([]() -> uint32_t { return 0x0333; });
    _exit(first == 0x0333 ? 0 : 1);
  }
  release = true;
  seeder.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child did not finish normally";
  EXPECT_EQ(WEXITSTATUS(status), 0);
#else
  GTEST_SKIP() << VANTOR_TEST_NO_FORK_REASON;
#endif
}

TEST(ClockSequenceInit, ConcurrentCallersSeedOnceAndGetDistinctValues) {
  ClockSequenceContext context;
  std::atomic<int> draws{0};
  auto draw = [&]() -> uint32_t {
    ++draws;
    // A slow draw leaves the other threads time to arrive while seeding is under way.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0x1000;
  };
  constexpr int kThreads = 8, kPerThread = 1000;  // 8000 < 2^14: no repeats allowed
  std::vector<std::vector<uint16_t>> seen(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kPerThread; ++i) seen[t].push_back(context.next_clock_seq(draw));
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint16_t> all;
  for (const auto& values : seen) all.insert(values.begin(), values.end());
  EXPECT_EQ(all.size(), size_t{kThreads} * kPerThread);
  EXPECT_EQ(draws.load(), 1);
}

// uuid1 and uuid6 reach the one shared counter through clock_sequence(): two calls in a row
// continue each other, whatever an earlier test left in it.
TEST(ClockSequenceInit, GlobalContextKeepsCountingAcrossCalls) {
  const uint16_t first = clock_sequence().next_clock_seq([]() -> uint32_t { return 0x2FFF; });
  const uint16_t second = clock_sequence().next_clock_seq([]() -> uint32_t {
    ADD_FAILURE() << "seeded twice";
    return 0;
  });
  EXPECT_EQ(second, (first + 1) & 0x3FFF);
}

}  // namespace
}  // namespace vantor
