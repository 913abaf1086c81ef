#pragma once
// Helpers of the Data API service tests: the YouTube service talking to the fake Data API over
// HTTPS on loopback under the API's real host name, and a record of what a call delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lib/google/ApiBatchQuery.h"
#include "lib/google/ApiConstants.h"
#include "lib/google/ApiQueryYouTube.h"
#include "lib/google/ApiService.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/ApiYouTubeModels.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/lib/google/NotificationLog.h"
#include "tests/support/FakeDataAPI.h"

namespace servicetest {

// What one call delivered to its completion block.
struct Delivery {
  std::atomic<int> count{0};
  ns::Ref<ApiServiceTicket> ticket;
  ns::Ref<ApiObject> object;
  std::optional<ns::Error> error;
  std::thread::id thread;
  bool onMainThread = false;

  ApiService::CompletionHandler handler() {
    return [this](const ns::Ref<ApiServiceTicket>& t, const ns::Ref<ApiObject>& o,
                  const std::optional<ns::Error>& e) {
      ticket = t;
      object = o;
      error = e;
      thread = std::this_thread::get_id();
      onMainThread = ns::Thread::isMainThread();
      ++count;
    };
  }
  template <class T>
  ns::Ref<T> objectAs() const {
    return std::dynamic_pointer_cast<T>(object);
  }
};

// Runs the current run loop until a block queued now has run, so that anything already queued
// before it (a second callback, say) has run too.
inline void drainRunLoop() {
  ASSERT_TRUE(pltest::drainMode());
}

using googletest::NotificationLog;

// A sandbox, the fake Data API answering for the API host, and a YouTube service aimed at it.
class ServiceTest : public testing::Test {
 protected:
  ServiceTest() {
    sandbox_.set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api_.serveAsAPIHost();
    service_ = ns::make<ApiServiceYouTube>();
  }
  ~ServiceTest() override { api_.release(); }

  // The playlists of the real reply and `generated` more.
  void seedPlaylists(std::size_t generated) {
    api_.seedFromFixture("playlists", googletest::fixtureText("playlists-1.json"));
    if (generated) api_.seedGenerated("playlists", generated, "PLGEN");
  }

  static ns::Ref<ApiQueryYouTube> playlistsQuery(unsigned long long maxResults = 50) {
    auto query = ApiQueryYouTube::queryForPlaylistsListWithPart("snippet");
    query->setMine(true);
    query->setMaxResults(maxResults);
    return query;
  }

  // Waits for the delivery, then lets anything still queued run, so that a second callback
  // would be seen.
  void waitFor(Delivery& delivery) {
    ASSERT_TRUE(pltest::pumpUntil([&] { return delivery.count > 0; }, 30));
    drainRunLoop();
  }

  // Executes the query and waits for its delivery as above; answers the ticket.
  ns::Ref<ApiServiceTicket> execute(const ns::Ref<ns::Object>& query, Delivery& delivery) {
    auto ticket = service_->executeQuery_completionHandler(query, delivery.handler());
    EXPECT_TRUE(ticket) << "the call did not start";
    if (ticket) waitFor(delivery);
    return ticket;
  }

  static std::vector<std::string> itemIds(const ns::Ref<ApiObject>& list) {
    std::vector<std::string> ids;
    auto collection = std::dynamic_pointer_cast<ApiCollectionObject>(list);
    if (!collection) return ids;
    for (const ns::Value& item : collection->collectionItems())
      if (auto object = item.objectAs<ApiObject>())
        ids.push_back(object->JSONValueForKey("id").stringValue());
    return ids;
  }

  pltest::Sandbox sandbox_;
  testsupport::FakeDataAPI api_;
  ns::Ref<ApiServiceYouTube> service_;
};

}  // namespace servicetest
