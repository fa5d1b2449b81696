// Two copies of the real program play each other through UCI at a short time
// control, driven as a GUI drives them: the harness keeps the clocks and the
// board, and every move, every line and the end of both programs are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "engine_process.h"
#include "referee.h"
#include "support/capture.h"

namespace {

constexpr int GameMoves = 60;       // full moves the harness insists on
constexpr int StartTimeMs = 10000;  // each side's clock
constexpr int IncrementMs = 100;

class Player {
public:
  Player(const std::string& directory, const std::string& name)
      : Engine(std::filesystem::absolute(EngineProgramPath()).string(), {name}, directory,
               directory + "/" + name + ".stderr") {}

  void Greet() {
    Engine.Send("uci");
    while (auto line = Engine.ReadLine()) {
      ASSERT_TRUE(IsUciLine(*line)) << *line;
      if (*line == "uciok") break;
    }
    Engine.Send("setoption name Hash value 4");
    Engine.Send("ucinewgame");
    Engine.Send("isready");
    auto ready = Engine.ReadLine();
    ASSERT_EQ(ready.value_or(""), "readyok");
  }

  EngineProcess Engine;
  int ClockMs = StartTimeMs;
};

TEST(UciGameTest, TwoProgramsPlaySixtyMovesOfLegalChess) {
  TemporaryDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  Player players[2] = {Player(scratch.Path.string(), "white"), Player(scratch.Path.string(), "black")};
  for (Player& player : players) {
    ASSERT_TRUE(player.Engine.Started());
    player.Greet();
    if (testing::Test::HasFatalFailure()) return;
  }

  Referee referee;
  int plies = 0;
  int games = 1;
  while (plies < 2 * GameMoves) {
    // A game that ends early (a quick mate or repetition) is followed by a
    // new one, so that the programs play all the moves asked for.
    if (referee.IsOver()) {
      for (Player& player : players) player.Engine.Send("ucinewgame");
      referee = Referee();
      games++;
      ASSERT_LT(games, 10) << "games keep ending at once";
    }
    Player& mover = players[referee.Game.Side];
    std::string command = "position startpos";
    if (!referee.Played.empty()) command += " moves" + referee.MovesText();
    mover.Engine.Send(command);
    mover.Engine.Send("go wtime " + std::to_string(players[0].ClockMs) + " btime " +
                      std::to_string(players[1].ClockMs) + " winc " + std::to_string(IncrementMs) + " binc " +
                      std::to_string(IncrementMs));
    auto started = std::chrono::steady_clock::now();
    std::string move;
    while (move.empty()) {
      auto line = mover.Engine.ReadLine(30000);
      ASSERT_TRUE(line) << "no answer after" << referee.MovesText() << "\n" << mover.Engine.TranscriptText();
      ASSERT_TRUE(IsUciLine(*line)) << *line;
      ASSERT_EQ(line->find("Error"), std::string::npos) << *line;
      move = BestMoveOf(*line);
    }
    auto used = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    mover.ClockMs = std::max(1, mover.ClockMs - static_cast<int>(used.count())) + IncrementMs;
    ASSERT_TRUE(referee.Play(move)) << "illegal " << move << " after" << referee.MovesText();
    plies++;
  }

  for (Player& player : players) {
    player.Engine.Send("quit");
    EXPECT_EQ(player.Engine.Finish(), 0);
  }
}

}  // namespace
