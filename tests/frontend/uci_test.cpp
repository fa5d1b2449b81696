// The UCI front end in process: what "go", "position" and "setoption" leave
// in the clock, the game and the settings, and the exact lines it prints.
#include "frontend/uci.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/attacks.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "engine/zobrist.h"
#include "support/capture.h"
#include "support/input.h"

namespace {

// Keys and attack tables, as main makes them before any game exists.
class UciEnvironment : public testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
  }
};
[[maybe_unused]] testing::Environment* const Environment = testing::AddGlobalTestEnvironment(new UciEnvironment);

class UciTest : public testing::Test {
protected:
  void SetUp() override {
    ResetSettings();
    ClockSettings::Reset();
    ClearStatistics();
    ASSERT_TRUE(Scratch.Ready());
    ActiveFrontEnd = &Uci;
  }
  void TearDown() override {
    ActiveFrontEnd = nullptr;
    ResetSettings();
  }

  // The standard output of the commands, each handled as when idle.
  std::string Handle(std::initializer_list<const char*> lines) {
    StreamCapture capture(1, Scratch / "stdout");
    for (const char* line : lines) Uci.HandleCommand(line);
    return capture.Finish();
  }

  std::string Fen() { return Uci.Game.GetFEN(); }

  TemporaryDirectory Scratch;
  UciFrontEnd Uci;
};

TEST_F(UciTest, GoFillsTheClockForTheSideToMove) {
  const struct {
    const char* Position;
    const char* Go;
    int TimeLeft, OpponentTime, Moves, Base, Increment, Depth;
  } cases[] = {
      // The increment stays in milliseconds: 1.5 s is not 1 s, 0.1 s not 0.
      {"position startpos", "go wtime 60000 btime 30000 winc 1500 binc 0", 60000, 30000, 0, 60, 1500, 0},
      {"position startpos moves e2e4", "go wtime 60000 btime 30000 winc 1500 binc 2500", 30000, 60000, 0, 30, 2500,
       0},
      {"position startpos", "go wtime 10000 btime 10000 winc 100 binc 100", 10000, 10000, 0, 10, 100, 0},
      // Moves to go counts from the start of the game: ply 2 is move 2.
      {"position startpos moves e2e4 e7e5", "go wtime 9000 btime 8000 movestogo 20", 9000, 8000, 21, 9, 0, 0},
      {"position startpos", "go depth 6", 1, 1, 0, 0, 0, 6},
      {"position startpos", "go movetime 2500 depth 9 wtime 5", 1, 1, -1, 2, 0, 0},
      {"position startpos", "go nodes 5000 mate 3 unknownword wtime 700", 700, 1, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Go);
    EXPECT_EQ(Handle({c.Position, c.Go}), "");
    EXPECT_EQ(Uci.Mode, ModeThinking);
    EXPECT_EQ(ClockSettings::TimeLeftMs, c.TimeLeft);
    EXPECT_EQ(ClockSettings::OpponentTimeMs, c.OpponentTime);
    EXPECT_EQ(ClockSettings::MovesToGo, c.Moves);
    EXPECT_EQ(ClockSettings::BaseSeconds, c.Base);
    EXPECT_EQ(ClockSettings::IncrementMs, c.Increment);
    EXPECT_EQ(ClockSettings::FixedDepth, c.Depth);
    EXPECT_EQ(ClockSettings::Unused, 0);
    Uci.Mode = ModeIdle;
  }
}

// The count is added to the moves already played: a hostile one is held to
// 10,000 moves instead of overflowing.
TEST_F(UciTest, GoClampsTheMovesToGo) {
  const struct {
    const char* Go;
    int Moves;
  } cases[] = {
      {"go wtime 9000 btime 8000 movestogo 2147483647", 10001},
      {"go wtime 9000 btime 8000 movestogo 99999999999", 10001},
      {"go wtime 9000 btime 8000 movestogo -3", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Go);
    EXPECT_EQ(Handle({"position startpos moves e2e4 e7e5", c.Go}), "");
    EXPECT_EQ(ClockSettings::MovesToGo, c.Moves);
    Uci.Mode = ModeIdle;
  }
}

