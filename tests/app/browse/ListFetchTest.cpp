// The list panes filling themselves: the query of each request type, pages and their rows from
// the fake Data API serving tests/fixtures, the detail enrichment through the disk cache,
// paging by scrolling, the account's list cache and the ends of failed fetches.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>

#include "app/browse/SearchHistory.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/cache/CacheFiles.h"
#include "app/cache/CacheState.h"
#include "app/library/DBAccess.h"
#include "app/youtube/VideoDetailRecord.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/NetworkReachability.h"
#include "platform/net/URL.h"
#include "platform/testing/FakeRouteState.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeDataAPI.h"

namespace {

using browse_test::BrowseFixture;
using testsupport::DataAPICall;
using testsupport::FakeDataAPI;

// A fixture with the fake Data API as the main window's service.
struct FetchFixture : BrowseFixture {
  FetchFixture() {
    app.sandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api.serveAsAPIHost();
    setAnswers([&](auto& answers) { answers.youTubeService = service; });
  }
  ~FetchFixture() { api.release(); }

  std::vector<DataAPICall> waitForCalls(const std::string& method, std::size_t count = 1) {
    pltest::pumpUntil([&] { return api.callsOf(method).size() >= count; }, 30);
    return api.callsOf(method);
  }
  ns::Ref<YTPlaylistViewController> open(const std::string& type, const std::string& id) {
    auto list = getPlaylistViewController(id, type, id);
    list->view();
    return list;
  }
  void waitUntilDone(const ns::Ref<YTPlaylistViewController>& list) {
    ASSERT_TRUE(pltest::pumpUntil([&] { return !list->isFetching(); }, 30));
    // The main-queue hand-overs after the last reply.
    pltest::pumpUntil([] { return false; }, 0.2);
  }

