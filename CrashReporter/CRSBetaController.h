#pragma once
// Beta build checks: asks the service, on the queue "com.crashreporter.beta", whether a newer
// build exists, keeps the answer, pauses checks for the settings' duration after an answer and
// retries a failed check every 900 seconds.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "CrashReporter/CRSBetaClient.h"
#include "CrashReporter/CRSSettings.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URL.h"
#include "platform/runloop/Timer.h"

class CRSBetaUpdate : public ns::Object {
 public:
  explicit CRSBetaUpdate(const ns::Dictionary& answer);  // initWithDictionary:

  const ns::Ref<ns::URL>& url() const { return url_; }
  const std::optional<std::string>& version() const { return version_; }
  const std::string& promptTitle() const { return promptTitle_; }
  const std::string& promptMessage() const { return promptMessage_; }
  const std::string& cancelLabel() const { return cancelLabel_; }
  const std::string& installLabel() const { return installLabel_; }

  std::string className() const override { return "CRSBetaUpdate"; }

 private:
  ns::Ref<ns::URL> url_;
  std::optional<std::string> version_;
  std::string promptTitle_;
  std::string promptMessage_;
  std::string cancelLabel_;
  std::string installLabel_;
};

class CRSBetaController : public ns::Object {
 public:
  CRSBetaController();

  ns::Ref<CRSBetaClient> betaClient() const { return betaClient_.lock(); }
  void setBetaClient(const ns::Ref<CRSBetaClient>& client) { betaClient_ = client; }
  ns::Ref<CRSSettings> settings() const;
  void setSettings(const ns::Ref<CRSSettings>& settings);
  ns::Ref<CRSBetaUpdate> update() const;
  bool checksSuspended() const { return checksSuspended_.load(); }
  // Read on the queue.
  bool isRetrying() const;
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }

  void checkForUpdate();
  void applicationWillEnterForeground() { checkForUpdate(); }
  void maybeGetUpdate(std::function<void()> completion);
  bool shouldGetUpdates() const;
  void temporarilySuspendChecks();
  void allowChecks();
  void didGetUpdate(const ns::Ref<CRSBetaUpdate>&) {}
  ns::Dictionary appInfoDictionary() const;

  std::string className() const override { return "CRSBetaController"; }

 private:
  std::weak_ptr<CRSBetaClient> betaClient_;
  mutable std::mutex mutex_;  // guards settings_ and update_
  ns::Ref<CRSSettings> settings_;
  ns::Ref<CRSBetaUpdate> update_;
  std::atomic<bool> checksSuspended_{false};
  ns::Ref<ns::Timer> checkSuspensionTimer_;  // main thread
  bool retrying_ = false;                    // on queue_
  ns::Ref<dispatch::Queue> queue_;
};
