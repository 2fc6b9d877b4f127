// UuidValue against RFC 4122 / RFC 9562 field layouts and the results of Python's uuid.UUID.
#include "uuid/uuid_value.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>

namespace vantor {
namespace {

constexpr u128 make_u128(uint64_t high, uint64_t low) { return (u128{high} << 64) | low; }

// 00112233-4455-6677-8899-aabbccddeeff: every byte different, so a swapped or shifted field shows.
const std::array<uint8_t, 16> kCountingBytes = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const UuidValue kCounting = UuidValue::from_bytes(kCountingBytes.data());
const UuidValue kNil{};
const UuidValue kMax = UuidValue::from_halves(~0ULL, ~0ULL);

UuidValue with_bytes_6_and_8(uint8_t byte6, uint8_t byte8) {
  UuidValue v = kCounting;
  v.bytes[6] = byte6;
  v.bytes[8] = byte8;
  return v;
}

TEST(UuidValueLayoutTest, FieldViewsMatchPythonUuidFields) {
  // Python: UUID('00112233-4455-6677-8899-aabbccddeeff').fields, .clock_seq, .node
  EXPECT_EQ(kCounting.high(), 0x0011223344556677ULL);
  EXPECT_EQ(kCounting.low(), 0x8899AABBCCDDEEFFULL);
  EXPECT_EQ(kCounting.time_low(), 0x00112233u);
  EXPECT_EQ(kCounting.time_mid(), 0x4455u);
  EXPECT_EQ(kCounting.time_hi_version(), 0x6677u);
  EXPECT_EQ(kCounting.clock_seq_hi_variant(), 0x88u);
  EXPECT_EQ(kCounting.clock_seq_low(), 0x99u);
  EXPECT_EQ(kCounting.clock_seq(), 0x0899u);
  EXPECT_EQ(kCounting.node(), 0xAABBCCDDEEFFULL);
  EXPECT_EQ(kCounting.version_nibble(), 6u);

  const Fields f = kCounting.fields();
  EXPECT_EQ(f.time_low, 0x00112233u);
  EXPECT_EQ(f.time_mid, 0x4455u);
  EXPECT_EQ(f.time_hi_version, 0x6677u);
  EXPECT_EQ(f.clock_seq_hi_variant, 0x88u);
  EXPECT_EQ(f.clock_seq_low, 0x99u);
  EXPECT_EQ(f.node, 0xAABBCCDDEEFFULL);
}

TEST(UuidValueLayoutTest, ClockSeqDropsOnlyTheTwoVariantBits) {
  EXPECT_EQ(kMax.clock_seq(), 0x3FFFu);
  EXPECT_EQ(with_bytes_6_and_8(0x00, 0x40).clock_seq(), 0x0099u);
}

TEST(UuidValueLayoutTest, IntegerIsTheBigEndianReadingOfTheBytes) {
  const u128 n = make_u128(0x0011223344556677ULL, 0x8899AABBCCDDEEFFULL);
  EXPECT_EQ(UuidValue::from_u128(n), kCounting);
  EXPECT_TRUE(kCounting.to_u128() == n);

  const UuidValue one = UuidValue::from_u128(1);
  EXPECT_EQ(one.bytes[15], 1u);
  EXPECT_EQ(one.high(), 0u);
  const UuidValue top = UuidValue::from_u128(u128{1} << 127);
  EXPECT_EQ(top.bytes[0], 0x80u);
  EXPECT_EQ(top.low(), 0u);
  EXPECT_TRUE(kMax.to_u128() == ~u128{0});
}

TEST(UuidValueLayoutTest, BytesLeReversesTheThreeTimeFieldsOnly) {
  // Python: UUID('00112233-4455-6677-8899-aabbccddeeff').bytes_le
  const std::array<uint8_t, 16> le = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(kCounting.to_bytes_le(), le);
  EXPECT_EQ(UuidValue::from_bytes_le(le.data()), kCounting);
  EXPECT_EQ(UuidValue::from_bytes(kCountingBytes.data()).bytes, kCountingBytes);
}

TEST(UuidValueLayoutTest, FromFieldsPlacesEachFieldAndChecksTheNodeWidth) {
  const Fields counting = {0x00112233u, 0x4455u, 0x6677u, 0x88u, 0x99u, 0xAABBCCDDEEFFULL};
  EXPECT_EQ(UuidValue::from_fields(counting), kCounting);

  const Fields widest = {0xFFFFFFFFu, 0xFFFFu, 0xFFFFu, 0xFFu, 0xFFu, (1ULL << 48) - 1};
  EXPECT_EQ(UuidValue::from_fields(widest), kMax);

  for (uint64_t node : {1ULL << 48, (1ULL << 48) | 1, 1ULL << 63, ~0ULL}) {
    Fields f = counting;
    f.node = node;
    EXPECT_EQ(UuidValue::from_fields(f), std::nullopt) << std::hex << node;
  }
}

struct VariantCase {
  uint8_t byte8;
  Variant variant;
};

class UuidValueVariantTest : public ::testing::TestWithParam<VariantCase> {};

// The variant is read from the top bits of byte 8; each range is probed at both ends.
TEST_P(UuidValueVariantTest, VariantByByte8AndVersionOnlyForRfc4122) {
  const VariantCase& c = GetParam();
  for (uint8_t nibble : {0x0, 0x1, 0x4, 0x7, 0x8, 0x9, 0xF}) {
    const UuidValue v = with_bytes_6_and_8(static_cast<uint8_t>(nibble << 4 | 0x5), c.byte8);
    EXPECT_EQ(v.variant(), c.variant);
    EXPECT_EQ(v.version_nibble(), nibble);
    if (c.variant == Variant::rfc_4122) {
      EXPECT_EQ(v.version(), nibble);
    } else {
      EXPECT_EQ(v.version(), std::nullopt) << "nibble " << int{nibble};
    }
  }
}

INSTANTIATE_TEST_SUITE_P(UuidValue, UuidValueVariantTest,
                         ::testing::Values(VariantCase{0x00, Variant::reserved_ncs},
                                           VariantCase{0x7F, Variant::reserved_ncs},
                                           VariantCase{0x80, Variant::rfc_4122},
                                           VariantCase{0xBF, Variant::rfc_4122},
                                           VariantCase{0xC0, Variant::reserved_microsoft},
                                           VariantCase{0xDF, Variant::reserved_microsoft},
                                           VariantCase{0xE0, Variant::reserved_future},
                                           VariantCase{0xFF, Variant::reserved_future}));

TEST(UuidValueApplyVersionTest, NilAndMaxTakeTheVersionAndVariantBitsOnly) {
  const UuidValue nil4 = apply_version(kNil, 4);
  std::array<uint8_t, 16> expected{};
  expected[6] = 0x40;
  expected[8] = 0x80;
  EXPECT_EQ(nil4.bytes, expected);

  const UuidValue max1 = apply_version(kMax, 1);
  expected.fill(0xFF);
  expected[6] = 0x1F;
  expected[8] = 0xBF;
  EXPECT_EQ(max1.bytes, expected);
}

TEST(UuidValueApplyVersionTest, EveryVersionKeepsTheOther122Bits) {
  const u128 kept_mask = ~(make_u128(0xF000, 0) | make_u128(0, 0xC0ULL << 56));
  for (const UuidValue& base : {kNil, kMax, kCounting}) {
    for (uint8_t version = 1; version <= 8; ++version) {
      const UuidValue v = apply_version(base, version);
      EXPECT_EQ(v.version(), version);
      EXPECT_EQ(v.variant(), Variant::rfc_4122);
      EXPECT_TRUE((v.to_u128() & kept_mask) == (base.to_u128() & kept_mask)) << int{version};
    }
  }
}

// Values built from a tick count the way each RFC 9562 version lays it out.
UuidValue v1_from_ticks(uint64_t ticks, uint8_t byte8 = 0x80) {
  Fields f{static_cast<uint32_t>(ticks), static_cast<uint16_t>(ticks >> 32),
           static_cast<uint16_t>(0x1000 | ((ticks >> 48) & 0x0FFF)), byte8, 0x12, 0x0123456789AB};
  return *UuidValue::from_fields(f);
}
UuidValue v6_from_ticks(uint64_t ticks, uint8_t byte8 = 0x80) {
  Fields f{static_cast<uint32_t>(ticks >> 28), static_cast<uint16_t>(ticks >> 12),
           static_cast<uint16_t>(0x6000 | (ticks & 0x0FFF)), byte8, 0x12, 0x0123456789AB};
  return *UuidValue::from_fields(f);
}

TEST(UuidValueTimeTest, EachVersionReadsItsOwnLayout) {
  // time_low 11223344, time_mid 5566, time_hi_version N778.
  const auto with_nibble = [](uint8_t nibble, uint8_t byte8) {
    Fields f{0x11223344u, 0x5566u, static_cast<uint16_t>(nibble << 12 | 0x778), byte8, 0x99,
             0xAABBCCDDEEFFULL};
    return *UuidValue::from_fields(f);
  };
  constexpr uint64_t kV1Layout = 0x778'5566'11223344ULL;
  EXPECT_EQ(with_nibble(1, 0x80).time(), kV1Layout);
  EXPECT_EQ(with_nibble(6, 0x80).time(), 0x112233445566778ULL);
  EXPECT_EQ(with_nibble(7, 0x80).time(), 0x112233445566ULL);
  EXPECT_EQ(with_nibble(4, 0x80).time(), kV1Layout);
  // Outside the RFC 4122 variant there is no version, so the v1 layout applies to every nibble.
  for (uint8_t byte8 : {0x00, 0x7F, 0xC0, 0xE0}) {
    EXPECT_EQ(with_nibble(6, byte8).time(), kV1Layout) << std::hex << int{byte8};
    EXPECT_EQ(with_nibble(7, byte8).time(), kV1Layout) << std::hex << int{byte8};
  }
  EXPECT_EQ(v1_from_ticks((1ULL << 60) - 1).time(), (1ULL << 60) - 1);
  EXPECT_EQ(v6_from_ticks((1ULL << 60) - 1).time(), (1ULL << 60) - 1);
}

struct TicksCase {
  uint64_t ticks;
  int64_t unix_millis;
};

class UuidValueTimestampTest : public ::testing::TestWithParam<TicksCase> {};

// Milliseconds are floored, also below the Unix epoch, where truncation would be one too high.
TEST_P(UuidValueTimestampTest, GregorianTicksToUnixMillisecondsInV1AndV6) {
  const TicksCase& c = GetParam();
  EXPECT_EQ(v1_from_ticks(c.ticks).timestamp(), c.unix_millis);
  EXPECT_EQ(v6_from_ticks(c.ticks).timestamp(), c.unix_millis);
}

INSTANTIATE_TEST_SUITE_P(
    UuidValue, UuidValueTimestampTest,
    ::testing::Values(TicksCase{kGregorianOffset, 0}, TicksCase{kGregorianOffset + 9999, 0},
                      TicksCase{kGregorianOffset + 10000, 1},
                      TicksCase{kGregorianOffset - 1, -1},
                      TicksCase{kGregorianOffset - 10000, -1},
                      TicksCase{kGregorianOffset - 10001, -2},
                      // 1582-10-15 and the largest 60-bit count (Python: (t - offset) // 10000).
                      TicksCase{0, -12219292800000}, TicksCase{(1ULL << 60) - 1, 103072857660684}));

TEST(UuidValueTimestampNibbleTest, OnlyNibbles1And6And7HaveATimestampWhateverTheVariant) {
  for (uint8_t byte8 : {0x00, 0x80, 0xC0, 0xFF}) {
    for (uint8_t nibble = 0; nibble < 16; ++nibble) {
      const UuidValue v = with_bytes_6_and_8(static_cast<uint8_t>(nibble << 4 | 0x7), byte8);
      EXPECT_EQ(v.timestamp().has_value(), nibble == 1 || nibble == 6 || nibble == 7)
          << "nibble " << int{nibble} << " byte 8 " << std::hex << int{byte8};
    }
  }
  // Version 7 holds the Unix milliseconds themselves, in its first 48 bits.
  EXPECT_EQ(apply_version(UuidValue::from_halves(0x0123456789AB'0000ULL, 0), 7).timestamp(),
            0x0123456789ABLL);
  EXPECT_EQ(apply_version(kMax, 7).timestamp(), (1LL << 48) - 1);
  EXPECT_EQ(v1_from_ticks(kGregorianOffset + 10000, 0x00).timestamp(), 1);
}

}  // namespace
}  // namespace vantor
