// Endgame knowledge: dead positions for the search, trivially drawn and
// unwinnable endings, scale classes, opposition and the king-in-the-square
// table, each as a table of positions with their expected verdicts.
#include <gtest/gtest.h>

#include <string>

#include "board_helpers.h"
#include "engine/attacks.h"
#include "engine/endgame.h"
#include "engine/material.h"
#include "engine/pawns.h"
#include "engine/position.h"
#include "engine/zobrist.h"

namespace {

class EndgameEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    MaterialTable::Build();
    InitRuleOfSquare();
  }
};

[[maybe_unused]] ::testing::Environment* const Endgame =
    ::testing::AddGlobalTestEnvironment(new EndgameEnvironment);

// The two fields of the pawn record that the recognisers read: each
// colour's pawn files and its most advanced pawn.
PawnInfo PawnFilesOf(const Position& pos) {
  PawnInfo info{};
  for (int c = White; c <= Black; ++c) {
    const Bitboard pawns = pos.PieceBB[PieceCode(c, Pawn)];
    for (Bitboard b = pawns; b;) info.Colour[c].Files |= static_cast<std::uint8_t>(1 << FileOf(PopLowestSquare(b)));
    if (pawns) info.Colour[c].FrontSquare = static_cast<std::uint8_t>(c == White ? LowestSquare(pawns) : HighestSquare(pawns));
  }
  return info;
}

struct Verdict {
  const char* fen;
  int colour;
  bool expected;
};

