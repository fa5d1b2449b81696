// Learning across runs of the real program: a game played through UCI with
// learning on leaves "quelm.plf", and the next run reads it at start-up and
// lets what it holds decide its search.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/attacks.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/zobrist.h"
#include "engine_process.h"
#include "learning_record.h"
#include "support/capture.h"

namespace {

class LearningRun {
public:
  explicit LearningRun(const TemporaryDirectory& scratch, const std::string& name)
      : Engine(std::filesystem::absolute(EngineProgramPath()).string(), {"learninggame"}, scratch.Path.string(),
               scratch / (name + ".stderr")) {}

  // The lines up to "uciok".
  std::vector<std::string> Greet() {
    Engine.Send("uci");
    std::vector<std::string> lines;
    while (auto line = Engine.ReadLine()) {
      lines.push_back(*line);
      if (*line == "uciok") break;
    }
    return lines;
  }

  void Ready() {
    Engine.Send("isready");
    EXPECT_EQ(Engine.ReadUntil("readyok").value_or(""), "readyok") << Engine.TranscriptText();
  }

  // The best move of a fixed-depth search.
  std::string Go(const std::string& position, int depth) {
    Engine.Send(position);
    Engine.Send(std::string("go depth ").append(std::to_string(depth)));
    while (auto line = Engine.ReadLine()) {
      if (line->rfind("bestmove ", 0) == 0) {
        return line->substr(9, line->find(' ', 9) == std::string::npos ? std::string::npos : line->find(' ', 9) - 9);
      }
    }
    ADD_FAILURE() << "no bestmove\n" << Engine.TranscriptText();
    return "";
  }

  EngineProcess Engine;
};

TEST(LearningGameTest, AGamePlayedWithLearningLeavesAFileTheNextRunReadsAndUses) {
  InitZobristKeys();
  InitAttackTables();
  TemporaryDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string file = scratch / "quelm.plf";

  {
    LearningRun first(scratch, "first");
    ASSERT_TRUE(first.Engine.Started());
    first.Greet();
    first.Engine.Send("setoption name Learning value true");
    first.Engine.Send("ucinewgame");
    first.Ready();
    std::string moves;
    for (int ply = 0; ply < 4; ++ply) {
      const std::string move = first.Go("position startpos" + (moves.empty() ? "" : " moves" + moves), 7);
      ASSERT_FALSE(move.empty());
      moves += " " + move;
    }
    // The end of the game saves the file.
    first.Engine.Send("ucinewgame");
    first.Ready();
    ASSERT_TRUE(std::filesystem::exists(file));
    const auto size = std::filesystem::file_size(file);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % 24, 0u);
    first.Engine.Send("quit");
    EXPECT_EQ(first.Engine.Finish(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(scratch / "quelm.plf.tmp"));
  const std::size_t learned = std::filesystem::file_size(file) / 24;
  ASSERT_GT(learned, 4u);  // the roots of four searches and the heads of their lines

  // One position more, by hand: after 1. a3 black is lost, says the table.
  ChessGame game;
  game.SetStartPosition();
  ASSERT_TRUE(game.PlayMove(game.Moves.Moves[FindCoordinateMove(game.Moves, game, "a2a3")]));
  {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << Record(game.Hashkey, game.Pawnkey, -5000, 400);
  }

  LearningRun second(scratch, "second");
  ASSERT_TRUE(second.Engine.Started());
  const std::vector<std::string> greeting = second.Greet();
  const std::string loaded = "info string Learning: " + std::to_string(learned + 1) + " positions read from 'quelm.plf'";
  EXPECT_NE(std::find(greeting.begin(), greeting.end(), loaded), greeting.end()) << second.Engine.TranscriptText();
  // Without the table a3 is never the move of a depth-5 search here.
  EXPECT_EQ(second.Go("position startpos", 5), "a2a3") << second.Engine.TranscriptText();
  second.Engine.Send("quit");
  EXPECT_EQ(second.Engine.Finish(), 0);
}

}  // namespace
