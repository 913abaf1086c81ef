#pragma once
// Operation queues run operations when they are ready, at most maxConcurrentOperationCount at a
// time, highest priority first and otherwise in the order added. The main queue runs its
// operations one at a time on the main thread (through the main dispatch queue); other queues run
// them on the global dispatch queues.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Operation.h"

namespace dispatch {
class Queue;
}

namespace ns {

class OperationQueue : public Object {
 public:
  static constexpr long DefaultMaxConcurrentOperationCount = -1;

  OperationQueue();
  ~OperationQueue() override;

  static Ref<OperationQueue> mainQueue();
  // The queue running the calling operation (the main queue on the main thread), or null.
  static Ref<OperationQueue> currentQueue();

  // Adding an operation that is executing, finished or already in a queue raises
  // NSInvalidArgumentException.
  void addOperation(const Ref<Operation>& operation);
  void addOperations_waitUntilFinished(const std::vector<Ref<Operation>>& operations, bool wait);
  void addOperationWithBlock(std::function<void()> block);

  std::vector<Ref<Operation>> operations() const;
  std::size_t operationCount() const;
  long maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(long count);
  bool isSuspended() const;
  void setSuspended(bool suspended);
  std::string name() const;
  void setName(const std::string& name);

  void cancelAllOperations();
  void waitUntilAllOperationsAreFinished();

 private:
  struct Entry {
    Ref<Operation> operation;
    std::uint64_t observer;
    std::uint64_t sequence;
    bool started;
  };
  void schedule();
  void operationChanged(Operation& operation, const std::string& key);

  mutable std::mutex mutex_;
  std::condition_variable emptied_;
  std::vector<Entry> entries_;
  std::uint64_t nextSequence_ = 0;
  long maxCount_ = DefaultMaxConcurrentOperationCount;
  bool suspended_ = false;
  long running_ = 0;
  bool isMain_ = false;
  std::string name_;
};

}  // namespace ns
