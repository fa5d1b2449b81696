// Move generation: the fixed order, evasions, the use of attack maps, the
// quiescence sets as subsets of the full list, and the pseudo-legality test
// of a move word from elsewhere.
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

// The square of a name such as "e4".
int SquareOf(const char* name) { return MakeSquare(name[0] - 'a', '8' - name[1]); }

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

// A table move is checked against the position it is about to be made in:
// every flag must be the generator's own (the check mark of the quiescence
// generators aside), and the move must be one its piece can make from
// there. Whether the king is left in check is MakeMove's business.
TEST(IsPseudoLegal, AcceptsExactlyTheWordsTheGeneratorMakes) {
  const char* start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  const char* promotion = "1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1";
  const char* castling = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
  const char* enPassant = "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1";
  const Move whiteKnight = Move(PieceCode(White, Knight)) << 12, blackKnight = Move(PieceCode(Black, Knight)) << 12;
  const Move whiteKing = Move(PieceCode(White, King)) << 12;
  struct Case {
    const char* Fen;
    const char* From;
    const char* To;
    Move Flags;
    bool Expected;
    const char* Why;
  } cases[] = {
      {start, "g1", "f3", 0, true, "a knight's move"},
      {start, "g1", "f3", MoveGivesCheck, true, "the check mark is no part of the move"},
      {start, "g1", "f3", MoveCapture, false, "a capture flag on a quiet move"},
      {start, "g1", "g3", 0, false, "no knight's step"},
      {start, "b8", "c6", 0, false, "the side not to move"},
      {start, "a1", "a3", 0, false, "a rook through its own pawn"},
      {start, "e2", "e4", MovePawn | MoveDoublePush, true, "a double push"},
      {start, "e2", "e4", MovePawn, false, "a double push without its flag"},
      {start, "e2", "e4", 0, false, "a pawn move without the pawn flag"},
      {start, "e2", "e3", MovePawn | MoveDoublePush, false, "a single push flagged as double"},
      {"4k3/8/8/8/8/4n3/4P3/4K3 w - - 0 1", "e2", "e4", MovePawn | MoveDoublePush, false, "a double push blocked"},
      {"4k3/8/8/8/8/4n3/4P3/4K3 w - - 0 1", "e2", "e3", MovePawn, false, "a push onto a piece"},
      {"4k3/8/8/8/8/4n3/4P3/4K3 w - - 0 1", "e1", "f2", 0, true, "a king's step"},
      {"4k3/8/8/8/8/4n3/4P3/4K3 w - - 0 1", "e1", "d1", 0, true, "a king's step into check"},
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - - 0 1", "e2", "d3", 0, true, "a pinned bishop's move"},
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - - 0 1", "e2", "d3", MovePawn, false, "a bishop flagged as a pawn"},
      {"4k3/8/8/8/4r3/8/8/R3K3 w - - 0 1", "a1", "a4", 0, true, "a rook's quiet move"},
      {"4k3/8/8/8/r7/8/8/R3K3 w - - 0 1", "a1", "a4", MoveCapture, true, "a rook's capture"},
      {"4k3/8/8/8/r7/8/8/R3K3 w - - 0 1", "a1", "a4", 0, false, "a capture without its flag"},
      {promotion, "a7", "b8", MovePawn | MoveCapture | MovePromotion | whiteKnight, true, "a capturing promotion"},
      {promotion, "a7", "b8", MovePawn | MoveCapture | MovePromotion | blackKnight, false,
       "a promotion to the other colour"},
      {promotion, "a7", "a8", MovePawn | MovePromotion | whiteKing, false, "a promotion to a king"},
      {promotion, "a7", "a8", MovePawn, false, "a last-rank push without promotion"},
      {castling, "e1", "g1", MoveCastle, true, "castling"},
      {castling, "e1", "c1", MoveCastle, true, "castling queen side"},
      {castling, "e1", "g1", 0, false, "castling without its flag"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1", "g1", MoveCastle, false, "castling without the right"},
      {"r3k2r/8/8/8/8/8/8/R3KB1R w KQkq - 0 1", "e1", "g1", MoveCastle, false, "castling through a piece"},
      {"r3kr2/8/8/8/8/8/8/R3K2R w KQq - 0 1", "e1", "g1", MoveCastle, true, "castling across an attacked square"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e1", "g1", MoveCastle, false, "castling for the side not to move"},
      {enPassant, "e5", "d6", MovePawn | MoveEnPassant | MoveCapture, true, "en passant"},
      {enPassant, "e5", "d6", MovePawn | MoveCapture, false, "en passant without its flag"},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - - 0 1", "e5", "d6", MovePawn | MoveEnPassant | MoveCapture, false,
       "en passant with no square for it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.From + c.To + ": " + c.Why);
    const Position pos = FromFen(c.Fen);
    EXPECT_EQ(IsPseudoLegal(pos, MakeMoveWord(SquareOf(c.From), SquareOf(c.To)) | c.Flags), c.Expected);
  }
  const Position pos = FromFen(start);
  EXPECT_FALSE(IsPseudoLegal(pos, NoMove));
  EXPECT_FALSE(IsPseudoLegal(pos, MoveNull));
}
