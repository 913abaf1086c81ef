// ak menus on screen: context and pop-up menus as GTK menus at the pointer, the main menu as a
// bar over the main window's content, chosen with real clicks and keys.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/gtk/Screen.h"

// Last: Xlib's macros would clash with names in the headers above.
#include <gdk/gdkx.h>

namespace menu_screen_test {

// Counts the actions it gets; "third:" and "goBack:" it refuses through validateMenuItem:.
class Counter : public ns::Object {
 public:
  int first = 0, second = 0, third = 0, quit = 0, picked = 0, willOpen = 0, didClose = 0;
  std::function<void()> onQuit;
  void onFirst(const ns::Ref<ns::Object>&) { ++first; }
  void onSecond(const ns::Ref<ns::Object>&) { ++second; }
  void onThird(const ns::Ref<ns::Object>&) { ++third; }
  void onPicked(const ns::Ref<ns::Object>&) { ++picked; }
  void onQuitAction(const ns::Ref<ns::Object>&) {
    ++quit;
    if (onQuit) onQuit();
  }
  bool validate(const ns::Ref<ns::Object>& item) {
    auto i = std::dynamic_pointer_cast<ak::MenuItem>(item);
    return i && i->action() != ns::Sel("onThird:");
  }
  void menuWillOpen(const ns::Ref<ns::Object>&) { ++willOpen; }
  void menuDidClose(const ns::Ref<ns::Object>&) { ++didClose; }
};

class RedView : public ak::View {
 public:
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1)->setFill();
    ak::RectFill(bounds());
  }
};

class Auxiliary : public ak::Window {
 public:
  bool canBecomeMainWindow() const override { return false; }
};

}  // namespace menu_screen_test

PL_CLASS_NAMED(menu_screen_test::Counter, "MSTCounter", ns::Object) {
  cls.method<&menu_screen_test::Counter::onFirst>("onFirst:");
  cls.method<&menu_screen_test::Counter::onSecond>("onSecond:");
  cls.method<&menu_screen_test::Counter::onThird>("onThird:");
  cls.method<&menu_screen_test::Counter::onPicked>("onPicked:");
  cls.method<&menu_screen_test::Counter::onQuitAction>("onQuitAction:");
  cls.method<&menu_screen_test::Counter::validate>("validateMenuItem:");
  cls.method<&menu_screen_test::Counter::menuWillOpen>("menuWillOpen:");
  cls.method<&menu_screen_test::Counter::menuDidClose>("menuDidClose:");
}

namespace {

using ak::MakeRect;
using menu_screen_test::Counter;
using pltest::OnScreenApp;
namespace xtest = pltest::xtest;

bool isRed(const pltest::Pixel& p) {
  return p.r > 200 && p.g < 60 && p.b < 60;
}

void clickLabel(const std::string& title) {
  auto at = pltest::labelOnScreen(title);
  ASSERT_TRUE(at) << title;
  xtest::click(at->x, at->y);
}

TEST(GtkMenuTest, AContextMenuShowsAtThePointerRunsTheChosenItemOnceAndEscapeChoosesNothing) {
  OnScreenApp app;
  // Content (100, 200, 400, 300): X11 rows 400 to 699.
  auto window = app.window(MakeRect(100, 200, 400, 300));
  auto view = ak::make<menu_screen_test::RedView>(MakeRect(0, 0, 400, 300));
  window->contentView()->addSubview(view);
  auto counter = ns::make<Counter>();
  auto menu = ak::Menu::initWithTitle("");
  menu->setDelegate(counter);
  for (auto [title, action] :
       {std::pair{"Open", "onFirst:"}, {"Copy Link", "onSecond:"}, {"Remove", "onThird:"}})
    menu->addItemWithTitle_action_keyEquivalent(title, action, "")->setTarget(counter);
  view->setMenu(menu);
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.settle([] { return isRed(pltest::screenPixel(200, 500)); }));

