// The xboard front end in process: what its commands leave in the clock, the
// game and the modes, and the exact lines it prints. Searches are tried on
// the real program (xboard_session_test.cpp).
#include "frontend/xboard.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/learning.h"
#include "engine/movepick.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "referee.h"
#include "support/capture.h"
#include "support/input.h"

namespace {

// Counts the hand-overs of finished games: each ends in a save.
class CountingLearning : public Learning {
public:
  bool Load() override { return false; }
  bool Close() override { return false; }
  bool Save() override {
    Saves++;
    return false;
  }
  int Saves = 0;
};

class XboardTest : public testing::Test {
protected:
  void SetUp() override {
    InitBoardTablesOnce();
    ResetSettings();
    ClockSettings::Reset();
    ClearStatistics();
    ASSERT_TRUE(Scratch.Ready());
    Xb = std::make_unique<XboardFrontEnd>();
    ActiveFrontEnd = Xb.get();
    BestMove = NoMove;
    PonderMove = NoMove;
  }
  void TearDown() override {
    ActiveFrontEnd = nullptr;
    Input::ReprocessLastLine = false;
    ResetSettings();
  }

  // The standard output of the lines, each handled as when idle.
  std::string Handle(std::initializer_list<const char*> lines) {
    StreamCapture capture(1, Scratch / "stdout");
    for (const char* line : lines) Xb->HandleCommand(line);
    return capture.Finish();
  }

  // The move of the game's list that the text names.
  Move MoveOf(const char* text) {
    int index = FindCoordinateMove(Xb->Game.Moves, Xb->Game, text);
    EXPECT_GE(index, 0) << text;
    return index < 0 ? NoMove : Xb->Game.Moves.Moves[index];
  }

  std::string Fen() { return Xb->Game.GetFEN(); }
  // The board and the side to move of the FEN.
  std::string BoardAndSide() {
    std::string fen = Fen();
    return fen.substr(0, fen.find(' ', fen.find(' ') + 1));
  }

