#include "platform/net/NetService.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/watch.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/runloop/RunLoop.h"

// The Avahi client's descriptors and time-outs, run by the run loop the service is scheduled in,
// so that the daemon's replies and the delegate callbacks arrive on that loop's thread.
struct AvahiWatch {
  ns::NetService::Impl* impl;
  ns::RunLoop::DescriptorId id;
  AvahiWatchEvent revents;
  AvahiWatchCallback callback;
  void* userdata;
};

// A time-out is a real-time timer descriptor: Avahi gives wall-clock deadlines for the bus's
// own replies, which no test clock should hold back.
struct AvahiTimeout {
  ns::NetService::Impl* impl;
  int fd;
  ns::RunLoop::DescriptorId id;
  AvahiTimeoutCallback callback;
  void* userdata;
};

namespace ns {

namespace {

// Avahi names types and domains without the trailing dot DNS-SD callers write.
std::string withoutTrailingDot(std::string text) {
  if (text.size() > 1 && text.back() == '.') text.pop_back();
  return text;
}

long errorCodeFor(int avahiError) {
  switch (avahiError) {
    case AVAHI_ERR_COLLISION:
      return NetServicesCollisionError;
    case AVAHI_ERR_INVALID_ARGUMENT:
    case AVAHI_ERR_INVALID_SERVICE_NAME:
    case AVAHI_ERR_INVALID_SERVICE_TYPE:
    case AVAHI_ERR_INVALID_DOMAIN_NAME:
    case AVAHI_ERR_INVALID_PORT:
    case AVAHI_ERR_INVALID_RECORD:
    case AVAHI_ERR_INVALID_FLAGS:
      return NetServicesBadArgumentError;
    default:
      return NetServicesUnknownError;
  }
}

Dictionary errorDictionary(long code) {
  return Dictionary{{NetServicesErrorCode, code},
                    {NetServicesErrorDomain, NetServicesErrorDomainNetServices}};
}

// Whether every length byte of the record stays inside it.
bool isTXTRecord(const Data& data) {
  std::size_t at = 0;
  while (at < data.length()) at += 1 + data[at];
  return at == data.length();
}

AvahiStringList* stringListOf(const std::optional<Data>& data) {
  AvahiStringList* list = nullptr;
  if (data && avahi_string_list_parse(data->bytes(), data->length(), &list) < 0) return nullptr;
  return list;
}

}  // namespace

struct NetService::Impl : std::enable_shared_from_this<NetService::Impl> {
  enum class Event { WillPublish, DidPublish, DidNotPublish, DidStop };

  struct Request {
    Weak<NetService> owner;
    Ref<RunLoop> loop;
    std::vector<std::string> modes;
    std::string domain, type, name;
    int port = 0;
    std::optional<Data> txt;
  };

  Weak<NetService> owner;
  Ref<RunLoop> loop;
  std::vector<std::string> modes;
  std::string domain, type;
  int port = 0;
  std::optional<Data> txt;
  AvahiPoll api{};
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  bool added = false;
  bool failed = false;
  // Raised by every publish and stop: callbacks queued for an earlier one are dropped.
  unsigned generation = 0;
  mutable std::mutex nameMutex;
  std::string name;

  Impl() {
    api.userdata = this;
    api.watch_new = watchNew;
    api.watch_update = [](AvahiWatch* w, AvahiWatchEvent event) {
      w->impl->loop->setDescriptorEvents(w->id, short(event));
    };
    api.watch_get_events = [](AvahiWatch* w) { return w->revents; };
    api.watch_free = [](AvahiWatch* w) {
      w->impl->loop->removeDescriptor(w->id);
      delete w;
    };
    api.timeout_new = timeoutNew;
    api.timeout_update = [](AvahiTimeout* t, const struct timeval* tv) { arm(t->fd, tv); };
    api.timeout_free = [](AvahiTimeout* t) {
      t->impl->loop->removeDescriptor(t->id);
      ::close(t->fd);
      delete t;
    };
  }

