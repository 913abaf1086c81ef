// The analytics controller on real folders with the fake crash-reporting service on loopback and
// the virtual clock: events in the open fragment, the previous run's crash, settings that switch
// analytics off, maintenance cycles, packaging, pruning and upload. A controller needs the
// initialised crash context, which a process makes once, so each scenario runs in a child. The
// children wait for cycles without running any run loop.
#include <sys/wait.h>

#include <future>
#include <random>

#include <gtest/gtest.h>

#include "CrashReporter/CRSAnalyticsController.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/AnalyticsFixtures.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/CrashReporter/ReporterFixtures.h"

namespace {

namespace fs = std::filesystem;
using crstest::findNamed;
using crstest::Kind;
using crstest::parseLog;
using crstest::readFile;
using crstest::writeFile;
using Result = std::optional<ns::Error>;

struct ControllerChild {
  pltest::Sandbox sandbox;
  pltest::VirtualClock clock;
  testsupport::FakeCrashService service{crstest::kAPIKey, crstest::kBundleId};
  std::shared_ptr<crstest::ClientDelegateDouble> delegate = std::make_shared<crstest::ClientDelegateDouble>();
  ns::Ref<CRSSettingsClient> client =
      CRSSettingsClient::initWithURL(ns::URL::URLWithString(service.baseURL()));
  fs::path root = sandbox.cacheHome() / "analytics";
  ns::Ref<CRSAnalyticsController> controller;

  ControllerChild() {
    crstest::initialiseContextIn(sandbox.temporaryFolder("crash"));
    client->setDelegate(delegate);
  }

  void make(const std::string& session = "SESSION") {
    controller = CRSAnalyticsController::
        initWithSettingsClient_sessionIdentifier_analyticsRootDirectoryWithURL_identifierGenerator_timestampGenerator(
            client, session, root.string(), ns::make<CRSAnalyticsIdentifierGenerator>(),
            ns::make<CRSAnalyticsTimestampGenerator>());
    ASSERT_TRUE(controller);
  }

  // Settings with analytics on or off, an analytics URL and a pending-file limit when given.
  ns::Ref<CRSSettings> settings(bool collect, std::optional<std::string> url,
                                std::optional<int> maxPending = std::nullopt, int maxBytes = 0) {
    ns::Dictionary analytics{{"flush_interval_secs", 600}};
    if (url) analytics.set("url", *url);
    if (maxPending) analytics.set("max_pending_send_file_count", *maxPending);
    if (maxBytes) analytics.set("max_byte_size_per_file", maxBytes);
    ns::Dictionary dictionary{{"settings_version", 2},
                              {"features", ns::Dictionary{{"collect_analytics", collect}}},
                              {"analytics", analytics}};
    return CRSSettings::initWithCachePath_settingsDictionary(sandbox.path("settings.plist"), dictionary);
  }

  // Lets the work queued so far on the controller's queues finish.
  void settle() {
    for (int round = 0; round < 2; ++round) {
      dispatch::sync(controller->sessionMaintenanceQueue(), [] {});
      for (std::uint64_t p = 0; p < 3; ++p) dispatch::sync(controller->priorityEventLoggingQueue(p), [] {});
    }
  }

  // Runs a step to its completion, waiting without a run loop.
  template <class Step>
  Result run(Step step) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    step([promise](const Result& error) { promise->set_value(error); });
    if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the step did not finish";
      return ns::Error("timeout", 0);
    }
    return future.get();
  }
  Result cycle() {
    return run([this](auto done) { controller->maintainSessionFragments(done); });
  }

  fs::path openFragment() const { return *controller->currentSessionFragmentDirectoryURL(); }
};

bool passedInChild(const std::string& name) {
  int status = pltest::runChildTest("AnalyticsChild.DISABLED_" + name);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void expectCode(const Result& error, const char* domain, long code) {
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), domain);
  EXPECT_EQ(error->code(), code);
}

// ---- children ----

