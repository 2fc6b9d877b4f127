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

// Where the two digits of each byte start: in the simple form, and in the hyphenated form, whose
// hyphens stand at offsets 8, 13, 18 and 23.
constexpr std::array<uint8_t, 16> kSimpleOffsets = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
constexpr std::array<uint8_t, 16> kHyphenatedOffsets = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

std::optional<UuidValue> decode_digits(const uint8_t* text, const std::array<uint8_t, 16>& offsets) noexcept {
  // Or-ing every nibble lets one test at the end catch any invalid byte.
  uint8_t invalid = 0;
  UuidValue value;
  for (int i = 0; i < 16; ++i) {
    uint8_t hi = kHexValue[text[offsets[i]]];
    uint8_t lo = kHexValue[text[offsets[i] + 1]];
    invalid |= hi | lo;
    value.bytes[i] = static_cast<uint8_t>((hi << 4) | (lo & 0x0F));
  }
  if (invalid & 0xF0) return std::nullopt;
  return value;
}

std::optional<UuidValue> parse_hyphenated(const uint8_t* body) noexcept {
  if (body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') return std::nullopt;
  return decode_digits(body, kHyphenatedOffsets);
}

// The two lowercase digits of every byte value.
constexpr std::array<std::array<char, 2>, 256> make_digit_pairs() {
  constexpr char kLowerHex[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> pairs{};
  for (int b = 0; b < 256; ++b) pairs[b] = {kLowerHex[b >> 4], kLowerHex[b & 0x0F]};
  return pairs;
}
constexpr auto kDigitPairs = make_digit_pairs();

void encode_digits(const UuidValue& value, char* out, const std::array<uint8_t, 16>& offsets) noexcept {
  for (int i = 0; i < 16; ++i) std::memcpy(out + offsets[i], kDigitPairs[value.bytes[i]].data(), 2);
}

}  // namespace

std::optional<UuidValue> parse_uuid_text(const char* text, size_t length) noexcept {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  switch (length) {
    case 32:
      return decode_digits(bytes, kSimpleOffsets);
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
  encode_digits(value, out, kSimpleOffsets);
}

void format_hyphenated(const UuidValue& value, char out[kHyphenatedLength]) noexcept {
  encode_digits(value, out, kHyphenatedOffsets);
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
