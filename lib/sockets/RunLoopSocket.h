#pragma once
// RunLoopSocket: an asynchronous TCP socket that does all of its work on one run loop. It
// listens and accepts through cf::Socket, carries a connection on a cf::ReadStream /
// cf::WriteStream pair, serves queued reads and writes (each with a tag and a time-out the
// delegate may extend), upgrades to TLS in place and closes at once or after its queues drain.
//
//   auto sock = ns::make<RunLoopSocket>(delegate);
//   ns::Error err;
//   sock->connectToHost_onPort_withTimeout_error("localhost", port, 10, &err);
//   sock->readDataToData_withTimeout_tag(RunLoopSocket::CRLFData(), 5, 1);
//   sock->writeData_withTimeout_tag(ns::Data("hello\r\n"), 5, 2);
//
// Single-threaded: use it on the thread of its run loop only. Misuse raises "SocketException";
// run-time failures reach the delegate through onSocket_willDisconnectWithError.
//
// The delegate is held strongly. An owner that is also the delegate makes a cycle: it must
// disconnect and clear the delegate (setDelegate(nullptr)) when it is done with the socket.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/RunLoopSocketDelegate.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/StreamPair.h"

namespace cf {
class Socket;
}
namespace ns {
class RunLoop;
class Timer;
}  // namespace ns

inline constexpr char RunLoopSocketException[] = "SocketException";
inline constexpr char RunLoopSocketErrorDomain[] = "RunLoopSocketErrorDomain";

enum RunLoopSocketError : long {
  RunLoopSocketCFSocketError = -1,
  RunLoopSocketNoError = 0,
  RunLoopSocketCanceledError = 1,
  RunLoopSocketConnectTimeoutError = 2,
  RunLoopSocketReadMaxedOutError = 3,
  RunLoopSocketReadTimeoutError = 4,
  RunLoopSocketWriteTimeoutError = 5,
};

class RunLoopReadPacket;
class RunLoopWritePacket;
class RunLoopSpecialPacket;

class RunLoopSocket : public ns::Object {
 public:
  RunLoopSocket();
  explicit RunLoopSocket(ns::Ref<RunLoopSocketDelegate> delegate);
  RunLoopSocket(ns::Ref<RunLoopSocketDelegate> delegate, long userData);
  ~RunLoopSocket() override;

  ns::Ref<RunLoopSocketDelegate> delegate() const { return delegate_; }
  void setDelegate(ns::Ref<RunLoopSocketDelegate> delegate) { delegate_ = std::move(delegate); }
  bool canSafelySetDelegate() const;
  long userData() const { return userData_; }
  void setUserData(long userData) { userData_ = userData; }
  ns::Ref<cf::Socket> getCFSocket() const;
  ns::Ref<cf::ReadStream> getCFReadStream() const { return readStream_; }
  ns::Ref<cf::WriteStream> getCFWriteStream() const { return writeStream_; }
  void enablePreBuffering() { flags_ |= 0x0001; }
  // Raises when used off the thread of the socket's run loop.
  void checkForThreadSafety() const;
  std::string description() const;

  // Run loop and modes.
  bool moveToRunLoop(const ns::Ref<ns::RunLoop>& runLoop);
  bool setRunLoopModes(const std::vector<std::string>& runLoopModes);
  bool addRunLoopMode(const std::string& mode);
  bool removeRunLoopMode(const std::string& mode);
  std::vector<std::string> runLoopModes() const { return runLoopModes_; }

