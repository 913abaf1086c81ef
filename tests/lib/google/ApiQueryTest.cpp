// Queries: parameters as dynamic properties over the parameter dictionary, request IDs, copies,
// the YouTube constructors and the scope constants.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/YouTubeAuthScopes.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Send.h"
#include "tests/lib/google/GoogleTestSupport.h"

namespace {

using googletest::cls;
using googletest::compact;
using googletest::tree;
using googletest::words;

std::string paramsText(const ns::Ref<ApiQuery>& query) {
  return query->JSON() ? compact(ns::Value(query->JSON())) : std::string("<none>");
}

unsigned long long idNumber(const std::string& requestID) {
  EXPECT_EQ(requestID.rfind("api_", 0), 0u) << requestID;
  return std::stoull(requestID.substr(4));
}

// The text after the address: "ApiQueryYouTube 0x...: {...}" -> "ApiQueryYouTube {...}".
std::string withoutAddress(const std::string& description) {
  auto space = description.find(' ');
  auto colon = description.find(": ", space);
  if (space == std::string::npos || colon == std::string::npos) return description;
  return description.substr(0, space) + " " + description.substr(colon + 2);
}

ns::Ref<ApiDateTime> time(const char* text) {
  return ApiDateTime::dateTimeWithRFC3339String(std::string(text));
}

TEST(ApiQueryParameters, VideosListSendsItsParametersUnderTheirJSONNames) {
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet");
  ASSERT_TRUE(query);
  query->setIdentifier(std::string("abc"));
  query->setMine(true);
  query->setMaxResults(50);
  query->setPublishedAfter(time("2024-01-02T03:04:05Z"));
  EXPECT_EQ(
      paramsText(query),
      R"({"part":"snippet","id":"abc","mine":true,"maxResults":50,"publishedAfter":"2024-01-02T03:04:05Z"})");
  EXPECT_EQ(query->JSONValueForKey("identifier"), ns::Value());
  // Read back, typed and through the runtime.
  EXPECT_EQ(query->identifier(), "abc");
  EXPECT_TRUE(query->mine());
  EXPECT_EQ(query->maxResults(), 50u);
  EXPECT_TRUE(query->publishedAfter()->isEqual(time("2024-01-02T03:04:05Z").get()));
  EXPECT_EQ(ns::valueForKey(query, "identifier"), ns::Value("abc"));
  EXPECT_EQ(ns::send<ns::Value>(query, "part"), ns::Value("snippet"));
  EXPECT_EQ(ns::valueForKey(query, "maxResults").unsignedLongLongValue(), 50u);
  EXPECT_TRUE(ns::valueForKey(query, "mine").boolValue());
  // Unset parameters read as nothing.
  EXPECT_FALSE(query->pageToken());
  EXPECT_FALSE(query->home());
  EXPECT_EQ(query->offsetTimeMs(), 0u);
  EXPECT_FALSE(query->publishedBefore());

  // Nothing removes a parameter; a boolean set to NO is sent as false.
  query->setIdentifier(std::nullopt);
  query->setPublishedAfter(nullptr);
  query->setMine(false);
  EXPECT_EQ(paramsText(query), R"({"part":"snippet","mine":false,"maxResults":50})");
  query->setCustomParameter_forKey(ns::Value("v"), "custom");
  query->setCustomParameter_forKey(ns::Value(), "mine");
  EXPECT_EQ(paramsText(query), R"({"part":"snippet","maxResults":50,"custom":"v"})");
  // A query answers the paging selectors through the runtime.
  EXPECT_TRUE(ns::respondsToSelector(query, "pageToken"));
  EXPECT_TRUE(ns::respondsToSelector(query, "setPageToken:"));
  EXPECT_FALSE(ns::respondsToSelector(query, "startIndex"));
  ns::send<void>(query, "setPageToken:", ns::Value("CAUQAA"));
  EXPECT_EQ(query->pageToken(), "CAUQAA");
}

TEST(ApiQueryParameters, EveryParameterIsDeclaredWithItsType) {
  enum Type { Text, Flag, Count, Time };
  std::vector<std::pair<std::string, Type>> parameters;
  const std::pair<const char*, Type> byType[] = {
      {"fields broadcastStatus categoryId channelId channelType chart eventType forChannelId forUsername hl "
       "identifier locale location locationRadius myRating onBehalfOfContentOwner "
       "onBehalfOfContentOwnerChannel order pageToken part playlistId q rating regionCode relatedToVideoId "
       "safeSearch streamId topicId type videoCaption videoCategoryId videoDefinition videoDimension "
       "videoDuration videoEmbeddable videoId videoLicense videoSyndicated videoType",
       Text},
      {"autoLevels displaySlate forContentOwner forMine home managedByMe mine mySubscribers "
       "notifySubscribers stabilize",
       Flag},
      {"maxResults offsetTimeMs", Count},
      {"publishedAfter publishedBefore walltime", Time},
  };
  for (const auto& [names, type] : byType) {
    std::istringstream words(names);
    for (std::string name; words >> name;) parameters.emplace_back(name, type);
  }
  EXPECT_EQ(parameters.size(), 54u);
  ns::Class youtube = ns::NSClassFromString("ApiQueryYouTube");
  EXPECT_EQ(ns::class_copyPropertyList(youtube).size(), parameters.size());
  for (const auto& [name, type] : parameters) {
    SCOPED_TRACE(name);
    ns::Property property = ns::class_getProperty(youtube, name.c_str());
    ASSERT_TRUE(property);
    const char* prefix[] = {"T@\"NSString\",C", "Tc", "TQ", "T@\"ApiDateTime\""};
    EXPECT_EQ(property->attributes().rfind(prefix[type], 0), 0u) << property->attributes();

    auto query = ApiQueryYouTube::queryWithMethodName("youtube.test.list");
    ns::Value value = type == Text    ? ns::Value("x y")
                      : type == Flag  ? ns::Value(true)
                      : type == Count ? ns::Value(18446744073709551615ull)
                                      : ns::Value(time("2013-05-04T10:20:30.500Z"));
    ns::setValue_forKey(query, value, name);
    std::string key = std::string(name) == "identifier" ? "id" : name;
    const char* sent[] = {R"("x y")", "true", "18446744073709551615", R"("2013-05-04T10:20:30.500Z")"};
    EXPECT_EQ(paramsText(query), "{\"" + key + "\":" + sent[type] + "}");
    if (type == Text || type == Time) {
      ns::setValue_forKey(query, ns::Value(), name);
      EXPECT_EQ(paramsText(query), "{}");
    }
  }
  EXPECT_EQ(ApiQuery::propertyToJSONKeyMapForClass(youtube),
            (ns::Dictionary{{ns::Value("identifier"), ns::Value("id")}}));
  EXPECT_TRUE(ApiQuery::propertyToJSONKeyMapForClass(ApiQuery::classObject()).empty());
  EXPECT_TRUE(ApiQuery::arrayPropertyToClassMapForClass(youtube).empty());
}

// Whatever a caller stored in the parameters, the typed getters never crash on it.
TEST(ApiQueryParameters, ValuesOfAnotherTypeAnswerNothingThroughTypedGetters) {
  auto query = ApiQueryYouTube::queryWithMethodName("youtube.test.list");
  query->setCustomParameter_forKey(ns::Value(42LL), "part");
  query->setCustomParameter_forKey(ns::Value("many"), "maxResults");
  query->setCustomParameter_forKey(ns::Value(ns::Array{ns::Value(1LL)}), "publishedAfter");
  query->setCustomParameter_forKey(ns::Value(ns::Array{ns::Value(1LL)}), "offsetTimeMs");
  query->setCustomParameter_forKey(ns::Value("yes"), "mine");
  EXPECT_FALSE(query->part());
  EXPECT_EQ(query->maxResults(), 0u);
  EXPECT_FALSE(query->publishedAfter());
  EXPECT_EQ(query->offsetTimeMs(), 0u);
  EXPECT_TRUE(query->mine());  // the platform's reading of "yes"
  EXPECT_EQ(ns::valueForKey(query, "part"), ns::Value(42LL));
}

TEST(ApiQueryIdentity, RequestIDsCountUpAndCopiesKeepThem) {
  auto first = ApiQueryYouTube::queryForSearchListWithPart("snippet");
  auto second = ApiQueryYouTube::queryForSearchListWithPart("snippet");
  EXPECT_EQ(idNumber(second->requestID()), idNumber(first->requestID()) + 1);
  EXPECT_EQ(idNumber(ApiQuery::nextRequestID()), idNumber(second->requestID()) + 1);

  auto body = ApiObject::object<ApiYouTubePlaylist>();
  auto original = ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(body, "snippet,status");
  original->setMaxResults(5);
  original->setUrlQueryParameters(ns::Dictionary{{ns::Value("alt"), ns::Value("json")}});
  original->setAdditionalHTTPHeaders(ns::Dictionary{{ns::Value("X-A"), ns::Value("1")}});
  original->setShouldSkipAuthorization(true);
  auto upload = ApiUploadParameters::uploadParametersWithData_MIMEType(ns::Data(std::string("abc")),
                                                                       std::string("video/mp4"));
  original->setUploadParameters(upload);
  EXPECT_NE(original->uploadParameters(), upload);  // stored as a copy
  int calls = 0;
  original->setCompletionBlock([&](const auto&, const auto&, const auto&) { ++calls; });
  original->setPublishedAfter(time("2020-01-01T00:00:00Z"));
  ASSERT_TRUE(original->publishedAfter());

  ns::Ref<ApiQuery> copied = original->copy();
  auto copy = std::dynamic_pointer_cast<ApiQueryYouTube>(copied);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->requestID(), original->requestID());
  EXPECT_EQ(copy->methodName(), "youtube.playlists.insert");
  EXPECT_EQ(copy->bodyObject(), original->bodyObject());  // shared, not copied
  EXPECT_EQ(copy->expectedObjectClass(), ns::NSClassFromString("ApiYouTubePlaylist"));
  EXPECT_EQ(copy->urlQueryParameters(), original->urlQueryParameters());
  EXPECT_EQ(copy->additionalHTTPHeaders(), original->additionalHTTPHeaders());
  EXPECT_TRUE(copy->shouldSkipAuthorization());
  ASSERT_TRUE(copy->uploadParameters());
  EXPECT_EQ(copy->uploadParameters()->MIMEType(), "video/mp4");
  EXPECT_NE(copy->JSON(), original->JSON());
  EXPECT_EQ(paramsText(copy), paramsText(original));
  ASSERT_TRUE(copy->completionBlock());
  copy->completionBlock()(nullptr, nullptr, std::nullopt);
  EXPECT_EQ(calls, 1);

