#pragma once
// DispatchUdpSocket: an asynchronous UDP endpoint driven by serial dispatch queues.
//
// One object owns up to two datagram sockets (IPv4 and IPv6), created at the first bind,
// connect, send or broadcast set-up. All state lives on one serial queue, the socket queue;
// callers use the socket from any thread. Queries, bind, connect, the receive switches, multicast
// and close run synchronously on the socket queue (inline when already on it, or on a queue
// marked with markSocketQueueTargetQueue); setters and sends are queued asynchronously. Results
// reach a weakly held delegate on its delegate queue; every send carries a tag that comes back
// in its report. Late asynchronous results (a lookup, a filter's answer) carry the generation
// counter stateIndex_ and are dropped once a close has moved it on.
//
//   auto sock = ns::make<DispatchUdpSocket>(delegate, delegateQueue);
//   ns::Error err;
//   if (!sock->bindToPort_interface_error(0, "127.0.0.1", &err)) ...;
//   sock->beginReceiving(&err);
//   sock->sendData_toHost_port_withTimeout_tag(ns::Data("ping"), "127.0.0.1", peerPort, 5, 1);
//   ...
//   sock->close();
//
// Lifetime: the dispatch sources of open sockets hold the socket strongly, so a socket that has
// sockets lives on after its last owner lets go, until it is closed (close, closeAfterSending, or
// a failure that closes it). Close a socket when done with it.
#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/sockets/DispatchUdpSocketConstants.h"
#include "lib/sockets/DispatchUdpSocketDelegate.h"
#include "lib/sockets/SocketDelegateAccess.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace dispatch {
class Queue;
class Source;
}  // namespace dispatch
namespace ns {
class Notification;
}  // namespace ns
class DispatchUdpSendPacket;
class DispatchUdpSpecialPacket;

