// What the service sends: the JSON-RPC call, its URL and headers, the User-Agent, the REST
// requests, and the calls that cannot start.
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiUploadParameters.h"
#include "platform/core/Str.h"
#include "tests/lib/google/ServiceTestSupport.h"

using namespace servicetest;
using testsupport::FakeDataAPI;

namespace {

ns::Value param(const testsupport::DataAPICall& call, const std::string& key) {
  return call.params.isDictionary() ? call.params.dictionary()[ns::Value(key)] : ns::Value();
}

class ServiceRequest : public ServiceTest {};

TEST_F(ServiceRequest, PlaylistsListIsOneJSONRPCPostWithItsHeaders) {
  seedPlaylists(0);
  service_->setAPIKey("k");
  auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet");
  query->setMaxResults(50);
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(query, delivery.handler());
  ASSERT_TRUE(ticket);
  waitFor(delivery);

  ASSERT_EQ(api_.postCount(), 1u);
  auto post = api_.posts()[0];
  EXPECT_EQ(post.target, "/rpc?prettyPrint=false");
  EXPECT_EQ(post.header("Host"), "www.googleapis.com");
  EXPECT_EQ(post.header("Accept"), "application/json-rpc");
  EXPECT_EQ(post.header("Content-Type"), "application/json-rpc; charset=utf-8");
  EXPECT_EQ(post.header("Cache-Control"), "no-cache");
  auto agent = post.header("User-Agent").value_or("");
  EXPECT_TRUE(ns::str::hasSuffix(agent, "(gzip)")) << agent;
  EXPECT_NE(agent.find(" google-api-objc-client/2.0 Linux/"), std::string::npos) << agent;

  auto calls = api_.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_FALSE(calls[0].inBatch);
  EXPECT_EQ(calls[0].jsonrpc, "2.0");
  EXPECT_EQ(calls[0].method, "youtube.playlists.list");
  EXPECT_EQ(calls[0].id, query->requestID());
  EXPECT_EQ(calls[0].apiVersion, "v3");
  ASSERT_TRUE(calls[0].params.isDictionary());
  EXPECT_EQ(calls[0].params.dictionary().count(), 3u) << calls[0].callJSON;
  EXPECT_EQ(param(calls[0], "part"), ns::Value("snippet"));
  ASSERT_TRUE(param(calls[0], "maxResults").isNumber()) << calls[0].callJSON;
  EXPECT_EQ(param(calls[0], "maxResults").longLongValue(), 50);
  EXPECT_EQ(param(calls[0], "key"), ns::Value("k"));

  // The real reply's five playlists come back as the list class of their "kind".
  EXPECT_FALSE(delivery.error);
  auto list = delivery.objectAs<ApiYouTubePlaylistListResponse>();
  ASSERT_TRUE(list);
  EXPECT_EQ(itemIds(list), api_.itemIds("playlists"));
  EXPECT_EQ(ticket->statusCode(), 200);
}

// How the "params" member is made from the key, the parameters and the body object.
TEST_F(ServiceRequest, ParamsMemberFollowsKeyParametersAndBody) {
  seedPlaylists(0);
  struct Case {
    const char* name;
    std::optional<std::string> serviceKey;
    std::function<ns::Ref<ApiQuery>()> query;
    std::function<void(const testsupport::DataAPICall&, const pltest::FakeRequest&)> check;
  };
  auto playlist = ApiObject::objectWithJSON<ApiYouTubePlaylist>(ApiJSONParser::objectWithString_error(
      R"({"etag":"\"tag1\"","snippet":{"title":"Road trip"}})", nullptr));
  std::vector<Case> cases{
      {"no key and no parameters: no params", std::nullopt,
       [] { return ApiQuery::queryWithMethodName("youtube.i18nRegions.list"); },
       [](const auto& call, const auto&) { EXPECT_TRUE(call.params.isNil()) << call.callJSON; }},
      {"a key alone makes params", "k",
       [] { return ApiQuery::queryWithMethodName("youtube.i18nRegions.list"); },
       [](const auto& call, const auto&) { EXPECT_EQ(param(call, "key"), ns::Value("k")); }},
      {"the query's own key is kept", "k",
       [] {
         auto q = ApiQueryYouTube::queryForPlaylistsListWithPart("id");
         q->setCustomParameter_forKey("mine-key", "key");
         return ns::Ref<ApiQuery>(q);
       },
       [](const auto& call, const auto&) { EXPECT_EQ(param(call, "key"), ns::Value("mine-key")); }},
      {"an insert sends the resource and no If-Match", std::nullopt,
       [&] {
         return ns::Ref<ApiQuery>(
             ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(playlist, "snippet"));
       },
       [](const auto& call, const auto& post) {
         auto resource = param(call, "resource");
         ASSERT_TRUE(resource.isDictionary()) << call.callJSON;
         EXPECT_EQ(resource.dictionary()[ns::Value("snippet")].dictionary()[ns::Value("title")],
                   ns::Value("Road trip"));
         EXPECT_EQ(param(call, "part"), ns::Value("snippet"));
         EXPECT_FALSE(post.header("If-Match"));
         EXPECT_FALSE(post.header("If-None-Match"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_->setAPIKey(c.serviceKey);
    api_.server().clearRequests();
    std::size_t before = api_.calls().size();
    Delivery delivery;
    ASSERT_TRUE(execute(c.query(), delivery));
    auto calls = api_.calls();
    ASSERT_EQ(calls.size(), before + 1);
    ASSERT_EQ(api_.postCount(), 1u);
    c.check(calls.back(), api_.posts()[0]);
  }
  // The insert's answer is the stored resource under its new id.
  ASSERT_EQ(api_.itemCount("playlists"), 6u);
  auto stored = api_.itemIds("playlists").back();
  EXPECT_EQ(stored.rfind("FAKE", 0), 0u);
}

TEST_F(ServiceRequest, InsertAnswersTheStoredResource) {
  auto playlist = ApiObject::objectWithJSON<ApiYouTubePlaylist>(
      ApiJSONParser::objectWithString_error(R"({"snippet":{"title":"Later"}})", nullptr));
  Delivery delivery;
  ASSERT_TRUE(
      execute(ApiQueryYouTube::queryForPlaylistsInsertWithObject_part(playlist, "snippet"), delivery));
  auto inserted = delivery.objectAs<ApiYouTubePlaylist>();
  ASSERT_TRUE(inserted) << (delivery.error ? delivery.error->description() : "no object");
  ASSERT_TRUE(inserted->identifier());
  EXPECT_TRUE(api_.item("playlists", *inserted->identifier()));
  EXPECT_EQ(inserted->snippet()->title(), "Later");
  // The ticket remembers what it posted.
  EXPECT_EQ(delivery.ticket->postedObject(), playlist);
}

// The fake's store behind insert, list, update and delete, as the account code uses them.
TEST_F(ServiceRequest, EditsThroughTheFakeStore) {
  seedPlaylists(0);
  api_.seedFromFixture("playlistItems", googletest::fixtureText("playlistItems-1.json"));
  api_.seedFromFixture("subscriptions", googletest::fixtureText("subscriptions-1.json"));
  auto run = [&](const ns::Ref<ApiQuery>& query) {
    auto delivery = std::make_shared<Delivery>();
    EXPECT_TRUE(service_->executeQuery_completionHandler(query, delivery->handler()));
    waitFor(*delivery);
    return delivery;
  };

  // A new item in a playlist of its own is listed by that playlist.
  auto item = ApiObject::objectWithJSON<ApiYouTubePlaylistItem>(ApiJSONParser::objectWithString_error(
      R"({"snippet":{"playlistId":"PLmine","resourceId":{"kind":"youtube#video","videoId":"v1"}}})",
      nullptr));
  auto inserted = run(ApiQueryYouTube::queryForPlaylistItemsInsertWithObject_part(item, "snippet"));
  ASSERT_TRUE(inserted->objectAs<ApiYouTubePlaylistItem>());
  auto byPlaylist = ApiQueryYouTube::queryForPlaylistItemsListWithPart("snippet");
  byPlaylist->setPlaylistId("PLmine");
  auto listed = run(byPlaylist);
  EXPECT_EQ(itemIds(listed->object),
            std::vector<std::string>{*inserted->objectAs<ApiYouTubePlaylistItem>()->identifier()});

  // An update replaces the stored playlist.
  auto playlist = ApiObject::objectWithJSON<ApiYouTubePlaylist>(
      ApiJSONParser::objectWithString_error(*api_.item("playlists", api_.itemIds("playlists")[1]), nullptr));
  playlist->snippet()->setTitle("Renamed");
  auto updated = run(ApiQueryYouTube::queryForPlaylistsUpdateWithObject_part(playlist, "snippet"));
  ASSERT_TRUE(updated->objectAs<ApiYouTubePlaylist>());
  EXPECT_NE(api_.item("playlists", *playlist->identifier())->find("Renamed"), std::string::npos);

  // A deleted subscription is gone; an unknown one is the API's 404.
  std::size_t subscriptions = api_.itemCount("subscriptions");
  auto removed =
      run(ApiQueryYouTube::queryForSubscriptionsDeleteWithIdentifier(api_.itemIds("subscriptions")[0]));
  EXPECT_FALSE(removed->error);
  EXPECT_EQ(api_.itemCount("subscriptions"), subscriptions - 1);
  auto unknown = run(ApiQueryYouTube::queryForSubscriptionsDeleteWithIdentifier("nope"));
  ASSERT_TRUE(unknown->error);
  EXPECT_EQ(unknown->error->code(), 404);
}

TEST_F(ServiceRequest, ETagHeadersByMethod) {
  struct Case {
    std::optional<std::string> method;
    std::string etag;
    std::optional<std::string> ifNoneMatch;
    std::optional<std::string> ifMatch;
  };
  std::vector<Case> cases{
      {std::nullopt, "\"e\"", "\"e\"", std::nullopt}, {"get", "\"e\"", "\"e\"", std::nullopt},
      {"PUT", "\"e\"", std::nullopt, "\"e\""},        {"delete", "\"e\"", std::nullopt, "\"e\""},
      {"PATCH", "\"e\"", std::nullopt, "\"e\""},      {"PUT", "W/\"e\"", std::nullopt, std::nullopt},
      {"POST", "\"e\"", std::nullopt, std::nullopt},
  };
  auto url = ns::URL::URLWithString("https://www.googleapis.com/youtube/v3/playlists");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method.value_or("(none)") + " " + c.etag);
    auto request = service_->requestForURL_ETag_httpMethod(url, c.etag, c.method);
    EXPECT_EQ(request->valueForHTTPHeaderField("If-None-Match"), c.ifNoneMatch);
    EXPECT_EQ(request->valueForHTTPHeaderField("If-Match"), c.ifMatch);
    EXPECT_EQ(request->timeoutInterval(), 60.0);
    EXPECT_EQ(request->cachePolicy(), ns::URLRequestReloadIgnoringLocalCacheData);
  }
}

TEST_F(ServiceRequest, UserAgentForms) {
  service_->setUserAgent("My App/1.2");
  service_->setUserAgentAddition("extra/3");
  auto agent = service_->requestUserAgent();
  EXPECT_EQ(agent.rfind("My_App1.2 google-api-objc-client/2.0 Linux/", 0), 0u) << agent;
  EXPECT_TRUE(ns::str::hasSuffix(agent, " extra/3 (gzip)")) << agent;
  // A base that already names the library is sent as it is.
  service_->setExactUserAgent("Tool google-api-objc-client/9");
  EXPECT_EQ(service_->requestUserAgent(), "Tool google-api-objc-client/9");
}

TEST_F(ServiceRequest, URLParametersAndHeadersOfQueryAndService) {
  seedPlaylists(0);
  service_->setAdditionalHTTPHeaders(
      {{ns::Value("X-Service"), ns::Value("s")}, {ns::Value("X-Both"), ns::Value("service")}});
  auto query = playlistsQuery();
  query->setUrlQueryParameters({{ns::Value("b"), ns::Value("2")}, {ns::Value("A"), ns::Value("1")}});
  query->setAdditionalHTTPHeaders({{ns::Value("X-Both"), ns::Value("query")}});
  Delivery delivery;
  ASSERT_TRUE(execute(query, delivery));
  ASSERT_EQ(api_.postCount(), 1u);
  auto post = api_.posts()[0];
  EXPECT_EQ(post.target, "/rpc?prettyPrint=false&A=1&b=2");
  EXPECT_EQ(post.header("X-Service"), "s");
  EXPECT_EQ(post.header("X-Both"), "query");
}

// Calls that cannot start answer no ticket, send nothing and call nothing.
TEST_F(ServiceRequest, CallsThatCannotStart) {
  auto unserialisable = ApiObject::objectWithJSON<ApiYouTubePlaylist>(
      ApiJSONParser::objectWithString_error(R"({"snippet":{"title":"x"}})", nullptr));
  // A date is no JSON value: the body cannot be written.
  unserialisable->setJSONValue_forKey(ns::Value(ns::Date::dateWithTimeIntervalSince1970(0)), "when");
  auto upload = ApiQueryYouTube::queryForThumbnailsSetWithVideoId_uploadParameters(
      "v1", ApiUploadParameters::uploadParametersWithData_MIMEType(ns::Data("img"), "image/jpeg"));
  auto duplicate = ApiQueryYouTube::queryForVideosListWithPart("id");
  auto restURL = ns::URL::URLWithString("https://www.googleapis.com/youtube/v3/playlists");

  int callbacks = 0;
  auto count = [&](const auto&, const auto&, const auto&) { ++callbacks; };
  struct Case {
    const char* name;
    std::function<ns::Ref<ApiServiceTicket>()> start;
  };
  std::vector<Case> cases{
      {"no query", [&] { return service_->executeQuery_completionHandler(nullptr, count); }},
      {"empty method name",
       [&] {
         return service_->fetchObjectWithMethodNamed_parameters_objectClass_completionHandler("", {}, nullptr,
                                                                                              count);
       }},
      {"unserialisable body",
       [&] {
         return service_->executeQuery_completionHandler(
             ApiQueryYouTube::queryForPlaylistsUpdateWithObject_part(unserialisable, "snippet"), count);
       }},
      {"unserialisable REST body",
       [&] {
         return service_->fetchObjectByUpdatingObject_forURL_completionHandler(unserialisable, restURL,
                                                                               count);
       }},
      {"upload without an upload fetcher",
       [&] { return service_->executeQuery_completionHandler(upload, count); }},
      {"empty batch",
       [&] { return service_->executeQuery_completionHandler(ApiBatchQuery::batchQuery(), count); }},
      {"duplicate request IDs",
       [&] {
         return service_->executeQuery_completionHandler(
             ApiBatchQuery::batchQueryWithQueries({duplicate, duplicate->copy()}), count);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.start());
  }
  drainRunLoop();
  EXPECT_EQ(callbacks, 0);
  EXPECT_EQ(api_.server().requestCount(), 0u);
}

// The REST entries: the key in the URL, JSON bodies, ETags as conditions.
TEST_F(ServiceRequest, RESTRequests) {
  std::string stored = R"({"kind":"youtube#playlist","etag":"\"v7\"","id":"PL1","snippet":{"title":"Old"}})";
  api_.server().route("*", "/youtube/v3/playlists.*", [&](const pltest::FakeRequest& r) {
    if (r.method == "DELETE") return pltest::FakeReply::text(204, "");
    if (r.method == "PUT") return pltest::FakeReply::json(200, r.body);
    return pltest::FakeReply::json(200, stored);
  });
  service_->setAPIKey("k");
  auto url = ns::URL::URLWithString("https://www.googleapis.com/youtube/v3/playlists?id=PL1");

  Delivery got;
  ASSERT_TRUE(service_->fetchObjectWithURL_completionHandler(url, got.handler()));
  waitFor(got);
  auto playlist = got.objectAs<ApiYouTubePlaylist>();
  ASSERT_TRUE(playlist);
  EXPECT_TRUE(got.ticket->isREST());

  playlist->snippet()->setTitle("New");
  Delivery put;
  ASSERT_TRUE(service_->fetchObjectByUpdatingObject_forURL_completionHandler(playlist, url, put.handler()));
  waitFor(put);
  ASSERT_TRUE(put.objectAs<ApiYouTubePlaylist>());
  EXPECT_EQ(put.objectAs<ApiYouTubePlaylist>()->snippet()->title(), "New");

  Delivery deleted;
  ASSERT_TRUE(service_->deleteResourceURL_ETag_completionHandler(url, "\"v8\"", deleted.handler()));
  waitFor(deleted);
  EXPECT_FALSE(deleted.object);
  EXPECT_FALSE(deleted.error);

  auto requests = api_.server().requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/youtube/v3/playlists?id=PL1&key=k");
  EXPECT_EQ(requests[0].header("Accept"), "application/json");
  EXPECT_EQ(requests[1].method, "PUT");
  EXPECT_EQ(requests[1].header("If-Match"), "\"v7\"");
  EXPECT_EQ(requests[1].header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_NE(requests[1].body.find("\"New\""), std::string::npos);
  EXPECT_EQ(requests[2].method, "DELETE");
  EXPECT_EQ(requests[2].header("If-Match"), "\"v8\"");
}

}  // namespace
