#pragma once
// Error domain, error codes and exception name of the dispatch-queue TCP socket.

// Errors the socket produces itself; POSIX failures use ns::NSPOSIXErrorDomain and resolver
// failures kDispatchSocketNetDBErrorDomain.
inline constexpr char DispatchSocketErrorDomain[] = "DispatchSocketErrorDomain";
inline constexpr char kDispatchSocketNetDBErrorDomain[] = "kCFStreamErrorDomainNetDB";
inline constexpr char kDispatchSocketSSLErrorDomain[] = "kCFStreamErrorDomainSSL";

// Raised for misuse (for instance a concurrent queue given as the socket queue).
inline constexpr char DispatchSocketException[] = "SocketException";

enum DispatchSocketError : long {
  DispatchSocketNoError = 0,  // never produced
  DispatchSocketBadConfigError = 1,
  DispatchSocketBadParamError = 2,
  DispatchSocketConnectTimeoutError = 3,
  DispatchSocketReadTimeoutError = 4,
  DispatchSocketWriteTimeoutError = 5,
  DispatchSocketReadMaxedOutError = 6,
  DispatchSocketClosedError = 7,
  DispatchSocketOtherError = 8,
};