  // Editing the copy leaves the original as it was, the date-time parameter included.
  std::string before = paramsText(original);
  copy->setMaxResults(50);
  copy->setPart(std::string("id"));
  copy->setCustomParameter_forKey(ns::Value("new"), "extra");
  copy->publishedAfter()->setMilliseconds(7);
  copy->setPublishedAfter(time("2021-01-01T00:00:00Z"));
  EXPECT_EQ(paramsText(original), before);
  EXPECT_EQ(original->publishedAfter()->dateComponents().year, 2020);
  // The end of execution releases the copy's block and leaves the caller's.
  copy->executionDidStop();
  EXPECT_FALSE(copy->completionBlock());
  EXPECT_TRUE(original->completionBlock());
  EXPECT_FALSE(copy->isBatchQuery());

  // A query without parameters copies to one without parameters.
  auto bare = ApiQueryYouTube::queryWithMethodName("youtube.test.list");
  EXPECT_FALSE(bare->JSON());
  EXPECT_FALSE(bare->copy()->JSON());
}

TEST(ApiQueryIdentity, IDsStayUniqueAcrossThreads) {
  constexpr int kThreads = 8;
  constexpr int kQueries = 1000;
  std::vector<std::vector<std::string>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < kQueries; ++i) {
        auto query = ApiQueryYouTube::queryForVideosListWithPart("id");
        ids[t].push_back(query->requestID());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> all;
  for (const auto& list : ids) {
    all.insert(list.begin(), list.end());
    // Within a thread the numbers only grow.
    for (std::size_t i = 1; i < list.size(); ++i) EXPECT_LT(idNumber(list[i - 1]), idNumber(list[i]));
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kQueries));
}

