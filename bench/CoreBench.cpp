#include <benchmark/benchmark.h>

#include "platform/core/Object.h"

namespace {

struct Thing : ns::Object {};

void BM_MakeObject(benchmark::State& state) {
  for (auto _ : state) {
    auto thing = ns::make<Thing>();
    benchmark::DoNotOptimize(thing);
  }
}
BENCHMARK(BM_MakeObject);

}  // namespace

BENCHMARK_MAIN();
