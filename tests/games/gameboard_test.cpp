// The game board's position: FEN in and out, the malformed texts it must
// refuse without reading or writing outside itself, its keys (a stored
// format) and the 960 start positions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "game_board_helpers.h"

namespace {

constexpr const char* Start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

TEST(GameBoardFen, ReadsAndWritesTheFirstFourFields) {
  const struct {
    const char* Fen;
    const char* Expected;  // GetFen: no counters
  } cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", Start},
      {"r3k2r/8/8/8/8/8/8/R3K2R b Kq - 12 40", "r3k2r/8/8/8/8/8/8/R3K2R b Kq -"},
      // Chess960: a castling rook off its corner turns every right into its rook's file, H-side first.
      {"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1", "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb -"},
      {"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w KQkq - 0 1", "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb -"},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "rk5r/8/8/8/8/8/8/RK5R w KQkq -"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 w - d6 0 1", "4k3/8/8/2PpP3/8/8/8/4K3 w - d6"},
      {"4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1", "4k3/8/8/8/3pP3/8/8/4K3 b - e3"},
      // A rank may stop short at '/'; the rest is empty.
      {"4k/8/8/8/8/8/8/4K w - -", "4k3/8/8/8/8/8/8/4K3 w - -"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fen);
    GameBoard board;
    RecordingSink sink;
    ASSERT_FALSE(board.SetFen(c.Fen, &sink)) << sink.All();
    EXPECT_EQ(std::string(board.GetFen()), c.Expected);
    EXPECT_TRUE(board.IsMoveListBuilt());
  }
}

