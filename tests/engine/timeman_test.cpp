// Time management with a fake clock (the search clock's start moved back):
// the budgets for sudden death, increments, moves to go, fixed depth and
// fixed time; the limits while pondering and analysing; the extensions and
// stops of the time check; input handed to the front end during a search.
#include "engine/timeman.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "engine/attacks.h"
#include "engine/driver.h"
#include "engine/endgame.h"
#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/material.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/tt.h"
#include "engine/zobrist.h"
#include "stub_front_end.h"
#include "support/capture.h"
#include "support/input.h"

namespace {

// Records what the time check tells it; its handlers act like a protocol's:
// "stop" ends the search, "ponderhit" turns the ponder search into thinking.
class ClockFrontEnd : public StubFrontEnd {
public:
  explicit ClockFrontEnd(ChessGame& game) : StubFrontEnd(ProtocolUci), Game(game) {}

  void SendStatus(int elapsedMs) override { Statuses.push_back(elapsedMs); }
  bool SendCurrentLine(int, int) override { return ShowLine; }
  int HandleCommand(const char* line) override { return Handle(line); }
  int HandleCommandThinking(const char* line) override { return Handle(line); }
  int HandleCommandPondering(const char* line) override {
    if (std::strncmp(line, "ponderhit", 9) == 0) {
      AllocateTime(Game, AllocatePonderHit);
      Mode = ModePonderHit;
      return 0;
    }
    return Handle(line);
  }
  int HandleCommandAnalysing(const char* line) override { return Handle(line); }
  int HandleCommandAfterAnalysis(const char* line) override { return Handle(line); }

  int Handle(const char* line) {
    Lines.push_back(line);
    if (std::strncmp(line, "stop", 4) == 0) {
      StopSearch = true;
      return 1;
    }
    return 0;
  }

  ChessGame& Game;
  bool ShowLine = false;
  std::vector<int> Statuses;
  std::vector<std::string> Lines;
};

// Scripted standard input: a pipe the test writes lines into.
class ScriptedInput {
public:
  ScriptedInput() {
    if (pipe(Ends) == 0) Input::Attach(Ends[0]);
  }
  ~ScriptedInput() {
    Input::Attach(STDIN_FILENO);
    if (Ends[1] >= 0) close(Ends[1]);
    close(Ends[0]);
  }
  void Send(const char* text) { ASSERT_EQ(write(Ends[1], text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text))); }
  void Close() {
    close(Ends[1]);
    Ends[1] = -1;
  }

private:
  int Ends[2] = {-1, -1};
};

class TimeManagementTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSettings();
    ClockSettings::Reset();
    StopSearch = false;
    OnlyOneMove = false;
    Front.BookMisses = 8;  // no book bonus unless a test asks for it
  }
  void TearDown() override {
    ResetSettings();
    ClockSettings::Reset();
    StopSearch = false;
  }

  // Sudden death with ms on the clock and inc ms a move.
  static void SuddenDeath(int ms, int inc) {
    ClockSettings::MovesToGo = 0;
    ClockSettings::TimeLeftMs = ms;
    ClockSettings::IncrementMs = inc;
    ClockSettings::FixedDepth = 0;
  }
  // The clock as if ms had passed since the search began.
  static void PassTime(int ms) {
    SearchClock.StartSeconds -= ms / 1000;
    SearchClock.StartMilliseconds -= ms % 1000;
  }

  // Every test reads from its own pipe: the time check polls the input,
  // and the test program's own standard input may be at its end.
  ScriptedInput Input;
  ChessGame Game;
  ClockFrontEnd Front{Game};
};

