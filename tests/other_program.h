// Runs a program we did not write (an oracle or an opponent) through the
// shell and reads what it prints. Such a program can crash on its own, on any
// input: a crash is run once more, and a second one skips the test with a
// message, so that it never fails a test as if the fault were ours.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

// True when a shell's wait status says that its program died of a signal:
// the shell itself, or the last command of its pipeline (128 + the signal).
inline bool DiedOfSignal(int status) {
  if (status == -1) return false;
  if (WIFSIGNALED(status)) return true;
  return WIFEXITED(status) && WEXITSTATUS(status) > 128 && WEXITSTATUS(status) <= 128 + 64;
}

namespace other_program_detail {

inline void SkipAfterTwoCrashes(const std::string& command) {
  GTEST_SKIP() << "the opponent crashed twice, a fault of its own: " << command;
}

}  // namespace other_program_detail

// The whole standard output of a shell command that runs another program.
// After it, a test returns when testing::Test::IsSkipped(): the program
// crashed twice and its output is no verdict on ours.
inline std::string RunOtherProgram(const std::string& command) {
  for (int attempt = 0; attempt < 2; attempt++) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    if (!DiedOfSignal(pclose(pipe))) return output;
    std::printf("the opponent crashed: %s\n", command.c_str());
  }
  other_program_detail::SkipAfterTwoCrashes(command);
  return "";
}

// Use after a helper that runs another program: leaves the test when the
// program crashed twice.
#define RETURN_IF_OPPONENT_CRASHED() \
  if (testing::Test::IsSkipped()) return
