// Search statistics: one record of counters per worker, so that no counter is
// shared between threads, and the sums over all 32 records that the reports use.
#pragma once

#include <atomic>
#include <cstdint>

// A counter written by its own worker only and read by anyone: a relaxed
// load and store, as cheap as a plain increment, but never torn or hoisted.
template <class T>
class StatCounter {
public:
  StatCounter() = default;
  StatCounter(const StatCounter&) = delete;
  StatCounter& operator=(const StatCounter&) = delete;

  operator T() const { return Value.load(std::memory_order_relaxed); }
  StatCounter& operator=(T value) {
    Value.store(value, std::memory_order_relaxed);
    return *this;
  }
  StatCounter& operator+=(T amount) { return *this = static_cast<T>(*this + amount); }
  StatCounter& operator++() { return *this += 1; }
  void operator++(int) { *this += 1; }

private:
  std::atomic<T> Value{0};
};

// One worker's counters; the last block of fields is written in record 0
// only (results of the last search). Each record starts a cache line, so
// that workers counting nodes side by side never share one.
struct alignas(64) SearchStatistics {
  StatCounter<std::uint64_t> InnerNodes;           // node and root search
  StatCounter<std::uint64_t> QNodes;               // quiescence search
  StatCounter<std::uint64_t> IterationStartNodes;  // all nodes when this iteration began
  StatCounter<std::uint64_t> BranchingBase;        // the same for the iteration before
  StatCounter<std::uint64_t> BitbaseHits;          // nothing counts it
  StatCounter<std::uint64_t> SyzygyHits;
  StatCounter<std::uint64_t> HashProbes;
  StatCounter<std::uint64_t> HashHits;
  StatCounter<std::uint64_t> HashCutoffs;
  StatCounter<std::uint64_t> QHashProbes;
  StatCounter<std::uint64_t> QHashHits;
  StatCounter<std::uint64_t> QHashCutoffs;

  StatCounter<std::uint32_t> NullMoves;
  StatCounter<std::uint32_t> NullCutoffs;
  StatCounter<std::uint32_t> CutNodes;
  StatCounter<std::uint32_t> CutNodeOrdering;  // cut by the first move
  StatCounter<std::uint32_t> CheckExtensions;
  StatCounter<std::uint32_t> CaptureExtensions;
  StatCounter<std::uint32_t> QueenCaptureExtensions;
  StatCounter<std::uint32_t> AllNodes;
  StatCounter<std::uint32_t> AllNodeOrdering;  // best move was the first
  StatCounter<std::uint32_t> AllNodeTotal;     // reached the fourth move
  StatCounter<std::uint32_t> FalseAllNodes;    // cut by the fourth or a later move
  StatCounter<std::uint32_t> QsearchTotal;
  StatCounter<std::uint32_t> QsearchEfficient;
  StatCounter<std::uint32_t> SingularSearches;
  StatCounter<std::uint32_t> SingularExtensions;
  StatCounter<std::uint32_t> SingularFailures;
  StatCounter<std::uint32_t> WorkTime;
  StatCounter<std::uint32_t> IdleTime;
  StatCounter<std::uint32_t> Splits;
  StatCounter<std::uint32_t> FailedSplits;

  StatCounter<std::int32_t> Depth;    // iteration in progress
  StatCounter<std::int32_t> EndTime;  // ms of the whole search at its end
  StatCounter<std::int32_t> OwnTime;  // ms since the search's own start (ponder hit)
  StatCounter<std::uint32_t> SelDepth;
  StatCounter<std::int32_t> LastScore;  // of the last completed iteration

  void Clear();
};

inline constexpr int StatisticsRecords = 32;

// The records of all workers (record i belongs to worker i), then the pawn
// hash counters. The live block is Statistics; benchmarks keep a total.
struct StatisticsBlock {
  SearchStatistics Records[StatisticsRecords];
  StatCounter<std::uint64_t> PawnProbes;
  StatCounter<std::uint64_t> PawnHits;

  SearchStatistics& operator[](int worker) { return Records[worker]; }
  const SearchStatistics& operator[](int worker) const { return Records[worker]; }

  // Sums over the 32 records; during a search they are approximate.
  std::uint64_t InnerNodes() const;
  std::uint64_t QNodes() const;
  std::uint64_t BitbaseHits() const;
  std::uint64_t SyzygyHits() const;
  std::int32_t NullMoves() const;
  std::int32_t NullCutoffs() const;
  std::int32_t CutNodes() const;
  std::int32_t AllNodes() const;
  std::int32_t WorkTime() const;
  std::int32_t IdleTime() const;
  std::int32_t Splits() const;

  void Clear();
};

extern StatisticsBlock Statistics;

// Zeroes the live block (also done once before main).
void ClearStatistics();
// The highest selective depth of any worker.
int GetMaxSelDepth();
// Adds every counter of every live record into the same record of total, and
// record 0's total and own time into total's record 0.
void AddSearchStatistics(StatisticsBlock& total);