// Hand-worked budgets of the start position (material index 80, game ply 0,
// time use 100 %, 25 moves reserve): 56 moves to play in sudden death.
TEST_F(TimeManagementTest, BudgetsOfTheClockKinds) {
  struct Case {
    const char* Name;
    int MovesToGo, TimeLeft, Increment, BookMisses;
    bool Ponder;
    int ExpectedMovesToPlay;
    std::int64_t Min, Max, Easy;
  };
  const Case cases[] = {
      // available 58000 / 56 = 1035
      {"sudden death", 0, 60000, 0, 8, false, 56, 639, 2802, 127},
      // (56000 / 56) + 2000 = 3000
      {"increment", 0, 60000, 2000, 8, false, 56, 1852, 8122, 370},
      // 598000 / 56 = 10678
      {"long game", 0, 600000, 0, 8, false, 56, 6593, 28910, 1318},
      // 10678 x 176 / 128 = 14682 three searches after a book move
      {"after book", 0, 600000, 0, 3, false, 56, 9066, 39751, 1813},
      // 10678 x 131 / 128 = 10928 seven searches after it
      {"long after book", 0, 600000, 0, 7, false, 56, 6748, 29587, 1349},
      // 10678 + 5339 = 16017 when pondering is on
      {"ponder on", 0, 600000, 0, 8, true, 56, 9890, 43366, 1978},
      // 118000 / 40 = 2950
      {"40 moves", 40, 120000, 0, 8, false, 40, 1821, 7987, 364},
      // A GUI's 10 s + 0.1 s: available 7900, 7900 / 56 + 100 = 241, halved
      // to 120 as less than 10 s would remain; the reserve (28 x 974 + 731
      // needed) takes it to 120 - 1 - 120 / 16 = 112, which leaves 55 x 100
      // + 682 <= 7900. Without the increment it would be 66 (max 178).
      {"10 s + 0.1 s", 0, 10000, 100, 8, false, 56, 69, 303, 13},
  };
  for (const Case& c : cases) {
    SuddenDeath(c.TimeLeft, c.Increment);
    ClockSettings::MovesToGo = c.MovesToGo;
    Front.BookMisses = c.BookMisses;
    Settings::Ponder = c.Ponder;
    AllocateTime(Game, AllocateOwnMove);
    EXPECT_EQ(MovesToPlay, c.ExpectedMovesToPlay) << c.Name;
    EXPECT_EQ(TimeLimits::MinTime, c.Min) << c.Name;
    EXPECT_EQ(TimeLimits::MaxTime, c.Max) << c.Name;
    EXPECT_EQ(TimeLimits::EasyTime, c.Easy) << c.Name;
    EXPECT_EQ(TimeLimits::MaxDepth, MaxSearchDepth) << c.Name;
    EXPECT_EQ(TimeLimits::Start, 0) << c.Name;
  }
}

TEST_F(TimeManagementTest, MovesToGoCountsFromTheStartOfTheControl) {
  ClockSettings::MovesToGo = 40;
  ClockSettings::TimeLeftMs = 120000;
  ClockSettings::IncrementMs = 0;
  Game.GamePly = 78;  // black's 40th move: the last of the control
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_EQ(MovesToPlay, 1);
  // All the remaining time would be 118000; the reserve rule keeps most back.
  EXPECT_GT(TimeLimits::MaxTime, 118000 / 3);
  EXPECT_LT(TimeLimits::MaxTime, 118000 / 2);
  Game.GamePly = 80;  // a new control begins
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_EQ(MovesToPlay, 40);
}

TEST_F(TimeManagementTest, ExpectedMovesTablesKeepTheGivenValuesAndFillBetween) {
  const std::pair<int, double> byPly[] = {{0, 135.24}, {10, 125.34}, {20, 115.43}, {40, 96.38}, {60, 80.18},
                                          {80, 68.17}, {100, 60.45}, {150, 58.12}, {220, 58.12}, {300, 58.12},
                                          {400, 53.39}, {500, 51.86}, {600, 61.9}, {700, 31.0},  {749, 1.0},
                                          {750, 0.0},  {1023, 0.0}};
  for (auto [ply, value] : byPly) EXPECT_DOUBLE_EQ(ExpectedMovesByPly(ply), value) << ply;
  EXPECT_DOUBLE_EQ(ExpectedMovesByPly(5), (135.24 + 125.34) / 2);
  const std::pair<int, double> byMaterial[] = {{0, 24.88},  {3, 32.62},  {7, 44.84},  {9, 49.47},  {11, 57.51},
                                               {20, 64.08}, {30, 67.77}, {40, 70.76}, {60, 77.85}, {70, 98.5},
                                               {80, 129.24}, {89, 80.0}, {90, 0.0},  {127, 0.0}};
  for (auto [index, value] : byMaterial) EXPECT_DOUBLE_EQ(ExpectedMovesByMaterial(index), value) << index;
  // Between given values the tables move monotonically from one to the next.
  for (int ply = 101; ply < 150; ply++) {
    EXPECT_LE(ExpectedMovesByPly(ply), ExpectedMovesByPly(ply - 1));
    EXPECT_GE(ExpectedMovesByPly(ply), 58.12);
  }
  for (int index = 71; index <= 80; index++) EXPECT_GT(ExpectedMovesByMaterial(index), ExpectedMovesByMaterial(index - 1));
}

