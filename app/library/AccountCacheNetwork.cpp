// The account cache's fetches and edits: Data API queries on the main window controller's
// service, and the feed categories from the maker's web service. Handlers run on the main
// thread; each keeps its cache alive and updates the instance that issued it.
#include <algorithm>
#include <map>

#include "app/library/AccountCache.h"
#include "app/library/LibraryNotifications.h"
#include "app/library/MakerHost.h"
#include "common/AppUtilities.h"
#include "common/IBrowsingInterface.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "lib/net/JSONRequestOperation.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace {

using Ticket = ns::Ref<ApiServiceTicket>;
using Reply = ns::Ref<ApiObject>;
using Failure = std::optional<ns::Error>;

// "UU" + the channel id without its first two characters; nothing for an id too short to have
// them.
std::optional<std::string> uploadsIdForChannel(const std::optional<std::string>& channelId) {
  if (!channelId || channelId->size() < 2) return std::nullopt;
  return "UU" + channelId->substr(2);
}

std::optional<std::string> channelIdOfSubscription(const ns::Ref<ApiYouTubeSubscription>& subscription) {
  auto snippet = subscription ? subscription->snippet() : nullptr;
  auto resource = snippet ? snippet->resourceId() : nullptr;
  return resource ? resource->channelId() : std::nullopt;
}

void onMain(std::function<void()> block) {
  dispatch::async(dispatch::mainQueue(), std::move(block));
}

// A failed query is a warning, unless the provider refused the account's sign-in: the sign-out
// that follows says so once, for all the queries that were waiting.
void logFailure(std::string_view format, const ns::Error& error) {
  if (NetOAuth2Authentication::isRefusedGrantError(error))
    ns::Log(format, error);
  else
    ns::LogWarning(format, error);
}

// Whether a query failed; the failure is logged.
bool failed(const Failure& error) {
  if (error) logFailure("error: %@", *error);
  return error.has_value();
}

// A list reply, even one with no items; a reply without its "items" array (an empty result, say)
// says nothing about the list and must not empty the stored one.
bool isListReply(const Reply& reply, const char* what) {
  if (std::dynamic_pointer_cast<ApiCollectionObject>(reply) && !reply->JSONValueForKey("items").isNilOrNull())
    return true;
  ns::Log("AccountCache: the %@ reply is no list: %@", std::string(what),
          reply ? reply->description() : std::string("nothing"));
  return false;
}

}  // namespace

ns::Ref<ApiServiceYouTube> AccountCache::service() const {
  auto controller = mainWindowController();
  return controller ? controller->youTubeService() : nullptr;
}

#define ACCOUNT_SERVICE_OR_RETURN(name)                           \
  auto service = this->service();                                 \
  if (!service) {                                                 \
    ns::Log("AccountCache: %@ needs the Data API service", name); \
    return;                                                       \
  }                                                               \
  auto self = ref()

void AccountCache::fetchMyRelatedPlaylists() {
  ACCOUNT_SERVICE_OR_RETURN("fetchMyRelatedPlaylists");
  auto query = ApiQueryYouTube::queryForChannelsListWithPart("contentDetails");
  query->setMine(true);
  query->setMaxResults(50);
  service->executeQuery_completionHandler(query, [self](const Ticket&, const Reply& reply, const Failure&) {
    auto channels = ApiCollectionItemsOf<ApiYouTubeChannel>(reply);
    if (channels.empty()) return;
    auto details = channels[0]->contentDetails();
    auto related = details ? details->relatedPlaylists() : nullptr;
    if (!related) {
      ns::Log("AccountCache: the channel names no special playlists");
      return;
    }
    // A playlist the service no longer names is kept as "", so that the stored form stays five
    // texts long.
    std::string ids[] = {related->favorites().value_or(""), related->watchLater().value_or(""),
                         related->watchHistory().value_or(""), related->likes().value_or(""),
                         related->uploads().value_or("")};
    onMain([self, ids = std::vector<std::string>(std::begin(ids), std::end(ids))] {
      ns::Array links;
      for (int i = 0; i < 5; ++i) {
        *self->specialIds(i) = ids[i];
        links.push_back(ns::Value(ids[i]));
      }
      self->store("links", links, kListLifetime);
      self->linksLoaded_ = true;
      if (!self->linksCountLoaded_) self->fetchMyRelatedPlaylistsCount();
    });
  });
}

