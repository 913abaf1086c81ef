#include "tests/support/FakeDataAPI.h"

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/serialization/JSONSerialization.h"

namespace testsupport {

using nlohmann::json;

namespace {

struct ResourceInfo {
  const char* itemKind;
  const char* listKind;
};

const std::map<std::string, ResourceInfo>& resources() {
  static const std::map<std::string, ResourceInfo> table{
      {"videos", {"youtube#video", "youtube#videoListResponse"}},
      {"search", {"youtube#searchResult", "youtube#searchListResponse"}},
      {"activities", {"youtube#activity", "youtube#activityListResponse"}},
      {"channels", {"youtube#channel", "youtube#channelListResponse"}},
      {"playlists", {"youtube#playlist", "youtube#playlistListResponse"}},
      {"playlistItems", {"youtube#playlistItem", "youtube#playlistItemListResponse"}},
      {"subscriptions", {"youtube#subscription", "youtube#subscriptionListResponse"}},
  };
  return table;
}

// The id of a stored item: a string "id", or a search result's videoId/channelId/playlistId.
std::string idOf(const json& item) {
  auto it = item.find("id");
  if (it == item.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_object())
    for (const char* key : {"videoId", "channelId", "playlistId"})
      if (it->contains(key) && (*it)[key].is_string()) return (*it)[key].get<std::string>();
  return {};
}

std::vector<std::string> splitComma(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

json rpcError(long code, const std::string& message, const std::string& reason) {
  return {{"code", code},
          {"message", message},
          {"data", json::array({{{"domain", "global"}, {"reason", reason}, {"message", message}}})}};
}

std::string htmlPage(const std::string& text) {
  return "<!DOCTYPE html><html><head><title>" + text + "</title></head><body><p>" + text +
         "</p></body></html>";
}

}  // namespace

struct FakeDataAPI::State {
  mutable std::mutex mutex;
  std::map<std::string, std::vector<json>> store;
  std::map<std::string, Script> scripts;
  std::map<std::string, std::string> apiKeys;  // method ("" for all) -> key
  std::map<std::string, std::string> tokens;   // method ("" for all) -> bearer token
  std::vector<DataAPICall> calls;
  std::size_t posts = 0;
  std::size_t nextId = 1;
  std::string scheme = "https";
  std::map<std::string, Upload> uploadsByPath;
  std::vector<std::string> uploadOrder;
  std::map<std::string, std::string> uploadCalls;  // upload path -> its call as JSON text
  std::size_t nextUpload = 1;
  std::vector<UploadFault> uploadFaults;
  std::map<std::string, std::set<std::string>> notMine;  // resource -> ids a "mine" list leaves out

  bool takeFault(UploadFault fault) {
    auto it = std::find(uploadFaults.begin(), uploadFaults.end(), fault);
    if (it == uploadFaults.end()) return false;
    uploadFaults.erase(it);
    return true;
  }

  std::string openUpload(const std::string& method, const pltest::FakeRequest& request) {
    std::string path = "/upload/session/" + std::to_string(nextUpload++);
    Upload upload;
    upload.location = path;
    upload.method = method;
    upload.contentType = request.header("X-Upload-Content-Type");
    upload.contentLength = request.header("X-Upload-Content-Length");
    uploadsByPath[path] = upload;
    uploadOrder.push_back(path);
    return path;
  }

  std::string absolute(const pltest::FakeRequest& request, const std::string& path) const {
    return scheme + "://" + request.header("Host").value_or("127.0.0.1") + path;
  }

  pltest::FakeReply openResumable(const pltest::FakeRequest& request) {
    if (takeFault(UploadFault::InitialError))
      return pltest::FakeReply::text(400, json{{"error", rpcError(400, "scripted", "badRequest")}}.dump(),
                                     "application/json; charset=UTF-8");
    std::size_t post = posts++;
    json call = json::object();
    if (!request.body.empty()) {
      call = json::parse(request.body, nullptr, false);
      if (call.is_discarded() || !call.is_object())
        return pltest::FakeReply::text(
            400, json{{"error", rpcError(400, "Parse Error", "parseError")}}.dump(), "application/json");
      record(call, request, post, false);
    }
    std::string path = openUpload(call.value("method", std::string()), request);
    uploadCalls[path] = call.dump();  // answered once the last byte is held
    return pltest::FakeReply::text(200, "").header("Location", absolute(request, path));
  }

