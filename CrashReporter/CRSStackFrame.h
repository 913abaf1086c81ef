#pragma once
// One stack frame of a crash report, and one thread of it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CRSStackFrame {
  std::uint64_t address = 0;
  std::optional<std::string> symbol;
  std::optional<std::string> fileName;
  std::uint64_t lineNumber = 0;
  std::uint64_t offset = 0;
  std::uint32_t importance = 0;

  static CRSStackFrame stackFrameWithAddress(std::uint64_t address) {
    CRSStackFrame frame;
    frame.address = address;
    return frame;
  }
  std::string description() const;
};

struct CRSThread {
  std::optional<std::string> pthreadName;
  std::optional<std::string> dispatchQueueName;
  std::vector<CRSStackFrame> frames;
  std::uint32_t importance = 0;

  bool crashed() const { return (importance & 4) != 0; }
  void setCrashed(bool crashed) { importance = crashed ? (importance | 4) : (importance & ~4u); }
};
