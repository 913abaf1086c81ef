#include "CrashReporter/CRSBetaController.h"

#include <cstdlib>

#include "CrashReporter/CRSApplicationInfo.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "platform/core/Format.h"
#include "platform/foundation/Bundle.h"

namespace {

constexpr double kBetaRetrySeconds = 900;

std::string localized(const char* key, const std::string& builtIn) {
  return ns::Bundle::mainBundle()->localizedStringForKey_value_table(key, builtIn, CRSLocalizationTable);
}

}  // namespace

CRSBetaUpdate::CRSBetaUpdate(const ns::Dictionary& answer) {
  if (const ns::Value& url = answer["url"]; url.isString()) url_ = ns::URL::URLWithString(url.string());
  if (const ns::Value& version = answer["version_string"]; version.isString()) version_ = version.string();
  promptTitle_ = localized("CrashReporterDistributionPromptTitle", "New Build Available");
  // A localised message replaces the whole sentence, without the name filled in.
  std::string message = ns::Bundle::mainBundle()->localizedStringForKey_value_table(
      "CrashReporterDistributionPromptMessage", "", CRSLocalizationTable);
  promptMessage_ = message != "CrashReporterDistributionPromptMessage" && !message.empty()
                       ? message
                       : ns::format("A new version of %@ is available for testing.", CRSApplicationName());
  cancelLabel_ = localized("CrashReporterDistributionPromptCancelTitle", "Cancel");
  installLabel_ = localized("CrashReporterDistributionPromptInstallTitle", "Install");
}

CRSBetaController::CRSBetaController() : queue_(dispatch::queueCreate("com.crashreporter.beta")) {}

ns::Ref<CRSSettings> CRSBetaController::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void CRSBetaController::setSettings(const ns::Ref<CRSSettings>& settings) {
  std::lock_guard lock(mutex_);
  settings_ = settings;
}

ns::Ref<CRSBetaUpdate> CRSBetaController::update() const {
  std::lock_guard lock(mutex_);
  return update_;
}

bool CRSBetaController::isRetrying() const {
  bool value = false;
  dispatch::sync(queue_, [&] { value = retrying_; });
  return value;
}

ns::Dictionary CRSBetaController::appInfoDictionary() const {
  return ns::Bundle::mainBundle()->infoDictionary();
}

bool CRSBetaController::shouldGetUpdates() const {
  return CRSBetaEnabled() && !checksSuspended_.load() && settings() != nullptr;
}

void CRSBetaController::checkForUpdate() {
  auto weak =
      std::weak_ptr<CRSBetaController>(std::static_pointer_cast<CRSBetaController>(shared_from_this()));
  maybeGetUpdate([weak] {
    if (auto self = weak.lock()) self->didGetUpdate(self->update());
  });
}

void CRSBetaController::maybeGetUpdate(std::function<void()> completion) {
  if (!shouldGetUpdates()) return;
  auto self = std::static_pointer_cast<CRSBetaController>(shared_from_this());
  dispatch::async(queue_, [self, completion] {
    if (self->retrying_) return;
    auto client = self->betaClient();
    auto current = self->settings();
    if (!client || !current) return;
    CRSDebugLog("[CrashReporter] Loading beta update");
    client->getUpdateWithURL_completion(
        current->betaUpdateEndpoint(),
        [self, completion](const ns::Value& answer, const std::optional<ns::Error>& error) {
          if (!error && answer.isDictionary()) {
            dispatch::async(self->queue_, [self, completion, answer] {
              self->temporarilySuspendChecks();
              self->retrying_ = false;
              CRSDebugLog("[CrashReporter] Beta update loaded");
              if (answer.dictionary().contains("url")) {
                auto update = ns::make<CRSBetaUpdate>(answer.dictionary());
                std::lock_guard lock(self->mutex_);
                self->update_ = update;
              }
              if (completion) completion();
            });
            return;
          }
          CRSDebugLog("[CrashReporter] Failed to load beta update");
          CRSDebugLog("[CrashReporter] Beta update load scheduled (%lld)",
                      static_cast<long long>(kBetaRetrySeconds));
          // The client answers on a global queue; on this queue the synchronous hop would deadlock.
          if (dispatch::isCurrentQueue(self->queue_)) {
            ns::LogError("[CrashReporter] A client completion ran on %@", self->queue_->label());
            std::abort();
          }
          dispatch::sync(self->queue_, [&] {
            self->retrying_ = true;
            dispatch::after(kBetaRetrySeconds, self->queue_, [self, completion] {
              self->retrying_ = false;
              self->maybeGetUpdate(completion);
            });
          });
        });
  });
}

void CRSBetaController::temporarilySuspendChecks() {
  auto self = std::static_pointer_cast<CRSBetaController>(shared_from_this());
  dispatch::async(dispatch::mainQueue(), [self] {
    auto current = self->settings();
    if (!current) return;
    self->checksSuspended_ = true;
    if (self->checkSuspensionTimer_) self->checkSuspensionTimer_->invalidate();
    std::weak_ptr<CRSBetaController> weak = self;
    self->checkSuspensionTimer_ = ns::Timer::scheduledTimerWithTimeInterval_repeats_block(
        current->betaUpdateSuspendDurationSecs(), false, [weak](const ns::Ref<ns::Timer>&) {
          if (auto strong = weak.lock()) strong->allowChecks();
        });
  });
}

void CRSBetaController::allowChecks() {
  checksSuspended_ = false;
  if (checkSuspensionTimer_) checkSuspensionTimer_->invalidate();
  checkSuspensionTimer_ = nullptr;
}
