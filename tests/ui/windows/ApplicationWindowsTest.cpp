#include <gtest/gtest.h>

#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/ScopedController.h"
#include "ui/MouseMoveNSView.h"
#include "ui/MySplitView.h"
#include "ui/MyWindow.h"
#include "ui/UINotifications.h"

using ak::MakeRect;

namespace {

int count(const std::vector<std::string>& calls, const std::string& name) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

// Counts the two full-screen mouse notifications.
class MouseNotes {
 public:
  int moved = 0, idle = 0;
  MouseNotes() {
    auto center = ns::NotificationCenter::defaultCenter();
    tokens_.push_back(center->addObserverForName_object_queue_usingBlock(
        std::string(kFullScreenMouseMovedNotification), nullptr, nullptr,
        [this](const ns::Ref<ns::Notification>&) { ++moved; }));
    tokens_.push_back(center->addObserverForName_object_queue_usingBlock(
        std::string(kFullScreenMouseIdleNotification), nullptr, nullptr,
        [this](const ns::Ref<ns::Notification>&) { ++idle; }));
  }
  ~MouseNotes() {
    for (const auto& t : tokens_) ns::NotificationCenter::defaultCenter()->removeObserver(t.get());
  }

 private:
  std::vector<ns::Ref<ns::Object>> tokens_;
};

// A window whose content holds a mouse view at (100, 50), 600 x 500, set up as the main window
// controller does on entering full screen: the player above a 42-point strip, bookmarks at the
// right.
struct MouseFixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window = app.window(MakeRect(100, 100, 800, 600));
  ns::Ref<MouseMoveNSView> view = ak::make<MouseMoveNSView>(MakeRect(100, 50, 600, 500));
  MouseNotes notes;

  MouseFixture() {
    window->contentView()->addSubview(view);
    view->stopMouseIdleTimer();
    view->addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(
        view->visibleRect(),
        ak::TrackingMouseEnteredAndExited | ak::TrackingMouseMoved | ak::TrackingActiveAlways |
            ak::TrackingEnabledDuringMouseDrag | ak::TrackingInVisibleRect,
        view));
    view->setPlayerRect(MakeRect(0, 42, 600, 458));
    view->setBookmarksRect(MakeRect(450, 42, 150, 458));
  }
  // A pending countdown would outlive the test and fire in the next one.
  ~MouseFixture() {
    if (view) view->stopMouseIdleTimer();
  }
  // Moves to a point given in the view's coordinates.
  void moveTo(double x, double y) {
    pltest::moveMouse(window, {x + 100, y + 50});
    app.dispatchQueued();
  }
};

}  // namespace

TEST(MyWindow, ShowsTheControllerEveryMouseDownFirst) {
  pltest::HeadlessApp app;
  auto controller = ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installed(controller);
  auto w = ak::make<MyWindow>(MakeRect(100, 100, 400, 300), ak::TitledWindowMask | ak::ClosableWindowMask);
  w->makeKeyAndOrderFront(nullptr);
  pltest::click(w, {100, 100});
  pltest::rightClick(w, {120, 100});
  pltest::key(w, 0, "a");
  pltest::moveMouse(w, {50, 50});
  EXPECT_EQ(app.dispatchQueued(), 7u);
  EXPECT_EQ(count(controller->calls(), "checkMouseDownEvent"), 2);

  auto full = ak::make<MyFullScreenWindow>(MakeRect(0, 0, 1440, 900), ak::BorderlessWindowMask);
  full->makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(full->isKeyWindow());
}

TEST(MySplitView, PaintsBlackWithADividerInItsColour) {
  pltest::HeadlessApp app;
  auto w = app.window(MakeRect(100, 100, 200, 100));
  auto split = ak::make<MySplitView>(MakeRect(0, 0, 200, 100));
  split->setVertical(true);
  split->addSubview(ak::make<ak::View>(MakeRect(0, 0, 99, 100)));
  split->addSubview(ak::make<ak::View>(MakeRect(100, 0, 100, 100)));
  split->reset();
  split->setDividerThickness(1);
  split->setDividerColor(ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1));
  w->setContentView(split);
  pltest::renderWindow(w, "split");
  EXPECT_EQ(pltest::windowPixel(w, 50, 50), (ak::RGBA{0, 0, 0, 255}));
  EXPECT_EQ(pltest::windowPixel(w, 150, 50), (ak::RGBA{0, 0, 0, 255}));
  EXPECT_EQ(pltest::windowPixel(w, 99, 50), (ak::RGBA{255, 0, 0, 255}));
  EXPECT_EQ(pltest::windowPixel(w, 98, 50), (ak::RGBA{0, 0, 0, 255}));
}