  // A right click at X11 (200, 500): the menu's top left is there.
  bool atPointer = false;
  pltest::Steps steps;
  steps.when([] { return pltest::labelOnScreen("Copy Link").has_value(); },
             [&] {
               atPointer = !isRed(pltest::screenPixel(210, 510)) && isRed(pltest::screenPixel(195, 495));
               clickLabel("Copy Link");
             });
  xtest::moveTo(200, 500);
  xtest::click(200, 500, 3);
  ASSERT_TRUE(app.settle([&] { return counter->second == 1 && !pltest::shownToplevel("menu"); }));
  EXPECT_TRUE(atPointer);
  EXPECT_EQ(counter->first, 0);
  EXPECT_EQ(counter->willOpen, 1);
  EXPECT_EQ(counter->didClose, 1);

  // The disabled item does nothing and leaves the menu up; Escape closes it with no choice.
  bool stillOpen = false;
  pltest::Steps again;
  again.when([] { return pltest::labelOnScreen("Remove").has_value(); }, [&] { clickLabel("Remove"); })
      .then([&] {
        stillOpen = pltest::shownToplevel("menu");
        xtest::tap("Escape");
      });
  xtest::click(220, 520, 3);
  ASSERT_TRUE(app.settle([&] { return counter->didClose == 2; }));
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(pltest::shownToplevel("menu"));
  EXPECT_EQ(counter->third, 0);
  EXPECT_EQ(counter->second, 1);
  EXPECT_EQ(counter->first, 0);
  EXPECT_FALSE(menu->isOpen());

  // Super+click is ak's Control-click: the same menu.
  pltest::Steps control;
  control.when([] { return pltest::labelOnScreen("Open").has_value(); }, [&] { clickLabel("Open"); });
  xtest::moveTo(230, 530);
  xtest::key("Super_L", true);
  xtest::click(230, 530);
  xtest::key("Super_L", false);
  ASSERT_TRUE(app.settle([&] { return counter->first == 1; }));
  EXPECT_EQ(counter->didClose, 3);

  // The window closes while its menu is up: the menu ends with no choice.
  pltest::Steps closing;
  closing.when([] { return pltest::labelOnScreen("Open").has_value(); }, [&] { window->close(); });
  xtest::click(240, 540, 3);
  ASSERT_TRUE(app.settle([&] { return counter->didClose == 4; }));
  EXPECT_FALSE(pltest::shownToplevel("menu"));
  EXPECT_EQ(counter->first + counter->second + counter->third, 2);
}

TEST(GtkMenuTest, APopUpButtonsChoiceSelectsTheItemAndSendsItsActionOnce) {
  OnScreenApp app;
  auto window = app.window(MakeRect(100, 200, 400, 300));
  auto button = ak::make<ak::PopUpButton>(MakeRect(20, 240, 160, 26));
  button->addItemsWithTitles({"relevance", "date", "rating"});
  auto counter = ns::make<Counter>();
  button->setTarget(counter);
  button->setAction("onPicked:");
  window->contentView()->addSubview(button);
  ASSERT_TRUE(app.waitUntilShown(window));
  // The menu opens over the button with the selected item ("date") under the pointer.
  button->selectItemWithTitle("date");
  std::optional<pltest::ScreenPoint> selected;
  pltest::Steps steps;
  steps.when([] { return pltest::labelOnScreen("rating").has_value(); },
             [&] {
               selected = pltest::labelOnScreen("date");
               clickLabel("rating");
             });
  // The button's middle: base (100, 253) is X11 (200, 900 - 200 - 253).
  xtest::click(200, 447);
  ASSERT_TRUE(app.settle([&] { return counter->picked == 1; }));
  EXPECT_EQ(button->titleOfSelectedItem(), "rating");
  ASSERT_TRUE(selected);
  EXPECT_NEAR(selected->y, 447, 8);
  EXPECT_FALSE(pltest::shownToplevel("menu"));
  EXPECT_EQ(counter->picked, 1);
}

