// The game board's moves: the list order (game records store places in it,
// so these goldens were worked out by hand from the generation rules), perft
// against the shared reference counts, castling forms, SAN out and in.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "game_board_helpers.h"
#include "shared_data.h"

namespace {

using Texts = std::vector<std::string>;

TEST(GameBoardOrder, ListsMovesInTheFrozenOrder) {
  const struct {
    const char* Name;
    const char* Fen;
    Texts Expected;
  } cases[] = {
      {"start position: pawns a2..h2 (push, double push), then the knights",
       "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
       {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3", "d2d4", "e2e3", "e2e4",
        "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"}},
      {"castling first, A-side before H-side", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
       {"a1a1", "h1h1", "a1a2", "a1a3", "a1a4", "a1a5", "a1a6", "a1a7", "a1a8", "a1b1", "a1c1", "a1d1",
        "e1e2", "e1f2", "e1d2", "e1f1", "e1d1", "h1h2", "h1h3", "h1h4", "h1h5", "h1h6", "h1h7", "h1h8",
        "h1g1", "h1f1"}},
      {"en passant after castling, from the a-file side first", "4k3/8/8/2PpP3/8/8/8/4K3 w - d6 0 1",
       {"c5d6", "e5d6", "c5c6", "e5e6", "e1e2", "e1f2", "e1d2", "e1f1", "e1d1"}},
      {"white promotions Q, R, B, N; the push before the captures", "2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1",
       {"b7b8q", "b7b8r", "b7b8b", "b7b8n", "b7c8q", "b7c8r", "b7c8b", "b7c8n",
        "e1e2", "e1f2", "e1d2", "e1f1", "e1d1"}},
      {"black promotions: push, then the capture towards h, then towards a", "4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1",
       {"e8e7", "e8d7", "e8f7", "e8f8", "e8d8", "b2b1q", "b2b1r", "b2b1b", "b2b1n", "b2a1q", "b2a1r", "b2a1b",
        "b2a1n"}},
      {"queen: diagonals then lines, each ray in table order; knight offsets", "k7/8/8/8/3Q4/8/8/1N5K w - - 0 1",
       {"d4c3", "d4b2", "d4a1", "d4e5", "d4f6", "d4g7", "d4h8", "d4e3", "d4f2", "d4g1", "d4c5", "d4b6", "d4a7",
        "d4d3", "d4d2", "d4d1", "d4d5", "d4d6", "d4d7", "d4d8", "d4e4", "d4f4", "d4g4", "d4h4", "d4c4", "d4b4",
        "d4a4", "b1a3", "b1d2", "b1c3", "h1h2", "h1g2", "h1g1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    GameBoard board;
    ASSERT_FALSE(board.SetFen(c.Fen));
    EXPECT_EQ(ListTexts(board), c.Expected);
  }
  GameBoard board;
  GameMove record;
  EXPECT_EQ(board.PlayMove(CoordinateMove("e2e4"), record), 10);
  EXPECT_EQ(record.Place, 10);
}

TEST(GameBoardPerft, StartPositionShallowCounts) {
  GameBoard board;
  EXPECT_EQ(GamePerft(board, 1), 20u);
  EXPECT_EQ(GamePerft(board, 2), 400u);
  EXPECT_EQ(GamePerft(board, 3), 8902u);
  EXPECT_EQ(std::string(board.GetFen()), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
}

// PlayMove replaces the board's list by the next position's: a walk that
// plays moves copies the list first, as the standard library copies any
// range.
std::uint64_t CopyingPerft(GameBoard& board, int depth) {
  if (!board.IsMoveListBuilt() && board.GenerateMoves() != MoveListResult::Complete) return 0;
  const std::vector moves(board.Moves.begin(), board.Moves.end());
  std::uint64_t nodes = 0;
  for (const GameMove& move : moves) {
    GameMove record;
    if (!board.PlayMove(move, record)) continue;
    nodes += depth <= 1 ? 1 : CopyingPerft(board, depth - 1);
    board.UnmakeMove(record);
  }
  return nodes;
}

TEST(GameBoardPerft, AWalkThatCopiesTheListWithTheStandardLibraryCountsRight) {
  static_assert(std::forward_iterator<GameMoveList::Iterator>);
  GameBoard board;
  ASSERT_TRUE(board.IsMoveListBuilt());
  EXPECT_EQ(std::distance(board.Moves.begin(), board.Moves.end()), 20);
  const auto knight = std::find_if(board.Moves.begin(), board.Moves.end(),
                                   [](const GameMove& move) { return move.From == 57; });
  ASSERT_NE(knight, board.Moves.end());
  EXPECT_EQ((*knight).To, 40);  // b1a3, the knight's first target
  const std::uint64_t expected[] = {20, 400, 8902, 197281};
  for (int depth = 1; depth <= 4; depth++) EXPECT_EQ(CopyingPerft(board, depth), expected[depth - 1]) << depth;
  EXPECT_EQ(std::string(board.GetFen()), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
}

struct PerftLine {
  std::string Fen;
  int Depth;
  std::uint64_t Nodes;
};

std::vector<PerftLine> ReadPerftLines(const std::filesystem::path& path) {
  std::vector<PerftLine> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto bar1 = line.find('|'), bar2 = line.rfind('|');
    if (bar1 == std::string::npos || bar1 == bar2) continue;
    lines.push_back({line.substr(0, bar1), std::stoi(line.substr(bar1 + 1, bar2 - bar1 - 1)),
                     std::stoull(line.substr(bar2 + 1))});
  }
  return lines;
}

// Standard and Chess960 lines (rook-file letters) at their listed depths.
TEST(GameBoardPerft, MatchesEveryReferenceCount) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  const auto lines = ReadPerftLines(path);
  ASSERT_GE(lines.size(), 20u);
  int chess960 = 0;
  for (const PerftLine& line : lines) {
    SCOPED_TRACE(line.Fen);
    GameBoard board;
    RecordingSink sink;
    ASSERT_FALSE(board.SetFen(line.Fen.c_str(), &sink)) << sink.All();
    EXPECT_TRUE(sink.Texts.empty()) << sink.All();
    const std::string fen = board.GetFen();
    chess960 += fen.find_first_of("ABCDEFGHabcdefgh", fen.find(' ') + 3) < fen.rfind(' ');
    EXPECT_EQ(GamePerft(board, line.Depth), line.Nodes);
    EXPECT_EQ(std::string(board.GetFen()), fen);
  }
  EXPECT_GT(chess960, 0) << "no line with rook-file castling letters";
}

TEST(GameBoardPlay, CastlingFormsAllBecomeTheCorner) {
  for (const char* text : {"e1g1", "e1h1", "h1h1"}) {
    SCOPED_TRACE(text);
    GameBoard board;
    ASSERT_FALSE(board.SetFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 4 1"));
    GameMove record;
    EXPECT_EQ(board.PlayMove(CoordinateMove(text), record), 2);
    EXPECT_EQ(record.From, 63);
    EXPECT_EQ(record.To, 63);
    EXPECT_EQ(record.CastlingKingSquare, 60);
    EXPECT_STREQ(record.ToSan(), "O-O");
    EXPECT_EQ(std::string(board.GetFen()), "r3k2r/8/8/8/8/8/8/R4RK1 b kq -");
    EXPECT_EQ(board.HalfMoves, 0);
  }
  for (const char* text : {"e8c8", "e8a8", "a8a8"}) {
    SCOPED_TRACE(text);
    GameBoard board;
    ASSERT_FALSE(board.SetFen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"));
    GameMove record;
    EXPECT_EQ(board.PlayMove(CoordinateMove(text), record), 1);
    EXPECT_EQ(record.From, 0);
    EXPECT_STREQ(record.ToSan(), "O-O-O");
    EXPECT_EQ(std::string(board.GetFen()), "2kr3r/8/8/8/8/8/8/R3K2R w KQ -");
  }
}

// Chess960: the king may start beside its rook or on its target square,
// and either corner names the right whatever the rook's square.
TEST(GameBoardPlay, Chess960CastlingMovesKingAndRookFromTheirOwnSquares) {
  const struct {
    const char* Fen;
    const char* Move;
    const char* After;
  } cases[] = {
      {"1rk2r2/8/8/8/8/8/8/1RK2R2 w FBfb - 0 1", "a1a1", "1rk2r2/8/8/8/8/8/8/2KR1R2 b fb -"},
      {"1rk2r2/8/8/8/8/8/8/1RK2R2 w FBfb - 0 1", "c1b1", "1rk2r2/8/8/8/8/8/8/2KR1R2 b fb -"},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "h1h1", "rk5r/8/8/8/8/8/8/R4RK1 b kq -"},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "a1a1", "rk5r/8/8/8/8/8/8/2KR3R b kq -"},
      {"2r1kr2/8/8/8/8/8/8/4K3 b fc - 0 1", "h8h8", "2r2rk1/8/8/8/8/8/8/4K3 w - -"},
      {"2r1kr2/8/8/8/8/8/8/4K3 b fc - 0 1", "e8f8", "2r2rk1/8/8/8/8/8/8/4K3 w - -"},
      {"2r1kr2/8/8/8/8/8/8/4K3 b fc - 0 1", "e8c8", "2kr1r2/8/8/8/8/8/8/4K3 w - -"},
      // A king on a8 starts on square 0: castling is told by the corner, not by the king's square.
      {"k6r/8/8/8/8/8/8/4K3 b h - 0 1", "h8h8", "5rk1/8/8/8/8/8/8/4K3 w - -"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Move);
    GameBoard board;
    ASSERT_FALSE(board.SetFen(c.Fen));
    const std::string before = board.GetFen();
    GameMove record;
    ASSERT_NE(board.PlayMove(CoordinateMove(c.Move), record), 0);
    EXPECT_EQ(std::string(board.GetFen()), c.After);
    board.UnmakeMove(record);
    EXPECT_EQ(std::string(board.GetFen()), before);
  }
}

TEST(GameBoardPlay, RefusesWhatIsNotALegalMoveAndLeavesTheBoard) {
  GameBoard board;
  ASSERT_FALSE(board.SetFen("k3r3/8/8/8/8/N3N3/8/4K3 w - - 0 1"));
  const std::string before = board.GetFen();
  for (const char* text : {"e3c4", "a3a5", "e2e4", "h1h1", "a1a1", "e1g1", "zz", "a3c4x"}) {
    GameMove record;
    EXPECT_EQ(board.PlayMove(CoordinateMove(text), record), 0) << text;
    EXPECT_EQ(std::string(board.GetFen()), before) << text;
  }
  GameMove outside;
  outside.From = 99;
  outside.To = -7;
  outside.Valid = 1;
  GameMove record;
  EXPECT_EQ(board.PlayMove(outside, record), 0);
}

// En passant only where an enemy pawn stands beside the pushed one on the
// same rank: a pawn on the h-file is no neighbour of one on the a-file.
TEST(GameBoardPlay, DoublePushesSetEnPassantOnlyBesideAnEnemyPawn) {
  const struct {
    const char* Fen;
    const char* Move;
    const char* After;
  } cases[] = {
      {"4k3/8/8/7p/8/8/P7/4K3 w - - 0 1", "a2a4", "4k3/8/8/7p/P7/8/8/4K3 b - -"},
      {"4k3/8/8/8/8/p7/7P/4K3 w - - 0 1", "h2h4", "4k3/8/8/8/7P/p7/8/4K3 b - -"},
      {"4k3/p7/8/8/7P/8/8/4K3 b - - 0 1", "a7a5", "4k3/8/8/p7/7P/8/8/4K3 w - -"},
      {"4k3/7p/8/P7/8/8/8/4K3 b - - 0 1", "h7h5", "4k3/8/8/P6p/8/8/8/4K3 w - -"},
      {"4k3/8/8/8/3p4/8/4P3/4K3 w - - 0 1", "e2e4", "4k3/8/8/8/3pP3/8/8/4K3 b - e3"},
      {"4k3/8/8/8/5p2/8/4P3/4K3 w - - 0 1", "e2e4", "4k3/8/8/8/4Pp2/8/8/4K3 b - e3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Move);
    GameBoard board;
    ASSERT_FALSE(board.SetFen(c.Fen));
    GameMove record;
    ASSERT_NE(board.PlayMove(CoordinateMove(c.Move), record), 0);
    EXPECT_EQ(std::string(board.GetFen()), c.After);
  }
}

// SAN of played moves: standard SAN, whose disambiguation counts only legal
// moves, black pieces by their letters, no check signs.
TEST(GameBoardSan, WritesStandardSan) {
  const struct {
    const char* Fen;
    const char* Move;
    const char* San;
  } cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4", "e4"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "g1f3", "Nf3"},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1", "g8f6", "Nf6"},
      {"4k3/8/8/4pP2/8/8/8/4K3 w - e6 0 1", "f5e6", "fxe6"},
      {"4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1", "d4e3", "dxe3"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7b8q", "b8=Q"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7c8n", "bxc8=N"},
      {"4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1", "b2a1r", "bxa1=R"},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "b1d2", "Nbd2"},
      {"4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a1a3", "R1a3"},
      {"1k6/8/8/8/4Q2Q/8/8/K6Q w - - 0 1", "h4e1", "Qh4e1"},
      {"1k6/8/8/8/4Q2Q/8/8/K6Q w - - 0 1", "e4e1", "Qee1"},
      // The e3 knight is pinned: "Nc4", not "Nac4".
      {"k3r3/8/8/8/8/N3N3/8/4K3 w - - 0 1", "a3c4", "Nc4"},
      {"4k3/8/8/8/8/8/3r4/4K3 w - - 0 1", "e1d2", "Kxd2"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "h8h8", "O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a1", "O-O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a8", "Rxa8"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "h8h1", "Rxh1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Move);
    GameBoard board;
    ASSERT_FALSE(board.SetFen(c.Fen));
    GameBoard before;
    before.CopyFrom(board);
    GameMove record;
    ASSERT_NE(board.PlayMove(CoordinateMove(c.Move), record), 0);
    EXPECT_STREQ(record.ToSan(), c.San);
    // And read back on the board before the move.
    const GameMove* read = before.ParseSan(c.San);
    EXPECT_EQ(read->Valid, 1);
    EXPECT_TRUE(read->SameMove(record));
  }
}

TEST(GameBoardSan, ReadsSanAndCastlingWordsAndRefusesTheRest) {
  const struct {
    const char* Fen;
    const char* Text;
    const char* Expected;  // coordinate text, "" for no move
  } cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e4", "e2e4"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Nc3", "b1c3"},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "Nbd2", "b1d2"},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "Nfd2", "f3d2"},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "Nd2", ""},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "Nxd2", ""},
      {"4k3/8/8/8/8/5N2/8/RN2K3 w - - 0 1", "Nb1d2", "b1d2"},
      {"4k3/8/8/3p4/2P1P3/8/8/4K3 w - - 0 1", "exd5", "e4d5"},
      {"4k3/8/8/3p4/2P1P3/8/8/4K3 w - - 0 1", "cxd5", "c4d5"},
      {"4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "R1a3", "a1a3"},
      {"4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "R5a3", "a5a3"},
      // A pinned knight: both the standard text and the one that counted it.
      {"k3r3/8/8/8/8/N3N3/8/4K3 w - - 0 1", "Nc4", "a3c4"},
      {"k3r3/8/8/8/8/N3N3/8/4K3 w - - 0 1", "Nac4", "a3c4"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8=Q", "b7b8q"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8Q", "b7b8q"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "bxc8=n", "b7c8n"},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8=K", ""},
      {"2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8", ""},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-O", "h1h1"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "0-0-0", "a1a1"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "o-o", "h8h8"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O-O", "a8a8"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "Kf1", "e1f1"},
      // A knight on the corner that names H-side castling does not move by it.
      {"4k3/8/8/8/8/8/8/4KR1N w F - 0 1", "Nh1", ""},
      {"4k3/8/8/8/8/8/8/4KR1N w F - 0 1", "O-O", "h1h1"},
      // Malformed texts.
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "a", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "N", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "=Q", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Q=", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Nxx9", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4\n", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e4+", ""},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-O-O-O", ""},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Ne4", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Zf3", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "N?f3", ""},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Ng1-f3", "g1f3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " \"" + c.Text + "\"");
    GameBoard board;
    ASSERT_FALSE(board.SetFen(c.Fen));
    const std::vector<std::string> list = ListTexts(board);
    const GameMove* move = board.ParseSan(c.Text);
    ASSERT_NE(move, nullptr);
    if (c.Expected[0]) {
      EXPECT_EQ(move->Valid, 1);
      EXPECT_EQ(CoordinateText(*move), c.Expected);
    } else {
      EXPECT_EQ(move->Valid, 0);
    }
    // Trying candidates leaves the board and its list as they were.
    EXPECT_EQ(ListTexts(board), list);
    EXPECT_EQ(std::string(board.GetFen()), std::string(c.Fen).substr(0, std::string(c.Fen).size() - 4));
  }
  GameBoard board;
  EXPECT_EQ(board.ParseSan(nullptr)->Valid, 0);
}

}  // namespace
