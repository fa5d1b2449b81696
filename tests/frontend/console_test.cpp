// The console front end: its banner and prompt, the idle commands and what
// they leave in the clock, the settings and the game, the handlers of the
// search modes, and whole sessions typed through a pipe (a game against the
// engine, pondering, analysis and the hand-over to UCI).
#include <gtest/gtest.h>

#include <filesystem>

#include <string>

#include "console_fixture.h"
#include "engine/learning.h"
#include "engine/movetext.h"
#include "engine/searchstate.h"
#include "engine/smp.h"
#include "shared_data.h"
#include "tablebase/probe.h"

namespace {

[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new ConsoleEnvironment);

TEST_F(ConsoleTest, BannerNamesTheVersionAndTheBuild) {
  StreamCapture capture(1, Scratch / "stdout");
  Console.StartUp();
  const std::string expected = std::string("\nThe Quelm\nversion 3.43, July 18th 2018\n") +
                               (sizeof(void*) == 4 ? "32-bits version\n" : "64-bits version\n") +
                               "\nEvaluation Version: evalparam.20180601163024\n\nSyzygy bases enabled\n\n";
  EXPECT_EQ(capture.Finish(), expected);
}

TEST_F(ConsoleTest, PromptShowsTheSideToMoveAndTheMoveNumber) {
  EXPECT_EQ(Handle({"force"}), "");
  StreamCapture capture(1, Scratch / "stdout");
  Console.Prompt();
  Console.HandleCommand("e2e4\n");
  Console.Prompt();
  Console.HandleCommand("e7e5\n");
  Console.Prompt();
  EXPECT_EQ(capture.Finish(), "W[1]> B[1]> W[2]> ");
}

TEST_F(ConsoleTest, ClockCommandsFillTheClockSettings) {
  const struct {
    const char* Command;
    int MovesToGo, Base, Increment, FixedDepth, TimeLeft;
  } cases[] = {
      {"level 40 5:30 0", 40, 330, 0, 0, 330000},
      {"level 40 5 2", 40, 300, 2000, 0, 300000},
      {"level 0 1:05 3", 0, 65, 3000, 0, 65000},
      {"st 5", -1, 5, 0, 0, -7},
      {"sd 8", 0, 0, 0, 8, -7},
      // Hostile values are clamped (1,000,000,000 ms of clock, one day of
      // increment) instead of wrapping in 32 bits.
      {"level 0 99999999 0", 0, 1000000, 0, 0, 1000000000},
      {"level 40 5 9999999", 40, 300, 86400000, 0, 300000},
      {"level 0 40000 0", 0, 1000000, 0, 0, 1000000000},
      {"st 99999999999", -1, 1000000, 0, 0, -7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    ClockSettings::Reset();
    ClockSettings::TimeLeftMs = -7;  // the commands that do not set it keep it
    ClockSettings::FixedDepth = 99;
    EXPECT_EQ(Handle({c.Command}), "");
    EXPECT_EQ(ClockSettings::MovesToGo, c.MovesToGo);
    EXPECT_EQ(ClockSettings::BaseSeconds, c.Base);
    EXPECT_EQ(ClockSettings::IncrementMs, c.Increment);
    EXPECT_EQ(ClockSettings::FixedDepth, c.FixedDepth);
    EXPECT_EQ(ClockSettings::Unused, 0);
    EXPECT_EQ(ClockSettings::TimeLeftMs, c.TimeLeft);
  }
}

TEST_F(ConsoleTest, SettingCommandsClampTheirValues) {
  EXPECT_EQ(Handle({"hash 0", "cpus 40", "splitdepth -3"}), "");
  EXPECT_EQ(Settings::MainHash, 1);
  EXPECT_EQ(TranspositionTable::Megabytes(), 1);
  EXPECT_EQ(Settings::Cpus, 32);
  EXPECT_EQ(ThreadCount.load(), 32);  // the workers start now, not in the next search
  EXPECT_EQ(Settings::SplitDepth, 0);
  EXPECT_EQ(Handle({"hash 8", "cpus 0", "splitdepth 99"}), "");
  EXPECT_EQ(TranspositionTable::Megabytes(), 8);
  EXPECT_EQ(Settings::Cpus, 1);
  EXPECT_EQ(ThreadCount.load(), 1);
  EXPECT_EQ(Settings::SplitDepth, 32);
  TranspositionTable::Allocate(16);

  EXPECT_EQ(Handle({"nullmove off", "iid off", "se off", "learning off"}), "");
  EXPECT_FALSE(Settings::DoNullMove);
  EXPECT_FALSE(Settings::DoIid);
  EXPECT_FALSE(Settings::Singular);
  EXPECT_FALSE(Settings::Learning);
  EXPECT_EQ(Handle({"nullmove on", "iid yes", "se 1", "learning true"}), "");
  EXPECT_TRUE(Settings::DoNullMove);
  EXPECT_TRUE(Settings::DoIid);
  EXPECT_TRUE(Settings::Singular);
  EXPECT_TRUE(Settings::Learning);
}

TEST_F(ConsoleTest, CommandsWithoutTheirArgumentsChangeNothing) {
  const char* commands[] = {"bench",  "dumpeval x", "level 40 5", "perft",     "sd",       "smpbench 3",
                            "st",     "symtest",    "test 5",     "totalperft 3", "hash",   "cpus",
                            "learning", "nullmove", "iid",        "se",        "splitdepth", "variant"};
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    const std::string word = std::string(command).substr(0, std::string(command).find(' '));
    ClockSettings::Reset();
    ResetSettings();
    EXPECT_EQ(Handle({command}), "ERROR - " + word + ": Missing Parameter\n");
    EXPECT_EQ(ClockSettings::MovesToGo, 0);
    EXPECT_EQ(ClockSettings::FixedDepth, 0);
    EXPECT_EQ(ClockSettings::TimeLeftMs, 5000);
    EXPECT_TRUE(Settings::DoNullMove);
    EXPECT_EQ(Console.EngineSide, 1);
  }
}

TEST_F(ConsoleTest, MovesListsTenAMoveLineAfterTheFirst) {
  const std::string output = Handle({"moves"});
  // " m1 \n m2 ... m11 \n m12 ... m20 \n20 legal moves.\n"
  const std::size_t first = output.find('\n'), second = output.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos) << output;
  EXPECT_EQ(CountOf(output.substr(0, first), " "), 2) << output;
  EXPECT_EQ(CountOf(output.substr(first + 1, second - first - 1), " "), 20) << output;
  EXPECT_EQ(CountOf(output, "\n"), 4) << output;
  EXPECT_NE(output.find(" \n20 legal moves.\n"), std::string::npos) << output;
  EXPECT_EQ(CountOf(output, "-"), 0);
}