TEST(ApiQueryIdentity, NoObjectOrNoMethodNameGivesNoQuery) {
  EXPECT_FALSE(ApiQuery::queryWithMethodName(""));
  EXPECT_FALSE(ApiQueryYouTube::queryWithMethodName(""));
  // A constructor given no object makes nothing, not even a request ID.
  unsigned long long before = idNumber(ApiQuery::nextRequestID());
  EXPECT_FALSE(ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(nullptr, "snippet"));
  EXPECT_FALSE(
      ApiQueryYouTube::queryForVideosInsertWithObject_part_uploadParameters(nullptr, "snippet", nullptr));
  EXPECT_FALSE(ApiQueryYouTube::queryForChannelBannersInsertWithObject_uploadParameters(nullptr, nullptr));
  EXPECT_FALSE(
      ApiQueryYouTube::queryForWatermarksSetWithObject_channelId_uploadParameters(nullptr, "UC", nullptr));
  EXPECT_EQ(idNumber(ApiQuery::nextRequestID()), before + 1);
  auto plain = ApiQuery::queryWithMethodName("youtube.test.list");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->className(), "ApiQuery");
  EXPECT_FALSE(plain->expectedObjectClass());
  // A plain query has no declared parameters: the runtime does not resolve them.
  EXPECT_FALSE(ns::respondsToSelector(plain, "part"));
}

