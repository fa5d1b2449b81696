// The search workers: worker 0 is the main thread, workers 1..31 are threads
// that sleep on their events between searches and, during one, wait to help
// at split points. Each worker owns its history table, its stack of
// ply-record blocks and its split points; the pool lists them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/move.h"
#include "engine/movepick.h"
#include "engine/position.h"
#include "support/platform.h"
#include "support/thread.h"

class ChessGame;
struct RootShare;
struct Worker;

inline constexpr int MaxWorkers = 32;
inline constexpr int MaxSplitPoints = 16;  // at most 15 in use
inline constexpr int MaxStackLevels = 33;

enum WorkerState : int {
  WorkerUnusable = 0,  // allocation failed
  WorkerIdle = 1,
  WorkerBooked = 2,
  WorkerWorkReady = 3,
  WorkerBusy = 4,
};

// Lines of the processor's cache: words that one worker writes often and
// others read get a line of their own, so that the writes do not evict the
// words the others scan.
inline constexpr std::size_t CacheLine = 64;

// What the node loop hands over with a node it splits, so that the split
// point reduces each move as the node loop would have: the node's kind, the
// moves it searched already, and the move number after which moves are late.
struct SplitNodeShape {
  int NodeType;
  int MovesSearched;
  int LateMoves;
};

// A node searched by several workers: its owner's block, its ply record
// (the shared picker and window) and position, and who helps. The lock
// guards the helper map and count, the best score and move, the tablebase
// reference, the shared picker (or the root share's cursor) and the move
// count; the node's alpha in the record is read without it and written
// under it.
struct SplitPoint {
  SplitPoint();

  PlyStack* OwnerStack;
  PlyRecord* Record;
  Position Board;
  std::atomic<std::uint8_t> Helpers[MaxWorkers];
  Move BestMove;
  bool SingularAllowed;
  std::int32_t Ply;
  std::int32_t TbReference;  // -99 none
  SplitNodeShape Shape;      // MovesSearched counts on as the moves are handed out
  // Set when the node is the root: the moves come from the root list, not
  // the picker, and the window is null at the root's alpha.
  RootShare* Root;
  // Read at every node of every worker below the split point, and by the
  // waiting owner in its loop: apart from the lock the helpers take per move.
  alignas(CacheLine) std::atomic<bool> Aborted;
  std::atomic<std::int32_t> BestScore;  // read outside the lock only to skip it
  std::atomic<std::int32_t> HelperCount;
  alignas(CacheLine) std::atomic<std::uint32_t> Lock;

  static bool Offer(SplitPoint& sp, ChessGame& game, Worker& owner, PlyRecord& record, int ply, int best,
                    Move bestMove, bool singularAllowed, int tbValue, const SplitNodeShape& shape,
                    RootShare* root = nullptr);
  static int MasterSearch(SplitPoint& sp, ChessGame& game, Worker& worker, Move& bestMove, bool& abort);
  static void SearchMoves(SplitPoint& sp, Worker& worker, bool& abort);
  // The node's next legal move, already made on the worker's board (undo
  // filled), with its number among the node's moves; NoMove when none is
  // left. Legality is settled under the lock, so the numbers follow the
  // picker's order as they do in the node loop.
  static Move NextMove(SplitPoint& sp, std::uint32_t& score, ChessGame& game, Worker& worker, UndoRecord& undo,
                       int& moveNumber);
};

struct Worker {
  Worker();
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  std::uint32_t History[16][64];
  SplitPoint SplitPoints[MaxSplitPoints];
  SplitPoint* SplitStack[MaxStackLevels];
  PlyStack* Stacks;  // MaxStackLevels blocks
  std::int32_t Id;
  // Every node that may split scans the states, and owners that look for
  // helpers the split point counts: one line, written seldom. The lock,
  // taken by the worker and by those who book it, has a line of its own.
  alignas(CacheLine) std::atomic<std::int32_t> State;
  std::atomic<bool> AbortFlag;
  std::atomic<std::int32_t> OwnSplitPoints;
  // The levels change under the lock, or by the worker itself while no
  // other worker can book it.
  std::int32_t SplitLevel;  // -1 none
  std::int32_t StackLevel;  // -1 idle
  alignas(CacheLine) std::atomic<std::uint32_t> Lock;

