// cf::Socket on real loopback sockets: one-shot and re-enabled call-backs, accepting,
// connecting, wrapping descriptors and run-loop modes.
#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/testing/Pump.h"
#include "platform/testing/TcpPair.h"

namespace {

constexpr double kWait = 20;

ns::Data loopback4(std::uint16_t port) {
  sockaddr_in a = pltest::loopbackAddress(port);
  return ns::Data(&a, sizeof a);
}

std::uint16_t portOf(const ns::Data& address) {
  return ntohs(reinterpret_cast<const sockaddr_in*>(address.bytes())->sin_port);
}

// A plain blocking descriptor the test drives directly.
struct Fd {
  explicit Fd(int fd) : fd(fd) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

void sendDatagram(std::uint16_t port, const std::string& text) {
  Fd s(::socket(AF_INET, SOCK_DGRAM, 0));
  ns::Data to = loopback4(port);
  ASSERT_EQ(::sendto(s.fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(to.bytes()),
                     static_cast<socklen_t>(to.length())),
            static_cast<ssize_t>(text.size()));
}

// Records every call-back it gets; optionally consumes datagrams.
struct Recorder {
  std::vector<cf::Socket::Event> events;
  bool consume = false;
  cf::Socket::CallOut callout() {
    return [this](const ns::Ref<cf::Socket>& s, const cf::Socket::Event& e, const ns::Ref<ns::Object>&) {
      events.push_back(e);
      if (consume && e.type == cf::Socket::ReadCallBack) {
        char buf[64];
        ::recv(s->getNative(), buf, sizeof buf, MSG_DONTWAIT);
      }
    };
  }
  int count(cf::Socket::CallBackType type) const {
    int n = 0;
    for (auto& e : events) n += e.type == type;
    return n;
  }
};

// A bound UDP socket that reads its datagrams: the "something else happened" marker that
// proves a later pass ran without the socket under test firing.
struct Sentinel {
  Sentinel(const std::string& mode = ns::DefaultRunLoopMode) {
    rec.consume = true;
    sock = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP, cf::Socket::ReadCallBack,
                                        rec.callout(), owner);
    EXPECT_EQ(sock->setAddress(loopback4(0)), cf::Socket::Success);
    sock->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), mode);
  }
  // Sends one datagram to itself and pumps `mode` until it has been seen.
  bool ping(const std::string& mode = ns::DefaultRunLoopMode) {
    int before = rec.count(cf::Socket::ReadCallBack);
    sendDatagram(portOf(sock->copyAddress()), "sentinel");
    return pltest::pumpUntil([&] { return rec.count(cf::Socket::ReadCallBack) > before; }, kWait, mode);
  }
  ns::Ref<ns::Object> owner = ns::make<ns::Object>();
  Recorder rec;
  ns::Ref<cf::Socket> sock;
};

TEST(CFSocketTest, ReadCallBackFiresOncePerEnableUnlessReEnabledAutomatically) {
  struct Case {
    unsigned flags;
    bool consume;
    bool enableBetween;
    int expectedAfterSecondDatagram;
  };
  const Case cases[] = {
      // One-shot: nothing more until enableCallBacks, then the still-pending datagram fires again.
      {cf::Socket::CloseOnInvalidate, false, false, 1},
      {cf::Socket::CloseOnInvalidate, false, true, 2},
      // Automatic re-enabling: every datagram fires.
      {cf::Socket::AutomaticallyReenableReadCallBack | cf::Socket::CloseOnInvalidate, true, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flags " << c.flags << " enable " << c.enableBetween);
    Sentinel sentinel;
    Recorder rec;
    rec.consume = c.consume;
    auto owner = ns::make<ns::Object>();
    auto sock = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP, cf::Socket::ReadCallBack,
                                             rec.callout(), owner);
    ASSERT_TRUE(sock);
    sock->setSocketFlags(c.flags);
    ASSERT_EQ(sock->setAddress(loopback4(0)), cf::Socket::Success);
    sock->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    const std::uint16_t port = portOf(sock->copyAddress());

    sendDatagram(port, "one");
    ASSERT_TRUE(pltest::pumpUntil([&] { return rec.count(cf::Socket::ReadCallBack) == 1; }, kWait));
    sendDatagram(port, "two");
    if (c.enableBetween) sock->enableCallBacks(cf::Socket::ReadCallBack);
    if (c.expectedAfterSecondDatagram > 1) {
      EXPECT_TRUE(pltest::pumpUntil([&] { return rec.count(cf::Socket::ReadCallBack) == 2; }, kWait));
    }
    ASSERT_TRUE(sentinel.ping());
    EXPECT_EQ(rec.count(cf::Socket::ReadCallBack), c.expectedAfterSecondDatagram);
    sock->invalidate();
  }
}

