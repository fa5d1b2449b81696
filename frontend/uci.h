// The UCI front end: parses the GUI's commands, writes the settings for
// "setoption", fills the clock for "go", runs the searches from its loop and
// turns the search's progress calls into "info" lines.
#pragma once

#include <deque>
#include <string>

#include "engine/frontendport.h"

// The text of a "bestmove" answer when the position has no legal move: the
// null move as UCI writes it, which every GUI accepts.
inline constexpr const char* UciNoMoveText = "0000";

class UciFrontEnd : public FrontEnd {
public:
  UciFrontEnd();

  int Run() override;
  void StartUp() override {}
  void Prompt() override {}
  void SearchStarted() override;
  void SendCurrentMove(int depth, const Move* move, int moveNumber, int elapsedMs) override;
  void SendStatus(int elapsedMs) override;
  bool SendCurrentLine(int thread, int elapsedMs) override;
  bool SendPv(int depth, char marker, int elapsedMs, int score) override;
  bool SendMultiPv(int line, int depth, int score) override;
  bool SendRefutation(const Move* move, int elapsedMs) override;
  void SendWhisper() override {}
  bool GetPost() override { return false; }
  void SetPost(bool) override {}
  void Info(const char* text) override;
  int HandleCommand(const char* line) override;
  int HandleCommandThinking(const char* line) override;
  int HandleCommandPondering(const char* line) override;
  int HandleCommandAnalysing(const char* line) override { return HandleCommandThinking(line); }
  int HandleCommandAfterAnalysis(const char*) override { return 0; }
  void SendBestMove() override;
  void SendError(const char* context, const char* text) override;
  void Quit() override {}

  // The greeting: "id" lines, the options with their current values, "uciok".
  void PrintGreeting();

  // "go movetime" in milliseconds (0: none). The clock of the time manager
  // counts a fixed time per move in whole seconds; the front end keeps the
  // GUI's milliseconds and gives them to the search itself.
  int MoveTimeMs = 0;

private:
  void SetOption(const char* line);
  // A "setoption" that comes during a search waits for its end: the search
  // reads the settings, and the hash table cannot change under it.
  void ApplyQueuedOptions();
  std::deque<std::string> QueuedOptions;
  void SetPosition(const char* line);
  void Go(const char* line);
  // Runs the search the current mode asks for and answers it.
  void Search();
  // A position without a legal move has nothing to search: the answer comes
  // at once, or after "stop" or "ponderhit" when the GUI expects to wait.
  void AnswerWithoutSearch();
};