  FakeDataAPI api;
  ns::Ref<ApiServiceYouTube> service = ns::make<ApiServiceYouTube>();
};

std::string param(const DataAPICall& call, const std::string& name) {
  const ns::Value& value = call.params[name];
  if (value.isNil()) return "<none>";
  if (value.isString()) return value.stringValue();
  return std::to_string(value.longLongValue());
}

TEST(ListFetch, EachRequestTypeAsksItsQuery) {
  struct Case {
    const char* type;
    const char* id;
    bool mine;
    const char* method;
    std::vector<std::pair<std::string, std::string>> params;
  };
  const std::vector<Case> cases = {
      {"search_viewcount",
       "cats",
       false,
       "youtube.search.list",
       {{"part", "snippet"},
        {"order", "viewcount"},
        {"type", "video"},
        {"maxResults", "25"},
        {"q", "cats"},
        {"regionCode", "US"},
        {"safeSearch", "none"},
        {"videoDefinition", "<none>"}}},
      {"search_playlist",
       "cats",
       false,
       "youtube.search.list",
       {{"type", "playlist"}, {"order", "relevance"}, {"maxResults", "20"}}},
      {"search_channel",
       "cats",
       false,
       "youtube.search.list",
       {{"type", "channel"}, {"order", "relevance"}, {"maxResults", "20"}}},
      {"feed",
       "10",
       false,
       "youtube.videos.list",
       {{"part", "snippet,id"},
        {"chart", "mostPopular"},
        {"videoCategoryId", "10"},
        {"playlistId", "10"},
        {"regionCode", "US"},
        {"maxResults", "25"},
        {"fields", "items(id,snippet(title,thumbnails))"}}},
      {"related",
       "oBM7DIeMsP0",
       false,
       "youtube.search.list",
       {{"relatedToVideoId", "oBM7DIeMsP0"},
        {"type", "video"},
        {"regionCode", "<none>"},
        {"safeSearch", "<none>"}}},
      {"newsubscriptionvideo",
       "",
       false,
       "youtube.activities.list",
       {{"part", "snippet,contentDetails"}, {"home", "1"}, {"maxResults", "50"}}},
      {"playlists",
       "PLmine",
       true,
       "youtube.playlistItems.list",
       {{"part", "snippet"}, {"mine", "1"}, {"playlistId", "PLmine"}, {"maxResults", "25"}}},
      {"playlists", "PLother", false, "youtube.playlistItems.list", {{"mine", "<none>"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.id);
    FetchFixture f;
    auto list = getPlaylistViewController(c.id, c.mine ? "playlists" : c.type, c.id);
    list->setIsMyPlaylist(c.mine);
    list->view();
    auto calls = f.waitForCalls(c.method);
    ASSERT_FALSE(calls.empty());
    for (const auto& [name, expected] : c.params) EXPECT_EQ(param(calls[0], name), expected) << name;
    f.waitUntilDone(list);
  }
}

TEST(ListFetch, PagesFillTheListUntilFiftyRowsThenStoreIt) {
  FetchFixture f;
  f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
  f.api.seedGenerated("playlistItems", 55);
  auto list = f.open("playlists", "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ");
  f.waitUntilDone(list);
  auto pages = f.api.callsOf("youtube.playlistItems.list");
  // 60 items, pages of 25: the third page is asked while fewer than 50 rows are shown.
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(param(pages[0], "pageToken"), "<none>");
  EXPECT_NE(param(pages[1], "pageToken"), "<none>");
  ASSERT_EQ(list->cellArray().size(), 60u);
  EXPECT_EQ(list->cellArray()[0]->videoid(), "0N9H1SHL6Pg");
  EXPECT_TRUE(list->cellArray()[0]->playlistItemId().has_value());
  EXPECT_TRUE(list->refreshBtn()->isEnabled());
  EXPECT_EQ(list->nextQuery(), nullptr);
  auto stored = f.account->getPlaylistCache_withId("playlists", "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ");
  ASSERT_TRUE(stored);
  EXPECT_FALSE(stored->empty());
}

TEST(ListFetch, RowsAreCompletedFromDetailsKeptThreeDays) {
  FetchFixture f;
  f.app.sandbox().set("TZ", "UTC");
  tzset();
  for (const char* id : {"oBM7DIeMsP0", "TlHvYWVUZyc"})
    f.api.seed("playlistItems", {std::string(R"({"kind": "youtube#playlistItem", "id": "PI_)") + id +
                                 R"(", "snippet": {"playlistId": "PLpope", "title": "t", "resourceId": )" +
                                 R"({"kind": "youtube#video", "videoId": ")" + id + R"("}}})"});
  f.api.seedFromFixture("videos", googletest::fixtureText("videos-1.json"));
  f.api.seedFromFixture("videos", googletest::fixtureText("videos-2.json"));
  f.api.seedFromFixture("channels", googletest::fixtureText("channels-1.json"));
  auto list = f.open("playlists", "PLpope");
  f.waitUntilDone(list);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return !list->cellArray().empty() && list->cellArray()[0]->author() == "C-SPAN"; }, 30));
  auto first = list->cellArray()[0];
  EXPECT_EQ(first->videoid(), "oBM7DIeMsP0");
  EXPECT_EQ(first->duration(), 3233);
  EXPECT_EQ(first->viewCount(), 458565);
  EXPECT_NEAR(first->rating(), 4.5009, 0.0001);
  EXPECT_EQ(first->date(), "2015-09-24");
  ASSERT_EQ(list->cellArray().size(), 2u);
  auto second = list->cellArray()[1];
  EXPECT_EQ(second->videoid(), "TlHvYWVUZyc");
  EXPECT_EQ(second->duration(), 388);
  EXPECT_FLOAT_EQ(second->rating(), 5.0f);
  getSharedGVCache()->synchronize();
  auto record = cachedVideoDetailRecord("oBM7DIeMsP0");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->channelId, "UCb--64Gl51jIEVE-GLDAVTg");
  EXPECT_EQ(record->duration, "PT53M53S");
  EXPECT_EQ(cachedChannelTitle("UCb--64Gl51jIEVE-GLDAVTg"), "C-SPAN");
  const auto asked = f.api.callsOf("youtube.videos.list").size();
  EXPECT_GE(asked, 1u);

  // A second pane naming the same videos finds their details stored.
  resetPlaylistRegistryForTesting();
  auto again = f.open("subscriptions", "PLpope");
  f.waitUntilDone(again);
  EXPECT_EQ(f.api.callsOf("youtube.videos.list").size(), asked);
  ASSERT_FALSE(again->cellArray().empty());
  EXPECT_EQ(again->cellArray()[0]->duration(), 3233);
}

TEST(ListFetch, SixtyIdsAreAskedInThreeBatchesOneAfterTheOther) {
  FetchFixture f;
  auto list = f.open("cachedvideos", "x");
  f.waitUntilDone(list);
  std::vector<std::string> ids;
  for (int i = 0; i < 60; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "VID%08d", i);
    ids.push_back(id);
    auto row = SearchEntry::init();
    row->setVideoid(id);
    list->cellArray().push_back(row);
  }
  list->requestVideoInfo_withTitle(ids, false);
  auto calls = f.waitForCalls("youtube.videos.list", 3);
  ASSERT_EQ(calls.size(), 3u);
  const std::string firstIds = param(calls[0], "id"), lastIds = param(calls[2], "id");
  EXPECT_EQ(std::count(firstIds.begin(), firstIds.end(), ','), 24);
  EXPECT_EQ(param(calls[0], "id").substr(0, 11), "VID00000000");
  EXPECT_EQ(param(calls[1], "id").substr(0, 11), "VID00000025");
  EXPECT_EQ(param(calls[2], "id").substr(0, 11), "VID00000050");
  EXPECT_EQ(std::count(lastIds.begin(), lastIds.end(), ','), 9);
  EXPECT_EQ(param(calls[0], "fields"),
            "items(id,snippet(channelId,publishedAt),contentDetails(duration),statistics)");
}

TEST(ListFetch, AFailedBatchEndsTheChain) {
  FetchFixture f;
  auto list = f.open("cachedvideos", "x");
  f.waitUntilDone(list);
  std::vector<std::string> ids;
  for (int i = 0; i < 60; ++i) ids.push_back("VID" + std::to_string(10000000 + i));
  f.api.script("youtube.videos.list", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, -1,
                                                          googletest::fixtureText("error-403.json")));
  list->requestVideoInfo_withTitle(ids, false);
  f.waitForCalls("youtube.videos.list", 1);
  pltest::pumpUntil([] { return false; }, 0.5);
  EXPECT_EQ(f.api.callsOf("youtube.videos.list").size(), 1u);
}

