// The UCI dialogue. Everything the GUI reads goes through the printer on
// standard output (and into the log), one complete line per call, except the
// "readyok" of an idle engine, which is written straight out.
#include "frontend/uci.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "engine/driver.h"
#include "engine/evalweights.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/clockinput.h"
#include "frontend/startup.h"
#include "frontend/tokens.h"
#include "support/input.h"
#include "support/output.h"
#include "tablebase/probe.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w kqKQ -";
constexpr int MultiPvLines = 20;  // the lines the search keeps

bool Is(const char* token, const char* word) { return token && std::strcmp(token, word) == 0; }

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

// A text for an "info string" line: its own line end would leave an empty
// line in the GUI's input.
std::string OneLine(const char* text) {
  std::string line = text ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::uint64_t SearchedNodes() { return Statistics.InnerNodes() + Statistics.QNodes(); }
std::uint64_t TablebaseHits() { return Statistics.BitbaseHits() + Statistics.SyzygyHits(); }
int HashFull() { return TranspositionTable::HashFull(); }

// Nodes per second. The search reports from its first milliseconds on, so
// the time is taken as at least 100 ms, as the printed time is.
int NodesPerSecond(std::uint64_t nodes, int elapsedMs) {
  int hundreds = (elapsedMs < 100 ? 100 : elapsedMs) / 100;
  return static_cast<int>(nodes * 10 / static_cast<std::uint64_t>(hundreds));
}

bool IsMateScore(int score) { return score < -190000 || score > 190000; }
int MateDistance(int score) { return score > 0 ? (200001 - score) / 2 : (-200001 - score) / 2; }

// A search would have nothing to do: every move leaves the king attacked.
bool HasLegalMove(const ChessGame& game) {
  Position trial = game;
  for (int i = 0; i < game.Moves.Count; i++) {
    UndoRecord undo;
    if (trial.MakeMove(game.Moves.Moves[i], undo)) return true;
  }
  return false;
}

// The move of the game's list that the text names, or NoMove.
Move LookUpMove(ChessGame& game, const char* text) {
  int index = FindCoordinateMove(game.Moves, game, text);
  return index < 0 ? NoMove : game.Moves.Moves[index];
}

bool IsLegalIn(const ChessGame& game, Move move) {
  Position trial = game;
  for (int i = 0; i < game.Moves.Count; i++) {
    if (game.Moves.Moves[i] != move) continue;
    UndoRecord undo;
    return trial.MakeMove(move, undo);
  }
  return false;
}

}  // namespace

UciFrontEnd::UciFrontEnd() {
  Kind = ProtocolUci;
  EngineSide = -1;
  IcsFlag = Settings::IcsMode == 1;
}

