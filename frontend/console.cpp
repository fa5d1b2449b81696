// The console dialogue: prompt, board and move texts for a person, with the
// engine playing the side it is given, pondering on the user's time when
// allowed, analysing on request, and the console's test commands.
#include "frontend/console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "books/booklist.h"
#include "engine/attacks.h"
#include "engine/driver.h"
#include "engine/eval.h"
#include "engine/game.h"
#include "engine/movegen.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/search.h"
#include "engine/searchstate.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/bench.h"
#include "frontend/clockinput.h"
#include "frontend/inifile.h"
#include "frontend/learncommands.h"
#include "frontend/uci.h"
#include "frontend/xboard.h"
#include "support/clock.h"
#include "support/input.h"
#include "support/output.h"
#include "tablebase/probe.h"

namespace {

constexpr const char* EngineDate = "July 18th 2018";
constexpr const char* EvaluationVersion = "evalparam.20180601163024";

// The words of a command line as the console splits them: the command word
// at blanks, tabs and line ends, argument words also at '\r', and arguments
// that take the rest of the line (a FEN, a move, a result text) only at the
// line end.
class CommandWords {
public:
  explicit CommandWords(const char* line) : Text(line ? line : "") {}

  const char* Command() { return strtok_r(Text.data(), " \t\n", &State); }
  const char* Word() { return strtok_r(nullptr, " \t\n\r", &State); }
  // Null when nothing but blanks is left.
  const char* Rest() {
    char* rest = strtok_r(nullptr, "\n", &State);
    if (!rest) return nullptr;
    while (*rest == ' ' || *rest == '\t') ++rest;
    std::size_t length = std::strlen(rest);
    while (length > 0 && (rest[length - 1] == ' ' || rest[length - 1] == '\t' || rest[length - 1] == '\r'))
      rest[--length] = '\0';
    return *rest ? rest : nullptr;
  }

private:
  std::string Text;
  char* State = nullptr;
};

bool Is(const char* word, const char* name) { return word && std::strcmp(word, name) == 0; }

// The word a setting switch reads: anything but "off" turns it on.
bool SwitchedOn(const char* word) { return std::strcmp(word, "off") != 0; }

// The first word of a line, for the in-search handlers.
std::string FirstWord(const char* line) {
  CommandWords words(line);
  const char* word = words.Command();
  return word ? word : "";
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd() {
  Kind = ProtocolConsole;
  EngineSide = 1;
  IcsFlag = Settings::IcsMode == 1;
  Game.SetStartPosition();
}

void ConsoleFrontEnd::StartUp() {
  Printer.Print(ChannelStdout, true, "\n");
  Printer.Print(ChannelStdout, true, "The Quelm\n");
  Printer.Print(ChannelStdout, true, "version %s, %s\n", EngineVersion, EngineDate);
  Printer.Print(ChannelStdout, true, sizeof(void*) == 4 ? "32-bits version\n" : "64-bits version\n");
  Printer.Print(ChannelStdout, true, "\n");
  Printer.Print(ChannelStdout, true, "Evaluation Version: %s\n\n", EvaluationVersion);
  Printer.Print(ChannelStdout, true, "Syzygy bases enabled\n");
  Printer.Print(ChannelStdout, true, "\n");
}

void ConsoleFrontEnd::Prompt() {
  Printer.Print(ChannelStdout, false, "%s[%d]> ", Game.Side == White ? "W" : "B", Game.GamePly / 2 + 1);
}

void ConsoleFrontEnd::SearchStarted() {
  if (GetPost()) Info("ply   score   time           nodes pv");
}

void ConsoleFrontEnd::SendCurrentMove(int depth, const Move* move, int moveNumber, int elapsedMs) {
  if (!GetPost() || Settings::PostOutput == 0 || elapsedMs < 100) return;
  if (Settings::PostOutput == 2 && elapsedMs < 2000) return;
  Printer.Print(ChannelStdout, false, "%2d(%d) %d ms -> %s     \r", depth, moveNumber, elapsedMs,
                MoveToText(Game, *move));
}

bool ConsoleFrontEnd::SendPv(int depth, char marker, int elapsedMs, int score) {
  if (!GetPost() || Settings::PostOutput == 0) return false;
  if (Settings::PostOutput != 3 || depth < 3) {
    const bool finalMate = marker == '.' && (score > MateBound || score < -MateBound);
    if (elapsedMs < 100 && !finalMate) return false;
    if (Settings::PostOutput == 2 && elapsedMs < 2000) return false;
  }
  const long long nodes = static_cast<long long>(Statistics.InnerNodes() + Statistics.QNodes()) +
                          static_cast<long long>(static_cast<std::uint32_t>(Statistics.NullMoves()));
  Printer.Print(ChannelStdout, true, "%2d(%d)%c %7.3f %3d:%02d.%02d  %11lld", depth, GetMaxSelDepth(), marker,
                score / 1000.0, elapsedMs / 60000, elapsedMs / 1000 % 60, elapsedMs % 1000 / 10, nodes);
  return true;
}

void ConsoleFrontEnd::Info(const char* text) { Printer.Print(ChannelStdout, true, "%s\n", text); }

void ConsoleFrontEnd::SendError(const char* context, const char* text) {
  Printer.Print(ChannelStdout, true, "ERROR - %s: %s\n", context, text);
}

void ConsoleFrontEnd::Quit() { Printer.Print(ChannelStdout, true, "Goodbye...\n"); }

int ConsoleFrontEnd::Run() {
  SetPost(false);
  Printer.Print(ChannelStdout, true, "\n");
  for (;;) {
    // Between searches only idle, analysing and after-analysis are real
    // modes; any other is the leftover of a search that did not set it back,
    // and its handler would refuse every command.
    if (Mode != ModeIdle && Mode != ModeAnalysing && Mode != ModeAfterAnalysis) Mode = ModeIdle;
    if (Input::IsAvailable()) {
      if (Mode == ModeAnalysing) {
        // The analysis handler answers 1 to leave a search and have the line
        // read again: between searches that is no end of the dialogue.
        const char* line = Input::ReadLine();
        if (!line) break;
        HandleCommandAnalysing(line);
        continue;
      }
      if (DispatchInput()) break;
      continue;
    }
    if (Game.Side == EngineSide) {
      Mode = ModeThinking;
      AllocateTime(Game, AllocateOwnMove);
      Info(TimeManagementReport());
      Think(Game, nullptr);
      Flags[ComputerMovedFlag] = 1;
      SendBestMove();
      continue;
    }
    if (Game.Side == 1 - EngineSide && Flags[PonderAllowedFlag] && Flags[ComputerMovedFlag]) {
      Ponder();
      continue;
    }
    if (Mode == ModeAfterAnalysis) {
      const char* line = Input::ReadLine();
      if (!line || HandleCommandAfterAnalysis(line)) break;
      continue;
    }
    if (Mode == ModeAnalysing) {
      AllocateTime(Game, AllocateAnalyse);
      Think(Game, nullptr);
      continue;
    }
    if (!Input::IsAvailable()) Prompt();
    const char* line = Input::ReadLine();
    if (!line || HandleCommand(line)) break;
  }
  return 0;
}

void ConsoleFrontEnd::Ponder() {
  const Move ponderMove = FrontEnd::PonderMove;
  if (ponderMove != NoMove) {
    Printer.Print(ChannelStdout, true, "Pondermove: %s\n", MoveToText(Game, ponderMove));
    if (!Game.PlayMove(ponderMove)) {
      Flags[ComputerMovedFlag] = 0;
      return;
    }
  }
  if (!GetPost()) Prompt();
  AllocateTime(Game, AllocatePonder);
  Info(TimeManagementReport());
  Mode = ModePondering;
  Think(Game, &ponderMove);
  switch (Mode) {
    case ModeIdle:
      if (ponderMove != NoMove) Game.TakeBack();
      break;
    case ModeThinking:
    case ModePonderHit:  // a hit that came after the last iteration: the search is the engine's own
      SendBestMove();
      break;
    default:
      SendError("internal", "Wrong mode after pondering");
      Mode = ModeIdle;
      if (ponderMove != NoMove) Game.TakeBack();
      // Another ponder search would end the same way: wait for the user.
      Flags[ComputerMovedFlag] = 0;
      break;
  }
}

void ConsoleFrontEnd::SendBestMove() {
  Mode = ModeIdle;
  FrontEnd::PonderMove = NoMove;
  if (BestMove == NoMove) {
    SendError("go", "No legal moves found after search");
    EngineSide = -1;
    return;
  }
  FrontEnd::PonderMove = ::PonderMove;
  if (Settings::PostOutput != 0)
    Printer.Print(ChannelStdout, true, "Nullmoves: %u\n", static_cast<unsigned>(Statistics.NullMoves()));
  Printer.Print(ChannelStdout, true, "Computer's move: %s\n", MoveToText(Game, BestMove));
  if (!Game.PlayMove(BestMove)) {
    // The engine would search the same position again and again.
    SendError("go", "The move found cannot be played");
    EngineSide = -1;
    FrontEnd::PonderMove = NoMove;
    return;
  }
  const std::int32_t elapsed = SearchClock.Elapsed();
  ClockSettings::TimeLeftMs += static_cast<std::int32_t>(TimeLimits::Start - elapsed);
  SearchClock.LastElapsed = elapsed;
  Game.Print();
  GameResult result;
  if (Game.CheckGameEnd(result)) ChessGame::PrintResult(result);
}

int ConsoleFrontEnd::HandleCommand(const char* line) {
  CommandWords words(line);
  const char* command = words.Command();
  Flags[ComputerMovedFlag] = 0;
  if (!command) return 0;
  auto missing = [this, command] { SendError(command, "Missing Parameter"); };
  auto print = [](const char* text) { Printer.Print(ChannelStdout, true, "%s", text); };

  if (Is(command, "analyze")) {
    EngineSide = -1;
    Mode = ModeAnalysing;
  } else if (Is(command, "book")) {
    const char* name = words.Rest();
    if (!name) return missing(), 0;
    OpenOwnBookCommand(name);
  } else if (Is(command, "bench")) {
    const char* n = words.Word();
    if (!n) return missing(), 0;
    EngineSide = -1;
    auto total = std::make_unique<StatisticsTotal>();
    Bench(*total, std::max(std::atoi(n), 0), true);
    PrintSearchStatistics(*total);
  } else if (Is(command, "d")) {
    Game.Print();
  } else if (Is(command, "draw")) {
    SendError("draw", "Command not supported");
  } else if (Is(command, "dumpeval")) {
    const char* file = words.Word();
    const char* n = file ? words.Word() : nullptr;
    if (!n) return missing(), 0;
    DumpEval(file, std::atoi(n));
  } else if (Is(command, "easy")) {
    Flags[PonderAllowedFlag] = 0;
  } else if (Is(command, "force")) {
    EngineSide = -1;
  } else if (Is(command, "game")) {
    std::string text(static_cast<std::size_t>(Game.HighestPly) * 6 + 1, '\0');
    Game.GetMoveListText(text.data());
    Printer.Print(ChannelStdout, true, "Game: %s\n", text.c_str());
  } else if (Is(command, "go")) {
    EngineSide = Game.Side;
  } else if (Is(command, "hard")) {
    Flags[PonderAllowedFlag] = 1;
  } else if (Is(command, "key")) {
    Printer.Print(ChannelStdout, true, "Hashkey = 0x%016llx\n", static_cast<unsigned long long>(Game.Hashkey));
    Printer.Print(ChannelStdout, true, "Pawnkey = 0x%016llx\n", static_cast<unsigned long long>(Game.Pawnkey));
    Printer.Print(ChannelStdout, true, "Matkey  = 0x%08x\n", static_cast<unsigned>(Game.Matkey));
  } else if (Is(command, "level")) {
    const char* moves = words.Word();
    const char* time = moves ? words.Word() : nullptr;
    const char* increment = time ? words.Word() : nullptr;
    if (!increment) return missing(), 0;
    const std::int32_t base = ClockInput::LevelBaseSeconds(time);
    ClockSettings::MovesToGo = ClockInput::MovesPerControl(ClockInput::Number(moves));
    ClockSettings::BaseSeconds = base;
    ClockSettings::IncrementMs = ClockInput::IncrementMsOfSeconds(static_cast<double>(ClockInput::Number(increment)));
    ClockSettings::TimeLeftMs = ClockInput::ClockMs(std::int64_t{base} * 1000);
    ClockSettings::FixedDepth = 0;
    ClockSettings::Unused = 0;
  } else if (Is(command, "moves")) {
    ListMoves();
  } else if (Is(command, "new")) {
    Game.SetStartPosition();
    TranspositionTable::Clear();
    EngineSide = 1;
    BookMisses = 0;
    FrontEnd::PonderMove = NoMove;
  } else if (Is(command, "nopost")) {
    SetPost(false);
  } else if (Is(command, "options")) {
    PrintSettings();
  } else if (Is(command, "perft")) {
    const char* depth = words.Word();
    if (!depth) return missing(), 0;
    Clock clock;
    clock.Start();
    const unsigned long long nodes = Perft(Game, std::atoi(depth));
    const std::int32_t ms = clock.Elapsed();
    Printer.Print(ChannelStdout, true, "perft=%llu\n", nodes);
    Printer.Print(ChannelStdout, true, "time-spent=%s\n", clock.Format(ms));
    if (ms >= 1) Printer.Print(ChannelStdout, true, "knps=%llu\n", nodes / static_cast<unsigned long long>(ms));
  } else if (Is(command, "post")) {
    SetPost(true);
  } else if (Is(command, "qscore")) {
    QuiescenceScore();
  } else if (Is(command, "quit")) {
    Quit();
    return 1;
  } else if (Is(command, "remove")) {
    EngineSide = -1;
    Game.TakeBack();
    Game.TakeBack();
  } else if (Is(command, "reset")) {
    TranspositionTable::Clear();
  } else if (Is(command, "result")) {
    const char* text = words.Rest();
    if (!text) return 0;
    std::uint8_t code = ResultNone;
    if (std::strstr(text, "1-0"))
      code = ResultWhiteWins;
    else if (std::strstr(text, "0-1"))
      code = ResultBlackWins;
    else if (std::strstr(text, "1/2-1/2"))
      code = ResultDraw;
    Game.Outcome.Result = code;
    Game.Outcome.Reason = ReasonNone;
    LearnFromGame(Game);
    EngineSide = -1;
  } else if (Is(command, "score")) {
    AttackMaps maps;
    Game.BuildAttackMaps(maps);
    Printer.Print(ChannelStdout, true, "Score=%d\n", Evaluate(Game, maps, 0));
  } else if (Is(command, "sd")) {
    const char* depth = words.Word();
    if (!depth) return missing(), 0;
    ClockSettings::FixedDepth = std::atoi(depth);
    ClockSettings::MovesToGo = 0;
    ClockSettings::BaseSeconds = 0;
    ClockSettings::IncrementMs = 0;
    ClockSettings::Unused = 0;
  } else if (std::strncmp(command, "see", 3) == 0) {
    const char* text = words.Rest();
    const int index = text ? FindCoordinateMove(Game.Moves, Game, text) : -1;
    if (index < 0) {
      print("Unknown move\n");
    } else {
      const Move move = Game.Moves.Moves[index];
      Printer.Print(ChannelStdout, true, "SEE-value = %d\n", Game.SEEMove(MoveFrom(move), MoveTo(move), -Infinity));
    }
  } else if (Is(command, "setboard")) {
    const char* fen = words.Rest();
    if (!fen) {
      print("Expecting a FEN string");
    } else if (Game.SetFEN(fen)) {
      SendError("setboard", Game.Message);
    } else {
      Game.Print();
      EngineSide = 1 - Game.Side;
      TranspositionTable::Clear();
    }
  } else if (Is(command, "smpbench")) {
    const char* depth = words.Word();
    const char* threads = depth ? words.Word() : nullptr;
    if (!threads) return missing(), 0;
    EngineSide = -1;
    SmpBenchInit(std::max(std::atoi(depth), 0));
    SmpBench(std::max(std::atoi(threads), 2));
  } else if (Is(command, "st")) {
    const char* seconds = words.Word();
    if (!seconds) return missing(), 0;
    ClockSettings::MovesToGo = -1;
    ClockSettings::BaseSeconds = ClockInput::BaseSeconds(ClockInput::Number(seconds));
    ClockSettings::IncrementMs = 0;
    ClockSettings::FixedDepth = 0;
    ClockSettings::Unused = 0;
  } else if (Is(command, "symtest")) {
    const char* file = words.Word();
    if (!file) return missing(), 0;
    SymmetryTest(file);
  } else if (Is(command, "szwdl")) {
    ProbeWdlCommand();
  } else if (Is(command, "szdtz")) {
    ProbeDtzCommand();
  } else if (Is(command, "szdtzroot")) {
    RootProbeCommand();
  } else if (Is(command, "test")) {
    const char* seconds = words.Word();
    const char* file = seconds ? words.Word() : nullptr;
    if (!file) return missing(), 0;
    RunEpdTest(file, std::atoi(seconds));
  } else if (Is(command, "totalperft")) {
    const char* depth = words.Word();
    const char* file = depth ? words.Word() : nullptr;
    if (!file) return missing(), 0;
    TotalPerft(file, std::atoi(depth));
  } else if (Is(command, "uci")) {
    return HandOver(new UciFrontEnd);
  } else if (Is(command, "undo")) {
    EngineSide = -1;
    Game.TakeBack();
  } else if (Is(command, "variant")) {
    const char* variant = words.Rest();
    if (!variant) return missing(), 0;
    Settings::DefaultVariant = Is(variant, "fischerandom") ? VariantChess960 : VariantNormal;
    Game.SetVariant(Settings::DefaultVariant);
    if (!Is(variant, "off") && !Is(variant, "fischerandom")) print("Variant unknown\n");
  } else if (Is(command, "xboard")) {
    return HandOver(new XboardFrontEnd);
  } else if (Is(command, "learn")) {
    const char* depth = words.Rest();
    LearnCommand(Game, depth ? depth : "");
  } else if (Is(command, "deeplearn")) {
    const char* depth = words.Rest();
    DeepLearnCommand(Game, depth ? depth : "");
  } else if (Is(command, "hash")) {
    const char* megabytes = words.Word();
    if (!megabytes) return missing(), 0;
    Settings::MainHash = std::clamp(std::atoi(megabytes), 1, Settings::MaxHashMb);
    TranspositionTable::Allocate(Settings::MainHash);
  } else if (Is(command, "cpus")) {
    const char* n = words.Word();
    if (!n) return missing(), 0;
    const int count = std::atoi(n);
    Settings::Cpus = count > 1 ? std::min(count, MaxWorkers) : 1;
    ApplyThreadSetting();
  } else if (Is(command, "learning") || Is(command, "nullmove") || Is(command, "iid") || Is(command, "se")) {
    const char* word = words.Word();
    if (!word) return missing(), 0;
    bool& setting = Is(command, "learning")   ? Settings::Learning
                    : Is(command, "nullmove") ? Settings::DoNullMove
                    : Is(command, "iid")      ? Settings::DoIid
                                              : Settings::Singular;
    setting = SwitchedOn(word);
  } else if (Is(command, "splitdepth")) {
    const char* n = words.Word();
    if (!n) return missing(), 0;
    const int depth = std::atoi(n);
    Settings::SplitDepth = depth < 0 ? 0 : std::min(depth, 32);
  } else {
    PlayUserMove(command);
  }
  return 0;
}

void ConsoleFrontEnd::PlayUserMove(const char* word) {
  const int index = FindCoordinateMove(Game.Moves, Game, word);
  if (index < 0 || !Game.PlayMove(Game.Moves.Moves[index])) {
    SendError(word, "Illegal move");
    return;
  }
  GameResult result;
  if (Game.CheckGameEnd(result)) ChessGame::PrintResult(result);
}

void ConsoleFrontEnd::ListMoves() {
  GenerateMoves(Game, Game.Moves, nullptr);
  // Legality is tried on a copy: playing and taking back on the game itself
  // would cut its redo line.
  auto trial = std::make_unique<Position>();
  int legal = 0;
  for (int i = 0; i < Game.Moves.Count; ++i) {
    const Move move = Game.Moves.Moves[i];
    *trial = Game;
    UndoRecord undo;
    const bool isLegal = trial->MakeMove(move, undo);
    legal += isLegal;
    Printer.Print(ChannelStdout, true, " %s%s", MoveToText(Game, move), isLegal ? " " : "-");
    if (i % 10 == 0) Printer.Print(ChannelStdout, true, "\n");
  }
  Printer.Print(ChannelStdout, true, "\n%d legal moves.\n", legal);
}

void ConsoleFrontEnd::QuiescenceScore() {
  // A quiescence search alone, as worker 0 at the root; the front end counts
  // as busy, so input read by the search's time check is not run as a command.
  Worker& worker = WakeWorkers();
  ClearStatistics();
  for (PlyRecord& record : worker.Stack().Records) record = PlyRecord();
  TranspositionTable::NewSearch();
  Mode = ModeBusy;
  const int score = Quiesce(Game, worker, 0, -Infinity, Infinity, true, NoTablebaseValue);
  Mode = ModeIdle;
  SendWorkersToSleep();
  StopSearch.store(false);
  Printer.Print(ChannelStdout, true, "Qscore=%d\n", score);
}

void ConsoleFrontEnd::ProbeWdlCommand() {
  int success = 0;
  const int wdl = Settings::SzDepth >= 0 ? ProbeWdl(Game, &success) : 0;
  if (!success) {
    SendError("szwdl", "Probe failed");
    return;
  }
  switch (wdl) {
    case -2: Info("Position is lost"); break;
    case -1: Info("Position is technically lost, but will require more than 50 moves to convert"); break;
    case 0: Info("Position is drawn"); break;
    case 1: Info("Position is technically won, but will require more than 50 moves to convert"); break;
    case 2: Info("Position is won"); break;
    default: SendError("szwdl", "Unknown score returned"); break;
  }
}

void ConsoleFrontEnd::ProbeDtzCommand() {
  int success = 0;
  const int dtz = Settings::SzDepth >= 0 ? ProbeDtz(Game, &success) : 0;
  if (!success) {
    SendError("szdtz", "Probe failed");
    return;
  }
  char text[96];
  if (dtz < -100)
    std::snprintf(text, sizeof text, "Position is technically lost, but will require more than 50 moves to convert");
  else if (dtz < 0)
    std::snprintf(text, sizeof text, "Position is lost, conversion in %d moves (can be off by 1)", -dtz);
  else if (dtz == 0)
    std::snprintf(text, sizeof text, "Position is drawn");
  else if (dtz <= 100)
    std::snprintf(text, sizeof text, "Position is won, conversion in %d moves (can be off by 1)", dtz);
  else
    std::snprintf(text, sizeof text, "Position is technically won, but will require more than 50 moves to convert");
  Info(text);
}

void ConsoleFrontEnd::RootProbeCommand() {
  GenerateMoves(Game, Game.Moves, nullptr);
  if (Settings::SzDepth < 0 || !ProbeRootMoves(Game)) {
    SendError("szdtzroot", "Probe failed");
    return;
  }
  Printer.Print(ChannelStdout, true, "The following moves have the best result:\n");
  for (int i = 0; i < Game.Moves.Count; ++i) {
    Printer.Print(ChannelStdout, true, " %s", MoveToText(Game, Game.Moves.Moves[i]));
    if (i % 10 == 9) Printer.Print(ChannelStdout, true, "\n");
  }
  Printer.Print(ChannelStdout, true, "\n");
  // The user may still play any legal move.
  GenerateMoves(Game, Game.Moves, nullptr);
}

int ConsoleFrontEnd::HandOver(FrontEnd* nested) {
  ActiveFrontEnd = nested;
  const int result = nested->Run();
  delete nested;
  ActiveFrontEnd = this;
  return result;
}

int ConsoleFrontEnd::HandleCommandThinking(const char* line) {
  const std::string word = FirstWord(line);
  if (word == "new" || word == "quit" || word == "result") {
    Input::ReprocessLastLine = true;
    return 1;
  }
  if (word == "post" || word == "nopost") {
    SetPost(word == "post");
    return 0;
  }
  if (word == "?") return 1;
  if (word == "draw" || word.empty()) return 0;
  SendError(word.c_str(), "Command not accepted");
  return 0;
}

int ConsoleFrontEnd::HandleCommandPondering(const char* line) {
  const std::string word = FirstWord(line);
  if (word == "hard" || word.empty()) return 0;
  if (word == "post" || word == "nopost") {
    SetPost(word == "post");
    return 0;
  }
  static constexpr const char* Interrupting[] = {"new", "quit", "force", "go", "setboard", "undo", "easy", "result"};
  for (const char* name : Interrupting) {
    if (word != name) continue;
    Input::ReprocessLastLine = true;
    // "result" too leaves pondering for the idle mode: the ponder move is
    // taken back before the result is stored.
    Mode = ModeIdle;
    return 1;
  }
  if (IsMoveText(word.c_str())) {
    if (FrontEnd::PonderMove != NoMove && MatchCoordinateMove(Game, word.c_str(), FrontEnd::PonderMove)) {
      Printer.Print(ChannelStdout, true, "ponderhit\n");
      AllocateTime(Game, AllocatePonderHit);
      Mode = ModePonderHit;
      return 0;
    }
    Printer.Print(ChannelStdout, true, "pondermiss\n");
    Input::ReprocessLastLine = true;
    Mode = ModeIdle;
    return 1;
  }
  SendError(word.c_str(), "Command not accepted");
  return 0;
}

int ConsoleFrontEnd::HandleCommandAnalysing(const char* line) {
  const std::string word = FirstWord(line);
  if (word == "post") {
    SetPost(true);
    return 0;
  }
  static constexpr const char* Interrupting[] = {"undo", "new", "setboard", "exit", "quit", "bk"};
  bool interrupts = IsMoveText(word.c_str());
  for (const char* name : Interrupting) interrupts |= word == name;
  if (!interrupts) return 0;
  Input::ReprocessLastLine = true;
  Mode = ModeAfterAnalysis;
  return 1;
}

int ConsoleFrontEnd::HandleCommandAfterAnalysis(const char* line) {
  Mode = ModeAnalysing;
  CommandWords words(line);
  const char* command = words.Command();
  if (!command) return 0;
  if (Is(command, "undo")) {
    Game.TakeBack();
    EngineSide = -1;
  } else if (Is(command, "new")) {
    Game.SetStartPosition();
    TranspositionTable::Clear();
    EngineSide = 1;
    FrontEnd::PonderMove = NoMove;
  } else if (Is(command, "setboard")) {
    const char* fen = words.Rest();
    if (fen && Game.SetFEN(fen)) {
      SendError("setboard", Game.Message);
    } else if (fen) {
      TranspositionTable::Clear();
    }
  } else if (Is(command, "exit")) {
    Mode = ModeIdle;
  } else if (Is(command, "quit")) {
    Input::ReprocessLastLine = true;
    Mode = ModeIdle;
  } else if (IsMoveText(command)) {
    const int index = FindCoordinateMove(Game.Moves, Game, command);
    if (index < 0 || !Game.PlayMove(Game.Moves.Moves[index])) SendError(command, "Illegal move");
  }
  return 0;
}
