// The root filter against fathom's lists of winning, drawing and losing
// moves, and its rules for the fifty-move counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tablebase_helpers.h"

namespace {

std::set<Move> ListedMoves(ChessGame& game, const std::vector<std::string>& sans) {
  std::set<Move> moves;
  for (const std::string& san : sans) {
    MoveList list = game.Moves;
    const int index = ParseSanMove(list, game, san.c_str());
    EXPECT_GE(index, 0) << san << " in " << game.GetFEN();
    if (index >= 0) moves.insert(list.Moves[index]);
  }
  return moves;
}

std::set<Move> Kept(const ChessGame& game) {
  return {game.Moves.Moves, game.Moves.Moves + game.Moves.Count};
}

TEST(RootProbe, KeepsTheMovesThatKeepTheResultAsFathomListsThem) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRPvKR.rtbw");
  REQUIRE_FATHOM();
  LoadSharedTables();
  std::mt19937 random(77);
  int seen[3] = {0, 0, 0};  // won, drawn, lost
  for (const char* name : {"KQvK", "KRvK", "KPvK", "KBNvK", "KPvKP", "KRPvKR", "KBNvKR", "KQvKR", "KRvKN"}) {
    for (int done = 0, attempt = 0; done < 30 && attempt < 1000; attempt++) {
      std::string fen;
      if (!RandomFen(name, random, fen)) continue;
      const OracleResult oracle = AskFathom(fen);
      RETURN_IF_OPPONENT_CRASHED();
      if (!oracle.Valid) continue;
      ChessGame game;
      ASSERT_FALSE(game.SetFEN(fen.c_str()));
      if (LegalMoveCount(game) == 0) continue;
      done++;
      // The lists are fathom's classes of the moves; with a fresh fifty-move
      // counter the filter keeps one class whole: every win, every draw, or
      // (no loss being near the fifty-move limit) every move.
      std::set<Move> expected;
      if (oracle.Wdl == 2) expected = ListedMoves(game, oracle.Moves[0]);
      else if (oracle.Wdl == 0) expected = ListedMoves(game, oracle.Moves[1]);
      else if (oracle.Wdl == -2 && oracle.Dtz > -49) expected = ListedMoves(game, oracle.Moves[2]);
      else continue;
      ASSERT_TRUE(ProbeRootMoves(game)) << fen;
      EXPECT_EQ(Kept(game), expected) << fen;
      seen[oracle.Wdl == 2 ? 0 : oracle.Wdl == 0 ? 1 : 2]++;
    }
  }
  EXPECT_GT(seen[0], 20);
  EXPECT_GT(seen[1], 20);
  EXPECT_GT(seen[2], 20);
}

// Root values by move text after the filter.
std::map<std::string, int> Values(ChessGame& game) {
  std::map<std::string, int> values;
  for (int i = 0; i < game.Moves.Count; i++)
    values[MoveToText(game, game.Moves.Moves[i])] = static_cast<std::int32_t>(game.Moves.Scores[i]);
  return values;
}

TEST(RootProbe, WinningMovesStayWithinTheFiftyMoveBudget) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQvK.rtbw");
  LoadSharedTables();
  // Queen and king against king: every move but a blunder wins, at
  // different distances.
  const char* fen = "8/8/8/3k4/8/8/8/KQ6 w - - %d 60";
  char text[96];
  std::snprintf(text, sizeof text, fen, 0);
  ChessGame fresh;
  ASSERT_FALSE(fresh.SetFEN(text));
  ASSERT_TRUE(ProbeRootMoves(fresh));
  const auto all = Values(fresh);
  int best = 1000, worst = 0;
  for (const auto& [move, value] : all) {
    EXPECT_GT(value, 0) << move;
    best = std::min(best, value);
    worst = std::max(worst, value);
  }
  ASSERT_LT(best, worst);

  // A counter that leaves no room beyond the quickest wins keeps only them.
  const int tight = 100 - best;
  std::snprintf(text, sizeof text, fen, tight);
  ChessGame late;
  ASSERT_FALSE(late.SetFEN(text));
  ASSERT_TRUE(ProbeRootMoves(late));
  for (const auto& [move, value] : Values(late)) EXPECT_EQ(value, best) << move;
  EXPECT_EQ(Values(late).size(), static_cast<std::size_t>(std::count_if(
                                     all.begin(), all.end(), [best](const auto& item) { return item.second == best; })));

  // A counter with room keeps every win that fits: values up to 99 - cnt50.
  const int roomy = 99 - worst;
  std::snprintf(text, sizeof text, fen, roomy);
  ChessGame early;
  ASSERT_FALSE(early.SetFEN(text));
  ASSERT_TRUE(ProbeRootMoves(early));
  EXPECT_EQ(Values(early).size(), all.size());
}

