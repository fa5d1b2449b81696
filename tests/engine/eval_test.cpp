// The whole evaluation: colour symmetry and the value rules over a few
// hundred positions, the pawnless shortcut with its mop-up, the last steps
// (scaling, rounding, balance), and its speed and allocations.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "engine/attacks.h"
#include "engine/eval.h"
#include "engine/material.h"
#include "engine/pawns.h"
#include "engine/position.h"
#include "engine/settings.h"
#include "engine/zobrist.h"
#include "shared_data.h"

// Counts the allocations of this test program, to show that evaluating
// allocates nothing.
namespace {
std::atomic<long> Allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++Allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
// The nothrow forms too: the engine allocates its stacks with them, and every
// block must come from the same malloc that the deletes below free it with.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++Allocations;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
// Not inlined, so that GCC does not pair the free() with a new-expression
// and warn of a mismatch that the replacements above rule out.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

class EvalEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    MaterialTable::Build();
    ASSERT_FALSE(InitEval());
    ResetSettings();
  }
};

[[maybe_unused]] ::testing::Environment* const Eval = ::testing::AddGlobalTestEnvironment(new EvalEnvironment);

Position Load(const std::string& fen) {
  Position pos;
  EXPECT_FALSE(pos.ParseFEN(fen.c_str())) << fen << ": " << pos.Message;
  return pos;
}

int EvaluateFresh(const Position& pos, int thread = 0) {
  AttackMaps maps{};
  return Evaluate(pos, maps, thread);
}

// Endings and races from the recognisers' and the passed-pawn terms' cases.
const char* const EndgamePositions[] = {
    "4k3/8/8/8/8/8/8/4K3 w - - 0 1",
    "4k3/8/8/8/4N3/8/8/4K3 b - - 0 1",
    "8/8/8/8/8/p7/P1k5/K7 w - - 0 1",
    "1k6/8/8/P7/8/8/8/4K3 w - - 0 1",
    "8/8/8/4k3/4P3/8/8/4K3 w - - 0 1",
    "8/8/8/4k3/4P3/8/8/4K3 b - - 0 1",
    "4k3/4P3/4K3/8/8/8/8/8 w - - 0 1",
    "8/8/8/8/8/4k3/8/4K3 b - - 0 1",
    "8/4k3/8/8/8/8/8/4K3 b - - 0 1",
    "4k3/8/8/8/8/8/8/R3K1n1 w - - 0 1",
    "r3k3/8/8/8/8/8/8/R3K1n1 b - - 0 1",
    "1r6/8/8/8/8/4k3/P7/R3K3 w - - 0 1",
    "6k1/R7/P7/8/8/8/r7/6K1 b - - 0 1",
    "4k3/8/8/8/8/8/p7/R3K3 w - - 0 1",
    "8/8/4k3/8/8/2B5/1P6/4K3 w - - 0 1",
    "8/6k1/8/8/8/8/P7/1B2K3 w - - 0 1",
    "7k/8/8/8/P7/8/8/K7 w - - 0 1",
    "7k/8/8/8/P7/8/8/K7 b - - 0 1",
    "8/8/8/P6k/8/8/7p/K7 w - - 0 1",
    "k7/8/8/6P1/1p6/8/8/7K w - - 0 1",
    "k7/8/8/6P1/1p6/8/8/7K b - - 0 1",
    "8/8/1k6/8/8/3K4/3P4/8 w - - 0 1",
    "8/8/8/3k4/8/3PK3/8/8 b - - 0 1",
    "8/2k5/8/8/8/3K4/1P2P3/8 w - - 0 1",
    "8/8/8/8/8/2k5/6PP/6K1 b - - 0 1",
    "6k1/8/8/8/r7/8/5PP1/6K1 w - - 0 1",
    "3r2k1/8/8/8/8/8/1PP5/6K1 b - - 0 1",
    "8/5pk1/6p1/8/8/1P6/P4K2/8 w - - 0 1",
    "8/8/5kp1/8/3K4/8/P7/8 b - - 0 1",
    "4k3/8/8/8/8/8/8/3QK3 w - - 0 1",
    "7k/8/8/8/8/8/8/2B1K1N1 w - - 0 1",
    "7k/8/8/8/8/8/8/NN2K3 w - - 0 1",
    "4k3/8/8/8/8/8/8/R3K3 b - - 0 1",
    "4k3/3b4/8/8/8/8/8/R3K3 w - - 0 1",
    "2b1k3/8/8/8/8/8/8/4KN2 w - - 0 1",
    "3qk3/8/8/8/8/8/8/3QK3 w - - 0 1",
    "5k2/8/5P2/5K2/8/8/8/r6R w - - 0 1",
    "8/5p2/5k2/8/2B5/5K2/8/8 w - - 0 1",
    "8/p7/8/8/8/8/1B3k2/K7 b - - 0 1",
};

