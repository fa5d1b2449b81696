// WDL and DTZ of random positions of every shared table against fathom, an
// independent prober of the same files.
#include <gtest/gtest.h>

#include "tablebase_helpers.h"

namespace {

TEST(ProbeOracle, WdlAndDtzAgreeWithFathomOnEveryTable) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KQvK.rtbw");
  REQUIRE_FATHOM();
  LoadSharedTables();
  std::mt19937 random(20240611);
  int compared = 0, enPassant = 0;
  for (const std::string& name : TableNames(tables.parent_path())) {
    int done = 0;
    for (int attempt = 0; attempt < 2000 && done < 80; attempt++) {
      std::string fen;
      if (!RandomFen(name, random, fen)) continue;
      const OracleResult oracle = AskFathom(fen);
      RETURN_IF_OPPONENT_CRASHED();
      if (!oracle.Valid) continue;
      ChessGame game;
      ASSERT_FALSE(game.SetFEN(fen.c_str())) << fen;
      // fathom reports mate and stalemate in its own terms; they are no
      // table look-ups anyway.
      if (LegalMoveCount(game) == 0) continue;
      int success = 0;
      const int wdl = ProbeWdl(game, &success);
      ASSERT_NE(success, 0) << fen;
      EXPECT_EQ(wdl, oracle.Wdl) << fen;
      const int dtz = ProbeDtz(game, &success);
      ASSERT_NE(success, 0) << fen;
      EXPECT_EQ(dtz, oracle.Dtz) << fen;
      if (fen.find(" - - ") == std::string::npos) enPassant++;
      done++;
    }
    EXPECT_GE(done, 40) << name;
    compared += done;
  }
  EXPECT_GT(enPassant, 0);
  RecordProperty("positions", compared);
}

}  // namespace
