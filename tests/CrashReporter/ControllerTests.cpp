// The reporter controller in this process, on the virtual clock, against the fake service: the
// settings flow, onboarding, processing of real crash records, submission with its retries, and
// the permission prompt answered by the scripted answerer.
#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSDKController.h"
#include "CrashReporter/CRSSettings.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URL.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/CrashReporter/ReporterFixtures.h"

namespace {

namespace fs = std::filesystem;
using crstest::Kind;

// Tests of records from real crashes; ThreadSanitizer keeps the crash signals.
#define SKIP_WITHOUT_CRASHES() \
  if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer"

class ControllerDelegate : public CRSSDKControllerDelegate {
 public:
  std::atomic<int> loadedSettings{0};
  void controllerCompletedSubmissions(const ns::Ref<CRSSDKController>&) override {}
  void controller_willProcessFile(const ns::Ref<CRSSDKController>&, CRSCrashFile&) override {}
  void controller_collectProcesses(const ns::Ref<CRSSDKController>&, bool) override {}
  void controllerDidLoadSettings(const ns::Ref<CRSSettings>&) override { ++loadedSettings; }
};

// One run of the controller: its settings client, its delegate, its folders.
struct ReporterRun {
  explicit ReporterRun(const std::string& endpoint) {
    controller = ns::make<CRSSDKController>();
    controller->setDelegate(delegate);
    client = CRSSettingsClient::initWithURL(ns::URL::URLWithString(endpoint));
    client->setDelegate(clientDelegate);
    controller->setSettingsClient(client);
  }
  fs::path folder(const char* name = nullptr) const {
    fs::path crash = controller->crashFileDirectory();
    return name ? crash / name : crash;
  }
  std::shared_ptr<ControllerDelegate> delegate = std::make_shared<ControllerDelegate>();
  std::shared_ptr<crstest::ClientDelegateDouble> clientDelegate =
      std::make_shared<crstest::ClientDelegateDouble>();
  ns::Ref<CRSSettingsClient> client;
  ns::Ref<CRSSDKController> controller;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!usesApplication()) sandbox_ = std::make_unique<pltest::Sandbox>();
    sandbox().set("CrashReporterAPIEndpoint", service_.baseURL());
    run_ = std::make_unique<ReporterRun>(service_.baseURL());
    ASSERT_TRUE(run_->controller->setup());
  }
  // Debug mode is process-wide and makes every run reload its settings: it ends with its test.
  void TearDown() override { CRSSetDebugModeEnabled(false); }
  virtual bool usesApplication() const { return false; }
  virtual pltest::Sandbox& sandbox() { return *sandbox_; }

  // Settings cached as a fresh load would leave them, for this build.
  void cacheSettings(const ns::Dictionary& settings, ReporterRun& run) {
    std::string path = run.controller->settingsCachePath();
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(CRSSettings::writeSettings_toPath(settings, path));
    ns::UserDefaults::standardUserDefaults()->setObject_forKey(ns::Value(run.client->instanceIdentifier()),
                                                               CRSBuildInstanceIdentifierKey);
  }
  ns::Dictionary settingsWith(const char* section, const ns::Dictionary& values) {
    ns::Dictionary settings = service_.settingsFixture();
    ns::Dictionary part =
        settings[section].isDictionary() ? settings[section].dictionary() : ns::Dictionary{};
    for (const auto& [key, value] : values) part.set(key, value);
    settings.set(section, part);
    return settings;
  }
  void placeRecord(const std::string& name, ReporterRun& run) {
    crstest::placeRealRecord(sandbox().temporaryFolder("record-" + name), run.folder(), name);
  }
  std::size_t count(Kind kind) const { return crstest::requestsOf(service_, kind).size(); }
  bool waitFor(const std::function<bool()>& condition) { return pltest::pumpUntil(condition, 30); }
  // Moves the clock in small steps, letting the work each step sets off run.
  void advanceInSteps(double seconds) {
    for (double moved = 0; moved < seconds; moved += 0.5) {
      pltest::pumpUntil([] { return false; }, 0.02);
      ns::Clock::advance(0.5);
    }
  }

  std::unique_ptr<pltest::Sandbox> sandbox_;
  pltest::VirtualClock clock_;
  testsupport::FakeCrashService service_{crstest::kAPIKey, crstest::kBundleId};
  std::unique_ptr<ReporterRun> run_;
};