  static AvahiWatch* watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent event,
                              AvahiWatchCallback callback, void* userdata) {
    auto* impl = static_cast<Impl*>(api->userdata);
    auto* w = new AvahiWatch{impl, 0, AvahiWatchEvent(0), callback, userdata};
    w->id = impl->loop->addDescriptor(
        fd, short(event),
        [w](int descriptor, short revents) {
          w->revents = AvahiWatchEvent(revents);
          // The callback may free the watch: nothing touches it afterwards.
          w->callback(w, descriptor, AvahiWatchEvent(revents), w->userdata);
        },
        impl->modes);
    return w;
  }

  static void arm(int fd, const struct timeval* tv) {
    itimerspec when{};
    if (tv) {
      when.it_value.tv_sec = tv->tv_sec;
      when.it_value.tv_nsec = long(tv->tv_usec) * 1000;
      // An all-zero value would disarm the timer instead of firing at once.
      if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &when, nullptr);
  }

  static AvahiTimeout* timeoutNew(const AvahiPoll* api, const struct timeval* tv,
                                  AvahiTimeoutCallback callback, void* userdata) {
    auto* impl = static_cast<Impl*>(api->userdata);
    int fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return nullptr;
    auto* t = new AvahiTimeout{impl, fd, 0, callback, userdata};
    arm(fd, tv);
    t->id = impl->loop->addDescriptor(
        fd, POLLIN,
        [t](int descriptor, short) {
          std::uint64_t expirations = 0;
          if (::read(descriptor, &expirations, sizeof expirations) != sizeof expirations) return;
          t->callback(t, t->userdata);
        },
        impl->modes);
    return t;
  }

  std::string currentName() const {
    std::lock_guard lock(nameMutex);
    return name;
  }
  void setCurrentName(std::string value) {
    std::lock_guard lock(nameMutex);
    name = std::move(value);
  }

  // Delivers a delegate callback on a later pass of the loop, unless a publish or stop came first.
  void report(Event event, Dictionary errorDict = {}) {
    auto self = shared_from_this();
    const unsigned gen = generation;
    loop->performInModes_block(modes, [self, gen, event, errorDict] {
      if (self->generation != gen) return;
      auto service = self->owner.lock();
      auto delegate = service ? service->delegate() : nullptr;
      if (!delegate) return;
      switch (event) {
        case Event::WillPublish:
          delegate->netServiceWillPublish(service);
          break;
        case Event::DidPublish:
          delegate->netServiceDidPublish(service);
          break;
        case Event::DidNotPublish:
          delegate->netService_didNotPublish(service, errorDict);
          break;
        case Event::DidStop:
          delegate->netServiceDidStop(service);
          break;
      }
    });
  }

  void publish(Request request) {
    if (client) {
      // Reported on the loop it is publishing on.
      report(Event::DidNotPublish, errorDictionary(NetServicesActivityInProgress));
      return;
    }
    owner = request.owner;
    loop = request.loop;
    modes = request.modes;
    domain = withoutTrailingDot(request.domain);
    type = withoutTrailingDot(request.type);
    port = request.port;
    txt = request.txt;
    setCurrentName(request.name);
    ++generation;
    failed = false;
    added = false;
    report(Event::WillPublish);
    int error = 0;
    AvahiClient* made = avahi_client_new(&api, AvahiClientFlags(0), clientChanged, this, &error);
    if (!made) {
      // The client took its groups with it.
      group = nullptr;
      fail(error);
      return;
    }
    client = made;
  }

  void stop() {
    const bool active = client != nullptr;
    ++generation;
    teardown();
    if (active) report(Event::DidStop);
  }

  void teardown() {
    // Withdrawing the group takes the service off the network; the client goes with its bus
    // connection.
    if (group) avahi_entry_group_free(group);
    group = nullptr;
    if (client) avahi_client_free(client);
    client = nullptr;
    added = false;
  }

