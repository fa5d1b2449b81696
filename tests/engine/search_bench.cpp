// The search benchmark: time to depth 12 and nodes per second on one thread,
// for the start position and a few middlegame positions. Disabled among the
// tests; run it with
//   engine_tests --gtest_also_run_disabled_tests --gtest_filter='*SearchBenchmark*'
#include <chrono>
#include <cstdio>

#include "search_fixture.h"

namespace {

constexpr const char* BenchmarkPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8",
    "2r2rk1/pp1bqppp/2n1pn2/3p4/3P4/2PBPN2/P2N1PPP/R2Q1RK1 w - - 0 12",
};

TEST_F(SearchTest, DISABLED_SearchBenchmark) {
  constexpr int Depth = 12;
  std::uint64_t totalNodes = 0;
  double totalSeconds = 0;
  std::printf("%-75s %5s %12s %9s %10s\n", "position", "depth", "nodes", "seconds", "nps");
  for (const char* fen : BenchmarkPositions) {
    ChessGame game = FromFen(fen);
    TranspositionTable::Clear();
    const auto start = std::chrono::steady_clock::now();
    ThinkToDepth(game, Depth);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::uint64_t nodes = Statistics.InnerNodes() + Statistics.QNodes();
    totalNodes += nodes;
    totalSeconds += seconds;
    std::printf("%-75s %5d %12llu %9.3f %10.0f  %s\n", fen, static_cast<int>(Statistics[0].Depth),
                static_cast<unsigned long long>(nodes), seconds, nodes / seconds, Text(game, BestMove).c_str());
  }
  std::printf("total %llu nodes in %.3f s: %.0f nodes per second\n", static_cast<unsigned long long>(totalNodes),
              totalSeconds, totalNodes / totalSeconds);
}

}  // namespace
