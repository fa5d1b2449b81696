// The knight, bishop, rook and queen terms of the evaluation: placement,
// mobility on the attack maps, outposts, trapped pieces, files, pins and
// x-rays, pieces hit by cheaper ones, and the king-attack tally that the king
// terms turn into danger. Values in milli-pawns, positive for the piece's side.
#include <array>
#include <cassert>

#include "engine/attacks.h"
#include "engine/evalstate.h"
#include "engine/pawns.h"
#include "engine/pieces.h"
#include "engine/position.h"

namespace {

using Square64 = std::array<int, 64>;

// A table given for files a-d of each rank, rank 8 first, spread over the
// whole board with files e-h mirroring a-d. Indexed by the relative square.
constexpr Square64 MirrorFiles(const int (&half)[32]) {
  Square64 full{};
  for (int square = 0; square < 64; ++square) {
    const int file = FileOf(square);
    full[square] = half[RowOf(square) * 4 + (file < 4 ? file : 7 - file)];
  }
  return full;
}

constexpr Square64 KnightPstMG = MirrorFiles({
    -1449, -304, -388, -37, -221, -153, 65, 130, -75, 195, 65, 253, 50, -48, 220, 180,
    -31, 109, 156, 113, -158, -5, 25, 111, -228, -170, -63, -18, -522, -250, -190, -179});
constexpr Square64 KnightPstEG = MirrorFiles({
    -586, -79, -60, -125, -395, -97, -33, -4, -92, 55, 61, 89, -105, -88, 49, 61,
    -62, 39, 154, 168, -237, -28, 57, 139, -301, -140, -101, -43, -536, -339, -200, -155});
constexpr Square64 BishopPstMG = MirrorFiles({
    -315, -487, -396, -563, -420, -222, -103, -49, -24, -63, 33, 64, -115, -25, 43, 45,
    47, 38, -20, 91, 61, 81, 43, 50, 10, 78, 83, 9, -93, 38, -94, -86});
constexpr Square64 BishopPstEG = MirrorFiles({
    -97, 19, 271, 382, -5, -2, 157, 132, -100, 20, 77, 36, -42, 9, 89, 82,
    40, 172, 71, 55, 1, 38, -9, 96, -211, 21, 22, -32, -222, -123, -193, -297});
constexpr Square64 RookPstMG = MirrorFiles({
    45, 293, 261, 168, 182, 119, 443, 396, 106, 178, 274, 388, 50, 104, 137, 201,
    -56, -29, -10, 44, -36, 38, 9, 16, -63, -34, 6, 12, -58, 13, 16, 47});
constexpr Square64 RookPstEG = MirrorFiles({
    247, 219, 205, 200, 101, 110, 87, 79, 159, 149, 129, 92, 61, 118, 61, 46,
    -40, 34, 28, -2, -118, -84, -75, -47, -161, -134, -91, -95, -57, -18, 6, -10});
constexpr Square64 QueenPstMG = MirrorFiles({
    -398, -240, -125, -35, 11, -142, 180, 104, 54, 122, 32, 212, 46, -22, 105, 14,
    -5, 17, 19, 1, 32, 18, 36, -4, -81, -12, 12, 5, -54, -4, -39, -28});
constexpr Square64 QueenPstEG = MirrorFiles({
    118, 194, 197, 38, -141, 71, 12, 128, -59, 120, 251, 342, -19, 170, 116, 193,
    45, 32, 27, 116, -159, -82, -6, 3, -118, -154, -87, -88, -149, -210, -202, -53});

constexpr Square64 KnightOutpostMG = MirrorFiles({
    0, 0, 0, 0, 0, 0, 74, 50, 0, 0, 82, 84, 0, 55, 41, 93, 0, 48, 28, 43});
constexpr Square64 KnightOutpostEG = MirrorFiles({
    0, 0, 0, 0, 0, 7, 30, 32, 0, 30, 51, 48, 0, 43, 65, 71, 0, 0, 17, 24});
constexpr Square64 BishopOutpostMG = MirrorFiles({
    0, 0, 0, 0, 0, 0, 0, 29, 0, 40, 24, 57, 0, 43, 56, 67, 0, 41, 47, 61});
constexpr Square64 BishopOutpostEG = MirrorFiles({
    0, 0, 0, 0, 0, 23, 34, 118, 0, 51, 50, 38, 0, 63, 43, 59, 0, 19, 31, 44});

// Mobility by the number of squares reached (own pieces excluded).
constexpr int KnightMobMG[9] = {188, 162, 115, 77, 44, 5, -40, -84, -141};
constexpr int KnightMobEG[9] = {302, 302, 208, 123, 63, 26, -31, -77, -95};
constexpr int KnightSafeMobMG[9] = {-378, -244, -116, -50, 13, 68, 124, 196, 223};
constexpr int KnightSafeMobEG[9] = {-891, -451, -218, -85, -2, 68, 106, 115, 49};
constexpr int BishopMobMG[14] = {87, 3, 36, 15, 10, 4, 0, -9, -41, -52, -72, -59, -218, -190};
constexpr int BishopMobEG[14] = {119, 227, 269, 248, 184, 128, 28, -24, -113, -169, -290, -311, -267, -267};
constexpr int BishopSafeMobMG[14] = {-170, -80, -42, -10, 17, 41, 62, 72, 80, 95, 86, 192, 94, 186};
constexpr int BishopSafeMobEG[14] = {-174, -246, -201, -138, -65, -5, 58, 97, 127, 150, 161, 151, -66, -26};
constexpr int RookMobMG[15] = {-90, -50, -21, 5, 2, 31, 45, 56, 43, 52, 25, -2, -48, -21, -147};
constexpr int RookMobEG[15] = {60, 97, 51, 17, 7, -20, -37, -38, -27, -16, 5, 14, 11, 0, 54};
constexpr int RookSafeMobMG[15] = {15, -14, -9, -16, -23, -10, 3, 34, 70, 104, 163, 193, 194, 306, 367};
constexpr int RookSafeMobEG[15] = {-371, -210, -112, -63, -9, 8, 33, 48, 48, 57, 63, 68, 85, 56, 1};
constexpr int RookRankMobMG[8] = {-63, -42, -10, -9, -9, -23, -38, -79};
constexpr int RookRankMobEG[8] = {75, 124, 135, 161, 161, 163, 128, 118};
constexpr int QueenMobMG[28] = {-6, -4, -10, -23, -19, -17, -18, -13, -5, 0,  1,  3,  9,   8,
                                13, 16, 15,  19,  22,  46,  41,  71,  104, 160, 221, 49, -41, 152};
constexpr int QueenMobEG[28] = {-929, -929, -688, -382, -267, -71, -1,  26,  42,  20,   26,   33,  18,  12,
                                -13,  2,    -2,   -14,  17,   -12, -13, -40, -61, -114, -107, -126, -87, -9};
// By the squares reached in the opponent's half (at most 16 from any square).
constexpr int QueenFarMobMG[17] = {13, 15, 25, 34, 21, 14, -11, -27, -41, -63, -105, -123, -179, -196, -228, -267, -242};
constexpr int QueenFarMobEG[17] = {-264, -162, -113, -121, -31, 33, 48, 83, 124, 152, 158, 195, 181, 148, 151, 186, 249};
// By the number of own rooks lined up ahead of the queen (at most 3).
constexpr int QueenOpenFileMG[4] = {-54, 113, 100, 100};
constexpr int QueenOpenFileEG[4] = {148, 162, 98, 98};
constexpr int QueenHalfOpenMG[4] = {43, 105, 55, 55};
constexpr int QueenHalfOpenEG[4] = {51, 105, 42, 42};
// By the opponent's phase 0..8.
constexpr int QueenSeventh[9] = {170, 138, 0, 0, 110, 18, 0, 14, 45};
// [relative row][safe squares 0..7]: a queen with few safe squares left.
constexpr int QueenSafeMG[8][8] = {
    {-186, -303, -238, 0, 0, -52, -148, -109}, {-342, -286, -196, -122, -101, -59, -13, -15},
    {-274, -165, -148, -104, -77, -14, 0, 0},  {-163, -121, -118, -69, -43, -10, -3, 0},
    {-218, -124, -96, -84, -80, -46, -47, -31}, {-164, -93, -58, -51, -47, -34, -23, -1},
    {-109, -57, -43, -34, -26, -19, -12, -11}, {-71, -55, -49, -38, -37, -39, -34, -42}};
constexpr int QueenSafeEG[8][8] = {
    {-204, -22, 0, 0, 0, 0, 0, 0},           {0, 0, -76, -1, 0, 0, 0, 0},
    {-306, -456, -123, -70, -35, 0, 0, 0},   {-553, -396, -108, -87, -51, -134, -41, 0},
    {-592, -402, -170, -137, -147, -67, 0, -23}, {-589, -392, -256, -85, -58, -10, -4, 0},
    {-642, -529, -213, -81, -36, -6, 0, 0},  {-524, -259, -174, -115, -97, -68, -69, -20}};

// By CentreType 1..6 (index CentreType - 1).
constexpr int KnightPairMG[6] = {-81, -21, -16, -32, -82, 4};
constexpr int KnightPairEG[6] = {-105, -9, 22, -165, 17, -67};
constexpr int BishopPairMG[6] = {369, 305, 272, 261, 214, 274};
constexpr int BishopPairEG[6] = {598, 535, 427, 494, 206, 311};

// By the passer's row seen from the passer's side (0 = promotion rank).
constexpr int RookBehindOwnPasser[8] = {0, -20, 72, 94, 63, 10, -73, -40};
constexpr int RookBehindEnemyPasser[8] = {0, 1601, 263, 191, -401, -401, -401, -401};

// Squares where a bishop's reach counts extra. Black's area is one pair of
// squares larger than white's mirrored; evaluations are not colour-symmetric
// in that one place.
constexpr Bitboard HomeRanks(int firstRow, int lastRow) {
  Bitboard area = 0;
  for (int row = firstRow; row <= lastRow; ++row)
    for (int file = 1; file <= 6; ++file) area |= SquareBit(MakeSquare(file, row));
  return area;
}
constexpr Bitboard BishopHomeArea[2] = {
    HomeRanks(4, 6),
    HomeRanks(1, 3) | SquareBit(MakeSquare(3, 4)) | SquareBit(MakeSquare(4, 4)),
};

// Pin and x-ray tables [code of the pinning piece][code of the one piece
// between]. Each given row lists the blockers own P N K B R Q, then enemy
// P N K B R Q; a black piece's row is its white twin's with the blockers'
// colours swapped.
struct PinValue {
  int Mg, Eg;
};
using PinRow = PinValue[12];
using PinTable = std::array<std::array<int, 16>, 16>;

constexpr int BlockerKinds[6] = {Pawn, Knight, King, Bishop, Rook, Queen};

constexpr PinTable MakePinTable(bool endgame, int kindA, const PinRow& rowA, int kindB, const PinRow& rowB) {
  PinTable table{};
  auto fill = [&](int kind, const PinRow& row) {
    for (int colour = 0; colour < 2; ++colour)
      for (int i = 0; i < 12; ++i) {
        const int blockerColour = (i < 6 ? colour : colour ^ 1);
        const int blocker = PieceCode(blockerColour, BlockerKinds[i % 6]);
        table[PieceCode(colour, kind)][blocker] = endgame ? row[i].Eg : row[i].Mg;
      }
  };
  fill(kindA, rowA);
  fill(kindB, rowB);
  return table;
}

constexpr PinRow BishopPinsByBishop = {{63, 32},   {1421, 569}, {0, 0}, {0, 0},     {1275, 998},  {0, 0},
                                       {112, 46},  {125, 512},  {0, 0}, {465, 170}, {1565, 2605}, {3397, 8067}};
constexpr PinRow BishopPinsByQueen = {{0, 203}, {773, 449}, {0, 134}, {2254, 301}, {724, 405}, {0, 0},
                                      {66, 24}, {202, 480}, {0, 0},   {216, 336},  {470, 515}, {135, 274}};
constexpr PinRow RookPinsByRook = {{27, 0},   {1280, 134}, {126, 132}, {1188, 281}, {0, 0},     {0, 0},
                                   {137, 0},  {727, 274},  {0, 0},     {595, 323},  {838, 853}, {4817, 5196}};
constexpr PinRow RookPinsByQueen = {{395, 89}, {949, 753}, {0, 30}, {2536, 440}, {97, 52},   {0, 0},
                                    {88, 0},   {374, 279}, {0, 0},  {328, 323},  {513, 250}, {684, 623}};
constexpr PinRow DiagXraysByBishop = {{23, 12}, {71, 71}, {0, 0}, {0, 0},  {71, 0},  {71, 66},
                                      {71, 71}, {71, 71}, {0, 0}, {71, 0}, {71, 71}, {0, 0}};
constexpr PinRow DiagXraysByQueen = {{48, 40}, {0, 0},   {0, 0}, {71, 71}, {0, 0},   {0, 0},
                                     {71, 43}, {71, 71}, {0, 0}, {71, 0},  {71, 71}, {0, 0}};
constexpr PinRow OrthXraysByRook = {{71, 71}, {71, 0},  {0, 0}, {71, 0},  {71, 0},  {3, 0},
                                    {71, 14}, {71, 71}, {0, 0}, {71, 71}, {71, 71}, {0, 0}};
constexpr PinRow OrthXraysByQueen = {{0, 71}, {0, 0},   {0, 0}, {0, 0},   {71, 62}, {0, 0},
                                     {0, 0},  {71, 71}, {0, 0}, {71, 71}, {0, 0},   {0, 0}};

constexpr PinTable BishopPinMG = MakePinTable(false, Bishop, BishopPinsByBishop, Queen, BishopPinsByQueen);
constexpr PinTable BishopPinEG = MakePinTable(true, Bishop, BishopPinsByBishop, Queen, BishopPinsByQueen);
constexpr PinTable RookPinMG = MakePinTable(false, Rook, RookPinsByRook, Queen, RookPinsByQueen);
constexpr PinTable RookPinEG = MakePinTable(true, Rook, RookPinsByRook, Queen, RookPinsByQueen);
constexpr PinTable DiagXrayQueenMG = MakePinTable(false, Bishop, DiagXraysByBishop, Queen, DiagXraysByQueen);
constexpr PinTable DiagXrayQueenEG = MakePinTable(true, Bishop, DiagXraysByBishop, Queen, DiagXraysByQueen);
constexpr PinTable OrthXrayQueenMG = MakePinTable(false, Rook, OrthXraysByRook, Queen, OrthXraysByQueen);
constexpr PinTable OrthXrayQueenEG = MakePinTable(true, Rook, OrthXraysByRook, Queen, OrthXraysByQueen);

static_assert(BishopPinMG[PieceCode(Black, Bishop)][PieceCode(White, Rook)] == 1565, "black rows swap blockers");

// King-attack weights of one piece kind: the base weight, and the weight of
// the first piece of the side whose attacks overlap the squares already hit.
struct AttackWeights {
  int Base, Overlap;
};
constexpr AttackWeights KnightWeights = {454, 942};
constexpr AttackWeights BishopWeights = {400, 556};
constexpr AttackWeights RookWeights = {9, 2301};
constexpr AttackWeights QueenWeights = {0, 492};


// The zone a king is attacked through: its neighbourhood, shifted one rank
// toward the opponent's back rank when the king has walked into the
// opponent's half (ranks 5-7 for white, 4-2 for black).
Bitboard KingZone(int colour, int kingSquare) {
  const int rank = RankOf(kingSquare);
  if (colour == White && rank >= 5 && rank <= 7) return KingAttacks[kingSquare - 8];
  if (colour == Black && rank >= 2 && rank <= 4) return KingAttacks[kingSquare + 8];
  return KingAttacks[kingSquare];
}

// What every piece of one colour needs from the position.
struct SideView {
  int Us;
  int Them;
  Bitboard Own;
  Bitboard Enemy;
  Bitboard Occupied;
  Bitboard EnemyZone;   // Z(us): the zone of the enemy king
  Bitboard OwnZone;     // the zone of our own king
  Bitboard EnemyKingSet;  // the enemy king's square and its neighbours
  int EnemyKing;
  const PawnColourInfo* OwnPawns;
  const PawnColourInfo* EnemyPawns;
};

struct Terms {
  int Mg = 0;
  int Eg = 0;
};

void TallyKingAttack(EvalState& state, const SideView& side, Bitboard attacks, AttackWeights weights) {
  const int us = side.Us;
  if (attacks & side.EnemyZone) {
    ++state.Attackers[us];
    const Bitboard hit = attacks & side.EnemyKingSet;
    state.Adjacent[us] += PopCount(hit);
    if (!state.Overlap[us] && (hit & state.Hit[us])) {
      state.AttackWeight[us] += weights.Overlap;
      state.Overlap[us] = true;
    } else {
      state.AttackWeight[us] += weights.Base;
    }
    state.Hit[us] |= hit;
  }
  state.Defence[us] += PopCount(attacks & side.OwnZone);
}

// The multiplier for a minor on an outpost square, 0 when no enemy pawn is
// ruled out from ever attacking it.
int OutpostSupport(const EvalState& state, const SideView& side, int square) {
  const Position& pos = *state.Pos;
  const int file = FileOf(square);
  const int row = RowOf(RelativeSquare(side.Us, square));
  for (int adjacent = file - 1; adjacent <= file + 1; adjacent += 2) {
    if (adjacent < 0 || adjacent > 7) continue;
    // Enemy rows count from the enemy's side: 0 is our back rank's far end.
    if (side.EnemyPawns->Rearmost[adjacent] + row > 7) return 0;
  }
  const int ownPawn = PieceCode(side.Us, Pawn);
  const int behind = side.Us == White ? 8 : -8;
  int support = 2;
  if (file > 0 && pos.Board[square + behind - 1] == ownPawn) support = 3;
  if (file < 7 && pos.Board[square + behind + 1] == ownPawn) support += 1;
  if (support > 2) {
    const bool noKnight = pos.CountOf(PieceCode(side.Them, Knight)) == 0;
    const bool noBishopOnColour =
        (pos.PieceBB[PieceCode(side.Them, Bishop)] & ColourSquares[SquareColour(square)]) == 0;
    if (noKnight || noBishopOnColour) support += 2;
  }
  return support < 5 ? support : 5;
}

// Pins against the enemy king and x-rays against enemy queens along the
// lines a slider's rays cover.
void AddPins(const EvalState& state, const SideView& side, int square, Bitboard rays, const PinTable& pinMg,
             const PinTable& pinEg, const PinTable& xrayMg, const PinTable& xrayEg, Terms& terms) {
  const Position& pos = *state.Pos;
  const int code = pos.Board[square];
  auto single = [&](int target) -> int {
    if (!(rays & SquareBit(target))) return -1;
    const Bitboard between = Between[square][target] & side.Occupied;
    if (!between || (between & (between - 1))) return -1;
    return pos.Board[LowestSquare(between)];
  };
  const int kingBlocker = single(side.EnemyKing);
  if (kingBlocker >= 0) {
    terms.Mg += pinMg[code][kingBlocker];
    terms.Eg += pinEg[code][kingBlocker];
  }
  const PieceSquares& queens = pos.PieceList[PieceCode(side.Them, Queen)];
  for (int i = 0; i < queens.Count; ++i) {
    const int blocker = single(queens.Squares[i]);
    if (blocker < 0) continue;
    terms.Mg += xrayMg[code][blocker];
    terms.Eg += xrayEg[code][blocker];
  }
}

// A knight deep in the enemy camp whose every retreat is covered and unsafe.
bool KnightTrapped(const EvalState& state, const SideView& side, int square) {
  const int rel = RelativeSquare(side.Us, square);
  if (RowOf(rel) > 2) return false;
  Bitboard retreats = KnightAttacks[square] & ~side.Own;
  while (retreats) {
    const int to = PopLowestSquare(retreats);
    if (RowOf(RelativeSquare(side.Us, to)) <= RowOf(rel)) continue;
    if (!(state.Maps->All[side.Them] & SquareBit(to))) return false;
    if (state.Pos->IsSafeMove(*state.Maps, square, to)) return false;
  }
  return true;
}

// Step 3 of every piece: a piece hit by a cheaper enemy piece gives up most
// of its positional value. Applied to that piece's own total.
void KnightHit(Terms& t) {
  t.Mg = t.Mg - 360 < 0 ? t.Mg - 360 : 0;
  t.Eg -= 310;
  if (t.Eg > 0) t.Eg = t.Eg * 196 / 1024;
}
void BishopHit(Terms& t) {
  t.Mg = t.Mg - 324 < 0 ? t.Mg - 324 : 0;
  t.Eg -= 364;
  if (t.Eg > 0) t.Eg = t.Eg * 307 / 1024;
}
void RookHit(Terms& t) {
  t.Mg -= 427;
  if (t.Mg > 0) t.Mg = t.Mg * 204 / 1024;
  t.Eg -= 265;
  if (t.Eg > 0) t.Eg = t.Eg * 1291 / 1024;
}
void QueenHit(Terms& t) {
  t.Mg = t.Mg - 350 < 0 ? t.Mg - 350 : 0;
  t.Eg -= 143;
  if (t.Eg > 0) t.Eg = t.Eg * 498 / 1024;
}

void AddTerms(EvalState& state, int colour, const Terms& t) {
  state.MG[colour] += t.Mg;
  state.EG[colour] += t.Eg;
}

void EvaluateKnights(EvalState& state, const SideView& side) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int us = side.Us, them = side.Them;
  const PieceSquares& knights = pos.PieceList[PieceCode(us, Knight)];
  for (int i = 0; i < knights.Count; ++i) {
    const int square = knights.Squares[i];
    const int rel = RelativeSquare(us, square);
    const Bitboard attacks = KnightAttacks[square];
    const Bitboard reach = attacks & ~side.Own;
    Terms t{KnightPstMG[rel], KnightPstEG[rel]};
    TallyKingAttack(state, side, attacks, KnightWeights);

    const bool trapped = KnightTrapped(state, side, square);
    const int mobility = PopCount(reach), safe = PopCount(reach & ~maps.Pawns[them]);
    t.Mg += KnightMobMG[mobility] + KnightSafeMobMG[safe];
    t.Eg += KnightMobEG[mobility] + KnightSafeMobEG[safe];

    const int support = KnightOutpostMG[rel] > 0 ? OutpostSupport(state, side, square) : 0;
    t.Mg += KnightOutpostMG[rel] * support;
    t.Eg += KnightOutpostEG[rel] * support;
    if (trapped) {
      if (support >= 3) {
        t.Eg -= 23;
      } else if (maps.Pawns[us] & SquareBit(square)) {
        t.Mg -= 105;
        t.Eg -= 239;
      } else {
        t.Mg -= 437;
        t.Eg -= 366;
      }
    }
    if (maps.Pawns[them] & SquareBit(square)) KnightHit(t);
    AddTerms(state, us, t);
  }
  if (knights.Count >= 2 && pos.CountOf(PieceCode(us, Bishop)) == 0 && pos.CountOf(PieceCode(them, Knight)) < 2) {
    const int type = static_cast<int>(state.Pawns->CentreType) - 1;
    assert(type >= 0 && type < 6);
    state.MG[us] += KnightPairMG[type];
    state.EG[us] += KnightPairEG[type];
  }
}

