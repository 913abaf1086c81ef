#include "platform/net/URLLoadingSettings.h"
#include "platform/core/NoDestructor.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace ns::URLLoading {

namespace {

struct Settings {
  std::mutex mutex;
  std::optional<std::string> caFile;
  bool caFileSet = false;
  std::map<std::pair<std::string, int>, std::pair<std::string, int>> connectTo;
  std::optional<bool> loopbackOnly;
};

// Never destroyed: the loading engine's thread reads them until it is joined, after the statics
// made later than the engine are gone.
Settings& settings() {
  static ns::NoDestructor<Settings> s;
  return *s;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void setExtraCertificateAuthorityFile(std::optional<std::string> path) {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  s.caFile = std::move(path);
  s.caFileSet = true;
}

std::optional<std::string> extraCertificateAuthorityFile() {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  if (s.caFileSet) return s.caFile;
  if (const char* env = std::getenv("PELORIN_EXTRA_CA_FILE"); env && *env) return std::string(env);
  return std::nullopt;
}

void setConnectTo(const std::string& fromHost, int fromPort, const std::string& toHost, int toPort) {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  s.connectTo[{lower(fromHost), fromPort}] = {toHost, toPort};
}

void removeConnectTo(const std::string& fromHost, int fromPort) {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  s.connectTo.erase({lower(fromHost), fromPort});
}

void clearConnectTo() {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  s.connectTo.clear();
}

std::optional<std::pair<std::string, int>> connectToFor(const std::string& host, int port) {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  std::string h = lower(host);
  if (auto it = s.connectTo.find({h, port}); it != s.connectTo.end()) return it->second;
  if (auto it = s.connectTo.find({h, 0}); it != s.connectTo.end()) return it->second;
  return std::nullopt;
}

void setLoopbackOnly(std::optional<bool> on) {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  s.loopbackOnly = on;
}

bool loopbackOnly() {
  auto& s = settings();
  std::lock_guard lock(s.mutex);
  if (s.loopbackOnly) return *s.loopbackOnly;
  const char* env = std::getenv("PELORIN_TEST_LOOPBACK_ONLY");
  return env && std::strcmp(env, "1") == 0;
}

bool isLoopbackHost(const std::string& host) {
  std::string h = lower(host);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  while (!h.empty() && h.back() == '.') h.pop_back();
  if (h == "localhost" || (h.size() > 10 && h.compare(h.size() - 10, 10, ".localhost") == 0)) return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return ::inet_pton(AF_INET6, h.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

}  // namespace ns::URLLoading
