#include "engine/zobrist.h"

#include <gtest/gtest.h>

#include "support/random.h"

TEST(ZobristKeys, FollowTheFixedDrawOrder) {
  InitZobristKeys();
  MersenneTwister generator;
  generator.SeedByArray(EngineSeedKey, 4);
  EXPECT_EQ(ZobristKeys.PieceSquare[0][0], generator.Next64());
  EXPECT_EQ(ZobristKeys.PieceSquare[0][1], generator.Next64());
  for (int draw = 2 * 2; draw < 2212; draw++) generator.Next();
  // The first pawn key is built from the 2213th and 2214th draws.
  EXPECT_EQ(ZobristKeys.Pawn[0][0], generator.Next64());
  EXPECT_EQ(ZobristKeys.Side, 1u);
}

TEST(ZobristKeys, EnPassantAndCastlingFollowPieceSquareKeys) {
  InitZobristKeys();
  MersenneTwister generator;
  generator.SeedByArray(EngineSeedKey, 4);
  for (int i = 0; i < 1024; i++) generator.Next64();
  EXPECT_EQ(ZobristKeys.EnPassant[0], generator.Next64());
  for (int i = 1; i < 65; i++) generator.Next64();
  EXPECT_EQ(ZobristKeys.Castling[0], generator.Next64());
  for (int i = 1; i < 15; i++) generator.Next64();
  EXPECT_EQ(ZobristKeys.Castling[15], generator.Next64());
}
