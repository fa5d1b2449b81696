// The transposition table's memory, its replacement rules and the lockless
// read and write of an entry.
#include "engine/tt.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/frontendport.h"
#include "engine/settings.h"
#include "support/output.h"

namespace {

// The table to fall back on when no memory can be had at all, so that the
// search never meets a null table. Lives in zero-filled static storage.
constexpr std::uint64_t BuiltInEntries = (std::uint64_t{TranspositionTable::MinMegabytes} << 20) / sizeof(HashEntry);
alignas(64) HashEntry BuiltInTable[BuiltInEntries];

// Buckets are aligned to cache lines, so the raw block is a line longer.
constexpr std::size_t TableAlignment = 64;
void* RawBlock = nullptr;

void* CallocMemory(std::size_t bytes) { return std::calloc(bytes, 1); }
void FreeCallocMemory(void* memory) { std::free(memory); }

constexpr int StartAge = 4;
constexpr std::uint64_t AgeMask = std::uint64_t{0xf} << 60;

void Report(const char* text) {
  if (ActiveFrontEnd)
    ActiveFrontEnd->Info(text);
  else
    Printer.Print(ChannelStderr, true, "%s\n", text);
}

// A failed reallocation keeps the setting truthful: it shows what was had.
void ReallocateForSettings() {
  if (TranspositionTable::Allocate(Settings::MainHash)) Settings::MainHash = TranspositionTable::Megabytes();
}

[[maybe_unused]] const bool HookInstalled = [] {
  SettingsHooks::MainHashChanged = ReallocateForSettings;
  return true;
}();

}  // namespace

std::atomic<int> HashAge{StartAge};

HashEntry* TranspositionTable::Table = BuiltInTable;
std::uint64_t TranspositionTable::Entries = BuiltInEntries;
std::uint64_t TranspositionTable::Buckets = BuiltInEntries / 2;
TranspositionTable::FillSlot TranspositionTable::Fill[FillSlots];
thread_local int TranspositionTable::ThreadFillSlot = 0;
int TranspositionTable::SizeMb = TranspositionTable::MinMegabytes;
bool TranspositionTable::OwnsMemory = false;
void* (*TranspositionTable::AllocateMemory)(std::size_t) = CallocMemory;
void (*TranspositionTable::FreeMemory)(void*) = FreeCallocMemory;

void TranspositionTable::Free() {
  if (OwnsMemory) FreeMemory(RawBlock);
  RawBlock = nullptr;
  OwnsMemory = false;
  std::memset(static_cast<void*>(BuiltInTable), 0, sizeof BuiltInTable);
  Table = BuiltInTable;
  Entries = BuiltInEntries;
  Buckets = BuiltInEntries / 2;
  SizeMb = MinMegabytes;
}

bool TranspositionTable::Allocate(int megabytes) {
  const int wanted = std::clamp(megabytes, MinMegabytes, MaxMegabytes);
  ResetFill();
  HashAge.store(StartAge, std::memory_order_relaxed);
  // The old table goes first: its memory may be what the new one needs.
  Free();
  for (int size = wanted; size >= MinMegabytes; size /= 2) {
    const std::uint64_t bytes = std::uint64_t(size) << 20;
    void* block = AllocateMemory(static_cast<std::size_t>(bytes) + TableAlignment);
    if (!block) continue;
    RawBlock = block;
    OwnsMemory = true;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    Table = reinterpret_cast<HashEntry*>((address + TableAlignment - 1) & ~std::uintptr_t{TableAlignment - 1});
    Entries = bytes / sizeof(HashEntry);
    Buckets = bytes / (2 * sizeof(HashEntry));
    SizeMb = size;
    break;
  }
  if (SizeMb == wanted) return false;
  char text[128];
  std::snprintf(text, sizeof text, "Could not allocate %d MB for the hash table, using %d MB", wanted, SizeMb);
  Report(text);
  return true;
}

void TranspositionTable::Clear() {
  std::memset(static_cast<void*>(Table), 0, static_cast<std::size_t>(Entries * sizeof(HashEntry)));
  HashAge.store(StartAge, std::memory_order_relaxed);
  ResetFill();
}

