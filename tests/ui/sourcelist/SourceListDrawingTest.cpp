#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Window.h"
#include "platform/core/Exception.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/ui/sourcelist/SourceListTestSupport.h"
#include "ui/SourceListBadgeCell.h"
#include "ui/SourceListBadgeView.h"
#include "ui/SourceListItem.h"
#include "ui/SourceListTableCellView.h"

using namespace sltest;
using ak::MakeRect;

namespace {

ak::RGBA rgba(int r, int g, int b) {
  return {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 255};
}

ak::RGBA rgbaOf(const ns::Ref<ak::Color>& color) {
  double r = 0, g = 0, b = 0, a = 0;
  color->getRed_green_blue_alpha(&r, &g, &b, &a);
  return rgba(int(std::lround(r * 255)), int(std::lround(g * 255)), int(std::lround(b * 255)));
}

bool near(ak::RGBA a, ak::RGBA b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

// The window's pixel at a point of the list (list coordinates).
ak::RGBA listPixel(const ListFixture& f, double x, double y) {
  ak::Point p = f.list->convertPoint_toView({x, y}, nullptr);
  return pltest::windowPixel(f.window, p.x, p.y);
}

// How many pixels of a list rectangle are within `tolerance` of a colour.
int countNear(const ListFixture& f, const ak::Rect& r, ak::RGBA color, int tolerance) {
  int n = 0;
  for (double y = r.origin.y; y < r.origin.y + r.size.height; ++y)
    for (double x = r.origin.x; x < r.origin.x + r.size.width; ++x)
      if (near(listPixel(f, x + 0.5, y + 0.5), color, tolerance)) ++n;
  return n;
}

int countNear(const pltest::Canvas& canvas, const ak::Rect& r, ak::RGBA color, int tolerance) {
  int n = 0;
  for (auto y = std::size_t(r.origin.y); y < std::size_t(r.origin.y + r.size.height); ++y)
    for (auto x = std::size_t(r.origin.x); x < std::size_t(r.origin.x + r.size.width); ++x)
      if (near(canvas.at(x, y), color, tolerance)) ++n;
  return n;
}

}  // namespace

// ---- cell-based rows ----

TEST(SourceListDrawing, CellBasedTextRendersOnlyWhenTheDataSourceGivesIt) {
  ListFixture f;
  auto text = std::make_shared<TextSource>();
  f.list->setDataSource(text);
  f.expandAll(*text);
  pltest::renderWindow(f.window, "text");
  const ak::Rect cell = f.list->frameOfCellAtColumn_row(0, 1);
  EXPECT_EQ(cell.origin.x, 16 + 18);
  EXPECT_GT(countNear(f, cell, rgba(0, 0, 0), 100), 5);
  ASSERT_FALSE(text->asked.empty());
  EXPECT_EQ(text->asked.back().first, f.list);

  auto basic = std::make_shared<BasicSource>();
  f.list->setDataSource(basic);
  f.expandAll(*basic);
  pltest::renderWindow(f.window, "no-text");
  EXPECT_EQ(countNear(f, f.list->rectOfRow(1), rgba(0, 0, 0), 100), 0);
}

TEST(SourceListDrawing, IconsSitLeftOfTheTextAtTheIconSize) {
  ListFixture f;
  auto source = std::make_shared<BadgeSource>();
  source->icon = solidImage(16, 16, 1, 0, 0);
  f.list->setDataSource(source);
  f.expandAll(*source);
  pltest::renderWindow(f.window, "icon");
  const ak::Rect withIcon = f.list->frameOfCellAtColumn_row(0, 1);
  EXPECT_EQ(withIcon.origin.x, 16 + 18 + 16 + 4);
  EXPECT_EQ(f.list->frameOfCellAtColumn_row(0, 2).origin.x, 16 + 18);
  const ak::Rect row = f.list->rectOfRow(1);
  // The icon is 16x16 at x - 18, centred on the row; its inner 14x14 is solid red.
  const ak::Rect icon{{withIcon.origin.x - 17, row.origin.y + 1.5}, {14, 14}};
  EXPECT_EQ(countNear(f, icon, rgba(255, 0, 0), 8), 14 * 14);
  EXPECT_FALSE(near(listPixel(f, icon.origin.x - 1.5, row.origin.y + 8), rgba(255, 0, 0), 60));
}

TEST(SourceListDrawing, IconSizeIsScaledToTheRowHeight) {
  ListFixture f;
  f.list->setRowHeight(20);
  const std::pair<ak::Size, ak::Size> cases[] = {
      {{32, 32}, {20, 20}}, {{40, 32}, {25, 20}}, {{10, 12}, {10, 12}}, {{20, 20}, {20, 20}}};
  for (const auto& [asked, kept] : cases) {
    f.list->setIconSize(asked);
    EXPECT_EQ(f.list->iconSize(), kept) << asked.width << "x" << asked.height;
  }

  auto source = std::make_shared<BadgeSource>();
  source->icon = solidImage(32, 32, 0, 0, 1);
  f.list->setIconSize({32, 32});
  f.list->setDataSource(source);
  f.expandAll(*source);
  pltest::renderWindow(f.window, "icon-20");
  const ak::Rect text = f.list->frameOfCellAtColumn_row(0, 1);
  const ak::Rect row = f.list->rectOfRow(1);
  const ak::Rect icon{{text.origin.x - 22, row.origin.y}, {20, 20}};
  EXPECT_EQ(countNear(f, icon, rgba(0, 0, 255), 8), 20 * 20);
}

TEST(SourceListDrawing, BadgeSizePlaceAndColours) {
  ListFixture f;
  auto source = std::make_shared<BadgeSource>();
  f.list->setDataSource(source);
  f.expandAll(*source);
  const ak::Size size = f.list->sizeOfBadgeAtRow(1);
  EXPECT_GE(size.width, 22);
  EXPECT_EQ(size.height, 14);
  EXPECT_EQ(f.list->sizeOfBadgeAtRow(2), (ak::Size{0, 0}));
  // The text leaves room for the badge and its 5-point margin.
  const ak::Rect row = f.list->rectOfRow(1);
  EXPECT_EQ(f.list->frameOfCellAtColumn_row(0, 1).size.width,
            row.size.width - (size.width + 5) - (16 + 18 + 16 + 4));

  const double left = row.size.width - size.width - 5, middle = row.origin.y + row.size.height / 2;
  pltest::renderWindow(f.window, "badge");
  EXPECT_TRUE(near(listPixel(f, left + 4, middle), rgba(152, 168, 202), 3));
  EXPECT_TRUE(near(listPixel(f, left + size.width - 3, middle), rgba(152, 168, 202), 3));
  EXPECT_FALSE(near(listPixel(f, left + size.width + 2, middle), rgba(152, 168, 202), 20));
  const ak::Rect badge{{left, middle - 7}, size};
  EXPECT_GT(countNear(f, badge, rgba(255, 255, 255), 30), 3);  // the white digit

  // Selected in the list holding the focus: white with the keyboard-focus colour.
  f.select({1});
  pltest::renderWindow(f.window, "badge-selected");
  EXPECT_TRUE(near(listPixel(f, left + 4, middle), rgba(255, 255, 255), 3));
  EXPECT_GT(countNear(f, badge, rgbaOf(ak::colors::keyboardFocusIndicatorColor()), 40), 3);

  // The reusable cell keeps the colours last set on it: this data source sets none.
  f.list->deselectAll(nullptr);
  f.list->reusableBadgeCell()->setBackgroundColor(
      ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0.5, 0, 1));
  f.list->setNeedsDisplay(true);
  pltest::renderWindow(f.window, "badge-kept-colour");
  EXPECT_TRUE(near(listPixel(f, left + 4, middle), rgba(0, 128, 0), 3));
}

