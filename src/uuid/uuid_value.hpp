// The native UUID: 16 bytes in network order (byte 0 most significant), equal to one unsigned
// 128-bit big-endian integer. Every bit pattern is a valid value.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/byte_order.hpp"

namespace vantor {

using u128 = unsigned __int128;

// 100-ns intervals from 1582-10-15T00:00:00Z (Gregorian reform) to 1970-01-01T00:00:00Z.
inline constexpr uint64_t kGregorianOffset = 0x01B21DD213814000ULL;

enum class Variant : uint8_t { reserved_ncs, rfc_4122, reserved_microsoft, reserved_future };

struct Fields {
  uint32_t time_low;
  uint16_t time_mid;
  uint16_t time_hi_version;
  uint8_t clock_seq_hi_variant;
  uint8_t clock_seq_low;
  uint64_t node;  // 48 bits
};

struct UuidValue {
  std::array<uint8_t, 16> bytes{};

  // Bytes 0-7 and 8-15 as big-endian 64-bit numbers.
  uint64_t high() const noexcept { return load_be64(bytes.data()); }
  uint64_t low() const noexcept { return load_be64(bytes.data() + 8); }

  static UuidValue from_halves(uint64_t high, uint64_t low) noexcept {
    UuidValue v;
    store_be64(v.bytes.data(), high);
    store_be64(v.bytes.data() + 8, low);
    return v;
  }
  static UuidValue from_u128(u128 n) noexcept {
    return from_halves(static_cast<uint64_t>(n >> 64), static_cast<uint64_t>(n));
  }
  static UuidValue from_bytes(const uint8_t* src) noexcept {
    UuidValue v;
    std::memcpy(v.bytes.data(), src, 16);
    return v;
  }
  // `src` is the little-endian byte form (the three time fields byte-reversed).
  static UuidValue from_bytes_le(const uint8_t* src) noexcept {
    UuidValue v = from_bytes(src);
    v.bytes = to_le_order(v.bytes);
    return v;
  }
  // Fails (nullopt) when node does not fit in 48 bits.
  static std::optional<UuidValue> from_fields(const Fields& f) noexcept {
    if (f.node >> 48) return std::nullopt;
    uint64_t high = (uint64_t{f.time_low} << 32) | (uint64_t{f.time_mid} << 16) | f.time_hi_version;
    uint64_t low = (uint64_t{f.clock_seq_hi_variant} << 56) | (uint64_t{f.clock_seq_low} << 48) | f.node;
    return from_halves(high, low);
  }

  u128 to_u128() const noexcept { return (u128{high()} << 64) | low(); }
  std::array<uint8_t, 16> to_bytes_le() const noexcept { return to_le_order(bytes); }

  uint32_t time_low() const noexcept { return static_cast<uint32_t>(high() >> 32); }
  uint16_t time_mid() const noexcept { return static_cast<uint16_t>(high() >> 16); }
  uint16_t time_hi_version() const noexcept { return static_cast<uint16_t>(high()); }
  uint8_t clock_seq_hi_variant() const noexcept { return bytes[8]; }
  uint8_t clock_seq_low() const noexcept { return bytes[9]; }
  uint16_t clock_seq() const noexcept { return static_cast<uint16_t>(((bytes[8] & 0x3F) << 8) | bytes[9]); }
  uint64_t node() const noexcept { return low() & 0xFFFF'FFFF'FFFFULL; }
  Fields fields() const noexcept {
    return {time_low(), time_mid(), time_hi_version(), clock_seq_hi_variant(), clock_seq_low(), node()};
  }

  uint8_t version_nibble() const noexcept { return bytes[6] >> 4; }
  Variant variant() const noexcept {
    uint8_t b = bytes[8];
    if (b < 0x80) return Variant::reserved_ncs;
    if (b < 0xC0) return Variant::rfc_4122;
    if (b < 0xE0) return Variant::reserved_microsoft;
    return Variant::reserved_future;
  }
  // The version is reported only for the RFC 4122 variant, whatever the nibble holds.
  std::optional<uint8_t> version() const noexcept {
    if (variant() != Variant::rfc_4122) return std::nullopt;
    return version_nibble();
  }

  // Tick count (versions 1 and 6, 60 bits) or millisecond field (version 7, 48 bits).
  uint64_t time() const noexcept {
    if (variant() == Variant::rfc_4122) {
      if (version_nibble() == 6) return v6_ticks();
      if (version_nibble() == 7) return high() >> 16;
    }
    return v1_ticks();
  }
  // Milliseconds since the Unix epoch for nibbles 1, 6 and 7 (the variant is not looked at).
  // Times before 1970 give a negative count: floor division, not a wrapped unsigned value.
  std::optional<int64_t> timestamp() const noexcept {
    switch (version_nibble()) {
      case 7: return static_cast<int64_t>(high() >> 16);
      case 6: return ticks_to_unix_millis(v6_ticks());
      case 1: return ticks_to_unix_millis(v1_ticks());
      default: return std::nullopt;
    }
  }

  uint64_t v1_ticks() const noexcept {
    return (uint64_t{time_hi_version() & 0x0FFFu} << 48) | (uint64_t{time_mid()} << 32) | time_low();
  }
  uint64_t v6_ticks() const noexcept {
    return (uint64_t{time_low()} << 28) | (uint64_t{time_mid()} << 12) | (time_hi_version() & 0x0FFFu);
  }

  friend bool operator==(const UuidValue&, const UuidValue&) = default;

 private:
  static int64_t ticks_to_unix_millis(uint64_t ticks) noexcept {
    // Ticks are at most 2^60 - 1, so the difference fits in a signed 64-bit number.
    int64_t delta = static_cast<int64_t>(ticks) - static_cast<int64_t>(kGregorianOffset);
    int64_t q = delta / 10000;
    if (delta % 10000 < 0) --q;
    return q;
  }
  static std::array<uint8_t, 16> to_le_order(const std::array<uint8_t, 16>& b) noexcept {
    return {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6],
            b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
  }
};

// Writes version v (1..8) and the RFC 4122 variant; the other 122 bits are kept.
// REQUIRES: 1 <= v <= 8.
inline UuidValue apply_version(UuidValue value, uint8_t v) noexcept {
  value.bytes[6] = static_cast<uint8_t>((v << 4) | (value.bytes[6] & 0x0F));
  value.bytes[8] = static_cast<uint8_t>((value.bytes[8] & 0x3F) | 0x80);
  return value;
}

}  // namespace vantor
