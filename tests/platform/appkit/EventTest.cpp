#include <gtest/gtest.h>

#include "platform/appkit/Cursor.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

TEST(Events, KeepThePlatformsNumbers) {
  EXPECT_EQ(ak::LeftMouseDownMask | ak::LeftMouseUpMask | ak::LeftMouseDraggedMask, 0x46u);
  EXPECT_EQ(unsigned(ak::EventType::ScrollWheel), 22u);
  EXPECT_EQ(unsigned(ak::EventType::SystemDefined), 14u);
  EXPECT_EQ(ak::CommandKeyMask, 1ul << 20);
  EXPECT_EQ(ak::functionKeyString(ak::UpArrowFunctionKey), "\xEF\x9C\x80");
  pltest::HeadlessApp app;
  app.advance(12.5);
  auto e = pltest::mouseEvent(nullptr, ak::EventType::LeftMouseDown, {1, 2});
  EXPECT_DOUBLE_EQ(e->timestamp(), ns::Clock::now());
  auto media =
      ak::Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
          ak::EventType::SystemDefined, {}, 0, 0, 0, nullptr, 8, (16 << 16) | (0xA << 8), -1);
  EXPECT_EQ(media->subtype(), 8);
  EXPECT_EQ((media->data1() & 0xFFFF0000) >> 16, 16);
}

TEST(TrackingAreas, OptionsDecideWhatTheOwnerHears) {
  struct Case {
    unsigned long options;
    bool dragging;
    const char* expected;
  } cases[] = {
      {0x83, false, "swatch entered, swatch moved, swatch moved, swatch moved, swatch exited"},
      {0x81, false, "swatch entered, swatch exited"},
      {0x81, true, "swatch down, swatch dragged, swatch dragged, swatch dragged, swatch up"},
      {0x481, true,
       "swatch down, swatch entered, swatch dragged, swatch dragged, swatch exited, swatch dragged, swatch "
       "up"},
      {0x283, false, "swatch entered, swatch moved, swatch moved, swatch moved, swatch exited"},
      {0x85, false, "swatch entered, swatch cursorUpdate, swatch exited"},
      {0x03, false, ""},  // not active in any state
  };
  for (const auto& c : cases) {
    pltest::HeadlessApp app;
    std::vector<std::string> log;
    auto window = app.window(MakeRect(100, 100, 300, 200), ak::BorderlessWindowMask);
    // The owner takes the clicks; the area lies on a smaller view inside it.
    auto owner = loggingSwatch(window, MakeRect(0, 0, 300, 200), log);
    auto small = ak::make<ak::View>(MakeRect(100, 50, 100, 100));
    owner->addSubview(small);
    small->addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(
        (c.options & ak::TrackingInVisibleRect) ? ak::ZeroRect : small->bounds(), c.options, owner));
    std::vector<ak::Point> path = {{150, 100}, {160, 100}, {170, 110}, {250, 100}};
    if (c.dragging) {
      pltest::drag(window, {{50, 100}, path[0], path[1], path[3]});
    } else {
      pltest::moveMouse(window, {50, 100});
      for (const auto& p : path) pltest::moveMouse(window, p);
    }
    app.dispatchQueued();
    EXPECT_EQ(joined(log), c.expected) << std::hex << c.options << " dragging " << c.dragging;
  }
}

TEST(TrackingAreas, AssumeInsideAndUpdatesAfterGeometry) {
  pltest::HeadlessApp app;
  std::vector<std::string> log;
  auto window = app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);

  class Tracked : public SwatchView {
   public:
    int updates = 0;
    ns::Ref<ak::TrackingArea> area;
    void updateTrackingAreas() override {
      ++updates;
      if (area) removeTrackingArea(area);
      area = ak::TrackingArea::initWithRect_options_owner_userInfo(bounds(), 0x181, self<Tracked>());
      addTrackingArea(area);
    }
  };
  auto view = ak::make<Tracked>(MakeRect(0, 0, 100, 100));
  view->log = &log;
  window->contentView()->addSubview(view);
  pltest::moveMouse(window, {150, 150});
  app.dispatchQueued();
  EXPECT_EQ(view->updates, 1);
  EXPECT_EQ(joined(log), "swatch exited");  // assumed inside, found outside
  view->setFrame(MakeRect(100, 100, 100, 100));
  pltest::moveMouse(window, {50, 50});
  app.dispatchQueued();
  EXPECT_EQ(view->updates, 2);
  EXPECT_EQ(joined(log), "swatch exited, swatch exited");
}

