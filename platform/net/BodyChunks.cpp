#include "platform/net/BodyChunks.h"

#include <memory>

#include "platform/core/NoDestructor.h"
#include "platform/net/URLConnection.h"

namespace ns {

const std::size_t ChunkBuffers::kKept = URLConnection::kMaxQueuedBodyBytes / kBodyChunkBytes + 2;

std::vector<std::uint8_t> ChunkBuffers::take() {
  std::lock_guard lock(mutex_);
  if (free_.empty()) return {};
  auto buffer = std::move(free_.back());
  free_.pop_back();
  return buffer;
}

void ChunkBuffers::give(std::vector<std::uint8_t>&& buffer) {
  if (buffer.capacity() != kBodyChunkBytes) return;
  buffer.clear();
  std::lock_guard lock(mutex_);
  if (free_.size() < kKept) free_.push_back(std::move(buffer));
}

void ChunkBuffers::clear() {
  std::vector<std::vector<std::uint8_t>> dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(free_);
}

std::size_t ChunkBuffers::keptCount() {
  std::lock_guard lock(mutex_);
  return free_.size();
}

ChunkBuffers& chunkBuffers() {
  static NoDestructor<ChunkBuffers> buffers;
  return *buffers;
}

Data chunkData(std::vector<std::uint8_t>&& buffer) {
  auto owner = std::shared_ptr<std::vector<std::uint8_t>>(new std::vector<std::uint8_t>(std::move(buffer)),
                                                          [](std::vector<std::uint8_t>* used) {
                                                            chunkBuffers().give(std::move(*used));
                                                            delete used;
                                                          });
  const std::uint8_t* bytes = owner->data();
  std::size_t length = owner->size();
  return Data(std::move(owner), bytes, length);
}

}  // namespace ns
