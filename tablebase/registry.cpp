// The registry of Syzygy tables: registration by file existence, the
// material-key hash, lazy WDL mapping under a lock and the DTZ cache.
#include "tablebase/registry.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/frontendport.h"
#include "engine/position.h"
#include "engine/zobrist.h"
#include "support/output.h"
#include "tablebase/probe.h"

int TbMaxMen = 0;

namespace {

struct HashSlot {
  std::uint64_t Key;
  TbEntry* Entry;
};

// Written only by InitTablebases, before any search reads them.
TbEntry PieceEntries[TbMaxPieceEntries];
TbEntry PawnEntries[TbMaxPawnEntries];
int PieceEntryCount = 0;
int PawnEntryCount = 0;
HashSlot TbHash[TbHashBuckets][TbHashSlots];
std::vector<std::string> TbPaths;
std::mutex TbMutex;

struct DtzSlot {
  std::uint64_t Keys[2];
  std::unique_ptr<DtzEntry> Entry;
};
DtzSlot DtzCache[DtzCacheSlots];
std::mutex DtzMutex;

// Engine kinds in the order of the table names: Q, R, B, N, P.
constexpr int NameKinds[5] = {Queen, Rook, Bishop, Knight, Pawn};
constexpr char NameLetters[] = "KQRBNP";

// Messages reach the user the way every engine message does: through the
// front end when one is running, else straight to standard output.
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (ActiveFrontEnd) ActiveFrontEnd->Info(text);
  else Printer.Print(ChannelStdout, true, "%s", text);
}

std::size_t BucketOf(std::uint64_t key) { return static_cast<std::size_t>(key >> 53); }

// A full bucket spills into the next ones, so that every table of a full
// set finds a place whatever its key.
bool InsertKey(std::uint64_t key, TbEntry* entry) {
  for (int step = 0; step < TbHashBuckets; step++) {
    HashSlot* bucket = TbHash[(BucketOf(key) + step) % TbHashBuckets];
    for (int i = 0; i < TbHashSlots; i++)
      if (!bucket[i].Entry) {
        bucket[i] = {key, entry};
        return true;
      }
  }
  return false;
}

void ClearRegistry() {
  std::lock_guard<std::mutex> lock(TbMutex);
  for (int i = 0; i < PieceEntryCount; i++) {
    PieceEntries[i].File.Unmap();
    PieceEntries[i].Table = WdlTable{};
    PieceEntries[i].State.store(TbUnloaded, std::memory_order_relaxed);
  }
  for (int i = 0; i < PawnEntryCount; i++) {
    PawnEntries[i].File.Unmap();
    PawnEntries[i].Table = WdlTable{};
    PawnEntries[i].State.store(TbUnloaded, std::memory_order_relaxed);
  }
  {
    std::lock_guard<std::mutex> dtzLock(DtzMutex);
    for (DtzSlot& slot : DtzCache) slot = {{0, 0}, nullptr};
  }
  PieceEntryCount = PawnEntryCount = 0;
  TbMaxMen = 0;
  for (auto& bucket : TbHash)
    for (HashSlot& slot : bucket) slot = {0, nullptr};
  TbPaths.clear();
}

void InitTb(const char* name) {
  if (FindTbFile(name, ".rtbw").empty()) return;

  std::uint8_t counts[16] = {};
  int colour = 0;
  for (const char* c = name; *c; c++) {
    if (*c == 'v') {
      colour = 8;
      continue;
    }
    const char* letter = std::strchr(NameLetters, *c);
    // K Q R B N P are table codes 6 5 4 3 2 1.
    counts[colour + 6 - (letter - NameLetters)]++;
  }
  const std::uint64_t key = CalcKeyFromPieces(counts, false);
  const std::uint64_t mirrored = CalcKeyFromPieces(counts, true);
  const bool hasPawns = counts[1] + counts[9] > 0;

  TbEntry* entry;
  if (hasPawns) {
    if (PawnEntryCount == TbMaxPawnEntries) {
      Report("TBMAX_PAWN limit too low!\n");
      return;
    }
    entry = &PawnEntries[PawnEntryCount++];
  } else {
    if (PieceEntryCount == TbMaxPieceEntries) {
      Report("TBMAX_PIECE limit too low!\n");
      return;
    }
    entry = &PieceEntries[PieceEntryCount++];
  }

  TableShape& shape = entry->Shape;
  shape = {};
  std::memcpy(shape.Counts, counts, sizeof counts);
  int men = 0;
  for (std::uint8_t count : counts) men += count;
  shape.Men = static_cast<std::uint8_t>(men);
  shape.HasPawns = hasPawns;
  entry->Key = key;
  entry->Symmetric = key == mirrored;
  entry->State.store(TbUnloaded, std::memory_order_relaxed);
  if (men > TbMaxMen) TbMaxMen = men;
  if (hasPawns) {
    // The leading colour has fewer pawns; White when equal or when Black
    // has none.
    shape.Pawns[0] = counts[1];
    shape.Pawns[1] = counts[9];
    if (counts[9] > 0 && (counts[1] == 0 || counts[9] < counts[1])) std::swap(shape.Pawns[0], shape.Pawns[1]);
  } else {
    int unique = 0;
    for (std::uint8_t count : counts) unique += count == 1;
    shape.EncodingType = unique >= 3 ? 0 : 2;
  }

  if (!InsertKey(key, entry) || (mirrored != key && !InsertKey(mirrored, entry))) Report("HSHMAX too low!\n");
}

