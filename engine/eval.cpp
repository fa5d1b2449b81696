// The static evaluation: it starts from the material table, adds the cached
// pawn structure, the pawn moves and passed pawns scored here, the piece
// terms and the king terms, tapers each colour by its opponent's phase and
// finishes with the endgame recognisers' draws and scale classes.
#include "engine/eval.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "engine/attacks.h"
#include "engine/endgame.h"
#include "engine/evalstate.h"
#include "engine/pawns.h"
#include "engine/position.h"
#include "engine/settings.h"

namespace {

// Tables by relative square (the square itself for White, rank mirrored for
// Black) given for files a-d; files e-h mirror them.
struct SquareTable {
  int Values[64];
  constexpr int operator[](int square) const { return Values[square]; }
};

constexpr SquareTable MirrorFiles(const int (&half)[8][4]) {
  SquareTable table{};
  for (int row = 0; row < 8; ++row)
    for (int file = 0; file < 4; ++file) {
      table.Values[row * 8 + file] = half[row][file];
      table.Values[row * 8 + 7 - file] = half[row][file];
    }
  return table;
}

// By the phase of the side to move's opponent.
constexpr int TempoBonus[9] = {19, 21, 33, 46, 56, 62, 59, 68, 75};

// Damping of a pawn-structure lead on few files; row 0 when the side with
// the lead has more pawns. Caps by file span 0..4.
constexpr int LeadDampMG[2] = {0, 0};
constexpr int LeadDampEG[2] = {173, 46};
constexpr int LeadCapMG[2][5] = {{320, 288, 0, 0, 0}, {1080, 974, 808, 726, 367}};
constexpr int LeadCapEG[2][5] = {{320, 288, 256, 0, 0}, {1080, 984, 888, 655, 636}};

// By the number of own pawns attacked and not defended by a pawn; 6 or more
// share the last entry.
constexpr int AttackedPawns[7] = {111, 8, -116, -247, -388, -307, -160};

// Pawn on its start rank blocked by a piece, by file a..h.
constexpr int BlockedStartPawnMG[8] = {0, -25, -62, -10, -15, -28, 0, 0};
constexpr int BlockedStartPawnEG[8] = {0, 0, -31, -27, -16, -11, 0, 0};

// A free pawn move and its worth, and the two corrections below.
constexpr int FreePushMG = 34;
constexpr int FreePushEG = 74;

// A backward pawn whose advance loses material, by relative square (rows
// 4..6 = ranks 4..2).
constexpr int PawnPushMGHalf[8][4] = {
    {}, {}, {}, {}, {-22, -84, -117, -141}, {0, -75, -142, -114}, {0, -97, -108, -95}, {},
};
constexpr int PawnPushEGHalf[8][4] = {
    {}, {}, {}, {}, {-110, -93, -209, -279}, {-151, -139, -171, -193}, {-81, -29, -105, -141}, {},
};
// A backward pawn that cannot move at all, by relative square (rows 3..6).
constexpr int BlockedSetMGHalf[8][4] = {
    {}, {}, {}, {-156, 0, 0, -195}, {-40, -103, -61, -54}, {-27, -53, -34, -37}, {0, -55, -78, -81}, {},
};
constexpr int BlockedSetEGHalf[8][4] = {
    {}, {}, {}, {-256, -21, -273, -189}, {-54, -132, -166, -163}, {-36, -17, -110, -128}, {0, -52, -91, -62}, {},
};
constexpr SquareTable PawnPushMG = MirrorFiles(PawnPushMGHalf);
constexpr SquareTable PawnPushEG = MirrorFiles(PawnPushEGHalf);
constexpr SquareTable BlockedSetMG = MirrorFiles(BlockedSetMGHalf);
constexpr SquareTable BlockedSetEG = MirrorFiles(BlockedSetEGHalf);

// Passed pawns: [king distance to the square in front, or path flags][r],
// r the passer's relative row (1 = seventh rank).
constexpr int PasserOwnKing[8][8] = {
    {0, -1081, -629, -646, -310, 122, 317, 0}, {0, -188, -308, -176, -182, -108, 273, 0},
    {0, 370, 271, 128, 10, -58, 90, 0},        {0, 927, 553, 287, 100, -110, -82, 0},
    {0, 1411, 875, 488, 218, -74, -144, 17},   {0, 1672, 1117, 671, 298, -101, -67, 59},
    {0, 1877, 1138, 710, 401, -251, -126, 59}, {0, 1907, 1197, 761, 379, 146, -231, 59},
};
constexpr int PasserEnemyKing[8][8] = {
    {0, -34, -214, 71, 167, 264, -209, -78},  {0, -150, -11, 48, 157, 226, 219, -89},
    {0, 100, 55, 266, 212, 161, 117, -88},    {0, 631, 356, 109, 10, -73, 102, -88},
    {0, 489, 83, -78, -169, -75, -79, -74},   {0, 235, -19, -111, -171, -188, -37, 0},
    {0, 142, -39, -77, -168, -226, -43, 0},   {0, 86, 177, -39, -141, -219, -226, 0},
};
// Flags: 4 every square ahead safe for us, 2 no own piece ahead, 1 kept
// until an enemy piece blocks.
constexpr int PasserPath[8][8] = {
    {0, 0, 5, 26, 13, 0, 0, 0},          {0, 522, 155, 227, 180, 170, 111, 16},
    {0, 456, 156, 28, 0, 0, 0, 0},       {0, 286, 406, 203, 91, 17, 37, 16},
    {0, 805, 633, 569, 139, 90, 39, 0},  {0, 1067, 1322, 855, 517, 184, 52, 16},
    {0, 1261, 789, 597, 139, 90, 39, 0}, {0, 6541, 2150, 1202, 629, 396, 310, 16},
};
constexpr int SupportedPasserBonus[8] = {0, 0, 140, 238, 386, 585, 390, 0};
// By the number of pawns inside the own supported passers' squares and
// outside the opponent's.
constexpr int SupportedPasserCount[9] = {0, -330, -361, -760, -319, -1816, -1816, -1816, -1816};
// By the number of unstoppable files (eight share the last entry).
constexpr int UnstoppableMG[8] = {0, 1000, 1200, 1400, 1600, 1700, 1800, 1800};
constexpr int UnstoppableEG[8] = {0, 453, 495, 861, 1448, 1600, 1700, 1700};
// By the winner's distance to promotion.
constexpr int RaceWinMG[8] = {0, 3500, 3400, 3300, 3200, 3100, 3100, 0};
constexpr int RaceWinEG[8] = {0, 3509, 2996, 1995, 1781, 1828, 1861, 0};
// Race with the opponent one tempo behind that we cannot prove won.
constexpr int RaceEvenMG = 154;
constexpr int RaceEvenEG = 224;
// Two connected passers against a lone rook.
constexpr int PairAgainstRook = 418;

// King danger weight by the attacker's opponent phase (128 = full).
constexpr int KingDangerPhase[9] = {0, 0, 0, 57, 65, 111, 111, 126, 128};

// Scale classes: the difference keeps 1 / divisor of itself, but loses at
// most cap.
constexpr int ScaleDivisor[8] = {1, 2, 3, 4, 6, 9, 12, 16};
constexpr int ScaleCap[8] = {0, 1500, 2400, 3100, 3600, 4000, 4300, 4500};

// Mop-up: the lone king's square, worth more at the edge (files a-d of
// ranks 8 to 5; the other quarters mirror them).
constexpr int MopUpEdgeQuarter[4][4] = {
    {1521, 1521, 1521, 1521}, {1521, 1368, 1221, 1100}, {1521, 1221, 969, 848}, {1521, 1100, 848, 669}};
constexpr SquareTable MopUpEdge = [] {
  SquareTable table{};
  for (int row = 0; row < 8; ++row)
    for (int file = 0; file < 8; ++file)
      table.Values[row * 8 + file] = MopUpEdgeQuarter[row < 4 ? row : 7 - row][file < 4 ? file : 7 - file];
  return table;
}();
// Bishop and knight: the lone king's square, worth most in the corners of
// the bishop's colour (dark: a1 and h8). Rank 8 first.
constexpr SquareTable KbnkCornerDark = {{
    443,  551,  750,  921,  1110, 1191, 1440, 1599,  //
    551,  525,  672,  825,  1000, 1180, 1349, 1440,  //
    750,  672,  600,  750,  900,  1075, 1180, 1191,  //
    921,  825,  750,  598,  749,  900,  1000, 1110,  //
    1110, 1000, 900,  749,  598,  750,  825,  921,   //
    1191, 1180, 1075, 900,  750,  600,  672,  750,   //
    1440, 1349, 1180, 1000, 825,  672,  525,  551,   //
    1599, 1440, 1191, 1110, 921,  750,  551,  443,   //
}};
constexpr SquareTable KbnkCornerLight = [] {
  SquareTable table{};
  for (int square = 0; square < 64; ++square) table.Values[square] = KbnkCornerDark[square ^ 7];
  return table;
}();

// Our choice, made for the race of step "lead = -1": the squares from
// which a king is checked by a queen just born on the promotion square,
// from a distance so that it cannot take her: the queen's lines from the
// square minus its neighbours. Queening with check wins the tempo back.
constexpr auto PromotionReach = [] {
  struct Masks {
    Bitboard Values[64];
  } masks{};
  for (int from = 0; from < 64; ++from)
    for (int to = 0; to < 64; ++to) {
      const int df = FileOf(from) > FileOf(to) ? FileOf(from) - FileOf(to) : FileOf(to) - FileOf(from);
      const int dr = RowOf(from) > RowOf(to) ? RowOf(from) - RowOf(to) : RowOf(to) - RowOf(from);
      const bool onLine = df == 0 || dr == 0 || df == dr;
      if (onLine && (df >= 2 || dr >= 2)) masks.Values[from] |= SquareBit(to);
    }
  return masks;
}();

constexpr int ForwardStep(int colour) { return colour == White ? -8 : 8; }

// Our choice, made for two connected passers against a lone rook: the
// squares from which the defending king still stops the pair, the union of
// the two pawns' squares (the rule of the square). A rook on either pawn's
// file wins the defence a tempo, so the squares then count from one rank
// further back (the pair stands on its fourth rank or beyond, so that square
// is on the board).
Bitboard PairStoppingZone(int colour, int first, int second, bool rookOnFile) {
  auto from = [&](int square) { return rookOnFile ? square - ForwardStep(colour) : square; };
  return PawnSquare[colour][from(first)] | PawnSquare[colour][from(second)];
}

int Pawns(const Position& pos, int colour) { return pos.CountOf(PieceCode(colour, Pawn)); }

// Everything the passed-pawn terms gather per colour.
struct PasserState {
  int UnstoppableFiles[2] = {0, 0};
  int Fastest[2] = {8, 8};
  int Distance[2][8] = {};
  int Total[2] = {0, 0};
  Bitboard SupportMask[2] = {~Bitboard{0}, ~Bitboard{0}};
};

// The race tests of a passer in a pawn ending, all in the view of the
// passer's side c as White (squares xor 56 for Black). Gives the distance
// to promotion that the race counts, or -1 when the pawn can be stopped.
// ruleOfSquare tells whether the king-outside-the-square test decided.
struct RaceResult {
  int Distance;
  bool ByRuleOfSquare;
};

RaceResult UnstoppableDistance(const Position& pos, int colour, int pawnSquare) {
  const int p = RelativeSquare(colour, pawnSquare);
  const int k = RelativeSquare(colour, pos.KingSquare(colour));
  const int e = RelativeSquare(colour, pos.KingSquare(colour ^ 1));
  const int wtm = pos.Side == colour, btm = 1 - wtm;
  const int pr = RowOf(p), kr = RowOf(k), br = RowOf(e);
  const int fp = FileOf(p), fk = FileOf(k), fe = FileOf(e);
  auto d = [](int x, int y) { return KingDistance[x][y]; };

  if (!RuleOfSquare[btm ? p + 8 : p][e] && !(FrontFile[White][p] & SquareBit(k))) return {pr, true};
  if (pr < kr) return {-1, false};

  if (Pawns(pos, colour ^ 1) == 0) {
    if (fp == 0 || fp == 7) {
      // Rook pawn: the king must shoulder the defender away from the corner.
      const int corner = fp == 0 ? SquareA8 : SquareH8;
      const int innerFile = fp == 0 ? 1 : 6, away = fp == 0 ? 2 : -2;
      const bool shoulder =
          (fk == innerFile && d(k, corner) + btm < d(e, corner)) ||
          (fk == fp && btm && d(e, k + away) > 1 && d(k, corner) + 2 < d(e, corner));
      const int next = wtm ? p - 8 : p;
      if (shoulder && d(k, next) <= d(e, next) && br <= RowOf(next) + 1) return {pr, false};
      return {-1, false};
    }
    const int a = d(k, p), b = d(e, p);
    if (b < a + btm && a != 1) {
      const int t = btm ? 0 : (fk < fp ? 1 : -1);
      if (!(a - wtm == b && fk + fe + t == 2 * fp)) return {-1, false};
    }
    const int dw = std::abs(fp - fk), db = std::abs(fp - fe) + wtm;
    bool unstoppable;
    if (kr < pr - 1) {
      unstoppable = dw < 2 || dw <= db;
    } else if (kr == pr - 1) {
      unstoppable = br >= pr - 1 || (kr < 3 && (dw < 2 || dw <= db)) || pos.HasOpposition(colour) ||
                    std::abs(fe - fp) > 1;
    } else {
      unstoppable = kr == pr && br >= pr && (dw <= 1 || db >= dw);
    }
    return {unstoppable ? pr : -1, false};
  }

  // The defender has pawns too: only a king already escorting the pawn.
  const bool escortFile = (fk == fp && fp >= 1 && fp <= 6) || std::abs(fk - fp) == 1;
  const int escorted = pr + (fk == fp ? 1 : 0) - (pr == 6 ? 1 : 0);
  if (escortFile && kr == 1) {
    const int fifth = MakeSquare(fp, 3);
    if (pr < 3 || d(p, fifth) + btm < d(e, fifth)) return {escorted, false};
  }
  if (escortFile && kr == 0) {
    const int sixth = MakeSquare(fp, 2);
    if (pr < 2 || d(p, sixth) + btm < d(e, sixth)) return {escorted, false};
  }
  const bool shielded = (fk == fp + 1 && fe > fp + 2) || (fk == fp - 1 && fe < fp - 2);
  if (shielded && kr - wtm <= br && (kr < pr || (kr == pr && pr < 3))) return {pr, false};
  return {-1, false};
}

// Flags of the path ahead of a passer: bit 4 cleared by a square we do not
// hold alone, bit 2 by an own piece, all by an enemy piece.
int PathFlags(const Position& pos, const AttackMaps& maps, int colour, int front) {
  int flags = 7;
  const Bitboard own = pos.ColourBB[colour], enemy = pos.ColourBB[colour ^ 1];
  for (int square = front; square >= 0 && square < 64; square += ForwardStep(colour)) {
    const Bitboard bit = SquareBit(square);
    if (enemy & bit) return 0;
    if (own & bit) flags &= 5;
    if (!((maps.All[colour] & bit) && !(maps.All[colour ^ 1] & bit))) flags &= 3;
    if (!flags) break;
  }
  return flags;
}

class Evaluation {
public:
  Evaluation(const Position& pos, AttackMaps& maps, const PawnInfo& pawns, EvalState& state)
      : Pos(pos), Maps(maps), Info(pawns), State(state) {}

