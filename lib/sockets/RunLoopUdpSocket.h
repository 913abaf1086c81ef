#pragma once
// RunLoopUdpSocket: an asynchronous UDP socket driven by one run loop. It holds an IPv4 and an
// IPv6 datagram socket; binding, connecting or joining a multicast group narrows it to the family
// used by closing the other one. Sends and receives are queued with time-outs and tags (one of
// each served at a time); results go to the delegate on the run loop's thread.
//
//   auto sock = ns::make<RunLoopUdpSocket>(delegate);
//   ns::Error err;
//   if (!sock->bindToAddress_port_error("127.0.0.1", 0, &err)) ...;
//   sock->receiveWithTimeout_tag(5, 1);
//   sock->sendData_toHost_port_withTimeout_tag(ns::Data("ping"), "127.0.0.1", peerPort, 5, 2);
//
// Single-threaded: use it only on the thread of its run loop (the creating thread's until
// moveToRunLoop). Misuse raises "RunLoopUdpSocketException"; run-time failures are errors.
//
// The delegate is held strongly. An owner that is also the delegate makes a cycle: it must
// close the socket or clear the delegate (setDelegate(nullptr)) when it is done with it.
#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/RunLoopUdpPackets.h"
#include "lib/sockets/RunLoopUdpSocketDelegate.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace cf {
class Socket;
}
namespace ns {
class RunLoop;
class Timer;
}  // namespace ns

inline constexpr char RunLoopUdpSocketException[] = "RunLoopUdpSocketException";
inline constexpr char RunLoopUdpSocketErrorDomain[] = "RunLoopUdpSocketErrorDomain";
inline constexpr char kRunLoopUdpSocketNetDBErrorDomain[] = "kCFStreamErrorDomainNetDB";
inline constexpr char kRunLoopUdpSocketPOSIXErrorDomain[] = "kCFStreamErrorDomainPOSIX";

enum RunLoopUdpSocketError : long {
  RunLoopUdpSocketCFSocketError = -1,
  RunLoopUdpSocketNoError = 0,
  RunLoopUdpSocketBadParameter = 1,
  RunLoopUdpSocketIPv4Unavailable = 2,
  RunLoopUdpSocketIPv6Unavailable = 3,
  RunLoopUdpSocketSendTimeoutError = 4,
  RunLoopUdpSocketReceiveTimeoutError = 5,
};