struct MainMenu {
  ns::Ref<Counter> counter = ns::make<Counter>();
  ns::Ref<ak::Menu> root = ak::Menu::initWithTitle("");
  ns::Ref<ak::Menu> go;
  MainMenu() {
    auto app = ak::Menu::initWithTitle("Pelorin");
    auto quit = app->addItemWithTitle_action_keyEquivalent("Quit", "onQuitAction:", "q");
    quit->setTarget(counter);
    auto edit = ak::Menu::initWithTitle("Edit");
    edit->setDelegate(counter);
    edit->addItemWithTitle_action_keyEquivalent("Cut", "cut:", "x");
    edit->addItemWithTitle_action_keyEquivalent("Copy", "copy:", "c");
    edit->addItemWithTitle_action_keyEquivalent("Paste", "paste:", "v");
    edit->addItemWithTitle_action_keyEquivalent("Select All", "selectAll:", "a");
    go = ak::Menu::initWithTitle("Go");
    go->addItemWithTitle_action_keyEquivalent("Back", "goBack:", "[");
    for (const auto& sub : {app, edit, go})
      root->addItemWithTitle_action_keyEquivalent(sub->title(), {}, "")->setSubmenu(sub);
  }
};

TEST(GtkMenuTest, TheMainMenuIsABarAboveTheMainWindowsContentWithKeysMatchedByAppKitAlone) {
  OnScreenApp app;
  MainMenu main;
  ak::Application::sharedApplication()->setMainMenu(main.root);
  auto window = app.window(MakeRect(100, 200, 400, 300));
  auto field = ak::make<ak::TextField>(MakeRect(20, 240, 300, 24));
  field->setEditable(true);
  window->contentView()->addSubview(field);
  const ak::Rect frame = window->frame();
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.focus(window));
  ASSERT_TRUE(window->makeFirstResponder(field));
  // The frame stays what the application set; the bar sits above it (and above the window's
  // own title bar, whose top is X11 row 378).
  EXPECT_EQ(window->frame(), frame);
  ASSERT_TRUE(app.settle([] { return pltest::labelOnScreen("Edit").has_value(); }));
  const auto edit = *pltest::labelOnScreen("Edit");
  EXPECT_LT(edit.y, 378);
  EXPECT_GT(edit.y, 378 - 40);
  EXPECT_TRUE(pltest::labelOnScreen("Pelorin").has_value());
  auto* toplevel = static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
  EXPECT_GT(gtk_widget_get_allocated_height(toplevel), static_cast<int>(frame.size.height));

  // Edit, then Paste: the clipboard's text goes into the focused field once.
  auto board = ak::Pasteboard::generalPasteboard();
  board->clearContents();
  board->setString_forType("pasted", ak::PasteboardTypeString);
  bool goDisabled = false, quitLabel = false;
  pltest::Steps paste;
  paste.when([] { return pltest::labelOnScreen("Paste").has_value(); }, [&] { clickLabel("Paste"); });
  xtest::click(edit.x, edit.y);
  ASSERT_TRUE(app.settle([&] { return paste.done() && !pltest::shownToplevel("menu"); }));
  ASSERT_TRUE(app.settle([&] {
    auto editor = field->currentEditor();
    return editor && editor->string() == "pasted";
  }));
  EXPECT_EQ(field->currentEditor()->string(), "pasted");
  // The Edit menu's delegate heard it open and close once.
  EXPECT_EQ(main.counter->willOpen, 1);
  EXPECT_EQ(main.counter->didClose, 1);

  // The Go menu's one item answers nobody: greyed. Its key shows as GTK's label, only.
  pltest::Steps look;
  look.when([] { return pltest::labelOnScreen("Back").has_value(); },
            [&] {
              GList* tops = gtk_window_list_toplevels();
              for (GList* t = tops; t; t = t->next) {
                GtkWidget* child = GTK_IS_BIN(t->data) ? gtk_bin_get_child(GTK_BIN(t->data)) : nullptr;
                if (!child || !GTK_IS_MENU(child) || !gtk_widget_get_mapped(child)) continue;
                GList* items = gtk_container_get_children(GTK_CONTAINER(child));
                for (GList* i = items; i; i = i->next)
                  if (!gtk_widget_is_sensitive(GTK_WIDGET(i->data))) goDisabled = true;
                g_list_free(items);
              }
              g_list_free(tops);
              xtest::tap("Escape");
            });
  clickLabel("Go");
  ASSERT_TRUE(app.settle([&] { return look.done() && !pltest::shownToplevel("menu"); }));
  EXPECT_TRUE(goDisabled);
  EXPECT_EQ(ak::gtk::acceleratorLabel("q", ak::CommandKeyMask), "Ctrl+Q");
  EXPECT_EQ(ak::gtk::acceleratorLabel("Q", ak::CommandKeyMask), "Shift+Ctrl+Q");

  // A changed title shows after the rebuild.
  main.go->setTitle("Navigate");
  ASSERT_TRUE(app.settle([] { return pltest::labelOnScreen("Navigate").has_value(); }));
  EXPECT_FALSE(pltest::labelOnScreen("Go").has_value());

  // Ctrl-Q: Quit once, matched by ak (GTK holds no accelerators).
  xtest::chord({"Control_L", "q"});
  ASSERT_TRUE(app.settle([&] { return main.counter->quit == 1; }));
  // F10 opens the first menu; Escape closes it.
  pltest::Steps f10;
  f10.when([] { return pltest::labelOnScreen("Quit").has_value(); },
           [&] {
             quitLabel = true;
             xtest::tap("Escape");
           });
  xtest::tap("F10");
  ASSERT_TRUE(app.settle([&] { return f10.done() && !pltest::shownToplevel("menu"); }));
  EXPECT_TRUE(quitLabel);
  EXPECT_EQ(main.counter->quit, 1);

  // A window that is not the main one shows no bar, and the key still fires Quit once.
  auto other = ak::make<menu_screen_test::Auxiliary>();
  other->init(MakeRect(700, 200, 300, 200), ak::TitledWindowMask);
  other->makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(app.waitUntilShown(other));
  ASSERT_TRUE(app.focus(other));
  EXPECT_EQ(ak::Application::sharedApplication()->mainWindow(), window);
  EXPECT_EQ(gtk_widget_get_allocated_height(static_cast<GtkWidget*>(ak::gtk::nativeWindow(*other))),
            static_cast<int>(other->frame().size.height));
  xtest::chord({"Control_L", "q"});
  ASSERT_TRUE(app.settle([&] { return main.counter->quit == 2; }));
  other->close();
  ak::Application::sharedApplication()->setMainMenu(nullptr);
}

