// Fuzzes vantor::parse_uuid_text against a deliberately naive reference parser written here, and
// checks that every accepted text survives the trip through each formatter.
//
// The reference reads character by character, with no tables and no vectors, so a fault in the
// core's digit classification, in how it gathers the digits around the hyphens or in its length
// dispatch shows up as a disagreement. libFuzzer hands over a
// buffer of exactly `size` bytes, so AddressSanitizer also catches any read past the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "uuid/text.hpp"
#include "uuid/uuid_value.hpp"

namespace {

using vantor::UuidValue;

[[noreturn]] void fail(const char* what, const std::string& input) {
  std::fprintf(stderr, "fuzz_text: %s\ninput (%zu bytes): \"", what, input.size());
  for (unsigned char c : input) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') std::fputc(c, stderr);
    else std::fprintf(stderr, "\\x%02x", c);
  }
  std::fputs("\"\n", stderr);
  std::abort();
}

int reference_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Python's uuid.UUID(hex) without its forgiving stripping: exactly the four fixed layouts.
std::optional<UuidValue> reference_parse(const std::string& text) {
  std::string body;
  if (text.size() == 32) {
    body = text;
  } else {
    std::string hyphenated;
    if (text.size() == 36) {
      hyphenated = text;
    } else if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
      hyphenated = text.substr(1, 36);
    } else if (text.size() == 45 && text.compare(0, 9, "urn:uuid:") == 0) {
      hyphenated = text.substr(9);
    } else {
      return std::nullopt;
    }
    for (size_t i = 0; i < hyphenated.size(); ++i) {
      bool hyphen_place = i == 8 || i == 13 || i == 18 || i == 23;
      if (hyphen_place) {
        if (hyphenated[i] != '-') return std::nullopt;
      } else {
        body += hyphenated[i];
      }
    }
  }
  vantor::u128 n = 0;
  for (unsigned char c : body) {
    int d = reference_digit(c);
    if (d < 0) return std::nullopt;
    n = (n << 4) | static_cast<unsigned>(d);
  }
  return UuidValue::from_u128(n);
}

std::string reference_simple(const UuidValue& value) {
  std::string out;
  char pair[3];
  for (uint8_t b : value.bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

std::string reference_hyphenated(const UuidValue& value) {
  std::string s = reference_simple(value);
  return s.substr(0, 8) + "-" + s.substr(8, 4) + "-" + s.substr(12, 4) + "-" + s.substr(16, 4) +
         "-" + s.substr(20);
}

// Parses `text` from a heap copy of exactly its length, so that an over-read is caught.
std::optional<UuidValue> parse_exact(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() ? text.size() : 1));
  std::memcpy(copy, text.data(), text.size());
  std::optional<UuidValue> value = vantor::parse_uuid_text(copy, text.size());
  std::free(copy);
  return value;
}

void expect_parses_to(const std::string& text, const UuidValue& expected, const char* what,
                      const std::string& input) {
  std::optional<UuidValue> again = parse_exact(text);
  if (!again) fail(what, input);
  if (*again != expected) fail(what, input);
}

// Both digit decoders, whichever parse_uuid_text uses on this machine, agree with the reference
// on the first 32 bytes.
void check_decoders(const std::string& input) {
  if (input.size() < vantor::kSimpleLength) return;
  const std::string digits = input.substr(0, vantor::kSimpleLength);
  std::optional<UuidValue> expected = reference_parse(digits);
  auto* copy = static_cast<uint8_t*>(std::malloc(vantor::kSimpleLength));
  std::memcpy(copy, digits.data(), vantor::kSimpleLength);
  std::optional<UuidValue> portable = vantor::decode_hex_digits_portable(copy);
#if defined(__SSE2__)
  std::optional<UuidValue> sse2 = vantor::decode_hex_digits_sse2(copy);
#endif
  std::free(copy);
  if (portable != expected) fail("decode_hex_digits_portable differs from the reference", digits);
#if defined(__SSE2__)
  if (sse2 != expected) fail("decode_hex_digits_sse2 differs from the reference", digits);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  check_decoders(input);
  std::optional<UuidValue> parsed = vantor::parse_uuid_text(reinterpret_cast<const char*>(data), size);
  std::optional<UuidValue> expected = reference_parse(input);

  if (parsed.has_value() != expected.has_value())
    fail(parsed ? "accepted a text the reference rejects" : "rejected a text the reference accepts",
         input);
  if (!parsed) return 0;
  if (size != 32 && size != 36 && size != 38 && size != 45) fail("accepted an unexpected length", input);
  if (*parsed != *expected) fail("parsed to a different value than the reference", input);
  const UuidValue value = *parsed;

  // Every formatter writes exactly its fixed length, in lowercase, and reads back to the value.
  char simple[vantor::kSimpleLength + 1];
  char hyphenated[vantor::kHyphenatedLength + 1];
  char urn[vantor::kUrnLength + 1];
  char repr[vantor::kReprLength + 1];
  simple[vantor::kSimpleLength] = hyphenated[vantor::kHyphenatedLength] = '\x7f';
  urn[vantor::kUrnLength] = repr[vantor::kReprLength] = '\x7f';
  vantor::format_simple(value, simple);
  vantor::format_hyphenated(value, hyphenated);
  vantor::format_urn(value, urn);
  vantor::format_repr(value, repr);
  if (simple[vantor::kSimpleLength] != '\x7f' || hyphenated[vantor::kHyphenatedLength] != '\x7f' ||
      urn[vantor::kUrnLength] != '\x7f' || repr[vantor::kReprLength] != '\x7f')
    fail("a formatter wrote past its length", input);

  const std::string simple_text(simple, vantor::kSimpleLength);
  const std::string hyphenated_text(hyphenated, vantor::kHyphenatedLength);
  const std::string urn_text(urn, vantor::kUrnLength);
  const std::string repr_text(repr, vantor::kReprLength);
  if (simple_text != reference_simple(value)) fail("format_simple differs from the reference", input);
  if (hyphenated_text != reference_hyphenated(value))
    fail("format_hyphenated differs from the reference", input);
  if (urn_text != "urn:uuid:" + hyphenated_text) fail("format_urn differs from the reference", input);
  if (repr_text != "UUID('" + hyphenated_text + "')") fail("format_repr differs from the reference", input);

  expect_parses_to(simple_text, value, "the simple form does not read back", input);
  expect_parses_to(hyphenated_text, value, "the hyphenated form does not read back", input);
  expect_parses_to("{" + hyphenated_text + "}", value, "the braced form does not read back", input);
  expect_parses_to(urn_text, value, "the URN form does not read back", input);

  // Case of the digits never matters: an accepted text has a lowercase prefix, if any, so
  // lowercasing all of it keeps it valid; uppercasing changes only digits past the prefix.
  std::string lower = input;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  expect_parses_to(lower, value, "the lowercased text parses differently", input);
  std::string upper = input;
  for (size_t i = (size == vantor::kUrnLength ? 9 : 0); i < upper.size(); ++i)
    if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
  expect_parses_to(upper, value, "the uppercased text parses differently", input);

  // One byte more or less is never a valid text.
  if (parse_exact(input + "0")) fail("accepted the text with a digit appended", input);
  if (parse_exact(input.substr(0, size - 1))) fail("accepted the text with its last byte cut", input);
  return 0;
}
