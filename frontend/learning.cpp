// The learning table in memory: buckets of entries by key, the depth rule for
// a position found again, and the score limits of what is worth keeping.
#include "frontend/learning.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/logger.h"

Learning* ActiveLearning = nullptr;

namespace {

void WriteToLog(bool verboseOnly, const char* text) {
  Logger* log = ActiveLogger;
  if (!log || !log->IsOpen() || (verboseOnly && !log->Verbose)) return;
  log->Write(LogText, text);
}

}  // namespace

bool LearningContainer::Find(const KeyPair& key, int& score, int& depth) const {
  for (int i = 0; i < Count; ++i) {
    if (Entries[i].Hashkey != key.Hashkey || Entries[i].Pawnkey != key.Pawnkey) continue;
    score = Entries[i].Score;
    depth = Entries[i].Depth;
    return true;
  }
  return false;
}

bool LearningContainer::Add(const KeyPair& key, int score, int depth, bool& isNew) {
  isNew = false;
  for (int i = 0; i < Count; ++i) {
    if (Entries[i].Hashkey != key.Hashkey || Entries[i].Pawnkey != key.Pawnkey) continue;
    // A deeper (or equally deep, newer) search knows better.
    if (depth >= Entries[i].Depth) {
      Entries[i].Score = score;
      Entries[i].Depth = depth;
    }
    return false;
  }
  if (Count == Capacity) {
    auto* grown = static_cast<LearningEntry*>(std::malloc(sizeof(LearningEntry) * (Capacity + 4)));
    if (!grown) {
      WriteToLog(false, "Could not allocate memory for a Learning Container\n");
      return true;
    }
    if (Count) std::memcpy(grown, Entries, sizeof(LearningEntry) * Count);
    std::free(Entries);
    Entries = grown;
    Capacity += 4;
  }
  Entries[Count++] = {key.Hashkey, key.Pawnkey, score, depth};
  isNew = true;
  return false;
}

Learning::~Learning() {
  for (auto& container : Containers) std::free(container.Entries);
}

bool Learning::Add(const KeyPair& key, int score, int depth) {
  char text[128];
  if (score > 5500) {
    std::snprintf(text, sizeof text, "Learning::Add() - Entry rejected as the score is above the maximum: %d\n", score);
    WriteToLog(true, text);
    return false;
  }
  if (score < -7750) {
    std::snprintf(text, sizeof text, "Learning::Add() - Entry rejected as the score is below the minimum: %d\n", score);
    WriteToLog(true, text);
    return false;
  }
  bool isNew = false;
  if (Containers[BucketOf(key.Hashkey)].Add(key, score, depth, isNew)) return true;
  if (isNew) ++EntryCount;
  return false;
}
