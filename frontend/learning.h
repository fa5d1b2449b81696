// Position learning: a table of positions with the score and depth a search
// found for them, kept in "quelm.plf" between runs. The search driver adds its
// principal variations, the node search looks positions up, the console's
// "learn" and "deeplearn" fill the table on purpose. Null ActiveLearning:
// learning is off.
#pragma once

#include <csignal>
#include <cstdint>

#include <atomic>

#include "engine/move.h"
#include "engine/position.h"

class ChessGame;

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

// The learning file "quelm.plf" in the current directory. Save never leaves a
// half-written file behind: the table goes to "quelm.plf.tmp" beside it, is
// forced to the disk and then renamed over the old file, under an advisory
// lock that keeps two engines in one directory from saving at once.
class LearningFile : public Learning {
public:
  static constexpr const char* DefaultName = "quelm.plf";
  // How long a save waits for another program's save before it skips.
  int LockWaitMs = 5000;

  ~LearningFile() override;
  bool Load() override;
  bool Close() override;
  bool Save() override;

  char* LearningFileName = nullptr;  // null until the first Load

  // What the last Load found: records taken, records refused for a depth no
  // search can have, and the bytes of a part record at the end.
  std::uint32_t RecordsRead = 0;
  std::uint32_t RecordsRefused = 0;
  std::uint32_t TrailingBytes = 0;

private:
  const char* FileName();
};

extern Learning* ActiveLearning;

// The largest depth (quarter plies) a search can store; a file record beyond
// it, or below 0, is damage and is not loaded.
inline constexpr int MaxLearnedDepth = 128 * 4;

// Start-up with learning on: makes the run's table, reads the learning file
// into it and tells the front end what came of it.
void OpenLearning();

// The console's "learn": a principal variation of up to 12 plies searched
// forwards and then backwards, at rising depths.
void Learn(ChessGame* game, int depth);
// The console's "deeplearn": iterative deepening over a tree of good moves,
// until Ctrl-C (SIGINT) or a line of input asks it to stop.
void DeepLearn(ChessGame* game, int depth);

// One level of the deeplearn tree.
struct DeepLearnLevel {
  static constexpr int MaxMoves = 16;
  Move moves[MaxMoves];
  std::int32_t count;
  std::int32_t index;  // the move being examined
  std::int32_t depth;  // whole plies
  std::int32_t score;  // white's view
};
inline constexpr int DeepLearnLevels = 12;

// The smallest level at which a re-search changed the score, 12 when none.
int DeepLearnNode(ChessGame* game, DeepLearnLevel levels[DeepLearnLevels], int depth, int level);
// The SIGINT handler of deeplearn: it only raises DeepLearnAbort.
extern "C" void InterruptDeepAnalysis(int);
extern volatile std::sig_atomic_t DeepLearnAbort;

// The console command lines: args is the rest of the line after the word;
// without a number the command does nothing.
void LearnCommand(ChessGame& game, const char* args);
void DeepLearnCommand(ChessGame& game, const char* args);
