#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/Make.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/ConstrainedSplitView.h"

using ak::MakeRect;

namespace {

class EventsLog : public ConstrainedSplitViewDelegate {
 public:
  std::vector<std::string> heard;
  void splitView_divider_movedAt(const ns::Ref<ConstrainedSplitView>&, long divider,
                                 double position) override {
    heard.push_back("moved " + std::to_string(divider) + " " + std::to_string(long(position)));
  }
  void splitView_subview_stateChanged(const ns::Ref<ConstrainedSplitView>&, long index, long state) override {
    heard.push_back("state " + std::to_string(index) + " " + std::to_string(state));
  }
  void splitView_splitViewIsAnimating(const ns::Ref<ConstrainedSplitView>&, bool animating) override {
    heard.push_back(animating ? "animating YES" : "animating NO");
  }
};

// A vertical split view of the given widths with 1-point dividers.
ns::Ref<ConstrainedSplitView> splitOf(const std::vector<double>& widths) {
  double total = 0;
  for (double w : widths) total += w;
  total += widths.empty() ? 0 : double(widths.size() - 1);
  auto split = ak::make<ConstrainedSplitView>(MakeRect(0, 0, total, 500));
  split->setVertical(true);
  double x = 0;
  for (double w : widths) {
    split->addSubview(ak::make<ak::View>(MakeRect(x, 0, w, 500)));
    x += w + 1;
  }
  split->reset();
  split->setDividerThickness(1);
  return split;
}

std::string widths(const ns::Ref<ConstrainedSplitView>& split) {
  std::string out;
  for (const auto& v : split->subviews()) {
    if (!out.empty()) out += " | ";
    const double w = v->frame().size.width;
    out += std::isfinite(w) ? std::to_string(long(w)) : "nan";
    if (v->isHidden()) out += "h";
  }
  return out;
}

// The main window's configuration: priority mode, 320-point minimums, the content pane first.
ns::Ref<ConstrainedSplitView> mainSplit() {
  auto split = splitOf({400, 599});
  split->setSubviewsResizeMode(1);
  split->setMinSize_ofSubviewAtIndex(320, 0);
  split->setMinSize_ofSubviewAtIndex(320, 1);
  split->setPriority_ofSubviewAtIndex(1, 0);
  split->setPriority_ofSubviewAtIndex(0, 1);
  split->setCanCollapse_subviewAtIndex(true, 0);
  return split;
}

}  // namespace

TEST(ConstrainedSplitView, SharesSizeChangesByMode) {
  pltest::HeadlessApp app;
  struct Case {
    const char* name;
    std::function<ns::Ref<ConstrainedSplitView>()> make;
    double newWidth;
    const char* expected;
  } cases[] = {
      {"priority shrink", mainSplit, 700, "379 | 320"},
      {"priority grow", mainSplit, 1300, "400 | 899"},
      {"priority ignores maxSize",
       [] {
         auto s = mainSplit();
         s->setMaxSize_ofSubviewAtIndex(300, 1);
         return s;
       },
       1300, "400 | 899"},
      {"uniform delta 1",
       [] {
         auto s = splitOf({300, 299, 299});
         s->setSubviewsResizeMode(2);
         return s;
       },
       901, "301 | 299 | 299"},
      {"uniform at minimums",
       [] {
         auto s = splitOf({100, 100});
         s->setSubviewsResizeMode(2);
         s->setMinSize_ofSubviewAtIndex(100, 0);
         s->setMinSize_ofSubviewAtIndex(100, 1);
         return s;
       },
       150, "100 | 100"},
      {"proportional",
       [] {
         return splitOf({400, 599});
       },
       1100, "440 | 659"},
      {"proportional with limits",
       [] {
         auto s = splitOf({400, 599});
         s->setMaxSize_ofSubviewAtIndex(410, 0);
         s->setMaxSize_ofSubviewAtIndex(620, 1);
         return s;
       },
       1200, "410 | 620"},
      {"proportional all empty",
       [] {
         return splitOf({0, 0, 0});
       },
       102, "0h | 0h | 0h"},
  };
  for (const auto& c : cases) {
    auto split = c.make();
    split->setFrameSize({c.newWidth, 500});
    EXPECT_EQ(widths(split), c.expected) << c.name;
  }
  // With the left pane collapsed the content pane alone takes changes, down to its minimum.
  auto split = mainSplit();
  EXPECT_FALSE(split->collapseOrExpandSubviewAtIndex_animated(0, false));
  EXPECT_EQ(widths(split), "400h | 999");
  split->setFrameSize({200, 500});
  EXPECT_EQ(widths(split), "400h | 320");
}

