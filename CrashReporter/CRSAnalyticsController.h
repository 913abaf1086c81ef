#pragma once
// Session analytics: install, launch and previous-run crash events are appended to one log file
// per priority inside the open fragment of this run's session. A maintenance cycle closes the
// fragment by opening a new one, packages closed fragments as gzip files, uploads them to the
// analytics URL of the settings, prunes what piles up and cleans the folder tree.
//
// Queues: one serial queue per priority alone touches that priority's file (priorities 0 and 1
// block the caller until the record is written, 2 does not); "com.crashreporter.analytics.maintenance"
// alone changes the settings mirror and moves fragments, and swaps the files only through the
// priority queues, so a record never lands in a fragment that is being packaged.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSAnalyticsMetadataController.h"
#include "CrashReporter/CRSEventLog/CRSEventLogEvent.h"
#include "CrashReporter/CRSEventLog/CRSEventLogFile.h"
#include "CrashReporter/CRSEventLog/CRSEventLogSessionRepository.h"
#include "CrashReporter/CRSSettings.h"
#include "CrashReporter/CRSSettingsClient.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/dispatch/Time.h"

class CRSAnalyticsIdentifierGenerator : public ns::Object {
 public:
  virtual std::string generateSessionFragmentIdentifier();
  virtual std::string generateEventIdentifier();
  std::string className() const override { return "CRSAnalyticsIdentifierGenerator"; }
};

class CRSAnalyticsTimestampGenerator : public ns::Object {
 public:
  // Milliseconds since 1970, rounded down.
  virtual std::uint64_t generateAnalyticsTimestamp();
  std::string className() const override { return "CRSAnalyticsTimestampGenerator"; }
};

class CRSAnalyticsController : public ns::Object {
 public:
  using Completion = std::function<void(const std::optional<ns::Error>& error)>;
  static constexpr int kPriorityCount = 3;

  CRSAnalyticsController(ns::Ref<CRSSettingsClient> settingsClient, std::string sessionIdentifier,
                         std::string analyticsRootDirectory,
                         ns::Ref<CRSAnalyticsIdentifierGenerator> identifierGenerator,
                         ns::Ref<CRSAnalyticsTimestampGenerator> timestampGenerator);
  ~CRSAnalyticsController() override;

  // nullptr when the first fragment cannot be prepared: the run goes without analytics.
  static ns::Ref<CRSAnalyticsController>
  initWithSettingsClient_sessionIdentifier_analyticsRootDirectoryWithURL_identifierGenerator_timestampGenerator(
      ns::Ref<CRSSettingsClient> settingsClient, const std::string& sessionIdentifier,
      const std::string& analyticsRootDirectory, ns::Ref<CRSAnalyticsIdentifierGenerator> identifierGenerator,
      ns::Ref<CRSAnalyticsTimestampGenerator> timestampGenerator);

  static bool supported();
  static bool deviceMeetsMinimumRequirements() { return true; }

  // Events. Any priority but 0, 1 and 2 is dropped.
  void logEvent(const ns::Ref<CRSEventLogEvent>& event);
  // Only when this run made the installation identifier.
  void logAppInstalled();
  void logAppLaunched();
  // Into a new fragment of the previous run's session, with that run's metadata.
  void logPreviousSessionCrashedOnDate(const std::optional<ns::Date>& date);

  void setSettings(const ns::Ref<CRSSettings>& settings);
  ns::Ref<CRSSettings> settings() const;
  bool analyticsFeatureSwitchEnabled() const;
  void handleDisabledFeatureSwitch();

  bool prepareNewSessionFragmentWithIdentifier_timestamp_error(const std::string& identifier,
                                                               std::uint64_t timestamp, ns::Error* error);
  // On the priority's queue.
  bool ensureLogFileExistsForPriority_error(std::uint64_t priority, ns::Error* error);
  std::optional<std::string> createEventFileURLForPriority_error(std::uint64_t priority, ns::Error* error);
  bool addMetadataEventToFragmentEventFile_withPriority_timestamp_error(CRSEventLogEventFile& file,
                                                                        std::uint64_t priority,
                                                                        std::uint64_t timestamp,
                                                                        ns::Error* error);

  void readLastSessionInformation();
  void saveCurrentSessionInformation();
  static void dispatchToQueue_asynchronous_block(const ns::Ref<dispatch::Queue>& queue, bool asynchronous,
                                                 dispatch::Block block);

  // Maintenance; each runs on the maintenance queue and reports nothing or an error.
  void maintainSessionFragments(Completion completion);
  void maintainSessionFragmentsIgnoringError();
  void openNewSessionFragment(Completion completion);
  void packageClosedSessionFragments(Completion completion);
  void transmitPackagedSessionFragments(Completion completion);
  void pruneSessionFragmentLogFiles(Completion completion);
  void cleanUpRepository(Completion completion);

  bool packageLogsFromActiveSessionFragmentDirectoryURL_intoPackagedSessionFragmentDirectoryURL_error(
      const std::string& active, const std::string& packaged, ns::Error* error);
  std::optional<std::vector<std::string>> sessionFragmentDirectoryURLsForStateName_error(
      const std::string& state, ns::Error* error);
  bool isOpenSessionFragmentDirectoryURL(const std::string& url) const;
  std::optional<std::vector<std::string>> nonCurrentLogFileURLsForAllStates(ns::Error* error);
  // Three groups by the priority in the file names, each sorted by path; other names are left out.
  static std::array<std::vector<std::string>, kPriorityCount>
  mutableSortedFileURLsGroupedByPrioritiesFromLogFileURLs(const std::vector<std::string>& urls);