TEST(CFSocketTest, CallBacksStopOnceTheOwnerIsGoneOrTheSocketIsInvalid) {
  for (bool invalidate : {false, true}) {
    Sentinel sentinel;
    Recorder rec;
    auto owner = ns::make<ns::Object>();
    auto sock = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP, cf::Socket::ReadCallBack,
                                             rec.callout(), owner);
    ASSERT_EQ(sock->setAddress(loopback4(0)), cf::Socket::Success);
    sock->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    sendDatagram(portOf(sock->copyAddress()), "x");
    if (invalidate) {
      sock->invalidate();
      EXPECT_FALSE(sock->isValid());
      EXPECT_EQ(sock->getNative(), -1);
      EXPECT_TRUE(sock->copyAddress().empty());
    } else {
      owner.reset();  // the context holds its owner weakly
    }
    ASSERT_TRUE(sentinel.ping());
    EXPECT_TRUE(rec.events.empty());
  }
}

TEST(CFSocketTest, ListenerAcceptsWithDescriptorAndPeerAddress) {
  Recorder rec;
  auto owner = ns::make<ns::Object>();
  auto listener = cf::Socket::createWithFamily(AF_INET, SOCK_STREAM, IPPROTO_TCP, cf::Socket::AcceptCallBack,
                                               rec.callout(), owner);
  ASSERT_TRUE(listener);
  ASSERT_EQ(listener->setAddress(loopback4(0)), cf::Socket::Success);  // binds and listens
  listener->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);

  Fd clients[2] = {Fd(::socket(AF_INET, SOCK_STREAM, 0)), Fd(::socket(AF_INET, SOCK_STREAM, 0))};
  ns::Data to = loopback4(portOf(listener->copyAddress()));
  for (auto& client : clients)
    ASSERT_EQ(::connect(client.fd, reinterpret_cast<const sockaddr*>(to.bytes()), to.length()), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec.count(cf::Socket::AcceptCallBack) == 2; }, kWait));

  for (int i = 0; i < 2; ++i) {
    const auto& e = rec.events[i];
    ASSERT_GE(e.nativeHandle, 0);
    EXPECT_NE(::fcntl(e.nativeHandle, F_GETFD), -1);
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(::getsockname(clients[i].fd, reinterpret_cast<sockaddr*>(&local), &len), 0);
    ASSERT_EQ(e.address.length(), sizeof(sockaddr_in));
    EXPECT_EQ(portOf(e.address), ntohs(local.sin_port));
    // The accepted descriptor is the peer of the client.
    ASSERT_EQ(::write(clients[i].fd, "hi", 2), 2);
    char buf[2];
    EXPECT_EQ(::read(e.nativeHandle, buf, 2), 2);
    ::close(e.nativeHandle);
  }
}

