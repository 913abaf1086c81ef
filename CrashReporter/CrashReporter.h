#pragma once
// The crash reporter's public entry. The application calls CrashReporter::startWithAPIKey once at
// launch: that installs crash capture and, after the given delay, turns the records of an earlier
// crash into reports and sends them. One object per process, never destroyed: its queues and
// signal handlers outlive main.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSBetaClient.h"
#include "CrashReporter/CRSBetaController.h"
#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSIcon.h"
#include "CrashReporter/CRSSDKController.h"
#include "CrashReporter/CRSSettingsClient.h"
#include "CrashReporter/CRSStackFrame.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/dispatch/Queue.h"

namespace ns {
class Timer;
}

class CrashReporter;
class CRSCrashFile;
// Session analytics (CrashReporter/CRSAnalyticsController.h).
class CRSAnalyticsController;

inline constexpr char CrashReporterVersion[] = "2.2.5";

// The application's optional delegate. Each default does what a delegate that does not
// implement the method gets; notifications arrive on the main queue.
class CrashReporterDelegate {
 public:
  virtual ~CrashReporterDelegate() = default;
  // Nothing: not implemented (the exception mask then stays 0).
  virtual std::optional<bool> crashreporter_ensureDeliveryOfUnixSignal(CrashReporter&, int) {
    return std::nullopt;
  }
  virtual void crashreporterDidDetectCrashDuringPreviousExecution(const ns::Ref<CrashReporter>&) {}
  virtual void crashreporter_didDetectCrashDuringPreviousExecution(
      const ns::Ref<CrashReporter>&, const std::shared_ptr<const CRSCrashFile>&) {}
  virtual std::optional<std::string> crashreporterIdentifierForConversionTracking(CrashReporter&) {
    return std::nullopt;
  }
};

class CrashReporter : public ns::Object, public CRSSDKControllerDelegate, public CRSSettingsClientDelegate {
 public:
  static ns::Ref<CrashReporter> sharedInstance();

  static ns::Ref<CrashReporter> startWithAPIKey(const std::string& key);
  static ns::Ref<CrashReporter> startWithAPIKey_afterDelay(const std::string& key, double delay);
  static ns::Ref<CrashReporter> startWithAPIKey_delegate(
      const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate);
  static ns::Ref<CrashReporter> startWithAPIKey_delegate_afterDelay(
      const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate, double delay);
  static ns::Ref<CrashReporter> startWithAPIKey_delegate_afterDelay_environment(
      const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate, double delay,
      CRSBuildEnvironment environment);

  // User identity and custom keys; ignored until crash capture is installed. A nil value is
  // stored as "(null)".
  static void setUserIdentifier(const ns::Value& value);
  static void setUserName(const ns::Value& value);
  static void setUserEmail(const ns::Value& value);
  static void setObjectValue_forKey(const ns::Value& value, const std::string& key);
  static void setIntValue_forKey(int value, const std::string& key);
  static void setBoolValue_forKey(bool value, const std::string& key);
  static void setFloatValue_forKey(float value, const std::string& key);
  static void setDevelopmentPlatformName(const ns::Value& name);
  static void setDevelopmentPlatformVersion(const ns::Value& version);
  static void recordExceptionName_reason_frameArray(const std::string& name, const std::string& reason,
                                                    const std::vector<CRSStackFrame>& frames);
  // The text stored for an identity value: a string itself, else its description; nothing for nil.
  static std::optional<std::string> confirmCustomIdentifierValue(const ns::Value& value);
  // The text stored for a custom object value: a string itself, a number's text, a URL's absolute
  // text, else the description, percent-escaped; nothing for nil.
  static std::optional<std::string> customValueText(const ns::Value& value);

  static bool debugMode();
  static void setDebugMode(bool on);

  ns::Ref<CrashReporter> initializeWithAPIKey_delay_environment(const std::string& key, double delay,
                                                                const CRSBuildEnvironment& environment);
  // The kit interface: starts with kitInfo["APIKey"].
  void start();

