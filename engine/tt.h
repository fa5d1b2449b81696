// The transposition table: one global array of 16-byte entries in buckets of
// two, shared by every search thread without a lock. Each entry carries a
// check word, so a torn or foreign entry is recognised and reads as a miss.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/move.h"
#include "engine/position.h"

// One slot of the table, exactly as stored.
//   Data:  bits 0-8 depth (quarter plies), 11-12 bound, 13-31 score (signed
//          19 bits), 32-55 move, 56 singular flag, 59 mate flag, 60-63 age.
//   Check: Data ^ Hashkey ^ low 32 bits of Pawnkey.
// A default-constructed entry is the zero entry, which matches no position.
struct alignas(16) HashEntry {
  std::uint64_t Data = 0;
  std::uint64_t Check = 0;

  int Depth() const { return static_cast<int>(Data & 0x1ff); }
  int Bound() const { return static_cast<int>(Data & 0x1800); }
  int Score() const { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Data)) >> 13; }
  // The stored move, without the flag bits above it.
  Move GetMove() const { return static_cast<Move>(Data >> 32) & 0xffffff; }
  bool IsSingular() const { return (Data >> 56) & 1; }
  bool IsMate() const { return (Data >> 59) & 1; }
  int Age() const { return static_cast<int>(Data >> 60); }
};

// Bounds, in place in the data word.
inline constexpr int BoundLower = 2048;
inline constexpr int BoundUpper = 4096;
inline constexpr int BoundExact = 6144;

// Flags of the high word, in the move word's units (ORed onto the move).
inline constexpr std::uint32_t HashSingularFlag = 0x1000000;
inline constexpr std::uint32_t HashMateFlag = 0x8000000;

// Scores of this size or more are mates, stored relative to the node.
inline constexpr int HashMateBound = 199000;

// A stored score made relative to the reading node again: a mate found
// further down is that many plies further from the root. The node search
// passes HashMateBound, the quiescence search HashMateBound + 1.
constexpr int HashScoreAtPly(int score, int ply, int mateBound = HashMateBound) {
  if (score >= mateBound) return score - ply;
  if (score <= -mateBound) return score + ply;
  return score;
}

// The age of the entries the running search writes (0..15).
extern std::atomic<int> HashAge;

class TranspositionTable {
public:
  static constexpr int MinMegabytes = 1;
  static constexpr int MaxMegabytes = sizeof(void*) == 4 ? 1024 : 65536;
  // The largest depth the entry's 9-bit field holds.
  static constexpr int MaxDepth = 511;

  // Replaces the table by a zeroed one of megabytes MB (clamped to
  // MinMegabytes..MaxMegabytes). When that much memory cannot be had, the
  // largest smaller power-of-two size that can is used, at worst a built-in
  // 1 MB table, so the table is always usable. True when the size asked for
  // could not be had; Megabytes() tells what was.
  static bool Allocate(int megabytes);
  // Zeroes every entry; age 4, fill 0.
  static void Clear();
  // Gives back the memory (end of the run); the built-in table remains.
  static void Free();

  // Starts the age of a new search: age + 1, fill 0.
  static void NewSearch();

  static void Prefetch(std::uint64_t hashkey) { __builtin_prefetch(BucketOf(hashkey)); }

  // The first of the bucket's two entries that holds this position, copied
  // into found; null (found zero) when neither does.
  static HashEntry* Probe(const KeyPair& keys, HashEntry& found);

  // flags: HashSingularFlag, HashMateFlag (the mate flag is added anyway for
  // mate scores). depth is clamped to 0..MaxDepth.
  static void Store(const KeyPair& keys, int score, int depth, int ply, int bound, Move move, std::uint32_t flags);
  static void StoreLower(const KeyPair& keys, int score, int depth, int ply, Move move, std::uint32_t flags) {
    Store(keys, score, depth, ply, BoundLower, move, flags);
  }
  static void StoreExact(const KeyPair& keys, int score, int depth, int ply, Move move, std::uint32_t flags) {
    Store(keys, score, depth, ply, BoundExact, move, flags);
  }
  // An upper bound has no best move: whatever the caller has is dropped.
  static void StoreUpper(const KeyPair& keys, int score, int depth, int ply, Move = 0, std::uint32_t = 0) {
    Store(keys, score, depth, ply, BoundUpper, NoMove, 0);
  }

  // Brings an entry found by Probe (seen = what Probe copied) to the current
  // age, keeping it valid; an entry of an older age counts towards the fill.
  static void RefreshAge(HashEntry* entry, const HashEntry& seen);

  // Entries of the current age written since the search began, per mille of
  // the table (at most 1000).
  static int HashFull();

  static std::uint64_t EntryCount() { return Entries; }
  static std::uint64_t BucketCount() { return Buckets; }
  static std::uint64_t FillCount();
  // The fill counter the calling thread adds to: each search thread names
  // its own (0..FillSlots - 1), so that no cache line is written by all of
  // them; threads that name none share slot 0.
  static void UseFillSlot(int slot);
  static int Megabytes() { return SizeMb; }

  // The check-word key of a position.
  static std::uint64_t CheckKey(const KeyPair& keys) { return keys.Hashkey ^ (keys.Pawnkey & 0xffffffffu); }

  // Where the table's memory comes from: zeroed memory, or null on failure.
  // Tests put a failing one in its place.
  static void* (*AllocateMemory)(std::size_t bytes);
  static void (*FreeMemory)(void* memory);

private:
  static HashEntry* BucketOf(std::uint64_t hashkey) {
    std::uint64_t bucket = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(hashkey)) * Buckets) >> 32;
    return Table + 2 * bucket;
  }
  static void Write(HashEntry* slot, std::uint64_t data, std::uint64_t key);
  static HashEntry Read(const HashEntry* slot);

  static HashEntry* Table;
  static std::uint64_t Entries;
  static std::uint64_t Buckets;
  static constexpr int FillSlots = 32;
  struct alignas(64) FillSlot {
    std::atomic<std::uint64_t> Count{0};
  };
  static FillSlot Fill[FillSlots];
  static thread_local int ThreadFillSlot;
  static void CountFill() { Fill[ThreadFillSlot].Count.fetch_add(1, std::memory_order_relaxed); }
  static void ResetFill();
  static int SizeMb;
  static bool OwnsMemory;
};
