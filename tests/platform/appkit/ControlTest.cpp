// Controls and their cells: the hooks a subclass overrides, the tracking loop, buttons, sliders,
// pop-ups, progress indicators and boxes, rendered headless.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/Slider.h"
#include "platform/appkit/TextField.h"
#include "platform/core/Exception.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/platform/appkit/ControlTestSupport.h"

namespace control_test {

class LoggingSliderCell : public ak::SliderCell {
 public:
  std::vector<std::string> log;
  ak::Rect bar, knob;
  std::vector<unsigned long> flagsWhileDragging;
  std::vector<int> timerFiresWhileDragging;
  int* timerFires = nullptr;
  void drawBarInside_flipped(const ak::Rect& rect, bool flipped) override {
    log.push_back("bar");
    bar = rect;
    SliderCell::drawBarInside_flipped(rect, flipped);
  }
  void drawKnob_(const ak::Rect& rect) override {
    log.push_back("knob");
    knob = rect;
    SliderCell::drawKnob_(rect);
  }
  bool continueTracking_at_inView(const ak::Point& last, const ak::Point& current,
                                  const ns::Ref<ak::View>& view) override {
    flagsWhileDragging.push_back(mouseDownFlags());
    // Time passes during the drag, moved from inside the tracking loop's own passes.
    ns::RunLoop::currentRunLoop()->performInModes_block({ns::EventTrackingRunLoopMode}, [this] {
      ns::Clock::advance(0.25);
      if (timerFires) timerFiresWhileDragging.push_back(*timerFires);
    });
    return SliderCell::continueTracking_at_inView(last, current, view);
  }
};

class LoggingButtonCell : public ak::ButtonCell {
 public:
  std::vector<std::string> log;
  void drawBezelWithFrame_inView(const ak::Rect& frame, const ns::Ref<ak::View>& view) override {
    log.push_back("bezel");
    ButtonCell::drawBezelWithFrame_inView(frame, view);
  }
  void drawImage_withFrame_inView(const ns::Ref<ak::Image>& image, const ak::Rect& frame,
                                  const ns::Ref<ak::View>& view) override {
    log.push_back("image");
    ButtonCell::drawImage_withFrame_inView(image, frame, view);
  }
  ak::Rect drawTitle_withFrame_inView(const ns::Ref<ak::AttributedString>& title, const ak::Rect& frame,
                                      const ns::Ref<ak::View>& view) override {
    log.push_back("title");
    return ButtonCell::drawTitle_withFrame_inView(title, frame, view);
  }
};

class ArrowlessPopUpCell : public ak::PopUpButtonCell {
 public:
  std::vector<ak::Rect> arrowFrames;
  void drawImageWithFrame_inView(const ak::Rect& frame, const ns::Ref<ak::View>&) override {
    arrowFrames.push_back(frame);
  }
};

// A badge-like control whose class answers its own cell class through the runtime.
class BadgeCell : public ak::ActionCell {
 public:
  bool decoded = false;
  void initWithCoder(ak::NibCoder& coder) override {
    ActionCell::initWithCoder(coder);
    decoded = true;
  }
};
class BadgeControl : public ak::Control {
 public:
  static ns::Class cellClass() { return ns::objc_getClass("RTBadgeCell"); }
};

}  // namespace control_test

PL_CLASS_NAMED(control_test::ActionRecorder, "RTControlActionRecorder", ns::Object) {
  cls.method<&control_test::ActionRecorder::fired>("fired:");
  cls.method<&control_test::ActionRecorder::other>("other:");
}
PL_CLASS_NAMED(control_test::BadgeCell, "RTBadgeCell", ak::ActionCell) {}
PL_CLASS_NAMED(control_test::BadgeControl, "RTBadgeControl", ak::Control) {
  cls.classMethod<&control_test::BadgeControl::cellClass>("cellClass");
}

