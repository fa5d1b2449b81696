// The quiescence search: stand pat on the static evaluation, then captures,
// promotions and, on the first quiescence ply, checking moves, until the
// position is quiet.
#include <cassert>
#include <cstdio>

#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/search.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/tt.h"

namespace {

// The log line's room: its heading, and each move with its space.
constexpr int LongestLineHeading = 64;
constexpr int LongestLineMoveWidth = 8;

// "New longest line to depth %d:" and the moves that led there, for the log.
void LogLongestLine(const Position& pos, Worker& worker, int ply) {
  if (!ActiveFrontEnd) return;
  char line[LongestLineHeading + MaxPly * LongestLineMoveWidth];
  int length = std::snprintf(line, sizeof line, "New longest line to depth %d:", ply);
  const PlyStack& stack = worker.Stack();
  for (int i = 0; i < ply && length < static_cast<int>(sizeof line) - LongestLineMoveWidth; ++i)
    length += std::snprintf(line + length, sizeof line - length, " %s", MoveToText(pos, stack.Records[i].CurrentMove));
  ActiveFrontEnd->Log(line);
}

// The depths the quiescence search stores its entries at: above the plain
// captures when the checking moves were searched too.
constexpr int QuiescenceDepth = 0;
constexpr int QuiescenceChecksDepth = 1;

}  // namespace