TEST(RootProbe, LostPositionKeepsEveryMoveUntilTheFiftyMoveRuleIsNear) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQvK.rtbw");
  LoadSharedTables();
  // The lone king loses whatever it does.
  const char* fen = "8/8/8/3k4/8/8/8/KQ6 b - - %d 60";
  char text[96];
  std::snprintf(text, sizeof text, fen, 0);
  ChessGame game;
  ASSERT_FALSE(game.SetFEN(text));
  const int legal = LegalMoveCount(game);
  ASSERT_TRUE(ProbeRootMoves(game));
  const auto values = Values(game);
  ASSERT_EQ(static_cast<int>(values.size()), legal);
  int best = 0;
  for (const auto& [move, value] : values) best = std::min(best, value);
  const bool several = std::any_of(values.begin(), values.end(), [best](const auto& v) { return v.second != best; });
  ASSERT_TRUE(several);

  // cnt50 - 2 * best < 100: every legal move stays.
  std::snprintf(text, sizeof text, fen, 99 + 2 * best);
  ChessGame roomy;
  ASSERT_FALSE(roomy.SetFEN(text));
  ASSERT_TRUE(ProbeRootMoves(roomy));
  EXPECT_EQ(static_cast<int>(Values(roomy).size()), legal);

  // At the limit only the longest resistance stays.
  std::snprintf(text, sizeof text, fen, 100 + 2 * best);
  ChessGame tight;
  ASSERT_FALSE(tight.SetFEN(text));
  ASSERT_TRUE(ProbeRootMoves(tight));
  for (const auto& [move, value] : Values(tight)) EXPECT_EQ(value, best) << move;
}

TEST(RootProbe, MissingTableLeavesTheListUntouched) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQvK.rtbw");
  LoadSharedTables();
  ChessGame game;
  // Two queens against a rook: no such table among the shared ones.
  ASSERT_FALSE(game.SetFEN("7r/8/8/3k4/8/8/8/KQQ5 w - - 0 1"));
  const MoveList before = game.Moves;
  EXPECT_FALSE(RootProbe(game));
  ASSERT_EQ(game.Moves.Count, before.Count);
  EXPECT_TRUE(std::equal(before.Moves, before.Moves + before.Count, game.Moves.Moves));
}

TEST(RootProbe, MarksTheMovesToDropAndTheRootTakesOutExactlyThose) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRvK.rtbw");
  LoadSharedTables();
  // A won rook ending where Rb2 and Rb3 give the rook away: those are marked.
  ChessGame marked;
  ASSERT_FALSE(marked.SetFEN("8/8/8/8/8/2k5/8/KR6 w - - 0 1"));
  ChessGame filtered = marked;
  const MoveList before = marked.Moves;
  ASSERT_TRUE(RootProbe(marked));
  ASSERT_EQ(marked.Moves.Count, before.Count);
  EXPECT_TRUE(std::equal(before.Moves, before.Moves + before.Count, marked.Moves.Moves));
  std::set<Move> kept;
  for (int i = 0; i < marked.Moves.Count; i++)
    if (marked.Moves.Scores[i] != RootMoveDropped) kept.insert(marked.Moves.Moves[i]);
  ASSERT_LT(kept.size(), static_cast<std::size_t>(before.Count));
  ASSERT_TRUE(ProbeRootMoves(filtered));
  EXPECT_EQ(Kept(filtered), kept);
}

TEST(RootProbe, NeverKeepsAMoveThatLeavesTheKingInCheck) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRvKR.rtbw");
  LoadSharedTables();
  // The rook is pinned along the file: its moves sideways are pseudo-legal only.
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("4r3/8/8/8/8/k7/4R3/4K3 w - - 0 1"));
  ASSERT_LT(LegalMoveCount(game), game.Moves.Count);
  ASSERT_TRUE(ProbeRootMoves(game));
  EXPECT_GT(game.Moves.Count, 0);
  for (int i = 0; i < game.Moves.Count; i++) {
    UndoRecord undo;
    EXPECT_TRUE(game.MakeMove(game.Moves.Moves[i], undo)) << MoveToText(game, game.Moves.Moves[i]);
    game.UnmakeMove(undo);
  }
}

}  // namespace
