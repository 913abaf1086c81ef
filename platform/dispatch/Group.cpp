#include "platform/dispatch/Group.h"

#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/Reactor.h"

namespace dispatch {

void Group::enter() {
  std::lock_guard lock(mutex_);
  ++count_;
}

void Group::leave() {
  std::vector<std::pair<ns::Ref<Queue>, Block>> ready;
  {
    std::lock_guard lock(mutex_);
    if (count_ <= 0) {
      std::fprintf(stderr, "dispatch: unbalanced group leave\n");
      std::abort();
    }
    if (--count_ > 0) return;
    ready.swap(notifications_);
    cv_.notify_all();
  }
  for (auto& [queue, block] : ready) async(queue, std::move(block));
}

long Group::wait(Time timeout) {
  std::unique_lock lock(mutex_);
  return detail::waitUntil(lock, cv_, timeout, [&] { return count_ == 0; }) ? 0 : 1;
}

void Group::notify(const ns::Ref<Queue>& queue, Block block) {
  {
    std::lock_guard lock(mutex_);
    if (count_ > 0) {
      notifications_.emplace_back(queue, std::move(block));
      return;
    }
  }
  async(queue, std::move(block));
}

ns::Ref<Group> groupCreate() {
  return ns::make<Group>();
}

void groupAsync(const ns::Ref<Group>& group, const ns::Ref<Queue>& queue, Block block) {
  group->enter();
  async(queue, [group, block = std::move(block)] {
    block();
    group->leave();
  });
}

void groupNotify(const ns::Ref<Group>& group, const ns::Ref<Queue>& queue, Block block) {
  group->notify(queue, std::move(block));
}
void groupEnter(const ns::Ref<Group>& group) {
  group->enter();
}
void groupLeave(const ns::Ref<Group>& group) {
  group->leave();
}
long groupWait(const ns::Ref<Group>& group, Time timeout) {
  return group->wait(timeout);
}

}  // namespace dispatch
