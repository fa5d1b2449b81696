#include "support/indexfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/messages.h"
#include "support/scratch_directory.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

void PutU32At(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// Every value of a bucket, in stored order (mask 0 matches every key).
std::vector<std::uint32_t> AllValues(IndexFile& index, std::uint32_t bucket) {
  std::vector<std::uint32_t> values;
  index.SearchKey = 0;
  index.SearchMask = 0;
  EXPECT_FALSE(index.FindFirst(bucket));
  for (std::uint32_t v = index.FindNext(); v != 0; v = index.FindNext()) values.push_back(v);
  return values;
}

std::vector<std::uint32_t> ValuesOfKey(IndexFile& index, std::uint32_t bucket, std::uint32_t key) {
  std::vector<std::uint32_t> values;
  index.SearchKey = key;
  index.SearchMask = 0xFFFFFFFFu;
  EXPECT_FALSE(index.FindFirst(bucket));
  for (std::uint32_t v = index.FindNext(); v != 0; v = index.FindNext()) values.push_back(v);
  return values;
}

Bytes ReadBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class IndexFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Name = Scratch.Path("test.fxi");
  }
  std::size_t FileSize() const { return static_cast<std::size_t>(std::filesystem::file_size(Name)); }
  bool TemporaryFilesLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Name).parent_path()))
      if (entry.path().filename().string().rfind("__TMPREI_", 0) == 0) return true;
    return false;
  }

  ScratchDirectory Scratch;
  std::string Name;
  IndexFile Index;
};

TEST_F(IndexFileTest, CreateSizesBucketsAndPositionsByExpectedEntries) {
  struct Case {
    std::int64_t Expected;
    std::uint32_t Buckets;
    std::uint32_t Version;
  };
  const Case cases[] = {
      {0, 1, 3},           {1000, 1, 3},          {4096, 2, 3},           {2000000, 1024, 3},
      {0x4000000, 8192, 3}, {0x4000001, 8192, 0x1003}, {100000000, 8192, 0x1003},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(Index.Create(Name.c_str(), c.Expected)) << c.Expected;
    EXPECT_EQ(Index.BucketCount, c.Buckets) << c.Expected;
    EXPECT_EQ(Index.Version, c.Version) << c.Expected;
    ASSERT_FALSE(Index.Close());
    Bytes bytes = Scratch.ReadBytes("test.fxi");
    std::size_t positionSize = (c.Version & 0x1000) ? 8 : 4;
    ASSERT_EQ(bytes.size(), 8 + c.Buckets * positionSize) << c.Expected;
    EXPECT_EQ(U32At(bytes, 0), c.Version);
    EXPECT_EQ(U32At(bytes, 4), c.Buckets);
    for (std::size_t i = 8; i < bytes.size(); i++) ASSERT_EQ(bytes[i], 0) << c.Expected;

    ASSERT_FALSE(Index.Open(Name.c_str(), false));
    EXPECT_EQ(Index.Version, c.Version);
    EXPECT_EQ(Index.BucketCount, c.Buckets);
  }
}

TEST_F(IndexFileTest, CreateReplacesAnOlderLargerFile) {
  Scratch.WriteBytes("test.fxi", Bytes(100000, 0xEE));
  ASSERT_FALSE(Index.Create(Name.c_str(), 100000000));
  ASSERT_FALSE(Index.Close());
  EXPECT_EQ(FileSize(), 8u + 8192 * 8);
}

// Names are kept whole: a long one names its own file, through a rebuild
// too; only a name the system cannot hold is refused.
TEST_F(IndexFileTest, CreateWithoutNameKeepsTheCurrentOneAndLongNamesAreKeptWhole) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 0));
  ASSERT_FALSE(Index.Create(nullptr, 0));
  EXPECT_EQ(std::string(Index.FileName), Name);

  const std::string longName = Scratch.Path(std::string(100, 'x') + std::string(100, 'y') + ".fxi");
  ASSERT_FALSE(Index.Create(longName.c_str(), 0));
  ASSERT_FALSE(Index.Add(0, 7, 1));
  ASSERT_FALSE(Index.Rebuild());
  EXPECT_EQ(std::string(Index.FileName), longName);
  ASSERT_FALSE(Index.Close());
  ASSERT_FALSE(Index.Open(longName.c_str(), false));
  Index.SearchKey = 7;
  ASSERT_FALSE(Index.FindFirst(0));
  EXPECT_EQ(Index.FindNext(), 1u);
  EXPECT_EQ(Index.FindNext(), 0u);
  // The long name, cut where the old buffers cut it, names no file.
  EXPECT_FALSE(std::filesystem::exists(longName.substr(0, 87)));

  const std::string tooLong = Scratch.Path(std::string(300, 'x') + ".fxi");
  EXPECT_TRUE(Index.Create(tooLong.c_str(), 0));
  EXPECT_FALSE(Index.IsOpen());
  EXPECT_TRUE(Index.Open(tooLong.c_str(), true));
  EXPECT_TRUE(Index.Create(Scratch.Path("missing/dir.fxi").c_str(), 0));
  EXPECT_FALSE(Index.IsOpen());
}

