// The Zobrist key tables of the engine's board, filled once at start-up from
// MT19937 and read by every thread afterwards.
#pragma once

#include <cstdint>

struct ZobristKeyTables {
  std::uint64_t PieceSquare[16][64];  // piece code, square (rows 0, 4, 8, 12 unused)
  std::uint64_t EnPassant[65];        // en-passant square + 1; entry 0 = no square
  std::uint64_t Side;                 // hashed in when Black is to move
  std::uint64_t Castling[16];         // the whole castling-rights value
  std::uint64_t Pawn[2][64];          // colour, square; the pawn key only
};

extern ZobristKeyTables ZobristKeys;

// Draws the keys in the fixed order that makes hash keys (and with them
// learning files) agree between runs and builds.
void InitZobristKeys();
