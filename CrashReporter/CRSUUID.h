#pragma once
// The session identifier: 16 bytes of time, a process-wide sequence number, the process id and
// six bytes of the caller's segment data, so that identifiers made in the same millisecond by one
// process still differ.
#include <array>
#include <cstdint>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class CRSUUID : public ns::Object {
 public:
  explicit CRSUUID(const std::array<std::uint8_t, 16>& data) : data_(data) {}
  // Nothing for segment data shorter than 6 bytes or a time not after 1970.
  static ns::Ref<CRSUUID> generateWithSegmentData(const ns::Data& segment);

  const std::array<std::uint8_t, 16>& data() const { return data_; }
  // "%08X%04X-%04X-%04X-%08X%04X" over bytes 0-3, 4-5, 6-7, 8-9, 10-13 and 14-15.
  std::string stringValue() const;
  std::string description() const override { return stringValue(); }
  std::string className() const override { return "CRSUUID"; }

 private:
  std::array<std::uint8_t, 16> data_;
};
