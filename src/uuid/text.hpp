// UUID text forms. Parsing is strict and fixed-length: simple (32), hyphenated (36),
// braced (38) and URN (45) bytes; anything else is rejected without detail.
// Formatting always writes lowercase digits into a caller's fixed buffer.
#pragma once

#include <cstddef>
#include <optional>

#include "uuid/uuid_value.hpp"

namespace vantor {

inline constexpr size_t kSimpleLength = 32;
inline constexpr size_t kHyphenatedLength = 36;
inline constexpr size_t kUrnLength = 45;
inline constexpr size_t kReprLength = 44;

std::optional<UuidValue> parse_uuid_text(const char* text, size_t length) noexcept;

void format_simple(const UuidValue& value, char out[kSimpleLength]) noexcept;
void format_hyphenated(const UuidValue& value, char out[kHyphenatedLength]) noexcept;
void format_urn(const UuidValue& value, char out[kUrnLength]) noexcept;
void format_repr(const UuidValue& value, char out[kReprLength]) noexcept;

// The 32 digits of the simple form to a value, nullopt if any byte is not a hexadecimal digit.
// parse_uuid_text uses the SSE2 version where the target has SSE2 (every x86-64 CPU); both are
// exposed so that tests can hold them against each other.
std::optional<UuidValue> decode_hex_digits_portable(const uint8_t* digits) noexcept;
#if defined(__SSE2__)
std::optional<UuidValue> decode_hex_digits_sse2(const uint8_t* digits) noexcept;
#endif

}  // namespace vantor
