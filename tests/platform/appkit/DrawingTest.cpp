#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Gradient.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Shadow.h"
#include "platform/core/Log.h"
#include "platform/testing/ui/DrawingLog.h"
#include "tests/platform/appkit/DrawingTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;
using pltest::Canvas;
using pltest::pixelNear;

namespace {

// The rows of column x that are painted (alpha > 0), as [first, last].
std::pair<int, int> paintedRows(const Canvas& canvas, std::size_t x) {
  int first = -1, last = -1;
  for (std::size_t y = 0; y < canvas.rep()->pixelsHigh(); ++y) {
    if (canvas.at(x, y).a > 0) {
      if (first < 0) first = int(y);
      last = int(y);
    }
  }
  return {first, last};
}

}  // namespace

class Drawing : public DrawingTest {};

TEST_F(Drawing, RectFillLandsOnTheRowsTheFlipSays) {
  struct Case {
    bool flipped;
    int first, last;
  } cases[] = {{false, 70, 89}, {true, 10, 29}};
  for (const auto& c : cases) {
    Canvas canvas(200, 100, c.flipped);
    EXPECT_EQ(canvas.context()->isFlipped(), c.flipped);
    ak::colors::blackColor()->set();
    ak::RectFill(MakeRect(10, 10, 50, 20));
    canvas.save(c.flipped ? "flipped" : "unflipped");
    for (std::size_t x : {10u, 35u, 59u})
      EXPECT_EQ(paintedRows(canvas, x), std::make_pair(c.first, c.last)) << x;
    EXPECT_EQ(canvas.at(9, std::size_t(c.first)), kClear);
    EXPECT_EQ(canvas.at(60, std::size_t(c.first)), kClear);
    EXPECT_TRUE(pixelNear(canvas.rep(), 30, std::size_t(c.first), kBlack, 0));
  }
}

TEST_F(Drawing, ClipsFollowRoundedCornersAndTheWindingRule) {
  Canvas canvas(200, 100);
  ak::GraphicsContext::saveGraphicsState();
  ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(MakeRect(0, 0, 200, 100), 15, 15)->addClip();
  ak::colors::blueColor()->set();
  ak::RectFill(MakeRect(0, 0, 200, 100));
  ak::GraphicsContext::restoreGraphicsState();
  EXPECT_EQ(canvas.at(0, 0), kClear);
  EXPECT_EQ(canvas.at(199, 99), kClear);
  EXPECT_TRUE(pixelNear(canvas.rep(), 100, 50, {0, 0, 255, 255}, 0));
  EXPECT_TRUE(pixelNear(canvas.rep(), 15, 1, {0, 0, 255, 255}, 0));

  // Nested squares drawn the same way round: even-odd leaves the inner one empty, non-zero not.
  struct Case {
    ak::WindingRule rule;
    bool innerPainted;
  } cases[] = {{ak::WindingRule::EvenOdd, false}, {ak::WindingRule::NonZero, true}};
  for (const auto& c : cases) {
    Canvas nested(100, 100);
    auto path = ak::BezierPath::bezierPathWithRect(MakeRect(10, 10, 80, 80));
    path->appendBezierPathWithRect(MakeRect(30, 30, 40, 40));
    path->setWindingRule(c.rule);
    EXPECT_EQ(path->containsPoint({50, 50}), c.innerPainted);
    EXPECT_TRUE(path->containsPoint({20, 20}));
    ak::colors::blackColor()->setFill();
    path->fill();
    EXPECT_EQ(nested.at(50, 50).a > 0, c.innerPainted);
    EXPECT_EQ(nested.at(20, 20), kBlack);
    EXPECT_EQ(nested.at(5, 5), kClear);
  }
}