TEST_F(ControllerTest, ANewApplicationIsConfiguredAndNothingIsSentInThatRun) {
  SKIP_WITHOUT_CRASHES();
  placeRecord("r1", *run_);
  service_.setSettingsReply(
      testsupport::FakeCrashService::plistReply(settingsWith("app", {{"status", "new"}})));
  run_->controller->beginStartupFlowAfterDelay(1.0);
  ASSERT_TRUE(waitFor([&] { return count(Kind::Configure) == 1 && count(Kind::Settings) == 2; }));
  auto configure = crstest::requestsOf(service_, Kind::Configure)[0];
  EXPECT_EQ(configure.raw.method, "POST");
  advanceInSteps(5);
  EXPECT_EQ(count(Kind::Report), 0u);
  EXPECT_EQ(crstest::entriesWithExtension(run_->folder(), ".crsrecord"),
            std::vector<std::string>{"r1.crsrecord"});
}

TEST_F(ControllerTest, FreshCachedSettingsSkipTheRequestAndProcessingStartsAfterTheDelay) {
  SKIP_WITHOUT_CRASHES();
  cacheSettings(service_.settingsFixture(), *run_);
  placeRecord("r1", *run_);
  std::ofstream(run_->folder() / "session.crslog") << "this run's log";
  run_->controller->beginStartupFlowAfterDelay(1.0);
  EXPECT_EQ(run_->delegate->loadedSettings.load(), 1);
  clock_.advance(0.9);
  run_->controller->isRetrying();  // whatever was due ran
  EXPECT_TRUE(fs::exists(run_->folder() / "r1.crsrecord"));
  clock_.advance(0.1);
  ASSERT_TRUE(waitFor([&] {
    return count(Kind::Report) == 1 && run_->controller->retryInterval() == 10 &&
           crstest::entries(run_->folder("sendable")).empty();
  }));
  EXPECT_EQ(count(Kind::Settings), 0u);
  EXPECT_EQ(crstest::uploadedFileName(crstest::requestsOf(service_, Kind::Report)[0]), "r1.crs");
  EXPECT_EQ(crstest::readFile(run_->folder() / "session.crslog"), "this run's log");
  for (const char* folder : {"processing", "prepared", "invalid"})
    EXPECT_TRUE(crstest::entries(run_->folder(folder)).empty()) << folder;
}

TEST_F(ControllerTest, SettingsLoadedByARunThatEndedAtOnceAreUsedByTheNextStart) {
  // A run loads fresh settings and ends before its main thread comes back to its queue (quit or
  // killed right after, or busy until then).
  auto loaded = dispatch::semaphoreCreate(0);
  run_->controller->loadSettings([loaded] { dispatch::semaphoreSignal(loaded); });
  ASSERT_EQ(dispatch::semaphoreWait(loaded, dispatch::time(30)), 0);
  ASSERT_EQ(count(Kind::Settings), 1u);

  // The next start finds its settings valid for a day, for this build: it asks for none and goes
  // on with the report waiting to be sent.
  ReporterRun next(service_.baseURL());
  std::ofstream(next.folder("sendable") / "r.crs") << "report";
  next.controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Report) == 1 && crstest::entries(next.folder("sendable")).empty(); }));
  EXPECT_EQ(count(Kind::Settings), 1u);
}

TEST_F(ControllerTest, AFailedSettingsLoadIsRetriedAfterTenMinutes) {
  service_.setSettingsReply(pltest::FakeReply::text(500, "down"));
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor([&] { return run_->controller->isRetrying(); }));
  EXPECT_EQ(count(Kind::Settings), 1u);
  run_->controller->loadSettings(nullptr);  // dropped: a retry is already waiting
  clock_.advance(599);
  EXPECT_TRUE(run_->controller->isRetrying());
  EXPECT_EQ(count(Kind::Settings), 1u);
  service_.setSettingsReply(testsupport::FakeCrashService::plistReply(service_.settingsFixture()));
  clock_.advance(1);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Settings) == 2 && run_->delegate->loadedSettings.load() == 1; }));
  EXPECT_TRUE(fs::exists(run_->controller->settingsCachePath()));
  EXPECT_FALSE(run_->controller->isRetrying());
}