void RegisterAll() {
  char name[16];
  const char* l = NameLetters;
  for (int i = 1; i < 6; i++) {
    std::snprintf(name, sizeof name, "K%cvK", l[i]);
    InitTb(name);
  }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++) {
      std::snprintf(name, sizeof name, "K%cvK%c", l[i], l[j]);
      InitTb(name);
    }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++) {
      std::snprintf(name, sizeof name, "K%c%cvK", l[i], l[j]);
      InitTb(name);
    }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = 1; k < 6; k++) {
        std::snprintf(name, sizeof name, "K%c%cvK%c", l[i], l[j], l[k]);
        InitTb(name);
      }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++) {
        std::snprintf(name, sizeof name, "K%c%c%cvK", l[i], l[j], l[k]);
        InitTb(name);
      }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = i; k < 6; k++)
        for (int m = (i == k ? j : k); m < 6; m++) {
          std::snprintf(name, sizeof name, "K%c%cvK%c%c", l[i], l[j], l[k], l[m]);
          InitTb(name);
        }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++)
        for (int m = 1; m < 6; m++) {
          std::snprintf(name, sizeof name, "K%c%c%cvK%c", l[i], l[j], l[k], l[m]);
          InitTb(name);
        }
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++)
        for (int m = k; m < 6; m++) {
          std::snprintf(name, sizeof name, "K%c%c%c%cvK", l[i], l[j], l[k], l[m]);
          InitTb(name);
        }
}

// Maps a table file; reports what keeps it from use (a missing DTZ file is
// no news: DTZ tables are optional).
bool MapTable(MappedFile& file, const std::string& name, const char* suffix, bool reportMissing) {
  const std::string path = FindTbFile(name, suffix);
  if (path.empty()) {
    if (reportMissing) Report("Could not find %s%s\n", name.c_str(), suffix);
    return false;
  }
  switch (file.Map(path)) {
    case MapResult::Mapped: return true;
    case MapResult::NotFound:
      if (reportMissing) Report("Could not find %s%s\n", name.c_str(), suffix);
      return false;
    case MapResult::Empty: Report("Corrupted table.\n"); return false;
    case MapResult::Failed: Report("MapViewOfFile() failed.\n"); return false;
  }
  return false;
}

std::uint32_t Magic(const MappedFile& file) {
  if (file.Size() < 4) return 0;
  const std::uint8_t* p = file.Data();
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool LoadWdl(TbEntry& entry, const std::string& name) {
  if (!MapTable(entry.File, name, ".rtbw", true)) return false;
  if (Magic(entry.File) == WdlMagic && InitTableWdl(entry.Shape, entry.File.Data(), entry.File.Size(), entry.Table))
    return true;
  Report("Corrupted table.\n");
  entry.Table = WdlTable{};
  entry.File.Unmap();
  return false;
}

std::unique_ptr<DtzEntry> LoadDtzTable(const TbEntry& wdl, const std::string& name) {
  auto entry = std::make_unique<DtzEntry>();
  entry->Key = wdl.Key;
  entry->Shape = wdl.Shape;
  entry->Symmetric = wdl.Symmetric;
  if (!MapTable(entry->File, name, ".rtbz", false)) return nullptr;
  if (Magic(entry->File) == DtzMagic &&
      InitTableDtz(entry->Shape, entry->File.Data(), entry->File.Size(), entry->Table))
    return entry;
  Report("Corrupted table.\n");
  return nullptr;
}

}  // namespace