TEST_F(TimeManagementTest, FixedDepthLeavesDepthAsTheOnlyLimit) {
  ClockSettings::FixedDepth = 9;
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_EQ(TimeLimits::MaxDepth, 9);
  EXPECT_EQ(MovesToPlay, 1);
  EXPECT_GE(TimeLimits::MaxTime, 3600000);  // at least an hour
  EXPECT_GE(TimeLimits::MinTime, 600000);
  // Deeper than the table's depth field can hold is cut to what it holds.
  ClockSettings::FixedDepth = 1000;
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_EQ(TimeLimits::MaxDepth, MaxSearchDepth);
  EXPECT_LE(MaxSearchDepth * 4, 511);
}

TEST_F(TimeManagementTest, FixedTimePerMoveIsExactAndNeverExtended) {
  ClockSettings::MovesToGo = -1;
  ClockSettings::BaseSeconds = 7;
  ClockSettings::IncrementMs = 0;
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_EQ(TimeLimits::MinTime, 7000);
  EXPECT_EQ(TimeLimits::MaxTime, 7000);
  EXPECT_EQ(MovesToPlay, 1);
  EXPECT_EQ(TimeLimits::ExtensionCount, 10);
  TimeLimits::IterationUnfinished = true;
  TimeLimits::NewBestPending = true;
  PassTime(7100);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(StopSearch);
  EXPECT_TRUE(Front.Infos.empty());
}

TEST_F(TimeManagementTest, LittleOrNoTimeLeftGivesSmallSaneLimits) {
  for (int left : {0, -5000, 1000, 2500}) {
    SuddenDeath(left, 0);
    AllocateTime(Game, AllocateOwnMove);
    EXPECT_GE(TimeLimits::MinTime, 0) << left;
    EXPECT_GE(TimeLimits::MaxTime, TimeLimits::MinTime) << left;
    EXPECT_LE(TimeLimits::MaxTime, 100) << left;
  }
}

TEST_F(TimeManagementTest, PonderAndAnalysisRunWithoutTimeLimits) {
  SuddenDeath(60000, 0);
  AllocateTime(Game, AllocatePonder);
  EXPECT_EQ(TimeLimits::MinTime, NoTimeLimit);
  EXPECT_EQ(TimeLimits::MaxTime, NoTimeLimit);
  EXPECT_EQ(TimeLimits::EasyTime, 127);
  ClockSettings::FixedDepth = 6;
  AllocateTime(Game, AllocateAnalyse);
  EXPECT_EQ(TimeLimits::MinTime, NoTimeLimit);
  EXPECT_EQ(TimeLimits::MaxTime, NoTimeLimit);
  EXPECT_EQ(TimeLimits::EasyTime, NoTimeLimit);
  EXPECT_EQ(TimeLimits::MaxDepth, MaxSearchDepth);
  // Arithmetic on the "no limit" value must not overflow.
  EXPECT_GT(3 * TimeLimits::MaxTime - TimeLimits::MinTime, 0);
  PassTime(3000);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_FALSE(StopSearch);
}

TEST_F(TimeManagementTest, TimeReportShowsTheLimits) {
  SuddenDeath(60000, 0);
  AllocateTime(Game, AllocateOwnMove);
  EXPECT_STREQ(TimeManagementReport(),
               "Time Management: Time Left 0:01:00.000, Moves to play 56, start --:--:--.---, min 0:00:00.639, "
               "max 0:00:02.802, easy 0:00:00.127, depth 127");
}

TEST_F(TimeManagementTest, MaxTimeEndsTheSearchUnlessARootMoveIsUnresolved) {
  SuddenDeath(60000, 0);
  AllocateTime(Game, AllocateOwnMove);  // max 2802
  TimeLimits::NextStatusTime = 1 << 30;
  PassTime(2000);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_FALSE(StopSearch);

  // The first move of the iteration is unfinished: one extension of 0.6 x max.
  TimeLimits::IterationUnfinished = true;
  PassTime(1000);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_FALSE(StopSearch);
  EXPECT_EQ(TimeLimits::ExtensionCount, 1);
  EXPECT_EQ(TimeLimits::MaxTime, 2802 + 1681);
  ASSERT_EQ(Front.Infos.size(), 1u);
  EXPECT_EQ(Front.Infos[0], "Time Added (1): 0:00:01.681, new max 0:00:04.483");

  // No second one for the same reason.
  PassTime(1500);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(StopSearch);
  EXPECT_EQ(TimeLimits::NextStatusTime, 0);
}

