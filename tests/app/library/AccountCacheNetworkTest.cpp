// The account cache against the fake Data API (real replies from tests/fixtures) and a fake
// of the maker's feed-category service, both on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/library/AccountCache.h"
#include "app/library/LibraryNotifications.h"
#include "common/Settings.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "platform/serialization/JSONSerialization.h"
#include "tests/app/library/AccountTestSupport.h"
#include "tests/app/library/NotificationCounter.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/support/FakeDataAPI.h"

namespace {

using testsupport::FakeDataAPI;

const char* const kMyChannel =
    R"({"kind": "youtube#channel", "id": "UCme", "contentDetails": {"relatedPlaylists":
    {"favorites": "FLme", "likes": "LLme", "uploads": "UUme", "watchHistory": "HLme", "watchLater": "WLme"}}})";

std::string special(const std::string& id, int count) {
  return R"({"kind": "youtube#playlist", "id": ")" + id + R"(", "snippet": {"title": "special"},
      "contentDetails": {"itemCount": )" +
         std::to_string(count) + "}}";
}

const char* const kFeeds = R"({"list": [{"id": "10", "title": "Music"}, {"id": "20", "title": "Gaming"}]})";

class AccountNetworkTest : public librarytest::AccountTest {
 protected:
  AccountNetworkTest() {
    sandbox.set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api.serveAsAPIHost();
    service->setShouldFetchNextPages(true);
    testsupport::FakeMainWindowController::Answers answers;
    answers.youTubeService = service;
    controller->setAnswers(answers);
    maker.route("GET", "/pelorin/feedinfo.php",
                [this](const pltest::FakeRequest&) { return pltest::FakeReply::json(200, feedReply); });
  }
  ~AccountNetworkTest() override {
    api.release();
    // Calls still under way (a cache made at a test's end starts loads of its own) end here,
    // against this test's services: otherwise they would reach the next test's fake service and
    // their replies would land in its disk cache.
    EXPECT_TRUE(pltest::pumpUntil([&] { return service->fetcherService()->numberOfFetchers() == 0; }, 60));
    // The feed route reads this fixture's reply: its server's threads end before the fixture does.
    maker.stop();
    drainMainQueue();
  }

  // The entries a list reply's items give, the way the account cache forms them.
  static ns::Array fixtureEntries(const std::string& fixture, bool subscriptions) {
    ns::Value reply = ns::JSONSerialization::JSONObjectWithString(googletest::fixtureText(fixture));
    ns::Array entries;
    for (const ns::Value& item : reply["items"].array()) {
      if (subscriptions) {
        std::string channel = item["snippet"]["resourceId"]["channelId"].string();
        entries.push_back(
            ns::Value(ns::Array{"UU" + channel.substr(2), item["snippet"]["title"], item["id"]}));
      } else {
        entries.push_back(
            ns::Value(ns::Array{item["id"], item["snippet"]["title"], item["contentDetails"]["itemCount"]}));
      }
    }
    return entries;
  }
  void seedAccount() {
    api.seed("channels", {kMyChannel});
    api.seedFromFixture("playlists", googletest::fixtureText("playlists-1.json"));
    api.seedFromFixture("playlists", googletest::fixtureText("playlists-2.json"));
    api.seedGenerated("playlists", 30, "PLgen");
    // The service answers the counts in an order of its own: here the reverse of the ids sent.
    api.seed("playlists", {special("UUme", 50), special("LLme", 40), special("HLme", 30), special("WLme", 20),
                           special("FLme", 10)});
    api.excludeFromMine("playlists", {"UUme", "LLme", "HLme", "WLme", "FLme"});
    api.seedFromFixture("subscriptions", googletest::fixtureText("subscriptions-1.json"));
    api.seed("subscriptions", {R"({"kind": "youtube#subscription", "id": "SUBcounted",
        "snippet": {"title": "Counted", "resourceId": {"kind": "youtube#channel", "channelId": "UCcounted"}},
        "contentDetails": {"newItemCount": 2, "totalItemCount": 9}})",
                               R"({"kind": "youtube#subscription", "id": "SUBshort",
        "snippet": {"title": "Short", "resourceId": {"channelId": "U"}}})"});
  }
  bool loaded(const ns::Ref<AccountCache>& cache) {
    return cache->linksCountLoaded() && cache->playlistsLoaded() && cache->subscriptionsLoaded() &&
           cache->feedsLoaded();
  }

  FakeDataAPI api;
  ns::Ref<ApiServiceYouTube> service = ns::make<ApiServiceYouTube>();
  std::string feedReply = kFeeds;
};

