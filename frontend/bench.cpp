// The measuring tools of the console. Each one sets up positions of its own,
// so the console's game is never touched, and puts back every setting and
// the clock it changed, also when a line of its input is bad.
#include "frontend/bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/attacks.h"
#include "engine/driver.h"
#include "engine/eval.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/learning.h"
#include "engine/movegen.h"
#include "engine/movetext.h"
#include "engine/pawns.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "support/output.h"

// FEN text (at most 79 characters) and the depth of each benchmark search.
const BenchPosition BenchPositions[BenchPositionCount] = {
    {"r3kn1r/pp2bpp1/2p1bn1p/q2p4/3P3B/2NBP2P/PPQ1NPP1/1K1R3R w kq -", 8},
    {"2kr2nr/ppp2ppp/2b1pq2/8/1b1PP3/2NBBPP1/PP5P/R2QK2R b KQ -", 8},
    {"2rq1rk1/pb3ppp/1p2p3/n7/3PP3/3B1N2/P2Q1PPP/3RR1K1 w - -", 8},
    {"r1bqr1kb/pp5p/4ppp1/2pPP3/2P2P2/8/P2QB1PP/1RB1K2R w K -", 8},
    {"1r2q1k1/p1rn3p/1pp1pp2/P2n4/1P1P4/Q4N2/5PPP/2RR1BK1 w - -", 9},
    {"r2q1rk1/pppnb1pp/8/3P1p2/N1PQ4/8/PP2B1PP/R4RK1 b - -", 9},
    {"r3rbk1/1bqn1ppp/pp1ppn2/8/2PNP3/2N1BP2/PP1Q2PP/2RR1BK1 w - -", 8},
    {"r1bq1rk1/1pp1bppp/p1p5/2n1P3/3N4/2N5/PPP2PPP/R1BQR1K1 b - -", 8},
    {"r2qr1k1/pp3pbp/n5p1/2pP1b2/2Q1nB2/2N2N2/PP2BPPP/3R1RK1 w - -", 8},
    {"r3k2r/pp1bb1pp/1q2pn2/3pB3/1P6/2PB4/P4PPP/RN1Q1RK1 w kq -", 8},
};

SmpReferenceRun SmpReference;

namespace {

// The longest line the file tools take; a FEN or EPD record is far shorter,
// so a longer line cannot be one.
constexpr std::size_t MaxToolLine = 1023;
constexpr std::size_t MaxPerftLine = 255;

// Everything of the clock a tool overwrites, so that the user's time control
// survives a benchmark or a test run.
struct ClockSnapshot {
  std::int32_t MovesToGo = ClockSettings::MovesToGo;
  std::int32_t BaseSeconds = ClockSettings::BaseSeconds;
  std::int32_t IncrementMs = ClockSettings::IncrementMs;
  std::int32_t FixedDepth = ClockSettings::FixedDepth;
  std::int32_t Unused = ClockSettings::Unused;
  std::int32_t TimeLeftMs = ClockSettings::TimeLeftMs;

