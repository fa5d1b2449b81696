// The workers of the search and the split points through which they share a
// node. Worker 0 is the main thread, made before main; the worker threads
// that would join it at split points are not started by this build, so the
// pool holds one worker and no node is ever split.
#include "engine/smp.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/driver.h"
#include "engine/evalweights.h"
#include "engine/game.h"
#include "engine/pawns.h"
#include "engine/search.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/settings.h"
#include "support/output.h"
#include "support/spinlock.h"


Worker* WorkerPool[MaxWorkers] = {};
std::atomic<int> ThreadCount{1};

namespace {

constinit int NextWorkerId = 0;

// Worker 0 lives as long as the program.
struct MainWorkerHolder {
  MainWorkerHolder() { WorkerPool[0] = &Main; }
  Worker Main;
};
MainWorkerHolder CreateMainWorker;

void CopyRecords(const PlyStack& from, PlyStack& to, int plies) {
  for (int i = 0; i < plies; ++i) to.Records[i] = from.Records[i];
}

}  // namespace

SplitPoint::SplitPoint()
    : OwnerStack(nullptr), Record(nullptr), Board(), Helpers{}, Aborted(false), BestMove(0), SingularAllowed(false),
      OwnerId(0), Ply(0), TbReference(NoTablebaseValue), BestScore(0), HelperCount(0), Lock(0) {}

Worker::Worker()
    : History{}, SplitPoints{}, SplitStack{}, Stacks(nullptr), OwnSplitPoints(0), SplitLevel(-1), StackLevel(-1),
      Id(NextWorkerId), Lock(0), AbortFlag(false), State(WorkerUnusable) {
  Stacks = new (std::nothrow) PlyStack[MaxStackLevels];
  if (!Stacks) return;
  if (Id < MaxWorkers && PawnHash::Allocate(PawnHashes[Id])) return;
  State.store(WorkerIdle, std::memory_order_release);
  ++NextWorkerId;
}

Worker::~Worker() { Free(); }

void Worker::Free() {
  delete[] Stacks;
  Stacks = nullptr;
  if (State.load(std::memory_order_relaxed) != WorkerUnusable) {
    if (Id < MaxWorkers) PawnHash::Free(PawnHashes[Id]);
    --NextWorkerId;
    State.store(WorkerUnusable, std::memory_order_relaxed);
  }
}

