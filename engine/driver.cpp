// The search driver: books first, then iterative deepening over the root
// search with an aspiration window, the principal variation stored in the
// transposition and learning tables after each iteration, and the decision
// when to stop.
#include "engine/driver.h"

#include <algorithm>
#include <memory>

#include "books/booklist.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/learning.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/search.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
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

// The first upper bound of an iteration lies this far (milli-pawns) above
// the last score; after a fail high it widens by the steps that follow.
constexpr int AspirationWindow = 180;
constexpr int AspirationFirstStep = 360;
constexpr int AspirationSecondStep = 1080;

// The window above the last fail high: wider steps until it is open.
int NextAspirationBound(int result, int& step) {
  switch (step++) {
    case 0: return result + AspirationFirstStep > MateBound ? Infinity : result + AspirationFirstStep;
    case 1: return result + AspirationSecondStep > MateBound ? Infinity : result + AspirationSecondStep;
    case 2: return result > MateBound ? Infinity : MateBound;
    default: return Infinity;
  }
}

// The learning table keeps only the first plies of a principal variation,
// and only from iterations this deep (plies) on.
constexpr int LearnedPvPlies = 2;
constexpr int LearnedMinIteration = 7;

// Stores the iteration's principal variation, position by position, so that
// the next iteration and the PV printing find it.
void StorePrincipalVariation(ChessGame& copy, const PlyRecord& root, int depth, int score) {
  UndoRecord undo[MaxPly];
  int played = 0;
  while (played < root.PvLength && copy.MakeMove(root.Pv[played], undo[played])) ++played;
  for (int i = played - 1; i >= 0; --i) {
    copy.UnmakeMove(undo[i]);
    const int value = (i % 2 == 0) ? score : -score;
    const int storedDepth = std::max((depth - i) * OnePly, 0);
    TranspositionTable::Store(copy.Keys(), value, storedDepth, i, BoundExact, root.Pv[i], 0);
    if (ActiveLearning && i <= LearnedPvPlies && depth >= LearnedMinIteration)
      ActiveLearning->Add(copy.Keys(), value, storedDepth);
  }
}

// The from, to and promotion bits: the same move whatever flags it carries.
constexpr Move MoveIdentityBits = MoveFromMask | MoveToMask | MovePromotionMask;
// From this iteration (plies) on, a mate found or a single legal move ends
// the search of the engine's own move at once.
constexpr int MateStopIteration = 4;
// The easy-move test runs only on a score within this (milli-pawns) of a
// balance, and one not rising this much above the last search's score.
constexpr int EasyMoveScoreLimit = 2999;
constexpr int EasyMoveRiseLimit = 100;

}  // namespace

void Think(ChessGame& game, const Move* ponderMove) {
  // Step 1. Search a copy, so the front end's game stays as it was (the copy
  // of a very long game keeps only the key history that can still matter,
  // so the search has its room), and bring the pool to the thread count the
  // settings ask for before waking it.
  auto copy = std::make_unique<ChessGame>();
  *copy = game;
  copy->KeepRoomForSearch();

  ApplyThreadSetting();
  Worker& worker = WakeWorkers();
  OnlyOneMove.store(false);
  bool easyAllowed = Settings::EasyMove;
  ClearStatistics();

  // Step 2. On the engine's own move the books answer first; a book move
  // ends the search before it starts.
  if (ActiveFrontEnd && ActiveFrontEnd->Mode == ModeThinking && ActiveFrontEnd->BookMisses < BookMissLimit) {
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

  // Step 3. A clean start: empty ply records and MultiPV lines, a new age
  // for the table's entries, and no result yet.
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

  // Step 4. The root moves: ordered once by the picker's scores, cut by the
  // tables to those that keep the best result, and counted, since a single
  // legal move needs no long search. The root's own WDL value starts the
  // tablebase pruning below.
  PlyRecord& root = stack.Records[0];
  copy->BuildAttackMaps(root.Maps);
  ScoreMoves(copy->Moves, worker, *copy, root, NoMove, nullptr, 0);
  for (RootMoveRecord& record : RootRecords) record = {};

  int tbValue = NoTablebaseValue;
  const int men = PopCount(copy->Occupied);
  if (men < TablebaseMenLimit && men <= TbMaxMen && Settings::SzDepth >= 0) {
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

  // Step 5. Iterative deepening: each iteration orders the moves and fills
  // the table for the next, so the search can stop at any iteration's end.
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

    // Step 6. Aspiration: the window closes a little above the last score,
    // which makes the search cheaper while the score holds; a fail high
    // opens it in wider steps and searches again.
    // After a mate found the last score lies a few plies short of Infinity:
    // like the wider steps, the first bound stays within the score range.
    int bound = std::min(Statistics[0].LastScore + AspirationWindow, Infinity);
    int step = 0;
    result = SearchRoot(*copy, worker, bound, depth * OnePly, tbValue);
    while (result >= bound && bound < Infinity && !StopSearch.load() && !RootSearchInterrupted) {
      TimeLimits::IterationUnfinished = false;
      TimeLimits::NewBestPending =
          (MultiPvLines[0].Pv[0] & MoveIdentityBits) != (BestMove & MoveIdentityBits);
      for (MultiPvLine& line : MultiPvLines) line.Depth = depth - 1;
      bound = NextAspirationBound(result, step);
      result = SearchRoot(*copy, worker, bound, depth * OnePly, tbValue);
    }
    // An iteration cut short without a stop has no score to keep: the
    // moves it finished are in BestMove already, as after a stop.
    if (StopSearch.load() || RootSearchInterrupted) break;

    // Step 7. A finished iteration: its score is kept, its PV goes into the
    // transposition and learning tables and out to the front end.
    Statistics[0].LastScore = result;
    IterationScores[depth] = result;
    StorePrincipalVariation(*copy, root, depth, result);

    if (MultiPvCount == 1 && ActiveFrontEnd && ActiveFrontEnd->SendPv(depth, '.', Elapsed(), result)) {
      root.PvLength = PrintPvFromHash(*copy, root.PvLength, root.Pv);
      if (root.PvLength == 0) Printer.Print(ChannelStdout, true, "ERROR: no pv available\n");
    }
    if (ActiveLearning) ActiveLearning->Add(copy->Keys(), result, depth * OnePly);

    // Step 8. Whether to go one iteration deeper: not after a mate found or
    // with one legal move, not once the time allotted is spent (more of it
    // after a fail high), and not for a move the easy-move test finds
    // clearly best.
    if (Mode() == ModeThinking && depth >= MateStopIteration &&
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
        result >= -EasyMoveScoreLimit && result <= EasyMoveScoreLimit &&
        result < PreviousSearchScore + EasyMoveRiseLimit) {
      Info("Check for easymove ...");
      easyAllowed = false;
      if (IsEasyMove(*copy, worker, result, depth * OnePly)) {
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

  // Step 9. The search is over: the workers stop. A ponder or analysis
  // search holds its result until the front end asks for it.
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

  // Step 10. Time the result, and return only when no worker still touches
  // the search's data.
  SetResultTimes();
  if (ActiveLogger && ActiveLogger->Verbose)
    Printer.Print(ChannelLogOnly, true, "Wait for all threads to abort their work\n");
  while (AnyWorkerRunning()) CpuPause();
  PreviousSearchScore = result;
}