// A view taken out of the window and put back (as a table reuses its row views) has lost what
// its areas knew; the mouse leaving it must still be heard, and nothing said where it never was.
TEST(TrackingAreas, AViewPutBackInTheWindowHearsTheMouseLeaveIt) {
  pltest::HeadlessApp app;
  std::vector<std::string> log;
  auto window = app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);
  auto view = loggingSwatch(window, MakeRect(0, 0, 100, 100), log);
  view->addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(ak::ZeroRect, 0x281, view));
  auto putBack = [&] {
    view->removeFromSuperview();
    window->contentView()->addSubview(view);
  };
  auto moves = [&](std::initializer_list<ak::Point> path) {
    log.clear();
    for (const auto& p : path) pltest::moveMouse(window, p);
    app.dispatchQueued();
    return joined(log);
  };
  EXPECT_EQ(moves({{50, 50}}), "swatch entered");
  putBack();
  // One move straight out, as when the pointer leaves quickly.
  EXPECT_EQ(moves({{250, 150}}), "swatch exited");
  putBack();
  EXPECT_EQ(moves({{260, 160}, {50, 50}}), "swatch entered");
  // Put back under the mouse: a move inside it says entered, and the way out exited.
  putBack();
  EXPECT_EQ(moves({{60, 60}, {250, 150}}), "swatch entered, swatch exited");
  // Moved away while out of the window: the mouse was never in it where it stands now.
  pltest::moveMouse(window, {50, 50});
  view->removeFromSuperview();
  view->setFrame(MakeRect(150, 100, 100, 100));
  window->contentView()->addSubview(view);
  EXPECT_EQ(moves({{40, 40}}), "");
  // Hidden when it comes back: it hears nothing.
  EXPECT_EQ(moves({{200, 150}}), "swatch entered");
  view->removeFromSuperview();
  view->setHidden(true);
  window->contentView()->addSubview(view);
  EXPECT_EQ(moves({{20, 20}}), "");
}

namespace {

// Runs its own tracking loop on mouse-down, as controls and split views do.
class TrackingLoopView : public SwatchView {
 public:
  pltest::HeadlessApp* app = nullptr;
  int* commonFired = nullptr;
  int* defaultFired = nullptr;
  std::vector<std::string> seen;
  bool removeSelfOnFirstDrag = false;

  void mouseDown(const ns::Ref<ak::Event>&) override {
    auto keep = self<TrackingLoopView>();
    for (;;) {
      auto e = ak::Application::sharedApplication()->nextEventMatchingMask_untilDate_inMode_dequeue(
          0x46, ns::Date::distantFuture(), ns::EventTrackingRunLoopMode, true);
      if (!e) {
        seen.push_back("nil");
        break;
      }
      if (e->type() == ak::EventType::LeftMouseUp) {
        seen.push_back("up common=" + std::to_string(*commonFired) +
                       " default=" + std::to_string(*defaultFired));
        break;
      }
      seen.push_back("drag");
      if (seen.size() == 1) {
        // A second passes while the loop waits for the next event.
        auto* fixture = app;
        ns::RunLoop::currentRunLoop()->performInModes_block({ns::EventTrackingRunLoopMode},
                                                            [fixture] { fixture->advance(1.0); });
        if (removeSelfOnFirstDrag) removeFromSuperview();
      }
    }
  }
};

}  // namespace

