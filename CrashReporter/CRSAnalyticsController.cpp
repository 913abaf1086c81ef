#include "CrashReporter/CRSAnalyticsController.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "CrashReporter/CRSApplicationInfo.h"
#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSEventLog/CRSEventLogCompression.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/dispatch/Group.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kQueueLabels[CRSAnalyticsController::kPriorityCount] = {
    "com.crashreporter.analytics.high-priority", "com.crashreporter.analytics.medium-priority",
    "com.crashreporter.analytics.low-priority"};
constexpr double kFragmentSwapLimit = 5.0;
constexpr double kMaintenanceLeeway = 10.0;

ns::Error analyticsError(long code) {
  return ns::Error(CRSAnalyticsControllerErrorDomain, code);
}

}  // namespace

// ---- generators ----

std::string CRSAnalyticsIdentifierGenerator::generateSessionFragmentIdentifier() {
  return CRSGenerateUUIDString();
}

std::string CRSAnalyticsIdentifierGenerator::generateEventIdentifier() {
  return CRSGenerateUUIDString();
}

std::uint64_t CRSAnalyticsTimestampGenerator::generateAnalyticsTimestamp() {
  double seconds = ns::Date::now().timeIntervalSince1970();
  return seconds <= 0 ? 0 : static_cast<std::uint64_t>(std::floor(seconds * 1000));
}

// ---- creation ----

CRSAnalyticsController::CRSAnalyticsController(ns::Ref<CRSSettingsClient> settingsClient,
                                               std::string sessionIdentifier,
                                               std::string analyticsRootDirectory,
                                               ns::Ref<CRSAnalyticsIdentifierGenerator> identifierGenerator,
                                               ns::Ref<CRSAnalyticsTimestampGenerator> timestampGenerator)
    : settingsClient_(std::move(settingsClient)),
      sessionIdentifier_(std::move(sessionIdentifier)),
      root_(std::move(analyticsRootDirectory)),
      identifierGenerator_(std::move(identifierGenerator)),
      timestampGenerator_(std::move(timestampGenerator)),
      sessionTimestamp_(timestampGenerator_->generateAnalyticsTimestamp()) {
  repository_ = CRSEventLogSessionRepository::initWithRootDirectoryURL(root_);
  metadataController_ =
      CRSAnalyticsMetadataController::initWithAppInfoDictionary(ns::Bundle::mainBundle()->infoDictionary());
  maintenanceQueue_ = dispatch::queueCreate("com.crashreporter.analytics.maintenance");
  for (int p = 0; p < kPriorityCount; ++p) queues_[p] = dispatch::queueCreate(kQueueLabels[p]);
}

CRSAnalyticsController::~CRSAnalyticsController() {
  if (sessionFragmentMaintenanceTimerSource_) sessionFragmentMaintenanceTimerSource_->cancel();
}

ns::Ref<CRSAnalyticsController> CRSAnalyticsController::
    initWithSettingsClient_sessionIdentifier_analyticsRootDirectoryWithURL_identifierGenerator_timestampGenerator(
        ns::Ref<CRSSettingsClient> settingsClient, const std::string& sessionIdentifier,
        const std::string& analyticsRootDirectory,
        ns::Ref<CRSAnalyticsIdentifierGenerator> identifierGenerator,
        ns::Ref<CRSAnalyticsTimestampGenerator> timestampGenerator) {
  if (!identifierGenerator || !timestampGenerator) return nullptr;
  auto controller =
      ns::make<CRSAnalyticsController>(std::move(settingsClient), sessionIdentifier, analyticsRootDirectory,
                                       std::move(identifierGenerator), std::move(timestampGenerator));
  return controller->setUp() ? controller : nullptr;
}

bool CRSAnalyticsController::setUp() {
  ns::Error error;
  bool prepared = repository_ &&
                  prepareNewSessionFragmentWithIdentifier_timestamp_error(
                      identifierGenerator_->generateSessionFragmentIdentifier(), sessionTimestamp_, &error);
  readLastSessionInformation();
  saveCurrentSessionInformation();
  if (!prepared) {
    CRSDebugLog("[CrashReporter] Unable to prepare new session fragment {error: %@}", error);
    return false;
  }
  return true;
}

