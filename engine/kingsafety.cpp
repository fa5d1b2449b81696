// King safety and space: the king's placement and castling rights, its pawn
// shelter and the enemy pawn storm, the danger index built from the attack
// tally of the piece terms, contact and safe checks, and the count of safe
// squares behind each side's pawns.
#include "engine/kingsafety.h"

#include "engine/attacks.h"
#include "engine/evalstate.h"
#include "engine/pawns.h"
#include "engine/pieces.h"
#include "engine/position.h"
#include "engine/settings.h"

namespace {

using Square64 = int[64];

// King placement for white, a8 first (black reads the rank-mirrored square).
constexpr Square64 KingPstMG = {
    -422, -779, -1306, -1941, -1941, -1306, -779, -422,  //
    -524, -509, -557,  -870,  -870,  -557,  -509, -524,  //
    -824, -550, -399,  -707,  -707,  -399,  -550, -824,  //
    -507, -513, -607,  -617,  -617,  -607,  -513, -507,  //
    -469, -413, -341,  -843,  -843,  -341,  -413, -469,  //
    -184, -195, -265,  -385,  -385,  -265,  -195, -184,  //
    -8,   -69,  -125,  -367,  -180,  -164,  -34,  42,    //
    97,   166,  82,    -126,  -177,  -95,   115,  165,
};
constexpr Square64 KingPstEG = {
    201,  842,  437,  562,  562,  437,  842,  201,   //
    275,  694,  593,  640,  640,  593,  694,  275,   //
    466,  755,  775,  588,  588,  775,  755,  466,   //
    263,  524,  471,  391,  391,  471,  524,  263,   //
    63,   148,  211,  241,  241,  211,  148,  63,    //
    -122, 33,   77,   101,  101,  77,   33,   -122,  //
    -244, -147, -66,  0,    -27,  -39,  -110, -189,  //
    -430, -282, -247, -188, -295, -227, -264, -484,
};
// Base of the danger index by the king's square, white's view, a8 first.
constexpr Square64 KingDangerBase = {
    19, 0,  6,  42, 42, 6,  0,  19,  //
    0,  12, 12, 4,  4,  12, 12, 0,   //
    13, 26, 0,  15, 15, 0,  26, 13,  //
    11, 10, 21, 21, 21, 21, 10, 11,  //
    16, 14, 24, 27, 27, 24, 24, 16,  //
    10, 10, 19, 24, 24, 19, 10, 10,  //
    11, 11, 15, 15, 18, 13, 6,  6,   //
    14, 10, 14, 19, 13, 15, 6,  8,
};

// By the king's own rights: bit 1 king side, bit 2 queen side.
constexpr int CastlingRightsBonus[4] = {0, 228, 19, 357};

// [own wing + 2 x enemy king's wing][pawn row 1..6 seen from the pawn's side]
// [file within the own king's wing: a-d for the queen side, e-h for the king
// side]. Wings: 0 queen side, 1 king side.
constexpr int PawnStorm[4][6][4] = {
    {{317, 2309, 489, -96}, {0, -263, 355, -557}, {-128, -71, 72, -169},
     {-74, -91, 26, -64}, {-85, -134, 26, 113}, {0, -116, 72, 251}},
    {{-155, -56, 848, 1067}, {-159, -446, -254, -23}, {-1, -172, -100, 121},
     {-16, 21, -28, 85}, {-63, 73, 35, 108}, {0, 38, 2, 69}},
    {{376, 1104, 472, -56}, {-110, -55, -68, -204}, {-46, -36, -90, -54},
     {-3, -39, -5, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
    {{-110, 33, 1583, 640}, {-54, -334, -188, -56}, {-14, -53, -14, -9},
     {0, 0, 0, 10}, {0, 0, 0, 0}, {0, 0, 0, 0}},
};

// By the number of safe checking squares, capped at 7.
constexpr int SafeCheckQueenLine[8] = {0, 446, 574, 688, 756, 448, 394, 448};
constexpr int SafeCheckRook[8] = {0, 437, 539, 438, 438, 438, 438, 438};
constexpr int SafeCheckQueenDiag[8] = {0, 312, 366, 667, 434, 522, 522, 522};
constexpr int SafeCheckBishop[8] = {0, 195, 328, 267, 267, 267, 267, 267};
constexpr int SafeCheckKnight[8] = {0, 556, 788, 554, 554, 554, 554, 554};

constexpr int ShelterWeight[4] = {3, 4, 2, 1};  // by ranks ahead of the king
constexpr int RelativeG2 = 54;

inline int CappedCount(Bitboard b) { return PopCount(b) < 7 ? PopCount(b) : 7; }
inline int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The wing of a file: 0 queen side (a-c), 1 king side (f-h), -1 centre.
inline int WingOf(int file) { return file <= 2 ? 0 : file >= 5 ? 1 : -1; }

// Shelter index of a king on its own half: own pawns at most three ranks in
// front of it on its file and the files beside it, those on files the enemy
// has pawns on counted double.
int ShelterIndex(const Position& pos, int us, int king) {
  const int them = us ^ 1;
  const int kingRow = RowOf(RelativeSquare(us, king));
  const int kingFile = FileOf(king);
  const Bitboard enemyPawns = pos.PieceBB[PieceCode(them, Pawn)];
  int open = 0, closed = 0;
  const PieceSquares& pawns = pos.PieceList[PieceCode(us, Pawn)];
  for (int i = 0; i < pawns.Count; ++i) {
    const int square = pawns.Squares[i];
    const int file = FileOf(square);
    if (file < kingFile - 1 || file > kingFile + 1) continue;
    const int ahead = kingRow - RowOf(RelativeSquare(us, square));
    if (ahead < 0 || ahead > 3) continue;
    if (enemyPawns & FileBits(file))
      closed += ShelterWeight[ahead];
    else
      open += ShelterWeight[ahead];
  }
  const int heavy = pos.CountOf(PieceCode(them, Rook)) + 2 * pos.CountOf(PieceCode(them, Queen));
  const int m = heavy < 2 ? 2 : 1;
  return 1 + m * open + 2 * closed;
}

int PawnStormValue(const Position& pos, int us, int king) {
  const int them = us ^ 1;
  const int wing = WingOf(FileOf(king));
  int enemyWing = WingOf(FileOf(pos.KingSquare(them)));
  if (enemyWing < 0) enemyWing = wing ^ 1;
  const int (&table)[6][4] = PawnStorm[wing + 2 * enemyWing];
  const Bitboard wingFiles = wing == 0 ? 0x0f0f0f0f0f0f0f0fULL : 0xf0f0f0f0f0f0f0f0ULL;
  Bitboard stormers = pos.PieceBB[PieceCode(them, Pawn)] & wingFiles;
  int value = 0;
  while (stormers) {
    const int square = PopLowestSquare(stormers);
    const int row = RowOf(RelativeSquare(them, square));
    if (row >= 1 && row <= 6) value += table[row - 1][FileOf(square) & 3];
  }
  return value;
}

// The g2 (black: g7) square left open on a king-side castle whose bishop of
// that colour is gone while the enemy's remains.
bool FianchettoHole(const Position& pos, int us, int king) {
  const int rel = RelativeSquare(us, king);
  if (FileOf(king) < 5 || RowOf(rel) < 6 || rel == RelativeG2) return false;
  const int g2 = RelativeSquare(us, RelativeG2);
  if (pos.Board[g2] == PieceCode(us, Pawn)) return false;
  const Bitboard squares = ColourSquares[SquareColour(g2)];
  return !(pos.PieceBB[PieceCode(us, Bishop)] & squares) && (pos.PieceBB[PieceCode(us ^ 1, Bishop)] & squares);
}

// Can an enemy queen that reaches q go there: neither pinned to its own king
// nor, once lifted, uncovering a defender of q?
bool QueenFreeToGo(const Position& pos, int us, int q) {
  const int them = us ^ 1;
  const int enemyKing = pos.KingSquare(them);
  const Bitboard ownQueens = pos.PieceBB[PieceCode(us, Queen)];
  const Bitboard diagonal = pos.PieceBB[PieceCode(us, Bishop)] | ownQueens;
  const Bitboard straight = pos.PieceBB[PieceCode(us, Rook)] | ownQueens;
  const PieceSquares& queens = pos.PieceList[PieceCode(them, Queen)];
  for (int i = 0; i < queens.Count; ++i) {
    const int from = queens.Squares[i];
    if (!(QueenAttacksFrom(from, pos.Occupied) & SquareBit(q))) continue;
    const Bitboard occupied = pos.Occupied & ~SquareBit(from);
    if ((BishopAttacksFrom(enemyKing, occupied) | BishopAttacksFrom(q, occupied)) & diagonal) continue;
    if ((RookAttacksFrom(enemyKing, occupied) | RookAttacksFrom(q, occupied)) & straight) continue;
    return true;
  }
  return false;
}

// A queen contact check that leaves the king no flight square: the first
// such square found decides.
bool QueenMateThreat(const Position& pos, const AttackMaps& maps, int us, int king, Bitboard queenContact) {
  const int them = us ^ 1;
  const Bitboard flights = KingAttacks[king] & ~SquareBit(king) & ~pos.ColourBB[us] & ~maps.All[them];
  const Bitboard withoutKing = pos.Occupied & ~SquareBit(king);
  while (queenContact) {
    const int q = PopLowestSquare(queenContact);
    if ((QueenAttacksFrom(q, withoutKing) & flights) != flights) continue;
    if (QueenFreeToGo(pos, us, q)) return true;
  }
  return false;
}

// The danger index turned into KingDanger; may also charge a mate threat to mg.
int KingDangerOf(const EvalState& state, int us, int king, int shelter, int& mg) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int them = us ^ 1;
  if (state.Attackers[them] <= 0 || pos.CountOf(PieceCode(them, Queen)) == 0) return 0;
  const bool enemyToMove = pos.Side == them;
  const Bitboard kingSet = KingAttacks[king];
  const Bitboard unguarded = kingSet & maps.All[them] & ~maps.UpToQueens[us];

  const int weight = state.AttackWeight[them] * state.Attackers[them] * 33 / 256;
  int d = (PopCount(unguarded) + state.Adjacent[them]) * 100 - (31 * shelter) / 3 + (weight < 441 ? weight : 441);
  if (!(kingSet & ~pos.ColourBB[us] & ~maps.All[them])) d += 113;

  const Bitboard contact = unguarded & ~pos.ColourBB[them];
  const Bitboard rookContact = contact & maps.Rooks[them] & (maps.Queens[them] | maps.UpToMinors[them]);
  d += (enemyToMove ? 90 : 45) * PopCount(rookContact);
  const Bitboard queenContact = contact & maps.Queens[them] & maps.UpToRooks[them];
  d += (enemyToMove ? 424 : 212) * PopCount(queenContact);

  const bool inCheck = (maps.All[them] & SquareBit(king)) != 0;
  if (queenContact && !inCheck && QueenMateThreat(pos, maps, us, king, queenContact) && enemyToMove) {
    mg -= 9639;
    if (mg < -25000) mg = -25000;
  }

  const Bitboard safe = ~pos.ColourBB[them] & ~maps.All[us];
  const Bitboard lines = RookAttacksFrom(king, pos.Occupied) & safe;
  const Bitboard diagonals = BishopAttacksFrom(king, pos.Occupied) & safe;
  d += SafeCheckQueenLine[CappedCount(lines & maps.Queens[them])];
  d += SafeCheckRook[CappedCount(lines & maps.Rooks[them])];
  d += SafeCheckQueenDiag[CappedCount(diagonals & maps.Queens[them])];
  d += SafeCheckBishop[CappedCount(diagonals & maps.Bishops[them])];
  d += SafeCheckKnight[CappedCount(KnightAttacks[king] & maps.Knights[them] & safe)];

  int index = KingDangerBase[RelativeSquare(us, king)] + FloorDiv(d - 42 * state.Defence[us], 32);
  if (index < 0) index = 0;
  if (index > 119) index = 119;
  return KingAttack[index] * Settings::KingSafety / 100;
}

void EvaluateKing(EvalState& state, int us) {
  const Position& pos = *state.Pos;
  const int king = pos.KingSquare(us);
  const int rel = RelativeSquare(us, king);
  int mg = KingPstMG[rel], eg = KingPstEG[rel];
  mg += CastlingRightsBonus[(pos.Castling >> (2 * us)) & 3];

  int shelter = 0;
  if (RowOf(rel) >= 4) {
    shelter = ShelterIndex(pos, us, king);
    if (WingOf(FileOf(king)) >= 0) mg += PawnStormValue(pos, us, king);
  }
  if (FianchettoHole(pos, us, king)) {
    shelter = shelter - 4 > 1 ? shelter - 4 : 1;
    eg -= 27;
  }
  const int capped = shelter < 39 ? shelter : 39;
  mg += KingShieldMG[capped] * Settings::KingShield / 100;
  eg += KingShieldEG[capped] * Settings::KingShield / 100;

  state.KingDanger[us] = KingDangerOf(state, us, king, shelter, mg);
  state.MG[us] += mg;
  state.EG[us] += eg;
}

void EvaluateSpace(EvalState& state, int us) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int them = us ^ 1;
  constexpr Bitboard CentreFiles = FileBits(2) | FileBits(3) | FileBits(4) | FileBits(5);
  const Bitboard ranks = us == White ? RowBits(4) | RowBits(5) | RowBits(6) : RowBits(1) | RowBits(2) | RowBits(3);
  const Bitboard pawns = pos.PieceBB[PieceCode(us, Pawn)];
  const Bitboard safe = CentreFiles & ranks & ~pawns & ~maps.Pawns[them] & (~maps.All[them] | maps.All[us]);
  const Bitboard behind = us == White ? (pawns << 8) | (pawns << 16) | (pawns << 24)
                                      : (pawns >> 8) | (pawns >> 16) | (pawns >> 24);
  const int n = PopCount(safe) + PopCount(safe & behind);
  state.MG[us] += SpaceMG[n];
  state.EG[us] += SpaceEG[n];
}

}  // namespace

void EvaluateKingSafety(EvalState& state) {
  EvaluateKing(state, White);
  EvaluateKing(state, Black);
  EvaluateSpace(state, White);
  EvaluateSpace(state, Black);
}
