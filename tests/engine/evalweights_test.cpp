// The razoring margins and what rebuilding them switches on.
#include <gtest/gtest.h>

#include "engine/evalweights.h"
#include "engine/settings.h"

namespace {

// Every test starts and ends from the built-in settings.
class EvalWeightsTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override {
    ResetSettings();
    ScaleEvalWeights();
  }
};

}  // namespace

TEST_F(EvalWeightsTest, DefaultMarginsAreBasePlusWeightedSpread) {
  ScaleEvalWeights();
  EXPECT_EQ(AlphaMargin[0][1], 2446);   // 1033 + 1346 x 105 / 100
  EXPECT_EQ(AlphaMargin[1][8], 23839);  // 6651 + 10417 x 165 / 100
  EXPECT_EQ(AlphaMargin[8][2], 180 + 148 * 135 / 100);
  for (int row = 0; row <= 8; ++row) EXPECT_EQ(AlphaMargin[row][0], 0) << row;
}

TEST_F(EvalWeightsTest, SettingsAtTheirMaximumMultiplyTheSpreadBySixteen) {
  Settings::PruneSecure = 400;
  for (int level = 1; level <= 8; ++level) Settings::PruneAlphaMargin[level] = 400;
  ScaleEvalWeights();
  // The spread terms before truncation, from the default weights.
  EXPECT_EQ(AlphaMargin[0][1], 1033 + 1346 * 105 * 16 / 100);
  EXPECT_EQ(AlphaMargin[1][8], 6651 + 10417 * 165 * 16 / 100);
  EXPECT_EQ(AlphaMargin[8][8], 358 + 332 * 165 * 16 / 100);
}

TEST_F(EvalWeightsTest, OneLevelScalesOnlyItsColumn) {
  ScaleEvalWeights();
  const int before = AlphaMargin[3][2];
  Settings::PruneAlphaMargin[3] = 25;
  ScaleEvalWeights();
  EXPECT_EQ(AlphaMargin[3][2], before);
  EXPECT_EQ(AlphaMargin[3][3], 1713 + 2575 * 135 * 25 / 10000);
}

TEST_F(EvalWeightsTest, RebuildTurnsTablebaseProbingOnAndKeepsMultiPv) {
  SyzygyProbing = false;
  Settings::MultiPv = 3;
  ScaleEvalWeights();
  EXPECT_TRUE(SyzygyProbing);
  EXPECT_EQ(Settings::MultiPv, 3);
}