bool CRSAnalyticsController::supported() {
  return deviceMeetsMinimumRequirements() && !CRSApplicationIsExtension();
}

void CRSAnalyticsController::dispatchToQueue_asynchronous_block(const ns::Ref<dispatch::Queue>& queue,
                                                                bool asynchronous, dispatch::Block block) {
  if (asynchronous) {
    dispatch::async(queue, std::move(block));
  } else {
    dispatch::sync(queue, block);
  }
}

void CRSAnalyticsController::onMaintenanceQueue(dispatch::Block block) {
  if (dispatch::isCurrentQueue(maintenanceQueue_)) {
    block();
  } else {
    dispatch::async(maintenanceQueue_, std::move(block));
  }
}

// ---- the session ----

std::optional<std::string> CRSAnalyticsController::currentSessionFragmentDirectoryURL() const {
  std::lock_guard lock(mutex_);
  return currentSessionFragmentDirectoryURL_;
}

void CRSAnalyticsController::readLastSessionInformation() {
  lastSessionIdentifier_.reset();
  lastSessionTimestamp_ = 0;
  lastSessionMetadata_.reset();
  auto defaults = ns::UserDefaults::standardUserDefaults();
  ns::Value identifier = defaults->objectForKey(CRSLastSessionIdentifierKey);
  ns::Value timestamp = defaults->objectForKey(CRSLastSessionTimestampKey);
  ns::Value metadata = defaults->objectForKey(CRSLastSessionMetadataKey);
  if (!identifier.isString() || !timestamp.isNumber() || !metadata.isData()) return;
  lastSessionIdentifier_ = identifier.string();
  lastSessionTimestamp_ = timestamp.unsignedLongLongValue();
  lastSessionMetadata_ = metadata.data();
}

void CRSAnalyticsController::saveCurrentSessionInformation() {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(ns::Value(sessionIdentifier_), CRSLastSessionIdentifierKey);
  defaults->setObject_forKey(ns::Value(static_cast<unsigned long long>(sessionTimestamp_)),
                             CRSLastSessionTimestampKey);
  defaults->setObject_forKey(
      metadataController_ ? ns::Value(metadataController_->metadataJSONData()) : ns::Value(),
      CRSLastSessionMetadataKey);
  defaults->synchronize();
}

std::optional<std::string> CRSAnalyticsController::createEventFileURLForPriority_error(std::uint64_t priority,
                                                                                       ns::Error* error) {
  std::string fragment;
  std::uint64_t fragmentTimestamp = 0;
  {
    std::lock_guard lock(mutex_);
    fragment = currentSessionFragmentIdentifier_;
    fragmentTimestamp = currentSessionFragmentTimestamp_;
  }
  return repository_
      ->eventLogFileURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_eventPriority_error(
          CRSEventLogActiveStateName, sessionIdentifier_, sessionTimestamp_, fragment, fragmentTimestamp,
          static_cast<std::int64_t>(priority), error);
}

