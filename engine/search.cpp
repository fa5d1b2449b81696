// The node search: principal-variation search with a fail-soft window, the
// transposition and learning probes, razoring, null move, a singular-move
// test, extensions, late-move reductions, tablebase pruning of moves and the
// offer to split the node among idle workers.
#include "engine/search.h"

#include <algorithm>
#include <cassert>

#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/learning.h"
#include "engine/material.h"
#include "engine/movepick.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "tablebase/probe.h"
#include "tablebase/registry.h"

namespace {

inline void RaiseSelDepth(SearchStatistics& stats, int ply) {
  if (static_cast<int>(stats.SelDepth) < ply) stats.SelDepth = static_cast<std::uint32_t>(ply);
}

inline bool WasNullMove(const PlyStack& stack, int ply) {
  return ply >= 0 && stack.Records[ply].CurrentMove == MoveNull;
}

// The largest score (milli-pawns, either sign) of a position a side cannot
// win: the search shuts its window around the draw at this width.
constexpr int DrawishScoreBound = 1;
// The material lead (milli-pawns, a pawn) that tilts a drawish score.
constexpr int DrawishMaterialLead = 1000;

// A capture that leaves the side to move unable to win bounds the score; the
// material decides only the sign of the small score returned.
inline int DrawishScore(const Position& pos) {
  int blackPhase, whitePhase;
  int material = pos.GetMaterialScore(blackPhase, whitePhase);
  if (pos.Side == Black) material = -material;
  return material > DrawishMaterialLead ? DrawishScoreBound : material < -DrawishMaterialLead ? -DrawishScoreBound : 0;
}

inline void RememberCut(PlyRecord& record, Move move, int score) {
  if (score < MateBound)
    UpdateKillers(record, move);
  else if (!(move & (MoveCapture | MovePromotion)))
    record.MateKiller = move;
}

inline int MenOnBoard(const Position& pos) { return PopCount(pos.Occupied); }

}  // namespace

bool ProbeForPruning(ChessGame& game, int& probe, SearchStatistics& stats) {
  if (MenOnBoard(game) >= TablebaseMenLimit || MenOnBoard(game) > TbMaxMen || Settings::SzDepth < 0) return false;
  int success = 0;
  const int value = ProbeWdl(game, &success);
  if (!success) return false;  // a missing table is no known result, least of all a draw
  ++stats.SyzygyHits;
  probe = value;
  return true;
}

bool TablebaseDropsMove(int probe, int& reference, bool& haveReference) {
  if (!haveReference) {
    reference = probe;
    haveReference = true;
    return false;
  }
  if (probe > reference) return true;
  reference = probe;
  return false;
}

void GetPhase(const Position& pos, int* blackPhase, int* whitePhase) {
  auto phaseOf = [&pos](int colour) {
    const int raw = pos.CountOf(PieceCode(colour, Knight)) + pos.CountOf(PieceCode(colour, Bishop)) +
                    2 * pos.CountOf(PieceCode(colour, Rook)) + 4 * pos.CountOf(PieceCode(colour, Queen));
    return MaterialPhase(raw);
  };
  *blackPhase = phaseOf(Black);
  *whitePhase = phaseOf(White);
}

// The progress setting runs 0..16: from one ply past the base depth on, the
// reduction grows by a quarter ply every 17 - progress quarter plies.
constexpr int NullProgressSpan = 17;

int NullMoveReduction(int depth) {
  const int base = Settings::NullBase, progress = Settings::NullProgress;
  if (progress == 0 || depth < base + OnePly) return base;
  return (depth - base) / (NullProgressSpan - progress) + base;
}

// The men of a side that has the king and a single piece besides.
constexpr int KingAndOnePiece = 2;

