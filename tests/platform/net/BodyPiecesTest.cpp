// The pool of body piece buffers, and pieces as Data.
#include "platform/net/BodyPieces.h"

#include <gtest/gtest.h>

using namespace ns;

TEST(BodyPiecesTest, OnlyPieceBuffersAreKeptUpToTheirNumberAndComeBackEmpty) {
  PieceBuffers pool;
  EXPECT_EQ(pool.take().capacity(), 0u);
  std::vector<std::uint8_t> small;
  small.reserve(1024);
  pool.give(std::move(small));
  EXPECT_EQ(pool.keptCount(), 0u);

  for (std::size_t i = 0; i < PieceBuffers::kKept + 3; ++i) {
    std::vector<std::uint8_t> buffer;
    buffer.reserve(kBodyPieceBytes);
    buffer.assign(100, 0xab);
    pool.give(std::move(buffer));
  }
  EXPECT_EQ(pool.keptCount(), PieceBuffers::kKept);
  auto again = pool.take();
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(again.capacity(), kBodyPieceBytes);
  EXPECT_EQ(pool.keptCount(), PieceBuffers::kKept - 1);
  pool.clear();
  EXPECT_EQ(pool.keptCount(), 0u);
}

TEST(BodyPiecesTest, APieceHoldsItsBytesWithoutACopyWhileAnyCopyOfItLives) {
  std::vector<std::uint8_t> buffer;
  buffer.reserve(kBodyPieceBytes);
  for (int i = 0; i < 1000; ++i) buffer.push_back(static_cast<std::uint8_t>(i));
  const std::uint8_t* where = buffer.data();
  Data piece = pieceData(std::move(buffer));
  Data copy = piece;
  piece = Data();
  ASSERT_EQ(copy.length(), 1000u);
  EXPECT_EQ(copy.bytes(), where);
  for (std::size_t i = 0; i < copy.length(); ++i) ASSERT_EQ(copy.bytes()[i], static_cast<std::uint8_t>(i));
}
