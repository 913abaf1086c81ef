#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

#include "platform/core/NoDestructor.h"
#include "platform/foundation/OperationQueue.h"

namespace ns {

std::string Notification::description() const {
  std::string text = "NSConcreteNotification " + Object::description() + " {name = " + name_;
  if (object_) text += "; object = " + object_->description();
  if (!userInfo_.empty()) text += "; userInfo = " + Value(userInfo_).description();
  return text + "}";
}

namespace {

// What addObserverForName:... hands back: the identity under which the block is registered.
class ObserverToken : public Object {
 public:
  std::string className() const override { return "__NSObserver"; }
};

}  // namespace

struct NotificationCenter::Entry {
  void* observer = nullptr;
  bool heldWeakly = false;
  std::weak_ptr<void> weak;
  Ref<Object> token;  // keeps a block observer's token alive until it is removed
  Thunk thunk;
  std::optional<std::string> name;
  const Object* sender = nullptr;
  Ref<OperationQueue> queue;
  std::atomic<bool> removed{false};

  bool matches(const Notification& note) const {
    if (name && *name != note.name()) return false;
    if (sender && sender != note.object().get()) return false;
    return true;
  }
  bool expired() const { return heldWeakly && weak.expired(); }
};

Ref<NotificationCenter> NotificationCenter::defaultCenter() {
  // Never destroyed: background threads (task exit watchers, sockets) may still post while the
  // process exits.
  static const ns::NoDestructor<Ref<NotificationCenter>> center(make<NotificationCenter>());
  return *center;
}

void NotificationCenter::addEntry(void* observer, std::weak_ptr<void> weak, Thunk thunk,
                                  std::optional<std::string> name, const Object* sender) {
  auto entry = std::make_shared<Entry>();
  entry->observer = observer;
  entry->heldWeakly = !weak.expired();
  entry->weak = std::move(weak);
  entry->thunk = std::move(thunk);
  entry->name = std::move(name);
  entry->sender = sender;
  std::lock_guard<std::mutex> lock(mutex_);
  // Registrations of observers that have gone away are dropped as new ones arrive.
  std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->expired(); });
  entries_.push_back(std::move(entry));
}

Ref<Object> NotificationCenter::addObserverForName_object_queue_usingBlock(std::optional<std::string> name,
                                                                           const Ref<Object>& object,
                                                                           const Ref<OperationQueue>& queue,
                                                                           Block block) {
  auto token = make<ObserverToken>();
  auto entry = std::make_shared<Entry>();
  entry->observer = token.get();
  entry->token = token;
  entry->thunk = [block = std::move(block)](void*, const Ref<Notification>& note) {
    if (block) block(note);
  };
  entry->name = std::move(name);
  entry->sender = object.get();
  entry->queue = queue;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(entry));
  return token;
}

void NotificationCenter::removeObserver(const void* observer) {
  if (!observer) return;
  std::vector<std::shared_ptr<Entry>> dropped;  // released outside the lock
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e->observer == observer) {
      e->removed = true;
      dropped.push_back(e);
    }
  }
  std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->removed.load(); });
}

void NotificationCenter::removeObserver_name_object(const void* observer,
                                                    const std::optional<std::string>& name,
                                                    const Object* object) {
  if (!observer) return;
  std::vector<std::shared_ptr<Entry>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e->observer != observer) continue;
    if (name && e->name != name) continue;
    if (object && e->sender != object) continue;
    e->removed = true;
    dropped.push_back(e);
  }
  std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->removed.load(); });
}

void NotificationCenter::postNotification(const Ref<Notification>& note) {
  if (!note) return;
  std::vector<std::shared_ptr<Entry>> snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : entries_) {
      if (!e->removed && e->matches(*note)) snapshot.push_back(e);
    }
  }
  for (const auto& e : snapshot) {
    if (e->removed) continue;
    if (e->heldWeakly) {
      // Holding the observer for the call keeps it alive even if another thread drops it.
      std::shared_ptr<void> alive = e->weak.lock();
      if (!alive || e->removed) continue;
      e->thunk(e->observer, note);
      continue;
    }
    if (e->queue && OperationQueue::currentQueue() != e->queue) {
      // Delivered as an operation of the observer's queue; the post waits for it, so that
      // posting stays synchronous.
      auto op = BlockOperation::blockOperationWithBlock([e, note] {
        if (!e->removed) e->thunk(e->observer, note);
      });
      e->queue->addOperations_waitUntilFinished({op}, true);
      continue;
    }
    e->thunk(e->observer, note);
  }
}

void NotificationCenter::postNotificationName_object(const std::string& name, const Ref<Object>& object) {
  postNotification(make<Notification>(name, object));
}

void NotificationCenter::postNotificationName_object_userInfo(const std::string& name,
                                                              const Ref<Object>& object,
                                                              Dictionary userInfo) {
  postNotification(make<Notification>(name, object, std::move(userInfo)));
}

}  // namespace ns
