// A filled evaluation state for one position, for testing the piece terms and
// the king terms on their own: attack maps built, and a pawn record derived
// straight from the board with only the fields those terms read.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/attacks.h"
#include "engine/evalstate.h"
#include "engine/pawns.h"
#include "engine/pieces.h"
#include "engine/position.h"

struct EvalSetup {
  Position Pos;
  AttackMaps Maps;
  PawnInfo Pawns;
  EvalState State;
};

// Passed pawns, files, most advanced and rearmost rows (own view), pawn counts
// by square colour as centre weights, and centre type 1.
inline void DerivePawnInfo(const Position& pos, PawnInfo& info) {
  info = PawnInfo{};
  for (int colour = White; colour <= Black; ++colour) {
    PawnColourInfo& side = info.Colour[colour];
    for (auto& row : side.MostAdvanced) row = 8;
    const Bitboard enemy = pos.PieceBB[PieceCode(colour ^ 1, Pawn)];
    const PieceSquares& pawns = pos.PieceList[PieceCode(colour, Pawn)];
    for (int i = 0; i < pawns.Count; ++i) {
      const int square = pawns.Squares[i];
      const int file = FileOf(square), row = RowOf(square ^ (colour * 56));
      side.Files |= 1 << file;
      if (row < side.MostAdvanced[file]) side.MostAdvanced[file] = row;
      if (row > side.Rearmost[file]) side.Rearmost[file] = row;
      side.CentreWeight[SquareColour(square)] += 1;
      if (!(enemy & (FrontFile[colour][square] | AdjacentFrontFiles[colour][square])))
        side.PassedPawns |= SquareBit(square);
    }
  }
  info.CentreType = 1;
}

// Parses fen (failing the test on a bad one), fills the state with cleared
// accumulators and both phases at 8, and runs the piece terms.
inline std::unique_ptr<EvalSetup> SetUpEval(const std::string& fen) {
  auto setup = std::make_unique<EvalSetup>();
  EXPECT_FALSE(setup->Pos.ParseFEN(fen.c_str())) << fen << ": " << setup->Pos.Message;
  setup->Pos.BuildAttackMaps(setup->Maps);
  DerivePawnInfo(setup->Pos, setup->Pawns);
  EvalState& state = setup->State;
  state = EvalState{};
  state.Pos = &setup->Pos;
  state.Maps = &setup->Maps;
  state.Pawns = &setup->Pawns;
  state.BlackPhase = 8;
  state.WhitePhase = 8;
  EvaluatePieces(state);
  return setup;
}

// The same with the king terms run after the piece terms.
inline std::unique_ptr<EvalSetup> SetUpFullEval(const std::string& fen) {
  auto setup = SetUpEval(fen);
  EvaluateKingSafety(setup->State);
  return setup;
}