  void DampPawnLead();
  void PawnMoves();
  void PassedPawns();
  void AddPassers();
  void SupportedPasserSquares();
  void Races();

private:
  int Phase(int colour) const { return colour == White ? State.BlackPhase : State.WhitePhase; }
  void PawnMovesOf(int colour);
  void PassersOf(int colour);
  void PairAgainstLoneRook(int colour, int square, int& extra);

  const Position& Pos;
  AttackMaps& Maps;
  const PawnInfo& Info;
  EvalState& State;
  PasserState Passers;
};

void Evaluation::DampPawnLead() {
  for (int c = White; c <= Black; ++c) {
    const int o = c ^ 1;
    const int span = Info.Colour[c].FileSpan;
    if (span >= 5) continue;
    const int pieces = (Pos.PieceCount[c] - Pawns(Pos, c)) - (Pos.PieceCount[o] - Pawns(Pos, o));
    if (pieces > 0) continue;
    const int row = Pawns(Pos, c) > Pawns(Pos, o) ? 0 : 1;
    const int leadMG = State.MG[c] - State.MG[o];
    if (leadMG > 0) State.MG[c] -= std::min(leadMG * LeadDampMG[row] / 1024, LeadCapMG[row][span]);
    const int leadEG = State.EG[c] - State.EG[o];
    if (leadEG > 0) State.EG[c] -= std::min(leadEG * LeadDampEG[row] / 1024, LeadCapEG[row][span]);
  }
}

void Evaluation::PawnMoves() {
  for (int c = White; c <= Black; ++c) {
    const Bitboard own = Pos.PieceBB[PieceCode(c, Pawn)];
    const int hanging = PopCount(own & Maps.All[c ^ 1] & ~Maps.Pawns[c]);
    State.EG[c] += AttackedPawns[std::min(hanging, 6)];
    PawnMovesOf(c);
  }
}

void Evaluation::PawnMovesOf(int c) {
  const Bitboard own = Pos.PieceBB[PieceCode(c, Pawn)];
  const int king = Pos.KingSquare(c);
  const PieceSquares& list = Pos.PieceList[PieceCode(c, Pawn)];
  auto ownPawnBeside = [&](int square) {
    Bitboard beside = 0;
    if (FileOf(square) > 0) beside |= SquareBit(square - 1);
    if (FileOf(square) < 7) beside |= SquareBit(square + 1);
    return (beside & own) != 0;
  };
  for (int i = 0; i < list.Count; ++i) {
    const int square = list.Squares[i];
    const int rel = RelativeSquare(c, square);
    const bool backward = Info.BackwardMarks & SquareBit(square);
    if (!(Pos.Occupied & SquareBit(square + ForwardStep(c)))) {
      int mg = FreePushMG, eg = FreePushEG;
      // A backward pawn on its own half: does its advance lose it?
      if (backward && RowOf(rel) >= 4) {
        for (int at = square;;) {
          if (ownPawnBeside(at)) break;
          at += ForwardStep(c);
          if (Pos.Occupied & SquareBit(at)) break;
          if (Pos.SEEMove(square, at, -200000) < 0) {
            mg = PawnPushMG[rel] + FreePushMG;
            eg = PawnPushEG[rel] + FreePushEG;
            break;
          }
          if (RowOf(RelativeSquare(c, at)) < 4) break;
        }
      }
      State.MG[c] += mg;
      State.EG[c] += eg;
      continue;
    }
    if (RowOf(rel) == 6 && KingDistance[square][king] > 1) {
      State.MG[c] += BlockedStartPawnMG[FileOf(square)];
      State.EG[c] += BlockedStartPawnEG[FileOf(square)];
    }
    if (backward) {
      State.MG[c] += BlockedSetMG[rel];
      State.EG[c] += BlockedSetEG[rel];
    }
  }
}

void Evaluation::PassedPawns() {
  PassersOf(White);
  PassersOf(Black);
}

void Evaluation::PairAgainstLoneRook(int c, int square, int& extra) {
  const int o = c ^ 1;
  const int file = FileOf(square), r = RowOf(RelativeSquare(c, square));
  if (file == 7 || r >= 4) return;
  const Bitboard neighbours = Info.Colour[c].PassedPawns & FileBits(file + 1);
  if (!neighbours) return;
  const int second = LowestSquare(neighbours);
  const int r2 = RowOf(RelativeSquare(c, second));
  if (r + r2 >= 5) return;
  const Bitboard rook = Pos.PieceBB[PieceCode(o, Rook)];
  if ((FrontFile[c][square] | FrontFile[c][second]) & Pos.Occupied & ~rook) return;
  const bool rookOnFile = rook & (FileBits(file) | FileBits(file + 1));
  const Bitboard zone = PairStoppingZone(c, square, second, rookOnFile);
  const int enemyKing = Pos.KingSquare(o);
  Bitboard reach = SquareBit(enemyKing);
  if (Pos.Side == o) reach |= KingAttacks[enemyKing] & ~Maps.All[c] & ~Pos.ColourBB[o];
  if (reach & zone) return;
  // Our choice: the pair queens when its rear pawn has come through.
  const int distance = std::max(r, r2);
  extra += PairAgainstRook;
  Passers.UnstoppableFiles[c] |= 1 << file;
  Passers.Distance[c][file] = distance;
  Passers.Fastest[c] = std::min(Passers.Fastest[c], distance);
}

void Evaluation::PassersOf(int c) {
  const int o = c ^ 1;
  const Bitboard ownPawns = Pos.PieceBB[PieceCode(c, Pawn)];
  const Bitboard enemyPawns = Pos.PieceBB[PieceCode(o, Pawn)];
  const bool pawnEnding = Pos.PieceCount[o] == Pawns(Pos, o) + 1;
  const bool loneRook = Pos.PieceCount[o] == Pawns(Pos, o) + 2 && Pos.CountOf(PieceCode(o, Rook)) == 1;
  const bool onlyRook = Pos.PieceCount[c] == Pawns(Pos, c) + 2 && Pos.CountOf(PieceCode(c, Rook)) == 1;
  const bool enemyMajor = Pos.CountOf(PieceCode(o, Rook)) + Pos.CountOf(PieceCode(o, Queen)) > 0;
  int best = 0, sum = 0;
  for (Bitboard passed = Info.Colour[c].PassedPawns; passed;) {
    const int square = PopLowestSquare(passed);
    const int file = FileOf(square), r = RowOf(RelativeSquare(c, square));
    const int front = square + ForwardStep(c);
    int extra = 0;
    if (pawnEnding) {
      const RaceResult race = UnstoppableDistance(Pos, c, square);
      if (!race.ByRuleOfSquare) {
        if (Info.Colour[c].SupportedPassedFiles & (1 << file)) {
          extra = SupportedPasserBonus[r];
          Passers.SupportMask[c] &= PawnSquare[c][square];
        }
      }
      if (race.Distance >= 0) {
        const int distance = std::clamp(race.Distance, 0, 7);
        Passers.UnstoppableFiles[c] |= 1 << file;
        Passers.Distance[c][file] = distance;
        Passers.Fastest[c] = std::min(Passers.Fastest[c], distance);
      }
    }
    if (loneRook) PairAgainstLoneRook(c, square, extra);

    const int flags = PathFlags(Pos, Maps, c, front);
    int score = extra + PasserOwnKing[KingDistance[Pos.KingSquare(c)][front]][r] +
                PasserEnemyKing[KingDistance[Pos.KingSquare(o)][front]][r] + PasserPath[flags][r];
    if (!(flags & 4) && r == 1 && Pos.Board[front] == PieceCode(c, Rook) && onlyRook && enemyMajor) score -= 2000;
    const Bitboard behind = FrontFile[o][square];
    if (behind & ownPawns) {
      score = score * 131 / 128;
      State.MG[c] -= 45;
      State.EG[c] -= 17;
    }
    if (behind & enemyPawns) {
      score = score * 133 / 128;
      State.MG[c] -= 210;
      State.EG[c] -= 122;
    }
    sum += std::min(score, best) / 4;
    best = std::max(score, best);
  }
  Passers.Total[c] = sum + best;
}

void Evaluation::AddPassers() {
  for (int c = White; c <= Black; ++c) {
    const Bitboard passed = Info.Colour[c].PassedPawns;
    if (!passed) continue;
    const int o = c ^ 1;
    const int n = PopCount(passed);
    int cap;
    if (Passers.UnstoppableFiles[o]) cap = 651;
    else if (Pos.CountOf(PieceCode(o, Knight))) cap = (55320 * n + 207450) / 100;
    else if (Pos.CountOf(PieceCode(o, Bishop))) cap = (48940 * n + 183525) / 100;
    else if (Pos.CountOf(PieceCode(o, Rook))) cap = (87520 * n + 306320) / 100;
    else cap = (189780 * n + 521895) / 100;
    int total = Info.Colour[c].PassedEg + Passers.Total[c];
    if (total > cap) total = cap + (total - cap) / 8;
    State.EG[c] += total;
    State.MG[c] += Info.Colour[c].PassedMg;
  }
}

void Evaluation::SupportedPasserSquares() {
  for (int c = White; c <= Black; ++c) {
    const Bitboard own = Pos.PieceBB[PieceCode(c, Pawn)];
    const int count = PopCount(own & Passers.SupportMask[c] & ~Passers.SupportMask[c ^ 1]);
    State.EG[c] += SupportedPasserCount[std::min(count, 8)];
  }
}

void Evaluation::Races() {
  for (int c = White; c <= Black; ++c) {
    const int files = Passers.UnstoppableFiles[c];
    if (!files) continue;
    const int o = c ^ 1;
    const int k = std::min(PopCount(static_cast<Bitboard>(files)), 7);
    const int fastest = Passers.Fastest[c];
    const int lead = fastest - (Pos.Side == c ? 1 : 0) - Passers.Fastest[o];
    bool wins = lead < -1;
    if (lead == -1) {
      for (int file = 0; file < 8; ++file) {
        if (!(files & (1 << file)) || Passers.Distance[c][file] != fastest) continue;
        const Bitboard passer = Info.Colour[c].PassedPawns & FileBits(file);
        const int promotion = RelativeSquare(c, file);
        const int king = Pos.KingSquare(o);
        wins = (PromotionReach.Values[promotion] & SquareBit(king)) &&
               !(Between[promotion][king] & Pos.Occupied & ~passer);
        break;
      }
      if (!wins) {
        State.MG[c] += UnstoppableMG[k] + RaceEvenMG;
        State.EG[c] += UnstoppableEG[k] + RaceEvenEG;
        continue;
      }
    }
    State.MG[c] += UnstoppableMG[k] + (wins ? RaceWinMG[fastest] : 0);
    State.EG[c] += UnstoppableEG[k] + (wins ? RaceWinEG[fastest] : 0);
  }
}

}  // namespace

