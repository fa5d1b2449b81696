// Locates the data shared between projects (../shared beside the checkout).
// A test that needs it skips where it is absent, and fails instead under CI.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

inline std::filesystem::path SharedDataPath(const std::string& relative) {
  const char* fromEnvironment = std::getenv("QUELM_SHARED");
  std::filesystem::path root = fromEnvironment && *fromEnvironment ? fromEnvironment : QUELM_SHARED_DIR;
  return root / relative;
}

inline bool RunningUnderCi() {
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}

// Use as: REQUIRE_SHARED_FILE(path, "data/perft.txt");
#define REQUIRE_SHARED_FILE(variable, relative)                                    \
  const std::filesystem::path variable = SharedDataPath(relative);                 \
  if (!std::filesystem::exists(variable)) {                                        \
    if (RunningUnderCi()) FAIL() << "shared test data missing: " << variable;      \
    GTEST_SKIP() << "shared test data not found: " << variable;                    \
  }
