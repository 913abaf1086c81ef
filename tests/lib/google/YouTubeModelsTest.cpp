// The YouTube model classes: their registry entries, schema and typed accessors over hand-written
// replies in the wire format and over the real replies of tests/fixtures, read through the
// real parser and model core.
#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Send.h"
#include "tests/lib/google/GoogleTestSupport.h"

namespace {

using googletest::cls;
using googletest::compact;
using googletest::tree;
using googletest::words;

// A reply made into objects the way the service does it.
template <class T>
ns::Ref<T> reply(const std::string& text, const char* defaultClass = nullptr) {
  auto object = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
      tree(text), defaultClass ? cls(defaultClass) : nullptr, nullptr, ns::Value());
  auto typed = std::dynamic_pointer_cast<T>(object);
  EXPECT_TRUE(typed) << (object ? object->className() : std::string("no object"));
  return typed;
}

template <class T>
ns::Ref<T> fixture(const std::string& name, const char* defaultClass) {
  return reply<T>(googletest::fixtureText(name), defaultClass);
}

template <class T>
std::vector<ns::Ref<T>> itemsOf(const ns::Array& items) {
  std::vector<ns::Ref<T>> out;
  for (const ns::Value& item : items) {
    auto typed = item.objectAs<T>();
    EXPECT_TRUE(typed) << item.description();
    if (typed) out.push_back(typed);
  }
  return out;
}

// Seconds since 1970 of a UTC time.
double utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<double>(timegm(&t));
}

// Every class, with its superclass, as the schema's documentation names them.
const std::vector<std::string> kCollectionClasses = words(
    "ActivityListResponse ChannelListResponse ChannelSectionListResponse GuideCategoryListResponse "
    "I18nLanguageListResponse I18nRegionListResponse InvideoPromotion LiveBroadcastListResponse "
    "LiveStreamListResponse PlaylistItemListResponse PlaylistListResponse SearchListResponse "
    "SubscriptionListResponse ThumbnailSetResponse VideoCategoryListResponse VideoGetRatingResponse "
    "VideoListResponse",
    "ApiYouTube");
const std::vector<std::string> kObjectClasses = words(
    "AccessPolicy Activity ActivityContentDetails ActivityContentDetailsBulletin "
    "ActivityContentDetailsChannelItem ActivityContentDetailsComment ActivityContentDetailsFavorite "
    "ActivityContentDetailsLike ActivityContentDetailsPlaylistItem ActivityContentDetailsPromotedItem "
    "ActivityContentDetailsRecommendation ActivityContentDetailsSocial "
    "ActivityContentDetailsSubscription ActivityContentDetailsUpload ActivitySnippet CdnSettings "
    "Channel ChannelAuditDetails ChannelBannerResource ChannelBrandingSettings ChannelContentDetails "
    "ChannelContentDetailsRelatedPlaylists ChannelContentOwnerDetails ChannelConversionPing "
    "ChannelConversionPings ChannelSection ChannelSectionContentDetails ChannelSectionSnippet "
    "ChannelSettings ChannelSnippet ChannelStatistics ChannelStatus ChannelTopicDetails ContentRating "
    "GeoPoint GuideCategory GuideCategorySnippet I18nLanguage I18nLanguageSnippet I18nRegion "
    "I18nRegionSnippet ImageSettings IngestionInfo InvideoBranding InvideoPosition InvideoTiming "
    "LiveBroadcast LiveBroadcastContentDetails LiveBroadcastSnippet LiveBroadcastStatus LiveStream "
    "LiveStreamContentDetails LiveStreamSnippet LiveStreamStatus LocalizedProperty LocalizedString "
    "MonitorStreamInfo PageInfo Playlist PlaylistContentDetails PlaylistItem "
    "PlaylistItemContentDetails PlaylistItemSnippet PlaylistItemStatus PlaylistPlayer PlaylistSnippet "
    "PlaylistStatus PromotedItem PromotedItemId PropertyValue ResourceId SearchResult "
    "SearchResultSnippet Subscription SubscriptionContentDetails SubscriptionSnippet "
    "SubscriptionSubscriberSnippet Thumbnail ThumbnailDetails TokenPagination Video VideoAgeGating "
    "VideoCategory VideoCategorySnippet VideoContentDetails VideoContentDetailsRegionRestriction "
    "VideoConversionPing VideoConversionPings VideoFileDetails VideoFileDetailsAudioStream "
    "VideoFileDetailsVideoStream VideoLiveStreamingDetails VideoMonetizationDetails VideoPlayer "
    "VideoProcessingDetails VideoProcessingDetailsProcessingProgress VideoProjectDetails VideoRating "
    "VideoRecordingDetails VideoSnippet VideoStatistics VideoStatus VideoSuggestions "
    "VideoSuggestionsTagSuggestion VideoTopicDetails WatchSettings",
    "ApiYouTube");