TEST_F(AccountNetworkTest, ANewAccountFetchesEverythingAndTheNextStartShowsItAtOnce) {
  seedAccount();
  NotificationCounter playlists(kUpdatePlaylistsNotification);
  NotificationCounter subscriptions(kUpdateSubscriptionsNotification);
  NotificationCounter feeds(kUpdateFeedsNotification);
  NotificationCounter related(kUpdateRelatedPlaylistNotification);
  pltest::LogCapture log(true);
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_TRUE(pltest::pumpUntil([&] { return loaded(cache); }, 60));
  drainMainQueue();

  auto channelCalls = api.callsOf("youtube.channels.list");
  ASSERT_EQ(channelCalls.size(), 1u);
  EXPECT_EQ(channelCalls[0].params["mine"], ns::Value(true));
  EXPECT_EQ(channelCalls[0].params["part"], ns::Value("contentDetails"));
  // The own playlists come in two pages, joined; the counts are asked once, after the ids.
  std::vector<testsupport::DataAPICall> pages, counts;
  for (const auto& call : api.callsOf("youtube.playlists.list"))
    (call.params["id"].isNil() ? pages : counts).push_back(call);
  EXPECT_EQ(pages.size(), 2u);
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts[0].params["id"], ns::Value("FLme,WLme,HLme,LLme,UUme"));
  auto all = api.calls();
  auto position = [&](const std::string& method, bool withId) {
    return std::find_if(
               all.begin(), all.end(),
               [&](const auto& c) { return c.method == method && c.params["id"].isNil() != withId; }) -
           all.begin();
  };
  EXPECT_LT(position("youtube.channels.list", false), position("youtube.playlists.list", true));
  EXPECT_EQ(api.callsOf("youtube.subscriptions.list").size(), 1u);
  ASSERT_EQ(maker.requests().size(), 1u);
  EXPECT_EQ(maker.requests()[0].target, "/pelorin/feedinfo.php?s=yt&r=US");

  ns::Array expected = fixtureEntries("playlists-1.json", false);
  for (const auto& entry : fixtureEntries("playlists-2.json", false)) expected.push_back(entry);
  ASSERT_EQ(cache->playlistsArray().size(), expected.size() + 30);
  EXPECT_EQ(ns::Array(cache->playlistsArray().begin(), cache->playlistsArray().begin() + expected.size()),
            expected);
  EXPECT_EQ(cache->playlistsArray().back(), ns::Value(ns::Array{"PLgen0030", "Item 30", 2}));

  ns::Array subscribed = fixtureEntries("subscriptions-1.json", true);
  subscribed.push_back(ns::Value(ns::Array{"UUcounted", "Counted", "SUBcounted", 2, 9}));
  EXPECT_EQ(cache->subscriptionsArray(), subscribed);  // the one without a usable channel is left out
  EXPECT_TRUE(log.contains("a subscription without channel or id is left out"));
  EXPECT_EQ(cache->feedsArray(),
            (ns::Array{ns::Value(ns::Array{"10", "Music"}), ns::Value(ns::Array{"20", "Gaming"})}));

  EXPECT_EQ(cache->favorites(), "FLme");
  EXPECT_EQ(cache->favoritesCount(), ns::Value(10));
  EXPECT_EQ(cache->watchLaterCount(), ns::Value(20));
  EXPECT_EQ(cache->watchHistoryCount(), ns::Value(30));
  EXPECT_EQ(cache->likesCount(), ns::Value(40));
  EXPECT_EQ(cache->uploadsCount(), ns::Value(50));
  for (auto* counter : {&playlists, &subscriptions, &feeds, &related}) {
    EXPECT_EQ(counter->count(), 1);
    EXPECT_EQ(counter->offThread(), 0);
  }

  // The next start, with both services gone, shows the stored lists before anything answers.
  AccountCache::diskCache()->synchronize();
  api.server().stop();
  maker.stop();
  auto again = AccountCache::initWithEmail("a@example.com");
  EXPECT_EQ(again->playlistsArray(), cache->playlistsArray());
  EXPECT_EQ(again->subscriptionsArray(), cache->subscriptionsArray());
  EXPECT_EQ(again->feedsArray(), cache->feedsArray());
  EXPECT_EQ(again->uploadsCount(), ns::Value(50));
  for (const auto& key : AccountCache::diskCache()->frozenCacheInfo().allKeys())
    EXPECT_EQ(key.string().rfind("b418773a2c51fb9777a1648346fa7394_", 0), 0u) << key.string();
}

