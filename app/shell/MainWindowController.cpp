#include "app/shell/MainWindowController.h"

#include <algorithm>

#include "app/browse/LeftViewController.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/library/AccountCache.h"
#include "app/library/VideoInPlaylistCache.h"
#include "app/player/PlayerControlBar.h"
#include "app/player/PlayerViewController.h"
#include "app/shell/BookmarkCommands.h"
#include "app/shell/RenameVideoSheet.h"
#include "app/shell/SignInSession.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/SplitView.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/ButtonTextColor.h"
#include "ui/MouseMoveNSView.h"
#include "ui/MySplitView.h"
#include "ui/TitlebarWindow.h"
#include "ui/WindowButton.h"

PL_CLASS(MainWindowController, ak::WindowController) {
  cls.method<&MainWindowController::signInClicked>("signInClicked:");
  cls.method<&MainWindowController::initYoutube>("initYoutube");
  cls.method<&MainWindowController::onToggleFullScreen>("onToggleFullScreen:");
  cls.method<&MainWindowController::validateMenuItem>("validateMenuItem:");
}

namespace {

constexpr double kUserButtonWidth = 220;
constexpr double kUserButtonHeight = 22;
constexpr double kUserButtonRightMargin = 12;
// Where the left pane opens when no width was stored.
constexpr double kDefaultLeftWidth = 360;

ns::Ref<WindowButton> dotButton(const std::string& colour) {
  auto button = WindowButton::windowButtonWithSize_groupIdentifier({12, 12}, std::nullopt);
  button->setActiveImage(ak::Image::imageNamed(colour + "_dot"));
  button->setActiveNotKeyWindowImage(ak::Image::imageNamed("black_dot"));
  button->setInactiveImage(ak::Image::imageNamed("black_dot"));
  button->setRolloverImage(ak::Image::imageNamed(colour + "_dot_over"));
  return button;
}

// "top_bar" tiled from x = 0 across the bar, each tile as high as the bar.
void drawTopBar(bool, ak::Rect rect, const ak::BezierPath& path) {
  auto image = ak::Image::imageNamed("top_bar");
  if (!image) return;
  const double width = image->size().width;
  if (width <= 0) return;
  ak::GraphicsContext::saveGraphicsState();
  path.addClip();
  for (double x = 0; x < rect.size.width; x += width) {
    image->drawInRect_fromRect_operation_fraction(ak::MakeRect(x, rect.origin.y, width, rect.size.height),
                                                  ak::ZeroRect, ak::CompositingOperation::SourceOver, 1.0);
  }
  ak::GraphicsContext::restoreGraphicsState();
}

// A stored mode inside [0, last], else 0 (what an absent key reads as).
int storedMode(const char* key, long last) {
  const long value = getIntSetting(key);
  return value >= 0 && value <= last ? static_cast<int>(value) : 0;
}

}  // namespace

MainWindowController::MainWindowController() = default;

MainWindowController::~MainWindowController() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

ns::Ref<MainWindowController> MainWindowController::initWithDefaultNib() {
  auto controller = ns::make<MainWindowController>();
  controller->initWithWindowNibName("MainWindowController");
  return controller;
}

void MainWindowController::windowDidLoad() {
  auto window = ak::WindowController::window();
  if (!window) {
    ns::LogError("MainWindowController: the main window could not be built");
    return;
  }
  // The account glue and the bookmark commands reach the controller through the interface.
  auto controller = std::dynamic_pointer_cast<IMainWindowController>(shared_from_this());
  signInSession_ = ns::make<SignInSession>(controller);
  bookmarkCommands_ = ns::make<BookmarkCommands>(controller);

  if (auto titled = std::dynamic_pointer_cast<TitlebarWindow>(window)) setUpWindowChrome(titled);
  createCacheFolders();
  loadPanes();
  setUpContentView(window);
  setUpMainSplitView();
  restorePlayModes();
  startCacheServer();
  observeFullScreen();

  // The account is restored on a later turn of the main loop, once the panes exist.
  std::weak_ptr<MainWindowController> weak = self<MainWindowController>();
  dispatch::async(dispatch::mainQueue(), [weak] {
    if (auto strong = weak.lock()) strong->initYoutube();
  });
}

