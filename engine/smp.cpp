// The workers of the search and the split points through which they share a
// node. Worker 0 is the main thread, made before main; the worker threads
// join and leave the pool between searches.
#include "engine/smp.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/pawns.h"
#include "engine/root.h"
#include "engine/search.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "support/clock.h"
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

// Entry i belongs to worker i; entry 0 stays empty (the main thread).
WorkerThread* WorkerThreads[MaxWorkers] = {};

// A worker that joins a node below its owner's plies reads of those plies
// only the moves that led there (null-move tests, printed lines) and the
// killers (ordering two plies down): those are copied, not the whole records
// with their move lists.
void CopyRecords(const PlyStack& from, PlyStack& to, int plies) {
  for (int i = 0; i < plies; ++i) {
    const PlyRecord& source = from.Records[i];
    PlyRecord& target = to.Records[i];
    target.CurrentMove = source.CurrentMove;
    target.MateKiller = source.MateKiller;
    target.Killer1 = source.Killer1;
    target.Killer2 = source.Killer2;
  }
}

// A worker's share of a split point's moves: the root's come from the root
// list, every other node's from its picker.
void SearchShare(SplitPoint& sp, Worker& worker, bool& abort) {
  if (sp.Root)
    SearchRootShare(sp, worker, abort);
  else
    SplitPoint::SearchMoves(sp, worker, abort);
}

// A waiting loop yields its processor once every 1024 pauses.
constexpr unsigned YieldMask = 1023;

// A waiting loop's pause. More workers than free processors (tests run side
// by side, or a machine busy elsewhere) must not starve the ones that work,
// so the wait yields now and then.
void Relax(unsigned& rounds) {
  CpuPause();
  if ((++rounds & YieldMask) == 0) std::this_thread::yield();
}

// A worker's lock is held for moments, but its holder may have lost its
// processor to other work: the wait yields now and then.
void LockWorker(Worker& worker) {
  unsigned rounds = 0;
  while (worker.Lock.exchange(1, std::memory_order_acquire) != 0)
    while (worker.Lock.load(std::memory_order_relaxed) != 0) Relax(rounds);
}

// The shared alpha of a split node: helpers read it without the lock.
std::atomic_ref<std::int32_t> SharedAlpha(SplitPoint& sp) {
  return std::atomic_ref<std::int32_t>(sp.Record->Picker.Alpha);
}

// With fewer workers than this, the only worker that can be helping the
// candidate is the owner that books it: the rule below holds by itself.
constexpr int HelpRuleThreads = 3;

// A helper's own split points hold other helpers: it may serve only a split
// point below its topmost one, which is where an owner that helps it works.
bool MayHelp(Worker& candidate, const Worker& owner, int threads) {
  const int own = candidate.OwnSplitPoints.load(std::memory_order_relaxed);
  return threads < HelpRuleThreads || own == 0 ||
         candidate.SplitPoints[own - 1].Helpers[owner.Id].load(std::memory_order_relaxed);
}

constexpr std::int64_t MicrosecondsPerMs = 1000;

// Adds a span to a millisecond counter; the part short of a whole
// millisecond waits in the remainder for the next span, so that a worker
// joining thousands of short split points is not counted as never working.
void AddSpan(StatCounter<std::uint32_t>& counter, std::int64_t& remainderUs, std::int64_t spanUs) {
  const std::int64_t total = remainderUs + std::max<std::int64_t>(spanUs, 0);
  counter += static_cast<std::uint32_t>(total / MicrosecondsPerMs);
  remainderUs = total % MicrosecondsPerMs;
}

// Told on the front end's info channel, like every other message; without
// a front end (a test, a tool) it goes to the log.
void ReportAffinityFailure() {
  if (ActiveFrontEnd)
    ActiveFrontEnd->Info("Setting Affinity failed");
  else
    Printer.Print(ChannelLogOnly, true, "Setting Affinity failed\n");
}

void StopWorkerThread(int index) {
  WorkerThread* thread = WorkerThreads[index];
  WorkerThreads[index] = nullptr;
  WorkerPool[index] = nullptr;
  if (!thread) return;
  thread->Exit.store(true, std::memory_order_release);
  thread->MaySleep.store(false, std::memory_order_release);
  thread->Event.Signal();
  // A sleeping thread has its running flag clear as well: only the end of
  // Run says that it no longer touches its worker, so it is joined before
  // its memory goes.
  thread->Join();
  delete thread;
}

