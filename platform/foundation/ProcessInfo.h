#pragma once
// Facts about this process and the system it runs on. The operating-system version is the
// emulated macOS version that the system's logic branches on ("10.10.5" unless configured by
// setEmulatedOperatingSystemVersion or the PELORIN_MACOS_VERSION environment variable), not the
// Linux kernel's.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Types.h"

namespace ns {

struct OperatingSystemVersion {
  long majorVersion = 0;
  long minorVersion = 0;
  long patchVersion = 0;
  friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

class ProcessInfo : public Object {
 public:
  static Ref<ProcessInfo> processInfo();

  // The executable's file name unless set.
  std::string processName() const;
  void setProcessName(std::string name);
  int processIdentifier() const;
  // The command line, the executable first.
  std::vector<std::string> arguments() const;
  // The environment as it is now.
  std::map<std::string, std::string> environment() const;
  std::string hostName() const;
  // Unique across processes and calls: a random UUID, the process id and a counter.
  std::string globallyUniqueString() const;

  OperatingSystemVersion operatingSystemVersion() const;
  // "Version 10.10.5 (Build 14F27)" for the default version.
  std::string operatingSystemVersionString() const;
  bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) const;
  // Parses "10.9" or "10.10.5"; nullopt restores the default (or the environment's value).
  static void setEmulatedOperatingSystemVersion(const std::optional<std::string>& version);

  unsigned long processorCount() const;
  unsigned long activeProcessorCount() const;
  unsigned long long physicalMemory() const;
  // Seconds since the system started.
  TimeInterval systemUptime() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> processName_;
};

}  // namespace ns