class IndexFileWidths : public IndexFileTest, public ::testing::WithParamInterface<std::int64_t> {};

// 2048 entries fill a block; the next one starts a second block of the chain.
TEST_P(IndexFileWidths, ChainGrowsBySecondBlockAndKeepsInsertionOrder) {
  ASSERT_FALSE(Index.Create(Name.c_str(), GetParam()));
  const std::uint32_t bucket = Index.BucketCount - 1;
  std::vector<std::uint32_t> all, keyOne;
  for (std::uint32_t i = 0; i < 2049; i++) {
    std::uint32_t value = 5000 - i;  // descending on purpose
    ASSERT_FALSE(Index.Add(bucket, i % 3, value)) << i;
    all.push_back(value);
    if (i % 3 == 1) keyOne.push_back(value);
  }
  const bool wide = Index.Version & 0x1000;
  const std::size_t positionSize = wide ? 8 : 4;
  const std::size_t header = 8 + Index.BucketCount * positionSize;
  const std::size_t block = 8 + 2048 * 8 + positionSize;
  EXPECT_EQ(FileSize(), header + 2 * block);
  EXPECT_EQ(AllValues(Index, bucket), all);
  EXPECT_EQ(ValuesOfKey(Index, bucket, 1), keyOne);
  if (bucket != 0) {
    EXPECT_TRUE(AllValues(Index, 0).empty());
  }

  // Reopened, without the block cache, the chain is found again and extended.
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  ASSERT_FALSE(Index.Add(bucket, 7, 1));
  all.push_back(1);
  EXPECT_EQ(AllValues(Index, bucket), all);
  EXPECT_EQ(ValuesOfKey(Index, bucket, 7), std::vector<std::uint32_t>{1});
  EXPECT_EQ(FileSize(), header + 2 * block);
}

// Many entries of one bucket at once fill the last block, then new ones,
// exactly as the same entries added one by one.
TEST_P(IndexFileWidths, AddManyWritesWhatSingleAddsWrite) {
  std::vector<std::uint32_t> keys, values;
  for (std::uint32_t i = 0; i < 5000; i++) {
    keys.push_back(i * 7);
    values.push_back(i + 1);
  }
  ASSERT_FALSE(Index.Create(Name.c_str(), GetParam()));
  const std::uint32_t bucket = Index.BucketCount - 1;
  ASSERT_FALSE(Index.Add(bucket, 1, 9));
  ASSERT_FALSE(Index.AddMany(bucket, keys.data(), values.data(), 3000));
  ASSERT_FALSE(Index.AddMany(bucket, keys.data() + 3000, values.data() + 3000, 2000));
  ASSERT_FALSE(Index.AddMany(bucket, keys.data(), values.data(), 0));
  ASSERT_FALSE(Index.Close());
  const auto many = ReadBytes(Name);

  ASSERT_FALSE(Index.Create(Name.c_str(), GetParam()));
  ASSERT_FALSE(Index.Add(bucket, 1, 9));
  for (std::size_t i = 0; i < keys.size(); i++) ASSERT_FALSE(Index.Add(bucket, keys[i], values[i]));
  ASSERT_FALSE(Index.Close());
  EXPECT_EQ(ReadBytes(Name), many);

  // A zero value anywhere refuses the whole call, and nothing is written.
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  values[10] = 0;
  EXPECT_TRUE(Index.AddMany(bucket, keys.data(), values.data(), 20));
  ASSERT_FALSE(Index.Flush());
  EXPECT_EQ(ReadBytes(Name), many);
}