void UciFrontEnd::PrintGreeting() {
  using namespace Settings;
  auto onOff = [](bool on) { return on ? "true" : "false"; };
  Printer.Print(ChannelStdout, true, "id name The Quelm %s ", EngineVersion);
  Printer.Print(ChannelStdout, true, sizeof(void*) == 4 ? "32-bits version\n" : "64-bits version\n");
  Printer.Print(ChannelStdout, true, "id author The Quelm developers\n");
  Printer.Print(ChannelStdout, true,
                "option name UCI_EngineAbout type string default The Quelm %s, a chess engine by The Quelm "
                "developers\n",
                EngineVersion);
  Printer.Print(ChannelStdout, true, "option name Hash type spin default %d min 1 max %d\n", MainHash, MaxHashMb);
  Printer.Print(ChannelStdout, true, "option name Ponder type check default true\n");
  Printer.Print(ChannelStdout, true, "option name Threads type spin default %d min 1 max %d\n", Cpus, 32);
  Printer.Print(ChannelStdout, true, "option name SplitDepth type spin default %d min 0 max 32\n", SplitDepth);
  Printer.Print(ChannelStdout, true, "option name PostOutput type spin default %d min 0 max 3\n", PostOutput);
  Printer.Print(ChannelStdout, true, "option name TimeUse type spin default %d min 1 max 200\n", TimeUse);
  Printer.Print(ChannelStdout, true, "option name EasyMove type check default %s\n", onOff(EasyMove));
  Printer.Print(ChannelStdout, true, "option name PruneSecure type spin default %d min 25 max 400\n", PruneSecure);
  Printer.Print(ChannelStdout, true, "option name PruneLevel type spin default %d min 0 max 8\n", PruneLevel);
  Printer.Print(ChannelStdout, true, "option name PrunePV type check default %s\n", onOff(PrunePv));
  Printer.Print(ChannelStdout, true, "option name MultiPV type spin min 1 max 20 default 1\n");
  Printer.Print(ChannelStdout, true, "option name UCI_ShowCurrLine type check default false\n");
  Printer.Print(ChannelStdout, true, "option name UCI_Chess960 type check default false\n");
  Printer.Print(ChannelStdout, true, "option name Clear Hash type button\n");
  Printer.Print(ChannelStdout, true, "option name Learning type check default %s\n", onOff(Learning));
  Printer.Print(ChannelStdout, true, "option name Nullmove type check default %s\n", onOff(DoNullMove));
  Printer.Print(ChannelStdout, true, "option name NullBase type spin default %d min 1 max 20\n", NullBase);
  Printer.Print(ChannelStdout, true, "option name NullProgress type spin default %d min 0 max 16\n", NullProgress);
  Printer.Print(ChannelStdout, true, "option name IID type check default %s\n", onOff(DoIid));
  Printer.Print(ChannelStdout, true, "option name Singular type check default %s\n", onOff(Singular));
  Printer.Print(ChannelStdout, true, "option name SingExtension type spin min 0 max 4 default %d\n", SingExtension);
  Printer.Print(ChannelStdout, true, "option name SingMargin type spin min 25 max 400 default %d\n", SingMargin);
  Printer.Print(ChannelStdout, true, "option name LMRPV type spin min 0 max 12 default %d\n", LmrPv);
  Printer.Print(ChannelStdout, true, "option name LMRExtraPV type spin min 0 max 12 default %d\n", LmrExtraPv);
  Printer.Print(ChannelStdout, true, "option name LMRScout type spin min 0 max 20 default %d\n", LmrScout);
  Printer.Print(ChannelStdout, true, "option name LMRExtraScout type spin min 0 max 12 default %d\n", LmrExtraScout);
  Printer.Print(ChannelStdout, true, "option name KingSafety type spin min 25 max 400 default %d\n", KingSafety);
  Printer.Print(ChannelStdout, true, "option name KingShield type spin min 25 max 400 default %d\n", KingShield);
  Printer.Print(ChannelStdout, true, "option name SyzygyPath type string default %s\n", SyzygyPath);
  Printer.Print(ChannelStdout, true, "option name SyzygyDepth type spin min 0 max %d default %d\n", 256, SzDepth);
  Printer.Print(ChannelStdout, true, "option name SyzygyQsearch type check default ");
  Printer.Print(ChannelStdout, true, SzQsearch ? "true\n" : "false\n");
  Printer.Print(ChannelStdout, true, "uciok\n");
}

int UciFrontEnd::Run() {
  // An interrupt meant for a GUI's whole process group must not end the
  // engine in mid-game; the dialogue ends with "quit" or the end of input.
  std::signal(SIGINT, SIG_IGN);
  PrintGreeting();
  for (;;) {
    switch (Mode) {
      case ModeThinking:
      case ModePondering:
      case ModeAnalysing:
        Search();
        break;
      default: {
        ApplyQueuedOptions();
        if (PendingReply) {
          Printer.Print(ChannelStdout, true, "readyok\n");
          PendingReply = 0;
        }
        const char* line = Input::ReadLine();
        if (!line) return 1;
        if (HandleCommand(line)) return 1;
      }
    }
  }
}

