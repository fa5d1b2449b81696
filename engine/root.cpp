// The root search: one iteration over the root moves with a window open below
// at the worst MultiPV line, the MultiPV table, the order of the root moves
// for the next iteration and the thinking output through the front end.
#include "engine/root.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
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

MultiPvLine MultiPvLines[MaxMultiPv];
int MultiPvCount = 1;
RootMoveRecord RootRecords[256];

namespace {

int Elapsed() { return SearchClock.Elapsed(); }

void LogLine(const char* text) { Printer.Print(ChannelLogOnly, true, "%s", text); }

bool Verbose() { return ActiveLogger && ActiveLogger->Verbose; }

void RemoveRootMove(MoveList& list, int index) {
  const int last = list.Count - 1;
  list.Moves[index] = list.Moves[last];
  list.Scores[index] = list.Scores[last];
  RootRecords[index] = RootRecords[last];
  list.Count = last;
  if (list.Cursor > index) list.Cursor = index;
}

void MoveRootMove(MoveList& list, int from, int to) {
  if (from <= to) return;
  const RootMoveRecord record = RootRecords[from];
  for (int i = from; i > to; --i) RootRecords[i] = RootRecords[i - 1];
  RootRecords[to] = record;
  MoveToIndex(list, from, to);
}

// The move followed by the PV of the child at ply 1. The quiescence
// generators mark checks in the move word; the line keeps the words of the
// full generator, so that a front end finds each move in its game's list.
int LineOfChild(const PlyStack& stack, Move move, Move* line) {
  const PlyRecord& child = stack.Records[1];
  line[0] = move & ~MoveGivesCheck;
  int length = 1;
  for (int i = 1; i < child.PvLength && i < MaxPly; ++i) line[length++] = child.Pv[i] & ~MoveGivesCheck;
  return length;
}

void PrintLine(ChessGame& game, const Move* line, int length) {
  Move copy[MaxPly];
  std::copy(line, line + length, copy);
  PrintPvFromHash(game, length, copy);
}

// A root move's sort key: the iteration's depth (quarter plies), then its
// rank in the MultiPV table (below 32), then its move number (below 64).
constexpr int SortKeyRanks = 32;
constexpr int SortKeyMoveNumbers = 64;
// A move that has not entered the MultiPV table for this many quarter plies
// (seven plies) loses its rank.
constexpr int RankMemoryDepth = 28;
// A score this far (milli-pawns) below the last iteration's counts as a drop
// for the time management.
constexpr int ScoreDropMargin = 100;

// The depth a root move is searched to. The root extends as a scout node
// does: without the capture extension of PV nodes.
int RootMoveDepth(ChessGame& game, Worker& worker, Move move, const UndoRecord& undo, bool inCheck, int depthQ,
                  int moveNumber) {
  bool reducible;
  const int extension = GetExtension(ScoutNode, game, move, inCheck, depthQ - OnePly, 0, undo, &reducible, worker.Id);
  if (moveNumber >= AllNodeMoveNumber) ++Statistics[worker.Id].AllNodeTotal;
  return depthQ + extension - OnePly;
}

// A root move's null-window search at alpha. The nodes it costs order the
// moves of the next iteration.
int ScoutRootMove(ChessGame& game, Worker& worker, int index, int alpha, int depth, int childTb, bool* abort) {
  SearchStatistics& stats = Statistics[worker.Id];
  const std::uint64_t before = stats.InnerNodes + stats.QNodes;
  const int score = -Search(ScoutNode, game, worker, 1, -alpha - 1, -alpha, depth, Settings::Singular, childTb, abort);
  RootRecords[index].Nodes += stats.InnerNodes + stats.QNodes - before;
  return score;
}

// The passes of the root loop, numbered for the root records' marks.
constinit std::int32_t PassCount = 0;

// The refutation of each root move a parallel stretch searched, kept by the
// worker that searched it until the owner reports it: only the main thread
// talks to the front end.
struct RootRefutation {
  std::int32_t Length;
  Move Line[MaxPly];
};
RootRefutation RootRefutations[256];

// The moves of this pass from the cursor on that are still to search.
int MovesLeftInPass(const MoveList& list, std::int32_t pass) {
  int left = 0;
  for (int i = list.Cursor; i < list.Count; ++i)
    if (RootRecords[i].Done != pass) ++left;
  return left;
}

// The root's remaining moves go to idle workers once the first has set the
// alpha, as at any node. A pass that fills several MultiPV lines keeps its
// moves in order, as does one whose moves the tables may drop: the drop
// compares each probe with the ones before it.
bool MaySplitRoot(const MoveList& list, Worker& worker, int searched, int depthQ, bool tablesPrune,
                  std::int32_t pass) {
  return searched > 0 && MultiPvCount == 1 && !tablesPrune && ThreadCount.load(std::memory_order_relaxed) > 1 &&
         depthQ >= Settings::SplitDepth && MovesLeftInPass(list, pass) >= Settings::MinSplit &&
         SomeWorkerMayHelp(worker);
}

// After a parallel stretch: the refutations the workers kept are reported,
// and the moves they found illegal leave the list.
void CloseRootStretch(ChessGame& game, MoveList& list, std::int32_t pass) {
  FrontEnd* frontEnd = ActiveFrontEnd;
  for (int i = 0; i < list.Count; ++i) {
    RootRefutation& refutation = RootRefutations[i];
    if (refutation.Length > 0 && frontEnd && frontEnd->SendRefutation(refutation.Line, Elapsed()))
      PrintLine(game, refutation.Line, refutation.Length);
    refutation.Length = 0;
  }
  for (int index = 0; index < list.Count;) {
    if (RootRecords[index].Done == -pass) RemoveRootMove(list, index);
    else ++index;
  }
}

}  // namespace

