// The whole reporter as the application starts it: a child that crashes, the next child run that
// reports the crash to the fake service, the start-up switches and guards, and the session
// identifier.
#include <signal.h>
#include <sys/wait.h>

#include <regex>

#include <gtest/gtest.h>

#include "CrashReporter/CRSUUID.h"
#include "CrashReporter/CrashReporter.h"
#include "platform/appkit/Image.h"
#include "platform/core/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/security/Digest.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/AnalyticsFixtures.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/CrashReporter/ReporterFixtures.h"

namespace {

namespace fs = std::filesystem;
using crstest::Kind;

class Reporter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
    sandbox_.set("CrashReporterAPIEndpoint", service_.baseURL());
  }
  fs::path bundle(const ns::Dictionary& extra = {}) {
    fs::path folder = sandbox_.temporaryFolder("bundle");
    crstest::writeInfoPlist(folder, extra);
    return folder;
  }
  fs::path crashFolder() const {
    return sandbox_.cacheHome() / "com.crashreporter.data" / crstest::kBundleId;
  }
  // The lines of the one record in the crash folder, each parsed.
  std::vector<ns::Value> recordLines() {
    auto records = crstest::entriesWithExtension(crashFolder(), ".crsrecord");
    EXPECT_EQ(records.size(), 1u);
    std::vector<ns::Value> lines;
    if (records.empty()) return lines;
    std::istringstream in(crstest::readFile(crashFolder() / records[0]));
    for (std::string line; std::getline(in, line);)
      lines.push_back(ns::JSONSerialization::JSONObjectWithString(line));
    return lines;
  }
  static ns::Value lineValue(const std::vector<ns::Value>& lines, const std::string& key) {
    for (const auto& line : lines) {
      if (line.isDictionary() && line.dictionary().contains(key)) return line.dictionary()[key];
    }
    return {};
  }

  pltest::Sandbox sandbox_;
  testsupport::FakeCrashService service_{crstest::kAPIKey, crstest::kBundleId};
};

bool exitedCleanly(const crstest::CrashRun& run) {
  return WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
}