  ~ClockSnapshot() {
    ClockSettings::MovesToGo = MovesToGo;
    ClockSettings::BaseSeconds = BaseSeconds;
    ClockSettings::IncrementMs = IncrementMs;
    ClockSettings::FixedDepth = FixedDepth;
    ClockSettings::Unused = Unused;
    ClockSettings::TimeLeftMs = TimeLeftMs;
  }
};

// The post flag of the active front end, off while a tool searches.
class PostOff {
public:
  PostOff() : Saved(ActiveFrontEnd && ActiveFrontEnd->GetPost()) {
    if (ActiveFrontEnd) ActiveFrontEnd->SetPost(false);
  }
  ~PostOff() {
    if (ActiveFrontEnd) ActiveFrontEnd->SetPost(Saved);
  }

private:
  bool Saved;
};

void SetFrontEndMode(FrontEndMode mode) {
  if (ActiveFrontEnd) ActiveFrontEnd->Mode = mode;
}

void SetClock(int movesToGo, int baseSeconds, int fixedDepth) {
  ClockSettings::MovesToGo = movesToGo;
  ClockSettings::BaseSeconds = baseSeconds;
  ClockSettings::IncrementMs = 0;
  ClockSettings::FixedDepth = fixedDepth;
  ClockSettings::Unused = 0;
}

// One search of a tool: the front end is busy while it runs, so a command
// typed meanwhile is answered as during thinking.
void SearchAsTool(ChessGame& game) {
  AllocateTime(game, AllocateOwnMove);
  SetFrontEndMode(ModeBusy);
  Think(game, nullptr);
  SetFrontEndMode(ModeIdle);
}

void ReportInfo(const char* text) {
  if (ActiveFrontEnd)
    ActiveFrontEnd->Info(text);
  else
    Printer.Print(ChannelStdout, false, "%s\n", text);
}

void ReportBadLine(int lineNumber, const char* reason) {
  Printer.Print(ChannelStdout, false, "Line %d skipped: %s\n", lineNumber, reason);
}

// A ratio of counters; a report over an empty run shows 0 rather than nan.
double Ratio(double part, double whole) { return whole != 0 ? part / whole : 0.0; }

template <class T>
double SumOf(const StatisticsTotal& total, const StatCounter<T> SearchStatistics::*field) {
  double sum = 0;
  for (const SearchStatistics& record : total.Records) sum += static_cast<double>(record.*field);
  return sum;
}

// Reads the text lines of a file one at a time, numbering them from 1, with
// the line end (and a '\r' before it) removed.
class TextLines {
public:
  explicit TextLines(const char* path) : File(path) {}
  bool IsOpen() const { return File.is_open(); }
  bool Next(std::string& line) {
    if (!std::getline(File, line)) return false;
    ++Number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
  int Number = 0;

private:
  std::ifstream File;
};

// The evaluation of a position as the symmetry test and the dump need it:
// fresh attack maps, thread 0's pawn table.
int EvaluateFresh(const Position& position) {
  AttackMaps maps;
  position.BuildAttackMaps(maps);
  return Evaluate(position, maps, 0);
}

// The first four fields of an EPD record, or empty when it has fewer.
std::string EpdFen(const std::string& line) {
  std::size_t place = 0;
  for (int field = 0; field < 4; ++field) {
    while (place < line.size() && line[place] == ' ') ++place;
    if (place == line.size()) return "";
    while (place < line.size() && line[place] != ' ') ++place;
  }
  return line.substr(0, place);
}

// The moves an EPD operation (" am " or " bm ") names, as found in the
// position's list; a name that is not a legal move is kept with no move, so
// that it matches nothing.
struct EpdMoves {
  static constexpr int Capacity = 8;
  Move Moves[Capacity] = {};
  std::string Names[Capacity];
  int Count = 0;

  void Read(const std::string& line, const char* opcode, ChessGame& game) {
    std::size_t at = line.find(opcode);
    if (at == std::string::npos) return;
    std::string operands = line.substr(at + std::strlen(opcode));
    operands = operands.substr(0, operands.find_first_of(";\n\r"));
    std::vector<char> text(operands.begin(), operands.end());
    text.push_back('\0');
    char* state = nullptr;
    for (char* word = strtok_r(text.data(), " +#", &state); word && Count < Capacity;
         word = strtok_r(nullptr, " +#", &state)) {
      const int index = ParseSanMove(game.Moves, game, word);
      Moves[Count] = index < 0 ? NoMove : game.Moves.Moves[index];
      Names[Count] = word;
      ++Count;
    }
  }
  bool Contains(Move move) const {
    for (int i = 0; i < Count; ++i)
      if (Moves[i] != NoMove && (Moves[i] & 0xffff) == (move & 0xffff)) return true;
    return false;
  }
  void Print(const ChessGame& game, const char* name) const {
    Printer.Print(ChannelStdout, false, "%s ( ", name);
    for (int i = 0; i < Count; ++i)
      Printer.Print(ChannelStdout, false, "%s ", Moves[i] ? MoveToText(game, Moves[i]) : Names[i].c_str());
    Printer.Print(ChannelStdout, false, ") ");
  }
};

// The file the evaluation dump writes: "dump<n>." before the input's own
// name, in the input's directory.
std::string DumpFileName(const char* input, int n) {
  const std::string path = input;
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "dump%d.", n);
  return path.substr(0, nameStart) + prefix + path.substr(nameStart);
}

// The largest thread count up to wanted that the search can have.
int UsableThreads(int wanted) {
  for (int count = wanted; count > 1; --count)
    if (!SetNumberOfThreads(count)) return count;
  return 1;
}

}  // namespace

