// A hashed multimap on disk from 32-bit keys to 24- or 32-bit values: each
// bucket is a chain of fixed-size blocks. The books and the games database keep
// their position, player and processed-game indexes in it.
//
// File layout (little-endian; positions 4 bytes, or 8 as low then high word
// when the version word has WidePositions):
//   u32 version word, u32 bucket count N, N positions of each chain's first block
//   block: u32 capacity, u32 count, capacity x (u32 key, value), next position
// Values are u24 in version 1 and u32 otherwise; a stored value is never 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/binfile.h"

class IndexFile {
public:
  static constexpr std::uint32_t VersionBits = 0xFFF;
  static constexpr std::uint32_t WidePositions = 0x1000;
  static constexpr std::uint32_t CurrentVersion = 3;
  static constexpr std::uint32_t NewBlockCapacity = 2048;
  static constexpr std::uint32_t MaxCreatedBuckets = 8192;

  IndexFile() = default;
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  // Every operation answers true on failure. A failure leaves the index closed,
  // except the refusals (a bad argument, a write to a read-only index).

  // A null name keeps the current one. Replaces any file of that name.
  bool Create(const char* name, std::int64_t expectedEntries);
  // Never writes to the file.
  bool Open(const char* name, bool writable);
  bool Close();
  bool IsOpen() const { return File != nullptr; }
  // Hands what Add wrote to the system, so that a caller can commit after it.
  bool Flush();

  // bucket must be below BucketCount (callers pass hash & (BucketCount - 1));
  // the value must be non-zero and, in version 1, fit 24 bits.
  bool Add(std::uint32_t bucket, std::uint32_t key, std::uint32_t value);
  // The same for n entries of one bucket, in order, with a write per block
  // they fill instead of one per entry.
  bool AddMany(std::uint32_t bucket, const std::uint32_t* keys, const std::uint32_t* values, std::uint32_t n);
  // Drops the entries whose value is above limit from the ends of the
  // chains, where such entries stand in an index of ascending values (game
  // numbers) whose owner wrote them for an addition it never committed.
  // dropped counts them. Writable indexes only.
  bool DropValuesAbove(std::uint32_t limit, std::uint64_t& dropped);

  // A search: set SearchKey and SearchMask, FindFirst, then FindNext until it
  // answers 0. The values whose key matches come in insertion order. Nothing
  // may use this index's file between FindFirst and the last FindNext.
  bool FindFirst(std::uint32_t bucket);
  std::uint32_t FindNext();
  // Moves the search to the first entry of the chain whose value is at least
  // value (for chains of ascending values); true when the chain ends first.
  bool FindFrom(std::uint32_t value);

  // Compacts every chain into one block (writable indexes only; a closed one
  // is left alone). The bucket count may only double when the caller's stored
  // keys are its bucket hashes, since entries then move by a key bit; any other
  // index keeps its buckets so that every entry stays where its caller looks.
  bool Rebuild(bool keysAreBucketHashes = false);

  std::string FileName = "null.fxi";  // whole: no stored field limits it
  std::uint32_t Version = 0;      // the version word; low 12 bits the format
  std::uint32_t BucketCount = 0;  // N, a power of two
  bool Writable = false;
  std::uint32_t SearchKey = 0;
  std::uint32_t SearchMask = 0xFFFFFFFFu;

private:
  bool WideFile() const { return (Version & WidePositions) != 0; }
  std::uint32_t PositionSize() const { return WideFile() ? 8 : 4; }
  std::uint64_t HeaderSize() const { return 8 + std::uint64_t(BucketCount) * PositionSize(); }
  std::uint64_t BlockSize(std::uint32_t capacity) const {
    return 8 + std::uint64_t(capacity) * EntrySize + PositionSize();
  }
  std::uint64_t SlotOffset(std::uint32_t bucket) const { return 8 + std::uint64_t(bucket) * PositionSize(); }

  bool SetName(const char* name);
  bool OpenFile(bool wide, int flags);
  bool Fail();
  bool SeekTo(std::uint64_t offset);
  bool ReadPosition(std::uint64_t& offset);
  bool WritePosition(std::uint64_t offset);
  bool MeasureFile();
  bool ReadBlockHeader(std::uint64_t block, std::uint32_t& capacity, std::uint32_t& count);
  bool ReadNextLink(std::uint64_t block, std::uint32_t capacity, std::uint64_t& next);
  bool AppendBlock(std::uint64_t linkAt, std::uint64_t& block);
  bool FindRoom(std::uint32_t bucket, std::uint64_t& block, std::uint32_t& capacity, std::uint32_t& count);
  bool ReadValue(std::uint32_t& value);
  bool NextEntry(std::uint32_t& key, std::uint32_t& value);

  std::unique_ptr<BinFile> File;
  std::unique_ptr<FilePos[]> LastBlock;  // per bucket, kind none until known
  std::uint32_t EntrySize = 8;
  std::uint64_t FileEnd = 0;
  // The search in progress.
  std::uint64_t CurrentBlock = 0;
  std::uint32_t Capacity = 0;
  std::uint32_t EntryIndex = 0;
  std::uint32_t EntryCount = 0;
};
