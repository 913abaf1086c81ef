// Lists whose fetch failed, against the fake Data API behind a port that refuses connections
// until the test opens it: a search run again with the same text asks again, a failed list shown
// again or reloaded is fetched again, a search list's reload stays a no-op, and a list that was
// fetched is left alone.
#include <gtest/gtest.h>

#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Window.h"
#include "platform/net/NetworkReachability.h"
#include "platform/testing/FakeRouteState.h"
#include "platform/testing/PortGate.h"
#include "platform/testing/Pump.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "ui/MySearchField.h"

namespace {

using testsupport::FakeDataAPI;

// The real service's quota reply.
FakeDataAPI::Script quotaExceeded(int times) {
  return FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, times,
                             googletest::fixtureText("error-403.json"));
}

// The left pane in a window, with the service reaching the fake through the gate (closed at
// first: the service is down).
struct FailedFetchFixture : browse_test::BrowseFixture {
  FailedFetchFixture() {
    api.serveAsAPIHost();
    app.sandbox().set(kGoogleAPIURLEnvironmentKey, "https://127.0.0.1:" + std::to_string(gate.port()));
    service = ns::make<ApiServiceYouTube>();
    std::tie(window, left) =
        showLeftPane(ak::MakeRect(0, 0, 520, 420), ak::MakeRect(0, 20, 520, 400), [&](auto& answers) {
          answers.youTubeService = service;
          answers.bottomView = ak::make<ak::View>(ak::MakeRect(0, 0, 520, 20));
        });
  }
  ~FailedFetchFixture() { api.release(); }

  // Return in the search field on the text it shows (the page's title), or on `text` typed.
  void returnInTheField(const std::string& text = "") {
    window->makeFirstResponder(left->searchField());
    if (!text.empty()) pltest::typeText(window, text);
    pltest::key(window, ak::kVK_Return, "\r");
    app.dispatchQueued();
  }
  ns::Ref<YTPlaylistViewController> shown() const {
    return std::dynamic_pointer_cast<YTPlaylistViewController>(
        left->navigationController()->getCurrentViewController());
  }
  // Until the list's fetch has ended and the main-queue hand-overs after it ran.
  bool settled(const ns::Ref<YTPlaylistViewController>& list) {
    const bool ended = pltest::pumpUntil([&] { return !list->isFetching(); }, 30);
    pltest::pumpUntil([] { return false; }, 0.2);
    return ended;
  }
  std::size_t calls(const std::string& method) const { return api.callsOf(method).size(); }

  FakeDataAPI api;
  pltest::PortGate gate{static_cast<std::uint16_t>(api.server().port())};
  ns::Ref<ApiServiceYouTube> service;
  ns::Ref<ak::Window> window;
  ns::Ref<LeftViewController> left;
};

TEST(FailedFetch, ReturnOnTheSameTextSearchesAgainAfterARefusedConnectionAndAQuotaError) {
  FailedFetchFixture f;
  f.api.seedFromFixture("search", googletest::fixtureText("search-1.json"));
  f.api.script("youtube.search.list", quotaExceeded(1));

  // The service is down: the connection is refused.
  f.returnInTheField("cats");
  auto list = f.shown();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->getDictionaryKey(), "search_relevance_cats");
  ASSERT_TRUE(f.settled(list));
  EXPECT_TRUE(list->fetchFailed());
  EXPECT_TRUE(list->cellArray().empty());
  EXPECT_EQ(f.calls("youtube.search.list"), 0u);
  // A search list's reload stays a no-op, failed or not.
  list->reloadList();
  EXPECT_FALSE(list->isFetching());

  // Back up, it answers the quota error first: the same text asks again.
  f.gate.open();
  f.returnInTheField();
  EXPECT_EQ(f.shown(), list);
  ASSERT_TRUE(f.settled(list));
  EXPECT_EQ(f.calls("youtube.search.list"), 1u);
  EXPECT_TRUE(list->fetchFailed());
  EXPECT_TRUE(list->cellArray().empty());

  // Then the results, for the same query.
  f.returnInTheField();
  ASSERT_TRUE(f.settled(list));
  const auto searches = f.api.callsOf("youtube.search.list");
  ASSERT_GE(searches.size(), 2u);
  EXPECT_EQ(searches[1].params["q"].stringValue(), "cats");
  EXPECT_FALSE(list->fetchFailed());
  EXPECT_FALSE(list->cellArray().empty());

  // A search that worked is not run again by the same text.
  f.returnInTheField();
  EXPECT_FALSE(list->isFetching());
}

TEST(FailedFetch, AFailedListIsFetchedAgainWhenShownAgainOrReloaded) {
  for (const std::string type : {"playlists", "feed"}) {
    SCOPED_TRACE(type);
    FailedFetchFixture f;
    const std::string method = type == "feed" ? "youtube.videos.list" : "youtube.playlistItems.list";
    if (type == "feed") {
      // The fake filters every list by the playlist id the feed query sends along.
      f.api.seed("videos", {R"({"kind": "youtube#video", "id": "feedVideo01",
                               "snippet": {"playlistId": "10", "title": "Popular", "thumbnails": {}}})"});
    } else {
      f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
    }
    f.gate.open();
    f.api.script(method, quotaExceeded(2));
    auto navigation = f.left->navigationController();
    auto list =
        getPlaylistViewController("List", type, type == "feed" ? "10" : "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ");
    navigation->pushViewController_animated(list, true);
    ASSERT_TRUE(f.settled(list));
    EXPECT_EQ(f.calls(method), 1u);
    EXPECT_TRUE(list->fetchFailed());
    EXPECT_TRUE(list->refreshBtn()->isEnabled());

    // Shown again (back to the menu page, then chosen again): fetched again.
    navigation->goBack();
    navigation->pushViewController_animated(list, true);
    ASSERT_TRUE(f.settled(list));
    EXPECT_EQ(f.calls(method), 2u);
    EXPECT_TRUE(list->fetchFailed());

    // Reloaded: fetched again, and this time the rows come.
    list->reloadList();
    ASSERT_TRUE(f.settled(list));
    EXPECT_GE(f.calls(method), 3u);
    EXPECT_FALSE(list->fetchFailed());
    EXPECT_FALSE(list->cellArray().empty());

    // A list that was fetched is shown again as it is.
    navigation->goBack();
    navigation->pushViewController_animated(list, true);
    EXPECT_FALSE(list->isFetching());
  }
}

TEST(FailedFetch, AListThatCouldNotFetchOfflineIsFetchedWhenShownOnline) {
  FailedFetchFixture f;
  f.gate.open();
  f.api.seedFromFixture("search", googletest::fixtureText("search-1.json"));
  auto routes = std::make_shared<pltest::FakeRouteState>(0);
  sc::NetworkReachability::setDefaultRouteStateSource(routes);
  struct Restore {
    ~Restore() { sc::NetworkReachability::setDefaultRouteStateSource(nullptr); }
  } restore;
  f.returnInTheField("cats");
  auto list = f.shown();
  ASSERT_TRUE(list);
  EXPECT_FALSE(list->isFetching());
  EXPECT_TRUE(list->fetchFailed());

  routes->setFlags(sc::kSCNetworkReachabilityFlagsReachable);
  f.returnInTheField();
  ASSERT_TRUE(f.settled(list));
  EXPECT_GE(f.calls("youtube.search.list"), 1u);
  EXPECT_FALSE(list->cellArray().empty());
}

}  // namespace
