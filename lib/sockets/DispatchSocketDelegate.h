#pragma once
// What a DispatchSocket tells its delegate. Every message is optional: the default bodies do
// what "not implemented" does, so a delegate overrides only what it needs. Messages run on the
// socket's delegate queue, never on the socket queue; the socket holds its delegate weakly.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}
class DispatchSocket;
namespace sec {
class Trust;
}  // namespace sec

class DispatchSocketDelegate {
 public:
  virtual ~DispatchSocketDelegate() = default;

  // For each accepted connection, before its socket is made: the queue the new socket should
  // use as its socket queue (it must be serial). The default (none) lets the new socket create
  // its own.
  virtual ns::Ref<dispatch::Queue> newSocketQueueForConnectionFromAddress_onSocket(
      const ns::Data& address, const ns::Ref<DispatchSocket>& sock) {
    return nullptr;
  }
  // A listening socket accepted a connection; the delegate must keep newSocket or it closes.
  virtual void socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>& sock,
                                         const ns::Ref<DispatchSocket>& newSocket) {}
  virtual void socket_didConnectToHost_port(const ns::Ref<DispatchSocket>& sock, const std::string& host,
                                            std::uint16_t port) {}

  virtual void socket_didReadData_withTag(const ns::Ref<DispatchSocket>& sock, const ns::Data& data,
                                          long tag) {}
  virtual void socket_didReadPartialDataOfLength_tag(const ns::Ref<DispatchSocket>& sock,
                                                     std::uint64_t partialLength, long tag) {}
  // The current read timed out after `elapsed` seconds in all: answer an extension in seconds,
  // or 0 (the default) to end the read and close the socket with a read time-out error.
  virtual double socket_shouldTimeoutReadWithTag_elapsed_bytesDone(const ns::Ref<DispatchSocket>& sock,
                                                                   long tag, double elapsed,
                                                                   std::uint64_t length) {
    return 0;
  }

  virtual void socket_didWriteDataWithTag(const ns::Ref<DispatchSocket>& sock, long tag) {}
  virtual void socket_didWritePartialDataOfLength_tag(const ns::Ref<DispatchSocket>& sock,
                                                      std::uint64_t partialLength, long tag) {}
  // As for reads: 0 (the default) closes the socket with a write time-out error.
  virtual double socket_shouldTimeoutWriteWithTag_elapsed_bytesDone(const ns::Ref<DispatchSocket>& sock,
                                                                    long tag, double elapsed,
                                                                    std::uint64_t length) {
    return 0;
  }

  // The peer closed its sending side while the socket stays open for writing (half-duplex).
  virtual void socketDidCloseReadStream(const ns::Ref<DispatchSocket>& sock) {}
  // A started socket closed. `sock` is null when the socket closed because it was being
  // destroyed; `err` is empty when the owner asked for the close.
  virtual void socketDidDisconnect_withError(const ns::Ref<DispatchSocket>& sock,
                                             const std::optional<ns::Error>& err) {}
  virtual void socketDidSecure(const ns::Ref<DispatchSocket>& sock) {}
  // Manual trust (client side): the server's certificate chain has arrived. Evaluate `trust` and
  // call `completionHandler` once with the verdict, from any thread, now or later; YES goes on
  // with the handshake, NO closes the socket. An implementation answers true. The default answers
  // false, "not implemented", and the socket closes as it does for a delegate without it.
  virtual bool socket_didReceiveTrust_completionHandler(
      const ns::Ref<DispatchSocket>& sock, const ns::Ref<sec::Trust>& trust,
      std::function<void(bool shouldTrustPeer)> completionHandler) {
    return false;
  }
};
