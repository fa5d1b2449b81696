// Move ordering: the staged picker (hash move, generation, internal iterative
// deepening, best-first selection), the ordering scores, killers, history
// and the triangular principal variation.
#include "engine/movepick.h"

#include <cassert>

#include "engine/game.h"
#include "engine/search.h"
#include "engine/settings.h"
#include "engine/smp.h"

namespace {

// The ordering piece-square table. Only the white knight's back ranks of the
// first half are fixed values (rank 8 and rank 1, files a to h); every other
// entry comes from a simple shape per piece kind that we chose: knights and
// bishops to the centre, pawns forward, rooks to the seventh rank, the king
// to its corner while the opponent has a queen and to the centre once it has
// none. The knight's middle ranks blend the two fixed ranks linearly and add
// the centre shape, so the fixed values sit smoothly in the table. Black uses
// the mirror image. All values lie inside -321..362.
constexpr int KnightRank8[8] = {24, -55, -23, 13, -14, -3, -20, 30};
constexpr int KnightRank1[8] = {-77, -2, -45, -49, -40, -42, 0, -80};

constexpr int CentreDistance(int square) {
  const int file = FileOf(square), row = RowOf(square);
  const int df = file < 4 ? 3 - file : file - 4;
  const int dr = row < 4 ? 3 - row : row - 4;
  return df + dr;  // 0 in the centre .. 6 in a corner
}

constexpr int ShapeOf(int kind, bool noQueen, int square) {
  const int rank = RankOf(square), file = FileOf(square);
  const int centre = CentreDistance(square);
  switch (kind) {
    case Pawn: {
      if (rank < 2 || rank > 7) return 0;
      const int central = (file == 3 || file == 4) && (rank == 4 || rank == 5) ? 15 : 0;
      return (rank - 2) * (noQueen ? 25 : 12) + central;
    }
    case Knight: return 20 - 12 * centre;
    case Bishop: return 10 - 6 * centre;
    case Rook: return (rank == 7 ? 25 : 0) + (file == 3 || file == 4 ? 5 : 0);
    case Queen: return 8 - 4 * centre;
    case King:
      if (noQueen) return 30 - 15 * centre;
      if (rank == 1) return file == 1 || file == 2 || file == 6 ? 20 : 0;
      return rank * -30 + 30 < -150 ? -150 : rank * -30 + 30;
    default: return 0;
  }
}

constexpr int WhiteValue(int half, int kind, int square) {
  const int shape = ShapeOf(kind, half == 1, square);
  if (half != 0 || kind != Knight) return shape;
  const int row = RowOf(square), file = FileOf(square);
  const int top = KnightRank8[file], bottom = KnightRank1[file];
  const int edgeShape = ShapeOf(Knight, false, MakeSquare(file, 0));
  return top + (bottom - top) * row / 7 + (shape - edgeShape);
}

constexpr OrderingTable BuildOrderingTable() {
  OrderingTable table{};
  for (int half = 0; half < 2; ++half)
    for (int kind : {Pawn, Knight, King, Bishop, Rook, Queen})
      for (int square = 0; square < 64; ++square) {
        const int value = WhiteValue(half, kind, square);
        table.Values[half][PieceCode(White, kind)][square] = static_cast<std::int16_t>(value);
        table.Values[half][PieceCode(Black, kind)][square ^ 56] = static_cast<std::int16_t>(value);
      }
  return table;
}

constexpr Move LowBits(Move m) { return m & 0xffff; }

// The stages run in their declared order; only a node readying its picker,
// and Reset before the list exists, start them over.
inline void EnterStage(MovePicker& picker, PickerStage stage) {
  assert(stage > picker.Stage);
  picker.Stage = stage;
}

inline void RemoveAt(MoveList& list, int index) {
  --list.Count;
  list.Moves[index] = list.Moves[list.Count];
  list.Scores[index] = list.Scores[list.Count];
}

// The side to move's pieces under threat, and the squares it leaves
// undefended under attack: moving away from them is worth more.
Bitboard ThreatenedSquares(const Position& pos, const AttackMaps& maps) {
  const int us = pos.Side, them = us ^ 1;
  Bitboard threatened = (pos.PieceBB[PieceCode(us, Knight)] | pos.PieceBB[PieceCode(us, Bishop)]) & maps.Pawns[them];
  threatened |= pos.PieceBB[PieceCode(us, Rook)] & maps.UpToMinors[them];
  threatened |= pos.PieceBB[PieceCode(us, Queen)] & maps.UpToRooks[them];
  threatened |= maps.All[them] & ~maps.All[us];
  return threatened;
}

void Generate(const Position& pos, PlyRecord& record) {
  MoveList& list = record.Picker.List;
  list.Count = 0;
  list.Cursor = 0;
  switch (record.Picker.Mode) {
    case GenerateEvasionsMode:
    case GenerateQuiescenceEvasionsMode: GenerateEvasions(pos, list, record.Maps); break;
    case GenerateQuiescenceMode: GenerateQuiescenceMoves(pos, list, record.Maps); break;
    case GenerateQuiescenceChecksMode: GenerateQuiescenceChecks(pos, list, record.Maps); break;
    default: GenerateMoves(pos, list, &record.Maps); break;
  }
}

// A shallower search of every move first, so that the real one finds a best
// move in the table. False when the search was stopped.
bool InternalIterativeDeepening(PlyRecord& record, ChessGame& game, Worker& worker, int ply) {
  Position& pos = game;
  MovePicker& picker = record.Picker;
  MoveList& list = picker.List;
  const int depth = (picker.Depth + 1) / 2;
  int alpha = picker.Alpha;
  list.Cursor = 0;
  Move move;
  for (int index; (index = PickBest(list, move)) >= 0;) {
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) {
      RemoveAt(list, index);
      list.Cursor = index;  // the move moved into its slot is still to come
      continue;
    }
    record.CurrentMove = move;
    bool abort = false;
    const int score = -Search(PvNode, game, worker, ply + 1, -picker.Beta, -alpha, depth - 4, true, NoTablebaseValue, &abort);
    pos.UnmakeMove(undo);
    if (abort || worker.ShouldStop()) return false;
    if (score > alpha) {
      MoveToIndex(list, index, 0);
      alpha = score;
      if (score >= picker.Beta) break;
    }
  }
  return true;
}

}  // namespace

