// The console's "learn" and "deeplearn": searches driven on purpose to fill
// the learning table, forwards and backwards along a principal variation or
// over a tree of good moves.
#include "frontend/learncommands.h"

#include <signal.h>

#include <algorithm>
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "engine/driver.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/learning.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "support/input.h"
#include "support/output.h"

volatile std::sig_atomic_t DeepLearnAbort = 0;

namespace {

constexpr int PvLimit = 12;
constexpr int DeepLearnWidths[DeepLearnLevels] = {5, 3, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1};

// Positions the deeplearn walk has met in the current iteration.
std::set<std::uint64_t> VisitedPositions;

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Print(const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Printer.Print(ChannelStdout, true, "%s", text);
}

// A game of its own, set from the position only: the history of the caller's
// game does not matter to what is learned about this position.
std::unique_ptr<ChessGame> PrivateGame(ChessGame& game) {
  std::unique_ptr<ChessGame> copy(new (std::nothrow) ChessGame);
  if (!copy) {
    if (ActiveFrontEnd) ActiveFrontEnd->Info("Cannot allocate memory for ChessGame object");
    return nullptr;
  }
  copy->SetFEN(game.GetFEN());
  return copy;
}

void SetFixedDepth(int depth) {
  ClockSettings::FixedDepth = depth;
  ClockSettings::MovesToGo = 0;
  ClockSettings::BaseSeconds = 0;
  ClockSettings::IncrementMs = 0;
  ClockSettings::Unused = 0;
}

// A fixed-depth search of the game's position as the engine's own move; the
// score in white's view. True when the user asked for the run to end: a
// line left for the idle loop (such as "quit") or the end of input stops
// every search at once, so going on would only spin.
bool SearchWhiteScore(ChessGame& game, int depth, int& whiteScore) {
  SetFixedDepth(depth);
  if (ActiveFrontEnd) ActiveFrontEnd->Mode = ModeThinking;
  AllocateTime(game, AllocateOwnMove);
  const Move none = NoMove;
  Think(game, &none);
  // Back to idle between the searches: a line that stopped this one is read
  // again by the idle handler, and after the run every command works again.
  if (ActiveFrontEnd) ActiveFrontEnd->Mode = ModeIdle;
  const int score = Statistics[0].LastScore;
  whiteScore = game.Side == 0 ? score : -score;
  return Input::IsAvailable();
}

const char* BestMoveText(const ChessGame& game) { return BestMove == NoMove ? "none" : MoveToText(game, BestMove); }

// A stored result deeper than the asked depth lifts it (whole plies).
int LearnedDepth(const ChessGame& game, int depth) {
  int score, stored;
  if (ActiveLearning && ActiveLearning->Find(game.Keys(), score, stored) && stored > depth * 4) return stored / 4;
  return depth;
}

// Takes back one move, never behind the private game's start.
void TakeBackOne(ChessGame& game) {
  game.TakeBack();
}

}  // namespace

void Learn(ChessGame* game, int depth) {
  if (!ActiveLearning) {
    Print("Learning is not enabled\n");
    return;
  }
  std::unique_ptr<ChessGame> work = PrivateGame(*game);
  if (!work) return;

  Move pvMove[PvLimit] = {};
  int pvDepth[PvLimit] = {};
  int pvScore[PvLimit] = {};
  int base = depth;
  while (base < 128) {
    SetFixedDepth(base);
    int counter = 1;
    int length = 0;
    for (;;) {
      Print("\nIteration %d-%d\n", base, counter);
      Print("\nBuilding principle variation\n");
      for (int i = 0; i < length; ++i) {
        Print("  (%d) %s (%5d)\n", pvDepth[i], MoveToText(*work, pvMove[i]), pvScore[i]);
        work->PlayMove(pvMove[i]);
      }

      int minDepth = 128;
      int s = 0;
      do {
        const int i = length;
        int d = LearnedDepth(*work, base);
        if (i > 0 && d < pvDepth[i - 1]) d = pvDepth[i - 1] - 1;
        pvDepth[i] = d;
        minDepth = std::min(minDepth, d);
        Print("+ (%d) ", d);
        if (SearchWhiteScore(*work, d, s)) return;
        Print("%s (%5d)\n", BestMoveText(*work), s);
        // A mate or stalemate on the board (or a search without a result)
        // has no move to extend the line by.
        if (BestMove == NoMove || !work->PlayMove(BestMove)) break;
        pvScore[i] = s;
        pvMove[i] = BestMove;
        ++length;
      } while (s >= -3500 && s <= 3500 && length < PvLimit);

      TakeBackOne(*work);
      TakeBackOne(*work);
      Print("\nReverse principle variation traversal\n");
      int changed = PvLimit;
      int previous = s;
      for (int i = length - 2; i >= 0; --i) {
        Print("- (%d) ", pvDepth[i]);
        if (SearchWhiteScore(*work, pvDepth[i], s)) return;
        if (s != previous) changed = i;
        previous = s;
        pvScore[i] = s;
        Print("%s (%5d)\n", BestMoveText(*work), s);
        TakeBackOne(*work);
      }
      // Back at the start, whatever the line's length was.
      while (work->TakeBack()) {
      }

      ActiveLearning->Save();
      ++counter;
      length = std::min(changed, length);
      if (minDepth > base) {
        base = minDepth + (changed == PvLimit ? 1 : 0);
        break;
      }
      if (changed == PvLimit) {
        ++base;
        break;
      }
    }
  }
}

