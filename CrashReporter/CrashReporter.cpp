#include "CrashReporter/CrashReporter.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "CrashReporter/CRSAnalyticsController.h"
#include "CrashReporter/CRSApplicationInfo.h"
#include "CrashReporter/CRSCrashCapture.h"
#include "CrashReporter/CRSCrashFile.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CRSUUID.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/core/NoDestructor.h"
#include "platform/net/URL.h"
#include "platform/runloop/Timer.h"

namespace {

constexpr double kProcessSamplingInterval = 30;

// Samples the running processes into the crash context; nothing before capture is installed.
void captureProcessList() {
  if (!CRSContextIsInitialized()) return;
  dispatch::sync(CRSContextQueue(), [] { CRSProcessListCapture(CRSWritableContextGet()); });
}

bool environmentIsZero(const char* name) {
  const char* value = std::getenv(name);
  return value && std::string(value) == "0";
}

void storeIdentity(std::atomic<char*> CRSUserData::*slot, const ns::Value& value) {
  if (!CRSContextIsInitialized()) return;
  CRSContextStringSet(&(CRSWritableContextGet()->user.*slot),
                      CrashReporter::confirmCustomIdentifierValue(value), true);
}

void storeContextString(std::atomic<char*> CRSWritableContext::*slot, const ns::Value& value) {
  if (!CRSContextIsInitialized()) return;
  std::optional<std::string> text;
  if (value.isString()) text = value.string();
  CRSContextStringSet(&(CRSWritableContextGet()->*slot), text, true);
}

void storeCustomValue(const std::optional<std::string>& value, const std::string& key) {
  if (!value || !CRSContextIsInitialized()) return;
  CRSCustomAttributeSet(value->c_str(), key.c_str());
}

}  // namespace

// ---- class operations ----

CrashReporter::~CrashReporter() {
  if (thirtySecondTimer_) thirtySecondTimer_->invalidate();
}

ns::Ref<CrashReporter> CrashReporter::sharedInstance() {
  static ns::NoDestructor<ns::Ref<CrashReporter>> shared(ns::make<CrashReporter>());
  return *shared;
}

ns::Ref<CrashReporter> CrashReporter::startWithAPIKey(const std::string& key) {
  return startWithAPIKey_delegate(key, nullptr);
}

ns::Ref<CrashReporter> CrashReporter::startWithAPIKey_afterDelay(const std::string& key, double delay) {
  return startWithAPIKey_delegate_afterDelay(key, nullptr, delay);
}

ns::Ref<CrashReporter> CrashReporter::startWithAPIKey_delegate(
    const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate) {
  return startWithAPIKey_delegate_afterDelay(key, delegate, 1.0);
}

ns::Ref<CrashReporter> CrashReporter::startWithAPIKey_delegate_afterDelay(
    const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate, double delay) {
  CRSBuildEnvironment environment;
  environment.configuration = "unknown";
  environment.compiler = "unknown";
  return startWithAPIKey_delegate_afterDelay_environment(key, delegate, delay, environment);
}

ns::Ref<CrashReporter> CrashReporter::startWithAPIKey_delegate_afterDelay_environment(
    const std::string& key, const std::shared_ptr<CrashReporterDelegate>& delegate, double delay,
    CRSBuildEnvironment environment) {
  auto reporter = sharedInstance();
  if (delegate) reporter->setDelegate(delegate);
  return reporter->initializeWithAPIKey_delay_environment(key, delay, environment);
}

void CrashReporter::setUserIdentifier(const ns::Value& value) {
  storeIdentity(&CRSUserData::userIdentifier, value);
}
void CrashReporter::setUserName(const ns::Value& value) {
  storeIdentity(&CRSUserData::userName, value);
}
void CrashReporter::setUserEmail(const ns::Value& value) {
  storeIdentity(&CRSUserData::userEmail, value);
}
void CrashReporter::setDevelopmentPlatformName(const ns::Value& name) {
  storeContextString(&CRSWritableContext::developmentPlatform, name);
}
void CrashReporter::setDevelopmentPlatformVersion(const ns::Value& version) {
  storeContextString(&CRSWritableContext::developmentPlatformVersion, version);
}

std::optional<std::string> CrashReporter::confirmCustomIdentifierValue(const ns::Value& value) {
  if (value.isNil()) return std::nullopt;
  if (value.isString()) return value.string();
  return value.description();
}

std::optional<std::string> CrashReporter::customValueText(const ns::Value& value) {
  if (value.isNil()) return std::nullopt;
  std::string text;
  if (value.isString()) {
    text = value.string();
  } else if (value.isNumber()) {
    text = value.stringValue();
  } else if (auto url = value.objectAs<ns::URL>()) {
    text = url->absoluteString();
  } else {
    text = value.description();
  }
  return CRSPercentEscape(text);
}

