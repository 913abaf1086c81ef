#pragma once
// What a RunLoopUdpSocket tells its delegate, on the socket's run-loop thread. Every message is
// optional: the default bodies do what "not implemented" does.
#include <cstdint>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class RunLoopUdpSocket;

class RunLoopUdpSocketDelegate {
 public:
  virtual ~RunLoopUdpSocketDelegate() = default;

  virtual void onUdpSocket_didSendDataWithTag(const ns::Ref<RunLoopUdpSocket>& sock, long tag) {}
  // A send failed or timed out; the socket stays open and serves the next send.
  virtual void onUdpSocket_didNotSendDataWithTag_dueToError(const ns::Ref<RunLoopUdpSocket>& sock, long tag,
                                                            const ns::Error& error) {}
  // A datagram arrived for the current receive. YES (the default) completes the receive; NO
  // drops the datagram and keeps the receive waiting for the next one under the same tag.
  virtual bool onUdpSocket_didReceiveData_withTag_fromHost_port(const ns::Ref<RunLoopUdpSocket>& sock,
                                                                const ns::Data& data, long tag,
                                                                const std::string& host, std::uint16_t port) {
    return true;
  }
  virtual void onUdpSocket_didNotReceiveDataWithTag_dueToError(const ns::Ref<RunLoopUdpSocket>& sock,
                                                               long tag, const ns::Error& error) {}
  // Sent on a later run-loop pass after close, never from inside it, and not at all once the
  // socket is gone.
  virtual void onUdpSocketDidClose(const ns::Ref<RunLoopUdpSocket>& sock) {}
};
