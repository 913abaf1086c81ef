#pragma once
// A native socket driven by run loops: the descriptor is watched by descriptor sources of the run
// loops it is scheduled on, and readiness comes back as call-backs on the run loop's thread.
//
//   auto s = cf::Socket::createWithFamily(AF_INET, SOCK_DGRAM, IPPROTO_UDP,
//       cf::Socket::ReadCallBack | cf::Socket::WriteCallBack, callout, owner);
//   s->setSocketFlags(cf::Socket::CloseOnInvalidate);      // read fires once per enable
//   s->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::DefaultRunLoopMode);
//   // in the callout: read the datagram, then s->enableCallBacks(cf::Socket::ReadCallBack);
//
// Read and accept call-backs are re-enabled after each event only with their auto-re-enable
// flag; write and connect call-backs fire once per enable. The call-back context holds its owner
// weakly: once the owner is gone no call-back runs. The object is safe to hand between threads
// (its state is behind a lock); call-backs run without the lock held.
#include <sys/socket.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/runloop/RunLoop.h"

namespace cf {

class Socket : public ns::Object {
 public:
  // Call-back types (bit values).
  enum CallBackType : unsigned {
    NoCallBack = 0,
    ReadCallBack = 1,
    AcceptCallBack = 2,
    ConnectCallBack = 4,
    WriteCallBack = 8,
  };
  // Socket flags.
  enum : unsigned {
    AutomaticallyReenableReadCallBack = 1,
    AutomaticallyReenableAcceptCallBack = 2,
    CloseOnInvalidate = 128,
  };
  // Results of setAddress and connectToAddress.
  enum Result : int { Success = 0, Error = -1, Timeout = -2 };

  // What one call-back carries: the accepted descriptor and the peer's address (accept), or the
  // connect's outcome (0, or an errno value).
  struct Event {
    CallBackType type = NoCallBack;
    ns::Data address;
    int nativeHandle = -1;
    int errorNumber = 0;
  };
  // `info` is the owner named at creation, locked for the call.
  using CallOut =
      std::function<void(const ns::Ref<Socket>& socket, const Event& event, const ns::Ref<ns::Object>& info)>;

  // A new non-blocking, close-on-exec socket; null when the system refuses it. Flags start as
  // auto-re-enable read and accept, and close-on-invalidate.
  static ns::Ref<Socket> createWithFamily(int family, int type, int protocol, unsigned callBackTypes,
                                          CallOut callout, ns::Weak<ns::Object> info);
  // Wraps a descriptor someone else made. Its flags start as auto-re-enable read and accept
  // only: invalidating the wrapper leaves the descriptor open unless CloseOnInvalidate is set.
  static ns::Ref<Socket> createWithNative(int fd, unsigned callBackTypes, CallOut callout,
                                          ns::Weak<ns::Object> info);

  Socket(int fd, unsigned callBackTypes, unsigned flags, CallOut callout, ns::Weak<ns::Object> info);
  ~Socket() override;

  unsigned socketFlags() const;
  void setSocketFlags(unsigned flags);
  // Turns call-back types on or off (only types given at creation take effect).
  void enableCallBacks(unsigned types);
  void disableCallBacks(unsigned types);

  // Watches the descriptor on `loop` in `mode` (once per loop and mode).
  void scheduleInRunLoop_forMode(const ns::Ref<ns::RunLoop>& loop, const std::string& mode);
  void removeFromRunLoop_forMode(const ns::Ref<ns::RunLoop>& loop, const std::string& mode);

  // Binds to a sockaddr image; a stream socket then listens with a backlog of 256.
  Result setAddress(const ns::Data& address);
  // Negative time-out: starts a non-blocking connect whose outcome comes once through the
  // connect call-back (without that call-back type an immediate failure answers Error). Zero:
  // connects without waiting. Positive: waits up to that many seconds.
  Result connectToAddress(const ns::Data& address, double timeout);

  // The descriptor, or -1 once invalid.
  int getNative() const;
  // getsockname / getpeername as sockaddr images; empty on failure.
  ns::Data copyAddress() const;
  ns::Data copyPeerAddress() const;
  // Stops every call-back and leaves every run loop; closes the descriptor with CloseOnInvalidate.
  void invalidate();
  bool isValid() const;

 private:
  struct Registration {
    ns::Weak<ns::RunLoop> loop;
    ns::RunLoop::DescriptorId id = 0;
    std::vector<std::string> modes;
  };
  short pollEventsLocked() const;
  void updateEventsLocked();
  void handleReady(short revents);
  void deliver(const Event& event);

  mutable std::mutex mutex_;
  int fd_;
  unsigned callBackTypes_;
  unsigned enabled_;
  unsigned flags_;
  bool valid_ = true;
  bool connectPending_ = false;
  int pendingConnectError_ = 0;
  CallOut callout_;
  ns::Weak<ns::Object> info_;
  bool hasInfo_;
  std::vector<Registration> registrations_;
};

}  // namespace cf
