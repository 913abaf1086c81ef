#pragma once
// A crash record read back at the next launch: parsed into one dictionary, checked, symbolicated
// against the images of the running process, and written out as the protocol-buffer report.
// The record on disk is untrusted: every read is bounded (at most 22 objects, strings of at most
// 10239 bytes, numbers that fit 64 bits, limited nesting) and bad input reads as invalid.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSStackFrame.h"
#include "platform/core/Value.h"

class CRSCrashFile {
 public:
  explicit CRSCrashFile(const std::string& path);  // initWithPath:

  // The record as one dictionary of the keys of all its lines, plus "file_lines" (never fails).
  static ns::Dictionary parse(const std::string& path);

  bool isValid() const;
  const ns::Dictionary& crashData() const { return crashData_; }
  // One line of the record (its keys as a dictionary), nil when absent.
  const ns::Value& section(const char* key) const;
  void setProcessingExecutableUUID(const std::string& uuid) { processingExecutableUUID_ = uuid; }
  const std::string& processingExecutableUUID() const { return processingExecutableUUID_; }
  void symbolicateWithUUIDMap(const std::map<std::string, std::uint64_t>& uuidMap);
  bool writeCRSFileToPath(const std::string& path);

  const std::vector<CRSThread>& threads() const { return threads_; }
  const std::optional<std::vector<CRSStackFrame>>& exceptionFrames() const { return exceptionFrames_; }
  bool executablesMatch() const { return executablesMatch_; }
  const std::string& logFilePath() const { return logFilePath_; }

  std::string identifier() const;
  std::string mainExecutableUUID() const;
  // Custom keys with their values percent-unescaped; values that fail to unescape are dropped.
  std::vector<std::pair<std::string, std::string>> customKeys() const;
  std::optional<std::string> deviceId() const;
  std::optional<double> crashedOnDate() const;
  std::string OSVersion() const;
  std::string OSBuildVersion() const;
  std::string objcSelectorName() const;
  int architecture() const;  // the report's Architecture value
  // The session log in order (halves swapped at last_offset), decoded leniently; none when absent.
  std::optional<std::string> logContent() const;

 private:
  CRSStackFrame frameFrom(const ns::Value& frame, const std::map<std::string, std::uint64_t>& uuidMap) const;

  ns::Dictionary crashData_;
  std::vector<CRSThread> threads_;
  std::optional<std::vector<CRSStackFrame>> exceptionFrames_;
  std::string logFilePath_;
  std::string processingExecutableUUID_;
  bool executablesMatch_ = false;
};

// Symbolication of one address: the first image whose half-open range [address, address + size)
// holds pc, mapped into the running process through the image's build identifier.
struct CRSImageRange {
  std::uint64_t address;
  std::uint64_t size;
  std::string uuid;
};
std::optional<std::size_t> CRSImageIndexForAddress(const std::vector<CRSImageRange>& images,
                                                   std::uint64_t pc);
