#pragma once
// Operations: a unit of work with the states ready, executing, finished and cancelled, run by an
// OperationQueue or by calling start().
//
// A plain operation overrides main(); start() runs it and marks the operation finished. A
// concurrent operation overrides start(), isConcurrent(), isExecuting() and isFinished(), keeps
// its own state, and calls didChangeValueForKey("isExecuting"/"isFinished") after each change,
// which is what queues and other observers watch. The completion block runs exactly once, on a
// background thread, when the operation finishes (also when it was cancelled before starting).
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace ns {

class Operation : public Object {
 public:
  enum QueuePriority : long {
    QueuePriorityVeryLow = -8,
    QueuePriorityLow = -4,
    QueuePriorityNormal = 0,
    QueuePriorityHigh = 4,
    QueuePriorityVeryHigh = 8,
  };

  Operation();
  ~Operation() override;

  // Runs main() unless the operation was cancelled, then marks it finished. Starting an operation
  // that is not ready, already executing or finished raises NSInvalidArgumentException.
  virtual void start();
  virtual void main();

  virtual bool isReady() const;
  virtual bool isExecuting() const;
  virtual bool isFinished() const;
  virtual bool isConcurrent() const { return false; }
  bool isAsynchronous() const { return isConcurrent(); }
  bool isCancelled() const;
  virtual void cancel();

  void addDependency(const Ref<Operation>& operation);
  void removeDependency(const Ref<Operation>& operation);
  std::vector<Ref<Operation>> dependencies() const;

  QueuePriority queuePriority() const;
  void setQueuePriority(QueuePriority priority);
  std::function<void()> completionBlock() const;
  void setCompletionBlock(std::function<void()> block);
  std::string name() const;
  void setName(const std::string& name);

  // Blocks until the operation has finished.
  void waitUntilFinished();

  // Change callbacks for "isReady", "isExecuting", "isFinished" and "isCancelled", called after
  // the change on the thread that made it.
  using ChangeObserver = std::function<void(Operation& operation, const std::string& key)>;
  std::uint64_t addChangeObserver(ChangeObserver observer);
  void removeChangeObserver(std::uint64_t token);

 protected:
  void willChangeValueForKey(const std::string&) {}
  void didChangeValueForKey(const std::string& key);

 private:
  void setExecuting(bool executing);
  void setFinished();
  void finishedOnce();
  void addDependent(const Ref<Operation>& dependent);

  mutable std::mutex mutex_;
  std::condition_variable finishedCv_;
  bool executing_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  bool finishHandled_ = false;
  QueuePriority priority_ = QueuePriorityNormal;
  std::function<void()> completionBlock_;
  std::string name_;
  std::vector<Ref<Operation>> dependencies_;
  std::vector<Weak<Operation>> dependents_;
  std::vector<std::pair<std::uint64_t, std::shared_ptr<ChangeObserver>>> observers_;
  std::uint64_t nextObserver_ = 1;
};

// An operation made of blocks, run one after another on the operation's thread.
class BlockOperation : public Operation {
 public:
  BlockOperation() = default;
  explicit BlockOperation(std::function<void()> block);
  static Ref<BlockOperation> blockOperationWithBlock(std::function<void()> block);
  void addExecutionBlock(std::function<void()> block);
  std::vector<std::function<void()>> executionBlocks() const;
  void main() override;

 private:
  mutable std::mutex blocksMutex_;
  std::vector<std::function<void()>> blocks_;
};

}  // namespace ns
