// Full screen in process through the real builders: the own kind by Cmd-F and Escape, the
// desktop's kind as the main window reports it, the controls following the mouse on the virtual
// clock, and the sheets that hang on the full-screen window.
#include <gtest/gtest.h>

#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/cache/CacheServer.h"
#include "app/player/PlayerViewController.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/shell/ShellWindowTestSupport.h"
#include "tests/support/FakeStreamResolver.h"
#include "ui/MouseMoveNSView.h"
#include "ui/MySplitView.h"
#include "ui/SourceList.h"
#include "ui/TitlebarWindow.h"
#include "ui/UINotifications.h"

namespace {

constexpr unsigned short kKeyF = 3;

// Counts one notification's posts while it lives.
class Counter {
 public:
  explicit Counter(const std::string& name) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) { ++count_; });
  }
  ~Counter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  int count() const { return count_; }

 private:
  ns::Ref<ns::Object> token_;
  int count_ = 0;
};

// The desktop as a presenter sees it: it takes the main window in or out of full screen and
// confirms only when the test says so.
class SlowDesktop : public ak::Presenter {
 public:
  bool setWindowFullScreen(ak::Window&, bool) override {
    ++asked;
    return true;
  }
  int asked = 0;
};

struct FullScreenShell : shelltest::ShellFixture {
  FullScreenShell() { ak::Cursor::resetForTesting(); }
  ~FullScreenShell() {
    ak::Screen::setScreenFrames({});
    ak::Cursor::resetForTesting();
  }
  // Cmd-F (or any key) to the key window, as the user types it.
  void press(unsigned short code, const std::string& characters, unsigned long flags = 0) {
    auto window = app.app()->keyWindow();
    ASSERT_TRUE(window);
    pltest::key(window, code, characters, flags);
    app.dispatchQueued();
  }
  void commandF() { press(kKeyF, "f", ak::CommandKeyMask); }
  ns::Ref<ak::MenuItem> viewItem() {
    auto menu = std::dynamic_pointer_cast<ak::Menu>(app.app()->mainMenu());
    auto view = menu ? menu->itemWithTitle("View") : nullptr;
    return view && view->submenu() ? view->submenu()->itemAtIndex(0) : nullptr;
  }
  ns::Ref<ak::View> leftPane() { return controller->mainSplitView()->subviews()[0]; }
  bool leftCollapsed() { return controller->mainSplitView()->isSubviewCollapsed(leftPane()); }
  // A point over the picture (in the full-screen view's window), `up` points above its bottom.
  ak::Point overPicture(double up) {
    auto view = controller->mouseMoveView();
    auto bounds = view->bounds();
    return view->convertPoint_toView(ak::Point{bounds.size.width * 0.75, up}, nullptr);
  }
};

