#include <gtest/gtest.h>

#include "platform/appkit/ViewController.h"
#include "platform/appkit/WindowController.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace responder_test {

std::vector<std::string> gLog;

// A field that takes first responder and turns keys into commands, but has no copyLink:.
class TextField : public ak::View {
 public:
  bool acceptsFirstResponder() override { return true; }
  void keyDown(const ns::Ref<ak::Event>& event) override { interpretKeyEvents({event}); }
  void insertText(const std::string& text) override { typed += text; }
  void insertNewline(ns::Ref<ns::Object>) { gLog.push_back("field insertNewline:"); }
  std::string typed;
};

class LinkController : public ak::WindowController {
 public:
  void copyLink(ns::Ref<ns::Object> sender) { gLog.push_back("controller copyLink:"); }
};

class LinkAppDelegate : public ns::Object {
 public:
  void copyLink(ns::Ref<ns::Object>) { gLog.push_back("delegate copyLink:"); }
  void showHelp(ns::Ref<ns::Object>) { gLog.push_back("delegate showHelp:"); }
};

class PaneController : public ak::ViewController {
 public:
  void cancelOperation(ns::Ref<ns::Object>) { gLog.push_back("pane cancelOperation:"); }
};

class PickyContainer : public ak::View {
 public:
  bool refuse = false;
  bool validateProposedFirstResponder_forEvent(const ns::Ref<ak::Responder>&,
                                               const ns::Ref<ak::Event>&) override {
    return !refuse;
  }
};

}  // namespace responder_test

using namespace responder_test;

PL_CLASS_NAMED(responder_test::TextField, "RTTextField", ak::View) {
  cls.method<&responder_test::TextField::insertNewline>("insertNewline:");
}
PL_CLASS_NAMED(responder_test::LinkController, "RTLinkController", ak::WindowController) {
  cls.method<&responder_test::LinkController::copyLink>("copyLink:");
}
PL_CLASS_NAMED(responder_test::LinkAppDelegate, "RTLinkAppDelegate", ns::Object) {
  cls.method<&responder_test::LinkAppDelegate::copyLink>("copyLink:");
  cls.method<&responder_test::LinkAppDelegate::showHelp>("showHelp:");
}
PL_CLASS_NAMED(responder_test::PaneController, "RTPaneController", ak::ViewController) {
  cls.method<&responder_test::PaneController::cancelOperation>("cancelOperation:");
}

namespace {

struct Scene {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<PickyContainer> container;
  ns::Ref<TextField> field;
  ns::Ref<LinkController> controller;
  ns::Ref<LinkAppDelegate> delegate;

  Scene() {
    gLog.clear();
    window = app.window(MakeRect(100, 100, 300, 200));
    container = ak::make<PickyContainer>(MakeRect(0, 0, 300, 200));
    window->contentView()->addSubview(container);
    field = ak::make<TextField>(MakeRect(20, 20, 200, 24));
    container->addSubview(field);
    controller = ak::make<LinkController>(window);
    delegate = ns::make<LinkAppDelegate>();
    app.app()->setDelegate(delegate);
  }
};

}  // namespace

TEST(ResponderChain, NilTargetActionsFindTheFirstThatAnswers) {
  Scene s;
  pltest::click(s.window, {30, 30});
  s.app.dispatchQueued();
  ASSERT_EQ(s.window->firstResponder(), s.field);

  // Past the field that lacks it, to the window controller.
  EXPECT_EQ(s.app.app()->targetForAction("copyLink:"), s.controller);
  EXPECT_TRUE(s.app.app()->sendAction_to_from("copyLink:", nullptr, s.field));
  // Without the controller, the application delegate is the last resort.
  s.window->setWindowController(nullptr);
  EXPECT_EQ(s.app.app()->targetForAction("copyLink:"), s.delegate);
  EXPECT_TRUE(s.app.app()->sendAction_to_from("copyLink:", nullptr, s.field));
  EXPECT_EQ(joined(gLog), "controller copyLink:, delegate copyLink:");
  // Nobody implements it.
  EXPECT_EQ(s.app.app()->targetForAction_to_from("pasteLink:", nullptr, nullptr), nullptr);
  EXPECT_FALSE(s.app.app()->sendAction_to_from("pasteLink:", nullptr, s.field));
  // An explicit target that does not answer is no target.
  EXPECT_EQ(s.app.app()->targetForAction_to_from("copyLink:", s.field, nullptr), nullptr);
}

TEST(ResponderChain, TheMainWindowsChainIsSearchedWhenTheKeyWindowLacksTheAction) {
  Scene s;
  auto panel = ak::make<ak::Window>(MakeRect(500, 500, 100, 100), ak::TitledWindowMask);
  panel->orderFront(nullptr);
  panel->makeKeyWindow();
  ASSERT_EQ(s.app.app()->keyWindow(), panel);
  ASSERT_EQ(s.app.app()->mainWindow(), s.window);
  EXPECT_EQ(s.app.app()->targetForAction("copyLink:"), s.controller);
}

TEST(ResponderChain, KeysBecomeTextAndCommandsAlongTheChain) {
  Scene s;
  auto pane = ak::make<PaneController>(std::optional<std::string>());
  auto paneView = pane->view();
  pane->view()->setFrame(MakeRect(0, 100, 300, 100));
  s.container->addSubview(paneView);
  auto inner = ak::make<TextField>(MakeRect(10, 10, 100, 24));
  paneView->addSubview(inner);
  // The view controller sits between its view and the superview.
  EXPECT_EQ(paneView->nextResponder(), pane);
  EXPECT_EQ(pane->nextResponder(), s.container);

  pltest::click(s.window, {30, 30});
  pltest::typeText(s.window, "hé!");
  pltest::key(s.window, ak::kVK_Return, "\r");
  s.app.dispatchQueued();
  EXPECT_EQ(s.field->typed, "hé!");
  s.window->makeFirstResponder(inner);
  pltest::key(s.window, ak::kVK_Escape, "\x1b");
  s.app.dispatchQueued();
  EXPECT_EQ(joined(gLog), "field insertNewline:, pane cancelOperation:");
}

TEST(ResponderChain, AncestorsMayRefuseAProposedFirstResponder) {
  Scene s;
  s.container->refuse = true;
  pltest::click(s.window, {30, 30});
  s.app.dispatchQueued();
  EXPECT_NE(s.window->firstResponder(), s.field);
  s.container->refuse = false;
  pltest::click(s.window, {30, 30});
  s.app.dispatchQueued();
  EXPECT_EQ(s.window->firstResponder(), s.field);
}
