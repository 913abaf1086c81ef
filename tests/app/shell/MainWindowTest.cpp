// In-process launches through the real builders: the launch's order, the main window's form,
// the split view and the stored modes, the main menu, the suggestions closing on any click, and
// the end of the run when the window closes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

#include "app/browse/LeftViewController.h"
#include "app/cache/CacheServer.h"
#include "app/library/AccountSession.h"
#include "app/player/PlayerControlBar.h"
#include "app/player/PlayerViewController.h"
#include "app/shell/Launch.h"
#include "common/Settings.h"
#include "common/ShellNotifications.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TextField.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Timer.h"
#include "platform/testing/Sandbox.h"
#include "tests/app/shell/ShellWindowTestSupport.h"
#include "ui/BubblePopover.h"
#include "ui/CustomSlider.h"
#include "ui/MouseMoveNSView.h"
#include "ui/MySearchField.h"
#include "ui/MySplitView.h"
#include "ui/TitlebarWindow.h"

namespace {

using shelltest::ShellFixture;

// Counts one notification's posts while it lives, running `seen` at each.
class Observer {
 public:
  Observer(const std::string& name, std::function<void()> seen = {}) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this, seen](const ns::Ref<ns::Notification>&) {
          ++count_;
          if (seen) seen();
        });
  }
  ~Observer() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  int count() const { return count_; }

 private:
  ns::Ref<ns::Object> token_;
  int count_ = 0;
};

bool isDescendant(const ns::Ref<ak::View>& view, const ns::Ref<ak::View>& ancestor) {
  for (auto v = view; v; v = v->superview())
    if (v == ancestor) return true;
  return false;
}

TEST(MainWindowLaunch, FolderFirstThenTheWindowThenTheAccountOnALaterTurn) {
  ShellFixture f;
  // The window's builder, wrapped: the support folder must be there while it runs.
  bool folderWhileBuilding = false;
  ak::Nib::registerBuilder("MainWindowController", [&](ak::NibLoader& nib) {
    folderWhileBuilding = std::filesystem::is_directory(f.supportFolder());
    buildMainWindowNib(nib);
  });
  bool launchReturned = false;
  // Registered after the delegate's own observer (the nib loads first), so it runs after it.
  bool accountAfterLaunch = false, panesAtAccount = false, serverAtAccount = false, foldersAtAccount = false;
  Observer login(kLoginStateChangedNotification, [&] {
    auto main = std::dynamic_pointer_cast<MainWindowController>(mainWindowController());
    accountAfterLaunch = launchReturned;
    panesAtAccount =
        main && main->leftViewController() && main->playerViewController() && main->window()->isVisible();
    serverAtAccount = main && main->cacheServer() && main->cacheServer()->httpServer()->isRunning();
    foldersAtAccount = std::filesystem::is_directory(f.cacheBase() / "Cache") &&
                       std::filesystem::is_directory(f.cacheBase() / ".tmp") &&
                       std::filesystem::is_directory(f.cacheBase() / ".info");
  });
  ASSERT_TRUE(ak::Nib::loadNibNamed_owner("MainMenu", f.app.app()));
  Observer launched(ak::ApplicationDidFinishLaunchingNotification, [&] { launchReturned = true; });
  f.app.app()->run();
  ASSERT_TRUE(pltest::pumpUntil([&] { return login.count() > 0; }));
  ak::Nib::registerBuilder("MainWindowController", buildMainWindowNib);

  auto main = std::dynamic_pointer_cast<MainWindowController>(mainWindowController());
  ASSERT_TRUE(main);
  EXPECT_TRUE(folderWhileBuilding);
  EXPECT_TRUE(accountAfterLaunch) << "initYoutube ran inside the launch";
  EXPECT_TRUE(panesAtAccount);
  EXPECT_TRUE(serverAtAccount);
  EXPECT_TRUE(foldersAtAccount);
  EXPECT_TRUE(std::filesystem::exists(f.supportFolder() / "pelorin_web.db"));
  EXPECT_TRUE(pltest::drainMode());
  EXPECT_EQ(main->initYoutubeCount(), 1);
  EXPECT_EQ(login.count(), 1);
  // The delegate is the process-wide one and the application's.
  EXPECT_EQ(std::dynamic_pointer_cast<ns::Object>(appDelegate()), f.app.app()->delegate());
  EXPECT_EQ(std::dynamic_pointer_cast<PLMAppDelegate>(appDelegate())->mainWindowController(), main);
  EXPECT_EQ(std::dynamic_pointer_cast<IPlayerViewController>(main->playerViewController()),
            playerViewController());
}

