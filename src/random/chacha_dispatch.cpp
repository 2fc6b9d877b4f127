// Picks the ChaCha implementation at run time. This file is compiled for the baseline
// instruction set: it runs before anything is known about the CPU.
#include <atomic>

#include "core/cpu_features.hpp"
#include "random/chacha.hpp"

namespace vantor {
namespace {

SimdLevel detect() noexcept {
#if defined(__x86_64__)
  // SSE2 is part of x86-64 itself.
  return cpu_has_avx2() ? SimdLevel::avx2 : SimdLevel::sse2;
#elif defined(__aarch64__)
  return cpu_has_asimd() ? SimdLevel::neon : SimdLevel::portable;
#else
  return SimdLevel::portable;
#endif
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

void set_simd_level_for_testing(SimdLevel level) noexcept {
  cached_level.store(static_cast<uint8_t>(level), std::memory_order_relaxed);
}

const char* simd_level_name(SimdLevel level) noexcept {
  switch (level) {
    case SimdLevel::unknown: return "unknown";
    case SimdLevel::portable: return "portable";
    case SimdLevel::sse2: return "sse2";
    case SimdLevel::avx2: return "avx2";
    case SimdLevel::neon: return "neon";
  }
  return "invalid";
}

void chacha_blocks4(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  switch (simd_level()) {
#if defined(__x86_64__)
    case SimdLevel::avx2:
      chacha_blocks4_avx2(state, out, rounds);
      return;
    case SimdLevel::sse2:
      chacha_blocks4_sse2(state, out, rounds);
      return;
#endif
#if defined(__aarch64__)
    case SimdLevel::neon:
      chacha_blocks4_neon(state, out, rounds);
      return;
#endif
    default:
      chacha_blocks4_portable(state, out, rounds);
      return;
  }
}

}  // namespace vantor
