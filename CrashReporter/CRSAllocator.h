#pragma once
// The guarded region that holds the crash context: one private mapping laid out as guard page,
// writable pool, guard page, protected pool, guard page. Allocations advance a pool's cursor
// (16-byte aligned, lock-free); the protected pool is made read-only once the context is filled,
// so that a wild write cannot corrupt what the crash handler reads. When a pool is exhausted,
// protected or missing, allocation falls back to malloc.
#include <atomic>
#include <cstddef>
#include <cstdint>

struct CRSAllocatorPool {
  std::uint64_t limit;
  char* start;
  std::atomic<char*> cursor;
};

struct CRSAllocator {
  char* base;
  std::size_t mappingSize;
  std::atomic<std::uint8_t> isProtected;
  CRSAllocatorPool writable;
  CRSAllocatorPool guarded;
};

enum CRSAllocatorPoolKind : int { CRSAllocatorProtectedPool = 0, CRSAllocatorWritablePool = 1 };

// The page size rounding of the region: (n / page + 1) * page.
std::size_t CRSAllocatorRoundToPages(std::size_t bytes, std::size_t page);

CRSAllocator* CRSAllocatorCreate(std::size_t writableSize, std::size_t protectedSize);
// Zeroed memory from pool 0 (protected) or 1 (writable); null for any other pool.
void* CRSAllocatorAlloc(CRSAllocator* allocator, std::size_t size, int pool);
// Makes the protected pool read-only (once). Answers whether it is read-only afterwards.
bool CRSAllocatorProtect(CRSAllocator* allocator);
// Makes the whole mapping readable and writable again.
bool CRSAllocatorUnprotect(CRSAllocator* allocator);
// Frees memory only when it came from malloc for lack of an allocator.
void CRSAllocatorFree(CRSAllocator* allocator, void* pointer);
// Whether `pointer` lies inside the allocator's protected pool.
bool CRSAllocatorOwnsProtected(const CRSAllocator* allocator, const void* pointer);
