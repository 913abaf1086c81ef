// What the service makes of the replies: paging, errors, the threads of the parse and of the
// callbacks, cancelling, waiting, and the ticket's own copies of the settings.
#include "lib/google/ApiErrorObject.h"
#include "lib/google/NetHTTPFetcherConstants.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/ErrorMatch.h"
#include "platform/testing/Monitor.h"
#include "tests/lib/google/ServiceTestSupport.h"

using namespace servicetest;
using testsupport::FakeDataAPI;

// A list class that notes the thread it is made on: the top-level object of a reply is made
// by the parse.
class ThreadNotingPlaylistList : public ApiYouTubePlaylistListResponse {
 public:
  ThreadNotingPlaylistList() { madeOn = std::this_thread::get_id(); }
  static inline std::thread::id madeOn;
};
PL_CLASS(ThreadNotingPlaylistList, ApiYouTubePlaylistListResponse) {}

// A query that logs the end of its execution into a shared list of events.
class EventQuery : public ApiQueryYouTube {
 public:
  void executionDidStop() override {
    if (events) events->push_back("executionDidStop");
    ApiQueryYouTube::executionDidStop();
  }
  static inline std::vector<std::string>* events = nullptr;
};
PL_CLASS(EventQuery, ApiQueryYouTube) {}

namespace {

class EventDelegate : public ns::Object {
 public:
  explicit EventDelegate(std::vector<std::string>& events) : events_(events) {}
  void serviceTicket_finishedWithObject_error(const ns::Ref<ApiServiceTicket>&, const ns::Ref<ApiObject>&,
                                              const std::optional<ns::Error>&) {
    events_.push_back("selector");
  }
  static ApiService::FinishedSelector selector() {
    return ApiService::FinishedSelector::of("serviceTicket:finishedWithObject:error:",
                                            &EventDelegate::serviceTicket_finishedWithObject_error);
  }

 private:
  std::vector<std::string>& events_;
};

class ServiceReply : public ServiceTest {};

// ---- paging ----

TEST_F(ServiceReply, PagingJoinsThreePagesOnOneTicket) {
  seedPlaylists(115);
  service_->setShouldFetchNextPages(true);
  // The comment of each page's fetcher, read when it stops.
  std::vector<std::string> comments;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(kNetHTTPFetcherStoppedNotification), nullptr, nullptr,
      [&](const ns::Ref<ns::Notification>& note) {
        if (auto fetcher = std::dynamic_pointer_cast<NetHTTPFetcher>(note->object()))
          comments.push_back(fetcher->comment().value_or(""));
      });
  auto query = playlistsQuery(50);
  Delivery delivery;
  ASSERT_TRUE(execute(query, delivery));
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());

  EXPECT_EQ(delivery.count, 1);
  EXPECT_TRUE(delivery.onMainThread);
  EXPECT_FALSE(delivery.error);
  auto calls = api_.calls();
  ASSERT_EQ(calls.size(), 3u);
  std::vector<ns::Value> tokens;
  for (const auto& call : calls) {
    EXPECT_EQ(call.id, query->requestID()) << "every page keeps the first page's ID";
    tokens.push_back(call.params.dictionary()[ns::Value("pageToken")]);
  }
  EXPECT_EQ(tokens, (std::vector<ns::Value>{ns::Value(), ns::Value(FakeDataAPI::pageTokenForOffset(50)),
                                            ns::Value(FakeDataAPI::pageTokenForOffset(100))}));
  EXPECT_EQ(comments, (std::vector<std::string>{"youtube.playlists.list", "youtube.playlists.list (page 2)",
                                                "youtube.playlists.list (page 3)"}));
  auto list = delivery.objectAs<ApiYouTubePlaylistListResponse>();
  ASSERT_TRUE(list);
  EXPECT_EQ(itemIds(list), api_.itemIds("playlists"));
  EXPECT_EQ(list->items().size(), 120u);
  EXPECT_FALSE(list->nextPageToken());
  EXPECT_EQ(delivery.ticket->pagesFetchedCounter(), 2u);
  // The caller's query is untouched: no page token, its block kept.
  EXPECT_FALSE(query->pageToken());
}

