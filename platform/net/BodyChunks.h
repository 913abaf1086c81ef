#pragma once
// The buffers the URL loading engine gathers a body in and hands to delegates as chunks. Internal
// to the loading engine (and its tests).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/core/Data.h"

namespace ns {

// curl hands a body over in chunks of at most 16 KiB; they are gathered up to this much (what
// curl reads from the socket at once, its largest) or to what one turn of the engine received,
// and go to the delegate as one chunk: a fast transfer costs a delivery and a file write per
// chunk of this size, not per 16 KiB.
inline constexpr std::size_t kBodyChunkBytes = 512 * 1024;

// Chunk buffers come back here once their delegate is done with them, so that a fast transfer
// copies into memory that is mapped and warm in the cache rather than into fresh pages. Emptied
// whenever the engine has no load.
class ChunkBuffers {
 public:
  // Buffers of delivered chunks kept for the next ones: as many as a held-back transfer's queue
  // holds, so that a transfer that fills it and drains it takes no fresh memory.
  static const std::size_t kKept;

  // A kept buffer (empty, with its capacity), or an empty vector when none is kept.
  std::vector<std::uint8_t> take();
  // Keeps `buffer` for a later chunk if it is a chunk buffer and fewer than kKept are kept.
  void give(std::vector<std::uint8_t>&& buffer);
  void clear();
  std::size_t keptCount();

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> free_;
};

// The process's pool. Never destroyed: chunks may be let go of while the process exits.
ChunkBuffers& chunkBuffers();

// The chunk in `buffer` as Data that hands the buffer back to the pool when the last copy goes.
Data chunkData(std::vector<std::uint8_t>&& buffer);

}  // namespace ns