TEST(GtkMenuTest, AnActionThatRebuildsTheMainMenuLeavesTheBarWorking) {
  OnScreenApp app;
  MainMenu main;
  auto root = main.root;
  // Quit empties the main menu and fills it again with one new menu.
  main.counter->onQuit = [root] {
    root->removeAllItems();
    auto fresh = ak::Menu::initWithTitle("Fresh");
    fresh->addItemWithTitle_action_keyEquivalent("Again", "onQuitAction:", "");
    root->addItemWithTitle_action_keyEquivalent("Fresh", {}, "")->setSubmenu(fresh);
  };
  ak::Application::sharedApplication()->setMainMenu(main.root);
  auto window = app.window(MakeRect(100, 200, 400, 300));
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.settle([] { return pltest::labelOnScreen("Pelorin").has_value(); }));
  pltest::Steps steps;
  steps.when([] { return pltest::labelOnScreen("Quit").has_value(); }, [&] { clickLabel("Quit"); });
  clickLabel("Pelorin");
  ASSERT_TRUE(
      app.settle([&] { return main.counter->quit == 1 && pltest::labelOnScreen("Fresh").has_value(); }));
  EXPECT_FALSE(pltest::labelOnScreen("Pelorin").has_value());
  // The new item's target is the first responder chain: nobody answers, so it is greyed, and
  // the rebuilt bar still opens.
  pltest::Steps again;
  again.when([] { return pltest::labelOnScreen("Again").has_value(); }, [&] { xtest::tap("Escape"); });
  clickLabel("Fresh");
  ASSERT_TRUE(app.settle([&] { return again.done() && !pltest::shownToplevel("menu"); }));
  EXPECT_EQ(main.counter->quit, 1);
  ak::Application::sharedApplication()->setMainMenu(nullptr);
}