TEST(OwnFullScreen, CommandFFillsTheScreenAndEscapeBringsAllBack) {
  FullScreenShell f;
  f.storeDefault(kMainSplitViewPositionKey, ns::Value(400l));
  f.launch();
  auto main = f.controller;
  auto window = std::dynamic_pointer_cast<TitlebarWindow>(main->window());
  ASSERT_TRUE(window);
  const ak::Rect frameBefore = window->frame();
  auto item = f.viewItem();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->title(), "Enter Full Screen");
  EXPECT_EQ(item->keyEquivalent(), "f");
  EXPECT_EQ(item->keyEquivalentModifierMask(), ak::CommandKeyMask);
  EXPECT_FALSE(main->fullScreenWindow()) << "made on the first entry";

  Counter changed(kFullScreenChangedNotification);
  f.commandF();
  EXPECT_TRUE(main->isFullScreen());
  EXPECT_FALSE(main->currentFullScreenLion());
  auto full = main->fullScreenWindow();
  ASSERT_TRUE(full);
  EXPECT_EQ(full->styleMask(), static_cast<unsigned long>(ak::BorderlessWindowMask));
  EXPECT_EQ(full->frame(), ak::MakeRect(0, 0, 1440, 900));
  EXPECT_EQ(full->level(), ak::CGWindowLevelForKey(13));
  EXPECT_GE(full->level(), 1000);
  EXPECT_TRUE(full->isKeyWindow());
  EXPECT_TRUE(full->isVisible());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->titleBarHeight(), 0);
  EXPECT_EQ(full->contentView(), main->mouseMoveView());
  EXPECT_TRUE(f.leftCollapsed());
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(main->getCurrentWindow(), full);
  // The bar floats over the picture, which fills the screen.
  EXPECT_EQ(main->mainSplitView()->frame(), ak::MakeRect(0, 0, 1440, 900));
  EXPECT_EQ(main->bottomView()->frame().size.height, 42);
  // The menu item's title follows.
  ASSERT_TRUE(ak::Menu::validateItem(item));
  EXPECT_EQ(item->title(), "Exit Full Screen");

  // The left pane opens in full screen, and a click in the source list focuses it.
  main->showLeftView(true);
  f.app.advance(1.0);
  ASSERT_FALSE(f.leftCollapsed());
  auto sourceList = main->leftViewController()->menuViewController()->sourceList();
  ASSERT_TRUE(sourceList);
  EXPECT_EQ(sourceList->window(), full);
  const ak::Rect visible = sourceList->visibleRect();
  pltest::click(full,
                sourceList->convertPoint_toView(
                    ak::Point{visible.origin.x + 40, visible.origin.y + visible.size.height / 2}, nullptr));
  f.app.dispatchQueued();
  EXPECT_TRUE(main->treeViewHasFocus());

  // Escape, with the outline as first responder: everything as it was.
  f.press(ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_FALSE(full->isVisible());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(window->frame(), frameBefore);
  EXPECT_EQ(window->titleBarHeight(), 55);
  EXPECT_EQ(window->contentView(), main->mouseMoveView());
  EXPECT_EQ(main->mainSplitView()->frame().origin.y, 42);
  EXPECT_EQ(main->getCurrentWindow(), window);
  EXPECT_FALSE(f.leftCollapsed());
  EXPECT_EQ(f.leftPane()->frame().size.width, 400);
  EXPECT_EQ(changed.count(), 2);
  ASSERT_TRUE(ak::Menu::validateItem(item));
  EXPECT_EQ(item->title(), "Enter Full Screen");

  // A second entry reuses the window; a pane closed before stays closed after.
  main->mainSplitView()->collapseOrExpandSubviewAtIndex_animated(0, false);
  f.commandF();
  EXPECT_EQ(main->fullScreenWindow(), full);
  f.commandF();
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_TRUE(f.leftCollapsed());
  EXPECT_EQ(changed.count(), 4);
  // Outside full screen Escape changes nothing.
  f.press(ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_EQ(changed.count(), 4);
}

TEST(OwnFullScreen, AScreenChangeMovesTheWindowToTheNewFrame) {
  FullScreenShell f;
  f.launch();
  f.commandF();
  auto full = f.controller->fullScreenWindow();
  ASSERT_TRUE(full);
  ak::Screen::setScreenFrames({ak::MakeRect(0, 0, 1920, 1080)});
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      ak::ApplicationDidChangeScreenParametersNotification, f.app.app());
  EXPECT_EQ(full->frame(), ak::MakeRect(0, 0, 1920, 1080));
  EXPECT_EQ(f.controller->mouseMoveView()->frame().size, (ak::Size{1920, 1080}));
  EXPECT_EQ(f.controller->mouseMoveView()->playerRect(), ak::MakeRect(1, 42, 1919, 1080 - 42));
}

