// Helpers of the tablebase tests: the shared tables, random legal positions
// of a table's material, and the independent prober fathom as the oracle.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/game.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "other_program.h"
#include "shared_data.h"
#include "tablebase/probe.h"
#include "tablebase/registry.h"

inline constexpr const char* FathomProgram = "/usr/games/fathom";

// Loads the shared tables once per test program (the registry is global).
inline std::string SharedTablesPath() { return SharedDataPath("syzygy").string(); }

inline void LoadSharedTables() {
  static std::string loaded;
  const std::string path = SharedTablesPath();
  if (loaded != path || TbMaxMen == 0) {
    InitTablebases(path.c_str());
    loaded = path;
  }
}

// The table names present in a directory, from its WDL files.
inline std::vector<std::string> TableNames(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(directory))
    if (item.path().extension() == ".rtbw") names.push_back(item.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A random legal placement of a table's material ("KRPvKR"): colours as
// named or swapped, either side to move, and now and then a pawn that has
// just made a double step beside an enemy pawn, so that en passant is on.
inline bool RandomFen(const std::string& name, std::mt19937& random, std::string& fen) {
  char board[64];
  std::fill(std::begin(board), std::end(board), '.');
  const bool swap = random() & 1;
  const char side = (random() & 1) ? 'w' : 'b';
  int colour = swap ? 1 : 0;
  auto place = [&](char piece, int c) {
    const bool pawn = piece == 'P';
    for (int tries = 0; tries < 200; tries++) {
      const int square = pawn ? 8 + static_cast<int>(random() % 48) : static_cast<int>(random() % 64);
      if (board[square] != '.') continue;
      board[square] = c ? static_cast<char>(std::tolower(piece)) : piece;
      return;
    }
  };
  // Square index here is row * 8 + file with row 0 = rank 8. With pawns on
  // both sides, half the positions start from a pawn that has just made a
  // double step beside an enemy pawn.
  int pawns[2] = {0, 0};
  for (char c : name) {
    if (c == 'v') colour ^= 1;
    else if (c == 'P') pawns[colour]++;
  }
  colour = swap ? 1 : 0;
  const int mover = side == 'w' ? 0 : 1;
  int epSquare = -1, pushedSquare = -1;
  if (pawns[0] && pawns[1] && random() % 2 == 0) {
    const int file = static_cast<int>(random() % 8);
    const int beside = file == 0 ? 1 : file == 7 ? 6 : file + ((random() & 1) ? 1 : -1);
    const int row = mover == 0 ? 3 : 4;
    pushedSquare = row * 8 + file;
    board[pushedSquare] = mover == 0 ? 'p' : 'P';
    board[row * 8 + beside] = mover == 0 ? 'P' : 'p';
    epSquare = pushedSquare + (mover == 0 ? -8 : 8);
  }
  int skipPawn[2] = {pushedSquare >= 0 ? 1 : 0, pushedSquare >= 0 ? 1 : 0};
  for (char c : name) {
    if (c == 'v') {
      colour ^= 1;
      continue;
    }
    if (c == 'P' && skipPawn[colour]) {
      skipPawn[colour]--;
      continue;
    }
    place(c, colour);
  }
  std::string ep = "-";
  const int startSquare = epSquare + (mover == 0 ? -8 : 8);
  if (epSquare >= 0 && board[epSquare] == '.' && board[startSquare] == '.')
    ep = std::string(1, static_cast<char>('a' + epSquare % 8)) + std::to_string(8 - epSquare / 8);
  std::string text;
  for (int row = 0; row < 8; row++) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      const char c = board[row * 8 + file];
      if (c == '.') {
        empty++;
        continue;
      }
      if (empty) text += std::to_string(empty);
      empty = 0;
      text += c;
    }
    if (empty) text += std::to_string(empty);
    if (row < 7) text += '/';
  }
  fen = text + " " + side + " - " + ep + " 0 1";
  ChessGame game;
  return !game.SetFEN(fen.c_str());
}

inline int LegalMoveCount(ChessGame& game) {
  int count = 0;
  for (int i = 0; i < game.Moves.Count; i++) {
    UndoRecord undo;
    if (!game.MakeMove(game.Moves.Moves[i], undo)) continue;
    game.UnmakeMove(undo);
    count++;
  }
  return count;
}

// fathom's verdict on a position: WDL, DTZ (signed like WDL) and the SAN
// lists of winning, drawing and losing moves.
struct OracleResult {
  bool Valid = false;
  int Wdl = 0;
  int Dtz = 0;
  std::vector<std::string> Moves[3];  // winning, drawing, losing
};

inline bool FathomInstalled() { return std::filesystem::exists(FathomProgram); }

inline std::vector<std::string> SplitMoves(const std::string& list) {
  std::vector<std::string> moves;
  std::stringstream in(list);
  std::string move;
  while (std::getline(in, move, ',')) {
    const auto first = move.find_first_not_of(' ');
    if (first != std::string::npos) moves.push_back(move.substr(first));
  }
  return moves;
}

inline OracleResult AskFathom(const std::string& fen) {
  OracleResult result;
  const std::string command =
      std::string(FathomProgram) + " --path='" + SharedTablesPath() + "' '" + fen + "' 2>/dev/null";
  std::istringstream output(RunOtherProgram(command));
  std::map<std::string, std::string> tags;
  for (std::string text; std::getline(output, text);) {
    if (text.size() < 4 || text[0] != '[') continue;
    const auto space = text.find(' ');
    const auto open = text.find('"');
    const auto close = text.rfind('"');
    if (space == std::string::npos || open == std::string::npos || close <= open) continue;
    tags[text.substr(1, space - 1)] = text.substr(open + 1, close - open - 1);
  }
  static const std::map<std::string, int> wdlValues = {
      {"Loss", -2}, {"BlessedLoss", -1}, {"Draw", 0}, {"CursedWin", 1}, {"Win", 2}};
  const auto wdl = wdlValues.find(tags["WDL"]);
  if (wdl == wdlValues.end() || tags.count("DTZ") == 0) return result;
  result.Valid = true;
  result.Wdl = wdl->second;
  const int distance = std::atoi(tags["DTZ"].c_str());
  result.Dtz = result.Wdl < 0 ? -distance : result.Wdl > 0 ? distance : 0;
  result.Moves[0] = SplitMoves(tags["WinningMoves"]);
  result.Moves[1] = SplitMoves(tags["DrawingMoves"]);
  result.Moves[2] = SplitMoves(tags["LosingMoves"]);
  return result;
}

#define REQUIRE_FATHOM()                                                          \
  if (!FathomInstalled()) {                                                       \
    if (RunningUnderCi()) FAIL() << "the oracle is missing: " << FathomProgram;   \
    GTEST_SKIP() << "the oracle is not installed: " << FathomProgram;             \
  }
