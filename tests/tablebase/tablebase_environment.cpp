// Start-up of the board for the tablebase tests: keys and attack tables, as
// main does before anything probes a position.
#include <gtest/gtest.h>

#include "engine/attacks.h"
#include "engine/zobrist.h"

namespace {

class TablebaseEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitDistanceTable();
  }
};

[[maybe_unused]] ::testing::Environment* const Board = ::testing::AddGlobalTestEnvironment(new TablebaseEnvironment);

}  // namespace
