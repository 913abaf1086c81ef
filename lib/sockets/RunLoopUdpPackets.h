#pragma once
// The queued requests of a RunLoopUdpSocket: one send is one datagram, one receive takes one.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class RunLoopSendPacket : public ns::Object {
 public:
  // `address` is the destination sockaddr image; empty for a connected socket. The datagram's
  // bytes are shared with the caller, not copied.
  RunLoopSendPacket(ns::Data buffer, ns::Data address, double timeout, long tag)
      : buffer(std::move(buffer)), address(std::move(address)), timeout(timeout), tag(tag) {}

  ns::Data buffer;
  ns::Data address;
  double timeout;  // seconds; negative = none
  long tag;
};

class RunLoopReceivePacket : public ns::Object {
 public:
  RunLoopReceivePacket(double timeout, long tag) : timeout(timeout), tag(tag) {}

  double timeout;  // seconds; negative = none
  long tag;
  ns::Data buffer;
  std::optional<std::string> host;
  std::uint16_t port = 0;
};
