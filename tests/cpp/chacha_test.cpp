// The ChaCha block function: every implementation against the known answers of
// tests/data/chacha.json (RFC 8439, draft-strombergson test vectors, long streams across the
// 2^32 counter boundary), and the vector implementations against the portable one where the
// block counter carries or wraps.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "random/chacha.hpp"
#include "random/chacha_wide.hpp"
#include "test_vectors.inc"

namespace vantor {
namespace {

using BlocksFn = void (*)(const uint32_t*, uint32_t*, int) noexcept;

struct Implementation {
  const char* name;
  BlocksFn fn;
  // The level the CPU must reach for `fn` to run; portable runs anywhere.
  SimdLevel needs;
};

// Whether this CPU runs code for `needs`: a level at or below the one detected (VANTOR_ISA, which
// caps what the generators use, plays no part here).
bool runs_here(SimdLevel needs) {
  return capped_simd_level(detected_simd_level(), needs) == needs;
}

const Implementation kPortable = {"portable", &chacha_blocks4_portable, SimdLevel::portable};
// Every vector implementation this target compiles, and the dispatcher.
const Implementation kVectorised[] = {
#if defined(__x86_64__)
    {"sse2", &chacha_blocks4_sse2, SimdLevel::sse2},
    {"avx2", &chacha_blocks4_avx2, SimdLevel::avx2},
#endif
#if defined(__aarch64__)
    {"neon", &chacha_blocks4_neon, SimdLevel::neon},
#endif
    {"dispatch", &chacha_blocks4, SimdLevel::portable},
};

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string to_hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

uint32_t load_le32(const uint8_t* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

struct State {
  uint32_t words[16];

  static State make(const uint8_t key[32], const uint8_t nonce[8], uint64_t counter) {
    State s;
    for (int i = 0; i < 4; ++i) s.words[i] = kChachaConstants[i];
    for (int i = 0; i < 8; ++i) s.words[4 + i] = load_le32(key + 4 * i);
    s.set_counter(counter);
    s.words[14] = load_le32(nonce);
    s.words[15] = load_le32(nonce + 4);
    return s;
  }
  void set_counter(uint64_t counter) {
    words[12] = static_cast<uint32_t>(counter);
    words[13] = static_cast<uint32_t>(counter >> 32);
  }
  uint64_t counter() const { return words[12] | uint64_t{words[13]} << 32; }
};

// Four blocks computed into the middle of a larger array: the guard words on either side must
// survive, and the input state must come back unchanged.
struct Output {
  static constexpr uint32_t kGuard = 0xA5A5A5A5;
  uint32_t words[64 + 16];
  uint32_t* blocks() { return words + 8; }
};

void run_checked(BlocksFn fn, const State& state, int rounds, uint32_t out[64]) {
  Output buffer;
  for (uint32_t& w : buffer.words) w = Output::kGuard;
  State copy = state;
  fn(copy.words, buffer.blocks(), rounds);
  EXPECT_EQ(std::memcmp(copy.words, state.words, sizeof state.words), 0) << "state was modified";
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(buffer.words[i], Output::kGuard) << "wrote before out[0]";
    EXPECT_EQ(buffer.words[72 + i], Output::kGuard) << "wrote after out[63]";
  }
  std::memcpy(out, buffer.blocks(), 64 * sizeof(uint32_t));
}

// `nbytes` of keystream from the state's counter on, in groups of four blocks.
std::vector<uint8_t> keystream(BlocksFn fn, State state, int rounds, size_t nbytes) {
  std::vector<uint8_t> bytes;
  while (bytes.size() < nbytes) {
    uint32_t out[64];
    run_checked(fn, state, rounds, out);
    for (uint32_t w : out) {
      for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(w >> shift));
    }
    state.set_counter(state.counter() + 4);
  }
  bytes.resize(nbytes);
  return bytes;
}

class ChachaImplementation : public testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    if (!runs_here(GetParam().needs)) {
      GTEST_SKIP() << "this CPU cannot run " << GetParam().name;
    }
  }
};

