// Batches: one POST of several calls, the reply matched back to each member.
#include "lib/google/ApiErrorObject.h"
#include "lib/google/NetHTTPFetcherConstants.h"
#include "platform/testing/ErrorMatch.h"
#include "tests/lib/google/ServiceTestSupport.h"

using namespace servicetest;
using testsupport::FakeDataAPI;

namespace {

// What one member's block received.
struct MemberDelivery {
  int count = 0;
  ns::Ref<ApiObject> object;
  std::optional<ns::Error> error;
};

void recordInto(const ns::Ref<ApiQuery>& query, MemberDelivery& delivery) {
  query->setCompletionBlock([&delivery](const auto&, const ns::Ref<ApiObject>& object, const auto& error) {
    ++delivery.count;
    delivery.object = object;
    delivery.error = error;
  });
}

class ServiceBatch : public ServiceTest {
 protected:
  ServiceBatch() {
    seedPlaylists(0);
    api_.seedFromFixture("videos", googletest::fixtureText("videos-1.json"));
  }

  // A videos list and a playlists list, each recording into its delivery.
  ns::Ref<ApiBatchQuery> twoLists() {
    auto videos = ApiQueryYouTube::queryForVideosListWithPart("snippet");
    videos->setIdentifier(api_.itemIds("videos").front());
    recordInto(videos, videosDelivery_);
    auto playlists = playlistsQuery();
    recordInto(playlists, playlistsDelivery_);
    return ApiBatchQuery::batchQueryWithQueries({videos, playlists});
  }

  MemberDelivery videosDelivery_;
  MemberDelivery playlistsDelivery_;
};

TEST_F(ServiceBatch, TwoListsInOnePost) {
  auto batch = twoLists();
  Delivery delivery;
  ASSERT_TRUE(execute(batch, delivery));

  ASSERT_EQ(api_.postCount(), 1u);
  auto post = api_.posts()[0];
  EXPECT_EQ(post.target, "/rpc?prettyPrint=false");
  EXPECT_EQ(post.body.front(), '[');
  auto calls = api_.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].inBatch);
  EXPECT_EQ(calls[0].method, "youtube.videos.list");
  EXPECT_EQ(calls[0].id, batch->queries()[0]->requestID());
  EXPECT_EQ(calls[1].method, "youtube.playlists.list");
  EXPECT_EQ(calls[1].id, batch->queries()[1]->requestID());
  EXPECT_EQ(calls[1].apiVersion, "v3");
  EXPECT_EQ(calls[0].post, calls[1].post);

  EXPECT_EQ(delivery.count, 1);
  EXPECT_FALSE(delivery.error);
  auto result = delivery.objectAs<ApiBatchResult>();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->successes().count(), 2u);
  EXPECT_EQ(result->failures().count(), 0u);

  EXPECT_EQ(videosDelivery_.count, 1);
  auto videos = std::dynamic_pointer_cast<ApiYouTubeVideoListResponse>(videosDelivery_.object);
  ASSERT_TRUE(videos);
  EXPECT_EQ(itemIds(videos), std::vector<std::string>{api_.itemIds("videos").front()});
  EXPECT_EQ(playlistsDelivery_.count, 1);
  auto playlists = std::dynamic_pointer_cast<ApiYouTubePlaylistListResponse>(playlistsDelivery_.object);
  ASSERT_TRUE(playlists);
  EXPECT_EQ(itemIds(playlists), api_.itemIds("playlists"));
  // Each member's block was released when the call ended.
  EXPECT_FALSE(batch->queries()[0]->completionBlock());
}