TEST_F(UciTest, GoKeepsTheMoveTimeInMilliseconds) {
  Handle({"go movetime 400"});
  EXPECT_EQ(ClockSettings::BaseSeconds, 0);
  EXPECT_EQ(Uci.MoveTimeMs, 400);
  Handle({"go wtime 1000 btime 1000"});
  EXPECT_EQ(Uci.MoveTimeMs, 0);
}

TEST_F(UciTest, GoPicksTheModeAndThePonderMove) {
  Handle({"position startpos moves e2e4 c7c5", "go ponder wtime 1000 btime 1000"});
  EXPECT_EQ(Uci.Mode, ModePondering);
  EXPECT_EQ(Uci.PonderMove, Uci.Game.Undo[1].Move);
  EXPECT_NE(Uci.PonderMove, 0u);

  Uci.Mode = ModeIdle;
  Handle({"go infinite"});
  EXPECT_EQ(Uci.Mode, ModeAnalysing);
}

TEST_F(UciTest, GoWithoutAValueReportsIt) {
  EXPECT_EQ(Handle({"go wtime"}), "info string Error (go): Missing Parameter\n");
}

TEST_F(UciTest, PositionSetsTheBoard) {
  const struct {
    const char* Command;
    const char* Fen;
    int Ply;
  } cases[] = {
      {"position startpos", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 0},
      {"position startpos moves e2e4 e7e5 then", "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -", 2},
      {"position fen 4k3/8/8/8/8/8/4P3/4K3 b - - 0 1", "4k3/8/8/8/8/8/4P3/4K3 b - -", 0},
      {"position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e4 e8d7", "8/3k4/8/8/4P3/8/8/4K3 w - -", 2},
      {"position fen 4k3/8/8/8/8/8/4P3/4K3 w - - moves e1d1", "4k3/8/8/8/8/8/4P3/3K4 b - -", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    EXPECT_EQ(Handle({"position startpos moves d2d4", c.Command}), "");
    EXPECT_EQ(Fen(), c.Fen);
    EXPECT_EQ(Uci.Game.GamePly, c.Ply);
  }
}

TEST_F(UciTest, PositionErrorsAreReportedAndLeaveASaneBoard) {
  const std::string afterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq -";
  const struct {
    const char* Command;
    const char* Output;
    const char* Fen;  // null: the board after d2d4 stays
  } cases[] = {
      {"position", "info string Error (position): Missing Parameter\n", nullptr},
      {"position fen 4k3/8/8/8/8/8/8/4K3", "info string Error (position): Missing Parameter\n", nullptr},
      {"position fen 4k3/8/8/8/8/8/8/8 w - - 0 1 moves a2a3",
       "info string Error (position): Bad FEN: Illegal board\n", nullptr},
      // The moves after one that cannot be played are meant for another board.
      {"position startpos moves e2e4 e2e5 g8f6", "info string Error (moves): Move not found: e2e5 0\n",
       "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -"},
      {"position startpos moves", "info string Error (moves): Missing Parameter\n",
       "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"},
      // A word in the place of "moves" is taken for it.
      {"position startpos mvs d2d4", "info string Error (position): Expected token moves\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    EXPECT_EQ(Handle({"position startpos moves d2d4", c.Command}), c.Output);
    EXPECT_EQ(Fen(), c.Fen ? c.Fen : afterD4);
  }
}

TEST_F(UciTest, SetOptionWritesTheSettings) {
  const struct {
    const char* Command;
    const int* Setting;
    int Expected;
  } cases[] = {
      {"setoption name hash value 0", &Settings::MainHash, 1},
      {"setoption name Hash value 2", &Settings::MainHash, 2},
      {"setoption name PostOutput value 7", &Settings::PostOutput, 1},
      {"setoption name PostOutput value -3", &Settings::PostOutput, 0},
      {"setoption name MultiPV value 50", &Settings::MultiPv, 20},
      {"setoption name MultiPV value 0", &Settings::MultiPv, 1},
      {"setoption name Threads value 0", &Settings::Cpus, 1},
      {"setoption name THREADS value 40", &Settings::Cpus, 32},
      {"setoption name NullBase value -5", &Settings::NullBase, 0},
      {"setoption name NullBase value 50", &Settings::NullBase, 50},
      {"setoption name LMRScout value -1", &Settings::LmrScout, 0},
      {"setoption name LMRScout value 2147483647", &Settings::LmrScout, 20},
      {"setoption name LMRPV value 99999999999", &Settings::LmrPv, 12},
      {"setoption name LMRExtraPV value 13", &Settings::LmrExtraPv, 12},
      {"setoption name LMRExtraScout value 2147483647", &Settings::LmrExtraScout, 12},
      {"setoption name NullBase value 2147483647", &Settings::NullBase, 4096},
      {"setoption name KingSafety value 10", &Settings::KingSafety, 25},
      {"setoption name SyzygyDepth value -9", &Settings::SzDepth, -1},
      {"setoption name PruneSecure value 1000", &Settings::PruneSecure, 400},
      {"setoption name TimeUse value abc", &Settings::TimeUse, 1},
      {"setoption name UCI_Chess960 value true", &Settings::DefaultVariant, 1},
      {"setoption name UCI_Chess960 value yes", &Settings::DefaultVariant, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    EXPECT_EQ(Handle({c.Command}), "");
    EXPECT_EQ(*c.Setting, c.Expected);
  }
  EXPECT_EQ(TranspositionTable::Megabytes(), 2);
  TranspositionTable::Allocate(1);
}

TEST_F(UciTest, SetOptionChecksAndTexts) {
  Handle({"setoption name Ponder VALUE true", "setoption name Learning value false",
          "setoption name UCI_ShowCurrLine value true", "setoption name SyzygyPath value C:/tb one;D:/tb two  \r\n"});
  EXPECT_TRUE(Settings::Ponder);
  EXPECT_FALSE(Settings::Learning);
  EXPECT_EQ(Uci.Flags[0], 1);
  EXPECT_STREQ(Settings::SyzygyPath, "C:/tb one;D:/tb two  ");

  // "value" is compared exactly except for Ponder.
  Handle({"setoption name Learning VALUE true"});
  EXPECT_FALSE(Settings::Learning);
}

TEST_F(UciTest, SetOptionErrorsAndIgnoredForms) {
  EXPECT_EQ(Handle({"setoption name Hash"}), "info string Error (setoption): Missing Parameter\n");
  EXPECT_EQ(Handle({"setoption name Hash value"}), "info string Error (setoption): Missing Parameter\n");
  EXPECT_EQ(Handle({"setoption name"}), "info string Error (setoption): Missing Parameter\n");
  EXPECT_EQ(Handle({"setoption name SyzygyPath value\n"}), "info string Error (setoption): Missing Parameter\n");
  EXPECT_EQ(Handle({"setoption name Clear Hash", "setoption name NoSuchOption value 3", "setoption Hash value 3"}),
            "");
  EXPECT_EQ(Settings::MainHash, 10);

  Settings::UciOption = false;
  Handle({"setoption name Threads value 4"});
  EXPECT_EQ(Settings::Cpus, 1);
}

TEST_F(UciTest, IdleCommands) {
  EXPECT_EQ(Handle({"isready", "", "debug on", "stop", "ponderhit", "nonsense"}), "readyok\n");
  EXPECT_EQ(Uci.HandleCommand("quit\n"), 1);

  Handle({"position startpos moves e2e4", "setoption name Ponder value true", "ucinewgame"});
  EXPECT_EQ(Uci.Game.GamePly, 0);
  EXPECT_FALSE(Settings::Ponder);
}

TEST_F(UciTest, CommandsDuringASearch) {
  StreamCapture capture(1, Scratch / "stdout");
  EXPECT_EQ(Uci.HandleCommandThinking("isready\n"), 0);
  EXPECT_EQ(Uci.HandleCommandThinking("go depth 3\n"), 0);
  EXPECT_EQ(Uci.HandleCommandThinking("stop\n"), 1);
  EXPECT_EQ(Uci.HandleCommandPondering("isready\n"), 0);
  EXPECT_EQ(Uci.HandleCommandPondering("foo bar\n"), 0);
  EXPECT_EQ(Uci.HandleCommandPondering("stop\n"), 1);
  EXPECT_EQ(Uci.HandleCommandThinking("quit\n"), 1);
  EXPECT_TRUE(Input::ReprocessLastLine);
  Input::ReprocessLastLine = false;
  EXPECT_EQ(capture.Finish(), "readyok\nreadyok\ninfo string Unknown command received: foo\n");
}

TEST_F(UciTest, ThinkingLines) {
  Settings::PostOutput = 1;
  const struct {
    int Depth;
    char Marker;
    int Elapsed;
    int Score;
    bool Printed;
    const char* Text;
  } cases[] = {
      {5, '.', 1500, 12345, true, "info depth 5 seldepth 0 score cp 1234 time 1500 nodes 0 nps 0 hashfull 0 tbhits 0 pv"},
      {5, '.', 1500, -199998, true, "info depth 5 score mate -1 time 1500 nodes 0 nps 0 hashfull 0 tbhits 0 pv"},
      // A mate at once: no time has passed, nothing must divide by it.
      {1, '.', 0, 199999, true, "info depth 1 score mate 1 time 0 nodes 0 nps 0 hashfull 0 tbhits 0 pv"},
      {1, '&', 50, 30, false, ""},
      {2, '.', 50, -30, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    StreamCapture capture(1, Scratch / "stdout");
    EXPECT_EQ(Uci.SendPv(c.Depth, c.Marker, c.Elapsed, c.Score), c.Printed);
    EXPECT_EQ(capture.Finish(), c.Text);
  }
  Settings::PostOutput = 3;
  StreamCapture capture(1, Scratch / "stdout");
  EXPECT_TRUE(Uci.SendPv(3, '&', 0, -25));
  EXPECT_TRUE(Uci.SendMultiPv(1, 4, -199990));
  EXPECT_FALSE(Uci.SendMultiPv(0, 4, -200000));
  Uci.SendStatus(50);
  Uci.SendStatus(250);
  EXPECT_FALSE(Uci.SendCurrentLine(1, 500));
  EXPECT_EQ(capture.Finish(),
            "info depth 3 seldepth 0 score cp -2 time 100 nodes 0 nps 0 hashfull 0 tbhits 0 pv"
            "info multipv 2 depth 4 score mate -5 pv"
            "info hashfull 0 nodes 0 nps 0 tbhits 0 \n");
}

TEST_F(UciTest, BestMoveIsPlayedAndAnnounced) {
  Handle({"position startpos"});
  StreamCapture capture(1, Scratch / "stdout");
  BestMove = Uci.Game.Moves.Moves[0];
  PonderMove = 0;
  Uci.Mode = ModeThinking;
  Uci.SendBestMove();
  std::string text = capture.Finish();
  EXPECT_EQ(text.rfind("bestmove ", 0), 0u) << text;
  EXPECT_EQ(text.find(" ponder"), std::string::npos);
  EXPECT_EQ(Uci.Game.GamePly, 1);
  EXPECT_EQ(Uci.Mode, ModeIdle);
}

TEST_F(UciTest, NoMoveIsStillAnsweredWithABestMove) {
  StreamCapture capture(1, Scratch / "stdout");
  BestMove = 0;
  Uci.SendBestMove();
  EXPECT_EQ(capture.Finish(),
            "info string Error (go): No legal moves found after search\n"
            "bestmove 0000\n");
}

TEST_F(UciTest, InfoTextsAreSingleLines) {
  StreamCapture capture(1, Scratch / "stdout");
  Uci.Info("Could not create book object, playing without a book\n");
  Uci.SendError("moves", "Move not found: e2e5 0\n");
  EXPECT_EQ(capture.Finish(),
            "info string Could not create book object, playing without a book\n"
            "info string Error (moves): Move not found: e2e5 0\n");
}

}  // namespace