// The entries of an addition the owner never committed stand at the ends of
// its chains; dropping them leaves every other entry, and the chain grows
// from where it was cut.
TEST_P(IndexFileWidths, DropValuesAboveCutsTheEndsOfTheChains) {
  ASSERT_FALSE(Index.Create(Name.c_str(), GetParam()));
  const std::uint32_t last = Index.BucketCount - 1;
  std::vector<std::uint32_t> kept;
  for (std::uint32_t value = 1; value <= 2100; value++) {
    ASSERT_FALSE(Index.Add(last, value, value));
    if (value <= 2040) kept.push_back(value);
  }
  ASSERT_FALSE(Index.Add(0, 1, 3000));
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  std::uint64_t dropped = 0;
  ASSERT_FALSE(Index.DropValuesAbove(2040, dropped));
  EXPECT_EQ(dropped, 61u);  // 2041..2100, and 3000 wherever it stands
  EXPECT_EQ(AllValues(Index, last), kept);
  ASSERT_FALSE(Index.Add(last, 5, 2041));
  kept.push_back(2041);
  EXPECT_EQ(AllValues(Index, last), kept);
  ASSERT_FALSE(Index.DropValuesAbove(5000, dropped));
  EXPECT_EQ(dropped, 0u);

  ASSERT_FALSE(Index.Open(Name.c_str(), false));
  EXPECT_TRUE(Index.DropValuesAbove(1, dropped));
}

TEST_P(IndexFileWidths, FindFromPositionsAtTheFirstValueAtLeastTheGivenOne) {
  ASSERT_FALSE(Index.Create(Name.c_str(), GetParam()));
  for (std::uint32_t v = 1; v <= 3000; v++) ASSERT_FALSE(Index.Add(0, v & 1, v));
  struct Case {
    std::uint32_t From;
    std::uint32_t Key;
    std::uint32_t Expected;
  };
  // 2048 is the last entry of the first block, 2049 the first of the second.
  const Case cases[] = {{1, 1, 1}, {2, 1, 3}, {2048, 0, 2048}, {2049, 1, 2049}, {2050, 1, 2051}, {3000, 0, 3000}};
  for (const Case& c : cases) {
    Index.SearchKey = c.Key;
    Index.SearchMask = 1;
    ASSERT_FALSE(Index.FindFirst(0));
    ASSERT_FALSE(Index.FindFrom(c.From)) << c.From;
    EXPECT_EQ(Index.FindNext(), c.Expected) << c.From;
  }
  ASSERT_FALSE(Index.FindFirst(0));
  EXPECT_TRUE(Index.FindFrom(3001));
  EXPECT_EQ(Index.FindNext(), 0u);
}

INSTANTIATE_TEST_SUITE_P(NarrowAndWide, IndexFileWidths, ::testing::Values(1000, 100000000),
                         [](const ::testing::TestParamInfo<std::int64_t>& info) {
                           return info.param > 0x4000000 ? "Wide" : "Narrow";
                         });

TEST_F(IndexFileTest, EmptyBucketSearchesEndAtOnce) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 10000));
  ASSERT_FALSE(Index.FindFirst(3));
  EXPECT_EQ(Index.FindNext(), 0u);
  EXPECT_TRUE(Index.FindFrom(1));
}

TEST_F(IndexFileTest, RefusedAddsLeaveTheIndexOpenAndUnchanged) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 10000));  // 4 buckets
  const std::size_t size = FileSize();
  EXPECT_TRUE(Index.Add(4, 1, 1));  // bucket beyond the count
  EXPECT_TRUE(Index.Add(0, 1, 0));  // 0 is the end-of-search value
  EXPECT_TRUE(Index.FindFirst(4));
  EXPECT_TRUE(Index.IsOpen());
  EXPECT_EQ(FileSize(), size);

  ASSERT_FALSE(Index.Open(Name.c_str(), false));
  EXPECT_TRUE(Index.Add(0, 1, 1));
  EXPECT_TRUE(Index.IsOpen());
  ASSERT_FALSE(Index.Close());
  EXPECT_EQ(FileSize(), size);
  EXPECT_TRUE(Index.Add(0, 1, 1));  // closed
  EXPECT_EQ(Index.FindNext(), 0u);
}

TEST_F(IndexFileTest, WideIndexOpensReadOnlyForReading) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 100000000));
  ASSERT_FALSE(Index.Add(5, 9, 42));
  ASSERT_FALSE(Index.Open(Name.c_str(), false));
  EXPECT_EQ(ValuesOfKey(Index, 5, 9), std::vector<std::uint32_t>{42});
  EXPECT_TRUE(Index.Add(5, 9, 43));
  EXPECT_TRUE(Index.Rebuild());
  EXPECT_FALSE(IndexFile().Rebuild());  // a closed index has nothing to do
}