namespace {

using ak::MakeRect;
using namespace control_test;

TEST(Cells, ControlsMakeTheCellTheirClassAnswers) {
  pltest::HeadlessApp app;
  struct Case {
    ns::Ref<ak::Control> control;
    const char* cellClass;
  } cases[] = {
      {ak::make<ak::Button>(MakeRect(0, 0, 10, 10)), "NSButtonCell"},
      {ak::make<ak::Slider>(MakeRect(0, 0, 10, 10)), "NSSliderCell"},
      {ak::make<ak::TextField>(MakeRect(0, 0, 10, 10)), "NSTextFieldCell"},
      {ak::make<ak::SearchField>(MakeRect(0, 0, 10, 10)), "NSSearchFieldCell"},
      {ak::make<ak::PopUpButton>(MakeRect(0, 0, 10, 10)), "NSPopUpButtonCell"},
      {ak::make<BadgeControl>(MakeRect(0, 0, 10, 10)), "RTBadgeCell"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.control->cell(), nullptr) << c.cellClass;
    EXPECT_EQ(ns::NSStringFromClass(ns::object_getClass(c.control->cell())), c.cellClass);
    EXPECT_EQ(c.control->cell()->controlView(), c.control);
  }
}

TEST(Cells, ANibBuiltControlDecodesItsCell) {
  pltest::HeadlessApp app;
  ak::NibLoader loader(nullptr);
  ak::NibCoder coder;
  coder.frame = MakeRect(0, 0, 40, 20);
  coder.tag = 9;
  auto badge = loader.view<BadgeControl>(coder);
  auto cell = std::dynamic_pointer_cast<BadgeCell>(badge->cell());
  ASSERT_NE(cell, nullptr);
  EXPECT_TRUE(cell->decoded);
  EXPECT_EQ(badge->tag(), 9);
  EXPECT_EQ(cell->controlView(), badge);
  EXPECT_FALSE(
      std::dynamic_pointer_cast<BadgeCell>(ak::make<BadgeControl>(MakeRect(0, 0, 1, 1))->cell())->decoded);
}

TEST(Cells, StatesTypedValuesAndUntrustedText) {
  auto cell = ak::make<ak::Cell>("12.5");
  EXPECT_EQ(cell->type(), ak::CellType::Text);
  EXPECT_EQ(cell->integerValue(), 12);
  EXPECT_DOUBLE_EQ(cell->doubleValue(), 12.5);
  cell->setIntegerValue(7);
  EXPECT_EQ(cell->stringValue(), "7");
  cell->setStringValue(
      "a\xff"
      "b");
  EXPECT_EQ(cell->stringValue(),
            "a\xEF\xBF\xBD"
            "b");
  // Mixed becomes on unless the cell allows it; next state cycles through what is allowed.
  cell->setState(ak::MixedState);
  EXPECT_EQ(cell->state(), ak::OnState);
  cell->setAllowsMixedState(true);
  cell->setState(ak::OffState);
  EXPECT_EQ(cell->nextState(), ak::MixedState);
  cell->setState(42);
  EXPECT_EQ(cell->state(), ak::OnState);
  EXPECT_EQ(cell->mouseDownFlags(), 0u);
}

TEST(Sliders, ASubclassSeesTheBarThenTheKnobAtTheValue) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 240, 100));
  auto slider = ak::make<ak::Slider>(MakeRect(0, 0, 200, 24));
  auto cell = ak::make<LoggingSliderCell>();
  slider->setCell(cell);
  slider->setDoubleValue(0.5);
  window->contentView()->addSubview(slider);
  window->display();
  EXPECT_EQ(cell->log, (std::vector<std::string>{"bar", "knob"}));
  EXPECT_EQ(cell->bar, cell->barRectFlipped(true));
  EXPECT_EQ(cell->knob, cell->knobRectFlipped(true));
  EXPECT_DOUBLE_EQ(cell->knob.origin.x + cell->knob.size.width / 2,
                   cell->bar.origin.x + cell->bar.size.width / 2);
  pltest::renderWindow(window, "slider");
}

