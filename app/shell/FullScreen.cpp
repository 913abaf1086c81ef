// The main window controller's full screen, of two kinds: its own, a borderless window over the
// screen that holds most of the main window, into which the window's view moves; and the
// desktop's, reported through the main window's notifications. In either, the bottom bar floats
// over the picture and, with the pointer, goes away when the mouse rests over the picture.
#include <algorithm>

#include "app/player/PlayerViewController.h"
#include "app/shell/MainWindowController.h"
#include "app/shell/RenameVideoSheet.h"
#include "common/ShellNotifications.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/NotificationCenter.h"
#include "ui/MouseMoveNSView.h"
#include "ui/MySplitView.h"
#include "ui/MyWindow.h"
#include "ui/TitlebarWindow.h"
#include "ui/UINotifications.h"

namespace {

constexpr char kEnterFullScreenTitle[] = "Enter Full Screen";
constexpr char kExitFullScreenTitle[] = "Exit Full Screen";
// Entered and exited, moved, active always, in the visible rect, enabled during a drag.
constexpr unsigned long kFullScreenTrackingOptions =
    ak::TrackingMouseEnteredAndExited | ak::TrackingMouseMoved | ak::TrackingActiveAlways |
    ak::TrackingInVisibleRect | ak::TrackingEnabledDuringMouseDrag;
// The key whose level raised alerts share, so that they show above the window.
constexpr int kFullScreenLevelKey = 13;

// The whole of the screen that holds the largest part of the main window.
ak::Rect fullScreenFrame(const ns::Ref<ak::Window>& window) {
  auto screen = window ? window->screen() : ak::Screen::mainScreen();
  return screen ? screen->frame() : ak::MakeRect(0, 0, 1440, 900);
}

}  // namespace

void MainWindowController::observeFullScreen() {
  auto center = ns::NotificationCenter::defaultCenter();
  center->addObserver_selector_name_object(this, &MainWindowController::fullScreenMouseMoved,
                                           std::string(kFullScreenMouseMovedNotification), nullptr);
  center->addObserver_selector_name_object(this, &MainWindowController::fullScreenMouseIdle,
                                           std::string(kFullScreenMouseIdleNotification), nullptr);
  auto window = ak::WindowController::window();
  center->addObserver_selector_name_object(this, &MainWindowController::mainWindowDidEnterFullScreen,
                                           std::string(ak::WindowDidEnterFullScreenNotification), window);
  center->addObserver_selector_name_object(this, &MainWindowController::mainWindowDidExitFullScreen,
                                           std::string(ak::WindowDidExitFullScreenNotification), window);
  center->addObserver_selector_name_object(this, &MainWindowController::screenParametersChanged,
                                           std::string(ak::ApplicationDidChangeScreenParametersNotification),
                                           nullptr);
  center->addObserver_selector_name_object(this, &MainWindowController::applicationWillTerminate,
                                           std::string(ak::ApplicationWillTerminateNotification), nullptr);
  // As a window controller is: the last responder of its window.
  if (window) window->setNextResponder(self<MainWindowController>());
}

void MainWindowController::setShowingAlert(bool showing) {
  showingAlert_ = showing;
  if (showing) showPointer();
}

bool MainWindowController::isFullScreen() {
  return ownFullScreen_ || systemFullScreen_;
}

void MainWindowController::onToggleFullScreen(const ns::Ref<ns::Object>&) {
  if (showingAlert_) return;
  auto window = ak::WindowController::window();
  // The desktop has not confirmed the last change yet: the view stays where it is.
  if (window && window->isFullScreenTransitionPending()) return;
  if (ownFullScreen_) {
    leaveOwnFullScreen();
  } else if (systemFullScreen_ || (window && window->isInFullScreen())) {
    if (window) window->toggleFullScreen(nullptr);
  } else {
    enterOwnFullScreen();
  }
}

