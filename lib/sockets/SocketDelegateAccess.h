#pragma once
// The delegate and delegate-queue accessors the dispatch sockets share. The pair is only read and
// written on the owner's socket queue, through the owner's `runSync` and `runInlineOrAsync`; the
// plain setters queue the change unless called on that queue, the "synchronously" ones wait for it.

#include <functional>
#include <optional>
#include <utility>

#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}

template <class Owner, class Delegate>
class SocketDelegateAccess {
 public:
  ns::Ref<Delegate> delegate() {
    ns::Ref<Delegate> result;
    owner().runSync([&] { result = delegate_.lock(); });
    return result;
  }
  ns::Ref<dispatch::Queue> delegateQueue() {
    ns::Ref<dispatch::Queue> result;
    owner().runSync([&] { result = delegateQueue_; });
    return result;
  }
  void getDelegate_delegateQueue(ns::Ref<Delegate>* delegatePtr, ns::Ref<dispatch::Queue>* delegateQueuePtr) {
    owner().runSync([&] {
      if (delegatePtr) *delegatePtr = delegate_.lock();
      if (delegateQueuePtr) *delegateQueuePtr = delegateQueue_;
    });
  }

  void setDelegate(ns::Weak<Delegate> delegate) { assign(std::move(delegate), std::nullopt, false); }
  void synchronouslySetDelegate(ns::Weak<Delegate> delegate) {
    assign(std::move(delegate), std::nullopt, true);
  }
  void setDelegateQueue(ns::Ref<dispatch::Queue> delegateQueue) {
    assign(std::nullopt, std::move(delegateQueue), false);
  }
  void synchronouslySetDelegateQueue(ns::Ref<dispatch::Queue> delegateQueue) {
    assign(std::nullopt, std::move(delegateQueue), true);
  }
  void setDelegate_delegateQueue(ns::Weak<Delegate> delegate, ns::Ref<dispatch::Queue> delegateQueue) {
    assign(std::move(delegate), std::move(delegateQueue), false);
  }
  void synchronouslySetDelegate_delegateQueue(ns::Weak<Delegate> delegate,
                                              ns::Ref<dispatch::Queue> delegateQueue) {
    assign(std::move(delegate), std::move(delegateQueue), true);
  }

 protected:
  SocketDelegateAccess(ns::Weak<Delegate> delegate, ns::Ref<dispatch::Queue> delegateQueue)
      : delegate_(std::move(delegate)), delegateQueue_(std::move(delegateQueue)) {}

  ns::Weak<Delegate> delegate_;
  ns::Ref<dispatch::Queue> delegateQueue_;

 private:
  Owner& owner() { return static_cast<Owner&>(*this); }
  void assign(std::optional<ns::Weak<Delegate>> delegate,
              std::optional<ns::Ref<dispatch::Queue>> delegateQueue, bool synchronously) {
    // Handed to the owner's runSync or runInlineOrAsync, which hold the owner until it has run.
    auto body = [this, delegate = std::move(delegate), delegateQueue = std::move(delegateQueue)] {
      if (delegate) delegate_ = *delegate;
      if (delegateQueue) delegateQueue_ = *delegateQueue;
    };
    if (synchronously) {
      owner().runSync(body);
    } else {
      owner().runInlineOrAsync(body);
    }
  }
};
