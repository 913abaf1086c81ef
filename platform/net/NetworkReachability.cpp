#include "platform/net/NetworkReachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <thread>

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/runloop/RunLoop.h"

namespace sc {

namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool parseAddress(const std::string& text, sockaddr_storage* out, socklen_t* length) {
  std::memset(out, 0, sizeof *out);
  auto* v4 = reinterpret_cast<sockaddr_in*>(out);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(9);
    *length = sizeof(sockaddr_in);
    return true;
  }
  std::string t = text;
  if (t.size() > 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  if (inet_pton(AF_INET6, t.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(9);
    *length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

bool isLoopback(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET)
    return (ntohl(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr) >> 24) == 127;
  if (a.ss_family == AF_INET6)
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr);
  return false;
}

bool isUnspecified(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET)
    return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr == htonl(INADDR_ANY);
  if (a.ss_family == AF_INET6)
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr);
  return false;
}

// Asks the kernel for a route by connecting a datagram socket (nothing is sent).
bool hasRoute(const sockaddr_storage& address, socklen_t length) {
  int fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

// A name is judged by the default route: an address outside every local network.
void defaultRouteProbe(sockaddr_storage* address, socklen_t* length) {
  parseAddress("192.0.2.1", address, length);
  if (!hasRoute(*address, *length)) parseAddress("2001:db8::1", address, length);
}

class SystemRouteStateSource : public RouteStateSource {
 public:
  SystemRouteStateSource() {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    netlink_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (netlink_ >= 0) {
      sockaddr_nl addr{};
      addr.nl_family = AF_NETLINK;
      addr.nl_groups =
          RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
      if (::bind(netlink_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(netlink_);
        netlink_ = -1;
      }
    }
    thread_ = std::thread([this] { run(); });
  }

  ~SystemRouteStateSource() override {
    stopping_ = true;
    std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
    if (netlink_ >= 0) ::close(netlink_);
    ::close(wake_);
  }

  ReachabilityFlags flagsForTarget(const ReachabilityTarget& target) override {
    sockaddr_storage address;
    socklen_t length = 0;
    if (target.address) {
      if (!parseAddress(*target.address, &address, &length)) return 0;
      // The unspecified address stands for the default route, as a name does; a route lookup for
      // it would always succeed (it means this host).
      if (isUnspecified(address)) defaultRouteProbe(&address, &length);
    } else {
      std::string name = lower(target.hostName.value_or(""));
      while (!name.empty() && name.back() == '.') name.pop_back();
      if (name == "localhost" || name.ends_with(".localhost")) {
        parseAddress("127.0.0.1", &address, &length);
      } else if (parseAddress(name, &address, &length)) {
        // numeric text given as a name
      } else {
        defaultRouteProbe(&address, &length);
      }
    }
    if (isLoopback(address))
      return kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsLocalAddress |
             kSCNetworkReachabilityFlagsIsDirect;
    return hasRoute(address, length) ? kSCNetworkReachabilityFlagsReachable : 0;
  }

  HandlerId addChangeHandler(std::function<void()> handler) override {
    std::lock_guard lock(mutex_);
    handlers_[++nextId_] = std::move(handler);
    return nextId_;
  }

  void removeChangeHandler(HandlerId id) override {
    std::lock_guard lock(mutex_);
    handlers_.erase(id);
  }

 private:
  void run() {
    char buffer[8192];
    while (!stopping_) {
      pollfd fds[2] = {{wake_, POLLIN, 0}, {netlink_, POLLIN, 0}};
      int n = ::poll(fds, netlink_ >= 0 ? 2 : 1, -1);
      if (n < 0) continue;
      if (stopping_) break;
      if (netlink_ >= 0 && (fds[1].revents & POLLIN)) {
        bool any = false;
        while (::recv(netlink_, buffer, sizeof buffer, 0) > 0) any = true;
        if (any) notify();
      }
    }
  }

  void notify() {
    std::vector<std::function<void()>> handlers;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, h] : handlers_) handlers.push_back(h);
    }
    for (auto& h : handlers) h();
  }

  int wake_ = -1;
  int netlink_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::map<HandlerId, std::function<void()>> handlers_;
  HandlerId nextId_ = 0;
};

// Never destroyed, like the system source below: reachability objects of other threads read them
// while the process exits.
struct DefaultSource {
  std::mutex mutex;
  ns::Ref<RouteStateSource> source;
};
DefaultSource& defaultState() {
  static ns::NoDestructor<DefaultSource> state;
  return *state;
}

ns::Ref<RouteStateSource> defaultSource() {
  DefaultSource& d = defaultState();
  std::lock_guard lock(d.mutex);
  return d.source ? d.source : systemRouteStateSource();
}

}  // namespace

ns::Ref<RouteStateSource> systemRouteStateSource() {
  static ns::NoDestructor<ns::Ref<RouteStateSource>> source(std::make_shared<SystemRouteStateSource>());
  return *source;
}

NetworkReachability::NetworkReachability(ReachabilityTarget target)
    : target_(std::move(target)), source_(defaultSource()) {}

NetworkReachability::~NetworkReachability() {
  if (subscribed_) source_->removeChangeHandler(handler_);
}

