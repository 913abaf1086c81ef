#pragma once
// What a DispatchUdpSocket tells its delegate. Every message is optional: the default bodies do
// what "not implemented" does, so a delegate overrides only what it needs. Messages run on the
// socket's delegate queue, in the order the socket produced them; without a delegate queue
// nothing is sent. The socket holds its delegate weakly.
#include <cstdint>
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class DispatchUdpSocket;

class DispatchUdpSocketDelegate {
 public:
  virtual ~DispatchUdpSocketDelegate() = default;

  // A connect request succeeded; `address` is the peer's socket address.
  virtual void udpSocket_didConnectToAddress(const ns::Ref<DispatchUdpSocket>& sock,
                                             const ns::Data& address) {}
  // A connect request failed (lookup, no usable address, connect() refused); the socket stays
  // usable and unconnected.
  virtual void udpSocket_didNotConnect(const ns::Ref<DispatchUdpSocket>& sock, const ns::Error& error) {}
  // A datagram left the socket, or the send filter dropped it.
  virtual void udpSocket_didSendDataWithTag(const ns::Ref<DispatchUdpSocket>& sock, long tag) {}
  // A datagram was not sent: lookup, destination, time-out, or a size the system refuses.
  virtual void udpSocket_didNotSendDataWithTag_dueToError(const ns::Ref<DispatchUdpSocket>& sock, long tag,
                                                          const ns::Error& error) {}
  // A datagram arrived and passed the receive filter; `context` is what the filter set (nil
  // without a filter or when it set none).
  virtual void udpSocket_didReceiveData_fromAddress_withFilterContext(const ns::Ref<DispatchUdpSocket>& sock,
                                                                      const ns::Data& data,
                                                                      const ns::Data& address,
                                                                      const ns::Value& context) {}
  // The sockets were closed; `error` is empty for a close the owner asked for.
  virtual void udpSocketDidClose_withError(const ns::Ref<DispatchUdpSocket>& sock,
                                           const std::optional<ns::Error>& error) {}
};