void Bench(StatisticsTotal& total, int depthIncrement, bool print) {
  PostOff post;
  print = print && ActiveFrontEnd && ActiveFrontEnd->Kind == ProtocolConsole;
  // Benchmark searches neither read nor fill the learning table.
  Learning* const learning = ActiveLearning;
  ActiveLearning = nullptr;
  ClockSnapshot clock;

  if (print) Printer.Print(ChannelStdout, false, "Doing the benchmark on depth %d\n", depthIncrement);
  total.Clear();
  for (PawnHash& slot : PawnHashes) slot.Probes = slot.Hits = 0;

  for (const BenchPosition& position : BenchPositions) {
    std::unique_ptr<ChessGame> game(new (std::nothrow) ChessGame);
    if (!game) {
      ReportInfo("Cannot allocate memory for a game object");
      continue;
    }
    game->SetFEN(position.Fen);
    TranspositionTable::Clear();
    SetClock(0, 0, position.Depth + depthIncrement);
    SearchAsTool(*game);
    // The search's own end time is added by AddSearchStatistics; the time
    // measured here replaces it, so that each search counts once.
    const std::int32_t timeBefore = total[0].EndTime;
    AddSearchStatistics(total);
    const std::int32_t elapsed = SearchClock.Elapsed();
    total[0].EndTime = timeBefore + elapsed;
    if (print) Printer.Print(ChannelStdout, false, "Time: %d ms\n", elapsed);
  }

  std::uint64_t hits = 0, probes = 0;
  for (const PawnHash& slot : PawnHashes) {
    hits += slot.Hits;
    probes += slot.Probes;
  }
  total.PawnHits = hits;
  total.PawnProbes = probes;
  ActiveLearning = learning;
}