TEST(MainWindowLaunch, TheWindowHasItsTitleBarPanesAndControlBar) {
  ShellFixture f;
  f.launch();
  auto main = f.controller;
  auto window = std::dynamic_pointer_cast<TitlebarWindow>(main->window());
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(window->title(), "Pelorin");
  EXPECT_EQ(window->titleBarHeight(), 55);
  EXPECT_TRUE(window->isMovableByWindowBackground());
  EXPECT_FALSE(window->centerTrafficLightButtons());
  EXPECT_TRUE(window->closeButton() && window->minimizeButton() && window->zoomButton());
  EXPECT_EQ(window->contentRectForFrameRect(window->frame()).size, (ak::Size{1100, 700}));
  EXPECT_EQ(main->getCurrentWindow(), main->window());

  // The user button sits in the title bar and signs in.
  auto button = main->userBtn();
  ASSERT_TRUE(button);
  EXPECT_TRUE(isDescendant(button, window->titleBarView()));
  EXPECT_EQ(button->title(), "not logged in \u25BE ");
  EXPECT_EQ(button->action(), ns::Sel("signInClicked:"));
  EXPECT_EQ(button->target(), std::static_pointer_cast<ns::Object>(main));

  // The content view tracks the mouse and holds the split above the bottom bar.
  auto content = std::dynamic_pointer_cast<MouseMoveNSView>(window->contentView());
  ASSERT_TRUE(content);
  auto bottom = main->bottomView();
  EXPECT_EQ(bottom->frame(), ak::MakeRect(0, 0, content->bounds().size.width, 42));
  auto bar = main->playerViewController()->controlBar();
  EXPECT_EQ(bar->superview(), bottom);
  EXPECT_EQ(main->volumeSlider(), bar->volumeSlider());
  EXPECT_EQ(main->progressSlider(), bar->progressSlider());
  EXPECT_EQ(main->qualityButton(), bar->qualityPopUp());
  auto split = main->mainSplitView();
  EXPECT_EQ(split->superview(), content);
  ASSERT_EQ(split->subviews().size(), 2u);
  EXPECT_EQ(split->subviews()[0], main->leftViewController()->view());
  EXPECT_EQ(split->subviews()[1], main->playerViewController()->view());
  EXPECT_EQ(split->frame().origin.y, 42);
  EXPECT_EQ(split->minSizeForSubviewAtIndex(0), 320);
  EXPECT_EQ(split->minSizeForSubviewAtIndex(1), 320);
  EXPECT_TRUE(split->canCollapseSubviewAtIndex(0));
  EXPECT_FALSE(split->canCollapseSubviewAtIndex(1));
  EXPECT_EQ(split->subviewsResizeMode(), 1u);

  // Growing the window gives the growth to the player.
  const double left = split->subviews()[0]->frame().size.width;
  ak::Rect frame = window->frame();
  frame.size.width += 200;
  window->setFrame_display(frame, true);
  EXPECT_EQ(split->subviews()[0]->frame().size.width, left);
}

TEST(MainWindowLaunch, TheDividerAndThePlayModesComeBackFromTheDefaultsFile) {
  ShellFixture f;
  f.storeDefault(kMainSplitViewPositionKey, ns::Value(400l));
  f.storeDefault(kRepeatTypeKey, ns::Value(2l));
  f.storeDefault(kShuffleModeKey, ns::Value(1l));
  f.launch();
  auto main = f.controller;
  auto split = main->mainSplitView();
  auto left = split->subviews()[0];
  EXPECT_EQ(left->frame().size.width, 400);
  EXPECT_EQ(main->repeatType(), 2);
  EXPECT_EQ(main->shuffleMode(), 1);

  // A drag of the divider to 500 stores 500.
  auto window = main->window();
  const double y = split->frame().size.height / 2;
  auto at = [&](double x) { return split->convertPoint_toView(ak::Point{x, y}, nullptr); };
  pltest::drag(window, {at(400.5), at(450), at(500.5)});
  f.app.dispatchQueued();
  EXPECT_EQ(left->frame().size.width, 500);
  EXPECT_EQ(getIntSetting(kMainSplitViewPositionKey), 500);

  // Collapsed, nothing is stored; showLeftView opens it again and leaves an open one alone.
  split->collapseOrExpandSubviewAtIndex_animated(0, false);
  ASSERT_TRUE(split->isSubviewCollapsed(left));
  EXPECT_EQ(getIntSetting(kMainSplitViewPositionKey), 500);
  main->showLeftView(false);
  EXPECT_FALSE(split->isSubviewCollapsed(left));
  EXPECT_EQ(left->frame().size.width, 500);
  main->showLeftView(false);
  EXPECT_FALSE(split->isSubviewCollapsed(left));
  EXPECT_EQ(left->frame().size.width, 500);
}

