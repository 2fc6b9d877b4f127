// Picks the ChaCha implementation at run time. This file is compiled for the baseline
// instruction set: it runs before anything is known about the CPU.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/cpu_features.hpp"
#include "random/chacha.hpp"

namespace vantor {
namespace {

// The levels of the processor this is built for, weakest first: a cap keeps the strongest one
// the CPU has at or below it.
#if defined(__x86_64__)
// SSE2 is part of x86-64 itself.
constexpr SimdLevel kLevels[] = {SimdLevel::portable, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512};
constexpr const char* kLevelNames = "'portable', 'sse2', 'avx2', 'avx512'";
#elif defined(__aarch64__)
constexpr SimdLevel kLevels[] = {SimdLevel::portable, SimdLevel::neon};
constexpr const char* kLevelNames = "'portable', 'neon'";
#else
constexpr SimdLevel kLevels[] = {SimdLevel::portable};
constexpr const char* kLevelNames = "'portable'";
#endif

// Position in kLevels; -1 for a level of another processor.
int rank(SimdLevel level) noexcept {
  for (size_t i = 0; i < std::size(kLevels); ++i)
    if (kLevels[i] == level) return static_cast<int>(i);
  return -1;
}

SimdLevel detect() noexcept {
  SimdLevel level = detected_simd_level();
  if (const char* cap_name = std::getenv("VANTOR_ISA"); cap_name != nullptr && *cap_name != '\0') {
    SimdLevel cap = SimdLevel::portable;
    (void)parse_simd_level(cap_name, cap);  // an unknown name leaves it portable
    level = capped_simd_level(level, cap);
  }
  return level;
}

// Threads racing on the first call all compute the same answer, so a plain relaxed store is
// enough: whoever loses the race writes the same value again.
std::atomic<uint8_t> cached_level{static_cast<uint8_t>(SimdLevel::unknown)};

}  // namespace

SimdLevel detected_simd_level() noexcept {
#if defined(__x86_64__)
  if (cpu_has_avx512()) return SimdLevel::avx512;
  return cpu_has_avx2() ? SimdLevel::avx2 : SimdLevel::sse2;
#elif defined(__aarch64__)
  return cpu_has_asimd() ? SimdLevel::neon : SimdLevel::portable;
#else
  return SimdLevel::portable;
#endif
}

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
    case SimdLevel::avx512: return "avx512";
  }
  return "invalid";
}

bool parse_simd_level(const char* name, SimdLevel& level) noexcept {
  for (SimdLevel candidate : kLevels) {
    if (std::strcmp(name, simd_level_name(candidate)) == 0) {
      level = candidate;
      return true;
    }
  }
  return false;
}

const char* simd_level_names() noexcept { return kLevelNames; }

SimdLevel capped_simd_level(SimdLevel detected, SimdLevel cap) noexcept {
  if (rank(cap) < 0) return SimdLevel::portable;  // no level of this processor is under it
  return rank(cap) < rank(detected) ? cap : detected;
}

void chacha_blocks4(const uint32_t state[16], uint32_t out[64], int rounds) noexcept {
  switch (simd_level()) {
#if defined(__x86_64__)
    case SimdLevel::avx512:
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
