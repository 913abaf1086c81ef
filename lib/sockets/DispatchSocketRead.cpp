// DispatchSocket: read requests, the read step and the end of the read stream.
#include "lib/sockets/DispatchSocketInternal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "lib/sockets/DispatchReadPacket.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"

using namespace socket_internal;

// ---------------------------------------------------------------------------------------------
// Reading

void DispatchSocket::suspendReadSource() {
  assertOnSocketQueue();
  if (!(flags_ & flagReadSourceSuspended) && sources_->readSource) {
    sources_->readSource->suspend();
    flags_ |= flagReadSourceSuspended;
  }
}

void DispatchSocket::resumeReadSource() {
  assertOnSocketQueue();
  if ((flags_ & flagReadSourceSuspended) && sources_->readSource) {
    sources_->readSource->resume();
    flags_ &= ~flagReadSourceSuspended;
  }
}

void DispatchSocket::readDataWithTimeout_tag(double timeout, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataWithTimeout_buffer_bufferOffset_tag(double timeout,
                                                                 ns::Ref<ns::MutableData> buffer,
                                                                 std::size_t offset, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataWithTimeout_buffer_bufferOffset_maxLength_tag(double timeout,
                                                                           ns::Ref<ns::MutableData> buffer,
                                                                           std::size_t offset,
                                                                           std::size_t length, long tag) {
  if (buffer && offset > buffer->length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag));
}

void DispatchSocket::readDataToLength_withTimeout_tag(std::size_t length, double timeout, long tag) {
  readDataToLength_withTimeout_buffer_bufferOffset_tag(length, timeout, nullptr, 0, tag);
}

void DispatchSocket::readDataToLength_withTimeout_buffer_bufferOffset_tag(std::size_t length, double timeout,
                                                                          ns::Ref<ns::MutableData> buffer,
                                                                          std::size_t offset, long tag) {
  if (length == 0) return;
  if (buffer && offset > buffer->length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag));
}

void DispatchSocket::readDataToData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataToData_withTimeout_buffer_bufferOffset_tag(const ns::Data& data, double timeout,
                                                                        ns::Ref<ns::MutableData> buffer,
                                                                        std::size_t offset, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, std::move(buffer), offset, 0,
                                                               tag);
}

void DispatchSocket::readDataToData_withTimeout_maxLength_tag(const ns::Data& data, double timeout,
                                                              std::size_t length, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, length, tag);
}

void DispatchSocket::readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(
    const ns::Data& data, double timeout, ns::Ref<ns::MutableData> buffer, std::size_t offset,
    std::size_t length, long tag) {
  if (data.length() == 0) return;
  if (buffer && offset > buffer->length()) return;
  if (length > 0 && length < data.length()) return;
  queueRead(ns::make<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0, data, tag));
}

void DispatchSocket::queueRead(ns::Ref<DispatchReadPacket> packet) {
  // runAsync holds the socket until the block has run.
  runAsync([this, packet = std::move(packet)] {
    if ((flags_ & flagStarted) && !(flags_ & flagForbidReadsWrites)) {
      readAskedWhileIdle_ = !currentRead_ && readQueue_.empty();
      readQueue_.push_back(packet);
      maybeDequeueRead();
      readAskedWhileIdle_ = false;
      maybeBoundHandshakeByReadTimeout();
    }
  });
}

float DispatchSocket::progressOfReadReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                                 std::uint64_t* totalPtr) {
  return query([&] {
    const DispatchReadPacket* packet = currentReadPacket();
    if (!packet) return reportProgress(false, 0, 0, 0, tagPtr, donePtr, totalPtr);
    return reportProgress(true, packet->tag, packet->bytesDone, packet->readLength, tagPtr, donePtr,
                          totalPtr);
  });
}

void DispatchSocket::maybeDequeueRead() {
  assertOnSocketQueue();
  if (currentRead_ || !(flags_ & flagConnected)) return;
  if (!readQueue_.empty()) {
    currentRead_ = readQueue_.front();
    readQueue_.pop_front();
    if (auto* packet = currentReadPacket()) {
      doReadData();
      // Most reads complete from bytes already there; only one that has to wait gets its timer.
      if (currentRead_.get() == packet && !sources_->readTimer) setupReadTimerWithTimeout(packet->timeout);
    } else {
      // The TLS start marker.
      flags_ |= flagStartingReadTLS;
      maybeBoundHandshakeByReadTimeout();
      maybeStartTLS();
    }
  } else if (flags_ & flagDisconnectAfterReads) {
    maybeClose();
  } else if (flags_ & flagSocketSecure) {
    // Decrypted bytes may wait inside the TLS layer, where the read source cannot see them.
    flushSSLBuffers();
    if (preBuffer_->availableBytes() == 0) resumeReadSource();
  }
}

