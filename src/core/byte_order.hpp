// Multi-byte values read from and written to byte arrays in a stated byte order. The only place
// that knows the host's order: a swap happens exactly when the stated order is not the host's,
// so the same code is right on little- and big-endian machines.
//
// Keep it out of files compiled for a particular instruction set: an inline function
// instantiated there could be the copy the linker keeps for every other caller.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

namespace vantor {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "mixed-endian hosts are not supported");

// `x` as stored in `order` would read on this host (a swap or nothing; its own inverse).
template <std::endian order, std::unsigned_integral T>
constexpr T to_order(T x) noexcept {
  if constexpr (order == std::endian::native || sizeof(T) == 1) {
    return x;
  } else {
    return std::byteswap(x);
  }
}

template <std::endian order, std::unsigned_integral T>
inline T load(const uint8_t* src) noexcept {
  T x;
  std::memcpy(&x, src, sizeof x);
  return to_order<order>(x);
}

template <std::endian order, std::unsigned_integral T>
inline void store(uint8_t* dst, T x) noexcept {
  x = to_order<order>(x);
  std::memcpy(dst, &x, sizeof x);
}

inline uint32_t load_le32(const uint8_t* src) noexcept { return load<std::endian::little, uint32_t>(src); }
inline uint32_t load_be32(const uint8_t* src) noexcept { return load<std::endian::big, uint32_t>(src); }
inline uint64_t load_be64(const uint8_t* src) noexcept { return load<std::endian::big, uint64_t>(src); }
inline void store_le32(uint8_t* dst, uint32_t x) noexcept { store<std::endian::little>(dst, x); }
inline void store_be32(uint8_t* dst, uint32_t x) noexcept { store<std::endian::big>(dst, x); }
inline void store_be64(uint8_t* dst, uint64_t x) noexcept { store<std::endian::big>(dst, x); }

}  // namespace vantor
