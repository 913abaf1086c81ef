// RunLoopSocket: outgoing connections, to a host through a stream pair or to an address through a
// connecting socket whose descriptor the streams then take over, and the streams' events.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/SocketResolver.h"
#include "platform/core/Log.h"
#include "platform/net/Socket.h"
#include "platform/runloop/RunLoop.h"

using namespace runloop_socket_internal;

bool RunLoopSocket::configureAndReturnError(ns::Error* errPtr) {
  auto me = self<RunLoopSocket>();
  if (delegate_ && !delegate_->onSocketWillConnect(me)) {
    ns::setError(errPtr, socketError(RunLoopSocketCanceledError));
    return false;
  }
  return true;
}

bool RunLoopSocket::connectToHost_onPort_error(const std::string& hostname, std::uint16_t port,
                                               ns::Error* errPtr) {
  return connectToHost_onPort_withTimeout_error(hostname, port, -1, errPtr);
}

bool RunLoopSocket::connectToHost_onPort_withTimeout_error(const std::string& hostname, std::uint16_t port,
                                                           double timeout, ns::Error* errPtr) {
  raiseOnMisuse(false);
  emptyQueues();
  ns::Error error;
  bool ok = createStreamsToHost(hostname, port, &error) && attachStreamsToRunLoop(nullptr, &error) &&
            configureAndReturnError(&error) && openStreamsAndReturnError(&error);
  return connectStarted(ok, error, timeout, errPtr);
}

bool RunLoopSocket::connectToAddress_error(const ns::Data& remoteAddr, ns::Error* errPtr) {
  return connectToAddress_viaInterfaceAddress_withTimeout_error(remoteAddr, ns::Data(), -1, errPtr);
}

bool RunLoopSocket::connectToAddress_withTimeout_error(const ns::Data& remoteAddr, double timeout,
                                                       ns::Error* errPtr) {
  return connectToAddress_viaInterfaceAddress_withTimeout_error(remoteAddr, ns::Data(), timeout, errPtr);
}

bool RunLoopSocket::connectToAddress_viaInterfaceAddress_withTimeout_error(const ns::Data& remoteAddr,
                                                                           const ns::Data& interfaceAddr,
                                                                           double timeout,
                                                                           ns::Error* errPtr) {
  raiseOnMisuse(false);
  emptyQueues();
  ns::Error error;
  bool ok = createSocketForAddress(remoteAddr, &error) && bindSocketToAddress(interfaceAddr, &error);
  if (ok) {
    attachSocketsToRunLoop(nullptr);
    ok = configureAndReturnError(&error) && connectSocketToAddress(remoteAddr, &error);
  }
  return connectStarted(ok, error, timeout, errPtr);
}

bool RunLoopSocket::connectStarted(bool ok, const ns::Error& error, double timeout, ns::Error* errPtr) {
  if (!ok) {
    close();
    ns::setError(errPtr, error);
    return false;
  }
  startConnectTimeout(timeout);
  flags_ |= kDidStartConnect;
  return true;
}

bool RunLoopSocket::createSocketForAddress(const ns::Data& address, ns::Error* errPtr) {
  int family = familyOf(address);
  if (family != AF_INET && family != AF_INET6) {
    ns::setError(errPtr, ns::Error::withDescription(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                    "Remote address is not IPv4 or IPv6"));
    return false;
  }
  ns::Weak<ns::Object> info = anchor_;
  auto sock = cf::Socket::createWithFamily(family, SOCK_STREAM, IPPROTO_TCP, cf::Socket::ConnectCallBack,
                                           Anchor::socketCallout, info);
  if (!sock) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  (family == AF_INET ? socket4_ : socket6_) = sock;
  return true;
}

bool RunLoopSocket::bindSocketToAddress(const ns::Data& address, ns::Error* errPtr) {
  if (address.length() == 0) return true;
  int family = familyOf(address);
  if (family != AF_INET && family != AF_INET6) {
    ns::setError(errPtr, ns::Error::withDescription(RunLoopSocketErrorDomain, RunLoopSocketCFSocketError,
                                                    "Interface address is not IPv4 or IPv6"));
    return false;
  }
  auto sock = socket4_ ? socket4_ : socket6_;
  if (::bind(sock->getNative(), reinterpret_cast<const sockaddr*>(address.bytes()),
             static_cast<socklen_t>(address.length())) != 0) {
    ns::setError(errPtr, ns::Error::fromErrno());
    return false;
  }
  return true;
}

bool RunLoopSocket::connectSocketToAddress(const ns::Data& address, ns::Error* errPtr) {
  auto sock = socket4_ ? socket4_ : socket6_;
  if (!sock) return true;
  if (sock->connectToAddress(address, -1) != cf::Socket::Success) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  return true;
}

