// The razoring margins by phase and depth level, scaled by the pruning
// settings.
#include "engine/evalweights.h"

#include "engine/settings.h"

std::int32_t AlphaMargin[9][9];
std::atomic<bool> SyzygyProbing{false};

namespace {

// [phase of the side not to move][level]; milli-pawns, level 0 unused.
constexpr std::int32_t AlphaMarginBase[9][9] = {
    {0, 1033, 2354, 3199, 2884, 3328, 3372, 3894, 4213},
    {0, 2092, 3815, 4924, 4494, 5224, 5398, 6165, 6651},
    {0, 1470, 1441, 2132, 2058, 2511, 2688, 3229, 3528},
    {0, 1205, 1061, 1713, 1734, 2217, 2417, 2907, 3150},
    {0, 730, 638, 1061, 1139, 1468, 1651, 2043, 2260},
    {0, 668, 663, 1075, 1175, 1482, 1653, 2034, 2262},
    {0, 431, 416, 624, 675, 837, 936, 1154, 1307},
    {0, 295, 301, 410, 443, 532, 581, 695, 769},
    {0, 163, 180, 226, 243, 275, 297, 332, 358},
};
constexpr std::int32_t AlphaMarginSpread[9][9] = {
    {0, 1346, 3735, 4991, 4433, 5059, 5075, 5829, 6287},
    {0, 3204, 6315, 7959, 7218, 8317, 8552, 9692, 10417},
    {0, 2193, 2242, 3347, 3186, 3904, 4172, 5035, 5503},
    {0, 1710, 1539, 2575, 2600, 3379, 3702, 4484, 4861},
    {0, 916, 778, 1412, 1523, 2025, 2309, 2916, 3246},
    {0, 819, 815, 1425, 1572, 2034, 2291, 2871, 3215},
    {0, 510, 441, 733, 783, 1009, 1141, 1458, 1682},
    {0, 333, 293, 437, 458, 576, 629, 784, 883},
    {0, 153, 148, 202, 206, 244, 261, 304, 332},
};
// Percent by level.
constexpr std::int32_t AlphaLevelWeight[9] = {0, 105, 135, 135, 135, 135, 165, 165, 165};

}  // namespace

// Settings::MultiPv is left alone: a margin change arriving after the GUI's
// MultiPV option would otherwise silently take the extra lines away.
void ScaleEvalWeights() {
  SyzygyProbing = true;
  for (int level = 1; level <= 8; ++level) {
    // Four percentages of up to 400 times a spread of five digits: 64 bits.
    const std::int64_t percents = std::int64_t{Settings::PruneAlphaMargin[level]} * AlphaLevelWeight[level] *
                                  Settings::PruneSecure;
    for (int row = 0; row <= 8; ++row)
      AlphaMargin[row][level] =
          AlphaMarginBase[row][level] + static_cast<std::int32_t>(AlphaMarginSpread[row][level] * percents / 1000000);
  }
}
