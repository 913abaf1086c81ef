#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/testing/ui/DrawingLog.h"
#include "tests/support/FakeAppDelegate.h"
#include "tests/support/ScopedController.h"
#include "tests/ui/views/UiViewsTestSupport.h"
#include "ui/CustomSlider.h"
#include "ui/ProgressSliderCell.h"
#include "ui/VideoQualityPopUpButtonCell.h"
#include "ui/VolumeSliderCell.h"

using ak::MakeRect;
using uiviews_test::AppWithResources;
using uiviews_test::colorNear;
using uiviews_test::imagePixel;
using Kind = ak::DrawingRecord::Kind;

namespace cells_test {

// A progress cell that counts the hook calls of each display pass.
class CountingProgressCell : public ProgressSliderCell {
 public:
  int bars = 0, knobs = 0;
  void drawBarInside_flipped(const ak::Rect& rect, bool flipped) override {
    ++bars;
    ProgressSliderCell::drawBarInside_flipped(rect, flipped);
  }
  void drawKnob_(const ak::Rect& rect) override {
    ++knobs;
    ProgressSliderCell::drawKnob_(rect);
  }
};

// A volume cell that draws itself while the mouse drags its knob, recording the knob images.
class TrackingVolumeCell : public VolumeSliderCell {
 public:
  std::vector<std::string> knobs;
  bool continueTracking_at_inView(const ak::Point& last, const ak::Point& current,
                                  const ns::Ref<ak::View>& view) override {
    const bool goOn = VolumeSliderCell::continueTracking_at_inView(last, current, view);
    pltest::Canvas canvas(100, 20, true);
    pltest::DrawingLog log(canvas.context());
    drawWithFrame_inView(view->bounds(), view);
    for (const auto& r : log.records())
      if (r.kind == ak::DrawingRecord::Kind::Image && r.name.starts_with("volume_handle"))
        knobs.push_back(r.name);
    return goOn;
  }
};

template <class Cell>
ns::Ref<Cell> fromInterfaceFile() {
  ak::NibCoder coder;
  auto cell = std::make_shared<Cell>();
  cell->initWithCoder(coder);
  return cell;
}

// A slider of the control bar with its cell, value in 0...1.
template <class Cell>
struct SliderFixture {
  AppWithResources fixture;
  ns::Ref<ak::Window> window;
  ns::Ref<CustomSlider> slider;
  ns::Ref<Cell> cell;

  explicit SliderFixture(double width = 420) {
    window = fixture.app.window(MakeRect(0, 0, width + 20, 40), ak::BorderlessWindowMask);
    slider = ak::make<CustomSlider>(MakeRect(0, 10, width, 20));
    cell = fromInterfaceFile<Cell>();
    slider->setCell(cell);
    window->contentView()->addSubview(slider);
  }
  // One display pass of the cell into a canvas, recorded.
  std::vector<ak::DrawingRecord> draw(double value) {
    slider->setDoubleValue(value);
    pltest::Canvas canvas(std::size_t(slider->bounds().size.width), 20, true);
    pltest::DrawingLog log(canvas.context());
    cell->drawWithFrame_inView(slider->bounds(), slider);
    return log.records();
  }
};

std::vector<ak::DrawingRecord> named(const std::vector<ak::DrawingRecord>& records, const std::string& name) {
  std::vector<ak::DrawingRecord> out;
  for (const auto& r : records)
    if (r.kind == Kind::Image && r.name == name) out.push_back(r);
  return out;
}

}  // namespace cells_test

using cells_test::named;
using cells_test::SliderFixture;

TEST(ProgressSliderCell, DrawsTheTrackThePlayedPartAndTheKnobFromItsImages) {
  SliderFixture<ProgressSliderCell> f;
  // The platform's bar: 8 points in from each end, 4 high in the middle; the knob 16 wide.
  const ak::Rect bar = f.cell->barRectFlipped(true);
  ASSERT_EQ(bar, MakeRect(8, 8, 404, 4));
  const double t = bar.origin.y - 1.0;

  auto records = f.draw(0);
  auto track = named(records, "video_bar");
  ASSERT_EQ(track.size(), 3u);
  EXPECT_EQ(track[0].destination, MakeRect(8, t, 5, 8));
  EXPECT_EQ(track[0].source, MakeRect(0, 0, 5, 9));
  EXPECT_EQ(track[1].destination, MakeRect(13, t, 394, 8));
  EXPECT_EQ(track[1].source, MakeRect(10, 0, 5, 9));
  EXPECT_EQ(track[2].destination, MakeRect(407, t, 5, 8));
  EXPECT_EQ(track[2].source, MakeRect(396, 0, 5, 9));
  // At 0 the played part is a 4-point left cap and no middle.
  auto played = named(records, "watched_video_bar");
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].destination, MakeRect(8, t, 4, 8));
  EXPECT_EQ(played[0].source, MakeRect(0, 0, 4, 9));
  auto knob = named(records, "video_handle");
  ASSERT_EQ(knob.size(), 1u);
  EXPECT_EQ(knob[0].destination.origin, (ak::Point{0, 5}));
  EXPECT_TRUE(named(records, "video_handle_pressed").empty());

  // Midway: the played middle reaches the knob.
  played = named(f.draw(0.5), "watched_video_bar");
  ASSERT_EQ(played.size(), 2u);
  const float k = std::round(202.0f * 1.025f) + 4.0f;
  EXPECT_EQ(played[1].destination, MakeRect(13, t, k - 5, 8));

  // Near the end the played part takes the right cap as well.
  records = f.draw(0.96);
  played = named(records, "watched_video_bar");
  ASSERT_EQ(played.size(), 3u);
  const float scaled = std::round(float(0.96 * 404) * 1.025f);
  const double m = scaled + 4.0 - 5.0;
  EXPECT_EQ(played[1].destination, MakeRect(13, t, m - 5, 8));
  EXPECT_EQ(played[2].destination, MakeRect(8 + m, t, 5, 8));
  EXPECT_EQ(played[2].source, MakeRect(396, 0, 5, 9));
  EXPECT_EQ(named(records, "video_handle")[0].destination.origin, (ak::Point{scaled, 5}));
}