// The fixed patterns that shut a bishop in: a bishop on a7, b8, g8 or h7
// (from its side's view) behind an enemy pawn on b6, c7, f7 or g6, and a
// bishop on its back rank blocked by its own pawn toward the centre.
void BishopPatterns(const Position& pos, const SideView& side, int square, Terms& t) {
  static constexpr int Corner[4] = {8, 1, 6, 15};       // a7 b8 g8 h7
  static constexpr int Blocker[4] = {17, 10, 13, 22};   // b6 c7 f7 g6
  const int rel = RelativeSquare(side.Us, square);
  for (int i = 0; i < 4; ++i)
    if (rel == Corner[i] && pos.Board[RelativeSquare(side.Us, Blocker[i])] == PieceCode(side.Them, Pawn)) {
      t.Mg -= 1228;
      t.Eg -= 626;
    }
  if (RowOf(rel) == 7) {
    const int front = FileOf(rel) < 4 ? rel - 7 : rel - 9;
    if (pos.Board[RelativeSquare(side.Us, front)] == PieceCode(side.Us, Pawn)) {
      t.Mg -= 72;
      t.Eg -= 122;
    }
  }
}

void EvaluateBishops(EvalState& state, const SideView& side) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int us = side.Us, them = side.Them;
  const PieceSquares& bishops = pos.PieceList[PieceCode(us, Bishop)];
  for (int i = 0; i < bishops.Count; ++i) {
    const int square = bishops.Squares[i];
    const int rel = RelativeSquare(us, square);
    const Bitboard attacks = BishopAttacksFrom(square, side.Occupied);
    const Bitboard reach = attacks & ~side.Own;
    Terms t{BishopPstMG[rel], BishopPstEG[rel]};
    TallyKingAttack(state, side, attacks, BishopWeights);
    BishopPatterns(pos, side, square, t);

    const int mobility = PopCount(reach), home = PopCount(reach & BishopHomeArea[us]);
    const int safe = PopCount(reach & ~maps.Pawns[them]);
    t.Mg += BishopMobMG[mobility] + 21 * home + BishopSafeMobMG[safe];
    t.Eg += BishopMobEG[mobility] + 141 * home + BishopSafeMobEG[safe];

    const int support = BishopOutpostMG[rel] > 0 ? OutpostSupport(state, side, square) : 0;
    t.Mg += BishopOutpostMG[rel] * support;
    t.Eg += BishopOutpostEG[rel] * support;

    AddPins(state, side, square, BishopRays[square], BishopPinMG, BishopPinEG, DiagXrayQueenMG, DiagXrayQueenEG, t);
    if (maps.Pawns[them] & SquareBit(square)) BishopHit(t);
    AddTerms(state, us, t);
  }

  const int own = bishops.Count;
  const PieceSquares& enemyBishops = pos.PieceList[PieceCode(them, Bishop)];
  const int enemy = enemyBishops.Count;
  const std::uint8_t* weight = side.OwnPawns->CentreWeight;
  if (own >= 2 && enemy < 2) {
    const int type = static_cast<int>(state.Pawns->CentreType) - 1;
    assert(type >= 0 && type < 6);
    state.MG[us] += BishopPairMG[type];
    state.EG[us] += BishopPairEG[type];
  } else if (own == 1) {
    const int colour = SquareColour(bishops.Squares[0]);
    const int d = weight[colour ^ 1] - weight[colour];
    state.MG[us] += d * 53 / 64;
    state.EG[us] += d * 95 / 64;
  } else if (enemy == 1) {
    const int colour = SquareColour(enemyBishops.Squares[0]);
    const int d = weight[colour ^ 1] - weight[colour];
    state.MG[us] += d * 33 / 64;
    const Bitboard enemyPieces = side.Enemy & ~pos.PieceBB[PieceCode(them, Pawn)];
    if (PopCount(enemyPieces) > 2) state.EG[us] += d * -145 / 64;
  }
  if (own > 0 && enemy == 0) {
    const int files = side.OwnPawns->Files | side.EnemyPawns->Files;
    if ((files & 0x07) && (files & 0xe0)) {
      state.MG[us] += 31;
      state.EG[us] += 48;
    }
  }
}

