#pragma once
// A queue of blocks that runs only when a test drains it, on the test's thread: a stand-in for
// a delegate queue whose order and timing the test controls.
//
//   pltest::ManualQueue queue;
//   connection->setDelegateQueue(queue.executor());
//   ASSERT_TRUE(queue.runUntil([&] { return delegate->finished; }));
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace pltest {

class ManualQueue {
 public:
  using Block = std::function<void()>;

  ManualQueue() : state_(std::make_shared<State>()) {}

  // Thread-safe; blocks queued after the queue is gone are dropped.
  std::function<void(Block)> executor() const;
  // Runs queued blocks, waiting for more (on a condition) until `predicate` holds or `timeout`
  // passes; answers whether it holds.
  bool runUntil(const std::function<bool()>& predicate,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Runs what is queued now, without waiting; answers how many ran.
  std::size_t runPending();
  std::size_t pendingCount() const;

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Block> blocks;
  };
  std::shared_ptr<State> state_;
};

}  // namespace pltest
