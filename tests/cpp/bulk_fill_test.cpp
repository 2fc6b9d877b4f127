// Bulk generation in the core: ThreadRng::fill_bytes hands out exactly the words draw_u32 would,
// in order, across refills, key replacements and any alignment of the output, on every path this
// CPU runs; the version-4 values are those bytes with the version bits set, by every pass and
// either kind of store; reserve_v7_batch leaves the state and yields the values of n single
// steps, also when the counter runs out.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/panic.hpp"
#include "random/bulk_fill.hpp"
#include "random/chacha.hpp"
#include "random/thread_rng.hpp"
#include "random/version_bits.hpp"
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

// Every level this CPU runs, the portable one included, which detection never picks on x86-64
// or AArch64: the fill takes 16, 8 or 4 blocks per step depending on it.
std::vector<SimdLevel> levels_here() {
  std::vector<SimdLevel> levels;
  for (SimdLevel level : {SimdLevel::portable, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512, SimdLevel::neon})
    if (capped_simd_level(detected_simd_level(), level) == level) levels.push_back(level);
  return levels;
}

// Forces a level for one test, and lets the CPU (and VANTOR_ISA) decide again afterwards.
struct ForcedLevel {
  explicit ForcedLevel(SimdLevel level) { set_simd_level_for_testing(level); }
  ~ForcedLevel() { set_simd_level_for_testing(SimdLevel::unknown); }
};

class FillBytes : public testing::TestWithParam<FillCase> {};

// The expected words come from single draws on the portable path; the fill runs on each level.
TEST_P(FillBytes, EqualsWordByWordDrawsOnEveryPath) {
  const FillCase c = GetParam();
  std::vector<uint8_t> expected;
  uint32_t expected_after;
  {
    ForcedLevel portable(SimdLevel::portable);
    entropy_calls = 0;
    ThreadRng drawn(key_from(1), &counting_entropy);
    for (size_t i = 0; i < c.words_drawn_first; ++i) drawn.draw_u32();
    expected = drawn_bytes(drawn, c.length);
    expected_after = drawn.draw_u32();
  }
  for (SimdLevel level : levels_here()) {
    SCOPED_TRACE(simd_level_name(level));
    ForcedLevel forced(level);
    entropy_calls = 0;
    ThreadRng filled(key_from(1), &counting_entropy);
    for (size_t i = 0; i < c.words_drawn_first; ++i) filled.draw_u32();
    std::vector<uint8_t> storage(c.length + c.misalignment + 8, 0xAA);
    uint8_t* out = storage.data() + c.misalignment;
    filled.fill_bytes(out, c.length);
    ASSERT_EQ(expected, std::vector<uint8_t>(out, out + c.length));
    // Nothing beyond the requested bytes is written, and a partial last word is used up whole.
    for (size_t i = c.length; i < c.length + 8; ++i) EXPECT_EQ(out[i], 0xAA);
    EXPECT_EQ(expected_after, filled.draw_u32());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillBytes,
    testing::Values(FillCase{0, 0, 0}, FillCase{0, 16, 0}, FillCase{0, 256, 0}, FillCase{0, 257, 0},
                    FillCase{3, 1000, 0}, FillCase{63, 4096, 0}, FillCase{64, 4096, 1}, FillCase{5, 4099, 3},
                    // 16 blocks and then less than 16: 8, 4 and single words.
                    FillCase{0, 16 * 64 + 12 * 64 + 20, 0}, FillCase{64, 3 * 16 * 64 + 4 * 64, 0},
                    // Several key replacements: 1024 blocks of 64 bytes per key. Drawing first
                    // moves the counter off a multiple of 16, so the last steps under each key
                    // must narrow to fit.
                    FillCase{7, 3 * 65536 + 100, 0}, FillCase{7, 3 * 65536 + 100, 2},
                    FillCase{0, 3 * 65536, 0}, FillCase{130, 65536 + 1024 + 4, 0}));

// ---- version-4 values --------------------------------------------------------------------------

// The bits every version pass must set, written plainly.
void set_version_bits_reference(uint8_t* out, size_t count, uint8_t version) {
  for (size_t i = 0; i < count; ++i) {
    out[16 * i + 6] = static_cast<uint8_t>((out[16 * i + 6] & 0x0F) | (version << 4));
    out[16 * i + 8] = static_cast<uint8_t>((out[16 * i + 8] & 0x3F) | 0x80);
  }
}

struct VersionPass {
  const char* name;
  void (*fn)(uint8_t*, size_t, uint8_t) noexcept;
  SimdLevel needs;
};

const VersionPass kVersionPasses[] = {
    {"portable", &set_version_bits_portable, SimdLevel::portable},
#if defined(__x86_64__)
    {"avx2", &set_version_bits_avx2, SimdLevel::avx2},
    {"avx512", &set_version_bits_avx512, SimdLevel::avx512},
#endif
    {"dispatch", &set_version_bits, SimdLevel::portable},
};

class VersionBits : public testing::TestWithParam<VersionPass> {};

// Counts around the vector widths (tails of one to three values), unaligned values, every
// version, over bytes of all ones and of all zeros: the bits outside the fields stay, and
// nothing before or after the values is touched.
TEST_P(VersionBits, MatchesTheReferenceOnEveryCountAndAlignment) {
  const VersionPass pass = GetParam();
  if (capped_simd_level(detected_simd_level(), pass.needs) != pass.needs) GTEST_SKIP() << "this CPU cannot run " << pass.name;
  for (uint8_t fill : {0x00, 0xFF, 0x5A}) {
    for (size_t count : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33}) {
      for (size_t offset : {0, 1, 8}) {
        for (uint8_t version : {0, 1, 4, 7, 8, 15}) {
          std::vector<uint8_t> got(16 * count + 32, fill);
          for (size_t i = 0; i < got.size(); ++i) got[i] ^= static_cast<uint8_t>(i * 37);
          std::vector<uint8_t> expected = got;
          set_version_bits_reference(expected.data() + offset, count, version);
          pass.fn(got.data() + offset, count, version);
          ASSERT_EQ(got, expected) << "count " << count << ", offset " << offset << ", version " << int{version};
        }
      }
    }
  }
}