TEST(ListFetch, AFailedPageOrUnknownTypeEndsTheFetchAndKeepsTheRows) {
  FetchFixture f;
  f.api.script("youtube.playlistItems.list", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, -1,
                                                                 googletest::fixtureText("error-403.json")));
  auto list = getPlaylistViewController("P", "playlists", "PL1");
  list->setCellArray(browse_test::numberedRows(3));
  list->view();
  f.waitUntilDone(list);
  EXPECT_EQ(list->cellArray().size(), 3u);
  EXPECT_TRUE(list->refreshBtn()->isEnabled());

  auto odd = f.open("nosuchtype", "x");
  EXPECT_FALSE(odd->isFetching());
  EXPECT_TRUE(odd->refreshBtn()->isEnabled());
}

TEST(ListFetch, ScrollingNearTheEndRunsThePendingPageOnce) {
  FetchFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 540), ak::BorderlessWindowMask);
  auto list = f.open("cachedvideos", "x");
  f.waitUntilDone(list);
  list->view()->setFrame(window->contentView()->bounds());
  window->contentView()->addSubview(list->view());
  list->setCellArray(browse_test::numberedRows(30));
  list->refreshTableView();
  const double visible = list->scrollView()->documentVisibleRect().size.height;
  auto pending = ApiQueryYouTube::queryForPlaylistItemsListWithPart("snippet");
  pending->setPlaylistId("PLnext");
  pending->setPageToken("NEXT");
  list->setNextQuery(pending);

  auto scrollTo = [&](double y) {
    auto clip = list->scrollView()->contentView();
    auto bounds = clip->bounds();
    bounds.origin.y = y;
    clip->setBounds(bounds);
  };
  // The threshold is 30 × 83 − 166 = 2324.
  scrollTo(2323 - visible);
  EXPECT_EQ(list->nextQuery(), pending);
  scrollTo(2324 - visible);
  EXPECT_EQ(list->nextQuery(), nullptr);
  for (int i = 0; i < 5; ++i) scrollTo(2330 - visible + i);
  auto calls = f.waitForCalls("youtube.playlistItems.list");
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.list").size(), 1u);
  EXPECT_EQ(param(calls[0], "pageToken"), "NEXT");

  // One row never pages.
  list->setCellArray(browse_test::numberedRows(1));
  list->setNextQuery(pending);
  scrollTo(0);
  scrollTo(1);
  EXPECT_EQ(list->nextQuery(), pending);
}

// The second's wait before a shown copy is checked outlasts a change of account: the list is
// neither fetched for the next account nor stored in its cache.
TEST(ListFetch, AStoredCopyShownJustBeforeTheAccountChangedIsNotFetchedForTheNextOne) {
  FetchFixture f;
  f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
  const std::string id = "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ";
  ns::Array values;
  for (const auto& row : browse_test::numberedRows(4)) values.push_back(ns::Value(row));
  for (const bool signedOut : {false, true}) {
    resetPlaylistRegistryForTesting();
    f.main->setAccountCache(f.account);
    f.account->savePlaylistCache_type_withId(values, "playlists", id);
    auto shown = f.open("playlists", id);
    ASSERT_TRUE(shown->fetchedFromCache());
    auto next = ns::make<AccountCache>();
    next->setEmail("b@example.com");
    f.main->setAccountCache(signedOut ? nullptr : next);
    f.app.advance(2);
    ASSERT_TRUE(pltest::drainMode());
    EXPECT_FALSE(shown->isFetching()) << signedOut;
    pltest::pumpUntil([] { return false; }, 0.3);
    EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.list").empty()) << signedOut;
    EXPECT_FALSE(next->hasPlaylistCache_withId("playlists", id)) << signedOut;
    EXPECT_EQ(shown->cellArray().size(), 4u) << signedOut;
  }
}