void CrashReporter::setObjectValue_forKey(const ns::Value& value, const std::string& key) {
  storeCustomValue(customValueText(value), key);
}
void CrashReporter::setIntValue_forKey(int value, const std::string& key) {
  storeCustomValue(ns::format("%i", value), key);
}
void CrashReporter::setBoolValue_forKey(bool value, const std::string& key) {
  storeCustomValue(std::string(value ? "YES" : "NO"), key);
}
void CrashReporter::setFloatValue_forKey(float value, const std::string& key) {
  storeCustomValue(ns::format("%f", static_cast<double>(value)), key);
}

void CrashReporter::recordExceptionName_reason_frameArray(const std::string& name, const std::string& reason,
                                                          const std::vector<CRSStackFrame>& frames) {
  if (!CRSContextIsInitialized()) return;
  dispatch::sync(CRSContextQueue(), [&] { CRSRecordCustomException(name, reason, frames); });
}

bool CrashReporter::debugMode() {
  return CRSDebugModeEnabled();
}
void CrashReporter::setDebugMode(bool on) {
  CRSSetDebugModeEnabled(on);
}

// ---- properties ----

std::shared_ptr<CrashReporterDelegate> CrashReporter::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void CrashReporter::setDelegate(const std::shared_ptr<CrashReporterDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
std::string CrashReporter::apiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}
ns::Dictionary CrashReporter::kitInfo() const {
  std::lock_guard lock(mutex_);
  return kitInfo_;
}
void CrashReporter::setKitInfo(ns::Dictionary info) {
  std::lock_guard lock(mutex_);
  kitInfo_ = std::move(info);
}
std::map<std::string, std::string> CrashReporter::SDKKitVersions() const {
  std::lock_guard lock(mutex_);
  return SDKKitVersions_;
}
void CrashReporter::setSDKKitVersions(std::map<std::string, std::string> versions) {
  std::lock_guard lock(mutex_);
  SDKKitVersions_ = std::move(versions);
}

std::string CrashReporter::sessionIdentifier() const {
  std::lock_guard lock(mutex_);
  return sessionIdentifier_;
}

std::string CrashReporter::crashMarkerFilePath() const {
  return controller_ ? controller_->crashMarkerFilePath() : std::string();
}

std::optional<std::string> CrashReporter::conversionTrackingIdentifier() {
  auto d = delegate();
  return d ? d->crashreporterIdentifierForConversionTracking(*this) : std::nullopt;
}

void CrashReporter::start() {
  ns::Dictionary info = kitInfo();
  if (info.empty())
    ns::Exception::raise_format("NSInternalInconsistencyException", "Kit info missing for %@ kit",
                                className());
  const ns::Value& key = info["APIKey"];
  startWithAPIKey(key.isString() ? key.string() : std::string());
}

// ---- start-up ----

ns::Ref<CrashReporter> CrashReporter::initializeWithAPIKey_delay_environment(
    const std::string& key, double delay, const CRSBuildEnvironment& environment) {
  if (key.empty()) {
    ns::Exception::raise_format("CrashReporterException", "CrashReporter cannot start with the API key '%@'",
                                key);
  }
  if (CRSContextIsInitialized()) {
    ns::Log(
        "[CrashReporter] startWithAPIKey: called more than once. startWithAPIKey: should only be called "
        "once, at app "
        "launch time. This call is being ignored.");
    return self();
  }
  static std::once_flag once;
  std::call_once(once, [&] { startUp(key, delay, environment); });
  return self();
}

