#pragma once
// Shared by the RunLoopUdpSocket sources: state bits and error makers.
#include <cstdint>
#include <string>

#include "platform/core/Error.h"

namespace rludp {

enum : std::uint16_t {
  kFlagBound = 0x0001,
  kFlagConnected = 0x0002,
  kFlagSocket4CanAccept = 0x0004,
  kFlagSocket6CanAccept = 0x0008,
  kFlagSocket4HasBytes = 0x0010,
  kFlagSocket6HasBytes = 0x0020,
  kFlagForbidRequests = 0x0040,
  kFlagCloseAfterSends = 0x0080,
  kFlagCloseAfterReceives = 0x0100,
  kFlagClosed = 0x0200,
  kFlagDequeueSendScheduled = 0x0400,
  kFlagDequeueReceiveScheduled = 0x0800,
  kFlagReceiveIPv4First = 0x1000,
};

ns::Error socketError();
// The fixed-text errors of RunLoopUdpSocketErrorDomain (codes 2 to 5).
ns::Error udpError(long code);
// A resolver failure: its (negative) code and gai_strerror text after `prefix`.
ns::Error netdbError(int code, const std::string& prefix = "");
ns::Error optionError(int result, const std::string& text, int errnoValue);

}  // namespace rludp
