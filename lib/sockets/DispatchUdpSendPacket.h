#pragma once
// One queued outgoing datagram of a DispatchUdpSocket. Touched only on the socket queue.
#include <optional>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class DispatchUdpSendPacket : public ns::Object {
 public:
  DispatchUdpSendPacket(ns::Data d, double t, long i) : buffer(std::move(d)), timeout(t), tag(i) {}

  ns::Data buffer;  // shared with the caller, not copied
  double timeout;   // seconds; negative: none
  long tag;
  bool resolveInProgress = false;
  bool filterInProgress = false;
  std::optional<std::vector<ns::Data>> resolvedAddresses;
  std::optional<ns::Error> resolveError;
  std::optional<ns::Data> address;  // the chosen destination
  int addressFamily = 0;            // AF_INET, AF_INET6 or 0
};
