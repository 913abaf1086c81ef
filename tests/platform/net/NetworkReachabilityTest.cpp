#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/net/NetworkReachability.h"
#include "platform/testing/FakeRouteState.h"
#include "platform/testing/Pump.h"

using namespace sc;

namespace {

struct Reports {
  std::vector<ReachabilityFlags> flags;
  std::vector<std::thread::id> threads;
};

}  // namespace

TEST(NetworkReachability, InjectedRouteStatePostsEachChangeOnTheRunLoop) {
  auto routes = std::make_shared<pltest::FakeRouteState>(0);
  auto target = NetworkReachability::createWithName("accounts.example.test");
  ASSERT_TRUE(target);
  target->setRouteStateSource(routes);
  auto reports = std::make_shared<Reports>();
  target->setCallback([reports](const ns::Ref<NetworkReachability>&, ReachabilityFlags flags) {
    reports->flags.push_back(flags);
    reports->threads.push_back(std::this_thread::get_id());
  });
  ReachabilityFlags flags = 99;
  ASSERT_TRUE(target->getFlags(&flags));
  EXPECT_EQ(flags, 0u);

  routes->setFlags(kSCNetworkReachabilityFlagsReachable);
  EXPECT_EQ(routes->handlerCount(), 0u) << "nothing is watched before scheduling";
  ASSERT_TRUE(target->scheduleWithRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode));

  // From another thread, as a route socket would.
  std::thread([&] { routes->setFlags(0); }).join();
  routes->notifyChange();  // no change for this target: no report
  routes->setFlags(kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsTransientConnection);
  EXPECT_TRUE(reports->flags.empty()) << "reports come on the run loop, not inside the change";
  ASSERT_TRUE(pltest::pumpUntil([&] { return reports->flags.size() == 2; }));
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(reports->flags,
            (std::vector<ReachabilityFlags>{
                0, kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsTransientConnection}));
  for (auto id : reports->threads) EXPECT_EQ(id, std::this_thread::get_id());

  // Another target's change is not this target's.
  routes->setFlagsForTarget("other.example.test", 0);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(reports->flags.size(), 2u);

  ASSERT_TRUE(target->unscheduleFromRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode));
  EXPECT_EQ(routes->handlerCount(), 0u);
  routes->setFlags(0);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(reports->flags.size(), 2u) << "unscheduled: no more reports";
}

TEST(NetworkReachability, DefaultSourceAndTheSystemRoutes) {
  auto routes = std::make_shared<pltest::FakeRouteState>(kSCNetworkReachabilityFlagsConnectionRequired);
  NetworkReachability::setDefaultRouteStateSource(routes);
  ReachabilityFlags flags = 0;
  NetworkReachability::createWithName("x.example.test")->getFlags(&flags);
  EXPECT_EQ(flags, kSCNetworkReachabilityFlagsConnectionRequired);
  NetworkReachability::setDefaultRouteStateSource(nullptr);

  // The machine always reaches itself.
  NetworkReachability::createWithName("localhost")->getFlags(&flags);
  EXPECT_TRUE(flags & kSCNetworkReachabilityFlagsReachable);
  EXPECT_TRUE(flags & kSCNetworkReachabilityFlagsIsLocalAddress);
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto byAddress = NetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&loopback));
  ASSERT_TRUE(byAddress);
  EXPECT_EQ(*byAddress->target().address, "127.0.0.1");
  byAddress->getFlags(&flags);
  EXPECT_TRUE(flags & kSCNetworkReachabilityFlagsIsDirect);

  // The zero address is the default route, judged as a name is (not as this host).
  ReachabilityFlags byName = 0, byZero = 0;
  NetworkReachability::createWithName("www.example.test")->getFlags(&byName);
  NetworkReachability::createWithAddressString("0.0.0.0")->getFlags(&byZero);
  EXPECT_EQ(byZero, byName);
  NetworkReachability::createWithAddressString("::")->getFlags(&byZero);
  EXPECT_EQ(byZero, byName);

  EXPECT_FALSE(NetworkReachability::createWithName(""));
  EXPECT_FALSE(NetworkReachability::createWithAddressString("not an address"));
  EXPECT_TRUE(NetworkReachability::createWithAddressString("::1"));
  sockaddr bogus{};
  bogus.sa_family = AF_UNIX;
  EXPECT_FALSE(NetworkReachability::createWithAddress(&bogus));

  // Watching the system's routes subscribes to its route socket and can stop again.
  auto watched = NetworkReachability::createWithName("www.example.test");
  watched->setCallback([](const ns::Ref<NetworkReachability>&, ReachabilityFlags) {});
  EXPECT_TRUE(watched->scheduleWithRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode));
  EXPECT_TRUE(watched->unscheduleFromRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode));
  EXPECT_FALSE(watched->unscheduleFromRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode));
}
