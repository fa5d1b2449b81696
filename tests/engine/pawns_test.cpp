// The pawn structure record and its per-thread cache.
#include <gtest/gtest.h>

#include <string>

#include "board_helpers.h"
#include "engine/pawns.h"
#include "engine/position.h"
#include "shared_data.h"

namespace {

Position Load(const char* fen) {
  Position pos;
  EXPECT_FALSE(pos.ParseFEN(fen)) << fen << ": " << pos.Message;
  return pos;
}

PawnInfo PawnsOf(const char* fen) {
  PawnInfo info;
  EvaluatePawns(info, Load(fen));
  return info;
}

constexpr Bitboard Bit(int file, int rank) { return SquareBit(MakeSquare(file, 8 - rank)); }

// Owns a pawn table for one test and gives it back at the end.
class PawnHashTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(PawnHash::Allocate(slot)); }
  void TearDown() override { PawnHash::Free(slot); }
  PawnHash slot;
};

void ExpectSameRecord(const PawnInfo& a, const PawnInfo& b) {
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c);
    const PawnColourInfo& x = a.Colour[c];
    const PawnColourInfo& y = b.Colour[c];
    EXPECT_EQ(x.PassedPawns, y.PassedPawns);
    EXPECT_EQ(x.ScoreMg, y.ScoreMg);
    EXPECT_EQ(x.ScoreEg, y.ScoreEg);
    EXPECT_EQ(x.PassedMg, y.PassedMg);
    EXPECT_EQ(x.PassedEg, y.PassedEg);
    EXPECT_EQ(x.Files, y.Files);
    EXPECT_EQ(x.FrontSquare, y.FrontSquare);
  }
  EXPECT_EQ(a.BackwardMarks, b.BackwardMarks);
  EXPECT_EQ(a.CentreType, b.CentreType);
}

}  // namespace