void UciFrontEnd::Search() {
  if (!HasLegalMove(Game)) {
    AnswerWithoutSearch();
    return;
  }
  Move ponderOn = NoMove;
  switch (Mode) {
    case ModeThinking:
      Info("The computer thinks about its move");
      AllocateTime(Game, AllocateOwnMove);
      if (MoveTimeMs > 0) TimeLimits::MinTime = TimeLimits::MaxTime = MoveTimeMs;
      Info(TimeManagementReport());
      break;
    case ModePondering:
      Info("The computer thinks about your move");
      Settings::Ponder = true;
      AllocateTime(Game, AllocatePonder);
      Info(TimeManagementReport());
      ponderOn = PonderMove;
      break;
    default:
      AllocateTime(Game, AllocateAnalyse);
      break;
  }
  Think(Game, &ponderOn);
  Mode = ModeIdle;
  SendBestMove();
}

void UciFrontEnd::AnswerWithoutSearch() {
  // While pondering or analysing a GUI waits for the engine to be told to
  // stop; an answer before that would be taken for the next search's.
  while (Mode == ModePondering || Mode == ModeAnalysing) {
    const char* line = Input::ReadLine();
    if (!line) break;
    int stop = Mode == ModePondering ? HandleCommandPondering(line) : HandleCommandAnalysing(line);
    if (stop) break;
  }
  BestMove = NoMove;
  ::PonderMove = NoMove;
  Mode = ModeIdle;
  SendBestMove();
}

void UciFrontEnd::SearchStarted() { Info("Starting search ..."); }

void UciFrontEnd::SendCurrentMove(int depth, const Move* move, int moveNumber, int elapsedMs) {
  if (elapsedMs < 100 || (Settings::PostOutput == 2 && elapsedMs < 2000)) return;
  std::uint64_t nodes = SearchedNodes();
  Printer.Print(ChannelStdout, true,
                "info hashfull %d depth %d seldepth %d currmovenumber %d currmove %s nodes %llu nps %d tbhits %llu\n",
                HashFull(), depth, static_cast<int>(GetMaxSelDepth()), moveNumber, MoveToText(Game, *move),
                static_cast<unsigned long long>(nodes), NodesPerSecond(nodes, elapsedMs),
                static_cast<unsigned long long>(TablebaseHits()));
}

void UciFrontEnd::SendStatus(int elapsedMs) {
  if (elapsedMs < 100) return;
  std::uint64_t nodes = SearchedNodes();
  Printer.Print(ChannelStdout, true, "info hashfull %d nodes %lld nps %d tbhits %lld \n", HashFull(),
                static_cast<long long>(nodes), NodesPerSecond(nodes, elapsedMs),
                static_cast<long long>(TablebaseHits()));
}

bool UciFrontEnd::SendCurrentLine(int thread, int elapsedMs) {
  if (elapsedMs < 100 || (Settings::PostOutput == 2 && elapsedMs < 2000) || !Flags[0]) return false;
  Printer.Print(ChannelStdout, true, "info currline %d", thread);
  return true;
}

bool UciFrontEnd::SendPv(int depth, char marker, int elapsedMs, int score) {
  if (Settings::PostOutput == 0) return false;
  int shownMs = elapsedMs < 100 ? 100 : elapsedMs;
  std::uint64_t nodes = SearchedNodes();
  int nps = NodesPerSecond(nodes, elapsedMs);
  unsigned long long tbhits = TablebaseHits();
  auto printMate = [&]() {
    Printer.Print(ChannelStdout, true,
                  "info depth %d score mate %d time %d nodes %lld nps %d hashfull %d tbhits %llu pv", depth,
                  MateDistance(score), elapsedMs, static_cast<long long>(nodes), nps, HashFull(), tbhits);
    return true;
  };
  if ((elapsedMs > 100 || marker == '.') && IsMateScore(score)) return printMate();
  if (elapsedMs > 100) {
    if (Settings::PostOutput == 2 && shownMs < 2000 && marker != '.') return false;
  } else if (Settings::PostOutput != 3 || depth < 3) {
    return false;
  }
  // A mate score in centipawns would read as a mere material edge.
  if (IsMateScore(score)) return printMate();
  Printer.Print(ChannelStdout, true,
                "info depth %d seldepth %d score cp %d time %d nodes %lld nps %d hashfull %d tbhits %llu pv", depth,
                static_cast<int>(GetMaxSelDepth()), score / 10, shownMs, static_cast<long long>(nodes), nps,
                HashFull(), tbhits);
  return true;
}