void PrintSearchStatistics(const StatisticsTotal& total) {
  using S = SearchStatistics;
  const double t = static_cast<double>(static_cast<std::int32_t>(total[0].EndTime));
  const double inner = SumOf(total, &S::InnerNodes);
  const double qnodes = SumOf(total, &S::QNodes);
  const double nullMoves = SumOf(total, &S::NullMoves);
  const double n = nullMoves + qnodes + inner;
  const double hashProbes = SumOf(total, &S::HashProbes);
  const double qhashProbes = SumOf(total, &S::QHashProbes);
  const double cutNodes = SumOf(total, &S::CutNodes);
  const double allNodes = SumOf(total, &S::AllNodes);
  const double workTime = SumOf(total, &S::WorkTime);
  const int threads = ThreadCount.load();
  auto asU32 = [](double value) { return static_cast<unsigned>(value); };
  auto asU64 = [](double value) { return static_cast<unsigned long long>(value); };

  Printer.Print(ChannelStdout, false, "\n");
  Printer.Print(ChannelStdout, false, "Total Time:           %7.2f seconds\n", t * 0.001);
  Printer.Print(ChannelStdout, false, "Total Nodes:          %10llu\n", asU64(n));
  Printer.Print(ChannelStdout, false, "Inner Nodes:          %10llu ", asU64(inner));
  Printer.Print(ChannelStdout, false, "(%3.1f%%)\n", Ratio(inner * 100, n));
  Printer.Print(ChannelStdout, false, "Qnodes:               %10llu ", asU64(qnodes));
  Printer.Print(ChannelStdout, false, "(%3.1f%%)\n", Ratio(qnodes * 100, n));
  Printer.Print(ChannelStdout, false, "Hash Performance:          %7.2f%%-%4.2f%%\n",
                Ratio(100 * SumOf(total, &S::HashHits), hashProbes), Ratio(100 * SumOf(total, &S::HashCutoffs), hashProbes));
  Printer.Print(ChannelStdout, false, "QHash Performance:         %7.2f%%-%4.2f%%\n",
                Ratio(100 * SumOf(total, &S::QHashHits), qhashProbes),
                Ratio(100 * SumOf(total, &S::QHashCutoffs), qhashProbes));
  Printer.Print(ChannelStdout, false, "Pawn Hash Perf:            %7.2f%%\n",
                Ratio(100 * static_cast<double>(total.PawnHits), static_cast<double>(total.PawnProbes)));
  Printer.Print(ChannelStdout, false, "Check Extensions:     %10u\n", asU32(SumOf(total, &S::CheckExtensions)));
  Printer.Print(ChannelStdout, false, "Queen Cap Extensions: %10u\n", asU32(SumOf(total, &S::QueenCaptureExtensions)));
  Printer.Print(ChannelStdout, false, "Capture Extensions:   %10u\n", asU32(SumOf(total, &S::CaptureExtensions)));
  Printer.Print(ChannelStdout, false, "Singular Search:      %10u\n", asU32(SumOf(total, &S::SingularSearches)));
  Printer.Print(ChannelStdout, false, "Singular Extensions:  %10u\n", asU32(SumOf(total, &S::SingularExtensions)));
  Printer.Print(ChannelStdout, false, "Cutnodes:             %10u\n", asU32(SumOf(total, &S::NullCutoffs) + cutNodes));
  Printer.Print(ChannelStdout, false, "Allnodes:             %10u\n", asU32(allNodes));
  Printer.Print(ChannelStdout, false, "Cutnode moveordering:         %5.2f%%\n",
                Ratio(100 * SumOf(total, &S::CutNodeOrdering), cutNodes));
  Printer.Print(ChannelStdout, false, "Allnode moveordering:         %5.2f%%\n",
                Ratio(100 * SumOf(total, &S::AllNodeOrdering), allNodes));
  Printer.Print(ChannelStdout, false, "False Allnodes:               %5.2f%%\n",
                Ratio(100 * SumOf(total, &S::FalseAllNodes), SumOf(total, &S::AllNodeTotal)));
  Printer.Print(ChannelStdout, false, "Nullmoves:            %10u\n", asU32(nullMoves));
  Printer.Print(ChannelStdout, false, "Nullmove cut ratio:           %5.2f%%\n",
                Ratio(100 * SumOf(total, &S::NullCutoffs), nullMoves));
  Printer.Print(ChannelStdout, false, "Qsearch efficiency:           %5.2f%%\n",
                Ratio(100 * SumOf(total, &S::QsearchEfficient), SumOf(total, &S::QsearchTotal)));
  Printer.Print(ChannelStdout, false, "Branching factor:             %5.2fx\n",
                std::sqrt(Ratio(n, SumOf(total, &S::BranchingBase))));
  Printer.Print(ChannelStdout, false, "Splits:               %10u\n", asU32(SumOf(total, &S::Splits)));
  if (threads > 1) {
    Printer.Print(ChannelStdout, false, "SMP Efficiency:        %5.2f%%\n", Ratio(workTime * 100, threads * t));
    Printer.Print(ChannelStdout, false, "Work time:             %5.2f%%\n", Ratio(workTime * 100, t));
    Printer.Print(ChannelStdout, false, "Master idle time:      %5.2f%%\n", Ratio(SumOf(total, &S::IdleTime) * 100, t));
  }
  Printer.Print(ChannelStdout, false, "Bitbase hits:         %10llu\n", asU64(SumOf(total, &S::BitbaseHits)));
  Printer.Print(ChannelStdout, false, "Syzygy WDL hits:      %10llu\n", asU64(SumOf(total, &S::SyzygyHits)));
  Printer.Print(ChannelStdout, false, "kNodes per second: %7.2lf\n", Ratio(n, t));
  Printer.Print(ChannelStdout, false, "MNodes per second: %7.2lf\n", Ratio(n, t * 1024));
}