  static pltest::FakeReply resumeIncomplete(const Upload& upload) {
    auto reply = pltest::FakeReply::text(308, "");
    if (!upload.received.empty())
      reply.header("Range", "bytes=0-" + std::to_string(upload.received.size() - 1));
    return reply;
  }

  // The answer to a thumbnail's upload: the video's default thumbnail.
  static pltest::FakeReply thumbnailSetReply(const json& call) {
    std::string video =
        call.contains("params") ? call["params"].value("videoId", std::string()) : std::string();
    std::string thumbnail = "https://i.ytimg.com/vi/" + video + "/default.jpg";
    json result = {
        {"kind", "youtube#thumbnailSetResponse"},
        {"etag", "\"thumb\""},
        {"items", json::array({{{"default", {{"url", thumbnail}, {"width", 120}, {"height", 90}}}}})}};
    return pltest::FakeReply::text(200, element(call, {{"result", result}}).dump(),
                                   "application/json; charset=UTF-8");
  }

  pltest::FakeReply finalReply(const Upload& upload, const pltest::FakeRequest& request) {
    json call = json::parse(uploadCalls[upload.location], nullptr, false);
    if (call.is_discarded() || !call.is_object() || !call.contains("method"))
      return pltest::FakeReply::text(
          200, json{{"kind", "fake#upload"}, {"bytes", upload.received.size()}}.dump(), "application/json");
    if (call["method"] == "youtube.thumbnails.set") return thumbnailSetReply(call);
    CallAnswer a = answer(call, request, false);
    if (a.reply) return *a.reply;
    return pltest::FakeReply::text(200, a.element->dump(), "application/json; charset=UTF-8");
  }

  pltest::FakeReply putChunk(const pltest::FakeRequest& request) {
    std::lock_guard lock(mutex);
    auto it = uploadsByPath.find(request.path);
    if (it == uploadsByPath.end()) return pltest::FakeReply::text(404, "no such upload");
    Upload& upload = it->second;
    std::string range = request.header("Content-Range").value_or("");
    unsigned long long first = 0, last = 0, total = 0;
    char tail = 0;
    if (std::sscanf(range.c_str(), "bytes */%llu%c", &total, &tail) == 1) {
      // An empty upload is whole as soon as it is asked about.
      if (total == 0 && upload.received.empty()) upload.complete = true;
      if (upload.complete) return finalReply(upload, request);
      return resumeIncomplete(upload);
    }
    if (std::sscanf(range.c_str(), "bytes %llu-%llu/%llu%c", &first, &last, &total, &tail) != 3 ||
        last < first || last - first + 1 != request.body.size() || first > upload.received.size() ||
        last >= total)
      return pltest::FakeReply::text(400, "bad Content-Range: " + range);
    if (takeFault(UploadFault::DropMidChunk)) {
      upload.received = upload.received.substr(0, first) + request.body.substr(0, request.body.size() / 2);
      return pltest::FakeReply::cutShort("{", 64);
    }
    if (takeFault(UploadFault::NoRange308)) {
      upload.received.clear();
      return pltest::FakeReply::text(308, "");
    }
    upload.received = upload.received.substr(0, first) + request.body;
    if (takeFault(UploadFault::NewLocation)) {
      Upload moved = upload;
      moved.location = "/upload/session/" + std::to_string(nextUpload++);
      uploadsByPath.erase(it);
      uploadsByPath[moved.location] = moved;
      uploadCalls[moved.location] = uploadCalls[request.path];
      std::replace(uploadOrder.begin(), uploadOrder.end(), request.path, moved.location);
      return resumeIncomplete(moved).header("Location", absolute(request, moved.location));
    }
    if (upload.received.size() < total) return resumeIncomplete(upload);
    upload.complete = true;
    return finalReply(upload, request);
  }

  // The script for one call of the method, used up by one when it counts.
  Script takeScript(const std::string& method) {
    auto it = scripts.find(method);
    if (it == scripts.end()) return {};
    Script s = it->second;
    if (it->second.times > 0 && --it->second.times == 0) scripts.erase(it);
    return s;
  }

