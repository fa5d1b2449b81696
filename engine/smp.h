// The search workers: worker 0 is the main thread, the others (a later
// addition) help at split points. Each worker owns its history table, its
// stack of ply-record blocks and its split points; the pool lists them.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/move.h"
#include "engine/movepick.h"
#include "engine/position.h"

class ChessGame;
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

// A node searched by several workers: its owner's block, its ply record
// (the shared picker and window) and position, and who helps.
struct SplitPoint {
  SplitPoint();

  PlyStack* OwnerStack;
  PlyRecord* Record;
  Position Board;
  std::atomic<std::uint8_t> Helpers[MaxWorkers];
  std::atomic<bool> Aborted;
  Move BestMove;
  bool SingularAllowed;
  std::int32_t OwnerId;
  std::int32_t Ply;
  std::int32_t TbReference;  // -99 none
  std::int32_t BestScore;
  std::atomic<std::int32_t> HelperCount;
  std::atomic<std::uint32_t> Lock;

  static bool Offer(SplitPoint& sp, ChessGame& game, Worker& owner, PlyRecord& record, int ply, int best,
                    Move bestMove, bool singularAllowed, int tbValue);
  static int MasterSearch(SplitPoint& sp, ChessGame& game, Worker& worker, Move& bestMove, bool& abort);
  static void SearchMoves(SplitPoint& sp, Worker& worker, bool& abort);
  static Move NextMove(SplitPoint& sp, std::uint32_t& score, ChessGame& game, Worker& worker);
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
  std::int32_t OwnSplitPoints;
  std::int32_t SplitLevel;  // -1 none
  std::int32_t StackLevel;  // -1 idle
  std::int32_t Id;
  std::atomic<std::uint32_t> Lock;
  std::atomic<bool> AbortFlag;
  std::atomic<std::int32_t> State;

  // The block of the stack level the worker searches at.
  PlyStack& Stack() { return Stacks[StackLevel]; }
  PlyRecord& Record(int ply) { return Stacks[StackLevel].Records[ply]; }

  void Free();
  bool ShouldStop();
  void Abort();
  void JoinSplitPoint();
  void LeaveSplitPoint();
};

// Entry 0 is worker 0, the main thread.
extern Worker* WorkerPool[MaxWorkers];
extern std::atomic<int> ThreadCount;

// True on failure. More than one worker needs the worker threads, which this
// build does not start yet: only 1 succeeds.
bool SetNumberOfThreads(int count);
// Readies every worker for a search and returns worker 0.
Worker& WakeWorkers();
// Puts worker 0 back to idle at the end of a search and lets the others sleep.
void SendWorkersToSleep();
// True when any worker thread is still running (between searches: none).
bool AnyWorkerRunning();
// True once every worker thread is awake for the search.
bool AllWorkersAwake();

// Offers the node to idle workers; true when it was split and searched.
bool SplitSearch(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int& best, int& alpha,
                 Move& bestMove, bool singularAllowed, int tbValue, bool& abort);