void CrashReporter::startUp(const std::string& key, double delay, const CRSBuildEnvironment& environment) {
  std::string digest = CRSSHA1HexStringFromString(CRSInstallIdentifier());
  queue_ = dispatch::queueCreate("com.crashreporter.queue");
  dispatch::setTargetQueue(queue_, dispatch::globalQueue(dispatch::Priority::Background));
  {
    std::lock_guard lock(mutex_);
    apiKey_ = key;
  }
  collectProcesses_ = false;
  CRSDebugLog("[CrashReporter] Welcome to CrashReporter %s", CrashReporterVersion);

  auto controller = ns::make<CRSSDKController>();
  controller->setDelegate(self());
  if (!controller->setup()) return;
  controller_ = controller;
  appIconController_ = ns::make<CRSAppIconController>();

  auto session = CRSUUID::generateWithSegmentData(ns::Data(digest));
  std::string sessionIdentifier = session ? session->stringValue() : CRSGenerateUUIDString();
  {
    std::lock_guard lock(mutex_);
    sessionIdentifier_ = sessionIdentifier;
  }

  if (environmentIsZero("CrashReporting")) {
    ns::Log("[CrashReporter] '%@' set - reporting disabled", std::string("CrashReporting"));
  } else if (!disableCrashReporting_) {
    setupCrashHandling_sessionIdentifier_environment(key, sessionIdentifier, environment);
    gatherInitialNotificationData();
    setupNotifications();
  }
  lastSessionWasCrash_ = false;

  settingsClient_ = CRSSettingsClient::initWithURL(ns::URL::URLWithString(controller_->settingsEndpoint()));
  settingsClient_->setDelegate(self());
  settingsClient_->setSDKKitVersions(SDKKitVersions());
  controller_->setSettingsClient(settingsClient_);

  if (CRSBetaEnabled()) {
    betaClient_ = CRSBetaClient::initWithURL(ns::URL::URLWithString(""));
    betaClient_->setDelegate(self());
    betaController_ = ns::make<CRSBetaController>();
    betaController_->setBetaClient(betaClient_);
  }
  if (CRSAnalyticsController::supported()) {
    analyticsController_ = CRSAnalyticsController::
        initWithSettingsClient_sessionIdentifier_analyticsRootDirectoryWithURL_identifierGenerator_timestampGenerator(
            settingsClient_, sessionIdentifier, controller_->analyticsDirectory(),
            ns::make<CRSAnalyticsIdentifierGenerator>(), ns::make<CRSAnalyticsTimestampGenerator>());
    if (analyticsController_) {
      analyticsController_->logAppInstalled();
      analyticsController_->logAppLaunched();
    }
  }

  checkForCrashMarker();

  if (environmentIsZero("CrashSubmission")) {
    ns::Log("[CrashReporter] '%@' set - submission disabled", std::string("CrashSubmission"));
  } else {
    controller_->beginStartupFlowAfterDelay(delay);
  }

  if (CRSDebugModeEnabled() && CRSContextIsInitialized()) {
    dispatch::after(2.0, CRSContextQueue(), [] { CRSCheckExceptionAndSignalHandlers(); });
  }
}

void CrashReporter::setupCrashHandling_sessionIdentifier_environment(const std::string& key,
                                                                     const std::string& session,
                                                                     const CRSBuildEnvironment& environment) {
  std::string normalized = CRSNormalizedUUIDString(session);
  std::string folder = controller_->crashFileDirectory();
  std::string record = folder + "/" + normalized + ".crsrecord";
  std::string marker = crashMarkerFilePath();
  std::string runningLog = folder + "/session." + "crslog";
  std::string sessionLog = folder + "/" + normalized + ".crslog";
  auto conversion = conversionTrackingIdentifier();

  CRSContextInitData data;
  data.apiKey = key.c_str();
  data.sessionIdentifier = session.c_str();
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  data.requestFlags = 15;
  data.runningLogPath = runningLog.c_str();
  data.sessionLogPath = sessionLog.c_str();
  data.conversionTrackingIdentifier = conversion ? conversion->c_str() : nullptr;
  data.buildEnvironment = environment;
  std::weak_ptr<CRSSDKController> weakController = controller_;
  data.hourlyCallback = [weakController] {
    if (auto controller = weakController.lock()) controller->loadSettings(nullptr);
  };
  data.machExceptionExclusionMask = machExceptionMask();
  CRSContextInitialize(data);
}

std::uint32_t CrashReporter::machExceptionMask() {
  auto d = delegate();
  if (!d) return 0;
  std::uint32_t mask = 0;
  for (int signal : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP}) {
    auto deliver = d->crashreporter_ensureDeliveryOfUnixSignal(*this, signal);
    if (!deliver) return 0;  // the delegate does not implement it
    if (*deliver) mask |= CRSMachExceptionMaskForSignal(signal);
  }
  return mask;
}

void CrashReporter::gatherInitialNotificationData() {
  if (CRSWritableContext* writable = CRSWritableContextGet())
    CRSContextStringSet(&writable->batteryLevel, std::string("0.0"), false);
}

void CrashReporter::checkForCrashMarker() {
  std::string marker = crashMarkerFilePath();
  std::error_code error;
  bool exists = !marker.empty() && std::filesystem::exists(marker, error);
  lastSessionWasCrash_ = exists;
  if (!exists) return;
  if (!std::filesystem::remove(marker, error))
    CRSDebugLog("[CrashReporter] Unable to remove crash marker file");
  auto self = this->self();
  dispatch::async(dispatch::mainQueue(), [self] {
    if (auto d = self->delegate()) d->crashreporterDidDetectCrashDuringPreviousExecution(self);
  });
}

// ---- controller delegate ----

void CrashReporter::controllerDidLoadSettings(const ns::Ref<CRSSettings>& settings) {
  if (!settings) return;
  logBufferSize_ = static_cast<std::int64_t>(settings->logBufferSize());
  attributesCount_ = settings->maxCustomKeyValuePairs();
  isSettingsLoaded_ = true;
  CRSUserLoggingApplySettings(settings->maxCustomKeyValuePairs(), settings->logBufferSize());
  if (analyticsController_) analyticsController_->setSettings(settings);
  if (CRSBetaEnabled() && betaController_ && !betaController_->settings()) {
    betaController_->setSettings(settings);
    betaController_->checkForUpdate();
  }
}