bool NullMoveAllowed(ChessGame& game, Worker& worker, int ply) {
  if (!Settings::DoNullMove) return false;
  const Position& pos = game;
  const PlyStack& stack = worker.Stack();
  const int us = pos.Side;
  const int pawns = pos.CountOf(PieceCode(us, Pawn)), knights = pos.CountOf(PieceCode(us, Knight));
  const bool afterNull = WasNullMove(stack, ply - 1);
  // With only knights and pawns, or one other piece alone, zugzwang is
  // likely: a null move is then tried only to verify one just made.
  if (pos.PieceCount[us] <= KingAndOnePiece + std::max(knights + pawns - 1, 0) && !afterNull) return false;
  return ply < 3 || !afterNull || !WasNullMove(stack, ply - 2);
}

// A quarter ply more for a capture that wins material in a PV node.
constexpr int GoodCaptureExtension = 1;
// The men left beside the pawns once only the two kings remain.
constexpr int KingsOnly = 2;
// By colour (White, Black): the row (a8 on row 0) of a pawn one step from
// promotion.
constexpr int SeventhRow[2] = {1, 6};

int GetExtension(int nodeType, ChessGame& game, Move move, bool, int remainingDepth, std::uint32_t orderingScore,
                 const UndoRecord& undo, bool* reducible, int thread) {
  Position& pos = game;
  SearchStatistics& stats = Statistics[thread];
  *reducible = (move & (MoveCapture | MoveCastle | MoveEnPassant | MovePromotion | MoveNull)) == 0;
  if (pos.InCheck()) {
    *reducible = false;
    ++stats.CheckExtensions;
    return OnePly;
  }
  int extension = 0;
  const int captured = undo.Captured;
  if (captured != 0 && KindOf(captured) != Pawn) {
    if (nodeType == PvNode && orderingScore >= GoodCaptureScore) {
      extension = GoodCaptureExtension;
      ++stats.CaptureExtensions;
    }
    if (KindOf(captured) == Queen && pos.CountOf(PieceCode(White, Queen)) + pos.CountOf(PieceCode(Black, Queen)) == 0) {
      ++stats.QueenCaptureExtensions;
      *reducible = false;
      return OnePly;
    }
    const int pawns = pos.CountOf(PieceCode(White, Pawn)) + pos.CountOf(PieceCode(Black, Pawn));
    if (pos.PieceCount[White] + pos.PieceCount[Black] - pawns == KingsOnly) {
      *reducible = false;
      return OnePly;
    }
  }
  const int to = MoveTo(move);
  const int piece = pos.Board[to];
  if (KindOf(piece) == Pawn && RowOf(to) == SeventhRow[ColourOf(piece)]) {
    extension += std::max(OnePly - remainingDepth, 0);
    *reducible = false;
  }
  return std::min(extension, OnePly);
}

// The test's margin below the table's score, in milli-pawns at a margin
// setting of 100 percent.
constexpr int SingularMarginBase = 300;
// The test searches this many quarter plies (five plies) less deep than the
// node, or at half its depth when that is shallower.
constexpr int SingularDepthCut = 20;

void SingularTest(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int ttScore, int depth,
                  Move* singularMove, std::uint32_t* singularFlag, bool, bool* abort) {
  Position& pos = game;
  MovePicker& picker = record.Picker;
  ++Statistics[worker.Id].SingularSearches;
  // A mated entry would put the test's window below every score; held at
  // -Infinity the window stays in range, and every move passes it as before.
  const int a = std::max(ttScore - (Settings::SingMargin * SingularMarginBase) / 100, -Infinity);
  picker.Alpha = a;
  picker.Beta = a + 1;
  picker.Depth = std::min(depth - SingularDepthCut, depth / 2);
  *singularMove = NoMove;

  int passed = 0;
  Move candidate = NoMove;
  bool failed = false;
  std::uint32_t orderingScore;
  for (Move move; (move = MovePicker::NextMove(record, orderingScore, game, worker, ply, true)) != NoMove;) {
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    record.CurrentMove = move;
    bool childAbort = false;
    const int score = -Search(ScoutNode, game, worker, ply + 1, -a - 1, -a, picker.Depth - OnePly, false,
                              NoTablebaseValue, &childAbort);
    pos.UnmakeMove(undo);
    if (childAbort || worker.ShouldStop()) {
      *abort = true;
      return;
    }
    if (score < a + 1) continue;
    // The hash move handed out before the list exists lands at index 0 anyway.
    if (picker.Stage != StageGenerate) MoveToIndex(picker.List, picker.List.Cursor - 1, passed);
    ++passed;
    candidate = move;
    if (passed > 1 || score > DecisiveScore) {
      failed = true;
      break;
    }
  }
  if (!failed && passed == 1) {
    *singularFlag = HashSingularFlag;
    *singularMove = candidate;
  }
  MovePicker::Reset(record);
}

