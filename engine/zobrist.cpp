// Key drawing order: piece-square keys (piece code 0 square 0 first, squares
// innermost), en-passant keys, castling keys, two draws thrown away, pawn keys.
// The side key is the constant 1 and takes no draw.
#include "engine/zobrist.h"

#include "support/random.h"

ZobristKeyTables ZobristKeys;

void InitZobristKeys() {
  MersenneTwister generator;
  generator.SeedByArray(EngineSeedKey, 4);
  for (auto& row : ZobristKeys.PieceSquare)
    for (auto& key : row) key = generator.Next64();
  for (auto& key : ZobristKeys.EnPassant) key = generator.Next64();
  for (auto& key : ZobristKeys.Castling) key = generator.Next64();
  generator.Next64();
  for (auto& row : ZobristKeys.Pawn)
    for (auto& key : row) key = generator.Next64();
  ZobristKeys.Side = 1;
}
