// Pair decompression on a hand-made sub-table: values found across block
// boundaries in both directions, the single-value table, and damaged
// indexes that fail instead of reading beyond the data.
#include <gtest/gtest.h>

#include <vector>

#include "tablebase/decode.h"

namespace {

// Two one-bit codes, symbol 0 the value 10 and symbol 1 the value 20, so
// each bit of a block is one value. Block 0 holds 10 values, block 1 holds
// 12; an index entry covers 8 positions and points at its middle one.
class TwoBlockTable : public ::testing::Test {
protected:
  void SetUp() override {
    pairs.IndexBits = 3;
    pairs.BlockSizeLog = 4;
    pairs.MinLen = pairs.MaxLen = 1;
    pairs.RealBlocks = 2;
    pairs.SizeEntries = 2;
    pairs.IndexEntries = 3;
    pairs.SymbolCount = 2;
    pairs.Offsets = offsets;
    pairs.SymbolPatterns = patterns;
    pairs.SymbolLengths = {0, 0};
    pairs.Base = {0};
    pairs.IndexTable = index;
    pairs.SizeTable = sizes;
    pairs.Data = data.data();
    pairs.DataEnd = data.data() + data.size();
  }

  int ValueOf(int bit) const { return bit ? 20 : 10; }

  const std::vector<int> block0 = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
  const std::vector<int> block1 = {0, 1, 1, 0, 1, 0, 0, 1, 1, 1, 0, 1};
  const std::uint8_t offsets[2] = {0, 0};
  const std::uint8_t patterns[6] = {10, 0xf0, 0xff, 20, 0xf0, 0xff};
  // Entries: position 4 = block 0 value 4; position 12 = block 1 value 2;
  // position 20 given from block 0 with offset 20, that is block 1 value 10.
  const std::uint8_t index[18] = {0, 0, 0, 0, 4, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 20, 0};
  const std::uint8_t sizes[4] = {9, 0, 11, 0};
  std::vector<std::uint8_t> data = {0xb2, 0xc0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0x69, 0xd0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PairsData pairs;
};

TEST_F(TwoBlockTable, EveryPositionDecodesAcrossBlockBoundaries) {
  std::vector<int> all = block0;
  all.insert(all.end(), block1.begin(), block1.end());
  for (std::size_t position = 0; position < all.size(); position++)
    EXPECT_EQ(DecompressPairs(pairs, position), ValueOf(all[position])) << position;
}

TEST_F(TwoBlockTable, DamagedIndexesFailInsteadOfReadingBeyondTheData) {
  EXPECT_EQ(DecompressPairs(pairs, 24), -1);  // beyond the index table
  std::uint8_t badBlock[18];
  std::copy(std::begin(index), std::end(index), badBlock);
  badBlock[0] = 7;  // a block that does not exist
  pairs.IndexTable = badBlock;
  EXPECT_EQ(DecompressPairs(pairs, 1), -1);
  badBlock[0] = 0;
  badBlock[4] = 200;  // an offset that runs off the last block
  EXPECT_EQ(DecompressPairs(pairs, 1), -1);
  badBlock[4] = 0;  // before the first block
  EXPECT_EQ(DecompressPairs(pairs, 0), -1);
}

TEST(PairsDecoding, SingleValueTableAnswersEveryIndexAlike) {
  PairsData pairs;
  pairs.IndexBits = 0;
  pairs.ConstValue = 3;
  for (std::uint64_t index : {std::uint64_t{0}, std::uint64_t{12345}, ~std::uint64_t{0}})
    EXPECT_EQ(DecompressPairs(pairs, index), 3);
}

TEST(PairsDecoding, DtzMapAndDoubling) {
  DtzTable table;
  const std::uint8_t map[] = {1, 7, 1, 9, 1, 11, 1, 13};  // four one-value lists
  table.Map = map;
  table.MapSize = sizeof map;
  for (int i = 0; i < 4; i++) table.MapIndex[0][i] = static_cast<std::uint32_t>(2 * i + 1);
  // Without a map distances in full moves are doubled, exact ones are not.
  table.Flags[0] = 0;
  EXPECT_EQ(DtzFromStored(table, 0, 5, 2), 10);
  table.Flags[0] = 4;
  EXPECT_EQ(DtzFromStored(table, 0, 5, 2), 5);
  EXPECT_EQ(DtzFromStored(table, 0, 5, 1), 10);  // cursed wins always doubled
  table.Flags[0] = 8;
  EXPECT_EQ(DtzFromStored(table, 0, 5, -2), 5);
  // Through the map: classes {1, 3, 0, 2, 0} by WDL + 2.
  table.Flags[0] = 2 | 4 | 8;
  EXPECT_EQ(DtzFromStored(table, 0, 0, 2), 7);
  EXPECT_EQ(DtzFromStored(table, 0, 0, -2), 9);
  EXPECT_EQ(DtzFromStored(table, 0, 0, 1), 2 * 11);
  EXPECT_EQ(DtzFromStored(table, 0, 0, -1), 2 * 13);
  EXPECT_EQ(DtzFromStored(table, 0, 1, -1), -1);  // beyond the map
}

}  // namespace