TEST_F(ControllerTest, SettingsOfTheWrongShapeAreRetriedAndChangeNothing) {
  cacheSettings(settingsWith("settings", {{"cache_duration", 1}}), *run_);
  clock_.advance(2);  // the cache is outdated: a load starts
  struct Case {
    const char* name;
    pltest::FakeReply reply;
  } cases[] = {
      {"an array", testsupport::FakeCrashService::plistReply(ns::Array{1, 2})},
      {"another version", testsupport::FakeCrashService::plistReply(ns::Dictionary{{"settings_version", 3}})},
      {"not a property list", pltest::FakeReply::text(200, "<html>", "text/html")},
  };
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor([&] { return run_->delegate->loadedSettings.load() == 2; }));
  for (auto& c : cases) {
    service_.setSettingsReply(c.reply);
    std::size_t loads = count(Kind::Settings);
    run_->controller->loadSettings(nullptr);
    ASSERT_TRUE(waitFor([&] { return run_->controller->isRetrying(); })) << c.name;
    EXPECT_EQ(count(Kind::Settings), loads + 1) << c.name;
    ASSERT_NE(run_->controller->settings(), nullptr) << c.name;
    // Nor does the answer replace the cache: the next start still reads the settings from it.
    EXPECT_NE(CRSSettings::initWithCachePath(run_->controller->settingsCachePath()), nullptr) << c.name;
    clock_.advance(600);
    ASSERT_TRUE(waitFor([&] { return count(Kind::Settings) == loads + 2 && run_->controller->isRetrying(); }))
        << c.name;
    // Back to a good answer so that the next case starts from a settled controller: the answer is
    // in use, not only asked for (a load still in flight would overlap the next case's).
    service_.setSettingsReply(testsupport::FakeCrashService::plistReply(service_.settingsFixture()));
    auto before = run_->controller->settings();
    clock_.advance(600);
    ASSERT_TRUE(waitFor([&] {
      return count(Kind::Settings) == loads + 3 && !run_->controller->isRetrying() &&
             run_->controller->settings() != before;
    })) << c.name;
  }
  EXPECT_EQ(run_->controller->settings()->reportsURL()->absoluteString(), service_.reportsURL());
}

TEST_F(ControllerTest, AnOversizedSettingsAnswerIsAFailedLoadAndTheCacheStays) {
  cacheSettings(settingsWith("settings", {{"cache_duration", 1}}), *run_);
  clock_.advance(2);  // the cache is outdated: a load starts
  const std::string cachePath = run_->controller->settingsCachePath();
  const std::string cached = crstest::readFile(cachePath);
  // A settings document valid in every way but its size, once with its length declared and once
  // sent in chunks without one.
  auto whole = testsupport::FakeCrashService::plistReply(
      settingsWith("app", {{"padding", std::string(CRSMaximumSettingsAnswerLength, 'x')}}));
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < whole.body.size(); at += 65536) parts.push_back(whole.body.substr(at, 65536));
  pltest::FakeReply replies[] = {whole, pltest::FakeReply::chunked(parts, "application/x-plist")};
  // Each answer is in place before the load that reads it starts.
  for (std::size_t i = 0; i < 2; ++i) {
    service_.setSettingsReply(replies[i]);
    if (i == 0) {
      run_->controller->beginStartupFlowAfterDelay(0);
    } else {
      clock_.advance(600);  // the retry of the failed load
    }
    ASSERT_TRUE(waitFor([&] { return count(Kind::Settings) == i + 1 && run_->controller->isRetrying(); }))
        << i;
    EXPECT_EQ(crstest::readFile(cachePath), cached) << i;
    ASSERT_NE(run_->controller->settings(), nullptr) << i;
    EXPECT_TRUE(run_->controller->settings()->appDictionary()["padding"].isNil()) << i;
    EXPECT_EQ(run_->delegate->loadedSettings.load(), 1) << i;
  }
  // An answer within the bound is taken at the next retry.
  service_.setSettingsReply(testsupport::FakeCrashService::plistReply(service_.settingsFixture()));
  clock_.advance(600);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Settings) == 3 && run_->delegate->loadedSettings.load() == 2; }));
  EXPECT_NE(crstest::readFile(cachePath), cached);
}

