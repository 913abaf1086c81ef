#pragma once
// Shared pieces of the run-loop TCP socket tests: a delegate that records every message and keeps
// accepted sockets, and a connected server/client pair on the current run loop.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/RunLoopSocket.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/Pump.h"

class RunLoopSocketTestAccess {
 public:
  static void disablePreBuffering(RunLoopSocket& sock) { sock.flags_ &= ~0x0001; }
};

namespace rltest {

constexpr double kWait = 20;

// Runs `n` passes of the current run loop in `mode`, each taking only what is pending.
inline void runPasses(int n, const std::string& mode = ns::DefaultRunLoopMode) {
  for (int i = 0; i < n; ++i) ns::RunLoop::currentRunLoop()->runPendingInMode(mode);
}

struct Recorder : RunLoopSocketDelegate {
  std::string name;
  std::vector<std::string> events;
  std::vector<std::string> reads;
  std::vector<long> readTags, writeTags;
  std::vector<double> readTimeoutElapsed;
  std::vector<ns::Ref<RunLoopSocket>> accepted;
  std::optional<ns::Error> lastError;
  bool sawWillDisconnect = false;
  int disconnects = 0;
  int disconnectsWithoutSocket = 0;
  bool keepAccepted = true;
  double readExtension = 0;
  int readExtensionsLeft = 0;
  std::optional<std::string> unreadInWill;
  bool askUnread = false;
  std::function<void(const ns::Ref<RunLoopSocket>&, const ns::Data&, long)> onRead;
  std::function<void()> onDisconnect;

  explicit Recorder(std::string name = "") : name(std::move(name)) {}

  void onSocket_didAcceptNewSocket(const ns::Ref<RunLoopSocket>&, const ns::Ref<RunLoopSocket>& s) override {
    events.push_back("accept");
    if (keepAccepted) accepted.push_back(s);
  }
  ns::Ref<ns::RunLoop> onSocket_wantsRunLoopForNewSocket(const ns::Ref<RunLoopSocket>&,
                                                         const ns::Ref<RunLoopSocket>&) override {
    events.push_back("wantsRunLoop");
    return nullptr;
  }
  bool onSocketWillConnect(const ns::Ref<RunLoopSocket>&) override {
    events.push_back("willConnect");
    return true;
  }
  void onSocket_didConnectToHost_port(const ns::Ref<RunLoopSocket>&, const std::string& host,
                                      std::uint16_t port) override {
    events.push_back("didConnect");
  }
  void onSocket_didReadData_withTag(const ns::Ref<RunLoopSocket>& s, const ns::Data& data,
                                    long tag) override {
    events.push_back("read");
    reads.push_back(data.toString());
    readTags.push_back(tag);
    if (onRead) onRead(s, data, tag);
  }
  double onSocket_shouldTimeoutReadWithTag_elapsed_bytesDone(const ns::Ref<RunLoopSocket>&, long,
                                                             double elapsed, std::size_t) override {
    readTimeoutElapsed.push_back(elapsed);
    if (readExtensionsLeft > 0) {
      --readExtensionsLeft;
      return readExtension;
    }
    return 0;
  }
  void onSocket_didWriteDataWithTag(const ns::Ref<RunLoopSocket>&, long tag) override {
    events.push_back("write");
    writeTags.push_back(tag);
  }
  void onSocketDidSecure(const ns::Ref<RunLoopSocket>&) override { events.push_back("secure"); }
  void onSocket_willDisconnectWithError(const ns::Ref<RunLoopSocket>& s,
                                        const std::optional<ns::Error>& error) override {
    events.push_back("willDisconnect");
    sawWillDisconnect = true;
    lastError = error;
    if (askUnread) {
      auto data = s->unreadData();
      unreadInWill = data ? std::optional<std::string>(data->toString()) : std::nullopt;
    }
  }
  void onSocketDidDisconnect(const ns::Ref<RunLoopSocket>& s) override {
    events.push_back("didDisconnect");
    ++disconnects;
    if (!s) ++disconnectsWithoutSocket;
    if (onDisconnect) onDisconnect();
  }
  int count(const std::string& e) const {
    int n = 0;
    for (auto& x : events) n += x == e;
    return n;
  }
};

// A listener on loopback and a RunLoopSocket client connected to it through "localhost".
struct Connection {
  ns::Ref<Recorder> serverDelegate = ns::make<Recorder>("server");
  ns::Ref<Recorder> clientDelegate = ns::make<Recorder>("client");
  ns::Ref<RunLoopSocket> listener = ns::make<RunLoopSocket>(serverDelegate);
  ns::Ref<RunLoopSocket> client = ns::make<RunLoopSocket>(clientDelegate);

  ns::Ref<RunLoopSocket> server() const {
    return serverDelegate->accepted.empty() ? nullptr : serverDelegate->accepted.front();
  }
  void listen() {
    ns::Error error;
    ASSERT_TRUE(listener->acceptOnInterface_port_error(std::string("loopback"), 0, &error))
        << error.description();
  }
  void connect(double timeout = -1) {
    listen();
    ns::Error error;
    ASSERT_TRUE(
        client->connectToHost_onPort_withTimeout_error("localhost", listener->localPort(), timeout, &error))
        << error.description();
    ASSERT_TRUE(pltest::pumpUntil(
        [&] { return clientDelegate->count("didConnect") == 1 && serverDelegate->count("didConnect") == 1; },
        kWait));
  }
  ~Connection() {
    for (auto& s : serverDelegate->accepted) s->setDelegate(nullptr);
    client->setDelegate(nullptr);
    listener->setDelegate(nullptr);
    for (auto& s : serverDelegate->accepted) s->disconnect();
    client->disconnect();
    listener->disconnect();
    serverDelegate->accepted.clear();
  }
};

}  // namespace rltest
