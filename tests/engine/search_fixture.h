// What the search tests share: the engine tables a search needs, a front end
// that records what the search tells it (and answers "stop" to scripted
// input), and helpers to run a fixed-depth search on a FEN.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/material.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "support/input.h"

// Records the search's output; "stop" (and "quit") lines stop a search.
class RecordingFrontEnd : public FrontEnd {
public:
  int Run() override { return 0; }
  void StartUp() override {}
  void Prompt() override {}
  void SearchStarted() override { ++Started; }
  void SendCurrentMove(int, const Move*, int, int) override {}
  void SendStatus(int) override {}
  bool SendCurrentLine(int, int) override { return false; }
  bool SendPv(int depth, char marker, int, int score) override {
    Pvs.push_back({depth, marker, score});
    return false;
  }
  bool SendMultiPv(int line, int, int) override {
    MultiPvLinesSent.push_back(line);
    return false;
  }
  bool SendRefutation(const Move*, int) override { return false; }
  void SendWhisper() override {}
  bool GetPost() override { return false; }
  void SetPost(bool) override {}
  void Info(const char* text) override { Infos.emplace_back(text); }
  void Log(const char* text) override { Logs.emplace_back(text); }
  int HandleCommand(const char*) override { return 0; }
  int HandleCommandThinking(const char* line) override { return Handle(line); }
  int HandleCommandPondering(const char* line) override { return Handle(line); }
  int HandleCommandAnalysing(const char* line) override { return Handle(line); }
  int HandleCommandAfterAnalysis(const char*) override { return 0; }
  void SendBestMove() override {}
  void SendError(const char*, const char*) override {}
  void Quit() override {}

  int Handle(const char* line) {
    Lines.emplace_back(line);
    const std::string text(line);
    return text.rfind("stop", 0) == 0 || text.rfind("quit", 0) == 0 ? 1 : 0;
  }

  struct PvCall {
    int Depth;
    char Marker;
    int Score;
  };
  int Started = 0;
  std::vector<PvCall> Pvs;
  std::vector<int> MultiPvLinesSent;
  std::vector<std::string> Infos;
  std::vector<std::string> Logs;
  std::vector<std::string> Lines;
};

// Engine tables once per program, a fresh table, settings, statistics and
// front end per test.
class SearchTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static bool ready = false;
    if (ready) return;
    MaterialTable::Build();
    InitEval();
    ready = true;
  }

  void SetUp() override {
    ResetSettings();
    ScaleEvalWeights();
    TranspositionTable::Allocate(16);
    TranspositionTable::Clear();
    ClockSettings::Reset();
    Saved = ActiveFrontEnd;
    FrontEnd.Mode = ModeThinking;
    FrontEnd.BookMisses = 8;  // no book lookups unless a test wants them
    ActiveFrontEnd = &FrontEnd;
    // The search polls its input: give it a quiet pipe, whatever standard
    // input the test program was started with.
    ASSERT_EQ(pipe(InputPipe), 0);
    Input::Attach(InputPipe[0]);
  }

  void TearDown() override {
    ActiveFrontEnd = Saved;
    StopSearch.store(false);
    Input::Attach(0);
    close(InputPipe[1]);
    close(InputPipe[0]);
  }

  // Input for the running search, as a GUI would send it.
  void SendInput(const char* line) {
    const auto length = static_cast<ssize_t>(std::strlen(line));
    ASSERT_EQ(write(InputPipe[1], line, length), length);
  }

  // A fixed-depth search of the side to move's own move.
  void ThinkToDepth(ChessGame& game, int depth) {
    ClockSettings::FixedDepth = depth;
    AllocateTime(game, AllocateOwnMove);
    FrontEnd.Mode = ModeThinking;
    Think(game, nullptr);
  }

  static ChessGame FromFen(const char* fen) {
    ChessGame game;
    EXPECT_FALSE(game.SetFEN(fen)) << fen;
    return game;
  }

  // The move of the game's list that the coordinate text names.
  static Move FindMove(ChessGame& game, const char* text) {
    const int index = FindCoordinateMove(game.Moves, game, text);
    return index < 0 ? 0 : game.Moves.Moves[index];
  }

  static std::string Text(const Position& pos, Move move) { return MoveToText(pos, move); }

  // Plays moves in order on a copy; how many were legal there.
  static int PlayableMoves(const ChessGame& game, const Move* moves, int count) {
    ChessGame copy = game;
    for (int i = 0; i < count; ++i)
      if (!copy.PlayMove(moves[i])) return i;
    return count;
  }

  RecordingFrontEnd FrontEnd;
  ::FrontEnd* Saved = nullptr;
  int InputPipe[2] = {-1, -1};
};
