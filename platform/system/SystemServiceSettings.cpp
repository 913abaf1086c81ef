#include "platform/system/SystemServiceSettings.h"

#include <map>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/system/SharingServiceNames.h"

namespace sys {
namespace {

constexpr double kDefaultFailureWindow = 1.0;
constexpr double kDefaultBusTimeout = 2.0;

struct Settings {
  std::mutex mutex;
  std::optional<std::string> opener;
  double failureWindow = kDefaultFailureWindow;
  double busTimeout = kDefaultBusTimeout;
  std::map<std::string, std::string> hosts;  // overrides; "": the service has none
};

Settings& settings() {
  static ns::NoDestructor<Settings> instance;
  return *instance;
}

std::optional<std::string> publicSharePageHost(const std::string& serviceName) {
  if (serviceName == ak::SharingServiceNamePostOnTwitter) return "https://twitter.com";
  if (serviceName == ak::SharingServiceNamePostOnFacebook) return "https://www.facebook.com";
  return std::nullopt;
}

}  // namespace

void setOpenerCommand(std::optional<std::string> command) {
  std::lock_guard<std::mutex> lock(settings().mutex);
  settings().opener = std::move(command);
}

std::string openerCommand() {
  std::lock_guard<std::mutex> lock(settings().mutex);
  return settings().opener.value_or(kDefaultOpenerCommand);
}

void setOpenerFailureWindow(double seconds) {
  std::lock_guard<std::mutex> lock(settings().mutex);
  settings().failureWindow = seconds < 0 ? 0 : seconds;
}

double openerFailureWindow() {
  std::lock_guard<std::mutex> lock(settings().mutex);
  return settings().failureWindow;
}

void setSessionBusCallTimeout(double seconds) {
  std::lock_guard<std::mutex> lock(settings().mutex);
  settings().busTimeout = seconds > 0 ? seconds : kDefaultBusTimeout;
}

double sessionBusCallTimeout() {
  std::lock_guard<std::mutex> lock(settings().mutex);
  return settings().busTimeout;
}

void setSharePageHost(const std::string& serviceName, std::optional<std::string> baseURL) {
  std::lock_guard<std::mutex> lock(settings().mutex);
  if (baseURL) {
    settings().hosts[serviceName] = std::move(*baseURL);
  } else {
    settings().hosts.erase(serviceName);
  }
}

std::optional<std::string> sharePageHost(const std::string& serviceName) {
  {
    std::lock_guard<std::mutex> lock(settings().mutex);
    auto it = settings().hosts.find(serviceName);
    if (it != settings().hosts.end()) {
      if (it->second.empty()) return std::nullopt;
      return it->second;
    }
  }
  return publicSharePageHost(serviceName);
}

void resetSystemServiceSettings() {
  std::lock_guard<std::mutex> lock(settings().mutex);
  settings().opener.reset();
  settings().failureWindow = kDefaultFailureWindow;
  settings().busTimeout = kDefaultBusTimeout;
  settings().hosts.clear();
}

}  // namespace sys