// The exit handlers free the tables the workers read: the threads end first.
// Between searches they sleep and are joined. An exit from inside a search
// (nothing does that) could leave a helper waiting for the main thread, so
// then the workers are only told to stop, not waited for.
void ParkWorkersAtExit() {
  if (ThreadCount.load() <= 1) return;
  if (WorkerPool[0] && WorkerPool[0]->State.load() == WorkerBusy) {
    StopSearch.store(true);
    return;
  }
  SetNumberOfThreads(1);
}

}  // namespace

SplitPoint::SplitPoint()
    : OwnerStack(nullptr), Record(nullptr), Board(), Helpers{}, BestMove(0), SingularAllowed(false), Ply(0),
      TbReference(NoTablebaseValue), Shape{ScoutNode, 0, 0}, Root(nullptr), Aborted(false), BestScore(0),
      HelperCount(0), Lock(0) {}

Worker::Worker()
    : History{}, SplitPoints{}, SplitStack{}, Stacks(nullptr), Id(NextWorkerId), State(WorkerUnusable),
      AbortFlag(false), OwnSplitPoints(0), SplitLevel(-1), StackLevel(-1), Lock(0) {
  Stacks = new (std::nothrow) PlyStack[MaxStackLevels];
  if (!Stacks) return;
  if (Id >= MaxWorkers || PawnHash::Allocate(PawnHashes[Id])) return;
  State.store(WorkerIdle, std::memory_order_release);
  ++NextWorkerId;
}

Worker::~Worker() { Free(); }

void Worker::StartWork() { WorkSinceUs = NowMicroseconds(); }

void Worker::StopWork() {
  if (WorkSinceUs < 0) return;
  AddSpan(Statistics[Id].WorkTime, WorkRemainderUs, NowMicroseconds() - WorkSinceUs);
  WorkSinceUs = -1;
}

void Worker::CountIdle(std::int64_t sinceUs) {
  AddSpan(Statistics[Id].IdleTime, IdleRemainderUs, NowMicroseconds() - sinceUs);
}

void Worker::Free() {
  delete[] Stacks;
  Stacks = nullptr;
  if (State.load(std::memory_order_relaxed) != WorkerUnusable) {
    PawnHash::Free(PawnHashes[Id]);
    --NextWorkerId;
    State.store(WorkerUnusable, std::memory_order_relaxed);
  }
}

bool Worker::ShouldStopAt(int splitLevel) {
  if (StopSearch.load(std::memory_order_relaxed) || AbortFlag.load(std::memory_order_relaxed)) return true;
  const int own = OwnSplitPoints.load(std::memory_order_relaxed);
  for (int i = 0; i < own; ++i) {
    if (!SplitPoints[i].Aborted.load(std::memory_order_relaxed)) continue;
    // The split points above lie inside the aborted node: their helpers stop too.
    for (int j = i + 1; j < own; ++j) SplitPoints[j].Aborted.store(true, std::memory_order_relaxed);
    return true;
  }
  // The work in hand lies inside every split point of the stack. Unlike an
  // abort flag, which is cleared whenever a split point is left, this cannot
  // be forgotten while an outer split point still needs stopping.
  for (int level = 0; level <= splitLevel; ++level)
    if (SplitStack[level]->Aborted.load(std::memory_order_relaxed)) return true;
  return false;
}

void Worker::Abort() {
  // The worker's own abort flag stays as it is: an owner that takes itself
  // back after a helper's cut-off has not been stopped.
  SpinGuard guard(Lock);
  if (State.load(std::memory_order_relaxed) == WorkerWorkReady) LeaveSplitPoint();
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
  if (!sp->Aborted.load(std::memory_order_acquire)) {
    State.store(WorkerBusy, std::memory_order_release);
    SpinUnlock(Lock);
    // The helper copies the plies above the node itself, so that an owner
    // books its helpers without copying for each. The owner's records stay
    // as they are until every helper has left.
    StartWork();
    CopyRecords(*sp->OwnerStack, Stack(), sp->Ply);
    bool abort = false;
    SearchShare(*sp, *this, abort);
    StopWork();
    SpinLock(Lock);
  }
  LeaveSplitPoint();
  SpinUnlock(Lock);
}

