// DNS-SD publishing: the TXT record coding, and a service published through a private
// avahi-daemon with its callbacks on the thread it is scheduled on; with no daemon, the failure.
#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

#include "platform/net/NetService.h"
#include "platform/runloop/Thread.h"
#include "platform/testing/Monitor.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/desktop/PrivateAvahi.h"

namespace {

using ns::NetService;

TEST(NetServiceTXT, DictionaryAndRecordCodeEachOther) {
  auto data = NetService::dataFromTXTRecordDictionary(
      ns::Dictionary{{"path", "/a b"}, {"bin", ns::Data(std::string("\0\xff", 2))}, {"empty", ""}});
  ASSERT_TRUE(data);
  EXPECT_EQ(data->toString(),
            std::string("\x09path=/a b\x06") + "bin=" + std::string("\0\xff", 2) + "\x06" + "empty=");
  auto back = NetService::dictionaryFromTXTRecordData(*data);
  EXPECT_EQ(back.count(), 3u);
  EXPECT_EQ(back["path"], ns::Value(ns::Data("/a b")));
  EXPECT_EQ(back["bin"], ns::Value(ns::Data(std::string("\0\xff", 2))));
  EXPECT_EQ(back["empty"], ns::Value(ns::Data()));

  // No entries: one empty string, as a TXT record must hold something.
  EXPECT_EQ(NetService::dataFromTXTRecordDictionary({}), ns::Data(std::string(1, '\0')));
  // Keys that cannot stand in a record, values of other kinds and entries past 255 bytes.
  EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"", "v"}}));
  EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"a=b", "v"}}));
  EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"n", 7}}));
  EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"k", std::string(254, 'x')}}));
  EXPECT_TRUE(NetService::dataFromTXTRecordDictionary({{"k", std::string(253, 'x')}}));

  // Reading: a flag without '=', a repeated key (the first counts), and a record cut short.
  std::string record =
      std::string("\x04") + "flag" + "\x03" + "a=1" + "\x03" + "a=2" + "\x00" + "\x09" + "cut";
  auto read = NetService::dictionaryFromTXTRecordData(ns::Data(record));
  EXPECT_EQ(read.count(), 2u);
  EXPECT_EQ(read["flag"], ns::Value(ns::Data()));
  EXPECT_EQ(read["a"], ns::Value(ns::Data("1")));

  // A service takes only well-formed records.
  auto service = ns::make<NetService>("local.", "_pelorin-test._tcp.", "n", 1);
  EXPECT_FALSE(
      service->setTXTRecordData(ns::Data(std::string("\x05"
                                                     "abc"))));
  EXPECT_EQ(service->TXTRecordData(), std::nullopt);
  EXPECT_TRUE(
      service->setTXTRecordData(ns::Data(std::string("\x03"
                                                     "a=1"))));
  EXPECT_EQ(service->TXTRecordData(), ns::Data(std::string("\x03"
                                                           "a=1")));
}

// Records the callbacks with the thread each came on.
class ServiceRecorder : public ns::NetServiceDelegate {
 public:
  struct Call {
    std::string what;
    ns::Dictionary error = {};
    bool onMain = false;
    ns::Ref<ns::Thread> thread = nullptr;
  };
  void netServiceWillPublish(const ns::Ref<NetService>&) override { add({"will", {}}); }
  void netServiceDidPublish(const ns::Ref<NetService>&) override { add({"did", {}}); }
  void netService_didNotPublish(const ns::Ref<NetService>&, const ns::Dictionary& error) override {
    add({"not", error});
  }
  void netServiceDidStop(const ns::Ref<NetService>&) override { add({"stop", {}}); }

  bool waitFor(const std::string& what, std::size_t count = 1) {
    return monitor_.waitFor(
        [&] {
          return std::size_t(std::count_if(calls_.begin(), calls_.end(),
                                           [&](const Call& c) { return c.what == what; })) >= count;
        },
        std::chrono::seconds(120));
  }
  std::vector<Call> calls() {
    return monitor_.with([&] { return calls_; });
  }

