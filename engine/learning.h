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

// One bucket: entries in insertion order, its array doubled as it grows, up
// to MaxEntries.
//
// Only the main thread adds, and every search thread may look up at the same
// moment, without a lock. So an entry is complete before the count that shows
// it is published (release), a reader takes the count (acquire) before the
// array, and an outgrown array stays readable until ReleaseOutgrown, which
// runs only where no search can be reading (load, save, close). A stored
// depth only ever grows and is written after its score, so a reader that sees
// the new depth also sees the new score.
struct LearningContainer {
  // A bucket is scanned whole by every look-up and by every add. A file
  // crafted to fill one bucket made loading quadratic in time and memory;
  // this cap keeps both linear. Chosen by us: a table filled evenly reaches
  // it only at about 8 million positions (a 200 MB file), far beyond what
  // games and learning runs gather, and a look-up scans at most 256 entries.
  static constexpr int MaxEntries = 256;
  static constexpr int FirstCapacity = 4;

  std::atomic<LearningEntry*> Entries{nullptr};
  std::atomic<std::int32_t> Count{0};
  std::int32_t Capacity = 0;

  LearningContainer() = default;
  LearningContainer(const LearningContainer&) = delete;
  LearningContainer& operator=(const LearningContainer&) = delete;
  ~LearningContainer() { Free(); }

  bool Find(const KeyPair& key, int& score, int& depth) const;
  // True on failure; isNew tells whether an entry was appended. A new
  // position for a full bucket is no failure: it is dropped (isNew false).
  bool Add(const KeyPair& key, int score, int depth, bool& isNew);
  bool Full() const { return Count.load(std::memory_order_relaxed) >= MaxEntries; }
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
  // What Add turned away, for the reports of a load: scores beyond the
  // limits, and new positions whose bucket was full.
  std::uint32_t ScoresRejected = 0;
  std::uint32_t BucketOverflows = 0;
};

extern Learning* ActiveLearning;

// The largest depth (quarter plies) a search can store; a file record beyond
// it, or below 0, is damage and is not loaded.
inline constexpr int MaxLearnedDepth = 128 * 4;

// A line of the learning table or file for the log; verboseOnly lines are
// written only at the verbose log level.
void WriteLearningLog(bool verboseOnly, const char* format, ...) __attribute__((format(printf, 2, 3)));
