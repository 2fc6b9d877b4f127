// The SHA-1 block compression behind Sha1, in one implementation per instruction set.
//
// sha1_shani.cpp (x86-64, -msha -msse4.1 -mssse3) and sha1_armv8.cpp (AArch64, crypto
// extension) include this header, so keep it free of inline code: an inline function instantiated there could be the copy the linker
// keeps for every other caller, which would then fault on a CPU without those instructions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantor {

// Folds `count` consecutive 64-byte blocks into `state` (the five chaining words H0..H4).
// `blocks` needs no particular alignment; it may be null when `count` is 0.
void sha1_compress_portable(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept;
#if defined(__x86_64__)
// Only callable when sha1_cpu_has_shani() is true.
void sha1_compress_shani(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept;
#endif
#if defined(__aarch64__)
// Only callable when sha1_cpu_has_armv8() is true.
void sha1_compress_armv8(uint32_t state[5], const uint8_t* blocks, size_t count) noexcept;
#endif

// Ask the CPU (not the cache below) whether it has the instructions the accelerated
// compressions need: the x86 SHA extensions with SSSE3 and SSE4.1, or the ARMv8 SHA-1
// instructions. False on any other processor.
bool sha1_cpu_has_shani() noexcept;
bool sha1_cpu_has_armv8() noexcept;

enum class Sha1Path : uint8_t { detect = 0, portable = 1, shani = 2, armv8 = 3 };

// The compression Sha1 uses: decided on first use, then cached. Never returns detect.
Sha1Path sha1_path() noexcept;

// For tests and benchmarks: makes Sha1 use `path` from then on; `detect` asks the CPU again.
// Forcing shani on a CPU without it makes the next hash fault.
void sha1_set_path_for_testing(Sha1Path path) noexcept;

}  // namespace vantor
