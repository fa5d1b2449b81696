// The xboard front end: keeps the game itself, thinks whenever the engine is
// to move, ponders on the reply it expects, analyses on request and writes
// the chess-server whispers and kibitzes of ICS mode.
#pragma once

#include <deque>
#include <string>

#include "engine/frontendport.h"
#include "engine/position.h"

class XboardFrontEnd : public FrontEnd {
public:
  XboardFrontEnd();

  int Run() override;
  void StartUp() override;
  void Prompt() override {}
  void SearchStarted() override {}
  void SendCurrentMove(int, const Move*, int, int) override {}
  void SendStatus(int) override {}
  bool SendCurrentLine(int, int) override { return false; }
  bool SendPv(int depth, char marker, int elapsedMs, int score) override;
  bool SendMultiPv(int, int, int) override { return false; }
  bool SendRefutation(const Move*, int) override { return false; }
  void SendWhisper() override;
  bool GetPost() override { return Flags[1] != 0; }
  void SetPost(bool post) override { Flags[1] = post ? 1 : 0; }
  void Info(const char* text) override;
  int HandleCommand(const char* line) override;
  int HandleCommandThinking(const char* line) override;
  int HandleCommandPondering(const char* line) override;
  int HandleCommandAnalysing(const char* line) override;
  int HandleCommandAfterAnalysis(const char* line) override;
  void SendBestMove() override;
  void SendError(const char* context, const char* text) override;
  void Quit() override {}

  // Plays the expected reply before pondering, remembering the board before
  // it; false (and flag byte 0 cleared) when the game refuses it.
  bool PlayPonderMove();

  // Lines that came during a search and wait for the idle handler, oldest
  // first: a GUI's command is carried out late rather than lost.
  std::deque<std::string> Deferred;

private:
  // One turn of the main loop's work; each returns when its search is over.
  void ThinkOnOwnMove();
  void PonderOnOpponentsTime();
  void Analyse();
  // The search on the engine's own move is over: its move goes out unless a
  // command discarded it, then the answer to a "ping" that came meanwhile.
  void AnswerOwnSearch();
  // A "ping" during a search is answered only after the search's output, so
  // the GUI knows that output belongs to the position it pinged in.
  void AnswerPendingPing();
  // Reads one line and hands it to the handler of the current mode; false
  // at the end of input or when the line ends the dialogue.
  bool ReadAndHandle();
  // A deferred line, handled as when it had arrived now; nonzero ends Run.
  int HandleDeferred(const std::string& line);

  void PlayUserMove(const char* token, bool fromAnalysis);
  void SetSideToMove(int side);
  void GiveHint();
  void PrintFeatures();
  // The command stops the running search and goes to the idle handler.
  int StopForCommand();

  // Set by a command that ends the search without wanting its move: "force",
  // "new", "result" and "quit" while the engine thinks on its own move.
  bool DiscardResult = false;
  // A short search for "hint": it prints no thinking lines.
  bool HintSearch = false;
  // The board before the ponder move, on which the opponent's move text is
  // read (castling words name the side to move).
  Position BeforePonder;
};
