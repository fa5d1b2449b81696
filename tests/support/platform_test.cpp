#include "support/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "support/capture.h"

namespace {

TEST(AutoResetEvent, SignalGivenBeforeTheWaitIsNotLost) {
  AutoResetEvent event;
  event.Signal();
  EXPECT_TRUE(event.WaitFor(0));
}

TEST(AutoResetEvent, OneWaitConsumesTheSignal) {
  AutoResetEvent event;
  event.Signal();
  event.Signal();  // signals do not add up
  event.Wait();
  EXPECT_FALSE(event.WaitFor(20));
}

TEST(AutoResetEvent, WakesASleepingThread) {
  AutoResetEvent event;
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    event.Wait();
    woke = true;
  });
  event.Signal();
  sleeper.join();
  EXPECT_TRUE(woke);
  EXPECT_FALSE(event.WaitFor(0));
}

TEST(AutoResetEvent, DestroyingItWhileAThreadSleepsInItReturnsAndLeavesTheSleeperAsleep) {
  // Held by the threads, not this frame: both may outlive the test.
  auto* event = new AutoResetEvent;
  auto waiting = std::make_shared<std::atomic<bool>>(false);
  auto sleeperReturned = std::make_shared<std::atomic<bool>>(false);
  std::thread([event, waiting, sleeperReturned] {
    *waiting = true;
    event->Wait();  // never signalled: this thread sleeps until the process ends
    *sleeperReturned = true;
  }).detach();
  while (!*waiting) std::this_thread::yield();
  SleepMilliseconds(50);  // let it get into the wait

  auto destroyed = std::make_shared<std::promise<void>>();
  std::future<void> done = destroyed->get_future();
  std::thread([event, destroyed] {
    delete event;
    destroyed->set_value();
  }).detach();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "destroying the event hung";
  SleepMilliseconds(50);
  EXPECT_FALSE(*sleeperReturned) << "the sleeper woke without a signal";
}

// A node directory in the layout of /sys/devices/system/node.
class NodeDirectory : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Directory.Ready()); }
  void TearDown() override {
    NumaEnabled = false;
    NumaNodeCount = 1;
    NextNumaNode = 0;
  }
  void AddNode(int node, const char* file, const char* text) {
    std::string path = Directory / ("node" + std::to_string(node));
    std::filesystem::create_directories(path);
    std::ofstream(path + "/" + file) << text;
  }
  void Discover(int mainProcessor) { DiscoverNumaFrom(Directory.Path.c_str(), mainProcessor); }

  TemporaryDirectory Directory;
};

TEST_F(NodeDirectory, TwoNodesAreEnabledWithTheirMasks) {
  AddNode(0, "cpulist", "0-3,8-11\n");
  AddNode(1, "cpulist", "4-7,12-15\n");
  NextNumaNode = 5;
  Discover(2);
  EXPECT_TRUE(NumaEnabled);
  EXPECT_EQ(NumaNodeCount, 2u);
  EXPECT_EQ(NextNumaNode, 0u);
  EXPECT_EQ(NumaNodeMasks[0], 0x0f0fu);
  EXPECT_EQ(NumaNodeMasks[1], 0xf0f0u);
}

TEST_F(NodeDirectory, MainThreadsNodeBecomesNodeZero) {
  AddNode(0, "cpulist", "0-1");
  AddNode(1, "cpulist", "2-3");
  AddNode(2, "cpulist", "4-5");
  Discover(5);
  EXPECT_TRUE(NumaEnabled);
  EXPECT_EQ(NumaNodeMasks[0], 0x30u);
  EXPECT_EQ(NumaNodeMasks[1], 0x0cu);
  EXPECT_EQ(NumaNodeMasks[2], 0x03u);
}

TEST_F(NodeDirectory, ProcessorMapIsReadWhenThereIsNoList) {
  AddNode(0, "cpumap", "00000000,000000ff\n");
  AddNode(1, "cpumap", "0000ff00,00000000\n");
  Discover(-1);
  EXPECT_TRUE(NumaEnabled);
  EXPECT_EQ(NumaNodeMasks[0], 0xffu);
  EXPECT_EQ(NumaNodeMasks[1], 0xff0000000000ull);
}

TEST_F(NodeDirectory, OneNodeOrNoneIsNotEnabled) {
  Discover(0);
  EXPECT_FALSE(NumaEnabled);
  EXPECT_EQ(NumaNodeCount, 1u);
  AddNode(0, "cpulist", "0-7");
  Discover(0);
  EXPECT_FALSE(NumaEnabled);
  EXPECT_EQ(NumaNodeCount, 1u);
}

TEST_F(NodeDirectory, NodeWithoutProcessorsTurnsPlacementOff) {
  AddNode(0, "cpulist", "0-3");
  AddNode(1, "cpulist", "\n");  // memory only
  Discover(0);
  EXPECT_FALSE(NumaEnabled);
}

TEST_F(NodeDirectory, GapInTheNodeNumbersTurnsPlacementOff) {
  AddNode(0, "cpulist", "0-3");
  AddNode(2, "cpulist", "4-7");
  Discover(0);
  EXPECT_EQ(NumaNodeCount, 3u);
  EXPECT_FALSE(NumaEnabled);
}

TEST(Affinity, ZeroMaskIsRefused) { EXPECT_TRUE(SetCurrentThreadAffinity(0)); }

TEST(Affinity, CurrentMaskCanBeSetAgain) {
  ProcessorMask mask = CurrentThreadAffinity();
  ASSERT_NE(mask, 0u);
  EXPECT_FALSE(SetCurrentThreadAffinity(mask));
  EXPECT_EQ(CurrentThreadAffinity(), mask);
}

}  // namespace