TEST_F(Drawing, CompositingOperationsAndBlendModes) {
  struct Case {
    ak::CompositingOperation op;
    ak::RGBA expected;  // half-transparent red onto opaque white
  } cases[] = {
      {ak::CompositingOperation::Clear, kClear},
      {ak::CompositingOperation::Copy, {255, 0, 0, 128}},
      {ak::CompositingOperation::SourceOver, {255, 128, 128, 255}},
      {ak::CompositingOperation::SourceAtop, {255, 128, 128, 255}},
      {ak::CompositingOperation::DestinationOver, kWhite},
      {ak::CompositingOperation::DestinationOut, {255, 255, 255, 127}},
      {ak::CompositingOperation::SourceIn, {255, 0, 0, 128}},
  };
  for (const auto& c : cases) {
    Canvas canvas(4, 4);
    canvas.clear(kWhite);
    rgb(1, 0, 0, 0.5)->set();
    ak::RectFillUsingOperation(MakeRect(0, 0, 4, 4), c.op);
    EXPECT_TRUE(pixelNear(canvas.rep(), 1, 1, c.expected)) << int(c.op);
  }

  // 50% grey screened over 50% grey: 1 - 0.5 * 0.5.
  Canvas canvas(4, 4);
  canvas.clear({128, 128, 128, 255});
  auto port = canvas.context()->graphicsPort();
  port->saveGState();
  port->setBlendMode(ak::BlendMode::Screen);
  port->setFillColor(*ak::Color::colorWithDeviceWhite_alpha(0.5, 1));
  port->fillRect(MakeRect(0, 0, 4, 4));
  port->restoreGState();
  EXPECT_TRUE(pixelNear(canvas.rep(), 2, 2, {191, 191, 191, 255}, 2));
  // The blend mode ended with the state: a plain fill covers again.
  port->setFillColor(*ak::Color::colorWithDeviceWhite_alpha(0.5, 1));
  port->fillRect(MakeRect(0, 0, 4, 4));
  EXPECT_TRUE(pixelNear(canvas.rep(), 2, 2, {128, 128, 128, 255}, 1));
}

TEST_F(Drawing, LinearGradientsAndAlpha) {
  // The title bar's default ramp: white 0.66 at the bottom edge to 0.9 at the top.
  Canvas canvas(10, 100);
  auto gradient = ak::Gradient::initWithStartingColor_endingColor(
      ak::Color::colorWithDeviceWhite_alpha(0.66, 1), ak::Color::colorWithDeviceWhite_alpha(0.9, 1));
  ASSERT_TRUE(gradient);
  canvas.context()->drawLinearGradient(*gradient, {5, 0}, {5, 100}, 0);
  canvas.save("title-ramp");
  EXPECT_TRUE(pixelNear(canvas.rep(), 5, 99, {168, 168, 168, 255}, 2));
  EXPECT_TRUE(pixelNear(canvas.rep(), 5, 0, {230, 230, 230, 255}, 2));
  EXPECT_TRUE(pixelNear(canvas.rep(), 5, 50, {199, 199, 199, 255}, 2));

  // Without extension nothing is painted beyond the ends; with one, only that side is.
  struct Case {
    unsigned options;
    bool below, above;
  } cases[] = {{0, false, false},
               {ak::GradientDrawsBeforeStartLocation, true, false},
               {ak::GradientDrawsAfterEndLocation, false, true},
               {ak::GradientDrawsBeforeStartLocation | ak::GradientDrawsAfterEndLocation, true, true}};
  for (const auto& c : cases) {
    Canvas band(10, 100);
    band.context()->drawLinearGradient(*gradient, {5, 40}, {5, 60}, c.options);
    EXPECT_EQ(band.at(5, 90).a > 0, c.below) << c.options;  // user y 10, before the start
    EXPECT_EQ(band.at(5, 10).a > 0, c.above) << c.options;  // user y 90, after the end
    EXPECT_EQ(band.at(5, 50).a, 255);
  }

  // drawInRect at 90 degrees in a flipped context runs from min y (top) to max y.
  Canvas flipped(10, 100, true);
  ak::Gradient::initWithStartingColor_endingColor(ak::colors::blackColor(), ak::colors::whiteColor())
      ->drawInRect_angle(MakeRect(0, 0, 10, 100), 90);
  EXPECT_LT(flipped.at(5, 0).r, 5);
  EXPECT_GT(flipped.at(5, 99).r, 250);

  // The port's alpha scales every fill until the state is restored.
  Canvas faded(4, 4);
  faded.context()->saveGState();
  faded.context()->setAlpha(0.5);
  ak::colors::blackColor()->setFill();
  ak::BezierPath::fillRect(MakeRect(0, 0, 4, 4));
  faded.context()->restoreGState();
  EXPECT_TRUE(pixelNear(faded.rep(), 1, 1, {0, 0, 0, 128}, 1));
}

