#include "CrashReporter/CRSSDKController.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "CrashReporter/CRSApplicationInfo.h"
#include "CrashReporter/CRSCrashFile.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/appkit/Alert.h"
#include "platform/core/Format.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

namespace {

constexpr double kSettingsRetrySeconds = 600;
constexpr double kConfigureRetrySeconds = 60;
constexpr double kInvalidRetrySeconds = 300;
constexpr std::uint64_t kMaximumRetryInterval = 300;

std::string errorText(const std::optional<ns::Error>& error) {
  return error ? error->description() : std::string("(null)");
}

std::string extensionOf(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  return ext.empty() ? ext : ext.substr(1);
}

std::string withExtension(const std::string& path, const char* ext) {
  return fs::path(path).replace_extension(ext).string();
}

bool isUnreadableError(const std::optional<ns::Error>& error) {
  return error && error->domain() == CRSClientErrorDomain && error->code() == -4;
}

}  // namespace

CRSSDKController::CRSSDKController() : queue_(dispatch::queueCreate("com.crashreporter.submission")) {}

ns::Ref<CRSSettings> CRSSDKController::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void CRSSDKController::setSettings(ns::Ref<CRSSettings> settings) {
  std::lock_guard lock(mutex_);
  settings_ = std::move(settings);
}

std::uint64_t CRSSDKController::retryInterval() const {
  std::uint64_t value = 0;
  dispatch::sync(queue_, [&] { value = retryInterval_; });
  return value;
}

bool CRSSDKController::isRetrying() const {
  bool value = false;
  dispatch::sync(queue_, [&] { value = retrying_; });
  return value;
}

void CRSSDKController::assertOffQueue() const {
  if (dispatch::isCurrentQueue(queue_)) {
    ns::LogError("[CrashReporter] A client completion ran on %@", queue_->label());
    std::abort();
  }
}

// ---- folders ----

std::string CRSSDKController::rootPath() {
  auto caches = ns::SearchPathForDirectoriesInDomains(ns::CachesDirectory, ns::UserDomainMask, true);
  std::string base = caches.empty() ? std::string() : caches.back();
  return base + "/com.crashreporter.data";
}

std::string CRSSDKController::cachePath() {
  std::lock_guard lock(mutex_);
  if (cachePath_.empty()) {
    auto component = ns::UserDefaults::standardUserDefaults()->stringForKey(CRSCachePathComponentKey);
    cachePath_ =
        rootPath() + "/" + (component && !component->empty() ? *component : CRSApplicationBundleIdentifier());
  }
  return cachePath_;
}

std::string CRSSDKController::settingsCachePath() {
  return cachePath() + "/" + CRSSHA1HexStringFromString(settingsEndpoint()) + "/settings.plist";
}

ns::Dictionary CRSSDKController::appInfoDictionary() const {
  return ns::Bundle::mainBundle()->infoDictionary();
}

std::string CRSSDKController::settingsEndpoint() const {
  return CRSAPIEndpointOverride(appInfoDictionary()).value_or(CRSDefaultSettingsEndpoint);
}

// ---- file operations ----

bool CRSSDKController::createDirectoryAtPath(const std::string& path, std::string* problem) {
  auto fail = [&](std::string why) {
    CRSDebugLog("[CrashReporter] Unable to create directory %@", why);
    if (problem) *problem = std::move(why);
    return false;
  };
  std::error_code error;
  fs::path folder(path);
  // Below the reporter's root nothing but its own folders is taken: a file, a pipe or a link put
  // in a folder's place (a link could lead the reports anywhere) makes the folder unusable.
  const fs::path root(rootPath());
  for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
    const auto [end, _] = std::mismatch(root.begin(), root.end(), at.begin(), at.end());
    if (end == root.end()) {
      struct stat info {};
      if (::lstat(at.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
        return fail(at.string() + " is " + (S_ISLNK(info.st_mode) ? "a link" : "not a folder"));
      }
    }
    if (at == at.parent_path()) break;
  }
  std::vector<fs::path> made;
  for (fs::path at = folder; !at.empty() && !fs::exists(at, error); at = at.parent_path()) {
    made.insert(made.begin(), at);
    if (at == at.parent_path()) break;
  }
  for (const auto& at : made) {
    // The mode is set explicitly: the process's umask does not narrow it.
    if (::mkdir(at.c_str(), 0755) == 0) {
      ::chmod(at.c_str(), 0755);
    } else if (errno != EEXIST) {
      return fail(at.string() + ": " + std::strerror(errno));
    }
  }
  if (!fs::is_directory(folder, error)) return fail(path + " is not a folder");
  return true;
}