TEST_F(IndexFileTest, UnknownVersionsAreRejectedAndOnlyVersionZeroSaysSo) {
  struct Case {
    std::uint32_t Version;
    const char* Output;
  };
  const Case cases[] = {
      {0, "Indexfile belongs to older version and cannot be used\n"},
      {0x1000, "Indexfile belongs to older version and cannot be used\n"},
      {5, ""},
      {0x1004, ""},
      {0x2003, ""},
  };
  for (const Case& c : cases) {
    Bytes bytes(16, 0);
    PutU32At(bytes, 0, c.Version);
    PutU32At(bytes, 4, 1);
    Scratch.WriteBytes("test.fxi", bytes);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(Index.Open(Name.c_str(), true)) << c.Version;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.Output) << c.Version;
    EXPECT_FALSE(Index.IsOpen());
    EXPECT_EQ(Scratch.ReadBytes("test.fxi"), bytes);
  }
}

// A file as the first format wrote it: 24-bit values, entries of 7 bytes.
Bytes VersionOneFile(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries, std::uint32_t capacity) {
  Bytes bytes(8 + 2 * 4, 0);
  PutU32At(bytes, 0, 1);
  PutU32At(bytes, 4, 2);
  PutU32At(bytes, 12, static_cast<std::uint32_t>(bytes.size()));  // bucket 1
  std::size_t block = bytes.size();
  bytes.resize(block + 8 + capacity * 7 + 4, 0);
  PutU32At(bytes, block, capacity);
  PutU32At(bytes, block + 4, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); i++) {
    std::size_t at = block + 8 + 7 * i;
    PutU32At(bytes, at, entries[i].first);
    for (int b = 0; b < 3; b++) bytes[at + 4 + b] = static_cast<unsigned char>(entries[i].second >> (8 * b));
  }
  return bytes;
}

TEST_F(IndexFileTest, VersionOneFileIsReadAndRebuiltToVersionTwo) {
  // Values from 0x800000 up carry the top bit of 24: they stay positive.
  Scratch.WriteBytes("test.fxi", VersionOneFile({{1, 7}, {3, 0x900000}, {5, 0xFFFFFF}}, 3));
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  EXPECT_EQ(Index.Version, 1u);
  EXPECT_EQ(AllValues(Index, 1), (std::vector<std::uint32_t>{7, 0x900000, 0xFFFFFF}));
  EXPECT_TRUE(Index.Add(1, 9, 0x1000000));  // does not fit 24 bits
  ASSERT_FALSE(Index.Add(1, 9, 0x800001));  // goes to a new block
  EXPECT_EQ(ValuesOfKey(Index, 1, 9), std::vector<std::uint32_t>{0x800001});

  ::testing::internal::CaptureStdout();
  ASSERT_FALSE(Index.Rebuild());
  std::string progress = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(progress, std::string("0/2 ") + Messages.Text(23) + "\r1/2 " + Messages.Text(23) + "\r2/2 " +
                          Messages.Text(23) + "\n");
  EXPECT_EQ(Index.Version, 2u);
  EXPECT_EQ(Index.BucketCount, 2u);
  EXPECT_EQ(AllValues(Index, 1), (std::vector<std::uint32_t>{7, 0x900000, 0xFFFFFF, 0x800001}));
  EXPECT_EQ(ValuesOfKey(Index, 1, 3), std::vector<std::uint32_t>{0x900000});
  ASSERT_FALSE(Index.Add(1, 11, 0x2000000));  // 32-bit values from now on
  EXPECT_EQ(ValuesOfKey(Index, 1, 11), std::vector<std::uint32_t>{0x2000000});
  ASSERT_FALSE(Index.Close());
  Bytes bytes = Scratch.ReadBytes("test.fxi");
  EXPECT_EQ(U32At(bytes, 0), 2u);
  EXPECT_FALSE(TemporaryFilesLeft());
}

struct Stored {
  std::uint32_t Bucket, Key, Value;
};

