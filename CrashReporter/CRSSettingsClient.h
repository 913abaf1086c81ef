#pragma once
// The client of the service's settings endpoint: loads the settings, registers or updates the
// application and uploads crash reports. Every completion runs once, on the default-priority
// global queue.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSClientBase.h"
#include "CrashReporter/CRSIcon.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

// No real settings document comes near this: a longer answer is refused (and not read further)
// as a failed load, so that it is neither kept in memory nor cached.
inline constexpr std::uint64_t CRSMaximumSettingsAnswerLength = 1048576;

class CRSSettingsClientDelegate : public CRSClientDelegate {
 public:
  // Install-event dictionaries still to report, or nothing.
  virtual std::optional<ns::Array> eventArray() = 0;
  virtual void removeInstallEventKey() = 0;
  virtual ns::Ref<CRSIcon> icon() = 0;
};

class CRSSettingsClient : public CRSClientBase {
 public:
  using SettingsCompletion =
      std::function<void(const ns::Value& settings, const std::optional<ns::Error>& error)>;
  using Completion = std::function<void(const std::optional<ns::Error>& error)>;

  explicit CRSSettingsClient(ns::Ref<ns::URL> url);
  static ns::Ref<CRSSettingsClient> initWithURL(ns::Ref<ns::URL> url) {
    return ns::make<CRSSettingsClient>(std::move(url));
  }

  std::shared_ptr<CRSSettingsClientDelegate> settingsDelegate() const {
    return std::dynamic_pointer_cast<CRSSettingsClientDelegate>(delegate());
  }

  const std::map<std::string, std::string>& SDKKitVersions() const { return SDKKitVersions_; }
  void setSDKKitVersions(std::map<std::string, std::string> versions) {
    SDKKitVersions_ = std::move(versions);
  }

  // (settings dictionary, nothing) or (nil, error).
  void loadSettingsWithCompletion(SettingsCompletion completion);
  // The settings request's path and query, relative to the settings endpoint.
  std::string settingsPath() const;
  void configureApplicationUsingURL_asNewApp_completion(ns::Ref<ns::URL> url, bool asNewApp,
                                                        Completion completion);
  std::optional<ns::Data> eventData() const;
  void removeInstallEventKey();

  void submitCRSFileAtPath_toURL_completion(const std::string& path, ns::Ref<ns::URL> url,
                                            Completion completion) {
    submitCRSFileAtPath_toURL_asInvalid_completion(path, std::move(url), false, std::move(completion));
  }
  void submitInvalidRecordAtPath_toURL_completion(const std::string& path, ns::Ref<ns::URL> url,
                                                  Completion completion) {
    submitCRSFileAtPath_toURL_asInvalid_completion(path, std::move(url), true, std::move(completion));
  }
  void submitCRSFileAtPath_toURL_asInvalid_completion(const std::string& path, ns::Ref<ns::URL> url,
                                                      bool asInvalid, Completion completion);
  // One multipart part per file, named by the file; nothing is sent for an empty list.
  void submitEventLogFilesAtPaths_toURL_completion(const std::vector<std::string>& paths,
                                                   ns::Ref<ns::URL> url, Completion completion);

  std::string className() const override { return "CRSSettingsClient"; }

 private:
  std::map<std::string, std::string> SDKKitVersions_;
};