 private:
  void add(Call call) {
    call.onMain = ns::Thread::isMainThread();
    call.thread = ns::Thread::currentThread();
    monitor_.change([&] { calls_.push_back(std::move(call)); });
  }
  pltest::Monitor monitor_;
  std::vector<Call> calls_;
};

TEST(NetServicePublishing, WithNoDaemonThePublicationFailsOnTheCallersRunLoop) {
  pltest::Sandbox sandbox;
  pltest::PrivateAvahi::reachNoDaemon(sandbox);
  auto recorder = std::make_shared<ServiceRecorder>();
  auto service = ns::make<NetService>("local.", "_pelorin-test._tcp.", "lonely", 4242);
  service->setDelegate(recorder);
  service->publish();
  // Nothing is called back inside publish itself.
  EXPECT_TRUE(recorder->calls().empty());
  ASSERT_TRUE(pltest::pumpUntil([&] { return recorder->calls().size() >= 2; }));
  auto calls = recorder->calls();
  EXPECT_EQ(calls[0].what, "will");
  EXPECT_EQ(calls[1].what, "not");
  EXPECT_TRUE(calls[1].onMain);
  EXPECT_EQ(calls[1].error[ns::NetServicesErrorCode], ns::Value(ns::NetServicesUnknownError));
  EXPECT_EQ(calls[1].error[ns::NetServicesErrorDomain], ns::Value(ns::NetServicesErrorDomainNetServices));
  EXPECT_EQ(service->name(), "lonely");
  // Once failed it may publish again, and fails again.
  service->publish();
  ASSERT_TRUE(pltest::pumpUntil([&] { return recorder->calls().size() >= 4; }));
  EXPECT_EQ(recorder->calls()[3].what, "not");
}

TEST(NetServicePublishing, CallbacksComeOnTheScheduledThreadAndAnEmptyNameIsTheHosts) {
  pltest::Sandbox sandbox;
  pltest::PrivateAvahi avahi(sandbox);
  if (auto why = avahi.unavailable()) GTEST_SKIP() << "no private avahi-daemon here: " << *why;
  auto thread = ns::Thread::detachNewThreadWithRunLoop("NetServiceTest");
  auto recorder = std::make_shared<ServiceRecorder>();
  // The computer's name is the daemon's host name, which no other process shares.
  auto service = ns::make<NetService>("local.", "_pelorin-test._tcp.", "", 4243);
  service->setDelegate(recorder);
  service->scheduleInRunLoop_forMode(thread->runLoop(), ns::DefaultRunLoopMode);
  // Called from this thread, carried out on the scheduled one.
  service->publish();
  ASSERT_TRUE(recorder->waitFor("did")) << avahi.log();
  EXPECT_TRUE(avahi.hostNameMatches(service->name())) << service->name();
  // A second publish while the first one stands is refused.
  service->publish();
  ASSERT_TRUE(recorder->waitFor("not"));
  service->stop();
  ASSERT_TRUE(recorder->waitFor("stop"));
  for (const auto& call : recorder->calls()) {
    EXPECT_EQ(call.thread, thread) << call.what;
    if (call.what == "not") {
      EXPECT_EQ(call.error[ns::NetServicesErrorCode], ns::Value(ns::NetServicesActivityInProgress));
    }
  }
  std::vector<std::string> order;
  for (const auto& call : recorder->calls()) order.push_back(call.what);
  EXPECT_EQ(order, (std::vector<std::string>{"will", "did", "not", "stop"}));

  // A type the daemon refuses fails with a bad-argument error.
  auto bad = ns::make<NetService>("local.", "not a type", "x", 4244);
  auto badRecorder = std::make_shared<ServiceRecorder>();
  bad->setDelegate(badRecorder);
  bad->scheduleInRunLoop_forMode(thread->runLoop(), ns::DefaultRunLoopMode);
  bad->publish();
  ASSERT_TRUE(badRecorder->waitFor("not"));
  EXPECT_EQ(badRecorder->calls().back().error[ns::NetServicesErrorCode],
            ns::Value(ns::NetServicesBadArgumentError));
  thread->cancel();
  thread->waitUntilFinished(10);
}

}  // namespace
