// The ChaCha block function in its original layout, four blocks at a time.
//
// State: 16 32-bit words.
//   words  0-3   "expand 32-byte k" as little-endian words
//   words  4-11  the 256-bit key (key byte 0 is the lowest byte of word 4)
//   words 12-13  a 64-bit block counter, word 12 low; it carries from word 12 into word 13
//   words 14-15  a 64-bit nonce
// Output words are the block words as numbers; written out little-endian they are the keystream.
//
// Each implementation lives in its own file so that only that file is compiled for its
// instruction set, and only for a target that has it; the portable one is built everywhere. Keep
// this header free of inline code: an inline function instantiated in an AVX2 file could be the copy the linker keeps for every other caller.
#pragma once

#include <cstdint>

namespace vantor {

inline constexpr uint32_t kChachaConstants[4] = {0x61707865, 0x3320646E, 0x79622D32, 0x6B206574};

// Computes the four blocks with counters c, c+1, c+2, c+3 (c = state words 12-13, wrapping
// modulo 2^64) into out[0..15], out[16..31], out[32..47], out[48..63]. `state` is not modified.
// `rounds` is 8, 12 or 20 (a column round then a diagonal round, rounds/2 times).
void chacha_blocks4_portable(const uint32_t state[16], uint32_t out[64], int rounds) noexcept;
#if defined(__x86_64__)
// 128-bit vectors holding one word of each of the four blocks.
void chacha_blocks4_sse2(const uint32_t state[16], uint32_t out[64], int rounds) noexcept;
// 256-bit vectors holding one row of two blocks. Only callable when simd_level() is avx2 or
// avx512.
void chacha_blocks4_avx2(const uint32_t state[16], uint32_t out[64], int rounds) noexcept;
#endif
#if defined(__aarch64__)
// NEON, laid out as the SSE2 one. Only callable when simd_level() is neon.
void chacha_blocks4_neon(const uint32_t state[16], uint32_t out[64], int rounds) noexcept;
#endif

// The implementation chacha_blocks4 runs. x86-64 always has at least sse2; AArch64 has neon
// unless the OS says otherwise; every other processor runs the portable code. avx512 runs the
// avx2 code for four blocks and the 16-block kernel (chacha_wide.hpp) for bulk output.
enum class SimdLevel : uint8_t { unknown = 0, portable = 1, sse2 = 2, avx2 = 3, neon = 4, avx512 = 5 };

// The widest implementation this CPU and OS support, capped by VANTOR_ISA: the environment
// variable is read once, on first use, and names the highest level the process may use (see
// parse_simd_level). A name this processor does not know makes it portable; the module refuses
// to load with such a name, so only programs without it (the C++ tests) ever run that way.
// Detected on first use, then cached. Never returns unknown.
SimdLevel simd_level() noexcept;

// The widest implementation this CPU and OS support, whatever VANTOR_ISA says.
SimdLevel detected_simd_level() noexcept;

// For tests and benchmarks: makes chacha_blocks4 use `level` from then on; `unknown` asks the
// CPU (and VANTOR_ISA) again. Forcing a level the CPU lacks makes the next call fault.
void set_simd_level_for_testing(SimdLevel level) noexcept;

// "portable", "sse2", "avx2", "avx512", "neon" (or "unknown").
const char* simd_level_name(SimdLevel level) noexcept;

// The level a VANTOR_ISA value names, if this processor has that level: "portable", "sse2",
// "avx2" and "avx512" on x86-64, "portable" and "neon" on AArch64, "portable" elsewhere. False for
// every other text.
bool parse_simd_level(const char* name, SimdLevel& level) noexcept;

// The names parse_simd_level accepts, for messages: "'portable', 'sse2', 'avx2', 'avx512'".
const char* simd_level_names() noexcept;

// `detected` lowered to `cap` where the cap is lower; portable for a cap of another processor.
SimdLevel capped_simd_level(SimdLevel detected, SimdLevel cap) noexcept;

// The fastest implementation for this machine.
void chacha_blocks4(const uint32_t state[16], uint32_t out[64], int rounds) noexcept;

}  // namespace vantor
