#include <gtest/gtest.h>

#include "platform/appkit/Nib.h"
#include "platform/appkit/ViewController.h"
#include "platform/appkit/WindowController.h"
#include "platform/core/Log.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace {

std::vector<std::string> gLog;

class LabelView : public ak::View {
 public:
  void awakeFromNib() override { gLog.push_back("label awake"); }
};

class TestPaneView : public ak::View {
 public:
  std::size_t subviewsInInit = 0;
  void initWithCoder(ak::NibCoder& coder) override {
    ak::View::initWithCoder(coder);
    subviewsInInit = subviews().size();
    gLog.push_back("pane init with " + std::to_string(subviewsInInit) + " subviews");
  }
  void awakeFromNib() override { gLog.push_back("pane awake"); }
};

class PaneController : public ak::ViewController {
 public:
  ns::Ref<LabelView> label;
  void awakeFromNib() override {
    gLog.push_back(std::string("owner awake, outlets ") + (label && isViewLoaded() ? "set" : "missing"));
  }
  void viewDidLoad() override { gLog.push_back("viewDidLoad"); }
};

class MainController : public ak::WindowController {
 public:
  void windowDidLoad() override { gLog.push_back("windowDidLoad " + window()->title()); }
};

class NibTest : public testing::Test {
 protected:
  void SetUp() override {
    gLog.clear();
    ak::Nib::registerBuilder("TestPane", [](ak::NibLoader& nib) {
      auto label = nib.view<LabelView>({.frame = MakeRect(10, 10, 100, 20), .identifier = "label"});
      auto pane = nib.view<TestPaneView>({.frame = MakeRect(0, 0, 300, 200),
                                          .autoresizingMask = ak::ViewWidthSizable | ak::ViewHeightSizable,
                                          .subviews = {label}});
      nib.object(label);  // listed twice, still woken once
      auto owner = nib.owner<PaneController>();
      nib.outlet([owner, pane, label] {
        owner->setView(pane);
        owner->label = label;
      });
    });
    ak::Nib::registerBuilder("MainWindow", [](ak::NibLoader& nib) {
      auto window = nib.object(ak::make<ak::Window>(MakeRect(0, 0, 300, 200), ak::TitledWindowMask));
      auto owner = nib.owner<ak::WindowController>();
      nib.outlet([owner, window] {
        window->setTitle("Main");
        owner->setWindow(window);
      });
    });
  }
  void TearDown() override {
    ak::Nib::unregisterBuilder("TestPane");
    ak::Nib::unregisterBuilder("MainWindow");
  }
  pltest::HeadlessApp app_;
};

}  // namespace

TEST_F(NibTest, AViewControllersNibBuildsSetsOutletsAwakesOnceAndLoadsTheView) {
  auto controller = ak::make<PaneController>(std::optional<std::string>("TestPane"));
  EXPECT_FALSE(controller->isViewLoaded());
  auto view = controller->view();
  ASSERT_TRUE(view);
  EXPECT_EQ(joined(gLog),
            "pane init with 1 subviews, label awake, pane awake, owner awake, outlets set, viewDidLoad");
  EXPECT_EQ(view->autoresizingMask(), unsigned(ak::ViewWidthSizable | ak::ViewHeightSizable));
  EXPECT_EQ(controller->label->identifier(), "label");
  EXPECT_EQ(controller->label->superview(), view);
  EXPECT_EQ(view->nextResponder(), controller);
  EXPECT_EQ(controller->view(), view);  // loaded once
  EXPECT_EQ(std::count(gLog.begin(), gLog.end(), "viewDidLoad"), 1);
}

TEST_F(NibTest, AWindowControllerLoadsItsWindowLazily) {
  auto controller = ak::make<MainController>("MainWindow");
  EXPECT_FALSE(controller->isWindowLoaded());
  controller->showWindow(nullptr);
  ASSERT_TRUE(controller->window());
  EXPECT_EQ(controller->window()->windowController(), controller);
  EXPECT_TRUE(controller->window()->isKeyWindow());
  EXPECT_EQ(joined(gLog), "windowDidLoad Main");
  controller->close();
}

TEST_F(NibTest, AMissingNibLoadsNothingAndSaysSo) {
  pltest::LogCapture capture(true);
  std::vector<ns::Ref<ns::Object>> objects;
  EXPECT_FALSE(ak::Nib::loadNibNamed_owner_topLevelObjects("NoSuchPane", nullptr, &objects));
  EXPECT_TRUE(objects.empty());
  auto controller = ak::make<PaneController>(std::optional<std::string>("NoSuchPane"));
  ASSERT_TRUE(controller->view());  // a plain view stands in
  EXPECT_EQ(controller->view()->frame(), ak::ZeroRect);
  bool logged = false;
  for (const auto& line : capture.lines())
    logged = logged || line.message.find("NoSuchPane") != std::string::npos;
  EXPECT_TRUE(logged);
}
