// The measuring tools: perft against the shared reference counts, the
// benchmark's report and its repeatable node count, the SMP benchmark's
// sequence, the EPD runner's verdicts, the symmetry test and the evaluation
// dump; and that every tool leaves the console's game and settings alone.
#include "frontend/bench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console_fixture.h"
#include "engine/attacks.h"
#include "engine/eval.h"
#include "engine/game.h"
#include "engine/pawns.h"
#include "engine/smp.h"
#include "shared_data.h"

namespace {

class BenchTest : public ConsoleTest {
protected:
  // The console's own state that no tool may change.
  struct Snapshot {
    std::string Fen;
    int GamePly, EngineSide, MovesToGo, Base, Increment, FixedDepth, TimeLeft, Variant;
    bool Post, EasyMove;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take() {
    return {Console.Game.GetFEN(),        Console.Game.GamePly,       Console.EngineSide,
            ClockSettings::MovesToGo,     ClockSettings::BaseSeconds, ClockSettings::IncrementMs,
            ClockSettings::FixedDepth,    ClockSettings::TimeLeftMs,  Settings::DefaultVariant,
            Console.GetPost(),            Settings::EasyMove};
  }
  // A console in the middle of a game with a time control of its own.
  void SetUpGame() {
    Handle({"force", "e2e4", "c7c5", "level 40 5 2", "post"});
  }
};

struct PerftCase {
  std::string Fen;
  int Depth;
  unsigned long long Count;
};

std::vector<PerftCase> ReadPerftFile(const std::filesystem::path& path) {
  std::vector<PerftCase> cases;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t bar1 = line.find('|'), bar2 = line.find('|', bar1 + 1);
    cases.push_back({line.substr(0, bar1), std::stoi(line.substr(bar1 + 1, bar2 - bar1 - 1)),
                     std::stoull(line.substr(bar2 + 1))});
  }
  return cases;
}

unsigned long long PerftValue(const std::string& output) {
  const std::size_t at = output.find("perft=");
  return at == std::string::npos ? 0 : std::stoull(output.substr(at + 6));
}

TEST_F(BenchTest, PerftOfTheStartPosition) {
  EXPECT_EQ(PerftValue(Handle({"perft 1"})), 20u);
  EXPECT_EQ(PerftValue(Handle({"perft 2"})), 400u);
  EXPECT_EQ(PerftValue(Handle({"perft 0"})), 1u);
  const std::string output = Handle({"perft 3"});
  EXPECT_EQ(output.find("perft=8902\ntime-spent="), 0u) << output;
}

TEST_F(BenchTest, PerftCommandMatchesTheReferenceCounts) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  const std::vector<PerftCase> cases = ReadPerftFile(path);
  ASSERT_GE(cases.size(), 20u);
  for (const PerftCase& c : cases) {
    SCOPED_TRACE(c.Fen);
    Handle({"setboard " + c.Fen});
    const std::string before = Console.Game.GetFEN();
    EXPECT_EQ(PerftValue(Handle({"perft " + std::to_string(c.Depth)})), c.Count);
    EXPECT_EQ(Console.Game.GetFEN(), before);
  }
}

TEST_F(BenchTest, TotalperftAddsTheCountsOfEveryLine) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  const std::vector<PerftCase> cases = ReadPerftFile(path);
  std::string fens;
  unsigned long long expected = 0;
  SetUpGame();
  for (const PerftCase& c : cases) {
    fens += c.Fen + "\n";
    Handle({"setboard " + c.Fen});
    expected += PerftValue(Handle({"perft 2"}));
  }
  WriteFile("positions.fen", fens);
  SetUpGame();
  const Snapshot before = Take();
  const std::string output = Handle({"totalperft 2 " + Scratch / "positions.fen"});
  EXPECT_EQ(CountOf(output, " - "), static_cast<int>(cases.size()));
  EXPECT_NE(output.find("totalperft = " + std::to_string(expected) + "\n"), std::string::npos) << output;
  EXPECT_TRUE(Take() == before);
}

