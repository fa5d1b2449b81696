// Position learning: the table's limits and depth rule, lookups racing the
// adder, the learning file's bytes, damaged files and interrupted saves, the
// search's use of learned results, and the console's learning runs.
#include "frontend/learning.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/attacks.h"
#include "engine/movepick.h"
#include "engine/search_fixture.h"
#include "engine/stub_front_end.h"
#include "engine/zobrist.h"
#include "learning_record.h"
#include "support/capture.h"
#include "support/logger.h"

namespace {

KeyPair Key(std::uint64_t hashkey, std::uint64_t pawnkey) { return {hashkey, pawnkey}; }

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file << bytes;
}

bool Exists(const std::string& name) { return std::filesystem::exists(name); }

// A table that only holds entries: for the tests of the table itself.
class MemoryLearning : public Learning {
public:
  bool Load() override { return false; }
  bool Close() override { return false; }
  bool Save() override { return false; }
};

::testing::AssertionResult Holds(const Learning& table, const KeyPair& key, int score, int depth) {
  int foundScore = 0, foundDepth = 0;
  if (!table.Find(key, foundScore, foundDepth)) return ::testing::AssertionFailure() << "not found";
  if (foundScore != score || foundDepth != depth)
    return ::testing::AssertionFailure() << "holds " << foundScore << " at " << foundDepth;
  return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// The table

TEST(LearningTableTest, ScoresBeyondTheAsymmetricLimitsAreRejectedWithoutFailing) {
  const struct {
    int Score;
    bool Kept;
  } cases[] = {{5500, true}, {5501, false}, {-7750, true}, {-7751, false}, {0, true}, {200000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Score);
    auto table = std::make_unique<MemoryLearning>();
    EXPECT_FALSE(table->Add(Key(1, 2), c.Score, 20));
    int score, depth;
    EXPECT_EQ(table->Find(Key(1, 2), score, depth), c.Kept);
    EXPECT_EQ(table->EntryCount, c.Kept ? 1u : 0u);
  }
}

TEST(LearningTableTest, AnEqualOrDeeperSearchReplacesTheEntryAShallowerOneDoesNot) {
  auto table = std::make_unique<MemoryLearning>();
  table->Add(Key(7, 8), 100, 20);
  table->Add(Key(7, 8), 300, 16);
  EXPECT_TRUE(Holds(*table, Key(7, 8), 100, 20));
  table->Add(Key(7, 8), -50, 20);
  EXPECT_TRUE(Holds(*table, Key(7, 8), -50, 20));
  table->Add(Key(7, 8), 60, 24);
  EXPECT_TRUE(Holds(*table, Key(7, 8), 60, 24));
  EXPECT_EQ(table->EntryCount, 1u);
}

TEST(LearningTableTest, ABucketTellsPositionsApartByBothKeysAndKeepsTheirOrderAsItGrows) {
  auto table = std::make_unique<MemoryLearning>();
  // Every key lands in bucket 5; one pair shares its Hashkey.
  std::vector<KeyPair> keys;
  for (std::uint64_t k = 0; k < 10; ++k) keys.push_back(Key(5 + (k << 15), 1000 + k));
  keys.push_back(Key(5, 999));
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_FALSE(table->Add(keys[i], static_cast<int>(i), 4));
  const LearningContainer& bucket = table->Containers[5];
  ASSERT_EQ(bucket.Count.load(), 11);
  EXPECT_EQ(bucket.Capacity, 12);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(bucket.Entries.load()[i].Pawnkey, keys[i].Pawnkey);
    EXPECT_TRUE(Holds(*table, keys[i], static_cast<int>(i), 4));
  }
  table->ReleaseOutgrown();
  EXPECT_TRUE(Holds(*table, keys[10], 10, 4));
  int score, depth;
  EXPECT_FALSE(table->Find(Key(5, 1), score, depth));
  EXPECT_FALSE(table->Find(Key(6, 1000), score, depth));
}

