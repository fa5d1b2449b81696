// What the crash-safety tests of the game and book files share: work done in
// a child process that is killed at an instant drawn from a fixed seed.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>

class KilledChildTest : public ::testing::Test {
protected:
  // Runs work in a child and kills it after a drawn delay below
  // maxMicroseconds; true when the child had finished by itself.
  bool KillDuring(const std::function<void()>& work, int maxMicroseconds) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      work();
      _exit(0);
    }
    EXPECT_GT(child, 0);
    usleep(static_cast<useconds_t>(Random() % static_cast<unsigned>(maxMicroseconds)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status);
  }

  // Twice the time a child takes for work here and now, so that the kills
  // drawn fall before and after its end alike on a slow or busy machine.
  static int TwiceTheTimeOf(const std::function<void()>& work) {
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      work();
      _exit(0);
    }
    waitpid(child, nullptr, 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    return 2 * static_cast<int>(took.count()) + 1000;
  }

  std::mt19937 Random{20261210};
};