  // The error of a refused call, or nothing.
  std::optional<std::pair<int, json>> authorize(const std::string& method, const json& call,
                                                const pltest::FakeRequest& request) const {
    for (const auto& [scope, key] : apiKeys) {
      if (!scope.empty() && scope != method) continue;
      const json* params = call.contains("params") ? &call["params"] : nullptr;
      if (!params || !params->contains("key"))
        return std::make_pair(
            403, rpcError(403, "Daily Limit for Unauthenticated Use Exceeded.", "dailyLimitExceededUnreg"));
      if ((*params)["key"] != key) return std::make_pair(400, rpcError(400, "Bad Request", "keyInvalid"));
    }
    for (const auto& [scope, token] : tokens) {
      if (!scope.empty() && scope != method) continue;
      if (request.header("Authorization") != "Bearer " + token)
        return std::make_pair(401, rpcError(401, "Invalid Credentials", "authError"));
    }
    return std::nullopt;
  }

  // As the service does, a new playlist item carries its video's title, description and
  // thumbnails (when the store knows the video).
  void completePlaylistItem(json& item) {
    if (!item.contains("snippet") || !item["snippet"].is_object()) return;
    json& snippet = item["snippet"];
    const std::string videoId = snippet.value("/resourceId/videoId"_json_pointer, std::string());
    if (videoId.empty()) return;
    for (const auto& video : store["videos"]) {
      if (idOf(video) != videoId || !video.contains("snippet")) continue;
      for (const char* key : {"title", "description", "thumbnails"})
        if (!snippet.contains(key) && video["snippet"].contains(key)) snippet[key] = video["snippet"][key];
      break;
    }
  }

  // What a call answers from the store: {"result": ...} or {"error": ...} with an HTTP status.
  std::pair<int, json> serve(const std::string& method, const json& call) {
    json params = call.contains("params") && call["params"].is_object() ? call["params"] : json::object();
    auto dot = method.find('.');
    auto last = method.rfind('.');
    if (method.rfind("youtube.", 0) != 0 || dot == last)
      return {404, rpcError(404, "Method not found: " + method, "notFound")};
    std::string resource = method.substr(dot + 1, last - dot - 1);
    std::string verb = method.substr(last + 1);
    auto info = resources().find(resource);
    if (info == resources().end()) return {404, rpcError(404, "Method not found: " + method, "notFound")};
    auto& items = store[resource];

    if (verb == "list") {
      std::vector<const json*> matching;
      std::vector<std::string> ids = params.contains("id") && params["id"].is_string()
                                         ? splitComma(params["id"].get<std::string>())
                                         : std::vector<std::string>();
      std::string playlistId = params.value("playlistId", std::string());
      bool mine = params.contains("mine") && params["mine"].is_boolean() && params["mine"].get<bool>();
      const auto& others = notMine[resource];
      for (const auto& item : items) {
        if (!ids.empty() && std::find(ids.begin(), ids.end(), idOf(item)) == ids.end()) continue;
        if (mine && others.count(idOf(item))) continue;
        if (!playlistId.empty() &&
            item.value("/snippet/playlistId"_json_pointer, std::string()) != playlistId)
          continue;
        matching.push_back(&item);
      }
      // As the service does, a list by ids answers every match at once (it takes up to 50 ids)
      // and takes no "maxResults".
      std::size_t perPage = ids.empty() ? 5 : 50;
      if (ids.empty() && params.contains("maxResults") && params["maxResults"].is_number_unsigned())
        perPage = std::min<std::size_t>(params["maxResults"].get<std::size_t>(), 50);
      std::size_t offset = 0;
      if (params.contains("pageToken") && params["pageToken"].is_string()) {
        std::string token = params["pageToken"].get<std::string>();
        if (token.rfind("PT", 0) != 0) return {400, rpcError(400, "Invalid page token", "invalidPageToken")};
        offset = std::stoul(token.substr(2));
      }
      json reply = {{"kind", info->second.listKind},
                    {"etag", "\"fake/" + resource + "/" + std::to_string(offset) + "\""},
                    {"pageInfo", {{"totalResults", matching.size()}, {"resultsPerPage", perPage}}},
                    {"items", json::array()}};
      for (std::size_t i = offset; i < matching.size() && i < offset + perPage; ++i)
        reply["items"].push_back(*matching[i]);
      if (offset + perPage < matching.size()) reply["nextPageToken"] = pageTokenForOffset(offset + perPage);
      if (offset > 0) reply["prevPageToken"] = pageTokenForOffset(offset >= perPage ? offset - perPage : 0);
      return {200, {{"result", reply}}};
    }

    bool editable = resource == "playlists" || resource == "playlistItems" || resource == "subscriptions";
    if (editable && verb == "insert") {
      if (!params.contains("resource") || !params["resource"].is_object())
        return {400, rpcError(400, "No resource", "required")};
      json item = params["resource"];
      if (resource == "playlistItems") completePlaylistItem(item);
      item["id"] = "FAKE" + std::to_string(nextId++);
      item["kind"] = info->second.itemKind;
      item["etag"] = "\"fake/" + item["id"].get<std::string>() + "\"";
      items.push_back(item);
      return {200, {{"result", item}}};
    }
    // A video's snippet is edited through update only: uploads are not made here.
    if ((editable || resource == "videos") && verb == "update") {
      json resourceJSON = params.value("resource", json::object());
      std::string id = idOf(resourceJSON);
      for (auto& item : items) {
        if (idOf(item) != id) continue;
        item = resourceJSON;
        item["kind"] = info->second.itemKind;
        item["etag"] = "\"fake/" + id + "/" + std::to_string(nextId++) + "\"";
        return {200, {{"result", item}}};
      }
      return {404, rpcError(404, "Not Found", "notFound")};
    }
    if (editable && verb == "delete") {
      std::string id = params.value("id", std::string());
      auto it = std::find_if(items.begin(), items.end(), [&](const json& item) { return idOf(item) == id; });
      if (it == items.end()) return {404, rpcError(404, "Not Found", "notFound")};
      items.erase(it);
      return {200, {{"result", json::object()}}};
    }
    return {404, rpcError(404, "Method not found: " + method, "notFound")};
  }