void SmpBenchInit(int depth) {
  if (SmpReference.Depth == depth) return;
  Printer.Print(ChannelStdout, false, "Initializing SMP Benchmark for depth %d\r", depth);
  const int cpus = Settings::Cpus;
  Settings::Cpus = 1;
  auto total = std::make_unique<StatisticsTotal>();
  Bench(*total, depth, false);
  SmpReference = {depth, static_cast<std::int32_t>((*total)[0].EndTime), total->InnerNodes(), total->QNodes()};
  Settings::Cpus = std::clamp(cpus, 1, MaxWorkers);
}

void SmpBench(int threads) {
  if (SmpReference.Depth == -1) return;
  const int cpus = Settings::Cpus;
  const int wanted = std::clamp(threads, 1, MaxWorkers);
  // Without helper threads the search runs on what it can start; the report
  // says so and names the count that was measured.
  threads = UsableThreads(wanted);
  if (threads < wanted)
    Printer.Print(ChannelStdout, false, "Only %d of the %d threads asked for can search: measuring %d\n", threads,
                  wanted, threads);
  Settings::Cpus = threads;
  const int depth = SmpReference.Depth;
  double time = 0, idle = 0, work = 0, inner = 0, qnodes = 0, splits = 0, failedSplits = 0;
  constexpr int Runs = 5;
  auto total = std::make_unique<StatisticsTotal>();
  for (int run = 1; run <= Runs; ++run) {
    Printer.Print(ChannelStdout, false, "Running SMP Benchmark for %d cores on depth %d - run %d/%d     \r", threads,
                  depth, run, Runs);
    Bench(*total, depth, false);
    time += static_cast<std::int32_t>((*total)[0].EndTime);
    idle += total->IdleTime();
    work += total->WorkTime();
    inner += static_cast<double>(total->InnerNodes());
    qnodes += static_cast<double>(total->QNodes());
    splits += total->Splits();
    failedSplits += SumOf(*total, &SearchStatistics::FailedSplits);
  }
  Settings::Cpus = std::clamp(cpus, 1, MaxWorkers);

  const double nodes = inner + qnodes;
  const double tRef = static_cast<double>(SmpReference.TimeMs);
  const double nRef = static_cast<double>(SmpReference.InnerNodes + SmpReference.QNodes);
  const double knps = Ratio(nodes, time);
  const double speedup = Ratio(Runs * tRef, time);
  const double scaling = Ratio(tRef * knps, nRef);
  const double working = Ratio(work, time);
  const double overhead = Ratio(nodes / Runs, nRef) - 1;
  Printer.Print(ChannelStdout, false, "SMP Benchmark for %d cpus on depth %d:                                \n",
                threads, depth);
  Printer.Print(ChannelStdout, false, "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n");
  Printer.Print(ChannelStdout, false, "\tAverage time/pos %4.2lf\n", time * 2e-5);
  Printer.Print(ChannelStdout, false, "\tSpeedup:         %4.2lf\n", speedup);
  Printer.Print(ChannelStdout, false, "\n");
  Printer.Print(ChannelStdout, false, "\tWorking time:   %5.2lf\n", working);
  Printer.Print(ChannelStdout, false, "\tkNPS:        %5.0lf\n", knps);
  Printer.Print(ChannelStdout, false, "\tNPS Scaling:     %4.2lf\n", scaling);
  Printer.Print(ChannelStdout, false, "\n");
  Printer.Print(ChannelStdout, false, "\tIdle Time:       %4.2lf\n", threads - working);
  Printer.Print(ChannelStdout, false, "\tSMP overhead:    %4.2lf\n", overhead);
  Printer.Print(ChannelStdout, false, "\tSMP cost:        %4.2lf\n", working - overhead - speedup);
  Printer.Print(ChannelStdout, false, "\n");
  Printer.Print(ChannelStdout, false, "\tSplit Rate:     %7.4lf%%\n", Ratio((splits + failedSplits) * 100, inner));
  Printer.Print(ChannelStdout, false, "\tSplit Success: %6.2lf%%\n", Ratio(100 * splits, splits + failedSplits));
  Printer.Print(ChannelStdout, false, "\n");
}

