// The real program under an xboard GUI's hands: started with pipes, spoken to
// in the xboard protocol, its every line checked for form, every move and
// every principal variation for legality.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "engine_process.h"
#include "referee.h"
#include "support/capture.h"
#include "xboard_lines.h"

namespace {

std::string AbsoluteProgram() { return std::filesystem::absolute(EngineProgramPath()).string(); }

// One engine started in a scratch directory under a base name that has no
// configuration file there, so that every setting is at its default.
class XboardSessionTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Engine = std::make_unique<EngineProcess>(AbsoluteProgram(), std::vector<std::string>{"sessiontest"},
                                             Scratch.Path.string(), Scratch / "stderr");
    ASSERT_TRUE(Engine->Started());
    Greeting = OpenXboardDialogue(*Engine);
    ASSERT_FALSE(Greeting.empty()) << Engine->TranscriptText() << ReadWholeFile(Scratch / "stderr");
  }
  void TearDown() override { Settings::DefaultVariant = 0; }

  // The next line that is neither a comment nor thinking output; every line
  // must have an xboard form and none may report an error.
  std::string NextAnswer(const Referee* thinkingFrom = nullptr) {
    for (;;) {
      auto line = Engine->ReadLine(60000);
      if (!line) {
        ADD_FAILURE() << "no answer\n" << Engine->TranscriptText();
        return "";
      }
      EXPECT_TRUE(IsXboardLine(*line)) << *line;
      EXPECT_FALSE(IsProtocolError(*line)) << *line;
      if (StartsWith(*line, "# ")) continue;
      if (auto thinking = ParseThinkingLine(*line)) {
        if (thinkingFrom) ExpectLegalLine(*thinkingFrom, *thinking, *line);
        continue;
      }
      return *line;
    }
  }

  // The engine's move, played on the referee's board; the whisper lines of
  // ICS mode that follow it are not read here.
  std::string AwaitMove(Referee& referee) {
    std::string answer = NextAnswer(&referee);
    std::string move = MoveOfLine(answer);
    EXPECT_FALSE(move.empty()) << answer << "\n" << Engine->TranscriptText();
    EXPECT_TRUE(referee.Play(move)) << "illegal " << move << " after" << referee.MovesText();
    return move;
  }

  // Sends "ping n": the pong must be the next answer, so no move was sent.
  void ExpectQuietUntilPong(int number) {
    Engine->Send("ping " + std::to_string(number));
    EXPECT_EQ(NextAnswer(), "pong " + std::to_string(number));
  }

  // Reads up to the first thinking line (with "post" on): the search runs,
  // so that the next command reaches it rather than the idle engine.
  void AwaitThinking() {
    for (;;) {
      auto line = Engine->ReadLine(30000);
      ASSERT_TRUE(line) << Engine->TranscriptText();
      ASSERT_TRUE(MoveOfLine(*line).empty()) << *line;
      if (ParseThinkingLine(*line)) return;
    }
  }

  static void ExpectLegalLine(const Referee& referee, const ThinkingLine& thinking, const std::string& line) {
    Referee after = referee;
    for (const std::string& move : thinking.Pv) {
      if (!after.Play(move)) {
        ADD_FAILURE() << "PV move " << move << " is not legal in: " << line << "\nafter" << referee.MovesText();
        return;
      }
    }
  }

  // A legal move of the referee's position in the engine's text.
  static std::string SomeLegalMove(Referee& referee) {
    for (int i = 0; i < referee.Game.Moves.Count; i++) {
      std::string text = MoveToText(referee.Game, referee.Game.Moves.Moves[i]);
      if (referee.IsLegal(text)) return text;
    }
    return "";
  }

  static void TakeBack(Referee& referee) {
    referee.Game.TakeBack();
    referee.Played.pop_back();
  }

  TemporaryDirectory Scratch;
  std::unique_ptr<EngineProcess> Engine;
  std::vector<std::string> Greeting;
};

