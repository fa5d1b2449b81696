// Make/unmake: exact restoration, incremental keys and material index equal
// to those computed from scratch, and the special moves' state changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "board_helpers.h"
#include "engine/material.h"
#include "shared_data.h"

namespace {

// Mailbox, piece lists, counts and bitboards describe the same pieces, and
// keys and material index are what a fresh computation gives.
::testing::AssertionResult Consistent(const Position& pos) {
  Bitboard occupied = 0, colours[2] = {0, 0};
  int counts[2] = {0, 0};
  for (int code = 0; code < 16; ++code) {
    Bitboard fromList = 0;
    for (int i = 0; i < pos.PieceList[code].Count; ++i) fromList |= SquareBit(pos.PieceList[code].Squares[i]);
    Bitboard fromBoard = 0;
    for (int s = 0; s < 64; ++s)
      if (pos.Board[s] == code && code) fromBoard |= SquareBit(s);
    if (code == 0) continue;
    if (fromList != pos.PieceBB[code] || fromBoard != pos.PieceBB[code])
      return ::testing::AssertionFailure() << "piece code " << code << " out of step";
    if (PopCount(fromList) != pos.PieceList[code].Count) return ::testing::AssertionFailure() << "list repeats";
    occupied |= fromList;
    if (code != 4 && code != 8 && code != 12) {
      colours[ColourOf(code)] |= fromList;
      counts[ColourOf(code)] += pos.PieceList[code].Count;
    }
  }
  if (occupied != pos.Occupied || colours[0] != pos.ColourBB[0] || colours[1] != pos.ColourBB[1])
    return ::testing::AssertionFailure() << "occupancy out of step";
  if (counts[0] != pos.PieceCount[0] || counts[1] != pos.PieceCount[1])
    return ::testing::AssertionFailure() << "piece counts out of step";
  Position fresh = pos;
  fresh.ComputeKeys();
  if (fresh.Hashkey != pos.Hashkey || fresh.Pawnkey != pos.Pawnkey)
    return ::testing::AssertionFailure() << "incremental keys differ from computed ones";
  if (pos.ComputeMaterialIndex() != pos.Matkey)
    return ::testing::AssertionFailure() << "Matkey " << pos.Matkey << " computed " << pos.ComputeMaterialIndex();
  return ::testing::AssertionSuccess();
}

// Equal as boards: every field, piece lists compared as sets.
::testing::AssertionResult SameBoard(const Position& a, const Position& b) {
  Position x = a, y = b;
  for (Position* p : {&x, &y})
    for (auto& list : p->PieceList) std::sort(list.Squares, list.Squares + list.Count);
  // History entries at or above Ply are stale by definition.
  for (int i = x.Ply; i < MaxGamePlies; ++i) x.KeyHistory[i] = y.KeyHistory[i] = {0, 0};
  std::memset(x.Message, 0, sizeof(x.Message));
  std::memset(y.Message, 0, sizeof(y.Message));
  for (auto* p : {&x, &y})
    for (auto& list : p->PieceList)
      for (int i = list.Count; i < 15; ++i) list.Squares[i] = 0;
  if (std::memcmp(&x, &y, sizeof(Position)) != 0) return ::testing::AssertionFailure() << "positions differ";
  return ::testing::AssertionSuccess();
}

// Walks the tree to depth, checking every make and unmake.
void WalkAndCheck(Position& pos, int depth, int& moves) {
  if (depth == 0) return;
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  for (int i = 0; i < list.Count; ++i) {
    const Position before = pos;
    UndoRecord undo;
    if (!pos.MakeMove(list.Moves[i], undo)) {
      ASSERT_TRUE(SameBoard(before, pos)) << "refused move changed the board";
      continue;
    }
    ++moves;
    ASSERT_TRUE(Consistent(pos)) << before.GetFEN() << " move " << list.Moves[i];
    ASSERT_EQ(pos.Ply, before.Ply + 1);
    const Move m = list.Moves[i];
    if (m & (MoveCapture | MoveCastle | MovePawn)) ASSERT_EQ(pos.Fifty, 0);
    else ASSERT_EQ(pos.Fifty, before.Fifty + 1);
    WalkAndCheck(pos, depth - 1, moves);
    pos.UnmakeMove(undo);
    ASSERT_TRUE(SameBoard(before, pos)) << before.GetFEN() << " move " << m;
  }
}

}  // namespace