std::uint64_t Perft(ChessGame& game, int depth) {
  if (depth <= 0) return 1;
  MoveList list;
  if (game.InCheck()) {
    AttackMaps maps;
    game.BuildAttackMaps(maps);
    GenerateEvasions(game, list, maps);
  } else {
    GenerateMoves(game, list);
  }
  std::uint64_t nodes = 0;
  for (int i = 0; i < list.Count; ++i) {
    UndoRecord undo;
    if (!game.MakeMove(list.Moves[i], undo)) continue;
    nodes += Perft(game, depth - 1);
    game.UnmakeMove(undo);
  }
  return nodes;
}

void TotalPerft(const char* file, int depth) {
  TextLines lines(file);
  std::uint64_t total = 0;
  if (!lines.IsOpen()) {
    Printer.Print(ChannelStdout, false, "Could not open the fen-file %s\n", file);
    Printer.Print(ChannelStdout, false, "totalperft = %llu\n", 0ULL);
    return;
  }
  std::unique_ptr<ChessGame> game(new (std::nothrow) ChessGame);
  if (!game) {
    ReportInfo("Cannot allocate memory for ChessGame object");
    return;
  }
  std::string line;
  while (lines.Next(line)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (line.size() > MaxPerftLine) {
      ReportBadLine(lines.Number, "the line is too long for a FEN");
      continue;
    }
    if (game->SetFEN(line.c_str())) {
      ReportBadLine(lines.Number, game->Message);
      continue;
    }
    const std::uint64_t count = Perft(*game, depth);
    total += count;
    Printer.Print(ChannelStdout, false, "%llu - %llu\n", static_cast<unsigned long long>(count),
                  static_cast<unsigned long long>(total));
  }
  Printer.Print(ChannelStdout, false, "totalperft = %llu\n", static_cast<unsigned long long>(total));
}

void RunEpdTest(const char* file, int seconds) {
  TextLines lines(file);
  if (!lines.IsOpen()) {
    Printer.Print(ChannelStdout, false, "Could not open the epd-file %s\n", file);
    return;
  }
  const bool easyMove = Settings::EasyMove;
  Settings::EasyMove = false;
  PostOff post;
  ClockSnapshot clock;
  int positions = 0, solved = 0;
  std::string line;
  while (lines.Next(line)) {
    if (line.size() < 2) continue;
    if (line.size() > MaxToolLine) {
      ReportBadLine(lines.Number, "the line is too long for an EPD record");
      continue;
    }
    const std::string fen = EpdFen(line);
    if (fen.empty()) {
      ReportBadLine(lines.Number, "fewer than four FEN fields");
      continue;
    }
    std::unique_ptr<ChessGame> game(new (std::nothrow) ChessGame);
    if (!game) {
      ReportInfo("Cannot allocate memory for a game object");
      break;
    }
    if (game->SetFEN(fen.c_str())) {
      ReportBadLine(lines.Number, game->Message);
      continue;
    }
    TranspositionTable::Clear();
    ++positions;
    Printer.Print(ChannelStdout, false, "\rCalculation on position %d", positions);
    EpdMoves avoid, best;
    avoid.Read(line, " am ", *game);
    best.Read(line, " bm ", *game);

    SetClock(-1, seconds, 0);
    SearchAsTool(*game);

    if ((avoid.Count > 0 && !avoid.Contains(BestMove)) || (avoid.Count == 0 && best.Contains(BestMove))) {
      ++solved;
      continue;
    }
    Printer.Print(ChannelStdout, false, "\rError %d: %s? Position %s ", positions,
                  BestMove ? MoveToText(*game, BestMove) : "none", fen.c_str());
    if (best.Count > 0) best.Print(*game, "bm");
    if (avoid.Count > 0) avoid.Print(*game, "am");
    Printer.Print(ChannelStdout, false, "\n");
  }
  Printer.Print(ChannelStdout, false, "\rResults:                           \n");
  Printer.Print(ChannelStdout, false, "\tscored %d out of %d\n", solved, positions);
  Settings::EasyMove = easyMove;
}