bool UciFrontEnd::SendMultiPv(int line, int depth, int score) {
  if (Settings::PostOutput == 0 || score < -199999) return false;
  if (score >= -199000 && score <= 199000)
    Printer.Print(ChannelStdout, true, "info multipv %d depth %d score cp %d pv", line + 1, depth, score / 10);
  else
    Printer.Print(ChannelStdout, true, "info multipv %d depth %d score mate %d pv", line + 1, depth,
                  MateDistance(score));
  return true;
}

bool UciFrontEnd::SendRefutation(const Move* move, int elapsedMs) {
  if (elapsedMs < 100 || (Settings::PostOutput == 2 && elapsedMs < 2000) || !Flags[1]) return false;
  Printer.Print(ChannelStdout, true, "info refutation %s", MoveToText(Game, *move));
  return true;
}

void UciFrontEnd::Info(const char* text) {
  Printer.Print(ChannelStdout, true, "info string %s\n", OneLine(text).c_str());
}

void UciFrontEnd::SendError(const char* context, const char* text) {
  Printer.Print(ChannelStdout, true, "info string Error (%s): %s\n", context, OneLine(text).c_str());
}

void UciFrontEnd::SendBestMove() {
  Mode = ModeIdle;
  FrontEnd::PonderMove = NoMove;
  if (BestMove == NoMove) {
    SendError("go", "No legal moves found after search");
    // A GUI waits for "bestmove" after every "go"; the null move tells it
    // that there was nothing to play.
    Printer.Print(ChannelStdout, true, "bestmove %s\n", UciNoMoveText);
    return;
  }
  char best[32];
  std::snprintf(best, sizeof best, "bestmove %s", MoveToText(Game, BestMove));
  Game.PlayMove(BestMove);
  char ponder[32] = "";
  // The reply is announced only when it can be played after the best move.
  if (::PonderMove != NoMove && IsLegalIn(Game, ::PonderMove)) {
    FrontEnd::PonderMove = ::PonderMove;
    std::snprintf(ponder, sizeof ponder, " ponder %s", MoveToText(Game, ::PonderMove));
  }
  Printer.Print(ChannelStdout, true, "%s%s\n", best, ponder);
  // The result is kept for the books; a UCI GUI judges the game itself and
  // reads no result line.
  GameResult result;
  Game.CheckGameEnd(result);
}

int UciFrontEnd::HandleCommand(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command) return 0;
  if (Is(command, "quit")) {
    Quit();
    return 1;
  }
  if (Is(command, "isready")) {
    std::fputs("readyok\n", stdout);
    std::fflush(stdout);
  } else if (Is(command, "setoption")) {
    SetOption(line);
  } else if (Is(command, "ucinewgame")) {
    LearnFromGame(Game);
    Game.SetStartPosition();
    Settings::Ponder = false;
    // A GUI plays a whole tournament in one process: each game asks the
    // books afresh, as "new" does in the other dialogues.
    BookMisses = 0;
  } else if (Is(command, "position")) {
    SetPosition(line);
  } else if (Is(command, "go")) {
    Go(line);
  }
  return 0;
}

void UciFrontEnd::ApplyQueuedOptions() {
  while (!QueuedOptions.empty()) {
    const std::string line = QueuedOptions.front();
    QueuedOptions.pop_front();
    SetOption(line.c_str());
  }
}

int UciFrontEnd::HandleCommandThinking(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (Is(command, "setoption")) {
    QueuedOptions.emplace_back(line);
    return 0;
  }
  if (Is(command, "quit")) {
    Input::ReprocessLastLine = true;
    return 1;
  }
  if (Is(command, "isready")) Printer.Print(ChannelStdout, true, "readyok\n");
  return Is(command, "stop") ? 1 : 0;
}

int UciFrontEnd::HandleCommandPondering(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command || Is(command, "debug")) return 0;
  if (Is(command, "setoption")) {
    QueuedOptions.emplace_back(line);
    return 0;
  }
  if (Is(command, "quit")) {
    Input::ReprocessLastLine = true;
    return 1;
  }
  if (Is(command, "stop")) return 1;
  if (Is(command, "ponderhit")) {
    AllocateTime(Game, AllocatePonderHit);
    Info(TimeManagementReport());
    Mode = ModePonderHit;
    return 0;
  }
  if (Is(command, "isready")) {
    Printer.Print(ChannelStdout, true, "readyok\n");
    return 0;
  }
  Printer.Print(ChannelStdout, true, "info string Unknown command received: %s\n", command);
  return 0;
}

