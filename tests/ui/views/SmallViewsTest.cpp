#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/appkit/Animation.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/ScrollView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/text/Locale.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/ScopedController.h"
#include "tests/ui/views/UiViewsTestSupport.h"
#include "ui/BlackTextFieldCell.h"
#include "ui/ButtonCell.h"
#include "ui/HoverButton.h"
#include "ui/MyNSView.h"
#include "ui/MySearchField.h"
#include "ui/MyTableRowView.h"
#include "ui/UINotifications.h"
#include "ui/VideoListBackgroundView.h"
#include "ui/ViewAndRatingView.h"

using ak::MakeRect;
using uiviews_test::AppWithResources;
using uiviews_test::colorNear;
using uiviews_test::imagePixel;

namespace smallviews_test {

// The colour of an icon drawn with its bottom at y 2 in a window at the bottom left, sampled in
// the icon's solid middle.
ak::RGBA iconMiddle(const ns::Ref<ak::Window>& window, double iconX) {
  return pltest::windowPixel(window, iconX + 6.5, 2 + 6.5);
}

class Rows : public ns::Object {
 public:
  long numberOfRows(ns::Ref<ns::Object>) { return 3; }
  ns::Ref<ns::Object> viewFor(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long) {
    return ak::make<ak::TableCellView>(MakeRect(0, 0, 10, 10));
  }
  ns::Ref<ns::Object> rowViewFor(ns::Ref<ns::Object>, long) { return ak::make<MyTableRowView>(ak::ZeroRect); }
};

struct RecordingDelegate : ButtonCellDelegate {
  explicit RecordingDelegate(std::vector<std::int64_t>& clicked) : clicked(clicked) {}
  std::vector<std::int64_t>& clicked;
  void buttonCellClicked(std::int64_t idx) override { clicked.push_back(idx); }
};

}  // namespace smallviews_test

using smallviews_test::iconMiddle;

PL_CLASS_NAMED(smallviews_test::Rows, "SVRows", ns::Object) {
  cls.method<&smallviews_test::Rows::numberOfRows>("numberOfRowsInTableView:");
  cls.method<&smallviews_test::Rows::viewFor>("tableView:viewForTableColumn:row:");
  cls.method<&smallviews_test::Rows::rowViewFor>("tableView:rowViewForRow:");
}

