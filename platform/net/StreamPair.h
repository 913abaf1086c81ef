#pragma once
// A connected byte-stream pair over one TCP descriptor, driven by run loops: cf::ReadStream and
// cf::WriteStream are ns::InputStream / ns::OutputStream, so events reach their delegates (or
// CF-style client call-backs) on the run loops and in the modes they are scheduled in.
//
//   ns::Ref<cf::ReadStream> in;
//   ns::Ref<cf::WriteStream> out;
//   cf::createPairWithSocketToHost("localhost", port, &in, &out);   // or createPairWithSocket(fd, ...)
//   in->setClient(cf::StreamEventHasBytesAvailable | ..., callback);
//   in->scheduleInRunLoop_forMode(loop, mode); out->...; in->open(); out->open();
//
// Rules the owners rely on: reads and writes never block; hasBytesAvailable and canAcceptBytes
// are exact (under TLS "bytes available" means decrypted bytes); a has-bytes or can-accept event
// comes again only after a read or a write. Setting kCFStreamPropertySSLSettings on an open pair
// starts TLS in place: no has-bytes or can-accept event is delivered during the handshake, at
// least one follows its success, and a failure is an error event in the SSL domain carrying the
// TLS status.
#include <netdb.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/foundation/Stream.h"

namespace cf {

// Error domains of the stand-in; errors travel as {domain, code}.
enum StreamErrorDomain : long {
  StreamErrorDomainCustom = -1,
  StreamErrorDomainPOSIX = 1,
  StreamErrorDomainMacOSStatus = 2,
  StreamErrorDomainSSL = 3,
  StreamErrorDomainMach = 11,
  StreamErrorDomainNetDB = 12,
  StreamErrorDomainNetServices = 10,
  StreamErrorDomainSOCKS = 13,
  StreamErrorDomainSystemConfiguration = 14,
};

struct StreamError {
  long domain = 0;
  int error = 0;
};

// Stream status numbers are those of ns::StreamStatus (0-7).
using StreamStatus = ns::StreamStatus;

enum StreamEventType : unsigned long {
  StreamEventNone = 0,
  StreamEventOpenCompleted = 1,
  StreamEventHasBytesAvailable = 2,
  StreamEventCanAcceptBytes = 4,
  StreamEventErrorOccurred = 8,
  StreamEventEndEncountered = 16,
};

inline constexpr char kCFStreamPropertyShouldCloseNativeSocket[] = "kCFStreamPropertyShouldCloseNativeSocket";
inline constexpr char kCFStreamPropertySocketNativeHandle[] = "kCFStreamPropertySocketNativeHandle";
inline constexpr char kCFStreamPropertySSLSettings[] = "kCFStreamPropertySSLSettings";

// Keys of the SSL settings dictionary.
inline constexpr char kCFStreamSSLIsServer[] = "kCFStreamSSLIsServer";
inline constexpr char kCFStreamSSLPeerName[] = "kCFStreamSSLPeerName";
// An array: the own identity (sec::Identity) first, then further certificates to send.
inline constexpr char kCFStreamSSLCertificates[] = "kCFStreamSSLCertificates";
inline constexpr char kCFStreamSSLValidatesCertificateChain[] = "kCFStreamSSLValidatesCertificateChain";
inline constexpr char kCFStreamSSLAllowsExpiredCertificates[] = "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr char kCFStreamSSLAllowsExpiredRoots[] = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr char kCFStreamSSLAllowsAnyRoot[] = "kCFStreamSSLAllowsAnyRoot";
inline constexpr char kCFStreamSSLLevel[] = "kCFStreamSSLLevel";
// Values of kCFStreamSSLLevel.
inline constexpr char kCFStreamSocketSecurityLevelNone[] = "kCFStreamSocketSecurityLevelNone";
inline constexpr char kCFStreamSocketSecurityLevelSSLv3[] = "kCFStreamSocketSecurityLevelSSLv3";
inline constexpr char kCFStreamSocketSecurityLevelTLSv1[] = "kCFStreamSocketSecurityLevelTLSv1";
inline constexpr char kCFStreamSocketSecurityLevelNegotiatedSSL[] =
    "kCFStreamSocketSecurityLevelNegotiatedSSL";

class StreamPairCore;
class ReadStream;
class WriteStream;

// The host-name lookup a pair to a host uses (getaddrinfo's contract); null means getaddrinfo.
using StreamResolver =
    std::function<int(const char* host, const char* service, const ::addrinfo* hints, ::addrinfo** res)>;

// Both out-parameters are set. A pair to a host resolves on the default global queue when the
// first stream opens, then connects without blocking to each result in turn.
void createPairWithSocketToHost(const std::string& host, std::uint16_t port, ns::Ref<ReadStream>* readStream,
                                ns::Ref<WriteStream>* writeStream, StreamResolver resolver = nullptr);
// A pair over a connected descriptor; the descriptor stays open on close unless a stream has
// kCFStreamPropertyShouldCloseNativeSocket = true. A negative descriptor gives no streams.
void createPairWithSocket(int fd, ns::Ref<ReadStream>* readStream, ns::Ref<WriteStream>* writeStream);

// Thin adapter for CF-style clients: the call-back gets the events of `events`.
template <class S>
using StreamClientCallBack = std::function<void(S& stream, StreamEventType event)>;

// What the read and the write half of a pair share: the core both drive, the stream error each
// keeps and the CF-style client each calls. kRead says which half a stream is.
template <class Self, class Base, bool kRead>
class StreamPairHalf : public Base {
 public:
  ~StreamPairHalf() override;
  void open() override;
  void close() override;
  ns::Value propertyForKey(const std::string& key) override;
  bool setProperty_forKey(const ns::Value& value, const std::string& key) override;
  void scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;
  void removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& runLoop, const std::string& mode) override;

  StreamError getError() const;
  // Null call-back or no events removes the client. Answers false only for a closed stream.
  bool setClient(unsigned long events, StreamClientCallBack<Self> callback);

 protected:
  explicit StreamPairHalf(ns::Ref<StreamPairCore> core);
  void stream_handleEvent(ns::Stream& stream, ns::StreamEvent event) override;
  ns::StreamEvent readinessEvent() const override;
  // A read or write the core failed: the stream fails with the core's error (EBADF when it gave
  // none). Answers -1, what the failed call answers.
  long failTransfer(StreamError error);

  ns::Ref<StreamPairCore> core_;

 private:
  friend class StreamPairCore;
  static constexpr ns::StreamEvent kReadiness =
      kRead ? ns::StreamEventHasBytesAvailable : ns::StreamEventHasSpaceAvailable;
  void finishOpen();
  void failWithStreamError(StreamError error);
  void postReadiness() { this->postEvent(kReadiness); }

  StreamError cfError_;
  unsigned long clientEvents_ = 0;
  StreamClientCallBack<Self> client_;
};

class ReadStream : public StreamPairHalf<ReadStream, ns::InputStream, true> {
 public:
  long read_maxLength(std::uint8_t* buffer, std::size_t maxLength) override;
  bool hasBytesAvailable() override;

  explicit ReadStream(ns::Ref<StreamPairCore> core);

 private:
  friend class StreamPairCore;
  void reachEnd();
};

class WriteStream : public StreamPairHalf<WriteStream, ns::OutputStream, false> {
 public:
  long write_maxLength(const std::uint8_t* buffer, std::size_t length) override;
  bool hasSpaceAvailable() override { return canAcceptBytes(); }
  bool canAcceptBytes();

  explicit WriteStream(ns::Ref<StreamPairCore> core);

 private:
  friend class StreamPairCore;
  void reachEnd();
};

}  // namespace cf
