#pragma once
// A thread-safe key/object cache with count and cost limits. When it holds more objects than
// countLimit or more cost than totalCostLimit (0: no limit), it evicts the least recently used
// objects, the one just added included if it alone is over the limit. Memory pressure empties
// every cache (simulateMemoryPressure stands in for it in tests).
//
// The delegate (held weakly) is told of every object that leaves the cache, evicted or removed
// (cache:willEvictObject:, sent through the object runtime, so delegates and the dynamic
// delegates that answer with closures work alike); it runs on the thread that caused the
// eviction, outside the cache's lock. The delegate accessors themselves go through the
// runtime ("delegate", "setDelegate:" of the class NSCache), so exchanging their
// implementations takes effect for every caller.
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class Cache : public Object {
 public:
  Cache();
  ~Cache() override;
  std::string className() const override { return "NSCache"; }

  Ref<Object> objectForKey(const Value& key);
  void setObject_forKey(const Ref<Object>& object, const Value& key) {
    setObject_forKey_cost(object, key, 0);
  }
  void setObject_forKey_cost(const Ref<Object>& object, const Value& key, std::size_t cost);
  void removeObjectForKey(const Value& key);
  void removeAllObjects();

  std::string name() const;
  void setName(std::string name);
  std::size_t countLimit() const;
  void setCountLimit(std::size_t limit);
  std::size_t totalCostLimit() const;
  void setTotalCostLimit(std::size_t limit);
  bool evictsObjectsWithDiscardedContent() const { return evictsDiscarded_; }
  void setEvictsObjectsWithDiscardedContent(bool v) { evictsDiscarded_ = v; }

  Ref<Object> delegate();
  void setDelegate(const Ref<Object>& delegate);

  // Test hook: every live cache evicts everything, as under memory pressure.
  static void simulateMemoryPressure();

  // The implementations behind the runtime's "delegate" and "setDelegate:".
  Ref<Object> storedDelegate() const;
  void setStoredDelegate(const Ref<Object>& delegate);

 private:
  struct Entry {
    Value key;
    Ref<Object> object;
    std::size_t cost;
  };
  using List = std::list<Entry>;

  mutable std::mutex mutex_;
  List lru_;  // least recently used first
  std::unordered_map<Value, List::iterator, Value::Hasher> index_;
  std::size_t totalCost_ = 0;
  std::size_t countLimit_ = 0;
  std::size_t totalCostLimit_ = 0;
  std::string name_;
  bool evictsDiscarded_ = true;
  Weak<Object> delegate_;

  // Takes out what is over the limits; the caller tells the delegate after unlocking.
  void trimLocked(std::vector<Ref<Object>>* evicted);
  void tellDelegate(const std::vector<Ref<Object>>& evicted);
  void evictAll();
};

}  // namespace ns
