#pragma once
// Shared pieces of the socket tests: a delegate that records every message it gets (and checks
// that it runs on its delegate queue); the far end is a pltest::RawClient.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lib/sockets/DispatchSocket.h"
#include "platform/dispatch/Queue.h"
#include "platform/security/Trust.h"
#include "platform/testing/Pump.h"
#include "platform/testing/RawClient.h"

namespace sockettest {

constexpr double kWaitSeconds = 20;

// The events a recording delegate got, each marked with whether it came on the delegate's queue;
// the test waits on them (with a generous time-out) instead of sleeping.
template <class E>
class EventRecorder {
 public:
  using Kind = typename E::Kind;
  explicit EventRecorder(ns::Ref<dispatch::Queue> queue) : queue_(std::move(queue)) {}
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }

  // Waits until `pred` holds over the events so far.
  bool waitUntil(const std::function<bool(const std::vector<E>&)>& pred, double seconds = kWaitSeconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return pred(events_); });
  }
  bool waitForCount(Kind kind, std::size_t wanted, double seconds = kWaitSeconds) {
    return waitUntil([&](const std::vector<E>& events) { return countIn(events, kind) >= wanted; }, seconds);
  }
  std::vector<E> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<E> eventsOf(Kind kind) {
    std::vector<E> result;
    for (auto& e : events())
      if (e.kind == kind) result.push_back(e);
    return result;
  }
  std::size_t count(Kind kind) { return eventsOf(kind).size(); }
  // Lets everything already queued on the delegate queue run.
  void drain() {
    dispatch::sync(queue_, [] {});
  }
  // Waits for `wanted` events of `kind`, then drains: whatever came with them has been recorded.
  bool waitThenDrain(Kind kind, std::size_t wanted) {
    if (!waitForCount(kind, wanted)) return false;
    drain();
    return true;
  }

 protected:
  static std::size_t countIn(const std::vector<E>& events, Kind kind) {
    std::size_t n = 0;
    for (const auto& e : events) n += e.kind == kind;
    return n;
  }
  void record(E event) {
    event.onDelegateQueue = dispatch::currentQueue() == queue_;
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
  }

  ns::Ref<dispatch::Queue> queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<E> events_;
};

struct Event {
  enum Kind {
    Accept,
    Read,
    ReadPartial,
    ReadTimeout,
    Write,
    WritePartial,
    WriteTimeout,
    CloseReadStream,
    Disconnect,
    Connect,
    Secure,
    Trust
  };
  Event(Kind kind, const DispatchSocket* sock, std::string data = "", long tag = 0, std::uint64_t length = 0,
        double elapsed = 0)
      : kind(kind), sock(sock), data(std::move(data)), tag(tag), length(length), elapsed(elapsed) {}

  Kind kind;
  const DispatchSocket* sock = nullptr;  // identity only: events must not keep sockets alive
  std::string data;
  long tag = 0;
  std::uint64_t length = 0;  // Connect: the port
  double elapsed = 0;
  std::optional<ns::Error> error;
  bool onDelegateQueue = false;
};

class RecordingDelegate : public DispatchSocketDelegate, public EventRecorder<Event> {
 public:
  explicit RecordingDelegate(ns::Ref<dispatch::Queue> queue) : EventRecorder(std::move(queue)) {}

  // Optional reactions, run on the delegate queue before the event is recorded.
  std::function<void(const ns::Ref<DispatchSocket>& listener, const ns::Ref<DispatchSocket>& child)> onAccept;
  std::function<void(const ns::Ref<DispatchSocket>& sock, const ns::Data& data, long tag)> onRead;
  // The socket queue of each accepted socket (none: the socket makes its own).
  std::function<ns::Ref<dispatch::Queue>()> childSocketQueue;
  // The answer to a trust question; without it the delegate does not take the question.
  std::function<void(const ns::Ref<sec::Trust>& trust, const std::function<void(bool)>& completionHandler)>
      onTrust;
  // Answers to the time-out questions, in order; 0 once they run out.
  std::vector<double> readExtensions;
  std::vector<double> writeExtensions;