  // The time this worker searches, and the time it waits as the owner of a
  // split point with nothing to help at, go into its statistics record as
  // whole milliseconds. They are taken where a worker starts or stops
  // working (a search, a join, an owner's wait), never per node. Only the
  // worker itself touches these.
  std::int64_t WorkSinceUs = -1;  // -1 while not working
  std::int64_t WorkRemainderUs = 0;
  std::int64_t IdleRemainderUs = 0;
  void StartWork();
  void StopWork();
  void CountIdle(std::int64_t sinceUs);

  // The block of the stack level the worker searches at.
  PlyStack& Stack() { return Stacks[StackLevel]; }
  PlyRecord& Record(int ply) { return Stacks[StackLevel].Records[ply]; }

  void Free();
  // True when the work in hand can no longer count: a stop, an abort asked
  // by the owner of a split point this worker helps at, or an aborted split
  // point anywhere on its split stack.
  bool ShouldStop() { return ShouldStopAt(SplitLevel); }
  // The same test for a worker whose split stack is known to reach up to
  // splitLevel: an owner waiting for its helpers makes it without its lock,
  // as a booking only ever pushes above the level it waits at.
  bool ShouldStopAt(int splitLevel);
  // Takes the worker back for its own search: off a split point it was
  // booked for and not yet started, and busy, so nobody books it again.
  void Abort();
  void JoinSplitPoint();
  // Called with the worker's lock held.
  void LeaveSplitPoint();
};

// A search worker with a thread of its own. Between searches it sleeps on
// its event; during one (may-sleep clear) it waits for a split point.
class WorkerThread : public Thread {
public:
  WorkerThread() = default;
  ~WorkerThread() override;
  void Run() override;

  Worker Work;
  AutoResetEvent Event;
  std::atomic<bool> Exit{false};
  std::atomic<bool> MaySleep{true};
  // Set once the thread has tried to glue itself to its processor. A worker
  // never talks to the front end: the thread that starts it waits for this
  // and reports a failure itself.
  std::atomic<bool> Placed{false};
  std::atomic<bool> AffinityFailed{false};
  // The running flag is the base's Running: clear while asleep.
};

// Entry 0 is worker 0, the main thread. Entries change only between searches.
extern Worker* WorkerPool[MaxWorkers];
extern std::atomic<int> ThreadCount;

// Grows or shrinks the pool to count workers (1..32); true on failure, when
// the pool keeps the workers it could make. Only between searches.
bool SetNumberOfThreads(int count);
// Brings the pool to the thread count the settings ask for, at once, so that
// no search pays for starting workers; between searches only. A count that
// cannot be had is reported through the front end, and the setting then
// shows what the pool holds.
void ApplyThreadSetting();
// Readies every worker for a search and returns worker 0.
Worker& WakeWorkers();
// Puts worker 0 back to idle at the end of a search and lets the others sleep.
void SendWorkersToSleep();
// True when any worker thread is still running (between searches: none).
bool AnyWorkerRunning();
// True once every worker thread is awake for the search.
bool AllWorkersAwake();

// True when an idle worker may be booked by owner: not only idle, but also
// free of split points of its own that only its own helpers may serve. An
// idle owner waiting for its helpers is not worth an offer from elsewhere.
bool SomeWorkerMayHelp(Worker& owner);
// Offers the node to idle workers; true when it was split and searched.
bool SplitSearch(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int& best, int& alpha,
                 Move& bestMove, bool singularAllowed, int tbValue, bool& abort, const SplitNodeShape& shape,
                 RootShare* root = nullptr);
