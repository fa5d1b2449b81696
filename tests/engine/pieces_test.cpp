// The knight, bishop, rook and queen terms: worked positions whose every
// term is known, and differences that isolate one rule at a time.
#include <gtest/gtest.h>

#include <string>

#include "engine/attacks.h"
#include "evalstate_helpers.h"

namespace {

struct WorkedCase {
  const char* Name;
  const char* Fen;
  int Colour;
  int Mg;
  int Eg;
};

// Positions where one side has a single kind of piece, with every term that
// applies added up by hand.
TEST(PieceTerms, WorkedPositionsAddUpEveryTerm) {
  const WorkedCase cases[] = {
      // Placement -420/-5, mobility 2 and safe mobility 2, shut in: -1228/-626.
      {"bishop a7 behind pawn b6", "4k3/B7/1p6/8/8/8/8/4K3 w - - 0 1", White, -1654, -563},
      {"bishop a2 behind pawn b3", "4k3/8/8/8/8/1P6/b7/4K3 b - - 0 1", Black, -1654, -563},
      {"bishop g8 behind pawn f7", "6B1/5p2/8/8/8/8/8/K6k w - - 0 1", White, -1721, -539},
      // Back-rank bishop blocked by its d2 pawn: -72/-122; one home-area
      // square (b2); the lone dark-square pawn costs it 95/64 in the ending.
      {"bishop c1 behind pawn d2", "4k3/8/8/8/8/8/3P4/2B1K3 w - - 0 1", White, -151, -107},
      // Rook a1 beside its king b1, no rights, a pawn on every file, no enemy
      // queen: trapped t = 5, MG -20 and EG -225 on top of placement
      // -58/-57 and mobility -90 + 15 / 60 - 371.
      {"rook trapped without enemy queen", "4k3/ppppppp1/8/8/8/8/PPPPPPPP/RK6 w - - 0 1", White, -153, -593},
      {"rook trapped with enemy queen", "4k2q/ppppppp1/8/8/8/8/PPPPPPPP/RK6 w - - 0 1", White, -261, -1538},
      // Queen d1 behind two own rooks on an open file: QueenOpenFile[2] =
      // 100/98 in its 88/-91; rook d2 335/231 (rook ahead 312/198), rook d3
      // 306/298.
      {"queen behind two rooks on an open file", "2k5/8/8/8/8/3R4/3R4/3QK3 w - - 0 1", White, 729, 438},
  };
  for (const WorkedCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto setup = SetUpEval(c.Fen);
    EXPECT_EQ(setup->State.MG[c.Colour], c.Mg);
    EXPECT_EQ(setup->State.EG[c.Colour], c.Eg);
    const Position& pos = setup->Pos;
    if (pos.PieceCount[c.Colour ^ 1] == 1 + pos.CountOf(PieceCode(c.Colour ^ 1, Pawn))) {
      EXPECT_EQ(setup->State.MG[c.Colour ^ 1], 0);  // nothing of one side leaks to the other
      EXPECT_EQ(setup->State.EG[c.Colour ^ 1], 0);
    }
  }
}

struct DifferenceCase {
  const char* Name;
  const char* With;     // the rule applies
  const char* Without;  // the same pieces with the rule broken, nothing else changed
  int Colour;
  int Mg;
  int Eg;
};

TEST(PieceTerms, SingleRulesAddTheirTableValues) {
  const DifferenceCase cases[] = {
      {"bishop pins a knight to the king", "4k3/8/2n5/1B6/8/8/8/4K3 w - - 0 1", "5k2/8/2n5/1B6/8/8/8/4K3 w - - 0 1",
       White, 125, 512},
      {"bishop x-rays a queen through a knight", "4q3/8/2n5/1B6/8/8/8/k3K3 w - - 0 1",
       "5q2/8/2n5/1B6/8/8/8/k3K3 w - - 0 1", White, 71, 71},
      {"black bishop pins a white rook", "4k3/8/8/8/1b6/2R5/8/4K3 b - - 0 1", "4k3/8/8/8/1b6/2R5/8/5K2 b - - 0 1",
       Black, 1565, 2605},
      {"rook pins a queen to the king", "4k3/8/4q3/8/8/8/8/K3R3 w - - 0 1", "5k2/8/4q3/8/8/8/8/K3R3 w - - 0 1",
       White, 4817, 5196},
      // Knight e5, no black pawns to chase it: outpost 93/71 per support.
      {"knight outpost with pawn d4 (support 3 + 2)", "k7/8/8/4N3/3P4/8/8/K7 w - - 0 1",
       "k7/8/8/4N3/8/8/8/K7 w - - 0 1", White, 3 * 93, 3 * 71},
      {"knight outpost with pawn f4 (support 3 + 2)", "k7/8/8/4N3/5P2/8/8/K7 w - - 0 1",
       "k7/8/8/4N3/8/8/8/K7 w - - 0 1", White, 3 * 93, 3 * 71},
      {"knight outpost with both pawns, capped at 5", "k7/8/8/4N3/3P1P2/8/8/K7 w - - 0 1",
       "k7/8/8/4N3/8/8/8/K7 w - - 0 1", White, 3 * 93, 3 * 71},
      // With a lone enemy bishop the dark pawns d4 and f4 also move the
      // bad-bishop term: d x 33 / 64 and, against three pieces, d x -145 / 64.
      {"enemy knight and dark bishop keep support at 3", "k7/8/8/4N3/3P4/8/8/Knb5 w - - 0 1",
       "k7/8/8/4N3/8/8/8/Knb5 w - - 0 1", White, 93, 71 + 2},
      {"enemy knight but only a light bishop", "k7/8/8/4N3/3P4/8/8/Kn1b4 w - - 0 1",
       "k7/8/8/4N3/8/8/8/Kn1b4 w - - 0 1", White, 3 * 93, 3 * 71 - 2},
      {"both pawns against knight and dark bishop: 4", "k7/8/8/4N3/3P1P2/8/8/Knb5 w - - 0 1",
       "k7/8/8/4N3/8/8/8/Knb5 w - - 0 1", White, 2 * 93 - 1, 2 * 71 + 4},
      {"enemy pawn behind the outpost does not spoil it", "k7/8/8/4N3/3p4/8/8/K7 w - - 0 1",
       "k7/8/8/4N3/8/8/8/K7 w - - 0 1", White, 0, 0},
  };
  for (const DifferenceCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto with = SetUpEval(c.With);
    const auto without = SetUpEval(c.Without);
    EXPECT_EQ(with->State.MG[c.Colour] - without->State.MG[c.Colour], c.Mg);
    EXPECT_EQ(with->State.EG[c.Colour] - without->State.EG[c.Colour], c.Eg);
  }
}

// However well a knight stands, a pawn hitting it leaves it nothing in the
// middle game.
TEST(PieceTerms, KnightHitByPawnNeverScoresPositiveMiddleGame) {
  for (int square = 16; square < 56; ++square) {
    const int file = FileOf(square);
    for (int side = -1; side <= 1; side += 2) {
      if (file + side < 0 || file + side > 7) continue;
      const int pawn = square - 8 + side;  // a black pawn diagonally above
      std::string board(64, '.');
      board[square] = 'N';
      board[pawn] = 'p';
      // Own pawns defending it, to make it an outpost where it can be one.
      Bitboard whitePawns = 0;
      if (RowOf(square) < 6) {
        if (file > 0) whitePawns |= SquareBit(square + 7);
        if (file < 7) whitePawns |= SquareBit(square + 9);
      }
      whitePawns &= ~SquareBit(pawn);
      for (Bitboard b = whitePawns; b; b &= b - 1) board[LowestSquare(b)] = 'P';
      // The black king on a8 must not stand in check with White to move.
      Bitboard checks = KnightAttacks[square];
      for (Bitboard b = whitePawns; b; b &= b - 1) checks |= PawnAttacks[White][LowestSquare(b)];
      if (board[0] != '.' || board[63] != '.' || (checks & SquareBit(0))) continue;
      board[0] = 'k';
      board[63] = 'K';
      std::string fen;
      for (int row = 0; row < 8; ++row) {
        int empty = 0;
        for (int f = 0; f < 8; ++f) {
          const char c = board[row * 8 + f];
          if (c == '.') {
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
      fen += " w - - 0 1";
      SCOPED_TRACE(fen);
      const auto setup = SetUpEval(fen);
      EXPECT_LE(setup->State.MG[White], 0);
    }
  }
}

// The king-attack tally: each piece reaching the enemy king's zone counts
// once, the first overlapping piece of a side takes its overlap weight.
TEST(PieceTerms, KingAttackTallyCountsOverlapOnce) {
  // Knights f5 and h5 both hit g7 next to the black king on g8 (zone f7-h8).
  const auto two = SetUpEval("6k1/8/8/5N1N/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(two->State.Attackers[White], 2);
  EXPECT_EQ(two->State.AttackWeight[White], 454 + 942);
  EXPECT_EQ(two->State.Adjacent[White], 2);
  EXPECT_TRUE(two->State.Overlap[White]);
  // A third knight overlapping again gets only the base weight.
  const auto three = SetUpEval("6k1/8/4N3/5N1N/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(three->State.Attackers[White], 3);
  EXPECT_EQ(three->State.AttackWeight[White], 454 + 942 + 454);
  // Knight b3 guards a1 of the white king's zone (a1, b1, a2, b2) and
  // reaches nothing near the black king.
  const auto defence = SetUpEval("6k1/8/8/8/8/1N6/8/K7 w - - 0 1");
  EXPECT_EQ(defence->State.Defence[White], 1);
  EXPECT_EQ(defence->State.Attackers[White], 0);
}

}  // namespace
