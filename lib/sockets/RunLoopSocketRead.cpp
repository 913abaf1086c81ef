// RunLoopSocket: read requests, the read step and the delivery of what was read.
#include <algorithm>
#include <cstring>

#include "lib/sockets/RunLoopSocketInternal.h"
#include "lib/sockets/RunLoopSocketPackets.h"

using namespace runloop_socket_internal;

ns::Data RunLoopSocket::CRLFData() {
  return ns::Data("\r\n", 2);
}
ns::Data RunLoopSocket::CRData() {
  return ns::Data("\r", 1);
}
ns::Data RunLoopSocket::LFData() {
  return ns::Data("\n", 1);
}
ns::Data RunLoopSocket::ZeroData() {
  return ns::Data("\0", 1);
}

void RunLoopSocket::enqueueRead(ns::Ref<RunLoopReadPacket> packet) {
  checkThread();
  readQueue_.push_back(std::move(packet));
  scheduleDequeue(true);
}

void RunLoopSocket::readDataWithTimeout_tag(double timeout, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataWithTimeout_buffer_bufferOffset_tag(double timeout,
                                                                ns::Ref<ns::MutableData> buffer,
                                                                std::size_t offset, long tag) {
  readDataWithTimeout_buffer_bufferOffset_maxLength_tag(timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataWithTimeout_buffer_bufferOffset_maxLength_tag(double timeout,
                                                                          ns::Ref<ns::MutableData> buffer,
                                                                          std::size_t offset,
                                                                          std::size_t length, long tag) {
  if ((buffer && offset > buffer->length()) || (flags_ & kForbidReadsWrites)) return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, length, timeout, 0, std::nullopt, tag));
}

void RunLoopSocket::readDataToLength_withTimeout_tag(std::size_t length, double timeout, long tag) {
  readDataToLength_withTimeout_buffer_bufferOffset_tag(length, timeout, nullptr, 0, tag);
}

void RunLoopSocket::readDataToLength_withTimeout_buffer_bufferOffset_tag(std::size_t length, double timeout,
                                                                         ns::Ref<ns::MutableData> buffer,
                                                                         std::size_t offset, long tag) {
  if (length == 0 || (buffer && offset > buffer->length()) || (flags_ & kForbidReadsWrites)) return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, 0, timeout, length, std::nullopt, tag));
}

void RunLoopSocket::readDataToData_withTimeout_tag(const ns::Data& data, double timeout, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataToData_withTimeout_buffer_bufferOffset_tag(const ns::Data& data, double timeout,
                                                                       ns::Ref<ns::MutableData> buffer,
                                                                       std::size_t offset, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, std::move(buffer), offset, 0,
                                                               tag);
}

void RunLoopSocket::readDataToData_withTimeout_maxLength_tag(const ns::Data& data, double timeout,
                                                             std::size_t length, long tag) {
  readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(data, timeout, nullptr, 0, length, tag);
}

void RunLoopSocket::readDataToData_withTimeout_buffer_bufferOffset_maxLength_tag(
    const ns::Data& data, double timeout, ns::Ref<ns::MutableData> buffer, std::size_t offset,
    std::size_t length, long tag) {
  if (data.length() == 0 || (buffer && offset > buffer->length()) || (length > 0 && length < data.length()) ||
      (flags_ & kForbidReadsWrites))
    return;
  enqueueRead(ns::make<RunLoopReadPacket>(std::move(buffer), offset, length, timeout, 0, data, tag));
}

void RunLoopSocket::maybeDequeueRead() {
  maybeDequeue(true);
}

bool RunLoopSocket::hasBytesAvailable() {
  return (flags_ & kSocketHasBytesAvailable) || partialReadBuffer_.length() > 0 ||
         (readStream_ && readStream_->hasBytesAvailable());
}

long RunLoopSocket::readIntoBuffer(std::uint8_t* buffer, std::size_t length) {
  if (partialReadBuffer_.length() == 0) {
    flags_ &= ~kSocketHasBytesAvailable;
    return readStream_->read_maxLength(buffer, length);
  }
  std::size_t n = std::min(length, partialReadBuffer_.length());
  std::memcpy(buffer, partialReadBuffer_.bytes(), n);
  partialReadBuffer_.replaceBytesInRange_withBytes_length({0, n}, nullptr, 0);
  return static_cast<long>(n);
}