void AccountCache::fetchMyRelatedPlaylistsCount() {
  // Asking before the ids are known would send an empty list of ids.
  if (!linksLoaded_) return;
  std::vector<std::string> asked;
  std::string joined;
  for (int i = 0; i < 5; ++i) {
    const auto& id = *specialIds(i);
    if (!id || id->empty()) continue;
    asked.push_back(*id);
    joined += (joined.empty() ? "" : ",") + *id;
  }
  if (asked.empty()) return;
  ACCOUNT_SERVICE_OR_RETURN("fetchMyRelatedPlaylistsCount");
  youtubeIdentifier_ = joined;
  auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet,contentDetails");
  query->setIdentifier(joined);
  service->executeQuery_completionHandler(
      query, [self](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) return;
        // The service answers in its own order: each count is matched to its playlist by id.
        std::map<std::string, ns::Value> byId;
        for (const auto& playlist : ApiCollectionItemsOf<ApiYouTubePlaylist>(reply)) {
          auto id = playlist->identifier();
          auto details = playlist->contentDetails();
          auto count = details ? details->itemCount() : std::nullopt;
          if (id && count) byId.emplace(*id, ns::Value(*count));
        }
        ns::Array counts;
        for (int i = 0; i < 5; ++i) {
          const auto& id = *self->specialIds(i);
          auto found = id ? byId.find(*id) : byId.end();
          if (found != byId.end()) counts.push_back(found->second);
        }
        self->store("linksItemCount", counts, kCountsLifetime);
        if (counts.size() >= 5)
          for (int i = 0; i < 5; ++i) *self->specialCounts(i) = counts[i];
        self->linksCountLoaded_ = true;
        onMain([self] { postNotification(kUpdateRelatedPlaylistNotification); });
      });
}

void AccountCache::fetchOwnList(const char* caller, const ns::Ref<ApiQueryYouTube>& query, const char* name,
                                std::function<ns::Array(const Reply&)> entriesOf,
                                ns::Array AccountCache::*list, bool AccountCache::*loaded,
                                const char* notification) {
  ACCOUNT_SERVICE_OR_RETURN(caller);
  query->setMine(true);
  query->setMaxResults(50);
  service->executeQuery_completionHandler(
      query, [self, name, entriesOf = std::move(entriesOf), list, loaded, notification](
                 const Ticket&, const Reply& reply, const Failure& error) {
        if (failed(error) || !isListReply(reply, name)) return;
        onMain([self, name, list, loaded, notification, entries = entriesOf(reply)] {
          (*self).*list = entries;
          self->store(name, entries, kListLifetime);
          (*self).*loaded = true;
          postNotification(notification);
        });
      });
}

void AccountCache::fetchPlaylists() {
  // Every refresh of the playlists refreshes the five counts too.
  fetchMyRelatedPlaylistsCount();
  auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet,contentDetails");
  fetchOwnList(
      "fetchPlaylists", query, "playlists",
      [](const Reply& reply) {
        ns::Array entries;
        for (const auto& playlist : ApiCollectionItemsOf<ApiYouTubePlaylist>(reply)) {
          auto id = playlist->identifier();
          auto snippet = playlist->snippet();
          auto title = snippet ? snippet->title() : std::nullopt;
          if (!id || !title) {
            ns::Log("AccountCache: a playlist without id or title is left out: %@", playlist->description());
            continue;
          }
          ns::Array entry{ns::Value(*id), ns::Value(*title)};
          auto details = playlist->contentDetails();
          if (auto count = details ? details->itemCount() : std::nullopt) entry.push_back(ns::Value(*count));
          entries.push_back(ns::Value(std::move(entry)));
        }
        return entries;
      },
      &AccountCache::playlistsArray_, &AccountCache::playlistsLoaded_, kUpdatePlaylistsNotification);
}

