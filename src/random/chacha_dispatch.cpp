// Picks the ChaCha implementation at run time. This file is compiled for the baseline
// instruction set: it runs before anything is known about the CPU.
#include <cpuid.h>

#include <atomic>

#include "random/chacha.hpp"

namespace vantor {
namespace {

// CPUID leaf 1, ECX.
constexpr unsigned kLeaf1EcxXsave = 1u << 26;    // XSAVE/XRSTOR and XCR0 exist
constexpr unsigned kLeaf1EcxOsxsave = 1u << 27;  // the OS has enabled XGETBV
constexpr unsigned kLeaf1EcxAvx = 1u << 28;
// CPUID leaf 7, subleaf 0, EBX.
constexpr unsigned kLeaf7EbxAvx2 = 1u << 5;
// XCR0: register state the OS saves on a context switch.
constexpr uint64_t kXcr0Sse = 1u << 1;  // XMM registers
constexpr uint64_t kXcr0Avx = 1u << 2;  // upper halves of the YMM registers

// XGETBV is written out rather than taken from <immintrin.h>: _xgetbv needs -mxsave, and this
// file must stay free of ISA flags.
uint64_t xgetbv(unsigned xcr) noexcept {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(xcr));
  return lo | uint64_t{hi} << 32;
}

SimdLevel detect() noexcept {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SimdLevel::sse2;
  // A CPU with AVX2 is still unusable for it unless the OS saves the YMM registers; XGETBV
  // may only be executed once OSXSAVE says the OS has enabled it.
  constexpr unsigned leaf1_needed = kLeaf1EcxXsave | kLeaf1EcxOsxsave | kLeaf1EcxAvx;
  if ((ecx & leaf1_needed) != leaf1_needed) return SimdLevel::sse2;
  constexpr uint64_t xcr0_needed = kXcr0Sse | kXcr0Avx;
  if ((xgetbv(0) & xcr0_needed) != xcr0_needed) return SimdLevel::sse2;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return SimdLevel::sse2;
  if ((ebx & kLeaf7EbxAvx2) == 0) return SimdLevel::sse2;
  return SimdLevel::avx2;
}

// Threads racing on the first call all compute the same answer, so a plain relaxed store is
// enough: whoever loses the race writes the same value again.
std::atomic<uint8_t> cached_level{static_cast<uint8_t>(SimdLevel::unknown)};

}  // namespace

SimdLevel simd_level() noexcept {
  auto level = static_cast<SimdLevel>(cached_level.load(std::memory_order_relaxed));
  if (level == SimdLevel::unknown) [[unlikely]] {
    level = detect();
    cached_level.store(static_cast<uint8_t>(level), std::memory_order_relaxed);
  }
  return level;
}

void chacha_blocks4(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  if (simd_level() == SimdLevel::avx2) {
    chacha_blocks4_avx2(state, out, rounds);
  } else {
    chacha_blocks4_sse2(state, out, rounds);
  }
}

}  // namespace vantor
