// The four text forms read and written as Python's uuid.UUID writes them (str, hex, urn, repr),
// with a parser that is strict about length, case of the URN prefix and hyphen positions.
#include "uuid/text.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {
namespace {

using namespace std::string_literals;

std::optional<UuidValue> parse(std::string_view text) {
  return parse_uuid_text(text.data(), text.size());
}

std::string hex_of(const UuidValue& v) {
  char out[kSimpleLength];
  format_simple(v, out);
  return std::string(out, sizeof out);
}

// Parses to the simple form, or "rejected", so that a failure shows what came out.
std::string parsed(std::string_view text) {
  auto v = parse(text);
  return v ? hex_of(*v) : "rejected";
}

constexpr std::string_view kHex = "0123456789abcdef0123456789abcdef";
constexpr std::string_view kHyphenated = "01234567-89ab-cdef-0123-456789abcdef";

struct AcceptCase {
  const char* text;
  const char* hex;
};

class TextParseAcceptTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(TextParseAcceptTest, Accepted) {
  EXPECT_EQ(parsed(GetParam().text), GetParam().hex) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Text, TextParseAcceptTest,
    ::testing::Values(
        AcceptCase{"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"0123456789aBcDeF0123456789AbCdEf", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"00000000000000000000000000000000", "00000000000000000000000000000000"},
        AcceptCase{"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "ffffffffffffffffffffffffffffffff"},
        AcceptCase{"01234567-89ab-cdef-0123-456789abcdef", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"01234567-89AB-CDEF-0123-456789ABCDEF", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"{01234567-89ab-cdef-0123-456789abcdef}", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"{01234567-89AB-cdef-0123-456789ABCDEF}", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"urn:uuid:01234567-89ab-cdef-0123-456789abcdef", "0123456789abcdef0123456789abcdef"},
        AcceptCase{"urn:uuid:01234567-89AB-CDEF-0123-456789ABCDEF", "0123456789abcdef0123456789abcdef"}));

class TextParseRejectTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TextParseRejectTest, Rejected) {
  EXPECT_EQ(parsed(GetParam()), "rejected") << '"' << GetParam() << "\" (" << GetParam().size() << " bytes)";
}

INSTANTIATE_TEST_SUITE_P(
    Text, TextParseRejectTest,
    ::testing::Values(
        std::string(""),
        " 01234567-89ab-cdef-0123-456789abcdef",  // 37 bytes
        "01234567-89ab-cdef-0123-456789abcdef ",
        "01234567-89ab-cdef-0123-456789abcdef\n",
        "URN:UUID:01234567-89ab-cdef-0123-456789abcdef",
        "Urn:uuid:01234567-89ab-cdef-0123-456789abcdef",
        "urn:uuid:0123456789abcdef0123456789abcdef",  // 41 bytes
        "uuid:urn:01234567-89ab-cdef-0123-456789abcdef",
        "{0123456789abcdef0123456789abcdef}",  // 34 bytes
        "(01234567-89ab-cdef-0123-456789abcdef)", "[01234567-89ab-cdef-0123-456789abcdef]",
        "<01234567-89ab-cdef-0123-456789abcdef>", "}01234567-89ab-cdef-0123-456789abcdef{",
        "{01234567-89ab-cdef-0123-456789abcdef{", "01234567-89ab-cdef-0123-456789abcdef}{",
        "{0123456-789ab-cdef-0123-456789abcdef}", "{01234567-89abc-def-0123-456789abcdef}",
        "0123456-789ab-cdef-0123-456789abcdef",  // first hyphen at offset 7
        "01234567-89abc-def-0123-456789abcdef", "01234567-89ab-cde-f0123-456789abcdef",
        "01234567-89ab-cdef-01234-56789abcdef", "01234567089ab-cdef-0123-456789abcdef",
        "01234567-89ab-cdef-0123-456789abcde-", "-1234567-89ab-cdef-0123-456789abcdef",
        "0x0123456789abcdef0123456789abcdef", "0x23456789abcdef0123456789abcdef",
        "0123456789abcdef0123456789abcde\xc3\xa9",    // 32 characters, 33 bytes
        "0123456789abcdef0123456789abcd\xc3\xa9",     // 32 bytes, the last two not ASCII
        "01234567-89ab-cdef-0123-456789abcd\xc3\xa9",  // 36 bytes
        "0123456789abcdef0123456789abcdef\0"s.substr(0, 33)));

TEST(TextParseTest, EverySingleByteChangeOfEveryFormIsRejectedUnlessItSwapsADigit) {
  // Digits of both cases, the neighbours of each hexadecimal range, separators and brackets,
  // letters of the URN prefix in both cases, NUL and bytes above ASCII.
  const std::string candidates =
      std::string("0123456789abcdefABCDEF/:@G`g-{}() xUuRrNnIiDd\x7f\x80\xb0\xff") + '\0';
  const std::string hyphenated(kHyphenated);
  const std::vector<std::string> forms = {std::string(kHex), hyphenated,
                                          std::string("{") + hyphenated + "}",
                                          std::string("urn:uuid:") + hyphenated};
  for (const std::string& form : forms) {
    ASSERT_TRUE(parse(form).has_value()) << form;
    // The 'd' of "urn:uuid:" is a letter of the prefix, not a digit.
    const size_t prefix = form.starts_with("urn:uuid:") ? 9 : 0;
    for (size_t at = 0; at < form.size(); ++at) {
      const bool digit_place = at >= prefix && std::isxdigit(static_cast<unsigned char>(form[at]));
      for (char c : candidates) {
        if (c == form[at]) continue;
        std::string text = form;
        text[at] = c;
        const bool hex = std::isxdigit(static_cast<unsigned char>(c));
        EXPECT_EQ(parse(text).has_value(), digit_place && hex)
            << form << " byte " << at << " = 0x" << std::hex << int{static_cast<unsigned char>(c)};
      }
    }
  }
}

TEST(TextParseTest, EveryOtherLengthUpTo50IsRejected) {
  // Hex digits only, and a hyphenated body cut short or grown by digits: both would decode if
  // the length were not checked first.
  const std::string digits = std::string(kHex) + std::string(kHex);
  const std::string grown = std::string(kHyphenated) + std::string(kHex);
  for (size_t length = 0; length <= 50; ++length) {
    if (length == 32 || length == 36 || length == 38 || length == 45) continue;
    EXPECT_EQ(parsed(digits.substr(0, length)), "rejected") << length << " digits";
    EXPECT_EQ(parsed(grown.substr(0, length)), "rejected") << length << " bytes of hyphenated";
    if (length >= 2) {
      std::string braced = "{";
      braced.append(grown, 0, length - 2).push_back('}');
      EXPECT_EQ(parsed(braced), "rejected") << length << " braced bytes";
    }
  }
}

TEST(TextParseTest, ReadsExactlyTheGivenLength) {
  // Only the first 32 bytes are given: the hyphen after them must not be looked at.
  const std::string text = std::string(kHex) + "-ab";
  EXPECT_EQ(hex_of(*parse_uuid_text(text.data(), 32)), kHex);
}

TEST(TextFormatTest, NilMaxAndAFixedValueInEveryForm) {
  const UuidValue nil{};
  const UuidValue max = UuidValue::from_halves(~0ULL, ~0ULL);
  const UuidValue counting = UuidValue::from_halves(0x0011223344556677ULL, 0x8899AABBCCDDEEFFULL);

  // Each formatter writes into a larger buffer of sentinels: it must write exactly its length.
  const auto run = [](auto format, size_t length, const UuidValue& v) {
    std::string buffer(length + 8, '#');
    format(v, buffer.data());
    EXPECT_EQ(buffer.substr(length), std::string(8, '#')) << "wrote past " << length;
    return buffer.substr(0, length);
  };
  EXPECT_EQ(run(format_hyphenated, kHyphenatedLength, nil), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(run(format_hyphenated, kHyphenatedLength, max), "ffffffff-ffff-ffff-ffff-ffffffffffff");
  EXPECT_EQ(run(format_hyphenated, kHyphenatedLength, counting),
            "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(run(format_simple, kSimpleLength, counting), "00112233445566778899aabbccddeeff");
  EXPECT_EQ(run(format_simple, kSimpleLength, nil), "00000000000000000000000000000000");
  EXPECT_EQ(run(format_urn, kUrnLength, counting), "urn:uuid:00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(run(format_urn, kUrnLength, nil).size(), 45u);
  EXPECT_EQ(run(format_repr, kReprLength, max), "UUID('ffffffff-ffff-ffff-ffff-ffffffffffff')");
  EXPECT_EQ(run(format_repr, kReprLength, counting), "UUID('00112233-4455-6677-8899-aabbccddeeff')");
}

TEST(TextFormatTest, RandomValuesRoundTripThroughEveryParsableFormInLowercase) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 2000; ++i) {
    const UuidValue v = UuidValue::from_halves(rng(), rng());
    char simple[kSimpleLength], hyphenated[kHyphenatedLength], urn[kUrnLength], repr[kReprLength];
    format_simple(v, simple);
    format_hyphenated(v, hyphenated);
    format_urn(v, urn);
    format_repr(v, repr);
    const std::string texts[] = {std::string(simple, sizeof simple),
                                 std::string(hyphenated, sizeof hyphenated),
                                 std::string(urn, sizeof urn),
                                 std::string("{") + std::string(hyphenated, sizeof hyphenated) + "}"};
    for (const std::string& text : texts) {
      EXPECT_EQ(parse(text), v) << text;
      for (char c : text) ASSERT_FALSE(std::isupper(static_cast<unsigned char>(c))) << text;
    }
    // repr is not parsed; it wraps the hyphenated form.
    EXPECT_EQ(std::string(repr, sizeof repr), std::string("UUID('") + texts[1] + "')");
  }
}

}  // namespace
}  // namespace vantor

#if defined(__SSE2__)
// The vector decoder must agree with the portable one on every byte value in every lane: each
// of the 256 byte values is tried at each of the 32 positions of an otherwise valid text.
TEST(TextDecodeSse2, AgreesWithPortableOnEveryByteAtEveryPosition) {
  const uint8_t base[] = "0123456789abcdefABCDEF0123456789";
  for (int position = 0; position < 32; ++position) {
    for (int byte = 0; byte < 256; ++byte) {
      uint8_t digits[32];
      std::memcpy(digits, base, 32);
      digits[position] = static_cast<uint8_t>(byte);
      EXPECT_EQ(vantor::decode_hex_digits_sse2(digits), vantor::decode_hex_digits_portable(digits))
          << "byte " << byte << " at " << position;
    }
  }
}

TEST(TextDecodeSse2, AgreesWithPortableOnRandomDigitStrings) {
  std::mt19937_64 random(20261210);
  const char alphabet[] = "0123456789abcdefABCDEF";
  for (int round = 0; round < 20000; ++round) {
    uint8_t digits[32];
    for (auto& d : digits) d = static_cast<uint8_t>(alphabet[random() % 22]);
    auto expected = vantor::decode_hex_digits_portable(digits);
    ASSERT_TRUE(expected.has_value());
    ASSERT_EQ(vantor::decode_hex_digits_sse2(digits), expected);
  }
}
#endif