// The left pane is built at its interface's size and only then given the window's: the source
// list still comes back at its stored width, through the first drawing and a resize, and as far
// as a narrower pane leaves room beside the list's minimum.
TEST(MainWindowLaunch, TheSourceListComesBackAtItsStoredWidthInAStoredWiderPane) {
  ShellFixture f;
  f.storeDefault(kMainSplitViewPositionKey, ns::Value(560l));
  f.storeDefault(kLeftSplitViewPositionKey, ns::Value(258l));
  f.launch();
  auto main = f.controller;
  auto window = main->window();
  auto mainSplit = main->mainSplitView();
  auto left = main->leftViewController();
  auto split = left->leftSplitView();
  auto menu = left->menuView();
  ASSERT_EQ(mainSplit->subviews()[0]->frame().size.width, 560);
  EXPECT_EQ(menu->frame().size.width, 258);
  // The list area fills the rest of the pane, after the divider.
  EXPECT_EQ(left->navigationView()->frame().origin.x, 259);
  EXPECT_EQ(ak::MaxX(left->navigationView()->frame()), split->bounds().size.width);
  window->display();
  f.app.dispatchQueued();
  EXPECT_EQ(menu->frame().size.width, 258);
  ak::Rect frame = window->frame();
  frame.size.width += 120;
  frame.size.height -= 40;
  window->setFrame_display(frame, true);
  f.app.dispatchQueued();
  EXPECT_EQ(menu->frame().size.width, 258);
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), 258);

  // The pane narrowed to 400 leaves the source list 400 - 1 - 230 points; widened again, the
  // stored width comes back.
  const double y = mainSplit->frame().size.height / 2;
  auto inMain = [&](double x) { return mainSplit->convertPoint_toView(ak::Point{x, y}, nullptr); };
  pltest::drag(window, {inMain(560.5), inMain(480), inMain(400.5)});
  f.app.dispatchQueued();
  ASSERT_EQ(mainSplit->subviews()[0]->frame().size.width, 400);
  EXPECT_EQ(menu->frame().size.width, 169);
  EXPECT_EQ(left->navigationView()->frame().size.width, 230);
  pltest::drag(window, {inMain(400.5), inMain(480), inMain(560.5)});
  f.app.dispatchQueued();
  EXPECT_EQ(menu->frame().size.width, 258);

  // Once the user moved the divider, the split resizes as it always does: the list area takes the
  // change first and the width the user chose stays stored.
  auto inSplit = [&](double x) { return split->convertPoint_toView(ak::Point{x, 100}, nullptr); };
  pltest::drag(window, {inSplit(257.5), inSplit(230), inSplit(199.5)});
  f.app.dispatchQueued();
  ASSERT_EQ(menu->frame().size.width, 200);
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), 200);
  pltest::drag(window, {inMain(560.5), inMain(480), inMain(400.5)});
  f.app.dispatchQueued();
  EXPECT_EQ(menu->frame().size.width, 169);
  pltest::drag(window, {inMain(400.5), inMain(480), inMain(560.5)});
  f.app.dispatchQueued();
  EXPECT_EQ(menu->frame().size.width, 169);
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), 200);
}