TEST_F(Reporter, ACrashIsReportedByTheNextRun) {
  fs::path app = bundle();
  auto first = crstest::runCrashProgram("crash", app);
  ASSERT_TRUE(WIFSIGNALED(first.status) && WTERMSIG(first.status) == SIGSEGV) << first.stderrText;
  EXPECT_EQ(first.facts["segv_action"], "handler");
  EXPECT_TRUE(fs::exists(crashFolder() / "crash_marker"));

  // What the first run stored, as the record holds it.
  auto lines = recordLines();
  ASSERT_FALSE(lines.empty());
  const ns::Value& user = lineValue(lines, "user");
  EXPECT_EQ(user["name"].stringValue(), "alice");
  EXPECT_EQ(user["id"].stringValue(), "(null)");
  const ns::Value& custom = lineValue(lines, "custom_attributes");
  struct Stored {
    const char* key;
    const char* text;
  } stored[] = {{"k", "v%20w"}, {"f", "1.500000"}, {"yes", "YES"},
                {"no", "NO"},   {"i", "-7"},       {"u", "http://example.com/a?b=c%2520d"}};
  for (const auto& s : stored) EXPECT_EQ(custom[s.key].stringValue(), s.text) << s.key;

  // The crashed run logged its install event. The next run's maintenance may package and send that
  // fragment before the crash is written into the session, so the session is named now. Settings
  // that arrived before the crash may already have had the crashed run package the event, or send
  // it: it lies in the session's active logs, among its packages, or with the service.
  fs::path analytics = crashFolder() / "analytics/v1";
  auto sessions = crstest::entries(analytics / "ACTIVE");
  ASSERT_EQ(sessions.size(), 1u);
  const std::string crashedSession = sessions[0];
  std::vector<std::string> logged;
  for (const auto& log : crstest::findNamed(analytics / "ACTIVE" / crashedSession, "0.log"))
    logged.push_back(crstest::readFile(log));
  for (const auto& package : crstest::findNamed(analytics / "PACKAGED" / crashedSession, "0.log.zip")) {
    if (auto bytes = crstest::gunzip(crstest::readFile(package))) logged.push_back(*bytes);
  }
  for (const auto& upload : crstest::requestsOf(service_, Kind::Analytics)) {
    for (const auto& part : upload.parts) {
      if (auto bytes = crstest::gunzip(part.body)) logged.push_back(*bytes);
    }
  }
  bool installed = false;
  for (const auto& bytes : logged) {
    for (const auto& record : crstest::parseLog(bytes))
      installed = installed || record.key == "app_installed";
  }
  EXPECT_TRUE(installed);

  auto second = crstest::runCrashProgram("run", app);
  ASSERT_TRUE(exitedCleanly(second)) << second.stderrText;
  EXPECT_EQ(second.facts["settled"], "yes") << second.stderrText;
  EXPECT_EQ(second.facts.count("crashreporterDidDetectCrashDuringPreviousExecution"), 1u);

  auto uploads = crstest::requestsOf(service_, Kind::Report);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_FALSE(crstest::isInvalidUpload(uploads[0]));
  const auto* file = uploads[0].part("report[file]");
  ASSERT_NE(file, nullptr);
  crstest::UnpackedReport report(file->body);
  ASSERT_NE(report.session, nullptr);
  EXPECT_TRUE(report.session->crashed);
  ASSERT_NE(report.session->user, nullptr);
  EXPECT_STREQ(report.session->user->name, "alice");
  ASSERT_EQ(report.session->n_events, 1u);
  auto* event = report.session->events[0];
  EXPECT_STREQ(event->app->execution->signal->name, "SIGSEGV");
  bool keyFound = false;
  for (std::size_t i = 0; i < event->app->n_custom_attributes; ++i) {
    if (std::string(event->app->custom_attributes[i]->key) == "k") {
      keyFound = true;
      EXPECT_STREQ(event->app->custom_attributes[i]->value, "v w");
    }
  }
  EXPECT_TRUE(keyFound);
  ASSERT_NE(event->log, nullptr);
  EXPECT_NE(std::string(event->log->content).find("run one wrote this"), std::string::npos);

  for (const char* folder : {"processing", "prepared", "sendable", "invalid"})
    EXPECT_TRUE(crstest::entries(crashFolder() / folder).empty()) << folder;
  EXPECT_TRUE(crstest::entriesWithExtension(crashFolder(), ".crsrecord").empty());
  EXPECT_FALSE(fs::exists(crashFolder() / "crash_marker"));

  // The crash went into a fragment of the crashed run's session.
  std::vector<fs::path> crashLogs;
  for (const auto& log : crstest::findNamed(analytics / "ACTIVE", "1.log")) {
    auto records = crstest::parseLog(crstest::readFile(log));
    if (records.size() == 2 && records[1].key == "app_crashed") {
      crashLogs.push_back(log);
      EXPECT_EQ(records[0].key, "metadata");
      EXPECT_EQ(records[1].timestamp.substr(records[1].timestamp.size() - 3), "000");
    }
  }
  ASSERT_EQ(crashLogs.size(), 1u);
  EXPECT_EQ(crashLogs[0].parent_path().parent_path().filename().string(), crashedSession);
}

TEST_F(Reporter, ARunSendsItsInstallAndLaunchEvents) {
  auto run = crstest::runCrashProgram("run", bundle(), {"CRS_TEST_AWAIT_ANALYTICS=1"});
  ASSERT_TRUE(exitedCleanly(run)) << run.stderrText;
  EXPECT_EQ(run.facts["settled"], "yes") << run.stderrText;
  std::vector<std::string> keys;
  for (const auto& upload : crstest::requestsOf(service_, Kind::Analytics)) {
    EXPECT_EQ(upload.raw.path, "/spi/v1/platforms/mac/apps/com.ordel42.zeravozezi/analytics");
    for (const auto& part : upload.parts) {
      auto bytes = crstest::gunzip(part.body);
      ASSERT_TRUE(bytes) << part.name;
      for (const auto& record : crstest::parseLog(*bytes)) keys.push_back(record.key);
    }
  }
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "app_installed"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "app_launched"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "metadata"), 2);
}

TEST_F(Reporter, ANilUserNameIsStoredAsNull) {
  auto run = crstest::runCrashProgram("crash", bundle(), {"CRS_TEST_NIL_NAME=1"});
  ASSERT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGSEGV) << run.stderrText;
  auto lines = recordLines();
  EXPECT_EQ(lineValue(lines, "user")["name"].stringValue(), "(null)");
}