// The perft positions, short random legal walks from each, and the endings.
std::vector<std::string> TestPositions() {
  std::vector<std::string> fens;
  const std::filesystem::path path = SharedDataPath("data/perft.txt");
  std::vector<std::string> starts;
  if (std::filesystem::exists(path))
    for (const PerftCase& c : ReadPerftCases(path))
      if (!c.Chess960) starts.push_back(c.Fen);
  for (const char* fen : EndgamePositions) starts.push_back(fen);
  std::mt19937 random(20180601);
  for (const std::string& start : starts) {
    fens.push_back(start);
    for (int walk = 0; walk < 6; ++walk) {
      Position pos = Load(start);
      const int plies = 1 + walk * 3;
      for (int ply = 0; ply < plies; ++ply) {
        const std::vector<Move> moves = LegalMoves(pos);
        if (moves.empty()) break;
        UndoRecord undo;
        pos.MakeMove(moves[random() % moves.size()], undo);
      }
      fens.push_back(pos.GetFEN());
    }
  }
  return fens;
}

const std::vector<std::string>& Positions() {
  static const std::vector<std::string> fens = TestPositions();
  return fens;
}

// The bishop mobility counts a home area that is not the colour mirror of
// the other side's (Black's includes d4 and e4); positions where a bishop
// reaches those squares are exempt from the symmetry test.
bool TouchesAsymmetricBishopArea(const Position& pos) {
  AttackMaps maps{};
  pos.BuildAttackMaps(maps);
  const Bitboard blackExtra = SquareBit(MakeSquare(3, 4)) | SquareBit(MakeSquare(4, 4));
  const Bitboard whiteMirror = SquareBit(MakeSquare(3, 3)) | SquareBit(MakeSquare(4, 3));
  return (maps.Bishops[Black] & blackExtra) || (maps.Bishops[White] & whiteMirror);
}

int MaterialScore(const Position& pos) {
  int blackPhase, whitePhase;
  return pos.GetMaterialScore(blackPhase, whitePhase);
}

}  // namespace

TEST(Evaluate, ColourMirrorGivesTheSameScore) {
  int compared = 0;
  for (const std::string& fen : Positions()) {
    const Position pos = Load(fen);
    const Position mirror = Load(pos.GetMirroredFEN());
    if (TouchesAsymmetricBishopArea(pos)) continue;
    ++compared;
    EXPECT_EQ(EvaluateFresh(pos), EvaluateFresh(mirror)) << fen << "\nmirror " << pos.GetMirroredFEN();
  }
  EXPECT_GE(compared, 150);
}

TEST(Evaluate, ValueRulesHoldOverTheTestPositions) {
  for (const std::string& fen : Positions()) {
    SCOPED_TRACE(fen);
    const Position pos = Load(fen);
    const int score = EvaluateFresh(pos);
    const int m = MaterialScore(pos);
    const bool pawnless = pos.CountOf(PieceCode(White, Pawn)) + pos.CountOf(PieceCode(Black, Pawn)) == 0;
    if (pawnless && std::abs(m) < 500) {
      EXPECT_EQ(score, 0);
    } else if (pawnless && std::abs(m) > 4500) {
      const int r = EvaluateMopUp(pos, m);
      EXPECT_EQ(score, r == 0 ? 0 : (pos.Side == White ? m + r : -(m + r)));
    } else if (score == 0) {
      PawnInfo pawns;
      EvaluatePawns(pawns, pos);
      EXPECT_TRUE(pos.CannotWin(White, pawns) || pos.CannotWin(Black, pawns)) << "0 without a recognised draw";
    } else {
      EXPECT_TRUE(score == 8 || score % 16 == 0) << score;
    }
  }
}

