// The console in process: the engine's tables made as main makes them, a
// console front end as the active one, its standard output captured, and a
// session that feeds it lines through a pipe, each sent only once the text
// it answers has appeared, so that the console meets its input as a person
// would type it.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "engine/attacks.h"
#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/material.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "engine/zobrist.h"
#include "frontend/console.h"
#include "support/capture.h"
#include "support/input.h"

class ConsoleEnvironment : public testing::Environment {
public:
  void SetUp() override {
    InitZobristKeys();
    InitAttackTables();
    InitEval();
    MaterialTable::Build();
    InitDistanceTable();
    TranspositionTable::Allocate(16);
    ScaleEvalWeights();
    InitEval();
  }
};

// One step of a session: wait until expect has appeared in the output (after
// what the previous step waited for), then send the line. A line "@" sends
// instead the rest of the output line that expect began.
struct SessionStep {
  std::string Expect;
  std::string Send;
};

class ConsoleTest : public testing::Test {
protected:
  void SetUp() override {
    ResetSettings();
    ClockSettings::Reset();
    ClearStatistics();
    TranspositionTable::Clear();
    ASSERT_TRUE(Scratch.Ready());
    ActiveFrontEnd = &Console;
    // The searches poll the input: a quiet pipe stands for a user who types
    // nothing (the test's own standard input may be at its end, which stops
    // every search at once).
    ASSERT_EQ(pipe(QuietInput), 0);
    Input::Attach(QuietInput[0]);
  }
  void TearDown() override {
    ActiveFrontEnd = nullptr;
    Input::Attach(0);
    close(QuietInput[0]);
    close(QuietInput[1]);
    ResetSettings();
    ClockSettings::Reset();
  }

  // The standard output of the lines, each handled as an idle command.
  std::string Handle(std::initializer_list<std::string> lines) {
    StreamCapture capture(1, Scratch / "stdout");
    for (const std::string& line : lines) Console.HandleCommand((line + "\n").c_str());
    return capture.Finish();
  }

  // Runs the console's main loop on a script; the input ends after the last
  // step (or when an expected text does not come within the time-out).
  std::string Session(const std::vector<SessionStep>& steps, int timeoutMs = 60000) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "";
    Input::Attach(pipeEnds[0]);
    const std::string outputPath = Scratch / "session";
    StreamCapture capture(1, outputPath);
    std::thread typist([&] {
      std::size_t searchFrom = 0;
      std::string echo;
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      for (const SessionStep& step : steps) {
        while (!step.Expect.empty()) {
          const std::string output = ReadWholeFile(outputPath);
          const std::size_t found = output.find(step.Expect, searchFrom);
          const std::size_t after = found == std::string::npos ? found : found + step.Expect.size();
          const std::size_t lineEnd = after == std::string::npos ? after : output.find('\n', after);
          if (found != std::string::npos && (step.Send != "@" || lineEnd != std::string::npos)) {
            searchFrom = after;
            if (step.Send == "@") echo = output.substr(after, lineEnd - after);
            break;
          }
          if (std::chrono::steady_clock::now() > deadline) {
            TimedOut = true;
            close(pipeEnds[1]);
            return;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::string text = (step.Send == "@" ? echo : step.Send) + "\n";
        if (write(pipeEnds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) break;
      }
      close(pipeEnds[1]);
    });
    RunResult = Console.Run();
    typist.join();
    std::string output = capture.Finish();
    Input::Attach(QuietInput[0]);
    close(pipeEnds[0]);
    return output;
  }

  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(Scratch / name, std::ios::binary) << text;
  }

  TemporaryDirectory Scratch;
  int QuietInput[2] = {-1, -1};
  ConsoleFrontEnd Console;
  int RunResult = -1;
  std::atomic<bool> TimedOut{false};
};

// How often text occurs in output.
inline int CountOf(const std::string& output, const std::string& text) {
  int count = 0;
  for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + text.size()))
    ++count;
  return count;
}