// The nearest occupied square ahead of a piece on its file, -1 when none.
int FirstAhead(int colour, int square, Bitboard occupied) {
  const Bitboard ahead = FrontFile[colour][square] & occupied;
  if (!ahead) return -1;
  return colour == White ? HighestSquare(ahead) : LowestSquare(ahead);
}

// A rook on a file without own pawns: open or half-open file bonus.
void RookOnFreeFile(const EvalState& state, const SideView& side, int square, Terms& t) {
  const Position& pos = *state.Pos;
  const int us = side.Us;
  const int ownRook = PieceCode(us, Rook);
  const int file = FileOf(square);
  if (!(side.EnemyPawns->Files & (1 << file))) {
    const int first = FirstAhead(us, square, side.Occupied);
    if (first >= 0 && pos.Board[first] == ownRook) {
      t.Mg += 312;
      t.Eg += 198;
    } else {
      t.Mg += 223;
      t.Eg += 131;
    }
    return;
  }
  Terms bonus{148, 117};
  const int step = us == White ? -8 : 8;
  for (int to = square + step; to >= 0 && to < 64; to += step) {
    const int piece = pos.Board[to];
    if (piece == 0) continue;
    if (piece == ownRook) {
      bonus.Mg += 119;
      bonus.Eg += 52;
      continue;
    }
    if (ColourOf(piece) == us || RowOf(RelativeSquare(us, to)) < 2) continue;
    if (state.Maps->Pawns[side.Them] & SquareBit(to)) {
      if (KindOf(piece) == Pawn) {
        t.Mg += bonus.Mg * 3 / 256;
      } else {
        t.Mg += bonus.Mg * 142 / 256;
        t.Eg += bonus.Eg * 266 / 256;
      }
      return;
    }
    break;
  }
  t.Mg += bonus.Mg;
  t.Eg += bonus.Eg;
}