  void updateTXT(const std::optional<Data>& data) {
    txt = data;
    if (!group || !added) return;
    AvahiStringList* list = stringListOf(txt);
    int result = avahi_entry_group_update_service_txt_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                             AvahiPublishFlags(0), currentName().c_str(),
                                                             type.c_str(), domainOrNull(), list);
    avahi_string_list_free(list);
    if (result < 0) fail(result);
  }

  const char* domainOrNull() const { return domain.empty() ? nullptr : domain.c_str(); }

  // Called inside Avahi's callbacks, where the client may not be freed: the teardown runs on the
  // next pass, before the delegate hears of the failure (so that it may publish again).
  void fail(int avahiError) {
    if (failed) return;
    failed = true;
    auto self = shared_from_this();
    const unsigned gen = generation;
    loop->performInModes_block(modes, [self, gen] {
      if (self->generation == gen) self->teardown();
    });
    report(Event::DidNotPublish, errorDictionary(errorCodeFor(avahiError)));
  }

  // Adds the service under its current name, taking the daemon's alternative while the name is
  // already registered, and commits.
  void addService(AvahiClient* c) {
    if (!group) group = avahi_entry_group_new(c, groupChanged, this);
    if (!group) return fail(avahi_client_errno(c));
    if (currentName().empty()) {
      const char* host = avahi_client_get_host_name(c);
      setCurrentName(host ? host : "");
    }
    for (;;) {
      AvahiStringList* list = stringListOf(txt);
      int result = avahi_entry_group_add_service_strlst(
          group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), currentName().c_str(),
          type.c_str(), domainOrNull(), nullptr, std::uint16_t(port), list);
      avahi_string_list_free(list);
      if (result == AVAHI_ERR_COLLISION) {
        takeAlternativeName();
        continue;
      }
      if (result < 0) return fail(result);
      break;
    }
    added = true;
    int result = avahi_entry_group_commit(group);
    if (result < 0) fail(result);
  }

  void takeAlternativeName() {
    char* alternative = avahi_alternative_service_name(currentName().c_str());
    if (alternative) setCurrentName(alternative);
    avahi_free(alternative);
  }

  static void clientChanged(AvahiClient* c, AvahiClientState state, void* userdata) {
    auto* impl = static_cast<Impl*>(userdata);
    if (impl->failed) return;
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        // Also on a new host name, after the group was emptied below.
        if (!impl->group || avahi_entry_group_is_empty(impl->group)) impl->addService(c);
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The host is being renamed: the service goes again once it runs.
        if (impl->group) avahi_entry_group_reset(impl->group);
        impl->added = false;
        break;
      case AVAHI_CLIENT_FAILURE:
        impl->fail(avahi_client_errno(c));
        break;
      case AVAHI_CLIENT_CONNECTING:
        break;
    }
  }

  static void groupChanged(AvahiEntryGroup* g, AvahiEntryGroupState state, void* userdata) {
    auto* impl = static_cast<Impl*>(userdata);
    if (impl->failed) return;
    switch (state) {
      case AVAHI_ENTRY_GROUP_ESTABLISHED:
        impl->report(Event::DidPublish);
        break;
      case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host on the network holds the name.
        impl->takeAlternativeName();
        avahi_entry_group_reset(g);
        impl->added = false;
        impl->addService(avahi_entry_group_get_client(g));
        break;
      case AVAHI_ENTRY_GROUP_FAILURE:
        impl->fail(avahi_client_errno(avahi_entry_group_get_client(g)));
        break;
      case AVAHI_ENTRY_GROUP_UNCOMMITED:
      case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
  }
};

NetService::NetService(std::string domain, std::string type, std::string name, int port)
    : domain_(std::move(domain)),
      type_(std::move(type)),
      port_(port),
      givenName_(std::move(name)),
      impl_(std::make_shared<Impl>()) {
  impl_->setCurrentName(givenName_);
}