bool CRSSDKController::moveItemAtPath_toDirectory(const std::string& path, const std::string& folder) {
  if (path.empty() || folder.empty()) {
    CRSDebugLog("[CrashReporter] Failed to move file, inputs invalid");
    return false;
  }
  std::string target = folder + "/" + fs::path(path).filename().string();
  // Never replaces: a report of the same name already waiting there stays as it is.
  if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    CRSDebugLog("[CrashReporter] Failed to move file: %@", std::string(std::strerror(errno)));
    return false;
  }
  return true;
}

bool CRSSDKController::removeItemAtPath(const std::string& path) {
  std::error_code error;
  if (!fs::remove(path, error)) {
    CRSDebugLog("[CrashReporter] Failed to remove file '%@' : %@", path,
                error ? error.message() : std::string("no such file"));
    return false;
  }
  return true;
}

bool CRSSDKController::moveItemsFromDirectory_toDirectory(const std::string& from, const std::string& to) {
  bool ok = true;
  enumerateFilesInDirectory_usingBlock(from, [&](const std::string& path, const std::string&) {
    if (ok) ok = moveItemAtPath_toDirectory(path, to);
  });
  return ok;
}

bool CRSSDKController::enumerateFilesInDirectory_usingBlock(
    const std::string& folder, const std::function<void(const std::string&, const std::string&)>& block) {
  std::error_code error;
  std::vector<std::string> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    entries.push_back(it->path().string());
  if (error) return false;
  for (const auto& path : entries) block(path, extensionOf(path));
  return true;
}

bool CRSSDKController::ensureReasonableFileAtPath(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    CRSDebugLog("[CrashReporter] Could not get file attributes for %@ %@", path,
                std::string(std::strerror(errno)));
    return false;
  }
  auto size = static_cast<long long>(info.st_size);
  if (static_cast<std::uint64_t>(size) <= CRSMaximumReasonableFileSize) return true;
  CRSDebugLog("[CrashReporter] File too large to submit %@", path);
  std::error_code error;
  if (!fs::remove(path, error)) {
    CRSDebugLog("[CrashReporter] Unable to remove file at path %@ %@", path, error.message());
    return false;
  }
  if (!ns::writeStringToFile(ns::format("Original file size: %lld\n", size), path, true)) {
    CRSDebugLog("[CrashReporter] Unable to write large file marker at %@ %@", path,
                std::string("(write failed)"));
    return false;
  }
  return true;
}

bool CRSSDKController::isARejectedError(const ns::Error& error) {
  return error.domain() == CRSClientErrorDomain && error.code() == -5;
}

// ---- settings ----

bool CRSSDKController::setup() {
  for (const auto& folder :
       {processingDirectory(), preparedDirectory(), invalidDirectory(), sendableDirectory()}) {
    std::string problem;
    if (!createDirectoryAtPath(folder, &problem)) {
      // Said whatever the debug mode: without its folders the run has no crash reporting.
      ns::LogWarning("[CrashReporter] Crash reporting is off for this run: %@", problem);
      return false;
    }
  }
  return true;
}

void CRSSDKController::didLoadSettings(const ns::Ref<CRSSettings>& settings) {
  if (auto d = delegate()) d->controllerDidLoadSettings(settings);
}

