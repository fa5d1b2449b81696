// Start-up of the board for every engine test: keys, attack tables and king
// distances, as main does before anything uses a position.
#include <gtest/gtest.h>

#include "engine/attacks.h"
#include "engine/zobrist.h"

namespace {

class BoardEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
  }
};

[[maybe_unused]] ::testing::Environment* const Board = ::testing::AddGlobalTestEnvironment(new BoardEnvironment);

}  // namespace
