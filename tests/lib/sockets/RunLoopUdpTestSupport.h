#pragma once
// Shared pieces of the run-loop UDP socket tests: a delegate that records every message (from
// whichever thread the socket lives on) and a few loopback helpers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lib/sockets/RunLoopUdpSocket.h"
#include "platform/core/Exception.h"
#include "platform/testing/Pump.h"
#include "tests/lib/sockets/LoopbackAddresses.h"

namespace rludptest {

constexpr double kWait = 20;

struct UdpEvent {
  enum Kind { Sent, NotSent, Received, NotReceived, Closed };
  UdpEvent(Kind kind, const RunLoopUdpSocket* sock, long tag = 0, std::string data = "",
           std::string host = "", std::uint16_t port = 0)
      : kind(kind), sock(sock), tag(tag), data(std::move(data)), host(std::move(host)), port(port) {}
  Kind kind;
  const RunLoopUdpSocket* sock = nullptr;  // identity only
  long tag = 0;
  std::string data;
  std::string host;
  std::uint16_t port = 0;
  std::optional<ns::Error> error;
  std::thread::id thread;
  bool answer = true;  // what a Received event answered
};

class UdpRecorder : public RunLoopUdpSocketDelegate {
 public:
  // Answers to received datagrams, in order; YES once they run out.
  std::vector<bool> answers;

  std::vector<UdpEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<UdpEvent> eventsOf(UdpEvent::Kind kind, const RunLoopUdpSocket* sock = nullptr) const {
    std::vector<UdpEvent> out;
    for (auto& e : events())
      if (e.kind == kind && (!sock || e.sock == sock)) out.push_back(e);
    return out;
  }
  std::size_t count(UdpEvent::Kind kind, const RunLoopUdpSocket* sock = nullptr) const {
    return eventsOf(kind, sock).size();
  }

  void onUdpSocket_didSendDataWithTag(const ns::Ref<RunLoopUdpSocket>& sock, long tag) override {
    record({UdpEvent::Sent, sock.get(), tag});
  }
  void onUdpSocket_didNotSendDataWithTag_dueToError(const ns::Ref<RunLoopUdpSocket>& sock, long tag,
                                                    const ns::Error& error) override {
    UdpEvent e{UdpEvent::NotSent, sock.get(), tag};
    e.error = error;
    record(std::move(e));
  }
  bool onUdpSocket_didReceiveData_withTag_fromHost_port(const ns::Ref<RunLoopUdpSocket>& sock,
                                                        const ns::Data& data, long tag,
                                                        const std::string& host,
                                                        std::uint16_t port) override {
    UdpEvent e{UdpEvent::Received, sock.get(), tag, data.toString(), host, port};
    {
      std::lock_guard lock(mutex_);
      if (next_ < answers.size()) e.answer = answers[next_++];
    }
    bool answer = e.answer;
    record(std::move(e));
    return answer;
  }
  void onUdpSocket_didNotReceiveDataWithTag_dueToError(const ns::Ref<RunLoopUdpSocket>& sock, long tag,
                                                       const ns::Error& error) override {
    UdpEvent e{UdpEvent::NotReceived, sock.get(), tag};
    e.error = error;
    record(std::move(e));
  }
  void onUdpSocketDidClose(const ns::Ref<RunLoopUdpSocket>& sock) override {
    record({UdpEvent::Closed, sock.get()});
  }

 private:
  void record(UdpEvent e) {
    e.thread = std::this_thread::get_id();
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }
  mutable std::mutex mutex_;
  std::vector<UdpEvent> events_;
  std::size_t next_ = 0;
};

using sockettest::loopback4;

// Runs `body` on a fresh thread that has its own run loop, and waits for it to end.
inline void onTestThread(const std::function<void()>& body) {
  std::thread t(body);
  t.join();
}

// A socket bound to 127.0.0.1 on a system-chosen port.
inline ns::Ref<RunLoopUdpSocket> boundSocket(const ns::Ref<UdpRecorder>& delegate) {
  auto sock = ns::make<RunLoopUdpSocket>(delegate);
  ns::Error err;
  EXPECT_TRUE(sock->bindToAddress_port_error("127.0.0.1", 0, &err)) << err.description();
  EXPECT_NE(sock->localPort(), 0);
  return sock;
}

// The reason of the RunLoopUdpSocketException that `call` raises, or "" when it raises none.
inline std::string raisedReason(const std::function<void()>& call) {
  try {
    call();
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), RunLoopUdpSocketException);
    return e.reason();
  }
  return "";
}

}  // namespace rludptest