const OrderingTable OrderingPst = BuildOrderingTable();

PlyRecord::PlyRecord()
    : Maps{}, Picker{}, Checks(0), CurrentMove(0), MateKiller(0), Killer1(0), Killer2(0), PvLength(0), Pv{} {
  Maps.Valid = false;
  Picker.List.Count = 0;
  Picker.List.Cursor = 0;
  Picker.Stage = StageUnused;
}

int PickBest(MoveList& list, Move& move) {
  const int cursor = list.Cursor;
  if (cursor >= list.Count) return -1;
  int best = cursor;
  for (int i = cursor + 1; i < list.Count; ++i)
    if (list.Scores[i] > list.Scores[best]) best = i;
  const Move m = list.Moves[best];
  const std::uint32_t s = list.Scores[best];
  list.Moves[best] = list.Moves[cursor];
  list.Scores[best] = list.Scores[cursor];
  list.Moves[cursor] = m;
  list.Scores[cursor] = s;
  move = m;
  list.Cursor = cursor + 1;
  return cursor;
}

void MoveToIndex(MoveList& list, int from, int to) {
  if (from <= to) return;
  const Move m = list.Moves[from];
  const std::uint32_t s = list.Scores[from];
  for (int i = from; i > to; --i) {
    list.Moves[i] = list.Moves[i - 1];
    list.Scores[i] = list.Scores[i - 1];
  }
  list.Moves[to] = m;
  list.Scores[to] = s;
}

bool ScoreMoves(MoveList& list, Worker& worker, ChessGame& game, PlyRecord& record, Move hashMove, bool* iid, int ply) {
  const Position& pos = game;
  const AttackMaps& maps = record.Maps;
  const Bitboard threatened = ThreatenedSquares(pos, maps);
  const int opponent = pos.Side ^ 1;
  const int half = pos.PieceList[PieceCode(opponent, Queen)].Count > 0 ? 0 : 1;
  const PlyRecord* grandparent = ply >= 3 ? &worker.Stack().Records[ply - 2] : nullptr;
  bool found = false;

  for (int i = 0; i < list.Count; ++i) {
    const Move m = list.Moves[i];
    const int from = MoveFrom(m), to = MoveTo(m);
    const int piece = pos.Board[from];
    const bool fromThreatened = (threatened & SquareBit(from)) != 0;
    std::int64_t score;

    if (hashMove && LowBits(m) == LowBits(hashMove)) {
      list.Scores[i] = HashMoveScore;
      if (i != 0) {
        list.Moves[i] = list.Moves[0];
        list.Scores[i] = list.Scores[0];
        list.Moves[0] = m;
        list.Scores[0] = HashMoveScore;
      }
      found = true;
      if (iid) *iid = false;
      continue;
    }
    if (m & MovePromotion) {
      if (iid) *iid = false;
      const int exchange = pos.SEE(from, to, opponent, SeeValue[pos.Board[to]], SeeValue[PieceCode(0, Queen)], -200000);
      score = exchange + (KindOf(MovePromotionCode(m)) == Queen ? 0x500022a2 : 0x060022a2);
    } else if (m & MoveCapture) {
      const int s = pos.SEEMove(from, to, -400);
      score = s >= 400 ? 0x50000000 + s : s > -400 ? 0x42000000 + s : 0x10000000 + s;
      if (m & MoveGivesCheck) score += 0xc00;
      score -= SeeValue[piece] / 4;
      if (fromThreatened) score += 0x950;
    } else if (record.MateKiller && LowBits(m) == LowBits(record.MateKiller)) {
      score = 0x45000000;
    } else if (record.Killer1 && LowBits(m) == LowBits(record.Killer1)) {
      score = 0x16000000;
    } else if (record.Killer2 && LowBits(m) == LowBits(record.Killer2)) {
      score = 0x15000000;
    } else if (grandparent && grandparent->Killer1 && LowBits(m) == LowBits(grandparent->Killer1)) {
      score = 0x14000000;
    } else if (grandparent && grandparent->Killer2 && LowBits(m) == LowBits(grandparent->Killer2)) {
      score = 0x13000000;
    } else if (m & MoveGivesCheck) {
      score = pos.IsSafeMove(maps, from, to) ? 0x12000000 + SeeValue[piece] : 0x10001000 - SeeValue[piece];
      if (fromThreatened) score += 0x800;
    } else if (m & MoveCastle) {
      score = 0x8000000 + to;
    } else {
      score = 0x2000000 + OrderingPst.Values[half][piece][to] - OrderingPst.Values[half][piece][from] +
              worker.History[piece][to] / 16;
      if (fromThreatened) score += 0x800 + SeeValue[piece] / 4;
    }
    list.Scores[i] = static_cast<std::uint32_t>(score);
  }
  return found;
}

