// DispatchSocket: gathered writes. Several pieces, and optionally a file range after them, go
// out as one write request: the pieces in one sendmsg, the file range straight from the file with
// sendfile, so that a response's header and body leave together and a file's bytes are not
// copied through user space.
#include "lib/sockets/DispatchSocketInternal.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

#include "lib/sockets/DispatchWritePacket.h"
#include "platform/foundation/SigpipeHeldBack.h"

using namespace socket_internal;

namespace {

constexpr int kMaxGatheredPieces = 64;
// One sendfile call moves at most this much, so that one fast reader cannot hold the socket
// queue for long.
constexpr std::uint64_t kMaxSendFileLength = 4 << 20;

}  // namespace

bool DispatchWritePacket::flatten() {
  if (!isGathered()) return true;
  ns::MutableData all;
  all.appendData(buffer);
  for (const auto& piece : more) all.appendData(piece);
  if (fileRange) {
    std::size_t at = all.length();
    all.setLength(at + static_cast<std::size_t>(fileRange->length));
    auto* target = static_cast<std::uint8_t*>(all.mutableBytes()) + at;
    std::uint64_t done = 0;
    while (done < fileRange->length) {
      ssize_t n =
          ::pread(fileRange->file->fd(), target + done, static_cast<std::size_t>(fileRange->length - done),
                  static_cast<off_t>(fileRange->offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::uint64_t>(n);
    }
  }
  buffer = all.take();
  more.clear();
  fileRange.reset();
  return true;
}

void DispatchSocket::writePieces_fileRange_withTimeout_tag(std::vector<ns::Data> pieces,
                                                           std::optional<DispatchFileRange> fileRange,
                                                           double timeout, long tag) {
  pieces.erase(
      std::remove_if(pieces.begin(), pieces.end(), [](const ns::Data& d) { return d.length() == 0; }),
      pieces.end());
  if (fileRange && (fileRange->length == 0 || !fileRange->file)) fileRange.reset();
  if (pieces.empty() && !fileRange) return;
  auto packet =
      ns::make<DispatchWritePacket>(pieces.empty() ? ns::Data() : std::move(pieces.front()), timeout, tag);
  if (!pieces.empty())
    packet->more.assign(std::make_move_iterator(pieces.begin() + 1), std::make_move_iterator(pieces.end()));
  packet->fileRange = std::move(fileRange);
  // runAsync holds the socket until the block has run.
  runAsync([this, packet] {
    if ((flags_ & flagStarted) && !(flags_ & flagForbidReadsWrites)) {
      // A secured stream encrypts what it sends, so it takes plain bytes only.
      if ((flags_ & (flagSocketSecure | flagQueuedTLS)) && !packet->flatten()) {
        errno = EIO;
        closeWithError(errnoErrorWithReason("Error reading file range for write"));
        return;
      }
      writeQueue_.push_back(packet);
      maybeDequeueWrite();
    }
  });
}

ssize_t DispatchSocket::sendFromPacket(DispatchWritePacket& packet, int socketFD) {
  assertOnSocketQueue();
  // MSG_NOSIGNAL: a peer that has gone yields EPIPE, not a signal.
  if (!packet.isGathered()) {
    return ::send(socketFD, packet.buffer.bytes() + packet.bytesDone,
                  packet.buffer.length() - packet.bytesDone, MSG_NOSIGNAL);
  }

  iovec iov[kMaxGatheredPieces];
  int count = 0;
  std::size_t skip = packet.bytesDone;
  std::size_t piecesLeft = 0;
  bool allPieces = true;
  auto add = [&](const ns::Data& piece) {
    if (skip >= piece.length()) {
      skip -= piece.length();
      return;
    }
    if (count == kMaxGatheredPieces) {
      allPieces = false;
      return;
    }
    iov[count].iov_base = const_cast<std::uint8_t*>(piece.bytes() + skip);
    iov[count].iov_len = piece.length() - skip;
    piecesLeft += iov[count].iov_len;
    ++count;
    skip = 0;
  };
  add(packet.buffer);
  for (const auto& piece : packet.more) add(piece);

  ssize_t sent = 0;
  if (count > 0) {
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = static_cast<std::size_t>(count);
    // With a file range to follow, the pieces wait for its first bytes and share their segments.
    int flags = MSG_NOSIGNAL | (packet.fileRange ? MSG_MORE : 0);
    sent = ::sendmsg(socketFD, &message, flags);
    if (sent < 0) return sent;
    if (static_cast<std::size_t>(sent) < piecesLeft || !allPieces || !packet.fileRange) return sent;
  }

  const DispatchFileRange& range = *packet.fileRange;
  std::size_t pieceBytes = packet.length() - static_cast<std::size_t>(range.length);
  std::uint64_t fileDone = packet.bytesDone + static_cast<std::size_t>(sent) - pieceBytes;
  off_t offset = static_cast<off_t>(range.offset + fileDone);
  std::size_t want = static_cast<std::size_t>(std::min(range.length - fileDone, kMaxSendFileLength));
  ssize_t fromFile;
  {
    // sendfile takes no MSG_NOSIGNAL: a peer that has gone would end the process.
    ns::SigpipeHeldBack held;
    fromFile = ::sendfile(socketFD, range.file->fd(), &offset, want);
  }
  if (fromFile < 0) return sent > 0 ? sent : fromFile;
  if (fromFile == 0) {
    if (sent > 0) return sent;
    // The file is shorter than the range: the promised bytes can never be sent.
    errno = ENODATA;
    return -1;
  }
  return sent + fromFile;
}
