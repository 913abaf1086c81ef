// The key/object cache: limits, eviction order, delegates through the runtime, memory pressure.
#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/Cache.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace {

struct Item : ns::Object {
  explicit Item(int n = 0) : n(n) {}
  int n;
};

struct Watcher : ns::Object {
  std::vector<int> evicted;
  std::mutex m;
};

void watcherWillEvict(Watcher* self, ns::Sel, ns::Ref<ns::Object> cache, ns::Ref<ns::Object> object) {
  std::lock_guard<std::mutex> lock(self->m);
  EXPECT_TRUE(std::dynamic_pointer_cast<ns::Cache>(cache));
  self->evicted.push_back(std::dynamic_pointer_cast<Item>(object)->n);
}

ns::Ref<ns::Object> replacedGetter(ns::Cache* self, ns::Sel) {
  return nullptr;
}

}  // namespace

PL_CLASS(Watcher, ns::Object) {
  cls.method<&watcherWillEvict>("cache:willEvictObject:");
}

namespace {

ns::Ref<Item> item(int n) {
  return ns::make<Item>(n);
}

TEST(CacheTest, CountAndCostLimitsEvictTheLeastRecentlyUsed) {
  auto cache = ns::make<ns::Cache>();
  auto watcher = ns::make<Watcher>();
  cache->setDelegate(watcher);
  cache->setCountLimit(3);
  for (int i = 1; i <= 3; ++i) cache->setObject_forKey(item(i), ns::Value(i));
  ASSERT_TRUE(cache->objectForKey(ns::Value(1)));  // 1 is now the most recently used
  cache->setObject_forKey(item(4), ns::Value(4));
  EXPECT_FALSE(cache->objectForKey(ns::Value(2)));
  EXPECT_TRUE(cache->objectForKey(ns::Value(1)));
  EXPECT_EQ(watcher->evicted, (std::vector<int>{2}));

  cache->setCountLimit(0);
  cache->setTotalCostLimit(10);
  cache->setObject_forKey_cost(item(5), ns::Value("big"), 8);  // 1, 3, 4 cost nothing
  cache->setObject_forKey_cost(item(6), ns::Value("more"), 5);
  EXPECT_FALSE(cache->objectForKey(ns::Value("big")));
  EXPECT_TRUE(cache->objectForKey(ns::Value("more")));
  // An object over the limit on its own does not stay.
  cache->setObject_forKey_cost(item(7), ns::Value("huge"), 11);
  EXPECT_FALSE(cache->objectForKey(ns::Value("huge")));
  EXPECT_EQ(watcher->evicted.back(), 7);
}

TEST(CacheTest, RemovalsReplacementsAndMemoryPressureTellTheDelegate) {
  auto cache = ns::make<ns::Cache>();
  auto watcher = ns::make<Watcher>();
  cache->setDelegate(watcher);
  cache->setObject_forKey(item(1), ns::Value("a"));
  cache->setObject_forKey(item(2), ns::Value("a"));  // replaces 1
  cache->setObject_forKey(item(3), ns::Value("b"));
  cache->removeObjectForKey(ns::Value("b"));
  cache->removeObjectForKey(ns::Value("absent"));
  EXPECT_EQ(watcher->evicted, (std::vector<int>{1, 3}));
  EXPECT_EQ(std::dynamic_pointer_cast<Item>(cache->objectForKey(ns::Value("a")))->n, 2);

  auto other = ns::make<ns::Cache>();
  other->setObject_forKey(item(9), ns::Value("x"));
  ns::Cache::simulateMemoryPressure();
  EXPECT_FALSE(cache->objectForKey(ns::Value("a")));
  EXPECT_FALSE(other->objectForKey(ns::Value("x")));
  EXPECT_EQ(watcher->evicted, (std::vector<int>{1, 3, 2}));

  // The delegate is weak.
  ns::Weak<Watcher> weak = watcher;
  watcher.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(cache->delegate());
  cache->setObject_forKey(item(4), ns::Value("c"));
  cache->removeAllObjects();
}

TEST(CacheTest, DelegateAccessorsGoThroughTheRuntime) {
  auto cache = ns::make<ns::Cache>();
  auto watcher = ns::make<Watcher>();
  cache->setDelegate(watcher);
  EXPECT_EQ(cache->delegate(), watcher);
  EXPECT_EQ(ns::send<ns::Ref<ns::Object>>(cache, "delegate"), watcher);
  ns::Class cls = ns::NSClassFromString("NSCache");
  ASSERT_TRUE(cls);
  EXPECT_TRUE(ns::class_getProperty(cls, "delegate"));
  EXPECT_TRUE(ns::conformsToProtocol(watcher, ns::objc_getProtocol("NSCacheDelegate")) ||
              ns::respondsToSelector(watcher, "cache:willEvictObject:"));

  // Replacing the getter's implementation changes what every caller sees.
  ns::Method getter = ns::class_getInstanceMethod(cls, "delegate");
  ns::Imp original = ns::method_setImplementation(getter, ns::imp<&replacedGetter>());
  EXPECT_EQ(cache->delegate(), nullptr);
  ns::method_setImplementation(getter, original);
  EXPECT_EQ(cache->delegate(), watcher);
}

TEST(CacheTest, ConcurrentUseKeepsTheLimit) {
  auto cache = ns::make<ns::Cache>();
  cache->setCountLimit(50);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        cache->setObject_forKey(item(i), ns::Value(t * 1000 + i));
        cache->objectForKey(ns::Value(t * 1000 + i / 2));
      }
    });
  }
  for (auto& th : threads) th.join();
  int present = 0;
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 500; ++i) present += cache->objectForKey(ns::Value(t * 1000 + i)) != nullptr;
  EXPECT_EQ(present, 50);
}

}  // namespace
