// The opening-book interface: every book kind (the own format, CTG, Polyglot,
// the remote book) answers a position with one chosen move or with the list
// of its moves, each move an entry held in a pooled BookPosition. The common
// move choice, the entry score and the listings live here too.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "games/gameboard.h"
#include "games/gamemove.h"
#include "support/random.h"

class Game;

// Book kinds, the answers of Book::GetKind.
inline constexpr int BookKindOwn = 1, BookKindCtg = 4, BookKindPolyglot = 5, BookKindRemote = 7;

// Seeds a book's generator with 16 values from BookSeedSource, so that two
// books made in the same second still draw different streams.
void SeedBookGenerator(MersenneTwister& generator);
// Where the 16 seed values come from: std::random_device mixed with the
// clock. Tests put a fixed source here to make the choices repeatable.
extern std::uint32_t (*BookSeedSource)();

// One move of a position with its statistics. The base answers neutrally for
// everything a kind does not keep; CTG and Polyglot entries keep only a move
// and a manual value, the own format keeps everything.
class BookEntry {
public:
  virtual ~BookEntry() = default;
  virtual bool IsValid() const = 0;
  virtual bool SetManual(std::int32_t value) = 0;
  // The board's key, the move, statistics cleared, valid.
  virtual bool Set(const GameBoard& board, const GameMove& move) = 0;
  virtual const GameMove* GetMove() const = 0;
  // Copies from, to, promotion and the valid flag.
  virtual int SetMove(const GameMove& move) = 0;
  virtual bool SetDB(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses);
  virtual bool SetOwn(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses);
  virtual std::int32_t GetDBGames() const { return 0; }
  virtual void SetDBGames(std::int32_t) {}
  virtual std::int32_t GetDBWins() const { return 0; }
  virtual void SetDBWins(std::int32_t) {}
  virtual void IncDBWins() {}
  virtual std::int32_t GetDBDraws() const { return 0; }
  virtual void SetDBDraws(std::int32_t) {}
  virtual void IncDBDraws() {}
  virtual std::int32_t GetDBLosses() const { return 0; }
  virtual void SetDBLosses(std::int32_t) {}
  virtual void IncDBLosses() {}
  virtual std::int32_t GetOwnGames() const { return 0; }
  virtual void SetOwnGames(std::int32_t) {}
  virtual std::int32_t GetOwnWins() const { return 0; }
  virtual void SetOwnWins(std::int32_t) {}
  virtual void IncOwnWins() {}
  virtual std::int32_t GetOwnDraws() const { return 0; }
  virtual void SetOwnDraws(std::int32_t) {}
  virtual void IncOwnDraws() {}
  virtual std::int32_t GetOwnLosses() const { return 0; }
  virtual void SetOwnLosses(std::int32_t) {}
  virtual void IncOwnLosses() {}
  virtual std::int32_t GetManual() const = 0;
  // True when either value changed; the base keeps no minimax data.
  virtual bool SetMinimax(std::int32_t, std::int32_t) { return true; }
  virtual std::int32_t GetMinimaxDepth() const { return 0; }
  virtual std::int32_t GetMinimaxScore() const { return 0; }
  virtual bool SetMinimax2(std::int32_t, std::int32_t) { return true; }
  virtual std::int32_t GetMinimax2Depth() const { return 0; }
  virtual std::int32_t GetMinimax2Score() const { return 0; }

  // The entry's worth for the move choice (see book.cpp); total is the sum
  // of the database games of all the position's entries.
  int Score(int weightDB, int weightNag, int mmWeight, int minDB, int minOwn, int draw, int popular,
            std::int64_t total, int mmDepth, int sidelines) const;
  // One line of a listing, on standard output.
  void PrintLine() const;
};

// The moves of one position as a book answered them. Positions come from a
// pool that grows by blocks of 10 and never gives memory back, so probing a
// book allocates no position once the pool has grown.
//
// Concurrency: books are used from the front-end thread only; the pool's
// free list alone is shared, changed under PoolLock for one pop or push,
// and no other lock is taken while it is held.
class BookPosition {
public:
  static constexpr int MaxEntries = 160;
  static constexpr int BlockPositions = 10;

  // A position from the pool with no entries; null when no memory is left.
  static BookPosition* Allocate();
  // Takes the entry over. True when the position is full: the entry is
  // deleted then, so no caller can lose it.
  bool Add(BookEntry* entry);
  // Deletes every entry and gives the position back to the pool.
  void Release();
  // Scores every entry with the book's parameters.
  void ScoreEntries(int weightDB, int weightNag, int mmWeight, int minDB, int minOwn, int draw, int popular,
                    int mmDepth, int sidelines);
  // Best first; favourManual puts positive manual values before all others
  // and negative ones after.
  void Order(bool favourManual);
  // Every entry with its score, on standard output.
  void Print() const;

  BookEntry* Entries[MaxEntries] = {};
  std::int32_t Scores[MaxEntries] = {};
  std::int32_t Count = 0;

  // Counts of the pool, for tests and reports.
  static int MadeCount();
  static int FreeCount();

private:
  BookPosition* Next = nullptr;  // link of the pool's free list

