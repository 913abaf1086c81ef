#include "platform/foundation/Cache.h"

#include <algorithm>

#include "platform/core/NoDestructor.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ns {
namespace {

std::mutex& liveMutex() {
  static std::mutex m;
  return m;
}
std::vector<Cache*>& liveCaches() {
  static NoDestructor<std::vector<Cache*>> caches;
  return *caches;
}

Ref<Object> delegateGetter(Cache* self, Sel) {
  return self->storedDelegate();
}
void delegateSetter(Cache* self, Sel, Ref<Object> delegate) {
  self->setStoredDelegate(delegate);
}

}  // namespace

PL_PROTOCOL(NSCacheDelegate) {
  proto.optional<void(Ref<Object>, Ref<Object>)>("cache:willEvictObject:");
}

PL_CLASS_NAMED(Cache, "NSCache", Object) {
  cls.method<&delegateGetter>("delegate");
  cls.method<&delegateSetter>("setDelegate:");
  cls.declaredProperty("delegate", "T@\"<NSCacheDelegate>\",W,N");
  cls.declaredProperty("name", "T@\"NSString\",C,N");
  cls.declaredProperty("countLimit", "TQ,N");
  cls.declaredProperty("totalCostLimit", "TQ,N");
}

Cache::Cache() {
  std::lock_guard<std::mutex> lock(liveMutex());
  liveCaches().push_back(this);
}

Cache::~Cache() {
  std::lock_guard<std::mutex> lock(liveMutex());
  std::erase(liveCaches(), this);
}

Ref<Object> Cache::objectForKey(const Value& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  lru_.splice(lru_.end(), lru_, found->second);
  return found->second->object;
}

void Cache::setObject_forKey_cost(const Ref<Object>& object, const Value& key, std::size_t cost) {
  if (!object || key.isNil()) return;
  std::vector<Ref<Object>> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(key);
    if (found != index_.end()) {
      if (found->second->object != object) evicted.push_back(found->second->object);
      totalCost_ -= found->second->cost;
      lru_.erase(found->second);
      index_.erase(found);
    }
    lru_.push_back(Entry{key, object, cost});
    index_[key] = std::prev(lru_.end());
    totalCost_ += cost;
    trimLocked(&evicted);
  }
  tellDelegate(evicted);
}

void Cache::removeObjectForKey(const Value& key) {
  std::vector<Ref<Object>> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(key);
    if (found == index_.end()) return;
    evicted.push_back(found->second->object);
    totalCost_ -= found->second->cost;
    lru_.erase(found->second);
    index_.erase(found);
  }
  tellDelegate(evicted);
}

void Cache::removeAllObjects() {
  evictAll();
}

void Cache::evictAll() {
  std::vector<Ref<Object>> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& e : lru_) evicted.push_back(e.object);
    lru_.clear();
    index_.clear();
    totalCost_ = 0;
  }
  tellDelegate(evicted);
}

void Cache::trimLocked(std::vector<Ref<Object>>* evicted) {
  while (!lru_.empty() &&
         ((countLimit_ && lru_.size() > countLimit_) || (totalCostLimit_ && totalCost_ > totalCostLimit_))) {
    Entry& oldest = lru_.front();
    evicted->push_back(oldest.object);
    totalCost_ -= oldest.cost;
    index_.erase(oldest.key);
    lru_.pop_front();
  }
}

void Cache::tellDelegate(const std::vector<Ref<Object>>& evicted) {
  if (evicted.empty()) return;
  // The object stored as the delegate is told, not what the runtime accessor answers: with a
  // dynamic delegate installed, the accessor answers the ordinary delegate behind it.
  Ref<Object> d = storedDelegate();
  static const Sel willEvict("cache:willEvictObject:");
  if (!d || !respondsToSelector(d.get(), willEvict)) return;
  auto self = std::static_pointer_cast<Object>(weak_from_this().lock());
  for (const auto& object : evicted) send<void>(d.get(), willEvict, self, object);
}

std::string Cache::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

void Cache::setName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = std::move(name);
}

std::size_t Cache::countLimit() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return countLimit_;
}

void Cache::setCountLimit(std::size_t limit) {
  std::vector<Ref<Object>> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    countLimit_ = limit;
    trimLocked(&evicted);
  }
  tellDelegate(evicted);
}

std::size_t Cache::totalCostLimit() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return totalCostLimit_;
}

void Cache::setTotalCostLimit(std::size_t limit) {
  std::vector<Ref<Object>> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    totalCostLimit_ = limit;
    trimLocked(&evicted);
  }
  tellDelegate(evicted);
}

Ref<Object> Cache::delegate() {
  // Through the runtime, so that an exchanged implementation answers.
  return send<Ref<Object>>(this, Sel("delegate"));
}

void Cache::setDelegate(const Ref<Object>& delegate) {
  send<void>(this, Sel("setDelegate:"), delegate);
}

Ref<Object> Cache::storedDelegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_.lock();
}

void Cache::setStoredDelegate(const Ref<Object>& delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = delegate;
}

void Cache::simulateMemoryPressure() {
  std::vector<Ref<Cache>> caches;
  {
    std::lock_guard<std::mutex> lock(liveMutex());
    for (Cache* c : liveCaches()) {
      // A cache being destroyed has no owner left; skip it.
      if (auto strong = std::static_pointer_cast<Cache>(c->weak_from_this().lock())) caches.push_back(strong);
    }
  }
  for (auto& c : caches) c->evictAll();
}

}  // namespace ns