TEST_F(ControllerTest, BadRecordsGoOutAsInvalidRecords) {
  cacheSettings(service_.settingsFixture(), *run_);
  std::ofstream(run_->folder() / "big.crsrecord", std::ios::binary) << std::string(2000000, 'x');
  std::ofstream(run_->folder() / "big.crslog", std::ios::binary) << "log";
  std::ofstream(run_->folder() / "empty.crsrecord", std::ios::binary);
  std::ofstream(run_->folder() / "damaged.crsrecord", std::ios::binary)
      << "{\"identity\":{\"generator\":\n\x01\xff";
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Report) == 4 && crstest::entries(run_->folder("invalid")).empty(); }));
  std::map<std::string, std::string> sent;
  for (const auto& upload : crstest::requestsOf(service_, Kind::Report)) {
    EXPECT_TRUE(crstest::isInvalidUpload(upload));
    sent[crstest::uploadedFileName(upload)] = upload.part("report[file]")->body;
  }
  EXPECT_EQ(sent["big.crsrecord"], "Original file size: 2000000\n");
  EXPECT_EQ(sent["big.crslog"], "log");
  EXPECT_EQ(sent["empty.crsrecord"], "");
  EXPECT_EQ(sent.count("damaged.crsrecord"), 1u);
  for (const char* folder : {"processing", "prepared", "sendable"})
    EXPECT_TRUE(crstest::entries(run_->folder(folder)).empty()) << folder;
}

TEST_F(ControllerTest, ARejectedReportIsSentAgainAsAnInvalidRecord) {
  SKIP_WITHOUT_CRASHES();
  cacheSettings(service_.settingsFixture(), *run_);
  placeRecord("r1", *run_);
  service_.setReportReply(pltest::FakeReply::text(404, "no"));
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor([&] {
    return count(Kind::Report) == 2 && crstest::entries(run_->folder("invalid")).empty() &&
           crstest::entries(run_->folder("sendable")).empty();
  }));
  auto uploads = crstest::requestsOf(service_, Kind::Report);
  EXPECT_FALSE(crstest::isInvalidUpload(uploads[0]));
  EXPECT_TRUE(crstest::isInvalidUpload(uploads[1]));
  EXPECT_EQ(crstest::uploadedFileName(uploads[0]), "r1.crs");
  EXPECT_EQ(crstest::uploadedFileName(uploads[1]), "r1.crs");
  EXPECT_EQ(run_->controller->retryInterval(), 10u);
}

TEST_F(ControllerTest, TransportFailuresBackOffAndReloadTheSettings) {
  SKIP_WITHOUT_CRASHES();
  CRSSetDebugModeEnabled(true);  // the retry messages show the intervals
  pltest::LogCapture log(true);
  cacheSettings(service_.settingsFixture(), *run_);
  placeRecord("r1", *run_);
  service_.setReportReply(pltest::FakeReply::cutShort("partial", 100));
  run_->controller->beginStartupFlowAfterDelay(0);
  auto scheduled = [&] {
    auto messages = log.messages();
    return std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
      return m.find("[CrashReporter] Submission retry scheduled") != std::string::npos;
    });
  };
  ASSERT_TRUE(waitFor([&] { return count(Kind::Report) == 1 && scheduled() == 1; }));
  for (int wait : {10, 20, 40}) {
    std::size_t reports = count(Kind::Report), settings = count(Kind::Settings);
    clock_.advance(wait - 0.5);
    run_->controller->isRetrying();
    EXPECT_EQ(count(Kind::Report), reports) << wait;
    clock_.advance(0.5);
    ASSERT_TRUE(waitFor([&] {
      return count(Kind::Report) == reports + 1 && scheduled() == (wait == 40 ? 4 : wait / 10 + 1);
    })) << wait;
    EXPECT_EQ(count(Kind::Settings), settings + 1) << wait;
  }
  EXPECT_TRUE(log.contains("[CrashReporter] Submission retry scheduled (10)"));
  EXPECT_TRUE(log.contains("[CrashReporter] Submission retry scheduled (20)"));
  EXPECT_TRUE(log.contains("[CrashReporter] Submission retry scheduled (40)"));
  EXPECT_TRUE(log.contains("[CrashReporter] Submission retry scheduled (80)"));
  EXPECT_EQ(crstest::entries(run_->folder("sendable")), std::vector<std::string>{"r1.crs"});
}

