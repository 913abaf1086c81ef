// Search suggestions against the fake suggestion service on loopback: the 0.3 s wait on the
// virtual clock, the latest request winning, bad replies, and the headless suggestion table.
#include "app/youtube/SearchAutoComplete.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/youtube/SuggestServiceConfig.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/runloop/Thread.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/ui/Canvas.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/support/FakeSuggestService.h"

namespace {

using pltest::FakeReply;
using testsupport::FakeSuggestService;

// The left pane's side: what it heard, and whether on the main thread.
class RecordingPane : public SearchAutoCompleteDelegate {
 public:
  int available = 0;
  bool offMainThread = false;
  std::vector<std::string> searches;
  void autoCompleteAvailable() override {
    ++available;
    if (!ns::Thread::isMainThread()) offMainThread = true;
  }
  void runSearchWithQuery(const std::string& query) override { searches.push_back(query); }
};

class SearchAutoCompleteTest : public ::testing::Test {
 protected:
  SearchAutoCompleteTest() {
    app.sandbox().set(kSuggestServiceURLEnvironmentKey, suggest.url());
    suggestions->setDelegate(pane);
  }

  // Types the text and lets the 0.3 s pass.
  void typeAndWait(const std::string& text) {
    suggestions->setQuery(text);
    app.advance(kSuggestDelay + 0.01);
  }
  // Runs the main run loop until a block queued now has run, so that a delivery already on its
  // way would have been seen.
  void drainMainQueue() {
    bool ran = false;
    ns::RunLoop::currentRunLoop()->performInModes_block({ns::DefaultRunLoopMode}, [&] { ran = true; });
    ASSERT_TRUE(pltest::pumpUntil([&] { return ran; }));
  }
  void waitUntilAnswered(const std::string& text) {
    ASSERT_TRUE(pltest::pumpUntil([&] {
      auto a = suggest.answered();
      return std::find(a.begin(), a.end(), text) != a.end();
    }));
  }

  FakeSuggestService suggest;
  pltest::HeadlessApp app;
  std::shared_ptr<RecordingPane> pane = std::make_shared<RecordingPane>();
  ns::Ref<SearchAutoComplete> suggestions = SearchAutoComplete::init();
};

TEST_F(SearchAutoCompleteTest, QuickTypingSendsOneRequestForTheLastTextAfterThePause) {
  EXPECT_TRUE(suggestions->suggestArray().empty());
  EXPECT_EQ(suggestions->selectedRow(), -1);
  suggestions->setQuery("a");
  app.advance(0.1);
  suggestions->setQuery("a b&c");
  app.advance(0.1);
  suggestions->setQuery("ab");
  app.advance(0.29);
  drainMainQueue();
  EXPECT_EQ(suggest.server().requestCount(), 0u);

  app.advance(0.02);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available > 0; }));
  drainMainQueue();
  EXPECT_EQ(suggest.queries(), std::vector<std::string>{"ab"});
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{"abc", "abd"}));
  EXPECT_EQ(pane->available, 1);
  EXPECT_FALSE(pane->offMainThread);
}

TEST_F(SearchAutoCompleteTest, TheTextTravelsEscapedAsTheQueryValue) {
  const std::string text = "r&b + söul=#1?";
  typeAndWait(text);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available > 0; }));
  EXPECT_EQ(suggest.queries(), std::vector<std::string>{text});
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{text + "c", text + "d"}));
  EXPECT_EQ(suggest.server().requests().at(0).target, "/complete/search?q=r%26b%20%2B%20s%C3%B6ul%3D%231%3F");
}

TEST_F(SearchAutoCompleteTest, DisablingBeforeTheReplyCancelsItAndDeliversNothing) {
  suggest.hold("ab");
  typeAndWait("ab");
  ASSERT_TRUE(suggest.waitForQueries(1));
  suggestions->setEnabled(false);
  suggest.release("ab");
  waitUntilAnswered("ab");
  drainMainQueue();
  EXPECT_EQ(pane->available, 0);
  EXPECT_TRUE(suggestions->suggestArray().empty());

  // Disabled, the pause asks nothing; enabled again, typing works as before.
  typeAndWait("abc");
  drainMainQueue();
  EXPECT_EQ(suggest.server().requestCount(), 1u);
  suggestions->setEnabled(true);
  typeAndWait("abc");
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == 1; }));
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{"abcc", "abcd"}));
}