void MainWindowController::setUpWindowChrome(const ns::Ref<TitlebarWindow>& window) {
  window->setMovableByWindowBackground(true);
  window->setTitleBarHeight(kTitleBarHeight);
  window->setFullScreenButtonRightMargin(-30.0);
  window->setCenterTrafficLightButtons(false);
  window->setHideTitleBarInFullScreen(true);
  window->setTitleBarDrawingBlock(&drawTopBar);
  window->setCloseButton(dotButton("red"));
  window->setMinimizeButton(dotButton("yellow"));
  window->setZoomButton(dotButton("green"));

  auto bar = window->titleBarView();
  const ak::Rect bounds = bar ? bar->bounds() : ak::MakeRect(0, 0, kDefaultWidth, kTitleBarHeight);
  toolbarView_ = ak::make<ak::View>(bounds);
  toolbarView_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  userBtn_ = ak::make<ak::Button>(ak::MakeRect(bounds.size.width - kUserButtonWidth - kUserButtonRightMargin,
                                               (bounds.size.height - kUserButtonHeight) / 2, kUserButtonWidth,
                                               kUserButtonHeight));
  userBtn_->setAutoresizingMask(ak::ViewMinXMargin | ak::ViewMinYMargin | ak::ViewMaxYMargin);
  userBtn_->setBordered(false);
  userBtn_->setAlignment(ak::TextAlignment::Right);
  userBtn_->setTitle(kSignedOutButtonTitle);
  ButtonTextColor::setTextColor(*userBtn_, ak::colors::whiteColor());
  userBtn_->setTarget(shared_from_this());
  userBtn_->setAction(ns::Sel("signInClicked:"));
  toolbarView_->addSubview(userBtn_);
  if (bar) bar->addSubview(toolbarView_);
}

void MainWindowController::createCacheFolders() {
  makeCacheFolders();
}

void MainWindowController::loadPanes() {
  playerViewController_ = PlayerViewController::init();
  leftViewController_ = ns::make<LeftViewController>();
  leftViewController_->init(std::string("LeftViewController"));
}

void MainWindowController::setUpContentView(const ns::Ref<ak::Window>& window) {
  const ak::Rect frame = window->contentView() ? window->contentView()->frame()
                                               : ak::MakeRect(0, 0, kDefaultWidth, kDefaultHeight);
  mouseMoveView_ = ak::make<MouseMoveNSView>(frame);
  mouseMoveView_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  window->setContentView(mouseMoveView_);
  const ak::Rect bounds = mouseMoveView_->bounds();
  const double width = bounds.size.width;
  const double height = std::max(0.0, bounds.size.height - kBottomBarHeight);

  bottomView_ = ak::make<ak::View>(ak::MakeRect(0, 0, width, kBottomBarHeight));
  bottomView_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewMaxYMargin);
  if (auto bar = playerViewController_->controlBar()) {
    bar->setFrame(bottomView_->bounds());
    bar->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
    bottomView_->addSubview(bar);
    volumeSlider_ = bar->volumeSlider();
    progressSlider_ = bar->progressSlider();
    qualityButton_ = bar->qualityPopUp();
  }

  // Made as a nib makes it, with its two panes already inside, so that it keeps constraints for
  // both.
  const double leftWidth = std::min(kDefaultLeftWidth, std::max(0.0, width - kPaneMinimum - 1));
  ak::NibCoder coder;
  coder.frame = ak::MakeRect(0, kBottomBarHeight, width, height);
  coder.autoresizingMask = ak::ViewWidthSizable | ak::ViewHeightSizable;
  if (auto left = leftViewController_->view()) {
    left->setFrame(ak::MakeRect(0, 0, leftWidth, height));
    coder.subviews.push_back(left);
  } else {
    ns::LogError("MainWindowController: the left pane could not be built");
  }
  if (auto player = playerViewController_->view()) {
    player->setFrame(ak::MakeRect(leftWidth + 1, 0, std::max(0.0, width - leftWidth - 1), height));
    coder.subviews.push_back(player);
  }
  mainSplitView_ = std::make_shared<MySplitView>();
  mainSplitView_->initWithCoder(coder);
  mainSplitView_->setVertical(true);
  mouseMoveView_->addSubview(mainSplitView_);
  mouseMoveView_->addSubview(bottomView_);
}