TEST_F(Drawing, ShadowsFallBelowInBothFlipsAndLastUntilRestore) {
  for (bool flipped : {false, true}) {
    Canvas canvas(40, 40, flipped);
    canvas.clear(kWhite);
    ak::GraphicsContext::saveGraphicsState();
    auto shadow = ns::make<ak::Shadow>();
    shadow->setShadowOffset({0, -3});
    shadow->setShadowColor(ak::colors::blackColor());
    shadow->set();
    ak::colors::redColor()->setFill();
    // Device rows 10-19 in both flips.
    ak::BezierPath::fillRect(flipped ? MakeRect(10, 10, 10, 10) : MakeRect(10, 20, 10, 10));
    ak::GraphicsContext::restoreGraphicsState();
    EXPECT_EQ(canvas.at(15, 15), kRed) << flipped;
    EXPECT_EQ(canvas.at(15, 21), kBlack) << flipped;  // the shadow, 3 rows lower
    EXPECT_EQ(canvas.at(15, 23), kWhite) << flipped;
    EXPECT_EQ(canvas.at(15, 8), kWhite) << flipped;

    ak::BezierPath::fillRect(MakeRect(30, 0, 5, 40));
    EXPECT_EQ(canvas.at(29, 20), kWhite) << "the shadow ended with the state";
  }

  // A shape drawn wholly outside the clip still casts its shadow into it: the inner-shadow fill
  // draws a frame one height below the path and offsets the shadow back up.
  {
    Canvas canvas(60, 60);
    canvas.clear(kWhite);
    const ak::Rect inside = MakeRect(10, 10, 40, 40);
    ak::GraphicsContext::saveGraphicsState();
    ak::RectClip(inside);
    auto shadow = ns::make<ak::Shadow>();
    shadow->setShadowOffset({0, 60});
    shadow->setShadowBlurRadius(6);
    shadow->setShadowColor(ak::colors::blackColor());
    shadow->set();
    auto ring = ak::BezierPath::bezierPathWithRect(MakeRect(0, -60, 60, 60));
    ring->appendBezierPath(*ak::BezierPath::bezierPathWithRect(ak::OffsetRect(inside, 0, -60)));
    ring->setWindingRule(ak::WindingRule::EvenOdd);
    ak::colors::blackColor()->setFill();
    ring->fill();
    ak::GraphicsContext::restoreGraphicsState();
    EXPECT_LT(canvas.at(10, 30).r, 200) << "dark along the inside of the edge";
    EXPECT_LT(canvas.at(30, 49).r, 200);
    EXPECT_GT(canvas.at(30, 30).r, 250) << "light in the middle";
    EXPECT_EQ(canvas.at(5, 30), kWhite) << "nothing outside the clip";
  }

  // A blurred shadow spreads; an absurd blur is clamped and still draws.
  for (double blur : {4.0, 1.0e9}) {
    Canvas canvas(200, 200);
    ak::GraphicsContext::saveGraphicsState();
    auto shadow = ns::make<ak::Shadow>();
    shadow->setShadowBlurRadius(blur);
    shadow->setShadowColor(ak::colors::blackColor());
    shadow->set();
    ak::colors::redColor()->setFill();
    ak::BezierPath::fillRect(MakeRect(80, 80, 40, 40));
    ak::GraphicsContext::restoreGraphicsState();
    EXPECT_EQ(canvas.at(100, 100), kRed);
    EXPECT_GT(canvas.at(100, 78).a, 0) << blur;
    EXPECT_LT(canvas.at(100, 78).a, 255) << blur;
  }
}

TEST_F(Drawing, BadNumbersAreSkippedAndLoggedOnce) {
  ns::LogCapture log(true);
  Canvas canvas(20, 20);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ak::colors::blackColor()->set();
  ak::RectFill(MakeRect(nan, 0, 5, 5));
  ak::RectFill(MakeRect(0, 0, 1e300, 5));
  canvas.context()->scaleCTM(0, 0);
  canvas.context()->translateCTM(std::numeric_limits<double>::infinity(), 0);
  auto path = ak::BezierPath::bezierPath();
  path->moveToPoint({0, 0});
  path->lineToPoint({nan, 10});
  path->stroke();
  solidImage(2, 2, kRed)
      ->drawInRect_fromRect_operation_fraction(MakeRect(0, 0, nan, 4), ak::ZeroRect,
                                               ak::CompositingOperation::SourceOver, 1);
  // Zero-size sources and images draw nothing.
  solidImage(2, 2, kRed)
      ->drawInRect_fromRect_operation_fraction(MakeRect(0, 0, 20, 20), MakeRect(0, 0, 0, 2),
                                               ak::CompositingOperation::SourceOver, 1);
  ns::make<ak::Image>(0, 0, std::vector<std::uint8_t>{})
      ->drawInRect_fromRect_operation_fraction(MakeRect(0, 0, 20, 20), ak::ZeroRect,
                                               ak::CompositingOperation::SourceOver, 1);
  for (std::size_t y = 0; y < 20; ++y) {
    for (std::size_t x = 0; x < 20; ++x) ASSERT_EQ(canvas.at(x, y), kClear) << x << "," << y;
  }
  // The context still draws, with its transform untouched.
  ak::RectFill(MakeRect(0, 0, 5, 5));
  EXPECT_EQ(canvas.at(2, 17), kBlack);
  int skipped = 0;
  for (const auto& m : log.messages()) skipped += m.find("skipped") != std::string::npos;
  EXPECT_EQ(skipped, 1);

  // Restores without saves are ignored, and said so.
  ak::GraphicsContext::restoreGraphicsState();
  canvas.context()->restoreGState();
  EXPECT_TRUE(log.contains("restoreGraphicsState without a matching saveGraphicsState"));
  EXPECT_TRUE(log.contains("restoreGState without a matching saveGState"));
  EXPECT_EQ(ak::GraphicsContext::currentContext(), canvas.context());
}

