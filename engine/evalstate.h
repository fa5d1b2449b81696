// The working state of one evaluation, shared by the piece terms, the king
// safety and space terms and the main evaluation that combines them.
#pragma once

#include <cstdint>

#include "engine/bitboard.h"

class Position;
struct AttackMaps;
struct PawnInfo;

struct EvalState {
  const Position* Pos;
  const AttackMaps* Maps;  // filled (valid) before the piece terms run
  const PawnInfo* Pawns;
  int BlackPhase;  // 0..8, from the material table
  int WhitePhase;

  // Accumulators per colour (0 white, 1 black), positive for that colour.
  std::int32_t MG[2];
  std::int32_t EG[2];
  // Danger to each colour's king, set by the king terms.
  std::int32_t KingDanger[2];

  // King-attack tally per attacking colour, cleared and gathered by the
  // piece terms and read by the king terms.
  std::int32_t Attackers[2];
  std::int32_t AttackWeight[2];
  std::int32_t Adjacent[2];
  std::int32_t Defence[2];
  Bitboard Hit[2];
  bool Overlap[2];
};

// Knight, bishop, rook and queen terms, white then black. Adds to MG and EG
// (the caller clears them) and fills the king-attack tally.
void EvaluatePieces(EvalState& state);
// King placement, shelter, storm, danger (white king first), then space.
// Runs after EvaluatePieces; sets KingDanger and adds to MG and EG.
void EvaluateKingSafety(EvalState& state);
