// The learning file: its bytes, damaged files, saves that wait for another
// program or cannot write, and saves killed part-way.
#include "frontend/learningfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/learning_helpers.h"
#include "engine/stub_front_end.h"
#include "learning_record.h"
#include "support/capture.h"
#include "support/logger.h"

namespace {

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file << bytes;
}

bool Exists(const std::string& name) { return std::filesystem::exists(name); }

// ---------------------------------------------------------------------------
// The file

// Runs in a directory of its own: the learning file's name is fixed.
class LearningFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Home = std::filesystem::current_path();
    std::filesystem::current_path(Scratch.Path);
  }
  void TearDown() override { std::filesystem::current_path(Home); }

  static std::string FileBytes() { return ReadWholeFile(LearningFile::DefaultName); }

  TemporaryDirectory Scratch;
  std::filesystem::path Home;
};

TEST_F(LearningFileTest, SavedFileHoldsTheRecordLayoutInBucketOrderAndLoadsBackTheSameEntries) {
  auto table = std::make_unique<LearningFile>();
  // Inserted out of bucket order; bucket 3 holds two in insertion order.
  table->Add(Key(0x0102030405060708ull, 0x1112131415161718ull), -1234, 28);
  table->Add(Key(3 | 1ull << 15, 77), 5500, 512);
  table->Add(Key(3, 88), -7750, 0);
  ASSERT_FALSE(table->Save());
  const std::string expected = Record(3 | 1ull << 15, 77, 5500, 512) + Record(3, 88, -7750, 0) +
                               Record(0x0102030405060708ull, 0x1112131415161718ull, -1234, 28);
  EXPECT_EQ(FileBytes(), expected);
  EXPECT_FALSE(Exists("quelm.plf.tmp"));

  auto loaded = std::make_unique<LearningFile>();
  ASSERT_FALSE(loaded->Load());
  EXPECT_EQ(loaded->EntryCount, 3u);
  EXPECT_EQ(loaded->RecordsRead, 3u);
  EXPECT_TRUE(Holds(*loaded, Key(0x0102030405060708ull, 0x1112131415161718ull), -1234, 28));
  EXPECT_TRUE(Holds(*loaded, Key(3 | 1ull << 15, 77), 5500, 512));
  EXPECT_TRUE(Holds(*loaded, Key(3, 88), -7750, 0));
  EXPECT_STREQ(loaded->LearningFileName, "quelm.plf");
  // Saved again, the same bytes.
  ASSERT_FALSE(loaded->Save());
  EXPECT_EQ(FileBytes(), expected);
}

// Duplicates merge by the depth rule; the saved file then holds exactly the
// table, with no records of the longer old file left behind it.
TEST_F(LearningFileTest, DuplicatesMergeOnLoadAndASaveLeavesNoStaleRecords) {
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += Record(1000 + i, i, i, 8);
  for (int i = 0; i < 10; ++i) bytes += Record(1000 + i, i, -i, i < 5 ? 4 : 12);
  WriteFile(LearningFile::DefaultName, bytes);

  auto table = std::make_unique<LearningFile>();
  ASSERT_FALSE(table->Load());
  EXPECT_EQ(table->EntryCount, 40u);
  EXPECT_TRUE(Holds(*table, Key(1000, 0), 0, 8));
  EXPECT_TRUE(Holds(*table, Key(1004, 4), 4, 8));
  EXPECT_TRUE(Holds(*table, Key(1005, 5), -5, 12));
  ASSERT_FALSE(table->Save());
  EXPECT_EQ(FileBytes().size(), 40u * 24);
}