TEST_F(AccountNetworkTest, EditsReachTheServiceAndTheStoredLists) {
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return cache->feedsLoaded() && cache->subscriptionsLoaded() && cache->playlistsLoaded(); }, 60));
  drainMainQueue();
  NotificationCounter subscriptions(kUpdateSubscriptionsNotification);
  NotificationCounter playlists(kUpdatePlaylistsNotification);
  pltest::LogCapture log(true);

  cache->subscribe("UUabc");
  ASSERT_TRUE(pltest::pumpUntil([&] { return subscriptions.count() == 1; }, 30));
  auto inserts = api.callsOf("youtube.subscriptions.insert");
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["resourceId"]["channelId"], ns::Value("UCabc"));
  ASSERT_EQ(cache->subscriptionsArray().size(), 1u);
  ns::Value added = cache->subscriptionsArray()[0];
  EXPECT_EQ(added.count(), 3u);
  EXPECT_EQ(added[0], ns::Value("UUabc"));

  std::size_t posts = api.postCount();
  cache->unsubscribe("UUnobody");
  EXPECT_TRUE(log.contains("NOT FOUND"));
  cache->unsubscribe("UUabc");
  ASSERT_TRUE(pltest::pumpUntil([&] { return subscriptions.count() == 2; }, 30));
  EXPECT_EQ(api.postCount(), posts + 1);
  EXPECT_EQ(api.callsOf("youtube.subscriptions.delete").at(0).params["id"], added[2]);
  EXPECT_TRUE(cache->subscriptionsArray().empty());

  // A failed rename still has the source list redrawn; a rename of a playlist the list does not
  // hold still stores and posts.
  api.script("youtube.playlists.update", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 500, 500, 1));
  cache->renamePlaylist_toTitle("PLone", "New");
  ASSERT_TRUE(pltest::pumpUntil([&] { return playlists.count() == 1; }, 30));
  EXPECT_TRUE(cache->playlistsArray().empty());

  api.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLone", "snippet": {"title": "Old"}})"});
  cache->addPlaylist_withId("Old", "PLone");
  EXPECT_EQ(playlists.count(), 2);
  auto list = browsing->getPlaylistViewController("Old", "playlists", "PLone");
  browsing->showController(list);
  cache->renamePlaylist_toTitle("PLone", "New");
  ASSERT_TRUE(pltest::pumpUntil([&] { return playlists.count() == 3; }, 30));
  EXPECT_EQ(cache->playlistsArray(), ns::Array{ns::Value(ns::Array{"PLone", "New"})});
  EXPECT_EQ(list->title(), "New");
  EXPECT_EQ(browsing->navigationTitle(), "New");

  // A channels reply without items leaves the special playlists unknown.
  EXPECT_FALSE(cache->linksLoaded());
  for (const auto& call : api.callsOf("youtube.playlists.list"))
    EXPECT_TRUE(call.params["id"].isNil()) << call.callJSON;

  // Renaming a video asks for it first, then sends it back with the new title.
  api.seed("videos", {R"({"kind": "youtube#video", "id": "vidR", "snippet": {"title": "Before"}})"});
  cache->renameVideo_toTitle("vidR", "After");
  ASSERT_TRUE(pltest::pumpUntil([&] { return !api.callsOf("youtube.videos.update").empty(); }, 30));
  auto updates = api.callsOf("youtube.videos.update");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].params["resource"]["snippet"]["title"], ns::Value("After"));
  EXPECT_EQ(api.callsOf("youtube.videos.list").at(0).params["id"], ns::Value("vidR"));

  cache->deletePlaylist("PLone");
  ASSERT_TRUE(pltest::pumpUntil([&] { return playlists.count() == 4; }, 30));
  EXPECT_TRUE(cache->playlistsArray().empty());
  EXPECT_EQ(api.itemCount("playlists"), 0u);
}

TEST_F(AccountNetworkTest, FeedRepliesKeepOnlyWholeObjectsAndAnEmptyOneChangesNothing) {
  feedReply = R"({"list": [{"id": 1, "title": "A"}, 5, {"id": "2"}, {"title": "B"}]})";
  setStringSetting(kFeedRegionKey, "B&R=x");
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_TRUE(pltest::pumpUntil([&] { return cache->feedsLoaded(); }, 30));
  EXPECT_EQ(cache->feedsArray(), ns::Array{ns::Value(ns::Array{1, "A"})});
  // The region is one query value, escaped as such.
  EXPECT_EQ(maker.requests().at(0).params.at("r"), "B&R=x");

  pltest::LogCapture log(true);
  feedReply = R"({"list": []})";
  cache->fetchFeeds();
  ASSERT_TRUE(pltest::pumpUntil([&] { return log.contains("FEED FETCH FAILED!"); }, 30));
  EXPECT_EQ(cache->feedsArray(), ns::Array{ns::Value(ns::Array{1, "A"})});
  EXPECT_TRUE(cache->feedsLoaded());
}

