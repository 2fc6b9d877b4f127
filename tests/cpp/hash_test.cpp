// MD5 and SHA-1 against the known answers of tests/data/hashes.json: RFC 1321 appendix A.5,
// FIPS 180 and RFC 3174 examples, and one message of every length from 0 to 130 bytes so that
// each padding boundary (55/56, 63/64, 119/120 bytes) is crossed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "random/md5.hpp"
#include "random/sha1.hpp"
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

}  // namespace
}  // namespace vantor