bool DispatchSocket::readsWithoutCount() const {
  assertOnSocketQueue();
  // A read of a known length or up to a terminator asks for what it needs and learns from the
  // read itself whether more is there; a read of whatever is there sizes its buffer by the count.
  // TLS sizes its reads by the count too.
  const DispatchReadPacket* packet = currentReadPacket();
  return packet && (packet->isFixedLength() || packet->isTerminated()) && readsPlainStream() &&
         !(flags_ & flagReadsPaused);
}

// No TLS under the reads, now or about to be: the descriptor's bytes are the stream's.
bool DispatchSocket::readsPlainStream() const {
  return !sslContext_ &&
         !(flags_ & (flagQueuedTLS | flagStartingReadTLS | flagStartingWriteTLS | flagSocketSecure));
}

void DispatchSocket::readSourceFired(dispatch::Source& source) {
  assertOnSocketQueue();
  if (readsWithoutCount()) {
    // What the read wants (a line's limit, or the rest of a known length), within bounds.
    const DispatchReadPacket* packet = currentReadPacket();
    std::uint64_t wanted =
        packet->isFixedLength() ? packet->readLength - packet->bytesDone : packet->maxLength;
    socketFDBytesAvailable_ = std::clamp<std::uint64_t>(wanted, kPreBufferCapacity, kGuessedReadLimit);
    socketFDBytesGuessed_ = true;
    doReadData();
    return;
  }
  auto count = source.readableBytes();
  if (!count) return;  // readiness went away before this turn; the source watches again
  socketFDBytesAvailable_ = *count;
  socketFDBytesGuessed_ = false;
  if (socketFDBytesAvailable_ > 0) {
    doReadData();
  } else {
    doReadEOF();
  }
}

// Counts what waits on the descriptor; a count above the one kept replaces it, and is no guess.
// Answers whether anything waits.
bool DispatchSocket::countBytesWaiting() {
  int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  int waiting = 0;
  if (::ioctl(socketFD, FIONREAD, &waiting) != 0 || waiting <= 0) return false;
  if (static_cast<std::uint64_t>(waiting) > socketFDBytesAvailable_) {
    socketFDBytesAvailable_ = static_cast<std::uint64_t>(waiting);
    socketFDBytesGuessed_ = false;
  }
  return true;
}

// Whether a plain stream's bytes arrived while the last read was taken; their count is kept for
// the next read.
bool DispatchSocket::bytesWaitWithNoReadToTakeThem() {
  if (!readsPlainStream() || preBuffer_->availableBytes() > 0 || (flags_ & flagReadsPaused)) return false;
  return countBytesWaiting();
}

// Where one read step stands: shared by its two phases and the completion after them.
struct DispatchSocket::ReadStep {
  explicit ReadStep(DispatchReadPacket& packet) : packet(packet) {}
  DispatchReadPacket& packet;
  bool done = false;
  std::optional<ns::Error> error;
  std::size_t bytesRead = 0;  // for the current read, in this step
  bool socketEOF = false;
  bool waiting = false;
};

bool DispatchSocket::moveFromPreBuffer(ReadStep& step, std::size_t n) {
  DispatchReadPacket& packet = step.packet;
  if (!packet.ensureCapacityForAdditionalDataOfLength(n)) {
    step.error = otherError("Memory allocation failed");
    return false;
  }
  if (n > 0) std::memcpy(packet.writePosition(), preBuffer_->readBuffer(), n);
  preBuffer_->didRead(n);
  packet.bytesDone += n;
  step.bytesRead += n;
  return true;
}