void Worker::LeaveSplitPoint() {
  // Owners that book this worker read its levels under its lock.
  assert(SpinLockHeld(Lock));
  SplitPoint* sp = SplitStack[SplitLevel];
  SplitStack[SplitLevel] = nullptr;
  --SplitLevel;
  --StackLevel;
  AbortFlag.store(false, std::memory_order_relaxed);
  State.store(WorkerIdle, std::memory_order_release);
  SpinGuard guard(sp->Lock);
  sp->Helpers[Id].store(0, std::memory_order_relaxed);
  sp->HelperCount.fetch_sub(1, std::memory_order_acq_rel);
}

WorkerThread::~WorkerThread() = default;

// The processors an affinity mask can name; workers beyond them wrap round.
constexpr int AffinityMaskBits = 64;

void WorkerThread::Run() {
  if (Settings::GlueCores)
    AffinityFailed.store(SetCurrentThreadAffinity(ProcessorMask{1} << (Work.Id % AffinityMaskBits)),
                         std::memory_order_relaxed);
  Placed.store(true, std::memory_order_release);
  TranspositionTable::UseFillSlot(Work.Id);
  Running.store(true, std::memory_order_release);
  unsigned rounds = 0;
  while (!Exit.load(std::memory_order_acquire)) {
    const int state = Work.State.load(std::memory_order_acquire);
    if (state == WorkerWorkReady) {
      Work.JoinSplitPoint();
      continue;
    }
    if (state == WorkerIdle && MaySleep.load(std::memory_order_acquire)) {
      Running.store(false, std::memory_order_release);
      // A thread that was still awake when a search woke the workers (one
      // just started, say) finds that signal waiting: it is no call to work,
      // and waking on it would tell the driver that the thread still runs
      // after the search has seen it asleep.
      do {
        Event.Wait();
      } while (MaySleep.load(std::memory_order_acquire) && !Exit.load(std::memory_order_acquire));
      Running.store(true, std::memory_order_release);
      std::memset(Work.History, 0, sizeof Work.History);
      continue;
    }
    Relax(rounds);
  }
}

bool SetNumberOfThreads(int count) {
  if (count < 1 || count > MaxWorkers) return true;
  int current = ThreadCount.load();
  while (current > count) {
    --current;
    ThreadCount.store(current);
    StopWorkerThread(current);
  }
  while (current < count) {
    WorkerThread* thread = new (std::nothrow) WorkerThread;
    if (!thread) return true;
    if (thread->Work.State.load() != WorkerIdle || thread->Work.Id != current) {
      delete thread;
      return true;
    }
    WorkerThreads[current] = thread;
    WorkerPool[current] = &thread->Work;
    if (thread->Start(current)) {
      WorkerThreads[current] = nullptr;
      WorkerPool[current] = nullptr;
      delete thread;
      return true;
    }
    while (!thread->Placed.load(std::memory_order_acquire)) std::this_thread::yield();
    if (thread->AffinityFailed.load(std::memory_order_relaxed)) ReportAffinityFailure();
    ++current;
    ThreadCount.store(current);
    static const bool parkAtExit = std::atexit(ParkWorkersAtExit) == 0;
    (void)parkAtExit;
  }
  return false;
}

void ApplyThreadSetting() {
  if (Settings::Cpus == ThreadCount.load()) return;
  if (SetNumberOfThreads(Settings::Cpus) && ActiveFrontEnd)
    ActiveFrontEnd->Info("ERROR: Could not set the requested number of threads\n");
  Settings::Cpus = std::clamp(ThreadCount.load(), 1, MaxWorkers);
}

namespace {
[[maybe_unused]] const bool ThreadHookInstalled = [] {
  SettingsHooks::CpusChanged = ApplyThreadSetting;
  return true;
}();
}  // namespace

