// The material index, the material and imbalance score of a configuration,
// the table of every configuration built from it at start-up, and the
// position's look-ups into that table.
#include "engine/material.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "engine/endgame.h"
#include "engine/position.h"

MaterialEntry MaterialTable::Entries[MaterialTable::Size];

int MaterialTable::Index(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP) {
  // Every count is checked, pawns and negative counts too: an index is only
  // ever used to read the table, and a wild one would read outside it.
  const auto inRange = [](int count, int max) { return count >= 0 && count <= max; };
  if (!inRange(wQ, 1) || !inRange(bQ, 1) || !inRange(wR, 2) || !inRange(bR, 2) || !inRange(wB, 2) ||
      !inRange(bB, 2) || !inRange(wN, 2) || !inRange(bN, 2) || !inRange(wP, 8) || !inRange(bP, 8))
    return -1;
  return bP * 1 + wP * 9 + bN * 81 + wN * 243 + bB * 729 + wB * 2187 + bR * 6561 + wR * 19683 + bQ * 59049 +
         wQ * 118098;
}

namespace {

// Base values, middlegame / endgame, milli-pawns.
constexpr int QueenMG = 9639, QueenEG = 10358;
constexpr int RookMG = 4917, RookEG = 5245;
constexpr int KnightMG = 3284, KnightEG = 3635;
constexpr int BishopMG = 3227, BishopEG = 3316;
constexpr int PawnMG = 773, PawnEG = 869;

// Bonus for a pawn majority of m = 1..3 pawns (row m - 1), by the
// opponent's raw piece weight 0..15; scaled by (own pawns - 1) / own pawns.
constexpr int PawnMajorityBonus[3][16] = {
    {2409, 945, 360, 455, 215, 199, 102, 161, 116, 70, -102, -190, -390, -429, -429, -429},
    {2502, 2457, 1001, 1335, 575, 462, 392, 410, 346, 171, -185, -408, -657, -826, -826, -826},
    {3166, 3441, 1487, 2116, 621, 601, 469, 479, 305, 232, -211, -714, -1446, -2083, -2083, -2083},
};

// Rook ending (a rook each, nothing else): endgame correction for a majority
// of m = 1..3 (row m - 1), by the majority side's pawns minus m, 0..7.
constexpr int RookEndgamePawns[3][8] = {
    {0, -213, -242, -206, -159, -117, -81, 10},
    {441, -147, -282, -328, -175, -172, 5, 199},
    {-287, -411, -307, -591, -281, -281, -118, 192},
};

// A side without minor pieces facing more pawns, by its own phase 0..8.
constexpr int NoMinorPawnDeficit[9] = {131, 0, 378, 93, 136, 5, 0, 0, 0};

// Rooks against minor pieces with queens equal, by the rook side's rooks +
// 2 queens or by its minor count, 0..7.
constexpr int ExchangeMajorMG[8] = {185, -65, 312, 204, -223, 40, -104, -104};
constexpr int ExchangeMajorEG[8] = {983, 737, 75, 75, -81, 4, -15, -15};
constexpr int ExchangeMinorMG[8] = {129, -114, -241, -529, -861, -861, -861, -861};
constexpr int ExchangeMinorEG[8] = {367, 272, -41, -58, -302, -302, -302, -302};
constexpr int ExchangeBishopPairMG[8] = {0, 255, 196, -145, -68, -68, -68, -68};
constexpr int ExchangeBishopPairEG[8] = {0, 47, -126, 367, 0, 0, 0, 0};
constexpr int TwoMinorsVsRookMG[8] = {-232, -328, 302, -21, 219, 385, 385, 385};
constexpr int TwoMinorsVsRookEG[8] = {-134, -710, -146, -89, 367, 484, 484, 484};

// Queen against rooks and minors, by the phase 0..8 of the side without the
// extra queen.
constexpr int QueenVsRookMinorManyRooks[9] = {0, 0, 231, 206, 88, 39, 0, 0, 0};
constexpr int QueenVsRookBN[9] = {-6, 357, 808, 335, 468, 728, 1139, 1139, 1150};
constexpr int QueenVsRookNN[9] = {0, 382, 20, 382, 504, 479, 142, 142, 142};
constexpr int QueenVsRookBB[9] = {0, 440, 363, 52, 346, 1, 1, 1, 1};
constexpr int QueenVsRook[9] = {229, 393, 289, 289, 289, 498, 459, 663, 663};
constexpr int QueenVsTwoRooks[9] = {99, -60, 319, 434, 429, 951, 589, 841, 947};

// The exchange tables end at index 7; configurations beyond (only outside
// the table) use their last entry.
constexpr int Capped(int index) { return index > 7 ? 7 : index; }

int Sign(int x) { return (x > 0) - (x < 0); }

struct Side {
  int Q, R, B, N, P;
  int MG, EG, Bonus;
  int Minors() const { return B + N; }
  int Majors() const { return R + 2 * Q; }
};

}  // namespace

