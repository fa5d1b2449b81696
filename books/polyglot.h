// Polyglot opening books: a file of 16-byte big-endian entries (key, move,
// weight, learn) sorted by a 64-bit position key. The book answers with a
// weighted choice among the entries of the largest weight; its file is never
// changed.
#pragma once

#include <cstdint>
#include <string>

#include "books/book.h"
#include "support/platform.h"

class BookPolyglotEntry : public BookEntry {
public:
  bool IsValid() const override { return Valid != 0; }
  bool SetManual(std::int32_t value) override {
    Manual = value;
    return false;
  }
  bool Set(const GameBoard& board, const GameMove& move) override;
  const GameMove* GetMove() const override { return &Move; }
  int SetMove(const GameMove& move) override;
  std::int32_t GetManual() const override { return Manual; }

  std::uint64_t Key = 0;
  GameMove Move;
  std::int32_t Manual = 0;  // the entry's Polyglot weight
  std::uint8_t Valid = 0;
};

class BookPolyglot : public Book {
public:
  static constexpr int EntrySize = 16;
  // The most entries of one key a probe reads. No chess position has more
  // than 218 legal moves, so a real book's position is always read whole; a
  // file that repeats a key further is no book, and must not make a probe
  // read all of it.
  static constexpr int MaxEntriesOfOnePosition = 256;

  BookPolyglot();

  int GetKind() const override { return BookKindPolyglot; }
  bool Create(const char* name) override;
  // Read-only whatever is asked: nothing here writes a Polyglot file. Fails
  // for a file that cannot be read or whose size is not a whole number of
  // entries.
  bool Open(const char* name, bool writable) override;
  bool Close() override { return false; }
  bool Flush() override { return false; }
  GameMove SelectMove(const GameBoard& board) override;
  BookPosition* GetBookPosition(const GameBoard& board) override;

  // The file is never changed: the change operations succeed doing nothing.
  bool InsertMove(const GameBoard&, const GameMove&) override { return false; }
  bool UpdateMove(const GameBoard&, const BookEntry&) override { return false; }
  bool UpdateMoveNag(const GameBoard&, const GameMove&, std::int32_t) override { return false; }
  bool UpdateStats(const GameBoard&, std::int32_t) override { return false; }
  bool RecalcStats(const GameBoard&) override { return false; }
  bool ImportGames(const char*, bool) override { return false; }
  bool StoreGame(Game&) override { return false; }
  bool SetDatabase(const char*) override { return false; }
  bool ClearDBStats() override { return false; }
  bool SetOwnDatabase(const char*) override { return false; }
  bool ClearOwnStats() override { return false; }
  bool ClearManual() override { return false; }
  bool ClearMinimax() override { return false; }
  bool SetSaveGames(std::int32_t) override { return false; }
  bool SetUpdate(std::int32_t) override { return false; }
  bool SetRandomness(std::int32_t value) override {
    randomness = value;
    return false;
  }

  void Display() override;
  void ShowBookMoves(const GameBoard& board) override;
  void Show() override;

  // The Polyglot key of the board's position.
  static std::uint64_t ComputeKey(const GameBoard& board);
  // The entry of the format's 16 bytes; true when its promotion value names
  // no piece.
  static bool DecodeEntry(const unsigned char (&bytes)[EntrySize], BookPolyglotEntry& entry);
  // Entries read from the file since it was opened: what the probes cost.
  std::uint64_t EntriesRead() const { return entriesRead; }

  std::uint64_t key = 0;  // of the last position looked up
  std::int32_t randomness = 0;
  std::string name;
  // Its own generator with the engine's fixed seed, so that the same
  // position gives the same sequence of choices in every run.
  MersenneTwister choiceGenerator;

private:
  bool ReadEntryAt(std::uint64_t index, BookPolyglotEntry& entry);

  // Opened only when it is a regular file: a FIFO named like the book must
  // not hold start-up.
  RegularFileReader file;
  std::uint64_t entryCount = 0;
  std::uint64_t entriesRead = 0;
};