extern "C" void InterruptDeepAnalysis(int) { DeepLearnAbort = 1; }

int DeepLearnNode(ChessGame* game, DeepLearnLevel levels[DeepLearnLevels], int depth, int level) {
  assert(level >= 0 && level < DeepLearnLevels);
  if (DeepLearnAbort) return DeepLearnLevels;
  const bool visited = !VisitedPositions.insert(game->Hashkey).second;

  const int width = DeepLearnWidths[level];
  Settings::MultiPv = width;
  DeepLearnLevel& node = levels[level];
  node.depth = LearnedDepth(*game, depth);
  if (level > 0 && levels[level - 1].depth - 1 > node.depth) node.depth = levels[level - 1].depth - 1;

  auto printPath = [&](const char* mark) {
    Print("%s [%2d] ", mark, node.depth);
    for (int k = 0; k < level; ++k) Print("%s (%d) ", MoveToText(*game, levels[k].moves[levels[k].index]), levels[k].index + 1);
  };
  printPath("+");
  int score;
  if (SearchWhiteScore(*game, node.depth, score)) DeepLearnAbort = 1;
  const int s = game->Side == 0 ? score : -score;  // the side to move's view again
  node.score = score;
  Print("%s { %d }\n", BestMoveText(*game), node.score);

  if (DeepLearnAbort || level >= (node.depth * 3) / 4 || level >= DeepLearnLevels - 1 || s < -3500 || s > 3500 ||
      visited) {
    TranspositionTable::Clear();
    return DeepLearnLevels;
  }

  node.count = 0;
  for (int j = 0; j < width && MultiPvLines[j].Pv[0] != NoMove; ++j)
    if (MultiPvLines[j].Score >= s - 1000 && node.count < DeepLearnLevel::MaxMoves)
      node.moves[node.count++] = MultiPvLines[j].Pv[0];

  int result = DeepLearnLevels;
  int done = 0;
  for (;;) {
    for (int m = done; m < node.count; ++m) {
      node.index = m;
      if (game->PlayMove(node.moves[m])) {
        result = std::min(result, DeepLearnNode(game, levels, depth, level + 1));
        game->TakeBack();
      }
      if (DeepLearnAbort) return result;
    }
    done = node.count;

    Settings::MultiPv = width;
    printPath("-");
    int white2;
    if (SearchWhiteScore(*game, node.depth, white2)) DeepLearnAbort = 1;
    const int s2 = game->Side == 0 ? white2 : -white2;
    for (int j = 0; j < width && MultiPvLines[j].Pv[0] != NoMove; ++j) {
      if (MultiPvLines[j].Depth < node.depth) {
        Print("Error in multipv, not %d moves available\n", width);
        break;
      }
      if (MultiPvLines[j].Score < s2 - 1000) break;
      const Move move = MultiPvLines[j].Pv[0];
      bool known = false;
      for (int k = 0; k < node.count; ++k) known = known || (node.moves[k] & 0xffff) == (move & 0xffff);
      // The level holds 16 moves: a node that keeps finding new good moves
      // stops widening there.
      if (!known && node.count < DeepLearnLevel::MaxMoves) node.moves[node.count++] = move;
    }
    Print("%s { %d }\n", BestMoveText(*game), white2);
    if (DeepLearnAbort) return result;
    if (node.count == done) return white2 != node.score ? level : result;
  }
}

void DeepLearn(ChessGame* game, int depth) {
  if (!ActiveLearning) {
    Print("Learning is not enabled\n");
    return;
  }
  std::unique_ptr<ChessGame> work = PrivateGame(*game);
  if (!work) return;

  struct sigaction interrupt = {}, previous = {};
  interrupt.sa_handler = InterruptDeepAnalysis;
  sigemptyset(&interrupt.sa_mask);
  interrupt.sa_flags = SA_RESTART;
  sigaction(SIGINT, &interrupt, &previous);
  DeepLearnAbort = 0;

  DeepLearnLevel levels[DeepLearnLevels] = {};
  for (int d = depth; d < 128 && !DeepLearnAbort; ++d) {
    SetFixedDepth(d);
    Print("\nIteration depth %d\n", d);
    VisitedPositions.clear();
    DeepLearnNode(work.get(), levels, d, 0);
    ActiveLearning->Save();
  }
  sigaction(SIGINT, &previous, nullptr);
  // The handler only raises the flag; the words for the user come from here.
  if (DeepLearnAbort) Print("\nInterrupting deep analysis ... <press enter>                \n");
  VisitedPositions.clear();
}

namespace {

// The depth after the command word; false when there is no positive number.
bool ParseDepth(const char* args, int& depth) {
  if (!args) return false;
  while (*args == ' ' || *args == '\t') ++args;
  if (*args < '0' || *args > '9') return false;
  depth = std::atoi(args);
  return depth > 0;
}

}  // namespace

void LearnCommand(ChessGame& game, const char* args) {
  int depth;
  if (ParseDepth(args, depth)) Learn(&game, depth);
}

void DeepLearnCommand(ChessGame& game, const char* args) {
  int depth;
  if (ParseDepth(args, depth)) DeepLearn(&game, depth);
}
