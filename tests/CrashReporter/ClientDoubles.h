#pragma once
// A delegate double of the service clients with settable identity, and a recorder of one
// completion that notes its thread and how often it ran.
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "CrashReporter/CRSSettingsClient.h"
#include "platform/dispatch/Queue.h"
#include "platform/testing/Pump.h"

namespace crstest {

inline constexpr char kAPIKey[] = "0123456789abcdef0123456789abcdef01234567";
inline constexpr char kBundleId[] = "com.ordel42.zeravozezi";

class ClientDelegateDouble : public CRSSettingsClientDelegate {
 public:
  std::string apiKey = kAPIKey;
  std::string bundle = kBundleId;
  std::optional<std::string> name = "Pelorin";
  std::optional<std::string> version = "1";
  std::optional<std::string> shortVersion = "0.1.0";
  std::optional<std::map<std::string, std::string>> slices =
      std::map<std::string, std::string>{{"x86_64", "B"}, {"i386", "A"}};
  std::optional<std::string> minimumSDK = "10.9";
  std::optional<std::string> builtSDK = "10.13";
  std::uint32_t delivery = 1;
  std::uint32_t state = 0;
  ns::Dictionary identity;
  std::optional<ns::Array> events;
  ns::Ref<CRSIcon> appIcon;
  std::atomic<int> removeInstallEventKeyCalls{0};

  std::string APIKey() override { return apiKey; }
  std::string bundleId() override { return bundle; }
  std::optional<std::string> applicationName() override { return name; }
  std::optional<std::string> bundleVersion() override { return version; }
  std::optional<std::string> shortBundleVersion() override { return shortVersion; }
  std::optional<std::map<std::string, std::string>> executableSlices() override { return slices; }
  std::optional<std::string> minimumSDKVersion() override { return minimumSDK; }
  std::optional<std::string> builtSDKVersion() override { return builtSDK; }
  std::uint32_t deliveryMechanism() override { return delivery; }
  std::uint32_t deviceState() override { return state; }
  ns::Dictionary identificationDictionary() override { return identity; }
  std::optional<ns::Array> eventArray() override { return events; }
  void removeInstallEventKey() override { ++removeInstallEventKeyCalls; }
  ns::Ref<CRSIcon> icon() override { return appIcon; }
};

// Records the arguments of a completion, how often it ran and on which queue.
template <class... Args>
class Completion {
 public:
  std::function<void(const Args&...)> handler() {
    return [this](const Args&... args) {
      std::lock_guard lock(mutex_);
      result_.emplace(args...);
      label_ = dispatch::currentQueueLabel();
      ++calls_;
    };
  }
  // Pumps until the completion ran.
  bool wait() {
    return pltest::pumpUntil([this] { return calls() > 0; }, 20);
  }
  int calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::tuple<Args...> result() const {
    std::lock_guard lock(mutex_);
    return *result_;
  }
  std::string label() const {
    std::lock_guard lock(mutex_);
    return label_;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::tuple<Args...>> result_;
  std::string label_;
  int calls_ = 0;
};

}  // namespace crstest
