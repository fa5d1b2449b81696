// The tests' own view of a UCI game: the engine's board tables made once,
// and a board that plays the moves a program announces only when legal.
#pragma once

#include <string>
#include <vector>

#include "engine/attacks.h"
#include "engine/game.h"
#include "engine/movetext.h"
#include "engine/zobrist.h"

inline void InitBoardTablesOnce() {
  static const bool done = [] {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    return true;
  }();
  (void)done;
}

class Referee {
public:
  Referee() { InitBoardTablesOnce(); }

  // False when the text is not a legal move of the current position.
  bool Play(const std::string& text) {
    int index = FindCoordinateMove(Game.Moves, Game, text.c_str());
    if (index < 0 || !Game.PlayMove(Game.Moves.Moves[index])) return false;
    Played.push_back(text);
    return true;
  }
  bool IsLegal(const std::string& text) {
    ChessGame trial = Game;
    int index = FindCoordinateMove(trial.Moves, trial, text.c_str());
    return index >= 0 && trial.PlayMove(trial.Moves.Moves[index]);
  }
  bool SetFen(const std::string& fen) {
    Played.clear();
    return !Game.SetFEN(fen.c_str());
  }
  bool IsOver() {
    GameResult result;
    return Game.CheckGameEnd(result);
  }
  std::string MovesText() const {
    std::string text;
    for (const std::string& move : Played) text += " " + move;
    return text;
  }

  ChessGame Game;
  std::vector<std::string> Played;
};

// The first word after "bestmove", or empty.
inline std::string BestMoveOf(const std::string& line) {
  if (line.rfind("bestmove ", 0) != 0) return {};
  std::string rest = line.substr(9);
  return rest.substr(0, rest.find(' '));
}

// The word after " ponder ", or empty.
inline std::string PonderMoveOf(const std::string& line) {
  std::size_t at = line.find(" ponder ");
  if (at == std::string::npos) return {};
  std::string rest = line.substr(at + 8);
  return rest.substr(0, rest.find(' '));
}

// A line in one of the forms a UCI engine may send.
inline bool IsUciLine(const std::string& line) {
  for (const char* form : {"id name ", "id author ", "option name ", "info ", "bestmove ", "copyprotection ", "registration "})
    if (line.rfind(form, 0) == 0) return true;
  return line == "uciok" || line == "readyok";
}
