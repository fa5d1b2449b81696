// The mailbox board of the games-and-books side: game records, the games
// database and the books set positions on it, play and take back moves, list
// a position's moves in a fixed order and key positions. It shares nothing
// with the engine's Position: its keys and its move order are stored formats.
// Set-up, keys, FEN text and the 960 start positions live in gameboard.cpp;
// generation, legality, SAN and play in boardmoves.cpp.
#pragma once

#include <cstdint>
#include <cstdio>

#include "games/gamemove.h"

// Where SetFen's warnings and errors go. A caller that names no sink (book
// probes, imports, records) hears nothing; the board itself never prints.
class FenMessageSink {
public:
  virtual ~FenMessageSink() = default;
  // error: a missing king (standard error); otherwise a warning or a
  // refused text (standard output). Each text ends with a line end.
  virtual void Report(bool error, const char* text) = 0;
};

// A sink that prints: warnings on standard output, errors on standard
// error, nothing copied to the log. No dialogue names it today (the console
// sets its positions on the engine's board); the tests of the board's
// messages do.
class PrintingFenSink : public FenMessageSink {
public:
  void Report(bool error, const char* text) override;
};

// GenerateMoves answers in words: unlike every other game-side call, whose
// true means failure, its bare answer used to mean success.
enum class MoveListResult { Complete, Incomplete };

// The castling rights, in the order of the board's flags; the castling index
// of a record holds right r as bit 1 << r.
enum CastlingSide : int { WhiteASide = 0, WhiteHSide = 1, BlackASide = 2, BlackHSide = 3 };

struct GameBoardKeyTable {
  std::uint64_t PieceSquare[16][64];  // by code and square; rows 0, 4, 8, 12 unused
  std::uint64_t Side;                 // Black to move
  std::uint64_t EnPassant[64];        // by square; square 0 stands for none
  std::uint64_t Castling[16];         // by castling index
};

// Row n (0..959): Chess960 start position n in Scharnagl's numbering, 518
// being the standard one; row 960 repeats row 0 so that game records'
// numbers 1..960 all have a row.
inline constexpr int Chess960FenCount = 961;
inline constexpr int Chess960FenLength = 80;
using Chess960FenTable = char[Chess960FenCount][Chess960FenLength];

// The board's two tables fill themselves on first use, once, whichever
// thread comes first, and stay read-only: a program that never called an
// initialiser used to key every position 0. The accessors are inline so
// that a key lookup costs one test of the guard, not a call.
struct GameBoardTables {
  GameBoardKeyTable Keys;
  Chess960FenTable Fens;
};
GameBoardTables BuildGameBoardTables();
inline const GameBoardTables& GameBoardTablesOnce() {
  static const GameBoardTables tables = BuildGameBoardTables();
  return tables;
}
inline const GameBoardKeyTable& GameBoardKeys() { return GameBoardTablesOnce().Keys; }
inline const Chess960FenTable& Chess960Fens() { return GameBoardTablesOnce().Fens; }

class GameBoard {
public:
  static constexpr int White = 0, Black = 1;

  // The standard start position, its moves listed.
  GameBoard();
  GameBoard(const GameBoard&) = delete;
  GameBoard& operator=(const GameBoard&) = delete;

  // Set-up from FEN text; true on failure, with the reason told to messages
  // (null: silent). Builds the move list, except when the text ends before
  // its en-passant field (a warning; PlayMove builds it when needed). After a
  // failure the board holds what was read and no move list.
  bool SetFen(const char* fen, FenMessageSink* messages = nullptr);
  // Placement, side, castling (K, Q, k, q, or rook-file letters as soon as a
  // castling rook is off its corner) and en passant; no counters. One buffer
  // per thread, overwritten by the next call.
  const char* GetFen() const;
  void Print(std::FILE* out = stdout) const;
  void PrintMoves(std::FILE* out = stdout) const;
  // The key of the position in every own-book and games-database file.
  std::uint64_t HashKey() const;
  // Copies the position, and the move list when the source's was built.
  GameBoard& CopyFrom(const GameBoard& other);

