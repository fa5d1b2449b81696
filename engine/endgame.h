// Endgame knowledge: the king-in-the-square table of the passed-pawn terms
// and the scale functions of the two rook-and-pawn endings in the material
// table. The draw and scale queries themselves are members of Position
// (IsPawnStalemate, IsTrivialDraw, CannotWin, EndgameScaleClass and the two
// opposition tests), defined in endgame.cpp.
#pragma once

#include <cstdint>

class Position;

// [s][x]: 1 when a king on x stands inside the square of a white pawn on s
// (it reaches the promotion square in no more king steps than the pawn
// needs single steps), else 0. A black pawn on s against a king on x is
// looked up as [s ^ 56][x ^ 56].
extern std::uint8_t RuleOfSquare[64][64];

// Fills RuleOfSquare from the king distances; rerun once they are built.
void InitRuleOfSquare();

// Scale classes (0 none, 5, 6 or 7) of king, rook and pawn against king and
// rook: ScaleKRPKR with the pawn White's, ScaleKRKRP with it Black's.
int ScaleKRPKR(const Position& position);
int ScaleKRKRP(const Position& position);