// A rook shut in on its own wing by its pawns, king or queen.
bool RookTrapped(const Position& pos, const SideView& side, int square) {
  const int us = side.Us;
  const int rel = RelativeSquare(us, square);
  const int rights = (pos.Castling >> (2 * us)) & 3;  // 1 king side, 2 queen side
  const int row = RowOf(rel), file = FileOf(rel);
  if (row < 6) return false;
  int step, last, queenFile, kingRight;
  if (file <= 2) {
    if (rel == SquareA1 && (rights & 2)) return false;
    step = 1, last = 3, queenFile = 1, kingRight = 1;
  } else if (file >= 5) {
    if (rel == SquareH1 && (rights & 1)) return false;
    step = -1, last = 4, queenFile = 6, kingRight = 2;
  } else {
    return false;
  }
  for (int f = file + step; f != last + step; f += step) {
    const int piece = pos.Board[RelativeSquare(us, MakeSquare(f, row))];
    if (piece == PieceCode(us, Pawn)) return true;
    if (piece == PieceCode(us, King) && row == 7 && !(rights & kingRight)) return true;
    if (piece == PieceCode(us, Queen) && f == queenFile) return true;
  }
  return false;
}

void RookOnPawnFile(const EvalState& state, const SideView& side, int square, Terms& t) {
  const Position& pos = *state.Pos;
  const int us = side.Us, them = side.Them;
  const int file = FileOf(square);
  if (RookTrapped(pos, side, square)) {
    const int pawnFiles = side.OwnPawns->Files | side.EnemyPawns->Files;
    const int empty = 8 - PopCount(static_cast<Bitboard>(pawnFiles));
    int trap = empty == 0 ? 5 : empty <= 2 ? 6 : 7;
    if (side.EnemyPawns->Files == 0xff) trap += 1;
    if (pos.CountOf(PieceCode(them, Queen)) > 0) {
      t.Mg -= 4 * (trap + 27);
      t.Eg -= 45 * (trap + 21);
    } else {
      t.Mg -= 4 * trap;
      t.Eg -= 45 * trap;
    }
  }
  if (FrontFile[us][square] & state.Pawns->Colour[us].PassedPawns)
    t.Eg += RookBehindOwnPasser[side.OwnPawns->MostAdvanced[file]];
  if (FrontFile[them][square] & state.Pawns->Colour[them].PassedPawns)
    t.Eg += RookBehindEnemyPasser[side.EnemyPawns->MostAdvanced[file]];
}