  // Listening and connecting. Interface: none or "" = every address, "localhost" or "loopback"
  // = 127.0.0.1 and ::1, else a name or address text. Time-outs in seconds, negative = none.
  bool acceptOnPort_error(std::uint16_t port, ns::Error* errPtr);
  bool acceptOnInterface_port_error(const std::optional<std::string>& interface, std::uint16_t port,
                                    ns::Error* errPtr);
  bool connectToHost_onPort_error(const std::string& hostname, std::uint16_t port, ns::Error* errPtr);
  bool connectToHost_onPort_withTimeout_error(const std::string& hostname, std::uint16_t port, double timeout,
                                              ns::Error* errPtr);
  bool connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr);
  bool connectToAddress_withTimeout_error(const ns::Data& remoteAddr, double timeout, ns::Error* errPtr);
  bool connectToAddress_viaInterfaceAddress_withTimeout_error(const ns::Data& remoteAddr,
                                                              const ns::Data& interfaceAddr, double timeout,
                                                              ns::Error* errPtr);

  // Disconnecting.
  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();
  // Every byte received and not delivered; only inside onSocket_willDisconnectWithError.
  std::optional<ns::Data> unreadData();

  // Endpoints.
  bool isDisconnected() const;
  bool isConnected() const;
  std::optional<std::string> connectedHost() const;
  std::uint16_t connectedPort() const;
  std::optional<std::string> localHost() const;
  std::uint16_t localPort() const;
  std::optional<ns::Data> connectedAddress() const;
  std::optional<ns::Data> localAddress() const;
  bool isIPv4() const;
  bool isIPv6() const;

  // Reading: requests that break a rule are dropped without a message.
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
  // Writing: empty data and writes after a disconnectAfter... call are dropped.
  void writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag);
  // NaN with no current read (or write) or while TLS is starting.
  float progressOfReadReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                   std::uint64_t* total) const;
  float progressOfWriteReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                    std::uint64_t* total) const;

  // TLS in place, after the requests queued before it (settings: the streams' SSL settings).
  void startTLS(const ns::Value& tlsSettings);

  static ns::Data CRLFData();
  static ns::Data CRData();
  static ns::Data LFData();
  static ns::Data ZeroData();

  // {domain, code} of a stream error as an error object; none for {0, 0}.
  static std::optional<ns::Error> errorFromCFStreamError(cf::StreamError error);

 protected:
  // Makes the socket for an accepted connection; a subclass answers its own class.
  virtual ns::Ref<RunLoopSocket> newAcceptedSocket(ns::Ref<RunLoopSocketDelegate> delegate);

 private:
  class Anchor;
  using SocketRef = ns::Ref<cf::Socket>;
  friend class RunLoopSocketTestAccess;

  // Debug builds stop at once when the socket is used off its run loop's thread.
  void checkThread() const;
  // Run loop helpers.
  void runLoopAddSocket(const SocketRef& sock, const std::vector<std::string>& modes);
  void runLoopRemoveSocket(const SocketRef& sock, const std::vector<std::string>& modes);
  void runLoopAddTimer(const ns::Ref<ns::Timer>& timer, const std::vector<std::string>& modes);
  void runLoopRemoveTimer(const ns::Ref<ns::Timer>& timer, const std::vector<std::string>& modes);
  void runLoopUnscheduleStreams(const std::vector<std::string>& modes);
  void queuePerform(const std::string& selector, void (RunLoopSocket::*method)());
  void cancelPerforms();
  void queueDeferredCalls();
  ns::Ref<ns::Timer> makeTimer(double interval, void (RunLoopSocket::*method)());

  // Accepting and connecting.
  void raiseOnMisuse(bool accept) const;
  SocketRef newAcceptSocketForAddress(const ns::Data& address, ns::Error* errPtr);
  bool createSocketForAddress(const ns::Data& address, ns::Error* errPtr);
  bool bindSocketToAddress(const ns::Data& address, ns::Error* errPtr);
  void attachSocketsToRunLoop(const ns::Ref<ns::RunLoop>& runLoop);
  bool configureAndReturnError(ns::Error* errPtr);
  // The end of starting a connection: a failed step closes the socket and hands on its error.
  bool connectStarted(bool ok, const ns::Error& error, double timeout, ns::Error* errPtr);
  bool connectSocketToAddress(const ns::Data& address, ns::Error* errPtr);
  bool createStreamsToHost(const std::string& hostname, std::uint16_t port, ns::Error* errPtr);
  bool createStreamsFromNative(int fd, ns::Error* errPtr);
  bool attachStreamsToRunLoop(const ns::Ref<ns::RunLoop>& runLoop, ns::Error* errPtr);
  bool openStreamsAndReturnError(ns::Error* errPtr);
  // Logs the step of setting up the streams that failed and passes the streams' error on; false.
  bool streamSetUpFailed(const char* step, bool logError, ns::Error* errPtr);
  bool setSocketFromStreamsAndReturnError(ns::Error* errPtr);
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();
  void handleSocketEvent(cf::Socket* sock, unsigned type, int nativeHandle, int errorNumber);
  void doAcceptFromSocket(cf::Socket* parent, int fd);
  void doSocketOpen(cf::Socket* sock, int error);
  void doStreamOpen();
  void handleStreamEvent(bool read, cf::StreamEventType type);
  std::optional<ns::Error> getStreamError() const;

  // Reading and writing.
  void enqueueRead(ns::Ref<RunLoopReadPacket> packet);
  void maybeDequeueRead();
  bool hasBytesAvailable();
  long readIntoBuffer(std::uint8_t* buffer, std::size_t length);
  void doBytesAvailable();
  void completeCurrentRead();
  void endCurrentRead();
  void doReadTimeout();
  void maybeDequeueWrite();
  bool canAcceptBytes();
  void doSendBytes();
  void completeCurrentWrite();
  void endCurrentWrite();
  void doWriteTimeout();
  // The read and the write side queue, dequeue and keep their current packet and its timer alike.
  void scheduleDequeue(bool read);
  void maybeDequeue(bool read);
  using ShouldTimeout = double (RunLoopSocketDelegate::*)(const ns::Ref<RunLoopSocket>&, long, double,
                                                          std::size_t);
  static void endCurrentPacket(ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer);
  template <class Packet>
  void doPacketTimeout(const ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer,
                       ShouldTimeout shouldTimeout, void (RunLoopSocket::*again)(), long timeoutError);
  template <class Packet>
  static float progressOfPacket(const Packet* packet, std::uint64_t length, long* tag, std::uint64_t* done,
                                std::uint64_t* total);

  // TLS and disconnecting.
  void maybeStartTLS();
  void onTLSHandshakeSuccessful();
  void maybeScheduleDisconnect();
  void closeWithError(const std::optional<ns::Error>& error);
  void recoverUnreadData();
  void emptyQueues();
  void close();
  void closeInternal(bool dying);

  ns::Ref<Anchor> anchor_;
  int nativeSocket4_ = 0;
  int nativeSocket6_ = 0;
  SocketRef socket4_;
  SocketRef socket6_;
  ns::Ref<cf::ReadStream> readStream_;
  ns::Ref<cf::WriteStream> writeStream_;
  bool source4_ = false;  // theSocket4 is registered with the run loop
  bool source6_ = false;
  ns::Ref<ns::RunLoop> runLoop_;
  std::vector<std::string> runLoopModes_;
  ns::Ref<ns::Timer> connectTimer_;
  std::deque<ns::Ref<ns::Object>> readQueue_;
  ns::Ref<ns::Object> currentRead_;
  ns::Ref<ns::Timer> readTimer_;
  ns::MutableData partialReadBuffer_;
  std::deque<ns::Ref<ns::Object>> writeQueue_;
  ns::Ref<ns::Object> currentWrite_;
  ns::Ref<ns::Timer> writeTimer_;
  ns::Ref<RunLoopSocketDelegate> delegate_;
  std::uint16_t flags_ = 0x0001;
  long userData_ = 0;
};
