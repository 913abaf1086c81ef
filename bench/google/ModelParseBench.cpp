// A 1 MB search reply (about 2,000 results) read two ways, side by side in one run:
//   - into model objects as the Data API service does it (ApiJSONParser, then objectForJSON with
//     the reply's class), then every result's identifier.videoId and snippet.title read through
//     the typed accessors;
//   - parsed raw from the same bytes with nlohmann-json, the same two fields read.
// Prints the median time of each and their ratio. A driver, not a test: run it by hand on a quiet
// machine, from a Release build.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr std::size_t kTargetBytes = 1000 * 1000;
constexpr int kRounds = 31;

// A reply shaped like the service's: results of all three types, thumbnails, text with escapes.
std::string makeReply(std::size_t* itemCount) {
  std::string text =
      R"({"kind":"youtube#searchListResponse","etag":"\"bench/etag\"","nextPageToken":"CDIQAA",)"
      R"("regionCode":"US","pageInfo":{"totalResults":1000000,"resultsPerPage":50},"items":[)";
  std::size_t n = 0;
  while (text.size() < kTargetBytes) {
    std::string index = std::to_string(n);
    std::string videoId = "vid" + std::string(8 - std::min<std::size_t>(8, index.size()), '0') + index;
    const char* type = n % 10 == 8 ? "channel" : n % 10 == 9 ? "playlist" : "video";
    std::string idKey = n % 10 == 8 ? "channelId" : n % 10 == 9 ? "playlistId" : "videoId";
    if (n) text += ",";
    text += R"({"kind":"youtube#searchResult","etag":"\"bench/)" + index + R"(\"",)";
    text +=
        R"("id":{"kind":"youtube#)" + std::string(type) + R"(",")" + idKey + R"(":")" + videoId + R"("},)";
    text += R"("snippet":{"publishedAt":"2017-06-08T02:25:43.000Z","channelId":"UCptL6_qMImyW",)";
    text += R"("title":"Result number )" + index + R"( \u2013 a \"quoted\" title",)";
    text += R"("description":"Every variety in the garden.",)";
    text += R"("thumbnails":{"default":{"url":"https://i.ytimg.com/vi/)" + videoId +
            R"(/default.jpg","width":120,"height":90},)";
    text += R"("high":{"url":"https://i.ytimg.com/vi/)" + videoId +
            R"(/hqdefault.jpg","width":480,"height":360}},)";
    text += R"x("channelTitle":"Gary (Garden)","liveBroadcastContent":"none"}})x";
    ++n;
  }
  text += "]}";
  *itemCount = n;
  return text;
}

struct Read {
  std::size_t results = 0;
  std::size_t bytes = 0;  // of the fields read, so that nothing is optimised away
};

Read readWithModelObjects(const std::string& text, ns::Class replyClass) {
  Read read;
  ns::Value tree = ApiJSONParser::objectWithString_error(text, nullptr);
  auto reply =
      ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree, replyClass, nullptr, ns::Value());
  auto list = std::dynamic_pointer_cast<ApiYouTubeSearchListResponse>(reply);
  if (!list) return read;
  for (const ns::Value& item : list->items()) {
    auto result = item.objectAs<ApiYouTubeSearchResult>();
    if (!result) continue;
    ++read.results;
    if (auto id = result->identifier()) read.bytes += id->videoId().value_or("").size();
    if (auto snippet = result->snippet()) read.bytes += snippet->title().value_or("").size();
  }
  return read;
}

Read readRaw(const std::string& text) {
  Read read;
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded()) return read;
  auto items = json.find("items");
  if (items == json.end() || !items->is_array()) return read;
  for (const nlohmann::json& item : *items) {
    ++read.results;
    auto id = item.find("id");
    if (id != item.end() && id->is_object()) {
      auto videoId = id->find("videoId");
      if (videoId != id->end() && videoId->is_string())
        read.bytes += videoId->get_ref<const std::string&>().size();
    }
    auto snippet = item.find("snippet");
    if (snippet != item.end() && snippet->is_object()) {
      auto title = snippet->find("title");
      if (title != snippet->end() && title->is_string())
        read.bytes += title->get_ref<const std::string&>().size();
    }
  }
  return read;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  ns::runtime::start();
  std::size_t itemCount = 0;
  const std::string text = makeReply(&itemCount);
  ns::Class replyClass = ApiYouTubeModelClassNamed("ApiYouTubeSearchListResponse");

  // Both ways must read the same thing, or the comparison means nothing.
  Read model = readWithModelObjects(text, replyClass);
  Read raw = readRaw(text);
  if (model.results != itemCount || raw.results != itemCount || model.bytes != raw.bytes) {
    std::fprintf(stderr, "the two readings differ: %zu/%zu results, %zu/%zu bytes\n", model.results,
                 raw.results, model.bytes, raw.bytes);
    return 1;
  }

  std::vector<double> modelTimes, rawTimes;
  std::size_t sink = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Alternate the order so that neither way always runs on a warmer cache.
    if (round % 2) {
      rawTimes.push_back(benchkit::seconds([&] { sink += readRaw(text).bytes; }));
      modelTimes.push_back(benchkit::seconds([&] { sink += readWithModelObjects(text, replyClass).bytes; }));
    } else {
      modelTimes.push_back(benchkit::seconds([&] { sink += readWithModelObjects(text, replyClass).bytes; }));
      rawTimes.push_back(benchkit::seconds([&] { sink += readRaw(text).bytes; }));
    }
  }
  double modelMs = median(modelTimes) * 1000, rawMs = median(rawTimes) * 1000;
  std::printf("search reply: %zu bytes, %zu results (checksum %zu)\n", text.size(), itemCount, sink);
  std::printf("model objects (ApiJSONParser + objectForJSON + accessors): %.3f ms\n", modelMs);
  std::printf("raw nlohmann-json parse + reads:                          %.3f ms\n", rawMs);
  std::printf("ratio model / raw: %.2f (goal: at most 1.50)\n", modelMs / rawMs);
  return 0;
}
