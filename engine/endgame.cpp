// Endgame knowledge: dead and drawn positions, the scale classes of endings
// the side ahead has trouble converting, king opposition, the two rook and
// pawn scale functions of the material table and the king-in-the-square
// table. Every query is a handful of table look-ups: they run at every
// evaluated node.
#include "engine/endgame.h"

#include "engine/attacks.h"
#include "engine/kpk.h"
#include "engine/material.h"
#include "engine/pawns.h"
#include "engine/position.h"

std::uint8_t RuleOfSquare[64][64];

void InitRuleOfSquare() {
  for (int s = 0; s < 64; ++s) {
    const int promotion = FileOf(s);  // rank-8 square of s's file
    const int steps = RowOf(s);
    for (int x = 0; x < 64; ++x) RuleOfSquare[s][x] = KingDistance[promotion][x] <= steps ? 1 : 0;
  }
  // The other start-up table of the endgame knowledge; solved on the first
  // call only, as it depends on no other table.
  InitKingPawnKing();
}

namespace {

// Square names; in the rules below they name squares of a view (see
// ViewFor) as often as squares of the board.
enum : int {
  A8, B8, C8, D8, E8, F8, G8, H8,
  A7, B7, C7, D7, E7, F7, G7, H7,
  A6, B6, C6, D6, E6, F6, G6, H6,
  A5, B5, C5, D5, E5, F5, G5, H5,
  A4, B4, C4, D4, E4, F4, G4, H4,
  A3, B3, C3, D3, E3, F3, G3, H3,
  A2, B2, C2, D2, E2, F2, G2, H2,
  A1, B1, C1, D1, E1, F1, G1, H1,
};

constexpr Bitboard EdgeSquares = 0xff818181818181ffULL;
constexpr Bitboard CornerSquares = 0x8100000000000081ULL;
constexpr Bitboard InnerSquares = 0x007e7e7e7e7e7e00ULL;
constexpr int FilesBToG = 0x7e;

bool IsEdge(int square) { return (EdgeSquares & SquareBit(square)) != 0; }
bool IsCorner(int square) { return (CornerSquares & SquareBit(square)) != 0; }
bool IsInner(int square) { return (InnerSquares & SquareBit(square)) != 0; }

int Distance(int a, int b) { return KingDistance[a][b]; }

// The board seen by a colour with an anchor square on files a..d: ranks
// turned for Black so that its pawns run toward rank 8, files turned when
// the anchor stands on e..h. The mapping is its own inverse, so it takes
// board squares into the view and view squares back onto the board.
struct View {
  int Flip;
  int operator()(int square) const { return square ^ Flip; }
};

View ViewFor(int colour, int anchor) { return {(colour == Black ? 56 : 0) ^ (FileOf(anchor) >= 4 ? 7 : 0)}; }

struct Material {
  int Pawns, Knights, Bishops, Rooks, Queens;
  int Minors() const { return Knights + Bishops; }
};

Material MaterialOf(const Position& pos, int colour) {
  return {pos.CountOf(PieceCode(colour, Pawn)), pos.CountOf(PieceCode(colour, Knight)),
          pos.CountOf(PieceCode(colour, Bishop)), pos.CountOf(PieceCode(colour, Rook)),
          pos.CountOf(PieceCode(colour, Queen))};
}

int FirstSquare(const Position& pos, int code) { return pos.PieceList[code].Squares[0]; }

const MaterialEntry* TableEntry(const Position& pos) {
  if (pos.Matkey < 0 || pos.Matkey >= MaterialTable::Size) return nullptr;
  return &MaterialTable::Entry(pos.Matkey);
}

// King and pawn against king, the quick rules: c owns the pawn.
bool KingPawnKingIsTrivialDraw(const Position& pos, int c) {
  const int pawnSquare = FirstSquare(pos, PieceCode(c, Pawn));
  const View view = ViewFor(c, pawnSquare);
  const int p = view(pawnSquare), k = view(pos.KingSquare(c)), e = view(pos.KingSquare(c ^ 1));
  const bool cToMove = pos.Side == c;

  if (FileOf(p) == 0) {
    if (FileOf(e) <= 1 && e < p) return true;
    if (FileOf(k) == 0 && k < p) {
      if (e == k + 2) return true;
      if (!cToMove && Distance(k + 2, e) <= 1) return true;
    }
    return false;
  }
  if (e == p - 8 && RowOf(e) != 0) return true;
  if (e == p - 16) return !(cToMove && (k == p - 1 || k == p + 1));
  if (e == p - 17) {
    if (RowOf(e) != 0) return FileOf(k) <= FileOf(p);
    if (k == p - 1) return cToMove;
    return !cToMove && FileOf(k) <= FileOf(p);
  }
  if (e == p - 15) {
    if (RowOf(e) != 0) return FileOf(k) >= FileOf(p);
    if (k == p + 1) return cToMove;
    return !cToMove && FileOf(k) >= FileOf(p);
  }
  return cToMove && k == e + 16 && RankOf(k) <= RankOf(p) + 1 && RowOf(e) != 0;
}

// King and pawn against king, the full rules: true when decided a draw,
// false when decided not, and nothing decided (the later rules go on) when
// `decided` is left false.
bool KingPawnKingCannotWin(const Position& pos, int c, bool& decided) {
  const int o = c ^ 1;
  const int pawnSquare = FirstSquare(pos, PieceCode(c, Pawn));
  const View view = ViewFor(c, pawnSquare);
  const int p = view(pawnSquare), k = view(pos.KingSquare(c)), e = view(pos.KingSquare(o));
  const int t = pos.Side == o ? 1 : 0, s = 1 - t;

  if (FileOf(p) == 0) {
    decided = true;
    int dE = Distance(A8, e);
    if (dE <= 1) return true;
    dE -= t;
    const int dP = Distance(A8, p) - (p == A2 ? 1 : 0);
    if (dP < dE) return false;
    if (k == B7) {
      const int x = Distance(A5, e) - t;
      if (e == D8) return x + 2 < dP - 2;
      if (e == E8 || e == D7) return x + 1 < dP - 2;
      return x < dP - 2;
    }
    const int dK = Distance(A8, k);
    if (dE < dK) return true;
    if (dE == dK && FileOf(k) == 0 && FileOf(e) - t <= 2) return true;
    return !(dP <= 1 || dE <= 1 || RankOf(e) <= 6);
  }

  const int q = FileOf(p);  // the promotion square
  if (Distance(p, e) < Distance(p, k) - s && Distance(q, e) - t <= Distance(q, p) &&
      pos.Board[view(p - 8)] != PieceCode(o, Pawn)) {
    decided = true;
    return true;
  }
  const int rowP = RowOf(p), rowK = RowOf(k);
  const bool eitherDirect = pos.HasDirectOpposition(White) || pos.HasDirectOpposition(Black);
  if ((rowP > 1 && rowK > rowP && eitherDirect) ||
      (rowP > 3 && ((rowK == rowP && eitherDirect) || (rowK == rowP - 1 && pos.HasDirectOpposition(o))))) {
    decided = true;
    return true;
  }
  return false;
}

// King and queen (c) against king and pawn; always decides.
bool QueenAgainstPawnCannotWin(const Position& pos, int c) {
  const int o = c ^ 1;
  const int pawnSquare = FirstSquare(pos, PieceCode(o, Pawn));
  const View view = ViewFor(c, pawnSquare);
  const int u = view(pawnSquare), k = view(pos.KingSquare(c)), e = view(pos.KingSquare(o));
  const int queen = view(FirstSquare(pos, PieceCode(c, Queen)));
  const bool oToMove = pos.Side == o;
  const auto ruleX = [k] { return FileOf(k) >= 5 || RankOf(k) >= 6 || k == E5; };

  if (u == A2) {
    if (e == A1) {
      if (oToMove || FileOf(queen) == 1) return ruleX();
      return FileOf(k) >= 6 || RankOf(k) >= 7 || k == E6 || k == F6 || k == F5;
    }
    if (e == B2 || e == B1) return oToMove || ruleX();
    return false;
  }
  if (u == C2) {
    if ((e == A2 || e == B2 || e == A1 || e == B1) &&
        (FileOf(k) >= 5 || RankOf(k) >= 5 || k == D4 || k == E4))
      return true;
    if (e != C1 && e != D1 && e != D2) return false;
    return FileOf(k) >= 6 || RankOf(k) >= 6 || k == E5 || k == F5;
  }
  return false;
}

// Bishop and pawns on one rook file (c) with the bishop of the wrong
// colour: true when the defending king holds the corner.
bool WrongBishopCannotWin(const Position& pos, int c, const PawnInfo& pawns) {
  const int o = c ^ 1;
  const int front = pawns.Colour[c].FrontSquare;
  const View view = ViewFor(c, front);
  const int f = view(front), k = view(pos.KingSquare(c)), e = view(pos.KingSquare(o));
  const int bishopSquare = FirstSquare(pos, PieceCode(c, Bishop));
  const int b = view(bishopSquare);
  const int t = pos.Side == o ? 1 : 0, s = 1 - t;
  const int promotionColour = SquareColour(view(A8));
  const Bitboard theirPawns = pos.PieceBB[PieceCode(o, Pawn)];
  const int theirPawn = PieceCode(o, Pawn);

  if (SquareColour(bishopSquare) == promotionColour) return false;
  if (Distance(A8, e) <= 1) return true;
  if (FrontFile[c][view(f + 1)] & theirPawns) return false;
  if ((FrontFile[c][front] & theirPawns) && pos.Board[view(A4)] == theirPawn &&
      s + Distance(A8, e) < Distance(k, A4) + 4)
    return true;
  if (FileOf(b) == RowOf(b) && t + Distance(f, A6) < Distance(e, B7) && Distance(k, B5) <= s + Distance(e, B5))
    return false;
  if (Distance(e, f) == 1 && SquareColour(front) == promotionColour) {
    if (t) return true;
    if (RankOf(e) != 1 && pos.Board[view(e + 8)] == PieceCode(c, Pawn)) return true;
  }
  if (f == A6 && e == C6 && (b == A5 || b == D8)) return false;
  const int d = Distance(A8, e) + s;
  if (d < Distance(A8, k) && d <= Distance(A8, f)) return true;
  return RankOf(e) >= RankOf(f) && Distance(e, f) == 1;
}

}  // namespace

