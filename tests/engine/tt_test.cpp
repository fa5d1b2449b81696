// The transposition table: what goes into an entry comes back out, mate
// scores move with the ply, the two-slot replacement rules, torn entries,
// and allocation that never leaves the search without a table.
#include "engine/tt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/frontendport.h"
#include "engine/settings.h"
#include "stub_front_end.h"

namespace {

class TranspositionTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    SavedAllocate = TranspositionTable::AllocateMemory;
    SavedFree = TranspositionTable::FreeMemory;
    TranspositionTable::Allocate(1);
    TranspositionTable::Clear();
  }
  void TearDown() override {
    TranspositionTable::AllocateMemory = SavedAllocate;
    TranspositionTable::FreeMemory = SavedFree;
    TranspositionTable::Allocate(1);
  }

  // Keys of different positions that share one bucket: the bucket depends on
  // the low 32 bits of the hash key only.
  static KeyPair SameBucket(std::uint32_t low, std::uint32_t which) {
    return {(std::uint64_t{which} << 32) | low, 0x1234567800000000ull + which};
  }
  static HashEntry Found(const KeyPair& keys) {
    HashEntry entry;
    TranspositionTable::Probe(keys, entry);
    return entry;
  }
  static int SlotOf(const KeyPair& keys) {
    HashEntry entry;
    const HashEntry* slot = TranspositionTable::Probe(keys, entry);
    if (!slot) return -1;
    return static_cast<int>((reinterpret_cast<std::uintptr_t>(slot) / sizeof(HashEntry)) & 1);
  }

  void* (*SavedAllocate)(std::size_t) = nullptr;
  void (*SavedFree)(void*) = nullptr;
};

TEST_F(TranspositionTableTest, EveryFieldReadsBackAsStored) {
  struct Case {
    int Score, Depth, Bound;
    Move StoredMove;
    std::uint32_t Flags;
    Move ExpectedMove;
  };
  const Case cases[] = {
      {0, 0, BoundLower, 0, 0, 0},
      {-1, 1, BoundUpper, 0x0fc0 | 12, 0, 0},  // an upper bound keeps no move
      {1, 4, BoundExact, MakeMoveWord(52, 36) | MovePawn | MoveDoublePush, 0,
       MakeMoveWord(52, 36) | MovePawn | MoveDoublePush},
      {-198999, 511, BoundExact, 0xffffff, HashSingularFlag, 0xffffff},
      {198999, 300, BoundLower, MoveNull, HashSingularFlag, MoveNull},
      {-123456, 17, BoundLower, 0x7f000000u | MakeMoveWord(1, 2), 0, MakeMoveWord(1, 2)},  // flags above bit 23 cut
  };
  std::uint64_t key = 0x9e3779b97f4a7c15ull;
  for (const Case& c : cases) {
    key = key * 6364136223846793005ull + 1442695040888963407ull;
    const KeyPair keys{key, key ^ 0xabcdef};
    TranspositionTable::Store(keys, c.Score, c.Depth, 5, c.Bound, c.StoredMove, c.Flags);
    if (c.Bound == BoundUpper) TranspositionTable::StoreUpper(keys, c.Score, c.Depth, 5, c.StoredMove, c.Flags);
    HashEntry entry;
    ASSERT_NE(TranspositionTable::Probe(keys, entry), nullptr) << c.Score;
    EXPECT_EQ(entry.Score(), c.Score);
    EXPECT_EQ(entry.Depth(), c.Depth);
    EXPECT_EQ(entry.Bound(), c.Bound);
    EXPECT_EQ(entry.GetMove(), c.Bound == BoundUpper ? 0u : c.ExpectedMove);
    EXPECT_EQ(entry.IsSingular(), c.Bound != BoundUpper && (c.Flags & HashSingularFlag) != 0);
    EXPECT_FALSE(entry.IsMate());
    EXPECT_EQ(entry.Age(), HashAge.load());
    EXPECT_EQ(entry.Data & 0x600, 0u);                  // bits 9-10
    EXPECT_EQ((entry.Data >> 57) & 3, 0u);              // bits 57-58
    EXPECT_EQ(entry.Check, entry.Data ^ TranspositionTable::CheckKey(keys));
  }
}

