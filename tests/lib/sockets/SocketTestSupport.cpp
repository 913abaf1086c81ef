#include "tests/lib/sockets/SocketTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sockettest {

ns::Ref<dispatch::Queue> RecordingDelegate::newSocketQueueForConnectionFromAddress_onSocket(
    const ns::Data&, const ns::Ref<DispatchSocket>&) {
  return childSocketQueue ? childSocketQueue() : nullptr;
}

bool RecordingDelegate::socket_didReceiveTrust_completionHandler(
    const ns::Ref<DispatchSocket>& sock, const ns::Ref<sec::Trust>& trust,
    std::function<void(bool)> completionHandler) {
  if (!onTrust)
    return DispatchSocketDelegate::socket_didReceiveTrust_completionHandler(sock, trust, completionHandler);
  record(Event(Event::Trust, sock.get()));
  onTrust(trust, completionHandler);
  return true;
}

void RecordingDelegate::socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>& sock,
                                                  const ns::Ref<DispatchSocket>& child) {
  {
    std::lock_guard lock(mutex_);
    children_.push_back(child);
  }
  if (onAccept) onAccept(sock, child);
  record(Event(Event::Accept, sock.get()));
}

void RecordingDelegate::socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data,
                                                   long tag) {
  if (onRead) onRead(sock, data, tag);
  record(Event(Event::Read, sock.get(), data.toString(), tag));
}

double RecordingDelegate::socket_shouldTimeoutReadWithTag_elapsed_bytesDone(
    const ns::Ref<DispatchSocket>& sock, long tag, double elapsed, std::uint64_t length) {
  double answer = nextExtension(readExtensions, readQuestions_);
  record(Event(Event::ReadTimeout, sock.get(), "", tag, length, elapsed));
  return answer;
}

double RecordingDelegate::socket_shouldTimeoutWriteWithTag_elapsed_bytesDone(
    const ns::Ref<DispatchSocket>& sock, long tag, double elapsed, std::uint64_t length) {
  double answer = nextExtension(writeExtensions, writeQuestions_);
  record(Event(Event::WriteTimeout, sock.get(), "", tag, length, elapsed));
  return answer;
}

void RecordingDelegate::socketDidDisconnect_withError(const ns::Ref<DispatchSocket>& sock,
                                                      const std::optional<ns::Error>& err) {
  Event event(Event::Disconnect, sock.get());
  event.error = err;
  record(std::move(event));
}

double RecordingDelegate::nextExtension(const std::vector<double>& answers, std::size_t& asked) {
  std::lock_guard lock(mutex_);
  double answer = asked < answers.size() ? answers[asked] : 0;
  ++asked;
  return answer;
}

std::vector<ns::Ref<DispatchSocket>> RecordingDelegate::children() {
  std::lock_guard lock(mutex_);
  return children_;
}

ns::Ref<DispatchSocket> RecordingDelegate::waitForChild(double seconds) {
  if (!waitForCount(Event::Accept, 1, seconds)) return nullptr;
  std::lock_guard lock(mutex_);
  return children_.empty() ? nullptr : children_.front();
}

void RecordingDelegate::releaseChildren() {
  std::vector<ns::Ref<DispatchSocket>> released;
  {
    std::lock_guard lock(mutex_);
    released.swap(children_);
  }
}

ns::Ref<dispatch::Queue> makeQueue(const char* label) {
  return dispatch::queueCreate(label);
}

void connectPair(AcceptedPair& p, const char* label, int clientReceiveBuffer,
                 std::function<void(const ns::Ref<DispatchSocket>&)> onAccept) {
  p.delegate = ns::make<RecordingDelegate>(makeQueue(label));
  if (onAccept) {
    p.delegate->onAccept = [onAccept](const ns::Ref<DispatchSocket>&, const ns::Ref<DispatchSocket>& child) {
      onAccept(child);
    };
  }
  p.listener = listenOnLoopback(p.delegate);
  ASSERT_TRUE(p.client.connectTo(p.listener->localPort(), false, clientReceiveBuffer));
  p.child = p.delegate->waitForChild();
  ASSERT_TRUE(p.child);
}

ns::Ref<DispatchSocket> listenOnLoopback(const ns::Ref<RecordingDelegate>& delegate) {
  auto listener = ns::make<DispatchSocket>(delegate, delegate->queue());
  ns::Error error("", 0);
  EXPECT_TRUE(listener->acceptOnInterface_port_error("127.0.0.1", 0, &error)) << error.localizedDescription();
  return listener;
}

bool ipv6LoopbackAvailable() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == -1) return false;
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_addr = in6addr_loopback;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::set<int> openDescriptors() {
  // Sockets only: runtimes (a sanitizer, for one) open files of their own at any time.
  std::set<int> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target.string().rfind("socket:", 0) == 0) {
      descriptors.insert(std::stoi(entry.path().filename().string()));
    }
  }
  return descriptors;
}

std::size_t descriptorsOpenedSince(const std::set<int>& before) {
  std::size_t count = 0;
  for (int fd : openDescriptors()) count += before.count(fd) == 0;
  return count;
}

ReusedPortHolders::ReusedPortHolders(std::size_t wanted, std::size_t spare) {
  // A soft descriptor limit below the hard one is raised: the holders need many.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  ::getrlimit(RLIMIT_NOFILE, &limit);
  std::size_t room = limit.rlim_cur > spare + 64 ? limit.rlim_cur - spare - 64 : 0;
  for (std::size_t i = 0; i < wanted && i < room; ++i) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == -1) break;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(fd);
      break;
    }
    fds_.push_back(fd);
    ports_.insert(ntohs(address.sin_port));
  }
}

ReusedPortHolders::~ReusedPortHolders() {
  for (int fd : fds_) ::close(fd);
}

}  // namespace sockettest
