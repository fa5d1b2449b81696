// The move generators: all pseudo-legal moves, check evasions and the two
// reduced sets of the quiescence search, each in a fixed order. None tests
// whether the mover's king is left attacked; MakeMove settles that.
#pragma once

#include <cstdint>

#include "engine/move.h"
#include "engine/position.h"

struct AttackMaps;

struct MoveList {
  static constexpr int Capacity = 256;  // no position has more moves
  Move Moves[Capacity];
  std::int32_t Count;
  std::int32_t Cursor;  // the move picker's (and FindCoordinateMove's) place
  std::uint32_t Scores[Capacity];
};

// maps may be null or invalid; with valid maps the king keeps off attacked
// squares and normal castling off attacked squares.
void GenerateMoves(const Position& pos, MoveList& list, const AttackMaps* maps = nullptr);
void GenerateEvasions(const Position& pos, MoveList& list, const AttackMaps& maps);
// The quiescence generators need valid maps of the position.
void GenerateQuiescenceMoves(const Position& pos, MoveList& list, const AttackMaps& maps);
void GenerateQuiescenceChecks(const Position& pos, MoveList& list, const AttackMaps& maps);

// True when move, apart from the check mark of the quiescence generators, is
// a word GenerateMoves makes for pos without maps: what a move from outside
// the generators (the transposition table's) must be before MakeMove sees
// it. Costs a full generation.
bool IsPseudoLegal(const Position& pos, Move move);
