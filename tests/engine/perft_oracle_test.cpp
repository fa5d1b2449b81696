// Per-move perft counts of awkward positions against an independent engine
// installed on the system (skipped where it is absent, required under CI).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include "board_helpers.h"
#include "engine/movetext.h"
#include "other_program.h"
#include "shared_data.h"

namespace {

// "move: count" lines of the oracle's divided perft.
std::map<std::string, std::uint64_t> OracleDivide(const std::string& fen, int depth, bool chess960) {
  std::map<std::string, std::uint64_t> counts;
  const std::string command = std::string("printf '") + (chess960 ? "setoption name UCI_Chess960 value true\\n" : "") +
                              "position fen " + fen + "\\ngo perft " + std::to_string(depth) + "\\nquit\\n' | " +
                              StockfishPath() + " 2>/dev/null";
  std::istringstream output(RunOtherProgram(command));
  for (std::string line; std::getline(output, line);) {
    char move[16];
    unsigned long long nodes;
    if (std::sscanf(line.c_str(), "%15[a-h1-8qrbn]: %llu", move, &nodes) == 2) counts[move] = nodes;
  }
  return counts;
}

}  // namespace

TEST(PerftOracle, DividedCountsAgreeOnAwkwardPositions) {
  if (access(StockfishPath(), X_OK) != 0) {
    if (RunningUnderCi()) FAIL() << "oracle missing: " << StockfishPath();
    GTEST_SKIP() << "oracle not installed: " << StockfishPath();
  }
  const struct {
    const char* Fen;
    int Depth;
  } cases[] = {
      // En passant that would expose the king, promotions with check, pins.
      {"8/8/8/2k5/2pP4/8/B7/4K3 b - d3 0 3", 4},
      {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4},
      {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", 4},
      // Chess960: the king takes part in the rook's path and the reverse.
      {"1rk2r2/8/8/8/8/8/8/1RK2R2 w FBfb - 0 1", 3},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", 3},
      {"2r1kr2/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fen);
    Position pos;
    ASSERT_FALSE(pos.ParseFEN(c.Fen)) << pos.Message;
    const bool chess960 = pos.ChessVariant == VariantChess960;
    const auto expected = OracleDivide(c.Fen, c.Depth, chess960);
    RETURN_IF_OPPONENT_CRASHED();
    ASSERT_FALSE(expected.empty());
    std::map<std::string, std::uint64_t> ours;
    for (Move m : LegalMoves(pos)) {
      UndoRecord undo;
      ASSERT_TRUE(pos.MakeMove(m, undo));
      const std::uint64_t nodes = Perft(pos, c.Depth - 1);
      pos.UnmakeMove(undo);
      // The oracle writes Chess960 castling as the king taking its rook.
      std::string text = MoveToText(pos, m);
      if ((m & MoveCastle) && chess960) {
        const bool queenSide = FileOf(MoveTo(m)) == 2;
        const int rook = pos.CastleRookSquare[CastleRookSlot(pos.Side, queenSide)];
        text = std::string{static_cast<char>('a' + FileOf(MoveFrom(m))), static_cast<char>('0' + RankOf(MoveFrom(m))),
                           static_cast<char>('a' + FileOf(rook)), static_cast<char>('0' + RankOf(rook))};
      }
      ours[text] = nodes;
    }
    EXPECT_EQ(ours, expected);
  }
}