void SearchRootShare(SplitPoint& sp, Worker& worker, bool& abort) {
  RootShare& share = *sp.Root;
  MoveList& list = *share.List;
  ChessGame game(sp.Board);
  Position& pos = game;
  PlyStack& stack = worker.Stack();
  PlyRecord& own = stack.Records[0];
  // Any score above the alpha ends the stretch, so the alpha stays as it was.
  const int alpha = sp.Record->Picker.Alpha;
  const bool inCheck = pos.InCheck();
  FrontEnd* frontEnd = worker.Id == 0 ? ActiveFrontEnd : nullptr;

  while (!worker.ShouldStop()) {
    // The next move not yet searched in this pass, made: legality is
    // settled under the lock, so the numbers count legal moves in order.
    int index = -1, moveNumber = 0;
    UndoRecord undo;
    {
      SpinGuard guard(sp.Lock);
      for (; share.Cursor < list.Count; ++share.Cursor) {
        if (RootRecords[share.Cursor].Done == share.Pass) continue;
        if (pos.MakeMove(list.Moves[share.Cursor], undo)) break;
        RootRecords[share.Cursor].Done = -share.Pass;
      }
      if (share.Cursor == list.Count) break;
      index = share.Cursor++;
      moveNumber = ++sp.Shape.MovesSearched;
    }
    const Move move = list.Moves[index];
    own.CurrentMove = move;
    if (frontEnd) frontEnd->SendCurrentMove(share.DepthQ / OnePly, &move, moveNumber, Elapsed());
    const int depth = RootMoveDepth(game, worker, move, undo, inCheck, share.DepthQ, moveNumber);
    bool childAbort = false;
    const int score = ScoutRootMove(game, worker, index, alpha, depth, NoTablebaseValue, &childAbort);
    pos.UnmakeMove(undo);
    if (childAbort || worker.ShouldStop()) {
      // The move is left unsearched for the owner's loop to take again.
      sp.Aborted.store(true, std::memory_order_release);
      abort = true;
      break;
    }
    if (score <= alpha) {
      RootRefutation& refutation = RootRefutations[index];
      refutation.Length = LineOfChild(stack, move, refutation.Line);
      RootRecords[index].Done = share.Pass;
      share.Completed.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    // A fail high: the first one ends the stretch, and the owner searches
    // the move again as the sequential loop would.
    SpinGuard guard(sp.Lock);
    if (sp.Aborted.load(std::memory_order_relaxed)) break;
    sp.BestScore.store(score, std::memory_order_relaxed);
    sp.BestMove = move;
    sp.Aborted.store(true, std::memory_order_release);
    break;
  }
}

bool ProbeRootMoves(ChessGame& game) {
  if (!RootProbe(game)) return false;
  MoveList& list = game.Moves;
  for (int index = 0; index < list.Count;) {
    if (list.Scores[index] == RootMoveDropped) RemoveRootMove(list, index);
    else ++index;
  }
  return true;
}

int SearchRoot(ChessGame& game, Worker& worker, int beta, int depthQ, int tbValue) {
  // The window runs from -Infinity to beta, so beta must lie above it; the
  // iteration is at least a ply deep and no deeper than the table's depth
  // field allows; the MultiPV table is in use for 1..MaxMultiPv lines.
  assert(-Infinity < beta && beta <= Infinity);
  assert(depthQ >= OnePly && depthQ <= MaxSearchDepth * OnePly);
  assert(tbValue == NoTablebaseValue || (tbValue >= WdlLoss && tbValue <= WdlWin));
  assert(MultiPvCount >= 1 && MultiPvCount <= MaxMultiPv);
  Position& pos = game;
  MoveList& list = game.Moves;
  SearchStatistics& stats = Statistics[worker.Id];
  PlyStack& stack = worker.Stack();
  PlyRecord& root = stack.Records[0];
  FrontEnd* frontEnd = ActiveFrontEnd;
  const int iteration = depthQ / OnePly;
  const int last = MultiPvCount - 1;
  char text[256];

  // Step 1. Open the iteration: the window is open below (alpha rises to the
  // worst MultiPV line once the table is full), and the tablebase reference
  // starts from the root's own probe.
  RootSearchInterrupted = false;
  ++stats.InnerNodes;
  if ((stats.InnerNodes & TimePollMask) == 0) CheckTime(game, worker, 0);
  const bool inCheck = pos.InCheck();
  int alpha = -Infinity;
  const bool probing = depthQ >= Settings::SzDepth && !inCheck && SyzygyProbing.load(std::memory_order_relaxed);
  bool haveReference = tbValue != NoTablebaseValue;
  int reference = haveReference ? -tbValue : NoTablebaseValue;
  // A capture takes one man off: below that the tables reach no child.
  const int childMen = PopCount(pos.Occupied) - 1;
  const bool tablesPrune = probing && childMen < TablebaseMenLimit && childMen <= TbMaxMen;
  int searched = 0;
  bool bestFromFirst = false;
  const std::int32_t pass = ++PassCount;

  // Step 2. The root moves, in the order the last iteration left. An
  // illegal move leaves the list for good, as does one the tables show
  // worse than a move already seen. Once the first move has set the alpha,
  // idle workers may take the moves left on the null window; a move that
  // beats it there comes back to this loop, which then resumes from the
  // top, past the moves done.
  for (list.Cursor = 0; list.Cursor < list.Count;) {
    int index = -1;
    bool failedHighInSplit = false;
    if (MaySplitRoot(list, worker, searched, depthQ, tablesPrune, pass)) {
      RootShare share{&list, pass, depthQ, list.Cursor, MovesLeftInPass(list, pass)};
      root.Picker.Alpha = alpha;
      root.Picker.Beta = alpha + 1;
      root.Picker.Depth = depthQ;
      TimeLimits::IterationUnfinished = false;
      TimeLimits::NewBestPending = false;
      int best = alpha, window = alpha;
      Move cutMove = NoMove;
      bool splitAbort = false;
      if (SplitSearch(game, worker, root, 0, best, window, cutMove, Settings::Singular, NoTablebaseValue, splitAbort,
                      {ScoutNode, searched, 0}, &share)) {
        searched += share.Completed.load(std::memory_order_relaxed);
        CloseRootStretch(game, list, pass);
        if (splitAbort || worker.ShouldStop()) {
          LogLine("Interrupted search\n");
          RootSearchInterrupted = true;
          if (!worker.ShouldStop() && frontEnd) frontEnd->Info("Aborted at the root (scout): Likely SMP bug\n");
          return 0;
        }
        if (cutMove == NoMove) break;
        // The list changes only here, after the stretch: the cut move is
        // found again by its word.
        for (int i = 0; i < list.Count; ++i)
          if (list.Moves[i] == cutMove) index = i;
        assert(index >= 0);
        list.Cursor = 0;
        failedHighInSplit = true;
      }
    }
    if (!failedHighInSplit) {
      index = list.Cursor++;
      if (RootRecords[index].Done == pass) continue;
    }
    RootRecords[index].Done = pass;
    const Move move = list.Moves[index];
    root.CurrentMove = move;
    if (frontEnd) frontEnd->SendCurrentMove(iteration, &move, searched + 1, Elapsed());
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) {
      RemoveRootMove(list, index);
      if (index != searched && frontEnd) frontEnd->Info("SearchRoot: Inconsistency in move counter and move list\n");
      continue;
    }
    int childTb = NoTablebaseValue;
    if (probing) {
      int probe;
      if (ProbeForPruning(game, probe, stats)) {
        if (TablebaseDropsMove(probe, reference, haveReference)) {
          pos.UnmakeMove(undo);
          RemoveRootMove(list, index);
          continue;
        }
        childTb = probe;
      }
    }

    // Step 3. Extensions, as at every root move.
    const int moveNumber = ++searched;
    const int depth = RootMoveDepth(game, worker, move, undo, inCheck, depthQ, moveNumber);

    // Step 4. The first move on the full window; the others on a null window
    // at alpha, and only a fail high is searched again on the full window.
    // The time management hears of every fail high, and the nodes each move
    // costs order the moves of the next iteration.
    int score = 0;
    bool abort = false;
    bool scout = false;
    if (moveNumber == 1) {
      score = -Search(PvNode, game, worker, 1, -beta, -alpha, depth, Settings::Singular, childTb, &abort);
    } else {
      scout = true;
      if (!failedHighInSplit) {
        TimeLimits::IterationUnfinished = false;
        TimeLimits::NewBestPending = false;
        score = ScoutRootMove(game, worker, index, alpha, depth, childTb, &abort);
      }
      if (!abort && !worker.ShouldStop()) {
        if (!failedHighInSplit && score <= alpha) {
          pos.UnmakeMove(undo);
          Move line[MaxPly];
          const int length = LineOfChild(stack, move, line);
          if (frontEnd && frontEnd->SendRefutation(line, Elapsed())) PrintLine(game, line, length);
          continue;
        }
        TimeLimits::NewBestPending = true;
        std::snprintf(text, sizeof text, "Scout fail high for %s\n", MoveToText(pos, move));
        LogLine(text);
        ++TimeLimits::FailHighCount;
        scout = false;
        score = -Search(PvNode, game, worker, 1, -beta, -alpha, depth, Settings::Singular, childTb, &abort);
      }
    }
    // Step 5. A stop, or a search below that gave up, leaves the iteration
    // without a score.
    pos.UnmakeMove(undo);
    if (abort || worker.ShouldStop()) {
      LogLine("Interrupted search\n");
      RootSearchInterrupted = true;
      if (abort && !worker.ShouldStop() && frontEnd)
        frontEnd->Info(scout ? "Aborted at the root (scout): Likely SMP bug\n"
                             : "Aborted at the root (pv): Likely SMP Bug\n");
      return 0;
    }

    // Step 6. A move that enters the MultiPV table takes its rank there and
    // in the move list, and is reported; a fail high ends the iteration so
    // that the driver can widen the window. A move that does not enter
    // keeps a sort key below every ranked one.
    Move line[MaxPly];
    const int length = LineOfChild(stack, move, line);
    if (score > MultiPvLines[last].Score || MultiPvLines[last].Depth != iteration) {
      if (score < Statistics[0].LastScore - ScoreDropMargin) TimeLimits::ScoreDropped = true;
      int rank = 0;
      if (score <= MultiPvLines[0].Score)
        while (rank < last && MultiPvLines[rank].Depth == iteration && MultiPvLines[rank].Score >= score) ++rank;
      for (int i = last - 1; i >= rank; --i)
        if (MultiPvLines[i].Depth == iteration) MultiPvLines[i + 1] = MultiPvLines[i];
      MultiPvLine& entry = MultiPvLines[rank];
      entry.Depth = iteration;
      entry.Score = score;
      entry.PvLength = length;
      std::copy(line, line + length, entry.Pv);
      if (MultiPvLines[last].Depth == iteration) alpha = MultiPvLines[last].Score;

      RootRecords[index].SortKey = ((depthQ * SortKeyRanks) - rank) * SortKeyMoveNumbers + moveNumber;
      MoveRootMove(list, index, rank);

      if (score >= beta) {
        ++stats.CutNodes;
        if (moveNumber == 1) ++stats.CutNodeOrdering;
        if (moveNumber >= AllNodeMoveNumber) ++stats.FalseAllNodes;
        std::copy(line, line + length, root.Pv);
        root.PvLength = length;
        if (frontEnd && frontEnd->SendPv(iteration, '+', Elapsed(), score)) PrintLine(game, line, length);
        PonderMove = NoMove;
        return score;
      }
      if (rank == 0) {
        bestFromFirst = moveNumber == 1;
        std::copy(line, line + length, root.Pv);
        root.PvLength = length;
        if (MultiPvCount == 1 && frontEnd && frontEnd->SendPv(iteration, '&', Elapsed(), score))
          PrintLine(game, line, length);
        BestMove = root.Pv[0];
        PonderMove = length > 1 ? root.Pv[1] : NoMove;
      }
      if (MultiPvCount > 1 && frontEnd)
        for (int i = 0; i < MultiPvCount; ++i)
          if (MultiPvLines[i].PvLength > 0 &&
              frontEnd->SendMultiPv(i, MultiPvLines[i].Depth, MultiPvLines[i].Score))
            PrintLine(game, MultiPvLines[i].Pv, MultiPvLines[i].PvLength);
    } else {
      if (Verbose()) {
        std::snprintf(text, sizeof text, "Move did not make the window: %s (%d)\n", MoveToText(pos, move), score);
        LogLine(text);
      }
      RootRecords[index].SortKey = ((depthQ * SortKeyRanks) - MultiPvCount) * SortKeyMoveNumbers - moveNumber;
      if (frontEnd && frontEnd->SendRefutation(line, Elapsed())) PrintLine(game, line, length);
    }
  }

  // Step 7. No move searched: mate or stalemate, or every move dropped by
  // the tables, which then give the score.
  if (searched == 0) {
    if (!haveReference) return inCheck ? -Infinity : 0;
    if (frontEnd) frontEnd->Info("No moves in table base position\n");
    return reference > WdlCursedWin ? -TablebaseWin : reference < WdlBlessedLoss ? TablebaseWin : 0;
  }
  // Step 8. Close the iteration: a single legal move is told to the driver,
  // moves long out of the table lose their rank, and the list is sorted for
  // the next iteration.
  OnlyOneMove.store(searched == 1, std::memory_order_relaxed);
  ++stats.AllNodes;
  if (bestFromFirst) ++stats.AllNodeOrdering;
  if (depthQ > RankMemoryDepth)
    for (int i = MultiPvCount; i < list.Count; ++i)
      if (RootRecords[i].SortKey < (depthQ - RankMemoryDepth) * SortKeyRanks * SortKeyMoveNumbers)
        RootRecords[i].SortKey = 0;
  SortRootMoves(list, MultiPvCount);
  return MultiPvLines[0].Score;
}

