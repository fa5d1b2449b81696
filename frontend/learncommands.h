// The console's "learn" and "deeplearn" commands, which drive the search on
// purpose to fill the learning table.
#pragma once

#include <csignal>
#include <cstdint>

#include "engine/move.h"

class ChessGame;

// The console's "learn": a principal variation of up to 12 plies searched
// forwards and then backwards, at rising depths.
void Learn(ChessGame* game, int depth);
// The console's "deeplearn": iterative deepening over a tree of good moves,
// until Ctrl-C (SIGINT) or a line of input asks it to stop.
void DeepLearn(ChessGame* game, int depth);

// One level of the deeplearn tree.
struct DeepLearnLevel {
  static constexpr int MaxMoves = 16;
  Move moves[MaxMoves];
  std::int32_t count;
  std::int32_t index;  // the move being examined
  std::int32_t depth;  // whole plies
  std::int32_t score;  // white's view
};
inline constexpr int DeepLearnLevels = 12;

// The smallest level at which a re-search changed the score, 12 when none.
int DeepLearnNode(ChessGame* game, DeepLearnLevel levels[DeepLearnLevels], int depth, int level);
// The SIGINT handler of deeplearn: it only raises DeepLearnAbort.
extern "C" void InterruptDeepAnalysis(int);
extern volatile std::sig_atomic_t DeepLearnAbort;

// The console command lines: args is the rest of the line after the word;
// without a number the command does nothing.
void LearnCommand(ChessGame& game, const char* args);
void DeepLearnCommand(ChessGame& game, const char* args);