TEST_F(ConsoleTest, MovesMarksTheMovesThatLeaveTheKingInCheckAndKeepsTheRedoLine) {
  Handle({"setboard 4k3/8/8/8/8/8/4r3/4K3 w - -"});
  const std::string output = Handle({"moves"});
  EXPECT_NE(output.find("e1d2-"), std::string::npos) << output;
  EXPECT_NE(output.find("e1f2-"), std::string::npos) << output;
  EXPECT_NE(output.find("e1e2 "), std::string::npos) << output;
  EXPECT_NE(output.find("e1d1 "), std::string::npos) << output;
  EXPECT_NE(output.find("\n3 legal moves.\n"), std::string::npos) << output;

  Handle({"force", "setboard rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "e2e4", "e7e5", "undo", "moves"});
  EXPECT_EQ(Console.Game.HighestPly, 2);  // listing tried the moves on a copy
}

TEST_F(ConsoleTest, UndoRemoveAndGameFollowTheMovesPlayed) {
  EXPECT_EQ(Handle({"force", "e2e4", "e7e5", "g1f3"}), "");
  EXPECT_EQ(Handle({"game"}), "Game: e2e4 e7e5 g1f3 \n");
  EXPECT_EQ(Handle({"undo"}), "");
  EXPECT_EQ(Console.Game.GamePly, 2);
  EXPECT_EQ(Console.EngineSide, -1);
  EXPECT_EQ(Handle({"remove"}), "");
  EXPECT_EQ(Console.Game.GamePly, 0);
  EXPECT_EQ(Handle({"e2e5", "e7e5"}), "ERROR - e2e5: Illegal move\nERROR - e7e5: Illegal move\n");
  EXPECT_EQ(Console.Game.GamePly, 0);
}

TEST_F(ConsoleTest, MateOnTheBoardPrintsTheResult) {
  EXPECT_EQ(Handle({"force", "f2f3", "e7e5", "g2g4"}), "");
  EXPECT_EQ(Handle({"d8h4"}), "0-1 {mate}\n");
}

TEST_F(ConsoleTest, SetboardTakesTheFenAndGivesTheEngineTheOtherSide) {
  EXPECT_EQ(Handle({"setboard"}), "Expecting a FEN string");
  const std::string output = Handle({"setboard 4k3/8/8/8/8/8/4P3/4K3 b - -"});
  EXPECT_NE(output.find("4k3/8/8/8/8/8/4P3/4K3 b - -"), std::string::npos) << output;
  EXPECT_EQ(Console.EngineSide, 0);

  // A FEN the board refuses leaves the game as it was.
  const std::string before = Console.Game.GetFEN();
  const std::string refused = Handle({"setboard 4k3/8/8/8/8/8/8/8 w - -"});
  EXPECT_EQ(refused.find("ERROR - setboard: "), 0u) << refused;
  EXPECT_EQ(Console.Game.GetFEN(), before);
  EXPECT_EQ(Console.EngineSide, 0);
}

TEST_F(ConsoleTest, SeeScoresACaptureAndRefusesAnUnknownMove) {
  Handle({"setboard 4k3/8/8/3p4/4P3/8/8/4K3 w - -"});
  const std::string output = Handle({"see e4d5", "see e4e6", "seexyz"});
  EXPECT_EQ(output.substr(0, 12), "SEE-value = ");
  EXPECT_GT(std::stoi(output.substr(12)), 0) << output;
  EXPECT_NE(output.find("\nUnknown move\nUnknown move\n"), std::string::npos) << output;
}

TEST_F(ConsoleTest, KeyScoreAndQscoreDescribeThePosition) {
  const std::string keys = Handle({"key"});
  char expected[128];
  std::snprintf(expected, sizeof expected, "Hashkey = 0x%016llx\n", static_cast<unsigned long long>(Console.Game.Hashkey));
  EXPECT_EQ(keys.find(expected), 0u) << keys;
  EXPECT_NE(keys.find("Matkey  = 0x"), std::string::npos);

  Handle({"setboard 4k3/8/8/3q4/4P3/8/8/R3K3 w - -"});
  const std::string scores = Handle({"score", "qscore"});
  int score = 0, qscore = 0;
  ASSERT_EQ(std::sscanf(scores.c_str(), "Score=%d\nQscore=%d", &score, &qscore), 2) << scores;
  EXPECT_LT(score, 0);
  EXPECT_GT(qscore, 3000);  // the queen is taken
  EXPECT_EQ(WorkerPool[0]->StackLevel, -1);
  EXPECT_EQ(Console.Mode, ModeIdle);
}

TEST_F(ConsoleTest, VariantSwitchesTheDefaultAndTheGame) {
  EXPECT_EQ(Handle({"variant fischerandom"}), "");
  EXPECT_EQ(Settings::DefaultVariant, 1);
  EXPECT_EQ(Console.Game.ChessVariant, 1);
  EXPECT_EQ(Handle({"variant off"}), "");
  EXPECT_EQ(Settings::DefaultVariant, 0);
  EXPECT_EQ(Handle({"variant fischerandom", "variant crazyhouse"}), "Variant unknown\n");
  EXPECT_EQ(Settings::DefaultVariant, 0);
  EXPECT_EQ(Console.Game.ChessVariant, 0);
}

TEST_F(ConsoleTest, ResultStoresTheCodeAndEndsTheEnginesPart) {
  const struct {
    const char* Command;
    int Code;
  } cases[] = {{"result 1-0 {White mates}", 1}, {"result 0-1", 2}, {"result 1/2-1/2 {agreed}", 3}, {"result *", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    Console.EngineSide = 1;
    Console.Game.Outcome.Result = 9;
    EXPECT_EQ(Handle({c.Command}), "");
    EXPECT_EQ(Console.Game.Outcome.Result, c.Code);
    EXPECT_EQ(Console.EngineSide, -1);
  }
  Console.EngineSide = 1;
  EXPECT_EQ(Handle({"result"}), "");
  EXPECT_EQ(Console.EngineSide, 1);
}

// "book" opens an own-format book; a name that is none, or no name, is
// reported and the game goes on.
TEST_F(ConsoleTest, BookCommandReportsABookThatWillNotOpen) {
  EXPECT_EQ(Handle({"book my.bin", "book"}), "Opening book 'my.bin' failed\nERROR - book: Missing Parameter\n");
  EXPECT_FALSE(std::filesystem::exists("my.bin.bdf"));
}

TEST_F(ConsoleTest, LearningCommandsNeedADepthAndTheLearningTable) {
  ASSERT_EQ(ActiveLearning, nullptr);
  EXPECT_EQ(Handle({"learn", "deeplearn"}), "");
  EXPECT_EQ(Handle({"learn 4", "deeplearn 4"}), "Learning is not enabled\nLearning is not enabled\n");
  EXPECT_EQ(Console.Game.GamePly, 0);
}

TEST_F(ConsoleTest, TablebaseCommandsReportAFailedProbe) {
  // No table is registered in the tests.
  Handle({"setboard 4k3/8/8/8/8/8/4P3/4K3 w - -"});
  const int moves = Console.Game.Moves.Count;
  const std::string output = Handle({"szwdl", "szdtz", "szdtzroot"});
  EXPECT_EQ(output,
            "ERROR - szwdl: Probe failed\nERROR - szdtz: Probe failed\nERROR - szdtzroot: Probe failed\n");
  EXPECT_EQ(Console.Game.Moves.Count, moves);  // the user may still play every move
}

TEST_F(ConsoleTest, TablebaseCommandsAnswerFromTheTables) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQvK.rtbw");
  StreamCapture quiet(1, Scratch / "found");
  InitTablebases(tables.parent_path().c_str());
  quiet.Finish();
  Handle({"setboard 4k3/8/8/8/8/8/8/3QK3 w - -"});
  const int moves = Console.Game.Moves.Count;
  const std::string won = Handle({"szwdl", "szdtz", "szdtzroot"});
  Handle({"setboard 4k3/8/8/8/8/8/8/3QK3 b - -"});
  const std::string lost = Handle({"szwdl", "szdtz"});
  Settings::SzDepth = -1;
  const std::string off = Handle({"szwdl"});
  InitTablebases("");

  EXPECT_EQ(won.find("Position is won\nPosition is won, conversion in "), 0u) << won;
  const std::size_t list = won.find(" moves (can be off by 1)\nThe following moves have the best result:\n ");
  ASSERT_NE(list, std::string::npos) << won;
  // Ten moves to a line: every queen move but the one giving the queen away.
  EXPECT_EQ(CountOf(won.substr(list), "\n"), 4) << won;
  EXPECT_EQ(won.find("d1d8"), std::string::npos) << won;
  EXPECT_EQ(lost.find("Position is lost\nPosition is lost, conversion in "), 0u) << lost;
  EXPECT_EQ(off, "ERROR - szwdl: Probe failed\n");
  Handle({"setboard 4k3/8/8/8/8/8/8/3QK3 w - -"});
  EXPECT_EQ(Console.Game.Moves.Count, moves);
}

TEST_F(ConsoleTest, ThinkingHandlerStopsOnlyForItsCommands) {
  Console.Mode = ModeThinking;
  const struct {
    const char* Line;
    int Result;
    bool Reprocess;
    const char* Output;
  } cases[] = {
      {"new\n", 1, true, ""},   {"quit\n", 1, true, ""},    {"result 1-0\n", 1, true, ""},
      {"?\n", 1, false, ""},    {"draw\n", 0, false, ""},   {"post\n", 0, false, ""},
      {"e2e4\n", 0, false, "ERROR - e2e4: Command not accepted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    Input::ReprocessLastLine = false;
    StreamCapture capture(1, Scratch / "stdout");
    EXPECT_EQ(Console.HandleCommandThinking(c.Line), c.Result);
    EXPECT_EQ(capture.Finish(), c.Output);
    EXPECT_EQ(Input::ReprocessLastLine, c.Reprocess);
  }
  EXPECT_TRUE(Console.GetPost());
  Input::ReprocessLastLine = false;
}

TEST_F(ConsoleTest, PonderingHandlerTellsAHitFromAMiss) {
  Handle({"force", "e2e4", "e7e5"});  // the engine expected e7e5 and plays it to ponder
  Console.PonderMove = Console.Game.Undo[1].Move;
  Handle({"undo"});
  Console.Game.PlayMove(Console.PonderMove);

  const struct {
    const char* Line;
    int Result;
    FrontEndMode Mode;
    bool Reprocess;
    const char* Output;
  } cases[] = {
      {"e7e5\n", 0, ModePonderHit, false, "ponderhit\n"},
      {"d7d5\n", 1, ModeIdle, true, "pondermiss\n"},
      {"hard\n", 0, ModePondering, false, ""},
      {"force\n", 1, ModeIdle, true, ""},
      {"result 1-0\n", 1, ModeIdle, true, ""},
      {"score\n", 0, ModePondering, false, "ERROR - score: Command not accepted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    Console.Mode = ModePondering;
    Input::ReprocessLastLine = false;
    StreamCapture capture(1, Scratch / "stdout");
    EXPECT_EQ(Console.HandleCommandPondering(c.Line), c.Result);
    EXPECT_EQ(capture.Finish(), c.Output);
    EXPECT_EQ(Console.Mode, c.Mode);
    EXPECT_EQ(Input::ReprocessLastLine, c.Reprocess);
  }
  Input::ReprocessLastLine = false;
}

TEST_F(ConsoleTest, AnalysisHandlersInterruptAndCarryOutTheCommand) {
  Console.Mode = ModeAnalysing;
  EXPECT_EQ(Console.HandleCommandAnalysing(".\n"), 0);
  EXPECT_EQ(Console.HandleCommandAnalysing("score\n"), 0);
  EXPECT_EQ(Console.Mode, ModeAnalysing);
  EXPECT_EQ(Console.HandleCommandAnalysing("e2e4\n"), 1);
  EXPECT_EQ(Console.Mode, ModeAfterAnalysis);
  EXPECT_TRUE(Input::ReprocessLastLine);
  Input::ReprocessLastLine = false;

  EXPECT_EQ(Console.HandleCommandAfterAnalysis("e2e4\n"), 0);
  EXPECT_EQ(Console.Mode, ModeAnalysing);
  EXPECT_EQ(Console.Game.GamePly, 1);
  StreamCapture capture(1, Scratch / "stdout");
  Console.HandleCommandAfterAnalysis("e2e4\n");
  EXPECT_EQ(capture.Finish(), "ERROR - e2e4: Illegal move\n");
  Console.HandleCommandAfterAnalysis("undo\n");
  EXPECT_EQ(Console.Game.GamePly, 0);
  Console.HandleCommandAfterAnalysis("exit\n");
  EXPECT_EQ(Console.Mode, ModeIdle);
  Console.HandleCommandAfterAnalysis("quit\n");
  EXPECT_EQ(Console.Mode, ModeIdle);
  EXPECT_TRUE(Input::ReprocessLastLine);
  Input::ReprocessLastLine = false;
}

// A game typed at the console: the engine answers each move, "undo" and
// "remove" take moves back, and "quit" says goodbye.
TEST_F(ConsoleTest, SessionPlaysAGameAgainstTheEngine) {
  const std::string output = Session({
      {"W[1]> ", "sd 2"},
      {"W[1]> ", "e2e4"},
      {"Computer's move: ", "post"},
      {"W[2]> ", "d2d4"},
      {"Computer's move: ", "undo"},
      {"B[2]> ", "remove"},
      {"B[1]> ", "game"},
      {"Game: ", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_EQ(RunResult, 0);
  EXPECT_EQ(output.substr(0, 7), "\nW[1]> ");
  EXPECT_EQ(CountOf(output, "Computer's move: "), 2) << output;
  EXPECT_NE(output.find("ply   score   time           nodes pv\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Game: e2e4 "), std::string::npos) << output;
  EXPECT_EQ(output.substr(output.size() - 11), "Goodbye...\n");
  EXPECT_EQ(Console.Game.GamePly, 1);  // e2e4 and the reply, the reply then taken back
  EXPECT_EQ(Console.EngineSide, -1);
}

TEST_F(ConsoleTest, SessionPondersOnTheExpectedReplyAndTakesItBack) {
  const std::string output = Session({
      {"W[1]> ", "sd 3"},
      {"", "hard"},
      {"", "e2e4"},
      {"Pondermove: ", "force"},
      {"W[2]> ", "game"},
      {"Game: ", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_NE(output.find("Pondermove: "), std::string::npos) << output;
  EXPECT_EQ(CountOf(output, "Computer's move: "), 1) << output;
  EXPECT_EQ(Console.Game.GamePly, 2);
  EXPECT_EQ(Console.Mode, ModeIdle);
}

TEST_F(ConsoleTest, SessionPonderHitBecomesTheEnginesMove) {
  const std::string output = Session({
      {"W[1]> ", "sd 3"},
      {"", "hard"},
      {"", "e2e4"},
      {"Pondermove: ", "@"},
      {"ponderhit\n", ""},
      {"Computer's move: ", "force"},
      {"W[3]> ", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_EQ(CountOf(output, "Computer's move: "), 2) << output;
  EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
  EXPECT_EQ(Console.Game.GamePly, 4);
}

TEST_F(ConsoleTest, SessionAnalysesUntilExit) {
  const std::string output = Session({
      {"W[1]> ", "post"},
      {"W[1]> ", "analyze"},
      {"ply   score", "e2e4"},
      {"ply   score", "exit"},
      {"B[1]> ", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_EQ(Console.Game.GamePly, 1);
  EXPECT_EQ(CountOf(output, "Computer's move"), 0) << output;
  EXPECT_EQ(output.substr(output.size() - 11), "Goodbye...\n");
}

TEST_F(ConsoleTest, SessionHandsOverToUciForGood) {
  const std::string output = Session({
      {"W[1]> ", "uci"},
      {"uciok\n", "isready"},
      {"readyok\n", "position startpos moves e2e4"},
      {"", "go depth 2"},
      {"bestmove ", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_EQ(RunResult, 0);
  EXPECT_NE(output.find("id name The Quelm 3.43"), std::string::npos) << output;
  EXPECT_EQ(ActiveFrontEnd, &Console);
  EXPECT_EQ(Console.Game.GamePly, 0);  // the UCI game was its own
  EXPECT_EQ(output.find("Goodbye"), std::string::npos) << output;
}

TEST_F(ConsoleTest, SessionHandsOverToXboardForGood) {
  const std::string output = Session({
      {"W[1]> ", "xboard"},
      {"", "protover 2"},
      {"done=1", "new"},
      {"", "force"},
      {"", "e2e4"},
      {"", "ping 7"},
      {"pong 7", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  EXPECT_EQ(RunResult, 0);
  EXPECT_EQ(ActiveFrontEnd, &Console);
  EXPECT_EQ(Console.Game.GamePly, 0);
  EXPECT_EQ(output.find("Goodbye"), std::string::npos) << output;
}

TEST_F(ConsoleTest, SessionQuitWhileThinkingStillPlaysTheMove) {
  const std::string output = Session({
      {"W[1]> ", "st 30"},
      {"W[1]> ", "e2e4"},
      {"Time Management", "quit"},
  });
  EXPECT_FALSE(TimedOut) << output;
  const std::size_t move = output.find("Computer's move: ");
  ASSERT_NE(move, std::string::npos) << output;
  EXPECT_GT(output.find("Goodbye...\n"), move);
  EXPECT_EQ(Console.Game.GamePly, 2);
}

}  // namespace