TEST(Sliders, ADragTracksInTheEventTrackingModeAndActsAtEachStep) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 240, 100));
  auto slider = ak::make<ak::Slider>(MakeRect(0, 0, 200, 24));
  auto cell = ak::make<LoggingSliderCell>();
  slider->setCell(cell);
  window->contentView()->addSubview(slider);
  auto recorder = ns::make<ActionRecorder>();
  std::vector<double> values;
  recorder->onFire = [&](const ns::Ref<ns::Object>&) { values.push_back(slider->doubleValue()); };
  slider->setTarget(recorder);
  slider->setAction("fired:");
  int timerFires = 0;
  cell->timerFires = &timerFires;
  ns::RunLoop::currentRunLoop()->addTimer_forMode(
      ns::Timer::timerWithTimeInterval_repeats_block(0.1, false, [&](const auto&) { ++timerFires; }),
      ns::DefaultRunLoopMode);

  pltest::drag(window, {{10, 12}, {50, 12}, {90, 12}, {130, 12}, {150, 12}});
  app.dispatchQueued();
  ASSERT_EQ(values.size(), 5u);
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_GT(values[i], values[i - 1]);
  EXPECT_DOUBLE_EQ(values.back(), cell->valueForPoint({150, 12}));
  for (auto& s : recorder->senders) EXPECT_EQ(s, slider);
  ASSERT_EQ(cell->flagsWhileDragging.size(), 4u);
  for (auto flags : cell->flagsWhileDragging) EXPECT_NE(flags, 0u);
  EXPECT_EQ(cell->mouseDownFlags(), 0u);
  EXPECT_EQ(cell->timerFiresWhileDragging, (std::vector<int>{0, 0, 0, 0}));
  // Back in the default mode, the timer that fell due during the drag fires.
  EXPECT_EQ(timerFires, 1);
}

TEST(Sliders, ValuesStayInsideTheRange) {
  auto slider = ak::make<ak::Slider>(MakeRect(0, 0, 100, 20));
  slider->setMinValue(-1);
  slider->setMaxValue(3);
  struct Case {
    double given, kept;
  } cases[] = {{std::numeric_limits<double>::quiet_NaN(), -1},
               {1e300, 3},
               {-7, -1},
               {std::numeric_limits<double>::infinity(), 3},
               {2.5, 2.5}};
  for (auto c : cases) {
    slider->setDoubleValue(c.given);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), c.kept) << c.given;
  }
  auto bar = ak::make<ak::ProgressIndicator>(MakeRect(0, 0, 100, 10));
  for (auto c : cases) {
    bar->setDoubleValue(c.given);
    EXPECT_GE(bar->doubleValue(), 0) << c.given;
    EXPECT_LE(bar->doubleValue(), 100) << c.given;
  }
  slider->setStringValue("nan");
  EXPECT_TRUE(std::isfinite(slider->doubleValue()));
  slider->setDoubleValue(2);
  slider->setMaxValue(std::numeric_limits<double>::quiet_NaN());  // refused
  EXPECT_DOUBLE_EQ(slider->maxValue(), 3);
  slider->setMaxValue(1);
  EXPECT_DOUBLE_EQ(slider->doubleValue(), 1);
  // A non-continuous slider acts once, at mouse-up.
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 200, 100));
  window->contentView()->addSubview(slider);
  slider->setContinuous(false);
  auto recorder = recordActions(slider);
  pltest::drag(window, {{10, 10}, {40, 10}, {80, 10}});
  app.dispatchQueued();
  EXPECT_EQ(recorder->senders.size(), 1u);
}

TEST(Controls, InAWindowMovableByItsBackgroundControlsKeepTheirPressesAndOnlyTheBackgroundMovesIt) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 300, 200));
  window->setMovableByWindowBackground(true);
  auto panel = ak::make<ak::View>(MakeRect(0, 0, 300, 100));
  window->contentView()->addSubview(panel);
  auto slider = ak::make<ak::Slider>(MakeRect(10, 10, 200, 24));
  auto button = ak::make<ak::Button>(MakeRect(220, 10, 60, 24));
  auto label = ak::make<ak::TextField>(MakeRect(10, 50, 100, 20));
  label->setEditable(false);
  for (const ns::Ref<ak::View>& view :
       {ns::Ref<ak::View>(slider), ns::Ref<ak::View>(button), ns::Ref<ak::View>(label)})
    panel->addSubview(view);
  auto moved = recordActions(slider);
  auto clicked = recordActions(button);
  EXPECT_FALSE(slider->mouseDownCanMoveWindow());
  EXPECT_FALSE(button->mouseDownCanMoveWindow());
  EXPECT_FALSE(label->mouseDownCanMoveWindow());
  EXPECT_TRUE(panel->mouseDownCanMoveWindow());

  const ak::Point origin = window->frame().origin;
  pltest::drag(window, {{20, 22}, {80, 22}, {150, 30}});
  pltest::click(window, {250, 22});
  pltest::drag(window, {{60, 60}, {90, 70}});
  app.dispatchQueued();
  EXPECT_EQ(window->frame().origin, origin);
  EXPECT_NEAR(slider->doubleValue(), slider->sliderCell()->valueForPoint({140, 12}), 1e-9);
  EXPECT_GT(slider->doubleValue(), 0.5);
  EXPECT_FALSE(moved->senders.empty());
  EXPECT_EQ(clicked->senders.size(), 1u);

  // The panel's background between them carries the window.
  pltest::drag(window, {{150, 80}, {170, 90}, {200, 70}});
  app.dispatchQueued();
  EXPECT_EQ(window->frame().origin, ak::MakePoint(origin.x + 50, origin.y - 10));
}