TEST(MainWindowLaunch, ControlsAndDividersTakeTheirPressesAndTheBackgroundMovesTheWindow) {
  ShellFixture f;
  f.launch();
  auto main = f.controller;
  auto window = main->window();
  auto bar = main->playerViewController()->controlBar();
  auto player = main->playerViewController()->player();
  const ak::Point origin = window->frame().origin;
  // A point of a view at fractions of its frame, in the window.
  auto inWindow = [](const ns::Ref<ak::View>& view, double fx, double fy) {
    const ak::Rect r = view->convertRect_toView(view->bounds(), nullptr);
    return ak::Point{r.origin.x + r.size.width * fx, r.origin.y + r.size.height * fy};
  };

  // The volume slider's left end silences the player; a drag back to its right end restores it.
  pltest::click(window, inWindow(bar->volumeSlider(), 0.02, 0.5));
  f.app.dispatchQueued();
  EXPECT_EQ(player->volume(), 0.0f);
  pltest::drag(window, {inWindow(bar->volumeSlider(), 0.3, 0.5), inWindow(bar->volumeSlider(), 0.98, 0.5)});
  f.app.dispatchQueued();
  EXPECT_EQ(player->volume(), 1.0f);
  EXPECT_EQ(window->frame().origin, origin);

  // The panes fill both split views up to their dividers: no strip of the black behind them
  // looks like a divider where none is.
  auto mainSplit = main->mainSplitView();
  auto leftSplit = main->leftViewController()->leftSplitView();
  for (const auto& split : {ns::Ref<MySplitView>(mainSplit), leftSplit}) {
    ASSERT_EQ(split->subviews().size(), 2u);
    EXPECT_EQ(ak::MaxX(split->subviews()[0]->frame()) + 1, split->subviews()[1]->frame().origin.x);
    EXPECT_EQ(ak::MaxX(split->subviews()[1]->frame()), split->bounds().size.width);
  }

  // The dividers, each pressed a point to its left over the pane before it: the one before the
  // player makes room, the source list's widens the source list.
  const double pane = mainSplit->subviews()[0]->frame().size.width;
  auto inMain = [&](double x) { return mainSplit->convertPoint_toView(ak::Point{x, 100}, nullptr); };
  pltest::drag(window, {inMain(pane - 1), inMain(pane + 50), inMain(pane + 99)});
  f.app.dispatchQueued();
  EXPECT_EQ(mainSplit->subviews()[0]->frame().size.width, pane + 100);
  EXPECT_EQ(getIntSetting(kMainSplitViewPositionKey), static_cast<long>(pane + 100));
  auto left = main->leftViewController();
  auto split = leftSplit;
  const double width = left->menuView()->frame().size.width;
  auto inSplit = [&](double x) { return split->convertPoint_toView(ak::Point{x, 100}, nullptr); };
  pltest::drag(window, {inSplit(width - 1), inSplit(width + 30), inSplit(width + 59)});
  f.app.dispatchQueued();
  EXPECT_EQ(left->menuView()->frame().size.width, width + 60);
  EXPECT_EQ(getIntSetting(kLeftSplitViewPositionKey), static_cast<long>(width + 60));
  EXPECT_EQ(window->frame().origin, origin);

  // The bar's background between the buttons and the progress slider carries the window.
  const ak::Point background = bar->convertPoint_toView(ak::Point{112, 20}, nullptr);
  pltest::drag(window, {background, {background.x + 40, background.y + 10}});
  f.app.dispatchQueued();
  EXPECT_EQ(window->frame().origin, ak::MakePoint(origin.x + 40, origin.y + 10));

  // The time shows in light text on the bar's black.
  bar->timeLabel()->setStringValue("0:15");
  pltest::renderWindow(window, "time");
  const ak::Rect label = bar->timeLabel()->convertRect_toView(bar->timeLabel()->bounds(), nullptr);
  int light = 0;
  for (double y = label.origin.y; y < ak::MaxY(label); ++y)
    for (double x = label.origin.x; x < ak::MaxX(label); ++x) {
      const auto p = pltest::windowPixel(window, x + 0.5, y + 0.5);
      light += p.r > 150 && p.g > 150 && p.b > 150;
    }
  EXPECT_GT(light, 20);
}

