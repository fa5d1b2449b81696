// The king terms and the space term, and the colour symmetry of everything
// the piece and king terms add up.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "engine/attacks.h"
#include "engine/kingsafety.h"
#include "engine/settings.h"
#include "evalstate_helpers.h"
#include "shared_data.h"

namespace {

// Restores the default percentages whatever a test sets.
class KingTerms : public ::testing::Test {
protected:
  void TearDown() override { ResetSettings(); }
};

// Sets KingShield and evaluates.
std::unique_ptr<EvalSetup> WithShield(const char* fen, int percent) {
  Settings::KingShield = percent;
  auto setup = SetUpFullEval(fen);
  Settings::KingShield = 100;
  return setup;
}

TEST_F(KingTerms, KingInTheEnemyHalfHasNoShelter) {
  // White king e5, black king e8; the shelter term is the only one that
  // moves with KingShield, so its value shows in the difference.
  const char* fen = "4k3/8/8/4K3/8/8/8/8 w - - 0 1";
  const auto full = WithShield(fen, 100), doubled = WithShield(fen, 200), quarter = WithShield(fen, 25);
  EXPECT_EQ(doubled->State.MG[White] - full->State.MG[White], -575);
  EXPECT_EQ(doubled->State.EG[White] - full->State.EG[White], 60);
  // -575 x 25 / 100 truncates to -143, 60 x 25 / 100 is 15.
  EXPECT_EQ(full->State.MG[White] - quarter->State.MG[White], -575 - -143);
  EXPECT_EQ(full->State.EG[White] - quarter->State.EG[White], 60 - 15);
}

TEST_F(KingTerms, ShelterIndexCountsPawnsInFrontOfTheKing) {
  struct Case {
    const char* Name;
    const char* Fen;
    int Colour;
    int Index;
  };
  const Case cases[] = {
      {"bare king on its own half", "4k3/8/8/8/8/8/8/6K1 w - - 0 1", White, 1},
      // f2 g2 h2 one rank ahead, no enemy pawns there, no enemy heavy pieces
      // (m = 2): 1 + 2 x 3 x 4.
      {"three pawns on the second rank", "4k3/8/8/8/8/8/5PPP/6K1 w - - 0 1", White, 25},
      // The same with black pawns on f, g and h: 1 + 2 x 12 as well.
      {"pawns facing enemy pawns", "4k3/5ppp/8/8/8/8/5PPP/6K1 w - - 0 1", White, 25},
      // An enemy queen makes m = 1 on files without enemy pawns: 1 + 12.
      {"enemy queen halves open files", "4k2q/8/8/8/8/8/5PPP/6K1 w - - 0 1", White, 13},
      // g3 is two ranks ahead (2), h4 three (1), f2 one (4): 1 + 2 x 7.
      {"advanced shelter", "4k3/8/8/8/7P/6P1/5P2/6K1 w - - 0 1", White, 15},
      // Pawns behind the king do not count.
      {"pawns behind the king", "4k3/8/8/8/8/6K1/5PPP/8 w - - 0 1", White, 1},
      // Mirror for black.
      {"black king behind three pawns", "6k1/5ppp/8/8/8/8/8/4K3 b - - 0 1", Black, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto full = WithShield(c.Fen, 100), doubled = WithShield(c.Fen, 200);
    EXPECT_EQ(doubled->State.MG[c.Colour] - full->State.MG[c.Colour], KingShieldMG[c.Index]);
    EXPECT_EQ(doubled->State.EG[c.Colour] - full->State.EG[c.Colour], KingShieldEG[c.Index]);
  }
}

TEST_F(KingTerms, CastlingRightsAddTheirBonus) {
  const char* none = "4k3/8/8/8/8/8/8/R3K2R w - - 0 1";
  const auto base = SetUpFullEval(none);
  const struct {
    const char* Fen;
    int Bonus;
  } cases[] = {{"4k3/8/8/8/8/8/8/R3K2R w K - 0 1", 228},
               {"4k3/8/8/8/8/8/8/R3K2R w Q - 0 1", 19},
               {"4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1", 357}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fen);
    const auto with = SetUpFullEval(c.Fen);
    EXPECT_EQ(with->State.MG[White] - base->State.MG[White], c.Bonus);
    EXPECT_EQ(with->State.EG[White], base->State.EG[White]);
  }
}

// Four white pieces around the black king, with and without a white queen.
constexpr const char* AttackedKing = "r4rk1/ppp2ppp/8/4N1B1/8/3B4/PPP2PPP/4QRK1 w - - 0 1";
constexpr const char* AttackedKingNoQueen = "r4rk1/ppp2ppp/8/4N1B1/8/3B4/PPP2PPP/5RK1 w - - 0 1";

TEST_F(KingTerms, NoDangerWithoutAnEnemyQueen) {
  const auto withQueen = SetUpFullEval(AttackedKing);
  EXPECT_GT(withQueen->State.Attackers[White], 0);
  EXPECT_GT(withQueen->State.KingDanger[Black], 0);
  const auto noQueen = SetUpFullEval(AttackedKingNoQueen);
  EXPECT_GE(noQueen->State.Attackers[White], 2);
  EXPECT_EQ(noQueen->State.KingDanger[Black], 0);
}

TEST_F(KingTerms, KingSafetyPercentScalesDanger) {
  const auto normal = SetUpFullEval(AttackedKing);
  Settings::KingSafety = 200;
  const auto doubled = SetUpFullEval(AttackedKing);
  Settings::KingSafety = 50;
  const auto halved = SetUpFullEval(AttackedKing);
  const int danger = normal->State.KingDanger[Black];
  ASSERT_GT(danger, 0);
  EXPECT_EQ(doubled->State.KingDanger[Black], 2 * danger);
  EXPECT_EQ(halved->State.KingDanger[Black], danger * 50 / 100);
  // The percentage touches nothing else.
  EXPECT_EQ(doubled->State.MG[Black], normal->State.MG[Black]);
  EXPECT_EQ(doubled->State.EG[Black], normal->State.EG[Black]);
}

TEST_F(KingTerms, QueenMateThreatCountsOnlyWithTheAttackerToMove) {
  // Qg4-g2 backed by the b7 bishop would leave Kg1 without f1 or h1.
  const auto blackToMove = SetUpFullEval("4k3/1b6/8/8/6q1/8/5PPP/6K1 b - - 0 1");
  const auto whiteToMove = SetUpFullEval("4k3/1b6/8/8/6q1/8/5PPP/6K1 w - - 0 1");
  EXPECT_EQ(blackToMove->State.MG[White] - whiteToMove->State.MG[White], -9639);
  // A white rook on g3 bars the queen's way and guards g2: no threat.
  const auto guarded = SetUpFullEval("4k3/1b6/8/8/6q1/6R1/5PPP/6K1 b - - 0 1");
  const auto guardedWhite = SetUpFullEval("4k3/1b6/8/8/6q1/6R1/5PPP/6K1 w - - 0 1");
  EXPECT_EQ(guarded->State.MG[White], guardedWhite->State.MG[White]);
}

TEST_F(KingTerms, SpaceCountsSafeSquaresAndThoseBehindPawns) {
  // Kings on a1 and a8 keep shelter and storm away from the d- and e-pawns:
  // twelve safe squares without them, ten plus four behind them with them.
  const auto empty = SetUpFullEval("k7/8/8/8/8/8/8/K7 w - - 0 1");
  const auto pawns = SetUpFullEval("k7/8/8/8/3PP3/8/8/K7 w - - 0 1");
  EXPECT_EQ(pawns->State.MG[White] - empty->State.MG[White], SpaceMG[14] - SpaceMG[12]);
  EXPECT_EQ(pawns->State.EG[White] - empty->State.EG[White], SpaceEG[14] - SpaceEG[12]);
  // A black knight on d5 takes c3, e3 and f4, which nothing of White's
  // guards.
  const auto knight = SetUpFullEval("k7/8/8/3n4/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(knight->State.MG[White] - empty->State.MG[White], SpaceMG[9] - SpaceMG[12]);
}

TEST(ChosenKingTables, KeepTheGivenValuesAndTheirShape) {
  EXPECT_EQ(KingShieldMG[0], -575);
  EXPECT_EQ(KingShieldEG[0], 60);
  EXPECT_EQ(KingShieldMG[39], 209);
  EXPECT_EQ(KingShieldEG[39], 82);
  for (int i = 1; i < 40; ++i) EXPECT_GE(KingShieldMG[i], KingShieldMG[i - 1]) << i;
  EXPECT_EQ(KingAttack[0], 0);
  for (int i = 1; i < 120; ++i) EXPECT_GE(KingAttack[i], KingAttack[i - 1]) << i;
  // Convex at first: the early steps grow.
  for (int i = 2; i < 20; ++i) EXPECT_GE(KingAttack[i] - KingAttack[i - 1], KingAttack[i - 1] - KingAttack[i - 2]);
  for (int n = 1; n < 25; ++n) EXPECT_GE(SpaceMG[n], SpaceMG[n - 1]) << n;
}

// Positions for the symmetry test: a fixed set, the shared perft positions,
// and short random walks from all of them.
std::vector<std::string> SymmetryPositions(const std::filesystem::path& perft) {
  std::vector<std::string> bases = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 0 8",
      "r4rk1/ppp2ppp/8/4N1B1/8/3B4/PPP2PPP/4QRK1 w - - 0 1",
      "2r2rk1/1bqnbppp/p2ppn2/1p6/3NP3/1BN1BP2/PPPQ2PP/2KR3R w - - 0 14",
      "r2q1rk1/pb1nbppp/1p2pn2/2pp4/2PP4/1PN1PN2/PB1QBPPP/R4RK1 b - - 0 10",
      "4k3/1b6/8/8/6q1/8/5PPP/6K1 b - - 0 1",
      "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1",
      "8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
  };
  for (const PerftCase& c : ReadPerftCases(perft)) bases.push_back(c.Fen);

  std::vector<std::string> positions = bases;
  std::mt19937 random(20240611);
  auto pos = std::make_unique<Position>();
  for (const std::string& fen : bases)
    for (int walk = 0; walk < 8; ++walk) {
      if (pos->ParseFEN(fen.c_str())) break;
      const int length = 1 + static_cast<int>(random() % 12);
      for (int ply = 0; ply < length; ++ply) {
        const std::vector<Move> moves = LegalMoves(*pos);
        if (moves.empty()) break;
        UndoRecord undo;
        pos->MakeMove(moves[random() % moves.size()], undo);
      }
      positions.push_back(pos->GetFEN());
    }
  return positions;
}

// Black's bishops count two more home squares (d4, e4) than White's
// mirrored; a position where a bishop reaches one of those squares or their
// mirror images is not symmetric by design.
bool BishopReachesAsymmetricSquare(const Position& pos) {
  const Bitboard squares = SquareBit(35) | SquareBit(36) | SquareBit(27) | SquareBit(28);  // d4 e4 d5 e5
  for (int colour = White; colour <= Black; ++colour) {
    const PieceSquares& bishops = pos.PieceList[PieceCode(colour, Bishop)];
    for (int i = 0; i < bishops.Count; ++i)
      if (BishopAttacksFrom(bishops.Squares[i], pos.Occupied) & ~pos.ColourBB[colour] & squares) return true;
  }
  return false;
}

TEST(EvaluationTermsSymmetry, MirroredPositionGivesTheOtherColourTheSameTerms) {
  // The fixed set alone is too few positions for the count asked below.
  REQUIRE_SHARED_FILE(perft, "data/perft.txt");
  int compared = 0;
  for (const std::string& fen : SymmetryPositions(perft)) {
    SCOPED_TRACE(fen);
    const auto original = SetUpFullEval(fen);
    if (BishopReachesAsymmetricSquare(original->Pos)) continue;
    const std::string mirroredFen = original->Pos.GetMirroredFEN();
    const auto mirrored = SetUpFullEval(mirroredFen);
    SCOPED_TRACE(mirroredFen);
    const EvalState& a = original->State;
    const EvalState& b = mirrored->State;
    for (int colour = White; colour <= Black; ++colour) {
      const int other = colour ^ 1;
      EXPECT_EQ(a.MG[colour], b.MG[other]);
      EXPECT_EQ(a.EG[colour], b.EG[other]);
      EXPECT_EQ(a.KingDanger[colour], b.KingDanger[other]);
      EXPECT_EQ(a.Attackers[colour], b.Attackers[other]);
      EXPECT_EQ(a.AttackWeight[colour], b.AttackWeight[other]);
      EXPECT_EQ(a.Adjacent[colour], b.Adjacent[other]);
      EXPECT_EQ(a.Defence[colour], b.Defence[other]);
    }
    ++compared;
  }
  EXPECT_GE(compared, 60);
}

}  // namespace
