#pragma once
// DispatchSocket: an asynchronous TCP socket driven by serial dispatch queues.
//
// All state lives on one private serial queue, the socket queue; callers use the socket from
// any thread and hear back through a weakly held delegate whose messages run on the delegate
// queue; Debug builds check at the entry of every method that touches that state that it runs
// there. Queries and calls that return a result run synchronously on the socket queue (inline
// when already on it, or on a queue marked with markSocketQueueTargetQueue); reads, writes and
// the disconnect-after requests are always queued asynchronously. Every request carries a tag
// that comes back in its completion message. Failures never throw: listen errors come back
// through the error out-parameter, everything later through socketDidDisconnect_withError.
//
//   auto listener = ns::make<DispatchSocket>(delegate, serverQueue);
//   ns::Error err("", 0);
//   if (!listener->acceptOnInterface_port_error("127.0.0.1", 0, &err)) ...;
//   // in socket_didAcceptNewSocket: keep the child, then
//   child->readDataToData_withTimeout_maxLength_tag(DispatchSocket::CRLFData(), 30, 8190, 1);
//
// Connecting resolves the host on a global queue and connects without blocking on the socket
// queue; every late asynchronous result (a lookup, a connect, a trust decision) carries the
// generation counter stateIndex_ and is dropped once a close has bumped it. TLS is queued like a
// read and a write: a start marker sits in both queues, so the upgrade takes effect exactly after
// the reads and writes queued before it.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/DispatchFileRange.h"
#include "lib/sockets/DispatchSocketConstants.h"
#include "lib/sockets/DispatchSocketDelegate.h"
#include "lib/sockets/SocketDelegateAccess.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/security/SecStatus.h"

namespace dispatch {
class Queue;
class Source;
}  // namespace dispatch
class DispatchSocketPreBuffer;
class DispatchReadPacket;
class DispatchWritePacket;
namespace sec {
class SSLContext;
}  // namespace sec

