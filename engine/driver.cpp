// The search driver: books first, then iterative deepening over the root
// search with an aspiration window, the principal variation stored in the
// transposition and learning tables after each iteration, and the decision
// when to stop.
#include "engine/driver.h"

#include <algorithm>
#include <memory>

#include "books/booklist.h"
#include "engine/evalweights.h"
#include "engine/game.h"
#include "engine/learning.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/search.h"
#include "engine/searchstate.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/frontend.h"
#include "frontend/settings.h"
#include "support/logger.h"
#include "support/output.h"
#include "support/spinlock.h"
#include "tablebase/probe.h"
#include "tablebase/registry.h"

namespace {

// The score of the previous search, for the easy-move rule.
int PreviousSearchScore = 0;

int Elapsed() { return SearchClock.Elapsed(); }

void Info(const char* text) {
  if (ActiveFrontEnd) ActiveFrontEnd->Info(text);
}

FrontEndMode Mode() { return ActiveFrontEnd ? ActiveFrontEnd->Mode : ModeThinking; }

void SetResultTimes() {
  const int elapsed = Elapsed();
  Statistics[0].EndTime = elapsed;
  Statistics[0].OwnTime = static_cast<std::int32_t>(elapsed - TimeLimits::Start);
}

int CountLegalMoves(ChessGame& game) {
  int legal = 0;
  for (int i = 0; i < game.Moves.Count; ++i) {
    UndoRecord undo;
    if (!game.MakeMove(game.Moves.Moves[i], undo)) continue;
    game.UnmakeMove(undo);
    ++legal;
  }
  return legal;
}

// The window above the last fail high: wider steps until it is open.
int NextAspirationBound(int result, int& step) {
  switch (step++) {
    case 0: return result + 360 > MateBound ? Infinity : result + 360;
    case 1: return result + 1080 > MateBound ? Infinity : result + 1080;
    case 2: return result > MateBound ? Infinity : MateBound;
    default: return Infinity;
  }
}

// Stores the iteration's principal variation, position by position, so that
// the next iteration and the PV printing find it.
void StorePrincipalVariation(ChessGame& copy, const PlyRecord& root, int depth, int score) {
  UndoRecord undo[MaxPly];
  int played = 0;
  while (played < root.PvLength && copy.MakeMove(root.Pv[played], undo[played])) ++played;
  for (int i = played - 1; i >= 0; --i) {
    copy.UnmakeMove(undo[i]);
    const int value = (i % 2 == 0) ? score : -score;
    const int storedDepth = std::max((depth - i) * 4, 0);
    TranspositionTable::Store(copy.Keys(), value, storedDepth, i, BoundExact, root.Pv[i], 0);
    if (ActiveLearning && i <= 2 && depth >= 7) ActiveLearning->Add(copy.Keys(), value, storedDepth);
  }
}

}  // namespace