TEST(ConstrainedSplitView, CollapsesAndExpandsTheOuterSubviewsOnly) {
  pltest::HeadlessApp app;
  auto split = mainSplit();
  EXPECT_EQ(split->positionOfDividerAtIndex(0), 400);
  EXPECT_FALSE(split->collapseOrExpandSubviewAtIndex_animated(0, false)) << "collapsing answers NO";
  EXPECT_TRUE(split->isSubviewCollapsed(split->subviews()[0]));
  EXPECT_EQ(split->positionOfDividerAtIndex(0), 0);
  EXPECT_EQ(split->lastValuesBeforeCollapse()[0], 400);
  EXPECT_TRUE(split->collapseOrExpandSubviewAtIndex_animated(0, false)) << "expanding answers YES";
  EXPECT_EQ(widths(split), "400 | 599");
  EXPECT_EQ(split->subviews()[1]->frame().origin.x, 401);

  // The last subview goes to the far end and comes back.
  EXPECT_FALSE(split->collapseOrExpandSubviewAtIndex_animated(1, false));
  EXPECT_EQ(widths(split), "999 | 599h") << "hidden, its frame kept";
  EXPECT_TRUE(split->collapseOrExpandSubviewAtIndex_animated(1, false));
  EXPECT_EQ(widths(split), "400 | 599");

  auto three = splitOf({300, 299, 299});
  EXPECT_FALSE(three->collapseOrExpandSubviewAtIndex_animated(1, false));
  EXPECT_FALSE(three->collapseOrExpandSubviewAtIndex_animated(7, false));
  EXPECT_EQ(widths(three), "300 | 299 | 299");
  auto one = splitOf({500});
  EXPECT_FALSE(one->collapseOrExpandSubviewAtIndex_animated(0, false));
  EXPECT_EQ(widths(one), "500");
}

TEST(ConstrainedSplitView, RefusesIndexesThatNameNoDivider) {
  pltest::HeadlessApp app;
  auto split = splitOf({300, 299, 299});
  int completions = 0;
  auto count = [&](bool) { ++completions; };
  for (long bad : {-1L, 2L, 3L}) {
    EXPECT_FALSE(
        split->setPositions_ofDividersAtIndexes_animated_completitionBlock({100}, {bad}, false, count))
        << bad;
  }
  EXPECT_FALSE(
      split->setPositions_ofDividersAtIndexes_animated_completitionBlock({100, 200}, {0, -4}, false, count));
  EXPECT_FALSE(
      split->setPositions_ofDividersAtIndexes_animated_completitionBlock({100}, {0, 1}, false, count));
  for (long bad : {-1L, 2L, 3L})
    EXPECT_FALSE(split->setPosition_ofDividerAtIndex_animated_completitionBlock(100, bad, false, count))
        << bad;
  EXPECT_FALSE(split->setPositions_ofDividersAtIndexes_animated_completitionBlock({NAN}, {0}, false, count));
  EXPECT_FALSE(split->setSize_ofSubviewAtIndex_animated_completition(NAN, 0, false, count));
  EXPECT_FALSE(split->setSize_ofSubviewAtIndex_animated_completition(300, 0, false, count)) << "no change";
  EXPECT_EQ(widths(split), "300 | 299 | 299");
  EXPECT_EQ(completions, 0);

  EXPECT_TRUE(
      split->setPositions_ofDividersAtIndexes_animated_completitionBlock({100, 500}, {0, 1}, false, count));
  EXPECT_EQ(widths(split), "100 | 399 | 399");
  EXPECT_TRUE(split->setSize_ofSubviewAtIndex_animated_completition(199, 1, false, count));
  EXPECT_EQ(widths(split), "200 | 199 | 499");
  EXPECT_EQ(completions, 2);
  EXPECT_EQ(split->subviewIndexToCollapseForDoubleClickOnDividerAtIndex(0), INT64_MAX);
}