// Tens of thousands of entries whose values do not ascend and repeat; the
// keys are the bucket hash's high half when asked, like the book's index.
std::vector<Stored> FillIndex(IndexFile& index, int count, bool keysAreHashes) {
  std::mt19937_64 random(12345);
  std::vector<Stored> stored;
  for (int i = 0; i < count; i++) {
    std::uint64_t hash = random();
    std::uint32_t bucket = static_cast<std::uint32_t>(hash) & (index.BucketCount - 1);
    std::uint32_t key = keysAreHashes ? static_cast<std::uint32_t>(hash) : static_cast<std::uint32_t>(hash >> 32);
    std::uint32_t value = 1 + static_cast<std::uint32_t>(random() % 5000);
    if (!index.Add(bucket, key, value)) stored.push_back({bucket, key, value});
  }
  return stored;
}

void ExpectEverythingFindable(IndexFile& index, const std::vector<Stored>& stored) {
  std::map<std::uint32_t, std::vector<std::uint32_t>> byBucket;
  for (const Stored& s : stored) byBucket[s.Key & (index.BucketCount - 1)].push_back(s.Value);
  std::size_t total = 0;
  for (std::uint32_t bucket = 0; bucket < index.BucketCount; bucket++) {
    std::vector<std::uint32_t> values = AllValues(index, bucket);
    total += values.size();
    if (byBucket.count(bucket)) {
      EXPECT_EQ(values, byBucket[bucket]) << "bucket " << bucket;
    }
  }
  EXPECT_EQ(total, stored.size());
  for (std::size_t i = 0; i < stored.size(); i += 97) {
    const Stored& s = stored[i];
    std::vector<std::uint32_t> values = ValuesOfKey(index, s.Key & (index.BucketCount - 1), s.Key);
    EXPECT_NE(std::find(values.begin(), values.end(), s.Value), values.end()) << i;
  }
}

TEST_F(IndexFileTest, RebuildKeepsBucketsAndEveryEntryWhenKeysAreNotTheHash) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 20000));  // 16 buckets
  std::vector<Stored> stored = FillIndex(Index, 60000, false);
  ASSERT_EQ(stored.size(), 60000u);
  std::map<std::uint32_t, std::vector<std::uint32_t>> before;
  for (const Stored& s : stored) before[s.Bucket].push_back(s.Value);
  const std::size_t oldSize = FileSize();

  ::testing::internal::CaptureStdout();
  ASSERT_FALSE(Index.Rebuild());
  std::string progress = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(progress.find(std::string("16/16 ") + Messages.Text(23) + "\n"), std::string::npos);
  EXPECT_EQ(Index.BucketCount, 16u);
  EXPECT_EQ(Index.Version, 3u);
  EXPECT_LT(FileSize(), oldSize);
  for (auto& [bucket, values] : before) EXPECT_EQ(AllValues(Index, bucket), values) << bucket;
  EXPECT_FALSE(TemporaryFilesLeft());

  // The compacted block takes further entries, then the chain grows again.
  std::uint32_t bucket = stored[0].Bucket;
  for (std::uint32_t i = 0; i < 3000; i++) {
    ASSERT_FALSE(Index.Add(bucket, 1, 9000 + i));
    before[bucket].push_back(9000 + i);
  }
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  EXPECT_EQ(AllValues(Index, bucket), before[bucket]);
}

TEST_F(IndexFileTest, RebuildDoublesBucketsOnlyForHashKeysAndLosesNothing) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 20000));  // 16 buckets
  std::vector<Stored> stored = FillIndex(Index, 60000, true);
  ASSERT_EQ(stored.size(), 60000u);
  ::testing::internal::CaptureStdout();
  ASSERT_FALSE(Index.Rebuild(true));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(Index.BucketCount, 32u);
  ExpectEverythingFindable(Index, stored);
  ASSERT_FALSE(Index.Open(Name.c_str(), false));
  EXPECT_EQ(Index.BucketCount, 32u);
  ExpectEverythingFindable(Index, stored);
  EXPECT_FALSE(TemporaryFilesLeft());
}

// Beyond 512 MiB a narrow index moves to 64-bit positions. The size comes from
// a hole after the chains, so the test stays cheap.
TEST_F(IndexFileTest, RebuildOfALargeNarrowIndexWidensItsPositions) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 4096));
  ASSERT_FALSE(Index.Add(1, 5, 55));
  ASSERT_FALSE(Index.Close());
  std::error_code error;
  std::filesystem::resize_file(Name, 0x20000100, error);
  if (error) GTEST_SKIP() << "cannot make a large sparse file";
  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  ::testing::internal::CaptureStdout();
  bool failed = Index.Rebuild();
  std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(failed);
  EXPECT_EQ(output.rfind("Changing index format to 64-bit addressing\n", 0), 0u);
  EXPECT_EQ(Index.Version, 0x1003u);
  EXPECT_EQ(ValuesOfKey(Index, 1, 5), std::vector<std::uint32_t>{55});
  EXPECT_LT(FileSize(), 100000u);
}

