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

// Keys of the TLS settings dictionary given to DispatchSocket::startTLS. The first group are the
// platform's stream keys (their values are their names).
inline constexpr char kCFStreamSSLIsServer[] = "kCFStreamSSLIsServer";  // boolean
inline constexpr char kCFStreamSSLPeerName[] = "kCFStreamSSLPeerName";  // text
// Array: a sec::Identity first, then sec::Certificates to send after its chain.
inline constexpr char kCFStreamSSLCertificates[] = "kCFStreamSSLCertificates";
// Refused: a dictionary holding any of these closes the socket.
inline constexpr char kCFStreamSSLAllowsAnyRoot[] = "kCFStreamSSLAllowsAnyRoot";
inline constexpr char kCFStreamSSLAllowsExpiredRoots[] = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr char kCFStreamSSLValidatesCertificateChain[] = "kCFStreamSSLValidatesCertificateChain";
inline constexpr char kCFStreamSSLAllowsExpiredCertificates[] = "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr char kCFStreamSSLLevel[] = "kCFStreamSSLLevel";

// Boolean, client side only: socket_didReceiveTrust_completionHandler decides on the server.
inline constexpr char DispatchSocketManuallyEvaluateTrust[] = "DispatchSocketManuallyEvaluateTrust";
inline constexpr char DispatchSocketSSLPeerID[] = "DispatchSocketSSLPeerID";  // data: session resumption
// Numbers: sec::SSLProtocol values, 0 = the library's default.
inline constexpr char DispatchSocketSSLProtocolVersionMin[] = "DispatchSocketSSLProtocolVersionMin";
inline constexpr char DispatchSocketSSLProtocolVersionMax[] = "DispatchSocketSSLProtocolVersionMax";
inline constexpr char DispatchSocketSSLSessionOptionFalseStart[] = "DispatchSocketSSLSessionOptionFalseStart";
inline constexpr char DispatchSocketSSLSessionOptionSendOneByteRecord[] =
    "DispatchSocketSSLSessionOptionSendOneByteRecord";
// Array of numbers: cipher suites by their IANA codes (0xC02F...).
inline constexpr char DispatchSocketSSLCipherSuites[] = "DispatchSocketSSLCipherSuites";
// Data: DER-encoded Diffie-Hellman parameters.
inline constexpr char DispatchSocketSSLDiffieHellmanParameters[] = "DispatchSocketSSLDiffieHellmanParameters";