std::vector<std::string> allClasses() {
  std::vector<std::string> all = kCollectionClasses;
  all.insert(all.end(), kObjectClasses.begin(), kObjectClasses.end());
  return all;
}

TEST(YouTubeModelRegistry, EveryClassExistsWithItsSuperclass) {
  EXPECT_EQ(allClasses().size(), 123u);
  EXPECT_EQ(std::set<std::string>(kObjectClasses.begin(), kObjectClasses.end()).size(),
            kObjectClasses.size());
  for (const std::string& name : kCollectionClasses) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(cls(name));
    EXPECT_EQ(ns::class_getSuperclass(cls(name)), cls("ApiCollectionObject"));
    EXPECT_TRUE(std::dynamic_pointer_cast<ApiCollectionObject>(ApiObject::objectOfClass(cls(name))));
  }
  for (const std::string& name : kObjectClasses) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(cls(name));
    EXPECT_EQ(ns::class_getSuperclass(cls(name)), cls("ApiObject"));
    auto made = ApiObject::objectOfClass(cls(name));
    EXPECT_EQ(made->className(), name);
    EXPECT_FALSE(std::dynamic_pointer_cast<ApiCollectionObject>(made));
  }
  EXPECT_EQ(ApiYouTubeModelClassNamed("ApiYouTubeVideo"), cls("ApiYouTubeVideo"));
  EXPECT_EQ(ApiYouTubeModelClassNamed("ApiYouTubeNothing"), nullptr);
}

TEST(YouTubeModelRegistry, EveryKindResolvesToItsClass) {
  // Each kind "youtube#thing" names the class "ApiYouTubeThing".
  const std::vector<std::string> kinds = words(
      "activity activityListResponse channel channelBannerResource channelListResponse channelSection "
      "channelSectionListResponse guideCategory guideCategoryListResponse i18nLanguage "
      "i18nLanguageListResponse i18nRegion i18nRegionListResponse liveBroadcast "
      "liveBroadcastListResponse liveStream liveStreamListResponse playlist playlistItem "
      "playlistItemListResponse playlistListResponse searchListResponse searchResult subscription "
      "subscriptionListResponse thumbnailSetResponse video videoCategory videoCategoryListResponse "
      "videoGetRatingResponse videoListResponse");
  EXPECT_EQ(kinds.size(), 31u);
  for (const std::string& word : kinds) {
    std::string kind = "youtube#" + word;
    std::string name = "ApiYouTube" + word;
    name[10] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[10])));
    SCOPED_TRACE(kind);
    EXPECT_EQ(ApiObject::registeredObjectClassForKind(kind), cls(name));
    // And a reply of that kind comes out as the class, whatever the default class.
    auto made = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
        tree(R"({"kind":")" + kind + R"(","etag":"e"})"), cls("ApiYouTubeThumbnail"), nullptr, ns::Value());
    ASSERT_TRUE(made);
    EXPECT_EQ(made->className(), name);
  }
  // Parts have no kind; the service's own spelling slips ("youtube#SubscriptionListResponse")
  // fall back to the default class.
  EXPECT_EQ(ApiObject::registeredObjectClassForKind("youtube#thumbnail"), nullptr);
  EXPECT_EQ(ApiObject::registeredObjectClassForKind("youtube#SubscriptionListResponse"), nullptr);
  EXPECT_EQ(ApiObject::registeredObjectClassForKind("youtube#resourceId"), nullptr);
}