TEST(ProgressSliderCell, OnePassCallsEachHookOnceAndABarAloneDrawsNothing) {
  SliderFixture<cells_test::CountingProgressCell> f;
  f.slider->setDoubleValue(0.25);
  pltest::renderWindow(f.window, "progress");
  EXPECT_EQ(f.cell->bars, 1);
  EXPECT_EQ(f.cell->knobs, 1);
  // The played colour shows left of the knob, the track's own colour right of it.
  const double y = 30 - f.cell->barRectFlipped(true).origin.y + 1.0 - 4.5;
  EXPECT_TRUE(colorNear(pltest::windowPixel(f.window, 40, y), imagePixel("watched_video_bar", 10, 4), 10));
  EXPECT_TRUE(colorNear(pltest::windowPixel(f.window, 300, y), imagePixel("video_bar", 10, 4), 10));
  EXPECT_EQ(f.cell->barRect().size.width, 0);
  EXPECT_EQ(f.cell->knobRect().size.width, 0);

  pltest::Canvas canvas(420, 20, true);
  pltest::DrawingLog log(canvas.context());
  f.cell->drawBarInside_flipped(MakeRect(8, 8, 404, 4), true);
  EXPECT_TRUE(log.records().empty());
  EXPECT_EQ(f.cell->barRect(), MakeRect(8, 8, 404, 4));
  f.cell->drawKnob_(MakeRect(100, 0, 16, 20));
  EXPECT_EQ(named(log.records(), "video_bar").size(), 3u);
  EXPECT_EQ(f.cell->barRect().size.width, 0);
}

TEST(ProgressSliderCell, ANarrowBarDrawsNoNegativeSlices) {
  SliderFixture<ProgressSliderCell> f(24);
  for (const auto& record : f.draw(0.5)) {
    EXPECT_GE(record.destination.size.width, 0) << record.name;
    EXPECT_GE(record.source.size.width, 0) << record.name;
  }
}

TEST(VolumeSliderCell, TheFillEndsAtTheKnobsMiddle) {
  SliderFixture<VolumeSliderCell> f(100);
  const ak::Rect bar = f.cell->barRectFlipped(true);
  for (double value : {0.0, 0.3, 1.0}) {
    SCOPED_TRACE(value);
    auto records = f.draw(value);
    const ak::Rect knob = f.cell->knobRectFlipped(true);
    const float p = std::round(float(knob.origin.x * 1.04));
    auto track = named(records, "volume_bar");
    ASSERT_EQ(track.size(), 1u);
    EXPECT_EQ(track[0].destination, MakeRect(bar.origin.x, bar.origin.y, bar.size.width, 10));
    auto fill = named(records, "filled_volume_bar");
    ASSERT_EQ(fill.size(), 1u);
    EXPECT_EQ(fill[0].destination, MakeRect(bar.origin.x, bar.origin.y, knob.size.width * 0.5 + p, 10));
    EXPECT_EQ(fill[0].source, MakeRect(0, 0, knob.size.width * 0.5 + p, 10));
    auto handle = named(records, "volume_handle");
    ASSERT_EQ(handle.size(), 1u);
    EXPECT_EQ(handle[0].destination.origin, (ak::Point{p, knob.origin.y + 3}));
  }
}

