// The version and variant fields of many 16-byte UUID values at once, set over random bytes
// while they are still in the first-level cache. One implementation per instruction set, as for
// ChaCha (chacha.hpp); set_version_bits picks one by simd_level().
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantor {

// For each of the `count` values at out[16 * i]: the high four bits of byte 6 become `version`
// (0 to 15) and the two high bits of byte 8 become 0b10 (RFC 9562's variant). Every other bit
// stays. No alignment is needed.
void set_version_bits(uint8_t* out, size_t count, uint8_t version) noexcept;

void set_version_bits_portable(uint8_t* out, size_t count, uint8_t version) noexcept;
#if defined(__x86_64__)
// Only callable when simd_level() is avx2 or avx512.
void set_version_bits_avx2(uint8_t* out, size_t count, uint8_t version) noexcept;
// Only callable when simd_level() is avx512.
void set_version_bits_avx512(uint8_t* out, size_t count, uint8_t version) noexcept;
#endif

}  // namespace vantor
