// The own book's position file: one fixed-size record per (position, move)
// in ".bpf", found through the hashed index ".bpi", and the pooled entry that
// holds one record in memory.
//
// ".bpf": a 20-byte header (u8 version 4, or 3 still read; u32 record count
// at 2; the rest zero), then the records, record n at 20 + size x (n - 1):
//   0 marker 255 | 1 key (8) | 9 database games (4) | 13 own games (3) |
//   16 move (2: from bits 0-5, to 6-11, promotion 12-15) | 18, 22, 26
//   database wins, draws, losses (4 each) | 30, 33, 36 own wins, draws,
//   losses (3 each) | 39 manual score (signed 1) | version 4 only: 40 depth
//   (1), 41 score (signed 2), 43 second depth, 44 second score
// size 46 in version 4, 40 in version 3. A free record (move 0x000F, all else
// zero) is what a deleted move leaves; the next new move of its position
// takes it.
// ".bpi": key AND (buckets - 1) -> bucket, the key's high half stored (the low
// half in indexes older than version 3), the 1-based record number as value.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "books/book.h"
#include "books/own/header.h"
#include "support/binfile.h"
#include "support/indexfile.h"

class BookQuelmEntry : public BookEntry {
public:
  static constexpr int BlockEntries = 20;

  BookQuelmEntry() = default;
  // Entries live in a pool that grows by blocks of 20 and never gives memory
  // back, so that probing the book allocates nothing once it has grown; new
  // and delete of this class go through it (null when no memory is left).
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t size);
  static void operator delete(void* entry, std::size_t size) noexcept;
  static BookQuelmEntry* Allocate() { return new (std::nothrow) BookQuelmEntry; }
  static void Free(BookQuelmEntry* entry) { delete entry; }
  // Counts of the pool, for tests and reports.
  static int AllocatedCount();
  static int FreeCount();

  bool IsValid() const override { return Valid != 0; }
  bool SetManual(std::int32_t value) override {
    Manual = value;
    return false;
  }
  bool Set(const GameBoard& board, const GameMove& move) override;
  // The same from a key.
  void Set(std::uint64_t key, const GameMove& move);
  const GameMove* GetMove() const override { return &Move; }
  int SetMove(const GameMove& move) override;
  // Refuse results that outnumber the games and negative figures.
  bool SetDB(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses) override;
  bool SetOwn(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses) override;
  std::int32_t GetDBGames() const override { return DBGames; }
  void SetDBGames(std::int32_t v) override { DBGames = v; }
  std::int32_t GetDBWins() const override { return DBWins; }
  void SetDBWins(std::int32_t v) override { DBWins = v; }
  void IncDBWins() override { Count(DBWins); }
  std::int32_t GetDBDraws() const override { return DBDraws; }
  void SetDBDraws(std::int32_t v) override { DBDraws = v; }
  void IncDBDraws() override { Count(DBDraws); }
  std::int32_t GetDBLosses() const override { return DBLosses; }
  void SetDBLosses(std::int32_t v) override { DBLosses = v; }
  void IncDBLosses() override { Count(DBLosses); }
  std::int32_t GetOwnGames() const override { return OwnGames; }
  void SetOwnGames(std::int32_t v) override { OwnGames = v; }
  std::int32_t GetOwnWins() const override { return OwnWins; }
  void SetOwnWins(std::int32_t v) override { OwnWins = v; }
  void IncOwnWins() override { Count(OwnWins); }
  std::int32_t GetOwnDraws() const override { return OwnDraws; }
  void SetOwnDraws(std::int32_t v) override { OwnDraws = v; }
  void IncOwnDraws() override { Count(OwnDraws); }
  std::int32_t GetOwnLosses() const override { return OwnLosses; }
  void SetOwnLosses(std::int32_t v) override { OwnLosses = v; }
  void IncOwnLosses() override { Count(OwnLosses); }
  std::int32_t GetManual() const override { return Manual; }
  bool SetMinimax(std::int32_t depth, std::int32_t score) override;
  std::int32_t GetMinimaxDepth() const override { return MinimaxDepth; }
  std::int32_t GetMinimaxScore() const override { return MinimaxScore; }
  bool SetMinimax2(std::int32_t depth, std::int32_t score) override;
  std::int32_t GetMinimax2Depth() const override { return Minimax2Depth; }
  std::int32_t GetMinimax2Score() const override { return Minimax2Score; }

  // The largest count an entry holds: figures read from a record or counted
  // in stop there instead of wrapping to a negative one.
  static constexpr std::int32_t MaxCount = std::numeric_limits<std::int32_t>::max();
  static void Count(std::int32_t& count) {
    if (count < MaxCount) count++;
  }

  bool IsFreeRecord() const { return Move.From == 15 && Move.To == 0 && Move.Promotion == 0; }
  // Makes this the free record of key.
  void MakeFree(std::uint64_t key);

  // One record at the file's position; true on failure. Figures too large
  // for their fields are stored as the nearest value that fits, and
  // Saturated says so (with a message in ErrorText).
  bool SavePosition(BinFile& file, int version);
  bool LoadPosition(BinFile& file, int version);

  char ErrorText[BookTextSize] = {};
  std::uint64_t Key = 0;
  std::int32_t DBGames = 0;   // the last big-database game counted (a watermark)
  std::int32_t OwnGames = 0;  // the same for the own-games database
  GameMove Move;
  std::int32_t DBWins = 0, DBDraws = 0, DBLosses = 0;
  std::int32_t OwnWins = 0, OwnDraws = 0, OwnLosses = 0;
  std::int32_t Manual = 0;
  std::int32_t MinimaxDepth = 0, MinimaxScore = 0;
  std::int32_t Minimax2Depth = 0, Minimax2Score = 0;
  std::uint8_t Valid = 0;
  bool Saturated = false;
};

