#include "lib/foundation/TimerBlocks.h"

#include "platform/core/NoDestructor.h"
#include "platform/runtime/Block.h"

namespace {

// Stands for the class that receives the timers' action; it lives as long as the process.
class TimerBlocksTarget : public ns::Object {
 public:
  void executeBlockFromTimer(const ns::Ref<ns::Timer>& timer) {
    TimerBlocks::blk_executeBlockFromTimer(timer);
  }
};

const ns::Ref<TimerBlocksTarget>& target() {
  static ns::NoDestructor<ns::Ref<TimerBlocksTarget>> t(ns::make<TimerBlocksTarget>());
  return *t;
}

ns::Ref<ns::Object> blockFor(TimerBlocks::TimerBlock block) {
  if (!block) return nullptr;
  return ns::block<void(ns::Ref<ns::Timer>)>(std::move(block));
}

}  // namespace

ns::Ref<ns::Timer> TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(ns::TimeInterval interval,
                                                                             TimerBlock block, bool repeats) {
  return ns::Timer::scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(
      interval, target(), &TimerBlocksTarget::executeBlockFromTimer, blockFor(std::move(block)), repeats);
}

ns::Ref<ns::Timer> TimerBlocks::timerWithTimeInterval_block_repeats(ns::TimeInterval interval,
                                                                    TimerBlock block, bool repeats) {
  return ns::Timer::timerWithTimeInterval_target_selector_userInfo_repeats(
      interval, target(), &TimerBlocksTarget::executeBlockFromTimer, blockFor(std::move(block)), repeats);
}

void TimerBlocks::blk_executeBlockFromTimer(const ns::Ref<ns::Timer>& timer) {
  if (!timer) return;
  // Held for the call: a block that invalidates its own timer drops the timer's reference to it
  // while it runs.
  auto block = std::dynamic_pointer_cast<ns::Block>(timer->userInfo());
  if (!block) return;
  block->call<void>(timer);
}