void DispatchSocket::doReadData() {
  assertOnSocketQueue();
  // Keeps the packet alive through completion, which drops currentRead_.
  ns::Ref<ns::Object> currentRead = currentRead_;
  auto* packet = currentReadPacket();
  if (!currentRead || (flags_ & flagReadsPaused)) {
    flushSSLBuffers();
    // Nobody wants the bytes now: stop the source from firing endlessly until a read comes.
    if (socketFDBytesAvailable_ > 0) suspendReadSource();
    return;
  }

  const bool askedWhileIdle = std::exchange(readAskedWhileIdle_, false);
  if (askedWhileIdle && preBuffer_->availableBytes() == 0 && packet && !packet->isFixedLength() &&
      !packet->isTerminated() && readsPlainStream()) {
    // A read of whatever is there, asked for when no read was waiting: in a stream more has often
    // arrived since the last read took all that was counted, or since readiness fired while no
    // read was waiting, which one count finds without a round through readiness. (Reads queued
    // behind another start as soon as it ends, when little has arrived: they wait for readiness,
    // and take more at once.)
    countBytesWaiting();
  }
  const std::size_t estimatedBytesAvailable =
      socketFDBytesAvailable_ + (sslContext_ ? sslBytesBelowPreBuffer() : 0);
  const bool hasBytesAvailable = estimatedBytesAvailable > 0;
  if (!hasBytesAvailable && preBuffer_->availableBytes() == 0) {
    resumeReadSource();
    return;
  }
  if (flags_ & flagStartingReadTLS) {
    if (flags_ & flagStartingWriteTLS) {
      ssl_continueSSLHandshake();
    } else {
      // The write side has not yet reached the TLS marker.
      suspendReadSource();
    }
    return;
  }
  if (!packet) return;

  ReadStep step(*packet);
  // 1. Serve the read from the read-ahead buffer.
  if (preBuffer_->availableBytes() > 0) readFromPreBuffer(step);
  // 2. Then from the descriptor.
  step.socketEOF = (flags_ & flagSocketHasReadEOF) != 0;
  step.waiting = !step.done && !step.error && !step.socketEOF && !hasBytesAvailable;
  if (!step.done && !step.error && !step.socketEOF && hasBytesAvailable) {
    readFromSocket(step, estimatedBytesAvailable);
    // A read that got all it asked for by a guess may have left more behind.
    while (socketFDBytesGuessed_ && socketFDBytesAvailable_ > 0 && !step.done && !step.error &&
           !step.socketEOF && !step.waiting && !(flags_ & flagSocketSecure))
      readFromSocket(step, socketFDBytesAvailable_);
  }

  // A read of whatever is available is done once it got anything.
  if (!step.done && !step.error && !packet->isFixedLength() && !packet->isTerminated() &&
      step.bytesRead > 0) {
    step.done = true;
  }

  if (step.done) {
    completeCurrentRead();
    if (!step.error && (!step.socketEOF || preBuffer_->availableBytes() > 0)) {
      maybeDequeueRead();
      // The next read may have closed the socket; nothing below applies to a closed socket.
      if (!(flags_ & flagStarted)) return;
    }
  } else if (step.bytesRead > 0) {
    std::uint64_t partial = step.bytesRead;
    long tag = packet->tag;
    notifyDelegate([partial, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
      d.socket_didReadPartialDataOfLength_tag(s, partial, tag);
    });
  }

  if (step.error) {
    closeWithError(step.error);
  } else if (step.socketEOF) {
    doReadEOF();
  } else if (step.waiting) {
    if (!currentRead_ && bytesWaitWithNoReadToTakeThem()) {
      // Watching would only fire at once for bytes nobody wants yet, and stop watching again:
      // a wake-up of the readiness thread and a turn on this queue for every read of a stream.
      suspendReadSource();
    } else {
      resumeReadSource();
    }
  } else if (currentRead_ && (flags_ & flagSocketSecure) && sslBytesBelowPreBuffer() > 0) {
    // The rest is inside the TLS layer, where no source fires for it.
    // runAsync holds the socket until the block has run.
    runAsync([this] { doReadData(); });
  }
}

void DispatchSocket::readFromPreBuffer(ReadStep& step) {
  assertOnSocketQueue();
  DispatchReadPacket& packet = step.packet;
  std::size_t bytesToCopy = packet.isTerminated()
                                ? packet.readLengthForTermWithPreBuffer_found(*preBuffer_, &step.done)
                                : packet.readLengthForNonTermWithHint(preBuffer_->availableBytes());
  if (!moveFromPreBuffer(step, bytesToCopy)) return;
  if (packet.isFixedLength()) {
    step.done = packet.bytesDone == packet.readLength;
  } else if (packet.isTerminated()) {
    if (!step.done && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength)
      step.error = readMaxedOutError();
  } else {
    step.done = packet.maxLength > 0 && packet.bytesDone == packet.maxLength;
  }
}