void AccountCache::fetchSubscriptions() {
  auto query = ApiQueryYouTube::queryForSubscriptionsListWithPart("snippet,contentDetails");
  fetchOwnList(
      "fetchSubscriptions", query, "subscriptions",
      [](const Reply& reply) {
        ns::Array entries;
        for (const auto& subscription : ApiCollectionItemsOf<ApiYouTubeSubscription>(reply)) {
          auto uploads = uploadsIdForChannel(channelIdOfSubscription(subscription));
          auto id = subscription->identifier();
          if (!uploads || !id) {
            ns::Log("AccountCache: a subscription without channel or id is left out: %@",
                    subscription->description());
            continue;
          }
          auto snippet = subscription->snippet();
          ns::Array entry{ns::Value(*uploads), ns::Value(snippet->title().value_or("")), ns::Value(*id)};
          // The counts go in only together, so that a reader finds both or neither.
          auto details = subscription->contentDetails();
          auto fresh = details ? details->newItemCount() : std::nullopt;
          auto total = details ? details->totalItemCount() : std::nullopt;
          if (fresh && total) {
            entry.push_back(ns::Value(*fresh));
            entry.push_back(ns::Value(*total));
          }
          entries.push_back(ns::Value(std::move(entry)));
        }
        return entries;
      },
      &AccountCache::subscriptionsArray_, &AccountCache::subscriptionsLoaded_,
      kUpdateSubscriptionsNotification);
}

void AccountCache::fetchFeeds() {
  std::string region = feedRegion();
  auto allowed = ns::URLCharacterSet::URLQueryAllowedCharacterSet().removing("&=+#");
  std::string text = "http://" + makerHost() + "/pelorin/feedinfo.php?s=yt&r=" +
                     ns::stringByAddingPercentEncodingWithAllowedCharacters(region, allowed);
  auto url = ns::URL::URLWithString(text);
  if (!url) {
    ns::Log("AccountCache: no feed URL from %@", text);
    return;
  }
  auto self = ref();
  auto operation = JSONRequestOperation::JSONRequestOperationWithRequest_success_failure(
      ns::URLRequest::requestWithURL(url),
      [self, region](const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::HTTPURLResponse>&,
                     const ns::Value& json) {
        ns::Array entries;
        const ns::Value& list = json.isDictionary() ? json["list"] : ns::Value();
        if (list.isArray()) {
          for (const ns::Value& element : list.array()) {
            if (!element.isDictionary()) continue;
            const ns::Value& id = element["id"];
            const ns::Value& title = element["title"];
            if (id.isNilOrNull() || title.isNilOrNull()) continue;
            entries.push_back(ns::Value(ns::Array{id, title}));
          }
        }
        onMain([self, region, entries = std::move(entries)] {
          if (entries.empty()) {
            ns::LogWarning("FEED FETCH FAILED!");
            return;
          }
          self->feedsArray_ = entries;
          self->store(feedsName(region), entries, kListLifetime);
          self->feedsLoaded_ = true;
          postNotification(kUpdateFeedsNotification);
        });
      },
      nullptr);
  operation->start();
}

void AccountCache::subscribe(const std::string& identifier) {
  if (identifier.size() < 2) {
    ns::LogWarning("AccountCache: cannot subscribe to \"%@\"", identifier);
    return;
  }
  ACCOUNT_SERVICE_OR_RETURN("subscribe");
  auto resource = ApiObject::object<ApiYouTubeResourceId>();
  resource->setChannelId("UC" + identifier.substr(2));
  auto snippet = ApiObject::object<ApiYouTubeSubscriptionSnippet>();
  snippet->setResourceId(resource);
  auto subscription = ApiObject::object<ApiYouTubeSubscription>();
  subscription->setKind("youtube#subscription");
  subscription->setSnippet(snippet);
  auto query = ApiQueryYouTube::queryForSubscriptionsInsertWithObject_part(subscription, "snippet");
  query->setMine(true);
  service->executeQuery_completionHandler(query, [self](const Ticket&, const Reply& reply,
                                                        const Failure& error) {
    if (failed(error)) return;
    ns::Log("ok:%@", reply ? reply->description() : std::string());
    auto added = std::dynamic_pointer_cast<ApiYouTubeSubscription>(reply);
    auto uploads = uploadsIdForChannel(channelIdOfSubscription(added));
    auto id = added ? added->identifier() : std::nullopt;
    if (!uploads || !id) {
      ns::Log("AccountCache: the new subscription names no channel or id");
      return;
    }
    ns::Array entry{ns::Value(*uploads), ns::Value(added->snippet()->title().value_or("")), ns::Value(*id)};
    self->subscriptionsArray_.push_back(ns::Value(std::move(entry)));
    self->store("subscriptions", self->subscriptionsArray_, kListLifetime);
    postNotification(kUpdateSubscriptionsNotification);
  });
}

