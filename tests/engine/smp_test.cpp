// The search on several workers: the same mates and tactics as on one,
// legal moves and lines, no stop that nobody asked for, stops and thread
// count changes that never hang, and the booking rules of a split point.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "board_helpers.h"
#include "engine/movegen.h"
#include "engine/search.h"
#include "engine/smp.h"
#include "search_cases.h"
#include "smp_fixture.h"
#include "support/spinlock.h"

namespace {

constexpr int ThreadCounts[] = {1, 2, 4, 8};

TEST_F(SmpTest, MatesAndTacticsAreFoundOnEveryThreadCount) {
  Settings::SplitDepth = 4;  // split wherever a node has a ply to go, so that these short searches split
  for (const int threads : ThreadCounts) {
    for (const MateCase& c : MateCases) {
      SCOPED_TRACE(std::to_string(threads) + " threads: " + c.Fen);
      ChessGame game = FromFen(c.Fen);
      TranspositionTable::Clear();
      ThinkOnThreads(game, threads, c.Plies + 2);
      EXPECT_EQ(Text(game, BestMove), c.FirstMove);
      EXPECT_EQ(Statistics[0].LastScore, Infinity - c.Plies);
      ExpectLegalResult(game);
    }
    for (const TacticCase& c : TacticCases) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + c.Theme + ": " + c.Fen);
      ChessGame game = FromFen(c.Fen);
      TranspositionTable::Clear();
      ThinkOnThreads(game, threads, c.Depth);
      EXPECT_EQ(Text(game, BestMove), c.Expected);
      if (c.ProvenDraw) {
        EXPECT_EQ(Statistics[0].LastScore, 0);
      }
    }
  }
}

// Middlegames where a search of a few plies splits hundreds of times.
constexpr const char* SplitPositions[] = {
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8",
    "2r2rk1/pp1bqppp/2n1pn2/3p4/3P4/2PBPN2/P2N1PPP/R2Q1RK1 w - - 0 12",
};

TEST_F(SmpTest, SplitSearchesFinishEveryIterationWithALegalLine) {
  Settings::SplitDepth = 8;
  for (const int threads : ThreadCounts) {
    for (const char* fen : SplitPositions) {
      SCOPED_TRACE(std::to_string(threads) + " threads: " + fen);
      ChessGame game = FromFen(fen);
      TranspositionTable::Clear();
      Shared.Pvs.clear();
      ThinkOnThreads(game, threads, 7);
      ExpectLegalResult(game);
      // A helper's cut-off ends its split point with a result: nothing above
      // takes it for a stop, so every iteration ends with its line.
      EXPECT_EQ(Statistics[0].Depth, 7);
      ASSERT_FALSE(Shared.Pvs.empty());
      EXPECT_EQ(Shared.Pvs.back().Depth, 7);
      EXPECT_EQ(Shared.Pvs.back().Marker, '.');
      EXPECT_FALSE(RootSearchInterrupted);
      EXPECT_FALSE(Shared.SaidSmpBug());
      if (threads > 1) {
        EXPECT_GT(Statistics.Splits(), 0);
      } else {
        EXPECT_EQ(Statistics.Splits(), 0);
      }
    }
  }
}

TEST_F(SmpTest, WorkAndIdleTimeAreCountedPerWorkerWithinTheSearch) {
  Settings::SplitDepth = 8;
  for (const int threads : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    ChessGame game = FromFen(SplitPositions[0]);
    TranspositionTable::Clear();
    ThinkOnThreads(game, threads, 8);
    // The main thread searches from the start to the end; helpers search
    // only while they are booked, and an owner waiting for its helpers is
    // idle, not working. Every span lies inside the search, whose time is
    // counted in whole milliseconds (the bound allows for that rounding).
    const int endTime = Statistics[0].EndTime;
    EXPECT_GT(Statistics[0].WorkTime, 0u);
    EXPECT_LE(Statistics[0].WorkTime + Statistics[0].IdleTime, static_cast<std::uint32_t>(endTime + 2));
    for (int i = 1; i < threads; ++i) {
      SCOPED_TRACE("worker " + std::to_string(i));
      EXPECT_GT(Statistics[i].WorkTime, 0u);
      EXPECT_LE(Statistics[i].WorkTime, static_cast<std::uint32_t>(endTime + 2));
    }
    for (int i = threads; i < MaxWorkers; ++i) EXPECT_EQ(Statistics[i].WorkTime, 0u) << i;
    if (threads == 1) {
      EXPECT_EQ(Statistics.IdleTime(), 0);  // nobody to wait for
    }
  }
}