int FinishScore(int white, int black, int scaleClass, int side) {
  int d = white - black;
  if (scaleClass > 0 && scaleClass < 8) {
    const int reduction =
        std::min(ScaleCap[scaleClass], std::abs((ScaleDivisor[scaleClass] - 1) * d / ScaleDivisor[scaleClass]));
    d = d > 0 ? d - reduction : d + reduction;
  }
  if (d > 0) d = d + 16 - d % 16;
  else if (d < 0) d = d - 16 + (-d) % 16;
  else d = side == White ? 8 : -8;
  return side == White ? d : -d;
}

int EvaluateMopUp(const Position& pos, int m) {
  if (m == 0) return 0;
  const int strong = m > 0 ? White : Black, weak = strong ^ 1;
  const int king = pos.KingSquare(strong), lone = pos.KingSquare(weak);
  const int distance = KingDistance[king][lone];
  if (pos.PieceCount[weak] == 1) {
    // Two knights cannot force mate.
    if (pos.PieceCount[strong] == 3 && pos.CountOf(PieceCode(strong, Knight)) == 2) return 0;
    // Stalemate: the lone king to move, not in check, with every square
    // around it covered. (In check it is mate, a win, not a draw.)
    if (pos.Side == weak && !pos.IsAttacked(lone, strong)) {
      bool covered = true;
      for (Bitboard around = KingAttacks[lone] & ~SquareBit(lone); around && covered;)
        covered = pos.IsAttacked(PopLowestSquare(around), strong);
      if (covered) return 0;
    }
  }
  int v;
  if (pos.PieceCount[strong] == 3 && pos.CountOf(PieceCode(strong, Knight)) == 1 &&
      pos.CountOf(PieceCode(strong, Bishop)) == 1) {
    const int bishop = pos.PieceList[PieceCode(strong, Bishop)].Squares[0];
    v = (SquareColour(bishop) == 1 ? KbnkCornerDark[lone] : KbnkCornerLight[lone]) - 133 * distance + 1064;
  } else {
    v = (8 - distance) * 214 + MopUpEdge[lone];
  }
  return strong == White ? v : -v;
}

