// Helpers of the game-board tests: a board from a FEN, the list as texts,
// a move from coordinate text, perft over PlayMove and UnmakeMove, and a
// sink that keeps SetFen's messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "games/gameboard.h"

// Keeps every text SetFen tells, errors marked.
class RecordingSink : public FenMessageSink {
public:
  void Report(bool error, const char* text) override { Texts.push_back((error ? "error: " : "") + std::string(text)); }
  std::string All() const {
    std::string all;
    for (const std::string& text : Texts) all += text;
    return all;
  }
  std::vector<std::string> Texts;
};

inline GameMove CoordinateMove(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

// A move's coordinate text as GameMove::Print writes it, castling as the
// corner ("h1h1"), so that lists compare by their squares.
inline std::string CoordinateText(const GameMove& move) {
  std::string text;
  for (int square : {move.From, move.To}) {
    text += static_cast<char>('a' + square % 8);
    text += static_cast<char>('8' - square / 8);
  }
  if (move.Promotion) text += GamePiece::Letters[(move.Promotion & 7) + GamePiece::Black];
  return text;
}

inline std::vector<std::string> ListTexts(const GameBoard& board) {
  std::vector<std::string> texts;
  for (const GameMove& move : board.Moves) texts.push_back(CoordinateText(move));
  return texts;
}

// Leaf nodes at depth, every move played by PlayMove and taken back by
// UnmakeMove; the list is copied first, as the book code walks it.
inline std::uint64_t GamePerft(GameBoard& board, int depth) {
  if (!board.IsMoveListBuilt() && board.GenerateMoves() != MoveListResult::Complete) return 0;
  const int count = board.Moves.Count();
  struct Entry {
    std::int32_t From, To;
    std::uint32_t Promotion;
  };
  std::vector<Entry> spill;
  Entry local[256];
  Entry* moves = local;
  if (count > 256) {
    spill.resize(static_cast<std::size_t>(count));
    moves = spill.data();
  }
  for (int i = 0; i < count; i++) {
    const GameMoveList::Entry& entry = board.Moves.EntryAt(i);
    moves[i] = {entry.From, entry.To, entry.Promotion};
  }
  std::uint64_t nodes = 0;
  for (int i = 0; i < count; i++) {
    GameMove move, record;
    move.From = moves[i].From;
    move.To = moves[i].To;
    move.Promotion = moves[i].Promotion;
    move.Valid = 1;
    if (!board.PlayMove(move, record)) continue;
    nodes += depth <= 1 ? 1 : GamePerft(board, depth - 1);
    board.UnmakeMove(record);
  }
  return nodes;
}