  // Generation, play and SAN (boardmoves.cpp).
  bool IsAttackedByWhite(int square) const;
  bool IsAttackedByBlack(int square) const;
  // Rebuilds the list: castling, en passant, then every piece from a8 to h1.
  // The list is pseudo-legal; PlayMove settles legality.
  MoveListResult GenerateMoves();
  MoveListResult GenerateCastling();
  MoveListResult GenerateEnPassant();
  // Plays a legal move and fills record; answers its 1-based place in the
  // list, 0 (board unchanged) for an invalid, unlisted or illegal move. A
  // king moving two squares or onto its own rook is read as castling.
  int PlayMove(const GameMove& move, GameMove& record);
  // Plays a record that PlayMove filled; answers its place.
  int MakeMove(const GameMove& record);
  void UnmakeMove(const GameMove& record);
  // The move a SAN or castling text names (no check signs), in one object
  // per thread that the next call resets; Valid 0 when none matches.
  const GameMove* ParseSan(const char* text);

  bool IsMoveListBuilt() const { return MoveListBuilt != 0; }
  // The rights as a castling index (1 White A-side ... 8 Black H-side).
  int CastlingIndex() const;

  std::uint32_t Squares[64];       // piece codes, 0 empty
  std::uint64_t RunningKey;        // piece-square keys of the occupied squares, not a position key
  std::int32_t KingSquare[2];      // -1 when the FEN had no such king
  std::int32_t Side;               // White or Black
  std::int32_t EpSquare;           // below 1: none
  std::int32_t HalfMoves;
  std::uint8_t CastlingFlags[4];   // by CastlingSide
  std::int32_t CastlingRookSquare[4];  // meaningful while the flag is set
  std::int32_t PieceCount;
  // Above 0: a move onto a castling rook's square (taking the rook) ends that right.
  std::int32_t RookSquareOption;
  std::uint8_t MoveListBuilt;
  // The current position's moves; PlayMove and MakeMove set them aside for
  // the next position's. Copy the list before playing moves from it.
  GameMoveList Moves;

private:
  // UnmakeMove gives the list made before the last MakeMove back when it
  // returns to that position, so walking a list move by move does not
  // rebuild it after every move. Each position the board passes through
  // gets a fresh number; the kept list belongs to the pair below.
  struct ListOwner {
    std::uint64_t Parent, Child;
    bool InCheck;
    bool Held;
  };
  enum class FieldEnd { Blank, TextEnded, Refused };

  void Reset();
  void Place(int code, int square) {
    Squares[square] = static_cast<std::uint32_t>(code);
    RunningKey ^= GameBoardKeys().PieceSquare[code][square];
    PieceCount++;
  }
  void Remove(int square) {
    const std::uint32_t code = Squares[square];
    if (!code) return;
    Squares[square] = 0;
    RunningKey ^= GameBoardKeys().PieceSquare[code][square];
    PieceCount--;
  }
  bool ParsePlacement(const char*& p, FenMessageSink* messages);
  FieldEnd ParseCastling(const char*& p, FenMessageSink* messages);
  void SetHomeCastlingRights();
  void ParseEnPassant(const char*& p, FenMessageSink* messages);
  bool RunningKeyMatchesSquares() const;  // the invariant debug builds check
  void DropMoveList();
  void SaveMoveList();
  void RestoreMoveList();
  void FillRecord(const GameMove& move, int place, GameMove& record) const;
  bool NeedsKingTest(const GameMove& record) const;
  bool IsLegal(const GameMove& move);
  bool HasRival(int from, int to) const;
  int Disambiguation(const GameMove& move);
  void GenerateWhitePawn(int square);
  void GenerateBlackPawn(int square);
  void GenerateSteps(int square, const std::int8_t* targets);
  void GenerateSlides(int square, int firstRay, int endRay);

  GameMoveList SavedMoves;
  ListOwner SavedOwner{};
  std::uint64_t PositionSerial = 0;
  std::uint64_t SerialCounter = 0;
  bool ListInCheck = false;  // the side to move stood in check when the list was made
  int SearchStart = 0;       // where PlayMove starts looking for a move in the list
};

// Fills the tables now rather than at their first use; harmless to call
// again. Start-up calls it.
void InitGameBoardTables();