TEST(SliderCells, AnOlderSystemMovesTheTracksByTheirOldOffsets) {
  auto delegate = ns::make<testsupport::FakeAppDelegate>();
  delegate->setRunningMavericksOrHigher(false);
  for (bool viaDelegate : {false, true}) {
    SCOPED_TRACE(viaDelegate ? "the delegate answers" : "PELORIN_MACOS_VERSION=10.8");
    SliderFixture<ProgressSliderCell> progress;
    std::optional<testsupport::ScopedAppDelegate> installed;
    if (viaDelegate) {
      installed.emplace(delegate);
    } else {
      progress.fixture.app.sandbox().set("PELORIN_MACOS_VERSION", std::string("10.8"));
    }
    const ak::Rect bar = progress.cell->barRectFlipped(true);
    auto records = progress.draw(0);
    EXPECT_EQ(named(records, "video_bar")[0].destination.origin.y, bar.origin.y + 7);
    EXPECT_EQ(named(records, "watched_video_bar")[0].destination.origin.y, bar.origin.y + 7);
    EXPECT_EQ(named(records, "video_handle")[0].destination.origin.y, 4);

    // The volume slider of the same bar.
    auto slider = ak::make<CustomSlider>(MakeRect(0, 0, 100, 20));
    auto volume = cells_test::fromInterfaceFile<VolumeSliderCell>();
    slider->setCell(volume);
    progress.window->contentView()->addSubview(slider);
    pltest::Canvas canvas(100, 20, true);
    pltest::DrawingLog log(canvas.context());
    volume->drawWithFrame_inView(slider->bounds(), slider);
    const ak::Rect volumeBar = volume->barRectFlipped(true);
    EXPECT_EQ(named(log.records(), "volume_bar")[0].destination.origin.y, volumeBar.origin.y + 6);
    EXPECT_EQ(named(log.records(), "volume_handle")[0].destination.origin.y, 1);
  }
}

TEST(SliderCells, ThePressedKnobShowsWhileTheMouseIsDown) {
  SliderFixture<cells_test::TrackingVolumeCell> f(100);
  f.slider->setDoubleValue(0.5);
  pltest::drag(f.window, {{50, 20}, {60, 20}, {70, 20}});
  f.fixture.app.dispatchQueued();
  EXPECT_GT(f.slider->doubleValue(), 0.5);
  ASSERT_FALSE(f.cell->knobs.empty());
  for (const auto& knob : f.cell->knobs) EXPECT_EQ(knob, "volume_handle_pressed");
  auto records = f.draw(f.slider->doubleValue());
  EXPECT_EQ(named(records, "volume_handle").size(), 1u);
  EXPECT_TRUE(named(records, "volume_handle_pressed").empty());
}

TEST(CustomSlider, AnyChangeRepaintsTheWholeControl) {
  SliderFixture<ProgressSliderCell> f;
  pltest::renderWindow(f.window, "slider");
  EXPECT_FALSE(f.window->viewsNeedDisplay());
  f.slider->setNeedsDisplayInRect(MakeRect(0, 0, 2, 2));
  EXPECT_TRUE(f.window->viewsNeedDisplay());
  auto counting = cells_test::fromInterfaceFile<cells_test::CountingProgressCell>();
  f.slider->setCell(counting);
  pltest::renderWindow(f.window, "slider-again");
  counting->bars = counting->knobs = 0;
  f.slider->setNeedsDisplayInRect(MakeRect(300, 0, 2, 2));
  f.window->displayIfNeeded();
  EXPECT_EQ(counting->bars, 1);
  EXPECT_EQ(counting->knobs, 1);
}

TEST(VideoQualityPopUpButtonCell, DrawsTheBarSliceAndTheArrowUnderTheTitle) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 140, 40), ak::BorderlessWindowMask);
  auto button = ak::make<ak::PopUpButton>(MakeRect(0, 0, 120, 26), false);
  auto cell = cells_test::fromInterfaceFile<VideoQualityPopUpButtonCell>();
  button->setCell(cell);
  button->addItemsWithTitles({"720p", "1080p"});
  button->selectItemAtIndex(0);
  window->contentView()->addSubview(button);
  ASSERT_TRUE(cell->lowerbarImage());
  ASSERT_TRUE(cell->arrowImage());
  EXPECT_TRUE(cell->arrowImage()->isFlipped());

  pltest::Canvas canvas(120, 26, true);
  pltest::DrawingLog log(canvas.context());
  cell->drawWithFrame_inView(button->bounds(), button);
  canvas.save("quality");
  std::vector<ak::DrawingRecord> images, texts;
  std::size_t firstText = SIZE_MAX, lastImage = 0;
  const auto& records = log.records();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].kind == Kind::Image) {
      images.push_back(records[i]);
      lastImage = i;
    }
    if (records[i].kind == Kind::Text && firstText == SIZE_MAX) firstText = i;
  }
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].destination, MakeRect(0, 0, 120, 26));
  EXPECT_EQ(images[0].source, MakeRect(0, 16, 120, 26));
  EXPECT_EQ(images[1].destination, MakeRect(80, 8, 9, 6));
  ASSERT_NE(firstText, SIZE_MAX);
  EXPECT_GT(firstText, lastImage);
  // The arrow's black in the canvas, the bar's grey beside the title, its lighter rule on top.
  EXPECT_TRUE(colorNear(canvas.at(84, 9), {0, 0, 0, 255}, 30));
  EXPECT_TRUE(colorNear(canvas.at(110, 13), imagePixel("lower_bar", 110, 29), 3));
  EXPECT_TRUE(colorNear(canvas.at(110, 0), imagePixel("lower_bar", 110, 16), 3));
}