// ---- the badge cell on its own ----

TEST(SourceListBadgeCells, SizeFollowsTheBoldElevenPointText) {
  pltest::HeadlessApp app;
  auto cell = ak::make<SourceListBadgeCell>();
  EXPECT_EQ(cell->stringValue(), "");
  cell->setBadgeValue(7);
  ns::Dictionary attributes;
  attributes.set(ak::FontAttributeName, ns::Value(ns::Ref<ns::Object>(ak::Font::boldSystemFontOfSize(11))));
  const ak::Size text = ak::AttributedString("7", attributes).size();
  EXPECT_EQ(cell->badgeString()->string(), "7");
  EXPECT_EQ(cell->cellSize(), (ak::Size{text.width + 10, text.height}));
  cell->setBadgeValue(1234);
  EXPECT_GT(cell->cellSize().width, text.width + 10);
  // "%ld" of the largest unsigned value reads it as signed.
  cell->setBadgeValue(UINT64_MAX);
  EXPECT_EQ(cell->badgeString()->string(), "-1");
}

TEST(SourceListBadgeCells, MainWindowHiddenGreysTheBadgeWhateverItsColour) {
  pltest::HeadlessApp app;
  auto window = app.window(MakeRect(0, 0, 100, 100), ak::TitledWindowMask);
  auto view = ak::make<ak::View>(MakeRect(0, 0, 100, 100));
  window->setContentView(view);
  auto cell = ak::make<SourceListBadgeCell>();
  cell->setBadgeValue(3);
  cell->setBackgroundColor(ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1));
  const ak::Rect frame = MakeRect(10, 10, 60, 28);
  {
    pltest::Canvas canvas(80, 50, true);
    cell->drawWithFrame_inView(frame, view);
    canvas.save("visible");
    EXPECT_TRUE(pltest::pixelNear(canvas.rep(), 16, 24, {255, 0, 0, 255}, 3));
    EXPECT_GT(countNear(canvas, frame, rgba(255, 255, 255), 30), 3);
  }
  window->orderOut(nullptr);
  {
    pltest::Canvas canvas(80, 50, true);
    cell->drawWithFrame_inView(frame, view);
    canvas.save("hidden");
    EXPECT_TRUE(pltest::pixelNear(canvas.rep(), 16, 24, {180, 180, 180, 255}, 3));
    // Selected without a visible main window: white with grey 170 text.
    cell->setHighlighted(true);
    cell->drawWithFrame_inView(frame, view);
    EXPECT_TRUE(pltest::pixelNear(canvas.rep(), 16, 24, {255, 255, 255, 255}, 3));
    EXPECT_GT(countNear(canvas, frame, rgba(170, 170, 170), 30), 3);
  }
}