TEST_F(TimeManagementTest, ExtensionsAreBoundedPerReasonAndByTheClock) {
  struct Case {
    bool Unfinished, Dropped, Pending;
    int Extensions;
  };
  const Case cases[] = {{true, false, false, 1}, {false, true, false, 2}, {false, false, true, 3}, {false, false, false, 0}};
  for (const Case& c : cases) {
    SuddenDeath(600000, 0);
    StopSearch = false;
    AllocateTime(Game, AllocateOwnMove);
    TimeLimits::NextStatusTime = 1 << 30;
    TimeLimits::IterationUnfinished = c.Unfinished;
    TimeLimits::ScoreDropped = c.Dropped;
    TimeLimits::NewBestPending = c.Pending;
    int rounds = 0;
    while (!StopSearch && rounds++ < 10) {
      PassTime(static_cast<int>(TimeLimits::MaxTime - SearchClock.Elapsed()) + 1);
      CheckTime(Game, *WorkerPool[0], 1);
    }
    EXPECT_TRUE(StopSearch);
    EXPECT_EQ(TimeLimits::ExtensionCount, c.Extensions);
  }
  // Under 6.5 s on the clock there is nothing to add: the extension is
  // negative and the search stops at once.
  SuddenDeath(6000, 0);
  StopSearch = false;
  AllocateTime(Game, AllocateOwnMove);
  TimeLimits::IterationUnfinished = true;
  const std::int64_t max = TimeLimits::MaxTime;
  PassTime(static_cast<int>(max) + 1);
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(StopSearch);
  EXPECT_EQ(TimeLimits::ExtensionCount, 1);
  EXPECT_LT(TimeLimits::MaxTime, max);
}

TEST_F(TimeManagementTest, StatusEveryTwoSecondsWithTheCurrentLine) {
  SuddenDeath(600000, 0);
  AllocateTime(Game, AllocateAnalyse);
  Worker& worker = *WorkerPool[0];
  worker.StackLevel = 0;
  worker.Record(0).CurrentMove = MakeMoveWord(52, 36) | MovePawn | MoveDoublePush;  // e2e4
  worker.Record(1).CurrentMove = MakeMoveWord(12, 28) | MovePawn | MoveDoublePush;  // e7e5
  worker.Record(2).CurrentMove = MoveNull;
  Front.ShowLine = true;
  TimeLimits::NextStatusTime = 0;
  TemporaryDirectory directory;
  ASSERT_TRUE(directory.Ready());
  StreamCapture output(1, directory / "out");
  PassTime(2500);
  CheckTime(Game, worker, 3);
  CheckTime(Game, worker, 3);  // within the two seconds: nothing more
  PassTime(2100);
  Front.ShowLine = false;
  CheckTime(Game, worker, 3);
  EXPECT_EQ(output.Finish(), " e2e4 e7e5 0000\n");  // UCI's null move
  ASSERT_EQ(Front.Statuses.size(), 2u);
  EXPECT_GE(Front.Statuses[1] - Front.Statuses[0], 2000);
  worker.StackLevel = -1;
}

TEST_F(TimeManagementTest, PendingInputGoesToTheModesHandler) {
  ScriptedInput& input = Input;
  SuddenDeath(600000, 0);
  AllocateTime(Game, AllocateAnalyse);
  TimeLimits::NextStatusTime = 1 << 30;
  Front.Mode = ModeAnalysing;
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(Front.Lines.empty());
  input.Send("isready\n");
  CheckTime(Game, *WorkerPool[0], 1);
  ASSERT_EQ(Front.Lines.size(), 1u);
  EXPECT_EQ(Front.Lines[0], "isready\n");
  EXPECT_FALSE(StopSearch);
  input.Send("stop\n");
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(StopSearch);
}

TEST_F(TimeManagementTest, EndOfInputStopsTheSearch) {
  ScriptedInput& input = Input;
  AllocateTime(Game, AllocateAnalyse);
  TimeLimits::NextStatusTime = 1 << 30;
  Front.Mode = ModeAnalysing;
  input.Close();
  CheckTime(Game, *WorkerPool[0], 1);
  EXPECT_TRUE(StopSearch);
}

