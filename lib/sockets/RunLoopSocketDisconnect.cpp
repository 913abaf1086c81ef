// RunLoopSocket: disconnecting, at once or after the queued reads and writes, and what a
// disconnect keeps of the bytes received but not delivered.
#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/RunLoopSocketPackets.h"
#include "platform/net/Socket.h"
#include "platform/runloop/RunLoop.h"

using namespace runloop_socket_internal;

void RunLoopSocket::disconnect() {
  checkThread();
  close();
}

void RunLoopSocket::disconnectAfterReading() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterReads;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterWriting() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterReadingAndWriting() {
  checkThread();
  flags_ |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::maybeScheduleDisconnect() {
  bool should = false;
  if (flags_ & kDisconnectAfterReads) {
    if (readQueue_.empty() && !currentRead_) {
      should = !(flags_ & kDisconnectAfterWrites) || (writeQueue_.empty() && !currentWrite_);
    }
  } else if (flags_ & kDisconnectAfterWrites) {
    should = writeQueue_.empty() && !currentWrite_;
  }
  if (should) queuePerform("disconnect", &RunLoopSocket::disconnect);
}

void RunLoopSocket::closeWithError(const std::optional<ns::Error>& error) {
  flags_ |= kClosingWithError;
  if (flags_ & kDidStartConnect) {
    recoverUnreadData();
    auto me = self<RunLoopSocket>();
    if (delegate_) delegate_->onSocket_willDisconnectWithError(me, error);
  }
  close();
}

void RunLoopSocket::recoverUnreadData() {
  if (auto read = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_); read && read->bytesDone > 0) {
    partialReadBuffer_.replaceBytesInRange_withBytes_length({0, 0}, read->buffer->bytes() + read->startOffset,
                                                            read->bytesDone);
  }
  emptyQueues();
}

void RunLoopSocket::emptyQueues() {
  if (currentRead_) endCurrentRead();
  if (currentWrite_) endCurrentWrite();
  readQueue_.clear();
  writeQueue_.clear();
  if (runLoop_) {
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueRead", anchor_.get(), nullptr);
    runLoop_->cancelPerformSelector_target_argument("maybeDequeueWrite", anchor_.get(), nullptr);
  }
  flags_ &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
}

std::optional<ns::Data> RunLoopSocket::unreadData() {
  if (!(flags_ & kClosingWithError) || !readStream_) return std::nullopt;
  std::size_t held = partialReadBuffer_.length();
  while (readStream_->hasBytesAvailable()) {
    if (partialReadBuffer_.length() == held) partialReadBuffer_.increaseLengthBy(kUnreadChunk);
    long n = readStream_->read_maxLength(partialReadBuffer_.mutableBytes() + held,
                                         partialReadBuffer_.length() - held);
    if (n <= 0) break;
    held += static_cast<std::size_t>(n);
  }
  partialReadBuffer_.setLength(held);
  return partialReadBuffer_.copy();
}

void RunLoopSocket::close() {
  closeInternal(false);
}

void RunLoopSocket::closeInternal(bool dying) {
  emptyQueues();
  partialReadBuffer_.setLength(0);
  if (runLoop_) runLoop_->cancelPerformSelector_target_argument("disconnect", anchor_.get(), nullptr);
  endConnectTimeout();
  if (readStream_) {
    runLoopUnscheduleStreams(runLoopModes_);
    readStream_->setClient(0, nullptr);
    readStream_->close();
    readStream_ = nullptr;
  }
  if (writeStream_) {
    if (runLoop_)
      for (auto& mode : runLoopModes_) writeStream_->removeFromRunLoop_forMode(runLoop_, mode);
    writeStream_->setClient(0, nullptr);
    writeStream_->close();
    writeStream_ = nullptr;
  }
  if (socket4_) {
    if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
    socket4_->invalidate();
    socket4_ = nullptr;
  }
  if (socket6_) {
    if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
    socket6_->invalidate();
    socket6_ = nullptr;
  }
  nativeSocket4_ = nativeSocket6_ = 0;
  source4_ = source6_ = false;
  runLoop_ = nullptr;
  bool notify = flags_ & kDidStartConnect;
  flags_ &= kEnablePreBuffering;
  if (!notify || !delegate_) return;
  // The delegate may let go of the socket in the message: hold both until it returns, and touch
  // nothing of the socket afterwards.
  auto delegate = delegate_;
  if (dying) {
    delegate->onSocketDidDisconnect(nullptr);
    return;
  }
  auto me = self<RunLoopSocket>();
  delegate->onSocketDidDisconnect(me);
}
