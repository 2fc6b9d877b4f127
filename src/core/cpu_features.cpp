// The one file that asks the processor about instruction sets (and the system, through the
// platform layer, where the processor cannot be asked directly). Compiled for the
// baseline instruction set: it runs before anything is known about the CPU.
#include "core/cpu_features.hpp"

#include <cstdint>

#include "platform/platform.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace vantor {

#if defined(__x86_64__)
namespace {

// CPUID leaf 1, ECX.
constexpr unsigned kLeaf1EcxSsse3 = 1u << 9;     // PSHUFB
constexpr unsigned kLeaf1EcxSse41 = 1u << 19;    // PEXTRD
constexpr unsigned kLeaf1EcxXsave = 1u << 26;    // XSAVE/XRSTOR and XCR0 exist
constexpr unsigned kLeaf1EcxOsxsave = 1u << 27;  // the OS has enabled XGETBV
constexpr unsigned kLeaf1EcxAvx = 1u << 28;
// CPUID leaf 7, subleaf 0, EBX.
constexpr unsigned kLeaf7EbxAvx2 = 1u << 5;
constexpr unsigned kLeaf7EbxAvx512f = 1u << 16;
constexpr unsigned kLeaf7EbxSha = 1u << 29;
constexpr unsigned kLeaf7EbxAvx512vl = 1u << 31;  // the EVEX forms on XMM and YMM registers
// XCR0: register state the OS saves on a context switch.
constexpr uint64_t kXcr0Sse = 1u << 1;        // XMM registers
constexpr uint64_t kXcr0Avx = 1u << 2;        // upper halves of the YMM registers
constexpr uint64_t kXcr0Opmask = 1u << 5;     // the mask registers k0-k7
constexpr uint64_t kXcr0ZmmHi256 = 1u << 6;   // upper halves of ZMM0-15
constexpr uint64_t kXcr0Hi16Zmm = 1u << 7;    // ZMM16-31

// XGETBV is written out rather than taken from <immintrin.h>: _xgetbv needs -mxsave, and this
// file must stay free of ISA flags.
uint64_t xgetbv(unsigned xcr) noexcept {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(xcr));
  return lo | uint64_t{hi} << 32;
}

// Leaf 7's EBX if the OS saves every register in `xcr0_needed`, else 0. A CPU with wide
// registers is still unusable for them unless the OS saves them on a context switch; XGETBV may
// only be executed once OSXSAVE says the OS has enabled it.
unsigned leaf7_ebx_if_saved(uint64_t xcr0_needed) noexcept {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
  constexpr unsigned leaf1_needed = kLeaf1EcxXsave | kLeaf1EcxOsxsave | kLeaf1EcxAvx;
  if ((ecx & leaf1_needed) != leaf1_needed) return 0;
  if ((xgetbv(0) & xcr0_needed) != xcr0_needed) return 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return 0;
  return ebx;
}

}  // namespace

bool cpu_has_avx2() noexcept {
  return (leaf7_ebx_if_saved(kXcr0Sse | kXcr0Avx) & kLeaf7EbxAvx2) != 0;
}

bool cpu_has_avx512() noexcept {
  constexpr uint64_t xcr0_needed = kXcr0Sse | kXcr0Avx | kXcr0Opmask | kXcr0ZmmHi256 | kXcr0Hi16Zmm;
  constexpr unsigned leaf7_needed = kLeaf7EbxAvx2 | kLeaf7EbxAvx512f | kLeaf7EbxAvx512vl;
  return (leaf7_ebx_if_saved(xcr0_needed) & leaf7_needed) == leaf7_needed;
}

bool cpu_has_sha_ni() noexcept {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  constexpr unsigned leaf1_needed = kLeaf1EcxSsse3 | kLeaf1EcxSse41;
  if ((ecx & leaf1_needed) != leaf1_needed) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & kLeaf7EbxSha) != 0;
}

#else

bool cpu_has_avx2() noexcept { return false; }
bool cpu_has_avx512() noexcept { return false; }
bool cpu_has_sha_ni() noexcept { return false; }

#endif

// On AArch64 the system says what user space may execute (src/platform/cpu_<system>.cpp).
bool cpu_has_asimd() noexcept { return platform::arm_features().asimd; }
bool cpu_has_arm_sha1() noexcept { return platform::arm_features().sha1; }

}  // namespace vantor
