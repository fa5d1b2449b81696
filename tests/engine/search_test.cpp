// Fixed-depth searches: mates with their exact scores and legal mating lines,
// tactical positions, draws by repetition and the fifty-move rule inside the
// tree, and the stop rules of the driver.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/search.h"
#include "engine/smp.h"
#include "search_cases.h"
#include "search_fixture.h"
#include "tablebase/probe.h"
#include "tablebase/registry.h"

namespace {

TEST_F(SearchTest, FindsMatesWithTheirScoreAndALegalMatingLine) {
  for (const MateCase& c : MateCases) {
    SCOPED_TRACE(c.Fen);
    ChessGame game = FromFen(c.Fen);
    ThinkToDepth(game, c.Plies + 2);
    EXPECT_EQ(Text(game, BestMove), c.FirstMove);
    EXPECT_EQ(Statistics[0].LastScore, Infinity - c.Plies);
    const MultiPvLine& line = MultiPvLines[0];
    ASSERT_GE(line.PvLength, c.Plies);
    ASSERT_EQ(PlayableMoves(game, line.Pv, c.Plies), c.Plies);
    // The line ends in mate: the side to move has no legal reply and is in check.
    ChessGame end = game;
    for (int i = 0; i < c.Plies; ++i) ASSERT_TRUE(end.PlayMove(line.Pv[i]));
    GameResult result;
    EXPECT_TRUE(end.CheckGameEnd(result));
    EXPECT_EQ(result.Reason, ReasonMate);
  }
}

TEST_F(SearchTest, FindsTheTacticalMove) {
  for (const TacticCase& c : TacticCases) {
    SCOPED_TRACE(std::string(c.Theme) + ": " + c.Fen);
    ChessGame game = FromFen(c.Fen);
    ThinkToDepth(game, c.Depth);
    EXPECT_EQ(Text(game, BestMove), c.Expected);
    if (c.ProvenDraw) {
      EXPECT_EQ(Statistics[0].LastScore, 0);
    }
  }
}

TEST_F(SearchTest, BestMovePonderMoveAndEveryPvMoveAreLegalInSequence) {
  const char* fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
  };
  for (const char* fen : fens) {
    SCOPED_TRACE(fen);
    ChessGame game = FromFen(fen);
    ThinkToDepth(game, 6);
    const MultiPvLine& line = MultiPvLines[0];
    ASSERT_GE(line.PvLength, 2);
    EXPECT_EQ(line.Pv[0], BestMove);
    EXPECT_EQ(line.Pv[1], PonderMove);
    EXPECT_EQ(PlayableMoves(game, line.Pv, line.PvLength), line.PvLength);
    // One "." line per iteration, the last one at the fixed depth.
    ASSERT_FALSE(FrontEnd.Pvs.empty());
    EXPECT_EQ(FrontEnd.Pvs.back().Marker, '.');
    EXPECT_EQ(FrontEnd.Pvs.back().Depth, 6);
    EXPECT_EQ(Statistics[0].Depth, 6);
  }
}

// A search below the root, on the driver's terms: worker 0 awake, the records
// of the plies above the node cleared.
class NodeSearchTest : public SearchTest {
protected:
  int SearchAtPly(ChessGame& game, int ply, int alpha, int beta, int depth) {
    Worker& worker = WakeWorkers();
    for (PlyRecord& record : worker.Stack().Records) record = PlyRecord();
    TranspositionTable::NewSearch();
    bool abort = false;
    const int score = Search(ScoutNode, game, worker, ply, alpha, beta, depth, true, NoTablebaseValue, &abort);
    SendWorkersToSleep();
    EXPECT_FALSE(abort);
    return score;
  }
};