TEST_F(BenchTest, TotalperftReportsBadLinesAndMissingFiles) {
  WriteFile("mixed.fen",
            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\n"
            "this is no position\n"
            "\n"
            "8/8/8/8/8/8/8/8 w - -\n"
            "4k3/8/8/8/8/8/8/4K3 w - -\n");
  const std::string output = Handle({"totalperft 1 " + Scratch / "mixed.fen"});
  EXPECT_EQ(output.find("20 - 20\nLine 2 skipped: "), 0u) << output;
  EXPECT_NE(output.find("\nLine 4 skipped: "), std::string::npos) << output;
  EXPECT_NE(output.find("\n5 - 25\ntotalperft = 25\n"), std::string::npos) << output;

  EXPECT_EQ(Handle({"totalperft 1 " + Scratch / "absent.fen"}),
            "Could not open the fen-file " + Scratch / "absent.fen" + "\ntotalperft = 0\n");
}

// The statistics report of a short benchmark; the console's "bench" runs the
// same code at the full depths.
TEST_F(BenchTest, BenchPrintsOneTimePerPositionAndTheReport) {
  SetUpGame();
  const Snapshot before = Take();
  auto total = std::make_unique<StatisticsTotal>();
  StreamCapture capture(1, Scratch / "stdout");
  Bench(*total, -5, true);
  PrintSearchStatistics(*total);
  const std::string output = capture.Finish();

  EXPECT_EQ(output.find("Doing the benchmark on depth -5\nTime: "), 0u) << output;
  EXPECT_EQ(CountOf(output, "\nTime: "), 10) << output;
  const char* lines[] = {"\nTotal Time:           ", "\nTotal Nodes:          ", "\nInner Nodes:          ",
                         "\nQnodes:               ", "\nHash Performance:          ",
                         "\nQHash Performance:         ", "\nPawn Hash Perf:            ",
                         "\nCheck Extensions:     ", "\nQueen Cap Extensions: ", "\nCapture Extensions:   ",
                         "\nSingular Search:      ", "\nSingular Extensions:  ", "\nCutnodes:             ",
                         "\nAllnodes:             ", "\nCutnode moveordering:         ",
                         "\nAllnode moveordering:         ", "\nFalse Allnodes:               ",
                         "\nNullmoves:            ", "\nNullmove cut ratio:           ",
                         "\nQsearch efficiency:           ", "\nBranching factor:             ",
                         "\nSplits:               ", "\nBitbase hits:         ", "\nSyzygy WDL hits:      ",
                         "\nkNodes per second: ", "\nMNodes per second: "};
  std::size_t place = 0;
  for (const char* line : lines) {
    const std::size_t found = output.find(line, place);
    EXPECT_NE(found, std::string::npos) << line << "\n" << output;
    if (found != std::string::npos) place = found;
  }
  EXPECT_EQ(output.find("nan"), std::string::npos) << output;
  EXPECT_EQ(output.find("SMP Efficiency"), std::string::npos);
  EXPECT_TRUE(Take() == before);
  EXPECT_EQ(Console.Mode, ModeIdle);
}

TEST_F(BenchTest, BenchTimeIsTheSumOfThePrintedTimes) {
  auto total = std::make_unique<StatisticsTotal>();
  StreamCapture capture(1, Scratch / "stdout");
  Bench(*total, -5, true);
  const std::string output = capture.Finish();
  int sum = 0;
  for (std::size_t at = output.find("Time: "); at != std::string::npos; at = output.find("Time: ", at + 1))
    sum += std::atoi(output.c_str() + at + 6);
  EXPECT_EQ(static_cast<int>((*total)[0].EndTime), sum);
}

std::string TotalNodesLine(const std::string& output) {
  const std::size_t at = output.find("Total Nodes:");
  return at == std::string::npos ? "" : output.substr(at, output.find('\n', at) - at);
}

