// The guarded region's pools. Faults on the protected pool are shown by the crash test program.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "CrashReporter/CRSAllocator.h"

namespace {

TEST(Allocator, SizesRoundUpToWholePagesPlusOne) {
  EXPECT_EQ(CRSAllocatorRoundToPages(0, 4096), 4096u);
  EXPECT_EQ(CRSAllocatorRoundToPages(1, 4096), 4096u);
  EXPECT_EQ(CRSAllocatorRoundToPages(4096, 4096), 8192u);
  EXPECT_EQ(CRSAllocatorRoundToPages(4097, 4096), 8192u);
}

TEST(Allocator, AllocationsAreAlignedZeroedAndFromTheirPool) {
  CRSAllocator* allocator = CRSAllocatorCreate(10000, 10000);
  ASSERT_NE(allocator, nullptr);
  for (std::size_t size : {1u, 3u, 17u, 100u, 33u}) {
    for (int pool : {CRSAllocatorProtectedPool, CRSAllocatorWritablePool}) {
      auto* p = static_cast<unsigned char*>(CRSAllocatorAlloc(allocator, size, pool));
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
      for (std::size_t i = 0; i < size; ++i) EXPECT_EQ(p[i], 0);
      EXPECT_EQ(CRSAllocatorOwnsProtected(allocator, p), pool == CRSAllocatorProtectedPool);
    }
  }
  EXPECT_EQ(CRSAllocatorAlloc(allocator, 8, 2), nullptr);
  EXPECT_TRUE(CRSAllocatorUnprotect(allocator));
}

TEST(Allocator, ExhaustedProtectedOrMissingAllocatorsFallBackToMalloc) {
  CRSAllocator* allocator = CRSAllocatorCreate(100, 100);
  ASSERT_NE(allocator, nullptr);
  void* tooBig = CRSAllocatorAlloc(allocator, 1 << 20, CRSAllocatorWritablePool);
  ASSERT_NE(tooBig, nullptr);
  EXPECT_FALSE(CRSAllocatorOwnsProtected(allocator, tooBig));
  std::free(tooBig);

  void* before = CRSAllocatorAlloc(allocator, 16, CRSAllocatorProtectedPool);
  EXPECT_TRUE(CRSAllocatorOwnsProtected(allocator, before));
  EXPECT_TRUE(CRSAllocatorProtect(allocator));
  EXPECT_TRUE(CRSAllocatorProtect(allocator));  // a second call changes nothing
  void* after = CRSAllocatorAlloc(allocator, 16, CRSAllocatorProtectedPool);
  EXPECT_FALSE(CRSAllocatorOwnsProtected(allocator, after));
  std::free(after);
  EXPECT_TRUE(CRSAllocatorUnprotect(allocator));
  // Writable again: the pool serves allocations once more.
  EXPECT_TRUE(
      CRSAllocatorOwnsProtected(allocator, CRSAllocatorAlloc(allocator, 16, CRSAllocatorProtectedPool)));

  void* loose = CRSAllocatorAlloc(nullptr, 32, CRSAllocatorWritablePool);
  ASSERT_NE(loose, nullptr);
  CRSAllocatorFree(nullptr, loose);
}

}  // namespace
