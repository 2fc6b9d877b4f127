// Parsing and formatting one UUID text. Inputs rotate through a ring of random values so that
// neither the compiler nor the branch predictor sees one fixed string.
#include <benchmark/benchmark.h>

#include <array>
#include <random>

#include "uuid/text.hpp"

namespace vantor {
namespace {

constexpr size_t kRing = 256;

std::array<UuidValue, kRing> random_values() {
  std::mt19937_64 rng(7);
  std::array<UuidValue, kRing> values;
  for (auto& v : values) v = UuidValue::from_halves(rng(), rng());
  return values;
}

template <size_t Length, void (*Format)(const UuidValue&, char*)>
std::array<std::array<char, Length>, kRing> random_texts() {
  std::array<std::array<char, Length>, kRing> texts;
  const auto values = random_values();
  for (size_t i = 0; i < kRing; ++i) Format(values[i], texts[i].data());
  return texts;
}

template <size_t Length, void (*Format)(const UuidValue&, char*)>
void BM_Parse(benchmark::State& state) {
  const auto texts = random_texts<Length, Format>();
  size_t i = 0;
  for (auto _ : state) {
    auto v = parse_uuid_text(texts[i].data(), Length);
    benchmark::DoNotOptimize(v);
    i = (i + 1) % kRing;
  }
}
BENCHMARK(BM_Parse<kHyphenatedLength, format_hyphenated>)->Name("Parse/hyphenated");
BENCHMARK(BM_Parse<kSimpleLength, format_simple>)->Name("Parse/simple");

template <size_t Length, void (*Format)(const UuidValue&, char*)>
void BM_Format(benchmark::State& state) {
  const auto values = random_values();
  char out[Length];
  size_t i = 0;
  for (auto _ : state) {
    Format(values[i], out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
    i = (i + 1) % kRing;
  }
}
BENCHMARK(BM_Format<kHyphenatedLength, format_hyphenated>)->Name("Format/hyphenated");
BENCHMARK(BM_Format<kSimpleLength, format_simple>)->Name("Format/simple");

}  // namespace
}  // namespace vantor