  TemporaryDirectory Scratch;
  std::unique_ptr<XboardFrontEnd> Xb;
};

TEST_F(XboardTest, StartsAsBlackWithoutThinkingOutput) {
  EXPECT_EQ(Xb->Kind, ProtocolXboard);
  EXPECT_EQ(Xb->EngineSide, 1);
  EXPECT_FALSE(Xb->GetPost());
  EXPECT_EQ(Xb->Game.GamePly, 0);
  StreamCapture capture(1, Scratch / "stdout");
  Xb->StartUp();
  Xb->Info("Book loaded\n");
  Xb->SendError("setboard", "Bad FEN: Illegal board\n");
  EXPECT_EQ(capture.Finish(), "# feature done=0\n# Book loaded\nError (setboard): Bad FEN: Illegal board\n");
}

TEST_F(XboardTest, ProtoverAnnouncesTheFeatures) {
  const std::string features =
      "feature ping=1\nfeature setboard=1\nfeature playother=1\nfeature san=0\nfeature usermove=0\n"
      "feature time=1\nfeature draw=0\nfeature sigint=0\nfeature sigterm=0\nfeature reuse=1\n"
      "feature analyze=1\nfeature variants=\"normal,fischerandom,nocastle\"\nfeature colors=1\n"
      "feature ics=1\nfeature name=1\nfeature pause=0\nfeature myname=\"The Quelm 3.43\"\nfeature done=1\n";
  EXPECT_EQ(Handle({"xboard", "protover 2", "accepted ping", "rejected san"}), features);
  EXPECT_EQ(Handle({"protover"}), "Error (protover): Missing Parameter\n" + features);
}

TEST_F(XboardTest, ClockCommandsFillTheClock) {
  const struct {
    const char* Command;
    int Moves, Base, Increment, Depth, TimeLeft;
  } cases[] = {
      {"level 40 5 0", 40, 300, 0, 0, 300000},
      {"level 0 2:30 5", 0, 150, 5000, 0, 150000},
      {"level 0 1 0.5", 0, 60, 500, 0, 60000},
      // st and sd leave the time left as the last command set it.
      {"st 7", -1, 7, 0, 0, 4321},
      {"sd 6", 0, 0, 0, 6, 4321},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    ClockSettings::TimeLeftMs = 4321;
    ClockSettings::FixedDepth = 9;
    ClockSettings::Unused = 5;
    EXPECT_EQ(Handle({c.Command}), "");
    EXPECT_EQ(ClockSettings::MovesToGo, c.Moves);
    EXPECT_EQ(ClockSettings::BaseSeconds, c.Base);
    EXPECT_EQ(ClockSettings::IncrementMs, c.Increment);
    EXPECT_EQ(ClockSettings::FixedDepth, c.Depth);
    EXPECT_EQ(ClockSettings::Unused, 0);
    EXPECT_EQ(ClockSettings::TimeLeftMs, c.TimeLeft);
  }
  EXPECT_EQ(Handle({"time 6000", "otim 4500"}), "");
  EXPECT_EQ(ClockSettings::TimeLeftMs, 60000);
  EXPECT_EQ(ClockSettings::OpponentTimeMs, 45000);
}

// Hostile clock values are read in 64 bits and clamped (to 1,000,000,000 ms
// of clock, one day of increment, 10,000 moves), so that the time allocated
// stays a real budget instead of wrapping to a move played at once.
TEST_F(XboardTest, HostileClockValuesAreClampedAndStillLeaveTime) {
  const struct {
    const char* Command;
    int Moves, Base, Increment, TimeLeft;
    bool LongClock;  // the budget must then be long too
  } cases[] = {
      {"level 0 99999999 0", 0, 1000000, 0, 1000000000, true},  // minutes beyond the clock's range
      {"level 0 40000 0", 0, 1000000, 0, 1000000000, true},     // 2,400,000 s: the ms overflowed
      {"level 0 35791:2147483647 0", 0, 1000000, 0, 1000000000, true},
      {"level 0 1 1e300", 0, 60, 86400000, 60000, false},      // the increment's cast was out of range
      {"level 0 1 nan", 0, 60, 0, 60000, false},
      {"level -5 1 0", 0, 60, 0, 60000, false},                // never a fixed time per move
      {"level 99999999999 1 0", 10000, 60, 0, 60000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    EXPECT_EQ(Handle({c.Command}), "");
    EXPECT_EQ(ClockSettings::MovesToGo, c.Moves);
    EXPECT_EQ(ClockSettings::BaseSeconds, c.Base);
    EXPECT_EQ(ClockSettings::IncrementMs, c.Increment);
    EXPECT_EQ(ClockSettings::TimeLeftMs, c.TimeLeft);
    if (!c.LongClock) continue;
    AllocateTime(Xb->Game, AllocateOwnMove);
    EXPECT_GT(TimeLimits::MaxTime, 100000);
  }
  EXPECT_EQ(Handle({"time 1000000000", "otim 1000000000"}), "");
  EXPECT_EQ(ClockSettings::TimeLeftMs, 1000000000);
  EXPECT_EQ(ClockSettings::OpponentTimeMs, 1000000000);
  AllocateTime(Xb->Game, AllocateOwnMove);
  EXPECT_GT(TimeLimits::MaxTime, 100000);
  EXPECT_EQ(Handle({"time -99999999999", "st 99999999999"}), "");
  EXPECT_EQ(ClockSettings::TimeLeftMs, -1000000000);
  EXPECT_EQ(ClockSettings::BaseSeconds, 1000000);
}

TEST_F(XboardTest, ErrorsNameTheCommand) {
  const struct {
    const char* Command;
    const char* Output;
  } cases[] = {
      {"level 40 5", "Error (level): Missing Parameter\n"},
      {"st", "Error (st): Missing Parameter\n"},
      {"sd", "Error (sd): Missing Parameter\n"},
      {"time", "Error (time): Missing Parameter\n"},
      {"otim", "Error (otim): Missing Parameter\n"},
      {"ping", "Error (ping): Missing Parameter\n"},
      {"variant", "Error (variant): Missing Parameter\n"},
      {"usermove e2e4", "Error (usermove): Command not supported\n"},
      {"?", "Error (?): Command not supported\n"},
      {"bk", "Error (bk): Command not supported\n"},
      {"pause", "Error (pause): Command not supported\n"},
      {"resume", "Error (resume): Command not supported\n"},
      {"edit", "Error (edit): Command not supported, use the Setboard command instead\n"},
      {"frobnicate", "Error (frobnicate): Unknown command\n"},
      // Moves the position does not allow: the protocol's own answer.
      {"e2e5", "Illegal move: e2e5\n"},
      {"e7e5", "Illegal move: e7e5\n"},
      {"e1g1", "Illegal move: e1g1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    ClockSettings::MovesToGo = 11;
    EXPECT_EQ(Handle({c.Command}), c.Output);
    EXPECT_EQ(ClockSettings::MovesToGo, 11);
    EXPECT_EQ(Xb->Game.GamePly, 0);
  }
  EXPECT_EQ(Handle({"", "random", "draw", "rating 2100 1800", "computer", "ping 7"}), "pong 7\n");
}

TEST_F(XboardTest, SidesFollowNewForceGoAndPlayother) {
  const struct {
    const char* Command;
    int EngineSide;
  } cases[] = {
      {"force", -1}, {"go", 0}, {"playother", 1}, {"force", -1}, {"new", 1},
  };
  for (const auto& c : cases) {
    Handle({c.Command});
    EXPECT_EQ(Xb->EngineSide, c.EngineSide) << c.Command;
  }
  Handle({"force", "e2e4", "go"});
  EXPECT_EQ(Xb->EngineSide, 1);
  Handle({"playother"});
  EXPECT_EQ(Xb->EngineSide, 0);
}

TEST_F(XboardTest, WhiteAndBlackSetTheSideToMove) {
  Handle({"force", "e2e4"});
  EXPECT_EQ(Handle({"black"}), "");
  EXPECT_EQ(Xb->Game.GamePly, 1);  // Black was to move already: the game goes on
  EXPECT_EQ(Xb->EngineSide, 0);
  EXPECT_EQ(Handle({"white"}), "");
  EXPECT_EQ(Fen(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(Xb->EngineSide, 1);
  EXPECT_EQ(Handle({"d2d4"}), "");
  EXPECT_EQ(Xb->Game.GamePly, 1);
  // Black to move would leave White's king in check: refused, board kept.
  Handle({"setboard 4k3/8/8/8/8/8/4r3/4K3 w - - 0 1"});
  EXPECT_NE(Handle({"black"}), "");
  EXPECT_EQ(Fen(), "4k3/8/8/8/8/8/4r3/4K3 w - -");
}

TEST_F(XboardTest, UndoAndRemoveTakeMovesBack) {
  Handle({"force", "e2e4", "e7e5", "g1f3"});
  EXPECT_EQ(Handle({"undo"}), "");
  EXPECT_EQ(Xb->Game.GamePly, 2);
  Handle({"remove"});
  EXPECT_EQ(Xb->Game.GamePly, 0);
  Handle({"e2e4", "remove"});
  EXPECT_EQ(Xb->Game.GamePly, 1);  // fewer than two plies: nothing is removed
  Handle({"undo", "undo"});
  EXPECT_EQ(Xb->Game.GamePly, 0);
}

TEST_F(XboardTest, SetboardTakesTheRestOfTheLine) {
  EXPECT_EQ(Handle({"setboard 4k3/8/8/8/8/8/4P3/4K3 b - - 0 1"}), "");
  EXPECT_EQ(Fen(), "4k3/8/8/8/8/8/4P3/4K3 b - -");
  const std::string refused = Handle({"setboard 4k3/8/8/8/8/8/8/8 w - - 0 1"});
  EXPECT_EQ(refused.rfind("tellusererror Illegal position\nError (setboard): Bad FEN", 0), 0u) << refused;
  EXPECT_EQ(Fen(), "4k3/8/8/8/8/8/4P3/4K3 b - -");
}

TEST_F(XboardTest, VariantsOfTheFeatureLineAreAccepted) {
  EXPECT_EQ(Handle({"variant fischerandom"}), "");
  EXPECT_EQ(Settings::DefaultVariant, 1);
  EXPECT_EQ(Xb->Game.ChessVariant, 1);
  EXPECT_EQ(Handle({"variant nocastle"}), "");
  EXPECT_EQ(Xb->Game.ChessVariant, 0);
  EXPECT_EQ(Handle({"variant fischerandom", "variant normal"}), "");
  EXPECT_EQ(Xb->Game.ChessVariant, 0);
  EXPECT_EQ(Handle({"variant crazyhouse"}), "Error (variant): variant crazyhouse is not supported\n");
  EXPECT_EQ(Xb->Game.ChessVariant, 0);
}

TEST_F(XboardTest, NewGameIsNormalChessAgain) {
  // After a Chess960 game the GUI's next "new" starts normal chess, where it
  // writes castling as the king's two-square move.
  Handle({"variant fischerandom", "new", "force"});
  EXPECT_EQ(Xb->Game.ChessVariant, 0);
  EXPECT_EQ(Handle({"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "g8f6", "e1g1"}), "");
  EXPECT_EQ(Fen(), "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQ1RK1 b kq -");
}

TEST_F(XboardTest, Chess960CastlingIsReadAndWrittenAsTheProtocolExpects) {
  // King on e1, castling rooks on b1 and g1.
  EXPECT_EQ(Handle({"new", "variant fischerandom", "setboard 1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq - 0 1",
                    "force"}),
            "");
  EXPECT_EQ(Handle({"O-O-O"}), "");
  EXPECT_EQ(BoardAndSide(), "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/2KR2R1 b");
  Handle({"undo"});
  // The engine's own castling move goes out in the same form.
  StreamCapture capture(1, Scratch / "stdout");
  BestMove = MoveOf("O-O");
  Xb->EngineSide = 0;
  Xb->SendBestMove();
  EXPECT_EQ(capture.Finish(), "move O-O\n");
  EXPECT_EQ(BoardAndSide(), "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 b");
  // The opponent's castling as the king taking its own rook.
  EXPECT_EQ(Handle({"e8g8"}), "");
  EXPECT_EQ(BoardAndSide(), "1r3rk1/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 w");
}

TEST_F(XboardTest, ResultHandsTheGameOverOnce) {
  auto learning = std::make_unique<CountingLearning>();
  ActiveLearning = learning.get();
  Handle({"e2e4", "result 1-0 {White resigns}"});
  EXPECT_EQ(Xb->Game.Outcome.Result, ResultWhiteWins);
  EXPECT_EQ(Xb->EngineSide, -1);
  EXPECT_EQ(learning->Saves, 1);
  Handle({"result 1/2-1/2 {Draw}"});
  EXPECT_EQ(Xb->Game.Outcome.Result, ResultDraw);
  EXPECT_EQ(learning->Saves, 1);
  Handle({"new", "result 0-1 {White resigns}"});
  EXPECT_EQ(Xb->Game.Outcome.Result, ResultBlackWins);
  EXPECT_EQ(learning->Saves, 2);
  ActiveLearning = nullptr;
}

TEST_F(XboardTest, IcsFlagAndKibitz) {
  EXPECT_EQ(Handle({"name Alice"}), "");
  Handle({"ics -"});
  EXPECT_EQ(Xb->IcsFlag, 0);
  Handle({"ics freechess.org", "ics -"});
  EXPECT_EQ(Xb->IcsFlag, 1);  // set by any word but "-", cleared by nothing
  EXPECT_EQ(Handle({"name Alice"}), "tellics kibitz Hi Alice, I'm the Quelm version 3.43. Have a nice game\n");
}

TEST_F(XboardTest, UserMovesArePlayedAndEndTheGame) {
  Handle({"force"});
  EXPECT_EQ(Handle({"f2f3", "e7e5", "g2g4"}), "");
  EXPECT_EQ(Handle({"d8h4"}), "0-1 {mate}\n");
  EXPECT_EQ(Xb->Game.Outcome.Result, ResultBlackWins);
  // Playing against the engine: a mating move ends its game too, so that it
  // neither searches the mate nor announces the result twice.
  Handle({"new", "force", "f2f3", "e7e5", "g2g4", "playother"});
  EXPECT_EQ(Xb->EngineSide, 0);
  EXPECT_EQ(Handle({"d8h4"}), "0-1 {mate}\n");
  EXPECT_EQ(Xb->EngineSide, -1);
}

TEST_F(XboardTest, ThinkingLineInCentiseconds) {
  Settings::PostOutput = 1;
  Handle({"post"});
  const struct {
    int Depth;
    char Marker;
    int Elapsed;
    int Score;
    FrontEndMode Mode;
    Move Ponder;
    bool Printed;
    const char* Text;
  } cases[] = {
      {5, '.', 1530, 12345, ModeThinking, NoMove, true, "5. 1234 153 0"},
      {5, '&', 150, -50, ModeThinking, NoMove, true, "5& -5 15 0"},
      {9, '+', 99, 40, ModeThinking, NoMove, false, ""},
      // A mate found at once is shown even before 100 ms.
      {2, '.', 0, 199998, ModeThinking, NoMove, true, "2. 19998 0 0"},
      {4, '.', 2000, -199996, ModeThinking, NoMove, true, "4. -19996 200 0"},
      // Pondering without a guess searches the opponent's move: the score is
      // shown for the engine, mate scores too.
      {6, '.', 3000, 480, ModePondering, NoMove, true, "6. -48 300 0"},
      {6, '.', 3000, -199990, ModePondering, NoMove, true, "6. 19990 300 0"},
      {6, '.', 3000, 199990, ModePondering, NoMove, true, "6. -19990 300 0"},
      {6, '.', 3000, 480, ModePondering, 1, true, "6. 48 300 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    Xb->Mode = c.Mode;
    Xb->PonderMove = c.Ponder;
    StreamCapture capture(1, Scratch / "stdout");
    EXPECT_EQ(Xb->SendPv(c.Depth, c.Marker, c.Elapsed, c.Score), c.Printed);
    EXPECT_EQ(capture.Finish(), c.Text);
  }
  Xb->Mode = ModeThinking;
  Xb->PonderMove = NoMove;
  Settings::PostOutput = 2;
  EXPECT_FALSE(Xb->SendPv(8, '&', 1500, 30));
  Settings::PostOutput = 3;
  StreamCapture early(1, Scratch / "stdout");
  EXPECT_TRUE(Xb->SendPv(3, '&', 0, 30));
  EXPECT_EQ(early.Finish(), "3& 3 0 0");
  Settings::PostOutput = 0;
  EXPECT_FALSE(Xb->SendPv(8, '.', 5000, 30));
  Settings::PostOutput = 1;
  Handle({"nopost"});
  EXPECT_FALSE(Xb->SendPv(8, '.', 5000, 30));
}

TEST_F(XboardTest, BestMoveIsPlayedAnnouncedAndWhispered) {
  Handle({"ics on"});
  Statistics[0].Depth = 12;
  Statistics[0].LastScore = 345;
  Statistics[0].InnerNodes = 3000000;
  Statistics[0].SyzygyHits = 7;
  Statistics[0].OwnTime = 1500;
  Statistics[0].EndTime = 2000;
  ClockSettings::MovesToGo = 40;
  ClockSettings::MovesToGoReceived = 10;
  BestMove = MoveOf("e2e4");
  Xb->Game.PlayMove(BestMove);
  PonderMove = MoveOf("e7e5");
  Xb->Game.TakeBack();
  Xb->Mode = ModeThinking;
  StreamCapture capture(1, Scratch / "stdout");
  Xb->SendBestMove();
  EXPECT_EQ(capture.Finish(),
            "move e2e4\n"
            "tellics whisper 12: 0.345, 1500 knps, 7 tbHits, 1/2 seconds\n"
            "tellics whisper pv=e2e4 e7e5\n");
  EXPECT_EQ(Xb->Mode, ModeIdle);
  EXPECT_EQ(Xb->Game.GamePly, 1);
  EXPECT_EQ(Xb->PonderMove, PonderMove);
  EXPECT_EQ(ClockSettings::MovesToGoReceived, 9);
}

TEST_F(XboardTest, NoMoveAndFinishedGames) {
  auto learning = std::make_unique<CountingLearning>();
  ActiveLearning = learning.get();
  // Stalemate on the board: the result instead of a move.
  Handle({"setboard 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"});
  StreamCapture capture(1, Scratch / "stdout");
  Xb->SendBestMove();
  EXPECT_EQ(capture.Finish(), "1/2-1/2 {stalemate}\n");
  EXPECT_EQ(Xb->EngineSide, -1);
  EXPECT_EQ(learning->Saves, 1);

  // A mating move of the engine ends the game after it.
  Handle({"setboard 7k/8/5KQ1/8/8/8/8/8 w - - 0 1"});
  BestMove = MoveOf("g6g7");
  PonderMove = NoMove;
  Xb->EngineSide = 0;
  StreamCapture mate(1, Scratch / "stdout");
  Xb->SendBestMove();
  EXPECT_EQ(mate.Finish(), "move g6g7\n1-0 {mate}\n");
  EXPECT_EQ(Xb->EngineSide, -1);
  EXPECT_EQ(learning->Saves, 2);

  // A search without a result (or with a move the game refuses).
  Handle({"new"});
  for (Move best : {NoMove, MoveOf("e2e4") ^ 0x3f}) {
    BestMove = best;
    Xb->EngineSide = 0;
    StreamCapture none(1, Scratch / "stdout");
    Xb->SendBestMove();
    EXPECT_EQ(none.Finish(), "Error (go): No legal moves found after search\n");
    EXPECT_EQ(Xb->EngineSide, -1);
    EXPECT_EQ(Xb->Game.GamePly, 0);
  }
  ActiveLearning = nullptr;
}

TEST_F(XboardTest, CommandsWhileThinkingAreKept) {
  Xb->Mode = ModeThinking;
  StreamCapture capture(1, Scratch / "stdout");
  EXPECT_EQ(Xb->HandleCommandThinking("ping 7\n"), 0);
  EXPECT_EQ(Xb->PendingReply, 7);
  EXPECT_EQ(Xb->HandleCommandThinking("ping 8\n"), 0);  // waits behind the first
  EXPECT_EQ(Xb->HandleCommandThinking("time 500\n"), 0);
  EXPECT_EQ(Xb->HandleCommandThinking("post\n"), 0);
  EXPECT_EQ(Xb->HandleCommandThinking("level 40 5 0\n"), 0);
  EXPECT_EQ(Xb->HandleCommandThinking("draw\n"), 0);
  EXPECT_EQ(Xb->HandleCommandThinking("ics -\n"), 0);
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_EQ(ClockSettings::TimeLeftMs, 5000);
  EXPECT_TRUE(Xb->GetPost());
  EXPECT_EQ(ClockSettings::MovesToGo, 0);  // not during the search
  ASSERT_EQ(Xb->Deferred.size(), 2u);
  EXPECT_EQ(Xb->Deferred[0], "ping 8\n");
  EXPECT_EQ(Xb->Deferred[1], "level 40 5 0\n");
  EXPECT_EQ(Xb->Mode, ModeThinking);

  EXPECT_EQ(Xb->HandleCommandThinking("?\n"), 1);  // move now
  EXPECT_EQ(Xb->Mode, ModeThinking);
  EXPECT_FALSE(Input::ReprocessLastLine);
  for (const char* command : {"force\n", "new\n", "result 1-0\n", "quit\n"}) {
    Xb->Mode = ModeThinking;
    EXPECT_EQ(Xb->HandleCommandThinking(command), 1) << command;
    EXPECT_TRUE(Input::ReprocessLastLine);
    EXPECT_EQ(Xb->Mode, ModeIdle);
    Input::ReprocessLastLine = false;
  }
}

TEST_F(XboardTest, SmartIcsModeSetsTheFlagWhileThinking) {
  Xb->Mode = ModeThinking;
  Settings::IcsMode = 0;
  Xb->HandleCommandThinking("ics freechess.org\n");
  EXPECT_EQ(Xb->IcsFlag, 0);
  Settings::IcsMode = 2;
  Xb->HandleCommandThinking("ics -\n");
  EXPECT_EQ(Xb->IcsFlag, 0);
  Xb->HandleCommandThinking("ics freechess.org\n");
  EXPECT_EQ(Xb->IcsFlag, 1);
}

TEST_F(XboardTest, PonderingAnswersAtOnceAndTurnsAHitIntoTheOwnSearch) {
  Handle({"e2e4"});
  Xb->PonderMove = MoveOf("e7e5");
  ASSERT_TRUE(Xb->PlayPonderMove());
  EXPECT_EQ(Xb->Game.GamePly, 2);
  Xb->Mode = ModePondering;
  StreamCapture capture(1, Scratch / "stdout");
  for (const char* line : {"time 3000\n", "otim 2000\n", "ping 3\n", "nopost\n", "hard\n", "draw\n", "hint\n"})
    EXPECT_EQ(Xb->HandleCommandPondering(line), 0) << line;
  EXPECT_EQ(capture.Finish(), "pong 3\nHint: e7e5\n");
  EXPECT_EQ(ClockSettings::TimeLeftMs, 30000);
  EXPECT_EQ(ClockSettings::OpponentTimeMs, 20000);
  EXPECT_EQ(Xb->Mode, ModePondering);

  EXPECT_EQ(Xb->HandleCommandPondering("e7e5\n"), 0);
  EXPECT_EQ(Xb->Mode, ModePonderHit);
  EXPECT_FALSE(Input::ReprocessLastLine);
  // The guess is a move of the game now: nothing may take it back.
  EXPECT_EQ(Xb->PonderMove, NoMove);
  EXPECT_EQ(Xb->Game.GamePly, 2);
}

TEST_F(XboardTest, PonderMoveThatCannotBePlayedIsNotPonderedOn) {
  Handle({"e2e4"});
  Xb->PonderMove = MoveOf("e7e5");
  Xb->Flags[0] = 1;
  Handle({"undo"});  // White to move: the guess is no move of this board
  Xb->Flags[0] = 1;
  EXPECT_FALSE(Xb->PlayPonderMove());
  EXPECT_EQ(Xb->Game.GamePly, 0);
  EXPECT_EQ(Xb->Flags[0], 0);
}

TEST_F(XboardTest, CastlingWordOfTheOpponentIsReadOnItsOwnBoard) {
  // Black castles short while the engine ponders on it: the word names
  // Black's castling on the board before the guess, not White's after it.
  Handle({"setboard r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1", "a2a3"});
  Xb->PonderMove = MoveOf("e8g8");
  ASSERT_TRUE(Xb->PlayPonderMove());
  Xb->Mode = ModePondering;
  EXPECT_EQ(Xb->HandleCommandPondering("O-O\n"), 0);
  EXPECT_EQ(Xb->Mode, ModePonderHit);
}

TEST_F(XboardTest, CommandsThatChangeTheGameEndPondering) {
  Handle({"e2e4"});
  Xb->PonderMove = MoveOf("e7e5");
  ASSERT_TRUE(Xb->PlayPonderMove());
  for (const char* command : {"undo\n", "remove\n", "force\n", "new\n", "quit\n", "easy\n", "setboard 8/8/8/8 w\n",
                              "level 0 1 0\n", "d7d5\n", "bogus\n"}) {
    Xb->Mode = ModePondering;
    EXPECT_EQ(Xb->HandleCommandPondering(command), 1) << command;
    EXPECT_EQ(Xb->Mode, ModeIdle);
    EXPECT_TRUE(Input::ReprocessLastLine);
    Input::ReprocessLastLine = false;
  }
  EXPECT_TRUE(Xb->Deferred.empty());
}

TEST_F(XboardTest, AnalysisIsInterruptedByBoardCommands) {
  Handle({"analyze"});
  EXPECT_EQ(Xb->Mode, ModeAnalysing);
  StreamCapture capture(1, Scratch / "stdout");
  for (const char* line : {".\n", "post\n", "ping 5\n", "hard\n", "bogus\n"}) {
    EXPECT_EQ(Xb->HandleCommandAnalysing(line), 0) << line;
    EXPECT_EQ(Xb->Mode, ModeAnalysing);
  }
  EXPECT_FALSE(Input::ReprocessLastLine);
  EXPECT_EQ(capture.Finish(), "pong 5\n");
  EXPECT_TRUE(Settings::Ponder);

  for (const char* line : {"e2e4\n", "undo\n", "remove\n", "new\n", "setboard 8/8/8/8 w\n", "exit\n", "quit\n",
                           "bk\n"}) {
    Xb->Mode = ModeAnalysing;
    EXPECT_EQ(Xb->HandleCommandAnalysing(line), 1) << line;
    EXPECT_EQ(Xb->Mode, ModeAfterAnalysis);
    EXPECT_TRUE(Input::ReprocessLastLine);
    Input::ReprocessLastLine = false;
  }
}

TEST_F(XboardTest, CommandsAfterAnalysisChangeTheBoardAndResume) {
  Handle({"analyze"});
  const struct {
    const char* Line;
    int Ply;
    FrontEndMode Mode;
    const char* Output;
  } cases[] = {
      {"e2e4\n", 1, ModeAnalysing, ""},
      {"e2e4\n", 1, ModeAnalysing, "Illegal move: e2e4\n"},
      {"e7e5\n", 2, ModeAnalysing, ""},
      {"remove\n", 0, ModeAnalysing, ""},
      {"d2d4\n", 1, ModeAnalysing, ""},
      {"undo\n", 0, ModeAnalysing, ""},
      {"bk\n", 0, ModeAnalysing, ""},
      {"setboard 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\n", 0, ModeAnalysing, ""},
      {"e2e4\n", 1, ModeAnalysing, ""},
      {"new\n", 0, ModeAnalysing, ""},
      {"exit\n", 0, ModeIdle, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    Xb->Mode = ModeAfterAnalysis;
    StreamCapture capture(1, Scratch / "stdout");
    EXPECT_EQ(Xb->HandleCommandAfterAnalysis(c.Line), 0);
    EXPECT_EQ(capture.Finish(), c.Output);
    EXPECT_EQ(Xb->Game.GamePly, c.Ply);
    EXPECT_EQ(Xb->Mode, c.Mode);
  }
  EXPECT_EQ(Xb->EngineSide, -1);
  Xb->Mode = ModeAfterAnalysis;
  EXPECT_EQ(Xb->HandleCommandAfterAnalysis("quit\n"), 0);
  EXPECT_TRUE(Input::ReprocessLastLine);
  EXPECT_EQ(Xb->Mode, ModeIdle);
}

}  // namespace