TEST(YouTubeModelSchema, ArrayElementClassesAndKeyExceptions) {
  // "Class.key:Element" after "ApiYouTube"; no element: an array of text.
  const std::vector<std::string> arrays = words(
      "AccessPolicy.exception ActivityContentDetailsPromotedItem.forecastingUrl "
      "ActivityContentDetailsPromotedItem.impressionUrl ActivityListResponse.items:Activity "
      "ChannelBrandingSettings.hints:PropertyValue ChannelConversionPings.pings:ChannelConversionPing "
      "ChannelListResponse.items:Channel ChannelSectionContentDetails.channels "
      "ChannelSectionContentDetails.playlists ChannelSectionListResponse.items:ChannelSection "
      "ChannelSettings.featuredChannelsUrls ChannelTopicDetails.topicIds "
      "GuideCategoryListResponse.items:GuideCategory I18nLanguageListResponse.items:I18nLanguage "
      "I18nRegionListResponse.items:I18nRegion InvideoPromotion.items:PromotedItem "
      "LiveBroadcastListResponse.items:LiveBroadcast LiveStreamListResponse.items:LiveStream "
      "LocalizedProperty.localized:LocalizedString PlaylistItemListResponse.items:PlaylistItem "
      "PlaylistListResponse.items:Playlist PlaylistSnippet.tags SearchListResponse.items:SearchResult "
      "SubscriptionListResponse.items:Subscription ThumbnailSetResponse.items:ThumbnailDetails "
      "VideoCategoryListResponse.items:VideoCategory VideoContentDetailsRegionRestriction.allowed "
      "VideoContentDetailsRegionRestriction.blocked VideoConversionPings.pings:VideoConversionPing "
      "VideoFileDetails.audioStreams:VideoFileDetailsAudioStream "
      "VideoFileDetails.videoStreams:VideoFileDetailsVideoStream VideoGetRatingResponse.items:VideoRating "
      "VideoListResponse.items:Video VideoSuggestions.editorSuggestions VideoSuggestions.processingErrors "
      "VideoSuggestions.processingHints VideoSuggestions.processingWarnings "
      "VideoSuggestions.tagSuggestions:VideoSuggestionsTagSuggestion "
      "VideoSuggestionsTagSuggestion.categoryRestricts VideoTopicDetails.relevantTopicIds "
      "VideoTopicDetails.topicIds VideoProjectDetails.tags VideoSnippet.tags");
  for (const std::string& entry : arrays) {
    SCOPED_TRACE(entry);
    auto dot = entry.find('.'), colon = entry.find(':');
    std::string element = colon == std::string::npos ? "NSString" : "ApiYouTube" + entry.substr(colon + 1);
    ns::Dictionary map = ApiObject::arrayPropertyToClassMapForClass(cls("ApiYouTube" + entry.substr(0, dot)));
    EXPECT_EQ(map[ns::Value(entry.substr(dot + 1, colon - dot - 1))], ns::Value(element));
  }
  // No class has an entry the list does not name, and every array property has one.
  std::size_t total = 0;
  for (const std::string& name : allClasses()) {
    ns::Dictionary map = ApiObject::arrayPropertyToClassMapForClass(cls(name));
    total += map.size();
    for (const std::string& property : ApiObject::allDeclaredPropertiesOfClass(cls(name))) {
      ns::Property p = ns::class_getProperty(cls(name), property);
      ASSERT_TRUE(p);
      if (p->attributes().rfind("T@\"NSArray\"", 0) == 0) {
        EXPECT_TRUE(map.contains(ns::Value(property))) << name << "." << property;
      }
    }
  }
  EXPECT_EQ(total, arrays.size());

  // The four key exceptions, wherever such a property is declared, and no other entry.
  const std::vector<std::pair<std::string, std::string>> exceptions = {{"identifier", "id"},
                                                                       {"ETag", "etag"},
                                                                       {"descriptionProperty", "description"},
                                                                       {"defaultProperty", "default"}};
  std::set<std::string> seen;
  for (const std::string& name : allClasses()) {
    SCOPED_TRACE(name);
    ns::Dictionary map = ApiObject::propertyToJSONKeyMapForClass(cls(name));
    std::size_t expected = 0;
    for (const std::string& property : ApiObject::allDeclaredPropertiesOfClass(cls(name))) {
      for (const auto& [from, to] : exceptions) {
        if (property != from) continue;
        EXPECT_EQ(map[ns::Value(from)], ns::Value(to));
        seen.insert(from);
        ++expected;
      }
    }
    EXPECT_EQ(map.size(), expected);
  }
  EXPECT_EQ(seen.size(), 4u);
  // The search result's identifier is a resource id object under "id"; a thumbnail set's
  // "default" and a localized property's "default" are an object and a string.
  struct KeyCase {
    const char* cls;
    const char* property;
    const char* attributesPrefix;
  };
  const std::vector<KeyCase> types = {
      {"ApiYouTubeSearchResult", "identifier", "T@\"ApiYouTubeResourceId\""},
      {"ApiYouTubeVideo", "identifier", "T@\"NSString\""},
      {"ApiYouTubePromotedItem", "identifier", "T@\"ApiYouTubePromotedItemId\""},
      {"ApiYouTubeThumbnailDetails", "defaultProperty", "T@\"ApiYouTubeThumbnail\""},
      {"ApiYouTubeLocalizedProperty", "defaultProperty", "T@\"NSString\""},
      {"ApiYouTubeVideoStatistics", "viewCount", "T@\"NSNumber\""},
      {"ApiYouTubeVideoSnippet", "publishedAt", "T@\"ApiDateTime\""},
      {"ApiYouTubeVideoSnippet", "tags", "T@\"NSArray\""},
  };
  for (const KeyCase& c : types) {
    ns::Property p = ns::class_getProperty(cls(c.cls), c.property);
    ASSERT_TRUE(p) << c.cls << "." << c.property;
    EXPECT_EQ(p->attributes().rfind(c.attributesPrefix, 0), 0u) << p->attributes();
  }
}

