// The block handling MD5 and SHA-1 share: input is cut into 64-byte blocks for the compression
// function, and the last block is padded with 0x80, zeros and the message length in bits, in the
// hash's own byte order. Only md5.cpp and sha1.cpp include this; keep it out of files compiled
// for a particular instruction set.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/byte_order.hpp"

namespace vantor::detail {

inline constexpr size_t kHashBlockSize = 64;

using CompressFn = void (*)(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

// Feeds `n` bytes; `length` counts every byte so far, and the bytes of a partial block wait in
// `buffer`. Whole blocks are read where they lie; only a tail shorter than a block is copied.
template <CompressFn Compress>
void absorb(uint32_t* state, uint64_t& length, uint8_t* buffer, const uint8_t* data, size_t n) noexcept {
  if (n == 0) return;
  size_t used = static_cast<size_t>(length % kHashBlockSize);
  length += n;
  if (used != 0) {
    size_t take = std::min(n, kHashBlockSize - used);
    std::memcpy(buffer + used, data, take);
    if (used + take < kHashBlockSize) return;
    Compress(state, buffer, 1);
    data += take;
    n -= take;
  }
  size_t whole = n / kHashBlockSize;
  if (whole != 0) {
    Compress(state, data, whole);
    data += whole * kHashBlockSize;
    n -= whole * kHashBlockSize;
  }
  if (n != 0) std::memcpy(buffer, data, n);
}

// Pads and compresses the final block(s); `state` then holds the digest words. The length is
// kept modulo 2^64 bits, as both standards do.
template <CompressFn Compress, std::endian LengthOrder>
void pad_final_block(uint32_t* state, uint64_t length, uint8_t* buffer) noexcept {
  size_t used = static_cast<size_t>(length % kHashBlockSize);
  buffer[used++] = 0x80;
  // The 8-byte length must end a block: when it no longer fits, padding spills into one more.
  if (used > kHashBlockSize - 8) {
    std::memset(buffer + used, 0, kHashBlockSize - used);
    Compress(state, buffer, 1);
    used = 0;
  }
  std::memset(buffer + used, 0, kHashBlockSize - 8 - used);
  store<LengthOrder>(buffer + kHashBlockSize - 8, uint64_t{length << 3});
  Compress(state, buffer, 1);
}

}  // namespace vantor::detail
