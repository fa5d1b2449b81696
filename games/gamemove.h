// The move value of the games-and-books side, its pooled form for game
// records, and the ordered list of a game board's moves. Squares count from
// a8 = 0 to h1 = 63; castling is the king moving onto its corner (h1h1,
// a1a1, h8h8, a8a8), whatever the rook's real square in Chess960.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <vector>

// Piece codes of the game side: a black piece is the white code + Black;
// codes 4 and 12 are never used.
namespace GamePiece {
inline constexpr int None = 0;
inline constexpr int Pawn = 1;
inline constexpr int Knight = 2;
inline constexpr int King = 3;
inline constexpr int Bishop = 5;
inline constexpr int Rook = 6;
inline constexpr int Queen = 7;
inline constexpr int Black = 8;
// The character of each code: its place in this text.
inline constexpr char Letters[] = ".PNK*BRQ*pnk*brq";
}  // namespace GamePiece

// The four corners that name a castling move.
inline constexpr int CornerA8 = 0, CornerH8 = 7, CornerA1 = 56, CornerH1 = 63;

class GameMove {
public:
  // Coordinate text: four characters naming from and to, then an optional
  // promotion letter (n, b, r, q in either case) or a blank. Anything else,
  // a line end included, leaves the move invalid. Returns this move.
  GameMove& FromText(const char* text);
  // The same for a line read from a file or a socket: its "\r" and "\n" go
  // first. The one place where line ends are taken off a move text.
  GameMove& FromTextLine(const char* line);

  // Coordinate text ("e2e4", "e7e8q"), castling as "O-O" or "O-O-O".
  void Print(std::FILE* out) const;
  // SAN of a move whose record GameBoard::PlayMove filled, without check
  // signs, in one buffer per thread that the next call overwrites.
  const char* ToSan() const;

  bool IsCastling() const { return From == To && From >= 0; }
  // The move value proper: squares and promotion.
  bool SameMove(const GameMove& other) const {
    return From == other.From && To == other.To && Promotion == other.Promotion;
  }

  // The move value proper.
  std::int32_t From = 0;           // -1 when a text did not name a square
  std::int32_t To = 0;
  std::uint32_t Promotion = 0;     // white code: Knight, Bishop, Rook, Queen, or 0
  std::uint8_t Valid = 0;          // 1 when read or found

  // The record GameBoard::PlayMove fills for SAN and for taking it back.
  std::int32_t MovingPiece = 0;    // code on from
  std::int32_t CapturedPiece = 0;  // code taken, the enemy pawn for en passant
  std::int32_t Disambiguation = 0; // bit 0: SAN names the from file, bit 1: the from rank
  std::int32_t EnPassant = 0;      // 1 for an en-passant capture
  std::int32_t CastlingKingSquare = 0;  // the king's start square when castling, else 0
  std::int32_t CastlingIndex = 0;  // the rights before the move: 1 White A-side, 2 White H-side, 4 Black A-side, 8 Black H-side
  std::int32_t EpSquareBefore = 0;
  std::int32_t HalfMovesBefore = 0;
  std::int32_t Place = 0;          // 1-based place in the board's move list
};

// A move of a game record's tree. Objects come from one pool that grows by
// blocks of 20 and never gives memory back; each block stays listed so that
// leak checkers see it as reachable. Any thread may allocate and delete: the
// free list changes only under PooledGameMoveLock, held for one pop or push.
class PooledGameMove : public GameMove {
public:
  static constexpr int BlockObjects = 20;

  PooledGameMove() = default;
  explicit PooledGameMove(const GameMove& move) : GameMove(move) {}

  // A move from the pool (a default move), null when no memory is left.
  static PooledGameMove* Alloc();
  // A pooled move holding a copy of every field of move.
  static PooledGameMove* Alloc(const GameMove& move);
  // Gives the object back to the pool; it must have come from Alloc.
  void Delete();

private:
  PooledGameMove* NextFree = nullptr;  // only while in the free list
};

extern std::mutex PooledGameMoveLock;

// The moves of one board's position in generation order: index i holds the
// move at place i + 1. The storage belongs to the board, so appending takes
// no lock; the order is a stored format (game records keep places). Moves
// are kept as the move value proper, four bytes each, so that looking one up
// stays cheap; reading gives a GameMove.
//
// A board's list belongs to its current position: GameBoard::PlayMove and
// MakeMove set it aside for the next position's (which GenerateMoves or the
// next PlayMove builds), and UnmakeMove gives it back. A caller that plays
// moves while it walks the list copies it first
// (std::vector(list.begin(), list.end())); walking it in place gives wrong
// moves with no error (a perft of 20, 20, 19, 22 from the start position).
class GameMoveList {
public:
  static constexpr int UsualCapacity = 256;  // enough for any position of a real game

  struct Entry {
    std::int8_t From, To;
    std::uint8_t Promotion, Valid;
    GameMove Move() const {
      GameMove move;
      move.From = From;
      move.To = To;
      move.Promotion = Promotion;
      move.Valid = Valid;
      return move;
    }
  };

  // Hands out each move as a GameMove of its own (the list keeps only the
  // move value proper), so its reference is a value: a forward iterator to
  // the standard library's concepts, an input iterator to the older
  // categories. std::vector(list.begin(), list.end()) copies a list.
  class Iterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using iterator_concept = std::forward_iterator_tag;
    using value_type = GameMove;
    using difference_type = std::ptrdiff_t;
    using reference = GameMove;
    using pointer = void;

    Iterator() = default;
    explicit Iterator(const Entry* entry) : At(entry) {}
    GameMove operator*() const { return At->Move(); }
    Iterator& operator++() {
      ++At;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++At;
      return before;
    }
    bool operator==(const Iterator& other) const { return At == other.At; }

  private:
    const Entry* At = nullptr;
  };

  GameMoveList() { Items.reserve(UsualCapacity); }

  // Appends the move value proper (squares, promotion, valid) of a move on
  // the board; true when no room could be had or the move names no square.
  bool Append(const GameMove& move);
  void Append(int from, int to, int promotion) {
    Items.push_back({static_cast<std::int8_t>(from), static_cast<std::int8_t>(to),
                     static_cast<std::uint8_t>(promotion), 1});
  }
  void Clear() { Items.clear(); }
  void Swap(GameMoveList& other) { Items.swap(other.Items); }

  int Count() const { return static_cast<int>(Items.size()); }
  GameMove operator[](int index) const { return Items[static_cast<std::size_t>(index)].Move(); }
  const Entry& EntryAt(int index) const { return Items[static_cast<std::size_t>(index)]; }
  Iterator begin() const { return Iterator(Items.data()); }
  Iterator end() const { return Iterator(Items.data() + Items.size()); }

private:
  std::vector<Entry> Items;
};
