// What the multi-threaded search tests share: a search front end whose
// records helpers may write to as well, and a fixture that searches on a
// given number of threads and leaves one behind.
#pragma once

#include <mutex>
#include <string>

#include "engine/smp.h"
#include "search_fixture.h"

// Helpers report too (the longest quiescence line, tablebase texts): the
// records of the search front end are guarded.
class SharedFrontEnd : public RecordingFrontEnd {
public:
  void Info(const char* text) override {
    std::lock_guard<std::mutex> guard(Mutex);
    RecordingFrontEnd::Info(text);
  }
  void Log(const char* text) override {
    std::lock_guard<std::mutex> guard(Mutex);
    RecordingFrontEnd::Log(text);
  }
  bool SaidSmpBug() {
    std::lock_guard<std::mutex> guard(Mutex);
    for (const std::string& text : Infos)
      if (text.find("Likely SMP") != std::string::npos) return true;
    return false;
  }
  std::mutex Mutex;
};

class SmpTest : public SearchTest {
protected:
  void SetUp() override {
    SearchTest::SetUp();
    Shared.Mode = ModeThinking;
    Shared.BookMisses = 8;
    ActiveFrontEnd = &Shared;
  }

  void TearDown() override {
    EXPECT_FALSE(SetNumberOfThreads(1));
    EXPECT_EQ(ThreadCount.load(), 1);
    SearchTest::TearDown();
  }

  void ThinkOnThreads(ChessGame& game, int threads, int depth) {
    Settings::Cpus = threads;
    ClockSettings::FixedDepth = depth;
    AllocateTime(game, AllocateOwnMove);
    Shared.Mode = ModeThinking;
    Think(game, nullptr);
    EXPECT_EQ(ThreadCount.load(), threads);
    EXPECT_FALSE(AnyWorkerRunning());  // every helper asleep once Think returns
  }

  // The search's own move and line: the best move heads the line, and the
  // whole line plays from the position.
  void ExpectLegalResult(const ChessGame& game) {
    ASSERT_NE(BestMove, 0u);
    ChessGame after = game;
    EXPECT_TRUE(after.PlayMove(BestMove)) << Text(game, BestMove);
    const MultiPvLine& line = MultiPvLines[0];
    ASSERT_GE(line.PvLength, 1);
    EXPECT_EQ(line.Pv[0], BestMove);
    EXPECT_EQ(PlayableMoves(game, line.Pv, line.PvLength), line.PvLength);
  }

  SharedFrontEnd Shared;
};
