// Start-up for every book test, as main does it: the engine's keys and
// attack tables (the book list plays engine moves) and the game board's
// tables.
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