TEST_F(BenchTest, BenchCommandNodeCountIsTheSameOnEveryRun) {
  // The table the program starts with: its size shapes the tree.
  TranspositionTable::Allocate(Settings::MainHash);
  const std::string first = Handle({"bench 0"});
  // Other searches in between must leave nothing behind that counts.
  auto other = std::make_unique<StatisticsTotal>();
  Bench(*other, -5, false);
  const std::string second = Handle({"bench 0"});
  EXPECT_EQ(first.find("Doing the benchmark on depth 0\n"), 0u) << first;
  EXPECT_EQ(CountOf(first, "\nTime: "), 10) << first;
  EXPECT_NE(first.find("\nkNodes per second: "), std::string::npos) << first;
  EXPECT_NE(TotalNodesLine(first), "");
  EXPECT_EQ(TotalNodesLine(first), TotalNodesLine(second)) << first << second;
  // The count is the single-thread search's signature, the same in both
  // builds: a change meant to leave the search as it is must keep it.
  EXPECT_EQ(TotalNodesLine(first), "Total Nodes:             2185922") << first;
  EXPECT_EQ(Console.EngineSide, -1);
  TranspositionTable::Allocate(16);
}

TEST_F(BenchTest, BenchOutsideTheConsolePrintsNothing) {
  ActiveFrontEnd = nullptr;
  auto total = std::make_unique<StatisticsTotal>();
  StreamCapture capture(1, Scratch / "stdout");
  Bench(*total, -6, true);
  EXPECT_EQ(capture.Finish(), "");
  EXPECT_GT(total->QNodes(), 0u);
}

TEST_F(BenchTest, SmpBenchRunsTheReferenceOnceAndFiveRuns) {
  SmpReference = {};
  const int cpus = Settings::Cpus;
  StreamCapture capture(1, Scratch / "stdout");
  SmpBenchInit(-6);
  SmpBench(2);
  SmpBenchInit(-6);
  SmpBench(1);
  const std::string output = capture.Finish();
  EXPECT_EQ(output.find("Initializing SMP Benchmark for depth -6\r"), 0u) << output;
  EXPECT_EQ(CountOf(output, "Initializing"), 1) << output;
  EXPECT_EQ(CountOf(output, "Running SMP Benchmark for "), 10) << output;
  EXPECT_NE(output.find(" - run 5/5     \r"), std::string::npos);
  EXPECT_EQ(CountOf(output, "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n"), 2) << output;
  EXPECT_NE(output.find("\tSplit Success: "), std::string::npos) << output;
  EXPECT_EQ(output.find("nan"), std::string::npos) << output;
  // Where two threads cannot search, the runs say how many were measured.
  const bool twoThreads = !SetNumberOfThreads(2);
  SetNumberOfThreads(1);
  EXPECT_EQ(output.find("Only 1 of the 2 threads asked for can search: measuring 1\n") != std::string::npos,
            !twoThreads);
  EXPECT_EQ(Settings::Cpus, cpus);
}

// The number the SMP report prints after a label such as "\tWorking time:".
double SmpReportValue(const std::string& output, const std::string& label) {
  const std::size_t at = output.find(label);
  return at == std::string::npos ? -1 : std::stod(output.substr(at + label.size()));
}

TEST_F(BenchTest, SmpBenchCountsTheTimeTheWorkersSearch) {
  if (SetNumberOfThreads(2)) GTEST_SKIP() << "two threads cannot search here";
  SetNumberOfThreads(1);
  SmpReference = {};
  StreamCapture capture(1, Scratch / "stdout");
  SmpBenchInit(-4);
  SmpBench(2);
  const std::string output = capture.Finish();
  // Working time is the threads' search time over the wall time: the main
  // thread searches the whole time, so it cannot be nothing, and the idle
  // time, the rest of the two threads, cannot be both of them.
  const double working = SmpReportValue(output, "\tWorking time:");
  EXPECT_GT(working, 0.0) << output;
  const double idle = SmpReportValue(output, "\tIdle Time:");
  EXPECT_GE(idle, -0.5) << output;
  EXPECT_LT(idle, 2.0) << output;
  EXPECT_NEAR(idle, 2.0 - working, 0.01) << output;
}

