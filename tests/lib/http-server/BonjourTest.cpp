// The server published as a DNS-SD service through a private avahi-daemon on a private system
// bus, checked with the daemon's own browser: name, type, port and TXT record, a TXT change, the
// withdrawal at stop, a second server with the same name; and a run with no daemon at all.
#include <unistd.h>

#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

#include "lib/logging/LogHub.h"
#include "platform/testing/Pump.h"
#include "platform/testing/desktop/PrivateAvahi.h"
#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

constexpr char kType[] = "_pelorin-test._tcp.";
constexpr char kBrowseType[] = "_pelorin-test._tcp";

// A name no other test process on the machine (or its network) uses.
std::string uniqueName(const std::string& base) {
  static std::atomic<int> count{0};
  return base + " " + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

class Bonjour : public ::testing::Test {
 protected:
  void SetUp() override {
    avahi_ = std::make_unique<pltest::PrivateAvahi>(sandbox_);
    if (auto why = avahi_->unavailable()) GTEST_SKIP() << "no private avahi-daemon here: " << *why;
    LogHub::addLogger(logger_);
  }
  void TearDown() override {
    for (auto& server : servers_) server->stop();
    servers_.clear();
    LogHub::removeLogger(logger_);
  }

  ns::Ref<HTTPServer> startServer(const std::string& name, std::optional<ns::Dictionary> txt = std::nullopt) {
    auto server = ns::make<HTTPServer>();
    server->setInterface("127.0.0.1");
    server->setType(std::string(kType));
    server->setName(name);
    if (txt) server->setTXTRecordDictionary(txt);
    ns::Error error;
    EXPECT_TRUE(server->start(&error)) << error.description();
    servers_.push_back(server);
    return server;
  }
  bool waitForPublished(const std::string& name) {
    return logger_->waitForLine(
        [&](const std::string& line) {
          return line == "Bonjour Service Published: domain(local.) type(" + std::string(kType) + ") name(" +
                             name + ")";
        },
        120);
  }
  // Browses until what the daemon reports of `name` satisfies `holds` (nothing found: an empty
  // list), for at most two minutes.
  bool browseUntil(const std::string& name,
                   const std::function<bool(const std::vector<pltest::PrivateAvahi::Service>&)>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    do {
      std::vector<pltest::PrivateAvahi::Service> found;
      for (auto& s : avahi_->browse(kBrowseType)) {
        if (s.name == name) found.push_back(std::move(s));
      }
      last_ = found;
      if (holds(found)) return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  static bool txtIs(const pltest::PrivateAvahi::Service& s, std::vector<std::string> expected) {
    auto txt = s.txt;
    std::sort(txt.begin(), txt.end());
    std::sort(expected.begin(), expected.end());
    return txt == expected;
  }

  pltest::Sandbox sandbox_;
  std::unique_ptr<pltest::PrivateAvahi> avahi_;
  ns::Ref<RecordingLogger> logger_ = ns::make<RecordingLogger>();
  std::vector<ns::Ref<HTTPServer>> servers_;
  std::vector<pltest::PrivateAvahi::Service> last_;
};

TEST_F(Bonjour, TheServiceAppearsFollowsItsTXTRecordAndGoesAtStop) {
  const std::string name = uniqueName("Pelorin Media");
  auto server = startServer(name, ns::Dictionary{{"path", "/youtube"}, {"v", ns::Data("1")}});
  const int port = server->listeningPort();
  ASSERT_TRUE(waitForPublished(name)) << avahi_->log();
  EXPECT_EQ(server->publishedName(), name);

  ASSERT_TRUE(browseUntil(name, [&](const auto& found) {
    return !found.empty() && txtIs(found.front(), {"path=/youtube", "v=1"});
  })) << avahi_->log();
  for (const auto& s : last_) {
    EXPECT_EQ(s.type, kBrowseType);
    EXPECT_EQ(s.domain, "local");
    EXPECT_EQ(s.port, port);
    EXPECT_TRUE(avahi_->hostNameMatches(s.host)) << s.host;
    EXPECT_EQ(s.host.substr(s.host.size() - 6), ".local");
    // Found on the daemon's own network, at its own address: nothing else answers there.
    EXPECT_EQ(s.interface, pltest::PrivateAvahi::interfaceName());
    if (s.protocol == "IPv4") {
      EXPECT_EQ(s.address, pltest::PrivateAvahi::address());
    } else {
      EXPECT_EQ(s.address.rfind("fe80::", 0), 0u) << s.address;
    }
  }

  // A new record replaces the published one; none leaves the service with an empty one.
  server->setTXTRecordDictionary(ns::Dictionary{{"path", "/other"}});
  EXPECT_TRUE(browseUntil(name, [&](const auto& found) {
    return !found.empty() &&
           std::all_of(found.begin(), found.end(), [](const auto& s) { return txtIs(s, {"path=/other"}); });
  })) << (last_.empty() ? "gone" : last_.front().txt.front());
  server->setTXTRecordDictionary(std::nullopt);
  EXPECT_TRUE(browseUntil(name, [&](const auto& found) {
    return !found.empty() && std::all_of(found.begin(), found.end(),
                                         [](const auto& s) { return txtIs(s, {""}) || s.txt.empty(); });
  }));
  EXPECT_EQ(server->TXTRecordDictionary(), std::nullopt);

  server->stop();
  EXPECT_EQ(server->publishedName(), std::nullopt);
  EXPECT_TRUE(browseUntil(name, [](const auto& found) { return found.empty(); }));

  // A stopped server publishes again when it starts again, on its new port.
  ns::Error error;
  ASSERT_TRUE(server->start(&error));
  const int again = server->listeningPort();
  EXPECT_TRUE(
      browseUntil(name, [&](const auto& found) { return !found.empty() && found.front().port == again; }));
}

TEST_F(Bonjour, ASecondServerWithTheSameNameTakesTheDaemonsOtherName) {
  const std::string name = uniqueName("Pelorin Twin");
  auto first = startServer(name);
  ASSERT_TRUE(waitForPublished(name)) << avahi_->log();
  auto second = startServer(name);
  const std::string other = name + " #2";
  ASSERT_TRUE(waitForPublished(other)) << avahi_->log();
  EXPECT_EQ(first->publishedName(), name);
  EXPECT_EQ(second->publishedName(), other);
  EXPECT_EQ(second->name(), name);
  EXPECT_TRUE(browseUntil(other, [&](const auto& found) {
    return !found.empty() && found.front().port == second->listeningPort();
  }));
  EXPECT_TRUE(browseUntil(name, [&](const auto& found) {
    return !found.empty() && found.front().port == first->listeningPort();
  }));

  // Republishing after the first one went gives the second its own name back.
  first->stop();
  second->republishBonjour();
  EXPECT_TRUE(pltest::pumpUntil([&] { return second->publishedName() == name; }, 120));
  EXPECT_TRUE(waitForPublished(name));
}

TEST_F(ServerFixture, WithNoDaemonTheFailureIsReportedAndTheServerServesOn) {
  // The test's own system bus, with no mDNS daemon on it.
  pltest::PrivateAvahi::reachNoDaemon(sandbox);
  auto logger = ns::make<RecordingLogger>();
  LogHub::addLogger(logger);
  server->setType(std::string(kType));
  server->setName("alone");
  server->setTXTRecordDictionary(ns::Dictionary{{"k", "v"}});
  file("a.txt", "still here");
  startServer();
  EXPECT_TRUE(logger->waitForLine([](const std::string& line) {
    return line.rfind("Failed to Publish Service: domain(local.) type(_pelorin-test._tcp.) name(alone) - ",
                      0) == 0 &&
           line.find("NSNetServicesErrorCode = \"-72000\"") != std::string::npos &&
           line.find("NSNetServicesErrorDomain = 10") != std::string::npos;
  })) << ::testing::PrintToString(logger->lines());
  EXPECT_TRUE(server->isRunning());
  auto r = exchangeOnce(GET("/a.txt"));
  ASSERT_EQ(statusOf(r), 200);
  EXPECT_EQ(r->body, "still here");
  EXPECT_EQ(server->publishedName(), std::nullopt);
  // Republishing tries again, and fails again.
  auto again = ns::make<RecordingLogger>();
  LogHub::addLogger(again);
  server->republishBonjour();
  EXPECT_TRUE(again->waitForLine([](const std::string& line) {
    return line.rfind("Failed to Publish Service: domain(local.)", 0) == 0;
  }));
  server->stop();
  EXPECT_EQ(server->publishedName(), std::nullopt);
  LogHub::removeLogger(again);
  LogHub::removeLogger(logger);
}

}  // namespace
}  // namespace httptest