TEST(YouTubeModelSchema, ListedClassesDeclareExactlyTheirFields) {
  const std::vector<std::string> list = {"ETag",          "eventId",         "items",
                                         "kind",          "nextPageToken",   "pageInfo",
                                         "prevPageToken", "tokenPagination", "visitorId"};
  const std::vector<std::string> shortList = {"ETag", "eventId", "items", "kind", "visitorId"};
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"ApiYouTubeSearchListResponse", list},
      {"ApiYouTubeVideoListResponse", list},
      {"ApiYouTubeLiveStreamListResponse", list},
      {"ApiYouTubeI18nRegionListResponse", shortList},
      {"ApiYouTubeThumbnailSetResponse", shortList},
      {"ApiYouTubeVideoGetRatingResponse", {"ETag", "items", "kind"}},
      {"ApiYouTubeInvideoPromotion", {"defaultTiming", "items", "position", "useSmartTiming"}},
      {"ApiYouTubePageInfo", {"resultsPerPage", "totalResults"}},
      {"ApiYouTubeTokenPagination", {}},
      {"ApiYouTubeSearchResult", {"ETag", "identifier", "kind", "snippet"}},
      {"ApiYouTubeResourceId", {"channelId", "kind", "playlistId", "videoId"}},
      {"ApiYouTubeVideoStatistics",
       {"commentCount", "dislikeCount", "favoriteCount", "likeCount", "viewCount"}},
      {"ApiYouTubeChannelStatistics",
       {"commentCount", "hiddenSubscriberCount", "subscriberCount", "videoCount", "viewCount"}},
      {"ApiYouTubePlaylistItemSnippet",
       {"channelId", "channelTitle", "descriptionProperty", "playlistId", "position", "publishedAt",
        "resourceId", "thumbnails", "title"}},
      {"ApiYouTubeVideoContentDetails",
       {"caption", "contentRating", "countryRestriction", "definition", "dimension", "duration",
        "licensedContent", "regionRestriction"}},
      {"ApiYouTubeActivityContentDetailsUpload", {"videoId"}},
      {"ApiYouTubeThumbnail", {"height", "url", "width"}},
      {"ApiYouTubePlaylistStatus", {"privacyStatus"}},
  };
  for (const auto& [name, fields] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> declared = ApiObject::allDeclaredPropertiesOfClass(cls(name));
    EXPECT_EQ(std::multiset<std::string>(declared.begin(), declared.end()),
              std::multiset<std::string>(fields.begin(), fields.end()));
  }
  // Fields the list panes read from classes whose fields are not all listed.
  EXPECT_TRUE(ns::class_getProperty(cls("ApiYouTubeActivitySnippet"), "type"));
  EXPECT_TRUE(ns::class_getProperty(cls("ApiYouTubeChannelSnippet"), "title"));

  // Every field is dynamic; text fields are copied, every other field is held.
  for (const std::string& name : allClasses()) {
    for (const std::string& property : ApiObject::allDeclaredPropertiesOfClass(cls(name))) {
      const std::string& attrs = ns::class_getProperty(cls(name), property)->attributes();
      bool text = attrs.rfind("T@\"NSString\"", 0) == 0;
      EXPECT_NE(attrs.find(text ? ",C," : ",&,"), std::string::npos)
          << name << "." << property << " " << attrs;
    }
  }
}