void UciFrontEnd::SetPosition(const char* line) {
  Tokens tokens(line);
  tokens.Next();  // "position"
  const char* token = tokens.Next();
  if (!token) {
    SendError("position", "Missing Parameter");
    return;
  }
  if (Is(token, "startpos")) {
    Game.SetFEN(StartFen);
    token = tokens.Next();
    if (!token) return;
  } else if (Is(token, "fen")) {
    std::string fen;
    for (int field = 0; field < 6; field++) {
      token = tokens.Next();
      if (!token) {
        if (field < 2) {
          SendError("position", "Missing Parameter");
          return;
        }
        break;
      }
      if (field >= 2 && Is(token, "moves")) break;
      if (field > 0) fen += ' ';
      fen += token;
      if (field == 5) token = tokens.Next();
    }
    if (Game.SetFEN(fen.c_str())) {
      // The board stays as it was; moves meant for the refused position
      // would only be played on the wrong one.
      SendError("position", Game.Message);
      return;
    }
    if (!token) return;
  }
  if (!Is(token, "moves")) SendError("position", "Expected token moves");
  token = tokens.Next();
  if (!token) {
    SendError("moves", "Missing Parameter");
    return;
  }
  for (; token && IsMoveText(token); token = tokens.Next()) {
    Move move = LookUpMove(Game, token);
    if (move == NoMove || !Game.PlayMove(move)) {
      char text[64];
      std::snprintf(text, sizeof text, "Move not found: %.16s %d\n", token, Game.ChessVariant);
      SendError("moves", text);
      // The moves after it were meant for another position than the one on
      // the board; playing them would leave a board the GUI never had.
      return;
    }
  }
}

void UciFrontEnd::Go(const char* line) {
  Tokens tokens(line);
  tokens.Next();  // "go"
  Mode = ModeThinking;
  MoveTimeMs = 0;
  ClockSettings::TimeLeftMs = 1;
  ClockSettings::OpponentTimeMs = 1;
  ClockSettings::MovesToGoReceived = 0;
  int ownTime = 0, increment = 0, movesToGo = 0, depth = 0;
  bool ponder = false;
  const bool whiteToMove = Game.Side == 0;
  for (const char* token = tokens.Next(); token; token = tokens.Next()) {
    if (Is(token, "searchmoves")) {
      for (token = tokens.Next(); token && IsMoveText(token); token = tokens.Next()) {
        if (!ponder) continue;
        // A GUI that names its expected reply here wants it pondered on.
        Move move = LookUpMove(Game, token);
        if (move == NoMove || !Game.PlayMove(move))
          Info("Illegal pondermove specified\n");
        else
          FrontEnd::PonderMove = move;
        break;
      }
      break;
    }
    if (Is(token, "ponder")) {
      Mode = ModePondering;
      ponder = true;
      FrontEnd::PonderMove = Game.LastMove();
      continue;
    }
    if (Is(token, "infinite")) {
      Mode = ModeAnalysing;
      continue;
    }
    static constexpr const char* ValueKeywords[] = {"wtime", "btime", "winc", "binc", "movestogo",
                                                    "depth", "nodes", "mate", "movetime"};
    bool needsValue = false;
    for (const char* keyword : ValueKeywords) needsValue |= Is(token, keyword);
    if (!needsValue) continue;
    std::string keyword = token;
    const char* valueText = tokens.Next();
    if (!valueText) {
      SendError("go", "Missing Parameter");
      return;
    }
    int value = std::atoi(valueText);
    if (keyword == "wtime" || keyword == "btime") {
      if ((keyword == "wtime") == whiteToMove) {
        ownTime = value;
        ClockSettings::TimeLeftMs = value;
      } else {
        ClockSettings::OpponentTimeMs = value;
      }
    } else if (keyword == "winc" || keyword == "binc") {
      if ((keyword == "winc") == whiteToMove) increment = value;
    } else if (keyword == "movestogo") {
      // Added to the moves played below: a hostile count must not overflow.
      movesToGo = ClockInput::MovesPerControl(ClockInput::Number(valueText));
      ClockSettings::MovesToGoReceived = value;
    } else if (keyword == "depth") {
      depth = value;
    } else if (keyword == "movetime") {
      ClockSettings::MovesToGo = -1;
      ClockSettings::BaseSeconds = value / 1000;
      ClockSettings::IncrementMs = 0;
      ClockSettings::FixedDepth = 0;
      ClockSettings::Unused = 0;
      MoveTimeMs = value > 0 ? value : 1;
      return;
    }
  }
  ClockSettings::MovesToGo = movesToGo != 0 ? Game.GamePly / 2 + movesToGo : 0;
  ClockSettings::BaseSeconds = ownTime / 1000;
  // GUIs give the increment in milliseconds, and a fraction of a second is
  // common (10 s + 0.1 s): rounded down to whole seconds the time plan would
  // ignore it, as it does when it is truly none.
  ClockSettings::IncrementMs = increment;
  ClockSettings::FixedDepth = depth;
  ClockSettings::Unused = 0;
}