int MaterialTable::EvaluateMaterial(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP,
                                    int& blackPhase, int& whitePhase) {
  Side w{wQ, wR, wB, wN, wP, 0, 0, 0};
  Side b{bQ, bR, bB, bN, bP, 0, 0, 0};
  for (Side* s : {&w, &b}) {
    s->MG = s->Q * QueenMG + s->R * RookMG + s->N * KnightMG + s->B * BishopMG + s->P * PawnMG;
    s->EG = s->Q * QueenEG + s->R * RookEG + s->N * KnightEG + s->B * BishopEG + s->P * PawnEG;
  }

  const int whiteRaw = wB + wN + 2 * wR + 4 * wQ;
  const int blackRaw = bB + bN + 2 * bR + 4 * bQ;
  whitePhase = MaterialPhase(whiteRaw);
  blackPhase = MaterialPhase(blackRaw);

  const int dQ = wQ - bQ, dR = wR - bR, dMinor = w.Minors() - b.Minors(), dP = wP - bP;
  const int balance = 5 * (2 * dQ + dR) + 3 * dMinor;
  const bool rookEachOnly = whiteRaw == 2 && blackRaw == 2 && wR == 1 && bR == 1;

  // Pawn majority of the side not behind in pieces.
  if (balance >= 0 && dP > 0 && wP >= 2) {
    const int m = std::min(dP, 3);
    w.Bonus = (wP - 1) * PawnMajorityBonus[m - 1][std::min(blackRaw, 15)] / wP;
    if (rookEachOnly) w.EG += RookEndgamePawns[m - 1][Capped(wP - m)];
  }
  if (balance <= 0 && dP < 0 && bP >= 2) {
    const int m = std::min(-dP, 3);
    b.Bonus = (bP - 1) * PawnMajorityBonus[m - 1][std::min(whiteRaw, 15)] / bP;
    if (rookEachOnly) b.EG += RookEndgamePawns[m - 1][Capped(bP - m)];
  }

  // No minor piece to hold back the opponent's extra pawns.
  if (w.Minors() == 0 && dP < 0 && bP >= 2) w.Bonus -= NoMinorPawnDeficit[blackPhase];
  if (b.Minors() == 0 && dP > 0 && wP >= 2) b.Bonus -= NoMinorPawnDeficit[whitePhase];

  if (dQ == 0) {
    // Rooks against minor pieces.
    if (Sign(dR) * Sign(dMinor) < 0) {
      Side& rooks = dR > 0 ? w : b;
      Side& minors = dR > 0 ? b : w;
      const int n = std::abs(dR);
      if (dR == -dMinor) {
        rooks.MG += (ExchangeMajorMG[Capped(rooks.Majors())] + ExchangeMinorMG[Capped(rooks.Minors())]) * n;
        rooks.EG += (ExchangeMajorEG[Capped(rooks.Majors())] + ExchangeMinorEG[Capped(rooks.Minors())]) * n;
        if (n == 1 && minors.B >= 2 && rooks.B < 2) {
          minors.MG += ExchangeBishopPairMG[Capped(rooks.Minors())];
          minors.EG += ExchangeBishopPairEG[Capped(rooks.Minors())];
        }
      } else if (dMinor == -2 * dR) {
        minors.MG += TwoMinorsVsRookMG[Capped(rooks.Majors())] * n;
        minors.EG += TwoMinorsVsRookEG[Capped(rooks.Majors())] * n;
      } else if (3 * dR == -2 * dMinor) {
        minors.MG -= 69 * (n / 2);
        minors.EG -= 168 * (n / 2);
      }
    }
  } else {
    // A queen against rooks and minor pieces.
    Side& queens = dQ > 0 ? w : b;
    const int p = dQ > 0 ? blackPhase : whitePhase;
    if (Sign(dR) * Sign(dQ) < 0) {
      if (dQ == -dR) {
        if (dMinor == -dQ) {
          if (wR + bR > 2) queens.Bonus += QueenVsRookMinorManyRooks[p];
          if (bN - wN == dQ) {
            queens.MG += 99;
            queens.EG += 86;
          }
          if (bB - wB == dQ) {
            queens.MG += 68;
            queens.EG += 189;
          }
        } else if (dMinor == -2 * dQ) {
          if (bN - wN == dQ)
            queens.Bonus += QueenVsRookBN[p];
          else if (bN - wN == 2 * dQ)
            queens.Bonus += QueenVsRookNN[p];
          else
            queens.Bonus += QueenVsRookBB[p];
        } else {
          queens.Bonus += QueenVsRook[p];
        }
      }
      if (dR == -2 * dQ) queens.Bonus += QueenVsTwoRooks[p];
    }
    for (Side* s : {&w, &b}) {
      if (s->Q >= 2) {
        s->MG -= 771;
        s->EG -= 767;
      }
    }
  }

  return ((8 - blackPhase) * w.EG + blackPhase * w.MG) / 8 - (whitePhase * b.MG + (8 - whitePhase) * b.EG) / 8 +
         w.Bonus - b.Bonus;
}

