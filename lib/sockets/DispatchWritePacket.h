#pragma once
// One queued write of a DispatchSocket. It keeps the caller's bytes (shared, not copied) and
// how many of them have gone out. A gathered write carries further pieces after the first and
// may end with a file range; its bytes go out in that order as one request.
#include <cstddef>
#include <optional>
#include <vector>

#include "lib/sockets/DispatchFileRange.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"

class DispatchWritePacket : public ns::Object {
 public:
  DispatchWritePacket(ns::Data data, double timeout, long tag)
      : buffer(std::move(data)), tag(tag), timeout(timeout) {}

  bool isGathered() const { return !more.empty() || fileRange.has_value(); }
  // Every byte of the request: the pieces and the file range.
  std::size_t length() const {
    std::size_t total = buffer.length();
    for (const auto& piece : more) total += piece.length();
    if (fileRange) total += static_cast<std::size_t>(fileRange->length);
    return total;
  }
  // Turns a gathered write into a plain one holding all its bytes, the file range read in
  // (for a stream that cannot take a file directly). False when the file cannot be read.
  bool flatten();

  ns::Data buffer;
  std::vector<ns::Data> more;
  std::optional<DispatchFileRange> fileRange;
  std::size_t bytesDone = 0;
  long tag = 0;
  double timeout = -1;
};
