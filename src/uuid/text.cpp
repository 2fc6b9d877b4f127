#include "uuid/text.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

}  // namespace

#if defined(__SSE2__)
namespace {

inline __m128i load16(const uint8_t* at) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Lanes first..last (inclusive) set, as a constant.
template <int First, int Last>
inline __m128i lanes() noexcept {
  static constexpr auto kMask = [] {
    std::array<uint8_t, 16> mask{};
    for (int i = First; i <= Last; ++i) mask[i] = 0xFF;
    return mask;
  }();
  return load16(kMask.data());
}

// Sixteen digit characters to their values (0-15); `valid` keeps only the lanes that were digits.
inline __m128i digit_values(__m128i text, int& valid) noexcept {
  // Unsigned "x <= limit" is min(x, limit) == x, as SSE2 has no unsigned byte compare.
  const __m128i decimal = _mm_sub_epi8(text, _mm_set1_epi8('0'));
  const __m128i is_decimal = _mm_cmpeq_epi8(_mm_min_epu8(decimal, _mm_set1_epi8(9)), decimal);
  // Setting 0x20 folds 'A'-'F' onto 'a'-'f' and moves no other byte into that range.
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(text, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
  valid &= _mm_movemask_epi8(_mm_or_si128(is_decimal, is_letter));
  return _mm_or_si128(_mm_and_si128(is_decimal, decimal),
                      _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

// Pairs of digit values (high digit first in memory) to bytes, one per 16-bit lane.
inline __m128i join_nibbles(__m128i values) noexcept {
  return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4),
                      _mm_srli_epi16(values, 8));
}

std::optional<UuidValue> decode_digit_vectors(__m128i first_text, __m128i second_text) noexcept {
  int valid = 0xFFFF;
  const __m128i first = digit_values(first_text, valid);
  const __m128i second = digit_values(second_text, valid);
  if (valid != 0xFFFF) return std::nullopt;
  UuidValue value;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(value.bytes.data()),
                   _mm_packus_epi16(join_nibbles(first), join_nibbles(second)));
  return value;
}

// The 32 digits of a hyphenated body (hyphens at 8, 13, 18, 23), gathered by loading at shifted
// offsets so that each group lands in its lanes; no load reaches past byte 35.
std::optional<UuidValue> decode_hyphenated_digits(const uint8_t* body) noexcept {
  const __m128i first = _mm_or_si128(_mm_or_si128(_mm_and_si128(load16(body), lanes<0, 7>()),
                                                  _mm_and_si128(load16(body + 1), lanes<8, 11>())),
                                     _mm_and_si128(load16(body + 2), lanes<12, 15>()));
  const __m128i second = _mm_or_si128(_mm_and_si128(load16(body + 19), lanes<0, 3>()),
                                      _mm_and_si128(load16(body + 20), lanes<4, 15>()));
  return decode_digit_vectors(first, second);
}

}  // namespace

std::optional<UuidValue> decode_hex_digits_sse2(const uint8_t* digits) noexcept {
  return decode_digit_vectors(load16(digits), load16(digits + 16));
}
#endif

std::optional<UuidValue> decode_hex_digits_portable(const uint8_t* digits) noexcept {
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

namespace {

std::optional<UuidValue> decode_digits(const uint8_t* digits) noexcept {
#if defined(__SSE2__)
  return decode_hex_digits_sse2(digits);
#else
  return decode_hex_digits_portable(digits);
#endif
}

std::optional<UuidValue> parse_hyphenated(const uint8_t* body) noexcept {
  if (body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') return std::nullopt;
#if defined(__SSE2__)
  return decode_hyphenated_digits(body);
#else
  uint8_t digits[32];
  std::memcpy(digits, body, 8);
  std::memcpy(digits + 8, body + 9, 4);
  std::memcpy(digits + 12, body + 14, 4);
  std::memcpy(digits + 16, body + 19, 4);
  std::memcpy(digits + 20, body + 24, 12);
  return decode_digits(digits);
#endif
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