TEST(Evaluate, SmallPawnlessMaterialIsADraw) {
  for (const char* fen : {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "r3k3/8/8/8/8/8/8/R3K3 w - - 0 1",
                          "4k3/8/8/3n4/8/8/8/2B1K3 b - - 0 1"})
    EXPECT_EQ(EvaluateFresh(Load(fen)), 0) << fen;
}

TEST(Evaluate, LoneKingAgainstQueenIsMaterialPlusMopUpUnrounded) {
  const Position white = Load("4k3/8/8/8/8/8/8/3QK3 w - - 0 1");
  const Position black = Load("4k3/8/8/8/8/8/8/3QK3 b - - 0 1");
  const int m = MaterialScore(white);
  const int r = EvaluateMopUp(white, m);
  EXPECT_GT(r, 0);
  EXPECT_EQ(EvaluateFresh(white), m + r);
  EXPECT_EQ(EvaluateFresh(black), -(m + r));
  // Nearer kings and the lone king at the edge both weigh more.
  EXPECT_GT(EvaluateMopUp(Load("4k3/8/4K3/8/8/8/8/3Q4 w - - 0 1"), m), r);
  EXPECT_LT(EvaluateMopUp(Load("8/8/8/4k3/8/8/8/3QK3 w - - 0 1"), m), r);
}

TEST(Evaluate, MopUpDrawsOnlyTrueDraws) {
  // Stalemate: Black to move, not in check, nowhere to go.
  EXPECT_EQ(EvaluateFresh(Load("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1")), 0);
  // The same squares covered with White to move is no draw.
  EXPECT_GT(EvaluateFresh(Load("7k/5Q2/6K1/8/8/8/8/8 w - - 0 1")), 4500);
  // Checkmate is a loss for the mated side, not a draw.
  EXPECT_LT(EvaluateFresh(Load("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1")), -4500);
  // Two knights cannot force mate.
  EXPECT_EQ(EvaluateFresh(Load("7k/8/8/8/8/8/8/NN2K3 w - - 0 1")), 0);
  EXPECT_EQ(EvaluateFresh(Load("7K/8/8/8/8/8/8/nn2k3 b - - 0 1")), 0);
}

TEST(Evaluate, BishopAndKnightDriveToTheBishopsCorner) {
  // Dark-squared bishop on c1: h8 is its corner, a8 the wrong one.
  const int right = EvaluateFresh(Load("7k/8/8/8/8/8/8/2B1K1N1 w - - 0 1"));
  const int wrong = EvaluateFresh(Load("k7/8/8/8/8/8/8/2B1K1N1 w - - 0 1"));
  EXPECT_GT(right, wrong);
  const int m = MaterialScore(Load("7k/8/8/8/8/8/8/2B1K1N1 w - - 0 1"));
  EXPECT_EQ(right - m, 1599 - 133 * 7 + 1064);
  EXPECT_EQ(wrong - m, 443 - 133 * 7 + 1064);
}

TEST(Evaluate, FillsTheCallersAttackMaps) {
  const Position pos = Load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  AttackMaps maps{};
  maps.Valid = false;
  Evaluate(pos, maps, 0);
  AttackMaps built{};
  pos.BuildAttackMaps(built);
  EXPECT_TRUE(maps.Valid);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(maps.All[c], built.All[c]);
    EXPECT_EQ(maps.Pawns[c], built.Pawns[c]);
    EXPECT_EQ(maps.Queens[c], built.Queens[c]);
  }
}

TEST(Evaluate, CachedAndUncachedPawnsAgree) {
  // Thread 7 has no table: its pawn records are computed every time.
  ASSERT_EQ(PawnHashes[7].Table, nullptr);
  for (const std::string& fen : Positions()) {
    const Position pos = Load(fen);
    const int first = EvaluateFresh(pos, 0);
    EXPECT_EQ(EvaluateFresh(pos, 0), first) << fen;
    EXPECT_EQ(EvaluateFresh(pos, 7), first) << fen;
  }
}