NetService::~NetService() {
  // Whatever is still registered goes on the loop's thread, where Avahi's objects live.
  auto loop = scheduledLoop();
  if (!loop) return;
  auto impl = impl_;
  auto withdraw = [impl] {
    ++impl->generation;
    impl->teardown();
  };
  if (loop == RunLoop::currentRunLoop())
    withdraw();
  else
    loop->performInModes_block(modes_, withdraw);
}

Ref<NetServiceDelegate> NetService::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void NetService::setDelegate(const Weak<NetServiceDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

void NetService::scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  if (!runLoop) return;
  std::lock_guard lock(mutex_);
  if (loop_.lock() != runLoop) {
    loop_ = runLoop;
    modes_.clear();
  }
  if (std::find(modes_.begin(), modes_.end(), mode) == modes_.end()) modes_.push_back(mode);
}

void NetService::removeFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode) {
  std::lock_guard lock(mutex_);
  if (!runLoop || loop_.lock() != runLoop) return;
  modes_.erase(std::remove(modes_.begin(), modes_.end(), mode), modes_.end());
  if (modes_.empty()) loop_.reset();
}

Ref<RunLoop> NetService::scheduledLoop() const {
  std::lock_guard lock(mutex_);
  return loop_.lock();
}

void NetService::onServiceThread(std::function<void()> work) {
  auto loop = scheduledLoop();
  if (!loop) return;
  if (loop == RunLoop::currentRunLoop()) return work();
  std::vector<std::string> modes;
  {
    std::lock_guard lock(mutex_);
    modes = modes_;
  }
  loop->performInModes_block(modes, std::move(work));
}

void NetService::publish() {
  auto me = self<NetService>();
  Impl::Request request;
  {
    std::lock_guard lock(mutex_);
    if (!loop_.lock()) {
      loop_ = RunLoop::currentRunLoop();
      modes_ = {DefaultRunLoopMode};
    }
    request = Impl::Request{me, loop_.lock(), modes_, domain_, type_, givenName_, port_, txtRecord_};
  }
  onServiceThread([me, request = std::move(request)]() mutable { me->impl_->publish(std::move(request)); });
}

void NetService::stop() {
  auto me = self<NetService>();
  onServiceThread([me] { me->impl_->stop(); });
}

std::string NetService::name() const {
  return impl_->currentName();
}

std::optional<Data> NetService::TXTRecordData() const {
  std::lock_guard lock(mutex_);
  return txtRecord_;
}

bool NetService::setTXTRecordData(const std::optional<Data>& data) {
  if (data && !isTXTRecord(*data)) return false;
  {
    std::lock_guard lock(mutex_);
    txtRecord_ = data;
  }
  auto me = self<NetService>();
  onServiceThread([me, data] { me->impl_->updateTXT(data); });
  return true;
}

std::optional<Data> NetService::dataFromTXTRecordDictionary(const Dictionary& dictionary) {
  std::string record;
  for (const auto& [key, value] : dictionary.entries()) {
    if (!key.isString() || key.string().empty() || key.string().find('=') != std::string::npos)
      return std::nullopt;
    std::string entry = key.string() + "=";
    if (value.isData())
      entry += value.data().toString();
    else if (value.isString())
      entry += value.string();
    else
      return std::nullopt;
    if (entry.size() > 255) return std::nullopt;
    record += char(entry.size());
    record += entry;
  }
  // An empty record is one empty string.
  if (record.empty()) record.push_back('\0');
  return Data(record);
}

Dictionary NetService::dictionaryFromTXTRecordData(const Data& data) {
  Dictionary result;
  std::size_t at = 0;
  while (at < data.length()) {
    const std::size_t length = data[at];
    if (at + 1 + length > data.length()) break;
    std::string_view entry = data.view().substr(at + 1, length);
    at += 1 + length;
    if (entry.empty()) continue;
    const auto equals = entry.find('=');
    std::string key(entry.substr(0, equals));
    // Only the first of two entries with one key counts.
    if (key.empty() || result.contains(key)) continue;
    result.set(key, equals == std::string_view::npos ? Data() : Data(entry.substr(equals + 1)));
  }
  return result;
}

}  // namespace ns
