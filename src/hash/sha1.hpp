// SHA-1 message digest (FIPS 180-4), streaming. Kept only because name-based UUIDs of version 5
// are defined with it: collisions for it are practical, so it must not be used to protect anything.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor {

class Sha1 {
 public:
  static constexpr size_t kDigestSize = 20;
  static constexpr size_t kBlockSize = 64;
  using Digest = std::array<uint8_t, kDigestSize>;

  // `data` may be null when `n` is 0.
  void update(const uint8_t* data, size_t n) noexcept;
  // Returns the digest of everything given since construction or the previous finish(), and
  // starts over, so one object can hash message after message.
  Digest finish() noexcept;

 private:
  void reset() noexcept;

  std::array<uint32_t, 5> state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                    0xC3D2E1F0u};
  uint64_t length_ = 0;  // bytes; the bytes of a partial block wait in buffer_
  std::array<uint8_t, kBlockSize> buffer_;
};

Sha1::Digest sha1(const uint8_t* data, size_t n) noexcept;

}  // namespace vantor
