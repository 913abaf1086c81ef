#pragma once
// Whether the internet can be reached: watches the default route through
// sc::NetworkReachability. startNotifier() makes the object post
// kReachabilityChangedNotification (object: the Reachability) on the main queue at every change.
//
//   auto reach = Reachability::reachabilityForInternetConnection();
//   if (reach->currentReachabilityStatus() == NotReachable) ...
//   reach->startNotifier();
#include "platform/core/Object.h"
#include "platform/net/NetworkReachability.h"

inline constexpr char kReachabilityChangedNotification[] = "ReachabilityChangedNotification";

enum NetworkStatus : long {
  NotReachable = 0,
  ReachableViaWiFi = 2,
  ReachableViaWWAN = 1,
};

class Reachability : public ns::Object {
 public:
  explicit Reachability(ns::Ref<sc::NetworkReachability> target);
  ~Reachability() override;

  static ns::Ref<Reachability> reachabilityForInternetConnection();

  // 0 when the network is not reachable, non-zero otherwise.
  NetworkStatus currentReachabilityStatus() const;
  static NetworkStatus networkStatusForFlags(sc::ReachabilityFlags flags);

  bool startNotifier();
  void stopNotifier();

  std::string className() const override { return "Reachability"; }

 private:
  ns::Ref<sc::NetworkReachability> target_;
};