bool CRSAnalyticsController::prepareNewSessionFragmentWithIdentifier_timestamp_error(
    const std::string& identifier, std::uint64_t timestamp, ns::Error* error) {
  auto directory =
      repository_
          ->sessionFragmentDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_error(
              CRSEventLogActiveStateName, sessionIdentifier_, sessionTimestamp_, identifier, timestamp,
              error);
  if (!directory) return false;
  {
    std::lock_guard lock(mutex_);
    currentSessionFragmentIdentifier_ = identifier;
    currentSessionFragmentTimestamp_ = timestamp;
  }
  std::array<std::string, kPriorityCount> urls;
  for (int p = 0; p < kPriorityCount; ++p) {
    auto url = createEventFileURLForPriority_error(static_cast<std::uint64_t>(p), error);
    if (!url) return false;
    urls[p] = *url;
  }
  // Each slot changes on its own queue, so no record is half written into the old fragment.
  auto group = dispatch::groupCreate();
  auto self = this->self();
  for (int p = 0; p < kPriorityCount; ++p) {
    dispatch::groupAsync(group, queues_[p], [self, p, url = urls[p], timestamp] {
      Slot& slot = self->slots_[p];
      if (slot.file) slot.file->closeFileHandle();
      slot.file = nullptr;
      slot.url = url;
      slot.fragmentTimestamp = timestamp;
    });
  }
  if (dispatch::groupWait(group, dispatch::time(kFragmentSwapLimit)) != 0) {
    ns::setError(error, ns::Error::withDescription(CRSAnalyticsControllerErrorDomain, -4,
                                                   "The log files did not change over in time"));
    return false;
  }
  std::lock_guard lock(mutex_);
  currentSessionFragmentDirectoryURL_ = *directory;
  return true;
}

bool CRSAnalyticsController::addMetadataEventToFragmentEventFile_withPriority_timestamp_error(
    CRSEventLogEventFile& file, std::uint64_t priority, std::uint64_t timestamp, ns::Error* error) {
  if (!metadataController_) {
    ns::setError(error, ns::Error::withDescription(CRSAnalyticsControllerErrorDomain, -5, "No metadata"));
    return false;
  }
  CRSAnalyticsMetadataEvent event(priority, timestamp, metadataController_->metadataJSONData());
  return file.appendEvent_error(event, error);
}

bool CRSAnalyticsController::ensureLogFileExistsForPriority_error(std::uint64_t priority, ns::Error* error) {
  Slot& slot = slots_[priority];
  if (slot.file) return true;
  if (!slot.url) {
    ns::setError(error,
                 ns::Error::withDescription(CRSAnalyticsControllerErrorDomain, -5, "No open fragment"));
    return false;
  }
  auto file = CRSEventLogEventFile::initWithURL(*slot.url);
  if (!file) {
    ns::setError(error, ns::Error::posix(EIO, *slot.url));
    return false;
  }
  if (!addMetadataEventToFragmentEventFile_withPriority_timestamp_error(*file, priority,
                                                                        slot.fragmentTimestamp, error))
    return false;
  slot.file = file;
  return true;
}

// ---- events ----

bool CRSAnalyticsController::analyticsFeatureSwitchEnabled() const {
  if (!CRSContextIsInitialized()) return false;
  if (!haveSettings_) return true;
  return settingsShouldCollectAnalytics_;
}

void CRSAnalyticsController::logEvent(const ns::Ref<CRSEventLogEvent>& event) {
  if (!event || !analyticsFeatureSwitchEnabled()) return;
  std::uint64_t priority = event->priority();
  if (priority >= kPriorityCount) return;
  std::weak_ptr<CRSAnalyticsController> weak = self();
  dispatchToQueue_asynchronous_block(queues_[priority], priority == 2, [weak, event, priority] {
    auto self = weak.lock();
    if (!self) return;
    ns::Error error;
    if (!self->ensureLogFileExistsForPriority_error(priority, &error)) {
      CRSDebugLog("[CrashReporter] Unable to create a new log file for priority %zd {error: %@}",
                  static_cast<std::size_t>(priority), error);
      return;
    }
    Slot& slot = self->slots_[priority];
    if (!slot.file->appendEvent_error(*event, &error)) {
      // The next event opens the file again.
      slot.file->closeFileHandle();
      slot.file = nullptr;
      return;
    }
    std::uint64_t limit = self->settingsMaxByteSizePerFile_;
    if (limit != 0 && slot.file->fileSize() > limit) {
      self->maintainSessionFragmentsIgnoringError();
    } else if (priority == 0) {
      if (self->haveSettings_) {
        self->maintainSessionFragmentsIgnoringError();
      } else {
        self->performSessionMaintenanceAfterSettingsArrive_ = true;
        // Settings that arrived meanwhile may have looked for the mark before it was set.
        if (self->haveSettings_ && self->performSessionMaintenanceAfterSettingsArrive_.exchange(false))
          self->maintainSessionFragmentsIgnoringError();
      }
    }
  });
}