TEST(ApiQueryConstructors, EveryConstructorMakesItsCall) {
  auto upload = ApiUploadParameters::uploadParametersWithData_MIMEType(ns::Data(std::string("img")),
                                                                       std::string("image/png"));
  using Make = std::function<ns::Ref<ApiQueryYouTube>()>;
  // The method after "youtube.", the expected class after "ApiYouTube" ("" for none), the parameter keys
  // in order, and flags: B for a body object, U for upload parameters.
  struct Case {
    const char* method;
    const char* expected;
    const char* params;
    std::string flags;
    Make make;
  };
  using Q = ApiQueryYouTube;
  auto activity = ApiObject::object<ApiYouTubeActivity>();
  auto banner = ApiObject::object<ApiYouTubeChannelBannerResource>();
  auto section = ApiObject::object<ApiYouTubeChannelSection>();
  auto channel = ApiObject::object<ApiYouTubeChannel>();
  auto broadcast = ApiObject::object<ApiYouTubeLiveBroadcast>();
  auto stream = ApiObject::object<ApiYouTubeLiveStream>();
  auto item = ApiObject::object<ApiYouTubePlaylistItem>();
  auto playlist = ApiObject::object<ApiYouTubePlaylist>();
  auto subscription = ApiObject::object<ApiYouTubeSubscription>();
  auto video = ApiObject::object<ApiYouTubeVideo>();
  auto branding = ApiObject::object<ApiYouTubeInvideoBranding>();
  const std::vector<Case> cases = {
      {"activities.insert", "Activity", "part", "B",
       [&] { return Q::queryForActivitiesInsertWithObject_part(activity, "p"); }},
      {"activities.list", "ActivityListResponse", "part", "",
       [&] { return Q::queryForActivitiesListWithPart("p"); }},
      {"channelBanners.insert", "ChannelBannerResource", "", "BU",
       [&] { return Q::queryForChannelBannersInsertWithObject_uploadParameters(banner, upload); }},
      {"channelSections.delete", "", "id", "",
       [&] { return Q::queryForChannelSectionsDeleteWithIdentifier("i"); }},
      {"channelSections.insert", "ChannelSection", "part", "B",
       [&] { return Q::queryForChannelSectionsInsertWithObject_part(section, "p"); }},
      {"channelSections.list", "ChannelSectionListResponse", "part", "",
       [&] { return Q::queryForChannelSectionsListWithPart("p"); }},
      {"channelSections.update", "ChannelSection", "part", "B",
       [&] { return Q::queryForChannelSectionsUpdateWithObject_part(section, "p"); }},
      {"channels.list", "ChannelListResponse", "part", "",
       [&] { return Q::queryForChannelsListWithPart("p"); }},
      {"channels.update", "Channel", "part", "B",
       [&] { return Q::queryForChannelsUpdateWithObject_part(channel, "p"); }},
      {"guideCategories.list", "GuideCategoryListResponse", "part", "",
       [&] { return Q::queryForGuideCategoriesListWithPart("p"); }},
      {"i18nLanguages.list", "I18nLanguageListResponse", "part", "",
       [&] { return Q::queryForI18nLanguagesListWithPart("p"); }},
      {"i18nRegions.list", "I18nRegionListResponse", "part", "",
       [&] { return Q::queryForI18nRegionsListWithPart("p"); }},
      {"liveBroadcasts.bind", "LiveBroadcast", "id,part", "",
       [&] { return Q::queryForLiveBroadcastsBindWithIdentifier_part("i", "p"); }},
      {"liveBroadcasts.control", "LiveBroadcast", "id,part", "",
       [&] { return Q::queryForLiveBroadcastsControlWithIdentifier_part("i", "p"); }},
      {"liveBroadcasts.delete", "", "id", "",
       [&] { return Q::queryForLiveBroadcastsDeleteWithIdentifier("i"); }},
      {"liveBroadcasts.insert", "LiveBroadcast", "part", "B",
       [&] { return Q::queryForLiveBroadcastsInsertWithObject_part(broadcast, "p"); }},
      {"liveBroadcasts.list", "LiveBroadcastListResponse", "part", "",
       [&] { return Q::queryForLiveBroadcastsListWithPart("p"); }},
      {"liveBroadcasts.transition", "LiveBroadcast", "broadcastStatus,id,part", "",
       [&] { return Q::queryForLiveBroadcastsTransitionWithBroadcastStatus_identifier_part("s", "i", "p"); }},
      {"liveBroadcasts.update", "LiveBroadcast", "part", "B",
       [&] { return Q::queryForLiveBroadcastsUpdateWithObject_part(broadcast, "p"); }},
      {"liveStreams.delete", "", "id", "", [&] { return Q::queryForLiveStreamsDeleteWithIdentifier("i"); }},
      {"liveStreams.insert", "LiveStream", "part", "B",
       [&] { return Q::queryForLiveStreamsInsertWithObject_part(stream, "p"); }},
      {"liveStreams.list", "LiveStreamListResponse", "part", "",
       [&] { return Q::queryForLiveStreamsListWithPart("p"); }},
      {"liveStreams.update", "LiveStream", "part", "B",
       [&] { return Q::queryForLiveStreamsUpdateWithObject_part(stream, "p"); }},
      {"playlistItems.delete", "", "id", "",
       [&] { return Q::queryForPlaylistItemsDeleteWithIdentifier("i"); }},
      {"playlistItems.insert", "PlaylistItem", "part", "B",
       [&] { return Q::queryForPlaylistItemsInsertWithObject_part(item, "p"); }},
      {"playlistItems.list", "PlaylistItemListResponse", "part", "",
       [&] { return Q::queryForPlaylistItemsListWithPart("p"); }},
      {"playlistItems.update", "PlaylistItem", "part", "B",
       [&] { return Q::queryForPlaylistItemsUpdateWithObject_part(item, "p"); }},
      {"playlists.delete", "", "id", "", [&] { return Q::queryForPlaylistsDeleteWithIdentifier("i"); }},
      {"playlists.insert", "Playlist", "part", "B",
       [&] { return Q::queryForPlaylistsInsertWithObject_part(playlist, "p"); }},
      {"playlists.list", "PlaylistListResponse", "part", "",
       [&] { return Q::queryForPlaylistsListWithPart("p"); }},
      {"playlists.update", "Playlist", "part", "B",
       [&] { return Q::queryForPlaylistsUpdateWithObject_part(playlist, "p"); }},
      {"search.list", "SearchListResponse", "part", "", [&] { return Q::queryForSearchListWithPart("p"); }},
      {"subscriptions.delete", "", "id", "",
       [&] { return Q::queryForSubscriptionsDeleteWithIdentifier("i"); }},
      {"subscriptions.insert", "Subscription", "part", "B",
       [&] { return Q::queryForSubscriptionsInsertWithObject_part(subscription, "p"); }},
      {"subscriptions.list", "SubscriptionListResponse", "part", "",
       [&] { return Q::queryForSubscriptionsListWithPart("p"); }},
      {"thumbnails.set", "ThumbnailSetResponse", "videoId", "U",
       [&] { return Q::queryForThumbnailsSetWithVideoId_uploadParameters("v", upload); }},
      {"videoCategories.list", "VideoCategoryListResponse", "part", "",
       [&] { return Q::queryForVideoCategoriesListWithPart("p"); }},
      {"videos.delete", "", "id", "", [&] { return Q::queryForVideosDeleteWithIdentifier("i"); }},
      {"videos.getRating", "VideoGetRatingResponse", "id", "",
       [&] { return Q::queryForVideosGetRatingWithIdentifier("i"); }},
      {"videos.insert", "Video", "part", "BU",
       [&] { return Q::queryForVideosInsertWithObject_part_uploadParameters(video, "p", upload); }},
      {"videos.list", "VideoListResponse", "part", "", [&] { return Q::queryForVideosListWithPart("p"); }},
      {"videos.rate", "", "id,rating", "",
       [&] { return Q::queryForVideosRateWithIdentifier_rating("i", "r"); }},
      {"videos.update", "Video", "part", "B",
       [&] { return Q::queryForVideosUpdateWithObject_part(video, "p"); }},
      {"watermarks.set", "", "channelId", "BU",
       [&] { return Q::queryForWatermarksSetWithObject_channelId_uploadParameters(branding, "c", upload); }},
      {"watermarks.unset", "", "channelId", "", [&] { return Q::queryForWatermarksUnsetWithChannelId("c"); }},
  };
  EXPECT_EQ(cases.size(), 45u);
  // What each parameter was given above.
  const ns::Dictionary given = {{ns::Value("part"), ns::Value("p")},
                                {ns::Value("id"), ns::Value("i")},
                                {ns::Value("broadcastStatus"), ns::Value("s")},
                                {ns::Value("rating"), ns::Value("r")},
                                {ns::Value("videoId"), ns::Value("v")},
                                {ns::Value("channelId"), ns::Value("c")}};
  std::set<std::string> methods;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    auto query = c.make();
    ASSERT_TRUE(query);
    methods.insert(query->methodName());
    EXPECT_EQ(query->methodName(), std::string("youtube.") + c.method);
    EXPECT_EQ(query->className(), "ApiQueryYouTube");
    if (*c.expected) {
      ASSERT_TRUE(query->expectedObjectClass());
      EXPECT_EQ(query->expectedObjectClass()->name(), std::string("ApiYouTube") + c.expected);
    } else {
      EXPECT_FALSE(query->expectedObjectClass());
    }
    std::vector<std::string> keys = query->JSON() ? query->JSON()->allKeys() : std::vector<std::string>();
    std::string joined;
    for (const std::string& key : keys) {
      joined += (joined.empty() ? "" : ",") + key;
      EXPECT_EQ(query->JSONValueForKey(key), given[ns::Value(key)]) << key;
    }
    EXPECT_EQ(joined, c.params);
    bool uploads = c.flags.find('U') != std::string::npos;
    EXPECT_EQ(query->bodyObject() != nullptr, c.flags.find('B') != std::string::npos);
    EXPECT_EQ(query->uploadParameters() != nullptr, uploads);
    if (uploads) {
      EXPECT_EQ(query->uploadParameters()->MIMEType(), "image/png");
    }
  }
  EXPECT_EQ(methods.size(), cases.size());
  EXPECT_EQ(Q::queryForPlaylistsInsertWithObject_part(playlist, "snippet")->bodyObject(), playlist);
}

