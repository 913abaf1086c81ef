// Rows made from Data API replies by the real model classes (hand-written replies and the real
// ones in tests/fixtures), and rows completed from videos.list against the fake Data API.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "app/youtube/ApiVideoFields.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/VideoDetailRecord.h"
#include "lib/cache/GVCache.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Pump.h"
#include "tests/app/youtube/SharedCacheSandbox.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/ScopedController.h"

namespace {

// A reply made into objects the way the service does it: the class comes from its "kind".
template <class T>
ns::Ref<T> modelFromJSON(const std::string& text) {
  ns::Error error;
  ns::Value tree = ApiJSONParser::objectWithString_error(text, &error);
  EXPECT_FALSE(tree.isNil()) << text;
  auto object = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree, ApiClassOf<T>(), nullptr,
                                                                               ns::Value());
  auto typed = std::dynamic_pointer_cast<T>(object);
  EXPECT_TRUE(typed) << (object ? object->className() : std::string("no object"));
  return typed;
}

template <class T, class List>
std::vector<ns::Ref<T>> itemsOf(const ns::Ref<List>& list) {
  std::vector<ns::Ref<T>> out;
  for (const ns::Value& item : list->items())
    if (auto typed = item.objectAs<T>()) out.push_back(typed);
  return out;
}

const char* const kThumbnails = R"("thumbnails": {
    "default": {"url": "https://i.example/default.jpg"},
    "medium": {"url": "https://i.example/medium.jpg"},
    "high": {"url": "https://i.example/high.jpg"}})";

std::string searchResult(const std::string& id, const std::string& snippet) {
  return R"({"kind": "youtube#searchResult", "id": )" + id +
         (snippet.empty() ? "" : ", \"snippet\": " + snippet) + "}";
}

const std::string kSnippet =
    std::string(R"({"publishedAt": "2015-03-04T12:00:00.000Z", "channelId": "UCchannel",
    "title": "A title", "description": "A description", "channelTitle": "A channel", )") +
    kThumbnails + "}";