TEST(PawnStalemate, DeadAndStalematedPositions) {
  struct Case {
    const char* fen;
    bool expected;
  };
  const Case cases[] = {
      // No mating material: caught by the material mark, whoever moves.
      {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", true},
      {"8/8/8/4k3/8/8/8/4K3 b - - 0 1", true},
      {"8/8/8/4k3/8/8/8/3NK3 b - - 0 1", true},
      {"8/8/8/4k3/8/8/8/3bK3 w - - 0 1", true},
      {"8/8/8/4k3/8/8/8/2NNK3 b - - 0 1", false},
      // King and blocked pawn, every king square covered.
      {"8/8/8/8/8/p7/P1k5/K7 w - - 0 1", true},
      {"7N/8/8/8/8/p7/P1k5/K7 w - - 0 1", false},
      {"8/8/8/8/8/p7/P1k5/K7 b - - 0 1", false},
      // In check is never stalemate.
      {"8/8/8/8/3b4/p7/P1k5/K7 w - - 0 1", false},
      // A pawn capture is a move.
      {"8/8/8/8/8/pp6/P1k5/K7 w - - 0 1", false},
      // Only an en-passant capture left: a legal move, so no stalemate.
      {"8/8/4p3/3pP3/8/7p/5k1P/7K w - d6 0 1", false},
      {"8/8/4p3/3pP3/8/7p/5k1P/7K w - - 0 1", true},
      {"7k/5K1p/7P/8/3Pp3/4P3/8/8 b - d3 0 1", false},
      {"7k/5K1p/7P/8/3Pp3/4P3/8/8 b - - 0 1", true},
      // Material outside the table is never judged here.
      {"qq6/8/8/8/8/p7/P1k5/K7 w - - 0 1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FromFen(c.fen).IsPawnStalemate(), c.expected) << c.fen;
}

TEST(TrivialDraw, SmallMaterialThatCannotWin) {
  const Verdict cases[] = {
      // A bare king never wins; four men are never trivial.
      {"8/8/8/4k3/8/8/Q7/4K3 w - - 0 1", Black, true},
      {"rnbqkbnr/pppppppp/8/8/8/8/8/4K3 w kq - 0 1", White, true},
      {"8/8/8/4k3/8/8/Q7/4K3 w - - 0 1", White, false},
      {"8/8/8/4k3/8/8/PPP5/4K3 w - - 0 1", White, false},
      // A lone minor piece, unless the defending king stands on the edge.
      {"8/8/8/8/4k3/8/8/N3K3 w - - 0 1", White, true},
      {"8/8/8/7k/8/8/8/N3K3 w - - 0 1", White, false},
      {"8/8/8/8/4K3/8/8/b3k3 b - - 0 1", Black, true},
      // Two knights likewise.
      {"8/8/8/8/4k3/8/8/NN2K3 w - - 0 1", White, true},
      {"8/8/8/8/8/8/8/NN2K2k w - - 0 1", White, false},
      // Rook pawn with the defending king on the b-file in front of it.
      {"1k6/8/8/P7/8/8/8/7K w - - 0 1", White, true},
      {"1k6/8/8/P7/8/8/8/7K b - - 0 1", White, true},
      {"8/8/8/8/p7/8/8/1K5k w - - 0 1", Black, true},
      // Defending king straight in front of the pawn, off the last rank.
      {"8/8/8/4k3/4P3/8/8/4K3 w - - 0 1", White, true},
      {"8/8/8/4k3/4P3/8/8/4K3 b - - 0 1", White, true},
      {"4k3/8/8/8/4p3/4K3/8/8 w - - 0 1", Black, true},
      // Kings on one file behind a pawn that runs: won, whatever the quick
      // rule of the kings' files says.
      {"8/8/8/5P2/8/6k1/8/6K1 w - - 0 1", White, false},
      // On the last rank that rule does not apply.
      {"4k3/4P3/8/8/8/8/8/4K3 w - - 0 1", White, false},
      // Two squares in front: drawn unless the attacker, to move, stands
      // beside its pawn.
      {"8/8/3k4/8/3P4/8/8/7K w - - 0 1", White, true},
      {"8/8/3k4/8/2KP4/8/8/8 w - - 0 1", White, false},
      {"8/8/3k4/8/2KP4/8/8/8 b - - 0 1", White, true},
      // Knight and pawn on the seventh against the corner king.
      {"k7/P7/8/8/8/8/8/4K1N1 w - - 0 1", White, true},
      {"8/P7/8/8/8/8/8/k3K1N1 w - - 0 1", White, false},
      // Queen and pawn against queen, the defending king blocking, to move.
      {"q7/8/8/3k4/3P4/8/8/1Q5K b - - 0 1", White, true},
      {"q7/8/8/3k4/3P4/8/8/1Q5K w - - 0 1", White, false},
  };
  for (const Verdict& c : cases) EXPECT_EQ(FromFen(c.fen).IsTrivialDraw(c.colour), c.expected) << c.fen;
}

TEST(CannotWin, RecognisedDrawsAndWins) {
  const Verdict cases[] = {
      // Everything trivially drawn is also unwinnable.
      {"8/8/8/8/4k3/8/8/N3K3 w - - 0 1", White, true},
      // Rook pawn: the defender reaches the corner, or the pawn runs.
      {"8/8/8/8/8/2k5/P7/7K w - - 0 1", White, true},
      {"8/8/8/1K6/P7/8/8/6k1 w - - 0 1", White, false},
      {"6k1/8/8/8/8/8/7P/7K w - - 0 1", White, true},
      {"k7/8/8/8/8/8/7P/7K w - - 0 1", White, false},
      // Won though the quick rules say otherwise: the king steps out of the
      // corner; the pawn's double step leaves the king behind.
      {"K2k4/8/8/P7/8/8/8/8 w - - 0 1", White, false},
      {"8/8/8/8/8/8/4kP2/1K6 w - - 0 1", White, false},
      {"1k6/4Kp2/8/8/8/8/8/8 b - - 0 1", Black, false},
      // Centre pawn: the defending king nearer the pawn than the attacker's.
      {"8/8/8/8/4k3/8/4P3/K7 w - - 0 1", White, true},
      {"8/8/8/3K4/3P4/8/8/3k4 w - - 0 1", White, false},
      // Queen against a pawn on the seventh: rook and bishop pawns hold when
      // the attacking king is far.
      {"7K/8/8/8/8/8/pk6/4Q3 b - - 0 1", White, true},
      {"8/8/8/8/8/3K4/pk6/4Q3 w - - 0 1", White, false},
      {"8/8/8/8/Q7/8/2p5/3k3K w - - 0 1", White, true},
      {"8/8/8/8/Q7/3K4/2p5/3k4 w - - 0 1", White, false},
      {"8/8/8/8/Q7/8/3p4/2k4K w - - 0 1", White, false},
      // Two knights cannot force mate on a bare king, corner or not; against
      // a pawn they can, with the king in the corner.
      {"7k/8/8/8/8/8/8/NN2K3 w - - 0 1", White, true},
      {"7k/8/8/8/8/p7/8/NN2K3 w - - 0 1", White, false},
      // Bishop and pawn against a piece: the defending king in front of the
      // pawn on the other colour, the defender to move.
      {"8/8/4k3/8/4P3/8/8/2B1K1n1 b - - 0 1", White, true},
      {"8/8/4k3/8/4P3/8/8/2B1K1n1 w - - 0 1", White, false},
      {"8/8/4k3/8/4P3/8/8/3BK1n1 b - - 0 1", White, false},
      // Rook and minor against rook: drawn with the king off the edge.
      {"8/8/8/4k3/8/8/r7/2BRK3 w - - 0 1", White, true},
      {"4k3/8/8/8/8/8/r7/2BRK3 w - - 0 1", White, false},
      // Wrong bishop with the rook pawn: the defender in the corner holds,
      // the bishop of the promotion square's colour wins.
      {"k7/8/8/P7/8/8/8/2B1K3 w - - 0 1", White, true},
      {"k7/8/8/P7/8/8/8/3BK3 w - - 0 1", White, false},
      {"8/8/8/8/p7/8/8/K2b3k b - - 0 1", Black, true},
      {"1k6/8/8/8/8/P7/P7/2B1K3 w - - 0 1", White, true},
      // Pawns on the inner files are never written off here.
      {"k7/8/8/P1P5/8/8/8/2B1K3 w - - 0 1", White, false},
      // Minor pieces only against a bishop, the king off the edge.
      {"8/8/8/3bk3/8/8/8/2BNK3 w - - 0 1", White, true},
      {"4k3/8/8/3b4/8/8/8/2BNK3 w - - 0 1", White, false},
      {"8/8/8/3nk3/8/8/8/2BBK3 w - - 0 1", White, false},
  };
  for (const Verdict& c : cases) {
    const Position pos = FromFen(c.fen);
    EXPECT_EQ(pos.CannotWin(c.colour, PawnFilesOf(pos)), c.expected) << c.fen;
  }
}

TEST(EndgameScaleClass, ClassesOfHardToConvertEndings) {
  struct Case {
    const char* fen;
    int colour;
    int scale;
  };
  const Case cases[] = {
      // Rook against knight: worse on the edge.
      {"8/8/8/3nk3/8/8/8/3RK3 w - - 0 1", White, 5},
      {"4k3/8/8/3n4/8/8/8/3RK3 w - - 0 1", White, 3},
      {"3rk3/8/8/8/8/8/8/3NK3 w - - 0 1", Black, 3},
      // Equal pawnless material: nearly a draw.
      {"8/8/8/3rk3/8/8/8/3RK3 w - - 0 1", White, 7},
      // Queen against rook is no draw; queen against two minors neither.
      {"8/8/8/3rk3/8/8/8/3QK3 w - - 0 1", White, 0},
      // A minor piece up: the more pieces left, the less reduction.
      {"8/8/8/3rk3/8/8/8/2BRK3 w - - 0 1", White, 5},
      {"4k3/8/8/3r4/8/8/8/2BRK3 w - - 0 1", White, 3},
      {"8/8/8/3qk3/8/8/8/2NQK3 w - - 0 1", White, 2},
      {"4k3/8/8/3q4/8/8/8/2NQK3 w - - 0 1", White, 1},
      // Opposite bishops with pawns, alone or with a rook each.
      {"8/5p2/4k3/3b4/8/2B1PP2/8/4K3 w - - 0 1", White, 3},
      {"8/5p2/4k3/4b3/8/2B1PP2/8/4K3 w - - 0 1", White, 0},
      {"r7/5p2/4k3/3b4/8/2B1PP2/8/R3K3 w - - 0 1", White, 2},
      // Rook and split rook pawns against rook.
      {"8/8/4k3/r7/P1P5/8/8/R3K3 w - - 0 1", White, 5},
      {"4k3/R7/8/r7/P1P5/8/8/4K3 w - - 0 1", White, 0},
      {"8/8/4k3/r7/P2P4/8/8/R3K3 w - - 0 1", White, 0},
      {"4k3/8/8/5p1p/7R/8/r7/4K3 b - - 0 1", Black, 5},
      // The back-rank guard is read on the board as it stands for Black too.
      {"8/8/8/5p1p/8/6R1/3r4/4K2k w - - 0 1", Black, 5},
      {"4K3/3r4/8/5p1p/8/6R1/8/7k w - - 0 1", Black, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FromFen(c.fen).EndgameScaleClass(c.colour), c.scale) << c.fen;
}

TEST(Opposition, KingsOnOneFileAndSteppingIntoIt) {
  struct Case {
    const char* fen;
    int colour;
    bool opposition;
    bool direct;
  };
  const Case cases[] = {
      {"8/8/8/8/8/4k3/8/4K3 b - - 0 1", White, true, true},
      {"8/4k3/8/8/8/8/8/4K3 b - - 0 1", White, true, false},
      {"4k3/8/8/8/8/8/8/4K3 b - - 0 1", White, false, false},
      {"8/8/8/8/8/4K3/8/4k3 b - - 0 1", White, false, false},
      {"8/8/8/8/8/4K3/8/4k3 w - - 0 1", White, false, false},
      {"8/8/8/8/8/4K3/8/4k3 w - - 0 1", Black, false, false},
      {"8/8/8/8/8/4K3/8/4k3 b - - 0 1", Black, false, false},
      // Not on one file, the other side to move.
      {"8/8/8/8/8/3k4/8/4K3 b - - 0 1", White, false, false},
      // To move: one step into the direct opposition, unless an own piece
      // stands there.
      {"8/8/8/8/8/3k4/8/4K3 w - - 0 1", White, true, true},
      {"8/8/8/8/8/3k4/8/3NK3 w - - 0 1", White, false, false},
      {"8/8/8/8/8/3k4/8/6K1 w - - 0 1", White, false, false},
      {"8/8/8/8/4k3/8/8/3K4 b - - 0 1", Black, true, true},
      {"8/4k3/8/8/8/8/8/3K4 b - - 0 1", Black, false, false},
  };
  for (const Case& c : cases) {
    const Position pos = FromFen(c.fen);
    EXPECT_EQ(pos.HasOpposition(c.colour), c.opposition) << c.fen;
    EXPECT_EQ(pos.HasDirectOpposition(c.colour), c.direct) << c.fen;
  }
}

TEST(RuleOfSquare, KingInsideTheSquareOfThePawn) {
  enum { A8 = 0, E8 = 4, A7 = 8, H7 = 15, E4 = 36, A4 = 32, H4 = 39, H3 = 47, E2 = 52, A2 = 48, B1 = 57 };
  struct Case {
    int pawn, king;
    int inside;
  };
  const Case cases[] = {
      {E4, A8, 1}, {E4, A7, 1}, {E4, H4, 1}, {E4, H3, 0}, {E4, E8, 1},
      // The double step is not counted: a pawn on e2 has six steps to go.
      {E2, A4, 1}, {E2, A2, 1}, {E2, B1, 0},
      {A7, H7, 0}, {A7, A8, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(RuleOfSquare[c.pawn][c.king], c.inside) << c.pawn << " " << c.king;
}

}  // namespace

// King and pawn against king solved by retrograde iteration, for the
// recognisers' verdicts to be checked against: WinningKpk[side][wk][bk][p]
// is true when White, with its pawn on p, wins.
class KingPawnKing {
public:
  KingPawnKing() { Solve(); }

  bool Legal(int side, int wk, int bk, int p) const {
    if (wk == bk || wk == p || bk == p || RowOf(p) == 0 || RowOf(p) == 7) return false;
    if (KingDistance[wk][bk] <= 1) return false;
    // The side not to move is never in check: only Black can be.
    return !(side == White && PawnAttacksSquare(p, bk));
  }
  bool Won(int side, int wk, int bk, int p) const { return Win[side][wk][bk][p]; }

private:
  static bool PawnAttacksSquare(int p, int s) {
    return (FileOf(p) > 0 && s == p - 9) || (FileOf(p) < 7 && s == p - 7);
  }

  // After promotion on q, Black to move: won unless Black takes the new
  // piece or is stalemated (a queen, else a rook, is chosen).
  static bool PromotionWins(int wk, int bk, int q) {
    if (KingDistance[bk][q] <= 1 && KingDistance[wk][q] > 1) return false;
    for (int piece : {Queen, Rook}) {
      bool blackCanMove = false, inCheck = SliderAttacks(piece, q, wk, bk);
      for (int to = 0; to < 64 && !blackCanMove; ++to) {
        if (KingDistance[bk][to] != 1 || KingDistance[wk][to] <= 1) continue;
        if (to == q) continue;  // taking a defended piece is not a move
        if (!SliderAttacks(piece, q, wk, to)) blackCanMove = true;
      }
      if (blackCanMove || inCheck) return true;
    }
    return false;
  }

  // Whether a queen or rook on q attacks s, the white king on wk blocking.
  static bool SliderAttacks(int piece, int q, int wk, int s) {
    const int df = FileOf(s) - FileOf(q), dr = RowOf(s) - RowOf(q);
    const bool straight = df == 0 || dr == 0;
    const bool diagonal = df == dr || df == -dr;
    if (s == q || !(straight || (piece == Queen && diagonal))) return false;
    const int step = (dr > 0 ? 8 : dr < 0 ? -8 : 0) + (df > 0 ? 1 : df < 0 ? -1 : 0);
    for (int x = q + step; x != s; x += step)
      if (x == wk) return false;
    return true;
  }

  bool WhiteWins(int wk, int bk, int p) const {
    for (int to = 0; to < 64; ++to)
      if (KingDistance[wk][to] == 1 && Legal(Black, to, bk, p) && Win[Black][to][bk][p]) return true;
    const int push = p - 8;
    if (push == wk || push == bk) return false;
    if (RowOf(push) == 0) return PromotionWins(wk, bk, push);
    if (Legal(Black, wk, bk, push) && Win[Black][wk][bk][push]) return true;
    const int twoSteps = p - 16;
    return RowOf(p) == 6 && twoSteps != wk && twoSteps != bk && Legal(Black, wk, bk, twoSteps) &&
           Win[Black][wk][bk][twoSteps];
  }

  bool BlackLoses(int wk, int bk, int p) const {
    bool anyMove = false;
    for (int to = 0; to < 64; ++to) {
      if (KingDistance[bk][to] != 1 || KingDistance[wk][to] <= 1 || PawnAttacksSquare(p, to)) continue;
      anyMove = true;
      if (to == p || !Win[White][wk][to][p]) return false;
    }
    return anyMove || PawnAttacksSquare(p, bk);
  }

  void Solve() {
    for (bool changed = true; changed;) {
      changed = false;
      for (int side = White; side <= Black; ++side)
        for (int wk = 0; wk < 64; ++wk)
          for (int bk = 0; bk < 64; ++bk)
            for (int p = 8; p < 56; ++p) {
              if (Win[side][wk][bk][p] || !Legal(side, wk, bk, p)) continue;
              if (side == White ? WhiteWins(wk, bk, p) : BlackLoses(wk, bk, p)) {
                Win[side][wk][bk][p] = true;
                changed = true;
              }
            }
    }
  }

  bool Win[2][64][64][64] = {};
};

// A FEN of the two kings and one pawn.
std::string KpkFen(int side, int wk, int bk, int p, int pawnColour) {
  char board[64];
  for (char& c : board) c = 0;
  board[wk] = 'K';
  board[bk] = 'k';
  board[p] = pawnColour == White ? 'P' : 'p';
  std::string fen;
  for (int row = 0; row < 8; ++row) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const char c = board[row * 8 + file];
      if (!c) {
        ++empty;
        continue;
      }
      if (empty) fen += static_cast<char>('0' + empty);
      empty = 0;
      fen += c;
    }
    if (empty) fen += static_cast<char>('0' + empty);
    if (row < 7) fen += '/';
  }
  return fen + (side == White ? " w - - 0 1" : " b - - 0 1");
}

TEST(KingPawnKing, NoWonPositionIsCalledDrawnAndBothColoursAgree) {
  static const KingPawnKing solved;
  int winsCalledDraws = 0;
  std::string firstWrong;
  for (int side = White; side <= Black; ++side)
    for (int wk = 0; wk < 64; ++wk)
      for (int bk = 0; bk < 64; ++bk)
        for (int p = 8; p < 56; ++p) {
          if (!solved.Legal(side, wk, bk, p)) continue;
          Position pos;
          const std::string fen = KpkFen(side, wk, bk, p, White);
          ASSERT_FALSE(pos.ParseFEN(fen.c_str())) << fen;
          const bool cannotWin = pos.CannotWin(White, PawnFilesOf(pos));
          const bool trivial = pos.IsTrivialDraw(White);
          if ((cannotWin || trivial) && solved.Won(side, wk, bk, p)) {
            if (firstWrong.empty()) firstWrong = fen;
            ++winsCalledDraws;
          }
          // The same position with the colours exchanged, for Black.
          Position mirrored;
          ASSERT_FALSE(mirrored.ParseFEN(KpkFen(side ^ 1, bk ^ 56, wk ^ 56, p ^ 56, Black).c_str()));
          ASSERT_EQ(mirrored.CannotWin(Black, PawnFilesOf(mirrored)), cannotWin) << fen;
          ASSERT_EQ(mirrored.IsTrivialDraw(Black), trivial) << fen;
        }
  EXPECT_EQ(winsCalledDraws, 0) << "first: " << firstWrong;
}

// Every query answers for a colour what it answers for the other colour in
// the colour-mirrored position (ranks turned, colours exchanged).
TEST(EndgameQueries, ColourMirrorGivesTheSameVerdicts) {
  const char* fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "8/8/8/8/8/p7/P1k5/K7 w - - 0 1",
      "8/8/4p3/3pP3/8/7p/5k1P/7K w - d6 0 1",
      "1k6/8/8/P7/8/8/8/7K b - - 0 1",
      "8/8/3k4/8/2KP4/8/8/8 w - - 0 1",
      "k7/P7/8/8/8/8/8/4K1N1 w - - 0 1",
      "q7/8/8/3k4/3P4/8/8/1Q5K b - - 0 1",
      "7K/8/8/8/8/8/pk6/4Q3 b - - 0 1",
      "8/8/8/8/Q7/8/2p5/3k3K w - - 0 1",
      "7k/8/8/8/8/8/8/NN2K3 w - - 0 1",
      "8/8/4k3/8/4P3/8/8/2B1K1n1 b - - 0 1",
      "8/8/8/4k3/8/8/r7/2BRK3 w - - 0 1",
      "k7/8/8/P7/8/8/8/2B1K3 w - - 0 1",
      "1k6/8/8/8/8/P7/P7/2B1K3 w - - 0 1",
      "8/8/8/3bk3/8/8/8/2BNK3 w - - 0 1",
      "4k3/8/8/3n4/8/8/8/3RK3 w - - 0 1",
      "8/8/8/3qk3/8/8/8/2NQK3 w - - 0 1",
      "r7/5p2/4k3/3b4/8/2B1PP2/8/R3K3 w - - 0 1",
      "8/8/4k3/r7/P1P5/8/8/R3K3 w - - 0 1",
      "2k4r/2P5/1K6/8/8/8/8/R7 b - - 0 1",
      "7K/5k1P/8/8/8/8/6r1/R7 w - - 0 1",
      "3k4/8/3P4/8/8/8/7r/K6R w - - 0 1",
      "8/8/8/8/4k3/8/8/3K4 b - - 0 1",
  };
  for (const char* fen : fens) {
    const Position pos = FromFen(fen);
    Position mirrored;
    ASSERT_FALSE(mirrored.ParseFEN(pos.GetMirroredFEN())) << fen;
    const PawnInfo pawns = PawnFilesOf(pos), mirroredPawns = PawnFilesOf(mirrored);
    EXPECT_EQ(pos.IsPawnStalemate(), mirrored.IsPawnStalemate()) << fen;
    EXPECT_EQ(pos.CallEndgameFunction(), mirrored.CallEndgameFunction()) << fen;
    for (int c = White; c <= Black; ++c) {
      EXPECT_EQ(pos.IsTrivialDraw(c), mirrored.IsTrivialDraw(c ^ 1)) << fen << " colour " << c;
      EXPECT_EQ(pos.CannotWin(c, pawns), mirrored.CannotWin(c ^ 1, mirroredPawns)) << fen << " colour " << c;
      EXPECT_EQ(pos.EndgameScaleClass(c), mirrored.EndgameScaleClass(c ^ 1)) << fen << " colour " << c;
      EXPECT_EQ(pos.HasOpposition(c), mirrored.HasOpposition(c ^ 1)) << fen << " colour " << c;
      EXPECT_EQ(pos.HasDirectOpposition(c), mirrored.HasDirectOpposition(c ^ 1)) << fen << " colour " << c;
    }
  }
}