// Notes which threads talk to the front end about the root moves, and the
// root moves refuted in each iteration, with the iteration's new lines.
class RootReportFrontEnd : public SharedFrontEnd {
public:
  struct Iteration {
    std::vector<Move> Refuted;
    int NewLines = 0;   // '+' and '&': moves that got a line instead of a refutation
    int FailHighs = 0;  // '+': each starts the moves again on a wider window
  };

  void SendCurrentMove(int, const Move*, int, int) override { NoteThread(); }
  bool SendRefutation(const Move* moves, int) override {
    NoteThread();
    std::lock_guard<std::mutex> guard(Mutex);
    Iterations.back().Refuted.push_back(moves[0]);
    return false;
  }
  bool SendPv(int depth, char marker, int elapsed, int score) override {
    NoteThread();
    std::lock_guard<std::mutex> guard(Mutex);
    if (marker == '.') {
      Iterations.emplace_back();
    } else {
      ++Iterations.back().NewLines;
      if (marker == '+') ++Iterations.back().FailHighs;
    }
    return RecordingFrontEnd::SendPv(depth, marker, elapsed, score);
  }
  void NoteThread() {
    if (std::this_thread::get_id() != MainThread) Foreign.fetch_add(1);
  }

  std::thread::id MainThread = std::this_thread::get_id();
  std::atomic<int> Foreign{0};
  std::vector<Iteration> Iterations{1};
};

TEST_F(SmpTest, RootMovesSharedByTheWorkersAreEachSearchedOnceAPassAndReportedByTheMainThread) {
  Settings::SplitDepth = 4;  // the root splits from the first iteration on
  for (const int threads : {1, 4, 8}) {
    for (const char* fen : SplitPositions) {
      SCOPED_TRACE(std::to_string(threads) + " threads: " + fen);
      ChessGame game = FromFen(fen);
      std::set<std::string> legal;
      for (const Move move : LegalMoves(game)) legal.insert(Text(game, move));
      RootReportFrontEnd front;
      front.Mode = ModeThinking;
      front.BookMisses = 8;
      ActiveFrontEnd = &front;
      TranspositionTable::Clear();
      ThinkOnThreads(game, threads, 7);
      ActiveFrontEnd = &Shared;
      ExpectLegalResult(game);
      EXPECT_EQ(front.Foreign.load(), 0) << "a helper talked to the front end";
      EXPECT_FALSE(front.SaidSmpBug());
      // Seven finished iterations and the empty one after the last.
      ASSERT_EQ(front.Iterations.size(), 8u);
      for (std::size_t i = 0; i + 1 < front.Iterations.size(); ++i) {
        SCOPED_TRACE("iteration " + std::to_string(i + 1));
        const RootReportFrontEnd::Iteration& iteration = front.Iterations[i];
        std::map<std::string, int> times;
        for (const Move move : iteration.Refuted) {
          const std::string text = Text(game, move);
          EXPECT_TRUE(legal.count(text)) << text;
          ++times[text];
        }
        // No move is searched twice in a pass, and every move is searched:
        // refuted, or given a line of its own.
        for (const auto& [text, count] : times) EXPECT_LE(count, 1 + iteration.FailHighs) << text;
        EXPECT_GE(static_cast<int>(times.size()) + iteration.NewLines, static_cast<int>(legal.size()));
      }
    }
  }
}

TEST_F(SmpTest, StopsAndThreadCountChangesRepeatedlyNeverHang) {
  constexpr int Counts[] = {2, 8, 1, 4, 3, 8, 2, 5};
  ChessGame game = FromFen(SplitPositions[0]);
  Settings::SplitDepth = 8;
  for (int round = 0; round < 24; ++round) {
    const int threads = Counts[round % 8];
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(threads) + " threads");
    Settings::Cpus = threads;
    AllocateTime(game, AllocateAnalyse);  // only the stop ends it
    Shared.Mode = ModeAnalysing;
    // Every other stop waits until the workers are deep in split points.
    std::thread sender([this, round] {
      if (round % 2) std::this_thread::sleep_for(std::chrono::milliseconds(30 + round));
      SendInput("stop\n");
    });
    Think(game, nullptr);
    sender.join();
    EXPECT_EQ(ThreadCount.load(), threads);
    EXPECT_FALSE(StopSearch.load());
    EXPECT_FALSE(AnyWorkerRunning());
    EXPECT_LT(Statistics[0].Depth, MaxSearchDepth);
    ASSERT_NE(BestMove, 0u);
    ChessGame after = game;
    EXPECT_TRUE(after.PlayMove(BestMove));
  }
}