void SymmetryTest(const char* file) {
  TextLines lines(file);
  if (!lines.IsOpen()) {
    Printer.Print(ChannelStdout, false, "Could not open the fen-file %s\n", file);
    return;
  }
  // The test is about normal chess: FEN castling letters read that way.
  const int variant = Settings::DefaultVariant;
  Settings::DefaultVariant = VariantNormal;
  auto original = std::make_unique<Position>();
  auto mirrored = std::make_unique<Position>();
  int positions = 0, errors = 0;
  std::string line;
  while (lines.Next(line)) {
    if (line.empty()) break;
    if (line.size() > MaxToolLine) {
      ReportBadLine(lines.Number, "the line is too long for a FEN");
      continue;
    }
    if (original->ParseFEN(line.c_str())) {
      ReportBadLine(lines.Number, original->Message);
      continue;
    }
    const int s1 = EvaluateFresh(*original);
    const std::string mirroredFen = original->GetMirroredFEN();
    if (mirrored->ParseFEN(mirroredFen.c_str())) {
      ReportBadLine(lines.Number, mirrored->Message);
      continue;
    }
    const int s2 = EvaluateFresh(*mirrored);
    if (s1 != s2) {
      ++errors;
      Printer.Print(ChannelStdout, false, "*** Error:\n");
      Printer.Print(ChannelStdout, false, "%s score=%d\n", line.c_str(), s1);
      Printer.Print(ChannelStdout, false, "%s score=%d\n\n", mirroredFen.c_str(), s2);
    }
    ++positions;
    Printer.Print(ChannelStdout, false, "%d  \r", positions);
  }
  Printer.Print(ChannelStdout, false, "%d positions checked\n", positions);
  Printer.Print(ChannelStdout, false, "%d errors found\n", errors);
  Settings::DefaultVariant = variant;
}

void DumpEval(const char* file, int n) {
  TextLines lines(file);
  if (!lines.IsOpen()) {
    Printer.Print(ChannelStdout, false, "Could not open the fen-file %s\n", file);
    return;
  }
  const std::string dumpName = DumpFileName(file, n);
  std::FILE* dump = std::fopen(dumpName.c_str(), "w");
  if (!dump) {
    Printer.Print(ChannelStdout, false, "Could not open the dump-file %s\n", dumpName.c_str());
    return;
  }
  const int variant = Settings::DefaultVariant;
  Settings::DefaultVariant = VariantNormal;
  auto position = std::make_unique<Position>();
  int count = 0;
  std::string line;
  while (lines.Next(line)) {
    if (line.empty()) continue;
    if (line.size() > MaxToolLine) {
      ReportBadLine(lines.Number, "the line is too long for a FEN");
      continue;
    }
    if (position->ParseFEN(line.c_str())) {
      ReportBadLine(lines.Number, position->Message);
      continue;
    }
    std::fprintf(dump, "score=%d fen=%s\n", EvaluateFresh(*position), line.c_str());
    ++count;
    Printer.Print(ChannelStdout, false, "%d  \r", count);
  }
  Printer.Print(ChannelStdout, false, "%d positions dumped\n", count);
  if (std::fclose(dump) != 0) Printer.Print(ChannelStdout, false, "Could not write the dump-file %s\n", dumpName.c_str());
  Settings::DefaultVariant = variant;
}
