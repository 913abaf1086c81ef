// The pool of body chunk buffers, and chunks as Data.
#include "platform/net/BodyChunks.h"

#include <gtest/gtest.h>

using namespace ns;

TEST(BodyChunksTest, OnlyChunkBuffersAreKeptUpToTheirNumberAndComeBackEmpty) {
  ChunkBuffers pool;
  EXPECT_EQ(pool.take().capacity(), 0u);
  std::vector<std::uint8_t> small;
  small.reserve(1024);
  pool.give(std::move(small));
  EXPECT_EQ(pool.keptCount(), 0u);

  for (std::size_t i = 0; i < ChunkBuffers::kKept + 3; ++i) {
    std::vector<std::uint8_t> buffer;
    buffer.reserve(kBodyChunkBytes);
    buffer.assign(100, 0xab);
    pool.give(std::move(buffer));
  }
  EXPECT_EQ(pool.keptCount(), ChunkBuffers::kKept);
  auto again = pool.take();
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(again.capacity(), kBodyChunkBytes);
  EXPECT_EQ(pool.keptCount(), ChunkBuffers::kKept - 1);
  pool.clear();
  EXPECT_EQ(pool.keptCount(), 0u);
}

TEST(BodyChunksTest, AChunkHoldsItsBytesWithoutACopyWhileAnyCopyOfItLives) {
  std::vector<std::uint8_t> buffer;
  buffer.reserve(kBodyChunkBytes);
  for (int i = 0; i < 1000; ++i) buffer.push_back(static_cast<std::uint8_t>(i));
  const std::uint8_t* where = buffer.data();
  Data chunk = chunkData(std::move(buffer));
  Data copy = chunk;
  chunk = Data();
  ASSERT_EQ(copy.length(), 1000u);
  EXPECT_EQ(copy.bytes(), where);
  for (std::size_t i = 0; i < copy.length(); ++i) ASSERT_EQ(copy.bytes()[i], static_cast<std::uint8_t>(i));
}