TEST(ListFetch, TheStoredCopyShowsAtOnceAndIsReplacedOnlyWhenStale) {
  FetchFixture f;
  pltest::VirtualClock clock;
  f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
  auto store = [&](const std::string& id) {
    ns::Array values;
    for (const auto& row : browse_test::numberedRows(4)) values.push_back(ns::Value(row));
    f.account->savePlaylistCache_type_withId(values, "playlists", id);
  };
  const std::string id = "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ";
  store(id);
  auto fresh = f.open("playlists", id);
  EXPECT_EQ(fresh->cellArray().size(), 4u);
  EXPECT_TRUE(fresh->fetchedFromCache());
  clock.advance(2);
  pltest::pumpUntil([] { return false; }, 0.3);
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.list").empty());
  EXPECT_EQ(fresh->cellArray().size(), 4u);

  // Stale: the stored rows first, the query one second later, then the network's rows instead.
  resetPlaylistRegistryForTesting();
  clock.advance(601);
  auto stale = f.open("playlists", id);
  EXPECT_EQ(stale->cellArray().size(), 4u);
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.list").empty());
  clock.advance(1);
  f.waitForCalls("youtube.playlistItems.list");
  ASSERT_TRUE(pltest::pumpUntil([&] { return !stale->isFetching(); }, 30));
  ASSERT_TRUE(pltest::pumpUntil([&] { return stale->cellArray().size() == 5u; }, 30));
  EXPECT_EQ(stale->cellArray()[0]->videoid(), "0N9H1SHL6Pg");
  EXPECT_FALSE(stale->fetchedFromCache());

  // Searches are never stored.
  auto search = f.open("search_relevance", "cats");
  f.waitUntilDone(search);
  EXPECT_FALSE(f.account->hasPlaylistCache_withId("search_relevance", "cats"));
}

TEST(ListFetch, SignedOutEveryListIsFetched) {
  FetchFixture f;
  f.main->setAccountCache(nullptr);
  f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
  auto list = f.open("playlists", "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ");
  f.waitUntilDone(list);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.list").size(), 1u);
  EXPECT_EQ(list->cellArray().size(), 5u);
  EXPECT_FALSE(list->fetchedFromCache());
}

}  // namespace

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(ListFetch, CachedVideosListNewestFileFirstAndAskTheMissingTitles) {
  FetchFixture f;
  std::filesystem::create_directories(f.app.sandbox().path("home/.local/share/Pelorin"));
  DBAccess::resetForTesting();
  resetCacheStateTablesForTesting();
  installCacheStateFunctions();
  const std::string older = getCacheFolderPath() + "/a.mp4";
  const std::string saved = f.app.sandbox().path("Movies/b.mp4");
  writeFile(older, "a");
  writeFile(saved, "bb");
  const auto now = std::filesystem::file_time_type::clock::now();
  std::filesystem::last_write_time(older, now - std::chrono::hours(2));
  std::filesystem::last_write_time(saved, now - std::chrono::hours(1));
  setVideoCacheState("a", true);
  saveDownloadedVideoPath("b", saved);
  setVideoCacheState("b", false);
  auto known = SearchEntry::init();
  known->setVideoid("b");
  known->setTitle("Saved B");
  ASSERT_TRUE(known->saveToCache());
  f.api.seed("videos", {R"({"kind": "youtube#video", "id": "a", "snippet": {"title": "Fetched A",
      "channelId": "UCa", "publishedAt": "2015-09-24T10:00:00Z",
      "thumbnails": {"default": {"url": "https://i.ytimg.com/vi/a/default.jpg"}}},
      "contentDetails": {"duration": "PT1M"}, "statistics": {"viewCount": "7"}})"});

  auto list = f.open("cachedvideos", "cachedvideos");
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 2u; }, 30));
  EXPECT_EQ(list->cellArray()[0]->videoid(), "b");
  EXPECT_EQ(list->cellArray()[0]->title(), "Saved B");
  EXPECT_EQ(list->cellArray()[1]->videoid(), "a");
  auto calls = f.waitForCalls("youtube.videos.list");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(param(calls[0], "id"), "a");
  EXPECT_EQ(param(calls[0], "fields"),
            "items(id,snippet(title,channelId,publishedAt,thumbnails),contentDetails(duration),statistics)");
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray()[1]->title() == "Fetched A"; }, 30));
  EXPECT_FALSE(list->isFetching());
  ASSERT_TRUE(pltest::pumpUntil([&] { return SearchEntry::initWithCache("a") != nullptr; }, 30));
  EXPECT_EQ(SearchEntry::initWithCache("a")->title(), "Fetched A");
  // The scan is never stored in the account's lists.
  EXPECT_FALSE(f.account->hasPlaylistCache_withId("cachedvideos", "cachedvideos"));

  // Offline it lists the same files, newest first, from their stored rows.
  auto routes = std::make_shared<pltest::FakeRouteState>(0);
  sc::NetworkReachability::setDefaultRouteStateSource(routes);
  list->reloadList();
  f.waitUntilDone(list);
  ASSERT_EQ(list->cellArray().size(), 2u);
  EXPECT_EQ(list->cellArray()[0]->videoid(), "b");
  EXPECT_EQ(list->cellArray()[1]->videoid(), "a");
  EXPECT_EQ(list->cellArray()[1]->title(), "Fetched A");
  EXPECT_EQ(f.api.callsOf("youtube.videos.list").size(), 1u);
  sc::NetworkReachability::setDefaultRouteStateSource(nullptr);
  resetCacheStateTablesForTesting();
  DBAccess::resetForTesting();
}

}  // namespace