TEST(GameBoardFen, KeepsHalfMovesAndKingSquaresAndPieceCount) {
  GameBoard board;
  ASSERT_FALSE(board.SetFen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 37 60"));
  EXPECT_EQ(board.HalfMoves, 37);
  EXPECT_EQ(board.KingSquare[GameBoard::White], 60);
  EXPECT_EQ(board.KingSquare[GameBoard::Black], 4);
  EXPECT_EQ(board.PieceCount, 6);
  EXPECT_EQ(board.Side, GameBoard::Black);
  EXPECT_EQ(board.CastlingIndex(), 15);
}

// Each malformed text gives its message, fails or warns as listed, and
// leaves no move list of the position before it; run under the sanitizers,
// none may read or write outside the board.
TEST(GameBoardFen, MalformedTextsGiveTheirMessages) {
  const struct {
    const char* Fen;
    bool Fails;
    const char* Message;  // the first text told, "" for none
  } cases[] = {
      {"", true, "BAD FEN: short string.\n"},
      {"  /// ", true, "BAD FEN: short string.\n"},
      // Digit runs past file h, '0' and '9'.
      {"9/8/8/8/8/8/8/8 w - -", true, "BAD FEN: Unexpected character on rank 8\n"},
      {"pppp44/8/8/8/8/8/8/8 w - -", true, "BAD FEN: Too many digits on rank8\n"},
      {"4k3/8/8/8/8/8/8/4K35 w - -", true, "BAD FEN: Too many digits on rank1\n"},
      {"4k3/8/8/8/8/8/8/3K5 w - -", true, "BAD FEN: Too many digits on rank1\n"},
      {"4k3/8/8/8/8/8/8/44K3 w - -", true, "BAD FEN: Too many digits on rank1\n"},
      {"4k3/8/8/8/8/8/8/K6N9 w - -", true, "BAD FEN: Too many digits on rank1\n"},
      {"04k3/8/8/8/8/8/8/4K3 w - -", true, "BAD FEN: Unexpected character on rank 8\n"},
      {"4k3/8/8/8/8/8/8/4K2N1 w - -", true, "BAD FEN: Too many digits on rank1\n"},
      // Empty ranks and unknown letters.
      {"4k3//8/8/8/8/8/4K3 w - -", true, "BAD FEN: Unexpected character on rank 7\n"},
      {"4k3/8/8/8/8/8/8/4K2X w - -", true, "BAD FEN: Unexpected character on rank 1\n"},
      {"4k3/8/8/4K3 w - -", true, "BAD FEN: Unexpected character on rank 4\n"},
      // Missing kings.
      {"8/8/8/8/8/8/8/8 w - -", true, "error: ERROR: No white king in FEN string\n"},
      {"4k3/8/8/8/8/8/8/8 w - -", true, "error: ERROR: No white king in FEN string\n"},
      {"8/8/8/8/8/8/8/4K3 w - -", true, "error: ERROR: No black king in FEN string\n"},
      {"8/8/8/8/8/8/8/4K3 ", true, "error: ERROR: No black king in FEN string\n"},
      // Text cut after each field.
      {"4k3/8/4", true, "BAD FEN: premature end of FEN string\n"},
      {"4k3/8/8", true, "BAD FEN: Too many digits on rank6\n"},
      {"4k3/8/8/8/8/8/8/4K3", true, "BAD FEN: Too many digits on rank1\n"},
      {"4k3/8/8/8/8/8/8/4K3 ", false, "WARNING: premature end of FEN string: No side to move specified\n"},
      {"4k3/8/8/8/8/8/8/4K3 b", false, "WARNING: Premature end of FEN string: No castling flags\n"},
      {"4k3/8/8/8/8/8/8/4K3 b ", false, "WARNING: Premature end of FEN string: No castling flags\n"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQ", false, "WARNING: Premature end of FEN string: No castling flags\n"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq ", false, ""},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - ", false, ""},
      // Castling letters.
      {"4k3/8/8/8/8/8/8/4K3 w X -", true, "BAD FEN: Unexpected castling letter\n"},
      {"4k3/8/8/8/8/8/8/4K3 w z -", true, "BAD FEN: Unexpected castling letter\n"},
      {"4k3/8/8/8/8/8/8/4K3 w K -", false, "WARNING: H-side castling for white specified, but no rook found\n"},
      {"4k3/8/8/8/8/8/8/4K3 w q -", false, "WARNING: A-side castling for black specified, but no rook found\n"},
      {"4k3/8/8/8/8/8/8/4K3 w Ck -", false, "WARNING: Castling for white specified, but no rook at the C-file.\n"},
      {"4k3/8/8/8/8/8/8/4K3 w c -", false, "WARNING: Castling for black specified, but no rook at the C-file.\n"},
      // En passant squares nobody can take on, off the board, or cut short.
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 w - d3", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/8/3pP3/8/8/4K3 w - e3", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 b - d6", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2P1P3/8/8/8/4K3 w - d6", false, "En-Passant rights are not valid\n"},
      {"4k3/8/3p4/2PpP3/8/8/8/4K3 w - d6", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 w - z9", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 w - d", false, "En-Passant rights are not valid\n"},
      {"4k3/8/8/2PpP3/8/8/8/4K3 w - h9", false, "En-Passant rights are not valid\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.Fen + "\"");
    GameBoard board;  // the start position, its list built
    ASSERT_TRUE(board.IsMoveListBuilt());
    RecordingSink sink;
    EXPECT_EQ(board.SetFen(c.Fen, &sink), c.Fails);
    if (c.Message[0])
      ASSERT_FALSE(sink.Texts.empty());
    else
      EXPECT_TRUE(sink.Texts.empty()) << sink.All();
    if (!sink.Texts.empty()) {
      EXPECT_EQ(sink.Texts[0], c.Message);
    }
    if (c.Fails) {
      EXPECT_FALSE(board.IsMoveListBuilt());
      EXPECT_EQ(board.Moves.Count(), 0);
    } else if (board.IsMoveListBuilt()) {
      EXPECT_EQ(board.EpSquare, -1);  // none of these keeps an en-passant square
    }
    // Whatever came of it, the board plays on without harm; one a refused
    // text left without its kings has no legal move.
    GameBoard copy;
    copy.CopyFrom(board);
    const std::uint64_t leaves = GamePerft(copy, 2);
    if (c.Fails && (board.KingSquare[0] < 0 || board.KingSquare[1] < 0)) {
      EXPECT_EQ(leaves, 0u);
      EXPECT_EQ(board.ParseSan("Kd1")->Valid, 0);
    }
  }
}