void CrashReporter::controller_willProcessFile(const ns::Ref<CRSSDKController>&, CRSCrashFile& file) {
  if (!CRSContextIsInitialized()) return;
  const CRSContext* context = CRSContextGet();
  auto images = CRSBinaryImagesUUIDMap();
  dispatch::sync(CRSContextQueue(), [&] {
    file.setProcessingExecutableUUID(context->executable.uuid ? context->executable.uuid : "(invalid)");
    file.symbolicateWithUUIDMap(images);
  });
  if (!lastSessionWasCrash_) return;
  if (analyticsController_) {
    std::optional<ns::Date> crashed;
    if (auto seconds = file.crashedOnDate()) crashed = ns::Date::dateWithTimeIntervalSince1970(*seconds);
    analyticsController_->logPreviousSessionCrashedOnDate(crashed);
  }
  auto copy = std::make_shared<const CRSCrashFile>(file);
  auto self = this->self();
  dispatch::async(dispatch::mainQueue(), [self, copy] {
    if (auto d = self->delegate()) d->crashreporter_didDetectCrashDuringPreviousExecution(self, copy);
  });
}

void CrashReporter::controller_collectProcesses(const ns::Ref<CRSSDKController>&, bool collect) {
  collectProcesses_ = collect;
  if (!collect) return;
  captureProcessList();
  auto self = this->self();
  dispatch::async(dispatch::mainQueue(), [self] { self->startThirtySecondIntervalIfNeeded(); });
}

void CrashReporter::startThirtySecondIntervalIfNeeded() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (thirtySecondTimer_ && thirtySecondTimer_->isValid()) return;
  std::weak_ptr<CrashReporter> weak = self();
  thirtySecondTimer_ = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(
      kProcessSamplingInterval, true, [weak](const ns::Ref<ns::Timer>& timer) {
        if (auto self = weak.lock()) {
          self->updateThirtySecondIntervalData();
        } else {
          timer->invalidate();
        }
      });
}

void CrashReporter::updateThirtySecondIntervalData() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (collectProcesses_) {
    captureProcessList();
    return;
  }
  // Sampling was switched off: the timer goes, and switching it on again makes a new one.
  if (thirtySecondTimer_) thirtySecondTimer_->invalidate();
  thirtySecondTimer_ = nullptr;
}

// ---- client delegate ----

std::string CrashReporter::bundleId() {
  return CRSApplicationBundleIdentifier();
}
std::optional<std::string> CrashReporter::applicationName() {
  return CRSApplicationName();
}
std::optional<std::string> CrashReporter::bundleVersion() {
  return CRSApplicationBundleVersion();
}
std::optional<std::string> CrashReporter::shortBundleVersion() {
  return CRSApplicationShortBundleVersion();
}
std::optional<std::map<std::string, std::string>> CrashReporter::executableSlices() {
  return CRSExecutableSlices();
}
std::optional<std::string> CrashReporter::minimumSDKVersion() {
  return CRSExecutableMinimumSDKVersion();
}
std::optional<std::string> CrashReporter::builtSDKVersion() {
  return CRSExecutableBuiltSDKVersion();
}
std::uint32_t CrashReporter::deliveryMechanism() {
  return CRSApplicationDeliveryMechanism();
}
std::uint32_t CrashReporter::deviceState() {
  return CRSDeviceStateFlags();
}

ns::Dictionary CrashReporter::identificationDictionary() {
  ns::Dictionary identity;
  if (!CRSContextIsInitialized()) return identity;
  const CRSContext* context = CRSContextGet();
  auto add = [&](const char* key, const char* value) {
    if (value) identity.set(key, std::string(value));
  };
  add("mac_hardware_uuid", context->host.deviceIdentifier);
  add("ios_vendor_identifier", context->host.vendorIdentifier);
  add("ios_advertising_identifier", context->host.advertisingIdentifier);
  add("application_installation_uuid", context->host.installIdentifier);
  add("font_token", context->host.fontToken);
  if (auto model = CRSHostModelString()) identity.set("model", *model);
  if (auto os = CRSHostOSVersionString()) identity.set("os_version", *os);
  return identity;
}

std::optional<ns::Array> CrashReporter::eventArray() {
  return CRSInstallEventArray();
}
void CrashReporter::removeInstallEventKey() {
  CRSRemoveInstallEventKey();
}
ns::Ref<CRSIcon> CrashReporter::icon() {
  return appIconController_ ? appIconController_->applicationIcon() : nullptr;
}
