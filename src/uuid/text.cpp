#include "uuid/text.hpp"

#include <cstring>

namespace vantor {
namespace {

// 0xFF marks a byte that is not a hexadecimal digit.
constexpr std::array<uint8_t, 256> make_hex_table() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = 0xFF;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
  return table;
}
constexpr auto kHexValue = make_hex_table();

// Offsets of the 32 digits within a hyphenated body: hyphens stand at 8, 13, 18 and 23.
constexpr std::array<uint8_t, 32> kHyphenatedDigitOffsets = {
    0,  1,  2,  3,  4,  5,  6,  7,  9,  10, 11, 12, 14, 15, 16, 17,
    19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};

std::optional<UuidValue> decode_digits(const uint8_t* digits) noexcept {
  // Or-ing every nibble lets one test at the end catch any invalid byte.
  uint8_t invalid = 0;
  UuidValue value;
  for (int i = 0; i < 16; ++i) {
    uint8_t hi = kHexValue[digits[2 * i]];
    uint8_t lo = kHexValue[digits[2 * i + 1]];
    invalid |= hi | lo;
    value.bytes[i] = static_cast<uint8_t>((hi << 4) | (lo & 0x0F));
  }
  if (invalid & 0xF0) return std::nullopt;
  return value;
}

std::optional<UuidValue> parse_hyphenated(const uint8_t* body) noexcept {
  if (body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') return std::nullopt;
  uint8_t digits[32];
  for (int i = 0; i < 32; ++i) digits[i] = body[kHyphenatedDigitOffsets[i]];
  return decode_digits(digits);
}

constexpr char kLowerHex[] = "0123456789abcdef";

}  // namespace

std::optional<UuidValue> parse_uuid_text(const char* text, size_t length) noexcept {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  switch (length) {
    case 32:
      return decode_digits(bytes);
    case 36:
      return parse_hyphenated(bytes);
    case 38:
      if (bytes[0] != '{' || bytes[37] != '}') return std::nullopt;
      return parse_hyphenated(bytes + 1);
    case 45:
      if (std::memcmp(bytes, "urn:uuid:", 9) != 0) return std::nullopt;
      return parse_hyphenated(bytes + 9);
    default:
      return std::nullopt;
  }
}

void format_simple(const UuidValue& value, char out[kSimpleLength]) noexcept {
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kLowerHex[value.bytes[i] >> 4];
    out[2 * i + 1] = kLowerHex[value.bytes[i] & 0x0F];
  }
}

void format_hyphenated(const UuidValue& value, char out[kHyphenatedLength]) noexcept {
  char digits[kSimpleLength];
  format_simple(value, digits);
  for (int i = 0; i < 32; ++i) out[kHyphenatedDigitOffsets[i]] = digits[i];
  out[8] = out[13] = out[18] = out[23] = '-';
}

void format_urn(const UuidValue& value, char out[kUrnLength]) noexcept {
  std::memcpy(out, "urn:uuid:", 9);
  format_hyphenated(value, out + 9);
}

void format_repr(const UuidValue& value, char out[kReprLength]) noexcept {
  std::memcpy(out, "UUID('", 6);
  format_hyphenated(value, out + 6);
  std::memcpy(out + 42, "')", 2);
}

}  // namespace vantor
