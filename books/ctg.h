// CTG opening books: three files read, never written. The reader turns a FEN
// into the format's position code, finds it through the ".cto" index and the
// ".ctb" bounds in the ".ctg" pages, scores every stored move by the position
// it leads to and picks among the best. The search driver asks one global
// reader ("ctgbook"); a BookCTG ("bookctg") wraps a reader of its own.
#pragma once

#include <cstdint>
#include <string>

#include "books/book.h"
#include "support/random.h"

// The board as the format sees it: always from the side to move, files
// mirrored when nobody may castle and that side's king stands on files a-d.
struct CTGPosition {
  int Board[64] = {};  // piece codes, square 0 = a8
  int Castling = 0;    // 2 White king side, 1 White queen side, 8 / 4 Black
  int EpFile = -1;     // 0..7, -1 none
  int ColourFlipped = 0;
  int FilesMirrored = 0;
  std::uint8_t Code[64] = {};  // header byte, then the bit string
  int CodeLength = 0;          // bytes of Code, header included
  std::uint32_t Hash = 0;
};

// What a page holds for one position.
struct CTGLookup {
  int MoveCount = 0;
  std::uint8_t Moves[256] = {};  // move byte, annotation byte, per move
  // The statistics block that the move choice reads.
  std::uint32_t Wins = 0;
  std::uint32_t Draws = 0;
  std::uint32_t Losses = 0;
  int Recommendation = 0;  // bit 7 recommended, bit 6 not to be played
};

struct CTGSquares {
  int From = 0;
  int To = 0;
};

class CTGReader {
public:
  static constexpr std::uint32_t PageSize = 4096;

  CTGReader();

  // The ".ctg" file; the ".cto" and ".ctb" files are named after it in the
  // same case. A name that does not end in ".ctg" finds nothing.
  void SetName(const std::string& name) { Name = name; }
  const std::string& GetName() const { return Name; }

  // Fills and orients the board, then encodes it. False when the FEN cannot
  // be read or uses castling letters other than KQkq.
  bool SetFen(const char* fen);
  static void EncodePosition(CTGPosition& position);
  bool FindPosition(const CTGPosition& position, CTGLookup& result) const;
  bool SearchPage(std::uint64_t page, const CTGPosition& position, CTGLookup& result) const;
  // a8 to h7 when the byte names no move of this board.
  static CTGSquares DecodeMove(const CTGPosition& position, int moveByte);
  // Plays the move and turns the board for the other side.
  static void MakeMove(CTGPosition& position, int from, int to);
  // Coordinate text of the byte on the board last set, "a8h7" for no move.
  std::string MoveToText(int moveByte) const;

  // 1 with a chosen move's text (castling as "h1h1" and so on; "a8h7" when
  // the chosen byte names no move); 0 with "a1a1\n" when the position is not
  // in the book or none of its moves may be played.
  int GetMove(const char* fen, std::string& text);

  CTGPosition Current;
  bool UniformPick = true;  // nothing in the engine changes it
  MersenneTwister Generator;

private:
  std::string Name = "book";
};

// The reader of the "ctgbook" setting, asked by the search driver.
extern CTGReader GlobalCTGReader;

class BookCTGEntry : public BookEntry {
public:
  bool IsValid() const override { return Valid != 0; }
  bool SetManual(std::int32_t value) override {
    Manual = value;
    return false;
  }
  // The format keys nothing by the board: only the move is set.
  bool Set(const GameBoard&, const GameMove& move) override {
    SetMove(move);
    return false;
  }
  const GameMove* GetMove() const override { return &Move; }
  int SetMove(const GameMove& move) override;
  std::int32_t GetManual() const override { return Manual; }

  GameMove Move;
  std::int32_t Manual = 0;  // 5 for a recommended "!" or "!!" move, -5 for one not to be played
  std::uint8_t Valid = 0;
};

// A CTG book in the book list ("bookctg"), with a reader of its own.
class BookCTG : public Book {
public:
  int GetKind() const override { return BookKindCtg; }
  bool Create(const char*) override { return true; }
  // Read-only: asking for write access fails. Opens when the files hold
  // the standard start position.
  bool Open(const char* name, bool writable) override;
  bool Close() override { return false; }
  bool Flush() override { return false; }
  GameMove SelectMove(const GameBoard& board) override;
  BookPosition* GetBookPosition(const GameBoard& board) override;
  bool SetManual(bool value) override {
    Manual = value;
    return false;
  }
  void Display() override;
  void ShowBookMoves(const GameBoard& board) override;
  void Show() override;

  CTGReader Reader;
  bool Manual = true;
};
