// The search field's suggestion table, headless, fed from the fake suggestion service on
// loopback with the virtual clock: its rows, the highlighted row, and a click on a row.
#include "app/browse/SearchAutoComplete.h"

#include <gtest/gtest.h>

#include "app/youtube/SuggestServiceConfig.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/support/FakeSuggestService.h"

namespace {

using testsupport::FakeSuggestService;

// The left pane's side: what it heard.
class SuggestionPane : public SearchAutoCompleteDelegate {
 public:
  int available = 0;
  std::vector<std::string> searches;
  void autoCompleteAvailable() override { ++available; }
  void runSearchWithQuery(const std::string& query) override { searches.push_back(query); }
};

class SuggestionTableTest : public ::testing::Test {
 protected:
  SuggestionTableTest() {
    app.sandbox().set(kSuggestServiceURLEnvironmentKey, suggest.url());
    suggestions->setDelegate(pane);
  }

  // Types the text and lets the 0.3 s pass.
  void typeAndWait(const std::string& text) {
    suggestions->setQuery(text);
    app.advance(kSuggestDelay + 0.01);
  }

  FakeSuggestService suggest;
  pltest::HeadlessApp app;
  std::shared_ptr<SuggestionPane> pane = std::make_shared<SuggestionPane>();
  ns::Ref<SearchAutoComplete> suggestions = SearchAutoComplete::init();
};

TEST_F(SuggestionTableTest, TheTableShowsTheSuggestionsDrawsTheSelectedRowAndSearchesAClickedOne) {
  auto window = app.window(ak::MakeRect(100, 100, 200, 100), ak::BorderlessWindowMask);
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, 200, 100));
  auto column = std::make_shared<ak::TableColumn>("Suggestion");
  column->setWidth(200);
  table->addTableColumn(column);
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, 200, 100));
  window->setContentView(scroll);
  scroll->setDocumentView(table);
  suggestions->setTableView(table);
  EXPECT_EQ(table->dataSource(), suggestions);
  EXPECT_EQ(table->delegate(), suggestions);

  typeAndWait("ab");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == 1; }));
  EXPECT_EQ(table->numberOfRows(), 2);
  EXPECT_EQ(table->preparedCellAtColumn_row(0, 1)->stringValue(), "abd");

  // A point of a row right of its text, in the window's coordinates.
  auto pointInRow = [&](long row) {
    ak::Rect r = table->rectOfRow(row);
    return table->convertPoint_toView({r.origin.x + r.size.width - 6, r.origin.y + r.size.height / 2},
                                      nullptr);
  };
  suggestions->setSelectedRow(1);
  pltest::renderWindow(window, "row-1-selected");
  const auto& expected = ak::colors::alternateSelectedControlColor();
  auto near = [](std::uint8_t a, double b) { return std::abs(int(a) - int(b * 255 + 0.5)) <= 2; };
  ak::RGBA selected = pltest::windowPixel(window, pointInRow(1).x, pointInRow(1).y);
  EXPECT_TRUE(near(selected.r, expected->redComponent()) && near(selected.g, expected->greenComponent()) &&
              near(selected.b, expected->blueComponent()))
      << pltest::describe(selected);
  ak::RGBA other = pltest::windowPixel(window, pointInRow(0).x, pointInRow(0).y);
  EXPECT_EQ(other, (ak::RGBA{255, 255, 255, 255})) << pltest::describe(other);

  // Back to none: no row is drawn highlighted.
  suggestions->setSelectedRow(-1);
  pltest::renderWindow(window, "none-selected");
  EXPECT_EQ(pltest::windowPixel(window, pointInRow(1).x, pointInRow(1).y), (ak::RGBA{255, 255, 255, 255}));

  pltest::click(window, pointInRow(0));
  app.dispatchQueued();
  EXPECT_EQ(pane->searches, std::vector<std::string>{"abc"});
  EXPECT_EQ(suggestions->selectedRow(), 0);
  // A click below the rows searches nothing.
  ak::Rect last = table->rectOfRow(1);
  pltest::click(window, table->convertPoint_toView({100, last.origin.y + last.size.height + 20}, nullptr));
  app.dispatchQueued();
  EXPECT_EQ(pane->searches.size(), 1u);
}

TEST_F(SuggestionTableTest, NewSuggestionsClearTheHighlightAndRefillTheTable) {
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, 200, 100));
  table->addTableColumn(std::make_shared<ak::TableColumn>("Suggestion"));
  suggestions->setTableView(table);
  EXPECT_TRUE(suggestions->suggestArray().empty());
  EXPECT_EQ(suggestions->selectedRow(), -1);
  EXPECT_EQ(table->numberOfRows(), 0);

  typeAndWait("ab");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == 1; }));
  suggestions->setSelectedRow(1);
  suggest.answer("xyz",
                 pltest::FakeReply::json(200, FakeSuggestService::suggestionsJSON("xyz", {"x", "y", "z"})));
  typeAndWait("xyz");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == 2; }));
  // Row 1 of the old list is not row 1 of the new one.
  EXPECT_EQ(suggestions->selectedRow(), -1);
  EXPECT_EQ(suggestions->query(), "xyz");
  EXPECT_EQ(table->numberOfRows(), 3);
  EXPECT_EQ(table->preparedCellAtColumn_row(0, 2)->stringValue(), "z");
}

}  // namespace
