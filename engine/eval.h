// The static evaluation: material, pawn structure, passed pawns, piece terms,
// king safety and space, tapered by the game phase, with the endgame
// recognisers' draws and scale classes, and its start-up tables.
#pragma once

#include "engine/evalweights.h"

class Position;
struct AttackMaps;

// Score of the position for the side to move, in milli-pawns: 0 only for a
// recognised draw, otherwise a non-zero multiple of 16, or 8 for an exact
// balance (a pawnless position with a large lead returns its mop-up value
// unrounded). Fills maps first when they are not valid yet. thread (0..31)
// selects the caller's pawn table in PawnHashes.
int Evaluate(const Position& position, AttackMaps& maps, int thread);

// Drive the lone king to the edge (or the right corner with bishop and
// knight) in a pawnless position whose material score m (White's view) is
// beyond 4500; 0 when the position is a draw. White's view.
int EvaluateMopUp(const Position& position, int m);

// Builds the king-in-the-square table and the evaluation's masks, and gives
// the main thread a fresh pawn table. True when that table could not be
// allocated: evaluation still works, computing every pawn structure afresh.
bool InitEval();

// The last steps of Evaluate on the two colours' totals: the scale class
// (0..7) shrinks the difference toward 0, which is then rounded away from 0
// to a multiple of 16 (an exact balance is +8 for the side to move) and
// returned from side's point of view.
int FinishScore(int white, int black, int scaleClass, int side);
