// Bulk generation in the core: ThreadRng::fill_bytes hands out exactly the words draw_u32 would,
// in order, across refills, key replacements and any alignment of the output; reserve_v7_batch
// leaves the state and yields the values of n single steps, also when the counter runs out.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/panic.hpp"
#include "random/chacha.hpp"
#include "random/chacha_wide.hpp"
#include "random/thread_rng.hpp"
#include "time/v7.hpp"
#include "time/v7_reservation.hpp"

namespace vantor {
namespace {

using Key = std::array<uint8_t, 32>;

Key key_from(uint8_t seed) {
  Key key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed * 53 + i * 7 + 3);
  return key;
}

// Every key replacement hands out the next key of a fixed series.
int entropy_calls = 0;
std::optional<platform::EntropyError> counting_entropy(uint8_t* dst, size_t len) {
  Key key = key_from(static_cast<uint8_t>(100 + entropy_calls++));
  std::memcpy(dst, key.data(), len);
  return std::nullopt;
}

std::optional<platform::EntropyError> failing_entropy(uint8_t*, size_t) {
  return platform::EntropyError{platform::EntropyError::Kind::system_error, 5};
}

// The keystream bytes `count` single-word draws give, little-endian.
std::vector<uint8_t> drawn_bytes(ThreadRng& rng, size_t count) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < count; i += 4) {
    uint32_t w = rng.draw_u32();
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(w >> (8 * b)));
  }
  out.resize(count);
  return out;
}

struct FillCase {
  size_t words_drawn_first;  // leaves the buffer part-used before the fill
  size_t length;
  size_t misalignment;
};

class FillBytes : public testing::TestWithParam<FillCase> {};

TEST_P(FillBytes, EqualsWordByWordDraws) {
  const FillCase c = GetParam();
  entropy_calls = 0;
  ThreadRng filled(key_from(1), &counting_entropy);
  for (size_t i = 0; i < c.words_drawn_first; ++i) filled.draw_u32();
  std::vector<uint8_t> storage(c.length + c.misalignment + 8, 0xAA);
  uint8_t* out = storage.data() + c.misalignment;
  filled.fill_bytes(out, c.length);
  const uint32_t after_fill = filled.draw_u32();

  entropy_calls = 0;
  ThreadRng drawn(key_from(1), &counting_entropy);
  for (size_t i = 0; i < c.words_drawn_first; ++i) drawn.draw_u32();
  const std::vector<uint8_t> expected = drawn_bytes(drawn, c.length);
  ASSERT_EQ(expected, std::vector<uint8_t>(out, out + c.length));
  // Nothing beyond the requested bytes is written, and a partial last word is used up whole.
  for (size_t i = c.length; i < c.length + 8; ++i) EXPECT_EQ(out[i], 0xAA);
  EXPECT_EQ(after_fill, drawn.draw_u32());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillBytes,
    testing::Values(FillCase{0, 0, 0}, FillCase{0, 16, 0}, FillCase{0, 256, 0}, FillCase{0, 257, 0},
                    FillCase{3, 1000, 0}, FillCase{63, 4096, 0}, FillCase{64, 4096, 1}, FillCase{5, 4099, 3},
                    // Several key replacements: 1024 blocks of 64 bytes per key.
                    FillCase{7, 3 * 65536 + 100, 0}, FillCase{7, 3 * 65536 + 100, 2}));

TEST(FillBytesFailure, KeyReplacementFailurePanics) {
  ThreadRng rng(key_from(1), &failing_entropy);
  rng.mark_forked();  // the next words need a new key
  std::vector<uint8_t> out(1024);
  EXPECT_THROW(rng.fill_bytes(out.data(), out.size()), Panic);
}

TEST(FillBytesFork, ForkedGeneratorDoesNotRepeatTheStream) {
  entropy_calls = 0;
  ThreadRng parent(key_from(1), &counting_entropy);
  ThreadRng child(key_from(1), &counting_entropy);
  child.mark_forked();
  std::vector<uint8_t> a(4096), b(4096);
  parent.fill_bytes(a.data(), a.size());
  child.fill_bytes(b.data(), b.size());
  EXPECT_NE(a, b);
}