bool CRSSDKController::isFirstLaunchForThisBuild() {
  auto stored = ns::UserDefaults::standardUserDefaults()->stringForKey(CRSBuildInstanceIdentifierKey);
  auto client = settingsClient();
  return !(stored && client && *stored == client->instanceIdentifier());
}

bool CRSSDKController::shouldLoadSettings() {
  auto current = settings();
  return !current || CRSDebugModeEnabled() || current->isOutdated() || !hostCanCacheSettings() ||
         isFirstLaunchForThisBuild();
}

bool CRSSDKController::beginStartupFlowAfterDelay(double delay) {
  delay_ = delay;
  if (auto cached = CRSSettings::initWithCachePath(settingsCachePath())) {
    setSettings(cached);
    didLoadSettings(cached);
  }
  if (shouldLoadSettings()) {
    auto weak = std::weak_ptr<CRSSDKController>(self());
    loadSettings([weak] {
      auto strong = weak.lock();
      if (!strong) return;
      strong->didLoadSettings(strong->settings());
      strong->onboardOrStartReportColletion();
    });
  } else {
    startReportingAfterDelay(delay);
  }
  return true;
}

void CRSSDKController::loadSettings(std::function<void()> completion) {
  auto self = this->self();
  dispatch::async(queue_, [self, completion] {
    if (self->retrying_) return;
    auto client = self->settingsClient();
    if (!client) return;
    CRSDebugLog("[CrashReporter] Loading settings");
    std::string instance = client->instanceIdentifier();
    client->loadSettingsWithCompletion(
        [self, completion, instance](const ns::Value& answer, const std::optional<ns::Error>& error) {
          if (!error && answer.isDictionary()) {
            dispatch::async(self->queue_, [self, completion, answer, instance] {
              self->retrying_ = false;
              if (!CRSSettings::isReadableAnswer(answer)) {
                // An answer of another settings version: the settings in use and their cache
                // stay, and the load is tried again like a failed one.
                self->scheduleSettingsRetry(completion);
                return;
              }
              std::string path = self->settingsCachePath();
              if (!createDirectoryAtPath(fs::path(path).parent_path().string())) return;
              if (!CRSSettings::writeSettings_toPath(answer, path)) {
                CRSDebugLog("[CrashReporter] Could not cache settings to disk");
                return;
              }
              // The build's mark goes with the cache, on this queue and at once: the next start
              // judges the cache by both, and a mark left to a later turn of the main thread was
              // lost whenever the run ended first, so that start asked for settings again.
              auto defaults = ns::UserDefaults::standardUserDefaults();
              defaults->setObject_forKey(ns::Value(instance), CRSBuildInstanceIdentifierKey);
              defaults->synchronize();
              auto loaded = CRSSettings::initWithCachePath(path);
              if (!loaded) {
                self->scheduleSettingsRetry(completion);
                return;
              }
              self->setSettings(loaded);
              CRSDebugLog("[CrashReporter] Settings loaded");
              if (completion) completion();
            });
            return;
          }
          self->assertOffQueue();
          dispatch::sync(self->queue_, [&] { self->scheduleSettingsRetry(completion); });
        });
  });
}

void CRSSDKController::scheduleSettingsRetry(const std::function<void()>& completion) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  CRSDebugLog("[CrashReporter] Failed to load settings");
  CRSDebugLog("[CrashReporter] Settings load scheduled (%lld)",
              static_cast<long long>(kSettingsRetrySeconds));
  retrying_ = true;
  auto self = this->self();
  dispatch::after(kSettingsRetrySeconds, queue_, [self, completion] {
    self->retrying_ = false;
    self->loadSettings(completion);
  });
}

void CRSSDKController::onboardOrStartReportColletion() {
  auto current = settings();
  if (current && current->appNeedsOnboarding()) {
    CRSDebugLog("[CrashReporter] Application not yet configured");
    configure(true);
    return;
  }
  if (current && current->requiresUpdate()) configure(false);
  startReportCollection();
}

