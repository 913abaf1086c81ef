#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/appkit/SplitView.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/AppKitTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;

namespace split_test {

// Limits the first subview, lets it collapse, and hears of resizes.
class LimitingDelegate : public ns::Object {
 public:
  double minimum = 320;
  bool collapseOnDoubleClick = true;
  std::vector<std::string> heard;
  double constrainMin(ns::Ref<ak::SplitView>, double, long) { return minimum; }
  bool canCollapse(ns::Ref<ak::SplitView> split, ns::Ref<ak::View> subview) {
    return subview == split->subviews().at(0);
  }
  bool shouldCollapse(ns::Ref<ak::SplitView>, ns::Ref<ak::View>, long) { return collapseOnDoubleClick; }
  void didResize(ns::Ref<ns::Notification>) { heard.push_back("didResize"); }
};

// Lays the subviews out itself: the first keeps its width.
class ResizingDelegate : public ns::Object {
 public:
  std::vector<double> oldWidths;
  void resize(ns::Ref<ak::SplitView> split, ak::Size oldSize) {
    oldWidths.push_back(oldSize.width);
    auto views = split->subviews();
    const double w = split->bounds().size.width;
    const double first = views[0]->frame().size.width;
    views[1]->setFrame(MakeRect(first + split->dividerThickness(), 0, w - first - split->dividerThickness(),
                                split->bounds().size.height));
  }
};

class WideDividerSplitView : public ak::SplitView {
 public:
  int dividerDraws = 0;
  double dividerThickness() const override { return 20; }
  void drawDividerInRect(const ak::Rect& rect) override {
    ++dividerDraws;
    ak::Color::colorWithDeviceRed_green_blue_alpha(0, 1, 0, 1)->setFill();
    ak::RectFill(rect);
  }
};

struct Fixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<ak::SplitView> split;
  std::vector<long> dividerIndexes;  // of each did-resize notification, -1 without one
  ns::Ref<ns::Object> token;

  explicit Fixture(ns::Ref<ak::SplitView> view = nullptr) {
    window = app.window(MakeRect(0, 0, 1000, 500));
    split = view ? view : ak::make<ak::SplitView>(MakeRect(0, 0, 1000, 500));
    split->setFrame(MakeRect(0, 0, 1000, 500));
    split->setVertical(true);
    const double t = split->dividerThickness();
    split->addSubview(swatch(MakeRect(0, 0, 400, 500), {200, 0, 0, 255}));
    split->addSubview(swatch(MakeRect(400 + t, 0, 600 - t, 500), {0, 0, 200, 255}));
    window->contentView()->addSubview(split);
    token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        std::string(ak::SplitViewDidResizeSubviewsNotification), split, nullptr,
        [this](const ns::Ref<ns::Notification>& note) {
          const auto& v = note->userInfo().objectForKey(ns::Value(std::string(ak::SplitViewDividerIndexKey)));
          dividerIndexes.push_back(v.isNil() ? -1 : v.integerValue());
        });
  }
  ~Fixture() { ns::NotificationCenter::defaultCenter()->removeObserver(token.get()); }
  double width(int i) const { return split->subviews().at(i)->frame().size.width; }
  std::string widths() const { return std::to_string(int(width(0))) + " | " + std::to_string(int(width(1))); }
};

}  // namespace split_test

using namespace split_test;

PL_CLASS_NAMED(split_test::LimitingDelegate, "RTSplitLimitingDelegate", ns::Object) {
  cls.method<&LimitingDelegate::constrainMin>("splitView:constrainMinCoordinate:ofSubviewAt:");
  cls.method<&LimitingDelegate::canCollapse>("splitView:canCollapseSubview:");
  cls.method<&LimitingDelegate::shouldCollapse>(
      "splitView:shouldCollapseSubview:forDoubleClickOnDividerAtIndex:");
  cls.method<&LimitingDelegate::didResize>("splitViewDidResizeSubviews:");
}
PL_CLASS_NAMED(split_test::ResizingDelegate, "RTSplitResizingDelegate", ns::Object) {
  cls.method<&ResizingDelegate::resize>("splitView:resizeSubviewsWithOldSize:");
}

TEST(SplitView, SetPositionMovesTheDividerAndResizesBothNeighbours) {
  Fixture f;
  EXPECT_EQ(f.split->dividerThickness(), 9);
  EXPECT_EQ(f.widths(), "400 | 591");
  EXPECT_EQ(f.split->positionOfDividerAtIndex(0), 400);
  EXPECT_EQ(f.split->minPossiblePositionOfDividerAtIndex(0), 0);
  EXPECT_EQ(f.split->maxPossiblePositionOfDividerAtIndex(0), 991);
  f.split->setPosition_ofDividerAtIndex(500, 0);
  EXPECT_EQ(f.widths(), "500 | 491");
  EXPECT_EQ(f.split->subviews()[1]->frame().origin.x, 509);
  EXPECT_EQ(f.dividerIndexes, (std::vector<long>{0}));
  // Beyond the ends: clamped so that neither side goes negative.
  f.split->setPosition_ofDividerAtIndex(5000, 0);
  EXPECT_EQ(f.widths(), "991 | 0");
  f.split->setPosition_ofDividerAtIndex(-50, 0);
  EXPECT_EQ(f.widths(), "0 | 991");

  struct Style {
    ak::SplitViewDividerStyle style;
    double thickness;
  };
  for (auto s : {Style{ak::SplitViewDividerStyle::Thick, 9}, Style{ak::SplitViewDividerStyle::Thin, 1},
                 Style{ak::SplitViewDividerStyle::PaneSplitter, 9}}) {
    f.split->setDividerStyle(s.style);
    EXPECT_EQ(f.split->dividerThickness(), s.thickness);
  }
}