ns::Ref<NetworkReachability> NetworkReachability::createWithName(const std::string& hostName) {
  if (hostName.empty()) return nullptr;
  return ns::make<NetworkReachability>(ReachabilityTarget{hostName, std::nullopt});
}

ns::Ref<NetworkReachability> NetworkReachability::createWithAddressString(const std::string& numericAddress) {
  sockaddr_storage a;
  socklen_t length;
  if (!parseAddress(numericAddress, &a, &length)) return nullptr;
  return ns::make<NetworkReachability>(ReachabilityTarget{std::nullopt, numericAddress});
}

ns::Ref<NetworkReachability> NetworkReachability::createWithAddress(const sockaddr* address) {
  if (!address) return nullptr;
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  } else {
    return nullptr;
  }
  return ns::make<NetworkReachability>(ReachabilityTarget{std::nullopt, std::string(text)});
}

void NetworkReachability::setDefaultRouteStateSource(ns::Ref<RouteStateSource> source) {
  DefaultSource& d = defaultState();
  std::lock_guard lock(d.mutex);
  d.source = std::move(source);
}

void NetworkReachability::setRouteStateSource(ns::Ref<RouteStateSource> source) {
  ns::Ref<RouteStateSource> old;
  RouteStateSource::HandlerId oldId = 0;
  bool wasSubscribed;
  {
    std::lock_guard lock(mutex_);
    old = source_;
    oldId = handler_;
    wasSubscribed = subscribed_;
    subscribed_ = false;
    source_ = source ? std::move(source) : defaultSource();
    lastFlags_.reset();
  }
  if (wasSubscribed) old->removeChangeHandler(oldId);
  updateSubscription();
}

bool NetworkReachability::getFlags(ReachabilityFlags* flags) const {
  ns::Ref<RouteStateSource> source;
  {
    std::lock_guard lock(mutex_);
    source = source_;
  }
  if (flags) *flags = source->flagsForTarget(target_);
  return true;
}

bool NetworkReachability::setCallback(Callback callback) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(callback);
  return true;
}

bool NetworkReachability::scheduleWithRunLoop(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) {
  if (!runLoop) return false;
  {
    std::lock_guard lock(mutex_);
    for (const auto& s : schedules_)
      if (s.first == runLoop && s.second == mode) return true;
    schedules_.emplace_back(runLoop, mode);
  }
  updateSubscription();
  return true;
}

bool NetworkReachability::unscheduleFromRunLoop(const ns::Ref<ns::RunLoop>& runLoop,
                                                const std::string& mode) {
  {
    std::lock_guard lock(mutex_);
    auto before = schedules_.size();
    std::erase_if(schedules_, [&](const auto& s) { return s.first == runLoop && s.second == mode; });
    if (before == schedules_.size()) return false;
  }
  updateSubscription();
  return true;
}

bool NetworkReachability::setDispatchQueue(const ns::Ref<dispatch::Queue>& queue) {
  {
    std::lock_guard lock(mutex_);
    queue_ = queue;
  }
  updateSubscription();
  return true;
}

void NetworkReachability::updateSubscription() {
  std::unique_lock lock(mutex_);
  bool wanted = !schedules_.empty() || queue_;
  if (wanted == subscribed_) return;
  auto source = source_;
  if (wanted) {
    // The state when watching starts is the base that changes are measured against.
    subscribed_ = true;
    ns::Weak<NetworkReachability> weak = weakSelf<NetworkReachability>();
    lock.unlock();
    ReachabilityFlags now = source->flagsForTarget(target_);
    auto id = source->addChangeHandler([weak] {
      if (auto self = weak.lock()) self->sourceChanged();
    });
    lock.lock();
    handler_ = id;
    if (!lastFlags_) lastFlags_ = now;
  } else {
    subscribed_ = false;
    auto id = handler_;
    lock.unlock();
    source->removeChangeHandler(id);
  }
}

void NetworkReachability::sourceChanged() {
  ns::Ref<RouteStateSource> source;
  {
    std::lock_guard lock(mutex_);
    source = source_;
  }
  ReachabilityFlags flags = source->flagsForTarget(target_);
  std::vector<std::pair<ns::Ref<ns::RunLoop>, std::vector<std::string>>> loops;
  ns::Ref<dispatch::Queue> queue;
  {
    std::lock_guard lock(mutex_);
    if (lastFlags_ && *lastFlags_ == flags) return;
    lastFlags_ = flags;
    if (!callback_) return;
    for (const auto& schedule : schedules_) {
      const auto& loop = schedule.first;
      const auto& mode = schedule.second;
      auto it = std::find_if(loops.begin(), loops.end(), [&](const auto& l) { return l.first == loop; });
      if (it == loops.end())
        loops.emplace_back(loop, std::vector<std::string>{mode});
      else
        it->second.push_back(mode);
    }
    queue = queue_;
  }
  ns::Weak<NetworkReachability> weak = weakSelf<NetworkReachability>();
  auto report = [weak, flags] {
    auto self = weak.lock();
    if (!self) return;
    Callback callback;
    {
      std::lock_guard lock(self->mutex_);
      callback = self->callback_;
    }
    if (callback) callback(self, flags);
  };
  for (const auto& [loop, modes] : loops) loop->performInModes_block(modes, report);
  if (queue) dispatch::async(queue, report);
}

}  // namespace sc
