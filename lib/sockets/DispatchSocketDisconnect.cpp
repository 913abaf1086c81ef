// DispatchSocket: disconnecting, at once or after the queued reads and writes.
#include "lib/sockets/DispatchSocketInternal.h"

#include <sys/socket.h>
#include <unistd.h>

#include "lib/sockets/DispatchSocketPreBuffer.h"
#include "platform/security/SSLContext.h"

using namespace socket_internal;

namespace {

// Closing a connection whose received bytes were never read makes the kernel reset it, and a
// reset can destroy what the peer has not yet read of our last writes (an error response, for
// instance). Bytes that already arrived are discarded first, up to a bound, so that the close
// is an orderly end of stream.
void discardUnreadInput(int socketFD) {
  constexpr std::size_t kMaxDiscard = 256 * 1024;
  char scratch[16384];
  std::size_t total = 0;
  while (total < kMaxDiscard) {
    ssize_t n = ::recv(socketFD, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Disconnecting

void DispatchSocket::disconnect() {
  // Runs before runSync returns.
  runSync([this] {
    if (flags_ & flagStarted) closeWithError(std::nullopt);
  });
}

void DispatchSocket::disconnectAfterReading() {
  // runAsync holds the socket until the block has run.
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterWriting() {
  // runAsync holds the socket until the block has run.
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterReadingAndWriting() {
  // runAsync holds the socket until the block has run.
  runAsync([this] {
    if (flags_ & flagStarted) {
      flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads | flagDisconnectAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::maybeClose() {
  assertOnSocketQueue();
  bool shouldClose = false;
  if (flags_ & flagDisconnectAfterReads) {
    if (readQueue_.empty() && !currentRead_) {
      if (flags_ & flagDisconnectAfterWrites) {
        shouldClose = writeQueue_.empty() && !currentWrite_;
      } else {
        shouldClose = true;
      }
    }
  } else if (flags_ & flagDisconnectAfterWrites) {
    shouldClose = writeQueue_.empty() && !currentWrite_;
  }
  if (shouldClose) closeWithError(std::nullopt);
}

void DispatchSocket::endConnectTimeout() {
  assertOnSocketQueue();
  if (sources_->connectTimer) {
    sources_->connectTimer->cancel();
    sources_->connectTimer = nullptr;
  }
  if (sources_->connectSource) {
    // Cancelling stops the watch at once; the descriptor is closed by whoever owns it.
    sources_->connectSource->cancel();
    sources_->connectSource = nullptr;
  }
  // Late results of a lookup or connect carry the old index and are ignored.
  ++stateIndex_;
  connectInterface4_.reset();
  connectInterface6_.reset();
}

void DispatchSocket::closeWithError(std::optional<ns::Error> error) {
  assertOnSocketQueue();
  endConnectTimeout();
  if (currentRead_) endCurrentRead();
  if (sources_->idleReadTimer) {
    sources_->idleReadTimer->cancel();
    sources_->idleReadTimer = nullptr;
  }
  if (currentWrite_) endCurrentWrite();

  readQueue_.clear();
  writeQueue_.clear();
  preBuffer_->reset();
  if (sslPreBuffer_) sslPreBuffer_->reset();
  sslWriteCachedLength_ = 0;
  sslErrCode_ = 0;
  if (sslContext_) {
    // Sends the close notification as far as the descriptor takes it.
    sslContext_->close();
    sslContext_ = nullptr;
  }

  if (flags_ & flagConnected) {
    if (socket4FD_ != -1) discardUnreadInput(socket4FD_);
    if (socket6FD_ != -1) discardUnreadInput(socket6FD_);
  }

  Sources& s = *sources_;
  if (!s.accept4Source && !s.accept6Source && !s.readSource && !s.writeSource) {
    if (socket4FD_ != -1) ::close(socket4FD_);
    if (socket6FD_ != -1) ::close(socket6FD_);
  } else {
    // The cancel handlers close the descriptors. A suspended source never runs its cancel
    // handler, so suspended ones are resumed after cancelling.
    // A listening descriptor stops listening now rather than when its cancel handler runs, so
    // that once a disconnect returns the port refuses connections and can be bound again.
    if (s.accept4Source && socket4FD_ != -1) ::shutdown(socket4FD_, SHUT_RDWR);
    if (s.accept6Source && socket6FD_ != -1) ::shutdown(socket6FD_, SHUT_RDWR);
    if (s.accept4Source) {
      s.accept4Source->cancel();
      s.accept4Source = nullptr;
    }
    if (s.accept6Source) {
      s.accept6Source->cancel();
      s.accept6Source = nullptr;
    }
    if (s.readSource) {
      s.readSource->cancel();
      if (flags_ & flagReadSourceSuspended) s.readSource->resume();
      s.readSource = nullptr;
    }
    if (s.writeSource) {
      s.writeSource->cancel();
      if (flags_ & flagWriteSourceSuspended) s.writeSource->resume();
      s.writeSource = nullptr;
    }
  }
  socket4FD_ = -1;
  socket6FD_ = -1;

  const bool shouldCallDelegate = (flags_ & flagStarted) != 0;
  const bool isDeallocating = (flags_ & flagDeallocating) != 0;
  socketFDBytesAvailable_ = 0;
  flags_ = isDeallocating ? flagDeallocating : 0;

  if (shouldCallDelegate && delegateQueue_) {
    auto delegate = delegate_.lock();
    if (delegate) {
      // A dying socket is not handed out: the message must not keep it alive.
      ns::Ref<DispatchSocket> me = isDeallocating ? nullptr : self<DispatchSocket>();
      dispatch::async(delegateQueue_,
                      [delegate, me, error] { delegate->socketDidDisconnect_withError(me, error); });
    }
  }
}
