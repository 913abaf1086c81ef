#pragma once
// Network reachability: whether a host name or address can be reached, and a callback on the
// scheduled run loop (or dispatch queue) whenever that changes.
//
// Reachable means that a route to the target goes through an interface that is up; a host name
// is judged by the default route (no name is looked up), as is the unspecified address (0.0.0.0,
// ::), which stands for it; "localhost" and loopback addresses are
// always reachable and local. Changes are noticed through a netlink route socket; tests inject a
// route-state source instead.
//
//   auto target = sc::NetworkReachability::createWithName("www.example.test");
//   target->setCallback([](const auto& t, sc::ReachabilityFlags flags) { ... });
//   target->scheduleWithRunLoop(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace ns {
class RunLoop;
}
namespace dispatch {
class Queue;
}

namespace sc {

using ReachabilityFlags = std::uint32_t;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsReachable = 1u << 1;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 1u << 17;
inline constexpr ReachabilityFlags kSCNetworkReachabilityFlagsIsWWAN = 1u << 18;

// What a target names: a host name, or an address (numeric text, IPv4 or IPv6).
struct ReachabilityTarget {
  std::optional<std::string> hostName;
  std::optional<std::string> address;
};

// Where reachability comes from. Change handlers may be called on any thread.
class RouteStateSource {
 public:
  virtual ~RouteStateSource() = default;
  virtual ReachabilityFlags flagsForTarget(const ReachabilityTarget& target) = 0;
  using HandlerId = unsigned long;
  virtual HandlerId addChangeHandler(std::function<void()> handler) = 0;
  virtual void removeChangeHandler(HandlerId id) = 0;
};

// The system's routes: flags from the routing table (through a datagram socket's route lookup,
// which sends nothing), changes from a netlink route socket read by one thread that is joined at
// exit.
ns::Ref<RouteStateSource> systemRouteStateSource();

class NetworkReachability : public ns::Object {
 public:
  using Callback = std::function<void(const ns::Ref<NetworkReachability>&, ReachabilityFlags)>;

  // nullptr for an empty name.
  static ns::Ref<NetworkReachability> createWithName(const std::string& hostName);
  // nullptr for an address that is not IPv4 or IPv6.
  static ns::Ref<NetworkReachability> createWithAddress(const sockaddr* address);
  static ns::Ref<NetworkReachability> createWithAddressString(const std::string& numericAddress);

  // The process-wide source new targets use; nullptr restores the system's.
  static void setDefaultRouteStateSource(ns::Ref<RouteStateSource> source);
  void setRouteStateSource(ns::Ref<RouteStateSource> source);

  bool getFlags(ReachabilityFlags* flags) const;
  // A null callback stops the reports.
  bool setCallback(Callback callback);
  // Changes are reported on every run loop and mode it is scheduled in.
  bool scheduleWithRunLoop(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode);
  bool unscheduleFromRunLoop(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode);
  // Reports on the queue instead; null stops.
  bool setDispatchQueue(const ns::Ref<dispatch::Queue>& queue);

  const ReachabilityTarget& target() const { return target_; }
  std::string className() const override { return "SCNetworkReachability"; }

  explicit NetworkReachability(ReachabilityTarget target);
  ~NetworkReachability() override;

 private:
  void sourceChanged();
  void updateSubscription();

  ReachabilityTarget target_;
  mutable std::mutex mutex_;
  ns::Ref<RouteStateSource> source_;
  RouteStateSource::HandlerId handler_ = 0;
  bool subscribed_ = false;
  Callback callback_;
  std::vector<std::pair<ns::Ref<ns::RunLoop>, std::string>> schedules_;
  ns::Ref<dispatch::Queue> queue_;
  std::optional<ReachabilityFlags> lastFlags_;
};

}  // namespace sc
