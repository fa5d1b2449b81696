// The one conversion between the book side's moves and the engine's:
// castling between the corner form and the king's move, promotions between
// white codes and coloured ones, the engine's flags taken from its list.
#include <gtest/gtest.h>

#include <string>

#include "books/booklist.h"
#include "engine/board_helpers.h"
#include "games/gameboard.h"

namespace {

GameMove Text(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

TEST(BookMoveConversion, TurnsBookMovesIntoTheEnginesListMoves) {
  const struct {
    const char* Fen;
    const char* Book;
    const char* Engine;  // coordinate text of the engine's move, "" for NoMove
    Move Flags;          // flags the engine's move must carry
  } cases[] = {
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h1h1", "e1g1", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a1", "e1c1", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "h8h8", "e8g8", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "a8a8", "e8c8", MoveCastle},
      // Castling for the side not to move, or a right that is gone.
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h8h8", "", 0},
      {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "h1h1", "", 0},
      {"4k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7b8n", "b7b8n", MovePawn | MovePromotion},
      {"4k3/8/8/8/8/8/1p6/4K3 b - - 0 1", "b2b1q", "b2b1q", MovePawn | MovePromotion},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", "e5d6", MovePawn | MoveEnPassant | MoveCapture},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4", "e2e4", MovePawn | MoveDoublePush},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e5", "", 0},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e1g1", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Book);
    Position pos = FromFen(c.Fen);
    const Move move = EngineMoveOf(pos, Text(c.Book));
    if (!c.Engine[0]) {
      EXPECT_EQ(move, NoMove);
      continue;
    }
    ASSERT_NE(move, NoMove);
    EXPECT_EQ(SquareName(MoveFrom(move)) + SquareName(MoveTo(move)) +
                  (MovePromotionCode(move) ? std::string(1, PieceChars[MovePromotionCode(move) | 8]) : ""),
              c.Engine);
    EXPECT_EQ(move & c.Flags, c.Flags);
    // And back.
    EXPECT_TRUE(GameMoveOf(move).SameMove(Text(c.Book)));
    EXPECT_EQ(GameMoveOf(move).Valid, 1);
  }
  Position pos = FromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(EngineMoveOf(pos, GameMove()), NoMove);
  EXPECT_EQ(GameMoveOf(NoMove).Valid, 0);
  EXPECT_EQ(GameMoveOf(MoveNull).Valid, 0);
}

// Chess960: the corner names the side even where the king stands on its
// target square or beside its rook, and the engine's king move comes back
// as that corner.
TEST(BookMoveConversion, Chess960CastlingKeepsItsCorner) {
  const struct {
    const char* Fen;
    const char* Book;
    int KingFrom, KingTo;
  } cases[] = {
      {"1rk2r2/8/8/8/8/8/8/1RK2R2 w FBfb - 0 1", "a1a1", 58, 58},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "a1a1", 57, 58},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "h1h1", 57, 62},
      {"2r1kr2/8/8/8/8/8/8/4K3 b fc - 0 1", "h8h8", 4, 6},
      {"6kr/8/8/8/8/8/8/6KR b h - 0 1", "h8h8", 6, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Book);
    Position pos = FromFen(c.Fen);
    const Move move = EngineMoveOf(pos, Text(c.Book));
    ASSERT_NE(move, NoMove);
    EXPECT_TRUE(move & MoveCastle);
    EXPECT_EQ(MoveFrom(move), c.KingFrom);
    EXPECT_EQ(MoveTo(move), c.KingTo);
    EXPECT_TRUE(GameMoveOf(move).SameMove(Text(c.Book)));
  }
}

}  // namespace
