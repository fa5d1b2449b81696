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

// A game longer than the key history keeps a window of it. Only the last
// hundred plies can still repeat the current position: a capture or pawn
// move since makes older ones unreachable, and a hundred quiet plies end the
// game by the fifty-move rule. The game's window is cut back to them only
// when it is full, so that every game of up to MaxGamePlies plies still
// reaches the books whole; the search's copy is cut whenever fewer plies than
// the search may need are left, so that its own ply limit decides.
inline constexpr int KeptHistoryPlies = 100;
inline constexpr int SearchHistoryRoom = 160;  // above the search's deepest ply

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
  // current list. A move other than the next one of the redo line cuts that
  // line.
  bool PlayMove(const Move& move);
  // Plays on under normal chess or Chess960 rules from the current position;
  // the one door for every dialogue's variant switch.
  void SetVariant(int variant);
  // False at the start of the game or of its window.
  bool TakeBack();
  // The last move played, NoMove when none can be taken back.
  Move LastMove() const { return Ply > 0 ? Undo[Ply - 1].Move : NoMove; }
  // How many plies TakeBack can still take back.
  int UndoablePlies() const { return Ply; }
  // Cuts the window when a search from here could run out of key history.
  void KeepRoomForSearch() {
    if (Ply > MaxGamePlies - SearchHistoryRoom) ForgetOldestPlies();
  }
  // Mate, stalemate, repetition and fifty-move rule: stores the verdict in
  // the game and in result, true when the game is over.
  bool CheckGameEnd(GameResult& result);
  static void PrintResult(const GameResult& result);
  int ClassifyMove(const Move& move) const;
  // The whole line from StartFen up to the highest ply as "%s " per move;
  // the caller's buffer needs six characters per move and one for the end.
  void GetMoveListText(char* out);

  MoveList Moves;                   // of the current position, always fresh
  UndoRecord Undo[MaxGamePlies];    // record i: the move played at game ply WindowStart + i
  char StartFen[88];                // the position at WindowStart
  GameResult Outcome;
  std::int32_t GamePly;             // plies played: WindowStart + the position's Ply
  std::int32_t HighestPly;          // end of the redo line, a game ply
  std::int32_t WindowStart;         // the game ply of the window's first record

private:
  // Drops all but the last KeptHistoryPlies plies from the key history and
  // the undo records; StartFen becomes the position at the new window start.
  void ForgetOldestPlies();
  bool HasLegalMove();
  void Refresh() { GenerateMoves(*this, Moves, nullptr); }
};