TEST_F(Reporter, SubmissionSwitchedOffInstallsCaptureAndSendsNothing) {
  auto run = crstest::runCrashProgram("run", bundle(), {"CrashSubmission=0", "CRS_TEST_RUN_SECONDS=3"});
  ASSERT_TRUE(exitedCleanly(run)) << run.stderrText;
  EXPECT_EQ(run.facts["segv_action"], "handler");
  EXPECT_NE(run.stderrText.find("[CrashReporter] 'CrashSubmission' set - submission disabled"),
            std::string::npos);
  EXPECT_TRUE(service_.requests().empty());
}

TEST_F(Reporter, ReportingSwitchedOffLeavesTheSignalsAndStillLoadsSettings) {
  auto run = crstest::runCrashProgram("run", bundle(), {"CrashReporting=0"});
  ASSERT_TRUE(exitedCleanly(run)) << run.stderrText;
  EXPECT_EQ(run.facts["segv_action"], "default");
  EXPECT_NE(run.stderrText.find("[CrashReporter] 'CrashReporting' set - reporting disabled"),
            std::string::npos);
  auto settings = crstest::requestsOf(service_, Kind::Settings);
  ASSERT_EQ(settings.size(), 1u);
  EXPECT_NE(settings[0].raw.path.find("/apps/com.ordel42.zeravozezi/settings"), std::string::npos);
}

TEST_F(Reporter, ASecondStartIsIgnored) {
  auto run = crstest::runCrashProgram("run", bundle(), {"CRS_TEST_START_TWICE=1"});
  ASSERT_TRUE(exitedCleanly(run)) << run.stderrText;
  EXPECT_NE(
      run.stderrText.find("[CrashReporter] startWithAPIKey: called more than once. startWithAPIKey: should "
                          "only be called once, at app launch time. This call is being ignored."),
      std::string::npos);
  EXPECT_EQ(crstest::requestsOf(service_, Kind::Settings).size(), 1u);
}

TEST_F(Reporter, ANewApplicationRegistersWithPelorinsIcon) {
  // Pelorin's own Info.plist names its icon, which sits beside it in resources/.
  const fs::path resources = fs::path(PELORIN_SOURCE_DIR) / "resources";
  auto infoData = ns::dataWithContentsOfFile((resources / "Info.plist").string());
  ASSERT_TRUE(infoData);
  const std::string iconName =
      ns::PropertyListSerialization::propertyListWithData(*infoData)["CFBundleIconFile"].stringValue();
  ASSERT_FALSE(iconName.empty());
  const fs::path icon = resources / (iconName + ".png");
  fs::path app = bundle({{"CFBundleIconFile", iconName}});
  fs::copy_file(icon, app / icon.filename());
  ns::Dictionary settings = service_.settingsFixture();
  ns::Dictionary appSettings = settings["app"].dictionary();
  appSettings.set("status", "new");
  settings.set("app", appSettings);
  service_.setSettingsReply(testsupport::FakeCrashService::plistReply(settings));
  auto run = crstest::runCrashProgram("run", app, {"CRS_TEST_RUN_SECONDS=5"});
  ASSERT_TRUE(exitedCleanly(run)) << run.stderrText;

  auto registrations = crstest::requestsOf(service_, Kind::Configure);
  ASSERT_EQ(registrations.size(), 1u);
  const auto* data = registrations[0].part("app[icon][data]");
  ASSERT_NE(data, nullptr);
  // What is sent is the icon's image as PNG: the resource's pixels, its size and their hash.
  auto sent = ak::Image::initWithData(ns::Data(data->body));
  auto drawn = ak::Image::initWithContentsOfFile(icon.string());
  ASSERT_TRUE(sent && drawn);
  EXPECT_EQ(sent->pixelsWide(), drawn->pixelsWide());
  EXPECT_EQ(sent->pixelsHigh(), drawn->pixelsHigh());
  // Pixel for pixel, weighed by their cover (the translucent rim keeps no more precision).
  auto a = sent->rgbaBytes(), b = drawn->rgbaBytes();
  ASSERT_EQ(a.size(), b.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < a.size(); i += 4) {
    bool same = std::abs(int(a[i + 3]) - int(b[i + 3])) <= 1;
    for (std::size_t c = 0; c < 3; ++c)
      same = same && std::abs(int(a[i + c]) * a[i + 3] - int(b[i + c]) * b[i + 3]) <= 2 * 255;
    differing += same ? 0 : 1;
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_EQ(registrations[0].part("app[icon][hash]")->body, sec::sha1Hex(data->body));
  EXPECT_EQ(registrations[0].part("app[icon][width]")->body, std::to_string(drawn->pixelsWide()));
  EXPECT_EQ(registrations[0].part("app[icon][height]")->body, std::to_string(drawn->pixelsHigh()));
}

TEST_F(Reporter, BetaChecksOnlyForBuildsSignedForDistribution) {
  auto signedRun = crstest::runCrashProgram("run", bundle({{"CrashReporterSignedForDistribution", true}}));
  ASSERT_TRUE(exitedCleanly(signedRun)) << signedRun.stderrText;
  auto checks = crstest::requestsOf(service_, Kind::Beta);
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].raw.params["build_version"], "7");
  EXPECT_EQ(checks[0].raw.params["display_version"], "1.0");

  auto unsignedRun = crstest::runCrashProgram("run", bundle({{"CrashReporterSignedForDistribution", false}}));
  ASSERT_TRUE(exitedCleanly(unsignedRun)) << unsignedRun.stderrText;
  EXPECT_EQ(crstest::requestsOf(service_, Kind::Beta).size(), 1u);
}

