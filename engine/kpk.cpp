// King and pawn against king by retrograde iteration over every placement
// (side to move, kings, pawn), with the pawn's owner taken as White: a
// position is won with White to move when some move reaches a won position,
// with Black to move when Black has a move and every move does. Promotion
// wins unless the new queen is taken or stalemates (a rook is tried then).
#include "engine/kpk.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "engine/bitboard.h"
#include "engine/position.h"

namespace {

// One bit per placement: [side][white king][black king], bit = pawn square.
std::uint64_t Won[2][64][64];
bool Solved = false;
Bitboard Neighbours[64];

// Own distances: the first start-up run comes before the distance table.
int Distance(int a, int b) {
  const int files = std::abs(FileOf(a) - FileOf(b)), rows = std::abs(RowOf(a) - RowOf(b));
  return files > rows ? files : rows;
}

bool PawnAttacks(int p, int s) { return (FileOf(p) > 0 && s == p - 9) || (FileOf(p) < 7 && s == p - 7); }

bool IsWon(int side, int wk, int bk, int p) { return (Won[side][wk][bk] >> p) & 1; }

bool Legal(int side, int wk, int bk, int p) {
  if (wk == bk || wk == p || bk == p || RowOf(p) == 0 || RowOf(p) == 7 || Distance(wk, bk) <= 1) return false;
  return !(side == White && PawnAttacks(p, bk));  // Black, not to move, in check
}

// A queen or rook on q attacks s; only the white king can stand between.
bool SliderAttacks(bool queen, int q, int wk, int s) {
  const int df = FileOf(s) - FileOf(q), dr = RowOf(s) - RowOf(q);
  if (s == q || !(df == 0 || dr == 0 || (queen && (df == dr || df == -dr)))) return false;
  const int step = (dr > 0 ? 8 : dr < 0 ? -8 : 0) + (df > 0 ? 1 : df < 0 ? -1 : 0);
  for (int x = q + step; x != s; x += step)
    if (x == wk) return false;
  return true;
}

bool PromotionWins(int wk, int bk, int q) {
  if (Distance(bk, q) <= 1 && Distance(wk, q) > 1) return false;
  for (const bool queen : {true, false}) {
    if (SliderAttacks(queen, q, wk, bk)) return true;  // check: Black moves or is mated
    for (Bitboard b = Neighbours[bk]; b;) {
      const int to = PopLowestSquare(b);
      if (Distance(wk, to) > 1 && to != q && !SliderAttacks(queen, q, wk, to)) return true;
    }
  }
  return false;  // stalemate either way
}

bool WhiteWins(int wk, int bk, int p) {
  for (Bitboard b = Neighbours[wk]; b;) {
    const int to = PopLowestSquare(b);
    if (Legal(Black, to, bk, p) && IsWon(Black, to, bk, p)) return true;
  }
  const int push = p - 8;
  if (push == wk || push == bk) return false;
  if (RowOf(push) == 0) return PromotionWins(wk, bk, push);
  if (Legal(Black, wk, bk, push) && IsWon(Black, wk, bk, push)) return true;
  const int twoSteps = p - 16;
  return RowOf(p) == 6 && twoSteps != wk && twoSteps != bk && Legal(Black, wk, bk, twoSteps) &&
         IsWon(Black, wk, bk, twoSteps);
}

bool BlackLoses(int wk, int bk, int p) {
  bool anyMove = false;
  for (Bitboard b = Neighbours[bk]; b;) {
    const int to = PopLowestSquare(b);
    if (Distance(wk, to) <= 1 || PawnAttacks(p, to)) continue;
    anyMove = true;
    if (to == p || !IsWon(White, wk, to, p)) return false;  // takes the pawn, or escapes
  }
  return anyMove || PawnAttacks(p, bk);  // no move: mate in check, else stalemate
}

}  // namespace

void InitKingPawnKing() {
  if (Solved) return;
  for (int s = 0; s < 64; ++s) {
    Neighbours[s] = 0;
    for (int to = 0; to < 64; ++to)
      if (Distance(s, to) == 1) Neighbours[s] |= SquareBit(to);
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (int side = White; side <= Black; ++side)
      for (int wk = 0; wk < 64; ++wk)
        for (int bk = 0; bk < 64; ++bk)
          for (int p = 8; p < 56; ++p) {
            if (IsWon(side, wk, bk, p) || !Legal(side, wk, bk, p)) continue;
            if (side == White ? WhiteWins(wk, bk, p) : BlackLoses(wk, bk, p)) {
              Won[side][wk][bk] |= SquareBit(p);
              changed = true;
            }
          }
  }
  Solved = true;
}

bool KingPawnKingWins(const Position& position, int strong) {
  // Seen from the pawn's owner: ranks turned when it is Black.
  const int flip = strong == White ? 0 : 56;
  const int wk = position.KingSquare(strong) ^ flip, bk = position.KingSquare(strong ^ 1) ^ flip;
  const int p = position.PieceList[PieceCode(strong, Pawn)].Squares[0] ^ flip;
  return IsWon(position.Side == strong ? White : Black, wk, bk, p);
}