void AccountCache::unsubscribe(const std::string& uploadsId) {
  auto found =
      std::find_if(subscriptionsArray_.begin(), subscriptionsArray_.end(), [&](const ns::Value& entry) {
        return entry.isArray() && entry.count() > 0 && entry[0] == ns::Value(uploadsId);
      });
  if (found == subscriptionsArray_.end() || found->count() < 3 || !(*found)[2].isString()) {
    ns::Log("NOT FOUND");
    return;
  }
  std::string subscriptionId = (*found)[2].string();
  ACCOUNT_SERVICE_OR_RETURN("unsubscribe");
  auto query = ApiQueryYouTube::queryForSubscriptionsDeleteWithIdentifier(subscriptionId);
  query->setMine(true);
  service->executeQuery_completionHandler(
      query, [self, uploadsId](const Ticket&, const Reply&, const Failure& error) {
        if (failed(error)) return;
        onMain([self, uploadsId] {
          auto& list = self->subscriptionsArray_;
          auto it = std::find_if(list.begin(), list.end(), [&](const ns::Value& entry) {
            return entry.isArray() && entry.count() > 0 && entry[0] == ns::Value(uploadsId);
          });
          if (it != list.end()) list.erase(it);
          self->store("subscriptions", list, kListLifetime);
          postNotification(kUpdateSubscriptionsNotification);
        });
      });
}

void AccountCache::deletePlaylist(const std::string& playlistId) {
  ACCOUNT_SERVICE_OR_RETURN("deletePlaylist");
  auto query = ApiQueryYouTube::queryForPlaylistsDeleteWithIdentifier(playlistId);
  query->setMine(true);
  service->executeQuery_completionHandler(
      query, [self, playlistId](const Ticket&, const Reply& reply, const Failure& error) {
        if (failed(error)) return;
        ns::Log("result = %@", reply ? reply->description() : std::string());
        onMain([self, playlistId] {
          auto& list = self->playlistsArray_;
          auto it = std::find_if(list.begin(), list.end(), [&](const ns::Value& entry) {
            return entry.isArray() && entry.count() > 0 && entry[0] == ns::Value(playlistId);
          });
          if (it != list.end()) list.erase(it);
          self->store("playlists", list, kListLifetime);
          postNotification(kUpdatePlaylistsNotification);
        });
      });
}

void AccountCache::renamePlaylist_toTitle(const std::string& playlistId, const std::string& title) {
  ACCOUNT_SERVICE_OR_RETURN("renamePlaylist");
  auto snippet = ApiObject::object<ApiYouTubePlaylistSnippet>();
  snippet->setTitle(title);
  auto playlist = ApiObject::object<ApiYouTubePlaylist>();
  playlist->setIdentifier(playlistId);
  playlist->setSnippet(snippet);
  auto query = ApiQueryYouTube::queryForPlaylistsUpdateWithObject_part(playlist, "snippet");
  query->setMine(true);
  service->executeQuery_completionHandler(
      query, [self, playlistId, title](const Ticket&, const Reply& reply, const Failure& error) {
        if (failed(error)) {
          // The source list draws the unchanged name again.
          postNotification(kUpdatePlaylistsNotification);
          return;
        }
        ns::Log("result = %@", reply ? reply->description() : std::string());
        onMain([self, playlistId, title] {
          auto& list = self->playlistsArray_;
          auto it = std::find_if(list.begin(), list.end(), [&](const ns::Value& entry) {
            return entry.isArray() && entry.count() > 0 && entry[0] == ns::Value(playlistId);
          });
          if (it != list.end()) {
            std::string oldTitle = it->count() > 1 ? (*it)[1].stringValue() : std::string();
            if (auto browsing = browsingInterface()) {
              auto controller = browsing->getPlaylistViewController(oldTitle, "playlists", playlistId);
              if (controller) {
                controller->setTitle(title);
                if (browsing->getVisiblePlaylistViewController() == controller)
                  browsing->setNavigationTitle(title);
              }
            }
            *it = ns::Value(ns::Array{ns::Value(playlistId), ns::Value(title)});
          }
          self->store("playlists", list, kListLifetime);
          postNotification(kUpdatePlaylistsNotification);
        });
      });
}