TEST_F(PawnHashTest, PawnlessPositionMissesOnceThenHits) {
  const Position pos = Load("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  ASSERT_EQ(pos.Pawnkey, 0u);
  PawnInfo info;
  PawnHash::Probe(slot, pos, info);
  EXPECT_EQ(slot.Probes, 1u);
  EXPECT_EQ(slot.Hits, 0u);
  for (const PawnColourInfo& side : info.Colour) {
    EXPECT_EQ(side.ScoreMg, 0);
    EXPECT_EQ(side.ScoreEg, 0);
    EXPECT_EQ(side.PassedPawns, 0u);
    EXPECT_EQ(side.FrontRow, 8);
    EXPECT_EQ(side.FileSpan, 0);
    for (int file = 0; file < 8; ++file) {
      EXPECT_EQ(side.MostAdvanced[file], 8);
      EXPECT_EQ(side.Rearmost[file], 0);
    }
  }
  EXPECT_EQ(info.CentreType, 1u);

  PawnInfo again;
  PawnHash::Probe(slot, Load("4k3/8/8/3n4/8/8/8/4K3 b - - 0 1"), again);
  EXPECT_EQ(slot.Hits, 1u);
  ExpectSameRecord(info, again);
  EXPECT_EQ(again.CentreType, 1u);
}

TEST_F(PawnHashTest, KeysSharingAnEntryReplaceEachOther) {
  Position first = Load("4k3/pp6/8/8/8/8/PP6/4K3 w - - 0 1");
  Position second = Load("4k3/6pp/8/8/8/8/3PP3/4K3 w - - 0 1");
  // Force the two structures onto one entry.
  second.Pawnkey = first.Pawnkey ^ (std::uint64_t{1} << 40);
  PawnInfo a, b, reference;
  for (int round = 0; round < 2; ++round) {
    PawnHash::Probe(slot, first, a);
    PawnHash::Probe(slot, second, b);
  }
  EXPECT_EQ(slot.Probes, 4u);
  EXPECT_EQ(slot.Hits, 0u);
  EvaluatePawns(reference, first);
  ExpectSameRecord(a, reference);
  EvaluatePawns(reference, second);
  ExpectSameRecord(b, reference);

  PawnHash::Probe(slot, second, b);
  EXPECT_EQ(slot.Hits, 1u);
}

TEST(PawnHash, WithoutATableEveryProbeIsComputed) {
  PawnHash empty;  // as left by a failed allocation
  const Position pos = Load("4k3/pp3p2/8/3P4/8/8/PP6/4K3 w - - 0 1");
  PawnInfo probed, reference;
  PawnHash::Probe(empty, pos, probed);
  PawnHash::Probe(empty, pos, probed);
  EvaluatePawns(reference, pos);
  ExpectSameRecord(probed, reference);
  EXPECT_EQ(empty.Hits, 0u);
  EXPECT_EQ(empty.Table, nullptr);
}

TEST(PawnHash, AllocateGivesAFreshTableEachTime) {
  PawnHash slot;
  ASSERT_FALSE(PawnHash::Allocate(slot));
  PawnInfo info;
  const Position pos = Load("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  PawnHash::Probe(slot, pos, info);
  PawnHash::Probe(slot, pos, info);
  EXPECT_EQ(slot.Hits, 1u);
  ASSERT_FALSE(PawnHash::Allocate(slot));
  const std::uint64_t hits = slot.Hits;
  PawnHash::Probe(slot, pos, info);
  EXPECT_EQ(slot.Hits, hits);  // emptied: the pawnless entry misses again
  PawnHash::Free(slot);
  EXPECT_EQ(slot.Table, nullptr);
}

TEST(PawnStructure, ThreePawnsOnAFileAreDoubledThenTripled) {
  // a2, a3, a4: piece squares, two doubled (one tripled), an isolated and
  // doubled isolated file without enemy neighbours; a4 is a passer.
  const PawnInfo info = PawnsOf("4k3/8/8/8/P7/P7/P7/4K3 w - - 0 1");
  const PawnColourInfo& white = info.Colour[White];
  EXPECT_EQ(white.ScoreMg, (-87 - 55 - 34) + (-75) + (-75 - 192) + (-99) + (-53) + 0);
  EXPECT_EQ(white.ScoreEg, (-8 - 26 + 7) + (-275) + (-275 - 164) + (-120) + (-224) + (-65));
  EXPECT_EQ(white.DoubledFiles, 1);
  EXPECT_EQ(white.IsolatedFiles, 1);
  EXPECT_EQ(white.MostAdvanced[0], 4);
  EXPECT_EQ(white.Rearmost[0], 6);
  EXPECT_EQ(white.PassedPawns, Bit(0, 4));
  EXPECT_EQ(white.PassedMg, 1);
  EXPECT_EQ(white.PassedEg, 60);
}

TEST(PawnStructure, BlackIsScoredFromItsOwnSide) {
  const PawnInfo info = PawnsOf("4k3/p7/p7/p7/8/8/8/4K3 w - - 0 1");
  const PawnColourInfo& black = info.Colour[Black];
  EXPECT_EQ(black.ScoreMg, (-87 - 55 - 34) + (-75) + (-75 - 192) + (-99) + (-53) + 0);
  EXPECT_EQ(black.PassedPawns, Bit(0, 5));
  EXPECT_EQ(black.MostAdvanced[0], 4);
  EXPECT_EQ(black.FrontRow, 4);
  EXPECT_EQ(black.FrontSquare, MakeSquare(0, 3));
}

TEST(PawnStructure, IsolatedFilesIncludeTheCPawnOfACentreTrio) {
  const struct {
    const char* Fen;
    int Isolated;
  } cases[] = {
      {"4k3/8/8/8/8/8/2PPP3/4K3 w - - 0 1", 1 << 2},
      {"4k3/8/8/8/8/8/P1PPP3/4K3 w - - 0 1", 1 | 1 << 2},
      {"4k3/8/8/8/8/8/1PPPP3/4K3 w - - 0 1", 0},          // b-pawn beside c
      {"4k3/8/8/8/8/8/2PPPP2/4K3 w - - 0 1", 0},          // f-pawn beside e
      {"4k3/8/8/8/8/8/P1P1P1P1/4K3 w - - 0 1", 0x55},
      {"4k3/8/8/8/8/8/2PPP2P/4K3 w - - 0 1", 1 << 2 | 1 << 7},
  };
  for (const auto& c : cases) EXPECT_EQ(PawnsOf(c.Fen).Colour[White].IsolatedFiles, c.Isolated) << c.Fen;
}

TEST(PawnStructure, PassedOnlyWithoutEnemyPawnsAheadOnNearFiles) {
  const struct {
    const char* Fen;
    bool Passed;
  } cases[] = {
      {"4k3/8/8/3pP3/8/8/8/4K3 w - - 0 1", true},   // d5 level with e5
      {"4k3/8/3p4/4P3/8/8/8/4K3 w - - 0 1", false},  // d6 ahead of e5
      {"4k3/8/4p3/4P3/8/8/8/4K3 w - - 0 1", false},  // blocked
      {"4k3/8/8/4P3/4p3/8/8/4K3 w - - 0 1", true},   // e4 behind it
      {"4k3/6p1/8/4P3/8/8/8/4K3 w - - 0 1", true},   // g7 two files away
  };
  for (const auto& c : cases) {
    const PawnInfo info = PawnsOf(c.Fen);
    EXPECT_EQ(info.Colour[White].PassedPawns != 0, c.Passed) << c.Fen;
  }
}

TEST(PawnStructure, BestPasserCountsInFullTheOthersAQuarter) {
  // a6 (row 2) and h5 (row 3), neither supported nor connected.
  const PawnInfo info = PawnsOf("4k3/8/P7/7P/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(info.Colour[White].PassedMg, 484 + 146 / 4);
  EXPECT_EQ(info.Colour[White].PassedEg, 176 + 101 / 4);
  // Two passers worth nothing in the middle game: no entry above 0.
  const PawnInfo flat = PawnsOf("4k3/8/8/8/8/P6P/8/4K3 w - - 0 1");
  EXPECT_EQ(flat.Colour[White].PassedMg, 0);
  EXPECT_EQ(flat.Colour[White].PassedEg, 13 + 13 / 4);
}

TEST(PawnStructure, SupportedAndConnectedPassersAddTheirExtras) {
  // d6 and e5: e5 supports d6 diagonally.
  const PawnInfo info = PawnsOf("4k3/8/3P4/4P3/8/8/8/4K3 w - - 0 1");
  const PawnColourInfo& white = info.Colour[White];
  EXPECT_EQ(white.SupportedPassedFiles, 1 << 3);
  // Only d6 has the other passer in its support mask.
  EXPECT_EQ(white.PassedMg, (484 + 332 + 683) + 146 / 4);
  EXPECT_EQ(white.PassedEg, (176 + 247 + 641) + 101 / 4);
}

TEST(PawnStructure, BackwardPawnPenalisedBehindTwoBlockedNeighbours) {
  const PawnInfo both = PawnsOf("4k3/8/8/1p1p4/1P1P4/8/2P5/4K3 w - - 0 1");
  const PawnInfo one = PawnsOf("4k3/8/8/3p4/1P1P4/8/2P5/4K3 w - - 0 1");
  EXPECT_EQ(both.BackwardMarks, Bit(2, 2));
  EXPECT_EQ(one.BackwardMarks, Bit(2, 2));
  // White's own terms differ only by the penalty of c2.
  EXPECT_EQ(both.Colour[White].ScoreMg - one.Colour[White].ScoreMg, -4);
  EXPECT_EQ(both.Colour[White].ScoreEg - one.Colour[White].ScoreEg, -9);
}

TEST(PawnStructure, HangingPairOnC4D4AgainstBAndEPawns) {
  const PawnInfo pair = PawnsOf("4k3/8/1p2p3/8/2PP4/8/8/4K3 w - - 0 1");
  const PawnInfo other = PawnsOf("4k3/8/p3p3/8/2PP4/8/8/4K3 w - - 0 1");
  EXPECT_EQ(pair.Colour[White].ScoreMg - other.Colour[White].ScoreMg, 7);
  EXPECT_EQ(pair.Colour[White].ScoreEg - other.Colour[White].ScoreEg, 171);
  const PawnInfo black = PawnsOf("4k3/8/8/2pp4/8/1P2P3/8/4K3 w - - 0 1");
  const PawnInfo blackOther = PawnsOf("4k3/8/8/2pp4/8/P3P3/8/4K3 w - - 0 1");
  EXPECT_EQ(black.Colour[Black].ScoreEg - blackOther.Colour[Black].ScoreEg, 171);
}

TEST(PawnStructure, CentreTypeFromTheDAndEPawns) {
  const struct {
    const char* Fen;
    unsigned Type;
  } cases[] = {
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", 1},
      {"4k3/8/8/8/3P4/8/8/4K3 w - - 0 1", 1},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 5},
      {"4k3/8/8/4p3/3P4/8/8/4K3 w - - 0 1", 4},   // d4 against e5
      {"4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1", 4},   // e4 against d5
      {"4k3/8/8/4p3/4P3/8/8/4K3 w - - 0 1", 3},   // e-pawns blocked
      {"4k3/8/3p4/8/3P4/8/8/4K3 w - - 0 1", 2},
      {"4k3/8/4p3/3p4/3P4/4P3/8/4K3 w - - 0 1", 3},  // d blocked only
      {"4k3/8/4p3/3pP3/3P4/8/8/4K3 w - - 0 1", 6},   // both blocked
  };
  for (const auto& c : cases) EXPECT_EQ(PawnsOf(c.Fen).CentreType, c.Type) << c.Fen;
}

TEST(PawnStructure, ColourMirrorSwapsTheTwoSides) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  std::vector<std::string> fens;
  for (const PerftCase& c : ReadPerftCases(path)) fens.push_back(c.Fen);
  fens.push_back("4k3/8/8/1p1p4/1P1P4/8/2P5/4K3 w - - 0 1");
  fens.push_back("4k3/8/1p2p3/8/2PP4/8/8/4K3 w - - 0 1");
  fens.push_back("4k3/pp3ppp/2p5/3P4/1P4P1/P7/5P1P/4K3 w - - 0 1");
  for (const std::string& fen : fens) {
    SCOPED_TRACE(fen);
    const Position pos = Load(fen.c_str());
    const Position mirror = Load(pos.GetMirroredFEN());
    PawnInfo a, b;
    EvaluatePawns(a, pos);
    EvaluatePawns(b, mirror);
    for (int c = 0; c < 2; ++c) {
      const PawnColourInfo& x = a.Colour[c];
      const PawnColourInfo& y = b.Colour[c ^ 1];
      Bitboard mirrored = 0;
      for (Bitboard p = x.PassedPawns; p;) mirrored |= SquareBit(PopLowestSquare(p) ^ 56);
      EXPECT_EQ(mirrored, y.PassedPawns);
      EXPECT_EQ(x.ScoreMg, y.ScoreMg);
      EXPECT_EQ(x.ScoreEg, y.ScoreEg);
      EXPECT_EQ(x.PassedMg, y.PassedMg);
      EXPECT_EQ(x.PassedEg, y.PassedEg);
      EXPECT_EQ(x.Files, y.Files);
      EXPECT_EQ(x.FrontRow, y.FrontRow);
      EXPECT_EQ(x.FileSpan, y.FileSpan);
      EXPECT_EQ(x.SupportedPassedFiles, y.SupportedPassedFiles);
      // Mirroring the ranks swaps the square colours.
      EXPECT_EQ(x.CentreWeight[0], y.CentreWeight[1]);
      EXPECT_EQ(x.CentreWeight[1], y.CentreWeight[0]);
      for (int f = 0; f < 8; ++f) EXPECT_EQ(x.MostAdvanced[f], y.MostAdvanced[f]);
    }
    EXPECT_EQ(a.CentreType, b.CentreType);
  }
}