TEST(AnalyticsChild, DISABLED_EventsGoIntoTheOpenFragment) {
  ControllerChild f;
  f.make();
  f.controller->logAppInstalled();
  f.controller->logAppLaunched();
  f.controller->logEvent(CRSEventLogEvent::initWithPriority_timestamp_key(3, 1, "dropped"));
  f.controller->logEvent(CRSEventLogEvent::initWithPriority_timestamp_key(2, 7, "later"));
  f.settle();

  fs::path fragment = f.openFragment();
  std::string sessionFolder = fragment.parent_path().filename().string();
  EXPECT_EQ(sessionFolder, std::to_string(f.controller->sessionTimestamp()) + "_SESSION");
  EXPECT_EQ(fragment.parent_path().parent_path(), f.root / "v1/ACTIVE");
  EXPECT_EQ(crstest::entries(fragment), (std::vector<std::string>{"0.log", "1.log", "2.log"}));

  bool damaged = true;
  auto high = parseLog(readFile(fragment / "0.log"), &damaged);
  EXPECT_FALSE(damaged);
  ASSERT_EQ(high.size(), 2u);
  EXPECT_EQ(high[0].key, "metadata");
  EXPECT_EQ(high[0].timestamp,
            fragment.filename().string().substr(0, fragment.filename().string().find('_')));
  ns::Value metadata = ns::JSONSerialization::JSONObjectWithString(high[0].payload.value_or(""));
  ASSERT_TRUE(metadata.isDictionary());
  EXPECT_EQ(metadata["generator"].stringValue(), CRSGenerator);
  EXPECT_EQ(metadata["session_id"].stringValue(), "CONTEXT-SESSION");
  EXPECT_EQ(metadata["config"].stringValue(), "Debug");
  EXPECT_EQ(metadata.dictionary().allKeys().front().stringValue(), "generator");
  EXPECT_EQ(high[1].key, "app_installed");
  ns::Value payload = ns::JSONSerialization::JSONObjectWithString(high[1].payload.value_or(""));
  EXPECT_EQ(payload["eventId"].stringValue().size(), 36u);

  auto medium = parseLog(readFile(fragment / "1.log"));
  ASSERT_EQ(medium.size(), 2u);
  EXPECT_EQ(medium[0].key, "metadata");
  EXPECT_EQ(medium[1].key, "app_launched");
  auto low = parseLog(readFile(fragment / "2.log"));
  ASSERT_EQ(low.size(), 2u);
  EXPECT_EQ(low[1].key, "later");
  EXPECT_TRUE(findNamed(f.root, "3.log").empty());

  // This run is the last session for the next one.
  auto defaults = ns::UserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults->stringForKey(CRSLastSessionIdentifierKey), "SESSION");
  EXPECT_EQ(defaults->objectForKey(CRSLastSessionTimestampKey).unsignedLongLongValue(),
            f.controller->sessionTimestamp());
}

TEST(AnalyticsChild, DISABLED_APreviousCrashLandsInThePreviousSession) {
  ControllerChild f;
  auto defaults = ns::UserDefaults::standardUserDefaults();
  std::string previousMetadata = R"({"session_id":"PREV"})";
  defaults->setObject_forKey(ns::Value("PREV"), CRSLastSessionIdentifierKey);
  defaults->setObject_forKey(ns::Value(1000ull), CRSLastSessionTimestampKey);
  defaults->setObject_forKey(ns::Value(ns::Data(previousMetadata)), CRSLastSessionMetadataKey);
  f.make();
  EXPECT_EQ(f.controller->lastSessionIdentifier(), "PREV");
  f.controller->logPreviousSessionCrashedOnDate(ns::Date::dateWithTimeIntervalSince1970(1234567.7));
  f.controller->logPreviousSessionCrashedOnDate(std::nullopt);  // no date: nothing
  f.settle();

  auto logs = findNamed(f.root / "v1/ACTIVE/1000_PREV", "1.log");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].parent_path().filename().string().rfind("1234567000_", 0), 0u);
  auto records = parseLog(readFile(logs[0]));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].key, "metadata");
  EXPECT_EQ(records[0].timestamp, "1234567000");
  EXPECT_EQ(records[0].payload, previousMetadata);
  EXPECT_EQ(records[1].key, "app_crashed");
  EXPECT_EQ(records[1].timestamp, "1234567000");
}

TEST(AnalyticsChild, DISABLED_SettingsThatSwitchAnalyticsOffRemoveTheFolder) {
  ControllerChild f;
  f.make();
  f.controller->logAppLaunched();
  f.settle();
  ASSERT_TRUE(fs::exists(f.openFragment() / "1.log"));
  f.controller->setSettings(f.settings(false, f.service.analyticsURL()));
  f.settle();
  EXPECT_FALSE(f.controller->analyticsFeatureSwitchEnabled());
  EXPECT_FALSE(fs::exists(f.root));
  f.controller->logAppLaunched();
  f.controller->logPreviousSessionCrashedOnDate(ns::Date::now());
  f.settle();
  EXPECT_FALSE(fs::exists(f.root));
}

