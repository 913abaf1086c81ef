// Work that waits for the first frame on the screen (the media engine's start): headless it runs
// at once; under a presenter only once that presenter reports a frame shown, or once there is no
// presenter any more.
#include <gtest/gtest.h>

#include <memory>

#include "platform/appkit/Presenter.h"
#include "platform/runloop/RunLoop.h"

namespace {

// Passes of the main loop: what is performed runs in the first one.
void pump() {
  for (int i = 0; i < 3; ++i) ns::RunLoop::mainRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
}

TEST(FirstFrame, WorkWaitsForAFrameOnTheScreenOnlyWhileAPresenterShowsTheWindows) {
  int headless = 0;
  ak::performAfterFirstFrame([&] { ++headless; });
  EXPECT_EQ(headless, 0) << "run within the caller's turn";
  pump();
  EXPECT_EQ(headless, 1);

  ak::setActivePresenter(std::make_shared<ak::Presenter>());
  int first = 0, second = 0;
  ak::performAfterFirstFrame([&] { ++first; });
  ak::performAfterFirstFrame([&] { ++second; });
  pump();
  EXPECT_EQ(first + second, 0) << "no frame has reached the screen";
  ak::noteFrameShown();
  EXPECT_EQ(first + second, 0) << "run inside the presenter's drawing";
  pump();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  // Later frames and later requests: each block once, the new one at once.
  ak::noteFrameShown();
  int later = 0;
  ak::performAfterFirstFrame([&] { ++later; });
  pump();
  EXPECT_EQ(later, 1);
  EXPECT_EQ(first, 1);

  // A new presenter has shown nothing yet; when it goes without a frame, what waited runs.
  ak::setActivePresenter(std::make_shared<ak::Presenter>());
  int orphan = 0;
  ak::performAfterFirstFrame([&] { ++orphan; });
  pump();
  EXPECT_EQ(orphan, 0);
  ak::setActivePresenter(nullptr);
  pump();
  EXPECT_EQ(orphan, 1);
}

}  // namespace