TEST(Buttons, ASubclassSeesBezelImageThenTitle) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 200, 100));
  auto button = ak::make<ak::Button>(MakeRect(10, 10, 120, 32));
  auto cell = ak::make<LoggingButtonCell>("Play");
  button->setCell(cell);
  button->setImage(solidImage(16, 16, {255, 0, 0, 255}));
  window->contentView()->addSubview(button);
  window->display();
  EXPECT_EQ(cell->log, (std::vector<std::string>{"bezel", "image", "title"}));
  // An unbordered button draws no bezel.
  cell->log.clear();
  button->setBordered(false);
  window->display();
  EXPECT_EQ(cell->log, (std::vector<std::string>{"image", "title"}));
}

TEST(Buttons, MomentaryChangeShowsItsAlternateImageWhilePressedAndActsOnlyOnMouseUpInside) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 200, 100));
  auto button = ak::make<ak::Button>(MakeRect(10, 10, 40, 40));
  button->setTitle("");
  button->setBordered(false);
  button->setButtonType(ak::ButtonType::MomentaryChange);
  button->setImage(solidImage(20, 20, {255, 0, 0, 255}));
  button->setAlternateImage(solidImage(20, 20, {0, 0, 255, 255}));
  window->contentView()->addSubview(button);
  auto recorder = recordActions(button);
  pltest::renderWindow(window, "up");
  EXPECT_EQ(pltest::windowPixel(window, 30, 30), (ak::RGBA{255, 0, 0, 255}));

  // Rendered from a timer of the event-tracking mode, inside the click's tracking loop.
  std::vector<ak::RGBA> seenWhilePressed;
  auto sample = [&] {
    ns::RunLoop::currentRunLoop()->addTimer_forMode(
        ns::Timer::timerWithTimeInterval_repeats_block(0, false,
                                                       [&](const auto&) {
                                                         window->display();
                                                         seenWhilePressed.push_back(
                                                             pltest::windowPixel(window, 30, 30));
                                                       }),
        ns::EventTrackingRunLoopMode);
  };
  sample();
  pltest::click(window, {30, 30});
  app.dispatchQueued();
  ASSERT_EQ(seenWhilePressed.size(), 1u);
  EXPECT_EQ(seenWhilePressed[0], (ak::RGBA{0, 0, 255, 255}));
  EXPECT_EQ(recorder->senders.size(), 1u);
  pltest::renderWindow(window, "released");
  EXPECT_EQ(pltest::windowPixel(window, 30, 30), (ak::RGBA{255, 0, 0, 255}));

  // Released outside: no action; the image returns when the mouse leaves.
  pltest::drag(window, {{30, 30}, {120, 80}});
  app.dispatchQueued();
  EXPECT_EQ(recorder->senders.size(), 1u);
  button->performClick(nullptr);
  EXPECT_EQ(recorder->senders.size(), 2u);
  EXPECT_EQ(recorder->senders.back(), button);
}

TEST(Buttons, OnOffTypesToggleAndKeyEquivalentsClick) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 200, 100));
  struct Case {
    ak::ButtonType type;
    bool toggles;
  } cases[] = {{ak::ButtonType::Switch, true},          {ak::ButtonType::Radio, true},
               {ak::ButtonType::PushOnPushOff, true},   {ak::ButtonType::Toggle, true},
               {ak::ButtonType::OnOff, true},           {ak::ButtonType::MomentaryPushIn, false},
               {ak::ButtonType::MomentaryLight, false}, {ak::ButtonType::MomentaryChange, false}};
  for (auto c : cases) {
    auto button = ak::make<ak::Button>(MakeRect(0, 0, 80, 30));
    button->setButtonType(c.type);
    window->contentView()->addSubview(button);
    pltest::click(window, {20, 15});
    app.dispatchQueued();
    EXPECT_EQ(button->state(), c.toggles ? ak::OnState : ak::OffState) << int(c.type);
    button->performClick(nullptr);
    EXPECT_EQ(button->state(), ak::OffState) << int(c.type);
    button->removeFromSuperview();
  }
  auto button = ak::make<ak::Button>(MakeRect(0, 0, 80, 30));
  auto recorder = recordActions(button);
  button->setKeyEquivalent("\r");
  window->contentView()->addSubview(button);
  pltest::key(window, ak::kVK_Return, "\r");
  app.dispatchQueued();
  EXPECT_EQ(recorder->senders.size(), 1u);
  button->setEnabled(false);
  pltest::key(window, ak::kVK_Return, "\r");
  app.dispatchQueued();
  EXPECT_EQ(recorder->senders.size(), 1u);
}