namespace {

// What a "setoption" value does: value is the decimal reading of the value
// word, check whether it was exactly "true". Names compare without case.
struct UciOptionEffect {
  const char* Name;
  void (*Apply)(UciFrontEnd& uci, int value, bool check);
};

// SyzygyPath, Clear Hash and UCI_ShowRefutations have forms of their own.
const UciOptionEffect UciOptionEffects[] = {
    {"Hash",
     [](UciFrontEnd&, int value, bool) {
       Settings::MainHash = Clamp(value, 1, Settings::MaxHashMb);
       TranspositionTable::Allocate(Settings::MainHash);
     }},
    {"Ponder", [](UciFrontEnd&, int, bool check) { Settings::Ponder = check; }},
    {"Learning", [](UciFrontEnd&, int, bool check) { Settings::Learning = check; }},
    {"Nullmove", [](UciFrontEnd&, int, bool check) { Settings::DoNullMove = check; }},
    {"NullBase",
     [](UciFrontEnd&, int value, bool) {
       Settings::NullBase = value < 1 ? 0 : std::min(value, Settings::MaxNullBase);
     }},
    {"NullProgress", [](UciFrontEnd&, int value, bool) { Settings::NullProgress = Clamp(value, 0, 16); }},
    {"PruneSecure",
     [](UciFrontEnd&, int value, bool) {
       Settings::PruneSecure = Clamp(value, 25, 400);
       ScaleEvalWeights();
     }},
    {"PruneLevel", [](UciFrontEnd&, int value, bool) { Settings::PruneLevel = Clamp(value, 0, 8); }},
    {"IID", [](UciFrontEnd&, int, bool check) { Settings::DoIid = check; }},
    {"Singular", [](UciFrontEnd&, int, bool check) { Settings::Singular = check; }},
    {"SingExtension", [](UciFrontEnd&, int value, bool) { Settings::SingExtension = Clamp(value, 0, 4); }},
    {"SingMargin", [](UciFrontEnd&, int value, bool) { Settings::SingMargin = Clamp(value, 25, 400); }},
    {"LMRPV", [](UciFrontEnd&, int value, bool) { Settings::LmrPv = Clamp(value, 0, Settings::MaxLmrPv); }},
    {"LMRExtraPV",
     [](UciFrontEnd&, int value, bool) { Settings::LmrExtraPv = Clamp(value, 0, Settings::MaxLmrExtraPv); }},
    {"LMRScout", [](UciFrontEnd&, int value, bool) { Settings::LmrScout = Clamp(value, 0, Settings::MaxLmrScout); }},
    {"LMRExtraScout",
     [](UciFrontEnd&, int value, bool) { Settings::LmrExtraScout = Clamp(value, 0, Settings::MaxLmrExtraScout); }},
    // The search keeps 20 lines; a count beyond them would run off its table.
    {"MultiPV", [](UciFrontEnd&, int value, bool) { Settings::MultiPv = Clamp(value, 1, MultiPvLines); }},
    {"Threads",
     [](UciFrontEnd&, int value, bool) {
       Settings::Cpus = Clamp(value, 1, 32);
       ApplyThreadSetting();
     }},
    {"SplitDepth", [](UciFrontEnd&, int value, bool) { Settings::SplitDepth = Clamp(value, 0, 32); }},
    {"PostOutput",
     [](UciFrontEnd&, int value, bool) { Settings::PostOutput = value < 0 ? 0 : value > 3 ? 1 : value; }},
    {"TimeUse", [](UciFrontEnd&, int value, bool) { Settings::TimeUse = Clamp(value, 1, 200); }},
    {"EasyMove", [](UciFrontEnd&, int, bool check) { Settings::EasyMove = check; }},
    {"KingSafety", [](UciFrontEnd&, int value, bool) { Settings::KingSafety = Clamp(value, 25, 400); }},
    {"KingShield", [](UciFrontEnd&, int value, bool) { Settings::KingShield = Clamp(value, 25, 400); }},
    {"SyzygyDepth", [](UciFrontEnd&, int value, bool) { Settings::SzDepth = Clamp(value, -1, 256); }},
    {"SyzygyQsearch", [](UciFrontEnd&, int, bool check) { Settings::SzQsearch = check; }},
    {"UCI_ShowCurrLine", [](UciFrontEnd& uci, int, bool check) { uci.Flags[0] = check; }},
    {"UCI_Chess960",
     [](UciFrontEnd& uci, int, bool check) {
       Settings::DefaultVariant = check ? 1 : 0;
       uci.Game.SetVariant(Settings::DefaultVariant);
     }},
};

}  // namespace

