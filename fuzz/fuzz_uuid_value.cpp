// Fuzzes the constructors and accessors of vantor::UuidValue against reference computations
// written here with plain 128-bit arithmetic, the way Python's uuid module defines each field.
//
// Input layout: bytes 0-15 are the value (missing bytes read as zero); byte 16 picks a version
// for apply_version; bytes 17-24 are an arbitrary node for from_fields, which must reject any
// node wider than 48 bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "uuid/uuid_value.hpp"

namespace {

using vantor::u128;
using vantor::UuidValue;
using vantor::Variant;

const uint8_t* g_data;
size_t g_size;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_uuid_value: %s\ninput:", what);
  for (size_t i = 0; i < g_size; ++i) std::fprintf(stderr, " %02x", g_data[i]);
  std::fputc('\n', stderr);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

u128 reference_int(const uint8_t bytes[16]) {
  u128 n = 0;
  for (int i = 0; i < 16; ++i) n = (n << 8) | bytes[i];
  return n;
}

uint64_t bits(u128 n, int shift, int width) {
  return static_cast<uint64_t>((n >> shift) & ((u128{1} << width) - 1));
}

// Floor division, as Python's // does for negative times (before 1970).
int64_t reference_unix_millis(uint64_t ticks) {
  __int128 delta = static_cast<__int128>(ticks) - static_cast<__int128>(vantor::kGregorianOffset);
  __int128 q = delta / 10000;
  if (delta % 10000 != 0 && delta < 0) --q;
  return static_cast<int64_t>(q);
}

void check_accessors(const UuidValue& v) {
  const u128 n = reference_int(v.bytes.data());
  check(v.to_u128() == n, "to_u128 differs from the big-endian reading of the bytes");
  check(v.high() == static_cast<uint64_t>(n >> 64), "high()");
  check(v.low() == static_cast<uint64_t>(n), "low()");

  const uint64_t time_low = bits(n, 96, 32), time_mid = bits(n, 80, 16);
  const uint64_t time_hi_version = bits(n, 64, 16), clock_seq_hi_variant = bits(n, 56, 8);
  const uint64_t clock_seq_low = bits(n, 48, 8), node = bits(n, 0, 48);
  check(v.time_low() == time_low, "time_low()");
  check(v.time_mid() == time_mid, "time_mid()");
  check(v.time_hi_version() == time_hi_version, "time_hi_version()");
  check(v.clock_seq_hi_variant() == clock_seq_hi_variant, "clock_seq_hi_variant()");
  check(v.clock_seq_low() == clock_seq_low, "clock_seq_low()");
  check(v.node() == node, "node()");
  check(v.clock_seq() == (((clock_seq_hi_variant & 0x3F) << 8) | clock_seq_low), "clock_seq()");

  const vantor::Fields f = v.fields();
  check(f.time_low == time_low && f.time_mid == time_mid && f.time_hi_version == time_hi_version &&
            f.clock_seq_hi_variant == clock_seq_hi_variant && f.clock_seq_low == clock_seq_low &&
            f.node == node,
        "fields() differs from the individual fields");
  std::optional<UuidValue> rebuilt = UuidValue::from_fields(f);
  check(rebuilt.has_value() && *rebuilt == v, "from_fields(fields()) does not give the value back");

  // Variant from the top three bits of byte 8; version only for the RFC 4122 variant.
  Variant variant;
  if (!(n & (u128{1} << 63))) variant = Variant::reserved_ncs;
  else if (!(n & (u128{1} << 62))) variant = Variant::rfc_4122;
  else if (!(n & (u128{1} << 61))) variant = Variant::reserved_microsoft;
  else variant = Variant::reserved_future;
  check(v.variant() == variant, "variant()");
  const uint8_t nibble = static_cast<uint8_t>(bits(n, 76, 4));
  check(v.version_nibble() == nibble, "version_nibble()");
  std::optional<uint8_t> version = v.version();
  if (variant == Variant::rfc_4122) check(version == nibble, "version() of an RFC 4122 value");
  else check(!version.has_value(), "version() of a value of another variant");

  const uint64_t v1_ticks = ((time_hi_version & 0x0FFF) << 48) | (time_mid << 32) | time_low;
  const uint64_t v6_ticks = (time_low << 28) | (time_mid << 12) | (time_hi_version & 0x0FFF);
  const uint64_t v7_millis = bits(n, 80, 48);
  check(v.v1_ticks() == v1_ticks, "v1_ticks()");
  check(v.v6_ticks() == v6_ticks, "v6_ticks()");
  uint64_t time = v1_ticks;
  if (variant == Variant::rfc_4122 && nibble == 6) time = v6_ticks;
  if (variant == Variant::rfc_4122 && nibble == 7) time = v7_millis;
  check(v.time() == time, "time()");

  std::optional<int64_t> timestamp = v.timestamp();
  switch (nibble) {
    case 1: check(timestamp == reference_unix_millis(v1_ticks), "timestamp() of nibble 1"); break;
    case 6: check(timestamp == reference_unix_millis(v6_ticks), "timestamp() of nibble 6"); break;
    case 7: check(timestamp == static_cast<int64_t>(v7_millis), "timestamp() of nibble 7"); break;
    default: check(!timestamp.has_value(), "timestamp() of a nibble without a time"); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
  uint8_t raw[16] = {};
  std::memcpy(raw, data, size < 16 ? size : 16);

  const UuidValue v = UuidValue::from_bytes(raw);
  check(std::memcmp(v.bytes.data(), raw, 16) == 0, "from_bytes does not keep the bytes");
  check_accessors(v);

  const u128 n = reference_int(raw);
  check(UuidValue::from_u128(n) == v, "from_u128 differs from from_bytes");
  check(UuidValue::from_halves(static_cast<uint64_t>(n >> 64), static_cast<uint64_t>(n)) == v,
        "from_halves differs from from_bytes");

  // Little-endian form: the first three fields byte-reversed, the last eight bytes as they are.
  const std::array<uint8_t, 16> le = v.to_bytes_le();
  const uint8_t expected_le[16] = {raw[3], raw[2], raw[1], raw[0], raw[5], raw[4], raw[7], raw[6],
                                   raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
  check(std::memcmp(le.data(), expected_le, 16) == 0, "to_bytes_le");
  check(UuidValue::from_bytes_le(le.data()) == v, "from_bytes_le(to_bytes_le()) does not give the value back");
  const UuidValue from_le = UuidValue::from_bytes_le(raw);
  check(from_le.to_bytes_le() == v.bytes, "to_bytes_le(from_bytes_le()) does not give the bytes back");
  check_accessors(from_le);

  // apply_version writes the nibble and the variant and keeps the other 122 bits.
  const uint8_t version = static_cast<uint8_t>(1 + (size > 16 ? data[16] % 8 : 3));
  const UuidValue applied = vantor::apply_version(v, version);
  const u128 kept = ~((u128{0xF} << 76) | (u128{0x3} << 62));
  check((applied.to_u128() & kept) == (n & kept), "apply_version changed a bit it must keep");
  check(applied.version_nibble() == version, "apply_version did not write the nibble");
  check(applied.variant() == Variant::rfc_4122, "apply_version did not write the variant");
  check(applied.version() == version, "version() after apply_version");
  check(vantor::apply_version(applied, version) == applied, "apply_version is not idempotent");
  check_accessors(applied);

  // from_fields with an arbitrary node: nothing wider than 48 bits is accepted.
  if (size >= 25) {
    uint64_t node = 0;
    for (int i = 17; i < 25; ++i) node = (node << 8) | data[i];
    vantor::Fields f = v.fields();
    f.node = node;
    std::optional<UuidValue> built = UuidValue::from_fields(f);
    if (node >> 48) {
      check(!built.has_value(), "from_fields accepted a node wider than 48 bits");
    } else {
      check(built.has_value(), "from_fields rejected a 48-bit node");
      check(built->to_u128() == ((n & ~((u128{1} << 48) - 1)) | node), "from_fields placed the node wrongly");
    }
  }
  return 0;
}
