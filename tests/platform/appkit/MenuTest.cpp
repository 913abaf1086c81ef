// Menus: auto-enabling, key equivalents through the responder chain and the main menu, deep
// copies, and menus shown in a modal tracking loop answered by the scripted answerer.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/View.h"
#include "platform/core/Exception.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/platform/appkit/ControlTestSupport.h"

namespace menu_test {

// A focused view that reloads and validates its menu items.
class PlayerView : public ak::View {
 public:
  bool allow = true;
  int reloads = 0;
  std::vector<std::string> keys;
  std::vector<ns::Ref<ns::Object>> senders;
  bool acceptsFirstResponder() override { return true; }
  void reload(const ns::Ref<ns::Object>& sender) {
    ++reloads;
    senders.push_back(sender);
  }
  bool validateMenuItem(const ns::Ref<ns::Object>&) { return allow; }
  void keyDown(const ns::Ref<ak::Event>& event) override { keys.push_back(event->characters()); }
};

class Target : public ns::Object {
 public:
  int copies = 0;
  std::vector<ns::Ref<ns::Object>> senders;
  std::function<void()> during;
  void copyLink(const ns::Ref<ns::Object>& sender) {
    ++copies;
    senders.push_back(sender);
    if (during) during();
  }
};

}  // namespace menu_test

PL_CLASS_NAMED(menu_test::PlayerView, "RTMenuPlayerView", ak::View) {
  cls.method<&menu_test::PlayerView::reload>("reload:");
  cls.method<&menu_test::PlayerView::validateMenuItem>("validateMenuItem:");
}
PL_CLASS_NAMED(menu_test::Target, "RTMenuTarget", ns::Object) {
  cls.method<&menu_test::Target::copyLink>("copyLink:");
}

namespace {

using ak::MakeRect;
using namespace menu_test;

struct Fixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window = app.window(MakeRect(100, 100, 300, 200));
  ns::Ref<PlayerView> player = ak::make<PlayerView>(MakeRect(0, 0, 300, 200));
  ns::Ref<ak::Menu> mainMenu = ak::Menu::initWithTitle("Main");
  ns::Ref<ak::Menu> fileMenu = ak::Menu::initWithTitle("File");
  ns::Ref<ak::MenuItem> reload;
  Fixture() {
    window->contentView()->addSubview(player);
    window->makeFirstResponder(player);
    auto file = mainMenu->addItemWithTitle_action_keyEquivalent("File", {}, "");
    mainMenu->setSubmenu_forItem(fileMenu, file);
    reload = fileMenu->addItemWithTitle_action_keyEquivalent("Reload", "reload:", "r");
    app.app()->setMainMenu(mainMenu);
  }
  ~Fixture() { app.app()->setMainMenu(nullptr); }
};

TEST(KeyEquivalents, CommandRPerformsThroughTheChainUnlessValidationSaysNo) {
  Fixture f;
  struct Case {
    bool allow;
    unsigned long flags;
    const char* characters;
    int reloads;
    std::size_t keysSeen;
  } cases[] = {
      {true, ak::CommandKeyMask, "r", 1, 0},
      {false, ak::CommandKeyMask, "r", 0, 1},                    // validated NO: keyDown: gets it
      {true, ak::CommandKeyMask | ak::ShiftKeyMask, "R", 0, 1},  // Shift is not part of "r"
      {true, ak::ControlKeyMask, "r", 0, 1},                     // another modifier
  };
  for (const auto& c : cases) {
    f.player->allow = c.allow;
    f.player->reloads = 0;
    f.player->keys.clear();
    pltest::key(f.window, 15, c.characters, c.flags);
    f.app.dispatchQueued();
    EXPECT_EQ(f.player->reloads, c.reloads) << c.characters << " allow=" << c.allow;
    EXPECT_EQ(f.player->keys.size(), c.keysSeen) << c.characters << " allow=" << c.allow;
  }
  // An upper-case equivalent implies Shift.
  f.reload->setKeyEquivalent("R");
  f.player->allow = true;
  f.player->reloads = 0;
  pltest::key(f.window, 15, "R", ak::CommandKeyMask | ak::ShiftKeyMask);
  pltest::key(f.window, 15, "r", ak::CommandKeyMask);
  f.app.dispatchQueued();
  EXPECT_EQ(f.player->reloads, 1);
  ASSERT_FALSE(f.player->senders.empty());
  EXPECT_EQ(f.player->senders.back(), f.reload);
}

