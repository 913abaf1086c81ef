#pragma once
// A fake of the YouTube Data API v3 on 127.0.0.1, speaking its JSON-RPC 2.0 protocol over HTTPS
// (or HTTP) on a pltest::FakeServer. It takes POSTs at "/rpc" and "/upload/rpc" whose body is
// one call object or a batch array of them, records every call, and answers from a store seeded
// per resource.
//
//   testsupport::FakeDataAPI api;                       // HTTPS, certificate for the API host too
//   api.serveAsAPIHost();                               // "https://www.googleapis.com" comes here
//   api.seedFromFixture("playlists", googletest::fixtureText("playlists-1.json"));
//   api.seedGenerated("playlists", 120);                // 120 more made from the first item
//   auto service = ns::make<ApiServiceYouTube>();       // real fetcher, real TLS
//
// Knobs:
//   - Store: resources "videos", "search", "activities", "channels", "playlists",
//     "playlistItems", "subscriptions". seed() adds items (JSON objects as text);
//     seedFromFixture() adds the "items" of a real reply; seedGenerated() adds copies of the
//     resource's first item with ids "<prefix>0001"... and titles "Item 1"...
//   - "youtube.<resource>.list": "maxResults" (default 5, at most 50; a list by "id" answers all
//     its matches, up to 50, whatever "maxResults" says) and "pageToken" paging; the
//     reply is "youtube#<singular>ListResponse" with "pageInfo", "items" and, when more follow,
//     "nextPageToken" (pageTokenForOffset(offset)). Filters: "id" (comma-separated ids) and, for
//     playlist items, "playlistId" (against snippet.playlistId).
//   - "youtube.{playlists,playlistItems,subscriptions}.{insert,update,delete}": insert stores
//     params.resource with a new id ("FAKE" and a counter) and etag and answers it; update
//     replaces the item with params.resource.id (404 notFound when absent); delete removes
//     params.id and answers an empty result (404 when absent). "youtube.videos.update" likewise
//     replaces a stored video.
//   - Batches: a JSON array body is answered with an array in member order, each element with
//     "id" and "result" or "error".
//   - script(method, Script): the next `times` calls of the method (all when -1) get a scripted
//     answer instead: a status with a JSON error, an HTML body, a 200 holding only "error", a 200
//     holding neither member, an empty result, a bare result, a 200 HTML page, malformed JSON, an
//     empty body or a stall (the
//     body stops until release()). In a batch, only the member answers apply (OnlyError gives an
//     element with "error", NeitherMember leaves the element out, EmptyResult gives "result": {},
//     BareResult gives "result" with the scripted body).
//   - requireAPIKey(key) and requireBearerToken(token): calls without params.key == key get 400
//     "keyInvalid" (403 "dailyLimitExceededUnreg" when there is no key); calls without
//     "Authorization: Bearer <token>" get 401 "authError". Pass a method to limit either to it.
//   - Unknown methods get a JSON-RPC error 404 "notFound"; bodies that are not JSON get 400.
//   - Resumable uploads: a POST to "/upload/rpc?uploadType=resumable..." (its JSON-RPC call, or
//     an empty body for an upload without one) opens an upload and is answered 200 with no body
//     and a "Location" of "/upload/session/<n>". PUTs there carry "Content-Range": "bytes a-b/L"
//     stores the bytes from a (a must not lie past what is held), "bytes */L" asks; both are
//     answered 308 with "Range: bytes=0-<last held>" (none while nothing is held) until all L
//     bytes are held, then 200 with the call's JSON-RPC reply ("youtube.thumbnails.set" gets a
//     "youtube#thumbnailSetResponse"; an upload without a call gets {"kind": "fake#upload"}).
//     scriptUploadFault() makes the next data PUT (or, for InitialError, the next opening POST)
//     fail: the connection dropped after half the chunk is held, a 308 without "Range" (all bytes
//     forgotten), or a 308 moving the upload to a new "Location".
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/testing/FakeServer.h"

