#include "platform/testing/ManualQueue.h"

namespace pltest {

std::function<void(ManualQueue::Block)> ManualQueue::executor() const {
  std::weak_ptr<State> weak = state_;
  return [weak](Block block) {
    auto state = weak.lock();
    if (!state) return;
    {
      std::lock_guard lock(state->mutex);
      state->blocks.push_back(std::move(block));
    }
    state->cv.notify_all();
  };
}

bool ManualQueue::runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (predicate()) return true;
    Block block;
    {
      std::unique_lock lock(state_->mutex);
      if (!state_->cv.wait_until(lock, deadline, [&] { return !state_->blocks.empty(); })) return predicate();
      block = std::move(state_->blocks.front());
      state_->blocks.pop_front();
    }
    block();
  }
}

std::size_t ManualQueue::runPending() {
  std::deque<Block> blocks;
  {
    std::lock_guard lock(state_->mutex);
    blocks.swap(state_->blocks);
  }
  for (auto& b : blocks) b();
  return blocks.size();
}

std::size_t ManualQueue::pendingCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->blocks.size();
}

}  // namespace pltest
