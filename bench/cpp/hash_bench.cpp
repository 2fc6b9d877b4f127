// MD5 and SHA-1 as name-based UUIDs use them: a 16-byte namespace then a short name, which
// makes one block. A longer message shows the throughput of the block function alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "hash/md5.hpp"
#include "hash/sha1.hpp"
#include "hash/sha1_blocks.hpp"

namespace vantor {
namespace {

constexpr uint8_t kNamespace[16] = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                                    0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
constexpr uint8_t kName[3] = {'f', 'o', 'o'};

template <class Hash>
void BM_NamespaceAndName(benchmark::State& state) {
  for (auto _ : state) {
    Hash hash;
    hash.update(kNamespace, sizeof kNamespace);
    hash.update(kName, sizeof kName);
    auto digest = hash.finish();
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_NamespaceAndName<Md5>)->Name("Md5/16+3");
BENCHMARK(BM_NamespaceAndName<Sha1>)->Name("Sha1/16+3");

template <class Hash>
void BM_Throughput(benchmark::State& state) {
  const std::vector<uint8_t> message(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    Hash hash;
    hash.update(message.data(), message.size());
    auto digest = hash.finish();
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Throughput<Md5>)->Name("Md5/bytes")->Arg(4096);
BENCHMARK(BM_Throughput<Sha1>)->Name("Sha1/bytes")->Arg(4096);

// The same one-block hash with Sha1 pinned to each compression.
void BM_Sha1NamespaceAndNameOn(benchmark::State& state, Sha1Path path) {
  if (path == Sha1Path::shani && !sha1_cpu_has_shani()) {
    state.SkipWithError("no SHA extensions here");
    return;
  }
  sha1_set_path_for_testing(path);
  BM_NamespaceAndName<Sha1>(state);
  sha1_set_path_for_testing(Sha1Path::detect);
}
BENCHMARK_CAPTURE(BM_Sha1NamespaceAndNameOn, portable, Sha1Path::portable)
    ->Name("Sha1/16+3/portable");
BENCHMARK_CAPTURE(BM_Sha1NamespaceAndNameOn, shani, Sha1Path::shani)->Name("Sha1/16+3/shani");

// The compression functions alone, on range(0) blocks per call. Each call's state feeds the
// next, so one block measures latency, as a short hash sees it.
using CompressFn = void (*)(uint32_t*, const uint8_t*, size_t) noexcept;

void BM_Sha1Compress(benchmark::State& state, CompressFn compress, bool needs_shani) {
  if (needs_shani && !sha1_cpu_has_shani()) {
    state.SkipWithError("no SHA extensions here");
    return;
  }
  const size_t count = static_cast<size_t>(state.range(0));
  const std::vector<uint8_t> blocks(count * Sha1::kBlockSize, 0x5A);
  uint32_t words[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  for (auto _ : state) {
    compress(words, blocks.data(), count);
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) *
                          static_cast<int64_t>(Sha1::kBlockSize));
}
BENCHMARK_CAPTURE(BM_Sha1Compress, portable, &sha1_compress_portable, false)
    ->Name("Sha1Compress/portable")->Arg(1)->Arg(64);
BENCHMARK_CAPTURE(BM_Sha1Compress, shani, &sha1_compress_shani, true)
    ->Name("Sha1Compress/shani")->Arg(1)->Arg(64);

}  // namespace
}  // namespace vantor