TEST(MakeUnmake, RestoresEveryPerftPositionExactly) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  for (const PerftCase& c : ReadPerftCases(path)) {
    SCOPED_TRACE(c.Fen);
    Position pos = FromFen(c.Fen.c_str());
    ASSERT_TRUE(Consistent(pos));
    int moves = 0;
    WalkAndCheck(pos, 3, moves);
    EXPECT_GT(moves, 0);
  }
}

TEST(MakeUnmake, DoublePushSetsEnPassantOnlyBesideAnEnemyPawn) {
  Position pos = FromFen("4k3/8/8/8/5p2/8/4P3/4K3 w - - 0 1");
  const std::uint64_t keyBefore = pos.Hashkey;
  UndoRecord undo;
  // e2-e4 with a black pawn on f4: the square is kept.
  ASSERT_TRUE(pos.MakeMove(MakeMoveWord(52, 36) | MovePawn | MoveDoublePush, undo));
  EXPECT_EQ(pos.EpSquare, 44);
  EXPECT_TRUE(Consistent(pos));
  pos.UnmakeMove(undo);
  EXPECT_EQ(pos.Hashkey, keyBefore);

  // No enemy pawn beside: no square, and the en-passant part of the key is
  // the none entry before and after.
  Position lone = FromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  ASSERT_TRUE(lone.MakeMove(MakeMoveWord(52, 36) | MovePawn | MoveDoublePush, undo));
  EXPECT_EQ(lone.EpSquare, -1);
  EXPECT_TRUE(Consistent(lone));

  // A pinned pawn beside still sets it.
  Position pinned = FromFen("8/8/8/8/5p1k/8/4P3/B3K3 w - - 0 1");
  ASSERT_FALSE(pinned.ParseFEN("7k/8/8/8/5p2/8/4P1B1/4K3 w - - 0 1"));
  ASSERT_TRUE(pinned.MakeMove(MakeMoveWord(52, 36) | MovePawn | MoveDoublePush, undo));
  EXPECT_EQ(pinned.EpSquare, 44);
}

TEST(MakeUnmake, CastlingAndNullMoveResetTheFiftyCounter) {
  Position pos = FromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 17 30");
  UndoRecord undo;
  ASSERT_TRUE(pos.MakeMove(MakeMoveWord(SquareE1, SquareG1) | MoveCastle, undo));
  EXPECT_EQ(pos.Fifty, 0);
  EXPECT_EQ(pos.Board[SquareF1], PieceCode(White, Rook));
  EXPECT_EQ(pos.Castling, CastleBlackKingSide | CastleBlackQueenSide);
  EXPECT_TRUE(Consistent(pos));

  Position quiet = FromFen("4k3/8/8/8/8/8/8/4K2R w - - 17 30");
  const Position before = quiet;
  ASSERT_TRUE(quiet.MakeNullMove(undo));
  EXPECT_EQ(quiet.Fifty, 0);
  EXPECT_EQ(quiet.Side, Black);
  EXPECT_TRUE(Consistent(quiet));
  quiet.UnmakeNullMove(undo);
  EXPECT_TRUE(SameBoard(before, quiet));
}