TEST_F(LearningFileTest, DamagedFilesLoadTheirSoundRecordsAndReportTheRest) {
  // Every record of one bucket, for a file crafted to fill it.
  auto oneBucket = [](int records) {
    std::string bytes;
    for (int i = 0; i < records; ++i) bytes += Record(5 + (static_cast<std::uint64_t>(i) << 15), i, 0, 8);
    return bytes;
  };
  constexpr std::uint32_t Cap = LearningContainer::MaxEntries;
  const struct {
    const char* Name;
    std::string Bytes;
    std::uint32_t Read, Refused, Rejected, Dropped, Trailing;
  } cases[] = {
      {"part record", Record(1, 2, 3, 4) + Record(5, 6, 7, 8) + std::string(10, 'x'), 2, 0, 0, 0, 10},
      {"only a part record", std::string(23, '\0'), 0, 0, 0, 0, 23},
      {"impossible depths", Record(1, 2, 3, -4) + Record(5, 6, 7, 8) + Record(9, 9, 9, 0x7fffffff), 1, 2, 0, 0, 0},
      // Scores no search stores are not counted as read.
      {"scores beyond the limits", Record(1, 2, 5501, 4) + Record(5, 6, 7, 8) + Record(9, 9, -7751, 8), 1, 0, 2, 0,
       0},
      {"one bucket filled", oneBucket(Cap + 300), Cap, 0, 0, 300, 0},
      {"empty", "", 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(LearningFile::DefaultName, c.Bytes);
    auto table = std::make_unique<LearningFile>();
    ASSERT_FALSE(table->Load());
    EXPECT_EQ(table->RecordsRead, c.Read);
    EXPECT_EQ(table->RecordsRefused, c.Refused);
    EXPECT_EQ(table->RecordsRejected, c.Rejected);
    EXPECT_EQ(table->RecordsDropped, c.Dropped);
    EXPECT_EQ(table->TrailingBytes, c.Trailing);
    EXPECT_EQ(table->EntryCount, c.Read);
  }
}

// A file crafted to fill one bucket once took time and memory quadratic in
// its length. Not a test of speed: run it by hand for the figures
// (--gtest_also_run_disabled_tests --gtest_filter=*CraftedFile*).
TEST_F(LearningFileTest, DISABLED_CraftedFileLoadTimeAndMemory) {
  for (int records : {40000, 80000, 1000000}) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(records) * 24);
    for (int i = 0; i < records; ++i) bytes += Record(5 + (static_cast<std::uint64_t>(i) << 15), i, 0, 8);
    WriteFile(LearningFile::DefaultName, bytes);
    bytes = std::string();
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    auto table = std::make_unique<LearningFile>();
    ASSERT_FALSE(table->Load());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    getrusage(RUSAGE_SELF, &after);
    std::printf("%d records (%d kB) in one bucket: %lld ms, peak resident set %ld kB (was %ld kB), %u kept\n",
                records, records * 24 / 1024, static_cast<long long>(ms.count()), after.ru_maxrss, before.ru_maxrss,
                table->RecordsRead);
  }
}