// A heavy piece on the seventh with the enemy king behind it or enemy pawns
// beside it.
bool OnSeventh(const Position& pos, const SideView& side, int square) {
  if (RowOf(RelativeSquare(side.Us, square)) != 1) return false;
  if (RowOf(RelativeSquare(side.Us, side.EnemyKing)) == 0) return true;
  return (pos.PieceBB[PieceCode(side.Them, Pawn)] & RowBits(RowOf(square))) != 0;
}

void EvaluateRooks(EvalState& state, const SideView& side) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int us = side.Us, them = side.Them;
  const PieceSquares& rooks = pos.PieceList[PieceCode(us, Rook)];
  for (int i = 0; i < rooks.Count; ++i) {
    const int square = rooks.Squares[i];
    const int rel = RelativeSquare(us, square);
    const Bitboard attacks = RookAttacksFrom(square, side.Occupied);
    const Bitboard reach = attacks & ~side.Own;
    Terms t{RookPstMG[rel], RookPstEG[rel]};
    TallyKingAttack(state, side, attacks, RookWeights);

    if (side.OwnPawns->Files & (1 << FileOf(square)))
      RookOnPawnFile(state, side, square, t);
    else
      RookOnFreeFile(state, side, square, t);

    const Bitboard safe = reach & ~maps.UpToMinors[them];
    t.Mg += RookMobMG[PopCount(reach)] + RookSafeMobMG[PopCount(safe)];
    t.Eg += RookMobEG[PopCount(reach)] + RookSafeMobEG[PopCount(safe)];
    if (RowOf(rel) != 7) {
      const int along = PopCount(safe & RowBits(RowOf(square)));
      t.Mg += RookRankMobMG[along];
      t.Eg += RookRankMobEG[along];
    }
    if (OnSeventh(pos, side, square)) {
      t.Mg += 2;
      t.Eg += 100;
    }
    AddPins(state, side, square, RookRays[square], RookPinMG, RookPinEG, OrthXrayQueenMG, OrthXrayQueenEG, t);
    if (maps.UpToMinors[them] & SquareBit(square)) RookHit(t);
    AddTerms(state, us, t);
  }
  if (rooks.Count == 2) {
    const int a = rooks.Squares[0], b = rooks.Squares[1];
    const bool connected = (RookRays[a] & SquareBit(b)) && !(Between[a][b] & side.Occupied);
    if (!connected) state.EG[us] -= 1;
  }
}

