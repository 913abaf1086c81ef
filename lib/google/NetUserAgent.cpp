#include "lib/google/NetUserAgent.h"

#include <fstream>
#include <map>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/ProcessInfo.h"

std::optional<std::string> NetCleanUserAgentToken(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  static const std::string removed = std::string(" \t\n\r\v\f") + "()<>@;:\\\"/[]?={}";
  std::string cleaned;
  cleaned.reserve(text->size());
  for (char c : *text) {
    if (c == ' ' || c == ',') c = '_';
    if (removed.find(c) != std::string::npos) continue;
    cleaned.push_back(c);
  }
  return cleaned;
}

std::string NetOSReleaseVersionID(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VERSION_ID=", 0) != 0) continue;
    std::string value = line.substr(11);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

std::string NetSystemVersionToken() {
  static const std::string token = [] {
    std::string version = NetOSReleaseVersionID("/etc/os-release");
    if (version.empty()) version = NetOSReleaseVersionID("/usr/lib/os-release");
    return "Linux/" + (version.empty() ? std::string("?") : *NetCleanUserAgentToken(version));
  }();
  return token;
}

std::string NetBundleUserAgentToken(const ns::Ref<ns::Bundle>& given) {
  static ns::NoDestructor<std::mutex> mutex;
  static ns::NoDestructor<std::map<std::string, std::string>> tokens;
  auto bundle = given ? given : ns::Bundle::mainBundle();
  std::string key = bundle ? bundle->bundleIdentifier().value_or("") : std::string();
  std::lock_guard lock(*mutex);
  auto found = tokens->find(key);
  if (found != tokens->end()) return found->second;

  auto info = [&](const char* name) {
    return bundle ? bundle->objectForInfoDictionaryKey(name).stringValue() : std::string();
  };
  std::string identifier = info("NetUserAgentID");
  if (identifier.empty()) identifier = key;
  if (identifier.empty()) identifier = "proc_" + ns::ProcessInfo::processInfo()->processName();
  std::string version = info("CFBundleShortVersionString");
  if (version.empty()) version = info("CFBundleVersion");
  std::string token = *NetCleanUserAgentToken(identifier);
  std::string cleanVersion = *NetCleanUserAgentToken(version);
  if (!cleanVersion.empty()) token += "/" + cleanVersion;
  (*tokens)[key] = token;
  return token;
}