Worker& WakeWorkers() {
  const int threads = ThreadCount.load();
  for (int i = 1; i < threads; ++i) {
    WorkerThread* thread = WorkerThreads[i];
    if (!thread) continue;
    thread->MaySleep.store(false, std::memory_order_release);
    thread->Event.Signal();
  }
  Worker& main = *WorkerPool[0];
  std::memset(main.History, 0, sizeof main.History);
  main.State.store(WorkerBusy, std::memory_order_release);
  main.AbortFlag.store(false, std::memory_order_relaxed);
  ++main.StackLevel;
  main.StartWork();
  return main;
}

void SendWorkersToSleep() {
  Worker& main = *WorkerPool[0];
  main.StopWork();
  main.State.store(WorkerIdle, std::memory_order_release);
  main.AbortFlag.store(false, std::memory_order_relaxed);
  --main.StackLevel;
  const int threads = ThreadCount.load();
  for (int i = 1; i < threads; ++i)
    if (WorkerThreads[i]) WorkerThreads[i]->MaySleep.store(true, std::memory_order_release);
}

bool AnyWorkerRunning() {
  const int threads = ThreadCount.load();
  for (int i = 1; i < threads; ++i)
    if (WorkerThreads[i] && WorkerThreads[i]->Running.load(std::memory_order_acquire)) return true;
  return false;
}

bool AllWorkersAwake() {
  const int threads = ThreadCount.load();
  for (int i = 1; i < threads; ++i)
    if (WorkerThreads[i] && !WorkerThreads[i]->Running.load(std::memory_order_acquire)) return false;
  return true;
}

bool SplitPoint::Offer(SplitPoint& sp, ChessGame& game, Worker& owner, PlyRecord& record, int ply, int best,
                       Move bestMove, bool singularAllowed, int tbValue, const SplitNodeShape& shape,
                       RootShare* root) {
  sp.Record = &record;
  sp.Board = game;
  sp.Ply = ply;
  sp.BestScore.store(best, std::memory_order_relaxed);
  sp.BestMove = bestMove;
  sp.SingularAllowed = singularAllowed;
  sp.HelperCount.store(0, std::memory_order_relaxed);
  sp.TbReference = tbValue == NoTablebaseValue ? NoTablebaseValue : -tbValue;
  sp.Shape = shape;
  sp.Root = root;
  for (auto& helper : sp.Helpers) helper.store(0, std::memory_order_relaxed);

  const int threads = ThreadCount.load(std::memory_order_relaxed);
  const int movesLeft = root ? root->MovesLeft : record.Picker.List.Count - record.Picker.List.Cursor;
  for (int i = 0; i < threads; ++i) {
    const int helpers = sp.HelperCount.load(std::memory_order_relaxed);
    if (helpers >= Settings::MaxSplit - 1 || helpers >= movesLeft - 1 || sp.Aborted.load(std::memory_order_relaxed))
      break;
    Worker* candidate = WorkerPool[i];
    if (!candidate || candidate == &owner || candidate->State.load(std::memory_order_acquire) != WorkerIdle ||
        !MayHelp(*candidate, owner, threads))
      continue;
    // The worker's lock first, then the split point's: the order in which a
    // worker leaving a split point takes them. Nobody waits for a worker's
    // lock while holding a split point's, so the owner can wait here for a
    // lock that is held for moments, instead of passing an idle worker over.
    LockWorker(*candidate);
    if (candidate->State.load(std::memory_order_acquire) != WorkerIdle || !MayHelp(*candidate, owner, threads) ||
        candidate->StackLevel + 1 >= MaxStackLevels) {
      SpinUnlock(candidate->Lock);
      continue;
    }
    SpinLock(sp.Lock);
    if (sp.Aborted.load(std::memory_order_relaxed)) {
      SpinUnlock(sp.Lock);
      SpinUnlock(candidate->Lock);
      break;
    }
    candidate->State.store(WorkerBooked, std::memory_order_relaxed);
    candidate->AbortFlag.store(false, std::memory_order_relaxed);
    ++candidate->StackLevel;
    candidate->SplitStack[++candidate->SplitLevel] = &sp;
    sp.HelperCount.fetch_add(1, std::memory_order_acq_rel);
    sp.Helpers[candidate->Id].store(1, std::memory_order_relaxed);
    SpinUnlock(sp.Lock);
    candidate->State.store(WorkerWorkReady, std::memory_order_release);
    SpinUnlock(candidate->Lock);
  }
  return sp.HelperCount.load(std::memory_order_acquire) > 0;
}