bool Position::IsPawnStalemate() const {
  const MaterialEntry* entry = TableEntry(*this);
  if (!entry) return false;
  if (entry->info & FlagNoMatingMaterial) return true;
  if (InCheck()) return false;
  const int us = Side, them = us ^ 1;
  if (PieceCount[us] != CountOf(PieceCode(us, Pawn)) + 1) return false;

  const Bitboard pawns = PieceBB[PieceCode(us, Pawn)];
  const Bitboard empty = ~Occupied, enemies = ColourBB[them];
  const Bitboard pawnMoves =
      us == White ? ((pawns >> 8) & empty) | (((pawns & ~FileABits) >> 9) & enemies) |
                        (((pawns & ~FileHBits) >> 7) & enemies)
                  : ((pawns << 8) & empty) | (((pawns & ~FileABits) << 7) & enemies) |
                        (((pawns & ~FileHBits) << 9) & enemies);
  if (pawnMoves) return false;
  // An en-passant capture is a move too: without it a side whose only move
  // takes en passant would be scored as stalemated.
  if (EpSquare >= 0 && (PawnAttacks[them][EpSquare] & pawns)) return false;

  for (Bitboard squares = KingAttacks[KingSquare(us)] & ~ColourBB[us]; squares;)
    if (!IsAttacked(PopLowestSquare(squares), them)) return false;
  return true;
}

