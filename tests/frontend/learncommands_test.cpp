// The search's use of learned results, and the console's learning runs.
#include "frontend/learncommands.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/attacks.h"
#include "engine/learning_helpers.h"
#include "engine/movepick.h"
#include "engine/search_fixture.h"
#include "engine/stub_front_end.h"
#include "engine/zobrist.h"
#include "frontend/learningfile.h"
#include "support/capture.h"

namespace {

// ---------------------------------------------------------------------------
// The search and the console's learning runs

// A front end that can end a learning run from inside its searches: after a
// given number of searches it leaves "quit" for the idle loop, as the
// console does, or raises SIGINT.
class LearningFrontEnd : public RecordingFrontEnd {
public:
  void SearchStarted() override {
    RecordingFrontEnd::SearchStarted();
    if (Started == InterruptAt) raise(SIGINT);
    if (Started == QuitAt && QuitPipe >= 0) (void)!write(QuitPipe, "quit\n", 5);
  }
  int HandleCommandThinking(const char* line) override {
    if (std::strncmp(line, "quit", 4) == 0) Input::ReprocessLastLine = true;
    return RecordingFrontEnd::HandleCommandThinking(line);
  }
  int InterruptAt = -1;
  int QuitAt = -1;
  int QuitPipe = -1;
};

class LearningSearchTest : public SearchTest {
protected:
  static void SetUpTestSuite() {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    SearchTest::SetUpTestSuite();
  }
  void SetUp() override {
    SearchTest::SetUp();
    ActiveFrontEnd = &Runs;
    Runs.Mode = ModeThinking;
    Runs.BookMisses = 8;
    Runs.QuitPipe = InputPipe[1];
    ASSERT_TRUE(Scratch.Ready());
    Home = std::filesystem::current_path();
    std::filesystem::current_path(Scratch.Path);
    Table = new LearningFile;
    ActiveLearning = Table;
  }
  void TearDown() override {
    ActiveLearning = nullptr;
    delete Table;
    std::filesystem::current_path(Home);
    if (Input::ReprocessLastLine) Input::ReadLine();
    Input::ReprocessLastLine = false;
    ResetSettings();
    SearchTest::TearDown();
  }

  // The keys of the position after the moves (coordinate texts).
  static KeyPair After(ChessGame game, std::initializer_list<const char*> moves) {
    for (const char* text : moves) EXPECT_TRUE(game.PlayMove(FindMove(game, text))) << text;
    return game.Keys();
  }

