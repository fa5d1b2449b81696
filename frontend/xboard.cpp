// The xboard dialogue. Everything the GUI reads goes through the printer on
// standard output (and into the log), one complete line per call, except the
// "tellics kibitz" greeting, which is written straight out, and the time
// report, which only the log sees.
#include "frontend/xboard.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "books/booklist.h"
#include "engine/attacks.h"
#include "engine/driver.h"
#include "engine/eval.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/clockinput.h"
#include "frontend/tokens.h"
#include "support/input.h"
#include "support/output.h"

namespace {

// The longest search a "hint" may take. The hint is asked for while the user
// thinks; a search under the game's own clock could keep the engine deaf to
// the user's move for minutes.
constexpr std::int64_t HintTimeMs = 1000;

bool Is(const char* token, const char* word) { return token && std::strcmp(token, word) == 0; }

bool IsOneOf(const char* token, std::initializer_list<const char*> words) {
  for (const char* word : words)
    if (Is(token, word)) return true;
  return false;
}

// A text for one protocol line: a line end inside it would start a line the
// GUI reads as a command or a move.
std::string OneLine(const char* text) {
  std::string line = text ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}

std::uint64_t SearchedNodes() { return Statistics.InnerNodes() + Statistics.QNodes(); }
std::uint64_t TablebaseHits() { return Statistics.BitbaseHits() + Statistics.SyzygyHits(); }

// Commands that change nothing the running search depends on: carried out at
// once whatever the engine is doing.
bool IsHarmlessCommand(const char* command) {
  return IsOneOf(command, {"xboard", "accepted", "rejected", "random", "computer", "rating", "name", "post",
                           "nopost", "hard", "draw", "time", "otim"});
}

// Commands that interrupt analysis to be carried out on the board.
bool InterruptsAnalysis(const char* command) {
  return IsMoveText(command) || IsOneOf(command, {"undo", "remove", "new", "setboard", "exit", "quit", "bk"});
}

void ReportTimeToLog() { Printer.Print(ChannelLogOnly, true, "%s\n", TimeManagementReport()); }

}  // namespace

XboardFrontEnd::XboardFrontEnd() {
  Kind = ProtocolXboard;
  EngineSide = 1;
  IcsFlag = Settings::IcsMode == 1;
  Game.SetStartPosition();
}

void XboardFrontEnd::StartUp() { Info("feature done=0"); }

void XboardFrontEnd::Info(const char* text) { Printer.Print(ChannelStdout, true, "# %s\n", OneLine(text).c_str()); }

void XboardFrontEnd::SendError(const char* context, const char* text) {
  Printer.Print(ChannelStdout, true, "Error (%s): %s\n", context, OneLine(text).c_str());
}

// ---------------------------------------------------------------------------
// The main loop

int XboardFrontEnd::Run() {
  // A GUI that interrupts the engine must still get its answers; xboard is
  // told (sigint=0) not to send the signal at all.
  std::signal(SIGINT, SIG_IGN);
  Printer.Print(ChannelStdout, true, "\n");
  Settings::Ponder = false;
  TranspositionTable::Clear();
  for (;;) {
    if (!Deferred.empty() && (Mode == ModeIdle || Mode == ModeAnalysing)) {
      std::string line = Deferred.front();
      Deferred.pop_front();
      if (HandleDeferred(line)) return 1;
      continue;
    }
    // Waiting input first (the end of input too), then analysis before the
    // engine's own move: a GUI that analyses without "force" must not see
    // the engine play in its analysis.
    if (Input::IsAvailable() || Mode == ModeAfterAnalysis) {
      if (!ReadAndHandle()) return 1;
    } else if (Mode == ModeAnalysing) {
      Analyse();
    } else if (EngineSide == Game.Side) {
      ThinkOnOwnMove();
    } else if (EngineSide == (Game.Side ^ 1) && Settings::Ponder && Flags[0]) {
      PonderOnOpponentsTime();
    } else if (!ReadAndHandle()) {
      return 1;
    }
  }
}

bool XboardFrontEnd::ReadAndHandle() {
  const char* line = Input::ReadLine();
  if (!line) return false;
  switch (Mode) {
    case ModeAnalysing:
      // No search runs: a command that would interrupt one is carried out
      // when the analysis loop comes round to the interrupted mode.
      HandleCommandAnalysing(line);
      return true;
    case ModeAfterAnalysis:
      return HandleCommandAfterAnalysis(line) == 0;
    default:
      return HandleCommand(line) == 0;
  }
}