#if defined(__x86_64__)
// Eight blocks at once against the portable four, at awkward counters: the low word wrapping
// inside the eight, the whole 64-bit counter wrapping, and a nonzero nonce.
TEST(ChachaEightWide, MatchesPortable) {
  if (simd_level() != SimdLevel::avx2) GTEST_SKIP() << "no AVX2 on this CPU";
  const uint64_t counters[] = {0, 4, 1020, 0xFFFF'FFFCULL, 0xFFFF'FFFFULL, 0x1'FFFF'FFFBULL, ~uint64_t{0} - 3};
  for (int rounds : {8, 12, 20}) {
    for (uint64_t counter : counters) {
      uint32_t state[16];
      for (int i = 0; i < 4; ++i) state[i] = kChachaConstants[i];
      for (int i = 4; i < 12; ++i) state[i] = 0x9E3779B9u * static_cast<uint32_t>(i) + 7;
      state[12] = static_cast<uint32_t>(counter);
      state[13] = static_cast<uint32_t>(counter >> 32);
      state[14] = 0x01020304;
      state[15] = 0xA0B0C0D0;
      uint32_t wide[128], expected[128];
      chacha_blocks8_avx2(state, wide, rounds);
      chacha_blocks4_portable(state, expected, rounds);
      const uint64_t next = counter + 4;
      state[12] = static_cast<uint32_t>(next);
      state[13] = static_cast<uint32_t>(next >> 32);
      chacha_blocks4_portable(state, expected + 64, rounds);
      EXPECT_EQ(0, std::memcmp(wide, expected, sizeof wide)) << "rounds " << rounds << ", counter " << counter;
    }
  }
}
#endif

// ---- version-7 batches -------------------------------------------------------------------------

constexpr uint64_t kLimit = uint64_t{1} << 42;

struct BatchCase {
  uint64_t start_counter;  // the state's counter before the batch, in the reading's millisecond
  uint64_t n;
};

class V7BatchSteps : public testing::TestWithParam<BatchCase> {};

TEST_P(V7BatchSteps, EqualsNSingleSteps) {
  const BatchCase c = GetParam();
  const Timestamp reading{1'700'000'000, 123'456'789};
  V7State start;
  start.last_millis = unix_millis(reading);
  start.last_seconds = reading.seconds;
  start.last_subsec_nanos = reading.subsec_nanos;
  start.counter = c.start_counter;

  uint64_t seeds = 0;
  auto draw = [&] { return 0x5555'0000'0000'1234ULL + seeds++; };
  V7State batch_state = start;
  const V7Batch batch = reserve_v7_batch(batch_state, reading, c.n, draw);

  seeds = 0;
  V7State single_state = start;
  std::vector<V7Step> singles;
  // The runs of a huge batch are checked at their edges only.
  const uint64_t stepped = std::min<uint64_t>(c.n, 4096);
  for (uint64_t i = 0; i < stepped; ++i) singles.push_back(next_v7_timestamp(single_state, reading, draw));

  uint64_t index = 0;
  for (int r = 0; r < batch.run_count; ++r) {
    const V7Run& run = batch.runs[r];
    for (uint64_t k = 0; k < run.count && index < stepped; ++k, ++index) {
      EXPECT_EQ(run.timestamp, singles[index].timestamp) << index;
      EXPECT_EQ(run.first_counter + k, singles[index].counter) << index;
      EXPECT_LT(run.first_counter + k, kLimit);
    }
  }
  uint64_t total = 0;
  for (int r = 0; r < batch.run_count; ++r) total += batch.runs[r].count;
  EXPECT_EQ(total, c.n);
  if (c.n == stepped) {
    EXPECT_EQ(batch_state.counter, single_state.counter);
    EXPECT_EQ(batch_state.last_millis, single_state.last_millis);
    EXPECT_EQ(batch_state.last_seconds, single_state.last_seconds);
    EXPECT_EQ(batch_state.last_subsec_nanos, single_state.last_subsec_nanos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, V7BatchSteps,
    testing::Values(BatchCase{100, 1}, BatchCase{100, 1000},
                    // The counter runs out inside the batch: the rest moves one millisecond on.
                    BatchCase{kLimit - 10, 1000}, BatchCase{kLimit - 2, 2}, BatchCase{kLimit - 2, 3},
                    BatchCase{kLimit - 1, 5},
                    // The largest batch: still two runs.
                    BatchCase{kLimit - 1, kV7MaxBatch}, BatchCase{0, kV7MaxBatch}));

TEST(V7BatchWrite, MatchesPackV7) {
  const V7Run run{{1'700'000'000, 999'999'999}, kLimit - 3, 3};
  const uint32_t random[3] = {0x01234567, 0x89ABCDEF, 0xFFFFFFFF};
  uint8_t out[48];
  write_v7_run(run, random, out);
  for (int i = 0; i < 3; ++i) {
    const u128 expected_random = u128{random[i]} << 48;  // the last 32 bits of the value
    const UuidValue expected = pack_v7(run.timestamp, run.first_counter + i, expected_random);
    EXPECT_EQ(0, std::memcmp(out + 16 * i, expected.bytes.data(), 16)) << i;
  }
}

}  // namespace
}  // namespace vantor