bool MainWindowController::validateMenuItem(const ns::Ref<ak::MenuItem>& item) {
  if (!item) return false;
  if (item->action() == ns::Sel("onToggleFullScreen:")) {
    item->setTitle(isFullScreen() ? kExitFullScreenTitle : kEnterFullScreenTitle);
    auto window = ak::WindowController::window();
    return !showingAlert_ && window && !window->isFullScreenTransitionPending();
  }
  return !showingAlert_;
}

void MainWindowController::keyDown(const ns::Ref<ak::Event>& event) {
  const unsigned long modifiers =
      ak::CommandKeyMask | ak::ControlKeyMask | ak::AlternateKeyMask | ak::ShiftKeyMask;
  if (event && event->keyCode() == ak::kVK_Escape && !(event->modifierFlags() & modifiers) &&
      isFullScreen()) {
    onToggleFullScreen(nullptr);
    return;
  }
  ak::WindowController::keyDown(event);
}

void MainWindowController::enterOwnFullScreen() {
  auto window = ak::WindowController::window();
  auto view = mouseMoveView_;
  if (ownFullScreen_ || systemFullScreen_ || !window || !view) return;
  auto keep = shared_from_this();

  // The picture fills the screen: the left pane closes (showLeftView opens it there).
  leftWasOpen_ = false;
  if (mainSplitView_ && !mainSplitView_->subviews().empty()) {
    auto left = mainSplitView_->subviews()[0];
    leftWasOpen_ = !mainSplitView_->isSubviewCollapsed(left);
    if (leftWasOpen_) mainSplitView_->collapseOrExpandSubviewAtIndex_animated(0, false);
  }
  if (auto titled = std::dynamic_pointer_cast<TitlebarWindow>(window)) titled->setTitleBarHeight(0);

  const ak::Rect screen = fullScreenFrame(window);
  if (!fullScreenWindow_) {
    fullScreenWindow_ = ak::make<MyFullScreenWindow>(screen, ak::BorderlessWindowMask);
    fullScreenWindow_->setReleasedWhenClosed(false);
    fullScreenWindow_->setBackgroundColor(ak::colors::blackColor());
    fullScreenWindow_->setAcceptsMouseMovedEvents(true);
    fullScreenWindow_->setLevel(ak::CGWindowLevelForKey(kFullScreenLevelKey));
    // Its actions and leftover keys reach this controller as the main window's do.
    fullScreenWindow_->setDelegate(shared_from_this());
    fullScreenWindow_->setNextResponder(self<MainWindowController>());
  }
  fullScreenWindow_->setFrame_display(screen, false);
  // The view leaves the main window (which keeps an empty one) for the full-screen window.
  window->setContentView(ak::make<ak::View>(view->frame()));
  fullScreenWindow_->setContentView(view);
  ownFullScreen_ = true;
  fullScreenWindow_->makeKeyAndOrderFront(nullptr);
  window->orderOut(nullptr);
  beginFullScreenControls();
  postFullScreenChanged();
}

void MainWindowController::leaveOwnFullScreen() {
  auto window = ak::WindowController::window();
  auto view = mouseMoveView_;
  if (!ownFullScreen_ || !window || !view) return;
  auto keep = shared_from_this();
  endFullScreenControls();
  ownFullScreen_ = false;
  if (fullScreenWindow_) {
    fullScreenWindow_->orderOut(nullptr);
    fullScreenWindow_->setContentView(ak::make<ak::View>(fullScreenWindow_->contentView()
                                                             ? fullScreenWindow_->contentView()->frame()
                                                             : ak::MakeRect(0, 0, 1, 1)));
  }
  if (auto titled = std::dynamic_pointer_cast<TitlebarWindow>(window))
    titled->setTitleBarHeight(kTitleBarHeight);
  window->setContentView(view);
  window->makeKeyAndOrderFront(nullptr);
  if (leftWasOpen_) showLeftView(false);
  leftWasOpen_ = false;
  postFullScreenChanged();
}