TEST(AnalyticsChild, DISABLED_AMaintenanceCycleAgainstTheService) {
  ControllerChild f;
  f.make();
  std::mt19937 random(11);
  std::string blob(1 << 20, '\0');
  for (auto& c : blob) c = static_cast<char>(random());
  f.controller->logEvent(
      CRSEventLogEvent::initWithPriority_timestamp_key_payload(1, 5, "blob", ns::Data(blob)));
  f.controller->logAppLaunched();
  f.settle();
  fs::path first = f.openFragment();
  std::string original = readFile(first / "1.log");
  ASSERT_EQ(parseLog(original).size(), 3u);

  f.controller->setSettings(f.settings(true, f.service.analyticsURL(), 100));
  f.settle();
  f.clock.advance(100);  // nothing is in flight; the cycle's date differs from the scheduling's
  f.service.setAnalyticsReply(pltest::FakeReply::text(413, "too large"));
  EXPECT_FALSE(f.cycle());

  auto uploads = crstest::requestsOf(f.service, Kind::Analytics);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].raw.method, "POST");
  EXPECT_EQ(uploads[0].raw.header("X-CRASHREPORTER-API-KEY"), crstest::kAPIKey);
  ASSERT_EQ(uploads[0].parts.size(), 1u);
  const auto* part = uploads[0].part("1.log.zip");
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->fileName, "1.log.zip");
  EXPECT_EQ(part->headers.get("Content-Type"), "application/vnd.crashreporter.ios.events");
  EXPECT_EQ(crstest::gunzip(part->body), original);

  // A 413 keeps the packaged fragment; the new fragment is open in ACTIVE.
  auto packaged = findNamed(f.root / "v1/PACKAGED", "1.log.zip");
  ASSERT_EQ(packaged.size(), 1u);
  EXPECT_EQ(packaged[0].parent_path().filename(), first.filename());
  EXPECT_EQ(crstest::gunzip(readFile(packaged[0])), original);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_NE(f.openFragment(), first);
  EXPECT_TRUE(fs::is_directory(f.openFragment()));
  ns::Value stored = ns::UserDefaults::standardUserDefaults()->objectForKey(CRSLastMaintenanceDateKey);
  ASSERT_TRUE(stored.isDate());
  EXPECT_NEAR(stored.date().timeIntervalSince1970(), ns::Date::now().timeIntervalSince1970(), 1.0);

  // A 200 removes it.
  f.service.setAnalyticsReply(pltest::FakeReply::text(200, ""));
  EXPECT_FALSE(f.cycle());
  EXPECT_EQ(crstest::requestsOf(f.service, Kind::Analytics).size(), 2u);
  EXPECT_TRUE(findNamed(f.root, "1.log.zip").empty());
  EXPECT_FALSE(fs::exists(f.root / "v1/PACKAGED"));
}

