// Eight or sixteen ChaCha blocks at a time, for bulk output: with one word of every block per
// register, a round is plain lane-wise arithmetic with no shuffles between its quarter rounds.
// Same output as two or four calls of chacha_blocks4 (chacha.hpp). Kept apart from chacha.hpp for
// the same reason the other implementations are: this header has no inline code.
#pragma once

#include <cstdint>

namespace vantor {

// Computes the blocks with counters c .. c+7 (c = state words 12-13, wrapping modulo 2^64) into
// out[16 * i .. 16 * i + 15]. Only callable when simd_level() is avx2 or avx512.
void chacha_blocks8_avx2(const uint32_t state[16], uint32_t out[128], int rounds) noexcept;

// The same for the blocks with counters c .. c+15: two groups of eight interleaved with AVX2, in
// 512-bit registers with AVX-512. Only callable when simd_level() is avx2 or avx512, and avx512
// respectively.
void chacha_blocks16_avx2(const uint32_t state[16], uint32_t out[256], int rounds) noexcept;
void chacha_blocks16_avx512(const uint32_t state[16], uint32_t out[256], int rounds) noexcept;

}  // namespace vantor
