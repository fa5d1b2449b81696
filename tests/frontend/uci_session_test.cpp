// The real program under a GUI's hands: started with pipes, spoken to in UCI,
// its every line checked for form and every move for legality.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine_process.h"
#include "referee.h"
#include "shared_data.h"
#include "support/capture.h"

namespace {

std::string AbsoluteProgram() { return std::filesystem::absolute(EngineProgramPath()).string(); }

// The greeting of a configuration without a file: every setting at its default.
std::vector<std::string> DefaultGreeting() {
  const bool narrow = sizeof(void*) == 4;
  return {
      std::string("id name The Quelm 3.43 ") + (narrow ? "32-bits version" : "64-bits version"),
      "id author The Quelm developers",
      "option name UCI_EngineAbout type string default The Quelm 3.43, a chess engine by The Quelm developers",
      std::string("option name Hash type spin default 10 min 1 max ") + (narrow ? "1024" : "65536"),
      "option name Ponder type check default true",
      "option name Threads type spin default 1 min 1 max 32",
      "option name SplitDepth type spin default 12 min 0 max 32",
      "option name PostOutput type spin default 1 min 0 max 3",
      "option name TimeUse type spin default 100 min 1 max 200",
      "option name EasyMove type check default true",
      "option name PruneSecure type spin default 100 min 25 max 400",
      "option name PruneLevel type spin default 4 min 0 max 8",
      "option name PrunePV type check default false",
      "option name MultiPV type spin min 1 max 20 default 1",
      "option name UCI_ShowCurrLine type check default false",
      "option name UCI_Chess960 type check default false",
      "option name Clear Hash type button",
      "option name Learning type check default true",
      "option name Nullmove type check default true",
      "option name NullBase type spin default 12 min 1 max 20",
      "option name NullProgress type spin default 6 min 0 max 16",
      "option name IID type check default true",
      "option name Singular type check default true",
      "option name SingExtension type spin min 0 max 4 default 4",
      "option name SingMargin type spin min 25 max 400 default 100",
      "option name LMRPV type spin min 0 max 12 default 0",
      "option name LMRExtraPV type spin min 0 max 12 default 4",
      "option name LMRScout type spin min 0 max 20 default 4",
      "option name LMRExtraScout type spin min 0 max 12 default 4",
      "option name KingSafety type spin min 25 max 400 default 100",
      "option name KingShield type spin min 25 max 400 default 100",
      "option name SyzygyPath type string default <empty>",
      "option name SyzygyDepth type spin min 0 max 256 default 8",
      "option name SyzygyQsearch type check default false",
      "uciok",
  };
}

// One engine started in a scratch directory under a base name that has no
// configuration file there, so that every setting is at its default and no
// file lands in the build directory.
class UciSessionTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Engine = std::make_unique<EngineProcess>(AbsoluteProgram(), std::vector<std::string>{"sessiontest"},
                                             Scratch.Path.string(), Scratch / "stderr");
    ASSERT_TRUE(Engine->Started());
  }

  // Reads up to "uciok"; every line must be one of UCI's forms.
  std::vector<std::string> Greet() {
    Engine->Send("uci");
    std::vector<std::string> lines;
    while (auto line = Engine->ReadLine()) {
      if (*line == "info string CPU has POPCNT") continue;
      lines.push_back(*line);
      if (*line == "uciok") break;
    }
    return lines;
  }

  // Sends the lines, then "isready", and returns what came before "readyok".
  std::vector<std::string> Exchange(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) Engine->Send(command);
    Engine->Send("isready");
    std::vector<std::string> lines;
    while (auto line = Engine->ReadLine()) {
      if (*line == "readyok") return lines;
      lines.push_back(*line);
    }
    ADD_FAILURE() << "no readyok; transcript:\n" << Engine->TranscriptText();
    return lines;
  }

  // Waits for the "bestmove" of a search; every line before it must be
  // thinking output, and the move must be legal on referee's board.
  // A thinking line's PV starts with the root move and plays legally from
  // the searched position to its end.
  static void ExpectLegalPv(const Referee& referee, const std::string& line) {
    if (line.rfind("info ", 0) != 0) return;
    const std::size_t at = line.find(" pv ");
    if (at == std::string::npos) return;
    std::istringstream moves(line.substr(at + 4));
    Referee after = referee;
    std::string move;
    while (moves >> move) {
      if (!after.Play(move)) {
        ADD_FAILURE() << "PV move " << move << " is not legal in: " << line;
        return;
      }
    }
  }

  std::string AwaitBestMove(Referee& referee, int timeoutMs = 60000) {
    for (;;) {
      auto line = Engine->ReadLine(timeoutMs);
      if (!line) {
        ADD_FAILURE() << "no bestmove; transcript:\n" << Engine->TranscriptText();
        return {};
      }
      EXPECT_TRUE(IsUciLine(*line)) << *line;
      EXPECT_EQ(line->find("Error"), std::string::npos) << *line;
      // A null move in a line is "0000" in UCI.
      EXPECT_EQ((*line + " ").find(" null "), std::string::npos) << *line;
      ExpectLegalPv(referee, *line);
      if (line->rfind("bestmove ", 0) != 0) continue;
      std::string move = BestMoveOf(*line);
      EXPECT_TRUE(referee.IsLegal(move)) << *line << " after" << referee.MovesText();
      std::string ponder = PonderMoveOf(*line);
      if (!ponder.empty()) {
        Referee after = referee;
        EXPECT_TRUE(after.Play(move) && after.IsLegal(ponder)) << *line;
      }
      return move;
    }
  }

  // The root moves of one search with every move a line of its own
  // (MultiPV 20 and a position with fewer moves): the first move of each
  // "info multipv" line up to the "bestmove".
  std::set<std::string> RootMovesOfOneSearch(const std::string& go) {
    Engine->Send(go);
    std::set<std::string> moves;
    for (auto line = Engine->ReadLine(); line; line = Engine->ReadLine()) {
      if (line->rfind("bestmove", 0) == 0) return moves;
      if (line->rfind("info multipv ", 0) != 0) continue;
      const std::size_t at = line->find(" pv ");
      if (at != std::string::npos) moves.insert(line->substr(at + 4, line->find(' ', at + 4) - at - 4));
    }
    ADD_FAILURE() << "no bestmove; transcript:\n" << Engine->TranscriptText();
    return moves;
  }

  static std::set<std::string> LegalMoves(const std::string& fen) {
    Referee referee;
    EXPECT_TRUE(referee.SetFen(fen)) << fen;
    std::set<std::string> moves;
    for (int i = 0; i < referee.Game.Moves.Count; i++) {
      const std::string text = MoveToText(referee.Game, referee.Game.Moves.Moves[i]);
      if (referee.IsLegal(text)) moves.insert(text);
    }
    return moves;
  }

  TemporaryDirectory Scratch;
  std::unique_ptr<EngineProcess> Engine;
};

