#pragma once
// A TLS session over a transport the caller owns, in the shape of the platform's TLS contexts:
// the context never touches a descriptor; it reads and writes through two I/O callbacks, and
// every call answers a status instead of blocking:
//
//   errSSLWouldBlock     the transport has no bytes to read or no room to write; call again
//                        when it has;
//   errSSLClosedGraceful the peer closed the session properly (close_notify);
//   errSSLClosedAbort    the transport failed or ended without a proper close;
//   errSSLPeerAuthCompleted
//                        (client with kSSLSessionOptionBreakOnServerAuth) the server's chain
//                        has arrived: take it with copyPeerTrust, decide, and either call
//                        handshake() again to go on or give up (errSSLPeerBadCert); read and
//                        write answer this status until then and never go on by themselves;
//   other errSSL...      a verification or protocol failure (see SecStatus.h).
//
// I/O callbacks: read is asked for *length bytes and answers noErr when it delivered all of
// them, errSSLWouldBlock when it delivered fewer (the count in *length, possibly 0), or an error
// status (errSSLClosedAbort, errSSLClosedGraceful...) which the context reports on. write works
// the same way for bytes to send.
//
// write(): when the transport cannot take all of the encrypted bytes, write answers
// errSSLWouldBlock with *processed = 0 but has taken the bytes: they go out with the next call,
// which may carry no new bytes (write(nullptr, 0, &n) answers noErr once they are out). While
// earlier bytes are still held, a call with new bytes answers errSSLWouldBlock without taking
// them. read() may answer noErr with fewer bytes than asked for.
//
// A context is used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/security/Certificate.h"
#include "platform/security/SecStatus.h"
#include "platform/security/Trust.h"

namespace sec {

enum SSLProtocolSide { kSSLServerSide = 0, kSSLClientSide = 1 };
enum SSLConnectionType { kSSLStreamType = 0, kSSLDatagramType = 1 };

enum SSLProtocol {
  kSSLProtocolUnknown = 0,
  kSSLProtocol3 = 2,
  kTLSProtocol1 = 4,
  kTLSProtocol11 = 7,
  kTLSProtocol12 = 8,
  kDTLSProtocol1 = 9,
  kTLSProtocol13 = 10,
  kTLSProtocolMaxSupported = 999,
};

enum SSLSessionOption {
  kSSLSessionOptionBreakOnServerAuth = 0,
  kSSLSessionOptionBreakOnCertRequested = 1,
  kSSLSessionOptionBreakOnClientAuth = 2,
  kSSLSessionOptionFalseStart = 3,
  kSSLSessionOptionSendOneByteRecord = 4,
  kSSLSessionOptionAllowServerIdentityChange = 5,
  kSSLSessionOptionFallback = 6,
  kSSLSessionOptionBreakOnClientHello = 7,
  kSSLSessionOptionAllowRenegotiation = 8,
  kSSLSessionOptionEnableSessionTickets = 9,
};

enum SSLSessionState { kSSLIdle = 0, kSSLHandshake = 1, kSSLConnected = 2, kSSLClosed = 3, kSSLAborted = 4 };
enum SSLAuthenticate { kNeverAuthenticate = 0, kAlwaysAuthenticate = 1, kTryAuthenticate = 2 };

using SSLCipherSuite = std::uint16_t;
using SSLConnectionRef = const void*;
using SSLReadFunc = OSStatus (*)(SSLConnectionRef connection, void* data, std::size_t* dataLength);
using SSLWriteFunc = OSStatus (*)(SSLConnectionRef connection, const void* data, std::size_t* dataLength);

class SSLContext : public ns::Object {
 public:
  // A new context, or nullptr when the TLS library cannot make one (datagram contexts are not
  // offered).
  static ns::Ref<SSLContext> create(SSLProtocolSide side, SSLConnectionType type = kSSLStreamType);
  ~SSLContext() override;

  // Set-up, before the first handshake call. Each answers noErr or paramErr (a value that
  // cannot be used) unless noted.
  OSStatus setIOFuncs(SSLReadFunc read, SSLWriteFunc write);
  OSStatus setConnection(SSLConnectionRef connection);
  SSLConnectionRef connection() const { return connection_; }
  // The same with closures (they replace the function pointers and the connection).
  OSStatus setIOFuncs(std::function<OSStatus(void*, std::size_t*)> read,
                      std::function<OSStatus(const void*, std::size_t*)> write);

