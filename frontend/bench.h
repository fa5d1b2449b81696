// The console's measuring tools: the fixed benchmark with its statistics
// report, the SMP benchmark, perft, the EPD test-suite runner, the colour
// symmetry test of the evaluation and the evaluation dump. They drive the
// normal search and evaluation and write straight to standard output.
#pragma once

#include <cstdint>

#include "engine/stats.h"

class ChessGame;

// A running total of search statistics in the shape of the live block; its
// pawn-hash counters hold the sums over the per-thread pawn tables.
using StatisticsTotal = StatisticsBlock;

// The ten benchmark positions and their base depths.
inline constexpr int BenchPositionCount = 10;
struct BenchPosition {
  char Fen[80];
  int Depth;
};
extern const BenchPosition BenchPositions[BenchPositionCount];

// Searches the ten positions at their depth plus depthIncrement, adding the
// statistics of every search into total. Prints only when print is set and
// the console is the active front end.
void Bench(StatisticsTotal& total, int depthIncrement, bool print);
void PrintSearchStatistics(const StatisticsTotal& total);

// The one-thread reference of the SMP benchmark; depth -1 until it has run.
struct SmpReferenceRun {
  int Depth = -1;
  std::int64_t TimeMs = 0;
  std::uint64_t InnerNodes = 0;
  std::uint64_t QNodes = 0;
};
extern SmpReferenceRun SmpReference;

void SmpBenchInit(int depth);
void SmpBench(int threads);

// Leaf count of the legal move tree below game's position.
std::uint64_t Perft(ChessGame& game, int depth);
// Perft of every FEN line of a file, with the running total.
void TotalPerft(const char* file, int depth);

void RunEpdTest(const char* file, int seconds);
void SymmetryTest(const char* file);
void DumpEval(const char* file, int n);