void CRSSDKController::configure(bool newApp) {
  CRSDebugLog("[CrashReporter] Configuring application");
  auto client = settingsClient();
  auto current = settings();
  if (!client) return;
  auto self = this->self();
  client->configureApplicationUsingURL_asNewApp_completion(
      current ? current->appURL() : nullptr, newApp, [self, newApp](const std::optional<ns::Error>& error) {
        if (error) {
          CRSDebugLog("[CrashReporter] failed to configure %@", errorText(error));
          dispatch::after(kConfigureRetrySeconds, self->queue_, [self, newApp] { self->configure(newApp); });
          return;
        }
        CRSDebugLog("[CrashReporter] Configured application");
        dispatch::async(self->queue_, [self] { self->loadSettings(nullptr); });
      });
}

// ---- records ----

void CRSSDKController::startReportCollection() {
  auto current = settings();
  if (current && current->shouldCollectCrashReports()) {
    startReportingAfterDelay(delay_);
  } else {
    CRSDebugLog("[CrashReporter] Crash report collection disabled");
  }
}

void CRSSDKController::startReportingAfterDelay(double delay) {
  CRSDebugLog("[CrashReporter] Starting report processing in %.01f second(s)...", delay);
  auto self = this->self();
  double seconds = std::trunc(delay);
  if (seconds <= 0) {
    dispatch::async(queue_, [self] { self->processExistingRecords(false); });
  } else {
    dispatch::after(seconds, queue_, [self] { self->processExistingRecords(false); });
  }
}

void CRSSDKController::processExistingRecords(bool skipPrompt) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  if (!moveItemsFromDirectory_toDirectory(processingDirectory(), invalidDirectory())) {
    CRSDebugLog("[CrashReporter] Unable to move preexisting crashes, reporting cannot continue safely.");
    return;
  }
  bool ok = true;
  std::string processing = processingDirectory();
  enumerateFilesInDirectory_usingBlock(
      crashFileDirectory(), [&](const std::string& path, const std::string& ext) {
        if ((ext == "crsrecord" || ext == "crslog") && !path.ends_with("session.crslog") && ok)
          ok = moveItemAtPath_toDirectory(path, processing);
      });
  enumerateFilesInDirectory_usingBlock(processing, [&](const std::string& path, const std::string& ext) {
    if (ext != "crsrecord") return;
    if (auto report = processRecordFile(path)) {
      CRSDebugLog("[CrashReporter] Processed file successfully");
      if (ok) ok = moveItemAtPath_toDirectory(*report, preparedDirectory());
      return;
    }
    moveItemAtPath_toDirectory(path, invalidDirectory());
    std::string log = withExtension(path, ".crslog");
    if (fs::exists(log)) moveItemAtPath_toDirectory(log, invalidDirectory());
  });
  if (!sendingInvalidFiles_) submitInvalidFiles();

  bool anyPrepared = false;
  if (!enumerateFilesInDirectory_usingBlock(
          preparedDirectory(), [&](const std::string&, const std::string&) { anyPrepared = true; }) ||
      !anyPrepared) {
    CRSDebugLog("[CrashReporter] No prepared files found, submission process complete");
    // Reports already cleared for sending (an earlier run, or a pass after a failed upload) go on.
    bool anySendable = false;
    enumerateFilesInDirectory_usingBlock(sendableDirectory(),
                                         [&](const std::string&, const std::string&) { anySendable = true; });
    if (anySendable) submitFiles();
    return;
  }
  auto current = settings();
  if (current && current->shouldRequestPermissionToSubmit() && !skipPrompt && !CRSApplicationIsExtension()) {
    displayPermissionAlert();
    return;
  }
  if (moveItemsFromDirectory_toDirectory(preparedDirectory(), sendableDirectory())) {
    submitFiles();
  } else {
    CRSDebugLog("[CrashReporter] Unable to move processed crashes to outbox");
  }
}

