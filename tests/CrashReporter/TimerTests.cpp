// The reporter's timers and what they feed: process sampling (a crash record lists the running
// processes, the report carries them, a 30-second timer samples again while sampling is on) and
// the hourly settings reload of conversion tracking. The whole reporter starts once per process,
// so the timer scenarios run in children, on the virtual clock, against processes the test starts.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CrashReporter.h"
#include "platform/foundation/Bundle.h"
#include "platform/runloop/Timer.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/ClientDoubles.h"
#include "tests/CrashReporter/ReporterFixtures.h"
#include "tests/support/ChildProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using crstest::Kind;

// A process the test started: `sleep` run through a link named `name`, which the kernel takes as
// the process's command name. Killed when it goes.
class NamedProcess : public testsupport::ChildProcess {
 public:
  NamedProcess(const fs::path& folder, const std::string& name) {
    fs::create_directories(folder);
    fs::path link = folder / name;
    fs::create_symlink("/bin/sleep", link);
    std::string path = link.string();
    std::string seconds = "600";
    std::vector<char*> argv{path.data(), seconds.data(), nullptr};
    if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return;
    }
    // posix_spawn returns once the child has left this process's memory, and the kernel gives it
    // the program's name only after that: a sample taken in between lists it under this process's
    // name. Nothing samples it before it has its own.
    const std::string comm = "/proc/" + std::to_string(pid_) + "/comm";
    named_ = pltest::pumpUntil([&] { return crstest::readFile(comm) == name + "\n"; }, 60);
  }
  // Whether the kernel gave it `name` (it can be sampled under it).
  bool named() const { return named_; }

 private:
  bool named_ = false;
};

// The name the context's process list gives `pid`, or nothing when it is not listed.
std::optional<std::string> sampledName(pid_t pid) {
  const CRSProcessList* list = CRSWritableContextGet()->processList.load();
  for (std::uint32_t i = 0; list && i < list->count; ++i) {
    if (list->entries[i].pid == pid) return std::string(list->entries[i].name);
  }
  return std::nullopt;
}

bool childTestPassed(const std::string& name) {
  int status = pltest::runChildTest(name);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts the whole reporter as the application does, with `info` extra in its Info.plist.
ns::Ref<CrashReporter> startReporter(const pltest::Sandbox& sandbox, const ns::Dictionary& info) {
  fs::path app = sandbox.temporaryFolder("bundle");
  crstest::writeInfoPlist(app, info);
  ns::Bundle::setMainBundlePathForTesting(app.string());
  return CrashReporter::startWithAPIKey(crstest::kAPIKey);
}

class ProcessSampling : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!crstest::crashTestsSupported()) GTEST_SKIP() << "crash tests are skipped under ThreadSanitizer";
    sandbox_.set("CrashReporterAPIEndpoint", service_.baseURL());
  }
  // A crash of the whole reporter; answers the path of the one record it left.
  fs::path crash(const std::vector<std::string>& environment, crstest::CrashRun* run) {
    fs::path app = sandbox_.temporaryFolder("bundle");
    crstest::writeInfoPlist(app);
    *run = crstest::runCrashProgram("crash", app, environment);
    EXPECT_TRUE(WIFSIGNALED(run->status) && WTERMSIG(run->status) == SIGSEGV) << run->stderrText;
    fs::path folder = sandbox_.cacheHome() / "com.crashreporter.data" / crstest::kBundleId;
    auto records = crstest::entriesWithExtension(folder, ".crsrecord");
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? fs::path() : folder / records[0];
  }
  static ns::Value recordLine(const fs::path& record, const std::string& key) {
    std::istringstream in(crstest::readFile(record));
    for (std::string line; std::getline(in, line);) {
      ns::Value value = ns::JSONSerialization::JSONObjectWithString(line);
      if (value.isDictionary() && value.dictionary().contains(key)) return value.dictionary()[key];
    }
    return {};
  }

  pltest::Sandbox sandbox_;
  testsupport::FakeCrashService service_{crstest::kAPIKey, crstest::kBundleId};
};

