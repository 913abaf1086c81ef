#pragma once
// The notification centre. Posting is synchronous: every matching observer runs on the posting
// thread before the post returns (or, for a closure given a queue, on that queue while the
// poster waits). Posting works from any thread.
//
// Each post works on a snapshot of the registrations, so observers may add or remove observers
// while it runs; an observer removed during a post is not called afterwards in that post, and
// one that was destroyed is skipped. Observers are held weakly: an observer owned by a Ref is
// never kept alive by the centre. An observer that is not owned by a Ref yet (registering from
// its constructor) is held by address and must remove itself in its destructor, which
// removeObserver(this) allows.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/foundation/Notification.h"

namespace ns {

class OperationQueue;

class NotificationCenter : public Object {
 public:
  using Block = std::function<void(const Ref<Notification>&)>;

  static Ref<NotificationCenter> defaultCenter();

  // addObserver:selector:name:object: with a member function taking the notification or
  // nothing. A nullopt name matches every name; a null object matches every sender.
  template <class T>
  void addObserver_selector_name_object(T* observer, void (T::*selector)(const Ref<Notification>&),
                                        std::optional<std::string> name,
                                        const Ref<Object>& object = nullptr) {
    addEntry(
        observer, weakOf(observer),
        [selector](void* target, const Ref<Notification>& note) {
          (static_cast<T*>(target)->*selector)(note);
        },
        std::move(name), object.get());
  }
  template <class T>
  void addObserver_selector_name_object(T* observer, void (T::*selector)(), std::optional<std::string> name,
                                        const Ref<Object>& object = nullptr) {
    addEntry(
        observer, weakOf(observer),
        [selector](void* target, const Ref<Notification>&) { (static_cast<T*>(target)->*selector)(); },
        std::move(name), object.get());
  }
  template <class T, class Method>
  void addObserver_selector_name_object(const Ref<T>& observer, Method selector,
                                        std::optional<std::string> name,
                                        const Ref<Object>& object = nullptr) {
    addObserver_selector_name_object(observer.get(), selector, std::move(name), object);
  }

  // addObserverForName:object:queue:usingBlock:. The centre keeps the block until the returned
  // token is removed with removeObserver. With a queue the block runs as an operation of that
  // queue (at once when the poster already runs on it) and the post waits for it.
  Ref<Object> addObserverForName_object_queue_usingBlock(std::optional<std::string> name,
                                                         const Ref<Object>& object,
                                                         const Ref<OperationQueue>& queue, Block block);

  // Removes every registration of `observer` (an object or a token), or those matching a name
  // and sender. Safe from the observer's destructor and during a post.
  void removeObserver(const void* observer);
  void removeObserver_name_object(const void* observer, const std::optional<std::string>& name,
                                  const Object* object);

  void postNotification(const Ref<Notification>& notification);
  void postNotificationName_object(const std::string& name, const Ref<Object>& object = nullptr);
  void postNotificationName_object_userInfo(const std::string& name, const Ref<Object>& object,
                                            Dictionary userInfo);

 private:
  using Thunk = std::function<void(void* target, const Ref<Notification>&)>;
  struct Entry;

  template <class T>
  static std::weak_ptr<void> weakOf(T* observer) {
    if constexpr (std::is_base_of_v<Object, T>) {
      std::weak_ptr<Object> weak = observer ? observer->weak_from_this() : std::weak_ptr<Object>();
      // Not owned by a Ref yet: held by address until it removes itself.
      if (weak.expired()) return {};
      auto strong = weak.lock();
      return std::weak_ptr<void>(std::shared_ptr<void>(strong, static_cast<void*>(observer)));
    } else {
      return {};
    }
  }

  void addEntry(void* observer, std::weak_ptr<void> weak, Thunk thunk, std::optional<std::string> name,
                const Object* sender);

  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace ns
