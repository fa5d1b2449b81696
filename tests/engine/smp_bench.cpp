// The SMP benchmark: time to a fixed depth on the ten benchmark positions for
// 1, 2, 4 and 8 threads, and the speed-up over one thread. Disabled among the
// tests; run it with
//   engine_tests --gtest_also_run_disabled_tests --gtest_filter='*SmpBenchmark*'
// QUELM_SMP_DEPTH sets the depth (default 12), QUELM_SMP_RUNS the runs per
// thread count (default 1; the times are summed), QUELM_SMP_THREADS the
// thread counts after the one-thread reference (default "2,4,8"),
// QUELM_SMP_SPLITDEPTH the split depth in quarter plies, QUELM_SMP_MAXSPLIT
// the most workers at one split point and QUELM_SMP_MINSPLIT the fewest moves
// a node must have left to split (default: the settings' own). The
// one-thread reference runs once, as it searches the same tree every time
// (its row is scaled to the runs).
// "idle" is the share of the helpers' samples (one every 50 us) that found
// them waiting for work without split points of their own, "waiting" the
// main thread's share spent waiting at its own split points.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "smp_fixture.h"

namespace {

// The console benchmark's positions.
constexpr const char* BenchPositions[] = {
    "r3kn1r/pp2bpp1/2p1bn1p/q2p4/3P3B/2NBP2P/PPQ1NPP1/1K1R3R w kq -",
    "2kr2nr/ppp2ppp/2b1pq2/8/1b1PP3/2NBBPP1/PP5P/R2QK2R b KQ -",
    "2rq1rk1/pb3ppp/1p2p3/n7/3PP3/3B1N2/P2Q1PPP/3RR1K1 w - -",
    "r1bqr1kb/pp5p/4ppp1/2pPP3/2P2P2/8/P2QB1PP/1RB1K2R w K -",
    "1r2q1k1/p1rn3p/1pp1pp2/P2n4/1P1P4/Q4N2/5PPP/2RR1BK1 w - -",
    "r2q1rk1/pppnb1pp/8/3P1p2/N1PQ4/8/PP2B1PP/R4RK1 b - -",
    "r3rbk1/1bqn1ppp/pp1ppn2/8/2PNP3/2N1BP2/PP1Q2PP/2RR1BK1 w - -",
    "r1bq1rk1/1pp1bppp/p1p5/2n1P3/3N4/2N5/PPP2PPP/R1BQR1K1 b - -",
    "r2qr1k1/pp3pbp/n5p1/2pP1b2/2Q1nB2/2N2N2/PP2BPPP/3R1RK1 w - -",
    "r3k2r/pp1bb1pp/1q2pn2/3pB3/1P6/2PB4/P4PPP/RN1Q1RK1 w kq -",
};

// How often the sampler found the helpers idle without split points of
// their own, and the main thread waiting at its own split points.
struct StateCounts {
  std::uint64_t HelperIdle = 0, Helper = 0, MainWaiting = 0, Main = 0;

  static double Share(std::uint64_t part, std::uint64_t whole) { return whole ? double(part) / whole : 0; }
  double HelperIdleShare() const { return Share(HelperIdle, Helper); }
  double MainWaitingShare() const { return Share(MainWaiting, Main); }
};

// Samples the workers' states into the counts while a search runs.
class StateSampler {
public:
  StateSampler(int threads, StateCounts& counts)
      : Threads(threads), Counts(counts), Sampler([this] { Sample(); }) {}
  ~StateSampler() {
    Done.store(true);
    Sampler.join();
  }

private:
  void Sample() {
    while (!Done.load()) {
      for (int i = 0; i < Threads; ++i) {
        const Worker* worker = WorkerPool[i];
        if (!worker) continue;
        const bool idle = worker->State.load(std::memory_order_relaxed) == WorkerIdle;
        const bool owner = worker->OwnSplitPoints.load(std::memory_order_relaxed) > 0;
        if (i == 0) {
          ++Counts.Main;
          Counts.MainWaiting += idle && owner;
        } else {
          ++Counts.Helper;
          Counts.HelperIdle += idle && !owner;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }

  const int Threads;
  StateCounts& Counts;
  std::atomic<bool> Done{false};
  std::thread Sampler;
};

int FromEnvironment(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// The thread counts to measure: 1 first, as the reference of the others.
std::vector<int> ThreadCountsFromEnvironment() {
  std::vector<int> counts = {1};
  const char* text = std::getenv("QUELM_SMP_THREADS");
  for (const char* p = text ? text : "2,4,8"; *p;) {
    const int count = std::atoi(p);
    if (count > 1 && count <= MaxWorkers) counts.push_back(count);
    while (*p && *p != ',') ++p;
    if (*p) ++p;
  }
  return counts;
}

TEST_F(SmpTest, DISABLED_SmpBenchmark) {
  const int depth = FromEnvironment("QUELM_SMP_DEPTH", 12);
  const int runs = FromEnvironment("QUELM_SMP_RUNS", 1);
  Settings::SplitDepth = FromEnvironment("QUELM_SMP_SPLITDEPTH", Settings::SplitDepth);
  Settings::MaxSplit = FromEnvironment("QUELM_SMP_MAXSPLIT", Settings::MaxSplit);
  Settings::MinSplit = FromEnvironment("QUELM_SMP_MINSPLIT", Settings::MinSplit);
  TranspositionTable::Allocate(64);
  double reference = 0;
  std::uint64_t referenceNodes = 0;
  std::printf("depth %d, %d run(s) of %zu positions, split depth %d, at most %d workers a split point, at least %d "
              "moves left\n",
              depth, runs, std::size(BenchPositions), Settings::SplitDepth, Settings::MaxSplit, Settings::MinSplit);
  std::printf("%7s %9s %13s %11s %8s %8s %8s %8s %6s %7s\n", "threads", "seconds", "nodes", "nps", "speedup", "nodes x",
              "splits", "failed", "idle", "waiting");
  for (const int threads : ThreadCountsFromEnvironment()) {
    double seconds = 0;
    std::uint64_t nodes = 0;
    std::int64_t splits = 0, failed = 0;
    StateCounts counts;
    for (int run = 0; run < (threads == 1 ? 1 : runs); ++run) {
      for (const char* fen : BenchPositions) {
        ChessGame game = FromFen(fen);
        TranspositionTable::Clear();
        const auto start = std::chrono::steady_clock::now();
        {
          StateSampler sampler(threads, counts);
          ThinkOnThreads(game, threads, depth);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        nodes += Statistics.InnerNodes() + Statistics.QNodes();
        splits += Statistics.Splits();
        for (int i = 0; i < threads; ++i) failed += Statistics[i].FailedSplits;
        EXPECT_EQ(Statistics[0].Depth, depth) << fen;
      }
    }
    if (threads == 1) {
      reference = seconds * runs;
      referenceNodes = nodes * runs;
      seconds = reference;
      nodes = referenceNodes;
    }
    std::printf("%7d %9.3f %13llu %11.0f %8.2f %8.2f %8lld %8lld %6.3f %7.3f\n", threads, seconds,
                static_cast<unsigned long long>(nodes), nodes / seconds, reference / seconds,
                static_cast<double>(nodes) / referenceNodes, static_cast<long long>(splits),
                static_cast<long long>(failed), counts.HelperIdleShare(), counts.MainWaitingShare());
    std::fflush(stdout);
  }
}

}  // namespace
