// Position learning: a table of positions with the score and depth a search
// found for them. The search driver adds its principal variations, the node
// search looks positions up; the learning file (frontend/learningfile.h)
// loads and saves it. Null ActiveLearning: learning is off.
#pragma once

#include <cstdint>

#include <atomic>

#include "engine/position.h"

// One record; the same 24 bytes in memory and, little-endian, in the file.
struct alignas(8) LearningEntry {
  std::uint64_t Hashkey;
  std::uint64_t Pawnkey;
  std::int32_t Score;  // milli-pawns, side to move's view
  std::int32_t Depth;  // quarter plies
};
static_assert(sizeof(LearningEntry) == 24);

// One bucket: entries in insertion order, grown four at a time.
//
// Only the main thread adds, and every search thread may look up at the same
// moment, without a lock. So an entry is complete before the count that shows
// it is published (release), a reader takes the count (acquire) before the
// array, and an outgrown array stays readable until ReleaseOutgrown, which
// runs only where no search can be reading (load, save, close). A stored
// depth only ever grows and is written after its score, so a reader that sees
// the new depth also sees the new score.
struct LearningContainer {
  std::atomic<LearningEntry*> Entries{nullptr};
  std::atomic<std::int32_t> Count{0};
  std::int32_t Capacity = 0;

  LearningContainer() = default;
  LearningContainer(const LearningContainer&) = delete;
  LearningContainer& operator=(const LearningContainer&) = delete;
  ~LearningContainer() { Free(); }

  bool Find(const KeyPair& key, int& score, int& depth) const;
  // True on failure; isNew tells whether an entry was appended.
  bool Add(const KeyPair& key, int score, int depth, bool& isNew);
  // Frees the arrays this bucket has outgrown. No search may be running.
  void ReleaseOutgrown();
  // Empties the bucket and frees all its memory. No search may be running.
  void Free();
};

class Learning {
public:
  static constexpr int Buckets = 32768;
  static int BucketOf(std::uint64_t hashkey) { return static_cast<int>(hashkey & 0x7fff); }

  Learning() = default;
  Learning(const Learning&) = delete;
  Learning& operator=(const Learning&) = delete;

  virtual ~Learning();
  virtual bool Load() = 0;
  virtual bool Close() = 0;
  // True on failure. Scores above 5500 or below -7750 are rejected (not a failure).
  virtual bool Add(const KeyPair& key, int score, int depth);
  virtual bool Save() = 0;

  // The learned result of a position, false when there is none.
  bool Find(const KeyPair& key, int& score, int& depth) const {
    return Containers[BucketOf(key.Hashkey)].Find(key, score, depth);
  }
  void ReleaseOutgrown();
  void FreeBuckets();

  LearningContainer Containers[Buckets];
  std::uint32_t EntryCount = 0;  // nonzero: there is something to save
};

extern Learning* ActiveLearning;

// The largest depth (quarter plies) a search can store; a file record beyond
// it, or below 0, is damage and is not loaded.
inline constexpr int MaxLearnedDepth = 128 * 4;

// A line of the learning table or file for the log; verboseOnly lines are
// written only at the verbose log level.
void WriteLearningLog(bool verboseOnly, const char* format, ...) __attribute__((format(printf, 2, 3)));