TEST(CFSocketTest, ConnectCallBackReportsTheOutcome) {
  // A listening port, and one that is bound but not listening, so that nobody else takes it.
  Fd listening(::socket(AF_INET, SOCK_STREAM, 0));
  Fd closed(::socket(AF_INET, SOCK_STREAM, 0));
  for (int fd : {listening.fd, closed.fd}) {
    ns::Data any = loopback4(0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(any.bytes()), any.length()), 0);
  }
  ASSERT_EQ(::listen(listening.fd, 4), 0);
  auto portOfFd = [](int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  };
  struct Case {
    std::uint16_t port;
    int expectedError;
  };
  const Case cases[] = {{portOfFd(listening.fd), 0}, {portOfFd(closed.fd), ECONNREFUSED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectedError);
    Recorder rec;
    auto owner = ns::make<ns::Object>();
    auto sock = cf::Socket::createWithFamily(AF_INET, SOCK_STREAM, IPPROTO_TCP, cf::Socket::ConnectCallBack,
                                             rec.callout(), owner);
    sock->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    ASSERT_EQ(sock->connectToAddress(loopback4(c.port), -1), cf::Socket::Success);
    EXPECT_TRUE(rec.events.empty());  // never inside the call
    ASSERT_TRUE(pltest::pumpUntil([&] { return !rec.events.empty(); }, kWait));
    EXPECT_EQ(rec.events[0].type, cf::Socket::ConnectCallBack);
    EXPECT_EQ(rec.events[0].errorNumber, c.expectedError);
    if (c.expectedError == 0) {
      EXPECT_EQ(portOf(sock->copyPeerAddress()), c.port);
    }
    // One connect call-back only.
    Sentinel sentinel;
    ASSERT_TRUE(sentinel.ping());
    EXPECT_EQ(rec.events.size(), 1u);
  }

  // A waiting connect answers at once; without a connect call-back a refusal is an error.
  auto blocking =
      cf::Socket::createWithFamily(AF_INET, SOCK_STREAM, IPPROTO_TCP, cf::Socket::NoCallBack, nullptr, {});
  EXPECT_EQ(blocking->connectToAddress(loopback4(portOfFd(listening.fd)), 5), cf::Socket::Success);
  auto refused =
      cf::Socket::createWithFamily(AF_INET, SOCK_STREAM, IPPROTO_TCP, cf::Socket::NoCallBack, nullptr, {});
  EXPECT_EQ(refused->connectToAddress(loopback4(portOfFd(closed.fd)), 5), cf::Socket::Error);
}

TEST(CFSocketTest, InvalidatingAWrapperClosesTheDescriptorOnlyWhenAsked) {
  for (bool closeOnInvalidate : {false, true}) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    auto wrapper = cf::Socket::createWithNative(fd, cf::Socket::ReadCallBack, nullptr, {});
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->getNative(), fd);
    EXPECT_FALSE(wrapper->socketFlags() & cf::Socket::CloseOnInvalidate);
    if (closeOnInvalidate) wrapper->setSocketFlags(wrapper->socketFlags() | cf::Socket::CloseOnInvalidate);
    wrapper->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
    wrapper->invalidate();
    if (closeOnInvalidate) {
      errno = 0;
      EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
      EXPECT_EQ(errno, EBADF);
    } else {
      EXPECT_NE(::fcntl(fd, F_GETFD), -1);
      ::close(fd);
    }
  }
}

TEST(CFSocketTest, ASourceInACustomModeFiresOnlyInThatMode) {
  Sentinel sentinel;  // in the default mode
  Recorder rec;
  auto owner = ns::make<ns::Object>();
  auto sock = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP, cf::Socket::ReadCallBack,
                                           rec.callout(), owner);
  ASSERT_EQ(sock->setAddress(loopback4(0)), cf::Socket::Success);
  auto loop = ns::RunLoop::currentRunLoop();
  sock->scheduleInRunLoop_forMode(loop, "custom");
  sendDatagram(portOf(sock->copyAddress()), "x");

  ASSERT_TRUE(sentinel.ping(ns::DefaultRunLoopMode));
  EXPECT_TRUE(rec.events.empty());
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec.events.size() == 1; }, kWait, "custom"));

  // Taken out of the mode, it is silent there too.
  rec.events.clear();
  sock->enableCallBacks(cf::Socket::ReadCallBack);
  sock->removeFromRunLoop_forMode(loop, "custom");
  Sentinel customSentinel("custom");
  ASSERT_TRUE(customSentinel.ping("custom"));
  EXPECT_TRUE(rec.events.empty());
}

TEST(CFSocketTest, WriteCallBackIsOneShotAndDisableWorks) {
  Sentinel sentinel;
  Recorder rec;
  auto owner = ns::make<ns::Object>();
  auto sock = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP,
                                           cf::Socket::ReadCallBack | cf::Socket::WriteCallBack,
                                           rec.callout(), owner);
  sock->disableCallBacks(cf::Socket::ReadCallBack);
  sock->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec.count(cf::Socket::WriteCallBack) == 1; }, kWait));
  ASSERT_TRUE(sentinel.ping());
  EXPECT_EQ(rec.count(cf::Socket::WriteCallBack), 1);  // writable all along, yet once
  sock->enableCallBacks(cf::Socket::WriteCallBack);
  ASSERT_TRUE(pltest::pumpUntil([&] { return rec.count(cf::Socket::WriteCallBack) == 2; }, kWait));
  EXPECT_EQ(rec.count(cf::Socket::ReadCallBack), 0);
}

}  // namespace