  LearningFrontEnd Runs;
  LearningFile* Table = nullptr;
  TemporaryDirectory Scratch;
  std::filesystem::path Home;
};

// Learned results below the root stand for a search of their depth: deep
// enough, they decide the move; too shallow, they are not used.
TEST_F(LearningSearchTest, ALearnedResultDeepEnoughDecidesTheSearch) {
  ChessGame game;
  game.SetStartPosition();
  const char* replies[] = {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3", "d2d4", "e2e3", "e2e4",
                           "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"};
  const struct {
    int StoredDepth;
    bool Decides;
  } cases[] = {{100, true}, {4, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.StoredDepth);
    Table->FreeBuckets();
    TranspositionTable::Clear();
    // Every reply but one loses for white by the table; h2h3 wins.
    for (const char* reply : replies)
      Table->Add(After(game, {reply}), std::strcmp(reply, "h2h3") == 0 ? -5000 : 5000, c.StoredDepth);
    if (!c.Decides) {
      Table->FreeBuckets();
      Table->Add(After(game, {"h2h3"}), -5000, c.StoredDepth);
    }
    ThinkToDepth(game, 3);
    EXPECT_EQ(BestMove == FindMove(game, "h2h3"), c.Decides) << Text(game, BestMove);
    if (c.Decides) {
      EXPECT_EQ(static_cast<int>(Statistics[0].LastScore), 5000);
    } else {
      EXPECT_LT(static_cast<int>(Statistics[0].LastScore), 1000);
    }
  }
}

// The driver learns the root of every iteration, and from depth 7 on the
// first positions of the principal variation, each at the depth searched
// below it and with the score for its own side to move.
TEST_F(LearningSearchTest, ASearchLearnsItsRootAndTheHeadOfItsPrincipalVariation) {
  ChessGame game;
  game.SetStartPosition();
  ThinkToDepth(game, 6);
  EXPECT_EQ(Table->EntryCount, 1u);
  EXPECT_TRUE(Holds(*Table, game.Keys(), Statistics[0].LastScore, 24));

  Table->FreeBuckets();
  TranspositionTable::Clear();
  ThinkToDepth(game, 7);
  const int score = Statistics[0].LastScore;
  ASSERT_NE(BestMove, NoMove);
  ASSERT_NE(PonderMove, NoMove);
  EXPECT_TRUE(Holds(*Table, game.Keys(), score, 28));
  ChessGame line = game;
  ASSERT_TRUE(line.PlayMove(BestMove));
  EXPECT_TRUE(Holds(*Table, line.Keys(), -score, 24));
  ASSERT_TRUE(line.PlayMove(PonderMove));
  EXPECT_TRUE(Holds(*Table, line.Keys(), score, 20));
}

TEST_F(LearningSearchTest, LearningRunsWithLearningOffSayOnlySo) {
  ActiveLearning = nullptr;
  ChessGame game;
  game.SetStartPosition();
  StreamCapture capture(1, Scratch / "stdout");
  Learn(&game, 3);
  DeepLearn(&game, 3);
  LearnCommand(game, " 3\n");
  EXPECT_EQ(capture.Finish(), "Learning is not enabled\nLearning is not enabled\nLearning is not enabled\n");
  EXPECT_EQ(Runs.Started, 0);
}

TEST_F(LearningSearchTest, LearningCommandsWithoutANumberDoNothing) {
  ChessGame game;
  game.SetStartPosition();
  StreamCapture capture(1, Scratch / "stdout");
  for (const char* args : {static_cast<const char*>(nullptr), "", "  \n", "deep", "-3", "0"}) {
    LearnCommand(game, args);
    DeepLearnCommand(game, args);
  }
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_EQ(Runs.Started, 0);
}

// "learn" extends a line of twelve plies, searches it backwards, saves, and
// goes on until the user's "quit" is waiting for the idle loop.
TEST_F(LearningSearchTest, LearnBuildsTheLineForwardsSearchesItBackwardsAndStopsForQuit) {
  ChessGame game;
  game.SetStartPosition();
  Runs.QuitAt = 30;
  StreamCapture capture(1, Scratch / "stdout");
  Learn(&game, 2);
  const std::string out = capture.Finish();
  EXPECT_EQ(Runs.Started, 30);
  EXPECT_EQ(out.rfind("\nIteration 2-1\n\nBuilding principle variation\n+ (2) ", 0), 0u) << out;
  const std::size_t reverse = out.find("\nReverse principle variation traversal\n");
  ASSERT_NE(reverse, std::string::npos) << out;
  auto countOf = [&](const std::string& mark, std::size_t from, std::size_t to) {
    int count = 0;
    for (std::size_t at = out.find(mark, from); at < to; at = out.find(mark, at + 1)) ++count;
    return count;
  };
  EXPECT_EQ(countOf("\n+ (", 0, reverse), 12);
  EXPECT_EQ(countOf("\n- (", reverse, out.find("\nIteration", reverse)), 11);
  EXPECT_TRUE(std::filesystem::exists(LearningFile::DefaultName));
  // The caller's game is not touched.
  EXPECT_EQ(game.GamePly, 0);
}

// A position won beyond the expansion limit is searched once per iteration,
// the table cleared after it; Ctrl-C ends the run after the running search
// and the handler that was there before comes back.
TEST_F(LearningSearchTest, DeepLearnSearchesAWonPositionOncePerDepthAndStopsOnInterrupt) {
  ChessGame game = FromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  struct sigaction mine = {}, before = {}, after = {};
  mine.sa_handler = [](int) {};
  sigemptyset(&mine.sa_mask);
  sigaction(SIGINT, &mine, &before);

  StreamCapture capture(1, Scratch / "stdout");
  DeepLearn(&game, 120);
  std::string out = capture.Finish();
  EXPECT_EQ(Runs.Started, 8);
  for (int depth = 120; depth < 128; ++depth)
    EXPECT_NE(out.find("\nIteration depth " + std::to_string(depth) + "\n+ [" + std::to_string(depth) + "] a1a8 { "),
              std::string::npos)
        << out;
  EXPECT_EQ(HashAge.load(), 4);  // cleared after the last search
  EXPECT_EQ(out.find("Interrupting"), std::string::npos);

  Runs.Started = 0;
  Runs.InterruptAt = 1;
  game.SetStartPosition();
  StreamCapture again(1, Scratch / "stdout2");
  DeepLearn(&game, 2);
  out = again.Finish();
  EXPECT_EQ(Runs.Started, 1);
  EXPECT_NE(out.find("\nIteration depth 2\n+ [ 2] "), std::string::npos) << out;
  EXPECT_NE(out.find("\nInterrupting deep analysis ... <press enter>"), std::string::npos) << out;
  EXPECT_EQ(out.find("Iteration depth 3"), std::string::npos) << out;
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, mine.sa_handler);
  sigaction(SIGINT, &before, nullptr);
}

}  // namespace
