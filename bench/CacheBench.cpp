// The keyed disk cache's reads against a snapshot: what a reader pays per look-up, alone and
// while another thread keeps storing (readers must not wait for the disk or for writers).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "lib/cache/GVCache.h"

namespace {

struct TempCache {
  std::string root;
  ns::Ref<GVCache> cache;
  explicit TempCache(int keys) {
    char templ[] = "/tmp/pelorin-bench-XXXXXX";
    root = ::mkdtemp(templ);
    cache = GVCache::initWithCacheDirectory(root + "/GVCache");
    for (int i = 0; i < keys; ++i)
      cache->setString_forKey_withTimeoutInterval("value", "key" + std::to_string(i), 600);
    cache->synchronize();
  }
  ~TempCache() {
    cache.reset();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

void BM_CacheHasKey(benchmark::State& state) {
  TempCache temp(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(temp.cache->hasCacheForKey("key7"));
}
BENCHMARK(BM_CacheHasKey)->Arg(16)->Arg(2048);

void BM_CacheHasKeyWhileStoring(benchmark::State& state) {
  TempCache temp(static_cast<int>(state.range(0)));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop.load(); ++i) {
      temp.cache->setString_forKey_withTimeoutInterval(std::string(4096, 'w'),
                                                       "busy" + std::to_string(i % 64), 600);
    }
  });
  for (auto _ : state) benchmark::DoNotOptimize(temp.cache->hasCacheForKey("key7"));
  stop = true;
  writer.join();
}
BENCHMARK(BM_CacheHasKeyWhileStoring)->Arg(16)->Arg(2048)->UseRealTime();

}  // namespace