TEST(SystemFullScreen, TheDesktopsKindHidesTheBarAndCommandFLeavesItOnce) {
  FullScreenShell f;
  f.launch();
  auto main = f.controller;
  auto window = std::dynamic_pointer_cast<TitlebarWindow>(main->window());
  Counter changed(kFullScreenChangedNotification);
  // The desktop puts the window full screen (headless: at once).
  window->toggleFullScreen(nullptr);
  EXPECT_TRUE(main->isFullScreen());
  EXPECT_TRUE(main->currentFullScreenLion());
  EXPECT_EQ(main->getCurrentWindow(), window) << "the borderless window is not on screen";
  EXPECT_EQ(window->titleBarHeight(), 0);
  EXPECT_TRUE(window->titleBarView()->isHidden());
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(main->fullScreenTrackingArea());
  EXPECT_FALSE(main->fullScreenWindow());

  // Now the desktop answers later: Cmd-F asks it once, a second Cmd-F meanwhile is ignored.
  auto desktop = std::make_shared<SlowDesktop>();
  ak::setActivePresenter(desktop);
  f.commandF();
  EXPECT_EQ(desktop->asked, 1);
  EXPECT_TRUE(window->isFullScreenTransitionPending());
  f.commandF();
  main->onToggleFullScreen(nullptr);
  EXPECT_EQ(desktop->asked, 1);
  EXPECT_FALSE(main->fullScreenWindow()) << "the own kind did not start meanwhile";
  EXPECT_EQ(changed.count(), 1);
  window->finishFullScreenTransition();
  ak::setActivePresenter(nullptr);
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_FALSE(main->currentFullScreenLion());
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(window->titleBarHeight(), 55);
  EXPECT_FALSE(window->titleBarView()->isHidden());
  EXPECT_EQ(window->contentView(), main->mouseMoveView());
  EXPECT_FALSE(main->fullScreenTrackingArea());

  // Escape leaves the desktop's kind too.
  window->toggleFullScreen(nullptr);
  ASSERT_TRUE(main->currentFullScreenLion());
  f.press(ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_FALSE(window->isInFullScreen());
  EXPECT_EQ(changed.count(), 4);
}

TEST(FullScreenControls, TheBarAndPointerGoWhenTheMouseRestsOverThePicture) {
  FullScreenShell f;
  f.launch();
  auto main = f.controller;
  auto view = main->mouseMoveView();
  auto bar = main->bottomView();

  // Outside full screen the notifications change nothing.
  auto center = ns::NotificationCenter::defaultCenter();
  center->postNotificationName_object(kFullScreenMouseIdleNotification, nullptr);
  view->setMouseInWindow(true);
  center->postNotificationName_object(kFullScreenMouseIdleNotification, nullptr);
  EXPECT_FALSE(bar->isHidden());
  EXPECT_TRUE(ak::Cursor::isVisible());
  EXPECT_EQ(ak::Cursor::hideCount(), 0);
  view->setMouseInWindow(false);

  Counter moved(kFullScreenMouseMovedNotification), idle(kFullScreenMouseIdleNotification);
  f.commandF();
  auto full = main->fullScreenWindow();
  ASSERT_TRUE(full);
  auto area = main->fullScreenTrackingArea();
  ASSERT_TRUE(area);
  EXPECT_EQ(area->options(), 0x683u);
  EXPECT_EQ(area->owner(), std::static_pointer_cast<ak::Responder>(view));
  EXPECT_EQ(view->trackingAreas().size(), 1u);
  // The player pane right of the collapsed left pane's divider, less the bar's strip.
  EXPECT_EQ(view->playerRect(), ak::MakeRect(1, 42, 1439, 900 - 42));
  EXPECT_EQ(view->bookmarksRect(), ak::ZeroRect);

  // Ten moves over the picture 0.15 s apart: one "moved", the bar shown throughout.
  for (int i = 0; i < 10; ++i) {
    pltest::moveMouse(full, f.overPicture(300 + i));
    f.app.dispatchQueued();
    f.app.advance(0.15);
  }
  EXPECT_EQ(moved.count(), 1);
  EXPECT_EQ(idle.count(), 0);
  EXPECT_FALSE(bar->isHidden());
  f.app.advance(1.8);  // 1.95 s after the last move
  EXPECT_FALSE(bar->isHidden());
  f.app.advance(0.1);
  EXPECT_EQ(idle.count(), 1);
  EXPECT_TRUE(bar->isHidden());
  EXPECT_FALSE(ak::Cursor::isVisible());
  EXPECT_EQ(ak::Cursor::hideCount(), 1);
  // Two idle posts in a row hold one hide.
  center->postNotificationName_object(kFullScreenMouseIdleNotification, nullptr);
  EXPECT_EQ(ak::Cursor::hideCount(), 1);
  EXPECT_EQ(idle.count(), 2);

  // A move brings both back; over the bar they stay.
  pltest::moveMouse(full, f.overPicture(20));
  f.app.dispatchQueued();
  EXPECT_EQ(moved.count(), 2);
  EXPECT_FALSE(bar->isHidden());
  EXPECT_TRUE(ak::Cursor::isVisible());
  f.app.advance(5);
  EXPECT_FALSE(bar->isHidden());
  EXPECT_EQ(idle.count(), 2);

  // Back over the picture and still: hidden again; leaving full screen shows both.
  pltest::moveMouse(full, f.overPicture(400));
  f.app.dispatchQueued();
  f.app.advance(2.1);
  ASSERT_TRUE(bar->isHidden());
  ASSERT_EQ(ak::Cursor::hideCount(), 1);
  f.press(ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->isFullScreen());
  EXPECT_FALSE(bar->isHidden());
  EXPECT_TRUE(ak::Cursor::isVisible());
  EXPECT_EQ(ak::Cursor::hideCount(), 0);
  EXPECT_TRUE(view->trackingAreas().empty());
  EXPECT_EQ(main->pointerHides(), 0);
}

TEST(FullScreenControls, TerminationLeavesThePointerShownAndTheViewInTheMainWindow) {
  FullScreenShell f;
  f.launch();
  f.commandF();
  auto view = f.controller->mouseMoveView();
  view->setMouseInWindow(true);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(kFullScreenMouseIdleNotification,
                                                                       nullptr);
  ASSERT_EQ(ak::Cursor::hideCount(), 1);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      ak::ApplicationWillTerminateNotification, f.app.app());
  EXPECT_EQ(ak::Cursor::hideCount(), 0);
  EXPECT_EQ(f.controller->pointerHides(), 0);
  // Back in the main window, which ends with everything in it.
  EXPECT_FALSE(f.controller->isFullScreen());
  EXPECT_EQ(f.controller->window()->contentView(), view);
}