TEST_F(ServiceReply, PagingSwitchedOffOnTheTicketGivesOnePage) {
  seedPlaylists(115);
  service_->setShouldFetchNextPages(true);
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(50), delivery.handler());
  ASSERT_TRUE(ticket);
  ticket->setShouldFetchNextPages(false);
  waitFor(delivery);
  EXPECT_EQ(api_.postCount(), 1u);
  auto list = delivery.objectAs<ApiYouTubePlaylistListResponse>();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->items().size(), 50u);
  EXPECT_EQ(list->nextPageToken(), FakeDataAPI::pageTokenForOffset(50));
  EXPECT_EQ(ticket->pagesFetchedCounter(), 0u);
}

TEST_F(ServiceReply, PagingStopsAfterTwentySevenPages) {
  seedPlaylists(145);  // 150 playlists, 30 pages of 5
  service_->setShouldFetchNextPages(true);
  Delivery delivery;
  ASSERT_TRUE(execute(playlistsQuery(5), delivery));
  EXPECT_EQ(api_.postCount(), 27u);
  auto list = delivery.objectAs<ApiYouTubePlaylistListResponse>();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->items().size(), 135u);
  EXPECT_EQ(list->nextPageToken(), FakeDataAPI::pageTokenForOffset(135));
  EXPECT_EQ(delivery.ticket->pagesFetchedCounter(), 26u);
}

TEST_F(ServiceReply, ANullOrEmptyNextPageTokenEndsThePaging) {
  seedPlaylists(0);
  service_->setShouldFetchNextPages(true);
  for (const char* token : {"null", R"("")"}) {
    SCOPED_TRACE(token);
    std::string reply =
        std::string(R"({"kind":"youtube#playlistListResponse","nextPageToken":)") + token +
        R"(,"items":[{"kind":"youtube#playlist","id":"PL1"},{"kind":"youtube#playlist","id":"PL2"}]})";
    api_.script("youtube.playlists.list",
                FakeDataAPI::Script(FakeDataAPI::Answer::BareResult, 200, 0, -1, reply));
    std::size_t before = api_.postCount();
    Delivery delivery;
    ASSERT_TRUE(execute(playlistsQuery(), delivery));
    api_.clearScripts();
    EXPECT_FALSE(delivery.error);
    // Asked again with that token, the page would come back and be joined once per request.
    EXPECT_EQ(api_.postCount() - before, 1u);
    EXPECT_EQ(itemIds(delivery.object), (std::vector<std::string>{"PL1", "PL2"}));
  }
}

TEST_F(ServiceReply, AnErrorOnALaterPageDropsTheJoinedPages) {
  seedPlaylists(115);
  service_->setShouldFetchNextPages(true);
  Delivery delivery;
  ASSERT_TRUE(service_->executeQuery_completionHandler(playlistsQuery(50), delivery.handler()));
  // The first page is answered (its call is recorded under the lock that answers it); then the
  // method fails.
  ASSERT_TRUE(pltest::pumpUntil([&] { return api_.calls().size() == 1; }));
  api_.script("youtube.playlists.list", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 500, 500));
  waitFor(delivery);
  EXPECT_EQ(delivery.count, 1);
  EXPECT_FALSE(delivery.object);
  ASSERT_TRUE(delivery.error);
  EXPECT_EQ(delivery.error->code(), 500);
  EXPECT_FALSE(delivery.ticket->fetchedObject());
}

// ---- errors: each reaches the callback exactly once ----