void RunLoopSocket::doBytesAvailable() {
  auto packet = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_);
  if (!packet || !readStream_) return;
  auto keep = self<RunLoopSocket>();
  std::uint64_t total = 0;
  bool done = false, error = false, maxedOut = false;
  while (!done && !error && !maxedOut && hasBytesAvailable()) {
    bool fromPreBuffer = false, preBuffered = false;
    std::uint64_t amount;
    if (packet->term) {
      if (partialReadBuffer_.length() > 0) {
        fromPreBuffer = true;
        amount = packet->readLengthForTermWithPreBuffer(partialReadBuffer_, &done);
      } else if (flags_ & kEnablePreBuffering) {
        preBuffered = true;
        amount = packet->prebufferReadLengthForTerm();
      } else {
        amount = packet->readLengthForTerm();
      }
    } else {
      amount = packet->readLengthForNonTerm();
    }
    std::uint64_t used = packet->startOffset + packet->bytesDone;
    if (used + amount > packet->buffer->length()) packet->buffer->setLength(used + amount);
    long n = readIntoBuffer(packet->buffer->mutableBytes() + used, amount);
    if (n < 0) {
      error = true;
      break;
    }
    packet->bytesDone += static_cast<std::uint64_t>(n);
    total += static_cast<std::uint64_t>(n);
    if (packet->readLength > 0) {
      done = packet->bytesDone == packet->readLength;
    } else if (packet->term) {
      const std::uint64_t L = packet->term->length();
      if (preBuffered) {
        long overflow = packet->searchForTermAfterPreBuffering(n);
        if (overflow > 0) {
          std::uint64_t end = packet->startOffset + packet->bytesDone;
          partialReadBuffer_.appendBytes_length(packet->buffer->bytes() + end - overflow, overflow);
          packet->bytesDone -= static_cast<std::uint64_t>(overflow);
        }
        done = overflow >= 0;
      } else if (!fromPreBuffer) {
        done = packet->bytesDone >= L &&
               std::memcmp(packet->buffer->bytes() + packet->startOffset + packet->bytesDone - L,
                           packet->term->bytes(), L) == 0;
      }
      if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) maxedOut = true;
    } else if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
      done = true;
    }
    if (n == 0 && !fromPreBuffer) break;  // nothing more came from the stream on this pass
  }
  if (!packet->term && packet->readLength == 0 && packet->bytesDone > 0) done = true;
  if (done) {
    completeCurrentRead();
    if (!error) scheduleDequeue(true);
  } else if (total > 0 && delegate_) {
    delegate_->onSocket_didReadPartialDataOfLength_tag(keep, total, packet->tag);
  }
  if (error) {
    closeWithError(readStream_ ? errorFromCFStreamError(readStream_->getError()) : std::nullopt);
  } else if (maxedOut) {
    closeWithError(socketError(RunLoopSocketReadMaxedOutError));
  }
}

void RunLoopSocket::completeCurrentRead() {
  auto packet = std::static_pointer_cast<RunLoopReadPacket>(currentRead_);
  ns::Data result;
  if (packet->bufferOwner) {
    packet->buffer->setLength(packet->bytesDone);
    result = packet->buffer->copy();
  } else {
    std::uint64_t keepLength =
        std::max(packet->originalBufferLength, packet->startOffset + packet->bytesDone);
    if (packet->buffer->length() > keepLength) packet->buffer->setLength(keepLength);
    // A view of the caller's buffer, valid while the caller leaves it unchanged.
    ns::Ref<ns::MutableData> owner = packet->buffer;
    result = ns::Data(std::shared_ptr<const void>(owner, owner.get()), owner->bytes() + packet->startOffset,
                      packet->bytesDone);
  }
  auto me = self<RunLoopSocket>();
  if (delegate_) delegate_->onSocket_didReadData_withTag(me, result, packet->tag);
  if (currentRead_) endCurrentRead();
}

void RunLoopSocket::endCurrentRead() {
  endCurrentPacket(currentRead_, readTimer_);
}

void RunLoopSocket::doReadTimeout() {
  doPacketTimeout<RunLoopReadPacket>(
      currentRead_, readTimer_, &RunLoopSocketDelegate::onSocket_shouldTimeoutReadWithTag_elapsed_bytesDone,
      &RunLoopSocket::doReadTimeout, RunLoopSocketReadTimeoutError);
}

float RunLoopSocket::progressOfReadReturningTag_bytesDone_total(long* tag, std::uint64_t* done,
                                                                std::uint64_t* total) const {
  auto packet = std::dynamic_pointer_cast<RunLoopReadPacket>(currentRead_);
  return progressOfPacket(packet.get(), packet ? packet->readLength : 0, tag, done, total);
}