int XboardFrontEnd::HandleDeferred(const std::string& line) {
  Tokens tokens(line.c_str());
  const char* command = tokens.Next();
  if (Is(command, "quit")) {
    Quit();
    return 1;
  }
  if (Mode != ModeAnalysing) return HandleCommand(line.c_str());
  // Analysis is not running yet: a command that would interrupt it is
  // carried out at once.
  if (command && InterruptsAnalysis(command))
    HandleCommandAfterAnalysis(line.c_str());
  else
    HandleCommandAnalysing(line.c_str());
  return 0;
}

void XboardFrontEnd::ThinkOnOwnMove() {
  GameResult result;
  DiscardResult = false;
  if (Game.CheckGameEnd(result)) {
    // Nothing to search: the answer is the result.
    SendBestMove();
    return;
  }
  Mode = ModeThinking;
  AllocateTime(Game, AllocateOwnMove);
  ReportTimeToLog();
  const Move none = NoMove;
  Think(Game, &none);
  AnswerOwnSearch();
}

void XboardFrontEnd::AnswerOwnSearch() {
  if (DiscardResult) {
    // "force", "new", "result" or "quit" came first: the GUI no longer
    // expects a move, and one sent now would be read as the next game's.
    Mode = ModeIdle;
    DiscardResult = false;
  } else {
    Flags[0] = 1;
    SendBestMove();
  }
  AnswerPendingPing();
}

void XboardFrontEnd::AnswerPendingPing() {
  if (PendingReply) {
    Printer.Print(ChannelStdout, true, "pong %d\n", PendingReply);
    PendingReply = 0;
  }
}

bool XboardFrontEnd::PlayPonderMove() {
  BeforePonder = Game;
  if (FrontEnd::PonderMove == NoMove || Game.PlayMove(FrontEnd::PonderMove)) return true;
  Flags[0] = 0;
  return false;
}

void XboardFrontEnd::PonderOnOpponentsTime() {
  if (!PlayPonderMove()) return;
  if (FrontEnd::PonderMove != NoMove) {
    if (BookMisses < BookMissLimit && GetBookMove(Game) != NoMove) {
      // The book answers the expected move: nothing to ponder on there, so
      // the engine ponders without a guess.
      FrontEnd::PonderMove = NoMove;
      Game.TakeBack();
    }
  }
  AllocateTime(Game, AllocatePonder);
  ReportTimeToLog();
  Mode = ModePondering;
  DiscardResult = false;
  const Move ponderOn = FrontEnd::PonderMove;
  Think(Game, &ponderOn);
  if (Mode == ModeThinking) {
    // The expected move came: the search was the engine's own.
    AnswerOwnSearch();
    return;
  }
  if (Mode != ModeIdle && Mode != ModePondering) SendError("internal", "Wrong mode after pondering");
  if (Mode != ModeIdle) Flags[0] = 0;
  Mode = ModeIdle;
  if (FrontEnd::PonderMove != NoMove) Game.TakeBack();
  FrontEnd::PonderMove = NoMove;
}

void XboardFrontEnd::Analyse() {
  AllocateTime(Game, AllocateAnalyse);
  ReportTimeToLog();
  const Move none = NoMove;
  Think(Game, &none);
}

// ---------------------------------------------------------------------------
// Output of the search

bool XboardFrontEnd::SendPv(int depth, char marker, int elapsedMs, int score) {
  // Pondering without a guess searches the opponent's move: the score is
  // the opponent's and is shown from the engine's side.
  const int shown = Mode == ModePondering && FrontEnd::PonderMove == NoMove ? -score : score;
  if (HintSearch || !Flags[1] || Settings::PostOutput == 0) return false;
  if (!(Settings::PostOutput == 3 && depth >= 3)) {
    if (elapsedMs < 100 && (marker != '.' || (score >= -189999 && score <= 189999))) return false;
    if (Settings::PostOutput == 2 && elapsedMs < 2000 && marker != '.') return false;
  }
  int value;
  if (shown < -189999)
    value = shown + 180000;
  else if (shown < 190000)
    value = shown / 10;
  else
    value = shown - 180000;
  // The protocol's time field is in centiseconds.
  Printer.Print(ChannelStdout, true, "%d%c %d %d %lld", depth, marker, value, elapsedMs / 10,
                static_cast<long long>(SearchedNodes()));
  return true;
}

