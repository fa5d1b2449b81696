// Attack tables and queries: magic lookups against a plain ray walk,
// distances, exchange evaluation and the safe-move test.
#include <gtest/gtest.h>

#include <random>

#include "board_helpers.h"

namespace {

Bitboard SlowSlide(int square, Bitboard occupied, bool rook) {
  static constexpr int Rook[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  static constexpr int Bishop[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  Bitboard result = 0;
  for (const auto& d : rook ? Rook : Bishop)
    for (int r = RowOf(square) + d[0], f = FileOf(square) + d[1]; r >= 0 && r < 8 && f >= 0 && f < 8;
         r += d[0], f += d[1]) {
      result |= SquareBit(MakeSquare(f, r));
      if (occupied & SquareBit(MakeSquare(f, r))) break;
    }
  return result;
}

}  // namespace

TEST(AttackTables, MagicLookupsMatchARayWalk) {
  std::mt19937_64 random(12345);
  for (int trial = 0; trial < 2000; ++trial) {
    const Bitboard occupied = random() & random();
    for (int s = 0; s < 64; ++s) {
      ASSERT_EQ(RookAttacksFrom(s, occupied), SlowSlide(s, occupied, true)) << s;
      ASSERT_EQ(BishopAttacksFrom(s, occupied), SlowSlide(s, occupied, false)) << s;
    }
  }
}

TEST(AttackTables, LinesAndDistances) {
  EXPECT_EQ(KingDistance[SquareA1][SquareH8], 7);
  EXPECT_EQ(KingDistance[36][36], 0);
  EXPECT_EQ(Between[SquareA1][SquareH8], SlowSlide(SquareA1, SquareBit(SquareH8), false) & ~SquareBit(SquareH8));
  EXPECT_EQ(Between[SquareA1][SquareB1], 0u);
  EXPECT_EQ(Between[SquareA1][SquareB1 - 16], 0u);
  EXPECT_EQ(LineBeyond[SquareA1][SquareC1], SquareBit(SquareD1) | SquareBit(SquareE1) | SquareBit(SquareF1) |
                                                SquareBit(SquareG1) | SquareBit(SquareH1));
  EXPECT_EQ(LineOutside[SquareC1][SquareE1], SquareBit(SquareA1) | SquareBit(SquareB1) | SquareBit(SquareF1) |
                                                 SquareBit(SquareG1) | SquareBit(SquareH1));
  EXPECT_EQ(KingAttacks[SquareA1], SquareBit(SquareA1) | SquareBit(SquareB1) | SquareBit(48) | SquareBit(49));
  EXPECT_EQ(PawnAttacks[White][36], SquareBit(27) | SquareBit(29));
  EXPECT_EQ(PopCount(0xffffffffffffffffULL), 64);
  EXPECT_EQ(CountBitsByLoop(0x8000000000000001ULL), 2);
}

TEST(AttackTables, PawnMasks) {
  const int e4 = 36, e2 = 52, d7 = 11;
  EXPECT_EQ(FrontFile[White][e4], SquareBit(4) | SquareBit(12) | SquareBit(20) | SquareBit(28));
  EXPECT_EQ(FrontFile[Black][e4], SquareBit(44) | SquareBit(52) | SquareBit(60));
  EXPECT_EQ(AdjacentFrontFiles[White][e4], FrontFile[White][e4 - 1] | FrontFile[White][e4 + 1]);
  EXPECT_EQ(PawnSupport[White][e4], SquareBit(35) | SquareBit(37) | SquareBit(43) | SquareBit(45));
  EXPECT_EQ(PawnSupport[Black][e4], SquareBit(35) | SquareBit(37) | SquareBit(27) | SquareBit(29));
  // A pawn on its start rank counts as one step on: rows 0..5, files within 5.
  EXPECT_EQ(PawnSquare[White][e2], (RowBits(0) | RowBits(1) | RowBits(2) | RowBits(3) | RowBits(4) | RowBits(5)));
  EXPECT_EQ(PawnSquare[White][e4], RowBits(0) | RowBits(1) | RowBits(2) | RowBits(3) | RowBits(4));
  // A black pawn on h4 (row 4): rows 4..7, files within 3 of h.
  EXPECT_EQ(PawnSquare[Black][39], (RowBits(4) | RowBits(5) | RowBits(6) | RowBits(7)) &
                                       (FileBits(4) | FileBits(5) | FileBits(6) | FileBits(7)));
  EXPECT_TRUE(PawnSquare[Black][d7] & SquareBit(SquareD1));
  EXPECT_EQ(PawnSquare[Black][d7] & RowBits(1), 0u);
}

TEST(AttackQueries, AttackersAndXrays) {
  const Position pos = FromFen("3r3k/8/8/3p4/8/3R4/3K4/3R4 w - - 0 1");
  EXPECT_TRUE(pos.IsAttacked(27, White));
  EXPECT_EQ(pos.AttackersOf(27, White), SquareBit(43));
  EXPECT_EQ(pos.AllAttackersOf(27), SquareBit(43) | SquareBit(3));
  // The white king on d2 blocks the rook on d1.
  EXPECT_EQ(pos.XrayAttackers(27, SquareBit(43)) & SquareBit(SquareD1), 0u);
}

struct SeeCase {
  const char* Fen;
  int From, To, Threshold, Expected;
};

class ExchangeEvaluation : public ::testing::TestWithParam<SeeCase> {};

TEST_P(ExchangeEvaluation, GivesTheExpectedValue) {
  const Position pos = FromFen(GetParam().Fen);
  EXPECT_EQ(pos.SEEMove(GetParam().From, GetParam().To, GetParam().Threshold), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExchangeEvaluation,
    ::testing::Values(
        // An undefended piece: its value.
        SeeCase{"4k3/8/8/3n4/8/8/8/3RK3 w - - 0 1", 59, 27, -200000, 3284},
        // The king onto a defended square: the threshold.
        SeeCase{"4k3/8/8/8/8/4p3/3p4/4K3 w - - 0 1", 60, 51, -200000, -200000},
        // Knight recaptures before bishop: R takes p, N takes R, P takes N, B takes P.
        SeeCase{"4k3/8/4bn2/3p4/4P3/8/8/3RK3 w - - 0 1", 59, 27, -200000, 773 - 4917 + 3284 - 773},
        // A rook battery: the rook behind joins.
        SeeCase{"3rk3/8/8/3p4/8/8/3R4/3RK3 w - - 0 1", 51, 27, -200000, 773},
        SeeCase{"3rk3/8/8/3p4/8/8/3R4/4K3 w - - 0 1", 51, 27, -200000, 773 - 4917},
        // A king between the rooks blocks the x-ray.
        SeeCase{"3r3k/8/8/3p4/8/3R4/3K4/3R4 w - - 0 1", 43, 27, -200000, 773 - 4917},
        // A queen behind a bishop joins as well.
        SeeCase{"4k3/6p1/5p2/8/8/8/1B6/Q3K3 w - - 0 1", 49, 21, -200000, 773 - 3227 + 773},
        SeeCase{"4k3/6p1/5p2/8/8/8/1B6/4K3 w - - 0 1", 49, 21, -200000, 773 - 3227}));

TEST(SafeMove, QueenNextToAnEnemyKnightIsUnsafeWithoutExchange) {
  const Position pos = FromFen("4k3/8/8/8/5n2/8/8/3QK3 w - - 0 1");
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  EXPECT_FALSE(pos.IsSafeMove(maps, SquareD1, 52));
  EXPECT_TRUE(pos.IsSafeMove(maps, SquareD1, 59 - 8));
}

TEST(SafeMove, PawnPushIntoAPawnAttackGoesToExchange) {
  AttackMaps maps;
  const Position defended = FromFen("4k3/8/3p4/8/3PP3/8/8/4K3 w - - 0 1");
  defended.BuildAttackMaps(maps);
  EXPECT_TRUE(defended.IsSafeMove(maps, 36, 28));
  const Position alone = FromFen("4k3/8/3p4/8/4P3/8/8/4K3 w - - 0 1");
  alone.BuildAttackMaps(maps);
  EXPECT_FALSE(alone.IsSafeMove(maps, 36, 28));
}

TEST(AttackMapsRecord, UnionsAreCumulative) {
  const Position pos = FromFen("r1bqkbnr/pppppppp/2n5/8/8/5N2/PPPPPPPP/RNBQKB1R w KQkq - 0 1");
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  ASSERT_TRUE(maps.Valid);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(maps.Minors[c], maps.Knights[c] | maps.Bishops[c]);
    EXPECT_EQ(maps.UpToMinors[c], maps.Pawns[c] | maps.Minors[c]);
    EXPECT_EQ(maps.UpToRooks[c], maps.UpToMinors[c] | maps.Rooks[c]);
    EXPECT_EQ(maps.UpToQueens[c], maps.UpToRooks[c] | maps.Queens[c]);
    EXPECT_EQ(maps.All[c], maps.UpToQueens[c] | KingAttacks[pos.KingSquare(c)]);
    for (int s = 0; s < 64; ++s)
      EXPECT_EQ((maps.All[c] >> s) & 1, (pos.AttackersOf(s, c) != 0) || s == pos.KingSquare(c)) << c << " " << s;
  }
}