TEST(Menus, AutoEnablingFollowsTheTargetAndTheChain) {
  Fixture f;
  auto target = ns::make<Target>();
  auto copy = f.fileMenu->addItemWithTitle_action_keyEquivalent("Copy Link", "copyLink:", "");
  copy->setTarget(target);
  auto orphan = f.fileMenu->addItemWithTitle_action_keyEquivalent("Nobody", "nobodyAnswers:", "");
  auto noAction = f.fileMenu->addItemWithTitle_action_keyEquivalent("Inert", {}, "");
  auto parent = f.fileMenu->addItemWithTitle_action_keyEquivalent("Recent", "reload:", "");
  auto recent = ak::Menu::initWithTitle("Recent");
  recent->addItemWithTitle_action_keyEquivalent("One", "reload:", "");
  f.fileMenu->setSubmenu_forItem(recent, parent);
  f.mainMenu->update();
  EXPECT_TRUE(f.reload->isEnabled());
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(orphan->isEnabled());
  EXPECT_FALSE(noAction->isEnabled());
  // An item with a submenu never performs its own action.
  EXPECT_FALSE(ak::Menu::performActionForItem(parent));
  EXPECT_EQ(f.player->reloads, 0);
  // A freed target leaves its item disabled rather than sending to the chain.
  target.reset();
  f.mainMenu->update();
  EXPECT_FALSE(copy->isEnabled());
  EXPECT_FALSE(ak::Menu::performActionForItem(copy));
  // The validator's answer counts.
  f.player->allow = false;
  f.mainMenu->update();
  EXPECT_FALSE(f.reload->isEnabled());
}

TEST(Menus, ItemsByIndexTagAndTitleAndDeepCopies) {
  auto menu = ak::Menu::initWithTitle("Video");
  auto open = menu->addItemWithTitle_action_keyEquivalent("Open", "open:", "o");
  open->setTag(4);
  menu->addItem(ak::MenuItem::separatorItem());
  auto addTo = menu->addItemWithTitle_action_keyEquivalent("Add to...", {}, "");
  auto playlists = ak::Menu::initWithTitle("Playlists");
  playlists->addItemWithTitle_action_keyEquivalent("Favorites", "add:", "")
      ->setRepresentedObject(ns::Value("PL1"));
  menu->setSubmenu_forItem(playlists, addTo);
  EXPECT_EQ(menu->itemWithTag(4), open);
  EXPECT_EQ(menu->itemWithTitle("Add to..."), addTo);
  EXPECT_EQ(menu->indexOfItemWithTitle("missing"), -1);
  EXPECT_EQ(menu->itemAtIndex(1)->isSeparatorItem(), true);
  for (long bad : {-1L, 3L, 100L}) EXPECT_THROW(menu->itemAtIndex(bad), ns::Exception) << bad;
  EXPECT_THROW(menu->removeItemAtIndex(3), ns::Exception);
  EXPECT_THROW(menu->insertItem_atIndex(open, 0), ns::Exception);  // already in a menu
  EXPECT_EQ(playlists->supermenu(), menu);

  auto copy = menu->copy();
  copy->itemAtIndex(0)->setTitle("Changed");
  copy->itemAtIndex(2)->submenu()->itemAtIndex(0)->setTitle("Changed too");
  copy->removeItemAtIndex(1);
  EXPECT_EQ(open->title(), "Open");
  EXPECT_EQ(playlists->itemAtIndex(0)->title(), "Favorites");
  EXPECT_EQ(menu->numberOfItems(), 3);
  EXPECT_NE(copy->itemAtIndex(1)->submenu(), playlists);
  EXPECT_EQ(copy->itemAtIndex(1)->submenu()->itemAtIndex(0)->representedObject(), ns::Value("PL1"));
  EXPECT_EQ(copy->itemAtIndex(0)->tag(), 4);
}