  static json element(const json& call, const json& member) {
    json out = {{"jsonrpc", "2.0"}};
    if (call.contains("id")) out["id"] = call["id"];
    for (auto& [key, value] : member.items()) out[key] = value;
    return out;
  }

  // The answer to one call: an element, none (left out of a batch), or a whole HTTP reply.
  struct CallAnswer {
    std::optional<json> element;
    std::optional<pltest::FakeReply> reply;
  };

  CallAnswer answer(const json& call, const pltest::FakeRequest& request, bool inBatch) {
    std::string method = call.value("method", std::string());
    Script s = takeScript(method);
    auto statusReply = [&](int status, const json& error) {
      return pltest::FakeReply::text(status, element(call, {{"error", error}}).dump(),
                                     "application/json; charset=UTF-8");
    };
    switch (s.answer) {
      case Answer::Normal:
        break;
      case Answer::OnlyError:
        return {element(call, {{"error", rpcError(s.code, s.message, "scripted")}}), std::nullopt};
      case Answer::NeitherMember:
        if (inBatch) return {};
        return {element(call, json::object()), std::nullopt};
      case Answer::EmptyResult:
        return {element(call, {{"result", json::object()}}), std::nullopt};
      case Answer::BareResult:
        return {element(call, {{"result", json::parse(s.body.value_or("null"))}}), std::nullopt};
      default:
        if (inBatch)
          return {element(call, {{"error", rpcError(s.code ? s.code : s.status, s.message, "scripted")}}),
                  std::nullopt};
        if (s.answer == Answer::JSONError)
          return {std::nullopt,
                  pltest::FakeReply::text(
                      s.status,
                      s.body ? *s.body : json{{"error", rpcError(s.code, s.message, "scripted")}}.dump(),
                      "application/json; charset=UTF-8")};
        if (s.answer == Answer::HTMLError)
          return {std::nullopt, pltest::FakeReply::text(s.status, s.body ? *s.body : htmlPage(s.message),
                                                        "text/html; charset=utf-8")};
        if (s.answer == Answer::EmptyBody)
          return {std::nullopt, pltest::FakeReply::text(200, "", "application/json; charset=UTF-8")};
        if (s.answer == Answer::HTMLPage)
          return {std::nullopt,
                  pltest::FakeReply::text(200, htmlPage(s.message), "text/html; charset=utf-8")};
        if (s.answer == Answer::MalformedJSON)
          return {std::nullopt, pltest::FakeReply::text(200, "{\"result\": {\"kind\": ", "application/json")};
        if (s.answer == Answer::Stall) {
          auto reply = pltest::FakeReply::stalled("{\"jsonrpc\": \"2.0\", ", 4096);
          reply.contentType = "application/json";
          return {std::nullopt, reply};
        }
    }
    if (auto refused = authorize(method, call, request)) {
      if (inBatch) return {element(call, {{"error", refused->second}}), std::nullopt};
      return {std::nullopt, statusReply(refused->first, refused->second)};
    }
    auto [status, member] = serve(method, call);
    if (status == 200) return {element(call, member), std::nullopt};
    // serve() answers the error object itself for a refused call.
    if (inBatch) return {element(call, {{"error", member}}), std::nullopt};
    return {std::nullopt, statusReply(status, member)};
  }

