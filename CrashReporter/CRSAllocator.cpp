#include "CrashReporter/CRSAllocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "CrashReporter/CRSSafeLog.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr std::size_t kAlignment = 16;

std::size_t pageSize() {
  long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    CRSSafeLog("sysconf failed while trying to get the page size\n");
    return 4096;
  }
  return static_cast<std::size_t>(page);
}

void* fallback(std::size_t size, const char* why) {
  CRSSafeLog(why);
  return std::calloc(1, size ? size : 1);
}

void* take(CRSAllocatorPool& pool, std::size_t size) {
  std::size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
  char* cursor = pool.cursor.load();
  for (;;) {
    char* next = cursor + rounded;
    if (next > pool.start + pool.limit || next < cursor) return nullptr;
    if (pool.cursor.compare_exchange_weak(cursor, next)) return cursor;
  }
}

}  // namespace

std::size_t CRSAllocatorRoundToPages(std::size_t bytes, std::size_t page) {
  return (bytes / page + 1) * page;
}

CRSAllocator* CRSAllocatorCreate(std::size_t writableSize, std::size_t protectedSize) {
  std::size_t page = pageSize();
  std::size_t writable = CRSAllocatorRoundToPages(writableSize, page);
  // The allocator's own header lives at the start of the protected pool.
  std::size_t guarded = CRSAllocatorRoundToPages(protectedSize + sizeof(CRSAllocator), page);
  std::size_t total = writable + guarded + 3 * page;
  void* mapping = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
  if (mapping == MAP_FAILED) {
    CRSSafeLog("[Allocator] Mapping failed %d\n");
    return nullptr;
  }
  char* base = static_cast<char*>(mapping);
  char* writableStart = base + page;
  char* middleGuard = writableStart + writable;
  char* guardedStart = middleGuard + page;
  char* lastGuard = guardedStart + guarded;
  const char* failure = nullptr;
  if (::mprotect(base, page, PROT_NONE) != 0) {
    failure = "[Allocator] First guard protection failed %d\n";
  } else if (::mprotect(middleGuard, page, PROT_NONE) != 0) {
    failure = "[Allocator] Middle guard protection failed %d\n";
  } else if (::mprotect(lastGuard, page, PROT_NONE) != 0) {
    failure = "[Allocator] Last guard protection failed %d\n";
  }
  if (failure) {
    CRSSafeLog(failure);
    ::munmap(mapping, total);
    return nullptr;
  }
#if defined(__SANITIZE_ADDRESS__)
  // The pools hold the only references to memory the context owns for good: let the leak checker
  // see them.
  __lsan_register_root_region(writableStart, writable);
  __lsan_register_root_region(guardedStart, guarded);
#endif
  auto* allocator = new (guardedStart) CRSAllocator{};
  allocator->base = base;
  allocator->mappingSize = total;
  allocator->isProtected = 0;
  allocator->writable.limit = writable;
  allocator->writable.start = writableStart;
  allocator->writable.cursor = writableStart;
  std::size_t header = (sizeof(CRSAllocator) + kAlignment - 1) & ~(kAlignment - 1);
  allocator->guarded.limit = guarded - header;
  allocator->guarded.start = guardedStart + header;
  allocator->guarded.cursor = guardedStart + header;
  return allocator;
}

void* CRSAllocatorAlloc(CRSAllocator* allocator, std::size_t size, int pool) {
  if (pool != CRSAllocatorProtectedPool && pool != CRSAllocatorWritablePool) return nullptr;
  if (!allocator) return fallback(size, "[Allocator] Allocator invalid, falling back to malloc\n");
  if (allocator->isProtected.load()) {
    return fallback(size, "[Allocator] Allocator already protected, falling back to malloc\n");
  }
  CRSAllocatorPool& from = pool == CRSAllocatorProtectedPool ? allocator->guarded : allocator->writable;
  void* memory = take(from, size);
  if (!memory) {
    return fallback(size, "[Allocator] Unable to allocate sufficient memory, falling back to malloc\n");
  }
  // Anonymous mappings start zeroed and the cursor never moves back, so the memory is still zero.
  return memory;
}

bool CRSAllocatorProtect(CRSAllocator* allocator) {
  if (!allocator) return false;
  // The header sits in the pool it protects: once protected it may only be read.
  if (allocator->isProtected.load()) return true;
  allocator->isProtected = 1;
  char* start = reinterpret_cast<char*>(allocator);
  std::size_t length = static_cast<std::size_t>(allocator->guarded.start - start) + allocator->guarded.limit;
  if (::mprotect(start, length, PROT_READ) != 0) {
    allocator->isProtected = 0;
    return false;
  }
  return true;
}

bool CRSAllocatorUnprotect(CRSAllocator* allocator) {
  if (!allocator) return false;
  if (::mprotect(allocator->base, allocator->mappingSize, PROT_READ | PROT_WRITE) != 0) return false;
  allocator->isProtected = 0;
  return true;
}

void CRSAllocatorFree(CRSAllocator* allocator, void* pointer) {
  if (!allocator) std::free(pointer);
}

bool CRSAllocatorOwnsProtected(const CRSAllocator* allocator, const void* pointer) {
  if (!allocator) return false;
  const char* p = static_cast<const char*>(pointer);
  return p >= allocator->guarded.start && p < allocator->guarded.start + allocator->guarded.limit;
}
