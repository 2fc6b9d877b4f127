// MD5 and SHA-1 as name-based UUIDs use them: a 16-byte namespace then a short name, which
// makes one block. A longer message shows the throughput of the block function alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "random/md5.hpp"
#include "random/sha1.hpp"

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

}  // namespace
}  // namespace vantor