TEST(AnalyticsChild, DISABLED_ASecondCycleWhileUploadsRunStillFinishes) {
  ControllerChild f;
  f.make();
  f.controller->logAppLaunched();
  f.controller->setSettings(f.settings(true, f.service.analyticsURL(), 100));
  f.settle();
  CRSSetDebugModeEnabled(true);
  pltest::LogCapture log(true);
  auto first = std::make_shared<std::promise<Result>>();
  auto second = std::make_shared<std::promise<Result>>();
  f.controller->maintainSessionFragments([first](const Result& e) { first->set_value(e); });
  f.controller->maintainSessionFragments([second](const Result& e) { second->set_value(e); });
  auto secondDone = second->get_future();
  auto firstDone = first->get_future();
  ASSERT_EQ(secondDone.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  ASSERT_EQ(firstDone.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  CRSSetDebugModeEnabled(false);
  EXPECT_TRUE(
      log.contains("[CrashReporter] Unable to transmit packaged session fragments {Error "
                   "Domain=CRSAnalyticsControllerErrorDomain "
                   "Code=-1"));
  EXPECT_EQ(crstest::requestsOf(f.service, Kind::Analytics).size(), 1u);
  EXPECT_TRUE(findNamed(f.root, "1.log.zip").empty());
}

TEST(AnalyticsChild, DISABLED_WithoutAnAnalyticsURLFragmentsAccumulate) {
  ControllerChild f;
  f.make();
  f.controller->setSettings(f.settings(true, std::nullopt));
  f.controller->logAppLaunched();
  f.settle();
  expectCode(f.run([&](auto done) { f.controller->transmitPackagedSessionFragments(done); }),
             CRSAnalyticsControllerErrorDomain, -2);
  EXPECT_FALSE(f.cycle());
  f.controller->logAppLaunched();
  f.settle();
  EXPECT_FALSE(f.cycle());
  // No limit in the settings: nothing is pruned either.
  EXPECT_EQ(findNamed(f.root / "v1/PACKAGED", "1.log.zip").size(), 2u);
  EXPECT_TRUE(crstest::requestsOf(f.service, Kind::Analytics).empty());
}

TEST(AnalyticsChild, DISABLED_AFileOverTheSizeLimitStartsMaintenance) {
  ControllerChild f;
  f.make();
  f.controller->logAppLaunched();
  f.settle();
  fs::path first = f.openFragment();
  int limit = static_cast<int>(fs::file_size(first / "1.log")) + 100;
  f.controller->setSettings(f.settings(true, std::nullopt, std::nullopt, limit));
  f.controller->logEvent(CRSEventLogEvent::initWithPriority_timestamp_key_payload(
      1, 8, "small", ns::Data(std::string(50, 's'))));
  f.settle();
  EXPECT_EQ(f.openFragment(), first);  // still under the limit
  f.controller->logEvent(
      CRSEventLogEvent::initWithPriority_timestamp_key_payload(1, 9, "big", ns::Data(std::string(500, 'b'))));
  f.settle();
  EXPECT_NE(f.openFragment(), first);
  auto packaged = findNamed(f.root / "v1/PACKAGED", "1.log.zip");
  ASSERT_EQ(packaged.size(), 1u);
  auto records = parseLog(crstest::gunzip(readFile(packaged[0])).value_or(""));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].key, "big");
}

TEST(AnalyticsChild, DISABLED_AnUnreadableLogDoesNotHoldUpTheNextFragment) {
  ControllerChild f;
  f.make();
  f.controller->setSettings(f.settings(true, std::nullopt));
  f.settle();
  fs::path active = f.root / "v1/ACTIVE/1_S";
  fs::create_directories(active / "10_A/0.log");  // reads fail
  writeFile(active / "10_A/0.log/inner", "x");
  writeFile(active / "10_A/1.log", "1\tk\n");
  writeFile(active / "20_B/1.log", "2\tk\n");
  Result error = f.run([&](auto done) { f.controller->packageClosedSessionFragments(done); });
  EXPECT_TRUE(error);
  EXPECT_EQ(crstest::gunzip(readFile(f.root / "v1/PACKAGED/1_S/20_B/1.log.zip")), "2\tk\n");
  EXPECT_FALSE(fs::exists(active / "20_B"));
  EXPECT_TRUE(fs::exists(active / "10_A/1.log"));
  EXPECT_FALSE(fs::exists(f.root / "v1/PACKAGED/1_S/10_A"));
  // The open fragment is never packaged.
  EXPECT_TRUE(fs::is_directory(f.openFragment()));
}

TEST(AnalyticsChild, DISABLED_PruningRemovesTheLeastImportantOldestFiles) {
  ControllerChild f;
  f.make();
  f.controller->setSettings(f.settings(true, std::nullopt, 4));
  f.settle();
  fs::path v1 = f.root / "v1";
  std::vector<fs::path> files = {v1 / "ACTIVE/1_S/10_F/0.log", v1 / "ACTIVE/1_S/10_F/2.log",
                                 v1 / "PACKAGED/1_S/5_E/1.log.zip", v1 / "PACKAGED/1_S/5_E/2.log.zip",
                                 v1 / "PACKAGED/1_S/20_G/2.log.zip"};
  for (const auto& file : files) writeFile(file, "x");
  EXPECT_FALSE(f.run([&](auto done) { f.controller->pruneSessionFragmentLogFiles(done); }));
  for (const auto& file : files) EXPECT_EQ(fs::exists(file), file != files[1]) << file;

  // Settings that name no limit prune nothing.
  f.controller->setSettings(f.settings(true, std::nullopt));
  f.settle();
  EXPECT_FALSE(f.run([&](auto done) { f.controller->pruneSessionFragmentLogFiles(done); }));
  EXPECT_EQ(findNamed(v1, "2.log.zip").size(), 2u);
  EXPECT_TRUE(fs::exists(files[0]));

  // Files of unknown priority count but are never removed: when only they are left over the
  // limit, pruning gives up.
  writeFile(v1 / "ACTIVE/1_S/10_F/notes.log", "x");
  writeFile(v1 / "ACTIVE/1_S/10_F/9.log", "x");
  f.controller->setSettings(f.settings(true, std::nullopt, 1));
  f.settle();
  expectCode(f.run([&](auto done) { f.controller->pruneSessionFragmentLogFiles(done); }),
             CRSAnalyticsControllerErrorDomain, -3);
  EXPECT_TRUE(findNamed(v1, "2.log.zip").empty());
  EXPECT_TRUE(findNamed(v1, "1.log.zip").empty());
  EXPECT_FALSE(fs::exists(files[0]));
  EXPECT_TRUE(fs::exists(v1 / "ACTIVE/1_S/10_F/notes.log"));
  EXPECT_TRUE(fs::exists(v1 / "ACTIVE/1_S/10_F/9.log"));
}

