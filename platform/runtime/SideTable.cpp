#include "platform/runtime/SideTable.h"
#include "platform/core/NoDestructor.h"

#include <atomic>
#include <functional>
#include <unordered_map>

namespace ns::runtime {

namespace {

constexpr std::size_t kShards = 16;

struct Shard {
  std::mutex lock;
  std::unordered_map<const Object*, std::shared_ptr<SideState>> states;
};

struct Table {
  Shard shards[kShards];
  std::atomic<std::size_t> count{0};
};

Table& table() {
  static ns::NoDestructor<Table> t;  // objects may die during static destruction
  return *t;
}

Shard& shardFor(const Object* object) {
  return table().shards[(reinterpret_cast<std::uintptr_t>(object) >> 4) % kShards];
}

}  // namespace

void OwnedRecursiveLock::lock() {
  std::unique_lock guard(mutex_);
  auto me = std::this_thread::get_id();
  if (depth_ > 0 && owner_ == me) {
    ++depth_;
    return;
  }
  released_.wait(guard, [this] { return depth_ == 0; });
  owner_ = me;
  depth_ = 1;
}

bool OwnedRecursiveLock::unlock() {
  std::unique_lock guard(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    guard.unlock();
    released_.notify_one();
  }
  return true;
}

std::shared_ptr<SideState> sideState(const Object* object, bool create) {
  if (!object) return nullptr;
  if (!create && table().count.load(std::memory_order_acquire) == 0) return nullptr;
  Shard& shard = shardFor(object);
  std::lock_guard guard(shard.lock);
  auto it = shard.states.find(object);
  if (it != shard.states.end()) return it->second;
  if (!create) return nullptr;
  auto state = std::make_shared<SideState>();
  shard.states.emplace(object, state);
  table().count.fetch_add(1, std::memory_order_release);
  return state;
}

void objectDestroyed(Object* object) {
  if (table().count.load(std::memory_order_acquire) == 0) return;
  Shard& shard = shardFor(object);
  std::shared_ptr<SideState> state;
  {
    std::lock_guard guard(shard.lock);
    auto it = shard.states.find(object);
    if (it == shard.states.end()) return;
    state = it->second;
  }
  // Destruction callbacks still see the object's associations.
  std::vector<std::function<void(Object*)>> callbacks;
  {
    std::lock_guard guard(state->lock);
    callbacks.swap(state->destructionCallbacks);
  }
  for (auto& callback : callbacks) callback(object);
  {
    std::lock_guard guard(shard.lock);
    auto it = shard.states.find(object);
    if (it != shard.states.end() && it->second == state) {
      shard.states.erase(it);
      table().count.fetch_sub(1, std::memory_order_release);
    }
  }
  // Associated values are released here, outside every lock: their own destructors may come
  // back to this table.
  std::map<const void*, Association> associations;
  {
    std::lock_guard guard(state->lock);
    associations.swap(state->associations);
    state->observances.clear();
    state->pendingChanges.clear();
  }
}

}  // namespace ns::runtime
