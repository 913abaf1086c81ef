// RunLoopSocket: write requests and the write step.
#include <algorithm>

#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/RunLoopSocketPackets.h"

using namespace runloop_socket_internal;

void RunLoopSocket::writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  checkThread();
  if (data.length() == 0 || (flags_ & kForbidReadsWrites)) return;
  writeQueue_.push_back(ns::make<RunLoopWritePacket>(data, timeout, tag));
  scheduleDequeue(false);
}

void RunLoopSocket::maybeDequeueWrite() {
  maybeDequeue(false);
}

bool RunLoopSocket::canAcceptBytes() {
  return (flags_ & kSocketCanAcceptBytes) || (writeStream_ && writeStream_->canAcceptBytes());
}

void RunLoopSocket::doSendBytes() {
  auto packet = std::dynamic_pointer_cast<RunLoopWritePacket>(currentWrite_);
  if (!packet || !writeStream_) return;
  auto keep = self<RunLoopSocket>();
  std::uint64_t total = 0;
  bool finished = false;
  while (!finished && canAcceptBytes()) {
    std::size_t remaining = packet->buffer.length() - packet->bytesDone;
    std::size_t chunk = std::min(remaining, kWriteChunk);
    long n = writeStream_->write_maxLength(packet->buffer.bytes() + packet->bytesDone, chunk);
    flags_ &= ~kSocketCanAcceptBytes;
    if (n < 0) {
      closeWithError(errorFromCFStreamError(writeStream_->getError()));
      return;
    }
    packet->bytesDone += static_cast<std::uint64_t>(n);
    total += static_cast<std::uint64_t>(n);
    finished = packet->bytesDone == packet->buffer.length();
    if (n == 0) break;
  }
  if (finished) {
    completeCurrentWrite();
    scheduleDequeue(false);
  } else if (total > 0 && delegate_) {
    delegate_->onSocket_didWritePartialDataOfLength_tag(keep, total, packet->tag);
  }
}

void RunLoopSocket::completeCurrentWrite() {
  auto packet = std::static_pointer_cast<RunLoopWritePacket>(currentWrite_);
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didWriteDataWithTag(me, packet->tag);
  if (currentWrite_) endCurrentWrite();
}

void RunLoopSocket::endCurrentWrite() {
  endCurrentPacket(currentWrite_, writeTimer_);
}

void RunLoopSocket::doWriteTimeout() {
  doPacketTimeout<RunLoopWritePacket>(
      currentWrite_, writeTimer_,
      &RunLoopSocketDelegate::onSocket_shouldTimeoutWriteWithTag_elapsed_bytesDone,
      &RunLoopSocket::doWriteTimeout, RunLoopSocketWriteTimeoutError);
}

float RunLoopSocket::progressOfWriteReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                                 std::uint64_t* total) const {
  auto packet = std::dynamic_pointer_cast<RunLoopWritePacket>(currentWrite_);
  return progressOfPacket(packet.get(), packet ? packet->buffer.length() : 0, tag, done, total);
}