TEST(ContextMenus, ARightClickAnsweredCopyLinkActsAfterTheMenuClosesWithTheItemAsSender) {
  Fixture f;
  auto target = ns::make<Target>();
  auto menu = ak::Menu::initWithTitle("Video");
  menu->addItemWithTitle_action_keyEquivalent("Open", "reload:", "");
  auto copy = menu->addItemWithTitle_action_keyEquivalent("Copy Link", "copyLink:", "");
  copy->setTarget(target);
  copy->setRepresentedObject(ns::Value("https://example.invalid/v"));
  copy->setState(1);
  menu->addItem(ak::MenuItem::separatorItem());
  menu->addItemWithTitle_action_keyEquivalent("Nothing", "nobody:", "");
  f.player->setMenu(menu);
  int defaultFires = 0;
  ns::RunLoop::currentRunLoop()->addTimer_forMode(
      ns::Timer::timerWithTimeInterval_repeats_block(0.5, false, [&](const auto&) { ++defaultFires; }),
      ns::DefaultRunLoopMode);
  bool openWhileAsked = false;
  int copiesWhileOpen = -1, firesWhileOpen = -1;
  {
    pltest::ModalScript script;
    script.choose("Copy Link", [&] {
      openWhileAsked = menu->isOpen();
      ns::Clock::advance(1);
      firesWhileOpen = defaultFires;
      copiesWhileOpen = target->copies;
    });
    pltest::rightClick(f.window, {40, 40});
    f.app.dispatchQueued();
    ASSERT_EQ(script.shown().size(), 1u);
    EXPECT_EQ(script.shown()[0].describe(),
              "Open\n[x] Copy Link {https://example.invalid/v}\n-\nNothing (disabled)\n");
  }
  EXPECT_TRUE(openWhileAsked);
  EXPECT_EQ(firesWhileOpen, 0);
  EXPECT_EQ(copiesWhileOpen, 0);
  EXPECT_FALSE(menu->isOpen());
  ASSERT_EQ(target->copies, 1);
  EXPECT_EQ(target->senders[0], copy);
  f.app.dispatchQueued();
  EXPECT_EQ(defaultFires, 1);
}

TEST(ContextMenus, FreedTargetsAndMenusChangedByTheirOwnActionDoNotCrash) {
  Fixture f;
  auto menu = ak::Menu::initWithTitle("Video");
  auto target = ns::make<Target>();
  auto copy = menu->addItemWithTitle_action_keyEquivalent("Copy Link", "copyLink:", "");
  copy->setTarget(target);
  {
    // The target's last owner lets go while the menu is open: nothing is sent.
    pltest::ModalScript script;
    ns::Weak<Target> weak = target;
    script.choose("Copy Link", [&] { target.reset(); });
    ak::Menu::popUpContextMenu_withEvent_forView(menu, nullptr, f.player);
    EXPECT_TRUE(weak.expired());
  }
  target = ns::make<Target>();
  ns::Weak<ak::MenuItem> weakItem = copy;
  copy->setTarget(target);
  copy.reset();
  // The action empties the menu, dropping the item that is being performed.
  target->during = [&] { menu->removeAllItems(); };
  {
    pltest::ModalScript script;
    script.chooseIndex(0);
    EXPECT_TRUE(menu->popUpMenuPositioningItem_atLocation_inView(nullptr, {0, 0}, f.player));
  }
  EXPECT_EQ(target->copies, 1);
  EXPECT_EQ(menu->numberOfItems(), 0);
  // The item lived through its action (it is the sender) and nothing else keeps it.
  EXPECT_EQ(target->senders.at(0), weakItem.lock());
  target->senders.clear();
  EXPECT_TRUE(weakItem.expired());
}