  std::shared_ptr<CrashReporterDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<CrashReporterDelegate>& delegate);
  std::string apiKey() const;
  std::string version() const { return CrashReporterVersion; }
  std::string crashMarkerFilePath() const;
  std::optional<std::string> conversionTrackingIdentifier();
  std::uint32_t machExceptionMask();
  void checkForCrashMarker();
  void setupCrashHandling_sessionIdentifier_environment(const std::string& key, const std::string& session,
                                                        const CRSBuildEnvironment& environment);
  void gatherInitialNotificationData();
  void setupNotifications() {}
  // Process sampling, on the main thread: makes the 30-second timer when there is none, and on
  // each firing samples the processes again while sampling is on, or stops the timer once it is
  // off.
  void startThirtySecondIntervalIfNeeded();
  void updateThirtySecondIntervalData();

  const ns::Ref<CRSSDKController>& controller() const { return controller_; }
  const ns::Ref<CRSSettingsClient>& settingsClient() const { return settingsClient_; }
  const ns::Ref<CRSBetaClient>& betaClient() const { return betaClient_; }
  const ns::Ref<CRSBetaController>& betaController() const { return betaController_; }
  const ns::Ref<CRSAnalyticsController>& analyticsController() const { return analyticsController_; }
  // This run's session identifier ("" before start-up made one).
  std::string sessionIdentifier() const;
  bool lastSessionWasCrash() const { return lastSessionWasCrash_.load(); }
  bool collectProcesses() const { return collectProcesses_.load(); }
  // The process-sampling timer while it runs (main thread only).
  const ns::Ref<ns::Timer>& thirtySecondTimer() const { return thirtySecondTimer_; }
  bool isSettingsLoaded() const { return isSettingsLoaded_.load(); }
  std::uint64_t attributesCount() const { return attributesCount_.load(); }
  std::int64_t logBufferSize() const { return logBufferSize_.load(); }
  bool disableCrashReporting() const { return disableCrashReporting_.load(); }
  void setDisableCrashReporting(bool disable) { disableCrashReporting_ = disable; }
  ns::Dictionary kitInfo() const;
  void setKitInfo(ns::Dictionary info);
  std::map<std::string, std::string> SDKKitVersions() const;
  void setSDKKitVersions(std::map<std::string, std::string> versions);

  // CRSSDKControllerDelegate.
  void controllerCompletedSubmissions(const ns::Ref<CRSSDKController>&) override {}
  void controller_willProcessFile(const ns::Ref<CRSSDKController>& controller, CRSCrashFile& file) override;
  void controller_collectProcesses(const ns::Ref<CRSSDKController>&, bool collect) override;
  void controllerDidLoadSettings(const ns::Ref<CRSSettings>& settings) override;

  // CRSSettingsClientDelegate.
  std::string APIKey() override { return apiKey(); }
  std::string bundleId() override;
  std::optional<std::string> applicationName() override;
  std::optional<std::string> bundleVersion() override;
  std::optional<std::string> shortBundleVersion() override;
  std::optional<std::map<std::string, std::string>> executableSlices() override;
  std::optional<std::string> minimumSDKVersion() override;
  std::optional<std::string> builtSDKVersion() override;
  std::uint32_t deliveryMechanism() override;
  std::uint32_t deviceState() override;
  ns::Dictionary identificationDictionary() override;
  std::optional<ns::Array> eventArray() override;
  void removeInstallEventKey() override;
  ns::Ref<CRSIcon> icon() override;

  std::string className() const override { return "CrashReporter"; }

  ~CrashReporter() override;

 private:
  ns::Ref<CrashReporter> self() { return std::static_pointer_cast<CrashReporter>(shared_from_this()); }
  void startUp(const std::string& key, double delay, const CRSBuildEnvironment& environment);

  mutable std::mutex mutex_;  // guards the strings and dictionaries below
  std::weak_ptr<CrashReporterDelegate> delegate_;
  std::string apiKey_;
  std::string sessionIdentifier_;
  ns::Dictionary kitInfo_;
  std::map<std::string, std::string> SDKKitVersions_;
  ns::Ref<dispatch::Queue> queue_;
  ns::Ref<CRSSDKController> controller_;
  ns::Ref<CRSAppIconController> appIconController_;
  ns::Ref<CRSBetaController> betaController_;
  ns::Ref<CRSBetaClient> betaClient_;
  ns::Ref<CRSSettingsClient> settingsClient_;
  ns::Ref<CRSAnalyticsController> analyticsController_;
  ns::Ref<ns::Timer> thirtySecondTimer_;  // main thread only
  std::atomic<bool> lastSessionWasCrash_{false};
  std::atomic<bool> collectProcesses_{false};
  std::atomic<bool> isSettingsLoaded_{false};
  std::atomic<bool> disableCrashReporting_{false};
  std::atomic<std::uint64_t> attributesCount_{0};
  std::atomic<std::int64_t> logBufferSize_{0};
};