TEST(PopUps, AnArrowOverrideGetsTheCellFrameWhileTheBaseDrawsTheTitle) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 240, 100));
  auto popUp = ak::make<ak::PopUpButton>(MakeRect(10, 10, 160, 26));
  auto cell = ak::make<ArrowlessPopUpCell>();
  popUp->setCell(cell);
  popUp->addItemsWithTitles({"relevance", "date", "view count", "rating"});
  window->contentView()->addSubview(popUp);
  pltest::renderWindow(window, "popup");
  ASSERT_EQ(cell->arrowFrames.size(), 1u);
  EXPECT_EQ(cell->arrowFrames[0], popUp->bounds());
  // The title's glyphs are dark; where the arrow would be stays clear.
  EXPECT_LT(darkest(window, MakeRect(16, 14, 90, 18)), 100);
  EXPECT_GT(darkest(window, MakeRect(152, 16, 12, 14)), 200);
}

TEST(PopUps, PerformClickWithFrameSelectsTheAnsweredItemAndSendsTheAction) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 240, 100));
  auto popUp = ak::make<ak::PopUpButton>(MakeRect(10, 10, 160, 26));
  popUp->addItemsWithTitles({"relevance", "date", "view count", "rating"});
  window->contentView()->addSubview(popUp);
  auto recorder = recordActions(popUp);
  EXPECT_EQ(popUp->indexOfSelectedItem(), 0);
  {
    pltest::ModalScript script;
    script.choose("view count");
    popUp->popUpCell()->performClickWithFrame_inView(popUp->bounds(), popUp);
    ASSERT_EQ(script.shown().size(), 1u);
    EXPECT_EQ(script.shown()[0].describe(), "relevance\ndate\nview count\nrating\n");
    EXPECT_EQ(script.shown()[0].kind, ak::MenuPresentation::Kind::PopUpCell);
  }
  EXPECT_EQ(popUp->indexOfSelectedItem(), 2);
  EXPECT_EQ(popUp->titleOfSelectedItem(), "view count");
  ASSERT_EQ(recorder->senders.size(), 1u);
  EXPECT_EQ(recorder->senders[0], popUp);
  {
    // A click shows the menu too; dismissing it changes nothing.
    pltest::ModalScript script;
    script.dismiss();
    pltest::click(window, {40, 20});
    app.dispatchQueued();
  }
  EXPECT_EQ(popUp->indexOfSelectedItem(), 2);
  EXPECT_EQ(recorder->senders.size(), 1u);
  EXPECT_THROW(popUp->itemAtIndex(9), ns::Exception);
  EXPECT_EQ(popUp->indexOfItemWithTitle("rating"), 3);
}

TEST(PopUps, APullDownKeepsItemZeroAsItsTitle) {
  pltest::HeadlessApp app;
  auto popUp = ak::make<ak::PopUpButton>(MakeRect(0, 0, 120, 26), true);
  popUp->addItemsWithTitles({"Sort", "By date", "By title"});
  EXPECT_EQ(popUp->cell()->title(), "Sort");
  pltest::ModalScript script;
  script.choose("By title");
  popUp->performClick(nullptr);
  EXPECT_EQ(popUp->indexOfSelectedItem(), 2);
  EXPECT_EQ(popUp->cell()->title(), "Sort");
}