void SortRootMoves(MoveList& list, int first) {
  auto later = [&list](int i) {
    const RootMoveRecord &a = RootRecords[i], &b = RootRecords[i - 1];
    if (a.SortKey != b.SortKey) return a.SortKey > b.SortKey;
    if (a.Nodes != b.Nodes) return a.Nodes > b.Nodes;
    return list.Scores[i] > list.Scores[i - 1];
  };
  for (bool exchanged = true; exchanged;) {
    exchanged = false;
    for (int i = list.Count - 1; i > first && i > 0; --i) {
      if (!later(i)) continue;
      std::swap(list.Moves[i], list.Moves[i - 1]);
      std::swap(list.Scores[i], list.Scores[i - 1]);
      std::swap(RootRecords[i], RootRecords[i - 1]);
      exchanged = true;
    }
  }
}

// The easy-move test's margin below the best score, in milli-pawns at a
// singular margin setting of 100 percent.
constexpr int EasyMoveMarginBase = 1100;
// The test searches this many quarter plies (five plies) less deep than the
// iteration, or at half its depth when that is deeper.
constexpr int EasyMoveDepthCut = 20;

bool IsEasyMove(ChessGame& game, Worker& worker, int score, int depthQ) {
  Position& pos = game;
  MoveList& list = game.Moves;
  PlyRecord& root = worker.Stack().Records[0];
  const int margin = Settings::SingMargin * EasyMoveMarginBase / 100;
  const int a = score - margin;
  const int depth = std::max(depthQ - EasyMoveDepthCut, depthQ / 2);
  int above = 0;
  for (int i = 0; i < list.Count; ++i) {
    const Move move = list.Moves[i];
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    root.CurrentMove = move;
    bool abort = false;
    const int value = -Search(ScoutNode, game, worker, 1, -a - 1, -a, depth - OnePly, false, NoTablebaseValue, &abort);
    pos.UnmakeMove(undo);
    if (abort || worker.ShouldStop()) return true;
    if (value <= a) continue;
    ++above;
    if (above > 1 || value > DecisiveScore) return false;
  }
  return above == 1;
}