TEST(FullScreenSheets, TheQualitySheetHangsOnTheFullScreenWindowAboveIt) {
  FullScreenShell f;
  f.launch();
  f.commandF();
  auto main = f.controller;
  auto full = main->fullScreenWindow();
  ASSERT_TRUE(full);
  auto resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installed{resolver};
  testsupport::FakeStreamResolver::Entry entry;
  entry.urlMap[18] = f.sink.URLForPath("/v18");
  resolver->setEntry("vidQ", entry);
  setBoolSetting(kAskQualityKey, true);

  // The pointer was hidden over the resting picture; the sheet brings it back.
  main->mouseMoveView()->setMouseInWindow(true);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(kFullScreenMouseIdleNotification,
                                                                       nullptr);
  ASSERT_EQ(ak::Cursor::hideCount(), 1);

  pltest::ModalScript script;
  bool showingWhileOpen = false;
  int hidesWhileOpen = -1;
  ns::Ref<ak::Window> parent;
  script.clickAlertButton("Cancel", [&] {
    showingWhileOpen = main->showingAlert();
    hidesWhileOpen = ak::Cursor::hideCount();
    parent = full->attachedSheet() ? full : nullptr;
  });
  main->cacheServer()->addManualDownloadVideoId_withTitle_fromViewController("vidQ", "Clip", std::nullopt);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !script.shownAlerts().empty(); }, 30));
  f.app.dispatchQueued();
  const auto& shown = script.shownAlerts().at(0);
  EXPECT_EQ(shown.messageText, "Select Video Quality for Download.");
  EXPECT_TRUE(shown.sheet);
  EXPECT_GE(shown.level, 1000);
  EXPECT_EQ(parent, full);
  EXPECT_TRUE(showingWhileOpen);
  EXPECT_EQ(hidesWhileOpen, 0);
  EXPECT_FALSE(main->showingAlert());
  EXPECT_TRUE(main->isFullScreen());
}

}  // namespace