TEST(SplitView, BadInputLeavesTheLayoutAsItIs) {
  Fixture f;
  const auto before = f.widths();
  f.split->setPosition_ofDividerAtIndex(std::nan(""), 0);
  f.split->setPosition_ofDividerAtIndex(300, 1);
  f.split->setPosition_ofDividerAtIndex(300, -1);
  f.split->setPosition_ofDividerAtIndex(300, std::numeric_limits<long>::max());
  EXPECT_EQ(f.widths(), before);
  EXPECT_TRUE(f.dividerIndexes.empty());
  EXPECT_EQ(f.split->positionOfDividerAtIndex(7), 0);

  // Subviews of no size at all: nothing to share out in proportion.
  for (const auto& v : f.split->subviews()) v->setFrameSize(ak::MakeSize(0, 500));
  f.split->adjustSubviews();
  EXPECT_EQ(f.widths(), "0 | 0");

  // A split view of zero size keeps its subviews' frames.
  Fixture g;
  g.split->setFrameSize(ak::MakeSize(0, 500));
  EXPECT_EQ(g.widths(), "400 | 591");
  g.split->setPosition_ofDividerAtIndex(100, 0);
  EXPECT_EQ(g.widths(), "400 | 591");
}

TEST(SplitView, DragStopsAtTheDelegatesMinimumAndCollapsesPastHalfOfIt) {
  Fixture f;
  auto delegate = ns::make<LimitingDelegate>();
  f.split->setDelegate(delegate);
  // Not collapsible below half the minimum (160): the drag stops at 320.
  pltest::drag(f.window, {{404, 250}, {300, 250}, {200, 250}});
  f.app.dispatchQueued();
  EXPECT_EQ(f.widths(), "320 | 671");
  EXPECT_FALSE(f.split->isSubviewCollapsed(f.split->subviews()[0]));
  EXPECT_FALSE(f.dividerIndexes.empty());
  EXPECT_EQ(f.dividerIndexes.back(), 0);
  EXPECT_EQ(delegate->heard.size(), f.dividerIndexes.size());

  // Below 160 the collapsible first subview collapses and is hidden.
  pltest::drag(f.window, {{324, 250}, {150, 250}});
  f.app.dispatchQueued();
  auto first = f.split->subviews()[0];
  EXPECT_TRUE(f.split->isSubviewCollapsed(first));
  EXPECT_TRUE(first->isHidden());
  EXPECT_EQ(f.width(1), 991);
  // Dragged out again it comes back where the grabbed point went (grabbed 4 points in).
  pltest::drag(f.window, {{4, 250}, {450, 250}});
  f.app.dispatchQueued();
  EXPECT_FALSE(f.split->isSubviewCollapsed(first));
  EXPECT_FALSE(first->isHidden());
  EXPECT_EQ(f.widths(), "446 | 545");

  // A double click on the divider collapses what the delegate allows.
  delegate->collapseOnDoubleClick = false;
  pltest::click(f.window, {450, 250});
  pltest::post(pltest::mouseEvent(f.window, ak::EventType::LeftMouseDown, {450, 250}, 0, 2));
  pltest::post(pltest::mouseEvent(f.window, ak::EventType::LeftMouseUp, {450, 250}, 0, 2));
  f.app.dispatchQueued();
  EXPECT_FALSE(f.split->isSubviewCollapsed(first));
  delegate->collapseOnDoubleClick = true;
  pltest::post(pltest::mouseEvent(f.window, ak::EventType::LeftMouseDown, {450, 250}, 0, 2));
  pltest::post(pltest::mouseEvent(f.window, ak::EventType::LeftMouseUp, {450, 250}, 0, 2));
  f.app.dispatchQueued();
  EXPECT_TRUE(f.split->isSubviewCollapsed(first));
}

TEST(SplitView, AWidthChangeResizesInProportionOrThroughTheDelegate) {
  {
    Fixture f;
    f.split->setFrameSize(ak::MakeSize(1300, 500));
    // 1291 points to share in the proportion 400 : 591.
    EXPECT_EQ(f.widths(), "521 | 770");
    EXPECT_EQ(f.dividerIndexes, (std::vector<long>{-1}));
  }
  {
    Fixture f;
    auto delegate = ns::make<ResizingDelegate>();
    f.split->setDelegate(delegate);
    f.split->setFrameSize(ak::MakeSize(1300, 500));
    EXPECT_EQ(delegate->oldWidths, (std::vector<double>{1000}));
    EXPECT_EQ(f.widths(), "400 | 891");
  }
}

TEST(SplitView, ASubclassDrawsAndSizesTheDivider) {
  auto wide = ak::make<WideDividerSplitView>(MakeRect(0, 0, 1000, 500));
  Fixture f(wide);
  EXPECT_EQ(f.widths(), "400 | 580");
  f.split->setPosition_ofDividerAtIndex(500, 0);
  EXPECT_EQ(f.widths(), "500 | 480");
  EXPECT_EQ(f.split->subviews()[1]->frame().origin.x, 520);
  pltest::renderWindow(f.window, "wide-divider");
  EXPECT_EQ(wide->dividerDraws, 1);
  auto divider = pltest::windowPixel(f.window, 510, 250);
  EXPECT_EQ(divider.g, 255);
  EXPECT_EQ(divider.r, 0);
  auto left = pltest::windowPixel(f.window, 250, 250);
  EXPECT_EQ(left.r, 200);
  auto right = pltest::windowPixel(f.window, 530, 250);
  EXPECT_EQ(right.b, 200);
  // A drag grabs anywhere on the 20-point divider.
  pltest::drag(f.window, {{517, 250}, {617, 250}});
  f.app.dispatchQueued();
  EXPECT_EQ(f.widths(), "600 | 380");
}
