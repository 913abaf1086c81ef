#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/ParagraphStyle.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/Shadow.h"
#include "platform/appkit/TextField.h"
#include "platform/core/Exception.h"
#include "platform/core/Str.h"
#include "tests/platform/appkit/DrawingTestSupport.h"

using namespace appkit_test;
using ak::MakeRect;
using pltest::Canvas;

namespace {

ns::Dictionary attributes(ns::Ref<ak::Font> font, ns::Ref<ak::Color> color = ak::colors::blackColor()) {
  ns::Dictionary d;
  d.set(ak::FontAttributeName, font);
  d.set(ak::ForegroundColorAttributeName, color);
  return d;
}

ns::Dictionary withStyle(ns::Dictionary d, ak::TextAlignment alignment, ak::LineBreakMode mode) {
  d.set(ak::ParagraphStyleAttributeName, ns::make<ak::ParagraphStyle>(alignment, mode));
  return d;
}

struct Ink {
  int left = -1, right = -1, top = -1, bottom = -1;
  bool any() const { return left >= 0; }
};

// Where pixels differ from `background` by more than a little.
Ink inkOf(const Canvas& canvas, ak::RGBA background, int threshold = 40) {
  Ink ink;
  for (int y = 0; y < int(canvas.rep()->pixelsHigh()); ++y) {
    for (int x = 0; x < int(canvas.rep()->pixelsWide()); ++x) {
      ak::RGBA p = canvas.at(std::size_t(x), std::size_t(y));
      int d = std::abs(p.r - background.r) + std::abs(p.g - background.g) + std::abs(p.b - background.b) +
              std::abs(p.a - background.a);
      if (d <= threshold) continue;
      if (!ink.any()) ink = {x, x, y, y};
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

// The dots low on the line that end the ink of one line: 3 for an ellipsis; -1 when no letter
// comes within 20 pixels. A dot's column holds ink a few pixels high in the lower half of the
// line; a letter's reaches higher. The dots of an ellipsis are evenly spaced: a wider gap ends
// them (before a letter's low foot, say).
int trailingDots(const Canvas& canvas, const Ink& line) {
  int dots = 0, gap = 0, firstGap = 0;
  bool inDot = false;
  for (int x = line.right; x >= line.right - 20; --x) {
    int top = -1, bottom = -1;
    for (int y = line.top; y <= line.bottom; ++y) {
      if (canvas.at(std::size_t(x), std::size_t(y)).a < 80) continue;
      if (top < 0) top = y;
      bottom = y;
    }
    const bool dot = top >= 0 && bottom - top <= 3 && 2 * top > line.top + line.bottom;
    if (top >= 0 && !dot) return dots;
    if (dot && !inDot) {
      if (dots == 1) firstGap = gap;
      if (dots >= 2 && gap > firstGap + 1) return dots;
      ++dots;
    }
    gap = dot ? 0 : gap + 1;
    inDot = dot;
  }
  return -1;
}

// The ink of each line: bands of rows with ink, split by rows without.
std::vector<Ink> linesOf(const Canvas& canvas, int threshold = 80) {
  std::vector<Ink> lines;
  bool open = false;
  for (int y = 0; y < int(canvas.rep()->pixelsHigh()); ++y) {
    Ink row;
    for (int x = 0; x < int(canvas.rep()->pixelsWide()); ++x) {
      if (canvas.at(std::size_t(x), std::size_t(y)).a < threshold) continue;
      if (!row.any()) row = {x, x, y, y};
      row.right = x;
    }
    if (!row.any()) {
      open = false;
      continue;
    }
    if (!open) lines.push_back(row);
    Ink& line = lines.back();
    line.left = std::min(line.left, row.left), line.right = std::max(line.right, row.right);
    line.bottom = y;
    open = true;
  }
  return lines;
}

ns::Data render(const ak::AttributedString& text, std::size_t w, std::size_t h, bool flipped) {
  Canvas canvas(w, h, flipped);
  canvas.clear(kWhite);
  text.drawInRect(MakeRect(0, 0, double(w), double(h)));
  return *canvas.rep()->representationUsingType_properties(ak::BitmapImageFileType::PNG);
}

}  // namespace

class Text : public DrawingTest {};

TEST_F(Text, FontsAreInstalledFacesOrNothing) {
  EXPECT_FALSE(ak::Font::fontWithName_size("AppleSDGothicNeo-Medium", 11));
  EXPECT_FALSE(ak::Font::fontWithName_size("LucidaGrande", 13));
  struct Case {
    const char* name;
    const char* fontName;
    bool bold;
  } cases[] = {{"DejaVuSans", "DejaVuSans", false},
               {"DejaVu Sans", "DejaVuSans", false},
               {"DejaVuSans-Bold", "DejaVuSans-Bold", true},
               {"DejaVu Sans Bold", "DejaVuSans-Bold", true}};
  for (const auto& c : cases) {
    auto font = ak::Font::fontWithName_size(c.name, 11);
    ASSERT_TRUE(font) << c.name;
    EXPECT_EQ(font->fontName(), c.fontName);
    EXPECT_EQ(font->familyName(), "DejaVu Sans");
    EXPECT_EQ(font->isBold(), c.bold);
    EXPECT_EQ(font->pointSize(), 11);
  }
  EXPECT_EQ(ak::Font::fontWithName_size("DejaVuSans", 0)->pointSize(), 12);
  EXPECT_EQ(ak::Font::systemFontSizeForControlSize(ak::ControlSize::Regular), 13);
  EXPECT_EQ(ak::Font::systemFontSizeForControlSize(ak::ControlSize::Small), 11);
  EXPECT_EQ(ak::Font::systemFontSizeForControlSize(ak::ControlSize::Mini), 9);
  for (auto font :
       {ak::Font::systemFontOfSize(13), ak::Font::titleBarFontOfSize(13), ak::Font::labelFontOfSize(13)}) {
    EXPECT_EQ(font->familyName(), "DejaVu Sans");
    EXPECT_FALSE(font->isBold());
  }
  EXPECT_TRUE(ak::Font::boldSystemFontOfSize(13)->isBold());
  EXPECT_TRUE(ak::Font::systemFontOfSize(13)->isEqual(ak::Font::systemFontOfSize(13).get()));
  EXPECT_FALSE(ak::Font::systemFontOfSize(13)->isEqual(ak::Font::systemFontOfSize(12).get()));
  auto font = ak::Font::systemFontOfSize(11);
  EXPECT_GT(font->ascender(), 8);
  EXPECT_LT(font->descender(), -2);
}

TEST_F(Text, MeasuresTheSameEverywhere) {
  // DejaVu Sans: digits advance 1303 and the comma 651 units of 2048 to the em.
  auto size = ak::sizeWithAttributes("1,234,567", attributes(ak::Font::systemFontOfSize(11)));
  EXPECT_NEAR(size.width, 55.98, 0.01);
  EXPECT_NEAR(size.width, (7 * 1303 + 2 * 651) / 2048.0 * 11, 0.01);
  std::string plain = "1,234,567";
  EXPECT_NEAR(ak::AttributedString(plain).size().width, (7 * 1303 + 2 * 651) / 2048.0 * 12, 0.01)
      << "no font is DejaVu Sans 12";

  // Wrapping to a width makes more lines; without the line-fragment option the rectangle
  // starts below the baseline.
  ak::AttributedString text("one two three four five six seven", attributes(ak::Font::systemFontOfSize(11)));
  auto one = text.boundingRectWithSize_options({1000, 1000}, ak::StringDrawingUsesLineFragmentOrigin);
  auto wrapped = text.boundingRectWithSize_options({60, 1000}, ak::StringDrawingUsesLineFragmentOrigin);
  auto line = text.boundingRectWithSize_options({60, 1000}, 0);
  EXPECT_GT(wrapped.size.height, 2.5 * one.size.height);
  EXPECT_LE(wrapped.size.width, 60);
  EXPECT_LT(line.origin.y, 0);
  EXPECT_NEAR(line.size.width, one.size.width, 0.01);
}

// The ink of one line, from its baseline: what the glyphs paint, which the line box holds with
// room to spare above the digits and below them.
TEST_F(Text, DeviceMetricsBoundTheInkFromTheBaseline) {
  const auto font = ak::Font::systemFontOfSize(11);
  auto inkRect = [&](const std::string& text) {
    return ak::boundingRectWithSize_options_attributes(text, {}, ak::StringDrawingUsesDeviceMetrics,
                                                       attributes(font));
  };
  const ak::Rect line = ak::boundingRectWithSize_options_attributes("0", {}, 0, attributes(font));
  const ak::Rect zero = inkRect("0");
  // DejaVu Sans digits stand 1493 units of 2048 high on the baseline, with a little overshoot.
  EXPECT_NEAR(zero.size.height, 1493 / 2048.0 * 11, 0.5);
  EXPECT_NEAR(zero.origin.y, 0, 0.3);
  EXPECT_GT(zero.origin.x, 0);
  EXPECT_LT(ak::MaxX(zero), line.size.width);
  EXPECT_LT(ak::MaxY(zero), ak::MaxY(line) - 1) << "room above the digits in the line box";
  EXPECT_LT(inkRect("0,0").origin.y, -0.8) << "the comma reaches below the baseline";
  EXPECT_LT(inkRect("g").origin.y, -2);
  EXPECT_GT(ak::MaxY(inkRect("k")), ak::MaxY(zero));
  EXPECT_EQ(inkRect(" "), ak::ZeroRect);
  EXPECT_EQ(inkRect(""), ak::ZeroRect);

  // What the glyphs paint lies in that rectangle, drawn with the baseline at row 30.
  for (const std::string text : {"0", "0.0", "1,234", "Kg"}) {
    SCOPED_TRACE(text);
    Canvas canvas(100, 60, true);
    const ak::Rect box = ak::boundingRectWithSize_options_attributes(text, {}, 0, attributes(font));
    ak::drawAtPoint_withAttributes(text, {10, 30 - ak::MaxY(box)}, attributes(font));
    const Ink painted = inkOf(canvas, kClear);
    const ak::Rect ink = inkRect(text);
    ASSERT_TRUE(painted.any());
    EXPECT_GE(painted.top, std::floor(30 - ak::MaxY(ink)));
    EXPECT_LE(painted.top, std::ceil(30 - ak::MaxY(ink)));
    EXPECT_GE(painted.bottom + 1, std::floor(30 - ink.origin.y));
    EXPECT_LE(painted.bottom + 1, std::ceil(30 - ink.origin.y));
    EXPECT_GE(painted.left, std::floor(10 + ink.origin.x) - 1);
    EXPECT_LE(painted.right + 1, std::ceil(10 + ak::MaxX(ink)) + 1);
  }
}

TEST_F(Text, AttributesOverUTF16Ranges) {
  ns::Dictionary red = attributes(ak::Font::titleBarFontOfSize(13), ak::colors::redColor());
  red.set(ak::ParagraphStyleAttributeName, ak::ParagraphStyle::defaultParagraphStyle());
  ak::AttributedString title("Pelorin", red);
  auto font = title.fontAttributesInRange(ns::MakeRange(0, 1));
  auto color = font.objectForKey(ak::ForegroundColorAttributeName).objectAs<ak::Color>();
  ASSERT_TRUE(color);
  EXPECT_TRUE(color->isEqual(ak::colors::redColor().get()));
  EXPECT_FALSE(font.contains(ak::ParagraphStyleAttributeName));

  ak::MutableAttributedString s("é😀x");
  EXPECT_EQ(s.length(), 4u);
  s.addAttribute_value_range(ak::UnderlineStyleAttributeName, 1, ns::MakeRange(1, 2));
  ns::Range effective;
  EXPECT_TRUE(s.attributesAtIndex_effectiveRange(2, &effective).contains(ak::UnderlineStyleAttributeName));
  EXPECT_EQ(effective, ns::MakeRange(1, 2));
  EXPECT_TRUE(s.attributesAtIndex_effectiveRange(3, &effective).empty());
  EXPECT_EQ(effective, ns::MakeRange(3, 1));
  EXPECT_EQ(s.attributedSubstringFromRange(ns::MakeRange(1, 2))->string(), "😀");

  struct Edit {
    const char* what;
    std::function<void(ak::MutableAttributedString&)> apply;
    std::string text;
    std::vector<std::size_t> runs;  // run lengths
  } edits[] = {
      {"set",
       [](auto& m) { m.setAttributes_range(attributes(ak::Font::systemFontOfSize(9)), ns::MakeRange(0, 2)); },
       "abcdef",
       {2, 4}},
      {"remove",
       [](auto& m) { m.removeAttribute_range(ak::ForegroundColorAttributeName, ns::MakeRange(2, 2)); },
       "abcdef",
       {2, 2, 2}},
      {"replace inherits",
       [](auto& m) { m.replaceCharactersInRange_withString(ns::MakeRange(0, 1), "XYZ"); },
       "XYZbcdef",
       {8}},
      {"delete", [](auto& m) { m.deleteCharactersInRange(ns::MakeRange(1, 5)); }, "a", {1}},
      {"append plain",
       [](auto& m) { m.appendAttributedString(ak::AttributedString("gh")); },
       "abcdefgh",
       {6, 2}},
      {"add and merge back",
       [](auto& m) {
         m.addAttribute_value_range(ak::UnderlineStyleAttributeName, 1, ns::MakeRange(1, 1));
         m.removeAttribute_range(ak::UnderlineStyleAttributeName, ns::MakeRange(0, 6));
       },
       "abcdef",
       {6}},
  };
  for (const auto& e : edits) {
    ak::MutableAttributedString m("abcdef", attributes(ak::Font::systemFontOfSize(11)));
    e.apply(m);
    EXPECT_EQ(m.string(), e.text) << e.what;
    std::vector<std::size_t> runs;
    for (const auto& r : m.runs()) runs.push_back(r.length);
    EXPECT_EQ(runs, e.runs) << e.what;
  }

  // Paragraph styles spread over their paragraphs; bad ranges raise.
  ak::MutableAttributedString paragraphs("ab\ncd");
  paragraphs.addAttribute_value_range(
      ak::ParagraphStyleAttributeName,
      ns::make<ak::ParagraphStyle>(ak::TextAlignment::Center, ak::LineBreakMode::Clipping),
      ns::MakeRange(0, 1));
  paragraphs.fixAttributesInRange(ns::MakeRange(0, 5));
  EXPECT_TRUE(paragraphs.attribute_atIndex_effectiveRange(ak::ParagraphStyleAttributeName, 1, &effective));
  EXPECT_EQ(effective, ns::MakeRange(0, 3));
  EXPECT_FALSE(paragraphs.attribute_atIndex_effectiveRange(ak::ParagraphStyleAttributeName, 4, nullptr));
  EXPECT_THROW(paragraphs.attributesAtIndex_effectiveRange(5, nullptr), ns::Exception);
  EXPECT_THROW(paragraphs.setAttributes_range({}, ns::MakeRange(4, 2)), ns::Exception);
}

TEST_F(Text, DrawAtPointUsesTheLineBoxCorner) {
  for (bool flipped : {false, true}) {
    Canvas canvas(100, 60, flipped);
    ak::AttributedString text("Hg", attributes(ak::Font::systemFontOfSize(20)));
    const double height = text.size().height;
    text.drawAtPoint({10, 0});
    Ink ink = inkOf(canvas, kClear);
    ASSERT_TRUE(ink.any());
    if (flipped) {
      EXPECT_LT(ink.bottom, int(height)) << "upper left";
    } else {
      EXPECT_GE(ink.top, 60 - int(height)) << "lower left";
    }
    EXPECT_GE(ink.left, 10);
    EXPECT_LT(ink.left, 14);
  }

  // Centred in a rectangle: equal margins.
  Canvas canvas(200, 30, true);
  ak::AttributedString centred(
      "Pelorin", withStyle(attributes(ak::Font::systemFontOfSize(13)), ak::TextAlignment::Center,
                           ak::LineBreakMode::TruncatingTail));
  centred.drawInRect(MakeRect(0, 0, 200, 30));
  Ink ink = inkOf(canvas, kClear);
  EXPECT_NEAR(ink.left, 199 - ink.right, 2);
}

TEST_F(Text, ShadowsLightenTheRowBelowTheGlyphs) {
  const ak::RGBA grey{128, 128, 128, 255};
  for (bool flipped : {false, true}) {
    auto draw = [&](bool withShadow) {
      auto canvas = std::make_unique<Canvas>(120, 40, flipped);
      canvas->clear(grey);
      ns::Dictionary a =
          attributes(ak::Font::titleBarFontOfSize(20), ak::Color::colorWithDeviceWhite_alpha(0.2, 1));
      if (withShadow) {
        auto shadow = ns::make<ak::Shadow>();
        shadow->setShadowOffset({0, -1});
        shadow->setShadowColor(ak::Color::colorWithDeviceWhite_alpha(1, 0.5));
        a.set(ak::ShadowAttributeName, shadow);
      }
      ak::AttributedString("HHH", a).drawInRect(MakeRect(5, 5, 110, 30));
      return canvas;
    };
    auto plain = draw(false), shadowed = draw(true);
    shadowed->save(flipped ? "flipped" : "unflipped");
    Ink ink = inkOf(*plain, grey);
    ASSERT_TRUE(ink.any());
    const std::size_t below = std::size_t(ink.bottom + 1);
    int lighter = 0;
    for (int x = ink.left; x <= ink.right; ++x) {
      EXPECT_EQ(plain->at(std::size_t(x), below), grey);
      lighter += shadowed->at(std::size_t(x), below).r > 150;
    }
    EXPECT_GT(lighter, 6) << flipped;
    EXPECT_EQ(shadowed->at(std::size_t(ink.left + 1), std::size_t(ink.top - 2)), grey) << "nothing above";
  }
}

TEST_F(Text, LongTitlesTruncateInsideTheirRectangle) {
  const std::string title(300, 'H');
  auto draw = [&](ak::LineBreakMode mode) {
    auto canvas = std::make_unique<Canvas>(200, 20, true);
    ak::AttributedString text(
        title, withStyle(attributes(ak::Font::systemFontOfSize(13)), ak::TextAlignment::Left, mode));
    text.drawInRect(MakeRect(0, 0, 100, 20));
    return canvas;
  };
  auto truncated = draw(ak::LineBreakMode::TruncatingTail);
  truncated->save("tail");
  Ink ink = inkOf(*truncated, kClear);
  ASSERT_TRUE(ink.any());
  EXPECT_LT(ink.right, 100) << "nothing right of x 100";
  // The last glyph is an ellipsis: from the right, three dots low on the line, then a letter.
  EXPECT_EQ(trailingDots(*truncated, ink), 3);

  // Clipping cuts at the rectangle instead, through a full-height letter.
  auto clipped = draw(ak::LineBreakMode::Clipping);
  EXPECT_EQ(inkOf(*clipped, kClear).right, 99);

  // A megabyte title measures and draws, cut, without stalling.
  std::string huge(1 << 20, 'W');
  ak::AttributedString big(huge, withStyle(attributes(ak::Font::systemFontOfSize(12)),
                                           ak::TextAlignment::Left, ak::LineBreakMode::TruncatingTail));
  EXPECT_EQ(big.length(), std::size_t(1) << 20);
  EXPECT_LT(big.size().width, 12.0 * ak::kLongestLaidOutText);
  Canvas canvas(120, 20, true);
  big.drawInRect(MakeRect(0, 0, 100, 20));
  EXPECT_LT(inkOf(canvas, kClear).right, 100);
}

TEST_F(Text, CellsBreakAndTruncateByTheirLineBreakMode) {
  const std::string title = "Unboxing the whole collection of vintage pocket calculators, part two";
  auto draw = [&](const ns::Ref<ak::Cell>& cell, double width, double height) {
    auto canvas = std::make_unique<Canvas>(std::size_t(width) + 40, std::size_t(height), false);
    cell->setFont(ak::Font::systemFontOfSize(12));
    cell->drawWithFrame_inView(MakeRect(0, 0, width, height), nullptr);
    return canvas;
  };
  auto label = [&](ak::LineBreakMode mode, bool truncatesLast) {
    auto cell = ns::make<ak::TextFieldCell>();
    cell->initTextCell(title);
    cell->setLineBreakMode(mode);
    cell->setTruncatesLastVisibleLine(truncatesLast);
    return cell;
  };

  // Wrapped by character into a box of two lines: both lines from the top, and the second ends
  // in an ellipsis inside the box instead of a third line cut through.
  auto wrapped = draw(label(ak::LineBreakMode::CharWrapping, true), 160, 40);
  wrapped->save("wrapped");
  auto lines = linesOf(*wrapped);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_LT(lines[0].top, 4) << "the first line at the top";
  EXPECT_LE(lines[1].bottom, 39);
  EXPECT_LT(lines[1].right, 160);
  EXPECT_GT(lines[1].right, 130) << "the last line runs to the edge";
  EXPECT_EQ(trailingDots(*wrapped, lines[1]), 3);
  EXPECT_NE(trailingDots(*wrapped, lines[0]), 3) << "the first line is broken, not truncated";
  // One line high, the one line is the last: it ends in an ellipsis too.
  auto single = draw(label(ak::LineBreakMode::CharWrapping, true), 160, 18);
  lines = linesOf(*single);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(trailingDots(*single, lines[0]), 3);
  // Without truncation the lines that fit are whole and nothing ends in an ellipsis.
  auto cut = draw(label(ak::LineBreakMode::CharWrapping, false), 160, 40);
  for (const Ink& line : linesOf(*cut)) EXPECT_NE(trailingDots(*cut, line), 3);

  // Truncating at the tail: one line, centred as before, ending in an ellipsis.
  auto tail = draw(label(ak::LineBreakMode::TruncatingTail, false), 160, 20);
  lines = linesOf(*tail);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LT(lines[0].right, 160);
  EXPECT_EQ(trailingDots(*tail, lines[0]), 3);
  // Clipping cuts through a letter at the edge.
  auto clipped = draw(label(ak::LineBreakMode::Clipping, false), 160, 20);
  lines = linesOf(*clipped);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_GE(lines[0].right, 157);
  EXPECT_NE(trailingDots(*clipped, lines[0]), 3);

  // A pop-up's chosen title truncates at the tail by default.
  auto popup = ns::make<ak::PopUpButtonCell>();
  popup->initTextCell(title);
  popup->setBordered(false);
  EXPECT_EQ(popup->lineBreakMode(), ak::LineBreakMode::TruncatingTail);
  Canvas chosenCanvas(200, 22, false);
  popup->setFont(ak::Font::systemFontOfSize(12));
  popup->drawTitleWithFrame_inView(MakeRect(0, 0, 160, 22), nullptr);
  const Canvas* chosen = &chosenCanvas;
  lines = linesOf(*chosen);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(trailingDots(*chosen, lines[0]), 3);
}

TEST_F(Text, InvalidUTF8DrawsReplacementGlyphs) {
  auto a = attributes(ak::Font::systemFontOfSize(14));
  ak::AttributedString bad(
      "a\xff\xfe"
      "b",
      a),
      replaced(
          "a\xEF\xBF\xBD\xEF\xBF\xBD"
          "b",
          a),
      plain("ab", a);
  EXPECT_EQ(bad.string(), replaced.string());
  EXPECT_EQ(bad.length(), 4u);
  auto png = render(bad, 80, 20, true);
  EXPECT_EQ(png, render(replaced, 80, 20, true));
  EXPECT_NE(png, render(plain, 80, 20, true));
  // A NUL character is shown as a replacement glyph too.
  ak::AttributedString nul(std::string("a\0\0b", 4), a);
  EXPECT_EQ(nul.length(), 4u);
  EXPECT_EQ(render(nul, 80, 20, true), png);
}

TEST_F(Text, ThreadsDrawTheSameTextAlike) {
  ak::MutableAttributedString text("Pelorin – 1,234,567 views",
                                   attributes(ak::Font::boldSystemFontOfSize(13)));
  text.addAttribute_value_range(ak::ForegroundColorAttributeName, ak::colors::blueColor(),
                                ns::MakeRange(0, 7));
  auto shadow = ns::make<ak::Shadow>();
  shadow->setShadowOffset({1, -1});
  shadow->setShadowBlurRadius(2);
  text.addAttribute_value_range(ak::ShadowAttributeName, shadow, ns::MakeRange(0, text.length()));
  std::vector<ns::Data> pngs(4);
  {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < pngs.size(); ++i) {
      threads.emplace_back([&, i] {
        for (int round = 0; round < 5; ++round) pngs[i] = render(text, 220, 24, i % 2 == 0);
      });
    }
    for (auto& t : threads) t.join();
  }
  EXPECT_EQ(pngs[0], pngs[2]);
  EXPECT_EQ(pngs[1], pngs[3]);
  EXPECT_EQ(pngs[0], render(text, 220, 24, true));
}
