#pragma once
// Shared pieces of the UDP socket tests: a delegate that records every message it gets (and
// checks that it runs on its delegate queue), a socket under test that is closed when the test
// lets go of it, and a plain POSIX datagram socket as the independent peer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/DispatchUdpSocket.h"
#include "platform/dispatch/Queue.h"
#include "tests/lib/sockets/LoopbackAddresses.h"
#include "tests/lib/sockets/SocketTestSupport.h"

namespace udptest {

constexpr double kWaitSeconds = 20;

struct UdpEvent {
  enum Kind { Connect, NotConnect, Send, NotSend, Receive, Close };
  Kind kind;
  long tag = 0;
  std::string data{};
  ns::Data address{};  // Connect: the peer; Receive: the sender
  ns::Value context{};
  std::optional<ns::Error> error{};
  bool onDelegateQueue = false;
};

class RecordingUdpDelegate : public DispatchUdpSocketDelegate, public sockettest::EventRecorder<UdpEvent> {
 public:
  explicit RecordingUdpDelegate(ns::Ref<dispatch::Queue> queue) : EventRecorder(std::move(queue)) {}

  void udpSocket_didConnectToAddress(const ns::Ref<DispatchUdpSocket>&, const ns::Data& address) override {
    record({.kind = UdpEvent::Connect, .address = address});
  }
  void udpSocket_didNotConnect(const ns::Ref<DispatchUdpSocket>&, const ns::Error& error) override {
    record({.kind = UdpEvent::NotConnect, .error = error});
  }
  void udpSocket_didSendDataWithTag(const ns::Ref<DispatchUdpSocket>&, long tag) override {
    record({.kind = UdpEvent::Send, .tag = tag});
  }
  void udpSocket_didNotSendDataWithTag_dueToError(const ns::Ref<DispatchUdpSocket>&, long tag,
                                                  const ns::Error& error) override {
    record({.kind = UdpEvent::NotSend, .tag = tag, .error = error});
  }
  void udpSocket_didReceiveData_fromAddress_withFilterContext(const ns::Ref<DispatchUdpSocket>&,
                                                              const ns::Data& data, const ns::Data& address,
                                                              const ns::Value& context) override {
    record({.kind = UdpEvent::Receive, .data = data.toString(), .address = address, .context = context});
  }
  void udpSocketDidClose_withError(const ns::Ref<DispatchUdpSocket>&,
                                   const std::optional<ns::Error>& error) override {
    record({.kind = UdpEvent::Close, .error = error});
  }
};

// A socket under test with its own recording delegate; closed when it goes, since open sockets
// keep a socket alive.
struct UdpEndpoint {
  explicit UdpEndpoint(const char* label, bool boundToLoopback4 = false);
  ~UdpEndpoint();
  UdpEndpoint(const UdpEndpoint&) = delete;
  UdpEndpoint& operator=(const UdpEndpoint&) = delete;

  // Binds to 127.0.0.1, any port (a failed test otherwise).
  void bindLoopback4();
  // Waits for the socket queue and the delegate queue to run what they have been given.
  void settle();
  // Waits for `wanted` events of `kind`, then settles.
  bool waitThenSettle(UdpEvent::Kind kind, std::size_t wanted) {
    if (!delegate->waitForCount(kind, wanted)) return false;
    settle();
    return true;
  }

  ns::Ref<RecordingUdpDelegate> delegate;
  ns::Ref<DispatchUdpSocket> socket;
};

// A plain POSIX datagram socket bound to 127.0.0.1 (or ::1), any port; a failed test when it
// cannot be made.
class RawUdpPeer {
 public:
  explicit RawUdpPeer(bool ipv6 = false, std::uint16_t port = 0);
  ~RawUdpPeer();
  RawUdpPeer(const RawUdpPeer&) = delete;
  RawUdpPeer& operator=(const RawUdpPeer&) = delete;

  bool ok() const { return fd_ != -1; }
  int fd() const { return fd_; }
  std::uint16_t port() const { return port_; }
  ns::Data address() const;
  // Answers whether the whole datagram went out.
  bool sendTo(const ns::Data& address, const std::string& bytes);
  // The next datagram, waiting at most `seconds` (a poll on the descriptor); none when nothing
  // came.
  std::optional<std::string> receive(double seconds = kWaitSeconds);
  // Whether a datagram is waiting now.
  bool hasDatagram();

 private:
  int fd_ = -1;
  bool ipv6_ = false;
  std::uint16_t port_ = 0;
};

using sockettest::ipv6LoopbackAvailable;
using sockettest::loopback4;
using sockettest::loopback6;
using sockettest::makeQueue;
// The description of an optional error ("" for none).
std::string describe(const std::optional<ns::Error>& error);

}  // namespace udptest
