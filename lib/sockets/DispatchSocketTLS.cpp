// DispatchSocket: TLS in place. The start marker waits in both queues until the reads and writes
// before it are done; the handshake then runs on the socket queue, driven by the same read and
// write sources as plain traffic, with the TLS layer reading and writing the descriptor through
// the two callbacks below. Encrypted bytes that arrived behind the last plain read are moved
// from the read-ahead buffer into the TLS layer's own buffer, since they belong to the handshake.
#include "lib/sockets/DispatchSocketInternal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "lib/sockets/DispatchReadPacket.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"
#include "lib/sockets/DispatchSpecialPacket.h"
#include "lib/sockets/DispatchWritePacket.h"
#include "platform/security/SSLContext.h"
#include "platform/security/Trust.h"

using namespace socket_internal;

namespace {

// TLS writes go out in pieces of this size, so that progress is reported per piece.
constexpr std::size_t kSSLWritePiece = 32768;

constexpr char kNoTrustDelegateText[] =
    "DispatchSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement "
    "socket:shouldTrustPeer:";

// The value of `key` in a settings dictionary (nil when absent or when the settings are not a
// dictionary).
ns::Value settingFor(const ns::Value& settings, const char* key) {
  if (!settings.isDictionary()) return ns::Value();
  const ns::Value* value = settings.dictionary().find(ns::Value(key));
  return value ? *value : ns::Value();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requesting TLS

void DispatchSocket::startTLS(ns::Value tlsSettings) {
  if (tlsSettings.isNil()) tlsSettings = ns::Value(ns::Dictionary());
  auto packet = ns::make<DispatchSpecialPacket>(std::move(tlsSettings));
  // runAsync holds the socket until the block has run.
  runAsync([this, packet] {
    // Once per connection, and not after a disconnect-after request.
    if ((flags_ & flagStarted) && !(flags_ & flagQueuedTLS) && !(flags_ & flagForbidReadsWrites)) {
      readQueue_.push_back(packet);
      writeQueue_.push_back(packet);
      flags_ |= flagQueuedTLS;
      maybeDequeueRead();
      maybeDequeueWrite();
    }
  });
}

void DispatchSocket::maybeStartTLS() {
  assertOnSocketQueue();
  // Both queues have reached the marker: every read and write before it is done.
  if ((flags_ & flagStartingReadTLS) && (flags_ & flagStartingWriteTLS)) ssl_startTLS();
}

void DispatchSocket::ssl_startTLS() {
  assertOnSocketQueue();
  auto* packet = dynamic_cast<DispatchSpecialPacket*>(currentRead_.get());
  if (!packet) {
    closeWithError(otherError("Logic error"));
    return;
  }
  // A copy: a close drops the packet.
  const ns::Value settings = packet->tlsSettings;
  // Called only while this function runs.
  auto fail = [this](const std::string& text) { closeWithError(otherError(text)); };

  const ns::Value isServerValue = settingFor(settings, kCFStreamSSLIsServer);
  const bool isServer = isServerValue.isNumber() && isServerValue.boolValue();
  sslContext_ = sec::SSLContext::create(isServer ? sec::kSSLServerSide : sec::kSSLClientSide);
  if (!sslContext_) return fail("Error in SSLNewContext");

  // The context belongs to this socket and is used only on its queue; a close, which the
  // destructor makes, drops it, so its I/O functions never run without the socket.
  if (sslContext_->setIOFuncs(
          [this](void* data, std::size_t* length) { return sslReadWithBuffer_length(data, length); },
          [this](const void* data, std::size_t* length) {
            return sslWriteWithBuffer_length(data, length);
          }) != sec::noErr) {
    return fail("Error in SSLSetIOFuncs");
  }

  const ns::Value manualTrust = settingFor(settings, DispatchSocketManuallyEvaluateTrust);
  if (manualTrust.isNumber() && manualTrust.boolValue()) {
    if (isServer) return fail("Manual trust validation is not supported for server sockets");
    if (sslContext_->setSessionOption(sec::kSSLSessionOptionBreakOnServerAuth, true) != sec::noErr) {
      return fail("Error in SSLSetSessionOption");
    }
    if (sslContext_->setEnableCertVerify(false) != sec::noErr) return fail("Error in SSLSetEnableCertVerify");
  }

  if (ns::Value peerName = settingFor(settings, kCFStreamSSLPeerName)) {
    if (!peerName.isString()) return fail("Invalid value for kCFStreamSSLPeerName.");
    if (sslContext_->setPeerDomainName(peerName.string()) != sec::noErr)
      return fail("Error in SSLSetPeerDomainName");
  }

  if (ns::Value certificates = settingFor(settings, kCFStreamSSLCertificates)) {
    // The own identity first, then certificates to send after its chain.
    ns::Ref<sec::Identity> identity;
    std::vector<ns::Ref<sec::Certificate>> extra;
    bool valid = certificates.isArray() && certificates.count() > 0;
    if (valid) {
      const ns::Array& items = certificates.array();
      valid = items[0].isObject() && (identity = items[0].objectAs<sec::Identity>());
      for (std::size_t i = 1; valid && i < items.size(); ++i) {
        ns::Ref<sec::Certificate> certificate =
            items[i].isObject() ? items[i].objectAs<sec::Certificate>() : nullptr;
        valid = certificate != nullptr;
        if (valid) extra.push_back(std::move(certificate));
      }
    }
    if (!valid) return fail("Invalid value for kCFStreamSSLCertificates.");
    if (sslContext_->setCertificate(identity, std::move(extra)) != sec::noErr)
      return fail("Error in SSLSetCertificate");
  }

  if (ns::Value peerID = settingFor(settings, DispatchSocketSSLPeerID)) {
    if (!peerID.isData()) return fail("Invalid value for DispatchSocketSSLPeerID.");
    if (sslContext_->setPeerID(peerID.data()) != sec::noErr) return fail("Error in SSLSetPeerID");
  }

  if (ns::Value minProtocol = settingFor(settings, DispatchSocketSSLProtocolVersionMin)) {
    if (!minProtocol.isNumber()) return fail("Invalid value for DispatchSocketSSLProtocolVersionMin.");
    if (minProtocol.intValue() != sec::kSSLProtocolUnknown &&
        sslContext_->setProtocolVersionMin(static_cast<sec::SSLProtocol>(minProtocol.intValue())) !=
            sec::noErr) {
      return fail("Error in SSLSetProtocolVersionMin");
    }
  }

  if (ns::Value maxProtocol = settingFor(settings, DispatchSocketSSLProtocolVersionMax)) {
    if (!maxProtocol.isNumber()) return fail("Invalid value for DispatchSocketSSLProtocolVersionMax.");
    if (maxProtocol.intValue() != sec::kSSLProtocolUnknown &&
        sslContext_->setProtocolVersionMax(static_cast<sec::SSLProtocol>(maxProtocol.intValue())) !=
            sec::noErr) {
      return fail("Error in SSLSetProtocolVersionMax");
    }
  }

  // False start and one-byte records are taken as the TLS layer takes them.
  if (ns::Value falseStart = settingFor(settings, DispatchSocketSSLSessionOptionFalseStart)) {
    if (!falseStart.isNumber()) return fail("Invalid value for DispatchSocketSSLSessionOptionFalseStart.");
    if (sslContext_->setSessionOption(sec::kSSLSessionOptionFalseStart, falseStart.boolValue()) !=
        sec::noErr) {
      return fail("Error in SSLSetSessionOption (kSSLSessionOptionFalseStart)");
    }
  }

  if (ns::Value oneByteRecord = settingFor(settings, DispatchSocketSSLSessionOptionSendOneByteRecord)) {
    if (!oneByteRecord.isNumber())
      return fail("Invalid value for DispatchSocketSSLSessionOptionSendOneByteRecord.");
    if (sslContext_->setSessionOption(sec::kSSLSessionOptionSendOneByteRecord, oneByteRecord.boolValue()) !=
        sec::noErr) {
      return fail("Error in SSLSetSessionOption (kSSLSessionOptionSendOneByteRecord)");
    }
  }

  if (ns::Value cipherSuites = settingFor(settings, DispatchSocketSSLCipherSuites)) {
    std::vector<sec::SSLCipherSuite> ciphers;
    bool valid = cipherSuites.isArray();
    if (valid) {
      for (const ns::Value& suite : cipherSuites.array()) {
        if (!suite.isNumber()) {
          valid = false;
          break;
        }
        // The code as an unsigned 16-bit value, top bit and all.
        ciphers.push_back(static_cast<sec::SSLCipherSuite>(suite.unsignedLongLongValue()));
      }
    }
    if (!valid) return fail("Invalid value for DispatchSocketSSLCipherSuites.");
    if (sslContext_->setEnabledCiphers(ciphers) != sec::noErr) return fail("Error in SSLSetEnabledCiphers");
  }

  if (ns::Value dhParameters = settingFor(settings, DispatchSocketSSLDiffieHellmanParameters)) {
    if (!dhParameters.isData()) return fail("Invalid value for DispatchSocketSSLDiffieHellmanParameters.");
    if (sslContext_->setDiffieHellmanParams(dhParameters.data()) != sec::noErr) {
      return fail("Error in SSLSetDiffieHellmanParams");
    }
  }

  for (const char* refusedKey :
       {kCFStreamSSLAllowsAnyRoot, kCFStreamSSLAllowsExpiredRoots, kCFStreamSSLValidatesCertificateChain,
        kCFStreamSSLAllowsExpiredCertificates, kCFStreamSSLLevel}) {
    if (settingFor(settings, refusedKey))
      return fail(std::string("Security option unavailable - ") + refusedKey);
  }

  // Bytes that arrived after the last plain read belong to the handshake.
  sslPreBuffer_ = std::make_unique<DispatchSocketPreBuffer>(kPreBufferCapacity);
  const std::size_t waiting = preBuffer_->availableBytes();
  if (waiting > 0) {
    if (!sslPreBuffer_->ensureCapacityForWrite(waiting)) return fail("Memory allocation failed");
    std::memcpy(sslPreBuffer_->writeBuffer(), preBuffer_->readBuffer(), waiting);
    sslPreBuffer_->didWrite(waiting);
    preBuffer_->didRead(waiting);
  }
  sslWriteCachedLength_ = 0;
  sslErrCode_ = 0;
  ssl_continueSSLHandshake();
}

// ---------------------------------------------------------------------------------------------
// The handshake

void DispatchSocket::ssl_continueSSLHandshake() {
  assertOnSocketQueue();
  if (!sslContext_) return;
  if (flags_ & flagAwaitingTrust) {
    // Only the delegate's answer goes on; until then the sources stay quiet instead of firing
    // over and over for bytes nobody may read yet.
    suspendReadSource();
    if (flags_ & flagSocketCanAcceptBytes) suspendWriteSource();
    return;
  }

  const sec::OSStatus status = sslContext_->handshake();
  if (status == sec::noErr) {
    flags_ &= ~(flagStartingReadTLS | flagStartingWriteTLS);
    flags_ |= flagSocketSecure;
    notifyDelegate([](DispatchSocketDelegate& d, const ns::Ref<DispatchSocket>& s) { d.socketDidSecure(s); });
    // The marker was the current read and write; it completes without a message.
    endCurrentRead();
    endCurrentWrite();
    maybeDequeueRead();
    maybeDequeueWrite();
  } else if (status == sec::errSSLWouldBlock) {
    // The sources call again when the descriptor is ready.
  } else if (status == sec::errSSLPeerAuthCompleted) {
    ns::Ref<sec::Trust> trust;
    const sec::OSStatus copyStatus = sslContext_->copyPeerTrust(&trust);
    if (copyStatus != sec::noErr) {
      closeWithError(sslError(copyStatus));
      return;
    }
    auto delegate = delegate_.lock();
    if (!delegateQueue_ || !delegate) {
      closeWithError(otherError(kNoTrustDelegateText));
      return;
    }
    flags_ |= flagAwaitingTrust;
    const int aStateIndex = stateIndex_;
    ns::Weak<DispatchSocket> weakSelf = self<DispatchSocket>();
    ns::Ref<dispatch::Queue> socketQueue = socketQueue_;
    // Callable from any thread, any number of times: only the first answer of this handshake
    // counts (the index moves on with it), and none once the socket has closed.
    std::function<void(bool)> completionHandler = [weakSelf, socketQueue, aStateIndex](bool shouldTrustPeer) {
      dispatch::async(socketQueue, [weakSelf, aStateIndex, shouldTrustPeer] {
        if (auto strongSelf = weakSelf.lock())
          strongSelf->ssl_shouldTrustPeer_stateIndex(shouldTrustPeer, aStateIndex);
      });
    };
    auto me = self<DispatchSocket>();
    dispatch::async(delegateQueue_,
                    [delegate, me, trust, completionHandler, weakSelf, socketQueue, aStateIndex] {
                      if (delegate->socket_didReceiveTrust_completionHandler(me, trust, completionHandler))
                        return;
                      // Not implemented: nobody will ever decide.
                      dispatch::async(socketQueue, [weakSelf, aStateIndex] {
                        auto strongSelf = weakSelf.lock();
                        if (strongSelf && strongSelf->stateIndex_ == aStateIndex)
                          strongSelf->closeWithError(otherError(kNoTrustDelegateText));
                      });
                    });
  } else {
    closeWithError(sslError(status));
  }
}

void DispatchSocket::ssl_shouldTrustPeer_stateIndex(bool shouldTrustPeer, int aStateIndex) {
  assertOnSocketQueue();
  if (aStateIndex != stateIndex_) return;  // a second answer, or the socket closed meanwhile
  ++stateIndex_;
  flags_ &= ~flagAwaitingTrust;
  if (shouldTrustPeer) {
    ssl_continueSSLHandshake();
  } else {
    closeWithError(sslError(sec::errSSLPeerBadCert));
  }
}

void DispatchSocket::maybeBoundHandshakeByReadTimeout() {
  assertOnSocketQueue();
  // A peer that stalls in the handshake would otherwise hold the connection for ever: the
  // handshake gets the time-out of the first read waiting behind it (which starts afresh once
  // that read is reached).
  if (!dynamic_cast<DispatchSpecialPacket*>(currentRead_.get()) || sources_->readTimer) return;
  for (const auto& entry : readQueue_) {
    if (auto* packet = dynamic_cast<DispatchReadPacket*>(entry.get())) {
      sources_->readTimer = startTimeoutTimer(packet->timeout, &DispatchSocket::doHandshakeTimeout);
      return;
    }
  }
}

void DispatchSocket::doHandshakeTimeout() {
  assertOnSocketQueue();
  closeWithError(readTimeoutError());
}

// ---------------------------------------------------------------------------------------------
// The TLS layer's input and output

sec::OSStatus DispatchSocket::sslReadWithBuffer_length(void* buffer, std::size_t* bufferLength) {
  assertOnSocketQueue();
  const std::size_t wanted = *bufferLength;
  auto* target = static_cast<std::uint8_t*>(buffer);
  if (sslPreBuffer_->availableBytes() == 0 && socketFDBytesAvailable_ == 0) {
    resumeReadSource();
    *bufferLength = 0;
    return sec::errSSLWouldBlock;
  }

  std::size_t delivered = std::min(wanted, sslPreBuffer_->availableBytes());
  if (delivered > 0) {
    std::memcpy(target, sslPreBuffer_->readBuffer(), delivered);
    sslPreBuffer_->didRead(delivered);
  }

  bool socketError = false;
  if (delivered < wanted && socketFDBytesAvailable_ > 0) {
    const int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
    const std::size_t stillWanted = wanted - delivered;
    // More available than wanted: take it all in one call and keep the rest for the next one.
    const bool viaPreBuffer = socketFDBytesAvailable_ > stillWanted;
    const std::size_t toRead = viaPreBuffer ? static_cast<std::size_t>(socketFDBytesAvailable_) : stillWanted;
    std::uint8_t* into = target + delivered;
    if (viaPreBuffer) {
      if (!sslPreBuffer_->ensureCapacityForWrite(toRead)) {
        *bufferLength = delivered;
        return delivered > 0 ? sec::errSSLWouldBlock : sec::errSSLClosedAbort;
      }
      into = sslPreBuffer_->writeBuffer();
    }
    const ssize_t result = ::read(socketFD, into, toRead);
    if (result < 0) {
      socketError = !wouldBlock(errno);
      socketFDBytesAvailable_ = 0;
    } else if (result == 0) {
      socketError = true;
      socketFDBytesAvailable_ = 0;
    } else {
      const std::size_t bytesRead = static_cast<std::size_t>(result);
      socketFDBytesAvailable_ -= std::min<std::uint64_t>(socketFDBytesAvailable_, bytesRead);
      if (viaPreBuffer) {
        sslPreBuffer_->didWrite(bytesRead);
        const std::size_t taken = std::min(stillWanted, bytesRead);
        std::memcpy(target + delivered, sslPreBuffer_->readBuffer(), taken);
        sslPreBuffer_->didRead(taken);
        delivered += taken;
      } else {
        delivered += bytesRead;
      }
    }
  }

  *bufferLength = delivered;
  if (delivered == wanted) return sec::noErr;
  if (socketError) return sec::errSSLClosedAbort;
  // Whoever asked waits for more bytes: make sure the read source will say when they come.
  resumeReadSource();
  return sec::errSSLWouldBlock;
}

sec::OSStatus DispatchSocket::sslWriteWithBuffer_length(const void* buffer, std::size_t* bufferLength) {
  assertOnSocketQueue();
  const std::size_t wanted = *bufferLength;
  if (!(flags_ & flagSocketCanAcceptBytes)) {
    resumeWriteSource();
    *bufferLength = 0;
    return sec::errSSLWouldBlock;
  }
  const int socketFD = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
  bool socketError = false;
  std::size_t written = 0;
  const ssize_t result = ::send(socketFD, buffer, wanted, MSG_NOSIGNAL);
  if (result < 0) {
    socketError = !wouldBlock(errno);
    flags_ &= ~flagSocketCanAcceptBytes;
  } else if (result == 0) {
    flags_ &= ~flagSocketCanAcceptBytes;
  } else {
    written = static_cast<std::size_t>(result);
  }
  *bufferLength = written;
  if (written == wanted) return sec::noErr;
  if (socketError) return sec::errSSLClosedAbort;
  // The kernel's buffer is full: watch for room.
  flags_ &= ~flagSocketCanAcceptBytes;
  resumeWriteSource();
  return sec::errSSLWouldBlock;
}

std::size_t DispatchSocket::sslBytesBelowPreBuffer() const {
  std::size_t bytes = sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0;
  if (sslContext_) {
    std::size_t buffered = 0;
    if (sslContext_->getBufferedReadSize(&buffered) == sec::noErr) bytes += buffered;
  }
  return bytes;
}

void DispatchSocket::flushSSLBuffers() {
  assertOnSocketQueue();
  if (!(flags_ & flagSocketSecure) || !sslContext_) return;
  // Only into an empty read-ahead buffer: bytes already there come first.
  if (preBuffer_->availableBytes() > 0) return;
  std::size_t estimate = socketFDBytesAvailable_ + sslBytesBelowPreBuffer();
  while (estimate > 0) {
    if (!preBuffer_->ensureCapacityForWrite(estimate)) return;
    std::size_t processed = 0;
    const sec::OSStatus status = sslContext_->read(preBuffer_->writeBuffer(), estimate, &processed);
    if (processed > 0) preBuffer_->didWrite(processed);
    if (status != sec::noErr || processed == 0) return;
    estimate = socketFDBytesAvailable_ + sslBytesBelowPreBuffer();
  }
}

std::size_t DispatchSocket::sslReadIntoBuffer(std::uint8_t* target, std::size_t length, bool* waiting,
                                              bool* socketEOF, std::optional<ns::Error>* error) {
  assertOnSocketQueue();
  std::size_t total = 0;
  sec::OSStatus status = sec::noErr;
  // The layer may answer success with fewer bytes than asked: ask again for the rest.
  while (total < length) {
    std::size_t processed = 0;
    status = sslContext_->read(target + total, length - total, &processed);
    total += processed;
    if (status != sec::noErr || processed == 0) break;
  }
  if (status == sec::errSSLWouldBlock) {
    *waiting = true;
  } else if (status == sec::errSSLClosedGraceful || status == sec::errSSLClosedAbort) {
    *socketEOF = true;
    sslErrCode_ = status;
  } else if (status != sec::noErr) {
    *error = sslError(status);
  }
  return total;
}

std::size_t DispatchSocket::sslWriteCurrentPacket(DispatchWritePacket& packet, bool* waiting,
                                                  std::optional<ns::Error>* error) {
  assertOnSocketQueue();
  std::size_t written = 0;
  // What the layer still holds (a record taken before a would-block, or the end of the
  // handshake) goes out before anything new is handed over.
  std::size_t processed = 0;
  sec::OSStatus status = sslContext_->write(nullptr, 0, &processed);
  if (status == sec::errSSLWouldBlock) {
    *waiting = true;
    return 0;
  }
  if (status != sec::noErr) {
    *error = sslError(status);
    return 0;
  }
  written = sslWriteCachedLength_;
  sslWriteCachedLength_ = 0;

  const std::size_t remaining = packet.buffer.length() - packet.bytesDone;
  const std::uint8_t* bytes = packet.buffer.bytes() + packet.bytesDone;
  while (written < remaining) {
    const std::size_t piece = std::min(remaining - written, kSSLWritePiece);
    processed = 0;
    status = sslContext_->write(bytes + written, piece, &processed);
    if (status == sec::noErr) {
      written += processed;
      continue;
    }
    if (status == sec::errSSLWouldBlock) {
      // Nothing reported means the layer took the whole piece and holds it.
      if (processed > 0) {
        written += processed;
      } else {
        sslWriteCachedLength_ = piece;
      }
      *waiting = true;
    } else {
      *error = sslError(status);
    }
    break;
  }
  return written;
}