TEST_P(ChachaImplementation, ReproducesKnownKeystreams) {
  for (const ChachaVector& v : kChachaVectors) {
    SCOPED_TRACE(v.name);
    const std::vector<uint8_t> key = from_hex(v.key_hex);
    const std::vector<uint8_t> nonce = from_hex(v.nonce_hex);
    ASSERT_EQ(key.size(), 32u);
    ASSERT_EQ(nonce.size(), 8u);
    const std::string expected = v.keystream_hex;
    const State state = State::make(key.data(), nonce.data(), v.counter);
    EXPECT_EQ(to_hex(keystream(GetParam().fn, state, v.rounds, expected.size() / 2)), expected);
  }
}

// Counters where a group of four crosses 2^32 (word 12 carries into word 13) or 2^64 (the
// counter wraps to 0), and their neighbours.
const uint64_t kAwkwardCounters[] = {
    0,          1,          0xFFFFFFFC, 0xFFFFFFFD,         0xFFFFFFFE,         0xFFFFFFFF,
    0x100000000, 0x1FFFFFFFF, 0xFFFFFFFFFFFFFFFC, 0xFFFFFFFFFFFFFFFD, 0xFFFFFFFFFFFFFFFE,
    0xFFFFFFFFFFFFFFFF,
};
const int kRounds[] = {8, 12, 20};

std::vector<State> random_states() {
  std::mt19937_64 gen(0x5EED);
  std::vector<State> states;
  for (int i = 0; i < 4; ++i) {
    uint8_t key[32], nonce[8];
    for (uint8_t& b : key) b = static_cast<uint8_t>(gen());
    for (uint8_t& b : nonce) b = static_cast<uint8_t>(gen());
    states.push_back(State::make(key, nonce, 0));
  }
  uint8_t ones[32], zeros[32] = {};
  std::memset(ones, 0xFF, sizeof ones);
  states.push_back(State::make(ones, ones, 0));
  states.push_back(State::make(zeros, zeros, 0));
  return states;
}

// Block i of a group must be block 0 of the group starting at counter + i. This pins down the
// carry and the wraparound without trusting any other implementation.
TEST_P(ChachaImplementation, BlockIOfAGroupIsBlockZeroAtCounterPlusI) {
  for (State state : random_states()) {
    for (uint64_t counter : kAwkwardCounters) {
      for (int rounds : kRounds) {
        SCOPED_TRACE(testing::Message() << "counter " << std::hex << counter << std::dec
                                        << ", rounds " << rounds);
        state.set_counter(counter);
        uint32_t group[64];
        run_checked(GetParam().fn, state, rounds, group);
        for (uint64_t i = 1; i < 4; ++i) {
          State shifted = state;
          shifted.set_counter(counter + i);
          uint32_t single[64];
          run_checked(GetParam().fn, shifted, rounds, single);
          EXPECT_EQ(std::memcmp(group + 16 * i, single, 16 * sizeof(uint32_t)), 0) << "block " << i;
        }
      }
    }
  }
}

std::string name_of(const testing::TestParamInfo<Implementation>& info) { return info.param.name; }

std::vector<Implementation> all_implementations() {
  std::vector<Implementation> all = {kPortable};
  all.insert(all.end(), std::begin(kVectorised), std::end(kVectorised));
  return all;
}

INSTANTIATE_TEST_SUITE_P(Chacha, ChachaImplementation, testing::ValuesIn(all_implementations()),
                         name_of);

// The vector implementations and the dispatcher, against the portable one.
class ChachaVectorised : public ChachaImplementation {};