std::string pass_name(const testing::TestParamInfo<VersionPass>& info) { return info.param.name; }
INSTANTIATE_TEST_SUITE_P(Passes, VersionBits, testing::ValuesIn(kVersionPasses), pass_name);

// fill_uuid4_values is the keystream with the version bits set, in pieces of any length, on every
// path and with either kind of store, aligned or not; the generator is left where fill_bytes
// would leave it.
TEST(FillUuid4Values, IsTheKeystreamWithVersionBitsOnEveryPath) {
  for (size_t count : {size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{5000}}) {
    std::vector<uint8_t> expected(16 * count);
    uint32_t expected_after;
    {
      ForcedLevel portable(SimdLevel::portable);
      entropy_calls = 0;
      ThreadRng rng(key_from(2), &counting_entropy);
      rng.draw_u32();
      rng.fill_bytes(expected.data(), expected.size());
      set_version_bits_reference(expected.data(), count, 4);
      expected_after = rng.draw_u32();
    }
    for (SimdLevel level : levels_here()) {
      for (Stores stores : {Stores::cached, Stores::streaming}) {
        for (size_t offset : {0, 16, 4}) {
          SCOPED_TRACE(testing::Message() << simd_level_name(level) << ", count " << count << ", offset " << offset
                                          << (stores == Stores::streaming ? ", streaming" : ", cached"));
          ForcedLevel forced(level);
          entropy_calls = 0;
          ThreadRng rng(key_from(2), &counting_entropy);
          rng.draw_u32();
          std::vector<uint8_t> storage(16 * count + 64 + 16, 0xAA);
          // 64-byte aligned start plus the offset.
          uint8_t* base = storage.data() + (64 - reinterpret_cast<uintptr_t>(storage.data()) % 64) % 64;
          uint8_t* out = base + offset;
          fill_uuid4_values(rng, out, count, stores);
          ASSERT_EQ(0, std::memcmp(out, expected.data(), expected.size()));
          EXPECT_EQ(out[16 * count], 0xAA);
          if (offset != 0) {
            EXPECT_EQ(out[-1], 0xAA);
          }
          EXPECT_EQ(rng.draw_u32(), expected_after);
        }
      }
    }
  }
}

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
