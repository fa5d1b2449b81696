// Start-up for the book tests: the engine's board tables and the game
// board's, as main builds them.
#include <gtest/gtest.h>

#include "engine/attacks.h"
#include "engine/zobrist.h"
#include "games/gameboard.h"

namespace {

class BooksEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
    InitGameBoardTables();
  }
};

[[maybe_unused]] ::testing::Environment* const Books = ::testing::AddGlobalTestEnvironment(new BooksEnvironment);

}  // namespace