TEST_F(XboardSessionTest, GreetingAnnouncesTheFeatures) {
  std::vector<std::string> lines;
  for (const std::string& line : Greeting)
    if (line != "# CPU has POPCNT") lines.push_back(line);
  const std::vector<std::string> expected = {
      "# feature done=0",
      "",
      "feature ping=1",
      "feature setboard=1",
      "feature playother=1",
      "feature san=0",
      "feature usermove=0",
      "feature time=1",
      "feature draw=0",
      "feature sigint=0",
      "feature sigterm=0",
      "feature reuse=1",
      "feature analyze=1",
      "feature variants=\"normal,fischerandom,nocastle\"",
      "feature colors=1",
      "feature ics=1",
      "feature name=1",
      "feature pause=0",
      "feature myname=\"The Quelm 3.43\"",
      "feature done=1",
  };
  EXPECT_EQ(lines, expected);
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, GameWithClockTakeBacksForceAndSetboard) {
  Referee referee;
  for (const char* line : {"new", "random", "level 0 1 0", "post", "computer"}) Engine->Send(line);
  Engine->Send("time 3000");
  Engine->Send("otim 3000");
  Engine->Send("e2e4");
  ASSERT_TRUE(referee.Play("e2e4"));
  AwaitMove(referee);
  Engine->Send("time 2900");
  Engine->Send("otim 2900");
  Engine->Send("d2d4");
  ASSERT_TRUE(referee.Play("d2d4"));
  AwaitMove(referee);
  ExpectQuietUntilPong(1);

  // In force mode the engine only follows the moves.
  Engine->Send("force");
  std::string white = SomeLegalMove(referee);
  Engine->Send(white);
  ASSERT_TRUE(referee.Play(white));
  ExpectQuietUntilPong(2);
  Engine->Send("undo");
  TakeBack(referee);
  Engine->Send("remove");
  TakeBack(referee);
  TakeBack(referee);
  ExpectQuietUntilPong(3);
  // "go" plays for the side to move, on the board the take-backs left.
  Engine->Send("go");
  AwaitMove(referee);

  // A position set up by the GUI: mate in one, and the result after it.
  Engine->Send("force");
  Engine->Send("setboard 6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  Engine->Send("go");
  EXPECT_EQ(NextAnswer(), "move a1a8");
  EXPECT_EQ(NextAnswer(), "1-0 {mate}");
  Engine->Send("result 1-0 {White mates}");
  ExpectQuietUntilPong(4);

  Engine->Send("new");
  Engine->Send("score");
  EXPECT_TRUE(StartsWith(NextAnswer(), "Score="));
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, IllegalMovesAndUnknownCommandsAreAnswered) {
  Engine->Send("new");
  Engine->Send("force");
  const struct {
    const char* Line;
    const char* Answer;
  } cases[] = {
      {"e2e5", "Illegal move: e2e5"},
      {"e7e5", "Illegal move: e7e5"},
      {"frobnicate", "Error (frobnicate): Unknown command"},
      {"edit", "Error (edit): Command not supported, use the Setboard command instead"},
  };
  for (const auto& c : cases) {
    Engine->Send(c.Line);
    auto line = Engine->ReadUntil(c.Answer, 10000);
    EXPECT_EQ(line.value_or(""), c.Answer);
  }
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, PingWhileThinkingIsAnsweredAfterTheMove) {
  Referee referee;
  Engine->Send("new");
  Engine->Send("post");
  Engine->Send("st 2");
  Engine->Send("go");
  AwaitThinking();
  Engine->Send("ping 7");
  AwaitMove(referee);
  EXPECT_EQ(NextAnswer(), "pong 7");
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, NoMoveIsSentAfterForceOrNew) {
  int ping = 10;
  for (const char* command : {"force", "new", "result 1-0 {White resigns}"}) {
    SCOPED_TRACE(command);
    Engine->Send("new");
    Engine->Send("post");
    Engine->Send("st 30");
    Engine->Send("go");
    AwaitThinking();
    Engine->Send(command);
    ExpectQuietUntilPong(ping++);
  }
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, PonderHitAnswersOnceAndAMissIsPlayedOnTheRealBoard) {
  Referee referee;
  for (const char* line : {"new", "hard", "ics freechess.org", "level 0 1 0", "time 6000", "otim 6000"})
    Engine->Send(line);
  Engine->Send("name Alice");
  EXPECT_EQ(NextAnswer(), "tellics kibitz Hi Alice, I'm the Quelm version 3.43. Have a nice game");

  std::string userMove = "e2e4";
  std::string expected;  // the move the engine ponders on
  bool hit = false, miss = false;
  for (int turn = 0; turn < 8 && !(hit && miss); turn++) {
    const bool isHit = turn > 0 && userMove == expected;
    Engine->Send("time 5000");
    Engine->Send("otim 5000");
    Engine->Send(userMove);
    ASSERT_TRUE(referee.Play(userMove)) << userMove;
    AwaitMove(referee);
    std::string whisper = NextAnswer();
    EXPECT_TRUE(StartsWith(whisper, "tellics whisper ")) << whisper;
    std::string pv = NextAnswer();
    ASSERT_TRUE(StartsWith(pv, "tellics whisper pv=")) << pv;
    if (turn > 0) (isHit ? hit : miss) = true;
    std::istringstream words(pv.substr(19));
    std::string best;
    expected.clear();
    words >> best >> expected;
    ASSERT_EQ(best, referee.Played.back());
    if (referee.IsOver()) break;
    // The move the engine ponders on, and then another one.
    if (!expected.empty()) {
      EXPECT_TRUE(referee.IsLegal(expected)) << pv;
    }
    userMove = SomeLegalMove(referee);
    for (int i = referee.Game.Moves.Count - 1; i >= 0; i--) {
      std::string other = MoveToText(referee.Game, referee.Game.Moves.Moves[i]);
      if (referee.IsLegal(other) && (other == expected) == !hit) {
        userMove = other;
        break;
      }
    }
  }
  EXPECT_TRUE(hit && miss) << Engine->TranscriptText();
  // The move after a ponder hit was sent once: nothing follows it now.
  Engine->Send("force");
  ExpectQuietUntilPong(20);
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, AnalysisFollowsTheBoardUntilExit) {
  Referee referee;
  for (const char* line : {"new", "force", "post", "analyze"}) Engine->Send(line);
  // Lines of the analysis before a move may still come after it; the
  // analysis of the new board is the one whose line is legal there.
  auto awaitLineFor = [&](const Referee& board) {
    for (int lines = 0; lines < 400; lines++) {
      auto line = Engine->ReadLine(30000);
      if (!line) break;
      EXPECT_FALSE(IsProtocolError(*line)) << *line;
      EXPECT_TRUE(MoveOfLine(*line).empty()) << *line;
      auto thinking = ParseThinkingLine(*line);
      if (!thinking || thinking->Pv.empty()) continue;
      Referee after = board;
      bool legal = true;
      for (const std::string& move : thinking->Pv) legal = legal && after.Play(move);
      if (legal) return true;
    }
    return false;
  };
  EXPECT_TRUE(awaitLineFor(referee));
  Engine->Send("e2e4");
  ASSERT_TRUE(referee.Play("e2e4"));
  EXPECT_TRUE(awaitLineFor(referee));
  Engine->Send("undo");
  TakeBack(referee);
  EXPECT_TRUE(awaitLineFor(referee));
  Engine->Send("exit");
  Engine->Send("ping 30");
  auto pong = Engine->ReadUntil("pong", 30000);
  EXPECT_EQ(pong.value_or(""), "pong 30");
  // Analysis is over and the engine plays no side.
  ExpectQuietUntilPong(31);
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, CommandsRightAfterAnalyzeReachTheAnalysis) {
  // The move may be waiting before the analysis has begun: it must be
  // played, and the dialogue must go on.
  Engine->Send("new");
  Engine->Send("force");
  Engine->Send("analyze");
  Engine->Send("e2e4");
  Engine->Send("ping 50");
  auto pong = Engine->ReadUntil("pong", 30000);
  EXPECT_EQ(pong.value_or(""), "pong 50") << Engine->TranscriptText();
  Engine->Send("exit");
  Engine->Send("e7e5");
  ExpectQuietUntilPong(51);
  Engine->Send("undo");
  Engine->Send("undo");
  Engine->Send("e2e5");
  EXPECT_EQ(Engine->ReadUntil("Illegal", 30000).value_or(""), "Illegal move: e2e5");
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, EndOfInputDuringAnalysisEndsTheProgram) {
  Engine->Send("analyze");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, HintAnswersWithoutKeepingTheEngineFromQuit) {
  Referee referee;
  Engine->Send("new");
  Engine->Send("force");
  Engine->Send("e2e4");
  ASSERT_TRUE(referee.Play("e2e4"));
  Engine->Send("hint");
  std::string hint = NextAnswer();
  ASSERT_TRUE(StartsWith(hint, "Hint: ")) << hint;
  EXPECT_TRUE(referee.IsLegal(hint.substr(6))) << hint;
  // Under a long time control the hint is still short, and "quit" sent
  // during it ends the program.
  Engine->Send("level 40 120 0");
  Engine->Send("hint");
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(XboardSessionTest, Chess960CastlingGoesBothWays) {
  Settings::DefaultVariant = 1;
  Referee referee;
  const char* fen = "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq - 0 1";
  ASSERT_TRUE(referee.SetFen(fen));
  Engine->Send("new");
  Engine->Send("variant fischerandom");
  Engine->Send(std::string("setboard ") + fen);
  Engine->Send("force");
  Engine->Send("O-O");
  ASSERT_TRUE(referee.Play("O-O"));
  ExpectQuietUntilPong(40);
  Engine->Send("st 1");
  for (int move = 0; move < 4; move++) {
    Engine->Send("go");
    AwaitMove(referee);
    Engine->Send("force");
    std::string reply = SomeLegalMove(referee);
    Engine->Send(reply);
    ASSERT_TRUE(referee.Play(reply));
  }
  ExpectQuietUntilPong(41);
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

}  // namespace