// The search looks up from every thread while the main thread adds: a reader
// must never see a half-written entry nor lose one that was there, also while
// the bucket's array is replaced by a larger one.
TEST(LearningTableTest, ReadersRacingTheAdderSeeOnlyWholeEntries) {
  auto table = std::make_unique<MemoryLearning>();
  constexpr int Positions = 64;  // all in four buckets, so arrays keep growing
  auto keyOf = [](int i) { return Key(static_cast<std::uint64_t>(i % 4) | static_cast<std::uint64_t>(i) << 15, ~0ull - i); };
  std::atomic<int> published{0};
  std::atomic<bool> done{false};
  std::atomic<int> faults{0};
  auto reader = [&] {
    while (!done.load()) {
      const int known = published.load(std::memory_order_acquire);
      for (int i = 0; i < known; ++i) {
        int score, depth;
        // The adder writes score = depth; a newer score may come with an
        // older depth, never an older score with a newer depth.
        if (!table->Find(keyOf(i), score, depth) || score < depth) faults.fetch_add(1);
      }
    }
  };
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) readers.emplace_back(reader);
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < Positions; ++i) {
      table->Add(keyOf(i), round * 4 + i % 4, round * 4 + i % 4);
      if (round == 0) published.store(i + 1, std::memory_order_release);
    }
  }
  done.store(true);
  for (auto& thread : readers) thread.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(table->EntryCount, static_cast<std::uint32_t>(Positions));
}

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
  const struct {
    const char* Name;
    std::string Bytes;
    std::uint32_t Read, Refused, Trailing;
  } cases[] = {
      {"part record", Record(1, 2, 3, 4) + Record(5, 6, 7, 8) + std::string(10, 'x'), 2, 0, 10},
      {"only a part record", std::string(23, '\0'), 0, 0, 23},
      {"impossible depths", Record(1, 2, 3, -4) + Record(5, 6, 7, 8) + Record(9, 9, 9, 0x7fffffff), 1, 2, 0},
      {"empty", "", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(LearningFile::DefaultName, c.Bytes);
    auto table = std::make_unique<LearningFile>();
    ASSERT_FALSE(table->Load());
    EXPECT_EQ(table->RecordsRead, c.Read);
    EXPECT_EQ(table->RecordsRefused, c.Refused);
    EXPECT_EQ(table->TrailingBytes, c.Trailing);
    EXPECT_EQ(table->EntryCount, c.Read);
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
  EXPECT_EQ(table->RecordsRead + table->RecordsRefused, 20000u);
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
  EXPECT_EQ(FileBytes(), Record(2, 2, 2, 2));
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
  WriteFile(LearningFile::DefaultName, Record(1, 2, 3, 4) + Record(5, 6, 7, 8) + "abc");
  OpenLearning();
  ASSERT_NE(ActiveLearning, nullptr);
  EXPECT_EQ(ActiveLearning->EntryCount, 2u);
  delete ActiveLearning;
  ActiveLearning = nullptr;
  ASSERT_EQ(frontEnd.Infos.size(), 2u);
  EXPECT_EQ(frontEnd.Infos[0], "Learning: 2 positions read from 'quelm.plf'");
  EXPECT_EQ(frontEnd.Infos[1], "Learning: the last 3 bytes of the file are no whole record and were ignored");

  // No file: a table all the same, and nothing said.
  std::filesystem::remove(LearningFile::DefaultName);
  OpenLearning();
  ASSERT_NE(ActiveLearning, nullptr);
  EXPECT_EQ(ActiveLearning->EntryCount, 0u);
  delete ActiveLearning;
  ActiveLearning = nullptr;
  EXPECT_EQ(frontEnd.Infos.size(), 2u);
}

// ---------------------------------------------------------------------------
// The search and the console's learning runs

// A front end that can end a learning run from inside its searches: after a
// given number of searches it leaves "quit" for the idle loop, as the
// console does, or raises SIGINT.
class LearningFrontEnd : public RecordingFrontEnd {
public:
  void SearchStarted() override {
    RecordingFrontEnd::SearchStarted();
    if (Started == InterruptAt) raise(SIGINT);
    if (Started == QuitAt && QuitPipe >= 0) (void)!write(QuitPipe, "quit\n", 5);
  }
  int HandleCommandThinking(const char* line) override {
    if (std::strncmp(line, "quit", 4) == 0) Input::ReprocessLastLine = true;
    return RecordingFrontEnd::HandleCommandThinking(line);
  }
  int InterruptAt = -1;
  int QuitAt = -1;
  int QuitPipe = -1;
};

class LearningSearchTest : public SearchTest {
protected:
  static void SetUpTestSuite() {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    SearchTest::SetUpTestSuite();
  }
  void SetUp() override {
    SearchTest::SetUp();
    ActiveFrontEnd = &Runs;
    Runs.Mode = ModeThinking;
    Runs.BookMisses = 8;
    Runs.QuitPipe = InputPipe[1];
    ASSERT_TRUE(Scratch.Ready());
    Home = std::filesystem::current_path();
    std::filesystem::current_path(Scratch.Path);
    Table = new LearningFile;
    ActiveLearning = Table;
  }
  void TearDown() override {
    ActiveLearning = nullptr;
    delete Table;
    std::filesystem::current_path(Home);
    if (Input::ReprocessLastLine) Input::ReadLine();
    Input::ReprocessLastLine = false;
    ResetSettings();
    SearchTest::TearDown();
  }

  // The keys of the position after the moves (coordinate texts).
  static KeyPair After(ChessGame game, std::initializer_list<const char*> moves) {
    for (const char* text : moves) EXPECT_TRUE(game.PlayMove(FindMove(game, text))) << text;
    return game.Keys();
  }

  LearningFrontEnd Runs;
  LearningFile* Table = nullptr;
  TemporaryDirectory Scratch;
  std::filesystem::path Home;
};

// Learned results below the root stand for a search of their depth: deep
// enough, they decide the move; too shallow, they are not used.
TEST_F(LearningSearchTest, ALearnedResultDeepEnoughDecidesTheSearch) {
  ChessGame game;
  game.SetStartPosition();
  const char* replies[] = {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3", "d2d4", "e2e3", "e2e4",
                           "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"};
  const struct {
    int StoredDepth;
    bool Decides;
  } cases[] = {{100, true}, {4, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.StoredDepth);
    Table->FreeBuckets();
    TranspositionTable::Clear();
    // Every reply but one loses for white by the table; h2h3 wins.
    for (const char* reply : replies)
      Table->Add(After(game, {reply}), std::strcmp(reply, "h2h3") == 0 ? -5000 : 5000, c.StoredDepth);
    if (!c.Decides) {
      Table->FreeBuckets();
      Table->Add(After(game, {"h2h3"}), -5000, c.StoredDepth);
    }
    ThinkToDepth(game, 3);
    EXPECT_EQ(BestMove == FindMove(game, "h2h3"), c.Decides) << Text(game, BestMove);
    if (c.Decides) {
      EXPECT_EQ(static_cast<int>(Statistics[0].LastScore), 5000);
    } else {
      EXPECT_LT(static_cast<int>(Statistics[0].LastScore), 1000);
    }
  }
}

// The driver learns the root of every iteration, and from depth 7 on the
// first positions of the principal variation, each at the depth searched
// below it and with the score for its own side to move.
TEST_F(LearningSearchTest, ASearchLearnsItsRootAndTheHeadOfItsPrincipalVariation) {
  ChessGame game;
  game.SetStartPosition();
  ThinkToDepth(game, 6);
  EXPECT_EQ(Table->EntryCount, 1u);
  EXPECT_TRUE(Holds(*Table, game.Keys(), Statistics[0].LastScore, 24));

  Table->FreeBuckets();
  TranspositionTable::Clear();
  ThinkToDepth(game, 7);
  const int score = Statistics[0].LastScore;
  ASSERT_NE(BestMove, NoMove);
  ASSERT_NE(PonderMove, NoMove);
  EXPECT_TRUE(Holds(*Table, game.Keys(), score, 28));
  ChessGame line = game;
  ASSERT_TRUE(line.PlayMove(BestMove));
  EXPECT_TRUE(Holds(*Table, line.Keys(), -score, 24));
  ASSERT_TRUE(line.PlayMove(PonderMove));
  EXPECT_TRUE(Holds(*Table, line.Keys(), score, 20));
}

TEST_F(LearningSearchTest, LearningRunsWithLearningOffSayOnlySo) {
  ActiveLearning = nullptr;
  ChessGame game;
  game.SetStartPosition();
  StreamCapture capture(1, Scratch / "stdout");
  Learn(&game, 3);
  DeepLearn(&game, 3);
  LearnCommand(game, " 3\n");
  EXPECT_EQ(capture.Finish(), "Learning is not enabled\nLearning is not enabled\nLearning is not enabled\n");
  EXPECT_EQ(Runs.Started, 0);
}

TEST_F(LearningSearchTest, LearningCommandsWithoutANumberDoNothing) {
  ChessGame game;
  game.SetStartPosition();
  StreamCapture capture(1, Scratch / "stdout");
  for (const char* args : {static_cast<const char*>(nullptr), "", "  \n", "deep", "-3", "0"}) {
    LearnCommand(game, args);
    DeepLearnCommand(game, args);
  }
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_EQ(Runs.Started, 0);
}

// "learn" extends a line of twelve plies, searches it backwards, saves, and
// goes on until the user's "quit" is waiting for the idle loop.
TEST_F(LearningSearchTest, LearnBuildsTheLineForwardsSearchesItBackwardsAndStopsForQuit) {
  ChessGame game;
  game.SetStartPosition();
  Runs.QuitAt = 30;
  StreamCapture capture(1, Scratch / "stdout");
  Learn(&game, 2);
  const std::string out = capture.Finish();
  EXPECT_EQ(Runs.Started, 30);
  EXPECT_EQ(out.rfind("\nIteration 2-1\n\nBuilding principle variation\n+ (2) ", 0), 0u) << out;
  const std::size_t reverse = out.find("\nReverse principle variation traversal\n");
  ASSERT_NE(reverse, std::string::npos) << out;
  auto countOf = [&](const std::string& mark, std::size_t from, std::size_t to) {
    int count = 0;
    for (std::size_t at = out.find(mark, from); at < to; at = out.find(mark, at + 1)) ++count;
    return count;
  };
  EXPECT_EQ(countOf("\n+ (", 0, reverse), 12);
  EXPECT_EQ(countOf("\n- (", reverse, out.find("\nIteration", reverse)), 11);
  EXPECT_TRUE(std::filesystem::exists(LearningFile::DefaultName));
  // The caller's game is not touched.
  EXPECT_EQ(game.GamePly, 0);
}

// A position won beyond the expansion limit is searched once per iteration,
// the table cleared after it; Ctrl-C ends the run after the running search
// and the handler that was there before comes back.
TEST_F(LearningSearchTest, DeepLearnSearchesAWonPositionOncePerDepthAndStopsOnInterrupt) {
  ChessGame game = FromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  struct sigaction mine = {}, before = {}, after = {};
  mine.sa_handler = [](int) {};
  sigemptyset(&mine.sa_mask);
  sigaction(SIGINT, &mine, &before);

  StreamCapture capture(1, Scratch / "stdout");
  DeepLearn(&game, 120);
  std::string out = capture.Finish();
  EXPECT_EQ(Runs.Started, 8);
  for (int depth = 120; depth < 128; ++depth)
    EXPECT_NE(out.find("\nIteration depth " + std::to_string(depth) + "\n+ [" + std::to_string(depth) + "] a1a8 { "),
              std::string::npos)
        << out;
  EXPECT_EQ(HashAge.load(), 4);  // cleared after the last search
  EXPECT_EQ(out.find("Interrupting"), std::string::npos);

  Runs.Started = 0;
  Runs.InterruptAt = 1;
  game.SetStartPosition();
  StreamCapture again(1, Scratch / "stdout2");
  DeepLearn(&game, 2);
  out = again.Finish();
  EXPECT_EQ(Runs.Started, 1);
  EXPECT_NE(out.find("\nIteration depth 2\n+ [ 2] "), std::string::npos) << out;
  EXPECT_NE(out.find("\nInterrupting deep analysis ... <press enter>"), std::string::npos) << out;
  EXPECT_EQ(out.find("Iteration depth 3"), std::string::npos) << out;
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, mine.sa_handler);
  sigaction(SIGINT, &before, nullptr);
}

}  // namespace