TEST_F(ProcessSampling, ASampledCrashListsTheRunningProcessesAndItsReportCarriesThem) {
  NamedProcess started(sandbox_.temporaryFolder("started"), "crs-started");
  ASSERT_GT(started.pid(), 0);
  ASSERT_TRUE(started.named());
  crstest::CrashRun run;
  fs::path record = crash({"CRS_TEST_COLLECT_PROCESSES=1"}, &run);
  ASSERT_FALSE(record.empty());

  ns::Value processes = recordLine(record, "external_process_info");
  ASSERT_TRUE(processes.isArray());
  std::map<long long, std::string> listed;
  for (std::size_t i = 0; i < processes.count(); ++i)
    listed[processes[i]["pid"].longLongValue()] = processes[i]["name"].stringValue();
  EXPECT_EQ(listed[started.pid()], "crs-started");
  // The crashing program itself, under the 15 bytes of its name that the kernel keeps.
  EXPECT_EQ(listed[std::atoll(run.facts["pid"].c_str())], "crash_test_prog");

  // Converted as the next launch converts it: the report names the same processes.
  auto convert = crstest::runCrashProgram("convert", sandbox_.temporaryFolder("convert"),
                                          {"CRS_TEST_RECORD=" + record.string()});
  ASSERT_EQ(convert.facts["written"], "yes") << convert.stderrText;
  crstest::UnpackedReport report(crstest::readFile(fs::path(record).replace_extension(".crs")));
  ASSERT_NE(report.session, nullptr);
  ASSERT_EQ(report.session->n_events, 1u);
  const auto* os = report.session->events[0]->os;
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->n_processes, processes.count());
  std::map<long long, std::string> reported;
  for (std::size_t i = 0; i < os->n_processes; ++i)
    reported[os->processes[i]->pid] = os->processes[i]->name ? os->processes[i]->name : "";
  EXPECT_EQ(reported, listed);
}

TEST_F(ProcessSampling, WithoutSamplingARecordListsNoProcesses) {
  NamedProcess started(sandbox_.temporaryFolder("started"), "crs-started");
  ASSERT_TRUE(started.named());
  crstest::CrashRun run;
  fs::path record = crash({}, &run);
  ASSERT_FALSE(record.empty());
  ns::Value processes = recordLine(record, "external_process_info");
  ASSERT_TRUE(processes.isArray());
  EXPECT_EQ(processes.count(), 0u);
}

TEST(ProcessSamplingChild, DISABLED_TheTimerSamplesAgainWhileSamplingIsOn) {
  pltest::Sandbox sandbox;
  sandbox.set("CrashSubmission", "0");
  pltest::VirtualClock clock;
  auto reporter = startReporter(sandbox, {});
  ASSERT_TRUE(CRSContextIsInitialized());
  auto controller = reporter->controller();
  NamedProcess first(sandbox.temporaryFolder("first"), "crs-first");
  ASSERT_TRUE(first.named());

  // Off: no timer, and nothing is sampled however long the clock runs.
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(reporter->thirtySecondTimer(), nullptr);
  clock.advance(90);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(CRSWritableContextGet()->processList.load(), nullptr);

  // On: sampled at once, and the timer is made on the main queue.
  reporter->controller_collectProcesses(controller, true);
  EXPECT_EQ(sampledName(first.pid()), "crs-first");
  std::string ownName = crstest::readFile("/proc/self/comm");
  EXPECT_EQ(sampledName(::getpid()), ownName.substr(0, ownName.find('\n')));
  ASSERT_TRUE(pltest::drainMode());
  ASSERT_NE(reporter->thirtySecondTimer(), nullptr);
  EXPECT_TRUE(reporter->thirtySecondTimer()->isValid());
  // A second switch keeps the one timer.
  auto timer = reporter->thirtySecondTimer();
  reporter->controller_collectProcesses(controller, true);
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(reporter->thirtySecondTimer(), timer);

  NamedProcess second(sandbox.temporaryFolder("second"), "crs-second");
  ASSERT_TRUE(second.named());
  clock.advance(29);
  EXPECT_EQ(sampledName(second.pid()), std::nullopt);
  clock.advance(2);
  EXPECT_EQ(sampledName(second.pid()), "crs-second");
  EXPECT_EQ(sampledName(first.pid()), "crs-first");
  // A crash-time writer that holds the list while a sample replaces it still reads it whole (a
  // freed list would be a use after free here); the next sample after it frees the list.
  CRSWritableContext* writable = CRSWritableContextGet();
  writable->crashReaders.fetch_add(1);
  const CRSProcessList* held = writable->processList.load();
  clock.advance(30);
  EXPECT_NE(writable->processList.load(), held);
  std::set<std::string> heldNames;
  for (std::uint32_t i = 0; i < held->count; ++i) heldNames.insert(held->entries[i].name);
  EXPECT_EQ(heldNames.count("crs-second"), 1u);
  writable->crashReaders.fetch_sub(1);
  // A process that ended leaves the next sample.
  first.signal(SIGKILL);
  ASSERT_TRUE(first.waitForExit());
  clock.advance(30);
  EXPECT_EQ(sampledName(first.pid()), std::nullopt);

  // Off again: the next firing stops the timer and the list stays as it was.
  reporter->controller_collectProcesses(controller, false);
  NamedProcess third(sandbox.temporaryFolder("third"), "crs-third");
  ASSERT_TRUE(third.named());
  clock.advance(30);
  EXPECT_EQ(reporter->thirtySecondTimer(), nullptr);
  EXPECT_FALSE(timer->isValid());
  const CRSProcessList* kept = CRSWritableContextGet()->processList.load();
  clock.advance(300);
  EXPECT_EQ(CRSWritableContextGet()->processList.load(), kept);
  EXPECT_EQ(sampledName(third.pid()), std::nullopt);

  // And on once more: sampled at once, with a new timer.
  reporter->controller_collectProcesses(controller, true);
  EXPECT_EQ(sampledName(third.pid()), "crs-third");
  ASSERT_TRUE(pltest::drainMode());
  ASSERT_NE(reporter->thirtySecondTimer(), nullptr);
  EXPECT_NE(reporter->thirtySecondTimer(), timer);
}