TEST_F(ServiceReply, ErrorReplies) {
  seedPlaylists(0);
  struct Case {
    const char* name;
    FakeDataAPI::Script script;
    std::string domain;
    long code;
    std::optional<std::string> failureReason;
  };
  std::string quota = googletest::fixtureText("error-403.json");
  std::vector<Case> cases{
      {"403 with the API's JSON error",
       FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, -1, quota), ApiJSONRPCErrorDomain, 403,
       std::nullopt},
      {"403 with an HTML page",
       FakeDataAPI::Script(FakeDataAPI::Answer::HTMLError, 403, 0, -1,
                           std::string("<html>Forbidden here</html>")),
       NetHTTPStatusErrorDomain, 403, std::string("<html>Forbidden here</html>")},
      {"200 holding only an error", FakeDataAPI::Script(FakeDataAPI::Answer::OnlyError, 200, 404),
       ApiJSONRPCErrorDomain, 404, std::nullopt},
      {"200 holding neither member", FakeDataAPI::Script(FakeDataAPI::Answer::NeitherMember, 200, 0),
       ApiJSONRPCErrorDomain, 0, std::nullopt},
      {"200 HTML page of a captive portal", FakeDataAPI::Script(FakeDataAPI::Answer::HTMLPage, 200, 0),
       ApiJSONRPCErrorDomain, 0, std::nullopt},
      {"200 with no body for a list", FakeDataAPI::Script(FakeDataAPI::Answer::EmptyBody, 200, 0),
       ApiJSONRPCErrorDomain, 0, std::nullopt},
      {"malformed JSON", FakeDataAPI::Script(FakeDataAPI::Answer::MalformedJSON, 200, 0),
       "NSCocoaErrorDomain", 3840, std::nullopt},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.script.times = 1;
    api_.script("youtube.playlists.list", c.script);
    Delivery delivery;
    ASSERT_TRUE(execute(playlistsQuery(), delivery));
    EXPECT_EQ(delivery.count, 1);
    EXPECT_FALSE(delivery.object);
    ASSERT_TRUE(pltest::isError(delivery.error, c.domain, c.code));
    if (c.failureReason) {
      EXPECT_EQ(delivery.error->localizedFailureReason(), c.failureReason);
    }
    EXPECT_EQ(delivery.ticket->fetchError()->code(), c.code);
    EXPECT_TRUE(delivery.ticket->hasCalledCallback());
  }
  // The quota error keeps the API's own error object.
  api_.script("youtube.playlists.list",
              FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 0, 1, quota));
  Delivery delivery;
  ASSERT_TRUE(execute(playlistsQuery(), delivery));
  ASSERT_TRUE(delivery.error);
  auto errorObject = ApiErrorObject::underlyingObjectForError(*delivery.error);
  ASSERT_TRUE(errorObject);
  EXPECT_NE(errorObject->message().value_or("").find("quota"), std::string::npos);
}

TEST_F(ServiceReply, AResultThatIsNoObjectFailsACallThatExpectsOne) {
  seedPlaylists(0);
  for (const char* bare : {R"("ok")", "42", "true"}) {
    SCOPED_TRACE(bare);
    api_.script("youtube.playlists.list",
                FakeDataAPI::Script(FakeDataAPI::Answer::BareResult, 200, 0, 1, std::string(bare)));
    Delivery delivery;
    ASSERT_TRUE(execute(playlistsQuery(), delivery));
    EXPECT_EQ(delivery.count, 1);
    EXPECT_FALSE(delivery.object);
    // Not an empty answer: a caller that replaces its rows with the reply's items keeps them.
    ASSERT_TRUE(pltest::isError(delivery.error, ApiJSONRPCErrorDomain, 0));
  }
  // A null result is still an empty object of the expected class.
  api_.script("youtube.playlists.list",
              FakeDataAPI::Script(FakeDataAPI::Answer::BareResult, 200, 0, 1, std::string("null")));
  Delivery delivery;
  ASSERT_TRUE(execute(playlistsQuery(), delivery));
  EXPECT_FALSE(delivery.error);
  EXPECT_TRUE(delivery.objectAs<ApiYouTubePlaylistListResponse>());
}

TEST_F(ServiceReply, DeleteWithAnEmptyResultGivesNeitherObjectNorError) {
  seedPlaylists(0);
  std::string id = api_.itemIds("playlists").front();
  Delivery delivery;
  ASSERT_TRUE(execute(ApiQueryYouTube::queryForPlaylistsDeleteWithIdentifier(id), delivery));
  EXPECT_EQ(delivery.count, 1);
  EXPECT_FALSE(delivery.object);
  EXPECT_FALSE(delivery.error);
  EXPECT_FALSE(api_.item("playlists", id));
  // Deleting it again is the API's 404.
  Delivery again;
  ASSERT_TRUE(execute(ApiQueryYouTube::queryForPlaylistsDeleteWithIdentifier(id), again));
  ASSERT_TRUE(pltest::isError(again.error, ApiJSONRPCErrorDomain, 404));
}