TEST(MainWindowLaunch, StoredValuesOfAnotherTypeOrOutOfRangeReadAsAbsent) {
  for (const auto& [repeat, shuffle] : std::vector<std::pair<ns::Value, ns::Value>>{
           {ns::Value(std::string("2")), ns::Value(std::string("1"))},
           {ns::Value(4l), ns::Value(2l)},
           {ns::Value(-1l), ns::Value(-1l)}}) {
    ShellFixture f;
    f.storeDefault(kMainSplitViewPositionKey, ns::Value(std::string("400")));
    f.storeDefault(kRepeatTypeKey, repeat);
    f.storeDefault(kShuffleModeKey, shuffle);
    f.launch();
    EXPECT_EQ(f.controller->repeatType(), 0);
    EXPECT_EQ(f.controller->shuffleMode(), 0);
    EXPECT_NE(f.controller->mainSplitView()->subviews()[0]->frame().size.width, 400);
  }
}

TEST(MainWindowLaunch, AFileWherePelorinBelongsIsLoggedAndLeftAsItWas) {
  ShellFixture f;
  std::filesystem::create_directories(f.app.sandbox().dataHome());
  { std::ofstream(f.supportFolder()) << "not a folder"; }
  f.launch();
  EXPECT_TRUE(f.controller->window()->isVisible());
  EXPECT_TRUE(f.controller->cacheServer()->httpServer()->isRunning());
  std::stringstream text;
  text << std::ifstream(f.supportFolder()).rdbuf();
  EXPECT_EQ(text.str(), "not a folder");
  EXPECT_FALSE(PLMAppDelegate::createAppSupportFolder());
}

TEST(MainWindowLaunch, AClickAnywhereClosesTheSuggestionsOnce) {
  ShellFixture f;
  f.launch();
  auto main = f.controller;
  auto left = main->leftViewController();
  auto popover = left->autoCompletePopover();
  ASSERT_TRUE(popover);
  popover->displayPopoverInWindow_atPoint(main->window(), ak::Point{100, 300});
  ASSERT_TRUE(popover->isVisible());
  auto player = main->playerViewController()->view();
  auto centre = player->convertPoint_toView(ak::Point{player->bounds().size.width / 2, 100}, nullptr);
  pltest::click(main->window(), centre);
  f.app.dispatchQueued();
  f.app.advance(1.0);  // the fade-out
  EXPECT_FALSE(popover->isVisible());
  // A second click finds nothing to close and leaves the pane as it is.
  pltest::click(main->window(), centre);
  f.app.dispatchQueued();
  f.app.advance(1.0);
  EXPECT_FALSE(popover->isVisible());
  EXPECT_TRUE(main->window()->isVisible());
}