Move SplitPoint::NextMove(SplitPoint& sp, std::uint32_t& score, ChessGame& game, Worker& worker, UndoRecord& undo,
                          int& moveNumber) {
  // The node has searched a move already, so the picker is past the stage
  // that may run internal deepening: nothing is searched under the lock.
  SpinGuard guard(sp.Lock);
  assert(sp.Record->Picker.Stage >= StageSelect);
  for (;;) {
    const Move move = MovePicker::NextMove(*sp.Record, score, game, worker, sp.Ply, false);
    if (move == NoMove) return NoMove;
    if (!game.MakeMove(move, undo)) continue;
    moveNumber = ++sp.Shape.MovesSearched;
    return move;
  }
}

void SplitPoint::SearchMoves(SplitPoint& sp, Worker& worker, bool& abort) {
  // Step 1. A private board from the split point's copy; the window and the
  // depth are the node's, alpha is read fresh before every search.
  ChessGame game(sp.Board);
  Position& pos = game;
  SearchStatistics& stats = Statistics[worker.Id];
  PlyRecord& record = *sp.Record;
  PlyRecord& own = worker.Stack().Records[sp.Ply];
  const auto alpha = SharedAlpha(sp);
  const bool inCheck = pos.InCheck();
  const int beta = record.Picker.Beta;
  const int depth = record.Picker.Depth;
  const bool probing = SyzygyProbing.load(std::memory_order_relaxed) && !inCheck;

  // Step 2. Take the node's next move from the shared picker, under the
  // split point's lock, until none is left or the work no longer counts.
  std::uint32_t orderingScore;
  while (!worker.ShouldStop()) {
    // Step 3. The move comes made; drop it when the tables show it worse
    // than a move already seen. The reference is shared, so it is read and
    // moved under the lock. (A dropped move keeps its number: the moves
    // after it may then count one later than in the node loop.)
    UndoRecord undo;
    int moveNumber;
    const Move move = NextMove(sp, orderingScore, game, worker, undo, moveNumber);
    if (move == NoMove) break;
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
    // Step 4. Extension as in the node search; whether the node still has
    // a PV window depends on the alpha the others have raised. The
    // reduction is the node loop's for this move number: a node must not
    // search deeper because several workers happen to share it.
    own.CurrentMove = move;
    const bool pvWindow = beta - alpha.load(std::memory_order_relaxed) > 1;
    bool reducible;
    const int extension = GetExtension(pvWindow ? PvNode : ScoutNode, game, move, inCheck, depth - OnePly,
                                       orderingScore, undo, &reducible, worker.Id);
    const int newDepth = depth + extension - OnePly;
    int reduction = 0;
    if (reducible && orderingScore < ReducibleScoreLimit)
      reduction = LateMoveReduction(sp.Shape.NodeType, moveNumber, sp.Shape.LateMoves, newDepth);

    // Step 5. A null window at the current alpha, again without the
    // reduction when it fails high; should alpha rise meanwhile, the test is
    // repeated at the new one. A move still above alpha then gets the PV
    // window, as often as alpha moves under it.
    int score = 0, a = 0;
    bool childAbort = false;
    for (;;) {
      a = alpha.load(std::memory_order_relaxed);
      score = -Search(ScoutNode, game, worker, sp.Ply + 1, -a - 1, -a, newDepth - reduction, sp.SingularAllowed,
                      childTb, &childAbort);
      if (childAbort || worker.ShouldStop() || score <= a) break;
      if (reduction > 0) {
        reduction = 0;
        continue;
      }
      if (alpha.load(std::memory_order_relaxed) <= a) break;
    }
    while (!childAbort && !worker.ShouldStop() && score > a && beta - a > 1) {
      score = -Search(PvNode, game, worker, sp.Ply + 1, -beta, -a, newDepth, sp.SingularAllowed, childTb, &childAbort);
      const int now = alpha.load(std::memory_order_relaxed);
      if (now <= a || score <= now) break;
      a = now;
    }
    // Step 6. A stop ends this worker's share of the node.
    pos.UnmakeMove(undo);
    if (childAbort || worker.ShouldStop()) {
      // The move's score is lost, so the node's result would be incomplete:
      // its owner must not take it for a searched node.
      sp.Aborted.store(true, std::memory_order_release);
      abort = true;
      break;
    }

    // Step 7. A new best score is checked again and written under the lock:
    // at beta the split point is cut and every helper stops, otherwise the
    // shared alpha and the owner's PV take the move.
    if (score <= sp.BestScore.load(std::memory_order_relaxed)) continue;
    SpinGuard guard(sp.Lock);
    if (score <= sp.BestScore.load(std::memory_order_relaxed)) continue;
    sp.BestScore.store(score, std::memory_order_relaxed);
    sp.BestMove = move;
    if (score > alpha.load(std::memory_order_relaxed)) alpha.store(score, std::memory_order_relaxed);
    PlyRecord& ownerRecord = sp.OwnerStack->Records[sp.Ply];
    if (score >= beta) {
      sp.Aborted.store(true, std::memory_order_release);
      ++stats.CutNodes;
      TranspositionTable::StoreLower(pos.Keys(), score, depth, sp.Ply, move, 0);
      if (score < MateBound)
        UpdateKillers(record, move);
      else if (!(move & (MoveCapture | MovePromotion)))
        record.MateKiller = move;
      UpdateHistory(worker, depth + extension, pos.Board[MoveFrom(move)], move);
      ownerRecord.Pv[sp.Ply] = move;
      ownerRecord.PvLength = sp.Ply + 1;
      break;
    }
    UpdatePv(worker.Stack(), move, sp.Ply);
    for (int i = sp.Ply; i < own.PvLength; ++i) ownerRecord.Pv[i] = own.Pv[i];
    ownerRecord.PvLength = own.PvLength;
  }
}