void MainWindowController::mainWindowDidEnterFullScreen(const ns::Ref<ns::Notification>&) {
  if (systemFullScreen_ || ownFullScreen_) return;
  systemFullScreen_ = true;
  beginFullScreenControls();
  postFullScreenChanged();
}

void MainWindowController::mainWindowDidExitFullScreen(const ns::Ref<ns::Notification>&) {
  if (!systemFullScreen_) return;
  endFullScreenControls();
  systemFullScreen_ = false;
  postFullScreenChanged();
}

void MainWindowController::beginFullScreenControls() {
  auto view = mouseMoveView_;
  if (!view) return;
  view->stopMouseIdleTimer();
  // The bar floats over the picture's bottom edge.
  if (mainSplitView_) mainSplitView_->setFrame(view->bounds());
  if (fullScreenTrackingArea_) view->removeTrackingArea(fullScreenTrackingArea_);
  fullScreenTrackingArea_ = ak::TrackingArea::initWithRect_options_owner_userInfo(
      view->visibleRect(), kFullScreenTrackingOptions, view, {});
  view->addTrackingArea(fullScreenTrackingArea_);
  ak::Rect player = ak::ZeroRect;
  if (auto pane = playerViewController_ ? playerViewController_->view() : nullptr)
    player = view->convertRect_fromView(pane->bounds(), pane.get());
  const double strip = std::min(kBottomBarHeight, std::max(0.0, player.size.height));
  if (!view->isFlipped()) player.origin.y += strip;
  player.size.height -= strip;
  view->setPlayerRect(player);
  // No bookmarks panel is built.
  view->setBookmarksRect(ak::ZeroRect);
  if (bottomView_) bottomView_->setHidden(false);
}

void MainWindowController::endFullScreenControls() {
  auto view = mouseMoveView_;
  if (view) {
    view->stopMouseIdleTimer();
    if (fullScreenTrackingArea_) view->removeTrackingArea(fullScreenTrackingArea_);
    if (mainSplitView_) {
      const ak::Rect bounds = view->bounds();
      mainSplitView_->setFrame(ak::MakeRect(0, kBottomBarHeight, bounds.size.width,
                                            std::max(0.0, bounds.size.height - kBottomBarHeight)));
    }
  }
  fullScreenTrackingArea_ = nullptr;
  if (bottomView_) bottomView_->setHidden(false);
  showPointer();
}

void MainWindowController::fullScreenMouseMoved(const ns::Ref<ns::Notification>&) {
  if (!isFullScreen()) return;
  if (bottomView_) bottomView_->setHidden(false);
  showPointer();
}

void MainWindowController::fullScreenMouseIdle(const ns::Ref<ns::Notification>&) {
  if (!isFullScreen()) return;
  if (bottomView_) bottomView_->setHidden(true);
  // A sheet keeps the pointer: its buttons need it.
  if (mouseMoveView_ && mouseMoveView_->mouseInWindow() && !showingAlert_) hidePointer();
}

void MainWindowController::screenParametersChanged(const ns::Ref<ns::Notification>&) {
  if (!ownFullScreen_ || !fullScreenWindow_) return;
  fullScreenWindow_->setFrame_display(fullScreenFrame(ak::WindowController::window()), true);
  beginFullScreenControls();
}

void MainWindowController::applicationWillTerminate(const ns::Ref<ns::Notification>&) {
  // The view goes back into the main window, so that what ends with that window (the player
  // among it) ends as it does outside full screen.
  if (ownFullScreen_) leaveOwnFullScreen();
  showPointer();
  // The sheet hears the termination itself; the flag goes in any case.
  showingAlert_ = false;
}

void MainWindowController::hidePointer() {
  if (pointerHidden_) return;
  pointerHidden_ = true;
  ak::Cursor::hide();
}

void MainWindowController::showPointer() {
  if (!pointerHidden_) return;
  pointerHidden_ = false;
  ak::Cursor::unhide();
}

void MainWindowController::postFullScreenChanged() {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(kFullScreenChangedNotification,
                                                                       nullptr);
}