TEST_F(LearningFileTest, GarbageLoadsWithoutHarmAndKeepsOnlyPlausibleEntries) {
  std::mt19937 random(12345);
  std::string bytes(24 * 20000 + 7, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  // A few sound records among the noise.
  bytes.replace(0, 24, Record(11, 12, 400, 40));
  bytes.replace(24 * 777, 24, Record(13, 14, -400, 44));
  WriteFile(LearningFile::DefaultName, bytes);

  auto table = std::make_unique<LearningFile>();
  ASSERT_FALSE(table->Load());
  EXPECT_EQ(table->RecordsRead + table->RecordsRefused + table->RecordsRejected + table->RecordsDropped, 20000u);
  EXPECT_EQ(table->TrailingBytes, 7u);
  EXPECT_TRUE(Holds(*table, Key(11, 12), 400, 40));
  EXPECT_TRUE(Holds(*table, Key(13, 14), -400, 44));
  for (const LearningContainer& bucket : table->Containers)
    for (int i = 0; i < bucket.Count.load(); ++i) {
      const LearningEntry& entry = bucket.Entries.load()[i];
      EXPECT_TRUE(entry.Depth >= 0 && entry.Depth <= MaxLearnedDepth);
      EXPECT_TRUE(entry.Score >= -7750 && entry.Score <= 5500);
    }
}

TEST_F(LearningFileTest, AMissingFileFailsTheLoadAndAnEmptyTableCreatesNoFile) {
  auto table = std::make_unique<LearningFile>();
  EXPECT_TRUE(table->Load());
  EXPECT_EQ(table->EntryCount, 0u);
  EXPECT_FALSE(table->Save());
  EXPECT_FALSE(table->Close());
  EXPECT_FALSE(Exists(LearningFile::DefaultName));
  EXPECT_FALSE(Exists("quelm.plf.tmp"));
}

// Two engines in one directory: while another program saves (holds the
// lock), a save waits, then gives up and leaves the file as it was.
TEST_F(LearningFileTest, ASaveWaitsForAnotherSaverAndThenSkipsLeavingTheFileAlone) {
  WriteFile(LearningFile::DefaultName, Record(1, 1, 1, 1));
  const int other = open("quelm.plf.tmp", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);

  auto table = std::make_unique<LearningFile>();
  table->LockWaitMs = 100;
  table->Add(Key(2, 2), 2, 2);
  EXPECT_TRUE(table->Save());
  EXPECT_EQ(FileBytes(), Record(1, 1, 1, 1));
  EXPECT_TRUE(table->Close());  // the table stays for a later try
  EXPECT_EQ(table->EntryCount, 1u);

  close(other);
  EXPECT_FALSE(table->Close());
  EXPECT_EQ(table->EntryCount, 0u);
  // The other program's record is kept beside this table's.
  EXPECT_EQ(FileBytes(), Record(1, 1, 1, 1) + Record(2, 2, 2, 2));
  int score, depth;
  EXPECT_FALSE(table->Find(Key(2, 2), score, depth));
}

TEST_F(LearningFileTest, ASaveThatCannotWriteKeepsTheOldFileAndTheTable) {
  WriteFile(LearningFile::DefaultName, Record(1, 1, 1, 1));
  std::filesystem::create_directory("quelm.plf.tmp");  // nothing can be written there
  auto table = std::make_unique<LearningFile>();
  table->Add(Key(2, 2), 2, 2);
  EXPECT_TRUE(table->Close());
  EXPECT_EQ(table->EntryCount, 1u);
  EXPECT_EQ(FileBytes(), Record(1, 1, 1, 1));
  std::filesystem::remove("quelm.plf.tmp");
}

// Two engines in one directory (a GUI's self-play, a tournament manager):
// each save merges what the other saved meanwhile instead of writing over
// it. Of two records of one position the deeper wins, at equal depth the
// saving table's own.
TEST_F(LearningFileTest, TwoEnginesSavingIntoOneDirectoryKeepBothTables) {
  auto first = std::make_unique<LearningFile>();
  auto second = std::make_unique<LearningFile>();
  EXPECT_TRUE(first->Load());  // no file yet
  EXPECT_TRUE(second->Load());
  first->Add(Key(1, 1), 10, 8);
  first->Add(Key(3, 3), 30, 8);
  first->Add(Key(4, 4), 40, 16);
  second->Add(Key(2, 2), 20, 8);
  second->Add(Key(3, 3), 33, 12);
  second->Add(Key(4, 4), 44, 16);
  ASSERT_FALSE(first->Save());
  ASSERT_FALSE(second->Save());

  auto reader = std::make_unique<LearningFile>();
  ASSERT_FALSE(reader->Load());
  EXPECT_EQ(reader->RecordsRead, 4u);
  EXPECT_TRUE(Holds(*reader, Key(1, 1), 10, 8));
  EXPECT_TRUE(Holds(*reader, Key(2, 2), 20, 8));
  EXPECT_TRUE(Holds(*reader, Key(3, 3), 33, 12));
  EXPECT_TRUE(Holds(*reader, Key(4, 4), 44, 16));

  // The first saves again: it takes the deeper result, keeps its own at
  // equal depth, and loses nothing of the second's. (A table saves when it
  // goes, so the reader goes first.)
  reader.reset();
  ASSERT_FALSE(first->Save());
  EXPECT_TRUE(Holds(*first, Key(3, 3), 33, 12));
  EXPECT_TRUE(Holds(*first, Key(4, 4), 40, 16));
  reader = std::make_unique<LearningFile>();
  ASSERT_FALSE(reader->Load());
  EXPECT_EQ(reader->RecordsRead, 4u);
  EXPECT_TRUE(Holds(*reader, Key(2, 2), 20, 8));
  EXPECT_TRUE(Holds(*reader, Key(4, 4), 40, 16));
}

// The same with real processes saving at the same time, game after game.
TEST_F(LearningFileTest, EnginesSavingAtOnceLoseNoRecords) {
  constexpr int Engines = 4, Games = 25, PositionsPerGame = 40;
  std::vector<pid_t> children;
  for (int engine = 0; engine < Engines; ++engine) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto table = std::make_unique<LearningFile>();
      table->LockWaitMs = 60000;
      table->Load();
      for (int game = 0; game < Games; ++game) {
        for (int i = 0; i < PositionsPerGame; ++i) {
          const std::uint64_t id = (static_cast<std::uint64_t>(engine) * Games + game) * PositionsPerGame + i;
          table->Add(Key(id * 0x9e3779b97f4a7c15ull, id), static_cast<int>(id % 1000), 8);
        }
        if (table->Save()) _exit(1);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto table = std::make_unique<LearningFile>();
  ASSERT_FALSE(table->Load());
  EXPECT_EQ(table->RecordsRead, static_cast<std::uint32_t>(Engines * Games * PositionsPerGame));
  for (std::uint64_t id = 0; id < Engines * Games * PositionsPerGame; ++id)
    EXPECT_TRUE(Holds(*table, Key(id * 0x9e3779b97f4a7c15ull, id), static_cast<int>(id % 1000), 8)) << id;
}

// A program killed in the middle of saving a large table leaves the old file
// or the new one, whole, and never a mix of the two.
TEST_F(LearningFileTest, AKilledSaveLeavesTheOldOrTheNewFileWhole) {
  constexpr int Positions = 150000;
  for (int attempt = 0; attempt < 6; ++attempt) {
    SCOPED_TRACE(attempt);
    std::filesystem::remove(LearningFile::DefaultName);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves version after version of the same positions, forever.
      auto table = std::make_unique<LearningFile>();
      for (int version = 1;; ++version) {
        for (int i = 0; i < Positions; ++i) table->Add(Key(static_cast<std::uint64_t>(i) * 0x9e3779b97f4a7c15ull, i), version % 5000, 4 * version);
        table->Save();
      }
    }
    // Let it get some saves done, then kill it at a moment of its choosing.
    while (!Exists(LearningFile::DefaultName)) usleep(1000);
    usleep(20000 + attempt * 17000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const std::string bytes = FileBytes();
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(Positions) * 24);
    const std::string first = bytes.substr(16, 8);
    std::size_t mixed = 0;
    for (std::size_t offset = 16; offset < bytes.size(); offset += 24) mixed += bytes.compare(offset, 8, first) != 0;
    EXPECT_EQ(mixed, 0u) << "records of two versions in one file";
  }
}

// Start-up with learning on: the front end hears what was read.
TEST_F(LearningFileTest, OpeningLearningReadsTheFileAndSaysWhatCameOfIt) {
  StubFrontEnd frontEnd(ProtocolUci);
  // A score beyond the limits is not counted as read.
  WriteFile(LearningFile::DefaultName, Record(1, 2, 3, 4) + Record(5, 6, 7, 8) + Record(9, 9, 9000, 8) + "abc");
  OpenLearning();
  ASSERT_NE(ActiveLearning, nullptr);
  EXPECT_EQ(ActiveLearning->EntryCount, 2u);
  delete ActiveLearning;
  ActiveLearning = nullptr;
  ASSERT_EQ(frontEnd.Infos.size(), 2u);
  EXPECT_EQ(frontEnd.Infos[0], "Learning: 2 positions read from 'quelm.plf'");
  EXPECT_EQ(frontEnd.Infos[1], "Learning: the last 3 bytes of the file are no whole record and were ignored");
  frontEnd.Infos.clear();

  // Records past a full bucket are dropped, and the user hears of it.
  std::string bytes;
  for (int i = 0; i < LearningContainer::MaxEntries + 5; ++i)
    bytes += Record(5 + (static_cast<std::uint64_t>(i) << 15), i, 0, 8);
  WriteFile(LearningFile::DefaultName, bytes);
  OpenLearning();
  ASSERT_NE(ActiveLearning, nullptr);
  delete ActiveLearning;
  ActiveLearning = nullptr;
  ASSERT_EQ(frontEnd.Infos.size(), 2u);
  EXPECT_EQ(frontEnd.Infos[0],
            "Learning: " + std::to_string(LearningContainer::MaxEntries) + " positions read from 'quelm.plf'");
  EXPECT_EQ(frontEnd.Infos[1], "Learning: 5 records of the file were dropped, their part of the table is full");
  frontEnd.Infos.clear();

  // No file: a table all the same, and nothing said.
  std::filesystem::remove(LearningFile::DefaultName);
  OpenLearning();
  ASSERT_NE(ActiveLearning, nullptr);
  EXPECT_EQ(ActiveLearning->EntryCount, 0u);
  delete ActiveLearning;
  ActiveLearning = nullptr;
  EXPECT_EQ(frontEnd.Infos.size(), 0u);
}

}  // namespace