// One member's answer differs; the other gets its list all the same.
TEST_F(ServiceBatch, MemberAnswers) {
  struct Case {
    const char* name;
    FakeDataAPI::Script script;
    std::function<void(const MemberDelivery&, const ns::Ref<ApiBatchResult>&, const std::string& id)> check;
  };
  std::vector<Case> cases{
      {"an error element goes to failures and to the member's block",
       FakeDataAPI::Script(FakeDataAPI::Answer::OnlyError, 200, 404, 1),
       [](const MemberDelivery& member, const ns::Ref<ApiBatchResult>& result, const std::string& id) {
         auto failure = result->failures()[ns::Value(id)].objectAs<ApiErrorObject>();
         ASSERT_TRUE(failure);
         EXPECT_FALSE(result->successes().contains(ns::Value(id)));
         ASSERT_TRUE(member.error);
         EXPECT_TRUE(member.error->isEqual(failure->foundationError()));
         EXPECT_EQ(member.error->domain(), ApiJSONRPCErrorDomain);
         EXPECT_EQ(member.error->code(), 404);
         EXPECT_FALSE(member.object);
       }},
      {"a member whose result is a bare string fails with code 0",
       FakeDataAPI::Script(FakeDataAPI::Answer::BareResult, 200, 0, 1, std::string(R"("ok")")),
       [](const MemberDelivery& member, const ns::Ref<ApiBatchResult>& result, const std::string& id) {
         EXPECT_TRUE(result->failures()[ns::Value(id)].objectAs<ApiErrorObject>());
         EXPECT_FALSE(result->successes().contains(ns::Value(id)));
         ASSERT_TRUE(pltest::isError(member.error, ApiJSONRPCErrorDomain, 0));
         EXPECT_FALSE(member.object);
       }},
      {"a member missing from the reply gets -3000",
       FakeDataAPI::Script(FakeDataAPI::Answer::NeitherMember, 200, 0, 1),
       [](const MemberDelivery& member, const ns::Ref<ApiBatchResult>& result, const std::string& id) {
         EXPECT_FALSE(result->successes().contains(ns::Value(id)));
         EXPECT_FALSE(result->failures().contains(ns::Value(id)));
         ASSERT_TRUE(
             pltest::isError(member.error, ApiServiceErrorDomain, kApiServiceErrorMissingBatchResult));
         EXPECT_FALSE(member.object);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    videosDelivery_ = {};
    playlistsDelivery_ = {};
    api_.script("youtube.videos.list", c.script);
    auto batch = twoLists();
    Delivery delivery;
    ASSERT_TRUE(execute(batch, delivery));
    auto result = delivery.objectAs<ApiBatchResult>();
    ASSERT_TRUE(result);
    EXPECT_FALSE(delivery.error);
    EXPECT_EQ(videosDelivery_.count, 1);
    c.check(videosDelivery_, result, batch->queries()[0]->requestID());
    EXPECT_EQ(playlistsDelivery_.count, 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<ApiYouTubePlaylistListResponse>(playlistsDelivery_.object));
  }
}

TEST_F(ServiceBatch, MemberWithAnEmptyResultGetsNoObject) {
  std::string id = api_.itemIds("playlists").front();
  auto remove = ApiQueryYouTube::queryForPlaylistsDeleteWithIdentifier(id);
  MemberDelivery removed;
  recordInto(remove, removed);
  auto list = playlistsQuery();
  MemberDelivery listed;
  recordInto(list, listed);
  Delivery delivery;
  ASSERT_TRUE(service_->executeQuery_completionHandler(ApiBatchQuery::batchQueryWithQueries({remove, list}),
                                                       delivery.handler()));
  waitFor(delivery);
  auto result = delivery.objectAs<ApiBatchResult>();
  ASSERT_TRUE(result);
  // The result keeps the null marker for the member; its block gets no object and no error.
  EXPECT_TRUE(result->successes()[ns::Value(remove->requestID())].isNull());
  EXPECT_EQ(removed.count, 1);
  EXPECT_FALSE(removed.object);
  EXPECT_FALSE(removed.error);
  EXPECT_FALSE(api_.item("playlists", id));
  EXPECT_EQ(listed.count, 1);
  EXPECT_EQ(itemIds(listed.object).size(), 4u);
}

TEST_F(ServiceBatch, AFailedRequestFailsEveryMember) {
  Delivery delivery;
  // The whole POST fails at the HTTP level (routes added later are tried first).
  api_.server().route("POST", "/rpc", [](const pltest::FakeRequest&) {
    return pltest::FakeReply::text(502, "<html>Bad gateway</html>", "text/html");
  });
  ASSERT_TRUE(execute(twoLists(), delivery));
  ASSERT_TRUE(pltest::isError(delivery.error, NetHTTPStatusErrorDomain, 502));
  for (const MemberDelivery* member : {&videosDelivery_, &playlistsDelivery_}) {
    EXPECT_EQ(member->count, 1);
    ASSERT_TRUE(member->error);
    EXPECT_EQ(member->error->code(), 502);
  }
}

// With paging on, the members that page go on in smaller batches and their pages are joined.
TEST_F(ServiceBatch, PagedMembersAreJoined) {
  api_.seedGenerated("playlists", 115, "PLGEN");
  service_->setShouldFetchNextPages(true);
  std::vector<std::string> comments;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(kNetHTTPFetcherStoppedNotification), nullptr, nullptr,
      [&](const ns::Ref<ns::Notification>& note) {
        if (auto fetcher = std::dynamic_pointer_cast<NetHTTPFetcher>(note->object()))
          comments.push_back(fetcher->comment().value_or(""));
      });
  auto batch = twoLists();
  Delivery delivery;
  ASSERT_TRUE(execute(batch, delivery));
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());

  std::vector<std::size_t> callsPerPost(3, 0);
  for (const auto& call : api_.calls()) ++callsPerPost.at(call.post);
  EXPECT_EQ(callsPerPost, (std::vector<std::size_t>{2, 1, 1}));
  EXPECT_EQ(comments, (std::vector<std::string>{
                          "batch: youtube.videos.list, youtube.playlists.list (2 queries)",
                          "batch: youtube.playlists.list (page 2, 1 queries)",
                          "batch: youtube.playlists.list (page 3, 1 queries)",
                      }));
  EXPECT_EQ(playlistsDelivery_.count, 1);
  EXPECT_EQ(itemIds(playlistsDelivery_.object), api_.itemIds("playlists"));
  EXPECT_EQ(videosDelivery_.count, 1);
  EXPECT_EQ(itemIds(videosDelivery_.object).size(), 1u);
  auto result = delivery.objectAs<ApiBatchResult>();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->successes().count(), 2u);
  EXPECT_EQ(delivery.ticket->pagesFetchedCounter(), 2u);
}