TEST(ViewAndRatingView, LaysTheLineOutFromTheMeasuredTexts) {
  AppWithResources fixture;
  ns::Locale::setCurrentLocale(ns::Locale("en_US"));
  auto window = fixture.app.window(MakeRect(0, 0, 400, 20), ak::BorderlessWindowMask);
  auto line = ak::make<ViewAndRatingView>(MakeRect(0, 0, 400, 20));
  window->contentView()->addSubview(line);

  line->showViews_andRatings_andBookmark(1234567, 3.5f, 0);
  EXPECT_EQ(line->viewLabel()->stringValue(), "1,234,567");
  EXPECT_EQ(line->starLabel()->stringValue(), "3.5");
  EXPECT_TRUE(line->imgBookmark()->isHidden());
  EXPECT_TRUE(line->bookmarkLabel()->isHidden());
  EXPECT_FALSE(line->imgStar()->isHidden());
  ns::Dictionary font;
  font.set(ak::FontAttributeName, ns::Value(line->viewLabel()->font()));
  const float w1 = float(ak::sizeWithAttributes("1,234,567", font).width) + 3.0f;
  const float w2 = float(ak::sizeWithAttributes("3.5", font).width) + 3.0f;
  EXPECT_GT(w1, 30);
  EXPECT_DOUBLE_EQ(line->imgStar()->frame().origin.x, double(w1 + 22.0f));
  EXPECT_DOUBLE_EQ(line->starLabel()->frame().origin.x, double(w1 + 36.0f));
  EXPECT_EQ(line->viewLabel()->frame(), MakeRect(15, 3, 150, 13));
  pltest::renderWindow(window, "statistics");
  const double starX = line->imgStar()->frame().origin.x;
  EXPECT_TRUE(colorNear(iconMiddle(window, 0), imagePixel("views_videocell_icon", 6, 6), 12));
  EXPECT_TRUE(colorNear(iconMiddle(window, starX), imagePixel("stars_videocell_icon", 6, 6), 12));
  EXPECT_FALSE(colorNear(iconMiddle(window, 100), imagePixel("stars_videocell_icon", 6, 6), 40));

  line->showViews_andRatings_andBookmark(1234567, 3.5f, 7);
  EXPECT_EQ(line->bookmarkLabel()->stringValue(), "7");
  EXPECT_FALSE(line->imgBookmark()->isHidden());
  EXPECT_FALSE(line->bookmarkLabel()->isHidden());
  const double bookmarkX = line->imgBookmark()->frame().origin.x;
  EXPECT_DOUBLE_EQ(bookmarkX, double(w1 + w2 + 40.0f));
  EXPECT_DOUBLE_EQ(line->bookmarkLabel()->frame().origin.x, double(w1 + w2 + 54.0f));
  pltest::renderWindow(window, "statistics-bookmarks");
  EXPECT_TRUE(colorNear(iconMiddle(window, bookmarkX), imagePixel("bookmarks_videocell_icon", 6, 6), 12));
  // The label text is dark ink right of its icon.
  int ink = 0;
  for (double x = bookmarkX + 14; x < bookmarkX + 24; ++x)
    for (double y = 3; y < 16; ++y)
      if (pltest::windowPixel(window, x, y).a > 0 && pltest::windowPixel(window, x, y).r < 90) ++ink;
  EXPECT_GT(ink, 3);

  line->setSelected(true);
  pltest::renderWindow(window, "statistics-selected");
  EXPECT_TRUE(colorNear(iconMiddle(window, starX), imagePixel("stars_videocell_icon_active", 6, 6), 12));
  EXPECT_TRUE(colorNear(iconMiddle(window, 0), imagePixel("views_videocell_icon_active", 6, 6), 12));
  line->setSelected(false);
  EXPECT_EQ(line->imgStar()->image(), ak::Image::imageNamed("stars_videocell_icon"));

  line->showStringOnly("12 videos");
  EXPECT_EQ(line->viewLabel()->stringValue(), "12 videos");
  EXPECT_EQ(line->viewLabel()->frame(), MakeRect(0, 3, 150, 13));
  EXPECT_EQ(line->starLabel()->stringValue(), "");
  for (const auto& hidden : std::vector<ns::Ref<ak::View>>{
           line->imgView(), line->imgStar(), line->starLabel(), line->imgBookmark(), line->bookmarkLabel()})
    EXPECT_TRUE(hidden->isHidden());
  pltest::renderWindow(window, "string-only");
  EXPECT_FALSE(colorNear(iconMiddle(window, starX), imagePixel("stars_videocell_icon", 6, 6), 40));
  ns::Locale::setCurrentLocale(std::nullopt);
}

TEST(ViewAndRatingView, CustomFontFallsBackToTheSystemFont) {
  auto font = ViewAndRatingView::customFontOfSize(11);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->pointSize(), 11);
  EXPECT_TRUE(font->isEqual(ak::Font::systemFontOfSize(11).get()));
}