TEST_F(Drawing, PathsStrokesArcsAndFrames) {
  Canvas canvas(100, 100, true);
  auto ring = ak::BezierPath::bezierPath();
  ring->appendBezierPathWithArcWithCenter_radius_startAngle_endAngle({50, 50}, 30, 0, 360);
  ring->setLineWidth(4);
  ak::colors::blackColor()->setStroke();
  ring->stroke();
  EXPECT_EQ(canvas.at(80, 50).a, 255);
  EXPECT_EQ(canvas.at(50, 20).a, 255);
  EXPECT_EQ(canvas.at(50, 50).a, 0);
  auto b = ring->bounds();
  EXPECT_NEAR(b.origin.x, 20, 0.01);
  EXPECT_NEAR(b.size.width, 60, 0.01);

  // Quarter arcs in both directions end where the angle says.
  struct Arc {
    double start, end;
    bool clockwise;
    ak::Point last;
  } arcs[] = {{0, 90, false, {50, 60}}, {0, 90, true, {50, 60}}, {90, 180, false, {40, 50}}};
  for (const auto& a : arcs) {
    ak::BezierPath arc;
    arc.appendBezierPathWithArcWithCenter_radius_startAngle_endAngle_clockwise({50, 50}, 10, a.start, a.end,
                                                                               a.clockwise);
    EXPECT_NEAR(arc.currentPoint().x, a.last.x, 1e-9);
    EXPECT_NEAR(arc.currentPoint().y, a.last.y, 1e-9);
    // A clockwise arc from 0 to 90 goes the long way round: three quarters, through 270.
    EXPECT_NEAR(arc.bounds().size.height, a.clockwise ? 20 : 10, 1e-6);
  }

  // Tangent arcs round a corner: the title bar's rounded top.
  ak::BezierPath corner;
  corner.moveToPoint({0, 0});
  corner.appendBezierPathWithArcFromPoint_toPoint_radius({0, 10}, {10, 10}, 4);
  EXPECT_NEAR(corner.currentPoint().x, 4, 1e-9);
  EXPECT_NEAR(corner.currentPoint().y, 10, 1e-9);

  Canvas framed(20, 20);
  ak::colors::redColor()->set();
  ak::FrameRectWithWidth(MakeRect(2, 2, 16, 16), 2);
  EXPECT_EQ(framed.at(2, 10), kRed);
  EXPECT_EQ(framed.at(3, 10), kRed);
  EXPECT_EQ(framed.at(4, 10), kClear);
  EXPECT_EQ(framed.at(10, 10), kClear);
}

TEST_F(Drawing, ContextsStackPerThreadAndRecordWhatIsDrawn) {
  Canvas outer(10, 10);
  {
    Canvas inner(10, 10);
    ak::GraphicsContext::saveGraphicsState();
    ak::GraphicsContext::setCurrentContext(outer.context());
    ak::GraphicsContext::restoreGraphicsState();
    EXPECT_EQ(ak::GraphicsContext::currentContext(), inner.context());
    std::thread([] { EXPECT_EQ(ak::GraphicsContext::currentContext(), nullptr); }).join();
  }
  EXPECT_EQ(ak::GraphicsContext::currentContext(), outer.context());

  pltest::DrawingLog log(outer.context());
  ak::RectClip(MakeRect(1, 1, 8, 8));
  ak::RectFill(MakeRect(0, 0, 5, 5));
  auto image = solidImage(4, 2, kRed);
  image->drawInRect_fromRect_operation_fraction(MakeRect(2, 2, 6, 3), MakeRect(1, 0, 2, 2),
                                                ak::CompositingOperation::SourceOver, 1);
  ASSERT_EQ(log.records().size(), 3u);
  EXPECT_EQ(log.records()[0].kind, ak::DrawingRecord::Kind::Clip);
  EXPECT_EQ(log.records()[0].destination, MakeRect(1, 1, 8, 8));
  EXPECT_EQ(log.records()[1].destination, MakeRect(0, 0, 5, 5));
  EXPECT_EQ(log.records()[2].kind, ak::DrawingRecord::Kind::Image);
  EXPECT_EQ(log.records()[2].source, MakeRect(1, 0, 2, 2));
  EXPECT_EQ(log.records()[2].destination, MakeRect(2, 2, 6, 3));
}
