#include "support/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "support/capture.h"
#include "support/scratch_directory.h"

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

// Runs an open that must not wait: when it still waits after ten seconds
// the test fails, and both ends of the FIFO are opened so that it returns.
template <typename Open>
auto WithoutWaiting(const std::string& fifo, Open open) {
  std::packaged_task<decltype(open())()> task(open);
  auto result = task.get_future();
  std::thread worker(std::move(task));
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the open waits on the FIFO";
    const int both = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    if (both >= 0) ::close(both);
  }
  worker.join();
  return result.get();
}

class RegularFiles : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Scratch.WriteBytes("data.bin", {'a', 'b', 'c', 'd'});
    ASSERT_EQ(mkfifo(Scratch.Path("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(Scratch.Path("folder"));
  }
  ScratchDirectory Scratch;
};

// A FIFO, a device and a directory are refused in every mode, at once; the
// regular file opens in every mode, and a missing one only when created.
TEST_F(RegularFiles, OnlyARegularFileOpensWhateverTheMode) {
  struct Case {
    std::string Path;
    bool Opens[3];  // read, read and write, write creating
  };
  const Case cases[] = {
      {Scratch.Path("data.bin"), {true, true, true}},
      {Scratch.Path("fifo"), {false, false, false}},
      {"/dev/zero", {false, false, false}},
      {"/dev/null", {false, false, false}},
      {Scratch.Path("folder"), {false, false, false}},
      {Scratch.Path("absent.bin"), {false, false, true}},
  };
  const int modes[] = {O_RDONLY, O_RDWR, O_WRONLY | O_CREAT};
  for (const Case& row : cases) {
    for (int m = 0; m < 3; m++) {
      const int descriptor = WithoutWaiting(Scratch.Path("fifo"), [&] { return OpenRegularFile(row.Path.c_str(), modes[m]); });
      EXPECT_EQ(descriptor >= 0, row.Opens[m]) << row.Path << " mode " << m;
      CloseDescriptor(descriptor);
    }
  }
  EXPECT_TRUE(std::filesystem::is_fifo(Scratch.Path("fifo")));
  EXPECT_EQ(Scratch.ReadBytes("data.bin").size(), 4u);
}

TEST_F(RegularFiles, TruncationEmptiesOnlyTheRegularFileItOpens) {
  EXPECT_LT(OpenRegularFile(Scratch.Path("fifo").c_str(), O_WRONLY | O_CREAT | O_TRUNC), 0);
  const int descriptor = OpenRegularFile(Scratch.Path("data.bin").c_str(), O_RDWR | O_TRUNC);
  ASSERT_GE(descriptor, 0);
  // A regular file's reads and writes go on as with a plain open.
  EXPECT_EQ(::fcntl(descriptor, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(::write(descriptor, "xy", 2), 2);
  CloseDescriptor(descriptor);
  EXPECT_EQ(Scratch.ReadBytes("data.bin"), (std::vector<unsigned char>{'x', 'y'}));
}

TEST_F(RegularFiles, StreamsTakeTheModesOfFopen) {
  for (const char* mode : {"r", "rb", "r+b", "w", "a+"}) {
    EXPECT_EQ(WithoutWaiting(Scratch.Path("fifo"), [&] { return OpenRegularStream(Scratch.Path("fifo").c_str(), mode); }),
              nullptr)
        << mode;
    EXPECT_EQ(OpenRegularStream("/dev/zero", mode), nullptr) << mode;
  }
  std::FILE* append = OpenRegularStream(Scratch.Path("data.bin").c_str(), "a");
  ASSERT_NE(append, nullptr);
  std::fputs("e", append);
  std::fclose(append);
  std::FILE* read = OpenRegularStream(Scratch.Path("data.bin").c_str(), "rb");
  ASSERT_NE(read, nullptr);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, read), 5u);
  std::fclose(read);
  EXPECT_STREQ(text, "abcde");
  std::FILE* replace = OpenRegularStream(Scratch.Path("data.bin").c_str(), "w+b");
  ASSERT_NE(replace, nullptr);
  std::fclose(replace);
  EXPECT_TRUE(Scratch.ReadBytes("data.bin").empty());
}

TEST_F(RegularFiles, ReaderReadsAtOffsetsInsideTheFileOnly) {
  RegularFileReader reader;
  for (const std::string& refused : {Scratch.Path("fifo"), std::string("/dev/zero"), Scratch.Path("folder")}) {
    EXPECT_TRUE(WithoutWaiting(Scratch.Path("fifo"), [&] { return reader.Open(refused.c_str()); })) << refused;
    EXPECT_FALSE(reader.IsOpen());
  }
  ASSERT_FALSE(reader.Open(Scratch.Path("data.bin").c_str()));
  EXPECT_EQ(reader.Size(), 4u);
  char bytes[3] = {};
  EXPECT_FALSE(reader.ReadAt(1, bytes, 2));
  EXPECT_STREQ(bytes, "bc");
  EXPECT_TRUE(reader.ReadAt(3, bytes, 2));  // one byte short
  EXPECT_TRUE(reader.ReadAt(~std::uint64_t{0}, bytes, 1));
  reader.Close();
  EXPECT_TRUE(reader.ReadAt(0, bytes, 1));
}

}  // namespace
