// The list of open opening books, asked for a move before a search.
#pragma once

#include "engine/move.h"

class ChessGame;

// A legal, non-repeating book move for the game's position from the first
// open book that has one; 0 (no move) when none does.
Move GetBookMove(ChessGame& game);