// Positions with one clearly best move: mates in one and free pieces.
const char* const SolvableSuite =
    "6k1/5ppp/8/8/8/8/8/R5K1 w - - bm Ra8#; id \"back rank\";\n"
    "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - bm Qxf7#; id \"scholar\";\n"
    "r5k1/5ppp/8/8/8/8/5PPP/6K1 b - - bm Ra1#; id \"black back rank\";\n"
    "4k3/8/8/3q4/4P3/8/8/4K3 w - - bm exd5; id \"pawn takes queen\";\n"
    "4k3/8/8/8/3n4/8/3R4/4K3 w - - bm Rxd4; id \"rook takes knight\";\n"
    "k7/8/1K6/8/8/8/8/7R w - - bm Rh8#; id \"corner mate\";\n"
    "6rk/6pp/7N/8/8/8/8/6K1 w - - bm Nf7#; id \"smothered\";\n"
    "4k3/8/8/8/8/8/3r4/3QK3 w - - bm Qxd2 Kxd2; id \"either capture\";\n"
    "3qk3/8/8/8/8/8/8/3RK3 w - - bm Rxd8+; id \"rook takes queen\";\n"
    "4k3/8/8/8/8/8/5q2/4K2R w K - am Kd1 Ke2; id \"take the queen\";\n"
    "rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - bm Qh4#; id \"fool's mate\";\n"
    "7k/6pp/8/8/8/8/B7/K2R4 w - - bm Rd8#; id \"bishop guards\";\n";

TEST_F(BenchTest, EpdRunScoresASolvableSuite) {
  WriteFile("suite.epd", SolvableSuite);
  SetUpGame();
  const Snapshot before = Take();
  const std::string output = Handle({"test 1 " + Scratch / "suite.epd"});
  EXPECT_NE(output.find("\rCalculation on position 12"), std::string::npos) << output;
  EXPECT_NE(output.find("\rResults:                           \n\tscored 12 out of 12\n"), std::string::npos)
      << output;
  EXPECT_TRUE(Take() == before);
}

TEST_F(BenchTest, EpdRunTellsAvoidedFromMissedMoves) {
  // The search never plays e2e4 here: it mates at once.
  WriteFile("verdicts.epd",
            "6k1/5ppp/8/8/8/8/4P3/R5K1 w - - am e4; id \"avoided\";\n"
            "6k1/5ppp/8/8/8/8/4P3/R5K1 w - - bm e4; id \"missed\";\n"
            "6k1/5ppp/8/8/8/8/4P3/R5K1 w - - bm Zz9; id \"unknown move\";\n");
  const std::string output = Handle({"test 1 " + Scratch / "verdicts.epd"});
  EXPECT_NE(output.find("\rError 2: a1a8? Position 6k1/5ppp/8/8/8/8/4P3/R5K1 w - - bm ( e2e4 ) \n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("\rError 3: a1a8? Position 6k1/5ppp/8/8/8/8/4P3/R5K1 w - - bm ( Zz9 ) \n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("\tscored 1 out of 3\n"), std::string::npos) << output;
}

TEST_F(BenchTest, EpdRunSkipsBadLinesAndKeepsTheConsoleState) {
  WriteFile("bad.epd",
            "x\n"
            "4k3/8/8/8\n"
            "4k3/8/8/8/8/8/8/8 w - - bm Ke2;\n"
            "4k3/8/8/3q4/4P3/8/8/4K3 w - - bm exd5;\n");
  SetUpGame();
  const Snapshot before = Take();
  const std::string output = Handle({"test 1 " + Scratch / "bad.epd"});
  EXPECT_NE(output.find("Line 2 skipped: fewer than four FEN fields\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Line 3 skipped: "), std::string::npos) << output;
  EXPECT_NE(output.find("\tscored 1 out of 1\n"), std::string::npos) << output;
  EXPECT_TRUE(Take() == before);

  EXPECT_EQ(Handle({"test 1 " + Scratch / "absent.epd"}),
            "Could not open the epd-file " + Scratch / "absent.epd" + "\n");
}

TEST_F(BenchTest, SymmetryTestFindsOnlyTheBishopAsymmetry) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  std::string fens;
  int count = 0;
  for (const PerftCase& c : ReadPerftFile(path)) {
    // Normal chess only: Chess960 castling fields name the rooks' files.
    std::istringstream fields(c.Fen);
    std::string board, side, castling;
    fields >> board >> side >> castling;
    if (castling.find_first_not_of("KQkq-") != std::string::npos) continue;
    fens += c.Fen + "\n";
    ++count;
  }
  fens += "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4\n";
  ++count;
  WriteFile("positions.fen", fens);
  SetUpGame();
  Handle({"variant fischerandom"});
  const Snapshot before = Take();
  const std::string output = Handle({"symtest " + Scratch / "positions.fen"});
  EXPECT_TRUE(Take() == before);
  EXPECT_NE(output.find(std::to_string(count) + " positions checked\n"), std::string::npos) << output;
  // Every position reported carries a bishop.
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(" score=") == std::string::npos) continue;
    const std::string board = line.substr(0, line.find(' '));
    EXPECT_NE(board.find_first_of("bB"), std::string::npos) << line;
  }
}