// The phase of a side that still has its full set of pieces.
constexpr int FullPhase = 8;
// Only nodes deeper than this (quarter plies; six plies on) pay for a
// singular test.
constexpr int SingularTestDepth = 23;
// How far (quarter plies) the table entry's depth may fall short of the
// node's for the singular test to trust its score.
constexpr int SingularEntrySlack = 12;
// Moves past the fifth, or past the first third of a longer list, are late:
// they take the larger reduction.
constexpr int FirstLateMove = 5;
constexpr int LateMoveShare = 3;
// The extension level setting counts quarters of an extension: at 4 the
// extension is made whole.
constexpr int ExtendLevelWhole = 4;

int LateMoveReduction(int nodeType, int moveNumber, int lateMoves, int newDepth) {
  const int limit = std::max(newDepth - MinReducedDepth, 0);
  const bool late = moveNumber > lateMoves;
  if (nodeType == PvNode) return std::min(limit, late ? Settings::LmrPv + Settings::LmrExtraPv : Settings::LmrPv);
  return std::min(limit, late ? Settings::LmrScout + Settings::LmrExtraScout : Settings::LmrScout);
}

int Search(int nodeType, ChessGame& game, Worker& worker, int ply, int alpha, int beta, int depth,
           bool singularAllowed, int tbValue, bool* abort) {
  // The caller's side of the bargain: a window inside the score range; a
  // ply below the root with a record of its own; no more depth than the
  // deepest iteration hands down, as extensions never add more than the ply
  // they replace; a tablebase value that is a WDL result or none.
  assert(-Infinity <= alpha && alpha < beta && beta <= Infinity);
  assert(nodeType == PvNode || nodeType == ScoutNode);
  assert(ply >= 1 && ply < MaxPly);
  assert(depth <= MaxSearchDepth * OnePly);
  assert(tbValue == NoTablebaseValue || (tbValue >= WdlLoss && tbValue <= WdlWin));
  Position& pos = game;
  SearchStatistics& stats = Statistics[worker.Id];
  PlyStack& stack = worker.Stack();
  PlyRecord& record = stack.Records[ply];
  MovePicker& picker = record.Picker;
  int best = ply - Infinity;

  // Step 1. Open the node: count it and empty its PV, so that an early
  // return leaves no line of an earlier visit behind.
  ++stats.InnerNodes;
  record.PvLength = ply;
  record.Pv[ply] = NoMove;

  // Step 2. Mate distance: no score here can beat a mate found nearer the
  // root, so a window outside what is still possible ends the node.
  if (ply - Infinity >= beta) {
    // Being mated at this very ply still reaches beta: a fail high.
    RaiseSelDepth(stats, ply);
    return ply - Infinity;
  }
  if (Infinity - 1 - ply <= alpha) {
    // Mating at the next ply cannot rise above alpha: a fail low.
    RaiseSelDepth(stats, ply);
    return Infinity - 1 - ply;
  }
  // Step 3. Less than a ply left: the quiescence search settles the
  // captures. Worker 0 alone polls the clock, every few thousand nodes.
  if (depth < OnePly) return Quiesce(game, worker, ply, alpha, beta, true, tbValue);
  if (worker.Id == 0 && (stats.InnerNodes & TimePollMask) == 0) CheckTime(game, worker, ply);

  // Step 4. Draws: a dead position, a repetition, the fifty-move rule. The
  // table's line is fetched meanwhile, as the probe follows soon.
  TranspositionTable::Prefetch(pos.Hashkey);
  if (pos.IsPawnStalemate()) {
    // No mating material, or a king whose pawns and own moves are all stuck.
    RaiseSelDepth(stats, ply);
    return 0;
  }
  std::uint32_t repetitions = 0;
  if (pos.Fifty >= FiftyMovePlies || pos.IsRepetition(ply, repetitions)) {
    // Drawn by the fifty-move rule or by repetition.
    RaiseSelDepth(stats, ply);
    return DrawScore(alpha, beta);
  }
  // Seen once before the root: not yet a draw, but table and learned results
  // of other paths must not hide the repetition.
  const bool seenBefore = repetitions != 0;

  // Step 5. After a capture, a side left without winning chances caps the
  // window at a draw; once the window closes, no search is needed.
  if (stack.Records[ply - 1].CurrentMove & MoveCapture) {
    bool bounded = false;
    if (beta > DrawishScoreBound && pos.IsTrivialDraw(pos.Side)) {
      beta = DrawishScoreBound;
      bounded = bounded || alpha >= -DrawishScoreBound;
    }
    if (alpha < -DrawishScoreBound && pos.IsTrivialDraw(pos.Side ^ 1)) {
      alpha = -DrawishScoreBound;
      bounded = bounded || beta < DrawishScoreBound + 1;
    }
    if (beta <= alpha || bounded) {
      // The window shut around the draw: only the sign of the material counts.
      return DrawishScore(pos);
    }
  }

  // Step 6. The transposition table. A scout node takes a bound of enough
  // depth, or a mate, as its result (a PV node searches on, to keep its
  // line whole); any node takes the hash move to try first, and the
  // singular mark with it.
  const bool inCheck = pos.InCheck();
  picker.Stage = StageInactive;
  record.Maps.Valid = false;
  picker.HashMove = NoMove;
  std::uint32_t singularFlag = 0;

  const KeyPair keys = pos.Keys();
  HashEntry found;
  const HashEntry* slot = TranspositionTable::Probe(keys, found);
  ++stats.HashProbes;
  Move hashMove = NoMove;
  if (slot) {
    ++stats.HashHits;
    hashMove = found.GetMove();
    // The entry's check word matched this position, so its move was found
    // here; the cuts below put it into the PV and the killers unmade.
    assert(hashMove == NoMove || IsPseudoLegal(pos, hashMove));
    picker.HashMove = hashMove;
    if (found.IsSingular() && found.Score() - Settings::SingMargin < beta && !inCheck) singularFlag = HashSingularFlag;
    if (nodeType == ScoutNode && ((found.Depth() >= depth && !seenBefore) || found.IsMate())) {
      const int score = HashScoreAtPly(found.Score(), ply);
      const int bound = found.Bound();
      if (bound == BoundLower && score >= beta) {
        // A lower bound at or above beta: the node fails high unsearched.
        ++stats.HashCutoffs;
        RememberCut(record, hashMove, score);
        record.Pv[ply] = hashMove;
        record.PvLength = ply + 1;
        TranspositionTable::RefreshAge(const_cast<HashEntry*>(slot), found);
        RaiseSelDepth(stats, ply);
        return score;
      }
      if (bound == BoundExact) {
        // An exact score of enough depth is the node's score, whatever the window.
        ++stats.HashCutoffs;
        if (hashMove != NoMove) {
          record.Pv[ply] = hashMove;
          record.PvLength = ply + 1;
        }
        TranspositionTable::RefreshAge(const_cast<HashEntry*>(slot), found);
        if (score >= beta) RememberCut(record, hashMove, score);
        RaiseSelDepth(stats, ply);
        return score;
      }
      if (bound == BoundUpper && score <= alpha) {
        // An upper bound at or below alpha: the node fails low unsearched.
        ++stats.HashCutoffs;
        TranspositionTable::RefreshAge(const_cast<HashEntry*>(slot), found);
        RaiseSelDepth(stats, ply);
        return score;
      }
    }
  }

  // Step 7. Near the root, a result learned in earlier games stands in for
  // the search.
  if (ActiveLearning && ply < 7 && !seenBefore) {
    int learnedScore, learnedDepth;
    if (ActiveLearning->Find(keys, learnedScore, learnedDepth) &&
        learnedDepth >= depth) {
      // Searched at least this deep: it stands for this node's search.
      return learnedScore;
    }
  }

  // Step 8. The deepest ply the records hold.
  if (ply >= MaxPly - 1 || pos.Ply >= MaxGamePlies - 1) {
    // No room left in the ply records or the key history: the static score.
    RaiseSelDepth(stats, ply);
    return Evaluate(pos, record.Maps, worker.Id);
  }

  // Step 9. Razoring: near the leaves, a node without a hash move whose
  // static score lies a margin below alpha gets a quiescence search at the
  // margin, and is dropped when that cannot make the margin up either.
  const bool afterNull = WasNullMove(stack, ply - 1);
  if ((nodeType == ScoutNode || Settings::PrunePv) && depth / OnePly <= Settings::PruneLevel && hashMove == NoMove &&
      alpha > -TablebaseWin && beta < TablebaseWin && !afterNull) {
    int blackPhase, whitePhase;
    GetPhase(pos, &blackPhase, &whitePhase);
    const int margin = AlphaMargin[pos.Side == White ? blackPhase : whitePhase][depth / OnePly];
    const int threshold = alpha - margin;
    if (Evaluate(pos, record.Maps, worker.Id) <= threshold) {
      record.CurrentMove = NoMove;
      const int value = Quiesce(game, worker, ply + 1, threshold, threshold + 1, true, tbValue);
      if (value <= threshold) {
        // Razored: even the captures cannot lift the score to alpha.
        return value <= -MateBound ? value - 1 : value + margin;
      }
    }
  }

  // Step 10. Null move: when passing, at reduced depth, still holds beta,
  // a real move will too. Not in check, not near a mate, not for a side the
  // tables call lost, and not where zugzwang is likely. The reduction
  // shrinks with fewer pieces, where passing misleads more often.
  if (tbValue != WdlLoss && !inCheck && (depth > Settings::NullBase || afterNull) && beta < MateBound + 1 &&
      NullMoveAllowed(game, worker, ply)) {
    ++stats.NullMoves;
    int reduction = NullMoveReduction(depth);
    const int us = pos.Side;
    // The king counts among the pieces: with it alone, or one or two pieces
    // beside it, a third, a half or two thirds of the reduction remain.
    const int pieces = pos.PieceCount[us] - pos.CountOf(PieceCode(us, Pawn));
    if (pieces == 1)
      reduction = reduction / 3;
    else if (pieces == 2)
      reduction = reduction / 2;
    else if (pieces == 3)
      reduction = 2 * reduction / 3;
    if (afterNull) {
      int phase = FullPhase;
      if (pos.Matkey > 0) {
        int blackPhase, whitePhase;
        pos.GetMaterialScore(blackPhase, whitePhase);
        phase = us == White ? blackPhase : whitePhase;
      }
      if (phase == 0) reduction -= OnePly;
    }
    UndoRecord undo;
    if (pos.MakeNullMove(undo)) {
      record.CurrentMove = MoveNull;
      bool childAbort = false;
      const int score = -Search(ScoutNode, game, worker, ply + 1, -beta, 1 - beta, depth - reduction - OnePly, false,
                                NoTablebaseValue, &childAbort);
      pos.UnmakeNullMove(undo);
      if (childAbort || worker.ShouldStop()) {
        *abort = true;
        return std::max(best, score);
      }
      if (score >= beta) {
        ++stats.NullCutoffs;
        // Passing still holds beta: the node fails high without a move.
        return beta;
      }
    }
  }

  // Step 11. Ready the picker: the hash move first, then every move, or the
  // evasions alone when in check. The maps serve generation and ordering.
  if (!record.Maps.Valid) pos.BuildAttackMaps(record.Maps);
  picker.Mode = inCheck ? GenerateEvasionsMode : GenerateAllMode;
  picker.Alpha = alpha;
  picker.Beta = beta;
  picker.Depth = 0;
  picker.List.Count = 0;
  picker.List.Cursor = 0;
  picker.Stage = StageHashMove;

  // Step 12. Singular test: when one move alone comes near the table's
  // score, the node is marked and its first move extended. Deep nodes
  // only, with a trusted entry, as the test is a search of its own.
  if (Settings::Singular && singularAllowed && singularFlag != HashSingularFlag && depth > SingularTestDepth &&
      hashMove != NoMove && found.Bound() != BoundUpper && found.Depth() >= depth - SingularEntrySlack &&
      found.Score() < Settings::SingMargin + beta && !inCheck) {
    Move singularMove;
    SingularTest(game, worker, record, ply, found.Score(), depth, &singularMove, &singularFlag, singularAllowed, abort);
    if (*abort) return found.Score();
  }

  // Step 13. The move loop. The picker's window and depth are the node's
  // again after the singular test; the tablebase reference starts from the
  // parent's probe, so that moves worse than that result can be dropped.
  picker.Alpha = alpha;
  picker.Beta = beta;
  picker.Depth = depth;
  const int lateMoves = std::max(FirstLateMove, picker.List.Count / LateMoveShare);
  const int alphaAtEntry = alpha;
  const bool probing = Settings::SzDepth <= depth && SyzygyProbing.load(std::memory_order_relaxed) && !inCheck;
  bool haveReference = tbValue != NoTablebaseValue;
  int reference = haveReference ? -tbValue : NoTablebaseValue;
  bool droppedByTablebase = false;
  Move bestMove = NoMove;
  int moveNumber = 0, bestNumber = 0;

  std::uint32_t orderingScore;
  for (Move move; (move = MovePicker::NextMove(record, orderingScore, game, worker, ply, true)) != NoMove;) {
    // Step 14. Make the move (the picker's moves are pseudo-legal, so an
    // illegal one fails here), and drop it when the tables show it worse
    // than a move already seen.
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    int childTb = NoTablebaseValue;
    if (probing) {
      int probe;
      if (ProbeForPruning(game, probe, stats)) {
        if (TablebaseDropsMove(probe, reference, haveReference)) {
          pos.UnmakeMove(undo);
          droppedByTablebase = true;
          continue;
        }
        childTb = probe;
      }
    }

    // Step 15. Extensions: checks, captures that change the ending, pawns
    // near promotion, and the singular move; never more than a ply.
    ++moveNumber;
    record.CurrentMove = move;
    bool reducible;
    const int extension =
        GetExtension(nodeType, game, move, inCheck, depth - OnePly, orderingScore, undo, &reducible, worker.Id);
    int ext = extension * Settings::ExtendLevel / ExtendLevelWhole;
    if (Settings::SingExtension != 0 && moveNumber == 1 && singularFlag) {
      ext += Settings::SingExtension;
      ++stats.SingularExtensions;
    }
    ext = std::min(ext, OnePly);
    if (moveNumber == AllNodeMoveNumber) ++stats.AllNodeTotal;
    const int newDepth = depth - OnePly + ext;

    // Step 16. Every move after the first gets a null window first, reduced
    // when it is quiet and no killer, more so late in the order; a reduced
    // move that beats alpha in a PV node is tried again at full depth before
    // it counts.
    int score;
    bool childAbort = false;
    if (moveNumber > 1) {
      int reduction = 0;
      if (reducible && orderingScore < ReducibleScoreLimit)
        reduction = LateMoveReduction(nodeType, moveNumber, lateMoves, newDepth);
      score = -Search(ScoutNode, game, worker, ply + 1, -alpha - 1, -alpha, newDepth - reduction, singularAllowed,
                      childTb, &childAbort);
      if (childAbort || worker.ShouldStop()) {
        *abort = true;
        pos.UnmakeMove(undo);
        return std::max(best, score);
      }
      if (score > alpha && nodeType == PvNode && beta - alpha > 1 && reduction > 0) {
        score = -Search(ScoutNode, game, worker, ply + 1, -alpha - 1, -alpha, newDepth, singularAllowed, childTb,
                        &childAbort);
        if (childAbort || worker.ShouldStop()) {
          *abort = true;
          pos.UnmakeMove(undo);
          return std::max(best, score);
        }
      }
    }
    // A move that failed low on the null window is done with; it still
    // passes the split offer below, as most moves of a node fail low and an
    // offer after the first move alone leaves idle workers waiting.
    const bool failedLow = moveNumber > 1 && score <= alpha;
    if (failedLow) {
      pos.UnmakeMove(undo);
      best = std::max(best, score);
    } else {
      // Step 17. The node's own window, for the first move and for any move
      // that beat alpha on the null window.
      score = -Search(nodeType, game, worker, ply + 1, -beta, -alpha, newDepth, singularAllowed, childTb, &childAbort);
      pos.UnmakeMove(undo);
      if (childAbort || worker.ShouldStop()) {
        *abort = true;
        return best;
      }
    }

    // Step 18. A new best move: a cut at beta, or a new alpha and PV. A
    // singular mark that another move beat was wrong.
    if (!failedLow && score > best) {
      bestMove = move;
      if (singularFlag && moveNumber > 1) {
        singularFlag = 0;
        ++stats.SingularFailures;
      }
      bestNumber = moveNumber;
      best = score;
      if (score >= beta) {
        // A fail high: the table, the killers and the history learn the move.
        ++stats.CutNodes;
        if (moveNumber == 1) ++stats.CutNodeOrdering;
        if (moveNumber >= AllNodeMoveNumber) ++stats.FalseAllNodes;
        TranspositionTable::StoreLower(keys, score, depth, ply, move, singularFlag);
        RememberCut(record, move, score);
        UpdateHistory(worker, depth, pos.Board[MoveFrom(move)], move);
        record.Pv[ply] = move;
        record.PvLength = ply + 1;
        return score;
      }
      if (nodeType == PvNode && score > alpha) {
        alpha = score;
        picker.Alpha = score;
        UpdatePv(stack, move, ply);
      }
    }

    // Step 19. Split: once a move has been searched without a cut (and
    // after every later move that did not cut), idle workers may share the
    // moves that remain.
    if (ThreadCount.load(std::memory_order_relaxed) > 1 && depth >= Settings::SplitDepth &&
        picker.List.Count - picker.List.Cursor >= Settings::MinSplit) {
      const bool split = SomeWorkerMayHelp(worker) &&
                         SplitSearch(game, worker, record, ply, best, alpha, bestMove, singularAllowed, tbValue,
                                     *abort, {nodeType, moveNumber, lateMoves});
      if (split) {
        if (*abort) return best;
        if (best >= beta) return best;
        break;
      }
    }
  }

  // Step 20. A stopped search has nothing to store. A stop inside the
  // picker's internal deepening ends the list early: no mate or stalemate
  // may be concluded from that.
  if (worker.ShouldStop()) {
    *abort = true;
    return best;
  }

  // Step 21. No move reached beta: store the result, exact in a PV node
  // that raised alpha, an upper bound otherwise.
  if (moveNumber > 0) {
    ++stats.AllNodes;
    if (bestNumber < 2) ++stats.AllNodeOrdering;
    if (nodeType == PvNode) {
      if (best <= alphaAtEntry)
        TranspositionTable::StoreUpper(keys, best, depth, ply);
      else if (bestMove != NoMove)
        TranspositionTable::StoreExact(keys, best, depth, ply, bestMove, singularFlag);
    } else {
      TranspositionTable::StoreUpper(keys, best, depth, ply);
    }
    // Every move searched: the best score is the node's, fail-soft.
    return best;
  }

  // Step 22. No move was searched: the tables dropped them all (the node
  // then scores as their reference says), or it is mate or stalemate.
  if (droppedByTablebase) {
    if (ActiveFrontEnd) ActiveFrontEnd->Info("No moves in table base position\n");
    return reference == WdlWin ? -TablebaseWin : reference == WdlLoss ? TablebaseWin : 0;
  }
  if (inCheck) {
    TranspositionTable::StoreExact(keys, ply - Infinity, depth, ply, NoMove, HashMateFlag);
    return ply - Infinity;
  }
  // No legal move and not in check: stalemate.
  TranspositionTable::StoreExact(keys, 0, depth, ply, NoMove, 0);
  return 0;
}
