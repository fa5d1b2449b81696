// The console front end: a person at a terminal plays against the engine,
// lets it ponder and analyse, sets options and runs the measuring tools.
// Its "uci" and "xboard" commands hand the dialogue over to a nested front
// end of that protocol for the rest of the run.
#pragma once

#include "engine/frontendport.h"

class ConsoleFrontEnd : public FrontEnd {
public:
  // Uses of the front end's three flag bytes.
  static constexpr int PonderAllowedFlag = 0;  // "hard" / "easy"
  static constexpr int ComputerMovedFlag = 1;  // cleared by every idle command
  static constexpr int PostFlag = 2;           // thinking output

  ConsoleFrontEnd();

  int Run() override;
  void StartUp() override;
  void Prompt() override;
  void SearchStarted() override;
  void SendCurrentMove(int depth, const Move* move, int moveNumber, int elapsedMs) override;
  void SendStatus(int) override {}
  bool SendCurrentLine(int, int) override { return false; }
  bool SendPv(int depth, char marker, int elapsedMs, int score) override;
  bool SendMultiPv(int, int, int) override { return false; }
  bool SendRefutation(const Move*, int) override { return false; }
  void SendWhisper() override {}
  bool GetPost() override { return Flags[PostFlag] != 0; }
  void SetPost(bool post) override { Flags[PostFlag] = post; }
  void Info(const char* text) override;
  int HandleCommand(const char* line) override;
  int HandleCommandThinking(const char* line) override;
  int HandleCommandPondering(const char* line) override;
  int HandleCommandAnalysing(const char* line) override;
  int HandleCommandAfterAnalysis(const char* line) override;
  void SendBestMove() override;
  void SendError(const char* context, const char* text) override;
  void Quit() override;

private:
  // One round of the main loop: pondering on the user's time.
  void Ponder();
  // The tablebase commands.
  void ProbeWdlCommand();
  void ProbeDtzCommand();
  void RootProbeCommand();
  void QuiescenceScore();
  void ListMoves();
  // "uci", "xboard": the nested front end runs until its "quit"; its result.
  int HandOver(FrontEnd* nested);
  // A word that is no command: a move of the game, or an error.
  void PlayUserMove(const char* word);
};