TEST(MainWindowLaunch, TheMainMenuQuitsAndPastesIntoTheFirstResponder) {
  ShellFixture f;
  f.launch();
  auto menu = std::dynamic_pointer_cast<ak::Menu>(f.app.app()->mainMenu());
  ASSERT_TRUE(menu);
  auto quit = menu->itemAtIndex(0)->submenu()->itemWithTitle("Quit Pelorin");
  ASSERT_TRUE(quit);
  EXPECT_EQ(quit->keyEquivalent(), "q");
  EXPECT_EQ(quit->keyEquivalentModifierMask(), ak::CommandKeyMask);
  auto edit = menu->itemWithTitle("Edit")->submenu();
  std::vector<std::string> titles;
  for (const auto& item : edit->itemArray()) {
    titles.push_back(item->title());
    EXPECT_FALSE(item->target()) << "sent to the first responder";
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Cut", "Copy", "Paste", "Select All"}));

  // Cmd-V in the search field pastes.
  auto field = f.controller->leftViewController()->searchField();
  auto window = f.controller->window();
  ASSERT_TRUE(window->makeFirstResponder(field));
  auto board = ak::Pasteboard::generalPasteboard();
  board->clearContents();
  board->setString_forType("cats", ak::PasteboardTypeString);
  pltest::key(window, ak::kVK_ANSI_V, "v", ak::CommandKeyMask);
  f.app.dispatchQueued();
  EXPECT_EQ(field->stringValue(), "cats");

  // Cmd-Q ends the run with one will-terminate.
  Observer willTerminate(ak::ApplicationWillTerminateNotification);
  pltest::key(window, 12, "q", ak::CommandKeyMask);
  runApplicationUntilTerminated(f.app.app());
  EXPECT_TRUE(f.app.app()->hasTerminated());
  EXPECT_EQ(willTerminate.count(), 1);
}

TEST(MainWindowLaunch, ClosingTheWindowPostsWillTerminateOnceAndTheRunReturns) {
  ShellFixture f;
  f.launch();
  Observer willTerminate(ak::ApplicationWillTerminateNotification);
  auto window = f.controller->window();
  dispatch::async(dispatch::mainQueue(), [window] { window->performClose(nullptr); });
  runApplicationUntilTerminated(f.app.app());
  EXPECT_TRUE(f.app.app()->hasTerminated());
  EXPECT_EQ(willTerminate.count(), 1);
  EXPECT_FALSE(window->isVisible());
}

TEST(MainWindowLaunch, AHeadlessRunSleepsUntilItsTimersHaveWork) {
  // The real clock: a timer half a second out is waited for, then Quit ends the run.
  ShellFixture f(false);
  f.launch();
  int fired = 0;
  auto app = f.app.app();
  auto timer =
      ns::Timer::scheduledTimerWithTimeInterval_repeats_block(0.05, false, [&](const ns::Ref<ns::Timer>&) {
        ++fired;
        app->terminate(nullptr);
      });
  runApplicationUntilTerminated(app);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(app->hasTerminated());
}

TEST(LaunchArguments, OnlyHeadlessIsTaken) {
  const char* good[] = {"pelorin", "--headless"};
  EXPECT_EQ(unknownLaunchArgument(2, good), std::nullopt);
  EXPECT_EQ(unknownLaunchArgument(1, good), std::nullopt);
  const char* bad[] = {"pelorin", "--headless", "-v"};
  EXPECT_EQ(unknownLaunchArgument(3, bad), std::optional<std::string>("-v"));
}

TEST(LaunchArguments, OnlyARunWithNoDisplayThatDidNotAskForHeadlessHearsOfIt) {
  pltest::Sandbox sandbox;
  const char* plain[] = {"pelorin"};
  const char* headless[] = {"pelorin", "--headless"};
  const std::optional<std::string> warning(kNoDisplayLine);
  for (const auto& [display, wayland, expected] :
       std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, bool>>{
           {std::nullopt, std::nullopt, true},
           {"", "", true},
           {":57", std::nullopt, false},
           {std::nullopt, "wayland-0", false},
           {"", "wayland-0", false}}) {
    sandbox.set("DISPLAY", display);
    sandbox.set("WAYLAND_DISPLAY", wayland);
    SCOPED_TRACE(display.value_or("(unset)") + " " + wayland.value_or("(unset)"));
    EXPECT_EQ(noDisplayNotice(1, plain), expected ? warning : std::nullopt);
    EXPECT_EQ(noDisplayNotice(2, headless), std::nullopt);
  }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// 0 when each large block freed leaves the next of its size mapped on its own, else 1 with the
// size that did not on standard error.
int largeBlocksStayMapped() {
  if (!mapLargeBlocksOnTheirOwn()) {
    std::fprintf(stderr, "the threshold cannot be set\n");
    return 1;
  }
  // Left dynamic, glibc's threshold would rise to the first block's size once it is freed, and
  // the second block of that size would come from the heap.
  for (std::size_t size : {std::size_t(1) << 20, std::size_t(6) << 20, std::size_t(200) << 10}) {
    void* first = std::malloc(size);
    if (!first) return 1;
    std::memset(first, 1, size);
    std::free(first);
    const std::size_t mappedBefore = mallinfo2().hblkhd;
    void* second = std::malloc(size);
    if (!second) return 1;
    std::memset(second, 2, size);
    if (mallinfo2().hblkhd < mappedBefore + size) {
      std::fprintf(stderr, "%zu: the second block came from the heap\n", size);
      return 1;
    }
    std::free(second);
    if (mallinfo2().hblkhd >= mappedBefore + size) {
      std::fprintf(stderr, "%zu: the block did not go back to the system when freed\n", size);
      return 1;
    }
  }
  return 0;
}
#endif

TEST(LaunchMemory, ALargeBlockFreedLeavesTheNextOneMappedOnItsOwn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocator replaces glibc's";
#else
  // In a new process, as at launch: in one that ran other tests first, a free chunk of the heap
  // can hold a large block whatever the threshold.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(largeBlocksStayMapped()), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
