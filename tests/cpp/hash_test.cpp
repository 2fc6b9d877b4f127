// MD5 and SHA-1 against the known answers of tests/data/hashes.json: RFC 1321 appendix A.5,
// FIPS 180 and RFC 3174 examples, and one message of every length from 0 to 130 bytes so that
// each padding boundary (55/56, 63/64, 119/120 bytes) is crossed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "hash/md5.hpp"
#include "hash/sha1.hpp"
#include "hash/sha1_blocks.hpp"
#include "test_vectors.inc"

namespace vantor {
namespace {

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

template <size_t N>
std::string to_hex(const std::array<uint8_t, N>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::vector<uint8_t> message_of(const HashVector& vector) {
  const std::vector<uint8_t> unit = from_hex(vector.unit_hex);
  std::vector<uint8_t> message;
  message.reserve(unit.size() * vector.repeat);
  for (size_t i = 0; i < vector.repeat; ++i) message.insert(message.end(), unit.begin(), unit.end());
  return message;
}

// Chunk sizes cycled over the whole message. They start and end blocks at every kind of offset:
// single bytes, a chunk that leaves one byte short of a block, exactly a block, one past it,
// several blocks at once after a partial one, and empty updates (given a null pointer).
const std::vector<std::vector<size_t>> kChunkPatterns = {
    {1}, {7}, {63}, {64}, {65}, {0, 3}, {55, 1, 8}, {64, 1, 127, 128, 2}, {13, 200},
};

template <class Hash>
void expect_digests(const HashVector& vector, const std::string& expected,
                    typename Hash::Digest (*one_shot)(const uint8_t*, size_t)) {
  const std::vector<uint8_t> message = message_of(vector);
  EXPECT_EQ(to_hex(one_shot(message.data(), message.size())), expected) << "one shot";

  // One object for every pattern: finish() must leave it ready for the next message.
  Hash hash;
  for (const auto& pattern : kChunkPatterns) {
    size_t at = 0;
    for (size_t k = 0; at < message.size() || k < pattern.size(); ++k) {
      size_t n = std::min(pattern[k % pattern.size()], message.size() - at);
      hash.update(n == 0 ? nullptr : message.data() + at, n);
      at += n;
    }
    EXPECT_EQ(to_hex(hash.finish()), expected) << "chunks of " << ::testing::PrintToString(pattern);
  }
}

class HashKnownAnswerTest : public ::testing::TestWithParam<HashVector> {};

TEST_P(HashKnownAnswerTest, Md5) {
  expect_digests<Md5>(GetParam(), GetParam().md5_hex, &md5);
}

TEST_P(HashKnownAnswerTest, Sha1) {
  expect_digests<Sha1>(GetParam(), GetParam().sha1_hex, &sha1);
}

// Makes Sha1 use one compression for the life of a scope, then lets it detect the CPU again.
class ForcedSha1Path {
 public:
  explicit ForcedSha1Path(Sha1Path path) { sha1_set_path_for_testing(path); }
  ~ForcedSha1Path() { sha1_set_path_for_testing(Sha1Path::detect); }
  ForcedSha1Path(const ForcedSha1Path&) = delete;
  ForcedSha1Path& operator=(const ForcedSha1Path&) = delete;
};

using CompressFn = void (*)(uint32_t*, const uint8_t*, size_t) noexcept;

// A compression using SHA-1 instructions, and whether this CPU has them.
struct Sha1Compression {
  const char* name;
  Sha1Path path;
  CompressFn fn;
  bool (*available)();
};

// The ones this target compiles (none on most processors).
std::vector<Sha1Compression> accelerated_sha1() {
  return {
#if defined(__x86_64__)
      {"shani", Sha1Path::shani, &sha1_compress_shani, [] { return sha1_cpu_has_shani(); }},
#endif
#if defined(__aarch64__)
      {"armv8", Sha1Path::armv8, &sha1_compress_armv8, [] { return sha1_cpu_has_armv8(); }},
#endif
  };
}

// The test above goes through whichever compression this machine picks; these pin each one,
// so the others are not left untested here.
TEST_P(HashKnownAnswerTest, Sha1PortableCompression) {
  ForcedSha1Path forced(Sha1Path::portable);
  expect_digests<Sha1>(GetParam(), GetParam().sha1_hex, &sha1);
}

#if defined(__x86_64__) || defined(__aarch64__)
TEST_P(HashKnownAnswerTest, Sha1AcceleratedCompressions) {
  bool any = false;
  for (const Sha1Compression& c : accelerated_sha1()) {
    if (!c.available()) continue;
    any = true;
    SCOPED_TRACE(c.name);
    ForcedSha1Path forced(c.path);
    expect_digests<Sha1>(GetParam(), GetParam().sha1_hex, &sha1);
  }
  if (!any) GTEST_SKIP() << "no SHA-1 instructions here";
}
#endif

INSTANTIATE_TEST_SUITE_P(Hash, HashKnownAnswerTest, ::testing::ValuesIn(kHashVectors),
                         [](const ::testing::TestParamInfo<HashVector>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// Splitting a message must not matter wherever the split falls, including inside the padding
// zone of the last block; the known answers fix the result, this checks every split point.
TEST(HashSplitTest, EverySplitPointOfATwoBlockMessageGivesTheOneShotDigest) {
  std::vector<uint8_t> message(130);
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 37 + 11);
  for (size_t length : {55, 56, 63, 64, 65, 119, 120, 128, 130}) {
    const auto md5_whole = md5(message.data(), length);
    const auto sha1_whole = sha1(message.data(), length);
    for (size_t split = 0; split <= length; ++split) {
      Md5 m;
      m.update(message.data(), split);
      m.update(message.data() + split, length - split);
      EXPECT_EQ(m.finish(), md5_whole) << "length " << length << " split " << split;
      Sha1 s;
      s.update(message.data(), split);
      s.update(message.data() + split, length - split);
      EXPECT_EQ(s.finish(), sha1_whole) << "length " << length << " split " << split;
    }
  }
}

// The two compressions must agree on every input, not only on those the known answers reach:
// chaining values that no real message produces, blocks of extreme words, several blocks at
// once, and blocks at every alignment.
using State = std::array<uint32_t, 5>;

State compressed(CompressFn compress, State state, const uint8_t* blocks, size_t count) {
  compress(state.data(), blocks, count);
  return state;
}

class Sha1AcceleratedTest : public ::testing::TestWithParam<Sha1Compression> {
 protected:
  void SetUp() override {
    if (!GetParam().available()) GTEST_SKIP() << "this CPU cannot run " << GetParam().name;
  }
};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Sha1AcceleratedTest);

TEST_P(Sha1AcceleratedTest, MatchesPortableOnRandomStatesAndBlocks) {
  std::mt19937_64 rng(20240611);
  std::vector<uint8_t> blocks(8 * Sha1::kBlockSize + 16);
  for (int round = 0; round < 20000; ++round) {
    State state;
    for (uint32_t& word : state) word = static_cast<uint32_t>(rng());
    for (uint8_t& byte : blocks) byte = static_cast<uint8_t>(rng());
    const size_t count = 1 + rng() % 8;
    const size_t offset = rng() % 16;  // unaligned loads must read the same bytes
    const uint8_t* at = blocks.data() + offset;
    ASSERT_EQ(compressed(GetParam().fn, state, at, count),
              compressed(&sha1_compress_portable, state, at, count))
        << "round " << round << ", " << count << " blocks at offset " << offset;
  }
}

// Words whose bits are all equal, or alternate, or sit only at the ends, make carries and
// rotations in the wrong lane or by the wrong amount show up where random data may average
// them out.
TEST_P(Sha1AcceleratedTest, MatchesPortableOnExtremeStatesAndBlocks) {
  const std::vector<uint32_t> kWords = {0x00000000u, 0xFFFFFFFFu, 0x80000000u, 0x00000001u,
                                        0xAAAAAAAAu, 0x55555555u, 0x7FFFFFFFu, 0x01234567u};
  const std::vector<uint8_t> kBytes = {0x00, 0xFF, 0x80, 0x01, 0xAA};
  for (uint32_t word : kWords) {
    const State state = {word, word, word, word, word};
    const State initial = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    for (uint8_t byte : kBytes) {
      const std::vector<uint8_t> block(Sha1::kBlockSize, byte);
      for (const State& s : {state, initial}) {
        EXPECT_EQ(compressed(GetParam().fn, s, block.data(), 1),
                  compressed(&sha1_compress_portable, s, block.data(), 1))
            << std::hex << "state word " << s[0] << ", block byte " << int{byte};
      }
    }
    // One set bit in each position of the block: every message word and every byte lane of
    // the byte-order shuffle is exercised alone.
    for (size_t bit = 0; bit < 8 * Sha1::kBlockSize; ++bit) {
      std::vector<uint8_t> block(Sha1::kBlockSize, 0);
      block[bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
      ASSERT_EQ(compressed(GetParam().fn, state, block.data(), 1),
                compressed(&sha1_compress_portable, state, block.data(), 1))
          << std::hex << "state word " << word << std::dec << ", bit " << bit;
    }
  }
}

// Compressing many blocks in one call must equal compressing them one call at a time: the
// state carried from block to block inside the loop is the same as the one stored and loaded.
TEST_P(Sha1AcceleratedTest, ManyBlocksInOneCallMatchOneAtATime) {
  std::mt19937_64 rng(7);
  std::vector<uint8_t> blocks(100 * Sha1::kBlockSize);
  for (uint8_t& byte : blocks) byte = static_cast<uint8_t>(rng());
  for (size_t count : {0, 1, 2, 3, 17, 100}) {
    const State initial = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    State stepwise = initial;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* block = blocks.data() + i * Sha1::kBlockSize;
      stepwise = compressed(&sha1_compress_portable, stepwise, block, 1);
    }
    EXPECT_EQ(compressed(GetParam().fn, initial, blocks.data(), count), stepwise)
        << count << " blocks";
    EXPECT_EQ(compressed(&sha1_compress_portable, initial, blocks.data(), count), stepwise)
        << count << " blocks";
  }
}

INSTANTIATE_TEST_SUITE_P(Sha1, Sha1AcceleratedTest, ::testing::ValuesIn(accelerated_sha1()),
                         [](const ::testing::TestParamInfo<Sha1Compression>& info) {
                           return std::string(info.param.name);
                         });

#if defined(__x86_64__)
// Detection read against the kernel's own reading of CPUID: a wrong bit would silently leave
// every hash on the slow path, or fault on a CPU that lacks the instructions.
TEST(Sha1DispatchTest, DetectionAgreesWithTheKernel) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  if (line.rfind("flags", 0) != 0) GTEST_SKIP() << "no CPU flags in /proc/cpuinfo";
  std::istringstream words(line.substr(line.find(':') + 1));
  bool sha = false, sse41 = false, ssse3 = false;
  for (std::string flag; words >> flag;) {
    sha |= flag == "sha_ni";
    sse41 |= flag == "sse4_1";
    ssse3 |= flag == "ssse3";
  }
  const bool expected = sha && sse41 && ssse3;
  EXPECT_EQ(sha1_cpu_has_shani(), expected);
  sha1_set_path_for_testing(Sha1Path::detect);
  EXPECT_EQ(sha1_path(), expected ? Sha1Path::shani : Sha1Path::portable);
}
#endif

// The path Sha1 takes is the first accelerated one this CPU runs, else the portable one. It is
// printed for the test log: the CI run on foreign CPUs reports it.
TEST(Sha1DispatchTest, PicksTheInstructionsThisCpuHas) {
  sha1_set_path_for_testing(Sha1Path::detect);
  const Sha1Path path = sha1_path();
  const char* name = "portable";
  Sha1Path expected = Sha1Path::portable;
  for (const Sha1Compression& c : accelerated_sha1()) {
    if (c.available()) {
      name = c.name;
      expected = c.path;
      break;
    }
  }
  EXPECT_EQ(path, expected);
  RecordProperty("sha1_path", name);
  std::printf("SHA-1 path: %s\n", path == expected ? name : "unexpected");
}

}  // namespace
}  // namespace vantor