int SplitPoint::MasterSearch(SplitPoint& sp, ChessGame& game, Worker& worker, Move& bestMove, bool& abort) {
  // The level changes without the lock: a busy worker cannot be booked.
  assert(worker.State.load(std::memory_order_relaxed) == WorkerBusy);
  ++worker.StackLevel;
  CopyRecords(*sp.OwnerStack, worker.Stack(), sp.Ply);
  SearchShare(sp, worker, abort);
  const int beta = sp.Record->Picker.Beta;
  if (!sp.Aborted.load(std::memory_order_acquire) && !worker.ShouldStop() && !abort) {
    // Waiting for the helpers, the owner is free to help them in turn.
    // Bookings push above this level and are searched from this loop, so
    // the levels up to it stay as they are while the owner waits.
    const int level = worker.SplitLevel;
    worker.StopWork();
    std::int64_t idleSinceUs = NowMicroseconds();
    worker.State.store(WorkerIdle, std::memory_order_release);
    unsigned rounds = 0, polls = 0;
    while (sp.HelperCount.load(std::memory_order_acquire) > 0) {
      if (worker.State.load(std::memory_order_acquire) == WorkerWorkReady) {
        worker.CountIdle(idleSinceUs);
        worker.JoinSplitPoint();
        idleSinceUs = NowMicroseconds();
        continue;
      }
      if (worker.Id == 0 && (++polls & TimePollMask) == 0) {
        // An owner that books this worker changes its stack level under
        // this lock, and the clock's status line reads the stack. Only
        // then is the lock taken: other owners wait for it to book.
        SpinGuard guard(worker.Lock);
        if (worker.State.load(std::memory_order_acquire) != WorkerIdle) continue;
        CheckTime(game, worker, sp.Ply);
      }
      const bool stop = sp.Aborted.load(std::memory_order_acquire) || worker.ShouldStopAt(level);
      if (stop && !worker.ShouldStopAt(level) && sp.BestScore.load(std::memory_order_relaxed) < beta)
        Printer.Print(ChannelStderr, false, "# Set to Finished for unclear reasons\n");
      if (stop) {
        sp.Aborted.store(true, std::memory_order_release);
        break;
      }
      Relax(rounds);
    }
    worker.CountIdle(idleSinceUs);
    worker.StartWork();
    worker.Abort();
    // Helpers that were stopped leave moves unsearched: only a split point
    // that ran out of moves, or one cut off, gives a result.
    if (!sp.Aborted.load(std::memory_order_acquire)) {
      bestMove = sp.BestMove;
      return sp.BestScore.load(std::memory_order_relaxed);
    }
  } else if (abort && !sp.Aborted.load(std::memory_order_acquire) && !worker.ShouldStop()) {
    Printer.Print(ChannelStderr, false, "# Aborted for unclear reasons\n");
  }

  sp.Aborted.store(true, std::memory_order_release);
  for (unsigned rounds = 0; sp.HelperCount.load(std::memory_order_acquire) > 0; Relax(rounds)) {
    for (int i = 0; i < MaxWorkers; ++i) {
      if (!sp.Helpers[i].load(std::memory_order_relaxed) || !WorkerPool[i]) continue;
      Worker& helper = *WorkerPool[i];
      SpinGuard guard(helper.Lock);
      // Leaving clears the mark under the helper's own lock: a mark seen
      // here means the helper is still at this split point.
      if (!sp.Helpers[i].load(std::memory_order_relaxed)) continue;
      const int state = helper.State.load(std::memory_order_relaxed);
      if (state == WorkerWorkReady && helper.SplitStack[helper.SplitLevel] == &sp)
        helper.LeaveSplitPoint();
      else if (state == WorkerBusy || helper.OwnSplitPoints.load(std::memory_order_relaxed) > 0)
        helper.AbortFlag.store(true, std::memory_order_relaxed);
    }
  }
  const int best = sp.BestScore.load(std::memory_order_relaxed);
  abort = best < beta;
  bestMove = sp.BestMove;
  return std::max(best, sp.Record->Picker.Alpha);
}