void DispatchSocket::readFromSocket(ReadStep& step, std::size_t estimatedBytesAvailable) {
  assertOnSocketQueue();
  DispatchReadPacket& packet = step.packet;
  const bool secure = (flags_ & flagSocketSecure) != 0;
  bool readIntoPreBuffer = false;
  std::size_t bytesToRead =
      secure
          ? packet.optimalReadLengthWithDefault_shouldPreBuffer(
                estimatedBytesAvailable > kSSLReadDefault ? estimatedBytesAvailable + 16384 : kSSLReadDefault,
                &readIntoPreBuffer)
      : packet.isTerminated()
          ? packet.readLengthForTermWithHint_shouldPreBuffer(estimatedBytesAvailable, &readIntoPreBuffer)
          : packet.readLengthForNonTermWithHint(std::min<std::size_t>(
                estimatedBytesAvailable, packet.isFixedLength() ? SIZE_MAX : kAvailableReadLimit));
  if (bytesToRead == 0) {
    step.waiting = true;
    return;
  }
  std::uint8_t* target = nullptr;
  const bool direct = !secure && !readIntoPreBuffer && packet.canReadDirectly();
  if (direct) {
    target = packet.directStorageOfLength(bytesToRead);
  } else if (readIntoPreBuffer ? preBuffer_->ensureCapacityForWrite(bytesToRead)
                               : packet.ensureCapacityForAdditionalDataOfLength(bytesToRead)) {
    target = readIntoPreBuffer ? preBuffer_->writeBuffer() : packet.writePosition();
  }
  if (!target) {
    step.error = otherError("Memory allocation failed");
    return;
  }

  int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  // The TLS form reports would-block, end of stream and errors itself and answers the count.
  ssize_t result = secure ? static_cast<ssize_t>(sslReadIntoBuffer(target, bytesToRead, &step.waiting,
                                                                   &step.socketEOF, &step.error))
                          : ::read(socketFD, target, bytesToRead);
  if (secure && result == 0) return;
  if (result < 0) {
    if (wouldBlock(errno)) {
      step.waiting = true;
    } else if (socketFDBytesGuessed_ && !secure) {
      // Readable with nothing to read: counted first, this is the end of the stream (a reset
      // included), which the end-of-stream rules handle.
      step.socketEOF = true;
    } else {
      step.error = errnoErrorWithReason("Error in read() function");
    }
    socketFDBytesAvailable_ = 0;
    return;
  }
  if (result == 0) {
    step.socketEOF = true;
    socketFDBytesAvailable_ = 0;
    return;
  }

  std::size_t bytesRead = static_cast<std::size_t>(result);
  if (!secure) {
    // (The TLS layer's read callback keeps this count on a secure socket.)
    if (bytesRead < bytesToRead) {
      socketFDBytesAvailable_ = 0;
    } else if (!socketFDBytesGuessed_) {
      socketFDBytesAvailable_ -= std::min<std::uint64_t>(socketFDBytesAvailable_, bytesRead);
    }
    if (socketFDBytesAvailable_ == 0) step.waiting = true;
  }

  if (packet.isFixedLength()) {
    packet.bytesDone += bytesRead;
    step.bytesRead += bytesRead;
    step.done = packet.bytesDone == packet.readLength;
  } else if (packet.isTerminated()) {
    if (readIntoPreBuffer) {
      preBuffer_->didWrite(bytesRead);
      bool found = false;
      std::size_t bytesToCopy = packet.readLengthForTermWithPreBuffer_found(*preBuffer_, &found);
      if (moveFromPreBuffer(step, bytesToCopy)) step.done = found;
    } else {
      ssize_t overflow = packet.searchForTermAfterPreBuffering(result);
      if (overflow == 0) {
        packet.bytesDone += bytesRead;
        step.bytesRead += bytesRead;
        step.done = true;
      } else if (overflow > 0) {
        // Bytes after the terminator belong to the next read.
        std::size_t overflowLength = static_cast<std::size_t>(overflow);
        std::size_t underflowLength = bytesRead - overflowLength;
        if (preBuffer_->ensureCapacityForWrite(overflowLength)) {
          std::memcpy(preBuffer_->writeBuffer(), packet.writePosition() + underflowLength, overflowLength);
          preBuffer_->didWrite(overflowLength);
          packet.bytesDone += underflowLength;
          step.bytesRead += underflowLength;
          step.done = true;
        } else {
          step.error = otherError("Memory allocation failed");
        }
      } else {
        packet.bytesDone += bytesRead;
        step.bytesRead += bytesRead;
      }
    }
    if (!step.done && !step.error && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength) {
      step.error = readMaxedOutError();
    }
  } else if (readIntoPreBuffer) {
    // Only the TLS path reads a read of whatever is available into the read-ahead buffer.
    preBuffer_->didWrite(bytesRead);
    if (moveFromPreBuffer(step, bytesRead)) step.done = true;
  } else {
    if (direct) {
      packet.didReadDirectly(bytesRead);
    } else {
      packet.bytesDone += bytesRead;
    }
    step.bytesRead += bytesRead;
    step.done = true;
  }
}