class BookPositionFile {
public:
  static constexpr int HeaderBytes = 20;
  static constexpr int CurrentVersion = 4;
  static constexpr std::int64_t CreatedIndexEntries = 20000000;

  BookPositionFile() = default;
  ~BookPositionFile() { Close(); }
  BookPositionFile(const BookPositionFile&) = delete;
  BookPositionFile& operator=(const BookPositionFile&) = delete;

  // Everything answers true on failure with a message in ErrorText.

  // A new, empty pair base + ".bpf"/".bpi"; refuses an existing record file.
  bool Create(const char* base);
  // Read-only opens write nothing, the index included. A count that the file
  // cannot hold is refused; index entries above the count are ignored.
  bool Open(const char* base, bool writable);
  void Close();
  bool Flush();
  bool IsOpen() const { return Records.IsOpen(); }
  bool IsWritable() const { return Writable; }

  // The records of one position: FindStart, then ReadEntries until null.
  // The walk has its own list of record numbers, so finding or writing
  // records in between does not disturb it.
  bool FindStart(std::uint64_t key);
  // The next record of the position as a pooled entry the caller owns.
  BookQuelmEntry* ReadEntries();
  // The (key, move) record, or else a free record of key: its number in
  // record (0 when neither exists, which answers true).
  bool FindRecord(std::uint64_t key, const GameMove& move, std::uint32_t& record);
  // The last FindRecord failed, rather than found nothing.
  bool FindFailed = false;
  bool FindRecord(std::uint64_t key, const GameMove& move) {
    std::uint32_t record;
    return FindRecord(key, move, record);
  }
  // Writes the entry over its own record or a free record of its position,
  // or appends it; appended tells which.
  bool WriteEntry(BookQuelmEntry& entry, bool* appended = nullptr);
  // The numbers of key's records, in index order.
  bool RecordsOf(std::uint64_t key, std::vector<std::uint32_t>& records);
  // Record n (1-based) of the file.
  bool ReadRecord(std::uint32_t n, BookQuelmEntry& entry);
  bool WriteRecord(std::uint32_t n, BookQuelmEntry& entry);
  bool WriteCount();
  bool SetManual(const GameBoard& board, const GameMove& move, bool& appended, std::int32_t value);
  bool ClearDBStats();
  bool ClearOwnStats();
  bool ClearManual();
  bool ClearMinimax();
  // Puts each position's records together, in the order positions first
  // appear, in new files that replace the old pair, index rebuilt.
  bool Reorganise();
  // A new index built from the records, in place of the old one.
  bool RebuildIndex();
  const std::string& SetIndexName(const char* base);

  std::int32_t Count = 0;
  std::int32_t Version = CurrentVersion;
  std::uint64_t CurrentKey = 0;
  char ErrorText[BookTextSize] = {};
  std::string RecordName;
  std::string IndexName;
  std::string BaseName;

  int RecordSize() const { return Version >= 4 ? 46 : 40; }
  std::uint32_t StoredKey(std::uint64_t key) const;
  std::uint32_t BucketOf(std::uint64_t key) const { return static_cast<std::uint32_t>(key) & (Index.BucketCount - 1); }

private:
  bool Fail(int id, const char* argument = nullptr);
  bool SeekRecord(std::uint32_t n);
  // The record numbers listed under key's bucket and stored half, up to the
  // count, in index order.
  bool Chain(std::uint64_t key, std::vector<std::uint32_t>& records);
  bool Append(BookQuelmEntry& entry);
  template <typename Clear>
  bool ClearAll(Clear clear);
  // Builds an index of every record under name.
  bool BuildIndex(const std::string& name);
  bool FinishReorganise();

  BinFile64 Records;
  IndexFile Index;
  bool Writable = false;
  std::vector<std::uint32_t> Walk;
  std::size_t WalkAt = 0;
};