namespace {

std::uint32_t MaterialFlags(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP) {
  std::uint32_t flags = 0;
  if (wQ == 0 && wR == 1 && wB + wN == 1 && wP == 0 && bQ == 0 && bR == 1) flags |= FlagWhiteRookMinorVsRook;
  if (bQ == 0 && bR == 1 && bB + bN == 1 && bP == 0 && wQ == 0 && wR == 1) flags |= FlagBlackRookMinorVsRook;
  const int whiteMen = wQ + wR + wB + wN + wP, blackMen = bQ + bR + bB + bN + bP;
  const bool whiteLoneMinor = whiteMen == 1 && wB + wN == 1;
  const bool blackLoneMinor = blackMen == 1 && bB + bN == 1;
  if ((whiteMen == 0 && (blackMen == 0 || blackLoneMinor)) || (blackMen == 0 && whiteLoneMinor))
    flags |= FlagNoMatingMaterial;
  return flags;
}

}  // namespace

void MaterialTable::Build() {
  int index = 0;
  for (int wQ = 0; wQ <= 1; ++wQ)
    for (int bQ = 0; bQ <= 1; ++bQ)
      for (int wR = 0; wR <= 2; ++wR)
        for (int bR = 0; bR <= 2; ++bR)
          for (int wB = 0; wB <= 2; ++wB)
            for (int bB = 0; bB <= 2; ++bB)
              for (int wN = 0; wN <= 2; ++wN)
                for (int bN = 0; bN <= 2; ++bN)
                  for (int wP = 0; wP <= 8; ++wP)
                    for (int bP = 0; bP <= 8; ++bP) {
                      int blackPhase, whitePhase;
                      MaterialEntry& entry = Entries[index++];
                      entry.score = EvaluateMaterial(wQ, bQ, wR, bR, wB, bB, wN, bN, wP, bP, blackPhase, whitePhase);
                      entry.info = static_cast<std::uint32_t>(blackPhase + 16 * whitePhase) |
                                   MaterialFlags(wQ, bQ, wR, bR, wB, bB, wN, bN, wP, bP);
                      entry.scale = nullptr;
                    }
  Entries[Index(0, 0, 1, 1, 0, 0, 0, 0, 1, 0)].scale = ScaleKRPKR;
  Entries[Index(0, 0, 1, 1, 0, 0, 0, 0, 0, 1)].scale = ScaleKRKRP;
}

int Position::GetMaterialScore(int& blackPhase, int& whitePhase) const {
  if (Matkey >= 0 && Matkey < MaterialTable::Size) {
    const MaterialEntry& entry = MaterialTable::Entry(Matkey);
    blackPhase = BlackPhaseOf(entry.info);
    whitePhase = WhitePhaseOf(entry.info);
    return entry.score;
  }
  return MaterialTable::EvaluateMaterial(CountOf(PieceCode(White, Queen)), CountOf(PieceCode(Black, Queen)),
                                         CountOf(PieceCode(White, Rook)), CountOf(PieceCode(Black, Rook)),
                                         CountOf(PieceCode(White, Bishop)), CountOf(PieceCode(Black, Bishop)),
                                         CountOf(PieceCode(White, Knight)), CountOf(PieceCode(Black, Knight)),
                                         CountOf(PieceCode(White, Pawn)), CountOf(PieceCode(Black, Pawn)), blackPhase,
                                         whitePhase);
}

int Position::CallEndgameFunction() const {
  if (Matkey < 0 || Matkey >= MaterialTable::Size) return 0;
  const EndgameScaleFunction scale = MaterialTable::Entry(Matkey).scale;
  return scale ? scale(*this) : 0;
}