TEST(ApiQueryConstructors, DescriptionListsSortedParameterKeys) {
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet");
  query->setIdentifier(std::string("abc"));
  EXPECT_EQ(withoutAddress(query->description()),
            "ApiQueryYouTube {method:youtube.videos.list params:(id,part)}");
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(query.get()));
  EXPECT_EQ(query->description().find(std::string("ApiQueryYouTube ") + address + ": {"), 0u);

  auto bare = ApiQuery::queryWithMethodName("youtube.test.list");
  EXPECT_EQ(withoutAddress(bare->description()), "ApiQuery {method:youtube.test.list}");

  auto insert = ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(
      ApiObject::object<ApiYouTubePlaylist>(), "snippet,status");
  insert->setMaxResults(3);
  insert->setUrlQueryParameters(
      ns::Dictionary{{ns::Value("zeta"), ns::Value("1")}, {ns::Value("alpha"), ns::Value("2")}});
  insert->setUploadParameters(ApiUploadParameters::uploadParametersWithData_MIMEType(
      ns::Data(std::string("abc")), std::string("video/mp4")));
  std::string text = withoutAddress(insert->description());
  EXPECT_EQ(text.rfind("ApiQueryYouTube {method:youtube.playlists.insert params:(maxResults,part) "
                       "urlQParams:(alpha,zeta) bodyObject:ApiYouTubePlaylist ApiUploadParameters ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("MIMEType:video/mp4"), std::string::npos) << text;
}

TEST(YouTubeAuthScopes, ScopesAreURLsOnTheConfiguredHost) {
  const char* saved = std::getenv(kGoogleAPIURLEnvironmentKey);
  std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::unsetenv(kGoogleAPIURLEnvironmentKey);
  EXPECT_EQ(YouTubeAuthScope(), "https://www.googleapis.com/auth/youtube");
  EXPECT_EQ(YouTubeAuthScopeReadonly(), "https://www.googleapis.com/auth/youtube.readonly");
  EXPECT_EQ(YouTubeAuthScopeUpload(), "https://www.googleapis.com/auth/youtube.upload");
  EXPECT_EQ(YouTubeAuthScopePartner(), "https://www.googleapis.com/auth/youtubepartner");
  EXPECT_EQ(YouTubeAuthScopePartnerChannelAudit(),
            "https://www.googleapis.com/auth/youtubepartner-channel-audit");
  ::setenv(kGoogleAPIURLEnvironmentKey, "http://127.0.0.1:8123/", 1);
  EXPECT_EQ(googleAPIBaseURL(), "http://127.0.0.1:8123");
  EXPECT_EQ(YouTubeAuthScope(), "http://127.0.0.1:8123/auth/youtube");
  ::setenv(kGoogleAPIURLEnvironmentKey, "", 1);
  EXPECT_EQ(googleAPIBaseURL(), "https://www.googleapis.com");
  if (restore) {
    ::setenv(kGoogleAPIURLEnvironmentKey, restore->c_str(), 1);
  } else {
    ::unsetenv(kGoogleAPIURLEnvironmentKey);
  }
}

}  // namespace
