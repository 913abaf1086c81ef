#pragma once
// The work after start-up: the data folders, the service settings (cached or fetched), the
// registration of the application, the conversion of earlier crash records into reports, the
// user's permission where the settings ask for it, and the submission of reports and invalid
// records with retries. Folder work and submissions run on the serial queue
// "com.crashreporter.submission"; the settings client's completions arrive on a global queue and
// hop onto it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "CrashReporter/CRSSettings.h"
#include "CrashReporter/CRSSettingsClient.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"

class CRSCrashFile;
class CRSSDKController;

class CRSSDKControllerDelegate {
 public:
  virtual ~CRSSDKControllerDelegate() = default;
  virtual void controllerCompletedSubmissions(const ns::Ref<CRSSDKController>& controller) = 0;
  virtual void controller_willProcessFile(const ns::Ref<CRSSDKController>& controller,
                                          CRSCrashFile& file) = 0;
  virtual void controller_collectProcesses(const ns::Ref<CRSSDKController>& controller, bool collect) = 0;
  // Optional; on the thread that loaded the settings.
  virtual void controllerDidLoadSettings(const ns::Ref<CRSSettings>&) {}
};

// The endpoint the settings are fetched from when neither the Info.plist nor the environment
// names one.
inline constexpr char CRSDefaultSettingsEndpoint[] = "https://settings.crashreporter.invalid";
inline constexpr char CRSBuildInstanceIdentifierKey[] = "crashreporter_build_instance_identifier";
inline constexpr char CRSCachePathComponentKey[] = "CrashReporterCachePathComponent";
inline constexpr std::uint64_t CRSMaximumReasonableFileSize = 1048576;

class CRSSDKController : public ns::Object {
 public:
  CRSSDKController();

  std::shared_ptr<CRSSDKControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<CRSSDKControllerDelegate>& delegate) { delegate_ = delegate; }
  ns::Ref<CRSSettingsClient> settingsClient() const { return settingsClient_.lock(); }
  void setSettingsClient(const ns::Ref<CRSSettingsClient>& client) { settingsClient_ = client; }
  ns::Ref<CRSSettings> settings() const;
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }
  // Read on the queue.
  std::uint64_t retryInterval() const;
  bool isRetrying() const;

  // Folders.
  static std::string rootPath();
  std::string cachePath();
  std::string crashFileDirectory() { return cachePath(); }
  std::string processingDirectory() { return cachePath() + "/processing"; }
  std::string invalidDirectory() { return cachePath() + "/invalid"; }
  std::string preparedDirectory() { return cachePath() + "/prepared"; }
  std::string sendableDirectory() { return cachePath() + "/sendable"; }
  std::string crashMarkerFilePath() { return cachePath() + "/crash_marker"; }
  std::string analyticsDirectory() { return cachePath() + "/analytics"; }
  std::string settingsCachePath();
  ns::Dictionary appInfoDictionary() const;
  std::string settingsEndpoint() const;
  bool hostCanCacheSettings() const { return true; }

  bool setup();
  bool beginStartupFlowAfterDelay(double delay);
  void loadSettings(std::function<void()> completion);
  void startReportingAfterDelay(double delay);
  void startReportCollection();
  void onboardOrStartReportColletion();
  void configure(bool newApp);
  void processExistingRecords(bool skipPrompt);
  std::optional<std::string> processRecordFile(const std::string& path);
  void displayPermissionAlert();
  void submitReportsSettingAlwaysFlag(bool always);
  void ignoreReports();
  void submitFiles();
  void submitInvalidFiles();

  bool shouldLoadSettings();
  bool isFirstLaunchForThisBuild();
  void didLoadSettings(const ns::Ref<CRSSettings>& settings);
  static bool isARejectedError(const ns::Error& error);

  // File operations; each answers success.
  // Makes the folder and its missing parents; below rootPath() a file, pipe or link in the place of
  // one of them fails it. `problem`, when given, receives why it failed.
  static bool createDirectoryAtPath(const std::string& path, std::string* problem = nullptr);
  // Fails when the target folder already holds an entry of that name.
  static bool moveItemAtPath_toDirectory(const std::string& path, const std::string& folder);
  static bool removeItemAtPath(const std::string& path);
  static bool moveItemsFromDirectory_toDirectory(const std::string& from, const std::string& to);
  // False when the folder cannot be listed.
  static bool enumerateFilesInDirectory_usingBlock(
      const std::string& folder,
      const std::function<void(const std::string& path, const std::string& ext)>& block);
  // A file over 1 MiB is replaced by the text "Original file size: N\n".
  static bool ensureReasonableFileAtPath(const std::string& path);

  std::string className() const override { return "CRSSDKController"; }

 private:
  ns::Ref<CRSSDKController> self() { return std::static_pointer_cast<CRSSDKController>(shared_from_this()); }
  void setSettings(ns::Ref<CRSSettings> settings);
  void scheduleSubmissionRetry();
  void scheduleSettingsRetry(const std::function<void()>& completion);
  // The clients call back on a global queue; a completion on this queue would deadlock below.
  void assertOffQueue() const;
  void moveToInvalidAndContinue(const std::string& path);

  std::weak_ptr<CRSSDKControllerDelegate> delegate_;
  std::weak_ptr<CRSSettingsClient> settingsClient_;
  mutable std::mutex mutex_;  // guards settings_ and cachePath_
  ns::Ref<CRSSettings> settings_;
  std::string cachePath_;
  ns::Ref<dispatch::Queue> queue_;
  // On queue_.
  std::uint64_t retryInterval_ = 10;
  bool retrying_ = false;
  bool sendingInvalidFiles_ = false;
  double delay_ = 0;
};
