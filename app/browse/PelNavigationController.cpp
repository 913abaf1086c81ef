#include "app/browse/PelNavigationController.h"

#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/MainViewController.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/View.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"

void PelNavigationController::initWithNibName_bundle(const std::optional<std::string>& nibName,
                                                     const ns::Ref<ns::Bundle>& bundle) {
  PelViewController::initWithNibName_bundle(nibName, bundle);
}

PelNavigationController::~PelNavigationController() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

void PelNavigationController::viewDidLoadOnce() {
  std::weak_ptr<PelNavigationController> weak = self<PelNavigationController>();
  dispatch::async(dispatch::mainQueue(), [weak] {
    if (auto self = weak.lock()) self->showMenu();
  });
}

ns::Ref<PelViewController> PelNavigationController::getCurrentViewController() const {
  return viewControllers_.empty() ? nullptr : viewControllers_.back();
}

void PelNavigationController::pushViewController_animated(const ns::Ref<PelViewController>& controller,
                                                          bool animated) {
  if (!controller || controller == getCurrentViewController()) return;
  nextViewControllers_.clear();
  _pushViewController_animated(controller, animated);
}

void PelNavigationController::_pushViewController_animated(const ns::Ref<PelViewController>& controller,
                                                           bool animated) {
  if (!controller) return;
  if (controller != getCurrentViewController()) {
    isShowingMenu_ = false;
    if (auto last = getCurrentViewController()) last->viewWillDisappear(false);
    viewControllers_.push_back(controller);
    showViewController_withStyle(controller, kShowPush);
  } else if (isShowingMenu_) {
    hideMenu();
  }
}

void PelNavigationController::goBack() {
  if (isShowingMenu_) {
    hideMenu();
    return;
  }
  if (viewControllers_.empty()) return;
  auto leaving = viewControllers_.back();
  nextViewControllers_.insert(nextViewControllers_.begin(), leaving);
  leaving->viewWillDisappear(false);
  viewControllers_.pop_back();
  if (viewControllers_.empty()) {
    showMenu();
  } else {
    showViewController_withStyle(viewControllers_.back(), kShowBack);
  }
}

void PelNavigationController::goForward() {
  if (nextViewControllers_.empty()) return;
  auto next = nextViewControllers_.front();
  nextViewControllers_.erase(nextViewControllers_.begin());
  _pushViewController_animated(next, true);
}

ns::Ref<PelViewController> PelNavigationController::menuPage() const {
  if (auto page = menuPage_.lock()) return page;
  auto main = mainWindowController();
  auto left = main ? main->leftViewController() : nullptr;
  return left ? left->mainViewController() : nullptr;
}

void PelNavigationController::showMenu() {
  isShowingMenu_ = true;
  if (auto page = menuPage()) showViewController_withStyle(page, kShowMenu);
}

bool PelNavigationController::hideMenu() {
  isShowingMenu_ = false;
  if (viewControllers_.empty()) return false;
  showViewController_withStyle(viewControllers_.back(), kShowHideMenu);
  return true;
}

void PelNavigationController::showViewController_withStyle(const ns::Ref<PelViewController>& controller,
                                                           int style) {
  if (!controller) return;
  auto pageView = controller->view();
  auto contents = contentsView_ ? contentsView_ : view();
  if (pageView && contents) {
    pageView->setFrame(contents->bounds());
    pageView->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  }
  controller->setNavigationController(self<PelNavigationController>());
  removeOldContents();
  currentTitle_ = controller->title();
  controller->viewWillAppear(true);
  if (pageView && contents) contents->addSubview(pageView);
  updatePrevAndNextBtn();
  postNotification(kNavigationChangedNotification);
}

void PelNavigationController::removeOldContents() {
  auto contents = contentsView_ ? contentsView_ : view();
  if (!contents) return;
  auto old = contents->subviews();  // a copy: removing changes the list
  for (const auto& subview : old) subview->removeFromSuperview();
}

void PelNavigationController::updatePrevAndNextBtn() {
  canGoBack_ = !viewControllers_.empty();
  canGoForward_ = !nextViewControllers_.empty();
}

void PelNavigationController::setTitle(const std::string& title) {
  ak::ViewController::setTitle(title);
  currentTitle_ = title;
}

PL_CLASS(PelNavigationController, PelViewController) {}
