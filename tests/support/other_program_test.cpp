// The runner of programs we did not write: a crash is told apart from an
// ordinary exit and run once more, so that it cannot fail a test as ours.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "other_program.h"
#include "support/scratch_directory.h"

TEST(OtherProgram, ACrashIsToldApartFromAnExitCode) {
  const struct {
    const char* Command;
    bool Crash;
  } cases[] = {
      {"true", false},
      {"exit 3", false},
      {"exit 128", false},
      {"kill -SEGV $$", true},
      {"kill -ABRT $$", true},
      {"echo | sh -c 'kill -SEGV $$'", true},  // the last command of a pipeline
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiedOfSignal(std::system(c.Command)), c.Crash) << c.Command;
  }
}

TEST(OtherProgram, OneCrashIsRunOnceMoreAndItsSecondOutputKept) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string mark = scratch.Path("started");
  // Crashes on its first start only.
  const std::string output =
      RunOtherProgram("if [ -e '" + mark + "' ]; then echo answer; else touch '" + mark + "'; kill -SEGV $$; fi");
  EXPECT_FALSE(testing::Test::IsSkipped());
  EXPECT_EQ(output, "answer\n");
}