TEST(Rendering, AWindowOfControlsHasTheExpectedPixels) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 320, 240));
  auto content = window->contentView();
  auto button = ak::make<ak::Button>(MakeRect(10, 190, 100, 30));
  button->setTitle("OK");
  auto check = ak::make<ak::Button>(MakeRect(10, 150, 100, 20));
  check->setButtonType(ak::ButtonType::Switch);
  check->setTitle("Loop");
  check->setState(ak::OnState);
  auto field = ak::make<ak::TextField>(MakeRect(10, 110, 150, 24));
  field->setStringValue("disabled");
  field->setDrawsBackground(true);
  field->setBordered(true);
  field->setEnabled(false);
  auto bar = ak::make<ak::ProgressIndicator>(MakeRect(10, 80, 200, 12));
  bar->setIndeterminate(false);
  bar->setDoubleValue(25);
  auto box = ak::make<ak::Box>(MakeRect(220, 10, 80, 80));
  box->setBoxType(ak::BoxType::Custom);
  box->setFillColor(ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1));
  box->setBorderColor(ak::colors::blackColor());
  box->setBorderWidth(4);
  for (const auto& v : std::vector<ns::Ref<ak::View>>{button, check, field, bar, box}) content->addSubview(v);
  pltest::renderWindow(window, "controls");

  const ak::RGBA white{255, 255, 255, 255}, red{255, 0, 0, 255}, black{0, 0, 0, 255};
  const ak::RGBA blue{0, 99, 225, 255}, darkGray{85, 85, 85, 255}, lightGray{170, 170, 170, 255};
  struct Probe {
    const char* what;
    double x, y;
    ak::RGBA expected;
  } probes[] = {
      {"button bezel inside", 15, 195, white},  {"button bezel edge", 10, 205, darkGray},
      {"check box mark", 17, 160, blue},        {"bar filled quarter", 30, 86, blue},
      {"bar track beyond", 100, 86, lightGray}, {"box fill", 260, 50, red},
      {"box border", 221, 50, black},
  };
  for (const auto& p : probes) {
    EXPECT_TRUE(near(pltest::windowPixel(window, p.x, p.y), p.expected)) << p.what;
  }
  // A disabled field's text is drawn light.
  const int textDarkest = darkest(window, MakeRect(14, 114, 60, 16));
  EXPECT_GT(textDarkest, 150);
  EXPECT_LT(textDarkest, 250);
}

TEST(Rendering, ASpinningIndicatorAdvancesOnItsTimer) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(100, 100, 100, 100));
  auto spinner = ak::make<ak::ProgressIndicator>(MakeRect(10, 10, 32, 32));
  spinner->setStyle(ak::ProgressIndicatorStyle::Spinning);
  window->contentView()->addSubview(spinner);
  window->display();
  // Hidden while stopped.
  EXPECT_EQ(darkest(window, MakeRect(10, 10, 32, 32)), darkest(window, MakeRect(50, 50, 32, 32)));
  spinner->startAnimation(nullptr);
  window->display();
  const auto before = pltest::windowPixel(window, 26 + 12, 26);
  app.advance(spinner->animationDelay() * 3 + 1e-6);
  EXPECT_EQ(spinner->animationStep(), 3);
  window->display();
  EXPECT_NE(pltest::windowPixel(window, 26 + 12, 26), before);
  app.advance(1);
  EXPECT_EQ(spinner->animationStep(), 15);
  spinner->stopAnimation(nullptr);
  app.advance(1);
  EXPECT_EQ(spinner->animationStep(), 15);
}

TEST(Rendering, ImageViewsScaleByTheirMode) {
  auto view = ak::make<ak::ImageView>(MakeRect(0, 0, 100, 50));
  view->setImage(solidImage(20, 10, {0, 0, 0, 255}));
  struct Case {
    ak::ImageScaling scaling;
    ak::Rect rect;
  } cases[] = {{ak::ImageScaling::ProportionallyDown, MakeRect(40, 20, 20, 10)},
               {ak::ImageScaling::AxesIndependently, MakeRect(0, 0, 100, 50)},
               {ak::ImageScaling::None, MakeRect(40, 20, 20, 10)},
               {ak::ImageScaling::ProportionallyUpOrDown, MakeRect(0, 0, 100, 50)}};
  for (auto c : cases) {
    view->setImageScaling(c.scaling);
    EXPECT_EQ(view->imageRect(), c.rect) << int(c.scaling);
  }
  view->setImage(solidImage(400, 100, {0, 0, 0, 255}));
  view->setImageScaling(ak::ImageScaling::ProportionallyDown);
  EXPECT_EQ(view->imageRect(), MakeRect(0, 12.5, 100, 25));
}

}  // namespace
