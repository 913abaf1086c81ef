#include "lib/foundation/CacheBlocks.h"

#include "lib/foundation/DynamicDelegate.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace {

// The cache's dynamic delegate: tells the ordinary delegate first, then runs the bound block.
class DynamicNSCacheDelegate : public DynamicDelegate {
 public:
  void cache_willEvictObject(ns::Ref<ns::Object> cache, ns::Ref<ns::Object> object) {
    static const ns::Sel willEvict("cache:willEvictObject:");
    auto real = realDelegate();
    if (real && ns::respondsToSelector(real, willEvict)) ns::send<void>(real, willEvict, cache, object);
    if (auto block = blockImplementationForMethod(willEvict)) block->call<void>(cache, object);
  }
  std::string className() const override { return "DynamicNSCacheDelegate"; }
};

}  // namespace

PL_CLASS_NAMED(DynamicNSCacheDelegate, "DynamicNSCacheDelegate", DynamicDelegate) {
  cls.method<&DynamicNSCacheDelegate::cache_willEvictObject>("cache:willEvictObject:");
  // From start-up on, the cache's delegate accessors run through its dynamic delegate.
  cls.load([] {
    ns::Class cache = ns::NSClassFromString("NSCache");
    ObjectBlockDelegate::registerDynamicDelegate(cache);
    ObjectBlockDelegate::linkDelegateMethods(cache, {{"willEvictBlock", "cache:willEvictObject:"}});
  });
}

// Named in the module's link options, so that every program linking the module keeps the
// registration above.
extern "C" {
int pelorinFoundationCacheBlocks = 0;
}

ns::Ref<ns::Block> CacheBlocks::willEvictBlock(const ns::Ref<ns::Cache>& cache) {
  return std::dynamic_pointer_cast<ns::Block>(
      ns::send<ns::Ref<ns::Object>>(cache, ns::Sel("willEvictBlock")));
}

void CacheBlocks::setWillEvictBlock(const ns::Ref<ns::Cache>& cache, WillEvictBlock block) {
  ns::Ref<ns::Object> wrapped;
  if (block) wrapped = ns::block<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>(std::move(block));
  ns::send<void>(cache, ns::Sel("setWillEvictBlock:"), wrapped);
}

ns::Ref<ns::Object> CacheBlocks::objectForKey_withGetter(const ns::Ref<ns::Cache>& cache,
                                                         const ns::Value& key,
                                                         const std::function<ns::Ref<ns::Object>()>& getter) {
  if (!cache) return nullptr;
  if (auto cached = cache->objectForKey(key)) return cached;
  if (!getter) return nullptr;
  auto made = getter();
  if (made) cache->setObject_forKey(made, key);
  return made;
}
