#pragma once
// Shared by the files that make up DispatchSocket (state and configuration, accepting, reading,
// writing, disconnecting, connecting, TLS): the bits of its flags and configuration, the record of its
// dispatch sources and the helpers more than one of them uses. Not for users of the socket.
#include <cerrno>
#include <limits>

#include "lib/sockets/DispatchSocket.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace socket_internal {

// Bits of flags_.
inline constexpr std::uint32_t flagStarted = 1 << 0;
inline constexpr std::uint32_t flagConnected = 1 << 1;
inline constexpr std::uint32_t flagForbidReadsWrites = 1 << 2;
inline constexpr std::uint32_t flagReadsPaused = 1 << 3;
inline constexpr std::uint32_t flagWritesPaused = 1 << 4;
inline constexpr std::uint32_t flagDisconnectAfterReads = 1 << 5;
inline constexpr std::uint32_t flagDisconnectAfterWrites = 1 << 6;
inline constexpr std::uint32_t flagSocketCanAcceptBytes = 1 << 7;
inline constexpr std::uint32_t flagReadSourceSuspended = 1 << 8;
inline constexpr std::uint32_t flagWriteSourceSuspended = 1 << 9;
inline constexpr std::uint32_t flagQueuedTLS = 1 << 10;
inline constexpr std::uint32_t flagStartingReadTLS = 1 << 11;
inline constexpr std::uint32_t flagStartingWriteTLS = 1 << 12;
inline constexpr std::uint32_t flagSocketSecure = 1 << 13;
inline constexpr std::uint32_t flagSocketHasReadEOF = 1 << 14;
inline constexpr std::uint32_t flagReadStreamClosed = 1 << 15;
inline constexpr std::uint32_t flagDeallocating = 1 << 16;
// The handshake stopped for the delegate's trust decision: nothing may continue it but the answer.
inline constexpr std::uint32_t flagAwaitingTrust = 1 << 17;

// Bits of config_.
inline constexpr std::uint16_t configIPv4Disabled = 1 << 0;
inline constexpr std::uint16_t configIPv6Disabled = 1 << 1;
inline constexpr std::uint16_t configPreferIPv6 = 1 << 2;
inline constexpr std::uint16_t configAllowHalfDuplex = 1 << 3;

// TLS statuses that end a stream.
inline constexpr int errSSLClosedGraceful = -9805;
inline constexpr int errSSLClosedAbort = -9806;

inline constexpr std::size_t kPreBufferCapacity = 4096;
// A read that takes no count first asks for at most this much at a time.
inline constexpr std::size_t kGuessedReadLimit = 1 << 20;
// A read of whatever is there takes at most this much at a time, into a buffer of that size
// rather than one as large as all that waits.
inline constexpr std::size_t kAvailableReadLimit = 1024 * 1024;
// A secure read asks the TLS layer for this much unless more is known to be there.
inline constexpr std::size_t kSSLReadDefault = 32768;
inline constexpr int kListenBacklog = 1024;

inline bool wouldBlock(int err) {
  return err == EWOULDBLOCK || err == EAGAIN;
}

// Fills the progress out-parameters (zeros when no request is current) and answers the
// fraction done: NaN without a request, 1 for a request of unknown total.
inline float reportProgress(bool current, long tag, std::uint64_t done, std::uint64_t total, long* tagPtr,
                            std::uint64_t* donePtr, std::uint64_t* totalPtr) {
  if (tagPtr) *tagPtr = tag;
  if (donePtr) *donePtr = done;
  if (totalPtr) *totalPtr = total;
  if (!current) return std::numeric_limits<float>::quiet_NaN();
  return total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
}

}  // namespace socket_internal

struct DispatchSocket::Sources {
  ns::Ref<dispatch::Source> accept4Source;
  ns::Ref<dispatch::Source> accept6Source;
  ns::Ref<dispatch::Source> connectTimer;
  // One-shot: the descriptor of an in-progress connect became writable.
  ns::Ref<dispatch::Source> connectSource;
  ns::Ref<dispatch::Source> readSource;
  ns::Ref<dispatch::Source> writeSource;
  ns::Ref<dispatch::Source> readTimer;
  // readTimer times a read (not the handshake), so that it can wait disarmed for the next read.
  bool readTimerTimesReads = false;
  // A read's timer, disarmed, kept for the next read that has to wait.
  ns::Ref<dispatch::Source> idleReadTimer;
  ns::Ref<dispatch::Source> writeTimer;
};

template <class Packet>
void DispatchSocket::askForTimeoutExtension(const ns::Ref<Packet>& packet, TimeoutQuestion question,
                                            void (DispatchSocket::*withExtension)(double, const Packet*)) {
  assertOnSocketQueue();
  auto delegate = delegate_.lock();
  if (!delegateQueue_ || !delegate) {
    (this->*withExtension)(0, packet.get());
    return;
  }
  auto me = self<DispatchSocket>();
  long tag = packet->tag;
  double elapsed = packet->timeout;
  std::uint64_t bytesDone = packet->bytesDone;
  dispatch::async(delegateQueue_, [me, delegate, packet, tag, elapsed, bytesDone, question, withExtension] {
    double timeoutExtension = ((*delegate).*question)(me, tag, elapsed, bytesDone);
    dispatch::async(me->socketQueue_, [me, packet, timeoutExtension, withExtension] {
      ((*me).*withExtension)(timeoutExtension, packet.get());
    });
  });
}
