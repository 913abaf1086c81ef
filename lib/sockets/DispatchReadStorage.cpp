#include "lib/sockets/DispatchReadStorage.h"

#include <array>
#include <bit>
#include <mutex>
#include <new>
#include <vector>

#include "platform/core/NoDestructor.h"

namespace dispatch_read_storage {
namespace {

constexpr std::size_t kClasses = std::countr_zero(kLargest) - std::countr_zero(kSmallest) + 1;

std::size_t classOf(std::size_t capacity) {
  return static_cast<std::size_t>(std::countr_zero(capacity) - std::countr_zero(kSmallest));
}

// Never destroyed: a read's bytes may be let go of on any thread while the process exits.
class Kept {
 public:
  std::uint8_t* take(std::size_t capacity) {
    std::lock_guard lock(mutex_);
    auto& spares = free_[classOf(capacity)];
    if (spares.empty()) return nullptr;
    std::uint8_t* storage = spares.back();
    spares.pop_back();
    bytes_ -= capacity;
    return storage;
  }
  void give(std::uint8_t* storage, std::size_t capacity) {
    {
      std::lock_guard lock(mutex_);
      if (bytes_ + capacity <= kKeptBytes) {
        auto& spares = free_[classOf(capacity)];
        try {
          spares.push_back(storage);
          bytes_ += capacity;
          return;
        } catch (const std::bad_alloc&) {
        }
      }
    }
    delete[] storage;
  }
  std::size_t bytes() {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::array<std::vector<std::uint8_t*>, kClasses> free_;
  std::size_t bytes_ = 0;
};

Kept& kept() {
  static ns::NoDestructor<Kept> instance;
  return *instance;
}

}  // namespace

std::shared_ptr<std::uint8_t[]> take(std::size_t n, std::size_t* capacity) {
  try {
    if (n < kSmallest || n > kLargest) {
      *capacity = n;
      return std::make_shared_for_overwrite<std::uint8_t[]>(n);
    }
    std::size_t size = std::bit_ceil(n);
    std::uint8_t* storage = kept().take(size);
    if (!storage) storage = new std::uint8_t[size];
    // (Should its control block fail to allocate, the shared pointer hands the storage to the
    // deleter before throwing.)
    std::shared_ptr<std::uint8_t[]> owner(storage, [size](std::uint8_t* used) { kept().give(used, size); });
    *capacity = size;
    return owner;
  } catch (const std::bad_alloc&) {
    *capacity = 0;
    return nullptr;
  }
}

std::size_t keptBytes() {
  return kept().bytes();
}

}  // namespace dispatch_read_storage