void CRSAnalyticsController::logAppInstalled() {
  if (!CRSInstallIdentifierIsNew()) return;
  logEvent(CRSAnalyticsEvent::initApplicationInstalledEventWithTimestamp_eventIdentifier(
      timestampGenerator_->generateAnalyticsTimestamp(), identifierGenerator_->generateEventIdentifier()));
}

void CRSAnalyticsController::logAppLaunched() {
  logEvent(CRSAnalyticsEvent::initApplicationLaunchedEventWithTimestamp_eventIdentifier(
      timestampGenerator_->generateAnalyticsTimestamp(), identifierGenerator_->generateEventIdentifier()));
}

void CRSAnalyticsController::logPreviousSessionCrashedOnDate(const std::optional<ns::Date>& date) {
  std::weak_ptr<CRSAnalyticsController> weak = self();
  dispatchToQueue_asynchronous_block(maintenanceQueue_, true, [weak, date] {
    auto self = weak.lock();
    // With analytics switched off the tree is gone and stays gone.
    if (!self || !self->analyticsFeatureSwitchEnabled()) return;
    if (!date || !self->lastSessionIdentifier_ || !self->lastSessionMetadata_ ||
        self->lastSessionTimestamp_ == 0)
      return;
    double seconds = std::max(0.0, date->timeIntervalSince1970());
    std::uint64_t timestamp = static_cast<std::uint64_t>(std::floor(seconds)) * 1000;
    auto crash = CRSAnalyticsEvent::initApplicationCrashedEventWithTimestamp_eventIdentifier(
        timestamp, self->identifierGenerator_->generateEventIdentifier());
    CRSAnalyticsMetadataEvent metadata(1, timestamp, *self->lastSessionMetadata_);
    ns::Error error;
    auto url =
        self->repository_
            ->eventLogFileURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_eventPriority_error(
                CRSEventLogActiveStateName, *self->lastSessionIdentifier_, self->lastSessionTimestamp_,
                self->identifierGenerator_->generateSessionFragmentIdentifier(), timestamp, 1, &error);
    auto file = url ? CRSEventLogEventFile::initWithURL(*url) : nullptr;
    if (!file) {
      if (url) error = ns::Error::posix(EIO, *url);
      CRSDebugLog(
          "[CrashReporter] Unable to create a new session fragment to contain crash event {error: %@}",
          error);
      if (url) self->repository_->removeLogFile_error(*url, nullptr);
      return;
    }
    bool written = false;
    if (!file->appendEvent_error(metadata, &error)) {
      CRSDebugLog("[CrashReporter] Unable to log metadata event {error: %@}", error);
    } else if (!file->appendEvent_error(*crash, &error)) {
      CRSDebugLog("[CrashReporter] Unable to log crash event {error: %@}", error);
    } else {
      written = true;
    }
    file->closeFileHandle();
    if (!written) self->repository_->removeLogFile_error(*url, nullptr);
  });
}

// ---- settings ----

ns::Ref<CRSSettings> CRSAnalyticsController::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

ns::Ref<ns::URL> CRSAnalyticsController::settingsAnalyticsURL() const {
  std::lock_guard lock(mutex_);
  return settingsAnalyticsURL_;
}

