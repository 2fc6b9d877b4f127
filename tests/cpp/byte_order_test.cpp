// Loads and stores in a stated byte order give the same numbers on every host: the cross-built
// suite runs this on little-endian (x86-64, AArch64) and big-endian (s390x) machines alike.
#include "core/byte_order.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace vantor {
namespace {

// Bytes 01 02 .. 08 at an odd offset, so that a load that assumed alignment would show too.
constexpr std::array<uint8_t, 9> kBytes = {0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const uint8_t* const kAt = kBytes.data() + 1;

TEST(ByteOrder, LoadsReadTheStatedOrder) {
  EXPECT_EQ((load<std::endian::big, uint16_t>(kAt)), 0x0102u);
  EXPECT_EQ((load<std::endian::little, uint16_t>(kAt)), 0x0201u);
  EXPECT_EQ(load_be32(kAt), 0x01020304u);
  EXPECT_EQ(load_le32(kAt), 0x04030201u);
  EXPECT_EQ(load_be64(kAt), 0x0102030405060708u);
  EXPECT_EQ((load<std::endian::little, uint64_t>(kAt)), 0x0807060504030201u);
}

TEST(ByteOrder, StoresWriteTheStatedOrderAndNothingElse) {
  struct Case {
    const char* name;
    void (*store)(uint8_t*);
    std::array<uint8_t, 10> expected;
  };
  const Case cases[] = {
      {"be32", [](uint8_t* p) { store_be32(p, 0x01020304u); }, {0xEE, 1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"le32", [](uint8_t* p) { store_le32(p, 0x01020304u); }, {0xEE, 4, 3, 2, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"be64", [](uint8_t* p) { store_be64(p, 0x0102030405060708u); }, {0xEE, 1, 2, 3, 4, 5, 6, 7, 8, 0xEE}},
      {"le64", [](uint8_t* p) { store<std::endian::little>(p, uint64_t{0x0102030405060708u}); },
       {0xEE, 8, 7, 6, 5, 4, 3, 2, 1, 0xEE}},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 10> buffer;
    buffer.fill(0xEE);
    c.store(buffer.data() + 1);
    EXPECT_EQ(buffer, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace vantor