void XboardFrontEnd::SendWhisper() {
  const SearchStatistics& last = Statistics[0];
  const int firstMs = last.OwnTime;
  const int secondMs = last.EndTime > 1 ? static_cast<int>(last.EndTime) : 1;
  Printer.Print(ChannelStdout, true, "tellics whisper %d: %1.3f, %d knps, %llu tbHits, %d/%d seconds\n",
                static_cast<int>(last.Depth), last.LastScore * 0.001,
                static_cast<int>(SearchedNodes() / static_cast<std::uint64_t>(secondMs)),
                static_cast<unsigned long long>(TablebaseHits()), firstMs / 1000, secondMs / 1000);
  if (BestMove == NoMove) return;
  std::string pv = std::string("tellics whisper pv=") + MoveToText(Game, BestMove);
  if (::PonderMove != NoMove) pv += std::string(" ") + MoveToText(Game, ::PonderMove);
  Printer.Print(ChannelStdout, true, "%s\n", pv.c_str());
}

void XboardFrontEnd::SendBestMove() {
  Mode = ModeIdle;
  GameResult result;
  if (!Game.CheckGameEnd(result)) {
    FrontEnd::PonderMove = NoMove;
    const std::string text = BestMove != NoMove ? MoveToText(Game, BestMove) : "";
    // A move the game refuses is no move: announcing it would put the GUI's
    // board and ours apart.
    if (BestMove == NoMove || !Game.PlayMove(BestMove)) {
      SendError("go", "No legal moves found after search");
      EngineSide = -1;
      return;
    }
    Printer.Print(ChannelStdout, true, "move %s\n", text.c_str());
    if (ClockSettings::MovesToGo != 0) ClockSettings::MovesToGoReceived--;
    FrontEnd::PonderMove = ::PonderMove;
    if (IcsFlag) SendWhisper();
    if (!Game.CheckGameEnd(result)) return;
  }
  LearnFromGame(Game);
  EngineSide = -1;
  ChessGame::PrintResult(result);
}

// ---------------------------------------------------------------------------
// Commands

void XboardFrontEnd::PrintFeatures() {
  static constexpr const char* Features[] = {
      "feature ping=1\n",    "feature setboard=1\n", "feature playother=1\n", "feature san=0\n",
      "feature usermove=0\n", "feature time=1\n",    "feature draw=0\n",      "feature sigint=0\n",
      "feature sigterm=0\n", "feature reuse=1\n",    "feature analyze=1\n",
      "feature variants=\"normal,fischerandom,nocastle\"\n",
      "feature colors=1\n",  "feature ics=1\n",      "feature name=1\n",      "feature pause=0\n",
  };
  for (const char* feature : Features) Printer.Print(ChannelStdout, true, "%s", feature);
  Printer.Print(ChannelStdout, true, "feature myname=\"The Quelm %s\"\n", EngineVersion);
  Printer.Print(ChannelStdout, true, "feature done=1\n");
}

void XboardFrontEnd::PlayUserMove(const char* token, bool fromAnalysis) {
  const int index = FindCoordinateMove(Game.Moves, Game, token);
  if (index < 0 || !Game.PlayMove(Game.Moves.Moves[index])) {
    // The protocol's form: xboard takes the move back and tells the user.
    if (IsMoveText(token) || fromAnalysis)
      Printer.Print(ChannelStdout, true, "Illegal move: %s\n", token);
    else
      SendError(token, "Unknown command");
    return;
  }
  GameResult result;
  if (!Game.CheckGameEnd(result)) return;
  ChessGame::PrintResult(result);
  if (!fromAnalysis && EngineSide == Game.Side) {
    // The engine would have answered with the same result a second time;
    // the game is over for it now, and what it taught is kept once.
    LearnFromGame(Game);
    EngineSide = -1;
  }
}