void CRSAnalyticsController::setSettings(const ns::Ref<CRSSettings>& settings) {
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
  }
  std::weak_ptr<CRSAnalyticsController> weak = self();
  dispatch::async(maintenanceQueue_, [weak, settings] {
    auto self = weak.lock();
    if (!self) return;
    // The logging queues read the mirror while it changes: the switch is set before the mark
    // that settings are present, so that no event sees settings without it.
    self->settingsShouldCollectAnalytics_ = settings && settings->shouldCollectAnalytics();
    {
      std::lock_guard lock(self->mutex_);
      self->settingsAnalyticsURL_ = settings ? settings->analyticsURL() : nullptr;
    }
    self->settingsShouldFlushOnBackground_ = settings && settings->shouldFlushAnalyticsOnBackground();
    self->settingsMaxByteSizePerFile_ = settings ? settings->maxByteSizePerFile() : 0;
    self->settingsFlushIntervalSecs_ = settings ? settings->flushIntervalSecs() : 0;
    self->settingsMaxPendingSendFileCount_ = settings ? settings->maxPendingSendFileCount() : 0;
    self->haveSettings_ = settings != nullptr;
    self->scheduleSessionMaintenance();
    self->handleDisabledFeatureSwitch();
    if (self->settingsShouldCollectAnalytics_ && !self->loggedAnalyticsEnabled_) {
      self->loggedAnalyticsEnabled_ = true;
      auto session =
          self->repository_->sessionDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_error(
              CRSEventLogActiveStateName, self->sessionIdentifier_, self->sessionTimestamp_, nullptr);
      CRSDebugLog("[CrashReporter] Logging events to session directory %@", session.value_or("(null)"));
    }
    if (self->performSessionMaintenanceAfterSettingsArrive_.exchange(false) &&
        self->analyticsFeatureSwitchEnabled())
      self->maintainSessionFragmentsIgnoringError();
  });
}

void CRSAnalyticsController::handleDisabledFeatureSwitch() {
  if (analyticsFeatureSwitchEnabled()) return;
  auto files = ns::FileManager::defaultManager();
  if (!files->fileExistsAtPath(root_)) return;
  auto self = this->self();
  for (int p = 0; p < kPriorityCount; ++p) {
    dispatch::sync(queues_[p], [self, p] {
      Slot& slot = self->slots_[p];
      if (slot.file) slot.file->closeFileHandle();
      slot.file = nullptr;
      slot.url.reset();
    });
  }
  ns::Error error;
  if (!files->removeItemAtPath_error(root_, &error))
    CRSDebugLog("[CrashReporter] Unable to purge analytics directory {error = %@}", error);
  performSessionMaintenanceAfterSettingsArrive_ = false;
}

// ---- the maintenance cycle ----

void CRSAnalyticsController::maintainSessionFragmentsIgnoringError() {
  maintainSessionFragments([](const std::optional<ns::Error>& error) {
    if (error) CRSDebugLog("[CrashReporter] Unable to maintain session fragments {%@}", *error);
  });
}

void CRSAnalyticsController::maintainSessionFragments(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] {
    self->openNewSessionFragment([self, completion](const std::optional<ns::Error>& opened) {
      if (opened) CRSDebugLog("[CrashReporter] Unable to open new session fragment {%@}", *opened);
      self->packageClosedSessionFragments([self, completion](const std::optional<ns::Error>& packaged) {
        if (packaged)
          CRSDebugLog("[CrashReporter] Unable to package closed session fragments {%@}", *packaged);
        self->transmitPackagedSessionFragments([self, completion](const std::optional<ns::Error>& sent) {
          if (sent) CRSDebugLog("[CrashReporter] Unable to transmit packaged session fragments {%@}", *sent);
          self->pruneSessionFragmentLogFiles([self, completion](const std::optional<ns::Error>& pruned) {
            if (pruned)
              CRSDebugLog("[CrashReporter] Unable to prune session fragment log files {%@}", *pruned);
            self->cleanUpRepository([self, completion](const std::optional<ns::Error>& cleaned) {
              if (cleaned)
                CRSDebugLog("[CrashReporter] Unable to clean up session repository {%@}", *cleaned);
              // Written here, not on the main thread: the defaults are thread-safe, and the main
              // thread may be waiting on this queue or run no loop at all.
              self->saveLastMaintenanceDate(ns::Date::now());
              if (completion) completion(std::nullopt);
            });
          });
        });
      });
    });
  });
}