int Quiesce(ChessGame& game, Worker& worker, int ply, int alpha, int beta, bool withChecks, int tbValue) {
  // As for the node search: a window inside the score range, a ply with a
  // record of its own (the console's qscore starts at the root itself), a
  // WDL result or none.
  assert(-Infinity <= alpha && alpha < beta && beta <= Infinity);
  assert(ply >= 0 && ply < MaxPly);
  assert(tbValue == NoTablebaseValue || (tbValue >= WdlLoss && tbValue <= WdlWin));
  Position& pos = game;
  SearchStatistics& stats = Statistics[worker.Id];
  PlyStack& stack = worker.Stack();
  PlyRecord& record = stack.Records[ply];
  MovePicker& picker = record.Picker;
  int best = ply - Infinity;
  const int alphaAtEntry = alpha;

  // Step 1. Open the node: count it and empty its PV.
  ++stats.QNodes;
  record.PvLength = ply;
  record.Pv[ply] = NoMove;

  // Step 2. Mate distance, then the draws, as in the node search; the
  // table's line is fetched meanwhile.
  if (ply - Infinity >= beta) return ply - Infinity;
  if (Infinity - 1 - ply <= alpha) return Infinity - 1 - ply;
  TranspositionTable::Prefetch(pos.Hashkey);
  if (pos.IsPawnStalemate()) return 0;
  std::uint32_t repetitions = 0;
  if (pos.Fifty >= FiftyMovePlies || pos.IsRepetition(ply, repetitions)) return DrawScore(alpha, beta);

  // Step 3. The deepest ply the records hold: the static score must do.
  record.Maps.Valid = false;
  if (ply >= MaxPly - 1 || pos.Ply >= MaxGamePlies - 1) return Evaluate(pos, record.Maps, worker.Id);

  // Step 4. The transposition table: any bound that settles the window
  // ends the node, and the hash move is tried first either way.
  picker.Stage = StageInactive;
  picker.HashMove = NoMove;
  record.Checks = 0;

  const KeyPair keys = pos.Keys();
  HashEntry found;
  ++stats.QHashProbes;
  if (TranspositionTable::Probe(keys, found)) {
    ++stats.QHashHits;
    picker.HashMove = found.GetMove();
    // An entry from a search without checks knows less than this node wants.
    if (!withChecks || found.Depth() != QuiescenceDepth) {
      const int score = HashScoreAtPly(found.Score(), ply, HashMateBound + 1);
      const int bound = found.Bound();
      if ((bound == BoundLower && score >= beta) || bound == BoundExact || (bound == BoundUpper && score <= alpha)) {
        ++stats.QHashCutoffs;
        return score;
      }
    }
  }

  // Step 5. Stand pat: out of check the side to move may keep the static
  // score rather than capture, so it is a lower bound and may cut at once.
  // In check every evasion must be tried, and the children keep their
  // checking moves when this node had them.
  const bool inCheck = pos.InCheck();
  if (inCheck) {
    picker.Mode = GenerateQuiescenceEvasionsMode;
    if (withChecks) record.Checks = 1;
  } else {
    best = Evaluate(pos, record.Maps, worker.Id);
    picker.Mode = withChecks ? GenerateQuiescenceChecksMode : GenerateQuiescenceMode;
  }

  if (best > alpha) {
    if (best >= beta) {
      if (ply > static_cast<int>(stats.SelDepth)) {
        stats.SelDepth = static_cast<std::uint32_t>(ply);
        LogLongestLine(pos, worker, ply);
      }
      return best;
    }
    alpha = best;
  }

  // Step 6. A null move of the node search answered by one of our own: when
  // the position before it, captures alone, already holds beta for this
  // side, so does the node, at the cost of a quiescence search.
  if (ply > 2 && stack.Records[ply - 1].CurrentMove == MoveNull && stack.Records[ply - 2].CurrentMove != MoveNull) {
    UndoRecord undo;
    if (pos.MakeNullMove(undo)) {
      ++stats.NullMoves;
      record.CurrentMove = MoveNull;
      const int score = -Quiesce(game, worker, ply + 1, -beta, 1 - beta, withChecks, NoTablebaseValue);
      pos.UnmakeNullMove(undo);
      if (score >= beta) {
        ++stats.NullCutoffs;
        return beta;
      }
    }
  }

  // Step 7. Ready the picker: the hash move, then captures and promotions,
  // with quiet checks on the first quiescence ply. The tablebase reference
  // starts from the parent's probe.
  if (!record.Maps.Valid) pos.BuildAttackMaps(record.Maps);
  bool haveReference = tbValue != NoTablebaseValue;
  int reference = haveReference ? -tbValue : NoTablebaseValue;
  const bool probing = Settings::SzQsearch && SyzygyProbing.load(std::memory_order_relaxed);
  picker.Alpha = alpha;
  picker.Beta = beta;
  picker.Depth = 0;
  picker.List.Count = 0;
  picker.List.Cursor = 0;
  picker.Stage = StageHashMove;

  const int entryDepth = withChecks ? QuiescenceChecksDepth : QuiescenceDepth;
  bool improved = false;
  bool searched = false;
  // Step 8. The move loop: make each move, drop it when the tables show it
  // worse than one already seen (checking moves go unprobed), and search it
  // on the node's window.
  std::uint32_t orderingScore;
  for (Move move; (move = MovePicker::NextMove(record, orderingScore, game, worker, ply, true)) != NoMove;) {
    record.CurrentMove = move;
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    int childTb = NoTablebaseValue;
    if (probing && !(move & MoveGivesCheck)) {
      int probe;
      if (ProbeForPruning(game, probe, stats)) {
        if (TablebaseDropsMove(probe, reference, haveReference)) {
          pos.UnmakeMove(undo);
          continue;
        }
        childTb = probe;
      }
    }
    searched = true;
    ++stats.QsearchTotal;
    const int score = -Quiesce(game, worker, ply + 1, -beta, -alpha, record.Checks != 0, childTb);
    pos.UnmakeMove(undo);
    if (worker.ShouldStop()) return best;

    // Step 9. A new best move: a cut at beta, stored with the killers, or a
    // new alpha and PV.
    if (score <= best) continue;
    record.Pv[ply] = move;
    record.PvLength = ply + 1;
    best = score;
    if (score <= alpha) continue;
    improved = true;
    if (score >= beta) {
      ++stats.QsearchEfficient;
      TranspositionTable::Store(keys, score, entryDepth, ply, BoundLower, move, 0);
      UpdateKillers(record, move);
      return score;
    }
    alpha = score;
    UpdatePv(stack, move, ply);
  }

  // Step 10. No cut: store a score that rose above alpha as exact.
  if (improved) ++stats.QsearchEfficient;
  // A mate found here is left to the node search to store.
  if (best > alphaAtEntry && (searched || !inCheck))
    TranspositionTable::StoreExact(keys, best, entryDepth, ply, record.Pv[ply], 0);
  return best;
}
