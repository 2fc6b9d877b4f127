// The portable version/variant pass and the choice between the passes. Compiled for the baseline
// instruction set.
#include "random/version_bits.hpp"

#include <cstring>

#include "random/chacha.hpp"

namespace vantor {

void set_version_bits_portable(uint8_t* out, size_t count, uint8_t version) noexcept {
  // Two 64-bit words per value, with masks laid out as bytes so that they hold in either byte
  // order. The compiler turns the loop into the target's baseline vectors (SSE2, NEON); written
  // byte by byte it does much worse.
  uint8_t keep_bytes[16], set_bytes[16] = {};
  std::memset(keep_bytes, 0xFF, sizeof keep_bytes);
  keep_bytes[6] = 0x0F;
  keep_bytes[8] = 0x3F;
  set_bytes[6] = static_cast<uint8_t>(version << 4);
  set_bytes[8] = 0x80;
  uint64_t keep[2], set[2];
  std::memcpy(keep, keep_bytes, sizeof keep);
  std::memcpy(set, set_bytes, sizeof set);
  for (size_t i = 0; i < count; ++i, out += 16) {
    uint64_t words[2];
    std::memcpy(words, out, sizeof words);
    words[0] = (words[0] & keep[0]) | set[0];
    words[1] = (words[1] & keep[1]) | set[1];
    std::memcpy(out, words, sizeof words);
  }
}

void set_version_bits(uint8_t* out, size_t count, uint8_t version) noexcept {
  switch (simd_level()) {
#if defined(__x86_64__)
    case SimdLevel::avx512:
      set_version_bits_avx512(out, count, version);
      return;
    case SimdLevel::avx2:
      set_version_bits_avx2(out, count, version);
      return;
#endif
    default:
      set_version_bits_portable(out, count, version);
      return;
  }
}

}  // namespace vantor
