// The search driver: Think deepens iteratively over the root search and
// leaves its result for the front ends in BestMove and PonderMove.
#pragma once

#include <atomic>

#include "engine/move.h"

class ChessGame;

// The result of the last search: the move to play (0 when none) and the
// expected reply (0 when the PV is shorter).
extern Move BestMove;
extern Move PonderMove;
// The move being pondered on (NoMove when none).
extern Move SearchPonderMove;
// Set to end the running search; every worker reads it.
extern std::atomic<bool> StopSearch;
// Set by the root search when the root has exactly one legal move.
extern std::atomic<bool> OnlyOneMove;
// The score of the last completed iteration of each depth.
extern int IterationScores[128];

// Searches game (which it does not change) under the current time limits;
// ponderMove may be null.
void Think(ChessGame& game, const Move* ponderMove);