  void record(const json& call, const pltest::FakeRequest& request, std::size_t post, bool inBatch) {
    DataAPICall c;
    c.path = request.path;
    c.target = request.target;
    c.post = post;
    c.inBatch = inBatch;
    c.jsonrpc = call.value("jsonrpc", std::string());
    c.method = call.value("method", std::string());
    if (call.contains("id"))
      c.id = call["id"].is_string() ? call["id"].get<std::string>() : call["id"].dump();
    if (call.contains("apiVersion") && call["apiVersion"].is_string())
      c.apiVersion = call["apiVersion"].get<std::string>();
    if (call.contains("params"))
      c.params = ns::JSONSerialization::JSONObjectWithString(call["params"].dump());
    c.callJSON = call.dump();
    c.headers = request.headers;
    calls.push_back(std::move(c));
  }

  pltest::FakeReply handle(const pltest::FakeRequest& request) {
    std::lock_guard lock(mutex);
    if (request.path == "/upload/rpc") {
      auto type = request.params.find("uploadType");
      if (type != request.params.end() && type->second == "resumable") return openResumable(request);
    }
    std::size_t post = posts++;
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !(body.is_object() || body.is_array()))
      return pltest::FakeReply::text(400, json{{"error", rpcError(400, "Parse Error", "parseError")}}.dump(),
                                     "application/json");
    if (body.is_object()) {
      record(body, request, post, false);
      CallAnswer a = answer(body, request, false);
      if (a.reply) return *a.reply;
      return pltest::FakeReply::text(200, a.element->dump(), "application/json; charset=UTF-8");
    }
    json reply = json::array();
    for (const auto& call : body) {
      record(call, request, post, true);
      CallAnswer a = answer(call, request, true);
      if (a.element) reply.push_back(*a.element);
    }
    return pltest::FakeReply::text(200, reply.dump(), "application/json; charset=UTF-8");
  }
};

FakeDataAPI::FakeDataAPI() : FakeDataAPI(Options{}) {}

FakeDataAPI::FakeDataAPI(Options options) : state_(std::make_shared<State>()) {
  std::vector<std::string> names{"localhost", "127.0.0.1"};
  names.insert(names.end(), options.hostNames.begin(), options.hostNames.end());
  server_ = std::make_unique<pltest::FakeServer>(
      pltest::FakeServer::Options{.https = options.https, .hostNames = names});
  std::weak_ptr<State> weak = state_;
  server_->route("POST", "/(upload/)?rpc", [weak](const pltest::FakeRequest& request) {
    auto state = weak.lock();
    if (!state) return pltest::FakeReply::text(503, "gone");
    return state->handle(request);
  });
  state_->scheme = options.https ? "https" : "http";
  server_->route("PUT", "/upload/session/[0-9]+", [weak](const pltest::FakeRequest& request) {
    auto state = weak.lock();
    if (!state) return pltest::FakeReply::text(503, "gone");
    return state->putChunk(request);
  });
}

void FakeDataAPI::scriptUploadFault(UploadFault fault) {
  std::lock_guard lock(state_->mutex);
  state_->uploadFaults.push_back(fault);
}

void FakeDataAPI::truncateUpload(const std::string& location, std::size_t length) {
  std::lock_guard lock(state_->mutex);
  auto it = state_->uploadsByPath.find(location);
  if (it != state_->uploadsByPath.end() && it->second.received.size() > length)
    it->second.received.resize(length);
}

std::vector<FakeDataAPI::Upload> FakeDataAPI::uploads() const {
  std::lock_guard lock(state_->mutex);
  std::vector<Upload> out;
  for (const auto& path : state_->uploadOrder) {
    out.push_back(state_->uploadsByPath.at(path));
  }
  return out;
}

FakeDataAPI::~FakeDataAPI() {
  server_->release();
  if (trusted_) pltest::FakeServer::untrustInURLLoading();
  server_.reset();
}

void FakeDataAPI::serveAsAPIHost(const std::string& host) {
  server_->serveAs(host);
  if (server_->isHTTPS()) {
    server_->trustInURLLoading();
    trusted_ = true;
  }
}

void FakeDataAPI::excludeFromMine(const std::string& resource, const std::vector<std::string>& ids) {
  std::lock_guard lock(state_->mutex);
  state_->notMine[resource].insert(ids.begin(), ids.end());
}

void FakeDataAPI::seed(const std::string& resource, const std::vector<std::string>& itemsJSON) {
  std::lock_guard lock(state_->mutex);
  for (const auto& text : itemsJSON) state_->store[resource].push_back(json::parse(text));
}

void FakeDataAPI::seedFromFixture(const std::string& resource, const std::string& replyJSON) {
  json reply = json::parse(replyJSON);
  std::lock_guard lock(state_->mutex);
  for (const auto& item : reply.at("items")) state_->store[resource].push_back(item);
}

void FakeDataAPI::seedGenerated(const std::string& resource, std::size_t count, const std::string& idPrefix) {
  std::lock_guard lock(state_->mutex);
  auto& items = state_->store[resource];
  json model = items.empty() ? json{{"kind", resources().at(resource).itemKind}} : items.front();
  for (std::size_t i = 1; i <= count; ++i) {
    json item = model;
    char number[16];
    std::snprintf(number, sizeof number, "%04zu", i);
    if (item.contains("id") && item["id"].is_object())
      item["id"]["videoId"] = idPrefix + number;
    else
      item["id"] = idPrefix + number;
    item["etag"] = "\"gen/" + idPrefix + number + "\"";
    item["snippet"]["title"] = "Item " + std::to_string(i);
    items.push_back(std::move(item));
  }
}

std::size_t FakeDataAPI::itemCount(const std::string& resource) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->store.find(resource);
  return it == state_->store.end() ? 0 : it->second.size();
}