TEST(ConstrainedSplitView, AnAnimatedMoveTakesTwoTenthsOfASecond) {
  pltest::HeadlessApp app;
  auto split = splitOf({400, 599});
  auto events = std::make_shared<EventsLog>();
  split->setEventsDelegate(events);
  std::vector<bool> completions;
  ASSERT_TRUE(split->setPositions_ofDividersAtIndexes_animated_completitionBlock(
      {300}, {0}, true, [&](bool finished) { completions.push_back(finished); }));
  EXPECT_TRUE(split->isAnimating());
  // While animating, a size change of the split view only asks for redisplay.
  split->setFrameSize({1100, 500});
  app.advance(0.1);
  EXPECT_TRUE(split->isAnimating());
  EXPECT_TRUE(completions.empty());
  double waited = 0.1;
  while (split->isAnimating() && waited < 5) {
    app.advance(0.05);
    waited += 0.05;
  }
  EXPECT_FALSE(split->isAnimating());
  EXPECT_GE(waited, 0.2 - 1e-9);
  EXPECT_EQ(completions, std::vector<bool>{true});
  EXPECT_EQ(events->heard, (std::vector<std::string>{"animating YES", "animating NO"}));
  EXPECT_EQ(split->subviews()[0]->frame().size.width, 300);
}

TEST(ConstrainedSplitView, DraggingADividerToTheEdgeReportsTheMoveAndTheCollapse) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 1000, 500));
  auto split = splitOf({400, 599});
  window->setContentView(split);
  split->reset();
  split->setDividerThickness(1);
  auto events = std::make_shared<EventsLog>();
  split->setEventsDelegate(events);
  split->setPosition_ofDividerAtIndex(400, 0);
  EXPECT_EQ(events->heard, (std::vector<std::string>{"moved 0 400", "state 0 1"}));
  events->heard.clear();

  pltest::drag(window, {{400.5, 250}, {0, 250}});
  app.dispatchQueued();
  // The mouse-up repeats the last position: one more move, no second state change.
  EXPECT_EQ(events->heard, (std::vector<std::string>{"moved 0 0", "state 0 0", "moved 0 0"}));
  EXPECT_TRUE(split->isSubviewCollapsed(split->subviews()[0]));
  EXPECT_EQ(split->lastValuesBeforeCollapse()[0], 400) << "an edge position is not remembered";

  // The drag limits: the left pane keeps its minimum, the right one too.
  split->setMinSize_ofSubviewAtIndex(200, 0);
  split->setMinSize_ofSubviewAtIndex(300, 1);
  EXPECT_TRUE(split->collapseOrExpandSubviewAtIndex_animated(0, false));
  EXPECT_EQ(split->splitView_constrainMinCoordinate_ofSubviewAt(split, 0, 0), 200);
  EXPECT_EQ(split->splitView_constrainMaxCoordinate_ofSubviewAt(split, 1000, 0), 400 + 599 - 300);
  EXPECT_EQ(split->constraintForSubview(ak::make<ak::View>(MakeRect(0, 0, 1, 1))), nullptr);
  EXPECT_EQ(split->constraintForSubview(split->subviews()[1])->minSize(), 300);
}

TEST(ConstrainedSplitView, DrawsItsDividerAlongTheChosenEdge) {
  pltest::HeadlessApp app;
  auto split = splitOf({100, 99});
  split->setDividerThickness(9);
  split->setDividerColor(ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1));
  const ak::RGBA blue{0, 0, 255, 255};
  struct Case {
    bool draw;
    ak::SplitViewDividerStyle style;
    std::uint64_t edge;
    const char* painted;  // columns 4..14 of a divider at 5..13
  } cases[] = {
      {false, ak::SplitViewDividerStyle::Thick, 0, ".#########."},
      {true, ak::SplitViewDividerStyle::Thick, 0, ".#........."},
      {true, ak::SplitViewDividerStyle::Thick, 2, ".........#."},
      {true, ak::SplitViewDividerStyle::Thick, 4, ".#########."},
      {true, ak::SplitViewDividerStyle::Thin, 0, ".#########."},
  };
  for (const auto& c : cases) {
    split->setShouldDrawDivider(c.draw);
    split->setDividerStyle(c.style);
    split->setDividerRectEdge(c.edge);
    pltest::Canvas canvas(20, 10);
    split->drawDividerInRect(MakeRect(5, 0, 9, 10));
    std::string painted;
    for (std::size_t x = 4; x <= 14; ++x) painted += canvas.at(x, 5) == blue ? '#' : '.';
    EXPECT_EQ(painted, c.painted) << c.draw << " " << int(c.style) << " " << c.edge;
  }
}