void XboardFrontEnd::SetSideToMove(int side) {
  if (Game.Side == side) return;
  // A board with the other side to move is a new position: its history
  // cannot be taken back move by move, so it starts afresh from its FEN.
  Tokens fields(Game.GetFEN());
  std::string board, castling;
  if (const char* word = fields.Next()) board = word;
  fields.Next();  // the side to move
  if (const char* word = fields.Next()) castling = word;
  // The en-passant square belonged to the other side's move and goes.
  const std::string flipped = board + (side == White ? " w " : " b ") + (castling.empty() ? "-" : castling) + " -";
  if (Game.SetFEN(flipped.c_str())) SendError(side == White ? "white" : "black", Game.Message);
}

void XboardFrontEnd::GiveHint() {
  GameResult result;
  if (Game.CheckGameEnd(result)) return;
  Mode = ModeBusy;
  HintSearch = true;
  DiscardResult = false;
  AllocateTime(Game, AllocateOwnMove);
  TimeLimits::MinTime = std::min(TimeLimits::MinTime, HintTimeMs);
  TimeLimits::MaxTime = std::min(TimeLimits::MaxTime, HintTimeMs);
  TimeLimits::ExtensionCount = 10;  // no extension past the hint's time
  const Move none = NoMove;
  Think(Game, &none);
  HintSearch = false;
  const bool stopped = DiscardResult || Mode != ModeBusy;
  Mode = ModeIdle;
  DiscardResult = false;
  if (!stopped && BestMove != NoMove) Printer.Print(ChannelStdout, true, "Hint: %s\n", MoveToText(Game, BestMove));
  AnswerPendingPing();
}