namespace {

std::string legacyEntry(const std::string& id) {
  return R"({"media$group": {"yt$videoid": {"$t": ")" + id + R"("}, "media$title": {"$t": "Title )" + id +
         R"("}, "media$thumbnail": [{"url": "https://i.ytimg.com/vi/)" + id + R"(/default.jpg"}]}})";
}

TEST(ListFetch, TheLegacyFeedPagesWithTheAuthorizersTokenUntilAnEmptyPage) {
  FetchFixture f;
  pltest::FakeServer legacy;
  f.app.sandbox().set("PELORIN_LEGACY_FEED_URL", legacy.baseURL());
  setBoolSetting("v2nv", true);
  auto auth =
      NetOAuth2Authentication::authenticationWithServiceProvider_tokenURL_redirectURI_clientID_clientSecret(
          "Google", ns::URL::URLWithString(legacy.baseURL() + "/token"), std::nullopt, "client", "secret");
  auth->setAccessToken("TOKEN1");
  auth->setExpirationDate(ns::Date::dateWithTimeIntervalSinceNow(3600));
  f.service->setAuthorizer(auth);
  legacy.route("GET", "/feeds/api/users/default/newsubscriptionvideos", [](const pltest::FakeRequest& r) {
    const std::string start = r.params.count("start-index") ? r.params.at("start-index") : "";
    std::string entries;
    if (start == "1") {
      // 25 entries: a malformed one, one to skip, and 23 rows.
      entries = R"({"media$group": {"yt$videoid": {"$t": 5}}},)" + legacyEntry("skipme");
      for (int i = 0; i < 23; ++i) entries += "," + legacyEntry("v" + std::to_string(i));
    } else if (start == "26") {
      entries = legacyEntry("w1");
    }
    return pltest::FakeReply::json(200, R"({"feed": {"entry": [)" + entries + "]}}");
  });
  setStringSetting(kSkipVideosKey, "skipme,other");
  resetSkipVideosForTesting();

  pltest::LogCapture log;
  auto list = f.open("newsubscriptionvideo", "");
  f.waitUntilDone(list);
  auto requests = legacy.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].params.at("start-index"), "1");
  EXPECT_EQ(requests[1].params.at("start-index"), "26");
  EXPECT_EQ(requests[2].params.at("start-index"), "51");
  EXPECT_EQ(requests[0].params.at("access_token"), "TOKEN1");
  EXPECT_EQ(requests[0].params.at("max-results"), "25");
  EXPECT_EQ(requests[0].params.at("alt"), "json");
  ASSERT_EQ(list->cellArray().size(), 24u);
  EXPECT_EQ(list->cellArray()[0]->videoid(), "v0");
  EXPECT_EQ(list->cellArray()[23]->videoid(), "w1");
  EXPECT_EQ(list->nextPageNumber(), -1);
  EXPECT_TRUE(log.contains("exception"));
  EXPECT_TRUE(f.account->hasPlaylistCache_withId("newsubscriptionvideo", ""));

  // A reload starts at page 1 again; a page that is not a feed ends the fetch and keeps the rows.
  legacy.route("GET", "/feeds/api/users/default/newsubscriptionvideos", [](const pltest::FakeRequest&) {
    return pltest::FakeReply::text(200, "<html>portal</html>", "text/html");
  });
  list->reloadList();
  f.waitUntilDone(list);
  ASSERT_EQ(legacy.requests().size(), 4u);
  EXPECT_EQ(legacy.requests()[3].params.at("start-index"), "1");
  EXPECT_TRUE(list->refreshBtn()->isEnabled());
  // Nor does a 5 MB reply of something else add anything: the fetch ends.
  const auto before = list->cellArray().size();
  legacy.route("GET", "/feeds/api/users/default/newsubscriptionvideos", [](const pltest::FakeRequest&) {
    return pltest::FakeReply::json(200, R"({"feed": {"entry": ")" + std::string(5 << 20, 'x') + R"("}})");
  });
  list->reloadList();
  f.waitUntilDone(list);
  ASSERT_EQ(legacy.requests().size(), 5u);
  EXPECT_EQ(legacy.requests()[4].params.at("start-index"), "1");
  EXPECT_EQ(list->cellArray().size(), before);
  EXPECT_FALSE(list->isFetching());
  EXPECT_TRUE(list->refreshBtn()->isEnabled());
  setBoolSetting("v2nv", false);
  resetSkipVideosForTesting();
}

}  // namespace