void AccountCache::renameVideo_toTitle(const std::string& videoId, const std::string& title) {
  ACCOUNT_SERVICE_OR_RETURN("renameVideo");
  auto browsing = browsingInterface();
  ns::Ref<IPlaylistViewController> visible =
      browsing ? browsing->getVisiblePlaylistViewController() : nullptr;
  auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet");
  query->setIdentifier(videoId);
  query->setMine(true);
  ns::Weak<ApiServiceYouTube> weakService = service;
  service->executeQuery_completionHandler(
      query, [self, weakService, visible, title](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("## error: %@", *error);
          return;
        }
        auto videos = ApiCollectionItemsOf<ApiYouTubeVideo>(reply);
        auto service = weakService.lock();
        if (videos.empty() || !service) return;
        // The second step: the video with its new title goes back to the service.
        auto video = videos[0];
        auto snippet = video->snippet();
        if (!snippet) {
          snippet = ApiObject::object<ApiYouTubeVideoSnippet>();
          video->setSnippet(snippet);
        }
        snippet->setTitle(title);
        auto update = ApiQueryYouTube::queryForVideosUpdateWithObject_part(video, "snippet");
        service->executeQuery_completionHandler(
            update, [self, visible](const Ticket&, const Reply& reply, const Failure& error) {
              if (error) {
                logFailure("## error: %@", *error);
                return;
              }
              auto renamed = std::dynamic_pointer_cast<ApiYouTubeVideo>(reply);
              auto id = renamed ? renamed->identifier() : std::nullopt;
              auto snippet = renamed ? renamed->snippet() : nullptr;
              if (visible && id && snippet) visible->videoRenamed_Title(*id, snippet->title().value_or(""));
            });
      });
}

void AccountCache::addPlaylist_withId(const std::string& title, const std::string& playlistId) {
  playlistsArray_.push_back(ns::Value(ns::Array{ns::Value(playlistId), ns::Value(title)}));
  postNotification(kUpdatePlaylistsNotification);
}

void AccountCache::getMyChannelList() {
  initMyChannelSet();
  ACCOUNT_SERVICE_OR_RETURN("getMyChannelList");
  auto query = ApiQueryYouTube::queryForChannelsListWithPart("id");
  query->setMine(true);
  service->executeQuery_completionHandler(
      query, [self](const Ticket&, const Reply& reply, const Failure& error) {
        if (error) {
          logFailure("## error: %@", *error);
          return;
        }
        self->myChannelSet_ = ns::Set();
        std::string joined;
        for (const auto& channel : ApiCollectionItemsOf<ApiYouTubeChannel>(reply)) {
          auto id = channel->identifier();
          if (!id) continue;
          ns::Log("## channel: %@", *id);
          self->myChannelSet_->add(ns::Value(*id));
        }
        for (const ns::Value& id : self->myChannelSet_->allObjects())
          joined += (joined.empty() ? "" : ",") + id.string();
        // The setting serves whichever account is signed in
        // now: a reply for one that went must not replace it.
        auto controller = mainWindowController();
        if (!controller || controller->accountCache() != self) {
          ns::Log("AccountCache: the own channels of %@ came after the account changed", self->email());
          return;
        }
        setStringSetting("my_channels", joined);
      });
}
