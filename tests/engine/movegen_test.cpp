// Move generation: the fixed order, evasions, the use of attack maps, and
// the quiescence sets as subsets of the full list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "shared_data.h"

namespace {

std::vector<std::string> Names(const MoveList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count; ++i)
    names.push_back(SquareName(MoveFrom(list.Moves[i])) + SquareName(MoveTo(list.Moves[i])));
  return names;
}

bool Contains(const MoveList& list, Move move) { return std::find(list.Moves, list.Moves + list.Count, move) != list.Moves + list.Count; }

}  // namespace

TEST(GenerateMoves, StartPositionInFixedOrder) {
  Position pos = FromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  const std::vector<std::string> expected = {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3",
                                             "d2d4", "e2e3", "e2e4", "f2f3", "f2f4", "g2g3", "g2g4",
                                             "h2h3", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"};
  EXPECT_EQ(Names(list), expected);
  EXPECT_EQ(list.Moves[1], MakeMoveWord(48, 32) | MovePawn | MoveDoublePush);
  EXPECT_EQ(list.Moves[16], MakeMoveWord(57, 40));
}

TEST(GenerateMoves, PromotionsInOrderQueenKnightRookBishop) {
  Position pos = FromFen("1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  ASSERT_GE(list.Count, 8);
  const int codes[4] = {7, 2, 6, 5};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list.Moves[i], MakeMoveWord(8, 1) | MovePawn | MoveCapture | MovePromotion | (Move(codes[i]) << 12));
    EXPECT_EQ(list.Moves[4 + i], MakeMoveWord(8, 0) | MovePawn | MovePromotion | (Move(codes[i]) << 12));
  }
}

TEST(GenerateMoves, AttackMapsKeepTheKingOffAttackedSquares) {
  // Black rook on f8 covers f1: with maps neither Kf1 nor O-O is produced.
  Position pos = FromFen("4kr2/8/8/8/8/8/8/4K2R w K - 0 1");
  const Move castle = MakeMoveWord(SquareE1, SquareG1) | MoveCastle;
  const Move kingToF1 = MakeMoveWord(SquareE1, SquareF1);
  MoveList plain, guarded;
  GenerateMoves(pos, plain, nullptr);
  EXPECT_TRUE(Contains(plain, castle));
  EXPECT_TRUE(Contains(plain, kingToF1));
  UndoRecord undo;
  EXPECT_FALSE(pos.MakeMove(castle, undo));
  EXPECT_FALSE(pos.MakeMove(kingToF1, undo));
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  GenerateMoves(pos, guarded, &maps);
  EXPECT_FALSE(Contains(guarded, castle));
  EXPECT_FALSE(Contains(guarded, kingToF1));
}

TEST(GenerateMoves, QueenSideCastlingWhileB1IsAttacked) {
  Position pos = FromFen("1r2k3/8/8/8/8/8/8/R3K3 w Q - 0 1");
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  MoveList list;
  GenerateMoves(pos, list, &maps);
  const Move castle = MakeMoveWord(SquareE1, SquareC1) | MoveCastle;
  ASSERT_TRUE(Contains(list, castle));
  UndoRecord undo;
  EXPECT_TRUE(pos.MakeMove(castle, undo));
}

TEST(GenerateEvasions, DoubleCheckAllowsOnlyKingMoves) {
  Position pos = FromFen("4k3/8/8/8/8/5n2/8/r3K2R w K - 0 1");
  ASSERT_TRUE(pos.InCheck());
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  MoveList list;
  GenerateEvasions(pos, list, maps);
  ASSERT_GT(list.Count, 0);
  for (int i = 0; i < list.Count; ++i) EXPECT_EQ(MoveFrom(list.Moves[i]), SquareE1);
}

TEST(GenerateEvasions, KnightCheckHasNoInterpositions) {
  Position pos = FromFen("4k3/8/8/8/8/3n4/8/R3K1R1 w - - 0 1");
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  MoveList list;
  GenerateEvasions(pos, list, maps);
  for (int i = 0; i < list.Count; ++i) {
    const Move m = list.Moves[i];
    EXPECT_TRUE(MoveFrom(m) == SquareE1 || MoveTo(m) == 43) << m;
  }
}

TEST(GenerateEvasions, DoublePushingCheckerTakenEnPassant) {
  // d7-d5 gave check to the king on e4; e5xd6 answers it.
  Position pos = FromFen("4k3/8/8/3pP3/4K3/8/8/8 w - d6 0 1");
  ASSERT_TRUE(pos.InCheck());
  AttackMaps maps;
  pos.BuildAttackMaps(maps);
  MoveList list;
  GenerateEvasions(pos, list, maps);
  const Move ep = MakeMoveWord(28, 19) | MovePawn | MoveEnPassant | MoveCapture;
  ASSERT_TRUE(Contains(list, ep));
  UndoRecord undo;
  EXPECT_TRUE(pos.MakeMove(ep, undo));
}

// Walks the perft positions; at every node each quiescence move (without
// its gives-check flag) is a move of the full list, under-promotions are
// only checking knight promotions, and the check flag is right.
TEST(QuiescenceGenerators, ProduceSubsetsOfTheFullList) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  for (const PerftCase& c : ReadPerftCases(path)) {
    Position root = FromFen(c.Fen.c_str());
    MoveList rootList;
    GenerateMoves(root, rootList, nullptr);
    std::vector<Position> nodes = {root};
    for (int i = 0; i < rootList.Count; ++i) {
      Position child = root;
      UndoRecord undo;
      if (child.MakeMove(rootList.Moves[i], undo)) nodes.push_back(child);
    }
    for (Position& pos : nodes) {
      if (pos.InCheck()) continue;
      AttackMaps maps;
      pos.BuildAttackMaps(maps);
      MoveList full, quiet, checks;
      GenerateMoves(pos, full, nullptr);
      GenerateQuiescenceMoves(pos, quiet, maps);
      GenerateQuiescenceChecks(pos, checks, maps);
      for (const MoveList* list : {&quiet, &checks})
        for (int i = 0; i < list->Count; ++i) {
          const Move m = list->Moves[i];
          ASSERT_TRUE(Contains(full, m & ~MoveGivesCheck)) << pos.GetFEN() << " " << m;
          const int promoted = KindOf(MovePromotionCode(m));
          if (promoted && promoted != Queen) {
            ASSERT_EQ(list, &checks);
            ASSERT_EQ(promoted, Knight);
            ASSERT_TRUE(m & MoveGivesCheck);
          }
          if (m & MoveGivesCheck) {
            Position after = pos;
            UndoRecord undo;
            if (after.MakeMove(m, undo)) {
              ASSERT_TRUE(after.InCheck()) << pos.GetFEN() << " " << m;
            }
          }
        }
    }
  }
}