namespace {

TEST(ListFetch, OfflineOnlyTheCachedVideosList) {
  FetchFixture f;
  auto routes = std::make_shared<pltest::FakeRouteState>(0);
  sc::NetworkReachability::setDefaultRouteStateSource(routes);
  pltest::LogCapture log;
  auto list = getPlaylistViewController("P", "playlists", "PL1");
  list->setCellArray(browse_test::numberedRows(2));
  list->view();
  EXPECT_TRUE(log.contains("offine!!!"));
  EXPECT_EQ(list->cellArray().size(), 2u);
  EXPECT_FALSE(list->isFetching());
  auto cached = f.open("cachedvideos", "cachedvideos");
  f.waitUntilDone(cached);
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_TRUE(f.api.calls().empty());
  sc::NetworkReachability::setDefaultRouteStateSource(nullptr);
}

TEST(ListFetch, ReplyKindsOfTheFixtures) {
  {
    // Activities without snippets, or an upload without its video id: no rows, a normal end.
    FetchFixture f;
    f.api.seedFromFixture("activities", googletest::fixtureText("activities-1.json"));
    f.api.seedFromFixture("activities", googletest::fixtureText("activities-2.json"));
    auto list = f.open("newsubscriptionvideo", "");
    f.waitUntilDone(list);
    EXPECT_TRUE(list->refreshBtn()->isEnabled());
    for (const auto& row : list->cellArray()) EXPECT_TRUE(row->videoid() && !row->videoid()->empty());
  }
  {
    // A channel search keeps its channel rows and asks their statistics.
    FetchFixture f;
    f.api.seedFromFixture("search", googletest::fixtureText("search-2.json"));
    auto list = f.open("search_channel", "cspan");
    f.waitUntilDone(list);
    // The statistics request may come before or after the rows' own channel request.
    auto asksStatistics = [&] {
      for (const auto& call : f.api.callsOf("youtube.channels.list"))
        if (param(call, "part") == "statistics") return true;
      return false;
    };
    EXPECT_TRUE(pltest::pumpUntil(asksStatistics, 30));
    ASSERT_FALSE(list->cellArray().empty());
    for (const auto& row : list->cellArray()) {
      EXPECT_TRUE(row->isChannel());
      EXPECT_EQ(row->channelid().substr(0, 2), "UC");
    }
  }
}

}  // namespace

namespace {

ns::Ref<ApiObject> replyOf(const std::string& fixture, ns::Class expected) {
  ns::Error error;
  ns::Value tree = ApiJSONParser::objectWithString_error(googletest::fixtureText(fixture), &error);
  return ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree, expected, nullptr, ns::Value());
}

TEST(ListFetch, AFirstSearchPageAsksTheNextPageAtOnce) {
  FetchFixture f;
  auto list = f.open("search_relevance", "cats");
  f.waitUntilDone(list);
  const auto before = f.api.callsOf("youtube.search.list").size();
  list->setIsFetching(true);
  auto query = ApiQueryYouTube::queryForSearchListWithPart("snippet");
  query->setQ("cats");
  list->handleSearchResults_forQuery(replyOf("search-1.json", ApiClassOf<ApiYouTubeSearchListResponse>()),
                                     query);
  auto calls = f.waitForCalls("youtube.search.list", before + 1);
  ASSERT_EQ(calls.size(), before + 1);
  EXPECT_EQ(param(calls.back(), "pageToken"), "CAwQAA");
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() >= 12u; }, 30));
  EXPECT_EQ(list->cellArray()[0]->videoid(), "7y1UCICm0Jo");
  EXPECT_EQ(list->cellArray()[0]->date(), "");
  f.waitUntilDone(list);
}

