// The registry of Syzygy tables: which tables exist on the path, their
// material keys in a hash, the lazy mapping of WDL tables shared by the
// search threads, and the cache of the most recently used DTZ tables.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "tablebase/decode.h"
#include "tablebase/mapping.h"

class Position;

// The largest number of men among the registered tables; 0 when none.
extern int TbMaxMen;

inline constexpr int TbMaxPieceEntries = 254;  // pawnless tables of a full 6-man set
inline constexpr int TbMaxPawnEntries = 256;   // tables with pawns of a full 6-man set
inline constexpr int TbHashBuckets = 2048;
inline constexpr int TbHashSlots = 4;
inline constexpr int DtzCacheSlots = 64;

enum TbState : std::uint8_t { TbUnloaded = 0, TbReady = 1, TbFailed = 2 };

struct TbEntry {
  std::uint64_t Key = 0;  // of the table's own material
  TableShape Shape;
  bool Symmetric = false;
  // Read without the lock by every search thread: set to ready only after
  // the sub-tables are complete, or to failed, which is final.
  std::atomic<std::uint8_t> State{TbUnloaded};
  MappedFile File;
  WdlTable Table;
};

struct DtzEntry {
  std::uint64_t Key = 0;
  TableShape Shape;
  bool Symmetric = false;
  MappedFile File;
  DtzTable Table;
};

// Material keys from the engine's own piece-square keys; mirror swaps the
// colours. Counts are indexed colour * 8 + table piece code (1 P .. 6 K).
std::uint64_t CalcKey(const Position& pos, bool mirror);
std::uint64_t CalcKeyFromPieces(const std::uint8_t counts[16], bool mirror);
// "K", the pieces Q R B N P of one colour, "v", the other colour's; mirror
// puts Black first.
std::string MaterialString(const Position& pos, bool mirror);

// Tables registered by the last InitTablebases.
int TbRegisteredCount();

// Opens nothing: the first directory of the path that holds the file.
// Empty when none does.
std::string FindTbFile(const std::string& name, const char* suffix);

// The registry entry of a material key; null when no table has it.
TbEntry* FindTbEntry(std::uint64_t key);
// Maps the WDL table of the entry on first use (any thread); false when it
// cannot be used, now or ever.
bool EnsureWdlTable(TbEntry& entry, const Position& pos, bool mirror);
// The DTZ table of a position's material, loaded into the cache on a miss;
// null when missing or unusable. The caller holds DtzCacheLock.
DtzEntry* FindDtzEntry(const Position& pos, std::uint64_t key);
std::mutex& DtzCacheLock();

// Table piece code (1 P, 2 N, 3 B, 4 R, 5 Q, 6 K; +8 for Black) to the
// engine's piece code.
inline constexpr int TbPieceMap[16] = {0, 1, 2, 5, 6, 7, 3, 0, 0, 9, 10, 13, 14, 15, 11, 0};