TEST_F(NodeSearchTest, FiftyMoveCounterAtHundredIsADrawEvenWhenMated) {
  // White can mate at once, but the counter has run out.
  ChessGame game = FromFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 100 80");
  EXPECT_EQ(SearchAtPly(game, 1, -1000, 1000, 8), 0);
  // Outside the window the draw answers with the bound it fails on.
  EXPECT_EQ(SearchAtPly(game, 1, 300, 301, 8), 300);
  // One ply earlier the mate counts; one ply later still, the mating move
  // itself reaches the hundredth ply and is only a draw.
  ChessGame fresh = FromFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 98 80");
  EXPECT_EQ(SearchAtPly(fresh, 1, -Infinity, Infinity, 8), Infinity - 2);
  ChessGame late = FromFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 99 80");
  EXPECT_LT(SearchAtPly(late, 1, -Infinity, Infinity, 8), MateBound);
}

TEST_F(NodeSearchTest, RepetitionInsideTheTreeIsADrawButNotAtPlyOneFromGameHistory) {
  // White, a queen up, has gone back and forth once: the position stood
  // here four plies ago.
  ChessGame game = FromFen("4k3/8/8/8/8/8/8/Q3K3 w - - 0 1");
  const char* shuffle[] = {"e1d1", "e8d8", "d1e1", "d8e8"};
  for (const char* text : shuffle) ASSERT_TRUE(game.PlayMove(FindMove(game, text)));
  // Deeper than two plies a single earlier occurrence is a draw.
  EXPECT_EQ(SearchAtPly(game, 4, -1000, 1000, 8), 0);
  // At ply 1 an occurrence before the root is not yet a draw.
  EXPECT_GT(SearchAtPly(game, 1, -1000, 1000, 8), 1000 - 1);
}

TEST_F(SearchTest, RootWithoutLegalMovesScoresMateOrStalemate) {
  struct Case {
    const char* Fen;
    int Score;
  } cases[] = {
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0},                                      // stalemate
      {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", -Infinity},  // fool's mate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Fen);
    ChessGame game = FromFen(c.Fen);
    Worker& worker = WakeWorkers();
    for (PlyRecord& record : worker.Stack().Records) record = PlyRecord();
    MultiPvCount = 1;
    for (MultiPvLine& line : MultiPvLines) line = {0, -Infinity, 0, {}};
    EXPECT_EQ(SearchRoot(game, worker, Infinity, 8, NoTablebaseValue), c.Score);
    EXPECT_EQ(game.Moves.Count, 0);  // every pseudo-legal move left the list
    SendWorkersToSleep();
  }
}

TEST_F(SearchTest, OwnMoveSearchStopsAfterIterationFourWithOneLegalMoveOrAMate) {
  // Black's king has a single move.
  ChessGame forced = FromFen("7k/8/6K1/8/8/8/8/1R6 b - - 0 1");
  ThinkToDepth(forced, 12);
  EXPECT_EQ(Statistics[0].Depth, 4);
  EXPECT_EQ(Text(forced, BestMove), "h8g8");

  ChessGame mate = FromFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  ThinkToDepth(mate, 12);
  EXPECT_EQ(Statistics[0].Depth, 4);

  // Analysis goes on to the depth asked for.
  ClockSettings::FixedDepth = 6;
  AllocateTime(mate, AllocateOwnMove);
  FrontEnd.Mode = ModeBusy;
  Think(mate, nullptr);
  EXPECT_EQ(Statistics[0].Depth, 6);
}