  static std::mutex PoolLock;
  static BookPosition* FreeList;
  static int Made;
  static int Free;
};

// The weighted draw shared by every book's move choice. weights holds each
// entry's raw weight and is brought to the drawn form in place: below zero
// counts as zero, and the boost of 1000 that lifts a favoured entry out of
// the negative comes off again. One number from the generator below the sum
// then picks the entry whose running weight passes it, and its move goes
// into answer; with a sum of zero answer stays as it is.
void PickWeightedEntry(const BookPosition& position, std::int64_t* weights, MersenneTwister& generator,
                       GameMove& answer);

// An opening book. Booleans answer true on failure unless said otherwise.
// "Not writable" below: the operation stores nothing and fails when the book
// may not be changed, succeeds (still storing nothing) when it may.
class Book {
public:
  Book();
  virtual ~Book() = default;
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  virtual int GetKind() const = 0;
  virtual bool Create(const char* name) = 0;
  virtual bool Open(const char* name, bool writable) = 0;
  virtual bool Close() = 0;
  virtual bool Flush() = 0;
  virtual bool Backup() { return true; }
  // The common move choice; Valid 0 when the book has no move.
  virtual GameMove SelectMove(const GameBoard& board);
  // A position from the pool holding the book's moves, or null; the caller
  // releases it.
  virtual BookPosition* GetBookPosition(const GameBoard& board) = 0;
  virtual bool HasMove(const GameBoard&, const GameMove&) { return false; }
  virtual bool InsertMove(const GameBoard&, const GameMove&) { return NotWritable(); }
  virtual bool UpdateMove(const GameBoard&, const BookEntry&) { return NotWritable(); }
  virtual bool UpdateMoveNag(const GameBoard&, const GameMove&, std::int32_t) { return NotWritable(); }
  virtual bool DeleteMove(const GameBoard&, const GameMove&) { return true; }
  virtual bool UpdateStats(const GameBoard&, std::int32_t) { return NotWritable(); }
  virtual bool RecalcStats(const GameBoard&) { return NotWritable(); }
  virtual bool ImportGames(const char*, bool) { return NotWritable(); }
  virtual bool StoreGame(Game&) { return NotWritable(); }
  virtual Game* GetUnprocessedGameExcept(const GameBoard&, std::set<std::int32_t>&) { return nullptr; }
  virtual Game* GetUnprocessedGame(const GameBoard&) { return nullptr; }
  virtual Game* GetRandomGameExcept(std::set<std::int32_t>&) { return nullptr; }
  virtual Game* GetRandomGame() { return nullptr; }
  virtual bool SetDatabase(const char*) { return NotWritable(); }
  virtual bool ClearDBStats() { return NotWritable(); }
  virtual bool SetOwnDatabase(const char*) { return NotWritable(); }
  virtual bool ClearOwnStats() { return NotWritable(); }
  virtual bool ClearManual() { return NotWritable(); }
  virtual bool ClearMinimax() { return NotWritable(); }
  virtual bool SetSaveGames(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetSaveGames() { return 0; }
  virtual bool SetUpdate(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetUpdate() { return 0; }
  virtual const char* GetBookName() { return nullptr; }

  // The move-choice parameters (see Book::SelectMove and BookEntry::Score).
  virtual bool SetWeightDB(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetWeightDB() { return 0; }
  virtual bool SetWeightNag(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetWeightNag() { return 100; }
  virtual bool SetMinDB(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetMinDB() { return 0; }
  virtual bool SetMinOwn(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetMinOwn() { return 0; }
  virtual bool SetDraw(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetDraw() { return 50; }
  virtual bool SetManual(bool) { return NotWritable(); }
  virtual bool GetManual() { return true; }
  virtual bool SetPopular(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetPopular() { return 0; }
  virtual bool SetMMdepth(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetMMdepth() { return 0; }
  virtual bool SetMMweight(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetMMweight() { return 0; }
  virtual bool SetSidelines(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetSidelines() { return 0; }
  virtual bool SetWhiteMinscore(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetWhiteMinscore() { return 0; }
  virtual bool SetBlackMinscore(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetBlackMinscore() { return 0; }
  virtual bool SetRandomness(std::int32_t) { return NotWritable(); }
  virtual std::int32_t GetRandomness() { return 0; }

  virtual bool SetProcessed(std::int32_t) { return true; }
  virtual bool IsProcessed(std::int32_t) { return true; }
  virtual bool RebuildIndex() { return false; }
  virtual bool Reorganise() { return false; }
  // One status line, on standard output.
  virtual void Display();
  virtual void ShowBookMoves(const GameBoard& board);
  // The settings report.
  virtual void Show();

  std::uint8_t open = 0;
  std::uint8_t writable = 0;  // only the own format sets it
  MersenneTwister generator;

protected:
  bool NotWritable() const { return writable == 0; }
  // The shared listing: the board, the totals lines when a total is not 0,
  // then the scored and ordered entries.
  void ShowListing(const GameBoard& board, std::int64_t databaseTotal, std::int64_t ownTotal);
  // The entries of the board's position scored by their manual value alone,
  // ordered and printed: the listing of the books that keep no statistics.
  void ShowManualListing(const GameBoard& board);
};