namespace testsupport {

// One JSON-RPC call as the fake received it.
struct DataAPICall {
  std::string path;      // "/rpc" or "/upload/rpc"
  std::string target;    // path and query as sent
  std::size_t post = 0;  // which POST carried it (0-based), several calls share one in a batch
  bool inBatch = false;
  std::string jsonrpc;
  std::string method;
  std::string id;  // the "id" member as text ("" when absent)
  std::optional<std::string> apiVersion;
  ns::Value params;      // the "params" member (nil when absent), numbers with their kind
  std::string callJSON;  // the call object as received
  ns::HTTPHeaderFields headers;
};

class FakeDataAPI {
 public:
  enum class Answer {
    Normal,         // served from the store
    JSONError,      // `status` with {"error": {"code": code, "message": message, "errors": [...]}}
    HTMLError,      // `status` with an HTML page holding `message`
    OnlyError,      // 200 with "jsonrpc", "id" and "error" {code, message}
    NeitherMember,  // 200 with "jsonrpc" and "id" only
    EmptyResult,    // 200 with "result": {}
    HTMLPage,       // 200 text/html page holding `message` (a captive portal)
    MalformedJSON,  // 200 application/json that does not parse
    Stall,          // 200 whose body stops after its first bytes until release()
    EmptyBody,      // 200 application/json with no body at all
    BareResult,     // 200 whose "result" is `body` read as JSON (a bare string or number, say)
  };
  struct Script {
    Script(Answer answer = Answer::Normal, int status = 200, long code = 0, int times = -1,
           std::optional<std::string> body = std::nullopt)
        : answer(answer), status(status), code(code), times(times), body(std::move(body)) {}
    Answer answer;
    int status;
    long code;
    int times;  // calls it answers; -1: all
    // JSONError and HTMLError: this body (a real error reply, say) instead of the made-up one;
    // BareResult: the JSON text of the "result" member.
    std::optional<std::string> body;
    std::string message = "scripted";
  };

  enum class UploadFault { DropMidChunk, NoRange308, NewLocation, InitialError };
  struct Upload {
    std::string location;                      // path of the upload, "/upload/session/<n>"
    std::string method;                        // of its call, "" for none
    std::optional<std::string> contentType;    // "X-Upload-Content-Type"
    std::optional<std::string> contentLength;  // "X-Upload-Content-Length"
    std::string received;                      // the bytes held
    bool complete = false;
  };

  struct Options {
    bool https = true;
    // Names the certificate covers besides localhost and 127.0.0.1.
    std::vector<std::string> hostNames{"www.googleapis.com"};
  };

  FakeDataAPI();
  explicit FakeDataAPI(Options options);
  ~FakeDataAPI();
  FakeDataAPI(const FakeDataAPI&) = delete;
  FakeDataAPI& operator=(const FakeDataAPI&) = delete;

  pltest::FakeServer& server() { return *server_; }
  std::string baseURL() const { return server_->baseURL(); }
  // Sends URL loading for "https://www.googleapis.com" here and trusts the test CA, until the
  // fake goes.
  void serveAsAPIHost(const std::string& host = "www.googleapis.com");

  // ---- the store ----
  void seed(const std::string& resource, const std::vector<std::string>& itemsJSON);
  // The "items" of a real list reply.
  void seedFromFixture(const std::string& resource, const std::string& replyJSON);
  // `count` copies of the resource's first item (which must exist) with ids prefix + "0001"...
  void seedGenerated(const std::string& resource, std::size_t count, const std::string& idPrefix = "GEN");
  std::size_t itemCount(const std::string& resource) const;
  // Items another account owns: lists asked with "mine": true leave them out (lists by id still
  // find them).
  void excludeFromMine(const std::string& resource, const std::vector<std::string>& ids);
  std::vector<std::string> itemIds(const std::string& resource) const;
  // The stored item as JSON text.
  std::optional<std::string> item(const std::string& resource, const std::string& id) const;
  static std::string pageTokenForOffset(std::size_t offset);

  // ---- scripting ----
  void script(const std::string& method, Script script);
  void clearScripts();
  void requireAPIKey(const std::string& key, const std::string& method = "");
  void requireBearerToken(const std::string& token, const std::string& method = "");

  void scriptUploadFault(UploadFault fault);
  // Forgets the bytes held past `length` (a server that lost the end of a chunk).
  void truncateUpload(const std::string& location, std::size_t length);

  // ---- what arrived ----
  std::vector<Upload> uploads() const;
  std::vector<DataAPICall> calls() const;
  std::vector<DataAPICall> callsOf(const std::string& method) const;
  // POST requests at either path (a batch is one).
  std::size_t postCount() const;
  std::vector<pltest::FakeRequest> posts() const;
  // Blocks on a condition until `count` POSTs arrived or the time-out passed: only for callers
  // whose requests do not need the blocked thread's run loop. A call is recorded under the lock
  // that answers it, so once calls() shows it, its answer is settled.
  bool waitForPosts(std::size_t count) const { return server_->waitForRequests(count); }
  // Lets stalled replies end.
  void release() { server_->release(); }

  struct State;

 private:
  std::unique_ptr<pltest::FakeServer> server_;
  std::shared_ptr<State> state_;
  bool trusted_ = false;
};

}  // namespace testsupport