TEST_F(ControllerTest, LeftoversOfAnInterruptedRunAreSentAsInvalid) {
  cacheSettings(service_.settingsFixture(), *run_);
  std::ofstream(run_->folder("processing") / "old.crs") << "half done";
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Report) == 1 && crstest::entries(run_->folder("invalid")).empty(); }));
  auto upload = crstest::requestsOf(service_, Kind::Report)[0];
  EXPECT_TRUE(crstest::isInvalidUpload(upload));
  EXPECT_EQ(crstest::uploadedFileName(upload), "old.crs");
  EXPECT_EQ(upload.part("report[file]")->body, "half done");
}

TEST_F(ControllerTest, AnUnreadableReportDoesNotHoldBackTheOthers) {
  cacheSettings(service_.settingsFixture(), *run_);
  fs::create_directory(run_->folder("sendable") / "broken.crs");  // attributes, but no contents to read
  std::ofstream(run_->folder("sendable") / "good.crs") << "report bytes";
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor([&] {
    return count(Kind::Report) == 1 && crstest::entries(run_->folder("sendable")).empty() &&
           crstest::entries(run_->folder("invalid")).empty();
  }));
  auto upload = crstest::requestsOf(service_, Kind::Report)[0];
  EXPECT_EQ(crstest::uploadedFileName(upload), "good.crs");
  EXPECT_FALSE(crstest::isInvalidUpload(upload));
  EXPECT_EQ(run_->controller->retryInterval(), 10u);
}

TEST_F(ControllerTest, FileOperations) {
  fs::path from = sandbox().temporaryFolder("from"), to = sandbox().temporaryFolder("to");
  fs::create_directories(from);
  fs::create_directories(to);
  std::ofstream(from / "a") << "new";
  std::ofstream(to / "a") << "old";
  EXPECT_FALSE(CRSSDKController::moveItemAtPath_toDirectory((from / "a").string(), to.string()));
  EXPECT_EQ(crstest::readFile(to / "a"), "old");
  EXPECT_FALSE(CRSSDKController::moveItemsFromDirectory_toDirectory(from.string(), to.string()));
  EXPECT_TRUE(fs::exists(from / "a"));
  EXPECT_FALSE(CRSSDKController::ensureReasonableFileAtPath((from / "missing").string()));
  std::ofstream(from / "limit", std::ios::binary) << std::string(1048576, 'x');
  EXPECT_TRUE(CRSSDKController::ensureReasonableFileAtPath((from / "limit").string()));
  EXPECT_EQ(fs::file_size(from / "limit"), 1048576u);
  EXPECT_TRUE(CRSSDKController::isARejectedError(ns::Error(CRSClientErrorDomain, -5)));
  EXPECT_FALSE(CRSSDKController::isARejectedError(ns::Error(CRSClientErrorDomain, -6)));
  EXPECT_FALSE(CRSSDKController::isARejectedError(ns::Error(CRSBetaErrorDomain, -5)));
  struct stat info {};
  ASSERT_EQ(::stat(run_->folder("prepared").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
}

// The permission prompt runs as an application-modal alert on the main queue.
class PromptTest : public ControllerTest {
 protected:
  bool usesApplication() const override { return true; }
  pltest::Sandbox& sandbox() override { return app_.sandbox(); }
  ns::Dictionary promptSettings(bool alwaysSend) {
    ns::Dictionary settings = settingsWith("features", {{"prompt_enabled", true}});
    settings.set("prompt", ns::Dictionary{{"show_always_send_button", alwaysSend}});
    return settings;
  }
  pltest::HeadlessApp app_;
  pltest::ModalScript script_;
};

TEST_F(PromptTest, DontSendDeletesTheReports) {
  SKIP_WITHOUT_CRASHES();
  cacheSettings(promptSettings(false), *run_);
  placeRecord("r1", *run_);
  script_.clickAlertButton("Don't Send");
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor([&] {
    return script_.shownAlerts().size() == 1 && crstest::entries(run_->folder("prepared")).empty() &&
           crstest::entries(run_->folder("processing")).empty();
  }));
  run_->controller->isRetrying();
  const auto& alert = script_.shownAlerts()[0];
  EXPECT_EQ(alert.messageText, "Send Crash Report?");
  EXPECT_EQ(alert.informativeText,
            "Looks like we crashed! Please help us fix the problem by sending a crash report.");
  EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Send", "Don't Send"}));
  EXPECT_TRUE(crstest::entries(run_->folder("sendable")).empty());
  EXPECT_EQ(count(Kind::Report), 0u);
}

TEST_F(PromptTest, AlwaysSendIsRememberedForTheNextRun) {
  SKIP_WITHOUT_CRASHES();
  cacheSettings(promptSettings(true), *run_);
  placeRecord("r1", *run_);
  script_.clickAlertButton("Always Send");
  run_->controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(waitFor(
      [&] { return count(Kind::Report) == 1 && crstest::entries(run_->folder("sendable")).empty(); }));
  ASSERT_EQ(script_.shownAlerts().size(), 1u);
  EXPECT_EQ(script_.shownAlerts()[0].buttons,
            (std::vector<std::string>{"Send", "Always Send", "Don't Send"}));
  EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->boolForKey(CRSAlwaysSendCrashReportsKey));

  // The next run: no prompt (an unexpected alert would fail the test), the report goes out.
  ReporterRun next(service_.baseURL());
  ASSERT_TRUE(next.controller->setup());
  placeRecord("r2", next);
  next.controller->beginStartupFlowAfterDelay(0);
  ASSERT_TRUE(
      waitFor([&] { return count(Kind::Report) == 2 && crstest::entries(next.folder("sendable")).empty(); }));
  EXPECT_EQ(script_.shownAlerts().size(), 1u);
}

}  // namespace

