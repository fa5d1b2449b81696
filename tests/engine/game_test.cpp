// The game object: mate, stalemate, repetition and the fifty-move rule with
// their result texts, take-back and redo, move classes, the repetition
// tests of the search, and the bounds of the key history.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "engine/game.h"
#include "engine/movetext.h"

namespace {

// Plays coordinate moves; fails the test on a move that is not found.
void Play(ChessGame& game, std::initializer_list<const char*> moves) {
  for (const char* text : moves) {
    const int index = FindCoordinateMove(game.Moves, game, text);
    ASSERT_GE(index, 0) << text;
    ASSERT_TRUE(game.PlayMove(game.Moves.Moves[index])) << text;
  }
}

std::string PrintedResult(const GameResult& r) {
  ::testing::internal::CaptureStdout();
  ChessGame::PrintResult(r);
  return ::testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(ChessGame, StartsAtTheStandardPosition) {
  ChessGame game;
  EXPECT_STREQ(game.StartFen, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(game.Moves.Count, 20);
  EXPECT_EQ(game.GamePly, 0);
  EXPECT_EQ(game.Ply, 0);
}

TEST(ChessGame, FoolsMateIsWonByBlack) {
  ChessGame game;
  Play(game, {"f2f3", "e7e5", "g2g4", "d8h4"});
  GameResult r;
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Result, ResultBlackWins);
  EXPECT_EQ(r.Reason, ReasonMate);
  EXPECT_EQ(game.Outcome.Packed(), r.Packed());
  EXPECT_EQ(PrintedResult(r), "0-1 {mate}\n");
}

TEST(ChessGame, StalemateIsADrawWhoeverIsToMove) {
  for (const char* fen : {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "8/8/8/8/8/6k1/5q2/7K w - - 0 1"}) {
    ChessGame game;
    ASSERT_FALSE(game.SetFEN(fen)) << game.Message;
    GameResult r;
    EXPECT_TRUE(game.CheckGameEnd(r)) << fen;
    EXPECT_EQ(r.Result, ResultDraw);
    EXPECT_EQ(r.Reason, ReasonStalemate);
    EXPECT_EQ(PrintedResult(r), "1/2-1/2 {stalemate}\n");
  }
}

TEST(ChessGame, ThirdOccurrenceIsADrawByRepetition) {
  ChessGame game;
  GameResult r;
  Play(game, {"g1f3", "g8f6", "f3g1", "f6g8"});
  EXPECT_FALSE(game.CheckGameEnd(r));  // second occurrence
  Play(game, {"g1f3", "g8f6", "f3g1"});
  EXPECT_FALSE(game.CheckGameEnd(r));
  Play(game, {"f6g8"});
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Packed(), 1027);
  EXPECT_EQ(PrintedResult(r), "1/2-1/2 {Repetition}\n");
}

TEST(ChessGame, FiftyMoveRuleUnlessTheLastMoveMates) {
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("7k/8/6K1/8/8/8/8/R7 w - - 99 80"));
  GameResult r;
  EXPECT_FALSE(game.CheckGameEnd(r));
  Play(game, {"a1b1"});
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Packed(), 1283);
  EXPECT_EQ(PrintedResult(r), "1/2-1/2 {50 moves}\n");

  ASSERT_FALSE(game.SetFEN("7k/8/6K1/8/8/8/8/R7 w - - 99 80"));
  Play(game, {"a1a8"});
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Result, ResultWhiteWins);
  EXPECT_EQ(r.Reason, ReasonMate);
}