void EvaluateQueens(EvalState& state, const SideView& side) {
  const Position& pos = *state.Pos;
  const AttackMaps& maps = *state.Maps;
  const int us = side.Us, them = side.Them;
  const int opponentPhase = us == White ? state.BlackPhase : state.WhitePhase;
  assert(opponentPhase >= 0 && opponentPhase <= 8);
  const Bitboard enemyHalf = us == White ? 0x00000000ffffffffULL : 0xffffffff00000000ULL;
  const PieceSquares& queens = pos.PieceList[PieceCode(us, Queen)];
  for (int i = 0; i < queens.Count; ++i) {
    const int square = queens.Squares[i];
    const int rel = RelativeSquare(us, square);
    const int file = FileOf(square);
    const Bitboard attacks = QueenAttacksFrom(square, side.Occupied);
    const Bitboard reach = attacks & ~side.Own;
    Terms t{QueenPstMG[rel], QueenPstEG[rel]};
    TallyKingAttack(state, side, attacks, QueenWeights);

    if (OnSeventh(pos, side, square)) {
      t.Mg += QueenSeventh[opponentPhase];
      t.Eg += QueenSeventh[opponentPhase];
    }
    if (!(side.OwnPawns->Files & (1 << file))) {
      int rooks = 0;
      const int step = us == White ? -8 : 8;
      for (int to = square + step; to >= 0 && to < 64 && rooks < 3; to += step) {
        const int piece = pos.Board[to];
        if (piece == 0) continue;
        if (piece != PieceCode(us, Rook)) break;
        ++rooks;
      }
      if (side.EnemyPawns->Files & (1 << file)) {
        t.Mg += QueenHalfOpenMG[rooks];
        t.Eg += QueenHalfOpenEG[rooks];
      } else {
        t.Mg += QueenOpenFileMG[rooks];
        t.Eg += QueenOpenFileEG[rooks];
      }
    }

    const int mobility = PopCount(reach), far = PopCount(reach & enemyHalf);
    t.Mg += QueenMobMG[mobility] + QueenFarMobMG[far];
    t.Eg += QueenMobEG[mobility] + QueenFarMobEG[far];
    const int safe = PopCount(reach & ~FileBits(file) & ~maps.UpToRooks[them]);
    if (safe < 8) {
      t.Mg += QueenSafeMG[RowOf(rel)][safe];
      t.Eg += QueenSafeEG[RowOf(rel)][safe];
    }

    AddPins(state, side, square, BishopRays[square], BishopPinMG, BishopPinEG, DiagXrayQueenMG, DiagXrayQueenEG, t);
    AddPins(state, side, square, RookRays[square], RookPinMG, RookPinEG, OrthXrayQueenMG, OrthXrayQueenEG, t);
    if (maps.UpToRooks[them] & SquareBit(square)) QueenHit(t);
    AddTerms(state, us, t);
  }
}