TEST(YouTubeModelReplies, SearchResultsCarryResourceIdsByType) {
  auto list = reply<ApiYouTubeSearchListResponse>(R"({
    "kind": "youtube#searchListResponse",
    "etag": "\"tag/list\"",
    "nextPageToken": "CAMQAA",
    "pageInfo": {"totalResults": 1000000, "resultsPerPage": 3},
    "items": [
      {"kind": "youtube#searchResult", "etag": "\"tag/1\"",
       "id": {"kind": "youtube#video", "videoId": "vid00000001"},
       "snippet": {"publishedAt": "2017-06-08T02:25:43.000Z", "channelId": "UCa", "title": "A video",
                   "description": "About the video",
                   "thumbnails": {"default": {"url": "https://i.example/vi/vid00000001/default.jpg",
                                              "width": 120, "height": 90},
                                  "high": {"url": "https://i.example/vi/vid00000001/hq.jpg"}},
                   "channelTitle": "Channel A", "liveBroadcastContent": "none"}},
      {"kind": "youtube#searchResult", "etag": "\"tag/2\"",
       "id": {"kind": "youtube#channel", "channelId": "UCchannel"},
       "snippet": {"title": "A channel", "description": "About the channel",
                   "thumbnails": {"default": {"url": "https://i.example/c.jpg"}}}},
      {"kind": "youtube#searchResult", "etag": "\"tag/3\"",
       "id": {"kind": "youtube#playlist", "playlistId": "PLlist"},
       "snippet": {"title": "A playlist", "description": "",
                   "thumbnails": {"default": {"url": "https://i.example/p.jpg"}}}}
    ]})");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->nextPageToken(), "CAMQAA");
  EXPECT_EQ(list->pageInfo()->totalResults()->unsignedLongLongValue(), 1000000u);
  EXPECT_EQ(list->pageInfo()->resultsPerPage()->integerValue(), 3);
  EXPECT_EQ(list->ETag(), "\"tag/list\"");
  EXPECT_FALSE(list->prevPageToken());
  EXPECT_EQ(list->collectionItems().size(), 3u);

  auto results = itemsOf<ApiYouTubeSearchResult>(list->items());
  ASSERT_EQ(results.size(), 3u);
  struct Expected {
    const char* kind;
    std::optional<std::string> videoId, channelId, playlistId;
    const char* title;
    const char* description;
    const char* thumbnail;
  };
  const std::vector<Expected> expected = {
      {"youtube#video", "vid00000001", std::nullopt, std::nullopt, "A video", "About the video",
       "https://i.example/vi/vid00000001/default.jpg"},
      {"youtube#channel", std::nullopt, "UCchannel", std::nullopt, "A channel", "About the channel",
       "https://i.example/c.jpg"},
      {"youtube#playlist", std::nullopt, std::nullopt, "PLlist", "A playlist", "", "https://i.example/p.jpg"},
  };
  for (std::size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& result = results[i];
    EXPECT_EQ(result->kind(), "youtube#searchResult");
    // The identifier is an object, not text.
    ns::Ref<ApiYouTubeResourceId> id = result->identifier();
    ASSERT_TRUE(id);
    EXPECT_EQ(id->className(), "ApiYouTubeResourceId");
    EXPECT_EQ(id->kind(), expected[i].kind);
    EXPECT_EQ(id->videoId(), expected[i].videoId);
    EXPECT_EQ(id->channelId(), expected[i].channelId);
    EXPECT_EQ(id->playlistId(), expected[i].playlistId);
    EXPECT_EQ(result->snippet()->title(), expected[i].title);
    EXPECT_EQ(result->snippet()->descriptionProperty(), expected[i].description);
    EXPECT_EQ(result->snippet()->thumbnails()->defaultProperty()->url(), expected[i].thumbnail);
    // The runtime reads the same fields by key path.
    EXPECT_EQ(ns::valueForKeyPath(result, "snippet.thumbnails.defaultProperty.url"),
              ns::Value(expected[i].thumbnail));
    EXPECT_EQ(ns::valueForKeyPath(result, "snippet.descriptionProperty"), ns::Value(expected[i].description));
  }
  EXPECT_EQ(results[0]->snippet()->thumbnails()->defaultProperty()->width()->integerValue(), 120);
  EXPECT_EQ(results[0]->snippet()->publishedAt()->date().timeIntervalSince1970(), utc(2017, 6, 8, 2, 25, 43));
  EXPECT_EQ(list->itemForIdentifier(ns::Value(results[1]->identifier())), ns::Value(results[1]));
}

TEST(YouTubeModelReplies, VideoCountsAsTextAndTimesRead) {
  auto list = reply<ApiYouTubeVideoListResponse>(R"({"kind":"youtube#videoListResponse","items":[{
      "kind":"youtube#video","id":"oBM7DIeMsP0",
      "snippet":{"publishedAt":"2015-09-24T17:06:07.000Z","channelId":"UCb","title":"T","tags":["a","b"],
                 "description":"D","thumbnails":{"default":{"url":"u"}}},
      "contentDetails":{"duration":"PT53M53S","definition":"hd","licensedContent":true},
      "statistics":{"viewCount":"123456789012","likeCount":"3481","dislikeCount":"386",
                    "favoriteCount":"0","commentCount":"18446744073709551615"}}]})");
  ASSERT_TRUE(list);
  auto videos = itemsOf<ApiYouTubeVideo>(list->items());
  ASSERT_EQ(videos.size(), 1u);
  auto video = videos[0];
  EXPECT_EQ(video->identifier(), "oBM7DIeMsP0");
  std::optional<ns::Number> views = video->statistics()->viewCount();
  ASSERT_TRUE(views);
  EXPECT_EQ(views->unsignedLongLongValue(), 123456789012ull);
  EXPECT_EQ(video->statistics()->likeCount()->integerValue(), 3481);
  EXPECT_EQ(video->statistics()->dislikeCount()->integerValue(), 386);
  EXPECT_EQ(video->statistics()->commentCount()->unsignedLongLongValue(), 18446744073709551615ull);
  // The JSON keeps the text the service sent.
  EXPECT_EQ(video->statistics()->JSONValueForKey("viewCount"), ns::Value("123456789012"));
  EXPECT_EQ(video->snippet()->publishedAt()->date().timeIntervalSince1970(), utc(2015, 9, 24, 17, 6, 7));
  EXPECT_EQ(video->snippet()->channelId(), "UCb");
  EXPECT_EQ(video->snippet()->tags(), (ns::Array{ns::Value("a"), ns::Value("b")}));
  EXPECT_EQ(video->contentDetails()->duration(), "PT53M53S");
  EXPECT_TRUE(video->contentDetails()->licensedContent()->boolValue());
  EXPECT_FALSE(video->status());
}

