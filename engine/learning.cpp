// The learning table in memory: buckets of entries by key, the depth rule for
// a position found again, and the score limits of what is worth keeping. The
// search reads it; the learning file fills and saves it.
#include "engine/learning.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/smp.h"
#include "support/logger.h"

Learning* ActiveLearning = nullptr;

void WriteLearningLog(bool verboseOnly, const char* format, ...) {
  Logger* log = ActiveLogger;
  if (!log || !log->IsOpen() || (verboseOnly && !log->Verbose)) return;
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  log->Write(LogText, text);
}

namespace {

// An array of entries carries one hidden slot in front of it that links to
// the array it replaced, so that outgrown arrays can be freed later, once no
// reader can hold them any more.
LearningEntry* AllocateEntries(int capacity, LearningEntry* outgrown) {
  void* block = std::malloc(sizeof(LearningEntry) * (static_cast<std::size_t>(capacity) + 1));
  if (!block) return nullptr;
  auto* slots = static_cast<LearningEntry*>(block);
  std::memcpy(&slots[0], &outgrown, sizeof outgrown);
  return slots + 1;
}

LearningEntry* OutgrownOf(LearningEntry* entries) {
  LearningEntry* outgrown;
  std::memcpy(&outgrown, entries - 1, sizeof outgrown);
  return outgrown;
}

void SetOutgrown(LearningEntry* entries, LearningEntry* outgrown) { std::memcpy(entries - 1, &outgrown, sizeof outgrown); }

void FreeEntries(LearningEntry* entries) {
  while (entries) {
    LearningEntry* outgrown = OutgrownOf(entries);
    std::free(entries - 1);
    entries = outgrown;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Buckets

bool LearningContainer::Find(const KeyPair& key, int& score, int& depth) const {
  const int count = Count.load(std::memory_order_acquire);
  LearningEntry* entries = Entries.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (entries[i].Hashkey != key.Hashkey || entries[i].Pawnkey != key.Pawnkey) continue;
    depth = std::atomic_ref<std::int32_t>(entries[i].Depth).load(std::memory_order_acquire);
    score = std::atomic_ref<std::int32_t>(entries[i].Score).load(std::memory_order_relaxed);
    return true;
  }
  return false;
}

bool LearningContainer::Add(const KeyPair& key, int score, int depth, bool& isNew) {
  isNew = false;
  const int count = Count.load(std::memory_order_relaxed);
  LearningEntry* entries = Entries.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    if (entries[i].Hashkey != key.Hashkey || entries[i].Pawnkey != key.Pawnkey) continue;
    // A deeper (or equally deep, newer) search knows better.
    if (depth >= entries[i].Depth) {
      std::atomic_ref<std::int32_t>(entries[i].Score).store(score, std::memory_order_relaxed);
      std::atomic_ref<std::int32_t>(entries[i].Depth).store(depth, std::memory_order_release);
    }
    return false;
  }
  if (count >= MaxEntries) return false;
  if (count == Capacity) {
    // Doubling keeps the copies and the outgrown arrays (kept until the next
    // ReleaseOutgrown) linear in the entries added.
    const int capacity = Capacity == 0 ? FirstCapacity : std::min(Capacity * 2, MaxEntries);
    LearningEntry* grown = AllocateEntries(capacity, entries);
    if (!grown) {
      WriteLearningLog(false, "Could not allocate memory for a Learning Container\n");
      return true;
    }
    if (count) std::memcpy(grown, entries, sizeof(LearningEntry) * count);
    grown[count] = {key.Hashkey, key.Pawnkey, score, depth};
    Entries.store(grown, std::memory_order_release);
    Capacity = capacity;
  } else {
    entries[count] = {key.Hashkey, key.Pawnkey, score, depth};
  }
  Count.store(count + 1, std::memory_order_release);
  isNew = true;
  return false;
}

void LearningContainer::ReleaseOutgrown() {
  LearningEntry* entries = Entries.load(std::memory_order_relaxed);
  if (!entries) return;
  FreeEntries(OutgrownOf(entries));
  SetOutgrown(entries, nullptr);
}

void LearningContainer::Free() {
  FreeEntries(Entries.load(std::memory_order_relaxed));
  Entries.store(nullptr, std::memory_order_relaxed);
  Count.store(0, std::memory_order_relaxed);
  Capacity = 0;
}

// ---------------------------------------------------------------------------
// The table

Learning::~Learning() = default;  // each bucket frees its own arrays

bool Learning::Add(const KeyPair& key, int score, int depth) {
  if (score > 5500) {
    WriteLearningLog(true, "Learning::Add() - Entry rejected as the score is above the maximum: %d\n", score);
    ++ScoresRejected;
    return false;
  }
  if (score < -7750) {
    WriteLearningLog(true, "Learning::Add() - Entry rejected as the score is below the minimum: %d\n", score);
    ++ScoresRejected;
    return false;
  }
  LearningContainer& container = Containers[BucketOf(key.Hashkey)];
  const bool wasFull = container.Full();
  bool isNew = false;
  if (container.Add(key, score, depth, isNew)) return true;
  if (isNew) {
    ++EntryCount;
  } else if (wasFull) {
    int storedScore, storedDepth;
    if (!container.Find(key, storedScore, storedDepth)) {
      ++BucketOverflows;
      WriteLearningLog(true, "Learning::Add() - Entry dropped as its bucket is full\n");
    }
  }
  return false;
}

void Learning::ReleaseOutgrown() {
  // Every caller runs between searches; should one ever run while worker
  // threads search, the outgrown arrays simply wait for a later call.
  if (AnyWorkerRunning()) return;
  for (LearningContainer& container : Containers) container.ReleaseOutgrown();
}

void Learning::FreeBuckets() {
  for (LearningContainer& container : Containers) container.Free();
  EntryCount = 0;
}