TEST(ChessGame, ResultTexts) {
  const struct {
    GameResult Pair;
    const char* Text;
  } cases[] = {
      {{ResultNone, ReasonMate}, ""},
      {{ResultWhiteWins, ReasonNone}, "1-0 {unknown}\n"},
      {{ResultBlackWins, ReasonResignation}, "0-1 {resigning}\n"},
      {{ResultWhiteWins, ReasonMate}, "1-0 {mate}\n"},
      {{ResultDraw, ReasonNoMatingMaterial}, "1/2-1/2 {No mating material}\n"},
      {{ResultDraw, ReasonAgreed}, "1/2-1/2 {Agreed}\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintedResult(c.Pair), c.Text);
}

TEST(ChessGame, TakeBackAndRedoKeepTheLine) {
  ChessGame game;
  EXPECT_FALSE(game.TakeBack());
  Play(game, {"e2e4", "e7e5", "g1f3"});
  const std::string afterThree = game.GetFEN();
  ASSERT_TRUE(game.TakeBack());
  ASSERT_TRUE(game.TakeBack());
  EXPECT_EQ(game.GamePly, 1);
  EXPECT_EQ(game.HighestPly, 3);
  char text[800 * 6 + 1];
  game.GetMoveListText(text);
  EXPECT_STREQ(text, "e2e4 e7e5 g1f3 ");
  EXPECT_EQ(game.GamePly, 1);
  // Redo the line from its records.
  ASSERT_TRUE(game.PlayMove(game.Undo[1].Move));
  ASSERT_TRUE(game.PlayMove(game.Undo[2].Move));
  EXPECT_EQ(game.GetFEN(), afterThree);
  EXPECT_EQ(game.HighestPly, 3);

  // Another move after a take-back starts a new line.
  ASSERT_TRUE(game.TakeBack());
  ASSERT_TRUE(game.TakeBack());
  Play(game, {"d7d5"});
  EXPECT_EQ(game.HighestPly, 2);
  game.GetMoveListText(text);
  EXPECT_STREQ(text, "e2e4 d7d5 ");
}

TEST(ChessGame, IllegalMovesAndBadFenChangeNothing) {
  ChessGame game;
  Play(game, {"e2e4"});
  const std::string before = game.GetFEN();
  // A white move with Black to move, and a pinned piece's move.
  EXPECT_FALSE(game.PlayMove(MakeMoveWord(51, 43) | MovePawn));
  EXPECT_TRUE(game.SetFEN("not a position"));
  EXPECT_EQ(game.GetFEN(), before);
  EXPECT_EQ(game.GamePly, 1);
  EXPECT_STREQ(game.StartFen, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  ASSERT_FALSE(game.SetFEN("4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1"));
  EXPECT_FALSE(game.PlayMove(MakeMoveWord(52, 42)));
  EXPECT_EQ(game.GamePly, 0);
}

TEST(ChessGame, ClassifiesMovesOnACopy) {
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("4k3/8/8/3pP3/8/8/8/R3K2r w - d6 0 1"));
  const std::string before = game.GetFEN();
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(SquareA1, SquareA1 - 8)), MoveClassIllegal);  // king stays in check
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(SquareE1, SquareE1 - 8)), 0);
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(SquareE1, SquareF1 - 8)), 0);
  ASSERT_FALSE(game.SetFEN("4k3/8/8/3pP3/8/8/8/R3K3 w - d6 0 1"));
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(28, 19) | MovePawn | MoveEnPassant | MoveCapture), 0);
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(SquareA1, 0)), MoveClassChecks);
  ASSERT_FALSE(game.SetFEN("3rk3/8/8/8/8/8/8/R2QK3 w - - 0 1"));
  EXPECT_EQ(game.ClassifyMove(MakeMoveWord(SquareD1, 3) | MoveCapture), MoveClassCaptures | MoveClassChecks);
  ChessGame shuffle;
  Play(shuffle, {"g1f3", "g8f6", "f3g1"});
  const int index = FindCoordinateMove(shuffle.Moves, shuffle, "f6g8");
  ASSERT_GE(index, 0);
  EXPECT_EQ(shuffle.ClassifyMove(shuffle.Moves.Moves[index]), MoveClassRepeats);
  EXPECT_EQ(shuffle.GamePly, 3);
}

TEST(Repetition, InsideTheTreeOnceNearTheRootTwice) {
  ChessGame game;
  Play(game, {"g1f3", "g8f6", "f3g1", "f6g8"});
  std::uint32_t count = 0;
  // The start position stood once before: at the root (and one or two plies
  // below it) that is not yet a draw, deeper it is.
  EXPECT_FALSE(game.IsRepetition(0, count));
  EXPECT_EQ(count, 1u);
  EXPECT_FALSE(game.IsRepetition(2, count));
  EXPECT_TRUE(game.IsRepetition(3, count));
  // The earlier occurrence inside the search counts at once.
  EXPECT_TRUE(game.IsRepetition(4, count));
  Play(game, {"g1f3", "g8f6", "f3g1", "f6g8"});
  EXPECT_TRUE(game.IsRepetition(0, count));
  EXPECT_EQ(count, 2u);
}

