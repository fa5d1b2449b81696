// Start-up for every game-side test: the game board's tables as main builds
// them, and the engine's board tables for the tests that compare the two.
#include <gtest/gtest.h>

#include "engine/attacks.h"
#include "engine/zobrist.h"
#include "games/gameboard.h"

namespace {

class GamesEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitGameBoardTables();
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
  }
};

[[maybe_unused]] ::testing::Environment* const Games = ::testing::AddGlobalTestEnvironment(new GamesEnvironment);

}  // namespace
