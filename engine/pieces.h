// Square colours as the piece terms and the king terms see them. The terms
// themselves are reached through EvaluatePieces (engine/evalstate.h).
#pragma once

#include "engine/bitboard.h"

// [0] the light squares, [1] the dark squares.
inline constexpr Bitboard ColourSquares[2] = {0xaa55aa55aa55aa55ULL, 0x55aa55aa55aa55aaULL};

static_assert(SquareBit(0) & ColourSquares[0], "a8 is light");
static_assert(SquareBit(63) & ColourSquares[0], "h1 is light");
static_assert(SquareBit(56) & ColourSquares[1], "a1 is dark");