int XboardFrontEnd::HandleCommand(const char* line) {
  Tokens tokens(line);
  const char* token = tokens.Next();
  if (!token) return 0;
  Flags[0] = 0;
  const std::string command = token;
  const char* c = command.c_str();
  // The value a command needs (kept apart from the words read after it);
  // reports its absence.
  std::string values[3];
  int valueCount = 0;
  auto value = [&]() -> const char* {
    const char* v = tokens.Next();
    if (!v) {
      SendError(c, "Missing Parameter");
      return nullptr;
    }
    std::string& kept = values[valueCount++ % 3];
    kept = v;
    return kept.c_str();
  };

  if (Is(c, "xboard") || Is(c, "accepted") || Is(c, "rejected") || Is(c, "random") || Is(c, "draw") ||
      Is(c, "rating") || Is(c, "computer"))
    return 0;
  if (Is(c, "protover")) {
    value();
    PrintFeatures();
  } else if (Is(c, "new")) {
    // A new game is normal chess until "variant" says otherwise.
    Settings::DefaultVariant = VariantNormal;
    Game.SetStartPosition();
    TranspositionTable::Clear();
    EngineSide = 1;
    BookMisses = 0;
    FrontEnd::PonderMove = NoMove;
  } else if (Is(c, "variant")) {
    const char* v = value();
    if (!v) return 0;
    if (Is(v, "fischerandom")) {
      Settings::DefaultVariant = VariantChess960;
    } else {
      Settings::DefaultVariant = VariantNormal;
      // Both are played with the rules of normal chess: a "nocastle" game
      // starts from a position without castling rights.
      if (!Is(v, "normal") && !Is(v, "nocastle")) {
        char text[128];
        std::snprintf(text, sizeof text, "variant %.64s is not supported", v);
        SendError("variant", text);
      }
    }
    Game.SetVariant(Settings::DefaultVariant);
  } else if (Is(c, "quit")) {
    Quit();
    return 1;
  } else if (Is(c, "force")) {
    EngineSide = -1;
  } else if (Is(c, "go")) {
    EngineSide = Game.Side;
  } else if (Is(c, "playother")) {
    EngineSide = Game.Side ^ 1;
  } else if (Is(c, "white")) {
    SetSideToMove(White);
    EngineSide = Black;
  } else if (Is(c, "black")) {
    SetSideToMove(Black);
    EngineSide = White;
  } else if (Is(c, "level")) {
    const char* moves = value();
    const char* base = moves ? value() : nullptr;
    const char* increment = base ? value() : nullptr;
    if (!increment) return 0;
    const std::int32_t seconds = ClockInput::LevelBaseSeconds(base);
    ClockSettings::MovesToGo = ClockInput::MovesPerControl(ClockInput::Number(moves));
    ClockSettings::BaseSeconds = seconds;
    // xboard may send a fractional increment.
    ClockSettings::IncrementMs = ClockInput::IncrementMsOfSeconds(std::strtod(increment, nullptr));
    ClockSettings::FixedDepth = 0;
    ClockSettings::Unused = 0;
    ClockSettings::TimeLeftMs = ClockInput::ClockMs(std::int64_t{seconds} * 1000);
  } else if (Is(c, "st")) {
    const char* v = value();
    if (!v) return 0;
    ClockSettings::MovesToGo = -1;
    ClockSettings::BaseSeconds = ClockInput::BaseSeconds(ClockInput::Number(v));
    ClockSettings::IncrementMs = 0;
    ClockSettings::FixedDepth = 0;
    ClockSettings::Unused = 0;
  } else if (Is(c, "sd")) {
    const char* v = value();
    if (!v) return 0;
    ClockSettings::FixedDepth = std::atoi(v);
    ClockSettings::MovesToGo = 0;
    ClockSettings::BaseSeconds = 0;
    ClockSettings::IncrementMs = 0;
    ClockSettings::Unused = 0;
  } else if (Is(c, "time")) {
    if (const char* v = value()) ClockSettings::TimeLeftMs = ClockInput::ClockMsOfCentiseconds(ClockInput::Number(v));
  } else if (Is(c, "otim")) {
    if (const char* v = value())
      ClockSettings::OpponentTimeMs = ClockInput::ClockMsOfCentiseconds(ClockInput::Number(v));
  } else if (Is(c, "usermove") || Is(c, "?") || Is(c, "bk") || Is(c, "pause") || Is(c, "resume")) {
    SendError(c, "Command not supported");
  } else if (Is(c, "ping")) {
    if (const char* v = value()) Printer.Print(ChannelStdout, true, "pong %s\n", v);
  } else if (Is(c, "result")) {
    const std::string text = tokens.Rest();
    GameResult result;
    result.Result = text.find("1-0") != std::string::npos       ? ResultWhiteWins
                    : text.find("0-1") != std::string::npos     ? ResultBlackWins
                    : text.find("1/2-1/2") != std::string::npos ? ResultDraw
                                                                : ResultNone;
    const bool hadResult = Game.Outcome.Result != ResultNone;
    Game.Outcome = result;
    if (!hadResult) LearnFromGame(Game);
    EngineSide = -1;
  } else if (Is(c, "setboard")) {
    if (Game.SetFEN(tokens.Rest().c_str())) {
      // The board stays as it was; the protocol's answer to a position the
      // engine refuses.
      Printer.Print(ChannelStdout, true, "tellusererror Illegal position\n");
      SendError("setboard", Game.Message);
    }
    TranspositionTable::Clear();
  } else if (Is(c, "edit")) {
    SendError(c, "Command not supported, use the Setboard command instead");
  } else if (Is(c, "hint")) {
    GiveHint();
  } else if (Is(c, "undo")) {
    Game.TakeBack();
  } else if (Is(c, "remove")) {
    if (Game.UndoablePlies() >= 2) {
      Game.TakeBack();
      Game.TakeBack();
    }
  } else if (Is(c, "hard")) {
    Settings::Ponder = true;
  } else if (Is(c, "easy")) {
    Settings::Ponder = false;
  } else if (Is(c, "post")) {
    Flags[1] = 1;
  } else if (Is(c, "nopost")) {
    Flags[1] = 0;
  } else if (Is(c, "analyze")) {
    Mode = ModeAnalysing;
  } else if (Is(c, "name")) {
    const char* v = value();
    if (v && IcsFlag) {
      std::fprintf(stdout, "tellics kibitz Hi %s, I'm the Quelm version %s. Have a nice game\n", v, EngineVersion);
      std::fflush(stdout);
    }
  } else if (Is(c, "ics")) {
    const char* v = value();
    if (v && !Is(v, "-")) IcsFlag = 1;
  } else if (Is(c, "score")) {
    AttackMaps maps;
    maps.Valid = false;
    Printer.Print(ChannelStdout, true, "Score=%d\n", Evaluate(Game, maps, 0));
  } else {
    PlayUserMove(c, false);
  }
  return 0;
}

int XboardFrontEnd::StopForCommand() {
  Input::ReprocessLastLine = true;
  Mode = ModeIdle;
  return 1;
}