TEST_F(ProcessSampling, TheTimerSamplesEveryThirtySecondsWhileSamplingIsOn) {
  EXPECT_TRUE(childTestPassed("ProcessSamplingChild.DISABLED_TheTimerSamplesAgainWhileSamplingIsOn"));
}

// With CRS_TEST_TRACKING=1 the Info.plist switches conversion tracking on, else off.
TEST(HourlySettingsChild, DISABLED_TheClockMovesTwoHours) {
  const char* trackingText = std::getenv("CRS_TEST_TRACKING");
  bool tracking = trackingText && std::string(trackingText) == "1";
  pltest::Sandbox sandbox;
  testsupport::FakeCrashService service{crstest::kAPIKey, crstest::kBundleId};
  sandbox.set("CrashReporterAPIEndpoint", service.baseURL());
  pltest::VirtualClock clock;
  auto reporter = startReporter(sandbox, {{"CrashReporterConversionTracking", tracking}});
  auto controller = reporter->controller();
  auto settingsRequests = [&] { return crstest::requestsOf(service, Kind::Settings).size(); };
  // The start-up load.
  ASSERT_TRUE(pltest::pumpUntil([&] { return reporter->isSettingsLoaded() && settingsRequests() == 1; }));

  // A load of the test's own, made once whatever the hour set going has reached the service's
  // client: it is then answered after that.
  std::size_t ownLoads = 0;
  auto loadAfterTheHour = [&] {
    dispatch::sync(CRSContextQueue(), [] {});
    dispatch::sync(controller->queue(), [] {});
    auto done = std::make_shared<std::atomic<bool>>(false);
    controller->loadSettings([done] { *done = true; });
    ++ownLoads;
    return pltest::pumpUntil([done] { return done->load(); });
  };
  // Not yet at 3599 s; once by 3601 s; twice by 7201 s.
  struct Step {
    double seconds;
    std::size_t hourly;
  };
  for (const Step& step : {Step{3599, 0}, Step{2, 1}, Step{3600, 2}}) {
    SCOPED_TRACE(step.seconds);
    clock.advance(step.seconds);
    std::size_t expected = tracking ? step.hourly : 0;
    ASSERT_TRUE(pltest::pumpUntil([&] { return settingsRequests() >= 1 + ownLoads + expected; }));
    ASSERT_TRUE(loadAfterTheHour());
    std::size_t hourly = settingsRequests() - 1 - ownLoads;
    EXPECT_EQ(hourly, expected);
  }
}

TEST(HourlySettings, ConversionTrackingReloadsTheSettingsEveryHour) {
  pltest::Sandbox sandbox;
  for (bool tracking : {true, false}) {
    SCOPED_TRACE(tracking ? "tracking on" : "tracking off");
    sandbox.set("CRS_TEST_TRACKING", tracking ? "1" : "0");
    EXPECT_TRUE(childTestPassed("HourlySettingsChild.DISABLED_TheClockMovesTwoHours"));
  }
}

}  // namespace
