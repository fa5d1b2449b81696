// Precomputed attack tables (leapers, magic bitboards for sliders, lines and
// pawn masks, king distances), built once at start-up and read-only after,
// and the per-ply record of every piece kind's attacks.
#pragma once

#include <cstdint>

#include "engine/bitboard.h"
#include "engine/position.h"

// Leapers. A king's set holds its own square too (so do the unions built
// from it); the generators mask own pieces out.
extern Bitboard KnightAttacks[64];
extern Bitboard KingAttacks[64];
// [c][s]: the squares a pawn of colour c on s attacks. Read the other way,
// PawnAttacks[c ^ 1][s] & pawns of c are the pawns of c that attack s.
extern Bitboard PawnAttacks[2][64];

// Empty-board rays, each including the square itself.
extern Bitboard RookRays[64];
extern Bitboard BishopRays[64];
extern Bitboard QueenRays[64];

// [a][b]: squares strictly between a and b on one line, 0 when none.
extern Bitboard Between[64][64];
// [t][a]: the squares of the line through t and a beyond a, seen from t.
extern Bitboard LineBeyond[64][64];
// [a][b]: the squares of the line through a and b outside the segment a..b.
extern Bitboard LineOutside[64][64];

// Pawn evaluation masks, [colour][square].
extern Bitboard FrontFile[2][64];
extern Bitboard AdjacentFrontFiles[2][64];
extern Bitboard PawnSupport[2][64];
extern Bitboard PawnSquare[2][64];

// Chebyshev distance between two squares.
extern std::int32_t KingDistance[64][64];

struct MagicEntry {
  Bitboard Mask;
  Bitboard Magic;
  std::int32_t Shift;
  const Bitboard* Attacks;  // this square's block of the shared array
};
extern MagicEntry BishopMagics[64];
extern MagicEntry RookMagics[64];

inline Bitboard BishopAttacksFrom(int square, Bitboard occupied) {
  const MagicEntry& m = BishopMagics[square];
  return m.Attacks[((occupied & m.Mask) * m.Magic) >> m.Shift];
}
inline Bitboard RookAttacksFrom(int square, Bitboard occupied) {
  const MagicEntry& m = RookMagics[square];
  return m.Attacks[((occupied & m.Mask) * m.Magic) >> m.Shift];
}
inline Bitboard QueenAttacksFrom(int square, Bitboard occupied) {
  return BishopAttacksFrom(square, occupied) | RookAttacksFrom(square, occupied);
}

// Piece values of exchange evaluation and the safe-move test, by piece code
// (milli-pawns; both colours alike).
inline constexpr int SeeValue[16] = {
    0, 773, 3284, 99999, 0, 3227, 4917, 9639,
    0, 773, 3284, 99999, 0, 3227, 4917, 9639,
};

// Every colour's attacks by piece kind, and their cumulative unions, built
// once per node with the real occupancy.
struct AttackMaps {
  Bitboard Pawns[2];
  Bitboard Knights[2];
  Bitboard Bishops[2];
  Bitboard Minors[2];      // knights | bishops
  Bitboard Rooks[2];
  Bitboard Queens[2];
  Bitboard UpToMinors[2];  // pawns | minors
  Bitboard UpToRooks[2];   // ... | rooks
  Bitboard UpToQueens[2];  // ... | queens
  Bitboard All[2];         // ... | king
  bool Valid;
};

// Builds every table but the king distances; ends with InitBitscan.
void InitAttackTables();
// Fills the magic attack blocks (called by InitAttackTables).
void InitBitscan();
void InitDistanceTable();
