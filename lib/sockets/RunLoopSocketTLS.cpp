// RunLoopSocket: TLS in place. The start marker waits in both queues until the reads and writes
// queued before it are done; the streams then take the settings and report the handshake's end.
#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/RunLoopSocketPackets.h"

using namespace runloop_socket_internal;

void RunLoopSocket::startTLS(const ns::Value& tlsSettings) {
  checkThread();
  auto packet =
      ns::make<RunLoopSpecialPacket>(tlsSettings.isDictionary() ? tlsSettings : ns::Value(ns::Dictionary()));
  readQueue_.push_back(packet);
  writeQueue_.push_back(packet);
  scheduleDequeue(true);
  scheduleDequeue(false);
}

void RunLoopSocket::maybeStartTLS() {
  if (!(flags_ & kStartingReadTLS) || !(flags_ & kStartingWriteTLS)) return;
  auto packet = std::dynamic_pointer_cast<RunLoopSpecialPacket>(currentRead_);
  if (!packet) return;
  bool didRead = readStream_->setProperty_forKey(packet->tlsSettings, cf::kCFStreamPropertySSLSettings);
  bool didWrite = writeStream_->setProperty_forKey(packet->tlsSettings, cf::kCFStreamPropertySSLSettings);
  if (!didRead || !didWrite) closeWithError(socketError(RunLoopSocketCFSocketError));
}

void RunLoopSocket::onTLSHandshakeSuccessful() {
  if (!(flags_ & kStartingReadTLS) || !(flags_ & kStartingWriteTLS)) return;
  flags_ &= ~(kStartingReadTLS | kStartingWriteTLS);
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocketDidSecure(me);
  endCurrentRead();
  endCurrentWrite();
  scheduleDequeue(true);
  scheduleDequeue(false);
}
