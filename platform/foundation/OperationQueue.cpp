#include "platform/foundation/OperationQueue.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>

#include "platform/core/Exception.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"

namespace ns {
namespace {

thread_local OperationQueue* tlCurrent = nullptr;

std::mutex& membershipMutex() {
  static ns::NoDestructor<std::mutex> m;
  return *m;
}
// Operations that belong to some queue, so that one cannot join two.
std::vector<const Operation*>& members() {
  static ns::NoDestructor<std::vector<const Operation*>> v;
  return *v;
}

bool claim(const Operation* op) {
  std::lock_guard lock(membershipMutex());
  auto& v = members();
  if (std::find(v.begin(), v.end(), op) != v.end()) return false;
  v.push_back(op);
  return true;
}

void release(const Operation* op) {
  std::lock_guard lock(membershipMutex());
  auto& v = members();
  v.erase(std::remove(v.begin(), v.end(), op), v.end());
}

}  // namespace

OperationQueue::OperationQueue() {
  char buf[64];
  std::snprintf(buf, sizeof buf, "OperationQueue %p", static_cast<void*>(this));
  name_ = buf;
}

OperationQueue::~OperationQueue() {
  for (auto& e : entries_) {
    e.operation->removeChangeObserver(e.observer);
    release(e.operation.get());
  }
}

Ref<OperationQueue> OperationQueue::mainQueue() {
  static Ref<OperationQueue>* main = [] {
    auto q = make<OperationQueue>();
    q->isMain_ = true;
    q->maxCount_ = 1;
    q->name_ = "NSOperationQueue Main Queue";
    return new Ref<OperationQueue>(std::move(q));
  }();
  return *main;
}

Ref<OperationQueue> OperationQueue::currentQueue() {
  if (tlCurrent) return tlCurrent->self<OperationQueue>();
  if (gettid() == getpid()) return mainQueue();
  return nullptr;
}

void OperationQueue::addOperation(const Ref<Operation>& operation) {
  if (!operation) return;
  if (operation->isExecuting() || operation->isFinished())
    Exception::raise(
        NSInvalidArgumentException,
        "OperationQueue::addOperation: the operation is executing or finished and cannot be enqueued");
  if (!claim(operation.get()))
    Exception::raise(NSInvalidArgumentException,
                     "OperationQueue::addOperation: the operation is already enqueued on a queue");
  std::weak_ptr<OperationQueue> weak = self<OperationQueue>();
  auto token = operation->addChangeObserver([weak](Operation& op, const std::string& key) {
    if (auto q = weak.lock()) q->operationChanged(op, key);
  });
  {
    std::lock_guard lock(mutex_);
    entries_.push_back({operation, token, nextSequence_++, false});
  }
  schedule();
}

void OperationQueue::addOperations_waitUntilFinished(const std::vector<Ref<Operation>>& operations,
                                                     bool wait) {
  for (auto& op : operations) addOperation(op);
  if (wait)
    for (auto& op : operations) op->waitUntilFinished();
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
  addOperation(BlockOperation::blockOperationWithBlock(std::move(block)));
}

void OperationQueue::schedule() {
  std::vector<Ref<Operation>> toStart;
  {
    std::lock_guard lock(mutex_);
    while (!suspended_ && (maxCount_ < 0 || running_ < maxCount_)) {
      Entry* best = nullptr;
      for (auto& e : entries_) {
        if (e.started || !e.operation->isReady()) continue;
        if (!best || e.operation->queuePriority() > best->operation->queuePriority()) best = &e;
      }
      if (!best) break;
      best->started = true;
      ++running_;
      toStart.push_back(best->operation);
    }
  }
  auto target = isMain_ ? dispatch::mainQueue() : dispatch::globalQueue();
  for (auto& op : toStart) {
    dispatch::async(target, [self = self<OperationQueue>(), op] {
      auto* saved = tlCurrent;
      tlCurrent = self.get();
      try {
        op->start();
      } catch (const std::exception& e) {
        // An operation's failure must not take the worker thread down with it.
        std::fprintf(stderr, "OperationQueue: operation raised: %s\n", e.what());
      }
      tlCurrent = saved;
    });
  }
}

void OperationQueue::operationChanged(Operation& operation, const std::string& key) {
  if (key == "isFinished") {
    if (!operation.isFinished()) return;
    std::uint64_t token = 0;
    Ref<Operation> keep;
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(entries_.begin(), entries_.end(),
                             [&](auto& e) { return e.operation.get() == &operation; });
      if (it == entries_.end()) return;
      if (it->started) --running_;
      token = it->observer;
      keep = std::move(it->operation);
      entries_.erase(it);
      if (entries_.empty()) emptied_.notify_all();
    }
    keep->removeChangeObserver(token);
    release(keep.get());
    schedule();
  } else if (key == "isReady" || key == "isCancelled") {
    schedule();
  }
}

std::vector<Ref<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(mutex_);
  std::vector<Ref<Operation>> out;
  for (auto& e : entries_) out.push_back(e.operation);
  return out;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

long OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mutex_);
  return maxCount_;
}

void OperationQueue::setMaxConcurrentOperationCount(long count) {
  {
    std::lock_guard lock(mutex_);
    if (isMain_) return;  // the main queue runs one operation at a time
    maxCount_ = count < 0 ? DefaultMaxConcurrentOperationCount : count;
  }
  schedule();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  schedule();
}

std::string OperationQueue::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void OperationQueue::setName(const std::string& name) {
  std::lock_guard lock(mutex_);
  name_ = name;
}

void OperationQueue::cancelAllOperations() {
  // Operations not yet started go first: a running one that is cancelled may end at once and
  // free its slot, and whatever starts in it must already be cancelled.
  std::vector<Ref<Operation>> pending, started;
  {
    std::lock_guard lock(mutex_);
    for (auto& e : entries_) (e.started ? started : pending).push_back(e.operation);
  }
  for (auto& op : pending) op->cancel();
  for (auto& op : started) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(mutex_);
  emptied_.wait(lock, [&] { return entries_.empty(); });
}

}  // namespace ns