std::uint64_t CalcKeyFromPieces(const std::uint8_t counts[16], bool mirror) {
  std::uint64_t key = 0;
  for (int colour = 0; colour < 2; colour++)
    for (int code = 1; code <= 5; code++) {
      const int engineCode = TbPieceMap[code] + (mirror ? 1 - colour : colour) * 8;
      for (int i = 0; i < counts[colour * 8 + code]; i++) key ^= ZobristKeys.PieceSquare[engineCode][i];
    }
  return key;
}

std::uint64_t CalcKey(const Position& pos, bool mirror) {
  std::uint8_t counts[16] = {};
  for (int colour = 0; colour < 2; colour++)
    for (int code = 1; code <= 5; code++) {
      const int count = pos.CountOf(TbPieceMap[code] + colour * 8);
      // A position beyond any table's material has no key of a table.
      counts[colour * 8 + code] = static_cast<std::uint8_t>(count < 16 ? count : 15);
    }
  return CalcKeyFromPieces(counts, mirror);
}

std::string MaterialString(const Position& pos, bool mirror) {
  std::string text;
  for (int side = 0; side < 2; side++) {
    const int colour = mirror ? 1 - side : side;
    if (side == 1) text += 'v';
    text += 'K';
    for (int n = 0; n < 5; n++)
      text.append(static_cast<std::size_t>(pos.CountOf(PieceCode(colour, NameKinds[n]))), NameLetters[n + 1]);
  }
  return text;
}

std::string FindTbFile(const std::string& name, const char* suffix) {
  for (const std::string& directory : TbPaths) {
    std::string path = directory + '/' + name + suffix;
    if (CanOpenFile(path)) return path;
  }
  return {};
}

void InitTablebases(const char* path) {
  ClearRegistry();
  if (!path || !*path || std::strcmp(path, "<empty>") == 0) return;
  const std::string list(path);
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = list.find(';', start);
    const std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) TbPaths.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (TbPaths.empty()) return;
  RegisterAll();
  Report("Found %d tablebases.\n", PieceEntryCount + PawnEntryCount);
}

int TbRegisteredCount() { return PieceEntryCount + PawnEntryCount; }

TbEntry* FindTbEntry(std::uint64_t key) {
  for (int step = 0; step < TbHashBuckets; step++) {
    const HashSlot* bucket = TbHash[(BucketOf(key) + step) % TbHashBuckets];
    bool full = true;
    for (int i = 0; i < TbHashSlots; i++) {
      if (!bucket[i].Entry) {
        full = false;
        break;
      }
      if (bucket[i].Key == key) return bucket[i].Entry;
    }
    if (!full) return nullptr;
  }
  return nullptr;
}

bool EnsureWdlTable(TbEntry& entry, const Position& pos, bool mirror) {
  std::uint8_t state = entry.State.load(std::memory_order_acquire);
  if (state != TbUnloaded) return state == TbReady;
  std::lock_guard<std::mutex> lock(TbMutex);
  state = entry.State.load(std::memory_order_relaxed);
  if (state == TbUnloaded) {
    state = LoadWdl(entry, MaterialString(pos, mirror)) ? TbReady : TbFailed;
    entry.State.store(state, std::memory_order_release);
  }
  return state == TbReady;
}

std::mutex& DtzCacheLock() { return DtzMutex; }

DtzEntry* FindDtzEntry(const Position& pos, std::uint64_t key) {
  int hit = -1;
  for (int i = 0; i < DtzCacheSlots && hit < 0; i++)
    if (DtzCache[i].Keys[0] == key || DtzCache[i].Keys[1] == key) hit = i;
  if (hit > 0) {
    DtzSlot found = std::move(DtzCache[hit]);
    for (int i = hit; i > 0; i--) DtzCache[i] = std::move(DtzCache[i - 1]);
    DtzCache[0] = std::move(found);
  }
  if (hit >= 0) return DtzCache[0].Entry.get();

  const TbEntry* wdl = FindTbEntry(key);
  if (!wdl) return nullptr;
  const bool mirror = wdl->Key != key;
  for (int i = DtzCacheSlots - 1; i > 0; i--) DtzCache[i] = std::move(DtzCache[i - 1]);
  DtzCache[0].Keys[0] = CalcKey(pos, mirror);
  DtzCache[0].Keys[1] = CalcKey(pos, !mirror);
  // A table that failed keeps its slot empty, so it is not tried again
  // while it stays in the cache.
  DtzCache[0].Entry = LoadDtzTable(*wdl, MaterialString(pos, mirror));
  return DtzCache[0].Entry.get();
}