TEST(EventTracking, ALoopInTheTrackingModeSeesItsEventsAndOnlyCommonModeTimers) {
  pltest::HeadlessApp app;
  int commonFired = 0, defaultFired = 0;
  auto loop = ns::RunLoop::currentRunLoop();
  auto common =
      ns::Timer::timerWithTimeInterval_repeats_block(0.5, false, [&](const auto&) { ++commonFired; });
  auto plain =
      ns::Timer::timerWithTimeInterval_repeats_block(0.5, false, [&](const auto&) { ++defaultFired; });
  loop->addTimer_forMode(common, ns::RunLoopCommonModes);
  loop->addTimer_forMode(plain, ns::DefaultRunLoopMode);

  auto window = app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);
  auto view = ak::make<TrackingLoopView>(MakeRect(0, 0, 300, 200));
  view->app = &app;
  view->commonFired = &commonFired;
  view->defaultFired = &defaultFired;
  window->contentView()->addSubview(view);
  pltest::drag(window, {{10, 10}, {20, 10}, {30, 10}, {40, 10}});
  app.dispatchQueued();
  EXPECT_EQ(joined(view->seen), "drag, drag, drag, up common=1 default=0");
  // Back in the default mode the other timer fires.
  loop->runPendingInMode(ns::DefaultRunLoopMode);
  EXPECT_EQ(defaultFired, 1);
}

TEST(EventTracking, AViewRemovedOrAWindowClosedDuringItsOwnLoopIsNotUsedAfterwards) {
  pltest::HeadlessApp app;
  int commonFired = 0, defaultFired = 0;
  auto window = app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);
  ns::Weak<TrackingLoopView> weak;
  {
    auto view = ak::make<TrackingLoopView>(MakeRect(0, 0, 300, 200));
    view->app = &app;
    view->commonFired = &commonFired;
    view->defaultFired = &defaultFired;
    view->removeSelfOnFirstDrag = true;
    window->contentView()->addSubview(view);
    weak = view;
  }
  pltest::drag(window, {{10, 10}, {20, 10}, {30, 10}});
  app.dispatchQueued();
  EXPECT_TRUE(weak.expired());  // released once its loop returned, not during it

  // A window closed while its events are queued: they are dropped.
  std::vector<std::string> log;
  auto other = app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
  auto target = loggingSwatch(other, MakeRect(0, 0, 100, 100), log);
  pltest::click(other, {5, 5});
  other->close();
  app.dispatchQueued();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(app.app()->queuedEventCount(), 0u);
}

TEST(Cursors, HidingIsCountedAndNeverBelowZero) {
  pltest::HeadlessApp app;
  ak::Cursor::unhide();
  EXPECT_EQ(ak::Cursor::hideCount(), 0);
  ak::Cursor::hide();
  ak::Cursor::hide();
  ak::Cursor::unhide();
  EXPECT_FALSE(ak::Cursor::isVisible());
  ak::Cursor::unhide();
  ak::Cursor::unhide();
  EXPECT_TRUE(ak::Cursor::isVisible());
  EXPECT_EQ(ak::Cursor::hideCount(), 0);

  auto window = app.window(MakeRect(0, 0, 200, 200), ak::BorderlessWindowMask);
  ak::Cursor::setHiddenUntilMouseMoves(true);
  EXPECT_FALSE(ak::Cursor::isVisible());
  pltest::click(window, {5, 5});
  app.dispatchQueued();
  EXPECT_FALSE(ak::Cursor::isVisible());
  pltest::moveMouse(window, {6, 6});
  app.dispatchQueued();
  EXPECT_TRUE(ak::Cursor::isVisible());

  class Hand : public ak::View {
   public:
    void resetCursorRects() override {
      addCursorRect_cursor(MakeRect(0, 0, 50, 50), ak::Cursor::pointingHandCursor());
    }
  };
  window->contentView()->addSubview(ak::make<Hand>(MakeRect(100, 100, 100, 100)));
  pltest::moveMouse(window, {120, 120});
  app.dispatchQueued();
  EXPECT_EQ(ak::Cursor::currentCursor(), ak::Cursor::pointingHandCursor());
  pltest::moveMouse(window, {170, 170});
  app.dispatchQueued();
  EXPECT_EQ(ak::Cursor::currentCursor(), ak::Cursor::arrowCursor());
}
