// Position learning: a table of positions with the score and depth a search
// found for them. The search driver adds its principal variations, the node
// search looks positions up. Null ActiveLearning: learning is off.
#pragma once

#include <cstdint>

#include "engine/position.h"

struct LearningEntry {
  std::uint64_t Hashkey;
  std::uint64_t Pawnkey;
  std::int32_t Score;  // milli-pawns, side to move's view
  std::int32_t Depth;  // quarter plies
};

// One bucket: entries in insertion order, grown four at a time.
struct LearningContainer {
  LearningEntry* Entries = nullptr;
  std::int32_t Count = 0;
  std::int32_t Capacity = 0;

  bool Find(const KeyPair& key, int& score, int& depth) const;
  // True on failure; isNew tells whether an entry was appended.
  bool Add(const KeyPair& key, int score, int depth, bool& isNew);
};

class Learning {
public:
  static constexpr int Buckets = 32768;
  static int BucketOf(std::uint64_t hashkey) { return static_cast<int>(hashkey & 0x7fff); }

  virtual ~Learning();
  virtual bool Load() = 0;
  virtual bool Close() = 0;
  // True on failure. Scores above 5500 or below -7750 are rejected (not a failure).
  virtual bool Add(const KeyPair& key, int score, int depth);
  virtual bool Save() = 0;

  LearningContainer Containers[Buckets];
  std::uint32_t EntryCount = 0;
};

class LearningFile;

extern Learning* ActiveLearning;
