// Search statistics: the sums over the workers' records, clearing, the
// deepest selective depth, and the running total the benchmarks keep.
#include "engine/stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

class StatisticsTest : public ::testing::Test {
protected:
  void SetUp() override { ClearStatistics(); }
  void TearDown() override { ClearStatistics(); }
};

TEST_F(StatisticsTest, SumsAddEveryWorkersRecord) {
  const std::uint64_t big = std::uint64_t{5} << 32;  // beyond 32 bits
  Statistics[0].InnerNodes = big;
  Statistics[7].InnerNodes = 3;
  Statistics[31].InnerNodes = 4;
  Statistics[1].QNodes = big;
  Statistics[31].QNodes = 1;
  Statistics[2].SyzygyHits = 6;
  Statistics[30].BitbaseHits = 2;
  for (int i = 0; i < StatisticsRecords; i++) {
    Statistics[i].NullMoves = 2;
    Statistics[i].NullCutoffs = 1;
    Statistics[i].CutNodes = i;
    Statistics[i].AllNodes = 10;
    Statistics[i].WorkTime = 100;
    Statistics[i].IdleTime = 1;
    Statistics[i].Splits = i % 2;
  }
  EXPECT_EQ(Statistics.InnerNodes(), big + 7);
  EXPECT_EQ(Statistics.QNodes(), big + 1);
  EXPECT_EQ(Statistics.SyzygyHits(), 6u);
  EXPECT_EQ(Statistics.BitbaseHits(), 2u);
  EXPECT_EQ(Statistics.NullMoves(), 64);
  EXPECT_EQ(Statistics.NullCutoffs(), 32);
  EXPECT_EQ(Statistics.CutNodes(), 31 * 32 / 2);
  EXPECT_EQ(Statistics.AllNodes(), 320);
  EXPECT_EQ(Statistics.WorkTime(), 3200);
  EXPECT_EQ(Statistics.IdleTime(), 32);
  EXPECT_EQ(Statistics.Splits(), 16);
}

TEST_F(StatisticsTest, ClearZeroesCountersAndTheLastSearchsResults) {
  Statistics[0].InnerNodes = 99;
  Statistics[0].Depth = 12;
  Statistics[0].EndTime = 5000;
  Statistics[0].OwnTime = 4000;
  Statistics[0].LastScore = -350;
  Statistics[3].SelDepth = 40;
  Statistics[31].FailedSplits = 8;
  Statistics.PawnProbes = 5;
  ClearStatistics();
  EXPECT_EQ(Statistics.InnerNodes(), 0u);
  EXPECT_EQ(Statistics[0].Depth, 0);
  EXPECT_EQ(Statistics[0].EndTime, 0);
  EXPECT_EQ(Statistics[0].OwnTime, 0);
  EXPECT_EQ(Statistics[0].LastScore, 0);
  EXPECT_EQ(GetMaxSelDepth(), 0);
  EXPECT_EQ(Statistics[31].FailedSplits, 0u);
  EXPECT_EQ(Statistics.PawnProbes, 0u);
}

TEST_F(StatisticsTest, MaxSelectiveDepthIsTheDeepestOfAnyWorker) {
  Statistics[0].SelDepth = 17;
  Statistics[12].SelDepth = 33;
  Statistics[31].SelDepth = 20;
  EXPECT_EQ(GetMaxSelDepth(), 33);
}

TEST_F(StatisticsTest, TotalGathersCountersPerRecordAndRecordZerosTimes) {
  StatisticsBlock total;
  Statistics[0].InnerNodes = 1000;
  Statistics[4].QNodes = 50;
  Statistics[4].HashCutoffs = 7;
  Statistics[31].SingularFailures = 2;
  Statistics[0].EndTime = 1500;
  Statistics[0].OwnTime = 1200;
  Statistics[0].Depth = 9;
  Statistics[0].LastScore = 250;
  Statistics[0].SelDepth = 30;
  Statistics[5].EndTime = 77;  // only record 0 carries the search's times
  AddSearchStatistics(total);
  AddSearchStatistics(total);
  EXPECT_EQ(total[0].InnerNodes, 2000u);
  EXPECT_EQ(total[4].QNodes, 100u);
  EXPECT_EQ(total[4].HashCutoffs, 14u);
  EXPECT_EQ(total[31].SingularFailures, 4u);
  EXPECT_EQ(total.InnerNodes() + total.QNodes(), 2100u);
  EXPECT_EQ(total[0].EndTime, 3000);
  EXPECT_EQ(total[0].OwnTime, 2400);
  EXPECT_EQ(total[5].EndTime, 0);
  // Results of one search are not summed.
  EXPECT_EQ(total[0].Depth, 0);
  EXPECT_EQ(total[0].LastScore, 0);
  EXPECT_EQ(total[0].SelDepth, 0u);
  // The live block is left as it was.
  EXPECT_EQ(Statistics[0].InnerNodes, 1000u);
}

TEST_F(StatisticsTest, WorkersCountInTheirOwnRecordsWhileOthersSum) {
  constexpr int Workers = 4;
  constexpr int Nodes = 200000;
  std::vector<std::thread> threads;
  for (int w = 0; w < Workers; w++)
    threads.emplace_back([w] {
      for (int i = 0; i < Nodes; i++) ++Statistics[w].InnerNodes;
    });
  std::uint64_t seen = 0;
  for (int i = 0; i < 1000; i++) {
    const std::uint64_t sum = Statistics.InnerNodes();
    EXPECT_LE(sum, std::uint64_t{Workers} * Nodes);
    seen = std::max(seen, sum);
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Statistics.InnerNodes(), std::uint64_t{Workers} * Nodes);
}

}  // namespace
