// The material table: the index and its bounds, hand-worked imbalance
// scores, the colour symmetry of every entry, the draw marks, and the
// positions' look-ups including the out-of-table path.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "board_helpers.h"
#include "engine/attacks.h"
#include "engine/endgame.h"
#include "engine/material.h"
#include "engine/position.h"
#include "engine/zobrist.h"

namespace {

class MaterialEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    MaterialTable::Build();
  }
};

[[maybe_unused]] ::testing::Environment* const Material =
    ::testing::AddGlobalTestEnvironment(new MaterialEnvironment);

// Counts in the order of the table's arguments: wQ bQ wR bR wB bB wN bN wP bP.
using Counts = std::array<int, 10>;

int IndexOf(const Counts& c) { return MaterialTable::Index(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9]); }

int Evaluate(const Counts& c, int& blackPhase, int& whitePhase) {
  return MaterialTable::EvaluateMaterial(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], blackPhase,
                                         whitePhase);
}

int Evaluate(const Counts& c) {
  int blackPhase, whitePhase;
  return Evaluate(c, blackPhase, whitePhase);
}

Counts SwapColours(const Counts& c) { return {c[1], c[0], c[3], c[2], c[5], c[4], c[7], c[6], c[9], c[8]}; }

// The counts of a table index, digit by digit (bP lowest).
Counts CountsOfIndex(int index) {
  constexpr int radix[10] = {2, 2, 3, 3, 3, 3, 3, 3, 9, 9};
  Counts c{};
  for (int i = 9; i >= 0; --i) {
    c[i] = index % radix[i];
    index /= radix[i];
  }
  return c;
}