int XboardFrontEnd::HandleCommandThinking(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command) return 0;
  if (IsOneOf(command, {"new", "quit", "force", "result"})) {
    DiscardResult = true;
    return StopForCommand();
  }
  if (Is(command, "?")) return 1;
  if (Is(command, "ics")) {
    const char* v = tokens.Next();
    if (Settings::IcsMode == 2 && v && !Is(v, "-")) IcsFlag = 1;
    return 0;
  }
  if (Is(command, "ping")) {
    const char* v = tokens.Next();
    // One ping waits beside the move; any further one waits in line, so
    // that every ping is answered, in order.
    if (PendingReply == 0 && v && std::atoi(v) != 0)
      PendingReply = std::atoi(v);
    else
      Deferred.emplace_back(line);
    return 0;
  }
  if (IsHarmlessCommand(command) || Is(command, "easy")) {
    HandleCommand(line);
    return 0;
  }
  Deferred.emplace_back(line);
  return 0;
}

int XboardFrontEnd::HandleCommandPondering(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command) return 0;
  if (Is(command, "ping")) {
    const char* v = tokens.Next();
    if (v)
      Printer.Print(ChannelStdout, true, "pong %s\n", v);
    else
      SendError("ping", "Missing Parameter");
    return 0;
  }
  if (Is(command, "ics")) {
    const char* v = tokens.Next();
    if (v && !Is(v, "-")) IcsFlag = 1;
    return 0;
  }
  if (Is(command, "hint")) {
    // The move the engine expects from the user is the hint.
    Move hint = FrontEnd::PonderMove != NoMove ? FrontEnd::PonderMove : BestMove;
    if (hint != NoMove) Printer.Print(ChannelStdout, true, "Hint: %s\n", MoveToText(BeforePonder, hint));
    return 0;
  }
  if (IsHarmlessCommand(command)) {
    HandleCommand(line);
    return 0;
  }
  if (IsMoveText(command) && MatchCoordinateMove(BeforePonder, command, FrontEnd::PonderMove)) {
    AllocateTime(Game, AllocatePonderHit);
    ReportTimeToLog();
    Mode = ModePonderHit;
    // The expected move is now a move of the game: nothing takes it back.
    FrontEnd::PonderMove = NoMove;
    return 0;
  }
  // Anything else changes the game, the clock or the mode: pondering ends and
  // the idle handler carries the command out (an unexpected move is played
  // after the ponder move has been taken back).
  return StopForCommand();
}

int XboardFrontEnd::HandleCommandAnalysing(const char* line) {
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command) return 0;
  if (InterruptsAnalysis(command)) {
    Input::ReprocessLastLine = true;
    Mode = ModeAfterAnalysis;
    return 1;
  }
  if (Is(command, "ping")) {
    // A GUI waits for its pong; analysis has no move to send it after.
    if (const char* v = tokens.Next()) Printer.Print(ChannelStdout, true, "pong %s\n", v);
    return 0;
  }
  if (Is(command, "hint")) {
    if (BestMove != NoMove) Printer.Print(ChannelStdout, true, "Hint: %s\n", MoveToText(Game, BestMove));
    return 0;
  }
  if (IsHarmlessCommand(command) || Is(command, "easy") || Is(command, "ics")) HandleCommand(line);
  return 0;
}

int XboardFrontEnd::HandleCommandAfterAnalysis(const char* line) {
  Mode = ModeAnalysing;
  Tokens tokens(line);
  const char* command = tokens.Next();
  if (!command) return 0;
  if (Is(command, "undo")) {
    Game.TakeBack();
  } else if (Is(command, "remove")) {
    if (Game.UndoablePlies() >= 2) {
      Game.TakeBack();
      Game.TakeBack();
    }
  } else if (Is(command, "new")) {
    Settings::DefaultVariant = VariantNormal;
    Game.SetStartPosition();
    TranspositionTable::Clear();
    EngineSide = 1;
    FrontEnd::PonderMove = NoMove;
  } else if (Is(command, "setboard")) {
    if (Game.SetFEN(tokens.Rest().c_str())) {
      Printer.Print(ChannelStdout, true, "tellusererror Illegal position\n");
      SendError("setboard", Game.Message);
    }
    TranspositionTable::Clear();
  } else if (Is(command, "exit")) {
    Mode = ModeIdle;
    EngineSide = -1;
  } else if (Is(command, "quit")) {
    Input::ReprocessLastLine = true;
    Mode = ModeIdle;
  } else if (IsMoveText(command)) {
    PlayUserMove(command, true);
  }
  return 0;
}
