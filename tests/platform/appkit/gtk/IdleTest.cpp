// On screen the application's event wait sleeps until something happens: an event posted by
// another thread, or a timer whose drawing must be shown, ends it.
#include <gtest/gtest.h>

#include <thread>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/core/Date.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/gtk/Screen.h"

namespace {

using ak::MakeRect;

// Posts an application-defined event each time it draws.
class PostingView : public ak::View {
 public:
  int draws = 0;
  void drawRect(const ak::Rect&) override {
    ++draws;
    ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1)->setFill();
    ak::RectFill(bounds());
    ak::Application::sharedApplication()->postEvent_atStart(event(7), false);
  }
  static ns::Ref<ak::Event> event(long data) {
    return ak::Event::
        otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
            ak::EventType::ApplicationDefined, {}, 0, 0, 0, nullptr, 0, data, 0);
  }
};

ns::Ref<ak::Event> nextEvent() {
  // A generous limit instead of none: a wait that never ends fails instead of hanging.
  return ak::Application::sharedApplication()->nextEventMatchingMask_untilDate_inMode_dequeue(
      ak::AnyEventMask, ns::Date::dateWithTimeIntervalSinceNow(60), ns::DefaultRunLoopMode, true);
}

TEST(GtkIdleTest, TheEventWaitEndsForAnEventFromAnotherThreadAndForATimersDrawing) {
  pltest::OnScreenApp app;
  auto window = app.window(MakeRect(100, 200, 300, 200));
  auto view = ak::make<PostingView>(MakeRect(0, 0, 300, 200));
  window->contentView()->addSubview(view);
  ASSERT_TRUE(app.waitUntilShown(window));
  app.dispatchQueued();
  while (app.app()->queuedEventCount())
    app.app()->nextEventMatchingMask_untilDate_inMode_dequeue(ak::AnyEventMask, std::nullopt,
                                                              ns::DefaultRunLoopMode, true);

  // Another thread posts while the main thread waits.
  std::thread poster(
      [] { ak::Application::sharedApplication()->postEvent_atStart(PostingView::event(3), false); });
  auto posted = nextEvent();
  poster.join();
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(posted->data1(), 3);

  // A timer marks the view dirty during the wait: the view is displayed (and so posts) without
  // any other event.
  const int draws = view->draws;
  ns::RunLoop::mainRunLoop()->addTimer_forMode(
      ns::Timer::timerWithTimeInterval_repeats_block(0.01, false,
                                                     [&](const auto&) { view->setNeedsDisplay(true); }),
      ns::DefaultRunLoopMode);
  auto drawn = nextEvent();
  ASSERT_NE(drawn, nullptr);
  EXPECT_EQ(drawn->data1(), 7);
  EXPECT_EQ(view->draws, draws + 1);
}

}  // namespace