TEST_F(ServiceReply, KeyAndTokenRequirementsOfTheFake) {
  seedPlaylists(0);
  api_.requireAPIKey("k");
  api_.requireBearerToken("t", "youtube.subscriptions.list");
  struct Case {
    std::optional<std::string> key;
    std::string method;
    long code;
  };
  for (const auto& c : std::vector<Case>{{std::nullopt, "youtube.playlists.list", 403},
                                         {"wrong", "youtube.playlists.list", 400},
                                         {"k", "youtube.playlists.list", 0},
                                         {"k", "youtube.subscriptions.list", 401}}) {
    SCOPED_TRACE(c.method + " " + c.key.value_or("(no key)"));
    service_->setAPIKey(c.key);
    auto query = ApiQueryYouTube::queryWithMethodName(c.method);
    query->setPart("snippet");
    query->setExpectedObjectClass(ApiYouTubeModelClassNamed("ApiYouTubePlaylistListResponse"));
    Delivery delivery;
    ASSERT_TRUE(execute(query, delivery));
    EXPECT_EQ(delivery.error ? delivery.error->code() : 0, c.code);
  }
}

// ---- threads ----

TEST_F(ServiceReply, ParseRunsOffTheCallingThreadAndCallbacksComeBackInOrder) {
  seedPlaylists(0);
  service_->setSurrogates(ApiMakeSurrogates({{ApiYouTubeModelClassNamed("ApiYouTubePlaylistListResponse"),
                                              ApiClassOf<ThreadNotingPlaylistList>()}}));
  NotificationLog notes(
      {kApiServiceTicketParsingStartedNotification, kApiServiceTicketParsingStoppedNotification});
  std::vector<std::string> events;
  EventQuery::events = &events;
  auto query = ApiQuery::queryWithMethodName<EventQuery>("youtube.playlists.list");
  query->setPart("snippet");
  query->setCompletionBlock([&](const auto&, const auto&, const auto&) { events.push_back("query block"); });
  auto delegate = ns::make<EventDelegate>(events);
  auto copy = query->copy();
  Delivery delivery;
  auto handler = delivery.handler();
  auto ticket =
      service_
          ->fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
              copy->methodName(), copy->expectedObjectClass(), copy->JSON(), nullptr, copy->requestID(), {},
              delegate, EventDelegate::selector(),
              [&](const auto& t, const auto& o, const auto& e) {
                events.push_back("completion block");
                handler(t, o, e);
              },
              copy, nullptr);
  ASSERT_TRUE(ticket);
  waitFor(delivery);
  EventQuery::events = nullptr;

  EXPECT_EQ(events,
            (std::vector<std::string>{"query block", "executionDidStop", "selector", "completion block"}));
  EXPECT_TRUE(delivery.onMainThread);
  ASSERT_TRUE(std::dynamic_pointer_cast<ThreadNotingPlaylistList>(delivery.object));
  EXPECT_NE(ThreadNotingPlaylistList::madeOn, std::this_thread::get_id());
  auto entries = notes.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, kApiServiceTicketParsingStartedNotification);
  EXPECT_EQ(entries[1].name, kApiServiceTicketParsingStoppedNotification);
  for (const auto& entry : entries) {
    EXPECT_EQ(entry.thread, std::this_thread::get_id());
    EXPECT_EQ(entry.object, ticket);
  }
  // The executing copy dropped its block; the caller's query keeps its own.
  EXPECT_FALSE(copy->completionBlock());
  EXPECT_TRUE(query->completionBlock());
}

TEST_F(ServiceReply, CallbacksComeOnASecondaryThreadThatMadeTheCall) {
  seedPlaylists(0);
  // The thread's fetches run on its own run loop.
  service_->setRunLoopModes({ns::DefaultRunLoopMode});
  auto thread = ns::Thread::detachNewThreadWithRunLoop("ServiceCaller");
  std::mutex mutex;
  std::thread::id callerThread;
  std::thread::id callbackThread;
  std::atomic<int> calls{0};
  auto service = service_;
  ns::Thread::performOnThread(thread,
                              {nullptr, "call", nullptr,
                               [&, service] {
                                 std::lock_guard lock(mutex);
                                 callerThread = std::this_thread::get_id();
                                 service->executeQuery_completionHandler(
                                     playlistsQuery(), [&](const auto&, const auto& object, const auto&) {
                                       std::lock_guard lock(mutex);
                                       if (object) callbackThread = std::this_thread::get_id();
                                       ++calls;
                                     });
                               }},
                              false);
  ASSERT_TRUE(pltest::pumpUntil([&] { return calls > 0; }, 30));
  thread->cancel();
  ASSERT_TRUE(thread->waitUntilFinished(10));
  std::lock_guard lock(mutex);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(callbackThread, callerThread);
  EXPECT_NE(callbackThread, std::this_thread::get_id());
}

