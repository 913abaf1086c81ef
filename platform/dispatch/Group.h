#pragma once
// Dispatch groups: track blocks (or enter/leave pairs) and notify or wake waiters when all are
// done.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace dispatch {

class Group : public ns::Object {
 public:
  void enter();
  // Unbalanced leave() is a programming error and aborts.
  void leave();
  // Waits until the group is empty or `timeout` (a dispatch time) passes; answers 0 when the
  // group emptied, non-zero on time-out.
  long wait(Time timeout);
  void notify(const ns::Ref<Queue>& queue, Block block);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long count_ = 0;
  std::vector<std::pair<ns::Ref<Queue>, Block>> notifications_;
};

ns::Ref<Group> groupCreate();
void groupAsync(const ns::Ref<Group>& group, const ns::Ref<Queue>& queue, Block block);
void groupNotify(const ns::Ref<Group>& group, const ns::Ref<Queue>& queue, Block block);
void groupEnter(const ns::Ref<Group>& group);
void groupLeave(const ns::Ref<Group>& group);
long groupWait(const ns::Ref<Group>& group, Time timeout);

}  // namespace dispatch
