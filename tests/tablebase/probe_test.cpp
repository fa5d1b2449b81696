// The probes on chosen positions: what they leave behind, what they refuse
// to know, and the distance of a win that a pawn move keeps.
#include <gtest/gtest.h>

#include <cstring>

#include "tablebase_helpers.h"

namespace {

class ProbeTest : public ::testing::Test {
protected:
  void SetUp() override { LoadSharedTables(); }
};

TEST_F(ProbeTest, ProbesLeaveThePositionAsTheyFoundIt) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRPvKR.rtbz");
  for (const char* fen : {"8/8/8/8/8/k7/2KRP3/5r2 w - - 12 40", "8/8/8/3pP3/8/8/8/K6k w - d6 0 1",
                          "8/8/8/3k4/8/8/8/KBN5 b - - 3 70"}) {
    ChessGame game;
    ASSERT_FALSE(game.SetFEN(fen));
    const std::string before = game.GetFEN();
    const KeyPair keys = game.Keys();
    const int ply = game.Ply, fifty = game.Fifty;
    const ChessGame saved = game;
    int success = 0;
    ProbeWdl(game, &success);
    ProbeDtz(game, &success);
    EXPECT_EQ(game.GetFEN(), before);
    EXPECT_EQ(game.Keys(), keys);
    EXPECT_EQ(game.Ply, ply);
    EXPECT_EQ(game.Fifty, fifty);
    EXPECT_EQ(0, std::memcmp(game.Board, saved.Board, sizeof game.Board));
    EXPECT_EQ(0, std::memcmp(game.PieceBB, saved.PieceBB, sizeof game.PieceBB));
  }
}

TEST_F(ProbeTest, CastlingRightsMakeTheResultUnknownNotADraw) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRvKR.rtbw");
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("r3k3/8/8/8/8/8/8/R3K3 w Qq - 0 1"));
  int success = 1;
  ProbeWdl(game, &success);
  EXPECT_EQ(success, 0);
  success = 1;
  ProbeDtz(game, &success);
  EXPECT_EQ(success, 0);
  EXPECT_FALSE(RootProbe(game));
  // The same men without the rights are known (the rook is taken).
  ASSERT_FALSE(game.SetFEN("r3k3/8/8/8/8/8/8/R3K3 w - - 0 1"));
  EXPECT_EQ(ProbeWdl(game, &success), 2);
  EXPECT_EQ(success, 2);
}

TEST_F(ProbeTest, WinKeptByAPawnMoveIsOnePlyFromZeroing) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRPvKR.rtbz");
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("8/8/8/8/8/k7/2KRP3/5r2 w - - 0 1"));
  int success = 0;
  EXPECT_EQ(ProbeDtz(game, &success), 1);
  EXPECT_EQ(success, 1);
}

TEST_F(ProbeTest, MissingMaterialFailsUnlessACaptureDecides) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQQvK.rtbw");
  // Two queens against a rook: no such table among the shared ones.
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("7r/8/8/3k4/8/8/8/KQQ5 w - - 0 1"));
  int success = 1;
  EXPECT_EQ(ProbeWdl(game, &success), 0);
  EXPECT_EQ(success, 0);
  // With the rook en prise the capture into a known table settles it.
  ASSERT_FALSE(game.SetFEN("8/8/8/3k4/8/2r5/8/KQQ5 w - - 0 1"));
  EXPECT_EQ(ProbeWdl(game, &success), 2);
  EXPECT_EQ(success, 2);
}

}  // namespace
