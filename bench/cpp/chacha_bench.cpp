// ChaCha12 keystream throughput of each implementation (four 64-byte blocks per call), and
// random bytes per second as random UUIDs draw them from the thread's generator.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "random/chacha.hpp"
#include "random/thread_rng.hpp"

namespace vantor {
namespace {

constexpr int kRounds = 12;
constexpr int64_t kBytesPerCall = 4 * 64;

using BlocksFn = void (*)(const uint32_t*, uint32_t*, int) noexcept;

template <BlocksFn Blocks, SimdLevel Needs>
void BM_Chacha12(benchmark::State& state) {
  if (simd_level() < Needs) {
    state.SkipWithError("this CPU lacks the instruction set");
    return;
  }
  uint32_t input[16];
  for (int i = 0; i < 4; ++i) input[i] = kChachaConstants[i];
  for (int i = 4; i < 16; ++i) input[i] = 0x01010101u * static_cast<uint32_t>(i);
  alignas(64) uint32_t out[64];
  uint64_t counter = 0;
  for (auto _ : state) {
    // Advancing the counter as a generator does keeps every call's work live.
    input[12] = static_cast<uint32_t>(counter);
    input[13] = static_cast<uint32_t>(counter >> 32);
    counter += 4;
    Blocks(input, out, kRounds);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytesPerCall);
}
BENCHMARK(BM_Chacha12<chacha_blocks4_portable, SimdLevel::unknown>)->Name("Chacha12/portable");
BENCHMARK(BM_Chacha12<chacha_blocks4_sse2, SimdLevel::sse2>)->Name("Chacha12/sse2");
BENCHMARK(BM_Chacha12<chacha_blocks4_avx2, SimdLevel::avx2>)->Name("Chacha12/avx2");
BENCHMARK(BM_Chacha12<chacha_blocks4, SimdLevel::unknown>)->Name("Chacha12/dispatched");

void BM_ThreadRngDrawU128(benchmark::State& state) {
  ThreadRng& rng = thread_rng();
  for (auto _ : state) {
    u128 v = rng.draw_u128();
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}
BENCHMARK(BM_ThreadRngDrawU128)->Name("ThreadRng/draw_u128");

}  // namespace
}  // namespace vantor