TEST_F(ServiceBatch, DuplicateRequestIDsSendNothing) {
  auto query = ApiQueryYouTube::queryForVideosListWithPart("id");
  int callbacks = 0;
  auto ticket =
      service_->executeQuery_completionHandler(ApiBatchQuery::batchQueryWithQueries({query, query->copy()}),
                                               [&](const auto&, const auto&, const auto&) { ++callbacks; });
  EXPECT_FALSE(ticket);
  drainRunLoop();
  EXPECT_EQ(callbacks, 0);
  EXPECT_EQ(api_.server().requestCount(), 0u);
}

TEST_F(ServiceBatch, LookupAndCopies) {
  auto first = ApiQueryYouTube::queryForVideosListWithPart("id");
  auto batch = ApiBatchQuery::batchQueryWithQueries({first});
  EXPECT_EQ(batch->queryForRequestID(first->requestID()), first);
  EXPECT_FALSE(batch->queryForRequestID("api_none"));
  auto later = playlistsQuery();
  batch->addQuery(later);
  EXPECT_EQ(batch->queryForRequestID(later->requestID()), later);

  batch->setUrlQueryParameters({{ns::Value("alt"), ns::Value("json")}});
  batch->setShouldSkipAuthorization(true);
  auto copy = batch->copy();
  EXPECT_TRUE(copy->urlQueryParameters().empty());
  EXPECT_TRUE(copy->shouldSkipAuthorization());
  ASSERT_EQ(copy->queries().size(), 2u);
  EXPECT_NE(copy->queries()[0], first);
  EXPECT_EQ(copy->queries()[0]->requestID(), first->requestID());
  EXPECT_NE(batch->description().find("(queries:2 methods:youtube.videos.list,youtube.playlists.list)"),
            std::string::npos)
      << batch->description();

  // The executing service reads the URL parameters from the caller's batch.
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(batch, delivery.handler());
  ASSERT_TRUE(ticket);
  EXPECT_EQ(ticket->queryForRequestID(later->requestID()), later);
  waitFor(delivery);
  EXPECT_EQ(api_.posts().at(0).target, "/rpc?prettyPrint=false&alt=json");
  // A single query's ticket has no members.
  Delivery single;
  auto singleTicket = service_->executeQuery_completionHandler(playlistsQuery(), single.handler());
  ASSERT_TRUE(singleTicket);
  EXPECT_FALSE(singleTicket->queryForRequestID(later->requestID()));
  waitFor(single);
}

}  // namespace
