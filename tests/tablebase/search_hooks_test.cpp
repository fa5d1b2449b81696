// The tablebases inside the engine's own search: the root keeps only moves
// that keep the win, and a won ending is played out to mate within the
// fifty-move rule.
#include <gtest/gtest.h>

#include <set>

#include "engine/search_fixture.h"
#include "tablebase_helpers.h"

namespace {

class TablebaseSearchTest : public SearchTest {
protected:
  void SetUp() override {
    SearchTest::SetUp();
    LoadSharedTables();
  }

  // The search's move in a position, and the moves that keep its result.
  Move SearchedMove(ChessGame& game, int depth) {
    ThinkToDepth(game, depth);
    return BestMove;
  }
  static std::set<Move> ResultKeepingMoves(const ChessGame& game) {
    ChessGame copy = game;
    EXPECT_TRUE(ProbeRootMoves(copy));
    return {copy.Moves.Moves, copy.Moves.Moves + copy.Moves.Count};
  }
};

TEST_F(TablebaseSearchTest, RootMoveKeepsTheWin) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRPvKR.rtbz");
  for (const char* fen : {"8/8/8/8/8/k7/2KRP3/5r2 w - - 0 1", "8/8/8/3k4/8/8/8/KBN5 w - - 0 1"}) {
    ChessGame game = FromFen(fen);
    int success = 0;
    ASSERT_EQ(ProbeWdl(game, &success), 2) << fen;
    const std::set<Move> winning = ResultKeepingMoves(game);
    const Move move = SearchedMove(game, 8);
    EXPECT_TRUE(winning.count(move)) << fen << " " << Text(game, move);
    ChessGame after = game;
    ASSERT_TRUE(after.PlayMove(move));
    EXPECT_EQ(ProbeWdl(after, &success), -2) << fen << " " << Text(game, move);
  }
}

TEST_F(TablebaseSearchTest, WonEndingIsPlayedOutToMateWithinFiftyMoves) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRvK.rtbz");
  ChessGame game = FromFen("8/8/8/4k3/8/8/8/R3K3 w - - 0 1");
  GameResult result;
  int plies = 0;
  while (!game.CheckGameEnd(result) && plies < 200) {
    const Move move = SearchedMove(game, 6);
    ASSERT_TRUE(game.PlayMove(move)) << game.GetFEN();
    ASSERT_LT(game.Fifty, 100) << game.GetFEN();
    plies++;
  }
  EXPECT_EQ(result.Result, ResultWhiteWins) << game.GetFEN();
  EXPECT_EQ(result.Reason, ReasonMate) << game.GetFEN();
}

}  // namespace