void DispatchSocket::doReadEOF() {
  assertOnSocketQueue();
  flags_ |= flagSocketHasReadEOF;
  flushSSLBuffers();

  bool shouldDisconnect = false;
  std::optional<ns::Error> error;
  if ((flags_ & flagStartingReadTLS) || (flags_ & flagStartingWriteTLS)) {
    // The handshake can no longer happen.
    shouldDisconnect = true;
    error = sslError(errSSLClosedAbort);
  } else if (flags_ & flagReadStreamClosed) {
    shouldDisconnect = false;
  } else if (preBuffer_->availableBytes() > 0) {
    // Queued reads can still consume these.
    shouldDisconnect = false;
  } else if (config_ & configAllowHalfDuplex) {
    int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
    pollfd pfd{socketFD, POLLOUT, 0};
    ::poll(&pfd, 1, 0);
    if (pfd.revents & POLLOUT) {
      shouldDisconnect = false;
      flags_ |= flagReadStreamClosed;
      notifyDelegate(
          [](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) { d.socketDidCloseReadStream(s); });
    } else {
      shouldDisconnect = true;
    }
  } else {
    shouldDisconnect = true;
  }

  if (shouldDisconnect) {
    if (!error) {
      if (sslErrCode_ != 0 && sslErrCode_ != errSSLClosedGraceful) {
        error = sslError(sslErrCode_);
      } else {
        error = connectionClosedError();
      }
    }
    closeWithError(error);
  } else {
    suspendReadSource();
  }
}

void DispatchSocket::completeCurrentRead() {
  assertOnSocketQueue();
  auto* packet = currentReadPacket();
  ns::Data result = packet->takeResult();
  long tag = packet->tag;
  notifyDelegate([result, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
    d.socket_didReadData_withTag(s, result, tag);
  });
  endCurrentRead();
}

void DispatchSocket::endCurrentRead() {
  assertOnSocketQueue();
  Sources& s = *sources_;
  if (s.readTimer) {
    if (s.readTimerTimesReads && !s.idleReadTimer && (flags_ & flagStarted)) {
      // Disarmed (a firing already queued is dropped with it), and kept for the next read.
      s.readTimer->setTimer(dispatch::TimeForever, dispatch::TimeForever, 0);
      s.idleReadTimer = std::move(s.readTimer);
    } else {
      s.readTimer->cancel();
    }
    s.readTimer = nullptr;
  }
  s.readTimerTimesReads = false;
  currentRead_ = nullptr;
}

void DispatchSocket::setupReadTimerWithTimeout(double timeout) {
  assertOnSocketQueue();
  Sources& s = *sources_;
  if (s.idleReadTimer && timeout >= 0) {
    s.readTimer = std::move(s.idleReadTimer);
    s.readTimer->setTimer(dispatch::time(timeout), dispatch::TimeForever, 0);
  } else {
    s.readTimer = startTimeoutTimer(timeout, &DispatchSocket::doReadTimeout);
  }
  s.readTimerTimesReads = s.readTimer != nullptr;
}

void DispatchSocket::doReadTimeout() {
  assertOnSocketQueue();
  // The read step now only holds the source while the delegate decides.
  flags_ |= flagReadsPaused;
  auto packet = std::dynamic_pointer_cast<DispatchReadPacket>(currentRead_);
  if (!packet) return;
  askForTimeoutExtension(packet, &DispatchSocketDelegate::socket_shouldTimeoutReadWithTag_elapsed_bytesDone,
                         &DispatchSocket::doReadTimeoutWithExtension);
}

void DispatchSocket::doReadTimeoutWithExtension(double timeoutExtension, const DispatchReadPacket* packet) {
  assertOnSocketQueue();
  // The answer belongs to the read that timed out; it means nothing once that read is gone.
  if (!currentRead_ || currentRead_.get() != packet) return;
  auto* current = currentReadPacket();
  if (timeoutExtension > 0) {
    current->timeout += timeoutExtension;
    if (sources_->readTimer)
      sources_->readTimer->setTimer(dispatch::time(timeoutExtension), dispatch::TimeForever, 0);
    flags_ &= ~flagReadsPaused;
    doReadData();
  } else {
    closeWithError(readTimeoutError());
  }
}