TEST(MySplitView, DragsTheWindowAwayFromTheDividerAndTheDividerNearIt) {
  pltest::HeadlessApp app;
  auto controller = ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installed(controller);
  auto w = app.window(MakeRect(100, 100, 400, 300));
  auto split = ak::make<MySplitView>(MakeRect(0, 0, 400, 300));
  split->setVertical(true);
  split->addSubview(ak::make<ak::View>(MakeRect(0, 0, 199, 300)));
  split->addSubview(ak::make<ak::View>(MakeRect(200, 0, 200, 300)));
  split->reset();
  split->setDividerThickness(1);
  w->setContentView(split);
  EXPECT_FALSE(split->mouseDownCanMoveWindow());

  // 50 points from the divider: the window follows the summed deltas.
  const ak::Point start = w->frame().origin;
  pltest::drag(w, {{149, 150}, {159, 145}, {169, 140}, {179, 135}});
  app.dispatchQueued();
  EXPECT_EQ(w->frame().origin.x, start.x + 30);
  EXPECT_EQ(w->frame().origin.y, start.y - 15);
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 199);

  // Within 2 points of it: the divider moves and the window stays.
  const ak::Point moved = w->frame().origin;
  pltest::drag(w, {{201, 150}, {251, 150}});
  app.dispatchQueued();
  EXPECT_EQ(w->frame().origin, moved);
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 249);

  // In full screen a press away from the divider does not drag the window.
  auto answers = controller->answers();
  answers.fullScreen = true;
  controller->setAnswers(answers);
  pltest::drag(w, {{100, 150}, {110, 145}});
  app.dispatchQueued();
  EXPECT_EQ(w->frame().origin, moved);
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 249);
  pltest::drag(w, {{250, 150}, {270, 150}});
  app.dispatchQueued();
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 269);
  EXPECT_EQ(w->frame().origin, moved);
  split->setPosition_ofDividerAtIndex(249, 0);

  // A collapsed first pane puts the hit rectangle at 0.
  EXPECT_EQ(split->dividerHitRect(), MakeRect(249 - 2, 0, 5, 300));
  split->collapseOrExpandSubviewAtIndex_animated(0, false);
  EXPECT_EQ(split->dividerHitRect(), MakeRect(-2, 0, 5, 300));
}

TEST(MySplitView, ThePressBesideTheDividerOverAControlDragsTheDividerAndTheWindowStays) {
  pltest::HeadlessApp app;
  auto controller = ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installed(controller);
  auto w = app.window(MakeRect(100, 100, 400, 300));
  w->setMovableByWindowBackground(true);
  auto split = ak::make<MySplitView>(MakeRect(0, 0, 400, 300));
  split->setVertical(true);
  // The left pane is a control that keeps its own presses.
  auto toggle = ak::make<ak::Button>(MakeRect(0, 0, 199, 300));
  toggle->setButtonType(ak::ButtonType::PushOnPushOff);
  split->addSubview(toggle);
  split->addSubview(ak::make<ak::View>(MakeRect(200, 0, 200, 300)));
  split->reset();
  split->setDividerThickness(1);
  w->setContentView(split);
  EXPECT_EQ(split->hitTest({197.5, 150}), split);
  EXPECT_EQ(split->hitTest({196.5, 150}), toggle);

  const ak::Point origin = w->frame().origin;
  pltest::drag(w, {{198, 150}, {230, 150}, {248, 150}});
  app.dispatchQueued();
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 249);
  EXPECT_EQ(toggle->state(), ak::OffState);
  EXPECT_EQ(w->frame().origin, origin);

  // Further in, the control takes the press; the window stays where it is.
  pltest::drag(w, {{100, 150}, {120, 140}});
  app.dispatchQueued();
  EXPECT_EQ(toggle->state(), ak::OnState);
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 249);
  EXPECT_EQ(w->frame().origin, origin);
}

TEST(MouseMoveNSView, TenMovesPostOneMoveAndOneIdleTwoSecondsAfterTheLast) {
  MouseFixture f;
  for (int i = 0; i < 10; ++i) {
    f.moveTo(100 + i, 300);
    f.app.advance(0.5);
  }
  EXPECT_TRUE(f.view->mouseInWindow());
  EXPECT_EQ(f.notes.moved, 1);
  EXPECT_EQ(f.notes.idle, 0);
  f.app.advance(1.4);
  EXPECT_EQ(f.notes.idle, 0);
  f.app.advance(0.1);
  EXPECT_EQ(f.notes.idle, 1);
  EXPECT_FALSE(f.view->isMouseMoved());
  // A point inside the bounds but outside the view's frame numbers still counts as inside.
  f.moveTo(50, 60);
  EXPECT_EQ(f.notes.moved, 2);
}

TEST(MouseMoveNSView, BookmarksAndTheControlsStripKeepTheControlsUp) {
  auto player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installed(player);
  {
    MouseFixture f;
    player->setBookmarksVisible(true);
    f.moveTo(100, 300);
    f.moveTo(500, 300);  // into the open bookmarks
    f.app.advance(10);
    EXPECT_EQ(f.notes.idle, 0);
    player->setBookmarksVisible(false);
    f.moveTo(510, 300);  // hidden bookmarks: the player restarts the countdown
    f.app.advance(2);
    EXPECT_EQ(f.notes.idle, 1);
  }
  {
    MouseFixture f;
    f.moveTo(100, 300);
    f.moveTo(100, 20);  // the 42-point strip
    f.app.advance(10);
    EXPECT_EQ(f.notes.moved, 1);
    EXPECT_EQ(f.notes.idle, 0);
  }
}

TEST(MouseMoveNSView, LeavingIdlesLaterAndStoppingStartsAfresh) {
  MouseFixture f;
  f.moveTo(100, 300);
  f.moveTo(100, 20);   // the countdown stopped
  f.moveTo(-50, 300);  // out of the view
  EXPECT_FALSE(f.view->mouseInWindow());
  f.app.advance(1.9);
  EXPECT_EQ(f.notes.idle, 0);
  f.app.advance(0.1);
  EXPECT_EQ(f.notes.idle, 1);

  f.moveTo(100, 300);
  EXPECT_EQ(f.notes.moved, 2);
  f.view->stopMouseIdleTimer();
  f.moveTo(110, 300);
  EXPECT_EQ(f.notes.moved, 3);

  // The pending countdown holds the view; stopping it lets the removed view go.
  ns::Weak<MouseMoveNSView> weak = f.view;
  f.view->removeFromSuperview();
  f.view = nullptr;
  EXPECT_FALSE(weak.expired());
  weak.lock()->stopMouseIdleTimer();
  EXPECT_TRUE(weak.expired());
  f.app.advance(3);
  EXPECT_EQ(f.notes.idle, 1);
}