void CRSAnalyticsController::openNewSessionFragment(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] { self->runOpenNewSessionFragment(completion); });
}

void CRSAnalyticsController::runOpenNewSessionFragment(Completion completion) {
  ns::Error error;
  bool opened = prepareNewSessionFragmentWithIdentifier_timestamp_error(
      identifierGenerator_->generateSessionFragmentIdentifier(),
      timestampGenerator_->generateAnalyticsTimestamp(), &error);
  completion(opened ? std::nullopt : std::optional<ns::Error>(error));
}

void CRSAnalyticsController::packageClosedSessionFragments(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] { self->runPackageClosedSessionFragments(completion); });
}

void CRSAnalyticsController::purgePackagedPrepSessionFragmentDirectories() {
  ns::Error error;
  if (!repository_->purgePrepSessionFragmentDirectoriesForStateName_error(CRSEventLogPackagedStateName,
                                                                          &error))
    CRSDebugLog("[CrashReporter] Unable to purge packaged prep session fragments {error = %@}", error);
}

std::optional<std::vector<std::string>>
CRSAnalyticsController::sessionFragmentDirectoryURLsForStateName_error(const std::string& state,
                                                                       ns::Error* error) {
  auto sessions = repository_->sessionDirectoryURLsForStateName_error(state, error);
  if (!sessions) return std::nullopt;
  std::vector<std::string> fragments;
  for (const auto& session : *sessions) {
    auto inSession = repository_->sessionFragmentDirectoryURLsForSessionDirectory_error(session, error);
    if (!inSession) return std::nullopt;
    fragments.insert(fragments.end(), inSession->begin(), inSession->end());
  }
  return fragments;
}

bool CRSAnalyticsController::isOpenSessionFragmentDirectoryURL(const std::string& url) const {
  auto open = currentSessionFragmentDirectoryURL();
  return open && CRSEventLogSessionRepository::standardizedPath(*open) ==
                     CRSEventLogSessionRepository::standardizedPath(url);
}

bool CRSAnalyticsController::
    packageLogsFromActiveSessionFragmentDirectoryURL_intoPackagedSessionFragmentDirectoryURL_error(
        const std::string& active, const std::string& packaged, ns::Error* error) {
  auto items = repository_->contentsOfDirectoryURL_error(active, error);
  if (!items) return false;
  for (const auto& item : *items) {
    if (!CRSEventLogSessionRepository::itemURL_hasPathExtensionMatching(item, "log")) continue;
    std::string target = (fs::path(packaged) / (fs::path(item).filename().string() + ".zip")).string();
    if (!CRSEventLogCompressFileAtPath_toPath_error(item, target, error)) return false;
  }
  return true;
}

void CRSAnalyticsController::runPackageClosedSessionFragments(Completion completion) {
  purgePackagedPrepSessionFragmentDirectories();
  ns::Error error;
  auto fragments = sessionFragmentDirectoryURLsForStateName_error(CRSEventLogActiveStateName, &error);
  if (!fragments) return completion(error);
  // A fragment that cannot be packaged stays in ACTIVE for a later cycle; it does not hold up the
  // fragments after it.
  std::optional<ns::Error> firstError;
  for (const auto& fragment : *fragments) {
    if (isOpenSessionFragmentDirectoryURL(fragment)) continue;
    ns::Error failure;
    auto prep = repository_->prepSessionFragmentDirectoryURLForStateName_sessionFragmentDirectoryURL_error(
        CRSEventLogPackagedStateName, fragment, &failure);
    bool packaged =
        prep &&
        packageLogsFromActiveSessionFragmentDirectoryURL_intoPackagedSessionFragmentDirectoryURL_error(
            fragment, *prep, &failure) &&
        repository_->removePrepStatusFromSessionFragmentDirectoryURL_error(*prep, &failure) &&
        repository_->removeSessionFragmentDirectory_error(fragment, &failure);
    if (!packaged && !firstError) firstError = failure;
  }
  completion(firstError);
}