bool Worker::ShouldStop() {
  if (StopSearch.load(std::memory_order_relaxed) || AbortFlag.load(std::memory_order_relaxed)) return true;
  for (int i = 0; i < OwnSplitPoints; ++i) {
    if (!SplitPoints[i].Aborted.load(std::memory_order_relaxed)) continue;
    for (int j = i + 1; j < OwnSplitPoints; ++j) SplitPoints[j].Aborted.store(true, std::memory_order_relaxed);
    AbortFlag.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

void Worker::Abort() {
  SpinGuard guard(Lock);
  const int state = State.load(std::memory_order_relaxed);
  if (OwnSplitPoints > 0 || state == WorkerBusy) AbortFlag.store(true, std::memory_order_relaxed);
  if (state == WorkerWorkReady) LeaveSplitPoint();
  State.store(WorkerBusy, std::memory_order_release);
}

void Worker::JoinSplitPoint() {
  SpinLock(Lock);
  if (State.load(std::memory_order_relaxed) != WorkerWorkReady) {
    AbortFlag.store(false, std::memory_order_relaxed);
    SpinUnlock(Lock);
    return;
  }
  SplitPoint* sp = SplitStack[SplitLevel];
  if (!sp->Aborted.load(std::memory_order_relaxed)) {
    State.store(WorkerBusy, std::memory_order_release);
    SpinUnlock(Lock);
    bool abort = false;
    SplitPoint::SearchMoves(*sp, *this, abort);
    SpinLock(Lock);
  }
  LeaveSplitPoint();
  SpinUnlock(Lock);
}

void Worker::LeaveSplitPoint() {
  SplitPoint* sp = SplitStack[SplitLevel];
  --SplitLevel;
  {
    SpinGuard guard(sp->Lock);
    sp->Helpers[Id].store(0, std::memory_order_relaxed);
    sp->HelperCount.fetch_sub(1, std::memory_order_acq_rel);
  }
  --StackLevel;
  AbortFlag.store(false, std::memory_order_relaxed);
  State.store(WorkerIdle, std::memory_order_release);
}

bool SetNumberOfThreads(int count) {
  if (count < 1 || count > MaxWorkers) return true;
  // Worker threads are not part of this build: one worker is all there is.
  return count != ThreadCount.load(std::memory_order_relaxed);
}

Worker& WakeWorkers() {
  Worker& main = *WorkerPool[0];
  std::memset(main.History, 0, sizeof main.History);
  main.State.store(WorkerBusy, std::memory_order_release);
  main.AbortFlag.store(false, std::memory_order_relaxed);
  ++main.StackLevel;
  return main;
}

void SendWorkersToSleep() {
  Worker& main = *WorkerPool[0];
  main.State.store(WorkerIdle, std::memory_order_release);
  main.AbortFlag.store(false, std::memory_order_relaxed);
  --main.StackLevel;
}

bool AnyWorkerRunning() { return false; }
bool AllWorkersAwake() { return true; }

bool SplitPoint::Offer(SplitPoint& sp, ChessGame& game, Worker& owner, PlyRecord& record, int ply, int best,
                       Move bestMove, bool singularAllowed, int tbValue) {
  sp.Record = &record;
  sp.Board = game;
  sp.Ply = ply;
  sp.BestScore = best;
  sp.BestMove = bestMove;
  sp.SingularAllowed = singularAllowed;
  sp.HelperCount.store(0, std::memory_order_relaxed);
  sp.TbReference = tbValue == NoTablebaseValue ? NoTablebaseValue : -tbValue;
  for (auto& helper : sp.Helpers) helper.store(0, std::memory_order_relaxed);

  const int threads = ThreadCount.load(std::memory_order_relaxed);
  const int movesLeft = record.Picker.List.Count - record.Picker.List.Cursor;
  for (int i = 0; i < threads; ++i) {
    const int helpers = sp.HelperCount.load(std::memory_order_relaxed);
    if (helpers >= Settings::MaxSplit - 1 || helpers >= movesLeft - 1 || sp.Aborted.load(std::memory_order_relaxed))
      break;
    Worker* candidate = WorkerPool[i];
    if (!candidate || candidate == &owner || candidate->State.load(std::memory_order_acquire) != WorkerIdle) continue;
    // With three or more workers a worker that owns split points helps only
    // where its own helpers could come back to it.
    const bool mayHelp = threads < 3 || candidate->OwnSplitPoints == 0 ||
                         candidate->SplitPoints[candidate->OwnSplitPoints - 1].Helpers[owner.Id].load();
    if (!mayHelp) continue;
    SpinGuard spGuard(sp.Lock);
    if (sp.Aborted.load(std::memory_order_relaxed)) break;
    SpinGuard workerGuard(candidate->Lock);
    if (candidate->State.load(std::memory_order_relaxed) != WorkerIdle) continue;
    candidate->State.store(WorkerBooked, std::memory_order_relaxed);
    candidate->AbortFlag.store(false, std::memory_order_relaxed);
    ++candidate->StackLevel;
    candidate->SplitStack[++candidate->SplitLevel] = &sp;
    CopyRecords(owner.Stack(), candidate->Stack(), ply);
    candidate->State.store(WorkerWorkReady, std::memory_order_release);
    sp.HelperCount.fetch_add(1, std::memory_order_acq_rel);
    sp.Helpers[candidate->Id].store(1, std::memory_order_relaxed);
  }
  return sp.HelperCount.load(std::memory_order_acquire) > 0;
}

Move SplitPoint::NextMove(SplitPoint& sp, std::uint32_t& score, ChessGame& game, Worker& worker) {
  SpinGuard guard(sp.Lock);
  return MovePicker::NextMove(*sp.Record, score, game, worker, sp.Ply, true);
}

void SplitPoint::SearchMoves(SplitPoint& sp, Worker& worker, bool& abort) {
  ChessGame game;
  static_cast<Position&>(game) = sp.Board;
  Position& pos = game;
  SearchStatistics& stats = Statistics[worker.Id];
  PlyRecord& record = *sp.Record;
  PlyRecord& own = worker.Stack().Records[sp.Ply];
  const bool inCheck = pos.InCheck();
  const int beta = record.Picker.Beta;
  const int depth = record.Picker.Depth;
  const bool probing = SyzygyProbing.load(std::memory_order_relaxed) && !inCheck;

  std::uint32_t orderingScore;
  for (Move move; (move = NextMove(sp, orderingScore, game, worker)) != NoMove;) {
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    int childTb = NoTablebaseValue;
    if (probing) {
      int probe;
      if (ProbeForPruning(game, probe, stats)) {
        SpinLock(sp.Lock);
        bool haveReference = sp.TbReference != NoTablebaseValue;
        int reference = sp.TbReference;
        const bool drop = TablebaseDropsMove(probe, reference, haveReference);
        sp.TbReference = reference;
        SpinUnlock(sp.Lock);
        if (drop) {
          pos.UnmakeMove(undo);
          continue;
        }
        childTb = probe;
      }
    }
    own.CurrentMove = move;
    bool reducible;
    const int extension =
        GetExtension(beta - record.Picker.Alpha > 1 ? PvNode : ScoutNode, game, move, inCheck, depth - 4, orderingScore,
                     undo, &reducible, worker.Id);
    const int newDepth = depth + extension - 4;
    int reduction = 0;
    if (reducible && orderingScore < ReducibleScoreLimit)
      reduction = std::min(std::max(newDepth - 3, 0),
                           beta - record.Picker.Alpha > 1 ? Settings::LmrPv : Settings::LmrScout);

    int score = 0, a = 0;
    bool childAbort = false;
    for (;;) {
      a = record.Picker.Alpha;
      score = -Search(ScoutNode, game, worker, sp.Ply + 1, -a - 1, -a, newDepth - reduction, sp.SingularAllowed,
                      childTb, &childAbort);
      if (childAbort || worker.ShouldStop()) break;
      if (score <= a) break;
      if (reduction > 0) {
        reduction = 0;
        continue;
      }
      if (record.Picker.Alpha <= a) break;
    }
    while (!childAbort && !worker.ShouldStop() && score > a && beta - a > 1) {
      score = -Search(PvNode, game, worker, sp.Ply + 1, -beta, -a, newDepth, sp.SingularAllowed, childTb, &childAbort);
      if (record.Picker.Alpha <= a || score <= record.Picker.Alpha) break;
      a = record.Picker.Alpha;
    }
    pos.UnmakeMove(undo);
    if (childAbort || worker.ShouldStop()) {
      abort = true;
      break;
    }

    if (score <= sp.BestScore) continue;
    SpinGuard guard(sp.Lock);
    if (score <= sp.BestScore) continue;
    sp.BestScore = score;
    sp.BestMove = move;
    if (score > record.Picker.Alpha) record.Picker.Alpha = score;
    if (score >= beta) {
      sp.Aborted.store(true, std::memory_order_relaxed);
      ++stats.CutNodes;
      TranspositionTable::StoreLower(pos.Keys(), score, depth, sp.Ply, move, 0);
      if (score < MateBound)
        UpdateKillers(record, move);
      else if (!(move & (MoveCapture | MovePromotion)))
        record.MateKiller = move;
      UpdateHistory(worker, depth + extension, pos.Board[MoveFrom(move)], move);
      sp.OwnerStack->Records[sp.Ply].Pv[sp.Ply] = move;
      sp.OwnerStack->Records[sp.Ply].PvLength = sp.Ply + 1;
      break;
    }
    UpdatePv(worker.Stack(), move, sp.Ply);
    PlyRecord& ownerRecord = sp.OwnerStack->Records[sp.Ply];
    for (int i = sp.Ply; i < own.PvLength; ++i) ownerRecord.Pv[i] = own.Pv[i];
    ownerRecord.PvLength = own.PvLength;
  }
}

int SplitPoint::MasterSearch(SplitPoint& sp, ChessGame&, Worker& worker, Move& bestMove, bool& abort) {
  ++worker.StackLevel;
  CopyRecords(*sp.OwnerStack, worker.Stack(), sp.Ply);
  SplitPoint::SearchMoves(sp, worker, abort);
  const int beta = sp.Record->Picker.Beta;
  if (!sp.Aborted.load() && !worker.ShouldStop() && !abort) {
    worker.State.store(WorkerIdle, std::memory_order_release);
    for (unsigned rounds = 1; sp.HelperCount.load(std::memory_order_acquire) > 0; ++rounds) {
      if (worker.Id == 0 && (rounds & 4095) == 0) {
        ChessGame game;
        static_cast<Position&>(game) = sp.Board;
        CheckTime(game, worker, sp.Ply);
      }
      if (sp.Aborted.load() || worker.ShouldStop()) {
        if (!worker.ShouldStop() && sp.BestScore < beta)
          Printer.Print(ChannelStderr, false, "# Set to Finished for unclear reasons\n");
        sp.Aborted.store(true);
        worker.Abort();
        break;
      }
      if (worker.State.load(std::memory_order_acquire) == WorkerWorkReady) worker.JoinSplitPoint();
      CpuPause();
    }
    if (sp.HelperCount.load(std::memory_order_acquire) == 0) {
      worker.Abort();
      bestMove = sp.BestMove;
      return sp.BestScore;
    }
  }
  sp.Aborted.store(true);
  while (sp.HelperCount.load(std::memory_order_acquire) > 0) {
    for (int i = 0; i < MaxWorkers; ++i) {
      if (!sp.Helpers[i].load() || !WorkerPool[i]) continue;
      Worker& helper = *WorkerPool[i];
      SpinGuard guard(helper.Lock);
      if (helper.State.load() == WorkerWorkReady)
        helper.LeaveSplitPoint();
      else if (helper.State.load() == WorkerBusy || helper.OwnSplitPoints > 0)
        helper.AbortFlag.store(true);
    }
    CpuPause();
  }
  abort = sp.BestScore < beta;
  bestMove = sp.BestMove;
  return std::max(sp.BestScore, sp.Record->Picker.Alpha);
}

bool SplitSearch(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int& best, int& alpha, Move& bestMove,
                 bool singularAllowed, int tbValue, bool& abort) {
  if (abort) Printer.Print(ChannelStderr, false, "# Entered SplitSearch while search should have been aborted\n");
  if (worker.OwnSplitPoints >= MaxSplitPoints - 1) {
    Printer.Print(ChannelStderr, false, "# Failed split due to full splitpoint stack for worker %d\n", worker.Id);
    return false;
  }
  SplitPoint& sp = worker.SplitPoints[worker.OwnSplitPoints];
  sp.OwnerStack = &worker.Stack();
  sp.OwnerId = worker.Id;
  sp.BestMove = NoMove;
  sp.Aborted.store(false);
  sp.TbReference = NoTablebaseValue;
  record.Picker.Alpha = alpha;
  ++worker.OwnSplitPoints;
  worker.SplitStack[++worker.SplitLevel] = &sp;
  if (!SplitPoint::Offer(sp, game, worker, record, ply, best, bestMove, singularAllowed, tbValue)) {
    --worker.SplitLevel;
    --worker.OwnSplitPoints;
    ++Statistics[worker.Id].FailedSplits;
    return false;
  }
  ++Statistics[worker.Id].Splits;
  best = SplitPoint::MasterSearch(sp, game, worker, bestMove, abort);
  alpha = std::max(alpha, record.Picker.Alpha);
  --worker.OwnSplitPoints;
  --worker.SplitLevel;
  --worker.StackLevel;
  abort = worker.ShouldStop();
  return true;
}
