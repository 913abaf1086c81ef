#pragma once
// Browser-like navigation of the left pane's bottom area: a back stack whose last entry is the
// page on show, a forward stack filled by going back, and the menu page standing before the
// first entry. Every show posts "navigationChanged" once. Main thread only.
#include <string>
#include <vector>

#include "app/browse/PelViewController.h"

namespace ak {
class View;
}

class PelNavigationController : public PelViewController {
 public:
  enum ShowStyle : int { kShowPush = 0, kShowBack = 1, kShowMenu = 2, kShowHideMenu = 3 };

  void initWithNibName_bundle(const std::optional<std::string>& nibName,
                              const ns::Ref<ns::Bundle>& bundle) override;
  ~PelNavigationController() override;

  // Shows the page unless it is already on show; empties the forward stack.
  void pushViewController_animated(const ns::Ref<PelViewController>& controller, bool animated);
  void _pushViewController_animated(const ns::Ref<PelViewController>& controller, bool animated);
  void goBack();
  void goForward();
  void showMenu();
  // YES when a page was shown.
  bool hideMenu();
  void showViewController_withStyle(const ns::Ref<PelViewController>& controller, int style);
  // The page on show; nil when the back stack is empty.
  ns::Ref<PelViewController> getCurrentViewController() const;
  bool canGoBack() const { return canGoBack_; }
  bool canGoForward() const { return canGoForward_; }
  bool isShowingMenu() const { return isShowingMenu_; }
  void removeOldContents();
  void updatePrevAndNextBtn();
  void setTitle(const std::string& title);
  const std::string& currentTitle() const { return currentTitle_; }

  const std::vector<ns::Ref<PelViewController>>& viewControllers() const { return viewControllers_; }
  const std::vector<ns::Ref<PelViewController>>& nextViewControllers() const { return nextViewControllers_; }

  // The menu page; without one set, the main window's left pane's.
  ns::Ref<PelViewController> menuPage() const;
  void setMenuPage(const ns::Ref<PelViewController>& page) { menuPage_ = page; }

  // ---- outlets ----
  ns::Ref<ak::View> navigationView() const { return navigationView_; }
  void setNavigationView(const ns::Ref<ak::View>& view) { navigationView_ = view; }
  ns::Ref<ak::View> contentsView() const { return contentsView_; }
  void setContentsView(const ns::Ref<ak::View>& view) { contentsView_ = view; }

  std::string className() const override { return "PelNavigationController"; }

 protected:
  // Schedules showMenu on the main queue.
  void viewDidLoadOnce() override;

 private:
  bool isShowingMenu_ = false;
  bool canGoBack_ = false;
  bool canGoForward_ = false;
  std::vector<ns::Ref<PelViewController>> viewControllers_;
  std::vector<ns::Ref<PelViewController>> nextViewControllers_;
  ns::Ref<ak::View> navigationView_;
  ns::Ref<ak::View> contentsView_;
  std::string currentTitle_;
  ns::Weak<PelViewController> menuPage_;
};