void TranspositionTable::NewSearch() {
  HashAge.store((HashAge.load(std::memory_order_relaxed) + 1) & 15, std::memory_order_relaxed);
  ResetFill();
}

HashEntry TranspositionTable::Read(const HashEntry* slot) {
  HashEntry copy;
  copy.Data = std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(slot->Data)).load(std::memory_order_relaxed);
  copy.Check = std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(slot->Check)).load(std::memory_order_relaxed);
  return copy;
}

// Two plain stores: a reader that sees one word of this write and one of
// another finds a check word that fits neither, and takes it as a miss.
void TranspositionTable::Write(HashEntry* slot, std::uint64_t data, std::uint64_t check) {
  std::atomic_ref<std::uint64_t>(slot->Data).store(data, std::memory_order_relaxed);
  std::atomic_ref<std::uint64_t>(slot->Check).store(check, std::memory_order_relaxed);
}

HashEntry* TranspositionTable::Probe(const KeyPair& keys, HashEntry& found) {
  HashEntry* bucket = BucketOf(keys.Hashkey);
  const std::uint64_t key = CheckKey(keys);
  for (int i = 0; i < 2; i++) {
    found = Read(bucket + i);
    if ((found.Data ^ found.Check) == key) return bucket + i;
  }
  found = HashEntry();
  return nullptr;
}

void TranspositionTable::RefreshAge(HashEntry* entry, const HashEntry& seen) {
  const std::uint64_t age = static_cast<std::uint64_t>(HashAge.load(std::memory_order_relaxed));
  if (static_cast<std::uint64_t>(seen.Age()) == age) return;
  const std::uint64_t data = (seen.Data & ~AgeMask) | age << 60;
  Write(entry, data, seen.Check ^ seen.Data ^ data);
  CountFill();
}

void TranspositionTable::Store(const KeyPair& keys, int score, int depth, int ply, int bound, Move move,
                               std::uint32_t flags) {
  HashEntry* e0 = BucketOf(keys.Hashkey);
  HashEntry* e1 = e0 + 1;
  __builtin_prefetch(e0);
  if (score >= HashMateBound || score <= -HashMateBound) {
    score += score > 0 ? ply : -ply;
    flags |= HashMateFlag;
  }
  // The fields are narrow: a depth beyond 9 bits would run into the bound,
  // a score beyond 19 bits into the move.
  depth = std::clamp(depth, 0, MaxDepth);
  score = std::clamp(score, -(1 << 18), (1 << 18) - 1);

  const int age = HashAge.load(std::memory_order_relaxed);
  const std::uint64_t key = CheckKey(keys);
  const HashEntry first = Read(e0);
  HashEntry* target = e0;
  int fillGained = 0;
  if ((first.Data ^ first.Check) == key) {
    if (first.Depth() > depth) {
      RefreshAge(e0, first);
      return;
    }
    fillGained = first.Age() != age;
  } else if (first.Age() != age) {
    Write(e1, first.Data, first.Check);
    fillGained = 1;
  } else {
    const HashEntry second = Read(e1);
    fillGained = second.Age() != age;
    if (first.Depth() > depth)
      target = e1;
    else
      Write(e1, first.Data, first.Check);
  }
  if (fillGained) CountFill();

  const std::uint64_t high = (move & 0xffffffu) | flags;
  const std::uint64_t data = static_cast<std::uint64_t>(age) << 60 | high << 32 |
                             static_cast<std::uint32_t>(score) << 13 | static_cast<std::uint64_t>(depth) |
                             static_cast<std::uint64_t>(bound);
  Write(target, data, data ^ key);
}

void TranspositionTable::ResetFill() {
  for (FillSlot& slot : Fill) slot.Count.store(0, std::memory_order_relaxed);
}

void TranspositionTable::UseFillSlot(int slot) { ThreadFillSlot = slot >= 0 && slot < FillSlots ? slot : 0; }

std::uint64_t TranspositionTable::FillCount() {
  std::uint64_t fill = 0;
  for (const FillSlot& slot : Fill) fill += slot.Count.load(std::memory_order_relaxed);
  return fill;
}

int TranspositionTable::HashFull() {
  const std::uint64_t fill = FillCount();
  return static_cast<int>(std::min<std::uint64_t>(fill * 1000 / Entries, 1000));
}
