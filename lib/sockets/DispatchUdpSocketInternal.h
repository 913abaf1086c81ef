#pragma once
// Shared by the files that make up DispatchUdpSocket (object and configuration, addresses and
// binding, sending, receiving): the bits of its flags and configuration and the record of its
// dispatch sources. Not for users of the socket.
#include <cerrno>

#include "lib/sockets/DispatchUdpSendPacket.h"
#include "lib/sockets/DispatchUdpSocket.h"
#include "lib/sockets/DispatchUdpSpecialPacket.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace udp_socket_internal {

// Bits of flags_.
inline constexpr std::uint32_t kDidCreateSockets = 1 << 0;
inline constexpr std::uint32_t kDidBind = 1 << 1;
inline constexpr std::uint32_t kConnecting = 1 << 2;
inline constexpr std::uint32_t kDidConnect = 1 << 3;
inline constexpr std::uint32_t kReceiveOnce = 1 << 4;
inline constexpr std::uint32_t kReceiveContinuous = 1 << 5;
inline constexpr std::uint32_t kIPv4Deactivated = 1 << 6;
inline constexpr std::uint32_t kIPv6Deactivated = 1 << 7;
inline constexpr std::uint32_t kSend4SourceSuspended = 1 << 8;
inline constexpr std::uint32_t kSend6SourceSuspended = 1 << 9;
inline constexpr std::uint32_t kReceive4SourceSuspended = 1 << 10;
inline constexpr std::uint32_t kReceive6SourceSuspended = 1 << 11;
inline constexpr std::uint32_t kSock4CanAcceptBytes = 1 << 12;
inline constexpr std::uint32_t kSock6CanAcceptBytes = 1 << 13;
inline constexpr std::uint32_t kCloseAfterSends = 1 << 15;
inline constexpr std::uint32_t kFlipFlop = 1 << 16;

// Bits of config_.
inline constexpr std::uint16_t kIPv4Disabled = 1 << 0;
inline constexpr std::uint16_t kIPv6Disabled = 1 << 1;
inline constexpr std::uint16_t kPreferIPv4 = 1 << 2;
inline constexpr std::uint16_t kPreferIPv6 = 1 << 3;

inline bool wouldBlock(int err) {
  return err == EWOULDBLOCK || err == EAGAIN;
}

}  // namespace udp_socket_internal

struct DispatchUdpSocket::Sources {
  ns::Ref<dispatch::Source> send4Source;
  ns::Ref<dispatch::Source> send6Source;
  ns::Ref<dispatch::Source> receive4Source;
  ns::Ref<dispatch::Source> receive6Source;
  ns::Ref<dispatch::Source> sendTimer;
};
