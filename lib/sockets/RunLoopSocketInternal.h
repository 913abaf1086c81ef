#pragma once
// Shared by the files that make up RunLoopSocket (state and run loop, accepting, connecting,
// reading, writing, TLS, disconnecting): the bits of its flags, the error and address helpers,
// its call-back anchor and what the read and the write side share. Not for users of the socket.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "lib/sockets/RunLoopSocket.h"
#include "platform/net/Socket.h"
#include "platform/runloop/Timer.h"

namespace runloop_socket_internal {

enum : std::uint16_t {
  kEnablePreBuffering = 0x0001,
  kDidStartConnect = 0x0002,
  kDidCompleteOpenForRead = 0x0004,
  kDidCompleteOpenForWrite = 0x0008,
  kStartingReadTLS = 0x0010,
  kStartingWriteTLS = 0x0020,
  kForbidReadsWrites = 0x0040,
  kDisconnectAfterReads = 0x0080,
  kDisconnectAfterWrites = 0x0100,
  kClosingWithError = 0x0200,
  kDequeueReadScheduled = 0x0400,
  kDequeueWriteScheduled = 0x0800,
  kSocketCanAcceptBytes = 0x1000,
  kSocketHasBytesAvailable = 0x2000,
};

inline constexpr std::size_t kWriteChunk = 4096;
inline constexpr std::size_t kUnreadChunk = 256;

// The error of RunLoopSocketErrorDomain for `code`; an unknown code is the general socket error.
ns::Error socketError(long code);
// The family of a socket address image: read from sa_family, which is where Linux keeps it.
int familyOf(const ns::Data& address);
// The host text and the port of an IPv4 or IPv6 socket address image.
std::optional<std::string> hostOf(const ns::Data& address);
std::uint16_t portOf(const ns::Data& address);
// getpeername() (or getsockname()) of a descriptor; empty when it fails.
ns::Data nativeAddress(int fd, bool peer);

}  // namespace runloop_socket_internal

// The call-back context and perform target of one socket. It holds a plain pointer back: the
// socket owns it and it dies with the socket.
class RunLoopSocket::Anchor : public ns::Object {
 public:
  explicit Anchor(RunLoopSocket* owner) : owner(owner) {}
  RunLoopSocket* owner;

  // The socket an anchor stands for, while both still live.
  static ns::Ref<RunLoopSocket> ownerOf(const ns::Ref<ns::Object>& anchor) {
    if (!anchor) return nullptr;
    return std::static_pointer_cast<RunLoopSocket>(
        static_cast<Anchor*>(anchor.get())->owner->weak_from_this().lock());
  }
  // The call-back of the listening and the connecting sockets: their events go to the owner; a
  // connection accepted after the owner has gone is closed at once.
  static void socketCallout(const ns::Ref<cf::Socket>& s, const cf::Socket::Event& event,
                            const ns::Ref<ns::Object>& info);
};

// ---- what reading and writing share ----

inline void RunLoopSocket::endCurrentPacket(ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer) {
  if (timer) timer->invalidate();
  timer = nullptr;
  current = nullptr;
}

template <class Packet>
void RunLoopSocket::doPacketTimeout(const ns::Ref<ns::Object>& current, ns::Ref<ns::Timer>& timer,
                                    ShouldTimeout shouldTimeout, void (RunLoopSocket::*again)(),
                                    long timeoutError) {
  auto packet = std::dynamic_pointer_cast<Packet>(current);
  if (!packet) return;
  auto me = self<RunLoopSocket>();
  double extra =
      delegate_ ? ((*delegate_).*shouldTimeout)(me, packet->tag, packet->timeout, packet->bytesDone) : 0;
  if (extra > 0 && current == packet) {
    packet->timeout += extra;
    if (timer) timer->invalidate();
    timer = makeTimer(extra, again);
    return;
  }
  closeWithError(runloop_socket_internal::socketError(timeoutError));
}

template <class Packet>
float RunLoopSocket::progressOfPacket(const Packet* packet, std::uint64_t length, long* tag,
                                      std::uint64_t* done, std::uint64_t* total) {
  if (!packet) {
    if (tag) *tag = 0;
    if (done) *done = 0;
    if (total) *total = 0;
    return std::nanf("");
  }
  if (tag) *tag = packet->tag;
  if (done) *done = packet->bytesDone;
  if (total) *total = length;
  // An empty packet has nothing left to do.
  return length > 0 ? static_cast<float>(packet->bytesDone) / static_cast<float>(length) : 1.0f;
}