int Evaluate(const Position& pos, AttackMaps& maps, int thread) {
  int blackPhase, whitePhase;
  const int m = pos.GetMaterialScore(blackPhase, whitePhase);
  if (Pawns(pos, White) + Pawns(pos, Black) == 0) {
    if (std::abs(m) < 500) return 0;
    if (std::abs(m) > 4500) {
      const int r = EvaluateMopUp(pos, m);
      if (r == 0) return 0;
      return pos.Side == White ? m + r : -(m + r);
    }
  }

  EvalState state{};
  state.Pos = &pos;
  state.Maps = &maps;
  state.BlackPhase = blackPhase;
  state.WhitePhase = whitePhase;
  const int side = pos.Side;
  const int tempo = TempoBonus[side == White ? blackPhase : whitePhase];
  state.MG[side] += tempo;
  state.EG[side] += tempo;

  PawnInfo pawns;
  assert(thread >= 0 && thread < 32);
  if (thread >= 0 && thread < 32) {
    PawnHash::Probe(PawnHashes[thread], pos, pawns);
  } else {
    EvaluatePawns(pawns, pos);
  }
  state.Pawns = &pawns;
  for (int c = White; c <= Black; ++c) {
    state.MG[c] += pawns.Colour[c].ScoreMg;
    state.EG[c] += pawns.Colour[c].ScoreEg;
  }

  Evaluation terms(pos, maps, pawns, state);
  terms.DampPawnLead();
  if (!maps.Valid) pos.BuildAttackMaps(maps);
  terms.PawnMoves();
  terms.PassedPawns();
  terms.AddPassers();
  terms.SupportedPasserSquares();
  terms.Races();

  EvaluatePieces(state);
  EvaluateKingSafety(state);

  const int white = ((8 - blackPhase) * state.EG[White] + blackPhase * state.MG[White]) / 8 -
                    state.KingDanger[White] * KingDangerPhase[blackPhase] / 128 + m;
  const int black = ((8 - whitePhase) * state.EG[Black] + whitePhase * state.MG[Black]) / 8 -
                    state.KingDanger[Black] * KingDangerPhase[whitePhase] / 128;

  int scaleClass;
  if (white != black) {
    const int ahead = white > black ? White : Black;
    if (pos.CannotWin(ahead, pawns)) return 0;
    scaleClass = pos.EndgameScaleClass(ahead);
    if (scaleClass == 0) scaleClass = pos.CallEndgameFunction();
  } else {
    if (pos.CannotWin(side, pawns)) return 0;
    scaleClass = pos.CallEndgameFunction();
  }
  return FinishScore(white, black, scaleClass, side);
}

bool InitEval() {
  InitRuleOfSquare();
  SettingsHooks::PruneMarginsChanged = ScaleEvalWeights;
  return PawnHash::Allocate(PawnHashes[0]);
}