// The bar comes and goes with main status, and the system answers moves and resizes in pieces:
// through all that the window's frame stays what the program set, and its content is there.
TEST(GtkMenuTest, TheMainWindowKeepsItsFrameWhileItsBarGoesAndComesBackAndWhenResized) {
  OnScreenApp app;
  MainMenu main;
  ak::Application::sharedApplication()->setMainMenu(main.root);
  auto window = app.window(MakeRect(100, 200, 400, 300));
  const ak::Rect frame = window->frame();
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.settle([] { return pltest::labelOnScreen("Pelorin").has_value(); }));

  // Another window takes main status (and the bar) before this one is ordered out, as a
  // full-screen window does; then this one comes back.
  auto other = app.window(MakeRect(600, 100, 700, 600));
  other->makeMainWindow();
  window->orderOut(nullptr);
  ASSERT_TRUE(app.waitUntilShown(other));
  EXPECT_EQ(window->frame(), frame);
  other->orderOut(nullptr);
  window->makeKeyAndOrderFront(nullptr);
  window->makeMainWindow();
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.settle([] { return pltest::labelOnScreen("Pelorin").has_value(); }));
  EXPECT_EQ(window->frame(), frame);

  // Resized by the program, top edge kept and then moved: exactly the frames asked.
  for (const ak::Rect& asked : {MakeRect(100, 100, 700, 400), MakeRect(40, 300, 500, 250)}) {
    window->setFrame_display(asked, true);
    ASSERT_TRUE(app.waitUntilShown(window));
    EXPECT_TRUE(app.settle([&] { return pltest::labelOnScreen("Pelorin").has_value(); }));
    EXPECT_EQ(window->frame(), asked);
  }

  // Made smaller by the system (as a user's resize is): the frame follows, and the content is
  // drawn in it, its bottom-left corner at the window's.
  auto corner = ak::make<menu_screen_test::RedView>(MakeRect(0, 0, 40, 40));
  window->contentView()->addSubview(corner);
  auto* gdkToplevel = gtk_widget_get_window(static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window)));
  ASSERT_TRUE(gdkToplevel);
  // The toplevel itself took the last size asked (the bar's height above the content).
  ASSERT_TRUE(app.settle([&] {
    return gdk_window_get_width(gdkToplevel) == 500 && gdk_window_get_height(gdkToplevel) < 300;
  })) << gdk_window_get_width(gdkToplevel)
      << "x" << gdk_window_get_height(gdkToplevel);
  const int bar = gdk_window_get_height(gdkToplevel) - 250;
  ASSERT_EQ(std::system(("xdotool windowsize " + std::to_string(GDK_WINDOW_XID(gdkToplevel)) + " 360 " +
                         std::to_string(200 + bar))
                            .c_str()),
            0);
  ASSERT_TRUE(app.settle([&] { return window->frame().size.height == 200; })) << window->frame().size.height;
  EXPECT_EQ(window->frame().size.width, 360);
  ASSERT_TRUE(app.waitUntilShown(window));
  const int bottom = 900 - static_cast<int>(window->frame().origin.y);
  const int left = static_cast<int>(window->frame().origin.x);
  EXPECT_TRUE(app.settle([&] {
    return isRed(pltest::screenPixel(left + 20, bottom - 20)) &&
           !isRed(pltest::screenPixel(left + 20, bottom - 60));
  }));
  other->close();
  ak::Application::sharedApplication()->setMainMenu(nullptr);
}

}  // namespace