TEST(ListFetch, APlaylistItemOfADeletedVideoKeepsThePlaceholderThumbnail) {
  FetchFixture f;
  auto list = f.open("cachedvideos", "x");
  f.waitUntilDone(list);
  list->setRequestType("playlists");
  list->setIsFetching(true);
  auto query = ApiQueryYouTube::queryForPlaylistItemsListWithPart("snippet");
  query->setPageToken("later");
  list->handleSearchResults_forQuery(
      replyOf("playlistItems-1.json", ApiClassOf<ApiYouTubePlaylistItemListResponse>()), query);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !list->cellArray().empty(); }, 30));
  ns::Ref<SearchEntry> deleted;
  for (const auto& row : list->cellArray())
    if (row->videoid() == "vXiKW_KcaU0") deleted = row;
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->title(), "Deleted video");
  // No thumbnail of its own: the cell keeps its placeholder.
  EXPECT_EQ(deleted->thumburl(), "");
  f.waitUntilDone(list);
}

}  // namespace

namespace {

// A list of the account's own kind (stored in the list cache) holding 60 rows whose ids the
// fake API knows, not loaded: the test drives the detail chain itself.
struct BatchFixture : FetchFixture {
  BatchFixture() {
    f_ids();
    api.seedFromFixture("videos", googletest::fixtureText("videos-1.json"));
    api.seedGenerated("videos", 60, "VID");
    // The channel's title is known: no channel request (which stores the list too) joins in.
    storeChannelTitle("UCb--64Gl51jIEVE-GLDAVTg", "C-SPAN");
    list = getPlaylistViewController("P", "playlists", "PLbatch");
    std::vector<ns::Ref<SearchEntry>> rows;
    for (const auto& id : ids) {
      auto row = SearchEntry::init();
      row->setVideoid(id);
      rows.push_back(row);
    }
    list->setCellArray(rows);
  }
  void f_ids() {
    for (int i = 1; i <= 60; ++i) {
      char id[16];
      std::snprintf(id, sizeof id, "VID%04d", i);
      ids.push_back(id);
    }
  }
  bool stored() const { return account->hasPlaylistCache_withId("playlists", "PLbatch"); }
  // Rows whose details came in (the generated videos have a duration).
  long completed() const {
    long n = 0;
    for (const auto& row : list->cellArray()) n += row->duration() != 0;
    return n;
  }

  std::vector<std::string> ids;
  ns::Ref<YTPlaylistViewController> list;
};

// Pumps with the main queue kept busy, so that `predicate` is asked again at once after every
// pass rather than only when a reply wakes the main thread.
bool spinUntil(const std::function<bool()>& predicate) {
  return pltest::pumpUntil(
      [&] {
        if (predicate()) return true;
        dispatch::async(dispatch::mainQueue(), [] {});
        return false;
      },
      30);
}

TEST(ListFetch, EachBatchWaitsForTheLastOneAndTheListIsStoredAfterTheThird) {
  BatchFixture f;
  ASSERT_FALSE(f.stored());
  f.list->requestVideoInfo_withTitle(f.ids, false);
  // Watched all along: a batch goes out only once the one before is applied to the rows, and
  // the list is stored only once all 60 are.
  long observations = 0;
  std::vector<std::string> broken;
  ASSERT_TRUE(spinUntil([&] {
    ++observations;
    const long calls = static_cast<long>(f.api.callsOf("youtube.videos.list").size());
    const long done = f.completed();
    if (calls > 1 + done / 25)
      broken.push_back(std::to_string(calls) + " calls with " + std::to_string(done) + " rows done");
    if (f.stored() && done != 60) broken.push_back("stored with " + std::to_string(done) + " rows done");
    return f.stored();
  }));
  EXPECT_GT(observations, 3);
  EXPECT_EQ(broken, std::vector<std::string>{});
  EXPECT_EQ(f.completed(), 60);
  auto calls = f.api.callsOf("youtube.videos.list");
  ASSERT_EQ(calls.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string idList = param(calls[i], "id");
    EXPECT_EQ(std::count(idList.begin(), idList.end(), ','), i < 2 ? 24 : 9) << i;
    EXPECT_EQ(idList.substr(0, 7), f.ids[25 * i]) << i;
  }
  EXPECT_EQ(f.account->getPlaylistCache_withId("playlists", "PLbatch")->size(), 60u);
}

TEST(ListFetch, AFailingSecondBatchIsLoggedAndEndsTheChainUnstored) {
  BatchFixture f;
  pltest::LogCapture log;
  f.list->requestVideoInfo_withTitle(f.ids, false);
  // The second batch is answered with the service's error (set as soon as the first call is in,
  // long before its reply can have been applied and the second sent).
  ASSERT_TRUE(spinUntil([&] { return f.api.callsOf("youtube.videos.list").size() == 1; }));
  f.api.script("youtube.videos.list", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, -1,
                                                          googletest::fixtureText("error-403.json")));
  ASSERT_TRUE(pltest::pumpUntil([&] { return log.contains("## error: "); }, 30));
  pltest::pumpUntil([] { return false; }, 0.5);
  EXPECT_EQ(f.api.callsOf("youtube.videos.list").size(), 2u);
  EXPECT_EQ(f.completed(), 25);
  EXPECT_FALSE(f.stored());
}

}  // namespace