TEST_P(ChachaVectorised, MatchesPortable) {
  for (State state : random_states()) {
    for (uint64_t counter : kAwkwardCounters) {
      for (int rounds : kRounds) {
        SCOPED_TRACE(testing::Message() << "counter " << std::hex << counter << std::dec
                                        << ", rounds " << rounds);
        state.set_counter(counter);
        uint32_t expected[64], got[64];
        chacha_blocks4_portable(state.words, expected, rounds);
        run_checked(GetParam().fn, state, rounds, got);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(got[i], expected[i]) << "word " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Chacha, ChachaVectorised, testing::ValuesIn(kVectorised), name_of);

// Forcing each level this CPU runs sends chacha_blocks4 down that branch, the portable one
// included, which detection never picks on x86-64 or AArch64: each branch must compute the
// same blocks.
TEST(ChachaDispatch, EveryLevelThisCpuRunsGivesThePortableOutput) {
  struct Restore {
    ~Restore() { set_simd_level_for_testing(SimdLevel::unknown); }
  } restore;
  State state = random_states()[0];
  state.set_counter(0xFFFFFFFE);
  uint32_t expected[64];
  chacha_blocks4_portable(state.words, expected, 12);
  for (SimdLevel level : {SimdLevel::portable, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512, SimdLevel::neon}) {
    if (!runs_here(level)) continue;
    SCOPED_TRACE(simd_level_name(level));
    set_simd_level_for_testing(level);
    ASSERT_EQ(simd_level(), level);
    uint32_t got[64];
    run_checked(&chacha_blocks4, state, 12, got);
    EXPECT_EQ(std::memcmp(got, expected, sizeof got), 0);
  }
}

// Which implementation the generators of this process use, for the test log (the CI run on
// foreign CPUs reports it), checked against what the target offers.
TEST(ChachaSimdLevel, IsOneThisTargetHasAndStaysTheSame) {
  const SimdLevel level = detected_simd_level();
  RecordProperty("chacha_path", simd_level_name(level));
  std::printf("ChaCha path: %s\n", simd_level_name(level));
#if defined(__x86_64__)
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  EXPECT_EQ(level, avx512                             ? SimdLevel::avx512
                   : __builtin_cpu_supports("avx2") ? SimdLevel::avx2
                                                    : SimdLevel::sse2);
#elif defined(__aarch64__)
  // Every AArch64 Linux system has Advanced SIMD; the run-time check only guards against an OS
  // that turned it off.
  EXPECT_EQ(level, SimdLevel::neon);
#else
  EXPECT_EQ(level, SimdLevel::portable);
#endif
  EXPECT_EQ(detected_simd_level(), level);
}

// VANTOR_ISA's names: those of this processor's levels, exactly; a cap lowers the detected level
// and never raises it.
TEST(ChachaSimdCap, ParsesThisProcessorsNamesOnly) {
  struct Case {
    const char* name;
    bool valid;
    SimdLevel level;
  };
  const Case cases[] = {
      {"portable", true, SimdLevel::portable},
#if defined(__x86_64__)
      {"sse2", true, SimdLevel::sse2},        {"avx2", true, SimdLevel::avx2},
      {"avx512", true, SimdLevel::avx512},    {"neon", false, SimdLevel::unknown},
#elif defined(__aarch64__)
      {"neon", true, SimdLevel::neon},        {"avx2", false, SimdLevel::unknown},
#endif
      {"", false, SimdLevel::unknown},        {"AVX2", false, SimdLevel::unknown},
      {"avx2 ", false, SimdLevel::unknown},   {"unknown", false, SimdLevel::unknown},
      {"native", false, SimdLevel::unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimdLevel level = SimdLevel::unknown;
    EXPECT_EQ(parse_simd_level(c.name, level), c.valid);
    EXPECT_EQ(level, c.level);
    if (c.valid) {
      EXPECT_NE(std::string(simd_level_names()).find(std::string("'") + c.name + "'"), std::string::npos);
    }
  }
}

TEST(ChachaSimdCap, LowersTheDetectedLevelOnly) {
  struct Case {
    SimdLevel detected, cap, expected;
  };
  const Case cases[] = {
      {SimdLevel::portable, SimdLevel::portable, SimdLevel::portable},
#if defined(__x86_64__)
      {SimdLevel::avx512, SimdLevel::portable, SimdLevel::portable},
      {SimdLevel::avx512, SimdLevel::sse2, SimdLevel::sse2},
      {SimdLevel::avx512, SimdLevel::avx2, SimdLevel::avx2},
      {SimdLevel::avx512, SimdLevel::avx512, SimdLevel::avx512},
      {SimdLevel::avx2, SimdLevel::avx512, SimdLevel::avx2},
      {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::sse2},
      {SimdLevel::avx512, SimdLevel::neon, SimdLevel::portable},
#elif defined(__aarch64__)
      {SimdLevel::neon, SimdLevel::portable, SimdLevel::portable},
      {SimdLevel::portable, SimdLevel::neon, SimdLevel::portable},
      {SimdLevel::neon, SimdLevel::avx2, SimdLevel::portable},
#endif
  };
  for (const Case& c : cases)
    EXPECT_EQ(capped_simd_level(c.detected, c.cap), c.expected)
        << simd_level_name(c.detected) << " capped at " << simd_level_name(c.cap);
}

// ---- eight and sixteen blocks per call ------------------------------------------------------

struct WideImplementation {
  const char* name;
  void (*fn)(const uint32_t*, uint32_t*, int) noexcept;
  size_t blocks;
  SimdLevel needs;
};

const WideImplementation kWide[] = {
#if defined(__x86_64__)
    {"avx2_x8", &chacha_blocks8_avx2, 8, SimdLevel::avx2},
    {"avx2_x16", &chacha_blocks16_avx2, 16, SimdLevel::avx2},
    {"avx512_x16", &chacha_blocks16_avx512, 16, SimdLevel::avx512},
#endif
    {"none", nullptr, 0, SimdLevel::portable},  // keeps the table non-empty on every target
};

class ChachaWide : public testing::TestWithParam<WideImplementation> {
 protected:
  void SetUp() override {
    if (GetParam().fn == nullptr) GTEST_SKIP() << "no wide kernel on this target";
    if (!runs_here(GetParam().needs)) GTEST_SKIP() << "this CPU cannot run " << GetParam().name;
  }
};

// Groups whose counters cross 2^32 (the low word carrying inside the group at every position)
// or wrap at 2^64, and the start of a key's range, with random keys and nonces, all three round
// counts: the portable blocks, four at a time, are the reference.
TEST_P(ChachaWide, MatchesPortableAcrossCarriesAndWraps) {
  const WideImplementation wide = GetParam();
  std::vector<uint64_t> counters = {0, 4, 1008, 0x100000000, 0x1FFFFFFF0};
  for (uint64_t below = 1; below <= wide.blocks; ++below) {
    counters.push_back(0x100000000 - below);  // carries after block below - 1
    counters.push_back(0 - below);            // wraps after block below - 1
  }
  for (State state : random_states()) {
    for (uint64_t counter : counters) {
      for (int rounds : kRounds) {
        SCOPED_TRACE(testing::Message() << "counter " << std::hex << counter << std::dec << ", rounds " << rounds);
        state.set_counter(counter);
        std::vector<uint32_t> expected(16 * wide.blocks + 16, Output::kGuard), got(16 * wide.blocks + 16, Output::kGuard);
        for (size_t b = 0; b < wide.blocks; b += 4) {
          State group = state;
          group.set_counter(counter + b);
          chacha_blocks4_portable(group.words, expected.data() + 8 + 16 * b, rounds);
        }
        State copy = state;
        wide.fn(copy.words, got.data() + 8, rounds);
        EXPECT_EQ(std::memcmp(copy.words, state.words, sizeof state.words), 0) << "state was modified";
        ASSERT_EQ(got, expected);  // the guard words on either side included
      }
    }
  }
}

std::string wide_name_of(const testing::TestParamInfo<WideImplementation>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Chacha, ChachaWide, testing::ValuesIn(kWide), wide_name_of);

}  // namespace
}  // namespace vantor
