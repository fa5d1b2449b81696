// The search driver: Think deepens iteratively over the root search and
// leaves its result for the front ends in BestMove and PonderMove.
#pragma once

#include "engine/move.h"

class ChessGame;

// Searches game (which it does not change) under the current time limits and
// leaves the result in BestMove and PonderMove (engine/searchstate.h);
// ponderMove may be null.
void Think(ChessGame& game, const Move* ponderMove);
