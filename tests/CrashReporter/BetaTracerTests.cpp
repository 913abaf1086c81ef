// Beta build checks against the fake service on the virtual clock, and the notification tracer.
#include <set>

#include <gtest/gtest.h>

#include "CrashReporter/CRSBetaController.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSTracer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URL.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/CrashReporter/ReporterFixtures.h"

namespace {

namespace fs = std::filesystem;
using crstest::Kind;

class BetaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path bundle = sandbox_.temporaryFolder("bundle");
    crstest::writeInfoPlist(bundle, {{"CrashReporterSignedForDistribution", true}});
    ns::Bundle::setMainBundlePathForTesting(bundle.string());
    client_ = CRSBetaClient::initWithURL(ns::URL::URLWithString(""));
    client_->setDelegate(clientDelegate_);
    controller_ = ns::make<CRSBetaController>();
    controller_->setBetaClient(client_);
    controller_->setSettings(
        CRSSettings::initWithCachePath_settingsDictionary("", service_.settingsFixture()));
  }
  void TearDown() override { ns::Bundle::setMainBundlePathForTesting(std::nullopt); }
  std::size_t checks() const { return crstest::requestsOf(service_, Kind::Beta).size(); }
  bool waitFor(const std::function<bool()>& condition) { return pltest::pumpUntil(condition, 30); }

  pltest::Sandbox sandbox_;
  pltest::VirtualClock clock_;
  testsupport::FakeCrashService service_{crstest::kAPIKey, crstest::kBundleId};
  std::shared_ptr<crstest::ClientDelegateDouble> clientDelegate_ =
      std::make_shared<crstest::ClientDelegateDouble>();
  ns::Ref<CRSBetaClient> client_;
  ns::Ref<CRSBetaController> controller_;
};

TEST_F(BetaTest, AFailedCheckIsRetriedAfterFifteenMinutes) {
  service_.setBetaReply(pltest::FakeReply::text(503, "busy"));
  ASSERT_TRUE(controller_->shouldGetUpdates());
  controller_->checkForUpdate();
  ASSERT_TRUE(waitFor([&] { return controller_->isRetrying(); }));
  controller_->checkForUpdate();  // waits for the retry
  controller_->checkForUpdate();
  clock_.advance(899);
  EXPECT_TRUE(controller_->isRetrying());
  EXPECT_EQ(checks(), 1u);
  service_.setBetaReply(testsupport::FakeCrashService::plistReply(ns::Dictionary{}));
  clock_.advance(1);
  ASSERT_TRUE(waitFor([&] { return checks() == 2 && controller_->checksSuspended(); })) << checks();
  EXPECT_FALSE(controller_->isRetrying());
  EXPECT_EQ(controller_->update(), nullptr);
}

TEST_F(BetaTest, AnAnswerSuspendsChecksAndAnAnswerWithoutURLKeepsTheUpdate) {
  service_.setBetaReply(testsupport::FakeCrashService::plistReply(
      ns::Dictionary{{"url", "https://example.com/build/8"}, {"version_string", "8"}}));
  controller_->checkForUpdate();
  ASSERT_TRUE(waitFor([&] { return controller_->checksSuspended() && controller_->update(); }));
  auto update = controller_->update();
  ASSERT_NE(update, nullptr);
  EXPECT_EQ(update->url()->absoluteString(), "https://example.com/build/8");
  EXPECT_EQ(update->version(), "8");
  EXPECT_EQ(update->promptTitle(), "New Build Available");
  EXPECT_EQ(update->promptMessage(), "A new version of Pelorin is available for testing.");
  EXPECT_EQ(update->installLabel(), "Install");
  EXPECT_FALSE(controller_->shouldGetUpdates());
  controller_->checkForUpdate();  // suspended: no request

  clock_.advance(3599);
  EXPECT_TRUE(controller_->checksSuspended());
  clock_.advance(1);
  EXPECT_FALSE(controller_->checksSuspended());
  EXPECT_EQ(checks(), 1u);

  service_.setBetaReply(testsupport::FakeCrashService::plistReply(ns::Dictionary{{"version_string", "9"}}));
  controller_->checkForUpdate();
  ASSERT_TRUE(waitFor([&] { return checks() == 2 && controller_->checksSuspended(); }));
  EXPECT_EQ(controller_->update(), update);
}

TEST_F(BetaTest, NothingIsAskedWithoutTheDistributionFlag) {
  fs::path bundle = sandbox_.temporaryFolder("plain");
  crstest::writeInfoPlist(bundle, {{"CrashReporterSignedForDistribution", false}});
  ns::Bundle::setMainBundlePathForTesting(bundle.string());
  EXPECT_FALSE(controller_->shouldGetUpdates());
  controller_->checkForUpdate();
  EXPECT_FALSE(controller_->isRetrying());
  EXPECT_EQ(checks(), 0u);
}

class TracerTest : public ::testing::Test {
 protected:
  void TearDown() override { CRSSetDebugModeEnabled(false); }
  pltest::Sandbox sandbox_;
};

TEST_F(TracerTest, AnUnopenablePathGivesNoTracer) {
  EXPECT_EQ(CRSTracer::initWithPath((sandbox_.root() / "missing" / "trace.txt").string()), nullptr);
  EXPECT_EQ(CRSTracer::initWithPath(sandbox_.root().string()), nullptr);  // a folder
}

TEST_F(TracerTest, EachObservedNotificationIsTracedOnce) {
  CRSSetDebugModeEnabled(true);
  pltest::LogCapture log(true);
  fs::path path = sandbox_.root() / "trace.txt";
  std::ofstream(path) << "stale";
  auto tracer = CRSTracer::initWithPath(path.string());
  ASSERT_NE(tracer, nullptr);
  auto center = ns::NotificationCenter::defaultCenter();
  center->postNotificationName_object("NSApplicationDidBecomeActiveNotification");
  center->postNotificationName_object("NSApplicationDidUnhideNotification");
  center->postNotificationName_object("SomethingElse");
  center->postNotificationName_object("NSWindowDidEndSheetNotification");  // the last one traced
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return crstest::readFile(path).find("NSWindowDidEndSheetNotification") != std::string::npos; },
      30));
  std::string trace = crstest::readFile(path);
  EXPECT_EQ(trace.find("stale"), std::string::npos);
  EXPECT_NE(trace.find("[CrashReporter] Tracer: NSApplicationDidBecomeActiveNotification\n"),
            std::string::npos);
  auto first = trace.find("NSApplicationDidUnhideNotification");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(trace.find("NSApplicationDidUnhideNotification", first + 1), std::string::npos);
  EXPECT_EQ(trace.find("SomethingElse"), std::string::npos);
  EXPECT_TRUE(log.contains("[CrashReporter] Tracer: NSApplicationDidBecomeActiveNotification"));

  const auto& names = CRSTracer::observedNotificationNames();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
}

TEST_F(TracerTest, OutsideDebugModeNothingIsWritten) {
  fs::path path = sandbox_.root() / "quiet.txt";
  auto tracer = CRSTracer::initWithPath(path.string());
  ASSERT_NE(tracer, nullptr);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      "NSApplicationDidBecomeActiveNotification");
  dispatch::sync(tracer->queue(), [] {});
  EXPECT_EQ(crstest::readFile(path), "");
}

}  // namespace
