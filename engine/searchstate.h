// The words the whole search shares: the driver, the root, the node search,
// the split points and the time check read and write them, and the front ends
// read the result. They live below all of their readers so that no part of
// the search has to include the driver to stop or to report.
#pragma once

#include <atomic>

#include "engine/move.h"

// The result of the last search: the move to play (0 when none) and the
// expected reply (0 when the PV is shorter). Written by the main thread only.
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
// Set by the root search when it returned without finishing its moves (a
// stop, or a search below that gave up): its score then means nothing.
// Main thread only.
extern bool RootSearchInterrupted;