TEST(HoverButton, FadesInUnderTheMouseAndKeepsTheHoveredVideo) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 300, 200), ak::BorderlessWindowMask);
  auto first = ak::make<HoverButton>(MakeRect(10, 10, 40, 40));
  first->setVideoid("abc");
  auto second = ak::make<HoverButton>(MakeRect(100, 10, 40, 40));
  second->setVideoid("xyz");
  window->contentView()->addSubview(first);
  window->contentView()->addSubview(second);
  setHoveredVideoId(std::nullopt);
  EXPECT_EQ(first->alphaValue(), 0.0);
  ASSERT_EQ(first->trackingAreas().size(), 1u);
  EXPECT_EQ(first->trackingAreas()[0]->options(), 0x381u);

  pltest::moveMouse(window, {5, 100});
  pltest::moveMouse(window, {30, 30});
  fixture.app.dispatchQueued();
  EXPECT_EQ(hoveredVideoId(), std::optional<std::string>("abc"));
  fixture.app.advance(0.1);
  EXPECT_GT(first->alphaValue(), 0.0);
  EXPECT_LT(first->alphaValue(), 1.0);
  fixture.app.advance(0.2);
  EXPECT_DOUBLE_EQ(first->alphaValue(), 1.0);

  // Leaving fades the button and clears the id it set.
  pltest::moveMouse(window, {200, 150});
  fixture.app.dispatchQueued();
  EXPECT_EQ(hoveredVideoId(), std::nullopt);
  fixture.app.advance(0.3);
  EXPECT_DOUBLE_EQ(first->alphaValue(), 0.0);

  // A button whose video is not the hovered one leaves the id on its way out.
  pltest::moveMouse(window, {120, 30});
  fixture.app.dispatchQueued();
  EXPECT_EQ(hoveredVideoId(), std::optional<std::string>("xyz"));
  setHoveredVideoId("abc");
  pltest::moveMouse(window, {200, 150});
  fixture.app.dispatchQueued();
  EXPECT_EQ(hoveredVideoId(), std::optional<std::string>("abc"));

  // A new button for the hovered video shows itself on reset; another one stays hidden.
  auto again = ak::make<HoverButton>(MakeRect(10, 100, 40, 40));
  again->setVideoid("abc");
  auto other = ak::make<HoverButton>(MakeRect(100, 100, 40, 40));
  other->setVideoid("xyz");
  window->contentView()->addSubview(again);
  window->contentView()->addSubview(other);
  again->reset();
  other->reset();
  fixture.app.advance(0.3);
  EXPECT_DOUBLE_EQ(again->alphaValue(), 1.0);
  EXPECT_DOUBLE_EQ(other->alphaValue(), 0.0);
  setHoveredVideoId(std::nullopt);
}

TEST(ButtonCell, AClickTellsTheDelegateItsIndex) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 200, 60), ak::BorderlessWindowMask);
  auto row = ak::make<ButtonCell>(MakeRect(0, 30, 200, 30));
  auto none = ak::make<ButtonCell>(MakeRect(0, 0, 200, 30));
  window->contentView()->addSubview(row);
  window->contentView()->addSubview(none);
  std::vector<std::int64_t> clicked;
  auto delegate = std::make_shared<smallviews_test::RecordingDelegate>(clicked);
  row->setButtonCellDelegate(delegate);
  none->setButtonCellDelegate(delegate);
  row->setTitleText("Watch Later");
  row->setIdx(4);
  none->setTitleText("Favorites");
  EXPECT_EQ(none->idx(), -1);
  EXPECT_EQ(row->btn()->frame(), row->bounds());
  // The design's face is not installed: the title falls back to the system font at 13.
  auto font = row->btn()
                  ->attributedTitle()
                  ->fontAttributesInRange(ns::Range{0, 1})
                  .objectForKey(ak::FontAttributeName);
  ASSERT_TRUE(font.objectAs<ak::Font>());
  EXPECT_TRUE(font.objectAs<ak::Font>()->isEqual(ak::Font::systemFontOfSize(13).get()));

  pltest::LogCapture log(true);
  pltest::click(window, {50, 45});
  pltest::click(window, {50, 15});
  fixture.app.dispatchQueued();
  EXPECT_EQ(clicked, std::vector<std::int64_t>{4});
  EXPECT_TRUE(log.contains("onClick:Watch Later"));
  EXPECT_TRUE(log.contains("onClick:Favorites"));
  EXPECT_FALSE(row->selected());  // a click does not select

  // A delegate that went away is not called.
  delegate.reset();
  EXPECT_EQ(row->buttonCellDelegate(), nullptr);
  pltest::click(window, {50, 45});
  fixture.app.dispatchQueued();
  EXPECT_EQ(clicked, std::vector<std::int64_t>{4});
}

