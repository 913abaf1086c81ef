#pragma once
// Storage for reads of whatever is available, kept for reuse once the last holder of a read's
// bytes lets go of them. A fresh large allocation comes as untouched pages (glibc maps it anew or
// has trimmed it back), and faulting them in as the read fills them cost about as much as the
// read's own copy: a stream of large reads would pay that on every read.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace dispatch_read_storage {

// Reads smaller than this get storage of their own size; larger ones storage of the next power
// of two up to kLargest, which is reused.
inline constexpr std::size_t kSmallest = 64 * 1024;
inline constexpr std::size_t kLargest = 1024 * 1024;
// What waits for reuse in all, over all sizes.
inline constexpr std::size_t kKeptBytes = 4 * 1024 * 1024;

// Storage for at least n bytes, not filled; its size in *capacity. Nothing when the allocator
// cannot give it.
std::shared_ptr<std::uint8_t[]> take(std::size_t n, std::size_t* capacity);

// The bytes waiting for reuse (for tests).
std::size_t keptBytes();

}  // namespace dispatch_read_storage
