// The new videos of the subscriptions from the legacy JSON feed: 25 a page, asked with the
// signed-in authorizer's token, until a page brings nothing.
#include <cstdlib>
#include <stdexcept>

#include "app/browse/SearchHistory.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/net/JSONRequestOperation.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace {

using Self = ns::Ref<YTPlaylistViewController>;

void onMain(std::function<void()> block) {
  dispatch::async(dispatch::mainQueue(), std::move(block));
}

std::string legacyFeedBaseURL() {
  const char* override = std::getenv("PELORIN_LEGACY_FEED_URL");
  return override && *override ? override : "https://gdata.youtube.com";
}

std::string queryValue(const std::string& text) {
  auto allowed = ns::URLCharacterSet::URLQueryAllowedCharacterSet().removing("&=+#?/:;@$,[]'");
  return ns::stringByAddingPercentEncodingWithAllowedCharacters(text, allowed);
}

std::string text(const ns::Value& value) {
  if (!value.isString()) throw std::runtime_error("not a text: " + value.description());
  return value.stringValue();
}

}  // namespace

void YTPlaylistViewController::fetchNewSubscriptionVideosUsingV2() {
  if (!nextPageNumber_) {
    cellArray_.clear();
    nextPageNumber_ = 1;
  }
  isFetching_ = true;
  const long page = *nextPageNumber_;
  auto controller = mainWindowController();
  auto youtube = controller ? controller->youTubeService() : nullptr;
  auto auth = youtube ? std::dynamic_pointer_cast<NetOAuth2Authentication>(youtube->authorizer()) : nullptr;
  if (!auth) {
    ns::Log("legacy feed: no signed-in authorizer");
    failFetch();
    return;
  }
  Self self = this->self<YTPlaylistViewController>();
  auth->authorizeRequest_completionHandler(nullptr, [self, auth, page](const std::optional<ns::Error>&) {
    std::string address = legacyFeedBaseURL() +
                          "/feeds/api/users/default/newsubscriptionvideos?v=2&alt=json&fields=" +
                          queryValue(
                              "openSearch:totalResults,openSearch:startIndex,entry(media:group(yt:videoid,"
                              "media:title,media:thumbnail[@yt:name='default'](@url)))") +
                          "&max-results=25&start-index=" + std::to_string(page * 25 - 24) +
                          "&access_token=" + queryValue(auth->accessToken().value_or(""));
    auto url = ns::URL::URLWithString(address);
    if (!url) {
      ns::Log("legacy feed: no URL from %@", address);
      self->failFetch();
      return;
    }
    auto operation = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
        ns::URLRequest::requestWithURL(url),
        [self](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&, const ns::Value& json) {
          onMain([self, json] { self->takeLegacyFeedPage(json); });
        },
        // Not JSON (a portal's page, a reply too large): the fetch ends and the rows stay.
        [self](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&, const ns::Error& error,
               const ns::Value&) {
          ns::Log("legacy feed: %@", error.localizedDescription());
          onMain([self] { self->failFetch(); });
        });
    operation->start();
  });
}

void YTPlaylistViewController::takeLegacyFeedPage(const ns::Value& json) {
  const ns::Value& feed = json.isDictionary() ? json["feed"] : ns::Value();
  if (!feed.isDictionary() || !(feed["entry"].isArray() || feed["entry"].isNil())) {
    ns::Log("legacy feed: the reply is not a feed");
    failFetch();
    return;
  }
  std::vector<ns::Ref<SearchEntry>> rows;
  std::vector<std::string> ids;
  if (feed["entry"].isArray()) {
    for (const ns::Value& entry : feed["entry"].array()) {
      try {
        if (!entry.isDictionary() || !entry["media$group"].isDictionary())
          throw std::runtime_error("an entry without a media group");
        const ns::Value& group = entry["media$group"];
        std::string videoId =
            text(group["yt$videoid"].isDictionary() ? group["yt$videoid"]["$t"] : ns::Value());
        std::string title =
            text(group["media$title"].isDictionary() ? group["media$title"]["$t"] : ns::Value());
        const ns::Value& thumbnails = group["media$thumbnail"];
        if (!thumbnails.isArray() || thumbnails.array().empty() || !thumbnails.array().front().isDictionary())
          throw std::runtime_error("an entry without a thumbnail");
        std::string thumbnail = text(thumbnails.array().front()["url"]);
        if (isSkipVideo(videoId)) continue;
        auto row = SearchEntry::init();
        row->setTitle(title);
        row->setVideoid(videoId);
        row->setThumburl(thumbnail);
        row->setDesc("");
        rows.push_back(row);
        ids.push_back(videoId);
      } catch (const std::exception& error) {
        ns::Log("exception %@", std::string(error.what()));
      }
    }
  }
  requestVideoInfo_withTitle(ids, false);
  requestChannelInfo({});
  Self self = this->self<YTPlaylistViewController>();
  onMain([self, rows] {
    auto& all = self->cellArray();
    all.insert(all.end(), rows.begin(), rows.end());
    if (auto playing = self->nowPlayingVideoIdForReload()) {
      for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->videoid() == *playing) {
          self->setPlayIndex(static_cast<long>(i));
          self->setNowPlayingVideoIdForReload(std::nullopt);
          break;
        }
      }
    }
    self->refreshTableView();
  });
  const bool hadRows = !rows.empty();
  onMain([self, hadRows] {
    if (hadRows) {
      self->setNextPageNumber(self->nextPageNumber().value_or(1) + 1);
      if (self->shouldRunNextQuery()) {
        self->fetchNewSubscriptionVideosUsingV2();
      } else {
        self->setIsFetching(false);
        self->stopRefreshBtn();
      }
    } else {
      self->setIsFetching(false);
      self->setNextPageNumber(-1);
      self->stopRefreshBtn();
      self->saveToCache();
    }
  });
}
