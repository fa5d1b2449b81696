// Helpers of the learning tests: keys by hand, a table without a file, and
// what a table holds for a key.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/learning.h"

inline KeyPair Key(std::uint64_t hashkey, std::uint64_t pawnkey) { return {hashkey, pawnkey}; }

// A table that only holds entries: for the tests of the table itself.
class MemoryLearning : public Learning {
public:
  bool Load() override { return false; }
  bool Close() override { return false; }
  bool Save() override { return false; }
};

inline ::testing::AssertionResult Holds(const Learning& table, const KeyPair& key, int score, int depth) {
  int foundScore = 0, foundDepth = 0;
  if (!table.Find(key, foundScore, foundDepth)) return ::testing::AssertionFailure() << "not found";
  if (foundScore != score || foundDepth != depth)
    return ::testing::AssertionFailure() << "holds " << foundScore << " at " << foundDepth;
  return ::testing::AssertionSuccess();
}