  // The name the server's certificate must carry; also sent as the server name indication
  // unless it is an IP address. Without one, no name is checked.
  OSStatus setPeerDomainName(const std::string& name);
  const std::optional<std::string>& peerDomainName() const { return peerName_; }
  // Own identity plus further certificates to send after its chain.
  OSStatus setCertificate(ns::Ref<Identity> identity, std::vector<ns::Ref<Certificate>> extra = {});
  // Session-resumption key: clients with the same key, peer name and checks resume each
  // other's sessions.
  OSStatus setPeerID(const std::string& peerID);
  OSStatus setPeerID(const ns::Data& peerID) { return setPeerID(peerID.toString()); }
  OSStatus setProtocolVersionMin(SSLProtocol version);
  OSStatus setProtocolVersionMax(SSLProtocol version);
  OSStatus getProtocolVersionMin(SSLProtocol* version) const;
  OSStatus getProtocolVersionMax(SSLProtocol* version) const;
  OSStatus setSessionOption(SSLSessionOption option, bool value);
  OSStatus getSessionOption(SSLSessionOption option, bool* value) const;
  // Whether the peer's chain is checked against the trusted authorities (default yes).
  OSStatus setEnableCertVerify(bool enable);
  // Cipher suites by their IANA numbers (0xC02F, 0x1301...). Numbers the library does not know
  // are skipped; errSSLBadCipherSuite when none is left. Without TLS 1.3 suites in the list,
  // TLS 1.3 is not offered.
  OSStatus setEnabledCiphers(const std::vector<SSLCipherSuite>& ciphers);
  std::vector<SSLCipherSuite> supportedCiphers() const;
  // DER-encoded PKCS#3 Diffie-Hellman parameters for the finite-field DHE suites (server side).
  OSStatus setDiffieHellmanParams(const std::string& der);
  OSStatus setDiffieHellmanParams(const ns::Data& der) { return setDiffieHellmanParams(der.toString()); }
  // Server side: whether to ask the client for a certificate.
  OSStatus setClientSideAuthenticate(SSLAuthenticate auth);

  // The session.
  OSStatus handshake();
  OSStatus read(void* data, std::size_t length, std::size_t* processed);
  OSStatus write(const void* data, std::size_t length, std::size_t* processed);
  // Sends the close notification (and flushes it as far as the transport takes it).
  OSStatus close();

  // Decrypted bytes ready plus encrypted bytes already taken from the transport.
  OSStatus getBufferedReadSize(std::size_t* size) const;
  OSStatus getSessionState(SSLSessionState* state) const;
  OSStatus getNegotiatedProtocolVersion(SSLProtocol* version) const;
  OSStatus getNegotiatedCipher(SSLCipherSuite* cipher) const;
  // The peer's chain and the peer name, for the caller's own evaluation; errSSLBadConfiguration
  // (-9848) before the peer's certificates arrived.
  OSStatus copyPeerTrust(ns::Ref<Trust>* trust) const;
  std::vector<ns::Ref<Certificate>> peerCertificates() const;
  // Whether the last handshake resumed an earlier session.
  bool sessionWasResumed() const;
  SSLProtocolSide side() const { return side_; }

  struct Impl;
  explicit SSLContext(SSLProtocolSide side);

 private:
  OSStatus pumpOut();
  OSStatus pullIn(bool* gotBytes);
  OSStatus failure(int sslResult);
  OSStatus prepare();
  std::string sessionKey() const;

  SSLProtocolSide side_;
  std::unique_ptr<Impl> impl_;
  SSLConnectionRef connection_ = nullptr;
  SSLReadFunc readFn_ = nullptr;
  SSLWriteFunc writeFn_ = nullptr;
  std::function<OSStatus(void*, std::size_t*)> read_;
  std::function<OSStatus(const void*, std::size_t*)> write_;
  std::optional<std::string> peerName_;
  std::optional<std::string> peerID_;
  bool breakOnServerAuth_ = false;
  bool certVerify_ = true;
  bool options_[10] = {};
  SSLProtocol minVersion_ = kSSLProtocolUnknown;
  SSLProtocol maxVersion_ = kSSLProtocolUnknown;
  SSLSessionState state_ = kSSLIdle;
  bool prepared_ = false;
  bool authBroken_ = false;   // the handshake stopped for the caller's trust decision
  bool authResumed_ = false;  // and the caller asked to go on
  bool peerClosed_ = false;
  OSStatus readEnd_ = noErr;  // the transport's last failure, reported once its bytes are used
  std::vector<ns::Ref<Certificate>> peerChain_;
};

}  // namespace sec