bool Position::IsTrivialDraw(int c) const {
  const int o = c ^ 1;
  const int n = PieceCount[c], m = PieceCount[o];
  if (n == 1) return true;
  if (n > 3) return false;
  const Material mine = MaterialOf(*this, c);
  const int E = KingSquare(o);

  if (n == 2) {
    if ((mine.Bishops == 1 || mine.Knights == 1) && !IsEdge(E)) return true;
    if (mine.Pawns != 1 || m != 1) return false;
    // The quick rules call some won positions drawn (a pawn running from a
    // king that stands behind it, for one); the solved ending overrules them.
    return KingPawnKingIsTrivialDraw(*this, c) && !KingPawnKingWins(*this, c);
  }

  if (mine.Knights == 2 && !IsEdge(E)) return true;
  if (mine.Pawns != 1) return false;
  const int pawnSquare = FirstSquare(*this, PieceCode(c, Pawn));
  const View view = ViewFor(c, pawnSquare);
  const int p = view(pawnSquare), k = view(KingSquare(c)), e = view(E);
  const bool cToMove = Side == c;

  if (m == 2 && !InCheck() && mine.Queens == 1 && CountOf(PieceCode(o, Queen)) == 1 && !cToMove && e == p - 8)
    return true;
  if (mine.Knights != 1) return false;
  if (p == A7) {
    if (e == A8 || e == B7) return true;
    if (k != A8) return false;
    const int q = SquareColour(FirstSquare(*this, PieceCode(c, Knight))) == SquareColour(KingSquare(c)) ? 0 : 1;
    if (e == C8) return (cToMove && q == 0) || (!cToMove && q == 1);
    if (e == C7) return (cToMove && q == 1) || (!cToMove && q == 0);
    return false;
  }
  if (p == A6) return Board[view(A7)] == PieceCode(o, Pawn) && (e == A8 || e == B8);
  return false;
}