TEST(Repetition, HighHalfMoveClockStaysInsideTheHistory) {
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("4k3/8/8/8/8/8/8/4K2R w - - 500 1"));
  Play(game, {"h1h2", "e8e7", "h2h1", "e7e8"});
  std::uint32_t count = 0;
  EXPECT_TRUE(game.IsRepetition(5, count));
  EXPECT_EQ(count, 1u);
  GameResult r;
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Reason, ReasonFiftyMoves);
  EXPECT_FALSE(IsDrawByRepetition(game.KeyHistory, 2, game.Keys(), 5, 100000, count));
}

// A legal game may be far longer than the key history: the game keeps a
// window of its last plies and goes on, still seeing repetitions, taking
// moves back within the window, and giving the books a line that replays
// from its start position to the same board.
TEST(ChessGame, AGameLongerThanTheKeyHistoryGoesOn) {
  ChessGame game;
  const char* cycle[4] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  constexpr int Plies = 3 * MaxGamePlies + 3;
  for (int ply = 0; ply < Plies; ++ply) {
    Play(game, {cycle[ply % 4]});
    // Until the history is full the game keeps all of it.
    if (ply < MaxGamePlies - 1) {
      ASSERT_EQ(game.WindowStart, 0) << ply;
    }
    // The search's copy always finds room for its own plies.
    ChessGame copy = game;
    copy.KeepRoomForSearch();
    ASSERT_LE(copy.Ply, MaxGamePlies - SearchHistoryRoom) << ply;
    ASSERT_EQ(copy.GamePly, game.GamePly);
    ASSERT_EQ(copy.Hashkey, game.Hashkey);
  }
  EXPECT_EQ(game.GamePly, Plies);
  EXPECT_EQ(game.GamePly, game.WindowStart + game.Ply);
  EXPECT_GE(game.UndoablePlies(), KeptHistoryPlies);
  GameResult r;
  EXPECT_TRUE(game.CheckGameEnd(r));
  EXPECT_EQ(r.Reason, ReasonRepetition);
  std::uint32_t count;
  EXPECT_TRUE(game.IsRepetition(0, count));

  std::vector<char> text(static_cast<std::size_t>(game.HighestPly) * 6 + 1);
  game.GetMoveListText(text.data());
  EXPECT_EQ(game.GamePly, Plies);
  ChessGame replay;
  ASSERT_FALSE(replay.SetFEN(game.StartFen));
  std::istringstream words(text.data());
  std::string word;
  int played = 0;
  while (words >> word) {
    Play(replay, {word.c_str()});
    ++played;
  }
  EXPECT_EQ(played, Plies - game.WindowStart);
  EXPECT_STREQ(replay.GetFEN(), game.GetFEN());
  EXPECT_EQ(replay.Hashkey, game.Hashkey);

  // Back to the window's start, then the same moves again: the redo line
  // survives a cut of the window.
  const std::string end = game.GetFEN();
  int back = 0;
  while (game.TakeBack()) ++back;
  EXPECT_EQ(back, played);
  EXPECT_EQ(game.GamePly, game.WindowStart);
  EXPECT_EQ(std::string(game.GetFEN()), std::string(game.StartFen).substr(0, std::string(game.GetFEN()).size()));
  for (int i = 0; i < back; ++i) ASSERT_TRUE(game.PlayMove(game.Undo[game.Ply].Move)) << i;
  EXPECT_EQ(game.GetFEN(), end);
  EXPECT_EQ(game.HighestPly, Plies);
}

TEST(ChessGame, EachGameKeepsItsOwnCastlingRules) {
  ChessGame chess960;
  ASSERT_FALSE(chess960.SetFEN("bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9"));
  ChessGame standard;  // a new game must not reset the other's rules
  const ChessGame copy = chess960;
  EXPECT_EQ(chess960.ChessVariant, VariantChess960);
  EXPECT_EQ(standard.ChessVariant, VariantNormal);
  EXPECT_EQ(copy.ChessVariant, VariantChess960);
  EXPECT_EQ(Perft(chess960, 3), 12189u);
  EXPECT_EQ(Perft(standard, 3), 8902u);
}
