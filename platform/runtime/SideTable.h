#pragma once
// Internal: state the runtime keeps beside an object (associated objects, observers, the object's
// lock), found by the object's address and dropped when the object dies.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns::runtime {

struct Association {
  Ref<Object> strong;
  Weak<Object> weak;
  bool isWeak = false;
};

struct Observance {
  std::uint64_t id = 0;
  Weak<Object> observer;
  const Object* observerAddress = nullptr;
  std::string keyPath;
  unsigned long options = 0;
  void* context = nullptr;
};

struct PendingChange {
  std::string key;
  // The observances told at willChange, with the old value each asked for.
  std::vector<std::pair<Observance, Value>> observances;
};

// A recursive lock that knows its owner, so that a release by another thread is refused.
class OwnedRecursiveLock {
 public:
  void lock();
  bool unlock();  // false when the calling thread does not hold it

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_;
  unsigned depth_ = 0;
};

struct SideState {
  std::mutex lock;  // guards the containers below
  std::map<const void*, Association> associations;
  std::vector<Observance> observances;
  std::vector<PendingChange> pendingChanges;
  OwnedRecursiveLock syncLock;
  std::vector<std::function<void(Object*)>> destructionCallbacks;
};

// The object's side state; null when it has none and `create` is false.
std::shared_ptr<SideState> sideState(const Object* object, bool create);
// Called from ns::Object's destructor.
void objectDestroyed(Object* object);

}  // namespace ns::runtime
