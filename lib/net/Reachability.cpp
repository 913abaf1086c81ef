#include "lib/net/Reachability.h"

#include <netinet/in.h>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"

Reachability::Reachability(ns::Ref<sc::NetworkReachability> target) : target_(std::move(target)) {}

Reachability::~Reachability() {
  stopNotifier();
}

ns::Ref<Reachability> Reachability::reachabilityForInternetConnection() {
  // The zero address stands for the default route.
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  auto target = sc::NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&zero));
  return target ? ns::make<Reachability>(target) : nullptr;
}

NetworkStatus Reachability::networkStatusForFlags(sc::ReachabilityFlags flags) {
  if (!(flags & sc::kSCNetworkReachabilityFlagsReachable)) return NotReachable;
  bool required = flags & sc::kSCNetworkReachabilityFlagsConnectionRequired;
  // A connection that comes up by itself on demand or on traffic counts, unless the user must act.
  bool automatic = (flags & (sc::kSCNetworkReachabilityFlagsConnectionOnDemand |
                             sc::kSCNetworkReachabilityFlagsConnectionOnTraffic)) &&
                   !(flags & sc::kSCNetworkReachabilityFlagsInterventionRequired);
  if (required && !automatic) return NotReachable;
  return (flags & sc::kSCNetworkReachabilityFlagsIsWWAN) ? ReachableViaWWAN : ReachableViaWiFi;
}

NetworkStatus Reachability::currentReachabilityStatus() const {
  sc::ReachabilityFlags flags = 0;
  if (!target_->getFlags(&flags)) return NotReachable;
  return networkStatusForFlags(flags);
}

bool Reachability::startNotifier() {
  ns::Weak<Reachability> weak = weakSelf<Reachability>();
  target_->setCallback([weak](const ns::Ref<sc::NetworkReachability>&, sc::ReachabilityFlags) {
    if (auto self = weak.lock())
      ns::NotificationCenter::defaultCenter()->postNotificationName_object(kReachabilityChangedNotification,
                                                                           self);
  });
  return target_->setDispatchQueue(dispatch::mainQueue());
}

void Reachability::stopNotifier() {
  target_->setDispatchQueue(nullptr);
  target_->setCallback(nullptr);
}