bool RunLoopSocket::createStreamsToHost(const std::string& hostname, std::uint16_t port, ns::Error* errPtr) {
  cf::createPairWithSocketToHost(hostname, port, &readStream_, &writeStream_, socketResolverGetAddrInfo);
  if (!readStream_ || !writeStream_) {
    ns::setError(errPtr, getStreamError().value_or(socketError(RunLoopSocketCFSocketError)));
    return false;
  }
  readStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  writeStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  return true;
}

bool RunLoopSocket::createStreamsFromNative(int fd, ns::Error* errPtr) {
  cf::createPairWithSocket(fd, &readStream_, &writeStream_);
  if (!readStream_ || !writeStream_) {
    auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
    ns::LogWarning("RunLoopSocket %p couldn't create streams from accepted socket: %@",
                   static_cast<const void*>(this), error.description());
    ns::setError(errPtr, error);
    return false;
  }
  readStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  writeStream_->setProperty_forKey(ns::Value(true), cf::kCFStreamPropertyShouldCloseNativeSocket);
  return true;
}

bool RunLoopSocket::attachStreamsToRunLoop(const ns::Ref<ns::RunLoop>& runLoop, ns::Error* errPtr) {
  runLoop_ = runLoop ? runLoop : ns::RunLoop::currentRunLoop();
  ns::Weak<ns::Object> weakAnchor = anchor_;
  // An event reaches the owner only while the stream is still its own.
  auto forward = [weakAnchor](bool read, const ns::Stream& stream, cf::StreamEventType type) {
    auto self = Anchor::ownerOf(weakAnchor.lock());
    if (!self) return;
    const ns::Stream* own = read ? static_cast<const ns::Stream*>(self->readStream_.get())
                                 : static_cast<const ns::Stream*>(self->writeStream_.get());
    if (own == &stream) self->handleStreamEvent(read, type);
  };
  const unsigned long endsAndOpen =
      cf::StreamEventOpenCompleted | cf::StreamEventErrorOccurred | cf::StreamEventEndEncountered;
  if (!readStream_->setClient(
          endsAndOpen | cf::StreamEventHasBytesAvailable,
          [forward](cf::ReadStream& s, cf::StreamEventType type) { forward(true, s, type); }))
    return streamSetUpFailed("attach read stream to run-loop", true, errPtr);
  if (!writeStream_->setClient(
          endsAndOpen | cf::StreamEventCanAcceptBytes,
          [forward](cf::WriteStream& s, cf::StreamEventType type) { forward(false, s, type); }))
    return streamSetUpFailed("attach write stream to run-loop", true, errPtr);
  for (auto& mode : runLoopModes_) {
    readStream_->scheduleInRunLoop_forMode(runLoop_, mode);
    writeStream_->scheduleInRunLoop_forMode(runLoop_, mode);
  }
  return true;
}

bool RunLoopSocket::openStreamsAndReturnError(ns::Error* errPtr) {
  for (bool read : {true, false}) {
    ns::Stream& stream =
        read ? static_cast<ns::Stream&>(*readStream_) : static_cast<ns::Stream&>(*writeStream_);
    stream.open();
    if (stream.streamStatus() == ns::StreamStatusError || stream.streamStatus() == ns::StreamStatusClosed)
      return streamSetUpFailed(read ? "open read stream" : "open write stream", false, errPtr);
  }
  return true;
}

bool RunLoopSocket::streamSetUpFailed(const char* step, bool logError, ns::Error* errPtr) {
  auto error = getStreamError().value_or(socketError(RunLoopSocketCFSocketError));
  if (logError)
    ns::LogWarning("RunLoopSocket %p couldn't %s,Error: %@", static_cast<const void*>(this), step,
                   error.description());
  else
    ns::LogWarning("RunLoopSocket %p couldn't %s,", static_cast<const void*>(this), step);
  ns::setError(errPtr, error);
  return false;
}

bool RunLoopSocket::setSocketFromStreamsAndReturnError(ns::Error* errPtr) {
  ns::Value handle = readStream_->propertyForKey(cf::kCFStreamPropertySocketNativeHandle);
  if (!handle.isData()) {
    ns::setError(errPtr, getStreamError().value_or(socketError(RunLoopSocketCFSocketError)));
    return false;
  }
  int fd = 0;
  std::memcpy(&fd, handle.data().bytes(), std::min(handle.data().length(), sizeof fd));
  // The wrapper only answers address questions; the streams own the descriptor.
  auto sock = cf::Socket::createWithNative(fd, cf::Socket::NoCallBack, nullptr, {});
  if (!sock) {
    ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
    return false;
  }
  sock->setSocketFlags(sock->socketFlags() & ~cf::Socket::CloseOnInvalidate);
  if (nativeSocket4_ > 0) {
    socket4_ = sock;
  } else if (nativeSocket6_ > 0) {
    socket6_ = sock;
  } else {
    ns::Data peer = sock->copyPeerAddress();
    if (peer.length() == 0) {
      ns::LogWarning("RunLoopSocket couldn't determine IP version of socket");
      sock->invalidate();
      ns::setError(errPtr, socketError(RunLoopSocketCFSocketError));
      return false;
    }
    if (familyOf(peer) == AF_INET) {
      socket4_ = sock;
      nativeSocket4_ = fd;
    } else {
      socket6_ = sock;
      nativeSocket6_ = fd;
    }
  }
  return true;
}

void RunLoopSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  connectTimer_ = makeTimer(timeout, &RunLoopSocket::doConnectTimeout);
}

void RunLoopSocket::endConnectTimeout() {
  if (connectTimer_) connectTimer_->invalidate();
  connectTimer_ = nullptr;
}

void RunLoopSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(socketError(RunLoopSocketConnectTimeoutError));
}

void RunLoopSocket::Anchor::socketCallout(const ns::Ref<cf::Socket>& s, const cf::Socket::Event& event,
                                          const ns::Ref<ns::Object>& info) {
  if (auto self = ownerOf(info)) {
    self->handleSocketEvent(s.get(), event.type, event.nativeHandle, event.errorNumber);
  } else if (info && event.type == cf::Socket::AcceptCallBack && event.nativeHandle >= 0) {
    ::close(event.nativeHandle);
  }
}

void RunLoopSocket::handleSocketEvent(cf::Socket* sock, unsigned type, int nativeHandle, int errorNumber) {
  if (type == cf::Socket::AcceptCallBack) {
    doAcceptFromSocket(sock, nativeHandle);
  } else if (type == cf::Socket::ConnectCallBack) {
    doSocketOpen(sock, errorNumber != 0 ? -1 : 0);
  } else {
    ns::Log("RunLoopSocket %p received unexpected CFSocketCallBackType %i", static_cast<const void*>(this),
            static_cast<int>(type));
  }
}

void RunLoopSocket::doSocketOpen(cf::Socket* sock, int error) {
  if (error == -1 || error == -2) {
    closeWithError(socketError(RunLoopSocketCFSocketError));
    return;
  }
  int fd = sock->getNative();
  if (sock == socket4_.get())
    nativeSocket4_ = fd;
  else
    nativeSocket6_ = fd;
  // The descriptor is the streams' from now on: the connecting socket must not close it.
  sock->setSocketFlags(sock->socketFlags() & ~cf::Socket::CloseOnInvalidate);
  if (source4_) runLoopRemoveSocket(socket4_, runLoopModes_);
  if (source6_) runLoopRemoveSocket(socket6_, runLoopModes_);
  source4_ = source6_ = false;
  if (socket4_) socket4_->invalidate();
  if (socket6_) socket6_->invalidate();
  socket4_ = socket6_ = nullptr;
  ns::Error streamError;
  if (!createStreamsFromNative(fd, &streamError)) {
    ::close(fd);
    nativeSocket4_ = nativeSocket6_ = 0;
    closeWithError(streamError);
    return;
  }
  if (!attachStreamsToRunLoop(nullptr, &streamError) || !openStreamsAndReturnError(&streamError))
    closeWithError(streamError);
}

void RunLoopSocket::doStreamOpen() {
  if (!(flags_ & kDidCompleteOpenForRead) || !(flags_ & kDidCompleteOpenForWrite)) return;
  ns::Error error;
  if (!setSocketFromStreamsAndReturnError(&error)) {
    ns::LogWarning("RunLoopSocket %p couldn't get socket from streams, %@. Disconnecting.",
                   static_cast<const void*>(this), error.description());
    closeWithError(error);
    return;
  }
  endConnectTimeout();
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didConnectToHost_port(me, connectedHost().value_or(""), connectedPort());
  maybeDequeueRead();
  maybeDequeueWrite();
}

void RunLoopSocket::handleStreamEvent(bool read, cf::StreamEventType type) {
  auto keep = self<RunLoopSocket>();
  if (type == cf::StreamEventOpenCompleted) {
    flags_ |= read ? kDidCompleteOpenForRead : kDidCompleteOpenForWrite;
    doStreamOpen();
  } else if (type == (read ? cf::StreamEventHasBytesAvailable : cf::StreamEventCanAcceptBytes)) {
    if (flags_ & (read ? kStartingReadTLS : kStartingWriteTLS)) {
      onTLSHandshakeSuccessful();
    } else if (read) {
      flags_ |= kSocketHasBytesAvailable;
      doBytesAvailable();
    } else {
      flags_ |= kSocketCanAcceptBytes;
      doSendBytes();
    }
  } else if (type == cf::StreamEventErrorOccurred || type == cf::StreamEventEndEncountered) {
    closeWithError(errorFromCFStreamError(read ? readStream_->getError() : writeStream_->getError()));
  } else if (read) {
    ns::Log("RunLoopSocket %p received unexpected CFReadStream callback, CFStreamEventType %i",
            static_cast<const void*>(this), static_cast<int>(type));
  } else {
    ns::Log("RunLoopSocket %p received unexpected CFWriteStream callback, CFStreamEventType %i",
            static_cast<const void*>(this), static_cast<int>(type));
  }
}
