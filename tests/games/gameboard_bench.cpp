// The game board's perft speed beside the engine board's, in one run: the
// PGN import replays every move on the game board. Disabled among the tests;
// run it with
//   games_tests --gtest_also_run_disabled_tests --gtest_filter='*GameBoardBenchmark*'
#include <chrono>
#include <cstdio>

#include "engine/board_helpers.h"
#include "game_board_helpers.h"

namespace {

// The best of three runs: other work on the machine only ever slows a run.
template <typename Count>
double LeavesPerSecond(Count count, std::uint64_t& leaves) {
  double best = 0;
  for (int run = 0; run < 3; run++) {
    const auto start = std::chrono::steady_clock::now();
    leaves = count();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (leaves / seconds > best) best = leaves / seconds;
  }
  return best;
}

TEST(GameBoardBenchmark, DISABLED_PerftLeavesPerSecondBesideTheEngineBoard) {
  const struct {
    const char* Name;
    const char* Fen;
    int Depth;
  } runs[] = {
      {"start position", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 5},
      {"Kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 4},
  };
  std::printf("%-15s %5s %10s %16s %16s %7s\n", "position", "depth", "leaves", "game board/s", "engine board/s",
              "ratio");
  for (const auto& run : runs) {
    GameBoard board;
    ASSERT_FALSE(board.SetFen(run.Fen));
    Position pos = FromFen(run.Fen);
    std::uint64_t gameLeaves = 0, engineLeaves = 0;
    const double game = LeavesPerSecond([&] { return GamePerft(board, run.Depth); }, gameLeaves);
    const double engine = LeavesPerSecond([&] { return Perft(pos, run.Depth); }, engineLeaves);
    EXPECT_EQ(gameLeaves, engineLeaves);
    std::printf("%-15s %5d %10llu %16.0f %16.0f %7.2f\n", run.Name, run.Depth,
                static_cast<unsigned long long>(gameLeaves), game, engine, game / engine);
  }
}

}  // namespace