TEST(ButtonCell, SelectedRowsShowAWhiteTitleOverTheSelectedBackground) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 200, 30), ak::BorderlessWindowMask);
  window->setBackgroundColor(ak::colors::lightGrayColor());
  auto row = ak::make<ButtonCell>(MakeRect(0, 0, 200, 30));
  window->contentView()->addSubview(row);
  row->setTitleText("WWWWWWWW");
  const ak::RGBA background = imagePixel("menu_selected_bg", 4, 15);
  // The title's ink: the pixels of its first letters, from the left edge.
  auto inkCount = [&](auto&& isInk) {
    int n = 0;
    for (double x = 0; x < 60; ++x)
      for (double y = 8; y < 22; ++y)
        if (isInk(pltest::windowPixel(window, x, y))) ++n;
    return n;
  };
  auto white = [](ak::RGBA p) { return p.r > 230 && p.g > 230 && p.b > 230; };
  auto black = [](ak::RGBA p) { return p.r < 40 && p.g < 40 && p.b < 40 && p.a > 200; };

  pltest::renderWindow(window, "row");
  EXPECT_GT(inkCount(black), 10);
  EXPECT_EQ(inkCount(white), 0);
  EXPECT_FALSE(colorNear(pltest::windowPixel(window, 190, 15), background, 20));

  row->setSelected(true);
  pltest::renderWindow(window, "row-selected");
  EXPECT_TRUE(row->selected());
  EXPECT_GT(inkCount(white), 10);
  EXPECT_EQ(inkCount(black), 0);
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 190, 15), background, 8));

  // While pressed, an unselected row shows the selected background and the white title.
  row->setSelected(false);
  row->btn()->cell()->setHighlighted(true);
  pltest::renderWindow(window, "row-pressed");
  EXPECT_GT(inkCount(white), 10);
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 190, 15), background, 8));
  row->btn()->cell()->setHighlighted(false);
  pltest::renderWindow(window, "row-released");
  EXPECT_EQ(inkCount(white), 0);
}

TEST(MyTableRowView, DrawsARoundedSelectionUnlessTheStyleIsNone) {
  for (long style : {ak::TableViewSelectionHighlightStyleRegular, ak::TableViewSelectionHighlightStyleNone}) {
    SCOPED_TRACE(style);
    AppWithResources fixture;
    auto window = fixture.app.window(MakeRect(0, 0, 200, 120), ak::BorderlessWindowMask);
    auto scroll = ak::make<ak::ScrollView>(MakeRect(0, 0, 200, 120));
    window->setContentView(scroll);
    auto table = ak::make<ak::TableView>(MakeRect(0, 0, 200, 120));
    table->addTableColumn(std::make_shared<ak::TableColumn>("Name"));
    table->setRowHeight(30);
    table->setIntercellSpacing({0, 0});
    table->setBackgroundColor(ak::colors::blackColor());
    table->setSelectionHighlightStyle(style);
    auto rows = ns::make<smallviews_test::Rows>();
    table->setDelegate(rows);
    table->setDataSource(rows);
    scroll->setDocumentView(table);
    table->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(1), false);
    pltest::renderWindow(window, style == -1 ? "row-none" : "row-selected");
    auto rowView = table->rowViewAtRow_makeIfNecessary(1, false);
    ASSERT_TRUE(std::dynamic_pointer_cast<MyTableRowView>(rowView));
    const ak::Rect r = rowView->convertRect_toView(rowView->bounds(), nullptr);
    const ak::RGBA centre = pltest::windowPixel(window, r.origin.x + 100, r.origin.y + 15);
    const ak::RGBA corner = pltest::windowPixel(window, r.origin.x + 1, r.origin.y + 1);
    if (style == -1) {
      EXPECT_LT(centre.r, 30);
    } else {
      EXPECT_TRUE(colorNear(centre, {209, 209, 209, 255}, 2));
      // The stroke along the top edge, and the untouched corner outside the rounding.
      EXPECT_TRUE(colorNear(pltest::windowPixel(window, r.origin.x + 100, r.origin.y + r.size.height - 3),
                            {166, 166, 166, 255}, 30));
    }
    EXPECT_LT(corner.r, 30);
  }
}