void CRSAnalyticsController::transmitPackagedSessionFragments(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] {
    auto url = self->settingsAnalyticsURL();
    if (!url) return completion(analyticsError(-2));
    CRSDebugLog("[CrashReporter] Transmitting packaged session fragments to URL: %@", url->absoluteString());
    if (self->sessionFragmentsToTransmit_) return completion(analyticsError(-1));
    auto fragments =
        self->sessionFragmentDirectoryURLsForStateName_error(CRSEventLogPackagedStateName, nullptr);
    std::vector<std::string> toSend;
    for (const auto& fragment : fragments.value_or(std::vector<std::string>{})) {
      // A fragment still in preparation is not complete; the next packaging purges it.
      if (!CRSEventLogSessionRepository::isPrepDirectoryURL(fragment)) toSend.push_back(fragment);
    }
    self->sessionFragmentsToTransmit_ = std::move(toSend);
    self->transmitNextPackagedSessionFragment(completion);
  });
}

void CRSAnalyticsController::transmitNextPackagedSessionFragment(Completion completion) {
  if (!sessionFragmentsToTransmit_ || sessionFragmentsToTransmit_->empty()) {
    sessionFragmentsToTransmit_.reset();
    return completion(std::nullopt);
  }
  std::string fragment = sessionFragmentsToTransmit_->front();
  auto self = this->self();
  transmitLogsForSessionFragmentDirectory_completion(
      fragment, [self, fragment, completion](const std::optional<ns::Error>& error) {
        if (!error) {
          ns::Error failure;
          if (!self->repository_->removeSessionFragmentDirectory_error(fragment, &failure))
            CRSDebugLog("[CrashReporter] Unable to delete session fragment directory \"%@\" {%@}", fragment,
                        failure);
        }
        if (self->sessionFragmentsToTransmit_ && !self->sessionFragmentsToTransmit_->empty())
          self->sessionFragmentsToTransmit_->erase(self->sessionFragmentsToTransmit_->begin());
        self->transmitNextPackagedSessionFragment(completion);
      });
}

void CRSAnalyticsController::transmitLogsForSessionFragmentDirectory_completion(const std::string& fragment,
                                                                                Completion completion) {
  ns::Error error;
  auto files = repository_->logFileURLsForSessionFragmentDirectory_error(fragment, &error);
  if (!files) return completion(error);
  if (!settingsClient_) return completion(ns::Error(CRSClientErrorDomain, -3));
  auto queue = maintenanceQueue_;
  // Answers come on a global queue; the list and the folders belong to the maintenance queue.
  settingsClient_->submitEventLogFilesAtPaths_toURL_completion(
      *files, settingsAnalyticsURL(), [queue, completion](const std::optional<ns::Error>& answer) {
        dispatch::async(queue, [completion, answer] { completion(answer); });
      });
}

std::optional<std::vector<std::string>> CRSAnalyticsController::nonCurrentLogFileURLsForAllStates(
    ns::Error* error) {
  auto files = repository_->logFileURLsForAllStates(error);
  if (!files) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& file : *files) {
    if (!isOpenSessionFragmentDirectoryURL(
            CRSEventLogSessionRepository::sessionFragmentDirectoryURLForLogFileURL(file)))
      out.push_back(file);
  }
  return out;
}

std::array<std::vector<std::string>, CRSAnalyticsController::kPriorityCount>
CRSAnalyticsController::mutableSortedFileURLsGroupedByPrioritiesFromLogFileURLs(
    const std::vector<std::string>& urls) {
  std::array<std::vector<std::string>, kPriorityCount> groups;
  for (const auto& url : urls) {
    int priority =
        CRSEventLogSessionRepository::priorityForEventLogFileWithName(fs::path(url).filename().string());
    if (priority >= 0) groups[priority].push_back(url);
  }
  for (auto& group : groups) std::sort(group.begin(), group.end());
  return groups;
}

