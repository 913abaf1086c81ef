#include "platform/net/BodyPieces.h"

#include <memory>

#include "platform/core/NoDestructor.h"
#include "platform/net/URLConnection.h"

namespace ns {

const std::size_t PieceBuffers::kKept = URLConnection::kMaxQueuedBodyBytes / kBodyPieceBytes + 2;

std::vector<std::uint8_t> PieceBuffers::take() {
  std::lock_guard lock(mutex_);
  if (free_.empty()) return {};
  auto buffer = std::move(free_.back());
  free_.pop_back();
  return buffer;
}

void PieceBuffers::give(std::vector<std::uint8_t>&& buffer) {
  if (buffer.capacity() != kBodyPieceBytes) return;
  buffer.clear();
  std::lock_guard lock(mutex_);
  if (free_.size() < kKept) free_.push_back(std::move(buffer));
}

void PieceBuffers::clear() {
  std::vector<std::vector<std::uint8_t>> dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(free_);
}

std::size_t PieceBuffers::keptCount() {
  std::lock_guard lock(mutex_);
  return free_.size();
}

PieceBuffers& pieceBuffers() {
  static NoDestructor<PieceBuffers> buffers;
  return *buffers;
}

Data pieceData(std::vector<std::uint8_t>&& buffer) {
  auto owner = std::shared_ptr<std::vector<std::uint8_t>>(new std::vector<std::uint8_t>(std::move(buffer)),
                                                          [](std::vector<std::uint8_t>* used) {
                                                            pieceBuffers().give(std::move(*used));
                                                            delete used;
                                                          });
  const std::uint8_t* bytes = owner->data();
  std::size_t length = owner->size();
  return Data(std::move(owner), bytes, length);
}

}  // namespace ns
