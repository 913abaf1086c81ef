// Reachability of the internet through the route-state fake.
#include <gtest/gtest.h>

#include <vector>

#include "lib/net/Reachability.h"
#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/FakeRouteState.h"
#include "tests/lib/net/OperationTestSupport.h"

namespace {

// Makes new reachability targets read the fake while it lives.
struct FakeRoutes {
  std::shared_ptr<pltest::FakeRouteState> routes =
      std::make_shared<pltest::FakeRouteState>(sc::kSCNetworkReachabilityFlagsReachable);
  FakeRoutes() { sc::NetworkReachability::setDefaultRouteStateSource(routes); }
  ~FakeRoutes() { sc::NetworkReachability::setDefaultRouteStateSource(nullptr); }
};

}  // namespace

TEST(Reachability, NotifierPostsOnTheMainQueueAtEveryChange) {
  FakeRoutes fake;
  auto reach = Reachability::reachabilityForInternetConnection();
  ASSERT_TRUE(reach);
  EXPECT_NE(reach->currentReachabilityStatus(), NotReachable);

  struct Post {
    bool onMain;
    NetworkStatus status;
  };
  std::vector<Post> posts;
  auto center = ns::NotificationCenter::defaultCenter();
  auto token = center->addObserverForName_object_queue_usingBlock(
      kReachabilityChangedNotification, reach, nullptr, [&](const ns::Ref<ns::Notification>& note) {
        auto sender = std::dynamic_pointer_cast<Reachability>(note->object());
        ASSERT_TRUE(sender);
        posts.push_back({ns::Thread::isMainThread(), sender->currentReachabilityStatus()});
      });
  ASSERT_TRUE(reach->startNotifier());

  fake.routes->setFlags(0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return posts.size() == 1; }));
  EXPECT_EQ(reach->currentReachabilityStatus(), NotReachable);
  fake.routes->setFlags(sc::kSCNetworkReachabilityFlagsReachable);
  ASSERT_TRUE(pltest::pumpUntil([&] { return posts.size() == 2; }));
  EXPECT_NE(reach->currentReachabilityStatus(), NotReachable);
  // A notice that changes nothing posts nothing.
  fake.routes->notifyChange();
  nettest::drainMainQueue();

  ASSERT_EQ(posts.size(), 2u);
  EXPECT_TRUE(posts[0].onMain);
  EXPECT_TRUE(posts[1].onMain);
  EXPECT_EQ(posts[0].status, NotReachable);
  EXPECT_NE(posts[1].status, NotReachable);

  reach->stopNotifier();
  fake.routes->setFlags(0);
  nettest::drainMainQueue();
  EXPECT_EQ(posts.size(), 2u) << "stopped";
  center->removeObserver(token.get());
}

TEST(Reachability, StatusFromFlags) {
  using namespace sc;
  struct Case {
    ReachabilityFlags flags;
    NetworkStatus status;
  } cases[] = {
      {0, NotReachable},
      {kSCNetworkReachabilityFlagsReachable, ReachableViaWiFi},
      {kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN, ReachableViaWWAN},
      {kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsConnectionRequired, NotReachable},
      {kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsConnectionRequired |
           kSCNetworkReachabilityFlagsConnectionOnTraffic,
       ReachableViaWiFi},
      {kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsConnectionRequired |
           kSCNetworkReachabilityFlagsConnectionOnDemand | kSCNetworkReachabilityFlagsInterventionRequired,
       NotReachable},
      {kSCNetworkReachabilityFlagsConnectionRequired, NotReachable},
  };
  for (const auto& c : cases) EXPECT_EQ(Reachability::networkStatusForFlags(c.flags), c.status) << c.flags;
}