void CRSAnalyticsController::pruneSessionFragmentLogFiles(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] {
    if (!self->haveSettings_) return completion(std::nullopt);
    // Settings without a limit allow any number, as their other limits do; a limit of 0 would
    // delete packaged fragments still waiting for upload.
    std::uint32_t limit = self->settingsMaxPendingSendFileCount_;
    if (limit == 0) return completion(std::nullopt);
    ns::Error error;
    auto files = self->nonCurrentLogFileURLsForAllStates(&error);
    if (!files) return completion(error);
    std::size_t count = files->size();
    if (count <= limit) return completion(std::nullopt);
    auto grouped = mutableSortedFileURLsGroupedByPrioritiesFromLogFileURLs(*files);
    std::vector<std::vector<std::string>> groups(grouped.begin(), grouped.end());
    auto dropEmptyTail = [&groups] {
      while (!groups.empty() && groups.back().empty()) groups.pop_back();
    };
    dropEmptyTail();
    while (count > limit) {
      if (groups.empty() || groups.back().empty()) return completion(analyticsError(-3));
      std::string victim = groups.back().front();
      groups.back().erase(groups.back().begin());
      if (!self->repository_->removeLogFile_error(victim, &error)) return completion(error);
      dropEmptyTail();
      --count;
    }
    completion(std::nullopt);
  });
}

void CRSAnalyticsController::cleanUpRepository(Completion completion) {
  auto self = this->self();
  onMaintenanceQueue([self, completion] {
    ns::Error error;
    if (!self->repository_->cleanUpEventLogRepositoryIgnorningSessionFragmentDirectoryURL_error(
            self->currentSessionFragmentDirectoryURL(), &error))
      return completion(error);
    completion(std::nullopt);
  });
}

// ---- the timer ----

double CRSAnalyticsController::initialMaintenanceDelayWithFlushInterval_lastMaintenanceDate_now(
    std::uint32_t interval, const ns::Date& last, const ns::Date& now) {
  double delay = static_cast<double>(interval) - now.timeIntervalSinceDate(last);
  return std::clamp(delay, 0.0, static_cast<double>(interval));
}

ns::Date CRSAnalyticsController::lastMaintenanceDate() {
  ns::Value stored = ns::UserDefaults::standardUserDefaults()->objectForKey(CRSLastMaintenanceDateKey);
  if (stored.isDate()) return stored.date();
  ns::Date now = ns::Date::now();
  saveLastMaintenanceDate(now);
  return now;
}

void CRSAnalyticsController::saveLastMaintenanceDate(const ns::Date& date) {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(ns::Value(date), CRSLastMaintenanceDateKey);
  defaults->synchronize();
}

dispatch::Time CRSAnalyticsController::initialMaintenanceTimeWithFlushInterval(std::uint32_t interval) {
  return dispatch::time(initialMaintenanceDelayWithFlushInterval_lastMaintenanceDate_now(
      interval, lastMaintenanceDate(), ns::Date::now()));
}

void CRSAnalyticsController::cancelSessionMaintenance() {
  if (sessionFragmentMaintenanceTimerSource_) sessionFragmentMaintenanceTimerSource_->cancel();
  sessionFragmentMaintenanceTimerSource_ = nullptr;
}

void CRSAnalyticsController::scheduleSessionMaintenance() {
  cancelSessionMaintenance();
  std::uint32_t interval = settingsFlushIntervalSecs_;
  if (!analyticsFeatureSwitchEnabled() || interval == 0) return;
  auto timer = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, maintenanceQueue_);
  if (!timer) {
    CRSDebugLog("[CrashReporter] Unable to create _sessionFragmentMaintenanceTimerSource");
    return;
  }
  std::weak_ptr<CRSAnalyticsController> weak = self();
  timer->setTimer(initialMaintenanceTimeWithFlushInterval(interval), interval, kMaintenanceLeeway);
  timer->setEventHandler([weak] {
    if (auto self = weak.lock()) self->maintainSessionFragmentsIgnoringError();
  });
  timer->resume();
  sessionFragmentMaintenanceTimerSource_ = timer;
}