TEST_F(SearchAutoCompleteTest, ALateReplyForAnOlderTextIsDropped) {
  suggest.hold("a");
  typeAndWait("a");
  ASSERT_TRUE(suggest.waitForQueries(1));
  typeAndWait("ab");
  ASSERT_TRUE(suggest.waitForQueries(2));
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == 1; }));
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{"abc", "abd"}));

  suggest.release("a");
  waitUntilAnswered("a");
  drainMainQueue();
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{"abc", "abd"}));
  EXPECT_EQ(pane->available, 1);
}

TEST_F(SearchAutoCompleteTest, BadRepliesGiveNoSuggestions) {
  struct Case {
    const char* text;
    FakeReply reply;
  };
  const std::string huge(10 * 1024 * 1024, 'x');
  Case cases[] = {
      {"html", FakeReply::text(200, "<html><body>Sign in to go on</body></html>", "text/html")},
      {"big", FakeReply::json(200, FakeSuggestService::suggestionsJSON("big", {huge}))},
      {"object", FakeReply::json(200, R"({"q": "object", "s": ["objectc"]})")},
      {"status", FakeReply::json(500, FakeSuggestService::suggestionsJSON("status", {"statusc"}))},
  };
  for (auto& c : cases) suggest.answer(c.text, c.reply);
  int expected = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    // Good suggestions first, so that the bad reply is seen to clear them.
    typeAndWait("ok");
    ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == expected + 1; }));
    ASSERT_EQ(suggestions->suggestArray().size(), 2u);
    typeAndWait(c.text);
    ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available == expected + 2; }, 30));
    EXPECT_TRUE(suggestions->suggestArray().empty());
    expected += 2;
  }
}

TEST(SearchAutoCompleteReplies, OnlyATextAndAListOfTextsAreSuggestions) {
  struct Case {
    const char* json;
    std::optional<std::vector<std::string>> expected;
  } cases[] = {
      {R"(["ab", ["abc", "abd"]])", std::vector<std::string>{"abc", "abd"}},
      {R"(["ab", ["abc", 7, null, ["x"], "abd"], {"extra": 1}])", std::vector<std::string>{"abc", "abd"}},
      {R"(["ab", []])", std::vector<std::string>{}},
      {R"({"ab": ["abc"]})", std::nullopt},
      {R"(["ab"])", std::nullopt},
      {R"(["ab", "abc"])", std::nullopt},
      {R"([1, ["abc"]])", std::nullopt},
      {R"("ab")", std::nullopt},
  };
  for (const auto& c : cases) {
    ns::Value json =
        ns::JSONSerialization::JSONObjectWithData_options_error(ns::Data(std::string(c.json)), 0, nullptr);
    EXPECT_EQ(SearchAutoComplete::suggestionsFromJSON(json), c.expected) << c.json;
  }
  EXPECT_EQ(SearchAutoComplete::suggestionsFromJSON(ns::Value()), std::nullopt);
}

TEST(SearchAutoCompleteConfig, TheQueryIsAddedToTheServiceURL) {
  pltest::Sandbox sandbox;
  sandbox.set(kSuggestServiceURLEnvironmentKey, std::nullopt);
  EXPECT_EQ(suggestServiceURL(), kBuiltInSuggestServiceURL);
  EXPECT_EQ(suggestRequestURL("a b"), std::string(kBuiltInSuggestServiceURL) + "&q=a%20b");
  sandbox.set(kSuggestServiceURLEnvironmentKey, "http://127.0.0.1:9/s");
  EXPECT_EQ(suggestRequestURL("日"), "http://127.0.0.1:9/s?q=%E6%97%A5");
  sandbox.set(kSuggestServiceURLEnvironmentKey, "");
  EXPECT_EQ(suggestServiceURL(), kBuiltInSuggestServiceURL);
}

TEST_F(SearchAutoCompleteTest, TheTableShowsTheSuggestionsDrawsTheSelectedRowAndSearchesAClickedOne) {
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

}  // namespace
