// DispatchSocket: write requests and the write step.
#include "lib/sockets/DispatchSocketInternal.h"

#include <sys/socket.h>

#include "lib/sockets/DispatchWritePacket.h"

using namespace socket_internal;

// ---------------------------------------------------------------------------------------------
// Writing

void DispatchSocket::suspendWriteSource() {
  assertOnSocketQueue();
  if (!(flags_ & flagWriteSourceSuspended) && sources_->writeSource) {
    sources_->writeSource->suspend();
    flags_ |= flagWriteSourceSuspended;
  }
}

void DispatchSocket::resumeWriteSource() {
  assertOnSocketQueue();
  if ((flags_ & flagWriteSourceSuspended) && sources_->writeSource) {
    sources_->writeSource->resume();
    flags_ &= ~flagWriteSourceSuspended;
  }
}

void DispatchSocket::writeData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  if (data.length() == 0) return;
  auto packet = ns::make<DispatchWritePacket>(data, timeout, tag);
  // runAsync holds the socket until the block has run.
  runAsync([this, packet] {
    if ((flags_ & flagStarted) && !(flags_ & flagForbidReadsWrites)) {
      writeQueue_.push_back(packet);
      maybeDequeueWrite();
    }
  });
}

float DispatchSocket::progressOfWriteReturningTag_bytesDone_total(long* tagPtr, std::uint64_t* donePtr,
                                                                  std::uint64_t* totalPtr) {
  return query([&] {
    const DispatchWritePacket* packet = currentWritePacket();
    if (!packet) return reportProgress(false, 0, 0, 0, tagPtr, donePtr, totalPtr);
    return reportProgress(true, packet->tag, packet->bytesDone, packet->length(), tagPtr, donePtr, totalPtr);
  });
}

void DispatchSocket::maybeDequeueWrite() {
  assertOnSocketQueue();
  if (currentWrite_ || !(flags_ & flagConnected)) return;
  if (!writeQueue_.empty()) {
    currentWrite_ = writeQueue_.front();
    writeQueue_.pop_front();
    if (auto* packet = currentWritePacket()) {
      doWriteData();
      // Most writes go out at once; only one that has to wait gets its timer.
      if (currentWrite_.get() == packet && !sources_->writeTimer) setupWriteTimerWithTimeout(packet->timeout);
    } else {
      // The TLS start marker.
      flags_ |= flagStartingWriteTLS;
      maybeStartTLS();
    }
  } else if (flags_ & flagDisconnectAfterWrites) {
    maybeClose();
  }
}

void DispatchSocket::doWriteData() {
  assertOnSocketQueue();
  ns::Ref<ns::Object> currentWrite = currentWrite_;
  if (!currentWrite || (flags_ & flagWritesPaused)) {
    // Nothing to write: stop the source from firing endlessly.
    if (flags_ & flagSocketCanAcceptBytes) suspendWriteSource();
    return;
  }
  if (!(flags_ & flagSocketCanAcceptBytes)) {
    resumeWriteSource();
    return;
  }
  if (flags_ & flagStartingWriteTLS) {
    if (flags_ & flagStartingReadTLS) {
      ssl_continueSSLHandshake();
    } else {
      suspendWriteSource();
    }
    return;
  }
  auto* packet = currentWritePacket();
  if (!packet) return;

  bool waiting = false;
  std::optional<ns::Error> error;
  std::size_t bytesWritten = 0;

  int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  // The TLS form reports would-block and errors itself and answers the count written; secured
  // packets hold plain bytes only (flattened when queued).
  ssize_t result = (flags_ & flagSocketSecure)
                       ? static_cast<ssize_t>(sslWriteCurrentPacket(*packet, &waiting, &error))
                       : sendFromPacket(*packet, socketFD);
  if (result < 0) {
    if (wouldBlock(errno)) {
      waiting = true;
    } else {
      error = errnoErrorWithReason("Error in write() function");
    }
  } else {
    bytesWritten = static_cast<std::size_t>(result);
  }

  // Before any dequeue, which may re-enter this step.
  if (waiting) {
    flags_ &= ~flagSocketCanAcceptBytes;
    resumeWriteSource();
  }

  bool done = false;
  if (bytesWritten > 0) {
    packet->bytesDone += bytesWritten;
    done = packet->bytesDone == packet->length();
  }

  if (done) {
    completeCurrentWrite();
    if (!error) {
      // The next write starts in a later block.
      // runAsync holds the socket until the block has run.
      runAsync([this] { maybeDequeueWrite(); });
    }
  } else {
    if (!waiting && !error) {
      // The descriptor took only part: wait for room.
      flags_ &= ~flagSocketCanAcceptBytes;
      resumeWriteSource();
    }
    if (bytesWritten > 0) {
      std::uint64_t partial = bytesWritten;
      long tag = packet->tag;
      notifyDelegate([partial, tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
        d.socket_didWritePartialDataOfLength_tag(s, partial, tag);
      });
    }
  }

  if (error) closeWithError(error);
}

void DispatchSocket::completeCurrentWrite() {
  assertOnSocketQueue();
  long tag = currentWritePacket()->tag;
  notifyDelegate([tag](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) {
    d.socket_didWriteDataWithTag(s, tag);
  });
  endCurrentWrite();
}

void DispatchSocket::endCurrentWrite() {
  assertOnSocketQueue();
  if (sources_->writeTimer) {
    sources_->writeTimer->cancel();
    sources_->writeTimer = nullptr;
  }
  currentWrite_ = nullptr;
}

void DispatchSocket::setupWriteTimerWithTimeout(double timeout) {
  assertOnSocketQueue();
  sources_->writeTimer = startTimeoutTimer(timeout, &DispatchSocket::doWriteTimeout);
}

void DispatchSocket::doWriteTimeout() {
  assertOnSocketQueue();
  flags_ |= flagWritesPaused;
  auto packet = std::dynamic_pointer_cast<DispatchWritePacket>(currentWrite_);
  if (!packet) return;
  askForTimeoutExtension(packet, &DispatchSocketDelegate::socket_shouldTimeoutWriteWithTag_elapsed_bytesDone,
                         &DispatchSocket::doWriteTimeoutWithExtension);
}

void DispatchSocket::doWriteTimeoutWithExtension(double timeoutExtension, const DispatchWritePacket* packet) {
  assertOnSocketQueue();
  if (!currentWrite_ || currentWrite_.get() != packet) return;
  auto* current = currentWritePacket();
  if (timeoutExtension > 0) {
    current->timeout += timeoutExtension;
    if (sources_->writeTimer) {
      sources_->writeTimer->setTimer(dispatch::time(timeoutExtension), dispatch::TimeForever, 0);
    }
    flags_ &= ~flagWritesPaused;
    doWriteData();
  } else {
    closeWithError(writeTimeoutError());
  }
}