class DispatchSocket : public ns::Object,
                       public SocketDelegateAccess<DispatchSocket, DispatchSocketDelegate> {
 public:
  // Creation. Without a socket queue the socket makes a serial one labelled "DispatchSocket";
  // a given socket queue must be serial (a concurrent one raises SocketException).
  DispatchSocket();
  explicit DispatchSocket(ns::Ref<dispatch::Queue> socketQueue);
  DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue);
  DispatchSocket(ns::Weak<DispatchSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue,
                 ns::Ref<dispatch::Queue> socketQueue);
  ~DispatchSocket() override;

  // Configuration (read when listening or connecting starts).
  bool isIPv4Enabled();
  void setIPv4Enabled(bool flag);
  bool isIPv6Enabled();
  void setIPv6Enabled(bool flag);
  bool isIPv4PreferredOverIPv6();
  void setIPv4PreferredOverIPv6(bool flag);
  // YES (the default) closes the socket when the peer closes its sending side; NO keeps it
  // open for writing and sends socketDidCloseReadStream.
  bool autoDisconnectOnClosedReadStream();
  void setAutoDisconnectOnClosedReadStream(bool flag);
  ns::Value userData();
  void setUserData(ns::Value userData);

  // Accepting. The interface is a name ("lo"), an address text ("127.0.0.1"), "localhost" or
  // "loopback", optionally followed by ":port"; none listens on every address.
  bool acceptOnPort_error(std::uint16_t port, ns::Error* errPtr);
  bool acceptOnInterface_port_error(const std::optional<std::string>& interface, std::uint16_t port,
                                    ns::Error* errPtr);

  // Connecting. The host is a name, an address text, "localhost" or "loopback"; an address is
  // a 16-byte sockaddr_in or a 28-byte sockaddr_in6. The interface (as for accepting, its port
  // after a colon) is bound before connecting. Time-outs are seconds, negative = none. YES means
  // the attempt started: socket_didConnectToHost_port or socketDidDisconnect_withError follows.
  bool connectToHost_onPort_error(const std::string& host, std::uint16_t port, ns::Error* errPtr);
  bool connectToHost_onPort_withTimeout_error(const std::string& host, std::uint16_t port, double timeout,
                                              ns::Error* errPtr);
  bool connectToHost_onPort_viaInterface_withTimeout_error(const std::string& host, std::uint16_t port,
                                                           const std::optional<std::string>& interface,
                                                           double timeout, ns::Error* errPtr);
  bool connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr);
  bool connectToAddress_withTimeout_error(const ns::Data& remoteAddr, double timeout, ns::Error* errPtr);
  bool connectToAddress_viaInterface_withTimeout_error(const ns::Data& remoteAddr,
                                                       const std::optional<std::string>& interface,
                                                       double timeout, ns::Error* errPtr);

  // TLS in place, after the reads and writes queued so far; once per connection. The settings
  // are a dictionary with the keys of DispatchSocketConstants.h (nil = none).
  void startTLS(ns::Value tlsSettings);

  // Reading. Time-outs are seconds (negative = none); maxLength 0 = no bound. A request that
  // breaks the rules (offset past the buffer, length 0, empty terminator, maxLength shorter
  // than the terminator) is dropped.
  void readDataWithTimeout_tag(double timeout, long tag);
  void readDataWithTimeout_buffer_bufferOffset_tag(double timeout, ns::Ref<ns::MutableData> buffer,
                                                   std::size_t offset, long tag);
  void readDataWithTimeout_buffer_bufferOffset_maxLength_tag(double timeout, ns::Ref<ns::MutableData> buffer,
                                                             std::size_t offset, std::size_t length,
                                                             long tag);
  void readDataToLength_withTimeout_tag(std::size_t length, double timeout, long tag);
  void readDataToLength_withTimeout_buffer_bufferOffset_tag(std::size_t length, double timeout,
                                                            ns::Ref<ns::MutableData> buffer,
                                                            std::size_t offset, long tag);
  void readDataToData_withTimeout_tag(const ns::Data& data, double timeout, long tag);
  void readDataToData_withTimeout_buffer_bufferOffset_tag(const ns::Data& data, double timeout,
                                                          ns::Ref<ns::MutableData> buffer, std::size_t offset,
                                                          long tag);
  void readDataToData_withTimeout_maxLength_tag(const ns::Data& data, double timeout, std::size_t length,
                                                long tag);
  void readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(const ns::Data& data, double timeout,
                                                                    ns::Ref<ns::MutableData> buffer,
                                                                    std::size_t offset, std::size_t length,
                                                                    long tag);
  // NaN (and zeros) when no read is current.
  float progressOfReadReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                   std::uint64_t* totalPtr);

  // Writing. The bytes are shared with the caller, not copied; empty data is dropped.
  void writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag);
  // A gathered write: the pieces, then the file range, go out in order as one request with one
  // tag, in as few system calls as the stream takes (the file range with sendfile, never copied
  // into memory; read in first on a secured stream). The file must hold the whole range: a file
  // that ends early closes the socket with an error.
  void writePieces_fileRange_withTimeout_tag(std::vector<ns::Data> pieces,
                                             std::optional<DispatchFileRange> fileRange, double timeout,
                                             long tag);
  float progressOfWriteReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                    std::uint64_t* totalPtr);

  // Disconnecting. disconnect is synchronous; the others let queued reads and/or writes finish
  // first and drop any request made afterwards.
  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();

  // State queries.
  bool isDisconnected();
  bool isConnected();
  std::optional<std::string> connectedHost();
  std::uint16_t connectedPort();
  std::optional<ns::Data> connectedAddress();
  std::optional<std::string> localHost();
  std::uint16_t localPort();
  std::optional<ns::Data> localAddress();
  bool isIPv4();
  bool isIPv6();
  bool isSecure();

  // Per-family queries reading the fields directly: to be called on the socket queue (checked in
  // Debug builds).
  std::optional<std::string> connectedHost4();
  std::optional<std::string> connectedHost6();
  std::uint16_t connectedPort4();
  std::uint16_t connectedPort6();
  std::optional<std::string> localHost4();
  std::optional<std::string> localHost6();
  std::uint16_t localPort4();
  std::uint16_t localPort6();
  static std::optional<std::string> connectedHostFromSocket4(int socketFD);
  static std::optional<std::string> connectedHostFromSocket6(int socketFD);
  static std::uint16_t connectedPortFromSocket4(int socketFD);
  static std::uint16_t connectedPortFromSocket6(int socketFD);
  static std::optional<std::string> localHostFromSocket4(int socketFD);
  static std::optional<std::string> localHostFromSocket6(int socketFD);
  static std::uint16_t localPortFromSocket4(int socketFD);
  static std::uint16_t localPortFromSocket6(int socketFD);

  // Class utilities. Socket addresses are sockaddr_in (16 bytes) or sockaddr_in6 (28 bytes)
  // images, ports in network byte order inside them.
  static std::optional<std::vector<ns::Data>> lookupHost_port_error(const std::string& host,
                                                                    std::uint16_t port, ns::Error* errPtr);
  static std::string hostFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::string hostFromSockaddr6(const sockaddr_in6* pSockaddr6);
  static std::uint16_t portFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::uint16_t portFromSockaddr6(const sockaddr_in6* pSockaddr6);
  static bool getHost_port_family_fromAddress(std::string* hostPtr, std::uint16_t* portPtr, int* familyPtr,
                                              const ns::Data& address);
  static bool getHost_port_fromAddress(std::string* hostPtr, std::uint16_t* portPtr, const ns::Data& address);
  static std::optional<std::string> hostFromAddress(const ns::Data& address);
  static std::uint16_t portFromAddress(const ns::Data& address);
  static bool isIPv4Address(const ns::Data& address);
  static bool isIPv6Address(const ns::Data& address);
  static ns::Data CRLFData();
  static ns::Data CRData();
  static ns::Data LFData();
  static ns::Data ZeroData();
  static ns::Error gaiError(int gaiCode);
  // The IPv4 and IPv6 socket addresses an interface description and port stand for (either
  // may be missing); shared by listening and connecting.
  static void getInterfaceAddress4_address6_fromDescription_port(
      std::optional<ns::Data>* interfaceAddr4Ptr, std::optional<ns::Data>* interfaceAddr6Ptr,
      const std::optional<std::string>& interfaceDescription, std::uint16_t port);

  // Queue access.
  void performBlock(const std::function<void()>& block);
  // The descriptors; -1 unless called on the socket queue.
  int socketFD();
  int socket4FD();
  int socket6FD();
  // The TLS session (none until TLS starts on this socket, and off the socket queue).
  ns::Ref<sec::SSLContext> sslContext();
  // Lets calls made on `socketQueuesPreConfiguredTargetQueue` (which the socket queue targets)
  // run inline instead of dispatching synchronously onto the socket queue, which would deadlock.
  void markSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketQueuesPreConfiguredTargetQueue);
  void unmarkSocketQueueTargetQueue(
      const ns::Ref<dispatch::Queue>& socketQueuesPreviouslyConfiguredTargetQueue);
  static bool usingCFStreamForTLS() { return false; }
  static bool usingSecureTransportForTLS() { return true; }

 private:
  friend class SocketDelegateAccess<DispatchSocket, DispatchSocketDelegate>;
  struct Sources;

  bool isOnSocketQueue() const;
  // Debug builds: aborts unless called on the socket queue (or a marked target queue).
  void assertOnSocketQueue() const;
  void runSync(const std::function<void()>& body);
  // Always queued, even from the socket queue; the block keeps the socket alive.
  void runAsync(std::function<void()> body);
  void runInlineOrAsync(std::function<void()> body);
  // The value `body` computes on the socket queue.
  template <class Body>
  auto query(Body body) -> decltype(body()) {
    decltype(body()) result{};
    runSync([&] { result = body(); });
    return result;
  }
  // The public switches are stored as "disabled" bits: a switch is on while its bit is clear.
  bool isConfigBitClear(std::uint16_t bit);
  void setConfigBitClear(std::uint16_t bit, bool clear);
  DispatchReadPacket* currentReadPacket() const;
  DispatchWritePacket* currentWritePacket() const;

  // Errors (built on the socket queue).
  static ns::Error badConfigError(const std::string& msg);
  static ns::Error badParamError(const std::string& msg);
  static ns::Error connectTimeoutError();
  static ns::Error readMaxedOutError();
  static ns::Error readTimeoutError();
  static ns::Error writeTimeoutError();
  static ns::Error connectionClosedError();
  static ns::Error otherError(const std::string& msg);
  static ns::Error errnoErrorWithReason(const std::string& reason);
  static ns::Error errnoError();
  static ns::Error sslError(int ssl_error);

  // Delegate messages: the delegate is captured on the socket queue and the message runs on
  // the delegate queue; nothing is sent when either is missing.
  void notifyDelegate(std::function<void(DispatchSocketDelegate&, const ns::Ref<DispatchSocket>&)> message);

  // Accepting.
  int createListeningSocket(int domain, const ns::Data& interfaceAddr, ns::Error* errPtr);
  ns::Ref<dispatch::Source> startAcceptSource(int socketFD);
  bool doAccept(int parentSocketFD);
  void adoptAcceptedDescriptor(int childSocketFD, bool isIPv4);
  void setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD);
  void suspendReadSource();
  void resumeReadSource();
  void suspendWriteSource();
  void resumeWriteSource();

  // A one-shot timer on the socket queue that calls `onTimeout` while the socket lives; none
  // for a negative time-out.
  ns::Ref<dispatch::Source> startTimeoutTimer(double timeout, void (DispatchSocket::*onTimeout)());

  // Asks the delegate, on its queue, for more time for the timed-out `packet` and hands the
  // answer to `withExtension` on the socket queue; without a delegate the answer is 0.
  using TimeoutQuestion = double (DispatchSocketDelegate::*)(const ns::Ref<DispatchSocket>&, long, double,
                                                             std::uint64_t);
  template <class Packet>
  void askForTimeoutExtension(const ns::Ref<Packet>& packet, TimeoutQuestion question,
                              void (DispatchSocket::*withExtension)(double, const Packet*));

  // Reading.
  void queueRead(ns::Ref<DispatchReadPacket> packet);
  void maybeDequeueRead();
  // The read step: serves the current read from the read-ahead buffer, then from the
  // descriptor, and completes it, reports progress or waits.
  struct ReadStep;
  void doReadData();
  // The read source reported readability: take the count, or read at once when the current read
  // needs none.
  void readSourceFired(dispatch::Source& source);
  bool readsWithoutCount() const;
  bool readsPlainStream() const;
  bool countBytesWaiting();
  bool bytesWaitWithNoReadToTakeThem();
  void readFromPreBuffer(ReadStep& step);
  void readFromSocket(ReadStep& step, std::size_t estimatedBytesAvailable);
  // Moves n bytes from the read-ahead buffer into the step's packet.
  bool moveFromPreBuffer(ReadStep& step, std::size_t n);
  void doReadEOF();
  void completeCurrentRead();
  void endCurrentRead();
  void setupReadTimerWithTimeout(double timeout);
  void doReadTimeout();
  void doReadTimeoutWithExtension(double timeoutExtension, const DispatchReadPacket* packet);

  // Writing.
  void maybeDequeueWrite();
  void doWriteData();
  // One send of the current write's next bytes; what send answers.
  ssize_t sendFromPacket(DispatchWritePacket& packet, int socketFD);
  void completeCurrentWrite();
  void endCurrentWrite();
  void setupWriteTimerWithTimeout(double timeout);
  void doWriteTimeout();
  void doWriteTimeoutWithExtension(double timeoutExtension, const DispatchWritePacket* packet);

  // Disconnecting.
  void maybeClose();
  void closeWithError(std::optional<ns::Error> error);
  // Ends a connect attempt's time-out and invalidates its late results; every close runs it.
  void endConnectTimeout();

  std::optional<ns::Data> addressOf(bool peer);

  // Connecting.
  bool preConnectWithInterface_error(const std::optional<std::string>& interface, ns::Error* errPtr);
  void lookup_didSucceedWithAddress4_address6(int aStateIndex, const std::optional<ns::Data>& address4,
                                              const std::optional<ns::Data>& address6);
  void lookup_didFail(int aStateIndex, const ns::Error& error);
  bool connectWithAddress4_address6_error(const std::optional<ns::Data>& address4,
                                          const std::optional<ns::Data>& address6, ns::Error* errPtr);
  // The in-progress connect of `socketFD` ended (its descriptor became writable).
  void connectSocketDidBecomeWritable(int aStateIndex, int socketFD);
  void didConnect(int aStateIndex);
  void didNotConnect_error(int aStateIndex, const ns::Error& error);
  void startConnectTimeout(double timeout);
  void doConnectTimeout();

  // TLS.
  void maybeStartTLS();
  void ssl_startTLS();
  void ssl_continueSSLHandshake();
  void ssl_shouldTrustPeer_stateIndex(bool shouldTrustPeer, int aStateIndex);
  sec::OSStatus sslReadWithBuffer_length(void* buffer, std::size_t* bufferLength);
  sec::OSStatus sslWriteWithBuffer_length(const void* buffer, std::size_t* bufferLength);
  void flushSSLBuffers();
  // Bytes below the read-ahead buffer on a secure socket besides the descriptor's: encrypted
  // bytes taken from the descriptor and bytes the TLS layer holds.
  std::size_t sslBytesBelowPreBuffer() const;
  // The secure form of one read of the read step: up to `length` decrypted bytes into `target`.
  std::size_t sslReadIntoBuffer(std::uint8_t* target, std::size_t length, bool* waiting, bool* socketEOF,
                                std::optional<ns::Error>* error);
  // The secure form of one write step: writes what it can of the current packet.
  std::size_t sslWriteCurrentPacket(DispatchWritePacket& packet, bool* waiting,
                                    std::optional<ns::Error>* error);
  // A handshake is bounded by the time-out of the first read queued behind it.
  void maybeBoundHandshakeByReadTimeout();
  void doHandshakeTimeout();

  // Fields: flags and config are bit sets; everything below is touched only on the socket
  // queue, so there are no locks.
  std::uint32_t flags_ = 0;
  std::uint16_t config_ = 0;
  int socket4FD_ = -1;
  int socket6FD_ = -1;
  int stateIndex_ = 0;
  std::optional<ns::Data> connectInterface4_;
  std::optional<ns::Data> connectInterface6_;
  ns::Ref<dispatch::Queue> socketQueue_;
  // accept4Source, accept6Source, connectTimer, readSource, writeSource, readTimer, writeTimer.
  std::unique_ptr<Sources> sources_;
  // Read and write packets, and later TLS start markers, oldest first.
  std::deque<ns::Ref<ns::Object>> readQueue_;
  std::deque<ns::Ref<ns::Object>> writeQueue_;
  ns::Ref<ns::Object> currentRead_;
  ns::Ref<ns::Object> currentWrite_;
  std::uint64_t socketFDBytesAvailable_ = 0;
  // socketFDBytesAvailable_ is a guess (the descriptor was reported readable, nothing counted):
  // a read that gets all it asks for may have left more behind.
  bool socketFDBytesGuessed_ = false;
  // The read being started was asked for while no other read was current or queued.
  bool readAskedWhileIdle_ = false;
  std::unique_ptr<DispatchSocketPreBuffer> preBuffer_;
  ns::Ref<sec::SSLContext> sslContext_;
  // Encrypted bytes taken from the descriptor and not yet given to the TLS layer.
  std::unique_ptr<DispatchSocketPreBuffer> sslPreBuffer_;
  // Length of a TLS record write the TLS layer holds after a would-block.
  std::size_t sslWriteCachedLength_ = 0;
  int sslErrCode_ = 0;
  // Key of the queue-specific mark; its value is the address of this field itself.
  void* IsOnSocketQueueOrTargetQueueKey_;
  ns::Value userData_;
};
