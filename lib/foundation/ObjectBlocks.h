#pragma once
// Closures run on the main queue after a delay, with a handle that cancels them.
#include <functional>

#include "platform/core/Object.h"

struct ObjectBlocks {
  // Called with YES, the handle cancels the closure if it has not run yet; with NO it runs it
  // (unless cancelled), as the main queue does when the delay is over.
  using BlockHandle = std::function<void(bool cancel)>;

  // The instance form: the closure receives `object`, which the pending closure keeps alive.
  static BlockHandle performBlock_afterDelay(const ns::Ref<ns::Object>& object,
                                             std::function<void(ns::Ref<ns::Object>)> block, double delay);
  static BlockHandle performBlock_afterDelay(std::function<void()> block, double delay);
  static void cancelBlock(const BlockHandle& handle);
};
