#pragma once
// Closures on the platform's cache: a block told of every evicted object (through the cache's
// dynamic delegate, after its ordinary delegate) and a read that fills a missing entry.
#include <functional>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/foundation/Cache.h"
#include "platform/runtime/Block.h"

struct CacheBlocks {
  using WillEvictBlock = std::function<void(ns::Ref<ns::Object> cache, ns::Ref<ns::Object> object)>;

  static ns::Ref<ns::Block> willEvictBlock(const ns::Ref<ns::Cache>& cache);
  // A null closure removes the block.
  static void setWillEvictBlock(const ns::Ref<ns::Cache>& cache, WillEvictBlock block);
  // The cached object; when there is none, the getter's answer, stored under the key (a null
  // answer stores nothing).
  static ns::Ref<ns::Object> objectForKey_withGetter(const ns::Ref<ns::Cache>& cache, const ns::Value& key,
                                                     const std::function<ns::Ref<ns::Object>()>& getter);
};