std::optional<std::string> CRSSDKController::processRecordFile(const std::string& path) {
  if (!ensureReasonableFileAtPath(path)) {
    CRSDebugLog("[CrashReporter] Unable to safely read file at %@", path);
    return std::nullopt;
  }
  std::string report = withExtension(path, ".crs");
  std::string log = withExtension(path, ".crslog");
  CRSCrashFile file(path);
  if (!file.isValid()) {
    CRSDebugLog("[CrashReporter] Unable to process crsrecord file");
    return std::nullopt;
  }
  if (auto d = delegate()) d->controller_willProcessFile(self(), file);
  if (!file.writeCRSFileToPath(report)) {
    CRSDebugLog("[CrashReporter] Unable to write crs file");
    return std::nullopt;
  }
  std::error_code error;
  fs::remove(log, error);
  fs::remove(path, error);
  return report;
}

// ---- permission ----

void CRSSDKController::displayPermissionAlert() {
  auto self = this->self();
  if (CRSApplicationIsExtension()) {
    dispatch::async(queue_, [self] { self->submitReportsSettingAlwaysFlag(false); });
    return;
  }
  auto current = settings();
  if (!current) return;
  std::string title = current->interactivePromptTitle();
  std::string message = current->interactivePromptMessage();
  std::string cancel = current->interactivePromptCancelTitle();
  std::string send = current->interactivePromptSendTitle();
  std::optional<std::string> always;
  if (current->shouldIncludeInteractiveAlwaysSendOption())
    always = current->interactivePromptAlwaysSendTitle();
  CRSDebugLog("[CrashReporter] Displaying permission alert");
  dispatch::async(dispatch::mainQueue(), [self, title, message, cancel, send, always] {
    auto alert = ns::make<ak::Alert>();
    alert->setMessageText(title);
    alert->setInformativeText(ns::format("%@", message));
    alert->addButtonWithTitle(send);
    if (always) alert->addButtonWithTitle(*always);
    alert->addButtonWithTitle(cancel);
    long code = alert->runModal();
    long cancelCode = always ? ak::AlertThirdButtonReturn : ak::AlertSecondButtonReturn;
    dispatch::async(self->queue_, [self, code, cancelCode, hasAlways = always.has_value()] {
      if (code == ak::AlertFirstButtonReturn) {
        self->submitReportsSettingAlwaysFlag(false);
      } else if (hasAlways && code == ak::AlertSecondButtonReturn) {
        self->submitReportsSettingAlwaysFlag(true);
      } else if (code == cancelCode) {
        self->ignoreReports();
      }
      // An alert that ended without an answer leaves the reports for the next prompt.
    });
  });
}

void CRSSDKController::submitReportsSettingAlwaysFlag(bool always) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  if (always) CRSSettings::setUserDesiresReportsAlwaysBeSent(true);
  if (moveItemsFromDirectory_toDirectory(preparedDirectory(), sendableDirectory())) {
    submitFiles();
  } else {
    CRSDebugLog("[CrashReporter] Unable to move processed crashes to outbox");
  }
}

void CRSSDKController::ignoreReports() {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  CRSDebugLog("[CrashReporter] Ignoring Reports");
  for (const auto& folder : {preparedDirectory(), sendableDirectory()}) {
    enumerateFilesInDirectory_usingBlock(
        folder, [](const std::string& path, const std::string&) { removeItemAtPath(path); });
  }
}

// ---- submission ----

void CRSSDKController::scheduleSubmissionRetry() {
  CRSDebugLog("[CrashReporter] Submission retry scheduled (%lld)", static_cast<long long>(retryInterval_));
  auto self = this->self();
  dispatch::after(static_cast<double>(retryInterval_), queue_, [self] {
    self->retryInterval_ = std::min(2 * self->retryInterval_, kMaximumRetryInterval);
    self->loadSettings([self] { self->startReportCollection(); });
  });
}

