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