TEST_F(SearchTest, StopArrivingWhileSearchingEndsWithALegalBestMove) {
  ChessGame game = FromFen("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  AllocateTime(game, AllocateAnalyse);  // no time limit: only the input ends it
  FrontEnd.Mode = ModeAnalysing;
  SendInput("stop\n");
  Think(game, nullptr);
  ASSERT_FALSE(FrontEnd.Lines.empty());
  EXPECT_EQ(FrontEnd.Lines.back(), "stop\n");
  EXPECT_FALSE(StopSearch.load());  // cleared for the next search
  ASSERT_NE(BestMove, 0u);
  ChessGame after = game;
  EXPECT_TRUE(after.PlayMove(BestMove));
  EXPECT_LT(Statistics[0].Depth, MaxSearchDepth);
}

TEST_F(SearchTest, EndOfInputStopsTheSearch) {
  ChessGame game;
  AllocateTime(game, AllocateAnalyse);
  FrontEnd.Mode = ModeAnalysing;
  close(InputPipe[1]);
  InputPipe[1] = dup(InputPipe[0]);  // something for TearDown to close
  Think(game, nullptr);
  ASSERT_NE(BestMove, 0u);
  EXPECT_LT(Statistics[0].Depth, MaxSearchDepth);
}

TEST_F(SearchTest, OwnMoveSearchCountsBookMissesUpToEight) {
  ChessGame game;
  FrontEnd.BookMisses = 0;
  ThinkToDepth(game, 1);
  EXPECT_EQ(FrontEnd.BookMisses, 1);
  FrontEnd.BookMisses = 8;  // the books are no longer asked
  ThinkToDepth(game, 1);
  EXPECT_EQ(FrontEnd.BookMisses, 8);
}

TEST_F(SearchTest, MultiPvKeepsDistinctLinesBestFirstAndIsClampedToTwenty) {
  ChessGame game = FromFen("4k3/8/8/3q4/8/2N5/8/4K3 w - - 0 1");
  Settings::MultiPv = 3;
  ThinkToDepth(game, 4);
  EXPECT_EQ(MultiPvCount, 3);
  EXPECT_EQ(Text(game, MultiPvLines[0].Pv[0]), "c3d5");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(MultiPvLines[i].Depth, 4);
    if (i > 0) {
      EXPECT_GE(MultiPvLines[i - 1].Score, MultiPvLines[i].Score);
      EXPECT_NE(MultiPvLines[i - 1].Pv[0], MultiPvLines[i].Pv[0]);
    }
  }
  EXPECT_FALSE(FrontEnd.MultiPvLinesSent.empty());

  Settings::MultiPv = 500;
  ThinkToDepth(game, 1);
  EXPECT_EQ(MultiPvCount, MaxMultiPv);
}

TEST_F(SearchTest, NodeCountersStartAtZeroAndTheTableFillsAgain) {
  ChessGame game;
  ThinkToDepth(game, 5);
  EXPECT_GT(Statistics.InnerNodes(), 0u);
  EXPECT_GT(Statistics.QNodes(), 0u);
  EXPECT_GT(TranspositionTable::HashFull(), -1);
  const std::uint64_t first = Statistics.InnerNodes();
  ThinkToDepth(game, 1);
  EXPECT_LT(Statistics.InnerNodes(), first);  // cleared at the start of the search
}

}  // namespace

namespace {

TEST_F(SearchTest, FailedTablebaseProbeIsNoKnownResult) {
  ChessGame game = FromFen("4k3/8/8/8/8/8/8/Q3K3 w - - 0 1");
  const int savedMaxMen = TbMaxMen;
  TbMaxMen = 6;  // as if tables were registered: the probe is made and fails
  int probe = 12345;
  EXPECT_FALSE(ProbeForPruning(game, probe, Statistics[0]));
  EXPECT_EQ(probe, 12345);
  EXPECT_EQ(Statistics[0].SyzygyHits, 0u);
  TbMaxMen = savedMaxMen;
}

TEST(TablebaseReference, FirstProbeSetsTheReferenceAndWorseMovesAreDropped) {
  struct Step {
    int Probe;  // the opponent's view after the move
    bool Dropped;
    int Reference;
  };
  // Without a value for the node: the first probe, then the lowest, decide.
  const Step steps[] = {{0, false, 0}, {2, true, 0}, {-2, false, -2}, {0, true, -2}, {-2, false, -2}};
  bool haveReference = false;
  int reference = NoTablebaseValue;
  for (const Step& s : steps) {
    EXPECT_EQ(TablebaseDropsMove(s.Probe, reference, haveReference), s.Dropped) << s.Probe;
    EXPECT_EQ(reference, s.Reference);
  }
  // A node known to be won (value 2) keeps only moves that leave the
  // opponent lost.
  haveReference = true;
  reference = -2;
  EXPECT_TRUE(TablebaseDropsMove(0, reference, haveReference));
  EXPECT_FALSE(TablebaseDropsMove(-2, reference, haveReference));
}

}  // namespace
