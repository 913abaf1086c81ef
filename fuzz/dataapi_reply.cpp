// Data API replies: parsed as JSON, made into the model object of every list class and of the
// class their "kind" names, every declared property of every object read through the runtime,
// and the items given to the row factories. A row comes out only with the id its kind needs,
// and decoding character references never lengthens a text.
#include <cstdint>
#include <string>

#include "app/youtube/ApiVideoFields.h"
#include "app/youtube/SearchEntry.h"
#include "fuzz/FuzzSupport.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Runtime.h"

namespace {

// Reads every declared property of the object and of the objects it holds, to a bounded depth
// and number of reads (a reply can nest deeply or hold many items).
void readAll(const ns::Value& value, int depth, int& budget) {
  if (depth > 6 || --budget < 0) return;
  if (value.isArray()) {
    for (const ns::Value& element : value.array()) readAll(element, depth + 1, budget);
    return;
  }
  auto object = value.objectAs<ApiObject>();
  if (!object) return;
  (void)object->JSONString();
  for (ns::Class cls = ns::object_getClass(object); cls; cls = ns::class_getSuperclass(cls)) {
    for (ns::Property property : ns::class_copyPropertyList(cls)) {
      ns::Value read = ns::valueForKey(object, ns::property_getName(property));
      readAll(read, depth + 1, budget);
    }
  }
}

void makeRows(const ns::Value& item) {
  auto nonEmpty = [](const std::optional<std::string>& id) { return id && !id->empty(); };
  if (auto result = item.objectAs<ApiYouTubeSearchResult>()) {
    auto video = SearchEntry::initWithApiSearchResult(result);
    if (video && !nonEmpty(video->videoid())) fuzz::fail("a video search row without a video id");
    auto playlist = SearchEntry::initWithApiSearchPlaylistResult(result);
    if (playlist && playlist->playlistid().empty()) fuzz::fail("a playlist search row without a playlist id");
    auto channel = SearchEntry::initWithApiSearchChannelResult(result);
    if (channel && channel->channelid().empty()) fuzz::fail("a channel search row without a channel id");
    for (const auto& row : {video, playlist, channel})
      if (row) (void)row->description();
  }
  if (auto video = item.objectAs<ApiYouTubeVideo>()) {
    if (auto row = SearchEntry::initWithApiVideo(video)) (void)row->description();
  }
  if (auto activity = item.objectAs<ApiYouTubeActivity>()) {
    auto row = SearchEntry::initWithApiActivity(activity);
    if (row && !nonEmpty(row->videoid())) fuzz::fail("an activity row without a video id");
  }
  if (auto playlistItem = item.objectAs<ApiYouTubePlaylistItem>()) {
    auto row = SearchEntry::initWithApi(playlistItem);
    if (row && !nonEmpty(row->videoid())) fuzz::fail("a playlist item row without a video id");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(fuzz::text(data, size));
  if (textWithCharacterReferencesDecoded(text).size() > text.size())
    fuzz::fail("decoding character references made a text longer");

  ns::Error error;
  ns::Value tree = ApiJSONParser::objectWithString_error(text, &error);
  if (tree.isNil()) return 0;
  static const char* const kListClasses[] = {
      "ApiYouTubeActivityListResponse",       "ApiYouTubeChannelListResponse",
      "ApiYouTubePlaylistItemListResponse",   "ApiYouTubePlaylistListResponse",
      "ApiYouTubeSearchListResponse",         "ApiYouTubeSubscriptionListResponse",
      "ApiYouTubeVideoListResponse",          "ApiYouTubeVideoCategoryListResponse",
      "ApiYouTubeChannelSectionListResponse", "ApiYouTubeGuideCategoryListResponse",
      "ApiYouTubeI18nLanguageListResponse",   "ApiYouTubeI18nRegionListResponse",
      "ApiYouTubeLiveBroadcastListResponse",  "ApiYouTubeLiveStreamListResponse"};
  for (const char* name : kListClasses) {
    ns::Class cls = ApiYouTubeModelClassNamed(name);
    if (!cls) fuzz::fail(std::string("no model class ") + name);
    auto object =
        ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree, cls, nullptr, ns::Value());
    if (!object) continue;
    int budget = 4000;
    readAll(ns::Value(std::static_pointer_cast<ns::Object>(object)), 0, budget);
    if (auto list = std::dynamic_pointer_cast<ApiCollectionObject>(object))
      for (const ns::Value& item : list->collectionItems()) makeRows(item);
  }
  // The class the reply's own "kind" names.
  if (auto object = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree, nullptr, nullptr,
                                                                                   ns::Value())) {
    makeRows(ns::Value(std::static_pointer_cast<ns::Object>(object)));
    if (auto list = std::dynamic_pointer_cast<ApiCollectionObject>(object))
      for (const ns::Value& item : list->collectionItems()) makeRows(item);
  }
  return 0;
}