TEST(YouTubeModelBuilding, PlaylistAndPlaylistItemSerialiseWhatWasSet) {
  auto playlist = ApiObject::object<ApiYouTubePlaylist>();
  auto snippet = ApiObject::object<ApiYouTubePlaylistSnippet>();
  auto status = ApiObject::object<ApiYouTubePlaylistStatus>();
  snippet->setTitle(std::string("T"));
  status->setPrivacyStatus(std::string("private"));
  playlist->setSnippet(snippet);
  playlist->setStatus(status);
  EXPECT_EQ(compact(playlist->JSONValue()),
            R"({"snippet":{"title":"T"},"status":{"privacyStatus":"private"}})");
  // Set first, filled after: the parent sees the child's edits.
  auto late = ApiObject::object<ApiYouTubePlaylist>();
  auto lateSnippet = ApiObject::object<ApiYouTubePlaylistSnippet>();
  late->setSnippet(lateSnippet);
  lateSnippet->setTitle(std::string("T"));
  EXPECT_EQ(compact(late->JSONValue()), R"({"snippet":{"title":"T"}})");

  auto item = ApiObject::object<ApiYouTubePlaylistItem>();
  auto itemSnippet = ApiObject::object<ApiYouTubePlaylistItemSnippet>();
  auto resource = ApiObject::object<ApiYouTubeResourceId>();
  resource->setKind(std::string("youtube#video"));
  resource->setVideoId(std::string("vid00000001"));
  itemSnippet->setPlaylistId(std::string("PL1"));
  itemSnippet->setResourceId(resource);
  itemSnippet->setPosition(ns::Number(3));
  item->setSnippet(itemSnippet);
  item->setIdentifier(std::string("PLI1"));
  EXPECT_EQ(compact(item->JSONValue()),
            R"({"snippet":{"playlistId":"PL1","resourceId":{"kind":"youtube#video","videoId":"vid00000001"},)"
            R"("position":3},"id":"PLI1"})");
  // A move: the new position replaces the old one in place.
  item->snippet()->setPosition(ns::Number(5));
  EXPECT_EQ(item->snippet()->position()->integerValue(), 5);
  EXPECT_EQ(
      compact(item->JSONValueForKey("snippet")),
      R"({"playlistId":"PL1","resourceId":{"kind":"youtube#video","videoId":"vid00000001"},"position":5})");
  // Nothing removes a field; the JSON null clears it on the server.
  item->snippet()->setPosition(std::nullopt);
  EXPECT_EQ(item->snippet()->JSONValueForKey("position"), ns::Value());
  item->setSnippet(nullptr);
  EXPECT_EQ(compact(item->JSONValue()), R"({"id":"PLI1"})");
}

// A reply value of a type other than the declared one never crashes a typed accessor: the getter
// answers nothing and the runtime entry answers the value unchanged.
TEST(YouTubeModelReplies, ValuesOfAnotherTypeAnswerNothingThroughTypedGetters) {
  auto video = reply<ApiYouTubeVideo>(R"({"kind":"youtube#video",
      "id":{"videoId":"x"},
      "snippet":"not an object",
      "statistics":{"viewCount":[1,2],"likeCount":{"a":1},"dislikeCount":"many","commentCount":null},
      "contentDetails":{"duration":42,"regionRestriction":[{"allowed":"US"}]},
      "status":{"publishAt":17,"privacyStatus":true},
      "topicDetails":{"topicIds":{"a":"b"},"relevantTopicIds":"one"}})");
  ASSERT_TRUE(video);
  EXPECT_FALSE(video->identifier());
  EXPECT_FALSE(video->snippet());
  EXPECT_FALSE(video->statistics()->viewCount());
  EXPECT_FALSE(video->statistics()->likeCount());
  // Text in a number field is coerced, as the service sends counts as text: no digits read as 0.
  ASSERT_TRUE(video->statistics()->dislikeCount());
  EXPECT_EQ(video->statistics()->dislikeCount()->unsignedLongLongValue(), 0u);
  EXPECT_FALSE(video->statistics()->commentCount());
  EXPECT_FALSE(video->contentDetails()->duration());
  EXPECT_FALSE(video->contentDetails()->regionRestriction());
  EXPECT_FALSE(video->status()->publishAt());
  EXPECT_FALSE(video->status()->privacyStatus());
  EXPECT_TRUE(video->topicDetails()->topicIds().empty());
  EXPECT_TRUE(video->topicDetails()->relevantTopicIds().empty());

  // The runtime entries answer what the JSON holds.
  EXPECT_EQ(compact(ns::send<ns::Value>(video, "identifier")), R"({"videoId":"x"})");
  EXPECT_EQ(ns::send<ns::Value>(video, "snippet"), ns::Value("not an object"));
  EXPECT_EQ(ns::valueForKeyPath(video, "contentDetails.duration"), ns::Value(42LL));
  EXPECT_EQ(ns::valueForKeyPath(video, "topicDetails.relevantTopicIds"), ns::Value("one"));
  EXPECT_TRUE(ns::valueForKeyPath(video, "statistics.commentCount").isNull());
  // A list whose items are not an array has no items; elements of other kinds keep their place.
  auto list =
      reply<ApiYouTubeVideoListResponse>(R"({"kind":"youtube#videoListResponse","items":{"id":"x"}})");
  EXPECT_TRUE(list->items().empty());
  EXPECT_TRUE(list->collectionItems().empty());
  auto mixed = reply<ApiYouTubeVideoListResponse>(
      R"({"kind":"youtube#videoListResponse","items":[3,"x",{"id":"v"}]})");
  ns::Array items = mixed->items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], ns::Value(3LL));
  EXPECT_FALSE(items[1].objectAs<ApiYouTubeVideo>());
  EXPECT_EQ(items[2].objectAs<ApiYouTubeVideo>()->identifier(), "v");
}