// A small valid index: bucket 1 holds one block at offset 16 with 3 entries.
Bytes SmallIndex(const std::string& name) {
  IndexFile index;
  EXPECT_FALSE(index.Create(name.c_str(), 4096));  // 2 buckets, 32-bit
  for (std::uint32_t v = 1; v <= 3; v++) EXPECT_FALSE(index.Add(1, v, v * 10));
  EXPECT_FALSE(index.Close());
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(IndexFileTest, DamagedFilesFailCleanlyAndAreNotWritten) {
  const Bytes good = SmallIndex(Name);
  ASSERT_EQ(U32At(good, 12), 16u);
  ASSERT_EQ(good.size(), 16u + 8 + 2048 * 8 + 4);
  struct Case {
    const char* What;
    std::size_t At;  // where a u32 is replaced, or the new length
    std::uint32_t Value;
    bool Truncate;
    bool OpenFails;
  };
  const Case cases[] = {
      {"header cut short", 6, 0, true, true},
      {"slots cut short", 14, 0, true, true},
      {"no buckets", 4, 0, false, true},
      {"bucket count not a power of two", 4, 3, false, true},
      {"more slots than the file holds", 4, 0x40000000, false, true},
      {"slot beyond the end", 12, 0x7FFFFF00, false, false},
      {"slot inside the slots", 12, 4, false, false},
      {"count above capacity", 20, 2049, false, false},
      {"capacity beyond the end", 16, 0x10000000, false, false},
      {"zero capacity", 16, 0, false, false},
      {"block cut short", 16 + 8 + 100, 0, true, false},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    if (c.Truncate)
      bad.resize(c.At);
    else
      PutU32At(bad, c.At, c.Value);
    Scratch.WriteBytes("test.fxi", bad);
    if (c.OpenFails) {
      EXPECT_TRUE(Index.Open(Name.c_str(), true)) << c.What;
      EXPECT_FALSE(Index.IsOpen()) << c.What;
    } else {
      ASSERT_FALSE(Index.Open(Name.c_str(), true)) << c.What;
      EXPECT_TRUE(Index.Add(1, 4, 40)) << c.What;
      ASSERT_FALSE(Index.Open(Name.c_str(), true)) << c.What;
      EXPECT_TRUE(Index.FindFirst(1)) << c.What;
      EXPECT_EQ(Index.FindNext(), 0u) << c.What;
      ASSERT_FALSE(Index.Open(Name.c_str(), true)) << c.What;
      ::testing::internal::CaptureStdout();
      EXPECT_TRUE(Index.Rebuild()) << c.What;
      ::testing::internal::GetCapturedStdout();
      EXPECT_FALSE(TemporaryFilesLeft()) << c.What;
    }
    EXPECT_FALSE(Index.IsOpen()) << c.What;
    EXPECT_EQ(Scratch.ReadBytes("test.fxi"), bad) << c.What;
  }
}

// A link back to its own block would make every walk endless.
TEST_F(IndexFileTest, ChainLinkingBackwardsEndsTheWalk) {
  ASSERT_FALSE(Index.Create(Name.c_str(), 1000));
  for (std::uint32_t v = 1; v <= 2048; v++) ASSERT_FALSE(Index.Add(0, 0, v));
  ASSERT_FALSE(Index.Close());
  Bytes bytes = Scratch.ReadBytes("test.fxi");
  const std::size_t block = 12, link = block + 8 + 2048 * 8;
  ASSERT_EQ(bytes.size(), link + 4);
  PutU32At(bytes, link, block);
  Scratch.WriteBytes("test.fxi", bytes);

  ASSERT_FALSE(Index.Open(Name.c_str(), true));
  EXPECT_EQ(AllValues(Index, 0).size(), 2048u);
  EXPECT_EQ(Index.FindNext(), 0u);
  EXPECT_TRUE(Index.Add(0, 0, 2049));
  EXPECT_EQ(Scratch.ReadBytes("test.fxi"), bytes);
}

}  // namespace
