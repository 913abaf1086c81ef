#include <benchmark/benchmark.h>

#include "platform/core/Format.h"
#include "platform/core/Object.h"
#include "platform/core/Str.h"
#include "platform/core/Value.h"

namespace {

struct Thing : ns::Object {};

void BM_MakeObject(benchmark::State& state) {
  for (auto _ : state) {
    auto thing = ns::make<Thing>();
    benchmark::DoNotOptimize(thing);
  }
}
BENCHMARK(BM_MakeObject);

void BM_DictionaryLookup(benchmark::State& state) {
  ns::Dictionary d;
  for (int i = 0; i < state.range(0); ++i) d.set(ns::format("key%d", i), i);
  ns::Value key("key7");
  for (auto _ : state) benchmark::DoNotOptimize(d.objectForKey(key));
}
BENCHMARK(BM_DictionaryLookup)->Arg(16)->Arg(1024);

void BM_ValueCopy(benchmark::State& state) {
  ns::Array items;
  for (int i = 0; i < 1000; ++i) items.push_back(ns::format("item %d", i));
  ns::Value v(std::move(items));
  for (auto _ : state) {
    ns::Value copy = v;  // shares the storage
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_ValueCopy);

void BM_Format(benchmark::State& state) {
  ns::Value title("A video title");
  for (auto _ : state) benchmark::DoNotOptimize(ns::format("%@ - %d:%02d (%.1f%%)", title, 3, 7, 42.5));
}
BENCHMARK(BM_Format);

void BM_Utf16Length(benchmark::State& state) {
  std::string s;
  for (int i = 0; i < 100; ++i) s += "abc é 😀 ";
  for (auto _ : state) benchmark::DoNotOptimize(ns::str::utf16Length(s));
}
BENCHMARK(BM_Utf16Length);

}  // namespace

BENCHMARK_MAIN();
