// The abstract protocol front end: the one port through which the engine
// talks to its user or GUI. The search never writes protocol text itself; it
// calls these operations on ActiveFrontEnd. The console, UCI and xboard
// dialogues in frontend/ derive from it; the engine, the tablebases and the
// books know only this port, so that nothing below the dialogues reaches up.
#pragma once

#include "engine/game.h"
#include "engine/move.h"

// The version every dialogue reports to its user or GUI.
inline constexpr const char* EngineVersion = "3.43";

enum ProtocolKind : int { ProtocolConsole = 0, ProtocolXboard = 1, ProtocolUci = 2 };

enum FrontEndMode : int {
  ModeIdle = 0,
  ModeThinking = 1,        // on the engine's own move
  ModePondering = 2,
  ModeAnalysing = 3,
  ModeAfterAnalysis = 4,   // analysis interrupted by a command
  ModeBusy = 5,            // benchmark or test; dispatched like thinking
  ModePonderHit = 6,       // the time check turns it into thinking
};

// After this many searches in a row without a book move the books are no
// longer asked: the game has left them.
inline constexpr int BookMissLimit = 8;

class FrontEnd {
public:
  virtual ~FrontEnd() = default;

  virtual int Run() = 0;
  virtual void StartUp() = 0;
  virtual void Prompt() = 0;
  virtual void SearchStarted() = 0;
  virtual void SendCurrentMove(int depth, const Move* move, int moveNumber, int elapsedMs) = 0;
  virtual void SendStatus(int elapsedMs) = 0;
  // True: the caller prints the moves of the main thread's current line.
  virtual bool SendCurrentLine(int thread, int elapsedMs) = 0;
  // marker: '&' new best move, '+' fail high, '.' end of iteration.
  virtual bool SendPv(int depth, char marker, int elapsedMs, int score) = 0;
  virtual bool SendMultiPv(int line, int depth, int score) = 0;
  virtual bool SendRefutation(const Move* moves, int elapsedMs) = 0;
  virtual void SendWhisper() = 0;
  virtual bool GetPost() = 0;
  virtual void SetPost(bool post) = 0;
  virtual void Info(const char* text) = 0;
  virtual void Log(const char* text);  // log file only
  virtual int HandleCommand(const char* line) = 0;
  virtual int HandleCommandThinking(const char* line) = 0;
  virtual int HandleCommandPondering(const char* line) = 0;
  virtual int HandleCommandAnalysing(const char* line) = 0;
  virtual int HandleCommandAfterAnalysis(const char* line) = 0;
  virtual void SendBestMove() = 0;
  virtual void SendError(const char* context, const char* text) = 0;
  virtual void Quit() = 0;

  // Reads one pending line during a search and hands it to the handler of the
  // current mode; nonzero stops the search (end of input does too).
  int DispatchInput();
  // A game is over or a new one begins: what it taught goes to the books and
  // the learning file. Called by the dialogues only, and defined with them
  // (frontend/frontend.cpp), since it reaches the books.
  void LearnFromGame(ChessGame& game);

  ProtocolKind Kind = ProtocolConsole;
  FrontEndMode Mode = ModeIdle;
  int PendingReply = 0;
  int IcsFlag = 0;
  int EngineSide = 1;  // 0 white, 1 black, -1 none
  int BookMisses = 0;
  Move PonderMove = 0;
  ChessGame Game;
  unsigned char Flags[3] = {0, 0, 0};
};

// The current front end; null before start-up has made one.
extern FrontEnd* ActiveFrontEnd;