TEST_F(TranspositionTableTest, DepthBeyondTheFieldIsClampedNotSpilledIntoTheBound) {
  const KeyPair deep{0x1111, 0x2222};
  TranspositionTable::StoreLower(deep, 50, 600, 0, MakeMoveWord(8, 16), 0);
  EXPECT_EQ(Found(deep).Depth(), TranspositionTable::MaxDepth);
  EXPECT_EQ(Found(deep).Bound(), BoundLower);
  const KeyPair negative{0x3333, 0x4444};
  TranspositionTable::StoreExact(negative, 50, -8, 0, MakeMoveWord(8, 16), 0);
  EXPECT_EQ(Found(negative).Depth(), 0);
  EXPECT_EQ(Found(negative).Bound(), BoundExact);
}

TEST_F(TranspositionTableTest, MateScoresAreStoredRelativeToTheNode) {
  struct Case {
    int Score, StorePly, Stored, ReadPly, Read;
  };
  const Case cases[] = {
      {200000 - 10, 7, 200000 - 3, 3, 200000 - 6},     // mate at ply 10 seen from ply 7, read at ply 3
      {-(200000 - 10), 7, -(200000 - 3), 3, -(200000 - 6)},
      {199000, 2, 199002, 2, 199000},                  // the bound itself is a mate score
      {198999, 2, 198999, 2, 198999},                  // just below it is not
  };
  for (const Case& c : cases) {
    const KeyPair keys{static_cast<std::uint64_t>(c.Score) * 977 + 13, 77};
    TranspositionTable::StoreExact(keys, c.Score, 8, c.StorePly, 0, 0);
    const HashEntry entry = Found(keys);
    EXPECT_EQ(entry.Score(), c.Stored);
    EXPECT_EQ(entry.IsMate(), c.Stored != c.Score);
    EXPECT_EQ(HashScoreAtPly(entry.Score(), c.ReadPly), c.Read);
  }
  // The quiescence search takes mates from 199001 on.
  EXPECT_EQ(HashScoreAtPly(199000, 4, HashMateBound + 1), 199000);
  EXPECT_EQ(HashScoreAtPly(199001, 4, HashMateBound + 1), 198997);
  EXPECT_EQ(HashScoreAtPly(-199001, 4, HashMateBound + 1), -198997);
}

TEST_F(TranspositionTableTest, ShallowerResultForTheSamePositionOnlyRefreshesTheAge) {
  const KeyPair keys = SameBucket(0x80000000u, 1);
  TranspositionTable::StoreLower(keys, 300, 40, 0, MakeMoveWord(12, 28), 0);
  TranspositionTable::NewSearch();
  EXPECT_EQ(TranspositionTable::HashFull(), 0);
  TranspositionTable::StoreExact(keys, -50, 12, 0, MakeMoveWord(11, 27), 0);
  const HashEntry entry = Found(keys);
  EXPECT_EQ(entry.Score(), 300);
  EXPECT_EQ(entry.Depth(), 40);
  EXPECT_EQ(entry.Bound(), BoundLower);
  EXPECT_EQ(entry.GetMove(), MakeMoveWord(12, 28));
  EXPECT_EQ(entry.Age(), HashAge.load());  // still valid after the age changed
  EXPECT_EQ(TranspositionTable::FillCount(), 1u);
  // A deeper or equal result replaces it in place.
  TranspositionTable::StoreExact(keys, -50, 40, 0, MakeMoveWord(11, 27), 0);
  EXPECT_EQ(Found(keys).Score(), -50);
  EXPECT_EQ(SlotOf(keys), 0);
  EXPECT_EQ(TranspositionTable::FillCount(), 1u);
}