namespace {

// What a home may hold in place of one of the reporter's folders.
struct FolderDamage {
  const char* name;
  std::function<void(const fs::path& place, const fs::path& elsewhere)> make;
};

TEST(ControllerFolders, AFileLinkOrPipeInAFoldersPlaceTurnsReportingOffWithOneLineAndNothingWrittenThrough) {
  const FolderDamage damages[] = {
      {"file", [](const fs::path& place, const fs::path&) { std::ofstream(place) << "kept"; }},
      {"link to a folder", [](const fs::path& place,
                              const fs::path& elsewhere) { fs::create_directory_symlink(elsewhere, place); }},
      {"dangling link", [](const fs::path& place,
                           const fs::path& elsewhere) { fs::create_symlink(elsewhere / "none", place); }},
      {"pipe", [](const fs::path& place, const fs::path&) { ASSERT_EQ(::mkfifo(place.c_str(), 0600), 0); }},
  };
  for (const auto& damage : damages) {
    for (const char* which : {"root", "crash folder", "processing"}) {
      SCOPED_TRACE(std::string(damage.name) + " as the " + which);
      pltest::Sandbox sandbox;
      ReporterRun run("http://127.0.0.1:9/");
      const fs::path root = CRSSDKController::rootPath();
      const fs::path crash = run.folder();
      const fs::path place = std::string(which) == "root"           ? root
                             : std::string(which) == "crash folder" ? crash
                                                                    : crash / "processing";
      fs::create_directories(place.parent_path());
      const fs::path elsewhere = sandbox.temporaryFolder("elsewhere");
      fs::create_directories(elsewhere);
      damage.make(place, elsewhere);
      ns::LogCapture log(true);
      EXPECT_FALSE(run.controller->setup());
      // One line whatever the debug mode (which adds lines of its own).
      std::vector<std::string> said;
      for (const auto& message : log.messages())
        if (message.find("Crash reporting is off") != std::string::npos) said.push_back(message);
      ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(log.messages());
      EXPECT_EQ(said[0].find("[CrashReporter] Crash reporting is off for this run: " + place.string()), 0u)
          << said[0];
      EXPECT_TRUE(crstest::entries(elsewhere).empty()) << "a folder was made through the link";
      struct stat info {};
      ASSERT_EQ(::lstat(place.c_str(), &info), 0);
      EXPECT_FALSE(S_ISDIR(info.st_mode));
    }
  }
  // A sound home gets its folders and nothing is said.
  pltest::Sandbox sandbox;
  ReporterRun run("http://127.0.0.1:9/");
  ns::LogCapture log(true);
  EXPECT_TRUE(run.controller->setup());
  EXPECT_FALSE(log.contains("Crash reporting is off"));
  EXPECT_TRUE(fs::is_directory(run.folder("sendable")));
}

}  // namespace