TEST(MaterialTableIndex, StartPositionIsTheLastEntryWithFullPhasesAndNoScore) {
  const Counts start{1, 1, 2, 2, 2, 2, 2, 2, 8, 8};
  EXPECT_EQ(IndexOf(start), 236195);
  EXPECT_EQ(MaterialTable::Size, 236196);
  const MaterialEntry& entry = MaterialTable::Entry(236195);
  EXPECT_EQ(entry.score, 0);
  EXPECT_EQ(BlackPhaseOf(entry.info), 8);
  EXPECT_EQ(WhitePhaseOf(entry.info), 8);
  EXPECT_EQ(FromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1").Matkey, 236195);
}

TEST(MaterialTableIndex, CountsOutsideTheTableGiveMinusOneNeverAWildIndex) {
  const Counts outside[] = {
      {2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 2, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 3, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 3, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 3, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 3, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 3, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 3, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 9, 0},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 9}, {1, 1, 2, 2, 2, 2, 2, 2, 8, 9}, {0, 0, 0, 0, 0, 0, 0, 0, -1, 0},
      {-1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Counts& c : outside) EXPECT_EQ(IndexOf(c), -1) << c[0] << c[1] << c[2] << c[3] << c[8] << c[9];
}

TEST(MaterialTable, EveryEntryIsBuiltFromItsCountsInIndexOrder) {
  for (int index = 0; index < MaterialTable::Size; ++index) {
    const Counts c = CountsOfIndex(index);
    ASSERT_EQ(IndexOf(c), index);
    int blackPhase, whitePhase;
    const int score = Evaluate(c, blackPhase, whitePhase);
    const MaterialEntry& entry = MaterialTable::Entry(index);
    ASSERT_EQ(entry.score, score) << index;
    ASSERT_EQ(BlackPhaseOf(entry.info), blackPhase) << index;
    ASSERT_EQ(WhitePhaseOf(entry.info), whitePhase) << index;
    ASSERT_EQ(whitePhase, MaterialPhase(c[4] + c[6] + 2 * c[2] + 4 * c[0])) << index;
  }
}

TEST(MaterialTable, SwappedColoursNegateTheScoreAndMirrorTheMarks) {
  for (int index = 0; index < MaterialTable::Size; ++index) {
    const Counts c = CountsOfIndex(index);
    const MaterialEntry& entry = MaterialTable::Entry(index);
    const MaterialEntry& swapped = MaterialTable::Entry(IndexOf(SwapColours(c)));
    ASSERT_EQ(swapped.score, -entry.score) << index;
    ASSERT_EQ(BlackPhaseOf(swapped.info), WhitePhaseOf(entry.info)) << index;
    ASSERT_EQ((swapped.info & FlagWhiteRookMinorVsRook) != 0, (entry.info & FlagBlackRookMinorVsRook) != 0) << index;
    ASSERT_EQ((swapped.info & FlagNoMatingMaterial) != 0, (entry.info & FlagNoMatingMaterial) != 0) << index;
    ASSERT_EQ(swapped.scale == ScaleKRKRP, entry.scale == ScaleKRPKR) << index;
    ASSERT_EQ(swapped.scale == nullptr, entry.scale == nullptr) << index;
  }
  EXPECT_EQ(MaterialTable::Entry(IndexOf({0, 0, 1, 1, 0, 0, 0, 0, 1, 0})).scale, ScaleKRPKR);
  EXPECT_EQ(MaterialTable::Entry(IndexOf({0, 0, 1, 1, 0, 0, 0, 0, 0, 1})).scale, ScaleKRKRP);
}

TEST(MaterialScore, SwappedColoursNegateBeyondTheTableToo) {
  const int pawnCounts[] = {0, 1, 2, 5, 8, 9};
  for (int wQ = 0; wQ <= 3; ++wQ)
    for (int bQ = 0; bQ <= 2; ++bQ)
      for (int wR = 0; wR <= 3; ++wR)
        for (int bR = 0; bR <= 3; ++bR)
          for (int wM = 0; wM <= 4; ++wM)
            for (int bM = 0; bM <= 4; ++bM)
              for (int wP : pawnCounts)
                for (int bP : pawnCounts) {
                  // Minors split both ways, so that bishop pairs and knight
                  // differences come up.
                  const Counts c{wQ, bQ, wR, bR, wM / 2, bM - bM / 2, wM - wM / 2, bM / 2, wP, bP};
                  int blackPhase, whitePhase, swappedBlack, swappedWhite;
                  const int score = Evaluate(c, blackPhase, whitePhase);
                  ASSERT_EQ(Evaluate(SwapColours(c), swappedBlack, swappedWhite), -score);
                  ASSERT_EQ(swappedBlack, whitePhase);
                  ASSERT_EQ(swappedWhite, blackPhase);
                }
}

// Scores worked out by hand from the base values and the imbalance tables.
TEST(MaterialScore, HandWorkedImbalances) {
  struct Case {
    const char* name;
    Counts counts;
    int score;
  };
  const Case cases[] = {
      // 10547 - (8144 + 7 x 8561) / 8, the queen side's bishop bonus 68 / 189.
      {"queen against rook and bishop", {1, 0, 0, 1, 0, 1, 0, 0, 0, 0}, 2039},
      // Majority bonus 2 x 360 / 3, rook ending -242, black's deficit 131.
      {"rook and three pawns against rook and two", {0, 0, 1, 1, 0, 0, 0, 0, 3, 2}, 998},
      // Two minors per rook: black EG -710.
      {"rook against knight and bishop", {0, 0, 1, 0, 0, 1, 0, 1, 0, 0}, -996},
      // Rook for a minor: white EG 737 + 272.
      {"rook and knight against knight and bishop", {0, 0, 1, 0, 0, 1, 1, 1, 0, 0}, 2938},
      // The same against the bishop pair: black EG +47.
      {"rook and knight against two bishops", {0, 0, 1, 0, 0, 2, 1, 0, 0, 0}, 3210},
      // Outside the table: the second queen costs 771 / 767.
      {"two queens against none", {2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 19949},
      {"two queens against one", {2, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 9860},
      {"two queens each", {2, 2, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Evaluate(c.counts), c.score) << c.name;
}

TEST(MaterialFlags, DrawMarksFollowTheMaterial) {
  struct Case {
    const char* fen;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"8/8/4k3/8/8/8/8/4K3 w - - 0 1", FlagNoMatingMaterial},
      {"8/8/4k3/8/8/8/8/3NK3 w - - 0 1", FlagNoMatingMaterial},
      {"8/8/4k3/8/8/8/8/3BK3 w - - 0 1", FlagNoMatingMaterial},
      {"8/8/4k3/8/8/8/8/3bK3 w - - 0 1", FlagNoMatingMaterial},
      {"8/8/4k3/8/8/8/8/2NNK3 w - - 0 1", 0},
      {"8/8/4k3/8/8/8/3P4/3NK3 w - - 0 1", 0},
      {"8/8/4k3/8/8/8/8/2BnK3 w - - 0 1", 0},
      {"8/8/4k3/r7/8/8/8/2BRK3 w - - 0 1", FlagWhiteRookMinorVsRook},
      {"8/8/4k3/r7/8/8/8/2NRK3 w - - 0 1", FlagWhiteRookMinorVsRook},
      {"8/8/4k3/rn6/8/8/8/2BRK3 w - - 0 1", FlagWhiteRookMinorVsRook | FlagBlackRookMinorVsRook},
      {"8/8/4k3/rn6/p7/8/8/2BRK3 w - - 0 1", FlagWhiteRookMinorVsRook},
      {"8/8/4k3/r7/8/8/P7/2BRK3 w - - 0 1", 0},
      {"8/8/4k3/r7/8/8/8/1BBRK3 w - - 0 1", 0},
      {"8/8/4k3/rb6/8/8/8/3RK3 w - - 0 1", FlagBlackRookMinorVsRook},
  };
  for (const Case& c : cases) {
    const Position pos = FromFen(c.fen);
    ASSERT_GE(pos.Matkey, 0) << c.fen;
    EXPECT_EQ(MaterialTable::Entry(pos.Matkey).info & ~0xffu, c.flags) << c.fen;
  }
}

TEST(MaterialLookup, PositionsOutsideTheTableAreScoredOnTheFly) {
  struct Case {
    const char* fen;
    int score;
  };
  const Case cases[] = {
      {"q3k3/8/8/8/8/8/8/QQ2K3 w - - 0 1", 9860},
      {"qq2k3/8/8/8/8/8/8/Q3K3 w - - 0 1", -9860},
      {"4k3/8/8/8/8/8/8/QQ2K3 b - - 0 1", 19949},
  };
  for (const Case& c : cases) {
    const Position pos = FromFen(c.fen);
    EXPECT_EQ(pos.Matkey, -1) << c.fen;
    int blackPhase = -1, whitePhase = -1;
    EXPECT_EQ(pos.GetMaterialScore(blackPhase, whitePhase), c.score) << c.fen;
    EXPECT_EQ(pos.CallEndgameFunction(), 0) << c.fen;
  }
  int blackPhase, whitePhase;
  FromFen("q3k3/8/8/8/8/8/8/QQ2K3 w - - 0 1").GetMaterialScore(blackPhase, whitePhase);
  EXPECT_EQ(blackPhase, 1);
  EXPECT_EQ(whitePhase, 5);
}

TEST(MaterialLookup, PositionsInsideTheTableReadTheirEntry) {
  const char* fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
  };
  for (const char* fen : fens) {
    const Position pos = FromFen(fen);
    ASSERT_GE(pos.Matkey, 0) << fen;
    const MaterialEntry& entry = MaterialTable::Entry(pos.Matkey);
    int blackPhase, whitePhase;
    EXPECT_EQ(pos.GetMaterialScore(blackPhase, whitePhase), entry.score) << fen;
    EXPECT_EQ(blackPhase, BlackPhaseOf(entry.info)) << fen;
    EXPECT_EQ(whitePhase, WhitePhaseOf(entry.info)) << fen;
    EXPECT_EQ(pos.CallEndgameFunction(), 0) << fen;
  }
}

// King, rook and pawn against king and rook, for the pawn's owner in either
// colour; the black cases are the white ones with the ranks turned.
TEST(RookPawnScale, ClassesOfTheRookEndingRules) {
  struct Case {
    const char* fen;
    int scale;
  };
  const Case cases[] = {
      // Rook pawn, defending king in front of it.
      {"8/k7/8/P7/8/7r/1R6/4K3 w - - 0 1", 7},
      {"4k3/1r6/7R/8/p7/8/K7/8 b - - 0 1", 7},
      // Rook pawn short of the seventh rank, king not in front.
      {"8/8/2k5/P7/8/7r/1R6/4K3 w - - 0 1", 0},
      // h-pawn on the seventh, own king on h8: defender on f7 with the rook on
      // the g-file holds; a checking rook on the g-file with the attacking
      // rook off the back ranks scales less.
      {"7K/5k1P/8/8/8/8/6r1/R7 w - - 0 1", 7},
      {"7K/4k2P/8/8/8/8/6r1/R7 w - - 0 1", 6},
      {"R6K/4k2P/8/8/8/8/6r1/8 w - - 0 1", 0},
      {"r7/6R1/8/8/8/8/4K2p/7k b - - 0 1", 6},
      {"8/6R1/8/8/8/8/4K2p/r6k b - - 0 1", 0},
      // Rook on the promotion square, defending king on the seventh rank.
      {"R7/P3k3/8/8/8/8/1K6/7r b - - 0 1", 7},
      {"R7/P3k3/8/8/8/8/1K6/r7 w - - 0 1", 7},
      {"R7/P3k3/8/8/8/8/1K6/7r w - - 0 1", 0},
      // c-pawn on the seventh, long side clear, rook far on it, defender to move.
      {"2k4r/2P5/1K6/8/8/8/8/R7 b - - 0 1", 5},
      {"2k4r/2P5/1K6/8/8/8/8/R7 w - - 0 1", 0},
      {"r7/8/8/8/8/1k6/2p5/2K4R w - - 0 1", 5},
      {"r7/8/8/8/8/1k6/2p5/2K4R b - - 0 1", 0},
      // b- and g-pawns on the sixth with the defender in the corner.
      {"k4r2/8/1P6/8/8/8/8/K6R w - - 0 1", 5},
      {"k2r4/8/1P6/8/8/8/8/K6R w - - 0 1", 0},
      {"2r3k1/8/6P1/8/8/8/8/K6R b - - 0 1", 5},
      // d-pawn on the sixth: defending king in front, rook on the first ranks.
      {"3k4/8/3P4/8/8/8/7r/K6R w - - 0 1", 5},
      {"3k4/8/3PK3/8/8/8/7r/7R w - - 0 1", 0},
      {"3k4/8/3P4/8/8/7r/8/K6R w - - 0 1", 0},
      // Pawn further back.
      {"3k4/8/8/8/3P4/8/7r/K6R w - - 0 1", 0},
  };
  for (const Case& c : cases) {
    const Position pos = FromFen(c.fen);
    ASSERT_GE(pos.Matkey, 0) << c.fen;
    EXPECT_EQ(pos.CallEndgameFunction(), c.scale) << c.fen;
  }
}

}  // namespace