TEST_F(TranspositionTableTest, ReplacementKeepsTheDeeperEntryOfTheCurrentSearch) {
  const KeyPair a = SameBucket(0x40000000u, 1), b = SameBucket(0x40000000u, 2), c = SameBucket(0x40000000u, 3);
  // A deeper entry of this search stays first; the newcomer takes the second slot.
  TranspositionTable::StoreExact(a, 10, 40, 0, 0, 0);
  TranspositionTable::StoreExact(b, 20, 8, 0, 0, 0);
  EXPECT_EQ(SlotOf(a), 0);
  EXPECT_EQ(SlotOf(b), 1);
  // Equal or deeper pushes the first entry into the second slot.
  TranspositionTable::StoreExact(c, 30, 40, 0, 0, 0);
  EXPECT_EQ(SlotOf(c), 0);
  EXPECT_EQ(SlotOf(a), 1);
  EXPECT_EQ(SlotOf(b), -1);
  // A position in the second slot is not looked for when storing: it is
  // stored again by the rules (here into the first slot) and found there.
  TranspositionTable::StoreExact(a, 11, 40, 0, 0, 0);
  EXPECT_EQ(SlotOf(a), 0);
  EXPECT_EQ(Found(a).Score(), 11);
}

TEST_F(TranspositionTableTest, AnOldFirstEntryMovesAsideWhateverItsDepth) {
  const KeyPair a = SameBucket(0x12345678u, 1), b = SameBucket(0x12345678u, 2);
  TranspositionTable::StoreExact(a, 10, 200, 0, 0, 0);
  TranspositionTable::NewSearch();
  TranspositionTable::StoreExact(b, 20, 4, 0, 0, 0);
  EXPECT_EQ(SlotOf(b), 0);
  EXPECT_EQ(SlotOf(a), 1);
  EXPECT_EQ(Found(a).Depth(), 200);
  EXPECT_EQ(TranspositionTable::FillCount(), 1u);
}

TEST_F(TranspositionTableTest, TornOrForeignEntryReadsAsAMiss) {
  const KeyPair keys{0x0123456789abcdefull, 0xfedcba9876543210ull};
  TranspositionTable::StoreExact(keys, 77, 12, 0, MakeMoveWord(10, 20), 0);
  HashEntry entry;
  HashEntry* slot = TranspositionTable::Probe(keys, entry);
  ASSERT_NE(slot, nullptr);
  // Half of another write: a new data word beside the old check word.
  const HashEntry whole = *slot;
  slot->Data ^= std::uint64_t{99} << 13;
  EXPECT_EQ(TranspositionTable::Probe(keys, entry), nullptr);
  EXPECT_EQ(entry.Data, 0u);
  *slot = whole;
  EXPECT_NE(TranspositionTable::Probe(keys, entry), nullptr);
  // The same bucket, another pawn structure: not this position.
  EXPECT_EQ(TranspositionTable::Probe({keys.Hashkey, keys.Pawnkey ^ 1}, entry), nullptr);
  // The zero entry matches nothing that was not stored.
  EXPECT_EQ(TranspositionTable::Probe({0x5555, 0x6666}, entry), nullptr);
}

TEST_F(TranspositionTableTest, WritersRacingOnOneBucketNeverShowAMixedEntry) {
  // Each position always carries its own score and move, so any hit whose
  // fields do not belong to the key read would be a torn entry let through.
  constexpr int Positions = 6;
  KeyPair keys[Positions];
  for (int i = 0; i < Positions; i++) keys[i] = SameBucket(0x2468ace0u, 100 + i);
  auto scoreOf = [](int i) { return -150000 + 997 * i; };
  auto moveOf = [](int i) { return MakeMoveWord(i, 63 - i); };
  std::atomic<bool> done{false};
  std::atomic<int> writing{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; w++)
    writers.emplace_back([&, w] {
      for (int n = 0; !done.load(std::memory_order_relaxed); n++) {
        const int i = (n * 7 + w) % Positions;
        TranspositionTable::StoreExact(keys[i], scoreOf(i), (n * 13 + w) % 64, 0, moveOf(i), 0);
        if (n == 0) writing.fetch_add(1);
      }
    });
  // On a loaded machine the writers may start late: read only while they race.
  while (writing.load() < 3) std::this_thread::yield();
  int hits = 0, wrong = 0;
  for (int round = 0; round < 300000; round++) {
    const int i = round % Positions;
    HashEntry entry;
    if (!TranspositionTable::Probe(keys[i], entry)) continue;
    hits++;
    if (entry.Score() != scoreOf(i) || entry.GetMove() != moveOf(i)) wrong++;
  }
  done = true;
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(hits, 0);
}