  void scheduleSessionMaintenance();
  void cancelSessionMaintenance();
  dispatch::Time initialMaintenanceTimeWithFlushInterval(std::uint32_t interval);
  // Seconds from `now` to the first firing: the interval less the time since the last
  // maintenance, neither before now nor more than one interval ahead.
  static double initialMaintenanceDelayWithFlushInterval_lastMaintenanceDate_now(std::uint32_t interval,
                                                                                 const ns::Date& last,
                                                                                 const ns::Date& now);
  // Saves and answers now when no date is stored.
  ns::Date lastMaintenanceDate();
  void saveLastMaintenanceDate(const ns::Date& date);

  // Accessors.
  const std::string& analyticsRootDirectoryURL() const { return root_; }
  const ns::Ref<CRSSettingsClient>& settingsClient() const { return settingsClient_; }
  const std::string& sessionIdentifier() const { return sessionIdentifier_; }
  std::uint64_t sessionTimestamp() const { return sessionTimestamp_; }
  const ns::Ref<CRSEventLogSessionRepository>& logSessionRepository() const { return repository_; }
  const ns::Ref<CRSAnalyticsMetadataController>& metadataController() const { return metadataController_; }
  const ns::Ref<dispatch::Queue>& sessionMaintenanceQueue() const { return maintenanceQueue_; }
  const ns::Ref<dispatch::Queue>& priorityEventLoggingQueue(std::uint64_t priority) const {
    return queues_[priority];
  }
  std::optional<std::string> currentSessionFragmentDirectoryURL() const;
  std::optional<std::string> lastSessionIdentifier() const { return lastSessionIdentifier_; }
  std::uint64_t lastSessionTimestamp() const { return lastSessionTimestamp_; }
  std::optional<ns::Data> lastSessionMetadata() const { return lastSessionMetadata_; }

  std::string className() const override { return "CRSAnalyticsController"; }

 private:
  struct Slot {
    std::optional<std::string> url;
    std::uint64_t fragmentTimestamp = 0;
    ns::Ref<CRSEventLogEventFile> file;
  };

  bool setUp();
  ns::Ref<CRSAnalyticsController> self() {
    return std::static_pointer_cast<CRSAnalyticsController>(shared_from_this());
  }
  // Runs the block now when already on the maintenance queue, else queues it there.
  void onMaintenanceQueue(dispatch::Block block);
  void runOpenNewSessionFragment(Completion completion);
  void runPackageClosedSessionFragments(Completion completion);
  void transmitNextPackagedSessionFragment(Completion completion);
  void transmitLogsForSessionFragmentDirectory_completion(const std::string& fragment, Completion completion);
  void purgePackagedPrepSessionFragmentDirectories();
  ns::Ref<ns::URL> settingsAnalyticsURL() const;

  const ns::Ref<CRSSettingsClient> settingsClient_;
  const std::string sessionIdentifier_;
  const std::string root_;
  const ns::Ref<CRSAnalyticsIdentifierGenerator> identifierGenerator_;
  const ns::Ref<CRSAnalyticsTimestampGenerator> timestampGenerator_;
  const std::uint64_t sessionTimestamp_;
  ns::Ref<CRSEventLogSessionRepository> repository_;
  ns::Ref<CRSAnalyticsMetadataController> metadataController_;
  ns::Ref<dispatch::Queue> maintenanceQueue_;
  std::array<ns::Ref<dispatch::Queue>, kPriorityCount> queues_;
  // Each slot only on its own queue.
  std::array<Slot, kPriorityCount> slots_;

  mutable std::mutex mutex_;  // guards the fields below it up to the atomics
  ns::Ref<CRSSettings> settings_;
  std::string currentSessionFragmentIdentifier_;
  std::uint64_t currentSessionFragmentTimestamp_ = 0;
  std::optional<std::string> currentSessionFragmentDirectoryURL_;
  ns::Ref<ns::URL> settingsAnalyticsURL_;

  // The settings mirror: written on the maintenance queue, read by the logging queues.
  std::atomic<bool> haveSettings_{false};
  std::atomic<bool> settingsShouldCollectAnalytics_{false};
  std::atomic<bool> settingsShouldFlushOnBackground_{false};
  std::atomic<std::uint64_t> settingsMaxByteSizePerFile_{0};
  std::atomic<std::uint32_t> settingsFlushIntervalSecs_{0};
  std::atomic<std::uint32_t> settingsMaxPendingSendFileCount_{0};
  std::atomic<bool> performSessionMaintenanceAfterSettingsArrive_{false};

  // On the maintenance queue.
  bool loggedAnalyticsEnabled_ = false;
  std::optional<std::vector<std::string>> sessionFragmentsToTransmit_;
  ns::Ref<dispatch::Source> sessionFragmentMaintenanceTimerSource_;

  // Read once at creation.
  std::optional<std::string> lastSessionIdentifier_;
  std::uint64_t lastSessionTimestamp_ = 0;
  std::optional<ns::Data> lastSessionMetadata_;
};
