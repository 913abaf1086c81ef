#include "platform/foundation/Operation.h"

#include <algorithm>

#include "platform/core/Exception.h"
#include "platform/dispatch/Queue.h"

namespace ns {

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::main() {}

bool Operation::isReady() const {
  std::vector<Ref<Operation>> deps;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return true;
    deps = dependencies_;
  }
  return std::all_of(deps.begin(), deps.end(), [](const Ref<Operation>& d) { return d->isFinished(); });
}

bool Operation::isExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool Operation::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool Operation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void Operation::start() {
  if (isExecuting())
    Exception::raise(NSInvalidArgumentException, "Operation::start: the operation is already executing");
  if (isFinished())
    Exception::raise(NSInvalidArgumentException, "Operation::start: the operation is already finished");
  if (!isReady())
    Exception::raise(NSInvalidArgumentException,
                     "Operation::start: the operation is not yet ready to execute");
  if (isCancelled()) {
    setFinished();
    return;
  }
  setExecuting(true);
  struct Finish {
    Operation& op;
    ~Finish() {
      op.setExecuting(false);
      op.setFinished();
    }
  } finish{*this};
  main();
}

void Operation::setExecuting(bool executing) {
  {
    std::lock_guard lock(mutex_);
    if (executing_ == executing) return;
    executing_ = executing;
  }
  didChangeValueForKey("isExecuting");
}

void Operation::setFinished() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
  }
  didChangeValueForKey("isFinished");
}

void Operation::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (cancelled_ || finished_) return;
    cancelled_ = true;
  }
  didChangeValueForKey("isCancelled");
  didChangeValueForKey("isReady");
}

void Operation::didChangeValueForKey(const std::string& key) {
  std::vector<std::shared_ptr<ChangeObserver>> observers;
  {
    std::lock_guard lock(mutex_);
    for (auto& [token, observer] : observers_) observers.push_back(observer);
  }
  for (auto& o : observers) (*o)(*this, key);
  if (key == "isFinished" && isFinished()) finishedOnce();
}

void Operation::finishedOnce() {
  std::function<void()> completion;
  std::vector<Weak<Operation>> dependents;
  {
    std::lock_guard lock(mutex_);
    if (finishHandled_) return;
    finishHandled_ = true;
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    dependents = dependents_;
  }
  finishedCv_.notify_all();
  // Off the main thread, and released once it has run.
  if (completion) dispatch::async(dispatch::globalQueue(), std::move(completion));
  for (auto& weak : dependents)
    if (auto d = weak.lock()) d->didChangeValueForKey("isReady");
}

void Operation::addDependency(const Ref<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  {
    std::lock_guard lock(mutex_);
    if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end()) return;
    dependencies_.push_back(operation);
  }
  operation->addDependent(self<Operation>());
  didChangeValueForKey("isReady");
}

void Operation::addDependent(const Ref<Operation>& dependent) {
  std::lock_guard lock(mutex_);
  dependents_.push_back(dependent);
}

void Operation::removeDependency(const Ref<Operation>& operation) {
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
    if (it == dependencies_.end()) return;
    dependencies_.erase(it);
  }
  didChangeValueForKey("isReady");
}

std::vector<Ref<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mutex_);
  return dependencies_;
}

Operation::QueuePriority Operation::queuePriority() const {
  std::lock_guard lock(mutex_);
  return priority_;
}

void Operation::setQueuePriority(QueuePriority priority) {
  std::lock_guard lock(mutex_);
  priority_ = priority;
}

std::function<void()> Operation::completionBlock() const {
  std::lock_guard lock(mutex_);
  return completionBlock_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  if (!finishHandled_) completionBlock_ = std::move(block);
}

std::string Operation::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void Operation::setName(const std::string& name) {
  std::lock_guard lock(mutex_);
  name_ = name;
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(mutex_);
  finishedCv_.wait(lock, [&] { return finishHandled_; });
}

std::uint64_t Operation::addChangeObserver(ChangeObserver observer) {
  std::lock_guard lock(mutex_);
  auto token = nextObserver_++;
  observers_.emplace_back(token, std::make_shared<ChangeObserver>(std::move(observer)));
  return token;
}

void Operation::removeChangeObserver(std::uint64_t token) {
  std::lock_guard lock(mutex_);
  observers_.erase(
      std::remove_if(observers_.begin(), observers_.end(), [&](auto& e) { return e.first == token; }),
      observers_.end());
}

BlockOperation::BlockOperation(std::function<void()> block) {
  if (block) blocks_.push_back(std::move(block));
}

Ref<BlockOperation> BlockOperation::blockOperationWithBlock(std::function<void()> block) {
  return make<BlockOperation>(std::move(block));
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  if (isExecuting() || isFinished())
    Exception::raise(NSInvalidArgumentException, "BlockOperation: blocks cannot be added after it started");
  std::lock_guard lock(blocksMutex_);
  if (block) blocks_.push_back(std::move(block));
}

std::vector<std::function<void()>> BlockOperation::executionBlocks() const {
  std::lock_guard lock(blocksMutex_);
  return blocks_;
}

void BlockOperation::main() {
  for (auto& block : executionBlocks()) block();
}

}  // namespace ns