TEST_F(ServiceReply, CallbacksGoToTheDelegateQueueWhenOneIsSet) {
  seedPlaylists(0);
  auto queue = ns::make<ns::OperationQueue>();
  service_->setDelegateQueue(queue);
  std::atomic<int> calls{0};
  std::atomic<bool> onMain{true};
  ns::Ref<ns::OperationQueue> current;
  std::mutex mutex;
  ASSERT_TRUE(service_->executeQuery_completionHandler(playlistsQuery(),
                                                       [&](const auto&, const auto& object, const auto&) {
                                                         std::lock_guard lock(mutex);
                                                         onMain = ns::Thread::isMainThread();
                                                         current = ns::OperationQueue::currentQueue();
                                                         if (object) ++calls;
                                                       }));
  ASSERT_TRUE(pltest::pumpUntil([&] { return calls > 0; }, 30));
  queue->waitUntilAllOperationsAreFinished();
  std::lock_guard lock(mutex);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(onMain);
  EXPECT_EQ(current, queue);
}

// ---- cancelling and waiting ----

TEST_F(ServiceReply, CancelledInFlightCallsNothingAndFreesTheService) {
  api_.script("youtube.playlists.list", FakeDataAPI::Script(FakeDataAPI::Answer::Stall, 200, 0));
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(), delivery.handler());
  ASSERT_TRUE(ticket);
  ASSERT_TRUE(pltest::pumpUntil([&] { return api_.calls().size() == 1; }));
  auto fetcher = ticket->objectFetcher();
  ASSERT_TRUE(pltest::pumpUntil([&] { return fetcher->statusCode() == 200; }));
  ticket->cancelTicket();
  api_.release();
  drainRunLoop();
  EXPECT_EQ(delivery.count, 0);
  EXPECT_FALSE(ticket->hasCalledCallback());
  EXPECT_FALSE(ticket->service());
  EXPECT_FALSE(fetcher->isFetching());

  ns::Weak<ApiServiceYouTube> weak = service_;
  service_.reset();
  ticket.reset();
  fetcher.reset();
  EXPECT_TRUE(pltest::pumpUntil([&] { return weak.expired(); }));
  EXPECT_EQ(delivery.count, 0);
}

TEST_F(ServiceReply, CancelledWhileParsingCallsNothing) {
  seedPlaylists(0);
  auto queue = ns::make<ns::OperationQueue>();
  queue->setMaxConcurrentOperationCount(1);
  service_->setParseQueue(queue);
  // Holds the only parse slot until released.
  pltest::Monitor monitor;
  bool blocking = false;  // guarded by monitor
  bool released = false;
  queue->addOperationWithBlock([&] {
    monitor.change([&] { blocking = true; });
    monitor.waitFor([&] { return released; }, std::chrono::hours(1));  // until released
  });
  ASSERT_TRUE(monitor.waitFor([&] { return blocking; }));
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(), delivery.handler());
  ASSERT_TRUE(ticket);
  ASSERT_TRUE(pltest::pumpUntil([&] { return ticket->parseOperation() != nullptr; }));
  auto parse = ticket->parseOperation();
  ticket->cancelTicket();
  EXPECT_TRUE(parse->isCancelled());
  monitor.change([&] { released = true; });
  queue->waitUntilAllOperationsAreFinished();
  drainRunLoop();
  EXPECT_EQ(delivery.count, 0);
  EXPECT_FALSE(ticket->hasCalledCallback());
}

TEST_F(ServiceReply, WaitForTicket) {
  seedPlaylists(0);
  api_.script("youtube.playlists.list", FakeDataAPI::Script(FakeDataAPI::Answer::Stall, 200, 0, 1));
  auto stalled = service_->executeQuery_completionHandler(playlistsQuery(), nullptr);
  ASSERT_TRUE(stalled);
  ns::Ref<ApiObject> object;
  ns::Error error;
  EXPECT_FALSE(service_->waitForTicket_timeout_fetchedObject_error(stalled, 0, &object, &error));
  EXPECT_TRUE(pltest::isError(error, ApiServiceErrorDomain, kApiServiceErrorWaitTimedOut));
  EXPECT_FALSE(object);
  // The stall uses up the script once it has arrived.
  ASSERT_TRUE(pltest::pumpUntil([&] { return api_.calls().size() == 1; }));
  stalled->cancelTicket();

  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(), nullptr);
  ASSERT_TRUE(ticket);
  ns::Error none;
  EXPECT_TRUE(service_->waitForTicket_timeout_fetchedObject_error(ticket, 10, &object, &none));
  ASSERT_TRUE(std::dynamic_pointer_cast<ApiYouTubePlaylistListResponse>(object));
  EXPECT_EQ(itemIds(object), api_.itemIds("playlists"));
}