SideView MakeSideView(const EvalState& state, int us) {
  const Position& pos = *state.Pos;
  SideView side{};
  side.Us = us;
  side.Them = us ^ 1;
  side.Own = pos.ColourBB[us];
  side.Enemy = pos.ColourBB[us ^ 1];
  side.Occupied = pos.Occupied;
  side.EnemyKing = pos.KingSquare(us ^ 1);
  side.EnemyZone = KingZone(us ^ 1, side.EnemyKing);
  side.OwnZone = KingZone(us, pos.KingSquare(us));
  side.EnemyKingSet = KingAttacks[side.EnemyKing];
  side.OwnPawns = &state.Pawns->Colour[us];
  side.EnemyPawns = &state.Pawns->Colour[us ^ 1];
  return side;
}

}  // namespace

void EvaluatePieces(EvalState& state) {
  for (int colour = White; colour <= Black; ++colour) {
    state.Attackers[colour] = 0;
    state.AttackWeight[colour] = 0;
    state.Adjacent[colour] = 0;
    state.Defence[colour] = 0;
    state.Hit[colour] = 0;
    state.Overlap[colour] = false;
  }
  for (int colour = White; colour <= Black; ++colour) {
    const SideView side = MakeSideView(state, colour);
    EvaluateKnights(state, side);
    EvaluateBishops(state, side);
    EvaluateRooks(state, side);
    EvaluateQueens(state, side);
  }
}
