// The engine's game object: a position together with the moves of the
// current position, the undo records of the moves played (with the redo
// line after take-backs), the start position and the result.
#pragma once

#include <cstdint>

#include "engine/movegen.h"
#include "engine/position.h"

enum GameResultCode : std::uint8_t {
  ResultNone = 0,
  ResultWhiteWins = 1,  // "1-0"
  ResultBlackWins = 2,  // "0-1"
  ResultDraw = 3,       // "1/2-1/2"
};

enum GameEndReason : std::uint8_t {
  ReasonNone = 0,
  ReasonResignation = 1,
  ReasonMate = 2,
  ReasonStalemate = 3,
  ReasonRepetition = 4,
  ReasonFiftyMoves = 5,
  ReasonNoMatingMaterial = 6,
  ReasonAgreed = 7,
};

// Result and reason; packed into one 16-bit value with the result in the
// low byte (1027 is a draw by repetition, 1283 by the fifty-move rule).
struct GameResult {
  std::uint8_t Result = ResultNone;
  std::uint8_t Reason = ReasonNone;
  std::uint16_t Packed() const { return static_cast<std::uint16_t>(Result | Reason << 8); }
};

// ChessGame::ClassifyMove flags.
enum MoveClass : int {
  MoveClassIllegal = 1,
  MoveClassRepeats = 2,
  MoveClassCaptures = 4,  // a piece stood on the to-square (not en passant)
  MoveClassChecks = 8,
};

class ChessGame : public Position {
public:
  ChessGame();
  // A game that starts at the board given, for a search on a private copy:
  // no move list, no history of played moves and no start text, none of
  // which a search reads.
  explicit ChessGame(const Position& board);

  void SetStartPosition();
  // True on error: the text's reason is in Message and the game is unchanged.
  bool SetFEN(const char* fen);
  // False (nothing changed) for a move that is not a legal move of the
  // current list, or in a game already 800 plies long. A move other than the next one of the redo line cuts that line.
  bool PlayMove(const Move& move);
  bool TakeBack();
  // Mate, stalemate, repetition and fifty-move rule: stores the verdict in
  // the game and in result, true when the game is over.
  bool CheckGameEnd(GameResult& result);
  static void PrintResult(const GameResult& result);
  int ClassifyMove(const Move& move) const;
  // The whole line up to the highest ply as "%s " per move; the caller's
  // buffer needs six characters per move and one for the end.
  void GetMoveListText(char* out);

  MoveList Moves;                   // of the current position, always fresh
  UndoRecord Undo[MaxGamePlies];    // record i: the move played at ply i
  char StartFen[88];
  GameResult Outcome;
  std::int32_t GamePly;             // equals the position's Ply
  std::int32_t HighestPly;          // end of the redo line

private:
  bool HasLegalMove();
  void Refresh() { GenerateMoves(*this, Moves, nullptr); }
};