TEST_F(BenchTest, SymmetryTestStopsAtAnEmptyLine) {
  WriteFile("empty.fen", "\n4k3/8/8/8/8/8/8/4K3 w - -\n");
  EXPECT_EQ(Handle({"symtest " + Scratch / "empty.fen"}), "0 positions checked\n0 errors found\n");
  WriteFile("bad.fen", "4k3/8/8/8/8/8/8/4K3 w - -\nnonsense\n4k3/8/8/8/8/8/4P3/4K3 b - -\n");
  const std::string output = Handle({"symtest " + Scratch / "bad.fen"});
  EXPECT_NE(output.find("Line 2 skipped: "), std::string::npos) << output;
  EXPECT_NE(output.find("2 positions checked\n0 errors found\n"), std::string::npos) << output;
  EXPECT_EQ(Handle({"symtest " + Scratch / "absent.fen"}),
            "Could not open the fen-file " + Scratch / "absent.fen" + "\n");
}

TEST_F(BenchTest, DumpEvalWritesBesideItsInput) {
  const std::string fens[] = {"4k3/8/8/3q4/4P3/8/8/4K3 w - -", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"};
  WriteFile("pos.fen", fens[0] + "\nbad line\n" + fens[1] + "\n");
  const std::string output = Handle({"dumpeval " + Scratch / "pos.fen" + " 3"});
  EXPECT_NE(output.find("Line 2 skipped: "), std::string::npos) << output;
  EXPECT_NE(output.find("2 positions dumped\n"), std::string::npos) << output;

  std::string expected;
  for (const std::string& fen : fens) {
    Position position;
    ASSERT_FALSE(position.ParseFEN(fen.c_str()));
    AttackMaps maps;
    position.BuildAttackMaps(maps);
    expected += "score=" + std::to_string(Evaluate(position, maps, 0)) + " fen=" + fen + "\n";
  }
  EXPECT_EQ(ReadWholeFile(Scratch / "dump3.pos.fen"), expected);

  EXPECT_EQ(Handle({"dumpeval " + Scratch / "absent.fen 1"}),
            "Could not open the fen-file " + Scratch / "absent.fen" + "\n");
  EXPECT_EQ(Handle({"dumpeval " + Scratch / "pos.fen" + " -1"}).find("Could not"), std::string::npos);
  std::filesystem::create_directory(Scratch / "dump4.pos.fen");
  EXPECT_EQ(Handle({"dumpeval " + Scratch / "pos.fen" + " 4"}),
            "Could not open the dump-file " + Scratch / "dump4.pos.fen" + "\n");
}

}  // namespace
