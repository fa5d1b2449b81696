// Helpers shared by the board tests: a position from a FEN, square names,
// perft counting as the console does it, the perft reference file, and an
// independent oracle when installed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/attacks.h"
#include "engine/movegen.h"
#include "engine/position.h"

// The position of a FEN; one that does not parse fails the test.
inline Position FromFen(const char* fen) {
  Position pos;
  EXPECT_FALSE(pos.ParseFEN(fen)) << fen << ": " << pos.Message;
  return pos;
}

// A square's name, "a8" for square 0.
inline std::string SquareName(int s) { return {static_cast<char>('a' + FileOf(s)), static_cast<char>('0' + RankOf(s))}; }

// Leaf nodes at depth: evasions (with attack maps) in check, all moves
// otherwise; MakeMove settles legality.
inline std::uint64_t Perft(Position& pos, int depth) {
  if (depth <= 0) return 1;
  MoveList list;
  if (pos.InCheck()) {
    AttackMaps maps;
    pos.BuildAttackMaps(maps);
    GenerateEvasions(pos, list, maps);
  } else {
    GenerateMoves(pos, list, nullptr);
  }
  std::uint64_t nodes = 0;
  for (int i = 0; i < list.Count; ++i) {
    UndoRecord undo;
    if (!pos.MakeMove(list.Moves[i], undo)) continue;
    nodes += depth == 1 ? 1 : Perft(pos, depth - 1);
    pos.UnmakeMove(undo);
  }
  return nodes;
}

struct PerftCase {
  std::string Fen;
  int Depth;
  std::uint64_t Nodes;
  bool Chess960;
};

// Lines "FEN|depth|nodes"; a comment line naming Chess960 starts that group.
inline std::vector<PerftCase> ReadPerftCases(const std::filesystem::path& path) {
  std::vector<PerftCase> cases;
  std::ifstream in(path);
  std::string line;
  bool chess960 = false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.find("960") != std::string::npos) chess960 = true;
      continue;
    }
    const auto bar1 = line.find('|'), bar2 = line.rfind('|');
    if (bar1 == std::string::npos || bar1 == bar2) continue;
    cases.push_back({line.substr(0, bar1), std::stoi(line.substr(bar1 + 1, bar2 - bar1 - 1)),
                     std::stoull(line.substr(bar2 + 1)), chess960});
  }
  return cases;
}

// Every legal move of a position, in generator order.
inline std::vector<Move> LegalMoves(Position& pos) {
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  std::vector<Move> legal;
  for (int i = 0; i < list.Count; ++i) {
    UndoRecord undo;
    if (!pos.MakeMove(list.Moves[i], undo)) continue;
    pos.UnmakeMove(undo);
    legal.push_back(list.Moves[i]);
  }
  return legal;
}

inline const char* StockfishPath() { return "/usr/games/stockfish"; }
