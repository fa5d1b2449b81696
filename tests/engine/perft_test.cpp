// Move generation and make/unmake against the shared perft reference counts
// (standard chess and Chess960).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "board_helpers.h"
#include "shared_data.h"

TEST(Perft, StartPositionShallowCounts) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1")) << pos.Message;
  EXPECT_EQ(Perft(pos, 1), 20u);
  EXPECT_EQ(Perft(pos, 2), 400u);
  EXPECT_EQ(Perft(pos, 3), 8902u);
}

TEST(Perft, MatchesEveryReferenceCount) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  const auto cases = ReadPerftCases(path);
  ASSERT_FALSE(cases.empty());
  bool sawChess960 = false;
  for (const PerftCase& c : cases) {
    SCOPED_TRACE(c.Fen);
    Position pos;
    ASSERT_FALSE(pos.ParseFEN(c.Fen.c_str())) << pos.Message;
    EXPECT_EQ(pos.ChessVariant, c.Chess960 ? VariantChess960 : VariantNormal);
    sawChess960 |= c.Chess960;
    EXPECT_EQ(Perft(pos, c.Depth), c.Nodes);
  }
  EXPECT_TRUE(sawChess960);
}

// Speed, not correctness: run with --gtest_also_run_disabled_tests.
TEST(PerftBenchmark, DISABLED_LeafNodesPerSecond) {
  const struct {
    const char* Name;
    const char* Fen;
    int Depth;
  } runs[] = {
      {"start position", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 6},
      {"Kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 5},
  };
  for (const auto& run : runs) {
    Position pos;
    ASSERT_FALSE(pos.ParseFEN(run.Fen));
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t nodes = Perft(pos, run.Depth);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("perft %s depth %d: %llu leaf nodes in %.3f s, %.1f million per second\n", run.Name, run.Depth,
                static_cast<unsigned long long>(nodes), seconds, nodes / seconds / 1e6);
  }
}
