// MD5 message digest (RFC 1321), streaming. Kept only because name-based UUIDs of version 3 are
// defined with it: it gives no collision resistance and must not be used to protect anything.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor {

class Md5 {
 public:
  static constexpr size_t kDigestSize = 16;
  static constexpr size_t kBlockSize = 64;
  using Digest = std::array<uint8_t, kDigestSize>;

  // `data` may be null when `n` is 0.
  void update(const uint8_t* data, size_t n) noexcept;
  // Returns the digest of everything given since construction or the previous finish(), and
  // starts over, so one object can hash message after message.
  Digest finish() noexcept;

 private:
  void reset() noexcept;

  std::array<uint32_t, 4> state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  uint64_t length_ = 0;  // bytes; the bytes of a partial block wait in buffer_
  std::array<uint8_t, kBlockSize> buffer_;
};

Md5::Digest md5(const uint8_t* data, size_t n) noexcept;

}  // namespace vantor