namespace {

TEST(ListFetch, AServiceSendingOnlyEmptyPagesWithANextPageEndsTheFetch) {
  FetchFixture f;
  // Every page: no items, and yet a next page.
  f.api.script("youtube.playlistItems.list",
               FakeDataAPI::Script(FakeDataAPI::Answer::BareResult, 200, 0, -1,
                                   R"({"kind": "youtube#playlistItemListResponse", "items": [],
                                       "nextPageToken": "AGAIN"})"));
  auto list = f.open("playlists", "PLempty");
  pltest::pumpUntil(
      [&] { return !list->isFetching() || f.api.callsOf("youtube.playlistItems.list").size() >= 40; }, 30);
  EXPECT_FALSE(list->isFetching());
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_LT(f.api.callsOf("youtube.playlistItems.list").size(), 10u);
  EXPECT_TRUE(list->cellArray().empty());
  EXPECT_TRUE(list->refreshBtn()->isEnabled());
}

}  // namespace

namespace {

TEST(ListFetch, CountsBeyondThirtyTwoBitsAreKeptOrHeldAtTheLargestAndNeverWrap) {
  FetchFixture f;
  f.api.seed("channels", {R"({"kind": "youtube#channel", "id": "UCbig",
                               "statistics": {"videoCount": "5000000000", "subscriberCount": "3000000000"}})"});
  f.api.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLbig",
                                "contentDetails": {"itemCount": 4294967297}})"});
  auto list = f.open("search_channel", "big");
  f.waitUntilDone(list);
  auto channel = SearchEntry::init();
  channel->setChannelid("UCbig");
  auto playlist = SearchEntry::init();
  playlist->setPlaylistid("PLbig");
  list->setCellArray({channel, playlist});
  list->requestChannelInfoForSearch({"UCbig"});
  list->requestPlaylistsInfo({"PLbig"});
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return channel->subscriberCount() != 0 && playlist->videoCount() != 0; }, 30));
  EXPECT_EQ(channel->subscriberCount(), 3000000000);
  EXPECT_EQ(channel->videoCount(), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(playlist->videoCount(), std::numeric_limits<std::int32_t>::max());
}

}  // namespace

namespace {

TEST(ListFetch, ARefreshWhileAPageWaitsForScrollingFetchesTheListAgain) {
  FetchFixture f;
  f.api.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-2.json"));
  f.api.seedGenerated("playlistItems", 95);
  auto list = f.open("playlists", "PLf0o4wbW8SXqTSo6iJkolKCKJYBnpo9NZ");
  // Three pages: the fourth waits until the user scrolls near the end.
  f.waitForCalls("youtube.playlistItems.list", 3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 75u && list->nextQuery(); }, 30));
  EXPECT_FALSE(list->isFetching());
  EXPECT_TRUE(list->refreshBtn()->isEnabled());

  list->reloadList();
  auto calls = f.waitForCalls("youtube.playlistItems.list", 4);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(param(calls[3], "pageToken"), "<none>");
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return f.api.callsOf("youtube.playlistItems.list").size() == 6u; }, 30));
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 75u && list->nextQuery(); }, 30));
  EXPECT_FALSE(list->isFetching());
}

}  // namespace

namespace {

TEST(ListFetch, SearchesAndTheCachedVideosAreNeverStoredEvenWithRows) {
  FetchFixture f;
  f.api.seedFromFixture("search", googletest::fixtureText("search-1.json"));
  auto search = f.open("search_relevance", "cats");
  f.waitUntilDone(search);
  ASSERT_GE(search->cellArray().size(), 5u);
  // The detail requests end in saves of their own.
  f.waitForCalls("youtube.videos.list");
  pltest::pumpUntil([] { return false; }, 0.3);
  EXPECT_FALSE(f.account->hasPlaylistCache_withId("search_relevance", "cats"));
  search->saveToCache();
  EXPECT_FALSE(f.account->hasPlaylistCache_withId("search_relevance", "cats"));

  auto cached = f.open("cachedvideos", "cachedvideos");
  f.waitUntilDone(cached);
  cached->setCellArray(browse_test::numberedRows(3));
  cached->saveToCache();
  EXPECT_FALSE(f.account->hasPlaylistCache_withId("cachedvideos", "cachedvideos"));

  // The same rows under a list type that is stored are kept: the saves above had rows to store.
  search->setRequestType("playlists");
  search->saveToCache();
  EXPECT_TRUE(f.account->hasPlaylistCache_withId("playlists", "cats"));
  cached->setRequestType("playlists");
  cached->saveToCache();
  EXPECT_TRUE(f.account->hasPlaylistCache_withId("playlists", "cachedvideos"));
}

}  // namespace
