#include "lib/foundation/ObjectBlocks.h"

#include <atomic>
#include <memory>

#include "platform/dispatch/Queue.h"

namespace {

ObjectBlocks::BlockHandle deferred(std::function<void()> run, double delay) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  ObjectBlocks::BlockHandle wrapper = [cancelled, run = std::move(run)](bool cancel) {
    if (cancel) {
      cancelled->store(true);
    } else if (!cancelled->load()) {
      run();
    }
  };
  dispatch::after(delay, dispatch::mainQueue(), [wrapper] { wrapper(false); });
  return wrapper;
}

}  // namespace

ObjectBlocks::BlockHandle ObjectBlocks::performBlock_afterDelay(
    const ns::Ref<ns::Object>& object, std::function<void(ns::Ref<ns::Object>)> block, double delay) {
  if (!block) return nullptr;
  return deferred([object, block = std::move(block)] { block(object); }, delay);
}

ObjectBlocks::BlockHandle ObjectBlocks::performBlock_afterDelay(std::function<void()> block, double delay) {
  if (!block) return nullptr;
  return deferred(std::move(block), delay);
}

void ObjectBlocks::cancelBlock(const BlockHandle& handle) {
  if (handle) handle(true);
}