TEST_F(UciSessionTest, GreetingListsEveryOptionWithItsDefault) {
  EXPECT_EQ(Greet(), DefaultGreeting());
  EXPECT_EQ(Engine->Finish(), 0);
}

// Options are taken without a word, except the tablebase path, whose tables
// are looked up at once and counted.
TEST_F(UciSessionTest, SettingsOfEveryOptionTypeAreTakenSilently) {
  Greet();
  EXPECT_EQ(Exchange({"setoption name Hash value 16", "setoption name Ponder value true",
                      "setoption name Clear Hash", "setoption name SyzygyPath value /no/such/tables",
                      "setoption name MultiPV value 3", "setoption name UCI_ShowCurrLine value false"}),
            std::vector<std::string>{"info string Found 0 tablebases."});
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(UciSessionTest, SearchesUnderEveryKindOfLimitAnswerLegalMoves) {
  Greet();
  Referee referee;
  Engine->Send("ucinewgame");
  Engine->Send("position startpos moves e2e4 e7e5");
  ASSERT_TRUE(referee.Play("e2e4") && referee.Play("e7e5"));
  Engine->Send("go depth 3");
  AwaitBestMove(referee);

  const std::string fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
  ASSERT_TRUE(referee.SetFen(fen));
  Engine->Send("position fen " + fen);
  Engine->Send("go movetime 300");
  AwaitBestMove(referee);

  // The engine plays its answer on its own board; a GUI sets the position
  // again before every search.
  Engine->Send("position fen " + fen);
  Engine->Send("go wtime 2000 btime 2000 winc 100 binc 100");
  AwaitBestMove(referee);

  Engine->Send("position fen " + fen);
  Engine->Send("go movestogo 5 wtime 1500 btime 1500");
  AwaitBestMove(referee);

  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(UciSessionTest, InfiniteAndPonderWaitForTheGui) {
  Greet();
  Referee referee;
  Engine->Send("position startpos moves d2d4");
  ASSERT_TRUE(referee.Play("d2d4"));
  Engine->Send("go infinite");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Engine->Send("isready");
  ASSERT_TRUE(Engine->ReadUntil("readyok"));
  Engine->Send("stop");
  AwaitBestMove(referee);

  // Pondering on d7d5 after d2d4 as the GUI expects it: then the hit.
  Engine->Send("position startpos moves d2d4 d7d5");
  ASSERT_TRUE(referee.Play("d7d5"));
  Engine->Send("go ponder wtime 3000 btime 3000");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Engine->Send("ponderhit");
  AwaitBestMove(referee);

  Engine->Send("position startpos moves d2d4 d7d5");
  Engine->Send("go ponder wtime 3000 btime 3000");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Engine->Send("stop");
  AwaitBestMove(referee);

  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(UciSessionTest, BadInputIsReportedAndTheEngineGoesOn) {
  Greet();
  const struct {
    const char* Command;
    const char* Answer;
  } cases[] = {
      {"position startpos moves e2e4 e7e6 e2e5", "info string Error (moves): Move not found: e2e5 0"},
      {"position fen 8/8/8/8/8/8/8/8 w - - 0 1", "info string Error (position): "},
      {"position", "info string Error (position): Missing Parameter"},
      {"setoption name Hash", "info string Error (setoption): Missing Parameter"},
  };
  for (const auto& c : cases) {
    auto lines = Exchange({"position startpos", c.Command});
    ASSERT_FALSE(lines.empty()) << c.Command;
    EXPECT_EQ(lines[0].rfind(c.Answer, 0), 0u) << lines[0];
  }
  // A "go" cut short still starts a search, and the GUI gets its bestmove.
  Engine->Send("go wtime");
  EXPECT_EQ(Engine->ReadLine().value_or(""), "info string Error (go): Missing Parameter");
  Referee fromStart;
  AwaitBestMove(fromStart);

  EXPECT_EQ(Exchange({"nonsense", "stop", "ponderhit", "  ", "debug on"}), std::vector<std::string>{});

  // After the bad lines a search still finds a legal move.
  Referee referee;
  ASSERT_TRUE(referee.Play("e2e4") && referee.Play("e7e6"));
  Engine->Send("position startpos moves e2e4 e7e6");
  Engine->Send("go depth 2");
  AwaitBestMove(referee);
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(UciSessionTest, PositionWithoutMovesIsAnsweredWithTheNullMove) {
  Greet();
  // White is mated; then a stalemate analysed until "stop".
  Engine->Send("position startpos moves f2f3 e7e5 g2g4 d8h4");
  Engine->Send("go depth 5");
  EXPECT_EQ(Engine->ReadUntil("info string Error").value_or(""),
            "info string Error (go): No legal moves found after search");
  EXPECT_EQ(Engine->ReadLine().value_or(""), "bestmove 0000");

  Engine->Send("position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
  Engine->Send("go infinite");
  Engine->Send("isready");
  EXPECT_EQ(Engine->ReadLine().value_or(""), "readyok");
  Engine->Send("stop");
  EXPECT_TRUE(Engine->ReadUntil("bestmove 0000"));
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

// The tables a GUI names through the option are used at once: in won
// endings the engine never plays a move that the tables call a draw or a loss
// (the forbidden moves are the independent prober's drawing and losing moves).
TEST_F(UciSessionTest, TablebasesNamedByTheGuiKeepTheWin) {
  REQUIRE_SHARED_FILE(tables, "syzygy");
  Greet();
  const auto found = Exchange({"setoption name SyzygyPath value " + tables.string()});
  bool announced = false;
  for (const std::string& line : found) announced |= line.find("tablebases") != std::string::npos;
  EXPECT_TRUE(announced) << "no tablebase count after the path was set";

  struct Case {
    const char* fen;
    std::vector<std::string> forbidden;
  };
  const Case cases[] = {
      {"1K1k4/1P6/8/8/8/8/r7/2R5 w - - 0 1", {"c1a1", "c1c2"}},  // Lucena: KRP v KR
      {"8/8/8/8/8/2k5/8/KBN5 w - - 0 1", {"b1c2", "c1b3"}},      // KBN v K
      {"8/8/8/3k4/8/8/8/KBN5 w - - 0 1", {"b1e4"}},
  };
  for (const Case& c : cases) {
    Referee referee;
    ASSERT_TRUE(referee.SetFen(c.fen));
    Engine->Send(std::string("position fen ") + c.fen);
    Engine->Send("go depth 6");
    const std::string move = AwaitBestMove(referee);
    for (const std::string& bad : c.forbidden) EXPECT_NE(move, bad) << c.fen;
  }
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

// Each position command is taken without a word, and the search answers
// with a move of the position the GUI holds (given here as a FEN and moves).
TEST_F(UciSessionTest, PositionsAreTakenAsTheGuiMeansThem) {
  Greet();
  const struct {
    const char* Command;
    const char* Fen;
    std::vector<std::string> Moves;
  } cases[] = {
      // File letters for the corner rooks of kings at home, with Chess960
      // off: the standard rights, and the king's castling move.
      {"position fen r3k2r/pppq1ppp/2npbn2/2b1p3/2B1P3/2NPBN2/PPPQ1PPP/R3K2R w HAha - 0 1 moves e1g1",
       "r3k2r/pppq1ppp/2npbn2/2b1p3/2B1P3/2NPBN2/PPPQ1PPP/R3K2R w KQkq - 0 1", {"e1g1"}},
      // Fields left out: the rights of the pieces at home, no en passant.
      {"position fen 4k3/8/8/8/8/8/8/R3K2R b", "4k3/8/8/8/8/8/8/R3K2R b KQ - 0 1", {}},
      {"position fen r3k2r/8/8/8/8/8/8/R3K2R w Kq moves e1g1 e8c8", "r3k2r/8/8/8/8/8/8/R3K2R w Kq - 0 1",
       {"e1g1", "e8c8"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exchange({"position startpos", c.Command}), std::vector<std::string>{}) << c.Command;
    Referee referee;
    ASSERT_TRUE(referee.SetFen(c.Fen)) << c.Fen;
    for (const std::string& move : c.Moves) ASSERT_TRUE(referee.Play(move)) << move;
    Engine->Send("go depth 1");
    AwaitBestMove(referee);
  }
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

// Black is mated in one whatever it plays: every thinking line says so in
// mate form, also the early ones that only PostOutput 3 shows.
TEST_F(UciSessionTest, MateScoresAreWrittenAsMateAtEveryPostOutputLevel) {
  Greet();
  for (const char* level : {"1", "2", "3"}) {
    Exchange({std::string("setoption name PostOutput value ") + level,
              "position fen k7/8/1K6/8/8/8/8/7Q b - - 0 1"});
    Engine->Send("go depth 6");
    int scored = 0;
    auto line = Engine->ReadLine();
    for (; line && line->rfind("bestmove", 0) != 0; line = Engine->ReadLine()) {
      if (line->find(" score ") == std::string::npos) continue;
      ++scored;
      EXPECT_NE(line->find(" score mate -1 "), std::string::npos) << "PostOutput " << level << ": " << *line;
    }
    EXPECT_EQ(line.value_or("no bestmove"), "bestmove a8b8 ponder h1h8");
    EXPECT_GT(scored, 0) << "PostOutput " << level;
  }
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

// In Chess960 the right K belongs to the h-rook, whose way is blocked here:
// the f-rook, which a GUI would name by its file, does not castle.
TEST_F(UciSessionTest, Chess960KingSideLetterCastlesWithTheOutermostRook) {
  Greet();
  Exchange({"setoption name UCI_Chess960 value true", "setoption name MultiPV value 20",
            "position fen 4k3/8/8/8/8/8/5PPP/4KR1R w K - 0 1"});
  EXPECT_EQ(RootMovesOfOneSearch("go depth 1"), LegalMoves("4k3/8/8/8/8/8/5PPP/4KR1R w - - 0 1"));
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST_F(UciSessionTest, QuitOrEndOfInputDuringASearchEndsCleanly) {
  Greet();
  Referee referee;
  Engine->Send("position startpos");
  Engine->Send("go infinite");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Engine->Send("quit");
  AwaitBestMove(referee);
  EXPECT_EQ(Engine->Finish(10000), 0);
}

TEST_F(UciSessionTest, EndOfInputDuringASearchEndsCleanly) {
  Greet();
  Referee referee;
  Engine->Send("position startpos");
  Engine->Send("go infinite");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Engine->CloseInput();
  AwaitBestMove(referee);
  EXPECT_EQ(Engine->Finish(10000), 0);
}

TEST_F(UciSessionTest, FirstLineLongerThanTheBufferReachesTheFrontEnd) {
  // "uci" plus blanks up to 31 characters chooses UCI; "isready" is the rest.
  Engine->Send(std::string("uci") + std::string(28, ' ') + "isready");
  auto line = Engine->ReadUntil("readyok");
  EXPECT_TRUE(line);
  Engine->Send("quit");
  EXPECT_EQ(Engine->Finish(), 0);
}

TEST(UciStartTest, LogRecordsTheDialogueAndIsClosedAtTheEnd) {
  TemporaryDirectory scratch;
  std::ofstream(scratch / "logged.ini") << "logging on\n";
  EngineProcess engine(AbsoluteProgram(), {"logged"}, scratch.Path.string(), scratch / "stderr");
  engine.Send("uci");
  engine.Send("isready");
  EXPECT_TRUE(engine.ReadUntil("readyok"));
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
  std::string log = ReadWholeFile(scratch / "logged.log");
  EXPECT_NE(log.find(" <-- uciok\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" --> isready\n"), std::string::npos) << log;
  // An idle engine's "readyok" goes straight out, past the log.
  EXPECT_EQ(log.find("readyok"), std::string::npos) << log;
  EXPECT_NE(log.find(" --> quit\n"), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.size() - 19), "-----------------\n\n");
}

// Workers glued to processors the machine lacks say so, as every other
// message, on UCI's info channel: a bare line is no UCI and a GUI may drop
// the engine for it.
TEST(UciStartTest, AWorkerThatCannotBeGluedToItsProcessorSaysSoAsInfo) {
  TemporaryDirectory scratch;
  std::ofstream(scratch / "glued.ini") << "gluecores on\n";
  EngineProcess engine(AbsoluteProgram(), {"glued"}, scratch.Path.string(), scratch / "stderr");
  engine.Send("uci");
  ASSERT_TRUE(engine.ReadUntil("uciok"));
  engine.Send("setoption name Threads value 32");
  engine.Send("position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  engine.Send("go depth 2");
  int failures = 0;
  std::optional<std::string> line;
  while ((line = engine.ReadLine()) && line->rfind("bestmove ", 0) != 0) {
    EXPECT_TRUE(IsUciLine(*line)) << *line;
    if (*line == "info string Setting Affinity failed") ++failures;
  }
  ASSERT_TRUE(line) << engine.TranscriptText();
  // Worker i asks for processor i: past the processors there are, it fails.
  if (std::thread::hardware_concurrency() < 32) {
    EXPECT_GT(failures, 0) << engine.TranscriptText();
  }
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
}

// The workers start when the thread count is set, from the configuration
// file or the GUI's option, and not in the first search, which would pay for
// it out of its own time.
TEST(UciStartTest, WorkersStartWhenTheThreadCountIsSetBeforeAnySearch) {
  struct Case {
    const char* Ini;
    const char* Option;  // none: the file's count stands
    int Workers;
  };
  const Case cases[] = {
      {"", "setoption name Threads value 32", 32},
      {"cpus 4\n", nullptr, 4},
      {"cpus 4\n", "setoption name Threads value 2", 2},
      {"", "setoption name Threads value 1", 1},
  };
  // What the program runs besides its search workers.
  int others = 0;
  {
    TemporaryDirectory scratch;
    EngineProcess engine(AbsoluteProgram(), {"threads"}, scratch.Path.string(), scratch / "stderr");
    engine.Send("uci");
    engine.Send("isready");
    ASSERT_TRUE(engine.ReadUntil("readyok"));
    others = engine.Threads() - 1;
    engine.Send("quit");
    EXPECT_EQ(engine.Finish(), 0);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("ini \"") + c.Ini + "\", " + (c.Option ? c.Option : "no option"));
    TemporaryDirectory scratch;
    std::ofstream(scratch / "threads.ini") << c.Ini;
    EngineProcess engine(AbsoluteProgram(), {"threads"}, scratch.Path.string(), scratch / "stderr");
    engine.Send("uci");
    ASSERT_TRUE(engine.ReadUntil("uciok"));
    if (c.Option) engine.Send(c.Option);
    engine.Send("isready");
    ASSERT_TRUE(engine.ReadUntil("readyok")) << engine.TranscriptText();
    EXPECT_EQ(engine.Threads(), others + c.Workers);
    engine.Send("quit");
    EXPECT_EQ(engine.Finish(), 0);
  }
}

TEST(UciStartTest, EndOfInputBeforeTheFirstLineEndsWithCodeOne) {
  TemporaryDirectory scratch;
  EngineProcess engine(AbsoluteProgram(), {"starttest"}, scratch.Path.string(), scratch / "stderr");
  EXPECT_EQ(engine.Finish(), 1);
  EXPECT_FALSE(engine.ReadLine(1000));
}

// The first piped line picks the dialogue by its prefix and is consumed:
// "ucinewgame" is UCI (which then answers "isready"), "xboard" with more
// letters is xboard (its feature header first), "Uci" is the console.
TEST(UciStartTest, FirstPipedLineChoosesTheDialogue) {
  struct Case {
    const char* firstLine;
    const char* expected;  // the first line that tells the dialogue apart
  };
  const Case cases[] = {
      {"ucinewgame", "readyok"},
      {"xboardxyz", "# feature done=0"},
      {"Uci", "The Quelm"},
  };
  for (const Case& c : cases) {
    TemporaryDirectory scratch;
    EngineProcess engine(AbsoluteProgram(), {"starttest"}, scratch.Path.string(), scratch / "stderr");
    engine.Send(c.firstLine);
    engine.Send("isready");
    EXPECT_TRUE(engine.ReadUntil(c.expected, 10000)) << c.firstLine << ":\n" << engine.TranscriptText();
    engine.Send("quit");
    EXPECT_EQ(engine.Finish(), 0) << c.firstLine;
  }
}

TEST(UciStartTest, MissingMessagesFileIsFatal) {
  TemporaryDirectory scratch;
  // A copy of the program with no messages file beside it or in its directory.
  std::string copy = scratch / "quelm3-copy";
  std::filesystem::copy_file(EngineProgramPath(), copy);
  EngineProcess engine(copy, {"starttest"}, scratch.Path.string(), scratch / "stderr");
  engine.Send("uci");
  EXPECT_EQ(engine.Finish(), 1);
  EXPECT_EQ(ReadWholeFile(scratch / "stderr"), "FATAL ERROR: Cannot read the english messages file\n");
  // Start-up may have told the processor's features; the greeting never came.
  while (auto line = engine.ReadLine(1000)) EXPECT_EQ(*line, "info string CPU has POPCNT");
}

TEST(UciStartTest, ConfigurationAndMessagesAreFoundBesideTheProgram) {
  TemporaryDirectory scratch;
  std::filesystem::create_directory(scratch / "program");
  std::string program = scratch / "program/quelm3";
  std::filesystem::copy_file(EngineProgramPath(), program);
  std::filesystem::copy_file("english.lng", scratch / "program/english.lng");
  std::ofstream(scratch / "program/besideini.ini") << "mainhash 3\ncpus 2\n";
  std::filesystem::create_directory(scratch / "elsewhere");
  EngineProcess engine(program, {"besideini"}, scratch / "elsewhere", scratch / "stderr");
  engine.Send("uci");
  EXPECT_TRUE(engine.ReadUntil("option name Hash type spin default 3 "));
  EXPECT_TRUE(engine.ReadUntil("option name Threads type spin default 2 "));
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
}

}  // namespace
