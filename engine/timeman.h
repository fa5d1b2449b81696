// Time management: the front ends describe the clock in ClockSettings,
// AllocateTime turns it into this search's TimeLimits, and CheckTime, called
// by worker 0 during the search, extends or ends the search, sends the
// periodic status and hands pending input to the front end.
#pragma once

#include <cstdint>

#include "support/clock.h"

class ChessGame;
struct Worker;

// The clock as the front end last set it.
namespace ClockSettings {
extern std::int32_t MovesToGo;    // 0 sudden death, -1 fixed time per move, n > 0 per n moves
extern std::int32_t BaseSeconds;  // time per move when MovesToGo is -1
extern std::int32_t IncrementMs;
extern std::int32_t FixedDepth;   // plies, 0 none
extern std::int32_t Unused;       // every writer sets it to 0
extern std::int32_t TimeLeftMs;   // on the engine's clock
// Kept for the protocols; time allocation does not read them.
extern std::int32_t OpponentTimeMs;
extern std::int32_t MovesToGoReceived;  // as the GUI sent it

// The start-up defaults: sudden death, 5 s, 3 s increment, 5 s left.
void Reset();
}  // namespace ClockSettings

// The search's times, in ms on SearchClock. 64-bit: the "no limit" value
// 0x40000000 and long time controls must survive the arithmetic on them.
namespace TimeLimits {
extern std::int64_t Start;         // when this move's own time began (0, or the ponder hit)
extern std::int64_t EasyTime;
extern std::int64_t MinTime;
extern std::int64_t MaxTime;
extern std::int32_t MaxDepth;      // plies
extern std::int64_t IterationEnd;  // when the last iteration ended
extern bool IterationUnfinished;   // no root move of this iteration done yet
extern bool NewBestPending;        // a root move that failed high is being searched again
extern bool ScoreDropped;          // a root move entered the PV with a falling score
extern bool EasyFound;
extern std::int32_t ExtensionCount;
extern std::int32_t FailHighCount;   // root fail highs of this iteration
extern std::int64_t NextStatusTime;  // of the periodic status output
}  // namespace TimeLimits

// The time base of the search; restarted by AllocateTime.
extern Clock SearchClock;
// What the remaining time is divided by, as computed by AllocateTime.
extern std::int32_t MovesToPlay;

// The limit that means "none" (pondering, analysis).
inline constexpr std::int64_t NoTimeLimit = 0x40000000;
// The deepest iteration: depth x 4 fits the transposition table's depth field.
inline constexpr int MaxSearchDepth = 127;

enum AllocationMode : int {
  AllocateOwnMove = 0,
  AllocatePonder = 1,
  AllocatePonderHit = 2,
  AllocateOwnMoveAgain = 3,  // as AllocateOwnMove
  AllocateAnalyse = 4,       // so is any unknown mode
};

// The expected number of moves still to play, by game ply (1024 entries) and
// by material index (128 entries); exposed for the tests of their shape.
double ExpectedMovesByPly(int ply);
double ExpectedMovesByMaterial(int materialIndex);

void AllocateTime(const ChessGame& game, int mode);
// Called by worker 0 only (every 4096 nodes and by the root search); ply is
// the ply of the calling node, whose line is shown in the status output.
void CheckTime(ChessGame& game, Worker& worker, int ply);
// The callers poll when their node count has these low bits all clear:
// often enough to stop in time, seldom enough to cost nothing.
inline constexpr int TimePollMask = 4095;
// "Time Management: ..." with the limits of the current search (static text).
const char* TimeManagementReport();