// ---- view-based companions ----

TEST(SourceListBadgeViews, CellClassAndForwardedValues) {
  pltest::HeadlessApp app;
  auto badge = ak::make<SourceListBadgeView>(MakeRect(0, 0, 10, 10));
  auto cell = std::dynamic_pointer_cast<SourceListBadgeCell>(badge->cell());
  ASSERT_TRUE(cell);
  badge->setBadgeValue(12);
  auto red = ak::colors::redColor();
  badge->setTextColor(red);
  badge->setBackgroundColor(red);
  EXPECT_EQ(cell->badgeValue(), 12u);
  EXPECT_EQ(cell->textColor(), red);
  EXPECT_EQ(badge->backgroundColor(), red);
}

TEST(SourceListBadgeViews, TableCellViewPutsItsBadgeFlushRightAndCentred) {
  pltest::HeadlessApp app;
  auto cellView = ak::make<SourceListTableCellView>(MakeRect(0, 0, 120, 31));
  auto badge = ak::make<SourceListBadgeView>(MakeRect(0, 0, 10, 10));
  cellView->addSubview(badge);
  cellView->setBadgeView(badge);
  badge->setBadgeValue(12);
  cellView->layout();
  // Sized to fit: the cell's size in whole points.
  const ak::Size fitted = badge->frame().size;
  EXPECT_EQ(fitted, (ak::Size{std::ceil(badge->cell()->cellSize().width),
                              std::ceil(badge->cell()->cellSize().height)}));
  EXPECT_EQ(badge->frame().origin.x, 120 - fitted.width);
  EXPECT_EQ(badge->frame().origin.y, 15.5 - std::round(fitted.height * 0.5));
  cellView->setFrameSize({150, 31});
  EXPECT_EQ(badge->frame().origin.x, 150 - fitted.width);
  badge->removeFromSuperview();
  badge.reset();
  EXPECT_FALSE(cellView->badgeView());
  cellView->layout();
}

// ---- the item model ----

TEST(SourceListItems, ChildrenAreCopiedAndChangedLikeAnArray) {
  auto root = SourceListItem::itemWithTitle_identifier("Library", "lib");
  EXPECT_FALSE(root->hasChildren());
  auto a = SourceListItem::itemWithTitle_identifier("A", "a");
  auto b = SourceListItem::itemWithTitle_identifier("B", "b");
  auto c = SourceListItem::itemWithTitle_identifier("C", "c");
  root->addChildItem(a);
  root->insertChildItem_atIndex(c, 0);
  auto children = root->children();
  children.clear();
  EXPECT_EQ(root->children().size(), 2u);
  EXPECT_EQ(root->children()[0], c);

  auto titles = [&] {
    std::string out;
    for (const auto& child : root->children()) out += child->title();
    return out;
  };
  root->insertChildItems_atIndexes({b, b}, *ns::IndexSet::indexSetWithIndexesInRange({1, 2}));
  EXPECT_EQ(titles(), "CBBA");
  root->removeChildItem(b);
  EXPECT_EQ(titles(), "CA");
  root->removeChildItemAtIndex(0);
  EXPECT_EQ(titles(), "A");
  EXPECT_THROW(root->removeChildItemAtIndex(5), ns::Exception);
  EXPECT_THROW(root->insertChildItem_atIndex(b, 3), ns::Exception);
  EXPECT_THROW(root->insertChildItems_atIndexes({b}, *ns::IndexSet::indexSetWithIndex(4)), ns::Exception);
  EXPECT_EQ(titles(), "A");
  root->removeChildItems({a});
  EXPECT_FALSE(root->hasChildren());
}

TEST(SourceListItems, RepresentedObjectIsNotRetained) {
  auto thing = std::make_shared<ns::Object>();
  auto icon = solidImage(4, 4, 0, 1, 0);
  auto item = SourceListItem::itemWithRepresentedObject_icon(thing, icon);
  EXPECT_EQ(item->representedObject(), thing);
  EXPECT_EQ(item->icon(), icon);
  thing.reset();
  EXPECT_EQ(item->representedObject(), nullptr);
  item->setBadgeValue(ns::Number(3));
  EXPECT_EQ(item->badgeValue()->integerValue(), 3);
}
