#include "support/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "support/platform.h"

namespace {

// Runs until told to stop, recording that it ran.
class WaitingThread : public Thread {
public:
  void Run() override {
    Ran = true;
    Proceed.Wait();
  }
  std::atomic<bool> Ran{false};
  AutoResetEvent Proceed;
};

class InstantThread : public Thread {
public:
  void Run() override { Runs++; }
  std::atomic<int> Runs{0};
};

TEST(Thread, StartReturnsOnceRunningAndJoinWaitsForTheEnd) {
  WaitingThread thread;
  ASSERT_FALSE(thread.Start(0));
  EXPECT_TRUE(thread.Running);
  thread.Proceed.Signal();
  thread.Join();
  EXPECT_TRUE(thread.Ran);
  EXPECT_FALSE(thread.Running);
}

TEST(Thread, RunThatEndsAtOnceDoesNotHangTheStarter) {
  for (int i = 0; i < 50; i++) {
    InstantThread thread;
    ASSERT_FALSE(thread.Start(i));
    thread.Join();
    EXPECT_EQ(thread.Runs, 1);
  }
}

TEST(Thread, SecondStartWhileAThreadExistsFails) {
  WaitingThread thread;
  ASSERT_FALSE(thread.Start(0));
  EXPECT_TRUE(thread.Start(1));
  thread.Proceed.Signal();
  thread.Join();
  // Joined: the object may start a new thread.
  ASSERT_FALSE(thread.Start(0));
  thread.Proceed.Signal();
  thread.Join();
}

TEST(Thread, DestroyingAFinishedThreadThatWasNotJoinedIsSafe) {
  auto* thread = new InstantThread;
  ASSERT_FALSE(thread->Start(0));
  while (thread->Running) SleepMilliseconds(1);
  delete thread;
  InstantThread neverStarted;
  neverStarted.Join();
}

// NUMA state set up by hand; restored afterwards so that no other test places
// its threads.
class FakeNuma : public ::testing::Test {
protected:
  void SetUp() override {
    SavedAffinity = CurrentThreadAffinity();
    NumaEnabled = true;
    NextNumaNode = 0;
  }
  void TearDown() override {
    NumaEnabled = false;
    NumaNodeCount = 1;
    NextNumaNode = 0;
    SetCurrentThreadAffinity(SavedAffinity);
  }
  ProcessorMask SavedAffinity = 0;
};

TEST_F(FakeNuma, IndexesPastTheLastNodeContinueRoundRobin) {
  struct Case {
    std::uint32_t Nodes;
    std::vector<int> Indexes;
    std::vector<int> Expected;
  };
  const Case cases[] = {
      {2, {0, 1, 2, 3}, {0, 1, 0, 1}},
      {3, {0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 0, 1, 2, 0}},
      {4, {0, 5, 6, 2, 7}, {0, 1, 2, 2, 3}},  // a low index resets where the robin goes on
      {2, {3, 4, 5}, {1, 0, 1}},
  };
  for (const Case& c : cases) {
    NumaNodeCount = c.Nodes;
    NextNumaNode = 0;
    for (std::size_t i = 0; i < c.Indexes.size(); i++)
      EXPECT_EQ(ChooseNumaNode(c.Indexes[i]), c.Expected[i]) << c.Nodes << " nodes, index " << c.Indexes[i];
  }
}

TEST_F(FakeNuma, StartedThreadsAreSpreadOverTheNodes) {
  // Every node gets the processors this process may use, so placement cannot fail.
  NumaNodeCount = 2;
  NumaNodeMasks[0] = NumaNodeMasks[1] = SavedAffinity;
  std::vector<int> nodes;
  for (int index = 0; index < 4; index++) {
    InstantThread thread;
    ASSERT_FALSE(thread.Start(index));
    thread.Join();
    nodes.push_back(thread.Node);
  }
  EXPECT_EQ(nodes, (std::vector<int>{0, 1, 0, 1}));
}

TEST(Thread, WithoutNumaThreadsAreNotPlaced) {
  ASSERT_FALSE(NumaEnabled);
  InstantThread thread;
  ASSERT_FALSE(thread.Start(3));
  thread.Join();
  EXPECT_EQ(thread.Node, -1);
}

}  // namespace