// The real replies, read through the fields the list panes and the account cache use.
TEST(YouTubeModelFixtures, RealRepliesReadThroughTheModelClasses) {
  {
    auto list = fixture<ApiYouTubeSearchListResponse>("search-2.json", "ApiYouTubeSearchListResponse");
    ASSERT_TRUE(list);
    auto results = itemsOf<ApiYouTubeSearchResult>(list->items());
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0]->identifier()->videoId(), "DN61Xcwc4u0");
    EXPECT_EQ(results[1]->identifier()->channelId(), "UCHroTZTdUNXeZOWypt4Akvw");
    EXPECT_FALSE(results[1]->identifier()->videoId());
    EXPECT_EQ(results[1]->snippet()->liveBroadcastContent(), "upcoming");
    EXPECT_EQ(list->nextPageToken(), "CAUQAA");
    // An undeclared member round-trips through the JSON.
    EXPECT_EQ(list->JSONValueForKey("regionCode"), ns::Value("US"));
    EXPECT_EQ(list->additionalPropertyForName("regionCode"), ns::Value("US"));
  }
  {
    auto list = fixture<ApiYouTubeSearchListResponse>("search-1.json", "ApiYouTubeSearchListResponse");
    ASSERT_TRUE(list);
    for (const auto& result : itemsOf<ApiYouTubeSearchResult>(list->items())) {
      ASSERT_TRUE(result->identifier());
      EXPECT_TRUE(result->identifier()->videoId() || result->identifier()->channelId() ||
                  result->identifier()->playlistId());
    }
  }
  {
    auto list = fixture<ApiYouTubeVideoListResponse>("videos-1.json", "ApiYouTubeVideoListResponse");
    ASSERT_TRUE(list);
    auto video = itemsOf<ApiYouTubeVideo>(list->items()).at(0);
    EXPECT_EQ(video->identifier(), "oBM7DIeMsP0");
    EXPECT_EQ(video->snippet()->channelId(), "UCb--64Gl51jIEVE-GLDAVTg");
    EXPECT_EQ(video->snippet()->publishedAt()->date().timeIntervalSince1970(), utc(2015, 9, 24, 17, 6, 7));
    EXPECT_EQ(video->contentDetails()->duration(), "PT53M53S");
    EXPECT_EQ(video->statistics()->viewCount()->unsignedLongLongValue(), 458565u);
    EXPECT_EQ(video->statistics()->likeCount()->unsignedLongLongValue(), 3481u);
    EXPECT_EQ(video->statistics()->dislikeCount()->unsignedLongLongValue(), 386u);
    EXPECT_EQ(video->topicDetails()->topicIds().size(), 3u);
    EXPECT_EQ(video->status()->privacyStatus(), "public");
    EXPECT_TRUE(video->status()->embeddable()->boolValue());
    // "localized" is not declared: it is read raw, or as an object of no declared fields.
    auto localized = video->snippet()->additionalPropertyForName("localized").objectAs<ApiObject>();
    ASSERT_TRUE(localized);
    EXPECT_EQ(localized->JSONValueForKey("title"), ns::Value(*video->snippet()->title()));
    EXPECT_EQ(video->snippet()->additionalJSONKeys(), (std::vector<std::string>{"localized"}));
    // What was read comes back out unchanged.
    auto again = ApiJSONParser::objectWithString_error(*list->JSONString(), nullptr);
    EXPECT_TRUE(ApiJSONValuesEqual(again, tree(googletest::fixtureText("videos-1.json"))));
  }
  {
    auto list = fixture<ApiYouTubeChannelListResponse>("channels-1.json", "ApiYouTubeChannelListResponse");
    ASSERT_TRUE(list);
    auto channel = itemsOf<ApiYouTubeChannel>(list->items()).at(0);
    EXPECT_EQ(channel->identifier(), "UCb--64Gl51jIEVE-GLDAVTg");
    EXPECT_EQ(channel->snippet()->title(), "C-SPAN");
    EXPECT_EQ(channel->statistics()->videoCount()->unsignedLongLongValue(), 4885u);
    EXPECT_EQ(channel->statistics()->subscriberCount()->unsignedLongLongValue(), 87844u);
    EXPECT_FALSE(channel->statistics()->hiddenSubscriberCount()->boolValue());
    EXPECT_EQ(channel->contentDetails()->relatedPlaylists()->uploads(), "UUb--64Gl51jIEVE-GLDAVTg");
    auto big = fixture<ApiYouTubeChannelListResponse>("channels-2.json", "ApiYouTubeChannelListResponse");
    ASSERT_TRUE(big);
    EXPECT_EQ(
        itemsOf<ApiYouTubeChannel>(big->items()).at(0)->statistics()->viewCount()->unsignedLongLongValue(),
        14634734282ull);
  }
  {
    auto list =
        fixture<ApiYouTubeActivityListResponse>("activities-2.json", "ApiYouTubeActivityListResponse");
    ASSERT_TRUE(list);
    auto activities = itemsOf<ApiYouTubeActivity>(list->items());
    ASSERT_EQ(activities.size(), 2u);
    EXPECT_EQ(activities[0]->snippet()->type(), "upload");
    EXPECT_EQ(activities[1]->snippet()->type(), "playlistItem");
    EXPECT_EQ(activities[0]->snippet()->publishedAt()->date().timeIntervalSince1970(),
              utc(2025, 2, 22, 5, 37, 3));
    auto uploads =
        fixture<ApiYouTubeActivityListResponse>("activities-1.json", "ApiYouTubeActivityListResponse");
    ASSERT_TRUE(uploads);
    std::vector<std::optional<std::string>> ids;
    for (const auto& activity : itemsOf<ApiYouTubeActivity>(uploads->items())) {
      // Empty details ({}) read as an empty part whose upload is nothing.
      auto upload = activity->contentDetails() ? activity->contentDetails()->upload() : nullptr;
      ids.push_back(upload ? upload->videoId() : std::nullopt);
    }
    EXPECT_EQ(ids, (std::vector<std::optional<std::string>>{"KsnoVFJdbVc", std::nullopt, "Rvk5G9ASErI",
                                                            std::nullopt, "K5_UsaW90dc"}));
  }
  {
    auto list = fixture<ApiYouTubePlaylistItemListResponse>("playlistItems-1.json",
                                                            "ApiYouTubePlaylistItemListResponse");
    ASSERT_TRUE(list);
    auto items = itemsOf<ApiYouTubePlaylistItem>(list->items());
    ASSERT_FALSE(items.empty());
    for (const auto& item : items) {
      ASSERT_TRUE(item->snippet() && item->snippet()->resourceId());
      EXPECT_EQ(item->snippet()->resourceId()->kind(), "youtube#video");
      EXPECT_TRUE(item->snippet()->resourceId()->videoId());
    }
  }
  {
    auto list = fixture<ApiYouTubePlaylistListResponse>("playlists-1.json", "ApiYouTubePlaylistListResponse");
    ASSERT_TRUE(list);
    for (const auto& playlist : itemsOf<ApiYouTubePlaylist>(list->items())) {
      EXPECT_TRUE(playlist->identifier());
      ASSERT_TRUE(playlist->contentDetails());
      EXPECT_GT(playlist->contentDetails()->itemCount()->integerValue(), 0);
    }
  }
  {
    // A kind spelled with a capital letter: the default class answers.
    auto list = fixture<ApiYouTubeSubscriptionListResponse>("subscriptions-2.json",
                                                            "ApiYouTubeSubscriptionListResponse");
    ASSERT_TRUE(list);
    auto subscriptions = itemsOf<ApiYouTubeSubscription>(list->items());
    ASSERT_EQ(subscriptions.size(), 5u);
    EXPECT_EQ(subscriptions[1]->contentDetails()->totalItemCount()->integerValue(), 162);
    EXPECT_EQ(subscriptions[1]->contentDetails()->newItemCount()->integerValue(), 1);
    EXPECT_EQ(subscriptions[1]->contentDetails()->activityType(), "all");
  }
}

}  // namespace