bool SomeWorkerMayHelp(Worker& owner) {
  const int threads = ThreadCount.load(std::memory_order_relaxed);
  for (int i = 0; i < threads; ++i) {
    Worker* candidate = WorkerPool[i];
    if (candidate && candidate != &owner && candidate->State.load(std::memory_order_acquire) == WorkerIdle &&
        MayHelp(*candidate, owner, threads))
      return true;
  }
  return false;
}

bool SplitSearch(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int& best, int& alpha, Move& bestMove,
                 bool singularAllowed, int tbValue, bool& abort, const SplitNodeShape& shape, RootShare* root) {
  if (abort) Printer.Print(ChannelStderr, false, "# Entered SplitSearch while search should have been aborted\n");
  const int own = worker.OwnSplitPoints.load(std::memory_order_relaxed);
  if (own >= MaxSplitPoints - 1) {
    Printer.Print(ChannelStderr, false, "# Failed split due to full splitpoint stack for worker %d\n", worker.Id);
    return false;
  }
  // Every level of the stacks is taken: the node goes on alone.
  if (worker.StackLevel + 1 >= MaxStackLevels || worker.SplitLevel + 1 >= MaxStackLevels) return false;
  SplitPoint& sp = worker.SplitPoints[own];
  sp.OwnerStack = &worker.Stack();
  sp.BestMove = NoMove;
  sp.Aborted.store(false);
  sp.TbReference = NoTablebaseValue;
  record.Picker.Alpha = alpha;
  {
    // Other owners read the count and levels under this lock when they book.
    SpinGuard guard(worker.Lock);
    worker.OwnSplitPoints.store(own + 1, std::memory_order_relaxed);
    worker.SplitStack[++worker.SplitLevel] = &sp;
  }
  if (!SplitPoint::Offer(sp, game, worker, record, ply, best, bestMove, singularAllowed, tbValue, shape, root)) {
    SpinGuard guard(worker.Lock);
    worker.SplitStack[worker.SplitLevel--] = nullptr;
    worker.OwnSplitPoints.store(own, std::memory_order_relaxed);
    ++Statistics[worker.Id].FailedSplits;
    return false;
  }
  ++Statistics[worker.Id].Splits;
  bool splitAbort = false;
  best = SplitPoint::MasterSearch(sp, game, worker, bestMove, splitAbort);
  alpha = std::max(alpha, record.Picker.Alpha);
  {
    SpinGuard guard(worker.Lock);
    worker.OwnSplitPoints.store(own, std::memory_order_relaxed);
    worker.SplitStack[worker.SplitLevel--] = nullptr;
    --worker.StackLevel;
  }
  abort = splitAbort || worker.ShouldStop();
  return true;
}