TEST(ReporterStart, AnEmptyKeyRaises) {
  try {
    CrashReporter::startWithAPIKey("");
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "CrashReporterException");
    EXPECT_EQ(e.reason(), "CrashReporter cannot start with the API key ''");
  }
  EXPECT_EQ(CrashReporter::sharedInstance()->controller(), nullptr);
  EXPECT_EQ(CrashReporter::sharedInstance()->machExceptionMask(), 0u);
}

class SignalDelegate : public CrashReporterDelegate {
 public:
  std::vector<int> asked;
  std::optional<bool> crashreporter_ensureDeliveryOfUnixSignal(CrashReporter&, int signal) override {
    asked.push_back(signal);
    return signal == SIGSEGV || signal == SIGABRT || signal == SIGILL;
  }
};

TEST(ReporterStart, TheExceptionMaskComesFromTheSignalsTheDelegateKeeps) {
  auto reporter = CrashReporter::sharedInstance();
  EXPECT_EQ(reporter->machExceptionMask(), 0u);  // no delegate
  auto plain = std::make_shared<CrashReporterDelegate>();
  reporter->setDelegate(plain);
  EXPECT_EQ(reporter->machExceptionMask(), 0u);  // the method is not implemented
  auto keeping = std::make_shared<SignalDelegate>();
  reporter->setDelegate(keeping);
  EXPECT_EQ(reporter->machExceptionMask(), 0x2u | 0x400u | 0x4u);
  EXPECT_EQ(keeping->asked, (std::vector<int>{SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP}));
  keeping.reset();
  EXPECT_EQ(reporter->delegate(), nullptr);  // held weakly
}

TEST(ReporterStart, SessionIdentifiersOfOneMillisecondDifferInTheirSequence) {
  pltest::VirtualClock clock;
  ns::Data segment(std::string("a9993e364706816aba3e"));
  auto a = CRSUUID::generateWithSegmentData(segment);
  auto b = CRSUUID::generateWithSegmentData(segment);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(std::equal(a->data().begin(), a->data().begin() + 6, b->data().begin()));
  unsigned sequenceA = a->data()[6] << 8 | a->data()[7];
  unsigned sequenceB = b->data()[6] << 8 | b->data()[7];
  EXPECT_EQ(sequenceB, sequenceA + 1);
  EXPECT_TRUE(std::equal(a->data().begin() + 8, a->data().end(), b->data().begin() + 8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a->data()[10]), 6), "a9993e");
  EXPECT_TRUE(
      std::regex_match(a->stringValue(), std::regex("[0-9A-F]{12}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));

  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 17);
  EXPECT_EQ(CRSUUID(bytes).stringValue(), "001122334455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(CRSUUID::generateWithSegmentData(ns::Data(std::string("12345"))), nullptr);
}

TEST(ReporterStart, CustomValueTexts) {
  EXPECT_EQ(CrashReporter::customValueText(ns::Value("a b")), "a%20b");
  EXPECT_EQ(CrashReporter::customValueText(ns::Value(1.5)), "1.5");
  EXPECT_EQ(CrashReporter::customValueText(ns::Value()), std::nullopt);
  EXPECT_EQ(CrashReporter::confirmCustomIdentifierValue(ns::Value(42)), "42");
  EXPECT_EQ(CrashReporter::confirmCustomIdentifierValue(ns::Value()), std::nullopt);
}

}  // namespace