TEST_F(TranspositionTableTest, ClearAndEachNewSearchStartHashfullAtZero) {
  for (std::uint64_t i = 1; i <= 2000; i++) TranspositionTable::StoreExact({i * 0x9e3779b97f4a7c15ull, i}, 0, 4, 0, 0, 0);
  EXPECT_GT(TranspositionTable::HashFull(), 0);
  TranspositionTable::NewSearch();
  EXPECT_EQ(TranspositionTable::HashFull(), 0);
  for (std::uint64_t i = 1; i <= 2000; i++) TranspositionTable::StoreExact({i * 0x9e3779b97f4a7c15ull, i}, 0, 4, 0, 0, 0);
  EXPECT_GT(TranspositionTable::HashFull(), 0);
  TranspositionTable::Clear();
  EXPECT_EQ(TranspositionTable::HashFull(), 0);
  EXPECT_EQ(HashAge.load(), 4);
  EXPECT_EQ(Found({1 * 0x9e3779b97f4a7c15ull, 1}).Data, 0u);
  TranspositionTable::NewSearch();
  EXPECT_EQ(HashAge.load(), 5);
  for (int i = 0; i < 16; i++) TranspositionTable::NewSearch();
  EXPECT_EQ(HashAge.load(), 5);  // four bits, wrapping
}

TEST_F(TranspositionTableTest, FillCountedPerThreadIsSummedAndStartsAgainAtZero) {
  auto storeRange = [](std::uint64_t first, std::uint64_t last) {
    for (std::uint64_t i = first; i <= last; i++) TranspositionTable::StoreExact({i * 0x9e3779b97f4a7c15ull, i}, 0, 4, 0, 0, 0);
  };
  storeRange(1, 2000);
  const std::uint64_t alone = TranspositionTable::FillCount();
  ASSERT_GT(alone, 0u);
  // Four threads, each counting on a slot of its own, store the same
  // entries in the same order: the sum is what one thread counted, and a
  // new search or a clear empties every slot.
  for (const bool clear : {false, true}) {
    SCOPED_TRACE(clear ? "clear" : "new search");
    TranspositionTable::Clear();
    for (int t = 0; t < 4; t++) {
      std::thread thread([&, t] {
        TranspositionTable::UseFillSlot(t + 1);
        storeRange(1 + 500 * t, 500 * (t + 1));
      });
      thread.join();
    }
    EXPECT_EQ(TranspositionTable::FillCount(), alone);
    if (clear)
      TranspositionTable::Clear();
    else
      TranspositionTable::NewSearch();
    EXPECT_EQ(TranspositionTable::FillCount(), 0u);
    EXPECT_EQ(TranspositionTable::HashFull(), 0);
  }
}

// An allocator that refuses blocks above a limit and remembers what it was asked.
std::vector<std::size_t> Requests;
std::size_t Limit = 0;
void* LimitedAllocate(std::size_t bytes) {
  Requests.push_back(bytes);
  return bytes <= Limit ? std::calloc(bytes, 1) : nullptr;
}


