// Random playouts on the game board checked against two independent boards:
// the engine's bitboard board (legal moves through the one conversion, FEN
// fields, SAN read back by both readers) and, for standard chess, the SAN
// that Debian's pgn-extract writes for the same games.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "books/booklist.h"
#include "engine/board_helpers.h"
#include "engine/movetext.h"
#include "game_board_helpers.h"
#include "other_program.h"
#include "shared_data.h"
#include "support/capture.h"

namespace {

using MoveKey = std::tuple<int, int, unsigned>;

MoveKey KeyOf(const GameMove& move) { return {move.From, move.To, move.Promotion}; }

// Every legal move of the board as PlayMove records them, in list order.
std::vector<GameMove> LegalRecords(GameBoard& board) {
  if (!board.IsMoveListBuilt()) {
    EXPECT_EQ(board.GenerateMoves(), MoveListResult::Complete);
  }
  std::vector<GameMove> moves;
  for (const GameMove& move : board.Moves) moves.push_back(move);
  std::vector<GameMove> legal;
  for (const GameMove& move : moves) {
    GameMove record;
    if (!board.PlayMove(move, record)) continue;
    legal.push_back(record);
    board.UnmakeMove(record);
  }
  return legal;
}

// The castling field as the rooks' squares, whichever letters wrote it.
std::set<int> CastlingRooks(const std::string& field) {
  std::set<int> rooks;
  for (char c : field) {
    if (c == 'K') rooks.insert(63);
    else if (c == 'Q') rooks.insert(56);
    else if (c == 'k') rooks.insert(7);
    else if (c == 'q') rooks.insert(0);
    else if (c >= 'A' && c <= 'H') rooks.insert(56 + c - 'A');
    else if (c >= 'a' && c <= 'h') rooks.insert(c - 'a');
  }
  return rooks;
}

std::vector<std::string> Fields(const std::string& fen) {
  std::istringstream in(fen);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

// The engine's FEN of a game board's start: rook-file letters make the
// engine play Chess960 castling with exactly these rooks.
std::string EngineStartFen(const GameBoard& board, bool chess960) {
  std::vector<std::string> fields = Fields(board.GetFen());
  if (chess960) {
    std::string letters;
    for (int r = 0; r < 4; r++)
      if (board.CastlingFlags[r])
        letters += static_cast<char>((r < 2 ? 'A' : 'a') + board.CastlingRookSquare[r] % 8);
    fields[2] = letters.empty() ? "-" : letters;
  }
  return fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3] + " 0 1";
}

struct Tally {
  int Positions = 0;
  int Moves = 0;
};

void CompareWithEngine(GameBoard& board, Position& pos, bool chess960, Tally& tally) {
  const std::vector<GameMove> legal = LegalRecords(board);
  std::set<MoveKey> ours, theirs;
  for (const GameMove& record : legal) ours.insert(KeyOf(record));
  for (Move move : LegalMoves(pos)) theirs.insert(KeyOf(GameMoveOf(move)));
  ASSERT_EQ(ours, theirs) << board.GetFen();

  const std::vector<std::string> mine = Fields(board.GetFen()), engine = Fields(pos.GetFEN());
  ASSERT_EQ(mine.size(), 4u);
  EXPECT_EQ(mine[0], engine[0]);
  EXPECT_EQ(mine[1], engine[1]);
  if (chess960)
    EXPECT_EQ(CastlingRooks(mine[2]), CastlingRooks(engine[2])) << board.GetFen() << " / " << pos.GetFEN();
  else
    EXPECT_EQ(mine[2], engine[2]);
  EXPECT_EQ(mine[3], engine[3]);

  for (const GameMove& record : legal) {
    const std::string san = record.ToSan();
    MoveList list;
    GenerateMoves(pos, list, nullptr);
    const int index = ParseSanMove(list, pos, san.c_str());
    ASSERT_GE(index, 0) << san << " in " << board.GetFen();
    EXPECT_EQ(KeyOf(GameMoveOf(list.Moves[index])), KeyOf(record)) << san << " in " << board.GetFen();
    const GameMove* read = board.ParseSan(san.c_str());
    EXPECT_EQ(read->Valid, 1) << san;
    EXPECT_EQ(KeyOf(*read), KeyOf(record)) << san << " in " << board.GetFen();
    EXPECT_NE(EngineMoveOf(pos, record), NoMove) << san;
  }
  tally.Positions++;
  tally.Moves += static_cast<int>(legal.size());
}

// Plays random legal moves on both boards until mate, stalemate or the
// ply limit, comparing at every position.
void Playout(std::mt19937& random, const char* startFen, bool chess960, int plies, Tally& tally) {
  GameBoard board;
  ASSERT_FALSE(board.SetFen(startFen));
  Position pos = FromFen(EngineStartFen(board, chess960).c_str());
  for (int ply = 0; ply <= plies; ply++) {
    CompareWithEngine(board, pos, chess960, tally);
    if (testing::Test::HasFatalFailure()) return;
    const std::vector<GameMove> legal = LegalRecords(board);
    if (legal.empty()) return;
    const GameMove chosen = legal[std::uniform_int_distribution<std::size_t>(0, legal.size() - 1)(random)];
    const Move move = EngineMoveOf(pos, chosen);
    ASSERT_NE(move, NoMove);
    UndoRecord undo;
    ASSERT_TRUE(pos.MakeMove(move, undo));
    GameMove record;
    ASSERT_EQ(board.PlayMove(chosen, record), chosen.Place);
  }
}

TEST(GameBoardPlayouts, AgreeWithTheEngineBoardInStandardChessAndChess960) {
  std::mt19937 random(20261210);
  Tally tally;
  for (int game = 0; game < 24; game++) {
    SCOPED_TRACE(std::string("standard game ").append(std::to_string(game)));
    Playout(random, Chess960Fens()[518], false, 120, tally);
    if (HasFatalFailure()) return;
  }
  for (int game = 0; game < 24; game++) {
    const int number = std::uniform_int_distribution<int>(0, 959)(random);
    SCOPED_TRACE(std::string("Chess960 game ").append(std::to_string(game)).append(", start ").append(std::to_string(number)));
    Playout(random, Chess960Fens()[number], true, 120, tally);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(tally.Positions, 4000);
  std::printf("compared %d positions, %d legal moves\n", tally.Positions, tally.Moves);
}

// ---- pgn-extract -----------------------------------------------------------

std::string PgnExtractPath() {
  for (const char* path : {"/usr/games/pgn-extract", "/usr/bin/pgn-extract"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

#define REQUIRE_PGN_EXTRACT(variable)                                                     \
  const std::string variable = PgnExtractPath();                                          \
  if (variable.empty()) {                                                                 \
    if (RunningUnderCi()) FAIL() << "the oracle is missing: pgn-extract";                 \
    GTEST_SKIP() << "the oracle is not installed: pgn-extract";                           \
  }

// The king's own move for castling, as a GUI writes it in coordinates.
std::string CoordinateForm(const GameMove& record) {
  if (record.From != record.To) return CoordinateText(record);
  const int row = record.From / 8, to = row * 8 + (record.From % 8 == 0 ? 2 : 6);
  GameMove king;
  king.From = record.CastlingKingSquare;
  king.To = to;
  return CoordinateText(king);
}

TEST(GameBoardPlayouts, SanMatchesPgnExtract) {
  REQUIRE_PGN_EXTRACT(program);
  TemporaryDirectory directory;
  ASSERT_TRUE(directory.Ready());
  std::mt19937 random(5518);
  std::vector<std::vector<std::string>> expected;
  std::ofstream pgn(directory / "games.pgn");
  for (int game = 0; game < 40; game++) {
    GameBoard board;
    std::vector<std::string> sans;
    pgn << "[Event \"playout " << game << "\"]\n[Site \"?\"]\n[Date \"????.??.??\"]\n[Round \"?\"]\n"
        << "[White \"?\"]\n[Black \"?\"]\n[Result \"*\"]\n\n";
    for (int ply = 0; ply < 160; ply++) {
      const std::vector<GameMove> legal = LegalRecords(board);
      if (legal.empty()) break;
      const GameMove chosen = legal[std::uniform_int_distribution<std::size_t>(0, legal.size() - 1)(random)];
      GameMove record;
      ASSERT_NE(board.PlayMove(chosen, record), 0);
      if (ply % 2 == 0) pgn << ply / 2 + 1 << ". ";
      pgn << CoordinateForm(record) << (ply % 8 == 7 ? "\n" : " ");
      sans.push_back(record.ToSan());
    }
    pgn << "*\n\n";
    expected.push_back(sans);
  }
  pgn.close();

  const std::string command = program + " -s --nochecks -w100000 -o " + (directory / "san.pgn") + " " +
                              (directory / "games.pgn") + " 2>&1";
  const std::string diagnostics = RunOtherProgram(command);
  RETURN_IF_OPPONENT_CRASHED();
  // Games cut off at a mate carry "*" and earn a warning; a move the oracle
  // could not play would show here.
  EXPECT_EQ(diagnostics.find("Failed"), std::string::npos) << diagnostics;

  std::ifstream in(directory / "san.pgn");
  std::vector<std::vector<std::string>> written;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '[') continue;
    std::vector<std::string> sans;
    std::istringstream tokens(line);
    for (std::string token; tokens >> token;) {
      if (token == "*" || token == "1-0" || token == "0-1" || token == "1/2-1/2") continue;
      if (token.back() == '.') continue;  // a move number
      sans.push_back(token);
    }
    written.push_back(sans);
  }
  ASSERT_EQ(written.size(), expected.size());
  int moves = 0;
  for (std::size_t game = 0; game < expected.size(); game++) {
    SCOPED_TRACE(std::string("game ").append(std::to_string(game)));
    ASSERT_EQ(written[game].size(), expected[game].size());
    for (std::size_t ply = 0; ply < expected[game].size(); ply++, moves++)
      EXPECT_EQ(expected[game][ply], written[game][ply]) << "ply " << ply;
  }
  EXPECT_GT(moves, 3000);
}

}  // namespace
