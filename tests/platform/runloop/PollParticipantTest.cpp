#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/Pipe.h"

namespace {

using ns::RunLoop;

// A participant that watches one pipe, or only waits for its own deadline.
class PipeParticipant : public ns::PollParticipant {
 public:
  explicit PipeParticipant(int fd) : fd_(fd) {}
  double prepare(std::vector<ns::PollDescriptor>& fds) override {
    ++prepares;
    fds.clear();
    if (fd_ >= 0) fds.push_back({fd_, POLLIN, 0});
    if (!deadline) return INFINITY;
    auto left = std::chrono::duration<double>(*deadline - std::chrono::steady_clock::now()).count();
    return std::max(left, 0.0);
  }
  bool dispatch(std::vector<ns::PollDescriptor>& fds) override {
    ++dispatches;
    bool handled = false;
    for (auto& d : fds) {
      if (d.revents & POLLIN) {
        char c;
        while (::read(d.fd, &c, 1) == 1) ++bytes;
        handled = true;
      }
    }
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
      deadline.reset();
      ++deadlines;
      handled = true;
    }
    return handled;
  }
  int prepares = 0, dispatches = 0, bytes = 0, deadlines = 0;
  std::optional<std::chrono::steady_clock::time_point> deadline;

 private:
  int fd_;
};

class PollParticipantTest : public testing::Test {
 protected:
  void TearDown() override { RunLoop::currentRunLoop()->setPollParticipant(nullptr); }
};

TEST_F(PollParticipantTest, ItsDescriptorsAreServedInEveryModeAndPairedPrepareAndDispatch) {
  pltest::Pipe pipe;
  auto guest = std::make_shared<PipeParticipant>(pipe.r);
  auto loop = RunLoop::currentRunLoop();
  loop->setPollParticipant(guest);
  for (const auto* mode :
       {&ns::DefaultRunLoopMode, &ns::EventTrackingRunLoopMode, &ns::ModalPanelRunLoopMode}) {
    const int before = guest->bytes;
    ASSERT_EQ(::write(pipe.w, "xy", 2), 2);
    EXPECT_TRUE(loop->runUntil([&] { return guest->bytes == before + 2; }, 30, *mode)) << *mode;
  }
  // A mode nobody registered anything in still waits for the participant.
  ASSERT_EQ(::write(pipe.w, "z", 1), 1);
  EXPECT_TRUE(loop->runMode_beforeDate("SomeOtherMode", ns::Date::distantFuture()));
  EXPECT_EQ(guest->bytes, 7);
  EXPECT_EQ(guest->prepares, guest->dispatches);
  // The loop's own pending work still runs before the participant is asked.
  bool performed = false;
  loop->performBlock([&] { performed = true; });
  EXPECT_TRUE(loop->runPendingInMode(ns::DefaultRunLoopMode));
  EXPECT_TRUE(performed);
  EXPECT_EQ(guest->prepares, guest->dispatches);
}

TEST_F(PollParticipantTest, ItsWaitLimitEndsTheLoopsWaitAndAbsentItCostsNothing) {
  auto guest = std::make_shared<PipeParticipant>(-1);
  auto loop = RunLoop::currentRunLoop();
  // Nothing registered and no participant: a pass answers at once.
  EXPECT_FALSE(loop->runMode_beforeDate("EmptyMode", ns::Date::distantFuture()));
  loop->setPollParticipant(guest);
  EXPECT_EQ(loop->pollParticipant(), guest);
  guest->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  // Without the participant's limit this pass would wait for ever.
  EXPECT_TRUE(loop->runMode_beforeDate("EmptyMode", ns::Date::distantFuture()));
  EXPECT_EQ(guest->deadlines, 1);
  // A timer of the mode and the participant both get their turn.
  bool fired = false;
  auto timer = ns::Timer::timerWithTimeInterval_repeats_block(
      0.01, false, [&](const ns::Ref<ns::Timer>&) { fired = true; });
  loop->addTimer_forMode(timer, ns::DefaultRunLoopMode);
  guest->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
  EXPECT_TRUE(loop->runUntil([&] { return fired && guest->deadlines == 2; }, 30));
  loop->setPollParticipant(nullptr);
  const int prepares = guest->prepares;
  loop->performBlock([] {});
  loop->runPendingInMode(ns::DefaultRunLoopMode);
  EXPECT_EQ(guest->prepares, prepares);
}

}  // namespace