bool Position::CannotWin(int c, const PawnInfo& pawns) const {
  if (IsTrivialDraw(c)) return true;
  const int o = c ^ 1;
  const int n = PieceCount[c], m = PieceCount[o];
  const Material mine = MaterialOf(*this, c), theirs = MaterialOf(*this, o);
  const int E = KingSquare(o);

  if (n == 2) {
    if (mine.Pawns == 1 && m == 1) {
      bool decided = false;
      const bool draw = KingPawnKingCannotWin(*this, c, decided);
      if (decided) return draw && !KingPawnKingWins(*this, c);
    }
    if (mine.Queens == 1 && m == 2 && theirs.Pawns == 1) return QueenAgainstPawnCannotWin(*this, c);
  }

  if (n == 3) {
    // Two knights cannot force mate on a bare king, wherever it stands; with
    // the king in a corner the rule below alone would score it a big win.
    if (mine.Knights == 2 && (!IsCorner(E) || m == 1)) return true;
    if (mine.Bishops == 1 && mine.Pawns == 1 && m > theirs.Pawns + 1 && Side == o) {
      const int pawnSquare = FirstSquare(*this, PieceCode(c, Pawn));
      const int bishopSquare = FirstSquare(*this, PieceCode(c, Bishop));
      if ((FrontFile[c][pawnSquare] & SquareBit(E)) && SquareColour(E) != SquareColour(bishopSquare)) return true;
    }
  }

  if (pawns.Colour[c].Files & FilesBToG) return false;
  const MaterialEntry* entry = TableEntry(*this);
  if (entry && (entry->info & (FlagWhiteRookMinorVsRook | FlagBlackRookMinorVsRook)) && IsInner(E)) return true;
  if (n == mine.Pawns + 2 && mine.Bishops == 1 && PopCount(pawns.Colour[c].Files) == 1 &&
      WrongBishopCannotWin(*this, c, pawns))
    return true;
  if (mine.Pawns == 0 && mine.Rooks + mine.Queens + theirs.Rooks + theirs.Queens == 0) {
    if ((mine.Minors() == 2 || mine.Minors() - theirs.Minors() <= 1) && theirs.Bishops >= 1 && !IsEdge(E))
      return true;
  }
  return false;
}

int Position::EndgameScaleClass(int c) const {
  const int o = c ^ 1;
  const Material white = MaterialOf(*this, White), black = MaterialOf(*this, Black);
  const int sign = c == White ? 1 : -1;
  const int dm = sign * (white.Minors() - black.Minors());
  const int dr = sign * (white.Rooks - black.Rooks);
  const int dq = sign * (white.Queens - black.Queens);
  const int imbalance = (dr + 2 * dq) * 5 + 3 * dm;
  const Material& mine = c == White ? white : black;
  const Material& theirs = c == White ? black : white;
  const bool edge = IsEdge(KingSquare(o));

  if (mine.Pawns == 0) {
    const int w = mine.Minors() + 2 * (mine.Rooks + 2 * mine.Queens);
    int x;
    if (dq == 1) {
      if (dr + dm > 2) return 0;
      x = dr + dm <= -3 ? imbalance - 2 : imbalance;
    } else {
      if (dm > 3) return 0;
      x = dm <= -4 ? imbalance - 3 : imbalance;
    }
    if (x < 1) return 7;
    if (x >= 4) return 0;
    if (w > 4) return edge ? 1 : 2;
    if (w == 4) return edge ? 2 : 3;
    return edge ? 3 : 5;
  }

  if (imbalance == 0 && white.Bishops == 1 && black.Bishops == 1) {
    const int pieces = PieceCount[c] - mine.Pawns;
    const bool opposite = SquareColour(FirstSquare(*this, PieceCode(White, Bishop))) !=
                          SquareColour(FirstSquare(*this, PieceCode(Black, Bishop)));
    if (opposite && pieces == 2) return 3;
    if (opposite && pieces == 3 && white.Rooks == 1 && black.Rooks == 1) return 2;
  }

  if (PieceCount[c] == 4 && PieceCount[o] == 2 && mine.Rooks == 1 && mine.Pawns == 2 && theirs.Rooks == 1) {
    int files = 0;
    for (Bitboard b = PieceBB[PieceCode(c, Pawn)]; b;) files |= 1 << FileOf(PopLowestSquare(b));
    const bool splitRookPawns = files == 0x05 || files == 0xa0;  // a and c, or f and h
    // The ranks are the board's for either colour, as the rule was tuned.
    const bool guarded =
        RankOf(KingSquare(o)) == 8 && RankOf(FirstSquare(*this, PieceCode(c, Rook))) == 7;
    if (splitRookPawns && !guarded) return 5;
  }
  return 0;
}