TEST_F(TimeManagementTest, PonderHitKeepsSearchingOnlyWhileTheMoveIsOpen) {
  struct Case {
    const char* Name;
    int PonderedMs;
    std::int64_t IterationEnd;
    bool EasyFound, OneMove, Continues;
  };
  // Own-move limits of this clock: min 6593, max 28910. The ponder hit's own
  // allocation clears the fail-high count and the score flags.
  const Case cases[] = {
      {"last iteration ended before min", 3000, 2000, false, false, true},
      {"min already passed", 8000, 7000, false, false, false},
      {"an easy move was found", 3000, 2000, true, false, false},
      {"only one move", 3000, 2000, false, true, false},
      {"pondered beyond max", 30000, 2000, false, false, true},
  };
  for (const Case& c : cases) {
    SuddenDeath(600000, 0);
    StopSearch = false;
    OnlyOneMove = c.OneMove;
    Front.Mode = ModePondering;
    AllocateTime(Game, AllocatePonder);
    TimeLimits::NextStatusTime = 1 << 30;
    PassTime(c.PonderedMs);
    TimeLimits::IterationEnd = c.IterationEnd;
    TimeLimits::IterationUnfinished = false;
    TimeLimits::EasyFound = c.EasyFound;
    TimeLimits::ScoreDropped = true;
    TimeLimits::FailHighCount = 1;
    Input.Send("ponderhit\n");
    CheckTime(Game, *WorkerPool[0], 1);
    EXPECT_EQ(Front.Mode, ModeThinking) << c.Name;
    EXPECT_GE(TimeLimits::Start, c.PonderedMs) << c.Name;
    EXPECT_EQ(TimeLimits::MinTime, 6593) << c.Name;
    EXPECT_EQ(TimeLimits::MaxTime, 28910) << c.Name;
    EXPECT_FALSE(TimeLimits::ScoreDropped) << c.Name;
    EXPECT_EQ(TimeLimits::FailHighCount, 0) << c.Name;
    if (!c.Continues) {
      EXPECT_TRUE(StopSearch) << c.Name;
      continue;
    }
    EXPECT_FALSE(StopSearch) << c.Name;
    // The time spent pondering counts: the search ends at max as measured
    // from the start of the ponder search.
    PassTime(static_cast<int>(std::max<std::int64_t>(TimeLimits::MaxTime - SearchClock.Elapsed() + 1, 0)));
    CheckTime(Game, *WorkerPool[0], 1);
    EXPECT_TRUE(StopSearch) << c.Name;
  }
  OnlyOneMove = false;
}

// Whole searches under the clock: the engine's tables as main sets them up.
class TimedSearchTest : public TimeManagementTest {
protected:
  static void SetUpTestSuite() {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    MaterialTable::Build();
    InitRuleOfSquare();
    InitEval();
    ResetSettings();
    ScaleEvalWeights();
    TranspositionTable::Allocate(16);
  }
  void SetUp() override {
    TimeManagementTest::SetUp();
    TranspositionTable::Clear();
    Game.SetFEN("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  }
  // The best move is one of the root position's legal moves.
  void ExpectLegalBestMove() {
    ChessGame copy = Game;
    ASSERT_NE(BestMove, 0u);
    EXPECT_TRUE(copy.PlayMove(BestMove));
  }
};

TEST_F(TimedSearchTest, OwnMoveSearchEndsWithinItsMaximumTime) {
  SuddenDeath(20000, 0);
  Front.Mode = ModeThinking;
  AllocateTime(Game, AllocateOwnMove);
  const std::int64_t max = TimeLimits::MaxTime;
  ASSERT_LT(max, 2000);
  Think(Game, nullptr);
  ExpectLegalBestMove();
  // The clock is checked every 4096 nodes: the overshoot is a few of those.
  EXPECT_LE(Statistics[0].EndTime, max + 500);
  EXPECT_FALSE(StopSearch);  // the driver clears it for the next search
}

TEST_F(TimedSearchTest, StopWhileAnalysingEndsTheSearchWithALegalMove) {
  Front.Mode = ModeAnalysing;
  AllocateTime(Game, AllocateAnalyse);
  std::thread gui([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Input.Send("stop\n");
  });
  Think(Game, nullptr);
  gui.join();
  ExpectLegalBestMove();
  ASSERT_FALSE(Front.Lines.empty());
  EXPECT_EQ(Front.Lines.back(), "stop\n");
  EXPECT_GE(Statistics[0].Depth, 1);
}

}  // namespace