// The bits of a move word the transposition table keeps.
constexpr Move StoredMoveBits = 0xffffff;

int PrintPvFromHash(ChessGame& game, int pvLength, Move* pv) {
  // The variant travels inside the position, so printing leaves the game's
  // castling rules alone.
  Position pos = game;
  FrontEnd* frontEnd = ActiveFrontEnd;
  if (frontEnd && frontEnd->Mode == ModePondering && SearchPonderMove != NoMove && frontEnd->Kind != ProtocolUci)
    Printer.Print(ChannelStdout, true, " (%s)", MoveToText(pos, SearchPonderMove));
  int length = 0;
  UndoRecord undo;
  // Every front end's thinking line ends in "pv" (or its own header) and
  // leaves the moves to this function, the first one included.
  const char* first = pvLength > 0 ? MoveToText(pos, pv[0]) : nullptr;
  if (pvLength > 0 && pos.MakeMove(pv[0], undo)) {
    Printer.Print(ChannelStdout, true, " %s", first);
    length = 1;
    for (; length < pvLength && length < MaxPly; ++length) {
      const char* text = MoveToText(pos, pv[length]);
      if (!pos.MakeMove(pv[length], undo)) break;
      Printer.Print(ChannelStdout, true, " %s", text);
    }
    // The table's best moves continue the line; each must be a move the
    // generator knows in this position, whatever the entry holds.
    for (; length < MaxPly && pos.Fifty < FiftyMovePlies; ++length) {
      std::uint32_t repetitions = 0;
      if (pos.IsRepetition(MaxPly, repetitions)) break;
      HashEntry found;
      if (!TranspositionTable::Probe(pos.Keys(), found)) break;
      const Move stored = found.GetMove() & ~MoveGivesCheck;
      if (stored == NoMove) break;
      MoveList moves;
      GenerateMoves(pos, moves, nullptr);
      Move next = NoMove;
      for (int i = 0; i < moves.Count; ++i)
        if ((moves.Moves[i] & StoredMoveBits & ~MoveGivesCheck) == stored) next = moves.Moves[i];
      if (next == NoMove) break;
      const char* text = MoveToText(pos, next);
      if (!pos.MakeMove(next, undo)) break;
      Printer.Print(ChannelStdout, true, " %s", text);
      pv[length] = next;
    }
  }
  Printer.Print(ChannelStdout, true, "\n");
  return length;
}
