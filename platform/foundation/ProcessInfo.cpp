#include "platform/foundation/ProcessInfo.h"
#include "platform/core/NoDestructor.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace ns {
namespace {

constexpr OperatingSystemVersion kDefaultVersion{10, 10, 5};

std::mutex gVersionMutex;
std::optional<OperatingSystemVersion> gVersionOverride;

std::optional<OperatingSystemVersion> parseVersion(const std::string& text) {
  OperatingSystemVersion v;
  long parts[3] = {0, 0, 0};
  int count = 0;
  std::size_t pos = 0;
  while (count < 3 && pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == pos || end - pos > 6) return std::nullopt;
    parts[count++] = std::strtol(text.substr(pos, end - pos).c_str(), nullptr, 10);
    if (end == text.size()) break;
    if (text[end] != '.') return std::nullopt;
    pos = end + 1;
  }
  if (count < 2) return std::nullopt;
  v.majorVersion = parts[0];
  v.minorVersion = parts[1];
  v.patchVersion = parts[2];
  return v;
}

std::string executablePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

Ref<ProcessInfo> ProcessInfo::processInfo() {
  // Never destroyed, so that work still running on other threads at exit can use it.
  static const ns::NoDestructor<Ref<ProcessInfo>> info(make<ProcessInfo>());
  return *info;
}

std::string ProcessInfo::processName() const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (processName_) return *processName_;
  }
  std::string path = executablePath();
  auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) name = program_invocation_short_name ? program_invocation_short_name : "";
  return name;
}

void ProcessInfo::setProcessName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  processName_ = std::move(name);
}

int ProcessInfo::processIdentifier() const {
  return static_cast<int>(::getpid());
}

std::vector<std::string> ProcessInfo::arguments() const {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::size_t pos = 0;
  while (pos < all.size()) {
    auto end = all.find('\0', pos);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

std::map<std::string, std::string> ProcessInfo::environment() const {
  std::map<std::string, std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq == std::string::npos) continue;
    env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
  }
  return env;
}

std::string ProcessInfo::hostName() const {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
  return buffer;
}

std::string ProcessInfo::globallyUniqueString() const {
  static std::atomic<unsigned long long> counter{0};
  unsigned char b[16] = {};
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char out[96];
  std::snprintf(out, sizeof out,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X-%d-%016llX", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15],
                processIdentifier(), ++counter);
  return out;
}

OperatingSystemVersion ProcessInfo::operatingSystemVersion() const {
  {
    std::lock_guard<std::mutex> lock(gVersionMutex);
    if (gVersionOverride) return *gVersionOverride;
  }
  if (const char* env = std::getenv("PELORIN_MACOS_VERSION")) {
    if (auto v = parseVersion(env)) return *v;
  }
  return kDefaultVersion;
}

std::string ProcessInfo::operatingSystemVersionString() const {
  OperatingSystemVersion v = operatingSystemVersion();
  std::string text = "Version " + std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
  if (v.patchVersion) text += "." + std::to_string(v.patchVersion);
  if (v == kDefaultVersion) text += " (Build 14F27)";
  return text;
}

bool ProcessInfo::isOperatingSystemAtLeastVersion(const OperatingSystemVersion& want) const {
  OperatingSystemVersion v = operatingSystemVersion();
  if (v.majorVersion != want.majorVersion) return v.majorVersion > want.majorVersion;
  if (v.minorVersion != want.minorVersion) return v.minorVersion > want.minorVersion;
  return v.patchVersion >= want.patchVersion;
}

void ProcessInfo::setEmulatedOperatingSystemVersion(const std::optional<std::string>& version) {
  std::lock_guard<std::mutex> lock(gVersionMutex);
  gVersionOverride = version ? parseVersion(*version) : std::nullopt;
}

unsigned long ProcessInfo::processorCount() const {
  long n = ::sysconf(_SC_NPROCESSORS_CONF);
  return n > 0 ? static_cast<unsigned long>(n) : 1;
}

unsigned long ProcessInfo::activeProcessorCount() const {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

unsigned long long ProcessInfo::physicalMemory() const {
  long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0
             ? static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(size)
             : 0;
}

TimeInterval ProcessInfo::systemUptime() const {
  struct timespec ts {};
  ::clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

}  // namespace ns
