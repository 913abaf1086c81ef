#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/appkit/AffineTransform.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Geometry.h"

using ak::MakeRect;
using ak::Rect;

TEST(Geometry, RectangleFunctions) {
  const Rect r = MakeRect(10, 20, 30, 40);
  struct Case {
    const char* what;
    Rect got, expected;
  } cases[] = {
      {"inset", ak::InsetRect(r, 5, 10), MakeRect(15, 30, 20, 20)},
      {"offset", ak::OffsetRect(r, -10, 5), MakeRect(0, 25, 30, 40)},
      {"intersection", ak::IntersectionRect(r, MakeRect(30, 50, 100, 100)), MakeRect(30, 50, 10, 10)},
      {"no intersection", ak::IntersectionRect(r, MakeRect(40, 20, 5, 5)), ak::ZeroRect},
      {"union", ak::UnionRect(r, MakeRect(0, 0, 5, 5)), MakeRect(0, 0, 40, 60)},
      {"union with empty", ak::UnionRect(r, MakeRect(-100, -100, 0, 5)), r},
      {"integral", ak::IntegralRect(MakeRect(0.5, 1.2, 2.2, 3.9)), MakeRect(0, 1, 3, 5)},
      {"integral of empty", ak::IntegralRect(MakeRect(3, 3, -1, 4)), ak::ZeroRect},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;

  EXPECT_DOUBLE_EQ(ak::MaxX(r), 40);
  EXPECT_DOUBLE_EQ(ak::MidY(r), 40);
  EXPECT_TRUE(ak::PointInRect({10, 20}, r));
  EXPECT_FALSE(ak::PointInRect({40, 30}, r));
  EXPECT_FALSE(ak::PointInRect({20, 60}, r));
  // The mouse counts the edge nearer the top as inside.
  EXPECT_TRUE(ak::MouseInRect({20, 20}, r, true));
  EXPECT_FALSE(ak::MouseInRect({20, 60}, r, true));
  EXPECT_FALSE(ak::MouseInRect({20, 20}, r, false));
  EXPECT_TRUE(ak::MouseInRect({20, 60}, r, false));
  EXPECT_TRUE(ak::IsEmptyRect(MakeRect(0, 0, 0, 10)));
  EXPECT_TRUE(ak::ContainsRect(r, ak::InsetRect(r, 1, 1)));
  Rect slice, rest;
  ak::DivideRect(r, &slice, &rest, 10, 3);
  EXPECT_EQ(slice, MakeRect(10, 50, 30, 10));
  EXPECT_EQ(rest, MakeRect(10, 20, 30, 30));
  EXPECT_FALSE(ak::IsSaneRect(MakeRect(std::nan(""), 0, 1, 1)));
  EXPECT_FALSE(ak::IsSaneRect(MakeRect(0, 0, 1e300, 1)));
  EXPECT_TRUE(ak::IsSaneRect(r));

  EXPECT_EQ(ns::runtime::TypeCodec<ak::Rect>::encoding(), "{CGRect={CGPoint=dd}{CGSize=dd}}");
  EXPECT_EQ(ns::runtime::TypeCodec<ak::Point>::encoding(), "{CGPoint=dd}");
  EXPECT_EQ(ns::runtime::TypeCodec<ak::Size>::encoding(), "{CGSize=dd}");
}

TEST(Geometry, AffineTransforms) {
  ak::AffineTransform t;
  t.translateXBy_yBy(10, 0);
  t.scaleBy(2);  // applies first
  auto p = t.transformPoint({1, 1});
  EXPECT_DOUBLE_EQ(p.x, 12);
  EXPECT_DOUBLE_EQ(p.y, 2);
  ak::AffineTransform inverse = t;
  ASSERT_TRUE(inverse.invert());
  auto back = inverse.transformPoint(p);
  EXPECT_NEAR(back.x, 1, 1e-12);
  EXPECT_NEAR(back.y, 1, 1e-12);
  ak::AffineTransform rotate;
  rotate.rotateByDegrees(90);
  auto r = rotate.transformPoint({1, 0});
  EXPECT_NEAR(r.x, 0, 1e-12);
  EXPECT_NEAR(r.y, 1, 1e-12);
  ak::AffineTransform singular;
  singular.scaleXBy_yBy(0, 1);
  EXPECT_FALSE(singular.invert());
  ak::AffineTransform appended = t;
  appended.appendTransform(rotate);  // rotate after
  auto a = appended.transformPoint({1, 1});
  EXPECT_NEAR(a.x, -2, 1e-12);
  EXPECT_NEAR(a.y, 12, 1e-12);
}

TEST(Geometry, ColoursKeepTheirSpaceAndRenderAsSRGBNumbers) {
  struct Case {
    ns::Ref<ak::Color> color;
    const char* space;
    double r, g, b, a;
  } cases[] = {
      {ak::Color::colorWithCalibratedWhite_alpha(0.25, 0.5), ak::CalibratedWhiteColorSpace, 0.25, 0.25, 0.25,
       0.5},
      {ak::Color::colorWithDeviceWhite_alpha(2, -1), ak::DeviceWhiteColorSpace, 1, 1, 1, 0},
      {ak::Color::colorWithDeviceRed_green_blue_alpha(0.1, 0.2, 0.3, 1), ak::DeviceRGBColorSpace, 0.1, 0.2,
       0.3, 1},
      {ak::Color::colorWithSRGBRed_green_blue_alpha(std::nan(""), 1, 0, 1), ak::CustomColorSpace, 0, 1, 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.color->colorSpaceName(), c.space);
    double r, g, b, a;
    c.color->getRed_green_blue_alpha(&r, &g, &b, &a);
    EXPECT_DOUBLE_EQ(r, c.r);
    EXPECT_DOUBLE_EQ(g, c.g);
    EXPECT_DOUBLE_EQ(b, c.b);
    EXPECT_DOUBLE_EQ(a, c.a);
  }
  auto white = ak::Color::colorWithCalibratedWhite_alpha(0.5, 1);
  EXPECT_TRUE(white->isEqual(ak::Color::colorWithCalibratedWhite_alpha(0.5, 1).get()));
  EXPECT_FALSE(white->isEqual(ak::Color::colorWithDeviceWhite_alpha(0.5, 1).get()));
  EXPECT_FALSE(white->isEqual(white->colorWithAlphaComponent(0.4).get()));
  auto rgb = white->colorUsingColorSpaceName(ak::CalibratedRGBColorSpace);
  ASSERT_TRUE(rgb);
  EXPECT_DOUBLE_EQ(rgb->greenComponent(), 0.5);
  EXPECT_FALSE(white->colorUsingColorSpaceName("NSPatternColorSpace"));
  EXPECT_NEAR(ak::colors::redColor()->colorUsingColorSpaceName(ak::DeviceWhiteColorSpace)->whiteComponent(),
              0.299, 1e-9);
  EXPECT_EQ(ak::colors::clearColor()->alphaComponent(), 0);
  EXPECT_EQ(ak::colors::blackColor(), ak::colors::blackColor()) << "one shared constant";
}