TEST(MakeUnmake, NullMoveClearsTheEnPassantSquareFromTheKey) {
  Position pos = FromFen("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  ASSERT_EQ(pos.EpSquare, 19);
  const Position before = pos;
  UndoRecord undo;
  ASSERT_TRUE(pos.MakeNullMove(undo));
  EXPECT_EQ(pos.EpSquare, -1);
  EXPECT_TRUE(Consistent(pos));
  pos.UnmakeNullMove(undo);
  EXPECT_TRUE(SameBoard(before, pos));
}

TEST(MakeUnmake, ExtraPromotedPieceLeavesTheMaterialTableUntilCaptured) {
  // Two white knights; b7-b8 makes a third, which the rook on a8 takes.
  Position pos = FromFen("r3k3/1P6/8/8/8/8/8/1NN1K3 w - - 0 1");
  ASSERT_GE(pos.Matkey, 0);
  UndoRecord promote, capture;
  const Move toKnight =
      MakeMoveWord(9, 1) | MovePawn | MovePromotion | (static_cast<Move>(PieceCode(White, Knight)) << 12);
  ASSERT_TRUE(pos.MakeMove(toKnight, promote));
  EXPECT_EQ(pos.Matkey, -1);
  EXPECT_TRUE(Consistent(pos));
  ASSERT_TRUE(pos.MakeMove(MakeMoveWord(0, 1) | MoveCapture, capture));
  EXPECT_GE(pos.Matkey, 0);
  EXPECT_TRUE(Consistent(pos));
  pos.UnmakeMove(capture);
  EXPECT_EQ(pos.Matkey, -1);
  pos.UnmakeMove(promote);
  EXPECT_TRUE(Consistent(pos));
}

TEST(MakeUnmake, SecondQueenLeavesTheMaterialTable) {
  Position pos = FromFen("4k3/P7/8/8/8/8/8/3QK3 w - - 0 1");
  UndoRecord undo;
  ASSERT_TRUE(pos.MakeMove(MakeMoveWord(8, 0) | MovePawn | MovePromotion |
                               (static_cast<Move>(PieceCode(White, Queen)) << 12),
                           undo));
  EXPECT_EQ(pos.Matkey, -1);
}

TEST(MaterialIndex, StartPositionIsTheLastEntry) {
  Position pos = FromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(pos.Matkey, 236195);
  EXPECT_EQ(MaterialTable::Size, 236196);
  EXPECT_EQ(MaterialTable::Index(0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(MaterialTable::Index(2, 0, 0, 0, 0, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(MaterialTable::Index(0, 0, 0, 3, 0, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(MaterialTable::Index(0, 0, 0, 0, 0, 0, 0, 0, 1, 0), 9);
}

TEST(MakeUnmake, CastlingOutOfCheckIsRefused) {
  Position pos = FromFen("4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1");
  ASSERT_TRUE(pos.InCheck());  // fills the cache, as a refusal may
  const Position before = pos;
  UndoRecord undo;
  EXPECT_FALSE(pos.MakeMove(MakeMoveWord(SquareE1, SquareG1) | MoveCastle, undo));
  EXPECT_FALSE(pos.MakeMove(MakeMoveWord(SquareE1, SquareC1) | MoveCastle, undo));
  EXPECT_TRUE(SameBoard(before, pos));
}

TEST(MakeUnmake, Chess960CastlingMovesOnlyWhatMustMove) {
  // King already on g1: castling king side moves the rook alone.
  Position pos = FromFen("6kr/8/8/8/8/8/8/6KR w Hh - 0 1");
  ASSERT_EQ(pos.ChessVariant, VariantChess960);
  UndoRecord undo;
  const Position before = pos;
  ASSERT_TRUE(pos.MakeMove(MakeMoveWord(SquareG1, SquareG1) | MoveCastle, undo));
  EXPECT_EQ(pos.Board[SquareG1], PieceCode(White, King));
  EXPECT_EQ(pos.Board[SquareF1], PieceCode(White, Rook));
  EXPECT_EQ(pos.Board[SquareH1], 0);
  EXPECT_TRUE(Consistent(pos));
  pos.UnmakeMove(undo);
  EXPECT_TRUE(SameBoard(before, pos));
}

TEST(MakeUnmake, Chess960QueenSideTestsOnlyTheKingsPathForAttacks) {
  // King b1, rook a1: c1 and d1 must be empty, c1 unattacked; d1, crossed
  // only by the rook, may be attacked.
  const Move castle = MakeMoveWord(SquareB1, SquareC1) | MoveCastle;
  UndoRecord undo;
  Position dAttacked = FromFen("3r2k1/8/8/8/8/8/8/RK6 w A - 0 1");
  EXPECT_TRUE(dAttacked.MakeMove(castle, undo));
  EXPECT_EQ(dAttacked.Board[SquareD1], PieceCode(White, Rook));
  EXPECT_EQ(dAttacked.Board[SquareC1], PieceCode(White, King));
  Position cAttacked = FromFen("2r3k1/8/8/8/8/8/8/RK6 w A - 0 1");
  EXPECT_FALSE(cAttacked.MakeMove(castle, undo));
  Position dOccupied = FromFen("6k1/8/8/8/8/8/8/RK1N4 w A - 0 1");
  EXPECT_FALSE(dOccupied.MakeMove(castle, undo));
}

TEST(MakeUnmake, FullKeyHistoryRefusesFurtherMoves) {
  Position pos = FromFen("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  pos.Ply = MaxGamePlies;
  const Position before = pos;
  UndoRecord undo;
  EXPECT_FALSE(pos.MakeMove(MakeMoveWord(SquareA1, SquareA1 - 8), undo));
  EXPECT_FALSE(pos.MakeNullMove(undo));
  EXPECT_TRUE(SameBoard(before, pos));
}
