// The per-ply record of a search (attack maps, move list, staged selection,
// killers, triangular PV) and the move picker that hands out the moves of a
// node best first: hash move, then the generated list scored by ScoreMoves.
#pragma once

#include <cstdint>

#include "engine/attacks.h"
#include "engine/move.h"
#include "engine/movegen.h"

class ChessGame;
struct Worker;
struct PlyRecord;

// Generator modes of the picker.
enum GeneratorMode : int {
  GenerateAllMode = 1,
  GenerateEvasionsMode = 2,
  GenerateQuiescenceMode = 3,
  GenerateQuiescenceChecksMode = 4,
  GenerateQuiescenceEvasionsMode = 7,
};

// Picker stages.
enum PickerStage : int {
  StageUnused = -2,    // never used since construction
  StageInactive = -1,  // set by a node before its probes
  StageHashMove = 0,
  StageGenerate = 1,
  StageSelect = 2,
  StageWalk = 3,  // a prepared list, in order
};

// Ordering scores the search and the quiescence search compare against.
inline constexpr std::uint32_t HashMoveScore = 0x55000000;
inline constexpr std::uint32_t QuiescenceCutScore = 0x10001000;  // at or below: never searched in quiescence
inline constexpr std::uint32_t ReducibleScoreLimit = 0x8000000;   // hash move, killers, checks, castling, captures, promotions lie above
inline constexpr std::uint32_t GoodCaptureScore = 0x40000001;     // captures that win or break even

// The selection part of a ply record: the list, the stage, the window and
// depth of the node, its generator mode and its hash move.
struct MovePicker {
  MoveList List;
  std::int32_t Stage;
  std::int32_t Alpha;
  std::int32_t Beta;
  std::int32_t Depth;  // quarter plies
  std::int32_t Mode;
  Move HashMove;

  // The next move of the node, NoMove when there is none left (or when the
  // search was stopped inside internal iterative deepening).
  static Move NextMove(PlyRecord& record, std::uint32_t& score, ChessGame& game, Worker& worker, int ply,
                       bool allowIid);
  // After the singular test: let the main loop see every move again.
  static void Reset(PlyRecord& record);
};

inline constexpr int MaxPly = 128;

struct PlyRecord {
  PlyRecord();

  AttackMaps Maps;  // Maps.Valid tells whether they belong to this node
  MovePicker Picker;
  std::uint8_t Checks;  // quiescence: hand checking moves to the children
  Move CurrentMove;     // MoveNull for a null move, 0 while razoring
  Move MateKiller;
  Move Killer1;
  Move Killer2;
  std::int32_t PvLength;
  Move Pv[MaxPly];
};

// One block of ply records per stack level of a worker. The PV of ply p
// lives in the record of ply p from index p on.
struct PlyStack {
  PlyRecord Records[MaxPly];
};

// Scores every move of the list for selection; true when the hash move was
// in it (it is then at index 0).
bool ScoreMoves(MoveList& list, Worker& worker, ChessGame& game, PlyRecord& record, Move hashMove, bool* iid, int ply);

// Selection helpers of the move list: the best-scored move from the cursor
// on (index handed out, -1 at the end), and moving an entry forward.
int PickBest(MoveList& list, Move& move);
void MoveToIndex(MoveList& list, int from, int to);

void UpdateKillers(PlyRecord& record, Move move);
void UpdateHistory(Worker& worker, int depth, int piece, Move move);
void UpdatePv(PlyStack& block, Move move, int ply);

// The ordering piece-square table in milli-pawns, [opponent has no queen]
// [piece code][square, a8 = 0].
struct OrderingTable {
  std::int16_t Values[2][16][64];
};
extern const OrderingTable OrderingPst;
