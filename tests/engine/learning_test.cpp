// The learning table: its score limits and depth rule, buckets that tell
// positions apart, and lookups racing the adder.
#include "engine/learning.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "learning_helpers.h"

namespace {

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
  EXPECT_EQ(bucket.Capacity, 16);  // doubled from 4
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

// A bucket stops at its cap: a further position is dropped without failing
// and counted, while the positions it holds still take deeper results.
TEST(LearningTableTest, AFullBucketDropsNewPositionsAndStillUpdatesItsOwn) {
  auto table = std::make_unique<MemoryLearning>();
  constexpr int Cap = LearningContainer::MaxEntries;
  auto keyOf = [](int i) { return Key(9 + (static_cast<std::uint64_t>(i) << 15), i); };
  for (int i = 0; i < Cap; ++i) ASSERT_FALSE(table->Add(keyOf(i), i % 100, 8));
  const LearningContainer& bucket = table->Containers[9];
  EXPECT_EQ(bucket.Count.load(), Cap);
  EXPECT_EQ(bucket.Capacity, Cap);
  EXPECT_EQ(table->BucketOverflows, 0u);

  EXPECT_FALSE(table->Add(keyOf(Cap), 5, 8));
  EXPECT_FALSE(table->Add(keyOf(Cap + 1), 5, 8));
  EXPECT_EQ(table->BucketOverflows, 2u);
  int score, depth;
  EXPECT_FALSE(table->Find(keyOf(Cap), score, depth));
  EXPECT_EQ(table->EntryCount, static_cast<std::uint32_t>(Cap));

  EXPECT_FALSE(table->Add(keyOf(7), 77, 40));
  EXPECT_TRUE(Holds(*table, keyOf(7), 77, 40));
  EXPECT_EQ(table->BucketOverflows, 2u);
  // Other buckets are not affected.
  EXPECT_FALSE(table->Add(Key(10, 1), 1, 4));
  EXPECT_TRUE(Holds(*table, Key(10, 1), 1, 4));
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

}  // namespace
