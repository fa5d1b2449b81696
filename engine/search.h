// The node search below the root (principal-variation search with null move,
// razoring, extensions, reductions and a singular test) and the quiescence
// search at its leaves. Depth in quarter plies, scores in milli-pawns from
// the side to move's view, mate at ply p scoring p - 200000.
#pragma once

#include <cstdint>

#include "engine/move.h"

class ChessGame;
class Position;
struct Worker;
struct PlyRecord;
struct UndoRecord;
struct SearchStatistics;

inline constexpr int Infinity = 200000;
inline constexpr int MateBound = 190000;       // at or beyond: a mate for killers and aspiration
inline constexpr int TablebaseWin = 100000;
inline constexpr int NoTablebaseValue = -99;
// A score no evaluation reaches (fifty pawns): a won position, not a move
// that merely stands out among the others.
inline constexpr int DecisiveScore = 50000;

// Depth is counted in quarter plies, so that extensions can be fractions.
inline constexpr int OnePly = 4;
// A reduced move keeps at least this depth (quarter plies) of its own.
inline constexpr int MinReducedDepth = 3;
// The node statistics count a node that reaches its fourth move as an all
// node, and a cut by that move or a later one as a false all node.
inline constexpr int AllNodeMoveNumber = 4;
// Half-moves without a capture or a pawn move that draw the game.
inline constexpr int FiftyMovePlies = 100;

// The tablebase results as ProbeWdl gives them, from the side to move's
// view. A cursed win or a blessed loss is a draw under the fifty-move rule.
inline constexpr int WdlLoss = -2;
inline constexpr int WdlBlessedLoss = -1;
inline constexpr int WdlDraw = 0;
inline constexpr int WdlCursedWin = 1;
inline constexpr int WdlWin = 2;
// No table holds this many men, so positions with this many are not probed.
inline constexpr int TablebaseMenLimit = 7;

enum NodeType : int { PvNode = 1, ScoutNode = 2 };

// The score of a repetition or fifty-move draw: 0, clamped into the window.
inline int DrawScore(int alpha, int beta) { return alpha > 0 ? alpha : beta < 0 ? beta : 0; }

int Search(int nodeType, ChessGame& game, Worker& worker, int ply, int alpha, int beta, int depth,
           bool singularAllowed, int tbValue, bool* abort);
int Quiesce(ChessGame& game, Worker& worker, int ply, int alpha, int beta, bool withChecks, int tbValue);

// The extension of a move just made (0..4 quarter plies); clears *reducible
// for moves that must not be reduced.
int GetExtension(int nodeType, ChessGame& game, Move move, bool inCheckBefore, int remainingDepth,
                 std::uint32_t orderingScore, const UndoRecord& undo, bool* reducible, int thread);
// The late-move reduction (quarter plies) of a reducible move after the
// first: moveNumber counts the node's moves searched so far with this one,
// and moves beyond lateMoves take the extra reduction. The node loop and a
// split point of the same node reduce alike, whoever searches the move.
int LateMoveReduction(int nodeType, int moveNumber, int lateMoves, int newDepth);
bool NullMoveAllowed(ChessGame& game, Worker& worker, int ply);
int NullMoveReduction(int depth);
void SingularTest(ChessGame& game, Worker& worker, PlyRecord& record, int ply, int ttScore, int depth,
                  Move* singularMove, std::uint32_t* singularFlag, bool singularAllowed, bool* abort);
// Each colour's N + B + 2R + 4Q clamped to 3..11, minus 3.
void GetPhase(const Position& position, int* blackPhase, int* whitePhase);

// Tablebase pruning of the move loops. ProbeForPruning: the WDL value of the
// position after a move, counted as a hit; false when no table answers (a
// failed probe is no known result). TablebaseDropsMove: true when the probe
// (the opponent's view) is worse for the mover than the reference, which
// starts at the first probe when the node had no value and then follows the
// lowest one.
bool ProbeForPruning(ChessGame& game, int& probe, SearchStatistics& stats);
bool TablebaseDropsMove(int probe, int& reference, bool& haveReference);