TEST_F(SmpTest, ThreadCountOutsideOneToThirtyTwoFailsAndLeavesThePool) {
  ASSERT_FALSE(SetNumberOfThreads(3));
  EXPECT_TRUE(SetNumberOfThreads(0));
  EXPECT_TRUE(SetNumberOfThreads(33));
  EXPECT_EQ(ThreadCount.load(), 3);
  for (int i = 0; i < MaxWorkers; ++i) {
    SCOPED_TRACE(i);
    if (i < 3) {
      ASSERT_NE(WorkerPool[i], nullptr);
      EXPECT_EQ(WorkerPool[i]->Id, i);  // also the index of its statistics and pawn hash
      EXPECT_EQ(WorkerPool[i]->State.load(), WorkerIdle);
    } else {
      EXPECT_EQ(WorkerPool[i], nullptr);
    }
  }
  // Growing to the maximum and back, the pool is whole each time.
  ASSERT_FALSE(SetNumberOfThreads(MaxWorkers));
  EXPECT_NE(WorkerPool[MaxWorkers - 1], nullptr);
  ASSERT_FALSE(SetNumberOfThreads(2));
  EXPECT_EQ(WorkerPool[2], nullptr);
}

// The configuration file's "cpus" reaches the pool through the settings'
// hook: the workers start as the count is read, not in the first search.
TEST_F(SmpTest, TheThreadSettingResizesThePoolAtOnce) {
  ASSERT_NE(SettingsHooks::CpusChanged, nullptr);
  for (const int threads : {4, 2, 1}) {
    Settings::Cpus = threads;
    SettingsHooks::CpusChanged();
    EXPECT_EQ(ThreadCount.load(), threads);
    for (int i = 1; i < MaxWorkers; ++i) EXPECT_EQ(WorkerPool[i] != nullptr, i < threads) << i;
  }
}

// A split point offered by worker 0 while the worker threads sleep: they are
// booked but cannot start, so the booking can be looked at and undone.
class SplitOfferTest : public SmpTest {
protected:
  void SetUp() override {
    SmpTest::SetUp();
    Owner = WorkerPool[0];
    ++Owner->StackLevel;
    Owner->State.store(WorkerBusy);
    Game = FromFen(SplitPositions[0]);
    Record = &Owner->Stack().Records[1];
    Record->Picker.List.Count = 0;
    Record->Picker.List.Cursor = 0;
  }

  void TearDown() override {
    for (int i = 1; i < ThreadCount.load(); ++i) {
      Worker& helper = *WorkerPool[i];
      SpinGuard guard(helper.Lock);
      if (Split.Helpers[i].load()) helper.LeaveSplitPoint();
    }
    EXPECT_EQ(Split.HelperCount.load(), 0);
    Owner->State.store(WorkerIdle);
    --Owner->StackLevel;
    SmpTest::TearDown();
  }

  // Worker threads that exist but sleep, as between searches.
  static void SleepingThreads(int count) {
    ASSERT_FALSE(SetNumberOfThreads(count));
    // A thread that has cleared its running flag is in its wait, or about to
    // enter it with no signal pending.
    while (AnyWorkerRunning()) std::this_thread::yield();
  }

  // Books helpers for a node whose list holds `left` moves not yet handed out.
  int Offer(int left) {
    Record->Picker.List.Count = left + 1;
    Record->Picker.List.Cursor = 1;
    Split.OwnerStack = &Owner->Stack();
    Split.Aborted.store(false);
    SplitPoint::Offer(Split, Game, *Owner, *Record, 1, -Infinity, NoMove, false, NoTablebaseValue, {ScoutNode, 1, 5});
    return Split.HelperCount.load();
  }

  Worker* Owner = nullptr;
  ChessGame Game;
  PlyRecord* Record = nullptr;
  SplitPoint Split;
};