TEST_F(TranspositionTableTest, SizeIsClampedToTheBuildsRange) {
  Requests.clear();
  Limit = std::size_t{2} << 20 | 64;
  TranspositionTable::AllocateMemory = LimitedAllocate;
  StubFrontEnd frontEnd(ProtocolConsole);

  EXPECT_FALSE(TranspositionTable::Allocate(0));
  EXPECT_EQ(TranspositionTable::Megabytes(), 1);
  EXPECT_EQ(TranspositionTable::EntryCount(), (1u << 20) / 16);
  EXPECT_EQ(TranspositionTable::BucketCount(), (1u << 20) / 32);

  Requests.clear();
  TranspositionTable::Allocate(100000);
  ASSERT_FALSE(Requests.empty());
  EXPECT_EQ(Requests.front() >> 20, static_cast<std::size_t>(TranspositionTable::MaxMegabytes));
  EXPECT_EQ(TranspositionTable::MaxMegabytes, sizeof(void*) == 4 ? 1024 : 65536);
}

TEST_F(TranspositionTableTest, FailedAllocationKeepsAUsableSmallerTableAndSaysSo) {
  StubFrontEnd frontEnd(ProtocolConsole);
  TranspositionTable::AllocateMemory = LimitedAllocate;
  Requests.clear();
  Limit = (std::size_t{4} << 20) + 64;
  EXPECT_TRUE(TranspositionTable::Allocate(16));
  EXPECT_EQ(TranspositionTable::Megabytes(), 4);
  EXPECT_EQ(TranspositionTable::EntryCount(), (std::uint64_t{4} << 20) / 16);
  ASSERT_EQ(frontEnd.Infos.size(), 1u);
  EXPECT_EQ(frontEnd.Infos[0], "Could not allocate 16 MB for the hash table, using 4 MB");

  // Nothing at all: the built-in table, still a working one.
  Limit = 0;
  EXPECT_TRUE(TranspositionTable::Allocate(8));
  EXPECT_EQ(TranspositionTable::Megabytes(), 1);
  EXPECT_EQ(TranspositionTable::EntryCount(), (1u << 20) / 16);
  const KeyPair keys{0xdeadbeefcafef00dull, 0x1234};
  TranspositionTable::StoreExact(keys, 123, 8, 0, MakeMoveWord(1, 2), 0);
  EXPECT_EQ(Found(keys).Score(), 123);
}

TEST_F(TranspositionTableTest, MainHashSettingReallocatesAndReportsWhatItGot) {
  ASSERT_NE(SettingsHooks::MainHashChanged, nullptr);
  StubFrontEnd frontEnd(ProtocolConsole);
  const int saved = Settings::MainHash;
  TranspositionTable::AllocateMemory = LimitedAllocate;
  Limit = (std::size_t{2} << 20) + 64;
  Settings::MainHash = 2;
  SettingsHooks::MainHashChanged();
  EXPECT_EQ(TranspositionTable::Megabytes(), 2);
  EXPECT_EQ(Settings::MainHash, 2);
  Settings::MainHash = 8;
  SettingsHooks::MainHashChanged();
  EXPECT_EQ(TranspositionTable::Megabytes(), 2);
  EXPECT_EQ(Settings::MainHash, 2);
  Settings::MainHash = saved;
}

void* PretendAllocate(std::size_t) {
  alignas(64) static char Dummy[128];
  return Dummy;
}
void FreeNothing(void*) {}

TEST_F(TranspositionTableTest, EntryCountOfVeryLargeTablesNeedsSixtyFourBits) {
  if (sizeof(void*) == 4) GTEST_SKIP() << "the 32-bit build holds at most 1024 MB";
  // The memory is never touched: the counts are all this looks at. The
  // fixture's real table is freed first, while the real free is in place.
  TranspositionTable::Free();
  TranspositionTable::AllocateMemory = PretendAllocate;
  TranspositionTable::FreeMemory = FreeNothing;
  EXPECT_FALSE(TranspositionTable::Allocate(32768));
  EXPECT_EQ(TranspositionTable::EntryCount(), std::uint64_t{1} << 31);
  EXPECT_EQ(TranspositionTable::BucketCount(), std::uint64_t{1} << 30);
  TranspositionTable::AllocateMemory = SavedAllocate;
  TranspositionTable::Allocate(1);
  TranspositionTable::FreeMemory = SavedFree;
}

}  // namespace