class RunLoopUdpSocket : public ns::Object {
 public:
  RunLoopUdpSocket();
  explicit RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate);
  RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate, long userData);
  RunLoopUdpSocket(ns::Ref<RunLoopUdpSocketDelegate> delegate, long userData, bool enableIPv4,
                   bool enableIPv6);
  static ns::Ref<RunLoopUdpSocket> initIPv4();
  static ns::Ref<RunLoopUdpSocket> initIPv6();
  ~RunLoopUdpSocket() override;

  ns::Ref<RunLoopUdpSocketDelegate> delegate() const { return delegate_; }
  void setDelegate(ns::Ref<RunLoopUdpSocketDelegate> delegate) { delegate_ = std::move(delegate); }
  long userData() const { return userData_; }
  void setUserData(long userData) { userData_ = userData; }
  std::uint32_t maxReceiveBufferSize() const { return maxReceiveBufferSize_; }
  void setMaxReceiveBufferSize(std::uint32_t max) { maxReceiveBufferSize_ = max; }

  // Run loop and modes. Moving re-registers the sockets and time-outs on the new loop; from then
  // on the socket belongs to that loop's thread.
  bool moveToRunLoop(const ns::Ref<ns::RunLoop>& runLoop);
  bool setRunLoopModes(const std::vector<std::string>& runLoopModes);
  std::vector<std::string> runLoopModes() const { return runLoopModes_; }

  // Binding and connecting. Hosts: none or "" = every address (bind) / no host (connect),
  // "localhost" or "loopback" = the loopback addresses, else a name or address text. Addresses
  // are 16-byte sockaddr_in or 28-byte sockaddr_in6 images.
  bool bindToPort_error(std::uint16_t port, ns::Error* errPtr);
  bool bindToAddress_port_error(const std::optional<std::string>& localAddr, std::uint16_t port,
                                ns::Error* errPtr);
  bool connectToHost_onPort_error(const std::optional<std::string>& host, std::uint16_t port,
                                  ns::Error* errPtr);
  bool connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr);
  bool joinMulticastGroup_error(const std::string& group, ns::Error* errPtr);
  bool joinMulticastGroup_withAddress_error(const std::string& group,
                                            const std::optional<std::string>& address, ns::Error* errPtr);
  bool enableBroadcast_error(bool flag, ns::Error* errPtr);

  // Sending (YES = queued; refused requests get no delegate message) and receiving. Time-outs
  // are seconds, negative = none.
  bool sendData_withTimeout_tag(const ns::Data& data, double timeout, long tag);
  bool sendData_toHost_port_withTimeout_tag(const ns::Data& data, const std::optional<std::string>& host,
                                            std::uint16_t port, double timeout, long tag);
  bool sendData_toAddress_withTimeout_tag(const ns::Data& data, const ns::Data& remoteAddr, double timeout,
                                          long tag);
  void receiveWithTimeout_tag(double timeout, long tag);

  // Closing. close drops every request without per-request messages; the delegate then hears
  // onUdpSocketDidClose on a later pass. The others refuse new requests and close once the
  // queued ones are done.
  void close();
  void closeAfterSending();
  void closeAfterReceiving();
  void closeAfterSendingAndReceiving();

  // Endpoint information (cached once bound / connected).
  std::optional<std::string> localHost();
  std::uint16_t localPort();
  std::optional<std::string> connectedHost();
  std::uint16_t connectedPort();
  bool isConnected() const;
  bool isConnectedToHost_port(const std::string& host, std::uint16_t port);
  bool isClosed() const;
  bool isIPv4() const { return socket4_ != nullptr; }
  bool isIPv6() const { return socket6_ != nullptr; }
  // The MTU of the interface that holds the bound address; 0 for a wildcard bind, with no
  // socket, or when the lookup fails.
  std::uint32_t maximumTransmissionUnit();

  // Address text; a conversion failure raises NSInternalInconsistencyException.
  static std::string addressHost4(const sockaddr_in* addr);
  static std::string addressHost6(const sockaddr_in6* addr);
  static std::string addressHost(const sockaddr* addr);

  // Resolution: 0 or a (negative) resolver code; each out-parameter receives the first address
  // of its family, or stays empty.
  static int convertForBindHost_port_intoAddress4_address6(const std::optional<std::string>& host,
                                                           std::uint16_t port, ns::Data* address4,
                                                           ns::Data* address6);
  static int convertForSendHost_port_intoAddress4_address6(const std::optional<std::string>& host,
                                                           std::uint16_t port, ns::Data* address4,
                                                           ns::Data* address6);

 private:
  class Anchor;
  using SocketRef = ns::Ref<cf::Socket>;

  void createSocket(int family);
  void handleEvent(cf::Socket* sock, unsigned type);
  void checkThread() const;
  void raiseIfClosed() const;
  void queuePerform(const std::string& selector, void (RunLoopUdpSocket::*method)());
  void runLoopAddSocket(const SocketRef& sock);
  void runLoopRemoveSocket(const SocketRef& sock);
  void runLoopAddTimer(const ns::Ref<ns::Timer>& timer);
  ns::Ref<ns::Timer> makeTimer(double fireTime, bool send);
  void closeSocket4();
  void closeSocket6();
  void emptyQueues();
  void maybeScheduleClose();
  void closeInternal(bool notify);

  // The local (or, with `peer`, the connected) address of the socket in use, reduced by `valueOf`
  // to its host or port, and kept in `cache` once the socket is bound (or connected).
  template <class Value>
  Value nameLookup(bool peer, Value& cache, Value (*valueOf)(const sockaddr_in6&));

  // Sending.
  void scheduleDequeueSend();
  void maybeDequeueSend();
  cf::Socket* socketForPacket(const RunLoopSendPacket& packet) const;
  bool canAcceptBytes(cf::Socket* sock);
  void doSend(cf::Socket* sock);
  void completeCurrentSend();
  void failCurrentSend(const ns::Error& error);
  void endCurrentSend();
  void doSendTimeout(const ns::Ref<ns::Timer>& timer);
  // Receiving.
  void scheduleDequeueReceive();
  void maybeDequeueReceive();
  bool hasBytesAvailable(cf::Socket* sock);
  void doReceive4();
  void doReceive6();
  void doReceive(cf::Socket* sock);
  bool maybeCompleteCurrentReceive();
  void failCurrentReceive(const ns::Error& error);
  void endCurrentReceive();
  void doReceiveTimeout(const ns::Ref<ns::Timer>& timer);

  ns::Ref<Anchor> anchor_;  // call-back context of the sockets and target of the socket's performs
  SocketRef socket4_;
  SocketRef socket6_;
  ns::Ref<ns::RunLoop> runLoop_;
  std::vector<std::string> runLoopModes_;
  std::deque<ns::Ref<RunLoopSendPacket>> sendQueue_;
  ns::Ref<RunLoopSendPacket> currentSend_;
  ns::Ref<ns::Timer> sendTimer_;
  std::deque<ns::Ref<RunLoopReceivePacket>> receiveQueue_;
  ns::Ref<RunLoopReceivePacket> currentReceive_;
  ns::Ref<ns::Timer> receiveTimer_;
  ns::Ref<RunLoopUdpSocketDelegate> delegate_;
  std::uint16_t flags_ = 0;
  long userData_ = 0;
  std::optional<std::string> cachedLocalHost_;
  std::uint16_t cachedLocalPort_ = 0;
  std::optional<std::string> cachedConnectedHost_;
  std::uint16_t cachedConnectedPort_ = 0;
  std::uint32_t maxReceiveBufferSize_ = 9216;
  // Where close notices were queued, so that destruction can withdraw them.
  std::vector<ns::Weak<ns::RunLoop>> closeNoticeLoops_;
  ns::Ref<ns::Object> closeNoticeTarget_;
};