std::vector<std::string> FakeDataAPI::itemIds(const std::string& resource) const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> ids;
  if (auto it = state_->store.find(resource); it != state_->store.end())
    for (const auto& item : it->second) ids.push_back(idOf(item));
  return ids;
}

std::optional<std::string> FakeDataAPI::item(const std::string& resource, const std::string& id) const {
  std::lock_guard lock(state_->mutex);
  if (auto it = state_->store.find(resource); it != state_->store.end())
    for (const auto& item : it->second)
      if (idOf(item) == id) return item.dump();
  return std::nullopt;
}

std::string FakeDataAPI::pageTokenForOffset(std::size_t offset) {
  return "PT" + std::to_string(offset);
}

void FakeDataAPI::script(const std::string& method, Script script) {
  std::lock_guard lock(state_->mutex);
  state_->scripts[method] = script;
}

void FakeDataAPI::clearScripts() {
  std::lock_guard lock(state_->mutex);
  state_->scripts.clear();
}

void FakeDataAPI::requireAPIKey(const std::string& key, const std::string& method) {
  std::lock_guard lock(state_->mutex);
  state_->apiKeys[method] = key;
}

void FakeDataAPI::requireBearerToken(const std::string& token, const std::string& method) {
  std::lock_guard lock(state_->mutex);
  state_->tokens[method] = token;
}

std::vector<DataAPICall> FakeDataAPI::calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
}

std::vector<DataAPICall> FakeDataAPI::callsOf(const std::string& method) const {
  std::vector<DataAPICall> out;
  for (auto& call : calls())
    if (call.method == method) out.push_back(call);
  return out;
}

std::size_t FakeDataAPI::postCount() const {
  return posts().size();
}

std::vector<pltest::FakeRequest> FakeDataAPI::posts() const {
  std::vector<pltest::FakeRequest> out;
  for (auto& request : server_->requests())
    if (request.method == "POST") out.push_back(request);
  return out;
}

}  // namespace testsupport