void MainWindowController::setUpMainSplitView() {
  auto split = mainSplitView_;
  split->setDividerColor(ak::colors::blackColor());
  split->setDividerThickness(1.0);
  split->setSubviewsResizeMode(1);
  split->setMinSize_ofSubviewAtIndex(kPaneMinimum, 0);
  split->setMinSize_ofSubviewAtIndex(kPaneMinimum, 1);
  split->setPriority_ofSubviewAtIndex(1, 0);
  split->setPriority_ofSubviewAtIndex(0, 1);
  split->setCanCollapse_subviewAtIndex(true, 0);
  split->setCanCollapse_subviewAtIndex(false, 1);
  if (split->subviews().size() != 2) return;
  split->adjustSubviews();
  const long position = getIntSetting(kMainSplitViewPositionKey);
  if (position > 0) split->setPosition_ofDividerAtIndex(static_cast<double>(position), 0);
  ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(
      this, &MainWindowController::mainSplitViewDidResizeSubviews,
      std::string(ak::SplitViewDidResizeSubviewsNotification), split);
}

void MainWindowController::mainSplitViewDidResizeSubviews(const ns::Ref<ns::Notification>&) {
  auto split = mainSplitView_;
  if (!split || split->subviews().size() < 2) return;
  auto left = split->subviews()[0];
  if (split->isSubviewCollapsed(left)) return;
  setIntSetting(kMainSplitViewPositionKey, static_cast<long>(left->frame().size.width));
}

void MainWindowController::restorePlayModes() {
  repeatType_ = storedMode(kRepeatTypeKey, 3);
  shuffleMode_ = storedMode(kShuffleModeKey, 1);
}

void MainWindowController::startCacheServer() {
  cacheServer_ = ns::make<CacheServer>();
  cacheServer_->start();
  auto server = cacheServer_->httpServer();
  if (!server || !server->isRunning())
    ns::LogWarning("MainWindowController: the local media server found no port; cached videos will not play");
}

void MainWindowController::initYoutube() {
  ++initYoutubeCount_;
  if (signInSession_) signInSession_->initYoutube();
}

// ---- IMainWindowController ----

ns::Ref<AccountCache> MainWindowController::accountCache() {
  return accountCache_;
}

void MainWindowController::setAccountCache(ns::Ref<AccountCache> cache) {
  accountCache_ = std::move(cache);
}

ns::Ref<VideoInPlaylistCache> MainWindowController::videoInPlaylistCache() {
  return videoInPlaylistCache_;
}

void MainWindowController::setVideoInPlaylistCache(ns::Ref<VideoInPlaylistCache> cache) {
  videoInPlaylistCache_ = std::move(cache);
}

ns::Ref<ApiServiceYouTube> MainWindowController::youTubeService() {
  return AccountSession::youTubeService();
}

ns::Ref<ak::Window> MainWindowController::getCurrentWindow() {
  // No settings window or mini player is built. In the desktop's full screen the borderless
  // window is not on screen, so sheets hang on the main window there.
  if (ownFullScreen_ && fullScreenWindow_) return fullScreenWindow_;
  return ak::WindowController::window();
}

bool MainWindowController::isSignedIn() {
  return signInSession_ && signInSession_->isSignedIn();
}

bool MainWindowController::treeViewHasFocus() {
  return bookmarkCommands_ && bookmarkCommands_->treeViewHasFocus();
}

void MainWindowController::showLeftView(bool animated) {
  auto split = mainSplitView_;
  if (!split || split->subviews().empty()) return;
  if (split->isSubviewCollapsed(split->subviews()[0]))
    split->collapseOrExpandSubviewAtIndex_animated(0, animated);
}

void MainWindowController::signInClicked(const ns::Ref<ns::Object>& sender) {
  if (signInSession_) signInSession_->signInClicked(sender);
}

void MainWindowController::onShowRenameVideo(const ns::Ref<SearchEntry>& row) {
  // One sheet at a time.
  if (renameVideoSheet_ || showingAlert_) return;
  std::weak_ptr<MainWindowController> weak = self<MainWindowController>();
  renameVideoSheet_ = RenameVideoSheet::beginForRow(self<MainWindowController>(), row, [weak] {
    if (auto strong = weak.lock()) strong->renameVideoSheet_ = nullptr;
  });
}

void MainWindowController::checkMouseDownEvent(const ns::Ref<ak::Event>&) {
  if (leftViewController_) leftViewController_->closeAutoComplete();
}

void MainWindowController::onExportBookmarks() {
  if (bookmarkCommands_) bookmarkCommands_->onExportBookmarks();
}

void MainWindowController::onImportBookmarks() {
  if (bookmarkCommands_) bookmarkCommands_->onImportBookmarks();
}