Move MovePicker::NextMove(PlyRecord& record, std::uint32_t& score, ChessGame& game, Worker& worker, int ply,
                          bool allowIid) {
  MovePicker& picker = record.Picker;
  MoveList& list = picker.List;
  Position& pos = game;
  bool iid = false;
  Move move;

  // A node readies its picker before it asks for a move.
  assert(picker.Stage >= StageHashMove && picker.Stage <= StageWalk);
  switch (picker.Stage) {
    case StageHashMove: {
      EnterStage(picker, StageGenerate);
      const Move hash = picker.HashMove;
      if (LowBits(hash) != 0 && picker.Mode != GenerateQuiescenceMode) {
        const int mover = pos.Board[MoveFrom(hash)], target = pos.Board[MoveTo(hash)];
        if (mover != 0 && ColourOf(mover) == pos.Side && (target == 0 || ColourOf(target) != pos.Side)) {
          // Made without generation: the table's word must be one of this
          // position's moves, or MakeMove would play something impossible.
          assert(IsPseudoLegal(pos, hash));
          score = HashMoveScore;
          return hash;
        }
      }
      picker.HashMove = NoMove;
      iid = picker.Depth > 16 && picker.Beta - picker.Alpha > 1 && Settings::DoIid && allowIid;
      [[fallthrough]];
    }
    case StageGenerate: {
      EnterStage(picker, StageSelect);
      Generate(pos, record);
      const bool found = ScoreMoves(list, worker, game, record, picker.HashMove, &iid, ply);
      if (iid && !InternalIterativeDeepening(record, game, worker, ply)) return NoMove;
      list.Cursor = 0;
      if (found) PickBest(list, move);  // handed out already in the hash-move stage
      [[fallthrough]];
    }
    case StageSelect: {
      const int index = PickBest(list, move);
      if (index < 0) return NoMove;
      score = list.Scores[index];
      if ((picker.Mode == GenerateQuiescenceMode || picker.Mode == GenerateQuiescenceChecksMode) &&
          score <= QuiescenceCutScore)
        return NoMove;
      return move;
    }
    case StageWalk:
      if (list.Cursor >= list.Count) return NoMove;
      score = list.Scores[list.Cursor];
      return list.Moves[list.Cursor++];
    default:
      return NoMove;
  }
}

void MovePicker::Reset(PlyRecord& record) {
  MovePicker& picker = record.Picker;
  if (picker.Stage == StageGenerate) {
    picker.List.Count = 0;
    picker.List.Cursor = 0;
    picker.Stage = StageHashMove;
    return;
  }
  // A walk replays a list that selection has put in order.
  assert(picker.Stage == StageSelect);
  Move move;
  while (PickBest(picker.List, move) >= 0) {
  }
  picker.List.Cursor = 0;
  EnterStage(picker, StageWalk);
}

void UpdateKillers(PlyRecord& record, Move move) {
  if (move & (MoveCapture | MovePromotion)) return;
  if (LowBits(move) == LowBits(record.Killer1)) return;
  record.Killer2 = record.Killer1;
  record.Killer1 = move;
}

void UpdateHistory(Worker& worker, int depth, int piece, Move move) {
  if (move & (MoveCapture | MovePromotion)) return;
  std::uint32_t& entry = worker.History[piece][MoveTo(move)];
  entry += static_cast<std::uint32_t>(depth * depth);
  if (entry <= 0x1000000) return;
  for (int code = 1; code < 16; ++code)
    for (auto& value : worker.History[code]) value >>= 1;
}

void UpdatePv(PlyStack& block, Move move, int ply) {
  PlyRecord& record = block.Records[ply];
  const PlyRecord& child = block.Records[ply + 1];
  record.Pv[ply] = move;
  for (int i = ply + 1; i < child.PvLength; ++i) record.Pv[i] = child.Pv[i];
  record.PvLength = child.PvLength;
}