class DispatchUdpSocket : public ns::Object,
                          public SocketDelegateAccess<DispatchUdpSocket, DispatchUdpSocketDelegate> {
 public:
  // Answers YES to send the datagram (data, destination address, tag).
  using SendFilterBlock = std::function<bool(const ns::Data& data, const ns::Data& address, long tag)>;
  // Answers YES to deliver the datagram (data, sender's address); may set a context (nil on
  // entry) that the delegate receives.
  using ReceiveFilterBlock =
      std::function<bool(const ns::Data& data, const ns::Data& address, ns::Value* context)>;
  enum class MulticastRequest { Join, Leave };

  // Creation. Without a socket queue the socket makes a serial one labelled "DispatchUdpSocket";
  // a given socket queue must be serial (a concurrent one raises DispatchUdpSocketException).
  DispatchUdpSocket();
  explicit DispatchUdpSocket(ns::Ref<dispatch::Queue> socketQueue);
  DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue);
  DispatchUdpSocket(ns::Weak<DispatchUdpSocketDelegate> delegate, ns::Ref<dispatch::Queue> delegateQueue,
                    ns::Ref<dispatch::Queue> socketQueue);
  ~DispatchUdpSocket() override;

  // Configuration: read when sockets are created, at bind and connect, and when an address is
  // chosen from a lookup; later changes leave open sockets alone.
  bool isIPv4Enabled();
  void setIPv4Enabled(bool flag);
  bool isIPv6Enabled();
  void setIPv6Enabled(bool flag);
  bool isIPv4Preferred();
  bool isIPv6Preferred();
  bool isIPVersionNeutral();
  void setPreferIPv4();
  void setPreferIPv6();
  void setIPVersionNeutral();
  std::uint16_t maxReceiveIPv4BufferSize();
  void setMaxReceiveIPv4BufferSize(std::uint16_t max);
  std::uint32_t maxReceiveIPv6BufferSize();
  void setMaxReceiveIPv6BufferSize(std::uint32_t max);
  ns::Value userData();
  void setUserData(ns::Value userData);

  // Addresses and state.
  std::optional<ns::Data> localAddress();
  std::optional<std::string> localHost();
  std::uint16_t localPort();
  std::optional<ns::Data> localAddress_IPv4();
  std::optional<std::string> localHost_IPv4();
  std::uint16_t localPort_IPv4();
  std::optional<ns::Data> localAddress_IPv6();
  std::optional<std::string> localHost_IPv6();
  std::uint16_t localPort_IPv6();
  std::optional<ns::Data> connectedAddress();
  std::optional<std::string> connectedHost();
  std::uint16_t connectedPort();
  bool isConnected();
  bool isClosed();
  bool isIPv4();
  bool isIPv6();

  // Binding. The interface is nil (every address), "localhost" or "loopback", an interface
  // name ("lo") or an address text; an address is a 16-byte sockaddr_in or 28-byte sockaddr_in6.
  bool bindToPort_error(std::uint16_t port, ns::Error* errPtr);
  bool bindToPort_interface_error(std::uint16_t port, const std::optional<std::string>& interface,
                                  ns::Error* errPtr);
  bool bindToAddress_error(const ns::Data& localAddr, ns::Error* errPtr);

  // Connecting: YES when the request was queued; udpSocket_didConnectToAddress or
  // udpSocket_didNotConnect follows. Datagrams queued before it go out first.
  bool connectToHost_onPort_error(const std::optional<std::string>& host, std::uint16_t port,
                                  ns::Error* errPtr);
  bool connectToAddress_error(const std::optional<ns::Data>& remoteAddr, ns::Error* errPtr);

  // Sending: always queued. Time-outs are seconds (negative: none) and count from the first time
  // the system refuses the datagram. Empty data is ignored. The bytes are shared, not copied.
  void sendData_withTag(const ns::Data& data, long tag);
  void sendData_withTimeout_tag(const ns::Data& data, double timeout, long tag);
  void sendData_toHost_port_withTimeout_tag(const ns::Data& data, const std::optional<std::string>& host,
                                            std::uint16_t port, double timeout, long tag);
  void sendData_toAddress_withTimeout_tag(const ns::Data& data, const ns::Data& remoteAddr, double timeout,
                                          long tag);
  // Filters act when both block and queue are set. Synchronous ones are waited for; asynchronous
  // ones answer back to the socket queue.
  void setSendFilter_withQueue(SendFilterBlock filterBlock, ns::Ref<dispatch::Queue> filterQueue);
  void setSendFilter_withQueue_isAsynchronous(SendFilterBlock filterBlock,
                                              ns::Ref<dispatch::Queue> filterQueue, bool isAsynchronous);

  // Receiving.
  bool receiveOnce(ns::Error* errPtr);
  bool beginReceiving(ns::Error* errPtr);
  void pauseReceiving();
  void setReceiveFilter_withQueue(ReceiveFilterBlock filterBlock, ns::Ref<dispatch::Queue> filterQueue);
  void setReceiveFilter_withQueue_isAsynchronous(ReceiveFilterBlock filterBlock,
                                                 ns::Ref<dispatch::Queue> filterQueue, bool isAsynchronous);
  // Resumes both read sources; registered for nothing, a caller may invoke it.
  void applicationWillEnterForeground(const ns::Ref<ns::Notification>& notification);

  // Multicast (the group is an address text) and broadcast.
  bool joinMulticastGroup_error(const std::string& group, ns::Error* errPtr);
  bool joinMulticastGroup_onInterface_error(const std::string& group,
                                            const std::optional<std::string>& interface, ns::Error* errPtr);
  bool leaveMulticastGroup_error(const std::string& group, ns::Error* errPtr);
  bool leaveMulticastGroup_onInterface_error(const std::string& group,
                                             const std::optional<std::string>& interface, ns::Error* errPtr);
  bool enableBroadcast_error(bool flag, ns::Error* errPtr);

  // Closing: close is synchronous; closeAfterSending lets the queued sends finish first.
  void close();
  void closeAfterSending();

  // Queue access.
  void performBlock(const std::function<void()>& block);
  // The descriptors; -1 unless called on the socket queue (inside performBlock).
  int socketFD();
  int socket4FD();
  int socket6FD();
  // Lets calls made on a queue the socket queue targets run inline instead of dispatching
  // synchronously onto the socket queue, which would deadlock.
  void markSocketQueueTargetQueue(const ns::Ref<dispatch::Queue>& socketQueuesPreConfiguredTargetQueue);
  void unmarkSocketQueueTargetQueue(
      const ns::Ref<dispatch::Queue>& socketQueuesPreviouslyConfiguredTargetQueue);

  // Address utilities. Socket addresses are sockaddr_in (at least 16 bytes) or sockaddr_in6 (at
  // least 28) images, the family read from sa_family, ports in network order inside them.
  static bool getHost_port_family_fromAddress(std::string* hostPtr, std::uint16_t* portPtr, int* afPtr,
                                              const ns::Data& address);
  static bool getHost_port_fromAddress(std::string* hostPtr, std::uint16_t* portPtr, const ns::Data& address);
  static std::optional<std::string> hostFromAddress(const ns::Data& address);
  static std::uint16_t portFromAddress(const ns::Data& address);
  static int familyFromAddress(const ns::Data& address);
  static bool isIPv4Address(const ns::Data& address);
  static bool isIPv6Address(const ns::Data& address);
  static std::string hostFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::string hostFromSockaddr6(const sockaddr_in6* pSockaddr6);
  static std::uint16_t portFromSockaddr4(const sockaddr_in* pSockaddr4);
  static std::uint16_t portFromSockaddr6(const sockaddr_in6* pSockaddr6);

  // Address operations; on the socket queue only (checked in Debug builds).
  void convertIntefaceDescription_port_intoAddress4_address6(
      const std::optional<std::string>& interfaceDescription, std::uint16_t port,
      std::optional<ns::Data>* interfaceAddr4Ptr, std::optional<ns::Data>* interfaceAddr6Ptr);
  void convertNumericHost_port_intoAddress4_address6(const std::optional<std::string>& numericHost,
                                                     std::uint16_t port, std::optional<ns::Data>* addr4Ptr,
                                                     std::optional<ns::Data>* addr6Ptr);
  // Picks the destination out of a lookup's addresses by the configuration and the families in
  // use; answers its family, or 0 with an error.
  int getAddress_error_fromAddresses(std::optional<ns::Data>* addressPtr, ns::Error* errorPtr,
                                     const std::vector<ns::Data>& addresses);
  // The index of the interface that holds the address; 0 when none does.
  static unsigned indexOfInterfaceAddr4(const ns::Data& interfaceAddr4);
  static unsigned indexOfInterfaceAddr6(const ns::Data& interfaceAddr6);

 private:
  friend class SocketDelegateAccess<DispatchUdpSocket, DispatchUdpSocketDelegate>;
  struct Sources;
  using Completion = std::function<void(std::vector<ns::Data> addresses, std::optional<ns::Error> error)>;

  bool isOnSocketQueue() const;
  void assertOnSocketQueue() const;
  void runSync(const std::function<void()>& body);
  // Always queued, even from the socket queue; the block keeps the socket alive.
  void runAsync(std::function<void()> body);
  void runInlineOrAsync(std::function<void()> body);
  template <class Body>
  auto query(Body body) -> decltype(body()) {
    decltype(body()) result{};
    runSync([&] { result = body(); });
    return result;
  }
  void setConfigBits(std::uint16_t set, std::uint16_t clear);
  bool hasConfigBits(std::uint16_t bits, bool all);

  void notifyDelegate(
      std::function<void(DispatchUdpSocketDelegate&, const ns::Ref<DispatchUdpSocket>&)> message);
  void notifyDidNotSend(long tag, const ns::Error& error);

  // Errors.
  static ns::Error badConfigError(const std::string& msg);
  static ns::Error badParamError(const std::string& msg);
  static ns::Error sendTimeoutError();
  static ns::Error socketClosedError();
  static ns::Error otherError(const std::string& msg);
  static ns::Error errnoErrorWithReason(const std::string& reason);
  static ns::Error errnoError();
  static ns::Error gaiError(int gai_error);
  bool preOp(ns::Error* errPtr);

  // Lookup on a global queue; `completion` runs later on the socket queue.
  void asyncResolveHost_port_withCompletionBlock(const std::optional<std::string>& host, std::uint16_t port,
                                                 Completion completion);
  bool isConnectedToAddress4(const ns::Data& someAddr4);
  bool isConnectedToAddress6(const ns::Data& someAddr6);

  // Sockets and sources.
  bool createSocket4_socket6_error(bool useIPv4, bool useIPv6, ns::Error* errPtr);
  bool createSockets(ns::Error* errPtr);
  int createSocket(int domain, ns::Error* errPtr);
  void setupSendAndReceiveSourcesForSocket4();
  void setupSendAndReceiveSourcesForSocket6();
  void setupSources(bool ipv4);
  void suspendSend4Source();
  void suspendSend6Source();
  void resumeSend4Source();
  void resumeSend6Source();
  void suspendReceive4Source();
  void suspendReceive6Source();
  void resumeReceive4Source();
  void resumeReceive6Source();
  void closeSocket4();
  void closeSocket6();
  void closeSockets();
  void closeWithError(std::optional<ns::Error> error);
  void maybeUpdateCachedLocalAddress4Info();
  void maybeUpdateCachedLocalAddress6Info();
  void maybeUpdateCachedConnectedAddressInfo();
  bool preBind(ns::Error* errPtr);

  // Sending and connecting.
  void queueSendEntry(ns::Ref<ns::Object> entry);
  bool preConnect(ns::Error* errPtr);
  bool queueConnectRequest(ns::Ref<DispatchUdpSpecialPacket> packet, const std::optional<std::string>& host,
                           std::uint16_t port, ns::Error* errPtr);
  void maybeDequeueSend();
  void maybeConnect();
  bool connectWithAddress4_error(const ns::Data& address4, ns::Error* errPtr);
  bool connectWithAddress6_error(const ns::Data& address6, ns::Error* errPtr);
  void doPreSend();
  void doSend();
  void finishCurrentSend();
  void endCurrentSend();
  void setupSendTimerWithTimeout(double timeout);
  void doSendTimeout();
  DispatchUdpSendPacket* currentSendPacket() const;

  // Receiving.
  bool startReceiving(std::uint32_t mode, ns::Error* errPtr);
  void doReceive();
  // A read event reporting no bytes: an empty datagram (or a pending error) on `ipv4`'s socket.
  void doReceiveEmpty(bool ipv4);
  void deliverData_fromAddress_context(const ns::Data& data, const ns::Data& address,
                                       const ns::Value& context);
  void asyncFilterAnswered(int aStateIndex, bool allowed, const ns::Data& data, const ns::Data& address,
                           const ns::Value& context);

  // Multicast.
  bool preJoin(ns::Error* errPtr);
  bool performMulticastRequest_forGroup_onInterface_error(MulticastRequest request, const std::string& group,
                                                          const std::optional<std::string>& interface,
                                                          ns::Error* errPtr);

  // Fields: everything below is touched only on the socket queue, so there are no locks.
  ReceiveFilterBlock receiveFilterBlock_;
  ns::Ref<dispatch::Queue> receiveFilterQueue_;
  bool receiveFilterAsync_ = false;
  SendFilterBlock sendFilterBlock_;
  ns::Ref<dispatch::Queue> sendFilterQueue_;
  bool sendFilterAsync_ = false;
  std::uint32_t flags_ = 0;
  std::uint16_t config_ = 0;
  std::uint16_t max4ReceiveSize_ = 9216;
  std::uint32_t max6ReceiveSize_ = 9216;
  int socket4FD_ = -1;
  int socket6FD_ = -1;
  ns::Ref<dispatch::Queue> socketQueue_;
  // send4Source, send6Source, receive4Source, receive6Source, sendTimer.
  std::unique_ptr<Sources> sources_;
  ns::Ref<ns::Object> currentSend_;
  std::deque<ns::Ref<ns::Object>> sendQueue_;
  std::uint64_t socket4FDBytesAvailable_ = 0;
  std::uint64_t socket6FDBytesAvailable_ = 0;
  std::uint32_t pendingFilterOperations_ = 0;
  // Moved on by every close: late results started before it are dropped.
  int stateIndex_ = 0;
  bool deallocating_ = false;
  std::optional<ns::Data> cachedLocalAddress4_;
  std::optional<std::string> cachedLocalHost4_;
  std::uint16_t cachedLocalPort4_ = 0;
  std::optional<ns::Data> cachedLocalAddress6_;
  std::optional<std::string> cachedLocalHost6_;
  std::uint16_t cachedLocalPort6_ = 0;
  std::optional<ns::Data> cachedConnectedAddress_;
  std::optional<std::string> cachedConnectedHost_;
  std::uint16_t cachedConnectedPort_ = 0;
  int cachedConnectedFamily_ = 0;
  // Key of the queue-specific mark; its value is the address of this field itself.
  void* IsOnSocketQueueOrTargetQueueKey_;
  ns::Value userData_;
};