TEST_F(AccountNetworkTest, WithTheIdsStoredOnlyTheCountsAreAskedAndOwnChannelsAreSaved) {
  seedAccount();
  auto writer = bareCache("a@example.com");
  AccountCache::diskCache()->setObject_forKey_withTimeoutInterval(
      ns::Value(ns::Array{"FLme", "WLme", "HLme", "LLme", "UUme"}), writer->cacheKey("links"), 600);
  AccountCache::diskCache()->synchronize();
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_TRUE(pltest::pumpUntil([&] { return loaded(cache); }, 60));
  EXPECT_EQ(api.callsOf("youtube.channels.list").size(), 0u);
  EXPECT_EQ(cache->likesCount(), ns::Value(40));

  controller->setAccountCache(cache);
  cache->getMyChannelList();
  ASSERT_TRUE(pltest::pumpUntil([&] { return getStringSetting("my_channels") == "UCme"; }, 30));
  EXPECT_TRUE(cache->isMyChannel("UCme"));
  EXPECT_EQ(api.callsOf("youtube.channels.list").at(0).params["part"], ns::Value("id"));
}

TEST_F(AccountNetworkTest, OwnChannelsOfAnAccountThatWentDoNotReplaceTheCurrentOnes) {
  api.seed("channels", {kMyChannel});
  auto gone = bareCache("gone@example.com");
  auto current = bareCache("current@example.com");
  controller->setAccountCache(current);
  setStringSetting("my_channels", "UCcurrent");
  pltest::LogCapture log(true);
  gone->getMyChannelList();
  ASSERT_TRUE(pltest::pumpUntil([&] { return log.contains("## channel: UCme"); }, 30));
  drainMainQueue();
  // The instance that asked still learns its own channels.
  EXPECT_TRUE(gone->isMyChannel("UCme"));
  EXPECT_EQ(getStringSetting("my_channels"), "UCcurrent");
  EXPECT_TRUE(current->isMyChannel("UCcurrent"));
  EXPECT_FALSE(current->isMyChannel("UCme"));
}

TEST_F(AccountNetworkTest, AReplyThatIsNoListKeepsTheStoredLists) {
  seedAccount();
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_TRUE(pltest::pumpUntil([&] { return loaded(cache); }, 60));
  drainMainQueue();
  const ns::Array playlists = cache->playlistsArray();
  const ns::Array subscriptions = cache->subscriptionsArray();
  ASSERT_FALSE(playlists.empty());
  ASSERT_FALSE(subscriptions.empty());
  using Answer = FakeDataAPI::Answer;
  for (Answer answer : {Answer::EmptyResult, Answer::NeitherMember, Answer::HTMLPage, Answer::MalformedJSON,
                        Answer::EmptyBody, Answer::OnlyError}) {
    SCOPED_TRACE(static_cast<int>(answer));
    api.script("youtube.playlists.list", FakeDataAPI::Script(answer));
    api.script("youtube.subscriptions.list", FakeDataAPI::Script(answer));
    NotificationCounter playlistsUpdated(kUpdatePlaylistsNotification);
    NotificationCounter subscriptionsUpdated(kUpdateSubscriptionsNotification);
    pltest::LogCapture log(true);
    cache->fetchPlaylists();
    cache->fetchSubscriptions();
    // Each of the two lists ends in a logged error, a logged refusal or its notification.
    auto ended = [&] {
      auto messages = log.messages();
      long errors = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("error: ", 0) == 0 || m.find("reply is no list") != std::string::npos;
      });
      return errors + playlistsUpdated.count() + subscriptionsUpdated.count() >= 2;
    };
    ASSERT_TRUE(pltest::pumpUntil(ended, 30));
    drainMainQueue();
    EXPECT_EQ(cache->playlistsArray(), playlists);
    EXPECT_EQ(cache->subscriptionsArray(), subscriptions);
    EXPECT_EQ(AccountCache::diskCache()->objectForKey(cache->cacheKey("playlists")), ns::Value(playlists));
    EXPECT_EQ(AccountCache::diskCache()->objectForKey(cache->cacheKey("subscriptions")),
              ns::Value(subscriptions));
  }
}

TEST_F(AccountNetworkTest, AListReplyWithoutItemsEmptiesTheStoredLists) {
  auto writer = bareCache("a@example.com");
  for (const char* name : {"playlists", "subscriptions"})
    AccountCache::diskCache()->setObject_forKey_withTimeoutInterval(
        ns::Value(ns::Array{ns::Value(ns::Array{"OLD", "Old", "x"})}), writer->cacheKey(name), 600);
  AccountCache::diskCache()->synchronize();
  auto cache = AccountCache::initWithEmail("a@example.com");
  ASSERT_EQ(cache->playlistsArray().size(), 1u);
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return cache->playlistsLoaded() && cache->subscriptionsLoaded(); }, 60));
  EXPECT_TRUE(cache->playlistsArray().empty());
  EXPECT_TRUE(cache->subscriptionsArray().empty());
}

}  // namespace
