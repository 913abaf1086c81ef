#pragma once
// One queued write of a DispatchSocket. It keeps the caller's bytes (shared, not copied) and
// how many of them have gone out.
#include <cstddef>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class DispatchWritePacket : public ns::Object {
 public:
  DispatchWritePacket(ns::Data data, double timeout, long tag) : buffer(std::move(data)), tag(tag), timeout(timeout) {}

  ns::Data buffer;
  std::size_t bytesDone = 0;
  long tag = 0;
  double timeout = -1;
};