// ---- the upload request ----

TEST(AnalyticsUpload, AnswersAndRefusals) {
  pltest::Sandbox sandbox;
  testsupport::FakeCrashService service{crstest::kAPIKey, crstest::kBundleId};
  auto delegate = std::make_shared<crstest::ClientDelegateDouble>();
  auto client = CRSSettingsClient::initWithURL(ns::URL::URLWithString(service.baseURL()));
  client->setDelegate(delegate);
  fs::path folder = sandbox.temporaryFolder("upload");
  writeFile(folder / "0.log.zip", "zero");
  writeFile(folder / "2.log.zip", "two");
  auto submit = [&](std::vector<std::string> paths, ns::Ref<ns::URL> url) {
    crstest::Completion<Result> completion;
    client->submitEventLogFilesAtPaths_toURL_completion(paths, url, completion.handler());
    EXPECT_TRUE(completion.wait());
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_TRUE(dispatch::isGlobalQueueLabel(completion.label())) << completion.label();
    return std::get<0>(completion.result());
  };
  auto url = ns::URL::URLWithString(service.analyticsURL());
  std::vector<std::string> both = {(folder / "0.log.zip").string(), (folder / "2.log.zip").string()};

  EXPECT_FALSE(submit(both, url));
  auto seen = crstest::requestsOf(service, Kind::Analytics);
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(seen[0].parts.size(), 2u);
  EXPECT_EQ(seen[0].part("2.log.zip")->body, "two");
  EXPECT_EQ(seen[0].part("0.log.zip")->fileName, "0.log.zip");

  struct {
    int status;
    long code;
  } answers[] = {{413, -5}, {400, -5}, {500, -6}};
  for (const auto& a : answers) {
    service.setAnalyticsReply(pltest::FakeReply::text(a.status, ""));
    expectCode(submit(both, url), CRSClientErrorDomain, a.code);
  }
  std::size_t sent = service.requests().size();
  EXPECT_FALSE(submit({}, url));
  expectCode(submit(both, nullptr), CRSClientErrorDomain, -3);
  expectCode(submit({(folder / "missing.log.zip").string()}, url), CRSClientErrorDomain, -4);
  EXPECT_EQ(service.requests().size(), sent);
}

// ---- parents ----

struct Scenario {
  const char* name;
};

class Analytics : public ::testing::TestWithParam<Scenario> {};

TEST_P(Analytics, PassesInAChild) {
  EXPECT_TRUE(passedInChild(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Analytics,
                         ::testing::Values(Scenario{"EventsGoIntoTheOpenFragment"},
                                           Scenario{"APreviousCrashLandsInThePreviousSession"},
                                           Scenario{"SettingsThatSwitchAnalyticsOffRemoveTheFolder"},
                                           Scenario{"AMaintenanceCycleAgainstTheService"},
                                           Scenario{"ASecondCycleWhileUploadsRunStillFinishes"},
                                           Scenario{"WithoutAnAnalyticsURLFragmentsAccumulate"},
                                           Scenario{"AFileOverTheSizeLimitStartsMaintenance"},
                                           Scenario{"AnUnreadableLogDoesNotHoldUpTheNextFragment"},
                                           Scenario{"PruningRemovesTheLeastImportantOldestFiles"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