  ns::Ref<dispatch::Queue> newSocketQueueForConnectionFromAddress_onSocket(
      const ns::Data& address, const ns::Ref<DispatchSocket>& sock) override;
  void socket_didConnectToHost_port(const ns::Ref<DispatchSocket>& sock, const std::string& host,
                                    std::uint16_t port) override {
    record(Event(Event::Connect, sock.get(), host, 0, port));
  }
  void socketDidSecure(const ns::Ref<DispatchSocket>& sock) override {
    record(Event(Event::Secure, sock.get()));
  }
  bool socket_didReceiveTrust_completionHandler(const ns::Ref<DispatchSocket>& sock,
                                                const ns::Ref<sec::Trust>& trust,
                                                std::function<void(bool)> completionHandler) override;
  void socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>& sock,
                                 const ns::Ref<DispatchSocket>& child) override;
  void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data,
                                  long tag) override;
  void socket_didReadPartialDataOfLength_tag(const ns::Ref<DispatchSocket>& sock, std::uint64_t length,
                                             long tag) override {
    record(Event(Event::ReadPartial, sock.get(), "", tag, length));
  }
  double socket_shouldTimeoutReadWithTag_elapsed_bytesDone(const ns::Ref<DispatchSocket>& sock, long tag,
                                                           double elapsed, std::uint64_t length) override;
  void socket_didWriteDataWithTag(const ns::Ref<DispatchSocket>& sock, long tag) override {
    record(Event(Event::Write, sock.get(), "", tag));
  }
  void socket_didWritePartialDataOfLength_tag(const ns::Ref<DispatchSocket>& sock, std::uint64_t length,
                                              long tag) override {
    record(Event(Event::WritePartial, sock.get(), "", tag, length));
  }
  double socket_shouldTimeoutWriteWithTag_elapsed_bytesDone(const ns::Ref<DispatchSocket>& sock, long tag,
                                                            double elapsed, std::uint64_t length) override;
  void socketDidCloseReadStream(const ns::Ref<DispatchSocket>& sock) override {
    record(Event(Event::CloseReadStream, sock.get()));
  }
  void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>& sock,
                                     const std::optional<ns::Error>& err) override;

  // Accepted sockets, kept alive as a delegate must.
  std::vector<ns::Ref<DispatchSocket>> children();
  ns::Ref<DispatchSocket> waitForChild(double seconds = kWaitSeconds);
  void releaseChildren();

 private:
  // The next of the given answers to a time-out question; 0 once they run out.
  double nextExtension(const std::vector<double>& answers, std::size_t& asked);

  std::vector<ns::Ref<DispatchSocket>> children_;
  std::size_t readQuestions_ = 0;
  std::size_t writeQuestions_ = 0;
};

using pltest::RawClient;

// A serial queue for a delegate.
ns::Ref<dispatch::Queue> makeQueue(const char* label);

// A listener on 127.0.0.1, any port, reporting to `delegate`.
ns::Ref<DispatchSocket> listenOnLoopback(const ns::Ref<RecordingDelegate>& delegate);

// A listener on loopback, a raw client connected to it and the child the listener accepted.
struct AcceptedPair {
  ns::Ref<RecordingDelegate> delegate;
  ns::Ref<DispatchSocket> listener;
  RawClient client;
  ns::Ref<DispatchSocket> child;
};

// Fills `p`; the delegate runs `onAccept` on each new child (before recording the accept).
void connectPair(AcceptedPair& p, const char* label, int clientReceiveBuffer = 0,
                 std::function<void(const ns::Ref<DispatchSocket>&)> onAccept = nullptr);

// Whether ::1 can be bound here.
bool ipv6LoopbackAvailable();

// The socket descriptors the process has open (/proc/self/fd), and those opened since `before`
// (counting only new numbers, so that closes still under way elsewhere do not blur the count).
std::set<int> openDescriptors();
std::size_t descriptorsOpenedSince(const std::set<int>& before);

// Many plain IPv4 datagram sockets with address reuse on, each bound to 127.0.0.1 on a port the
// kernel picked: with so many ports held, a socket of ours that let the kernel hand it a held
// port (as Linux does to a socket with reuse on) would land on one of them. Leaves `spare`
// descriptors of the process's limit free for the test's own sockets.
class ReusedPortHolders {
 public:
  explicit ReusedPortHolders(std::size_t wanted, std::size_t spare);
  ~ReusedPortHolders();
  ReusedPortHolders(const ReusedPortHolders&) = delete;
  ReusedPortHolders& operator=(const ReusedPortHolders&) = delete;

  std::size_t size() const { return fds_.size(); }
  bool holds(std::uint16_t port) const { return ports_.count(port) != 0; }

 private:
  std::vector<int> fds_;
  std::set<std::uint16_t> ports_;
};

}  // namespace sockettest