void Think(ChessGame& game, const Move* ponderMove) {
  auto copy = std::make_unique<ChessGame>();
  *copy = game;

  if (Settings::Cpus != ThreadCount.load()) {
    if (SetNumberOfThreads(Settings::Cpus)) Info("ERROR: Could not set the requested number of threads\n");
    Settings::Cpus = std::clamp(ThreadCount.load(), 1, MaxWorkers);
  }
  Worker& worker = WakeWorkers();
  OnlyOneMove.store(false);
  bool easyAllowed = Settings::EasyMove;
  ClearStatistics();

  if (ActiveFrontEnd && ActiveFrontEnd->Mode == ModeThinking && ActiveFrontEnd->BookMisses < 8) {
    const Move bookMove = FindBookMove(*copy);
    if (bookMove == NoMove) {
      ++ActiveFrontEnd->BookMisses;
    } else {
      SendWorkersToSleep();
      BestMove = bookMove;
      PonderMove = NoMove;
      SetResultTimes();
      ActiveFrontEnd->BookMisses = 0;
      while (AnyWorkerRunning()) CpuPause();
      PreviousSearchScore = 0;
      return;
    }
  }

  PlyStack& stack = worker.Stack();
  for (PlyRecord& record : stack.Records) record = PlyRecord();
  for (MultiPvLine& line : MultiPvLines) {
    line.Depth = 0;
    line.Score = -Infinity;
    line.PvLength = 0;
    line.Pv[0] = NoMove;
  }
  // The root holds 20 lines; more cannot be asked of it.
  MultiPvCount = std::clamp(Settings::MultiPv, 1, MaxMultiPv);
  TranspositionTable::NewSearch();
  BestMove = NoMove;
  PonderMove = NoMove;
  SearchPonderMove = ponderMove ? *ponderMove : NoMove;

  PlyRecord& root = stack.Records[0];
  copy->BuildAttackMaps(root.Maps);
  ScoreMoves(copy->Moves, worker, *copy, root, NoMove, nullptr, 0);
  for (RootMoveRecord& record : RootRecords) record = {};

  int tbValue = NoTablebaseValue;
  const int men = PopCount(copy->Occupied);
  if (men < 7 && men <= TbMaxMen && Settings::SzDepth >= 0) {
    if (ProbeRootMoves(*copy)) Info("SyZyGy DTZ base hit");
    if (!copy->InCheck()) {
      int success = 0;
      const int value = ProbeWdl(*copy, &success);
      // A failed probe knows nothing: it must not read as a draw.
      if (success) {
        tbValue = value;
        ++Statistics[0].SyzygyHits;
      }
    }
  }
  const int legalMoves = CountLegalMoves(*copy);

  SortRootMoves(copy->Moves, 0);
  if (ActiveFrontEnd) ActiveFrontEnd->SearchStarted();

  int result = 0;
  const int maxDepth = TimeLimits::MaxDepth < 1 ? MaxSearchDepth : std::min<int>(TimeLimits::MaxDepth, MaxSearchDepth);
  for (int depth = 1; depth <= maxDepth; ++depth) {
    Statistics[0].BranchingBase = static_cast<std::uint64_t>(Statistics[0].IterationStartNodes);
    Statistics[0].IterationStartNodes = Statistics.InnerNodes() + Statistics.QNodes();
    Statistics[0].Depth = depth;
    while (!AllWorkersAwake()) CpuPause();

    TimeLimits::IterationUnfinished = true;
    TimeLimits::NewBestPending = false;
    TimeLimits::ScoreDropped = false;
    TimeLimits::FailHighCount = 0;

    int bound = Statistics[0].LastScore + 180;
    int step = 0;
    result = SearchRoot(*copy, worker, bound, depth * 4, tbValue);
    while (result >= bound && bound < Infinity && !StopSearch.load() && !RootSearchInterrupted) {
      TimeLimits::IterationUnfinished = false;
      TimeLimits::NewBestPending = (MultiPvLines[0].Pv[0] & 0xffff) != (BestMove & 0xffff);
      for (MultiPvLine& line : MultiPvLines) line.Depth = depth - 1;
      bound = NextAspirationBound(result, step);
      result = SearchRoot(*copy, worker, bound, depth * 4, tbValue);
    }
    // An iteration cut short without a stop has no score to keep: the
    // moves it finished are in BestMove already, as after a stop.
    if (StopSearch.load() || RootSearchInterrupted) break;

    Statistics[0].LastScore = result;
    IterationScores[depth] = result;
    StorePrincipalVariation(*copy, root, depth, result);

    if (MultiPvCount == 1 && ActiveFrontEnd && ActiveFrontEnd->SendPv(depth, '.', Elapsed(), result)) {
      root.PvLength = PrintPvFromHash(*copy, root.PvLength, root.Pv);
      if (root.PvLength == 0) Printer.Print(ChannelStdout, true, "ERROR: no pv available\n");
    }
    if (ActiveLearning) ActiveLearning->Add(copy->Keys(), result, depth * 4);

    if (Mode() == ModeThinking && depth >= 4 &&
        (result > Infinity - depth || result < depth - Infinity || legalMoves == 1))
      break;
    const int elapsed = Elapsed();
    TimeLimits::IterationEnd = elapsed;
    if (TimeLimits::FailHighCount > 0) {
      if (elapsed >= (TimeLimits::MaxTime + TimeLimits::MinTime) / 2 && elapsed > TimeLimits::MinTime) break;
    } else if (elapsed > TimeLimits::MinTime) {
      break;
    }
    if (easyAllowed && TimeLimits::FailHighCount == 0 && elapsed > TimeLimits::EasyTime && Mode() == ModeThinking &&
        result >= -2999 && result <= 2999 && result < PreviousSearchScore + 100) {
      Info("Check for easymove ...");
      easyAllowed = false;
      if (IsEasyMove(*copy, worker, result, depth * 4)) {
        if (StopSearch.load()) break;
        Info("Easy move!");
        TimeLimits::EasyFound = true;
        if (Mode() != ModePondering) break;
      } else {
        if (StopSearch.load()) break;
        Info("Not an easymove");
      }
    }
  }

  bool stoppedFromOutside = false;
  if (StopSearch.load()) {
    StopSearch.store(false);
    stoppedFromOutside = true;
  }
  SendWorkersToSleep();

  // Pondering or analysing: the result is due only when the front end says.
  if (ActiveFrontEnd && !stoppedFromOutside) {
    FrontEnd& frontEnd = *ActiveFrontEnd;
    while (frontEnd.Mode == ModePondering || frontEnd.Mode == ModeAnalysing || frontEnd.Mode == ModeAfterAnalysis) {
      if (frontEnd.DispatchInput() != 0) break;
    }
    if (frontEnd.Mode == ModePonderHit) frontEnd.Mode = ModeThinking;
  }

  SetResultTimes();
  if (ActiveLogger && ActiveLogger->Verbose)
    Printer.Print(ChannelLogOnly, true, "Wait for all threads to abort their work\n");
  while (AnyWorkerRunning()) CpuPause();
  PreviousSearchScore = result;
}
