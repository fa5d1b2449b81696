// The root of the search: one iteration over the root moves with the MultiPV
// bookkeeping, the order of the root moves for the next iteration, the
// easy-move test and the principal variation continued from the table.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/move.h"

class ChessGame;
struct MoveList;
struct SplitPoint;
struct Worker;

inline constexpr int MaxMultiPv = 20;

// One line of the MultiPV table, kept best first.
struct MultiPvLine {
  std::int32_t Depth;
  std::int32_t Score;
  std::int32_t PvLength;
  Move Pv[128];
};
extern MultiPvLine MultiPvLines[MaxMultiPv];
// The number of lines in use, 1..20.
extern int MultiPvCount;

// What the root remembers beside each root move, moved together with it.
struct RootMoveRecord {
  std::uint64_t Nodes;  // spent in its null-window searches, all iterations
  std::int32_t SortKey;
  // The pass of the root loop that searched the move (minus it when the
  // move proved illegal there), so that a pass resumed after a parallel
  // stretch skips what is done.
  std::int32_t Done;
};
extern RootMoveRecord RootRecords[256];

// The root moves a parallel stretch hands out: those from Cursor on that the
// pass has not searched, one at a time under the split point's lock, all on
// a null window at the split record's alpha.
struct RootShare {
  MoveList* List;
  std::int32_t Pass;
  std::int32_t DepthQ;
  std::int32_t Cursor;     // under the lock
  std::int32_t MovesLeft;  // when the stretch began
  std::atomic<std::int32_t> Completed{0};
};
// A worker's share of the root moves at a root split point. A move that beats
// the alpha ends the stretch: the owner searches it again on the full window.
void SearchRootShare(SplitPoint& sp, Worker& worker, bool& abort);

int SearchRoot(ChessGame& game, Worker& worker, int beta, int depthQ, int tbValue);
void SortRootMoves(MoveList& list, int first);
// The tablebases' root filter: RootProbe, then the moves it marks leave the
// list. True on success; on failure the list keeps every move.
bool ProbeRootMoves(ChessGame& game);
bool IsEasyMove(ChessGame& game, Worker& worker, int score, int depthQ);
// Prints pv[1..] and its continuation from the table on standard output;
// returns the new length (at most 128).
int PrintPvFromHash(ChessGame& game, int pvLength, Move* pv);