TEST(ContextMenus, AMenuShownWithoutAnAnswerFailsNamingItsItems) {
  Fixture f;
  auto menu = ak::Menu::initWithTitle("Video");
  menu->addItemWithTitle_action_keyEquivalent("Copy Link", "copyLink:", "");
  pltest::ModalScript script;
  EXPECT_NONFATAL_FAILURE(ak::Menu::popUpContextMenu_withEvent_forView(menu, nullptr, f.player), "Copy Link");
  // A script answer through a submenu path.
  auto addTo = menu->addItemWithTitle_action_keyEquivalent("Add to...", {}, "");
  auto playlists = ak::Menu::initWithTitle("Playlists");
  auto favorites = playlists->addItemWithTitle_action_keyEquivalent("Favorites", "reload:", "");
  menu->setSubmenu_forItem(playlists, addTo);
  script.choose("Add to.../Favorites");
  ak::Menu::popUpContextMenu_withEvent_forView(menu, nullptr, f.player);
  EXPECT_EQ(f.player->reloads, 1);
  EXPECT_EQ(f.player->senders.back(), favorites);
}

}  // namespace

namespace menu_test {

// Stands in for the on-screen presenter: records what the menus tell it and answers the menus
// it is asked to show with the item of that title.
class RecordingPresenter : public ak::Presenter {
 public:
  std::vector<std::string> changed;
  int mainMenus = 0;
  std::vector<ak::MenuPresentation::Kind> shown;
  std::string answer;
  bool trackMenu(const ak::MenuPresentation& p, ns::Ref<ak::MenuItem>& chosen) override {
    shown.push_back(p.kind);
    chosen = p.menu->itemWithTitle(answer);
    return true;
  }
  void mainMenuChanged() override { ++mainMenus; }
  void menuChanged(ak::Menu& menu) override { changed.push_back(menu.title()); }
};

}  // namespace menu_test

namespace {

TEST(Menus, ThePresenterHearsOfChangesAndShowsMenusNoScriptAnswers) {
  Fixture f;
  auto presenter = std::make_shared<RecordingPresenter>();
  ak::setActivePresenter(presenter);
  f.reload->setTitle("Reload All");
  f.reload->setState(1);
  f.reload->setKeyEquivalent("R");
  f.fileMenu->addItem(ak::MenuItem::separatorItem());
  f.fileMenu->removeItemAtIndex(1);
  f.mainMenu->setTitle("Pelorin");
  // Unchanged values and enabling (asked again each time a menu opens) say nothing.
  f.reload->setTitle("Reload All");
  f.reload->setEnabled(false);
  EXPECT_EQ(presenter->changed,
            (std::vector<std::string>{"File", "File", "File", "File", "File", "Pelorin"}));
  f.app.app()->setMainMenu(nullptr);
  f.app.app()->setMainMenu(f.mainMenu);
  EXPECT_EQ(presenter->mainMenus, 2);

  // A context menu (also by Control-click) is the presenter's when no script answers; its
  // choice runs once.
  auto menu = ak::Menu::initWithTitle("Video");
  menu->addItemWithTitle_action_keyEquivalent("Reload", "reload:", "");
  f.player->setMenu(menu);
  presenter->answer = "Reload";
  pltest::rightClick(f.window, {40, 40});
  pltest::click(f.window, {40, 40}, ak::ControlKeyMask);
  f.app.dispatchQueued();
  EXPECT_EQ(presenter->shown.size(), 2u);
  EXPECT_EQ(f.player->reloads, 2);
  {
    pltest::ModalScript script;
    script.dismiss();
    pltest::rightClick(f.window, {40, 40});
    f.app.dispatchQueued();
  }
  EXPECT_EQ(presenter->shown.size(), 2u);
  EXPECT_EQ(f.player->reloads, 2);
  ak::setActivePresenter(nullptr);
}

}  // namespace
