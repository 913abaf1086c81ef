#pragma once
// What a RunLoopSocket tells its delegate, synchronously on the socket's run-loop thread. Every
// message is optional: the default bodies do what "not implemented" does.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class RunLoopSocket;
namespace ns {
class RunLoop;
}

class RunLoopSocketDelegate {
 public:
  virtual ~RunLoopSocketDelegate() = default;

  // A listening socket made `newSocket` for an accepted connection. Keep a reference to it, or
  // it is closed as soon as this returns.
  virtual void onSocket_didAcceptNewSocket(const ns::Ref<RunLoopSocket>& sock,
                                           const ns::Ref<RunLoopSocket>& newSocket) {}
  // The run loop for the new socket; null means the current thread's.
  virtual ns::Ref<ns::RunLoop> onSocket_wantsRunLoopForNewSocket(const ns::Ref<RunLoopSocket>& sock,
                                                                 const ns::Ref<RunLoopSocket>& newSocket) {
    return nullptr;
  }
  // NO cancels the connect with error code 1.
  virtual bool onSocketWillConnect(const ns::Ref<RunLoopSocket>& sock) { return true; }
  virtual void onSocket_didConnectToHost_port(const ns::Ref<RunLoopSocket>& sock, const std::string& host,
                                              std::uint16_t port) {}
  virtual void onSocket_didReadData_withTag(const ns::Ref<RunLoopSocket>& sock, const ns::Data& data,
                                            long tag) {}
  virtual void onSocket_didReadPartialDataOfLength_tag(const ns::Ref<RunLoopSocket>& sock, std::size_t length,
                                                       long tag) {}
  // > 0 extends the read by that many seconds; anything else closes the socket.
  virtual double onSocket_shouldTimeoutReadWithTag_elapsed_bytesDone(const ns::Ref<RunLoopSocket>& sock,
                                                                     long tag, double elapsed,
                                                                     std::size_t bytesDone) {
    return 0;
  }
  virtual void onSocket_didWriteDataWithTag(const ns::Ref<RunLoopSocket>& sock, long tag) {}
  virtual void onSocket_didWritePartialDataOfLength_tag(const ns::Ref<RunLoopSocket>& sock,
                                                        std::size_t length, long tag) {}
  virtual double onSocket_shouldTimeoutWriteWithTag_elapsed_bytesDone(const ns::Ref<RunLoopSocket>& sock,
                                                                      long tag, double elapsed,
                                                                      std::size_t bytesDone) {
    return 0;
  }
  virtual void onSocketDidSecure(const ns::Ref<RunLoopSocket>& sock) {}
  // The socket is closing because of an error (none when the peer simply closed); unreadData
  // answers here only.
  virtual void onSocket_willDisconnectWithError(const ns::Ref<RunLoopSocket>& sock,
                                                const std::optional<ns::Error>& error) {}
  // Last message of a connection; the socket touches nothing afterwards, so the delegate may let
  // go of it here. `sock` is null when the socket is being destroyed.
  virtual void onSocketDidDisconnect(const ns::Ref<RunLoopSocket>& sock) {}
};
