#pragma once
// Error domain, error codes and exception name of the dispatch-queue UDP socket.

// Errors the socket produces itself; POSIX failures use ns::NSPOSIXErrorDomain and resolver
// failures kDispatchUdpSocketNetDBErrorDomain (with the resolver's own, negative, code).
inline constexpr char DispatchUdpSocketErrorDomain[] = "DispatchUdpSocketErrorDomain";
inline constexpr char kDispatchUdpSocketNetDBErrorDomain[] = "kCFStreamErrorDomainNetDB";

// Raised for misuse (a concurrent queue given as the socket queue).
inline constexpr char DispatchUdpSocketException[] = "DispatchUdpSocketException";

enum DispatchUdpSocketError : long {
  DispatchUdpSocketNoError = 0,  // never produced
  DispatchUdpSocketBadConfigError = 1,
  DispatchUdpSocketBadParamError = 2,
  DispatchUdpSocketSendTimeoutError = 3,
  DispatchUdpSocketClosedError = 4,
  DispatchUdpSocketOtherError = 5,
};