TEST(GameBoardFen, WithoutASinkNothingIsPrinted) {
  std::fflush(stdout);
  std::fflush(stderr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  GameBoard board;
  EXPECT_TRUE(board.SetFen("8/8/8/8/8/8/8/8 w - -"));
  EXPECT_FALSE(board.SetFen("4k3/8/8/8/8/8/8/4K3 w Ck e3"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(GameBoardFen, ThePrintingSinkSendsKingErrorsToStandardError) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  PrintingFenSink sink;
  GameBoard board;
  EXPECT_TRUE(board.SetFen("8/8/8/8/8/8/8/4K3 w - -", &sink));
  EXPECT_FALSE(board.SetFen("4k3/8/8/8/8/8/8/4K3 w K -", &sink));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: H-side castling for white specified, but no rook found\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: No black king in FEN string\n");
}

// Without a castling field only the rights of pieces on their home squares
// stand, with their rooks in the corners, whatever the board held before.
TEST(GameBoardFen, AMissingCastlingFieldKeepsOnlyRightsOnHomeSquares) {
  const struct {
    const char* Fen;
    const char* Expected;
  } cases[] = {
      {"r3k2r/8/8/8/8/8/8/R3K2R w", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"},
      {"r3k3/8/8/8/8/8/8/4K2R b", "r3k3/8/8/8/8/8/8/4K2R b Kq -"},
      {"r3k2r/8/8/8/8/8/8/R4K1R ", "r3k2r/8/8/8/8/8/8/R4K1R w kq -"},
      {"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w", "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w - -"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fen);
    GameBoard board;
    // Rook squares of another game must not survive into this one.
    ASSERT_FALSE(board.SetFen("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1"));
    EXPECT_FALSE(board.SetFen(c.Fen));
    EXPECT_EQ(std::string(board.GetFen()), c.Expected);
  }
  GameBoard board;
  ASSERT_FALSE(board.SetFen("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1"));
  ASSERT_FALSE(board.SetFen("r3k2r/8/8/8/8/8/8/R3K2R w"));
  GameMove record;
  ASSERT_NE(board.PlayMove(CoordinateMove("h1h1"), record), 0);
  EXPECT_EQ(std::string(board.GetFen()), "r3k2r/8/8/8/8/8/8/R4RK1 b kq -");
  EXPECT_EQ(board.PieceCount, 6);
  board.UnmakeMove(record);
  EXPECT_EQ(std::string(board.GetFen()), "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
}

TEST(GameBoardCopy, CopiesThePositionTheListAndTheRookSquareOption) {
  GameBoard source;
  ASSERT_FALSE(source.SetFen("r3k2r/8/8/8/8/8/5n2/R3K2R b KQkq - 5 20"));
  source.RookSquareOption = 0;
  GameBoard copy;
  copy.CopyFrom(source);
  EXPECT_EQ(std::string(copy.GetFen()), source.GetFen());
  EXPECT_EQ(copy.HashKey(), source.HashKey());
  EXPECT_EQ(copy.RunningKey, source.RunningKey);
  EXPECT_EQ(copy.HalfMoves, 5);
  EXPECT_EQ(copy.PieceCount, source.PieceCount);
  EXPECT_EQ(copy.RookSquareOption, 0);
  EXPECT_EQ(ListTexts(copy), ListTexts(source));
  // Without the option a rook taken on its square leaves the right behind.
  GameMove record;
  ASSERT_NE(copy.PlayMove(CoordinateMove("f2h1"), record), 0);
  EXPECT_EQ(std::string(copy.GetFen()), "r3k2r/8/8/8/8/8/8/R3K2n w KQkq -");
  ASSERT_NE(source.PlayMove(CoordinateMove("f2h1"), record), 0);
  source.RookSquareOption = 1;
  GameBoard other;
  other.CopyFrom(source);
  EXPECT_EQ(other.RookSquareOption, 1);
}

TEST(GameBoardPrint, ShowsBoardRightsAndMoves) {
  GameBoard board;
  ASSERT_FALSE(board.SetFen("4k3/8/8/2PpP3/8/8/8/R3K3 w Q d6 0 1"));
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  board.Print(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  const std::string expected =
      "\n8  . . . . k . . ."
      "\n7  . . . . . . . ."
      "\n6  . . . . . . . ."
      "\n5  . . P p P . . ."
      "\n4  . . . . . . . ."
      "\n3  . . . . . . . ."
      "\n2  . . . . . . . ."
      "\n1  R . . . K . . ."
      "\n\n   a b c d e f g h\n\n"
      "White to move\n"
      "Nr Pieces = 6\n"
      "White A-side Castling is possible with the Rook on a1\n"
      "En-Passant capture possible to d6\n"
      "\nPossible moves:"
      "\nO-O-O c5d6 e5d6 c5c6 e5e6 a1a2 a1a3 a1a4 a1a5 a1a6 a1a7 a1a8 a1b1 a1c1 a1d1"
      "\ne1e2 e1f2 e1d2 e1f1 e1d1\n"
      "\n";
  EXPECT_EQ(text, expected);
}

// Keys taken while the test program's statics are made, before main and so
// before any start-up or test environment could fill the tables: a program
// that never calls InitGameBoardTables must key positions as one that does.
constexpr const char* FirstUseFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -",
    "4k3/8/8/8/8/8/8/4K3 w - -",
};

struct KeysBeforeMain {
  std::vector<std::uint64_t> Keys;
  std::string Row960Placement;
  KeysBeforeMain() {
    GameBoard board;
    for (const char* fen : FirstUseFens) Keys.push_back(board.SetFen(fen) ? 1 : board.HashKey());
    GameBoard chess960;
    if (!chess960.SetFen(Chess960Fens()[518])) Row960Placement = chess960.GetFen();
  }
};
const KeysBeforeMain BeforeMain;

TEST(GameBoardKeys, FillThemselvesOnFirstUse) {
  ASSERT_EQ(BeforeMain.Keys.size(), std::size(FirstUseFens));
  std::set<std::uint64_t> distinct;
  for (std::size_t i = 0; i < std::size(FirstUseFens); i++) {
    GameBoard board;
    ASSERT_FALSE(board.SetFen(FirstUseFens[i]));
    EXPECT_NE(BeforeMain.Keys[i], 0u) << FirstUseFens[i];
    EXPECT_EQ(BeforeMain.Keys[i], board.HashKey()) << FirstUseFens[i];
    distinct.insert(BeforeMain.Keys[i]);
  }
  EXPECT_EQ(distinct.size(), std::size(FirstUseFens));
  EXPECT_EQ(BeforeMain.Row960Placement, Start);
  // Start-up's call changes nothing any more.
  InitGameBoardTables();
  GameBoard board;
  EXPECT_EQ(board.HashKey(), BeforeMain.Keys[0]);
}

// The key tables are a stored format: the generator, its seed, the order of
// the draws and the halves of each key. Values from an independent MT19937.
TEST(GameBoardKeys, AreTheFrozenDraws) {
  EXPECT_EQ(GameBoardKeys().PieceSquare[0][0], (955945823ull << 32) | 1067595299ull);
  EXPECT_EQ(GameBoardKeys().PieceSquare[0][0], 0x38fa935f3fa23623ull);
  EXPECT_EQ(GameBoardKeys().Side, 0xf8c3715dfe82fe22ull);
  EXPECT_EQ(GameBoardKeys().EnPassant[0], 0x611c98e7007e2b70ull);
  EXPECT_EQ(GameBoardKeys().EnPassant[20], 0xbdca9539f9755125ull);
  EXPECT_EQ(GameBoardKeys().Castling[0], 0xc299763c9c77153eull);
  EXPECT_EQ(GameBoardKeys().Castling[15], 0xc66c39dd8ae42059ull);
}

// What HashKey XORs is a stored format too: pieces, side, the en-passant
// key (square 0's when there is none) and the castling index's key.
TEST(GameBoardKeys, HashKeyIsTheFrozenSum) {
  GameBoard board;
  EXPECT_EQ(board.HashKey(), 0x1650c3bb2f813d4eull);
  GameMove record;
  ASSERT_NE(board.PlayMove(CoordinateMove("e2e4"), record), 0);
  EXPECT_EQ(board.HashKey(), 0x8bec1895b110b654ull);

  ASSERT_FALSE(board.SetFen("r3k3/8/8/2PpP3/8/8/8/4K2R w Kq d6 3 1"));
  std::uint64_t expected = 0;
  for (int square = 0; square < 64; square++)
    if (board.Squares[square]) expected ^= GameBoardKeys().PieceSquare[board.Squares[square]][square];
  EXPECT_EQ(board.RunningKey, expected);
  expected ^= GameBoardKeys().EnPassant[19] ^ GameBoardKeys().Castling[2 | 4];
  EXPECT_EQ(board.HashKey(), expected);
  // The half-move counter is no part of the key; the side is.
  ASSERT_FALSE(board.SetFen("r3k3/8/8/2PpP3/8/8/8/4K2R w Kq d6 40 1"));
  EXPECT_EQ(board.HashKey(), expected);
  ASSERT_FALSE(board.SetFen("r3k3/8/8/2PpP3/8/8/8/4K2R b Kq - 3 1"));
  EXPECT_EQ(board.HashKey(), expected ^ GameBoardKeys().EnPassant[19] ^ GameBoardKeys().EnPassant[0] ^ GameBoardKeys().Side);
}

TEST(GameBoardKeys, MovesAndTakeBacksKeepTheRunningKey) {
  GameBoard board;
  ASSERT_FALSE(board.SetFen("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1"));
  const std::uint64_t key = board.HashKey(), running = board.RunningKey;
  const std::string fen = board.GetFen();
  const std::vector<std::string> moves = ListTexts(board);
  for (const std::string& text : moves) {
    GameMove record;
    if (!board.PlayMove(CoordinateMove(text.c_str()), record)) continue;
    std::uint64_t fresh = 0;
    for (int square = 0; square < 64; square++)
      if (board.Squares[square]) fresh ^= GameBoardKeys().PieceSquare[board.Squares[square]][square];
    EXPECT_EQ(board.RunningKey, fresh) << text;
    board.UnmakeMove(record);
    EXPECT_EQ(board.HashKey(), key) << text;
    EXPECT_EQ(board.RunningKey, running) << text;
    EXPECT_EQ(std::string(board.GetFen()), fen) << text;
  }
}

// An independent derivation of Scharnagl's numbering: the light-squared
// bishop from n mod 4 (files b, d, f, h), the dark-squared one from
// (n / 4) mod 4 (files a, c, e, g), then the queen on the (n / 16) mod 6-th
// free file, the knights by (n / 96) from the ten pairs of the five files
// left, and rook, king, rook on the last three.
std::string DerivedBackRank(int n) {
  std::string rank(8, '.');
  rank[static_cast<std::size_t>(1 + 2 * (n % 4))] = 'B';
  rank[static_cast<std::size_t>(2 * ((n / 4) % 4))] = 'B';
  auto place = [&rank](int freeIndex, char piece) {
    for (std::size_t file = 0; file < 8; file++)
      if (rank[file] == '.' && freeIndex-- == 0) {
        rank[file] = piece;
        return;
      }
  };
  place((n / 16) % 6, 'Q');
  static const int Pairs[10][2] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  const int* pair = Pairs[n / 96];
  place(pair[1], 'N');
  place(pair[0], 'N');
  place(0, 'R');
  place(0, 'K');
  place(0, 'R');
  return rank;
}

TEST(Chess960Table, MatchesAnIndependentDerivation) {
  for (int n = 0; n < 960; n++) {
    std::string white = DerivedBackRank(n), black = white;
    for (char& c : black) c = static_cast<char>(c - 'A' + 'a');
    const std::string expected = black + "/pppppppp/8/8/8/8/PPPPPPPP/" + white + " w KQkq -";
    ASSERT_EQ(std::string(Chess960Fens()[n]), expected) << "row " << n;
  }
  EXPECT_EQ(std::string(Chess960Fens()[518]), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(std::string(Chess960Fens()[0]).substr(0, 8), "bbqnnrkr");
  EXPECT_EQ(std::string(Chess960Fens()[959]).substr(0, 8), "rkrnnqbb");
  EXPECT_STREQ(Chess960Fens()[960], Chess960Fens()[0]);
}

TEST(Chess960Table, EveryRowSetsUpWithItsRooksAsCastlingRooks) {
  for (int n = 0; n < Chess960FenCount; n++) {
    GameBoard board;
    RecordingSink sink;
    ASSERT_FALSE(board.SetFen(Chess960Fens()[n], &sink)) << n;
    ASSERT_TRUE(sink.Texts.empty()) << n << sink.All();
    EXPECT_EQ(board.CastlingIndex(), 15) << n;
    for (int r = 0; r < 4; r++) EXPECT_EQ(board.Squares[board.CastlingRookSquare[r]] & 7, 6u) << n;
  }
}

}  // namespace
