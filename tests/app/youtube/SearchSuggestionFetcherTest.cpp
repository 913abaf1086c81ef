// Search suggestions against the fake suggestion service on loopback: the 0.3 s wait on the
// virtual clock, the latest request winning and bad replies.
#include "app/youtube/SearchSuggestionFetcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/youtube/SuggestServiceConfig.h"
#include "platform/runloop/Thread.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/support/FakeSuggestService.h"

namespace {

using pltest::FakeReply;
using testsupport::FakeSuggestService;

// The listener's side: how often it heard, and whether on the main thread.
class RecordingListener : public SearchSuggestionFetcherDelegate {
 public:
  int available = 0;
  bool offMainThread = false;
  void suggestionsFetched() override {
    ++available;
    if (!ns::Thread::isMainThread()) offMainThread = true;
  }
};

class SearchSuggestionFetcherTest : public ::testing::Test {
 protected:
  SearchSuggestionFetcherTest() {
    sandbox.set(kSuggestServiceURLEnvironmentKey, suggest.url());
    suggestions->setDelegate(pane);
  }

  // Types the text and lets the 0.3 s pass.
  void typeAndWait(const std::string& text) {
    suggestions->setQuery(text);
    clock.advance(kSuggestDelay + 0.01);
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
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;
  std::shared_ptr<RecordingListener> pane = std::make_shared<RecordingListener>();
  ns::Ref<SearchSuggestionFetcher> suggestions = ns::make<SearchSuggestionFetcher>();
};

TEST_F(SearchSuggestionFetcherTest, QuickTypingSendsOneRequestForTheLastTextAfterThePause) {
  EXPECT_TRUE(suggestions->suggestArray().empty());
  suggestions->setQuery("a");
  clock.advance(0.1);
  suggestions->setQuery("a b&c");
  clock.advance(0.1);
  suggestions->setQuery("ab");
  clock.advance(0.29);
  drainMainQueue();
  EXPECT_EQ(suggest.server().requestCount(), 0u);

  clock.advance(0.02);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available > 0; }));
  drainMainQueue();
  EXPECT_EQ(suggest.queries(), std::vector<std::string>{"ab"});
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{"abc", "abd"}));
  EXPECT_EQ(pane->available, 1);
  EXPECT_FALSE(pane->offMainThread);
}

TEST_F(SearchSuggestionFetcherTest, TheTextTravelsEscapedAsTheQueryValue) {
  const std::string text = "r&b + söul=#1?";
  typeAndWait(text);
  ASSERT_TRUE(pltest::pumpUntil([&] { return pane->available > 0; }));
  EXPECT_EQ(suggest.queries(), std::vector<std::string>{text});
  EXPECT_EQ(suggestions->suggestArray(), (std::vector<std::string>{text + "c", text + "d"}));
  EXPECT_EQ(suggest.server().requests().at(0).target, "/complete/search?q=r%26b%20%2B%20s%C3%B6ul%3D%231%3F");
}

TEST_F(SearchSuggestionFetcherTest, DisablingBeforeTheReplyCancelsItAndDeliversNothing) {
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

TEST_F(SearchSuggestionFetcherTest, ALateReplyForAnOlderTextIsDropped) {
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

TEST_F(SearchSuggestionFetcherTest, BadRepliesGiveNoSuggestions) {
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

TEST(SearchSuggestionFetcherReplies, OnlyATextAndAListOfTextsAreSuggestions) {
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
    EXPECT_EQ(SearchSuggestionFetcher::suggestionsFromJSON(json), c.expected) << c.json;
  }
  EXPECT_EQ(SearchSuggestionFetcher::suggestionsFromJSON(ns::Value()), std::nullopt);
}

TEST(SearchSuggestionFetcherConfig, TheQueryIsAddedToTheServiceURL) {
  pltest::Sandbox sandbox;
  sandbox.set(kSuggestServiceURLEnvironmentKey, std::nullopt);
  EXPECT_EQ(suggestServiceURL(), kBuiltInSuggestServiceURL);
  EXPECT_EQ(suggestRequestURL("a b"), std::string(kBuiltInSuggestServiceURL) + "&q=a%20b");
  sandbox.set(kSuggestServiceURLEnvironmentKey, "http://127.0.0.1:9/s");
  EXPECT_EQ(suggestRequestURL("日"), "http://127.0.0.1:9/s?q=%E6%97%A5");
  sandbox.set(kSuggestServiceURLEnvironmentKey, "");
  EXPECT_EQ(suggestServiceURL(), kBuiltInSuggestServiceURL);
}

}  // namespace
