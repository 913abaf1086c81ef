#pragma once
// A send-queue entry of a DispatchUdpSocket that stands for a connect request. Touched only on
// the socket queue.
#include <optional>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class DispatchUdpSpecialPacket : public ns::Object {
 public:
  bool resolveInProgress = false;
  std::vector<ns::Data> addresses;
  std::optional<ns::Error> error;
};