void CRSSDKController::moveToInvalidAndContinue(const std::string& path) {
  moveItemAtPath_toDirectory(path, invalidDirectory());
  auto self = this->self();
  dispatch::async(queue_, [self] {
    // It goes out as an invalid record in this run unless an invalid-record chain is already on
    // its way, which will reach it.
    if (!self->sendingInvalidFiles_) self->submitInvalidFiles();
    self->submitFiles();
  });
}

void CRSSDKController::submitFiles() {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  std::vector<std::string> files;
  if (!enumerateFilesInDirectory_usingBlock(
          sendableDirectory(), [&](const std::string& path, const std::string&) { files.push_back(path); })) {
    CRSDebugLog("[CrashReporter] Unable to get sendable files");
    return;
  }
  auto self = this->self();
  if (files.empty()) {
    CRSDebugLog("[CrashReporter] No sendable files, submission process complete");
    dispatch::async(dispatch::mainQueue(), [self] {
      if (auto d = self->delegate()) d->controllerCompletedSubmissions(self);
    });
    return;
  }
  CRSDebugLog("[CrashReporter] Submitting files");
  std::string file = files.front();
  if (!ensureReasonableFileAtPath(file)) {
    // A report whose attributes cannot be read never will be sent: it would hold back every
    // report behind it, so it goes out as an invalid record instead.
    moveToInvalidAndContinue(file);
    return;
  }
  auto client = settingsClient();
  auto current = settings();
  if (!client) return;
  client->submitCRSFileAtPath_toURL_completion(
      file, current ? current->reportsURL() : nullptr, [self, file](const std::optional<ns::Error>& error) {
        if (!error) {
          dispatch::async(self->queue_, [self, file] {
            self->retryInterval_ = 10;
            CRSDebugLog("[CrashReporter] Submitted file successfully");
            if (removeItemAtPath(file)) self->submitFiles();
          });
        } else if (isARejectedError(*error) || isUnreadableError(error)) {
          CRSDebugLog("[CrashReporter] Submission rejected");
          dispatch::async(self->queue_, [self, file] { self->moveToInvalidAndContinue(file); });
        } else {
          dispatch::async(self->queue_, [self] { self->scheduleSubmissionRetry(); });
        }
      });
}

void CRSSDKController::submitInvalidFiles() {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  std::vector<std::string> files;
  enumerateFilesInDirectory_usingBlock(invalidDirectory(), [&](const std::string& path, const std::string&) {
    if (!fs::path(path).filename().string().starts_with(".")) files.push_back(path);
  });
  sendingInvalidFiles_ = !files.empty();
  if (files.empty()) {
    CRSDebugLog("[CrashReporter] Alternate file submission complete");
    return;
  }
  CRSDebugLog("[CrashReporter] Submitting alternate files");
  std::string file = files.front();
  auto self = this->self();
  auto retryLater = [self] {
    CRSDebugLog("[CrashReporter] Alternate submission retry scheduled (%lld)",
                static_cast<long long>(kInvalidRetrySeconds));
    dispatch::after(kInvalidRetrySeconds, self->queue_, [self] { self->submitInvalidFiles(); });
  };
  if (!ensureReasonableFileAtPath(file)) {
    retryLater();
    return;
  }
  auto client = settingsClient();
  auto current = settings();
  if (!client) return;
  client->submitInvalidRecordAtPath_toURL_completion(
      file, current ? current->reportsURL() : nullptr,
      [self, file, retryLater](const std::optional<ns::Error>& error) {
        // A record that cannot be read is given up like a rejected one: retrying it would hold
        // back every record behind it for ever.
        if (error && !isARejectedError(*error) && !isUnreadableError(error)) {
          retryLater();
          return;
        }
        if (error) {
          CRSDebugLog("[CrashReporter] Alternate file rejected by server, giving up");
        } else {
          CRSDebugLog("[CrashReporter] Submitted alternate file successfully");
        }
        dispatch::async(self->queue_, [self, file] {
          if (removeItemAtPath(file)) self->submitInvalidFiles();
        });
      });
}