void UciFrontEnd::SetOption(const char* line) {
  if (!Settings::UciOption) return;
  Tokens tokens(line);
  tokens.Next();  // "setoption"
  const char* token = tokens.Next();
  if (!token) {
    SendError("setoption", "Missing Parameter");
    return;
  }
  if (!Is(token, "name")) return;
  token = tokens.Next();
  if (!token) {
    SendError("setoption", "Missing Parameter");
    return;
  }
  const std::string name = token;
  auto named = [&name](const char* option) { return strcasecmp(name.c_str(), option) == 0; };

  if (named("Clear")) {
    token = tokens.Next();
    if (token && strcasecmp(token, "Hash") == 0) TranspositionTable::Clear();
    return;
  }
  const UciOptionEffect* effect = nullptr;
  for (const UciOptionEffect& option : UciOptionEffects)
    if (named(option.Name)) effect = &option;
  if (!effect && !named("SyzygyPath")) return;

  token = tokens.Next();
  if (!token) {
    SendError("setoption", "Missing Parameter");
    return;
  }
  bool valueWord = named("Ponder") ? strcasecmp(token, "value") == 0 : Is(token, "value");
  if (!valueWord) {
    if (named("UCI_Chess960")) Printer.Print(ChannelStderr, true, "Expected 'value' - %s\n", token);
    return;
  }
  if (!effect) {
    // SyzygyPath: the rest of the line, blanks and all.
    const char* rest = tokens.RestOfLine();
    std::size_t length = std::strcspn(rest, "\r\n");
    if (length >= sizeof Settings::SyzygyPath) length = sizeof Settings::SyzygyPath - 1;
    if (length == 0) {
      SendError("setoption", "Missing Parameter");
      return;
    }
    std::memcpy(Settings::SyzygyPath, rest, length);
    Settings::SyzygyPath[length] = '\0';
    // A GUI names the tables only through this option: they are looked up
    // again at once (between searches), not just at the next start.
    if (SyzygyEnabled) InitTablebases(Settings::SyzygyPath);
    return;
  }
  const char* valueText = tokens.Next();
  if (!valueText) {
    SendError("setoption", "Missing Parameter");
    return;
  }
  // Read saturating, so that a number beyond int clamps to the top of its
  // range instead of wrapping to some other value.
  const long long value = std::strtoll(valueText, nullptr, 10);
  effect->Apply(*this, static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX)), Is(valueText, "true"));
}
