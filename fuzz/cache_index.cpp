// The disk cache's index file, as found on disk at start. Whatever the index holds, the cache
// opens, answers its readers, and still saves: a value stored after opening is there after the
// next start.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "lib/cache/GVCache.h"
#include "platform/testing/Sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static auto sandbox = std::make_unique<pltest::Sandbox>();
  fs::path folder = sandbox->temporaryFolder("cache");
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / GVCacheIndexFileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), size);

  {
    auto cache = GVCache::initWithCacheDirectory(folder.string());
    ns::Dictionary info = cache->frozenCacheInfo();
    for (const auto& key : info.allKeys()) {
      if (!key.isString()) continue;
      const std::string& name = key.string();
      (void)cache->hasCacheForKey(name);
      (void)cache->ageForKey(name);
      (void)cache->dataForKey(name);
    }
    cache->setData_forKey_withTimeoutInterval(ns::Data("kept"), "probe", 3600);
    cache->synchronize();
  }
  {
    auto cache = GVCache::initWithCacheDirectory(folder.string());
    auto kept = cache->dataForKey("probe");
    if (!kept || kept->toString() != "kept")
      fuzz::fail("a value stored after opening is gone after the next start");
  }
  fs::remove_all(folder);
  return 0;
}