// ---- the ticket's own copies ----

TEST_F(ServiceReply, TicketKeepsTheKeyItWasMadeWith) {
  seedPlaylists(0);
  service_->setAPIKey("first-key");
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(), delivery.handler());
  ASSERT_TRUE(ticket);
  service_->setAPIKey("second-key");
  EXPECT_NE(ticket->description().find(" devKey:first-key"), std::string::npos) << ticket->description();
  EXPECT_EQ(ticket->description().find("second-key"), std::string::npos);
  waitFor(delivery);
  // The request read the key when it was built.
  EXPECT_EQ(api_.calls()[0].params.dictionary()[ns::Value("key")], ns::Value("first-key"));
}

TEST_F(ServiceReply, RetryBlockOfAPagedTicketIsReleasedWhenPageTwoStarts) {
  seedPlaylists(115);
  service_->setShouldFetchNextPages(true);
  auto sentinel = std::make_shared<int>(0);
  ns::Weak<int> weakSentinel = sentinel;
  Delivery delivery;
  auto ticket = service_->executeQuery_completionHandler(playlistsQuery(50), delivery.handler());
  ASSERT_TRUE(ticket);
  ticket->setRetryBlock([sentinel](const auto&, bool retry, const auto&) { return retry; });
  sentinel.reset();
  // When the second page's reply arrives the block is already gone.
  std::vector<bool> heldAtParse;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(kApiServiceTicketParsingStartedNotification), ticket, nullptr,
      [&](const ns::Ref<ns::Notification>&) { heldAtParse.push_back(!weakSentinel.expired()); });
  waitFor(delivery);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  EXPECT_EQ(heldAtParse, (std::vector<bool>{true, false, false}));
  EXPECT_FALSE(ticket->retryBlock());
}

TEST_F(ServiceReply, RetryOnDeliversOnceAfterAServiceUnavailable) {
  seedPlaylists(0);
  pltest::VirtualClock clock;
  service_->setRetryEnabled(true);
  api_.script("youtube.playlists.list", FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 503, 503, 1));
  int retryDelays = 0;
  auto token = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      std::string(kNetHTTPFetcherRetryDelayStartedNotification), nullptr, nullptr,
      [&](const ns::Ref<ns::Notification>&) { ++retryDelays; });
  Delivery delivery;
  ASSERT_TRUE(service_->executeQuery_completionHandler(playlistsQuery(), delivery.handler()));
  ASSERT_TRUE(pltest::pumpUntil([&] { return retryDelays == 1; }));
  clock.advance(3);
  waitFor(delivery);
  ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
  EXPECT_EQ(delivery.count, 1);
  EXPECT_FALSE(delivery.error);
  EXPECT_TRUE(delivery.objectAs<ApiYouTubePlaylistListResponse>());
  EXPECT_EQ(api_.postCount(), 2u);
}

TEST_F(ServiceReply, ChangingTheQueryAfterExecutingLeavesTheCallAlone) {
  seedPlaylists(0);
  auto query = playlistsQuery(50);
  Delivery delivery;
  ASSERT_TRUE(service_->executeQuery_completionHandler(query, delivery.handler()));
  query->setMaxResults(7);
  query->setPart("id");
  waitFor(delivery);
  auto call = api_.calls().at(0);
  EXPECT_EQ(call.params.dictionary()[ns::Value("maxResults")].longLongValue(), 50);
  EXPECT_EQ(call.params.dictionary()[ns::Value("part")], ns::Value("snippet"));
  // Run again, the same query object is a new call with the same ID.
  Delivery again;
  ASSERT_TRUE(execute(query, again));
  auto second = api_.calls().at(1);
  EXPECT_EQ(second.id, call.id);
  EXPECT_EQ(second.params.dictionary()[ns::Value("maxResults")].longLongValue(), 7);
}

}  // namespace