TEST_F(SplitOfferTest, BooksAtMostMaxSplitMinusOneHelpersAndFewerThanTheMovesLeft) {
  SleepingThreads(8);
  struct Case {
    int MaxSplit;
    int MovesLeft;
    int Helpers;
  } cases[] = {{4, 20, 3}, {12, 3, 2}, {12, 2, 1}, {2, 20, 1}, {12, 20, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE("maxsplit " + std::to_string(c.MaxSplit) + ", moves left " + std::to_string(c.MovesLeft));
    Settings::MaxSplit = c.MaxSplit;
    EXPECT_EQ(Offer(c.MovesLeft), c.Helpers);
    for (int i = 1; i < 8; ++i) {
      Worker& helper = *WorkerPool[i];
      if (!Split.Helpers[i].load()) {
        EXPECT_EQ(helper.State.load(), WorkerIdle);
        continue;
      }
      EXPECT_EQ(helper.State.load(), WorkerWorkReady);
      EXPECT_EQ(helper.SplitStack[helper.SplitLevel], &Split);
      EXPECT_EQ(helper.StackLevel, 0);
      SpinGuard guard(helper.Lock);
      helper.LeaveSplitPoint();
      EXPECT_EQ(helper.StackLevel, -1);
    }
    EXPECT_EQ(Split.HelperCount.load(), 0);
  }
}

TEST_F(SplitOfferTest, AWorkerWithSplitPointsOfItsOwnHelpsOnlyItsOwnHelpers) {
  for (const int threads : {2, 3}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    SleepingThreads(threads);
    // The last worker waits at a split point of its own.
    Worker& other = *WorkerPool[threads - 1];
    other.OwnSplitPoints.store(1);
    for (int i = 1; i < threads - 1; ++i) WorkerPool[i]->State.store(WorkerBusy);
    // With two threads the owner can only be working for it: it is booked.
    // With more, only when the owner helps at its topmost split point.
    const bool ownerHelpsThere[] = {false, true};
    for (const bool helps : ownerHelpsThere) {
      other.SplitPoints[0].Helpers[0].store(helps ? 1 : 0);
      const int booked = Offer(10);
      EXPECT_EQ(booked, threads < 3 || helps ? 1 : 0) << "owner helps there: " << helps;
      if (booked) {
        SpinGuard guard(other.Lock);
        other.LeaveSplitPoint();
      }
    }
    other.SplitPoints[0].Helpers[0].store(0);
    other.OwnSplitPoints.store(0);
    for (int i = 1; i < threads - 1; ++i) WorkerPool[i]->State.store(WorkerIdle);
  }
}

TEST_F(SplitOfferTest, AnIdleWorkerWhoseLockIsHeldForAMomentIsStillBooked) {
  SleepingThreads(2);
  Worker& helper = *WorkerPool[1];
  // Whoever holds it (the worker leaving a split point, another owner
  // booking it) lets go in a moment; passing the worker over would leave it
  // idle for the whole node.
  SpinLock(helper.Lock);
  std::thread holder([&helper] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SpinUnlock(helper.Lock);
  });
  EXPECT_EQ(Offer(10), 1);
  holder.join();
  EXPECT_EQ(helper.State.load(), WorkerWorkReady);
  EXPECT_EQ(helper.SplitStack[helper.SplitLevel], &Split);
}

// The knight on e2 is pinned: of its moves and the king's, only the king's
// four are legal.
TEST_F(SplitOfferTest, MovesAreHandedOutMadeAndNumberedOnFromTheNodeLoop) {
  ChessGame board = FromFen("k3r3/8/8/8/8/8/4N3/4K3 w - - 0 1");
  MovePicker& picker = Record->Picker;
  GenerateMoves(board, picker.List);
  ASSERT_EQ(picker.List.Count, 10);
  picker.List.Cursor = 0;
  picker.Stage = StageWalk;
  Split.Record = Record;
  Split.Ply = 1;
  Split.Shape = {ScoutNode, 3, 5};  // the node loop searched three moves
  const std::uint64_t key = board.Hashkey;
  std::vector<int> numbers;
  std::uint32_t score;
  UndoRecord undo;
  int number = 0;
  for (Move move; (move = SplitPoint::NextMove(Split, score, board, *Owner, undo, number)) != NoMove;) {
    EXPECT_EQ(KindOf(board.Board[MoveTo(move)]), King) << move;
    EXPECT_NE(board.Hashkey, key);
    numbers.push_back(number);
    board.UnmakeMove(undo);
    EXPECT_EQ(board.Hashkey, key);
  }
  EXPECT_EQ(numbers, (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(Split.Shape.MovesSearched, 7);
}

TEST_F(SplitOfferTest, AFullSplitPointStackSearchesOnAlone) {
  SleepingThreads(2);
  Owner->OwnSplitPoints.store(MaxSplitPoints - 1);
  Record->Picker.List.Count = 10;
  Record->Picker.List.Cursor = 1;
  int best = -Infinity, alpha = -100;
  Move bestMove = NoMove;
  bool abort = false;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(
      SplitSearch(Game, *Owner, *Record, 1, best, alpha, bestMove, false, NoTablebaseValue, abort, {ScoutNode, 1, 5}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "# Failed split due to full splitpoint stack for worker 0\n");
  Owner->OwnSplitPoints.store(0);
  EXPECT_FALSE(abort);
  EXPECT_EQ(WorkerPool[1]->State.load(), WorkerIdle);
  EXPECT_EQ(Owner->SplitLevel, -1);
}

}  // namespace