TEST(SearchEntryFromApi, SearchResultsGiveVideoPlaylistAndChannelRows) {
  auto video = SearchEntry::initWithApiSearchResult(modelFromJSON<ApiYouTubeSearchResult>(
      searchResult(R"({"kind": "youtube#video", "videoId": "vid1"})", kSnippet)));
  ASSERT_TRUE(video);
  EXPECT_EQ(video->videoid(), "vid1");
  EXPECT_EQ(video->title(), "A title");
  EXPECT_EQ(video->desc(), "A description");
  EXPECT_EQ(video->author(), "A channel");
  EXPECT_EQ(video->videoChannelId(), "UCchannel");
  EXPECT_EQ(video->date(), "2015-03-04");
  EXPECT_EQ(video->thumburl(), "https://i.example/medium.jpg");
  EXPECT_EQ(video->getHighResolutionThumbnailURL(), "https://i.example/high.jpg");
  EXPECT_FALSE(video->isPlaylist() || video->isChannel());

  auto playlist = SearchEntry::initWithApiSearchPlaylistResult(modelFromJSON<ApiYouTubeSearchResult>(
      searchResult(R"({"kind": "youtube#playlist", "playlistId": "PLx"})", kSnippet)));
  ASSERT_TRUE(playlist);
  EXPECT_TRUE(playlist->isPlaylist());
  EXPECT_EQ(playlist->playlistid(), "PLx");
  EXPECT_EQ(playlist->channelid(), "UCchannel");
  EXPECT_EQ(playlist->title(), "A title");
  EXPECT_FALSE(playlist->videoid());

  auto channel = SearchEntry::initWithApiSearchChannelResult(modelFromJSON<ApiYouTubeSearchResult>(
      searchResult(R"({"kind": "youtube#channel", "channelId": "UCfound"})", kSnippet)));
  ASSERT_TRUE(channel);
  EXPECT_TRUE(channel->isChannel());
  EXPECT_EQ(channel->channelid(), "UCfound");
  EXPECT_FALSE(channel->videoid());
}

TEST(SearchEntryFromApi, ResultsWithoutWhatTheirKindNeedsAnswerNil) {
  // Each initialiser against results that lack its id or hold it with the wrong JSON type.
  const char* ids[] = {R"({"kind": "youtube#video"})", R"({"videoId": 7, "playlistId": [], "channelId": {}})",
                       R"({"videoId": "", "playlistId": "", "channelId": ""})", R"("not an object")"};
  for (const char* id : ids) {
    auto result = modelFromJSON<ApiYouTubeSearchResult>(searchResult(id, kSnippet));
    EXPECT_FALSE(SearchEntry::initWithApiSearchResult(result)) << id;
    EXPECT_FALSE(SearchEntry::initWithApiSearchPlaylistResult(result)) << id;
    EXPECT_FALSE(SearchEntry::initWithApiSearchChannelResult(result)) << id;
  }
  EXPECT_FALSE(SearchEntry::initWithApiSearchResult(nullptr));
  EXPECT_FALSE(SearchEntry::initWithApiVideo(nullptr));
  EXPECT_FALSE(SearchEntry::initWithApiActivity(nullptr));
  EXPECT_FALSE(SearchEntry::initWithApi(nullptr));
}

TEST(SearchEntryFromApi, MissingOrMistypedFieldsGiveEmptyTexts) {
  auto bare = SearchEntry::initWithApiSearchResult(
      modelFromJSON<ApiYouTubeSearchResult>(searchResult(R"({"videoId": "vid2"})", "")));
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->videoid(), "vid2");
  EXPECT_EQ(bare->title(), "");
  EXPECT_EQ(bare->author(), "");
  EXPECT_EQ(bare->date(), "");
  EXPECT_EQ(bare->thumburl(), "");

  auto mistyped = SearchEntry::initWithApiSearchResult(modelFromJSON<ApiYouTubeSearchResult>(searchResult(
      R"({"videoId": "vid3"})", R"({"title": 5, "description": ["x"], "publishedAt": 12, "channelTitle": null,
          "thumbnails": {"medium": {"url": 1}, "default": "x", "standard": {"url": "https://i.example/sd.jpg"}}})")));
  ASSERT_TRUE(mistyped);
  EXPECT_EQ(mistyped->title(), "");
  EXPECT_EQ(mistyped->desc(), "");
  EXPECT_EQ(mistyped->date(), "");
  EXPECT_EQ(mistyped->author(), "");
  EXPECT_EQ(mistyped->thumburl(), "");
  EXPECT_EQ(mistyped->getHighResolutionThumbnailURL(), "https://i.example/sd.jpg");

  // A snippet of the wrong type is none.
  auto wrongSnippet = SearchEntry::initWithApiSearchResult(
      modelFromJSON<ApiYouTubeSearchResult>(searchResult(R"({"videoId": "vid4"})", R"("snippet text")")));
  ASSERT_TRUE(wrongSnippet);
  EXPECT_EQ(wrongSnippet->title(), "");
}

const char* const kVideo = R"({"kind": "youtube#video", "id": "vidV",
  "snippet": {"publishedAt": "2015-03-04T12:00:00Z", "channelId": "UCup", "title": "Video title",
              "description": "Video text", "channelTitle": "Uploader",
              "thumbnails": {"default": {"url": "https://i.example/d.jpg"},
                             "maxres": {"url": "https://i.example/max.jpg"}}},
  "contentDetails": {"duration": "PT1M5S"},
  "statistics": {"viewCount": "1234", "likeCount": "3", "dislikeCount": "1"}})";

TEST(SearchEntryFromApi, AVideoResourceGivesDurationCountsAndRating) {
  auto row = SearchEntry::initWithApiVideo(modelFromJSON<ApiYouTubeVideo>(kVideo));
  ASSERT_TRUE(row);
  EXPECT_FALSE(row->videoid());
  EXPECT_EQ(row->title(), "Video title");
  EXPECT_EQ(row->desc(), "Video text");
  EXPECT_EQ(row->author(), "Uploader");
  EXPECT_EQ(row->videoChannelId(), "UCup");
  EXPECT_EQ(row->date(), "2015-03-04");
  EXPECT_EQ(row->duration(), 65);
  EXPECT_EQ(row->viewCount(), 1234);
  EXPECT_FLOAT_EQ(row->rating(), 3.75f);
  EXPECT_EQ(row->thumburl(), "https://i.example/d.jpg");
  EXPECT_EQ(row->getHighResolutionThumbnailURL(), "https://i.example/max.jpg");
}

TEST(SearchEntryFromApi, CountsSaturateAndTheRatingSumIsTakenIn64Bits) {
  struct Case {
    const char* statistics;
    std::int32_t views;
    float rating;
  } cases[] = {
      {R"({"viewCount": "3000000000", "likeCount": "3", "dislikeCount": "1"})", 2147483647, 3.75f},
      {R"({"viewCount": "99999999999999999999999"})", 2147483647, 0.0f},
      // The 32-bit sum of these would be negative (no rating) or tiny (a rating far above 5).
      {R"({"likeCount": "2147483647", "dislikeCount": "2147483647"})", 0, 2.5f},
      {R"({"likeCount": "4294967295", "dislikeCount": "1"})", 0, 5.0f},
      {R"({"likeCount": "0", "dislikeCount": "0"})", 0, 0.0f},
      {R"({"likeCount": -5, "dislikeCount": 4, "viewCount": -1})", 0, 0.0f},
      {R"({"likeCount": "lots", "viewCount": 12.7})", 12, 0.0f},
      {R"("none")", 0, 0.0f},
  };
  for (const auto& c : cases) {
    std::string json =
        std::string(R"({"kind": "youtube#video", "id": "v", "statistics": )") + c.statistics + "}";
    auto row = SearchEntry::initWithApiVideo(modelFromJSON<ApiYouTubeVideo>(json));
    ASSERT_TRUE(row) << c.statistics;
    EXPECT_EQ(row->viewCount(), c.views) << c.statistics;
    EXPECT_FLOAT_EQ(row->rating(), c.rating) << c.statistics;
  }
}

TEST(SearchEntryFromApi, UploadActivitiesAndPlaylistItemsGiveTheirVideoIds) {
  auto upload = SearchEntry::initWithApiActivity(modelFromJSON<ApiYouTubeActivity>(
      R"({"kind": "youtube#activity", "id": "act1",
          "snippet": {"type": "upload", "title": "Uploaded", "channelId": "UCup", "channelTitle": "Uploader",
                      "publishedAt": "2015-03-04T12:00:00Z"},
          "contentDetails": {"upload": {"videoId": "upVid"}}})"));
  ASSERT_TRUE(upload);
  EXPECT_EQ(upload->videoid(), "upVid");
  EXPECT_EQ(upload->title(), "Uploaded");
  EXPECT_EQ(upload->author(), "Uploader");
  EXPECT_EQ(upload->videoChannelId(), "UCup");
  EXPECT_EQ(upload->date(), "2015-03-04");
  for (const char* other :
       {R"({"kind": "youtube#activity", "contentDetails": {"like": {"resourceId": {"videoId": "x"}}}})",
        R"({"kind": "youtube#activity", "contentDetails": {}})",
        R"({"kind": "youtube#activity", "contentDetails": {"upload": {"videoId": 3}}})"})
    EXPECT_FALSE(SearchEntry::initWithApiActivity(modelFromJSON<ApiYouTubeActivity>(other))) << other;

  auto item = SearchEntry::initWithApi(modelFromJSON<ApiYouTubePlaylistItem>(
      R"({"kind": "youtube#playlistItem", "id": "PLitem1",
          "snippet": {"playlistId": "PLlist", "title": "In a list", "channelId": "UCowner", "channelTitle": "Owner",
                      "resourceId": {"kind": "youtube#video", "videoId": "itemVid"}}})"));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->videoid(), "itemVid");
  EXPECT_EQ(item->playlistItemId(), "PLitem1");
  EXPECT_EQ(item->playlistid(), "PLlist");
  EXPECT_EQ(item->title(), "In a list");
  EXPECT_EQ(item->author(), "");
  EXPECT_EQ(item->videoChannelId(), "");
  EXPECT_FALSE(SearchEntry::initWithApi(modelFromJSON<ApiYouTubePlaylistItem>(
      R"({"kind": "youtube#playlistItem", "id": "PLitem2", "snippet": {"resourceId": {"kind": "youtube#video"}}})")));
}

TEST(SearchEntryFromApi, SearchTextsShowDecodedWhetherTheReplyEscapedThemOrNot) {
  // search-1.json escapes its texts as HTML, search-2.json does not.
  auto escaped = modelFromJSON<ApiYouTubeSearchListResponse>(googletest::fixtureText("search-1.json"));
  ASSERT_TRUE(escaped);
  std::vector<std::string> titles;
  for (const auto& result : itemsOf<ApiYouTubeSearchResult>(escaped))
    if (auto row = SearchEntry::initWithApiSearchResult(result)) titles.push_back(row->title());
  EXPECT_NE(std::find(titles.begin(), titles.end(),
                      "Albanese touts experience as Morrison calls him a 'blank page' | ABC News"),
            titles.end());
  for (const auto& title : titles) EXPECT_EQ(title.find("&#"), std::string::npos) << title;

  auto raw = modelFromJSON<ApiYouTubeSearchListResponse>(googletest::fixtureText("search-2.json"));
  ASSERT_TRUE(raw);
  auto rows = itemsOf<ApiYouTubeSearchResult>(raw);
  std::vector<std::string> texts;
  for (const auto& result : rows)
    if (auto row = SearchEntry::initWithApiSearchResult(result))
      texts.push_back(row->title() + "|" + row->desc());
  auto holds = [&](const std::string& part) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](auto& t) { return t.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(holds("All the Variety Names & Ways I am Growing Them"));
  EXPECT_TRUE(holds("Jamie Oliver's Food Revolution"));
  EXPECT_TRUE(holds("Just ask Ellen's writers."));

  // Title, description and channel title of each kind of result; what is no well-formed
  // reference stays.
  const std::string snippet = R"({"title": "Tom &amp; Jerry &#x26;amp; &#128512; &lt;b&gt;",
      "description": "&quot;Q&quot; &apos;A&apos; &bogus; &#xZZ; &#; &amp &#1114112; &#xD800; &#0; x&y",
      "channelTitle": "Ben &#38; Co &#X41;", "channelId": "UCx"})";
  auto video = SearchEntry::initWithApiSearchResult(
      modelFromJSON<ApiYouTubeSearchResult>(searchResult(R"({"videoId": "v"})", snippet)));
  ASSERT_TRUE(video);
  EXPECT_EQ(video->title(), "Tom & Jerry &amp; \xF0\x9F\x98\x80 <b>");
  EXPECT_EQ(video->desc(), "\"Q\" 'A' &bogus; &#xZZ; &#; &amp &#1114112; &#xD800; &#0; x&y");
  EXPECT_EQ(video->author(), "Ben & Co A");
  auto playlist = SearchEntry::initWithApiSearchPlaylistResult(
      modelFromJSON<ApiYouTubeSearchResult>(searchResult(R"({"playlistId": "PL"})", snippet)));
  ASSERT_TRUE(playlist);
  EXPECT_EQ(playlist->title(), video->title());
  EXPECT_EQ(playlist->desc(), video->desc());
  auto channel = SearchEntry::initWithApiSearchChannelResult(
      modelFromJSON<ApiYouTubeSearchResult>(searchResult(R"({"channelId": "UC"})", snippet)));
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->title(), video->title());
  EXPECT_EQ(channel->desc(), video->desc());
  EXPECT_EQ(textWithCharacterReferencesDecoded("&&amp;;&"), "&&;&");
}

TEST(SearchEntryFromApi, RealRepliesGiveRowsForEveryItemOfTheirKind) {
  auto search = modelFromJSON<ApiYouTubeSearchListResponse>(googletest::fixtureText("search-2.json"));
  ASSERT_TRUE(search);
  std::vector<std::string> videos, channels;
  for (const auto& result : itemsOf<ApiYouTubeSearchResult>(search)) {
    if (auto row = SearchEntry::initWithApiSearchResult(result)) videos.push_back(*row->videoid());
    if (auto row = SearchEntry::initWithApiSearchChannelResult(result)) channels.push_back(row->channelid());
  }
  EXPECT_EQ(videos, (std::vector<std::string>{"DN61Xcwc4u0", "idw9J0DoLks", "NskAr0d3Cn8", "bGYs4KS_djg"}));
  EXPECT_EQ(channels, std::vector<std::string>{"UCHroTZTdUNXeZOWypt4Akvw"});
  auto first = SearchEntry::initWithApiSearchResult(itemsOf<ApiYouTubeSearchResult>(search).at(0));
  EXPECT_EQ(first->author(), "Gary Pilarchik  (The Rusted Garden)");
  EXPECT_EQ(first->date().substr(0, 7), "2017-06");

  auto list = modelFromJSON<ApiYouTubeVideoListResponse>(googletest::fixtureText("videos-1.json"));
  ASSERT_TRUE(list);
  auto video = SearchEntry::initWithApiVideo(itemsOf<ApiYouTubeVideo>(list).at(0));
  ASSERT_TRUE(video);
  EXPECT_EQ(video->author(), "C-SPAN");
  EXPECT_EQ(video->duration(), 53 * 60 + 53);
  EXPECT_EQ(video->viewCount(), 458565);
  EXPECT_FLOAT_EQ(video->rating(), ratingForLikes_dislikes(3481, 386));
  EXPECT_NEAR(video->rating(), 4.5, 0.01);

  // Only the uploads of the real activities give rows (the reply that was asked for snippets
  // alone has no upload video ids).
  std::vector<std::string> uploads;
  for (const char* name : {"activities-1.json", "activities-2.json"}) {
    auto activities = modelFromJSON<ApiYouTubeActivityListResponse>(googletest::fixtureText(name));
    ASSERT_TRUE(activities);
    for (const auto& activity : itemsOf<ApiYouTubeActivity>(activities))
      if (auto row = SearchEntry::initWithApiActivity(activity)) uploads.push_back(*row->videoid());
  }
  EXPECT_EQ(uploads, (std::vector<std::string>{"KsnoVFJdbVc", "Rvk5G9ASErI", "K5_UsaW90dc"}));

  auto items =
      modelFromJSON<ApiYouTubePlaylistItemListResponse>(googletest::fixtureText("playlistItems-1.json"));
  ASSERT_TRUE(items);
  auto itemRows = itemsOf<ApiYouTubePlaylistItem>(items);
  ASSERT_EQ(itemRows.size(), 10u);
  auto row = SearchEntry::initWithApi(itemRows.at(0));
  ASSERT_TRUE(row);
  EXPECT_EQ(row->videoid(), "Ev_-gOW-gMo");
  EXPECT_EQ(row->playlistid(), "PLWDhtSiJQSdRf_OgbtnbPD0Ub03mY-tGX");
  EXPECT_EQ(row->playlistItemId(), itemRows.at(0)->identifier());
  EXPECT_EQ(row->thumburl(), "https://i.ytimg.com/vi/Ev_-gOW-gMo/mqdefault.jpg");
  EXPECT_EQ(row->getHighResolutionThumbnailURL(), "https://i.ytimg.com/vi/Ev_-gOW-gMo/hqdefault.jpg");
}

// ---- completing a row from the network ----

// What a row's completion block saw.
struct Completion {
  std::atomic<int> runs{0};
  std::atomic<bool> onMainThread{true};
  std::function<void(const ns::Ref<SearchEntry>&)> block() {
    return [this](const ns::Ref<SearchEntry>&) {
      ++runs;
      if (!ns::Thread::isMainThread()) onMainThread = false;
    };
  }
};

// The records go to the shared keyed disk cache, in the program's shared sandbox.
class SearchEntryNetworkTest : public ::testing::Test {
 protected:
  SearchEntryNetworkTest() {
    sharedCacheSandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api_.serveAsAPIHost();
    testsupport::FakeMainWindowController::Answers answers;
    answers.youTubeService = ns::make<ApiServiceYouTube>();
    controller_->setAnswers(answers);
  }
  ~SearchEntryNetworkTest() override { api_.release(); }

  void seedVideo(const std::string& id, const std::string& statistics) {
    api_.seed("videos", {R"({"kind": "youtube#video", "id": ")" + id + R"(",
      "snippet": {"publishedAt": "2015-03-04T12:00:00Z", "channelId": "UCnet", "title": "Net title",
                  "description": "Net text", "channelTitle": "Net channel",
                  "thumbnails": {"medium": {"url": "https://i.example/m.jpg"}}},
      "contentDetails": {"duration": "PT1M5S"}, "statistics": )" +
                         statistics + "}"});
  }
  void waitFor(Completion& completion) {
    ASSERT_TRUE(pltest::pumpUntil([&] { return completion.runs > 0; }, 30));
    // Whatever is still queued runs too, so that a second run would be seen.
    bool ran = false;
    ns::RunLoop::currentRunLoop()->performInModes_block({ns::DefaultRunLoopMode}, [&] { ran = true; });
    ASSERT_TRUE(pltest::pumpUntil([&] { return ran; }));
  }

  testsupport::FakeDataAPI api_;
  ns::Ref<testsupport::FakeMainWindowController> controller_ =
      ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installed_{controller_};
};

TEST_F(SearchEntryNetworkTest, ARowKnownByIdIsFilledAndItsRecordStored) {
  seedVideo("netVid1", R"({"viewCount": "3000000000", "likeCount": "3", "dislikeCount": "1"})");
  auto row = SearchEntry::init();
  row->setVideoid("netVid1");
  Completion completion;
  row->getFromNetwork(completion.block());
  waitFor(completion);
  EXPECT_EQ(completion.runs, 1);
  EXPECT_TRUE(completion.onMainThread);

  auto calls = api_.callsOf("youtube.videos.list");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].params["id"], ns::Value("netVid1"));
  EXPECT_EQ(calls[0].params["part"], ns::Value("snippet,contentDetails,statistics"));

  EXPECT_EQ(row->videoid(), "netVid1");
  EXPECT_EQ(row->title(), "Net title");
  EXPECT_EQ(row->author(), "Net channel");
  EXPECT_EQ(row->videoChannelId(), "UCnet");
  EXPECT_EQ(row->duration(), 65);
  EXPECT_EQ(row->viewCount(), 2147483647);
  EXPECT_FLOAT_EQ(row->rating(), 3.75f);
  EXPECT_EQ(row->thumburl(), "https://i.example/m.jpg");

  getSharedGVCache()->synchronize();
  auto record = cachedVideoDetailRecord("netVid1");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->channelId, "UCnet");
  EXPECT_EQ(record->duration, "PT1M5S");
  EXPECT_EQ(record->date, "2015-03-04");
  EXPECT_EQ(record->channelTitle, "Net channel");
  EXPECT_EQ(record->viewCount, 3000000000LL);
  EXPECT_DOUBLE_EQ(record->rating, 3.75);
  EXPECT_EQ(cachedChannelTitle("UCnet"), "Net channel");
}

TEST_F(SearchEntryNetworkTest, AFailedCallLeavesTheRowAsItWasAndStillCallsBackOnce) {
  seedVideo("netVid2", R"({"viewCount": "10"})");
  api_.script("youtube.videos.list",
              testsupport::FakeDataAPI::Script(testsupport::FakeDataAPI::Answer::JSONError, 500, 500));
  auto row = SearchEntry::init();
  row->setVideoid("netVid2");
  row->setTitle("Kept");
  Completion completion;
  row->getFromNetwork(completion.block());
  waitFor(completion);
  EXPECT_EQ(completion.runs, 1);
  EXPECT_TRUE(completion.onMainThread);
  EXPECT_EQ(row->title(), "Kept");
  EXPECT_EQ(row->viewCount(), 0);
  EXPECT_EQ(row->author(), "");
  getSharedGVCache()->synchronize();
  EXPECT_FALSE(cachedVideoDetailRecord("netVid2"));
}

TEST_F(SearchEntryNetworkTest, WithoutAnIdOrAServiceTheBlockRunsOnceAndNothingIsAsked) {
  Completion noId;
  SearchEntry::init()->getFromNetwork(noId.block());
  waitFor(noId);
  EXPECT_EQ(noId.runs, 1);

  controller_->setAnswers({});
  auto row = SearchEntry::init();
  row->setVideoid("netVid3");
  Completion noService;
  row->getFromNetwork(noService.block());
  waitFor(noService);
  EXPECT_EQ(noService.runs, 1);
  EXPECT_TRUE(noService.onMainThread);
  EXPECT_EQ(api_.postCount(), 0u);

  // A reply without the video (deleted since) changes nothing either.
  testsupport::FakeMainWindowController::Answers answers;
  answers.youTubeService = ns::make<ApiServiceYouTube>();
  controller_->setAnswers(answers);
  Completion gone;
  row->getFromNetwork(gone.block());
  waitFor(gone);
  EXPECT_EQ(gone.runs, 1);
  EXPECT_EQ(row->title(), "");
  EXPECT_EQ(api_.callsOf("youtube.videos.list").size(), 1u);
}

}  // namespace
