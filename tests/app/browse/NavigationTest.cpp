// The left pane's navigation: back and forward stacks, the menu page before the first entry,
// and one "navigationChanged" per show.
#include <gtest/gtest.h>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/MainViewController.h"
#include "app/browse/PelNavigationController.h"
#include "common/AppUtilities.h"
#include "common/ShellNotifications.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/TableView.h"
#include "platform/testing/Pump.h"
#include "tests/app/browse/BrowseTestSupport.h"

namespace {

using browse_test::BrowseFixture;
using browse_test::PostCounter;

class Page : public PelViewController {
 public:
  std::vector<std::string> calls;
  void viewWillAppear(bool animated) override { calls.push_back(animated ? "appear YES" : "appear NO"); }
  void viewWillDisappear(bool animated) override {
    calls.push_back(animated ? "disappear YES" : "disappear NO");
  }
};

ns::Ref<Page> page(const std::string& title) {
  auto controller = ns::make<Page>();
  controller->init();
  controller->ak::ViewController::setTitle(title);
  return controller;
}

struct NavigationFixture : BrowseFixture {
  NavigationFixture() {
    navigation = ns::make<PelNavigationController>();
    navigation->init(std::string("PelNavigationController"));
    menu = ns::make<MainViewController>();
    menu->init(std::string("MainViewController"));
    menu->view();
    navigation->setMenuPage(menu);
    navigation->view();
    EXPECT_TRUE(pltest::pumpUntil([&] { return navigation->isShowingMenu(); }));
  }
  std::vector<ns::Ref<PelViewController>> back() const { return navigation->viewControllers(); }
  std::vector<ns::Ref<PelViewController>> forward() const { return navigation->nextViewControllers(); }
  ns::Ref<PelNavigationController> navigation;
  ns::Ref<MainViewController> menu;
  ns::Ref<Page> x = page("X"), y = page("Y"), z = page("Z");
};

using Stack = std::vector<ns::Ref<PelViewController>>;

TEST(Navigation, BackPastTheFirstPageShowsTheMenuAndForwardComesBack) {
  NavigationFixture f;
  PostCounter shows(kNavigationChangedNotification);
  f.navigation->pushViewController_animated(f.x, true);
  f.navigation->pushViewController_animated(f.y, true);
  EXPECT_EQ(f.navigation->currentTitle(), "Y");
  EXPECT_EQ(f.y->view()->superview(), f.navigation->contentsView());
  EXPECT_EQ(f.navigation->contentsView()->subviews().size(), 1u);
  f.navigation->goBack();
  f.navigation->goBack();
  EXPECT_EQ(shows.count(), 4);
  EXPECT_TRUE(f.navigation->isShowingMenu());
  EXPECT_EQ(f.navigation->currentTitle(), "");
  EXPECT_EQ(f.menu->view()->superview(), f.navigation->contentsView());
  EXPECT_TRUE(f.back().empty());
  EXPECT_EQ(f.forward(), (Stack{f.x, f.y}));
  EXPECT_FALSE(f.navigation->canGoBack());
  EXPECT_TRUE(f.navigation->canGoForward());
  EXPECT_EQ(f.y->calls, (std::vector<std::string>{"appear YES", "disappear NO"}));
  EXPECT_EQ(f.menu->numberOfRowsInTableView(nullptr), 0);

  f.navigation->goBack();  // nothing before the menu
  EXPECT_EQ(shows.count(), 4);
  f.navigation->goForward();
  EXPECT_EQ(shows.count(), 5);
  EXPECT_EQ(f.navigation->getCurrentViewController(), f.x);
  EXPECT_EQ(f.navigation->currentTitle(), "X");
  EXPECT_EQ(f.forward(), Stack{f.y});
  EXPECT_FALSE(f.navigation->isShowingMenu());
}

TEST(Navigation, APushEmptiesTheForwardStackAndRepeatsStayInTheBackStack) {
  NavigationFixture f;
  f.navigation->pushViewController_animated(f.x, true);
  f.navigation->pushViewController_animated(f.y, true);
  f.navigation->goBack();
  f.navigation->pushViewController_animated(f.z, true);
  EXPECT_TRUE(f.forward().empty());
  f.navigation->goBack();
  EXPECT_EQ(f.navigation->getCurrentViewController(), f.x);
}

TEST(Navigation, ThePageOnShowIsNotPushedAgainButAnEarlierOneIs) {
  NavigationFixture g;
  PostCounter shows(kNavigationChangedNotification);
  for (const auto& p : {g.x, g.y, g.x}) g.navigation->pushViewController_animated(p, true);
  EXPECT_EQ(g.back(), (Stack{g.x, g.y, g.x}));
  g.navigation->pushViewController_animated(g.x, true);  // already on show
  EXPECT_EQ(shows.count(), 3);
  g.navigation->goBack();
  EXPECT_EQ(g.navigation->getCurrentViewController(), g.y);
  EXPECT_EQ(g.navigation->currentTitle(), "Y");
  EXPECT_EQ(g.forward(), Stack{g.x});
  g.navigation->pushViewController_animated(g.y, true);  // on show: the forward stack stays
  EXPECT_EQ(g.forward(), Stack{g.x});
}

TEST(Navigation, TheMenuPageHasNoRowsAfterASignInChange) {
  NavigationFixture f;
  f.menu->setCellArray({{"Sign in", "login"}});
  EXPECT_EQ(f.menu->numberOfRowsInTableView(nullptr), 1);
  f.main->clearCalls();
  f.menu->buttonCellClicked(0);
  EXPECT_EQ(f.menu->selectedRow(), 0);
  EXPECT_EQ(f.main->calls(), std::vector<std::string>{"signInClicked"});
  postNotification(kLoginStateChangedNotification);
  EXPECT_EQ(f.menu->numberOfRowsInTableView(nullptr), 0);
  EXPECT_EQ(f.menu->title(), "");
}

}  // namespace

namespace {

class CountingPage : public PelViewController {
 public:
  int loads = 0;

 protected:
  void viewDidLoadOnce() override { ++loads; }
};

TEST(Navigation, APageFromANibLoadsOnce) {
  BrowseFixture f;
  ak::Nib::registerBuilder("CountingPage", [](ak::NibLoader& nib) {
    auto owner = nib.owner<CountingPage>();
    auto root = ak::make<ak::View>(ak::MakeRect(0, 0, 10, 10));
    nib.outlet([owner, root] { owner->setView(root); });
  });
  auto page = ns::make<CountingPage>();
  page->init(std::string("CountingPage"));
  page->view();  // awakeFromNib sends viewDidLoad, and so does the first use of the view
  page->view();
  EXPECT_EQ(page->loads, 1);
  ak::Nib::unregisterBuilder("CountingPage");
}

}  // namespace