TEST(MyNSView, FillsInsideItsCornersOrLetsTheBlockDraw) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 200, 100), ak::BorderlessWindowMask);
  window->setBackgroundColor(ak::colors::blackColor());
  auto square = ak::make<MyNSView>(MakeRect(0, 0, 50, 50));
  auto rounded = ak::make<MyNSView>(MakeRect(60, 0, 50, 50));
  auto blocky = ak::make<MyNSView>(MakeRect(120, 0, 50, 50));
  EXPECT_EQ(square->cornerRadius(), 0.0f);
  EXPECT_TRUE(square->backgroundColor()->isEqual(ak::colors::clearColor().get()));
  const auto red = ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1);
  for (const auto& view : {square, rounded, blocky}) {
    view->setBackgroundColor(red);
    window->contentView()->addSubview(view);
  }
  rounded->setCornerRadius(8);
  std::vector<ak::Rect> calls;
  blocky->setDrawingBlock([&](const ak::BezierPath& outline, ak::Rect rect) {
    calls.push_back(rect);
    EXPECT_EQ(outline.bounds(), rect);
    ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1)->setFill();
    outline.fill();
  });
  pltest::renderWindow(window, "my-views");
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 0, 0), {255, 0, 0, 255}, 2));
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 25, 25), {255, 0, 0, 255}, 2));
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 60, 0), {0, 0, 0, 255}, 2));
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 85, 25), {255, 0, 0, 255}, 2));
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 145, 25), {0, 0, 255, 255}, 2));
  EXPECT_TRUE(colorNear(pltest::windowPixel(window, 120, 0), {0, 0, 255, 255}, 2));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], MakeRect(0, 0, 50, 50));

  // Dragging moves the window unless the main window is in full screen.
  EXPECT_TRUE(square->mouseDownCanMoveWindow());
  auto controller = ns::make<testsupport::FakeMainWindowController>();
  testsupport::FakeMainWindowController::Answers answers;
  answers.fullScreen = true;
  controller->setAnswers(answers);
  testsupport::ScopedMainWindowController installed(controller);
  EXPECT_FALSE(square->mouseDownCanMoveWindow());
}

TEST(VideoListBackgroundView, PaintsTheDarkListGrey) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 100, 100), ak::BorderlessWindowMask);
  window->contentView()->addSubview(ak::make<VideoListBackgroundView>(MakeRect(0, 0, 100, 100)));
  pltest::renderWindow(window, "list-background");
  for (auto [x, y] : std::vector<std::pair<double, double>>{{0, 0}, {50, 50}, {99, 99}})
    EXPECT_TRUE(colorNear(pltest::windowPixel(window, x, y), {42, 42, 42, 255}, 1));
}

TEST(MySearchField, AClickIntoItPostsItsActivationOnce) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 300, 100), ak::BorderlessWindowMask);
  auto field = ak::make<MySearchField>(MakeRect(20, 40, 200, 22));
  window->contentView()->addSubview(field);
  int posted = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      kSearchFieldActivatedNotification, nullptr, nullptr, [&](const auto&) { ++posted; });
  pltest::click(window, {100, 50});
  fixture.app.dispatchQueued();
  EXPECT_EQ(posted, 1);
  EXPECT_TRUE(field->currentEditor());
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
}

TEST(BlackTextFieldCell, EditsBlackTextOnDarkGrey) {
  AppWithResources fixture;
  auto window = fixture.app.window(MakeRect(0, 0, 300, 100), ak::BorderlessWindowMask);
  window->setBackgroundColor(ak::colors::whiteColor());
  ak::NibCoder coder;
  coder.frame = MakeRect(20, 40, 200, 22);
  auto field = std::make_shared<ak::TextField>();
  field->initWithCoder(coder);
  auto cell = std::make_shared<BlackTextFieldCell>();
  cell->initWithCoder(coder);
  EXPECT_FALSE(cell->drawsBackground());
  EXPECT_TRUE(cell->backgroundColor()->isEqual(ak::colors::whiteColor().get()));
  EXPECT_EQ(cell->focusRingType(), ak::FocusRingType::None);
  cell->setEditable(true);
  cell->setStringValue("MMMMMMMM");
  field->setCell(cell);
  window->contentView()->addSubview(field);

  pltest::LogCapture log(true);
  window->makeFirstResponder(field);
  auto editor = field->currentEditor();
  ASSERT_TRUE(editor);
  EXPECT_TRUE(log.contains("-[BlackTextFieldCell setUpFieldEditorAttributes:] called: "));
  EXPECT_TRUE(cell->backgroundColor()->isEqual(ak::colors::darkGrayColor().get()));
  EXPECT_TRUE(editor->drawsBackground());
  pltest::renderWindow(window, "black-field");
  int black = 0, grey = 0;
  for (double x = 22; x < 120; ++x)
    for (double y = 42; y < 60; ++y) {
      auto p = pltest::windowPixel(window, x, y);
      if (p.r < 30 && p.g < 30 && p.b < 30) ++black;
      if (colorNear(p, {85, 85, 85, 255}, 3)) ++grey;
    }
  EXPECT_GT(black, 20);
  EXPECT_GT(grey, 200);
}