TEST(Evaluate, UnstoppablePasserOutweighsACaughtOne) {
  // a4 against a king on h8 runs home; with the king on c8 it is caught.
  const int runs = EvaluateFresh(Load("7k/8/8/8/P7/8/8/K7 w - - 0 1"));
  const int caught = EvaluateFresh(Load("2k5/8/8/8/P7/8/8/K7 w - - 0 1"));
  EXPECT_GT(runs, 3000);
  EXPECT_GT(runs, caught + 2000);
  // The race from Black's side, with Black to move, mirrors it.
  EXPECT_EQ(EvaluateFresh(Load("k7/8/8/p7/8/8/8/7K b - - 0 1")), runs);
}

TEST(Evaluate, PawnRacesGoToTheSideAheadOrQueeningWithCheck) {
  // g5 against b4, both out of the defending kings' reach, White to move.
  // Equal distances: White queens on g8 first, checking the king on a8.
  const int withCheck = EvaluateFresh(Load("k7/8/8/6P1/1p6/8/8/7K w - - 0 1"));
  const int withoutCheck = EvaluateFresh(Load("8/k7/8/6P1/1p6/8/8/7K w - - 0 1"));
  EXPECT_GT(withCheck, 1500);
  EXPECT_GT(withCheck, withoutCheck + 1500);
  // Two tempi ahead wins the race whichever the side.
  EXPECT_GT(EvaluateFresh(Load("k7/8/6P1/8/1p6/8/8/7K w - - 0 1")), 2500);
  EXPECT_LT(EvaluateFresh(Load("k7/8/8/6P1/8/1p6/8/7K w - - 0 1")), -2500);
}

TEST(Evaluate, InitEvalPointsThePruningHookAtTheMargins) {
  ASSERT_FALSE(InitEval());
  ASSERT_NE(SettingsHooks::PruneMarginsChanged, nullptr);
  Settings::PruneSecure = 200;
  SettingsHooks::PruneMarginsChanged();
  EXPECT_EQ(AlphaMargin[0][1], 1033 + 1346 * 105 * 2 / 100);
  ResetSettings();
  ScaleEvalWeights();
  EXPECT_EQ(AlphaMargin[0][1], 2446);
}

TEST(FinishScore, ScalesRoundsAndBalances) {
  const struct {
    int White, Black, Class, Side, Expected;
  } cases[] = {
      {1000, 0, 7, White, 64},      // 1000 - min(4500, 937) = 63, then up to 64
      {0, 1000, 7, White, -64},
      {0, 1000, 7, Black, 64},
      {9000, 0, 7, White, 4512},    // the cap: 9000 - 4500
      {3000, 0, 1, White, 1504},    // halved: 1500
      {500, 500, 0, White, 8},
      {500, 500, 0, Black, 8},      // the side to move always gets +8
      {32, 0, 0, White, 48},
      {0, 32, 0, White, -48},
      {16, 0, 0, White, 32},
      {16, 0, 0, Black, -32},
      {1, 0, 0, White, 16},
      {15, 0, 0, White, 16},
      {0, 1, 0, White, -16},
      {100, 0, 9, White, 112},      // no such class: left alone
  };
  for (const auto& c : cases)
    EXPECT_EQ(FinishScore(c.White, c.Black, c.Class, c.Side), c.Expected)
        << c.White << " " << c.Black << " class " << c.Class << " side " << c.Side;
}

TEST(Evaluate, AllocatesNothing) {
  std::vector<Position> positions;
  for (const std::string& fen : Positions()) positions.push_back(Load(fen));
  for (const Position& pos : positions) EvaluateFresh(pos);
  const long before = Allocations.load();
  for (int round = 0; round < 3; ++round)
    for (const Position& pos : positions) EvaluateFresh(pos, round);
  EXPECT_EQ(Allocations.load(), before);
}

// Speed, not correctness: run with --gtest_also_run_disabled_tests.
TEST(EvaluateBenchmark, DISABLED_EvaluationsPerSecond) {
  std::vector<Position> positions;
  for (const std::string& fen : Positions()) positions.push_back(Load(fen));
  const int rounds = 2000;
  long long sum = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round)
    for (const Position& pos : positions) sum += EvaluateFresh(pos);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double count = static_cast<double>(rounds) * static_cast<double>(positions.size());
  std::printf("%zu positions x %d rounds: %.0f evaluations per second (checksum %lld)\n", positions.size(), rounds,
              count / seconds, sum);
}