namespace {

// The opposition tests, which differ only in the gap they accept when the
// other side is to move: any even gap, or exactly two ranks.
bool OppositionFor(const Position& pos, int c, bool direct) {
  const int wk = pos.KingSquare(White), bk = pos.KingSquare(Black);
  if (RowOf(bk) + 2 > RowOf(wk)) return false;
  if (pos.Side == c) {
    // c steps in front of the other king, two ranks away from it.
    const int target = c == White ? bk + 16 : wk - 16;
    if (pos.Board[target] && ColourOf(pos.Board[target]) == c) return false;
    return Distance(pos.KingSquare(c), target) == 1;
  }
  if (FileOf(wk) != FileOf(bk)) return false;
  const int gap = RowOf(wk) - RowOf(bk);
  return direct ? gap == 2 : gap % 2 == 0;
}

}  // namespace

bool Position::HasOpposition(int c) const { return OppositionFor(*this, c, false); }
bool Position::HasDirectOpposition(int c) const { return OppositionFor(*this, c, true); }

namespace {

// King, rook and pawn (strong) against king and rook, in squares relative to
// the strong side: its pawn runs toward rank 8. Files are not turned.
int ScaleRookPawnAgainstRook(const Position& pos, int strong) {
  const int weak = strong ^ 1;
  const int flip = strong == White ? 0 : 56;
  const int p = FirstSquare(pos, PieceCode(strong, Pawn)) ^ flip;
  const int wk = pos.KingSquare(strong) ^ flip, bk = pos.KingSquare(weak) ^ flip;
  const int wr = FirstSquare(pos, PieceCode(strong, Rook)) ^ flip;
  const int br = FirstSquare(pos, PieceCode(weak, Rook)) ^ flip;
  const bool weakToMove = pos.Side == weak;
  const int file = FileOf(p), rank = RankOf(p);
  const int promotion = file;

  if (file == 0 || file == 7) {
    if (FileOf(bk) == file && bk < p) return 7;
    if (rank != 7) return 0;
    if (wk == promotion) {
      if (file == 7 && (bk == F8 || bk == F7) && (FileOf(br) == 5 || FileOf(br) == 6)) return 7;
      if (file == 0 && (bk == C8 || bk == C7) && (FileOf(br) == 1 || FileOf(br) == 2)) return 7;
      const int checkingFile = file == 7 ? 6 : 1;
      return FileOf(br) == checkingFile && RankOf(wr) != 8 && RankOf(wr) != 7 ? 6 : 0;
    }
    if (wr == promotion && RankOf(bk) == 7) {
      if (weakToMove) return 7;
      return FileOf(br) == file && br > p && Distance(wk, p) > 1 ? 7 : 0;
    }
    return 0;
  }

  const bool longSideRight = file <= 3;  // the farther board edge is the h-side
  if (rank == 7) {
    if ((file == 1 || file == 6) && bk == promotion && RankOf(br) == 8) return 6;
    Bitboard longSide = 0;
    for (int i = 1; i <= 3; ++i) longSide |= FileBits(longSideRight ? file + i : file - i);
    const Bitboard others = pos.Occupied & ~SquareBit(pos.KingSquare(strong));
    const bool rookOnLongSide = longSideRight ? FileOf(br) > file : FileOf(br) < file;
    return !(others & longSide) && Distance(p, bk) <= 2 && weakToMove && rookOnLongSide ? 5 : 0;
  }
  if (rank == 6) {
    if (file == 1) return (bk == A8 || bk == B8) && br >= E8 && br <= H8 ? 5 : 0;
    if (file == 6) return (bk == G8 || bk == H8) && br >= A8 && br <= D8 ? 5 : 0;
    const bool rookFarOnLongSide = longSideRight ? FileOf(br) > file + 3 : FileOf(br) < file - 3;
    if (Distance(p, bk) < 3 && weakToMove && rookFarOnLongSide) return 5;
    if (!(FileOf(bk) == file && bk < p)) return 0;
    if (RankOf(wk) >= 6 && !weakToMove) return 0;
    return RankOf(br) <= 2 ? 5 : 0;
  }
  return 0;
}

}  // namespace

int ScaleKRPKR(const Position& position) { return ScaleRookPawnAgainstRook(position, White); }
int ScaleKRKRP(const Position& position) { return ScaleRookPawnAgainstRook(position, Black); }
