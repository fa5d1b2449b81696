// The tablebase probes: one table look-up, captures resolved by a small
// alpha-beta over the WDL range, distance to zeroing, and the root filter.
// Every move made here is unmade before returning, on every path.
#include "tablebase/probe.h"

#include <algorithm>
#include <cstdint>

#include "engine/bitboard.h"
#include "engine/game.h"
#include "engine/movegen.h"
#include "engine/position.h"
#include "tablebase/registry.h"

namespace {

// DTZ of a position whose best move zeroes, by WDL + 2.
constexpr int WdlToDtz[5] = {-1, -101, 0, 101, 1};

// Room that the probes' own moves need in the key history: a capture chain
// of at most five, a quiet move and the DTZ look-ahead behind it.
constexpr int ProbePlies = 16;

constexpr int IllegalRootValue = -1000;

bool IsCapture(Move move) { return (move & MoveCapture) != 0; }
bool IsEnPassant(Move move) { return (move & MoveEnPassant) != 0; }
bool IsPawnMove(Move move) { return (move & MovePawn) != 0; }

// Tables know nothing of castling, and the probes need room for their moves.
bool Probeable(const Position& pos) { return pos.Castling == 0 && pos.Ply + ProbePlies <= MaxGamePlies; }

// How a position is read from a table: colours and squares flipped when the
// table holds the colour-mirrored material, and which side's list is used.
struct Orientation {
  int ColourFlip;
  int SquareFlip;
  int Side;
};

Orientation Orient(bool symmetric, bool ownKey, int sideToMove) {
  const bool blackToMove = sideToMove == Black;
  if (symmetric) return {blackToMove ? 8 : 0, blackToMove ? 56 : 0, 0};
  if (!ownKey) return {8, 56, blackToMove ? 0 : 1};
  return {0, 0, blackToMove ? 1 : 0};
}

// Squares (a1 = 0) of the listed pieces from list position `from` up to
// `end`, group by group, lowest square first.
bool FillSquares(const Position& pos, const std::uint8_t* pieces, int from, int end, const Orientation& o,
                 int* squares) {
  int i = from;
  while (i < end) {
    Bitboard bits = __builtin_bswap64(pos.PieceBB[TbPieceMap[pieces[i] ^ o.ColourFlip]]);
    if (!bits) return false;
    while (bits) {
      if (i >= end) return false;
      squares[i++] = PopLowestSquare(bits) ^ o.SquareFlip;
    }
  }
  return true;
}

bool PawnOnBackRank(const Position& pos) {
  return ((pos.PieceBB[PieceCode(White, Pawn)] | pos.PieceBB[PieceCode(Black, Pawn)]) & (Rank1Bits | Rank8Bits)) != 0;
}

// The squares of a table with pawns and the file of its leading pawn.
bool PawnSquares(const Position& pos, const TableShape& shape, const std::uint8_t* leadList, const Orientation& o,
                 int* squares, int& file) {
  if (PawnOnBackRank(pos)) return false;
  if (!FillSquares(pos, leadList, 0, shape.Pawns[0], o, squares)) return false;
  file = PawnFile(shape, squares);
  return true;
}

bool CanMakeAnyMove(Position& pos, const MoveList& list, bool skipEnPassant) {
  for (int i = 0; i < list.Count; i++) {
    if (skipEnPassant && IsEnPassant(list.Moves[i])) continue;
    UndoRecord undo;
    if (!pos.MakeMove(list.Moves[i], undo)) continue;
    pos.UnmakeMove(undo);
    return true;
  }
  return false;
}

bool HasLegalMove(Position& pos) {
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  return CanMakeAnyMove(pos, list, false);
}

// The position's keys at plies ply-4, ply-6, ... back to the last zeroing
// move: has the current phase already repeated?
bool HasRepeated(const Position& pos) {
  const KeyPair now = pos.Keys();
  for (int ply = pos.Ply - 4; ply >= pos.Ply - pos.Fifty && ply >= 0; ply -= 2)
    if (pos.KeyHistory[ply] == now) return true;
  return false;
}

int RootValue(const MoveList& list, int i) { return static_cast<std::int32_t>(list.Scores[i]); }

}  // namespace

int ProbeWdlTable(Position& pos, int* success) {
  const std::uint64_t key = CalcKey(pos, false);
  if (key == 0) return 0;  // the two kings alone
  TbEntry* entry = FindTbEntry(key);
  if (!entry || !EnsureWdlTable(*entry, pos, key != entry->Key)) {
    *success = 0;
    return 0;
  }
  const TableShape& shape = entry->Shape;
  const Orientation o = Orient(entry->Symmetric, key == entry->Key, pos.Side);
  int squares[TbMaxPieces];
  const SubTable* sub;
  std::uint64_t index = 0;
  bool placed;
  if (!shape.HasPawns) {
    sub = &entry->Table.Sub[0][o.Side];
    placed = sub->Pairs && FillSquares(pos, sub->Pieces, 0, shape.Men, o, squares) &&
             EncodePiece(shape, *sub, squares, index);
  } else {
    int file = 0;
    placed = PawnSquares(pos, shape, entry->Table.Sub[0][0].Pieces, o, squares, file);
    sub = &entry->Table.Sub[file][o.Side];
    placed = placed && sub->Pairs && FillSquares(pos, sub->Pieces, shape.Pawns[0], shape.Men, o, squares);
    if (placed) index = EncodePawn(shape, *sub, squares);
  }
  const int value = placed ? DecompressPairs(*sub->Pairs, index) : -1;
  if (value < 0 || value > 4) {
    *success = 0;
    return 0;
  }
  return value - 2;
}

int ProbeDtzTable(Position& pos, int wdl, int* success) {
  const std::uint64_t key = CalcKey(pos, false);
  std::lock_guard<std::mutex> lock(DtzCacheLock());
  const DtzEntry* entry = key ? FindDtzEntry(pos, key) : nullptr;
  if (!entry) {
    *success = 0;
    return 0;
  }
  const TableShape& shape = entry->Shape;
  const DtzTable& table = entry->Table;
  const Orientation o = Orient(entry->Symmetric, key == entry->Key, pos.Side);
  int squares[TbMaxPieces];
  int file = 0;
  std::uint64_t index = 0;
  bool placed;
  if (!shape.HasPawns) {
    placed = FillSquares(pos, table.Sub[0].Pieces, 0, shape.Men, o, squares);
  } else {
    placed = PawnSquares(pos, shape, table.Sub[0].Pieces, o, squares, file);
  }
  if (placed && !entry->Symmetric && (table.Flags[file] & 1) != o.Side) {
    *success = -1;
    return 0;
  }
  const SubTable& sub = table.Sub[file];
  if (!shape.HasPawns) {
    placed = placed && sub.Pairs && EncodePiece(shape, sub, squares, index);
  } else {
    placed = placed && sub.Pairs && FillSquares(pos, sub.Pieces, shape.Pawns[0], shape.Men, o, squares);
    if (placed) index = EncodePawn(shape, sub, squares);
  }
  const int stored = placed ? DecompressPairs(*sub.Pairs, index) : -1;
  const int dtz = stored < 0 ? -1 : DtzFromStored(table, file, stored, wdl);
  if (dtz < 0) {
    *success = 0;
    return 0;
  }
  *success = 1;
  return dtz;
}

int ProbeAb(Position& pos, int alpha, int beta, int* success) {
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  for (int i = 0; i < list.Count; i++) {
    const Move move = list.Moves[i];
    if (!IsCapture(move)) continue;
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    const int v = -ProbeAb(pos, -beta, -alpha, success);
    pos.UnmakeMove(undo);
    if (*success == 0) return 0;
    if (v > alpha) {
      if (v >= beta) return v;
      alpha = v;
    }
  }
  const int v = ProbeWdlTable(pos, success);
  return std::max(alpha, v);
}

int ProbeWdl(Position& pos, int* success) {
  if (!Probeable(pos)) {
    *success = 0;
    return 0;
  }
  *success = 1;
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  int bestCap = -3, bestEp = -3;
  for (int i = 0; i < list.Count; i++) {
    const Move move = list.Moves[i];
    if (!IsCapture(move)) continue;
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    const int v = -ProbeAb(pos, -2, -bestCap, success);
    pos.UnmakeMove(undo);
    if (*success == 0) return 0;
    if (v > bestCap) {
      if (v == 2) {
        *success = 2;
        return 2;
      }
      if (IsEnPassant(move)) bestEp = std::max(bestEp, v);
      else bestCap = v;
    }
  }
  const int v = ProbeWdlTable(pos, success);
  if (*success == 0) return 0;

  if (bestEp > bestCap) {
    if (bestEp > v) {
      *success = 2;
      return bestEp;
    }
    bestCap = bestEp;
  }
  if (bestCap >= v) {
    *success = bestCap > 0 ? 2 : 1;
    return bestCap;
  }
  // The table assumes en passant away: when it is the only move, the
  // position is no stalemate but takes the capture's value.
  if (bestEp >= -2 && v == 0 && !CanMakeAnyMove(pos, list, true)) {
    *success = 2;
    return bestEp;
  }
  return v;
}

int ProbeDtz(Position& pos, int* success) {
  const int wdl = ProbeWdl(pos, success);
  if (*success == 0 || wdl == 0) return 0;
  if (*success == 2) return WdlToDtz[wdl + 2];

  MoveList list;
  if (wdl > 0) {
    GenerateMoves(pos, list, nullptr);
    for (int i = 0; i < list.Count; i++) {
      const Move move = list.Moves[i];
      if (IsCapture(move) || !IsPawnMove(move)) continue;
      UndoRecord undo;
      if (!pos.MakeMove(move, undo)) continue;
      const int w = -ProbeWdl(pos, success);
      pos.UnmakeMove(undo);
      if (*success == 0) return 0;
      if (w == wdl) return WdlToDtz[wdl + 2];
    }
  }

  const int dtz = ProbeDtzTable(pos, wdl, success);
  if (*success == 0) return 0;
  if (*success > 0) return WdlToDtz[wdl + 2] + (wdl > 0 ? dtz : -dtz);

  // The table holds the other side to move: one quiet move further.
  int best;
  if (wdl > 0) {
    best = 0x7fffffff;
  } else {
    best = WdlToDtz[wdl + 2];
    GenerateMoves(pos, list, nullptr);
  }
  for (int i = 0; i < list.Count; i++) {
    const Move move = list.Moves[i];
    if (IsCapture(move) || IsPawnMove(move)) continue;
    UndoRecord undo;
    if (!pos.MakeMove(move, undo)) continue;
    // A mate is one ply from the end; the mated position's own distance
    // would count it as two.
    const bool mates = wdl > 0 && pos.InCheck() && !HasLegalMove(pos);
    const int v = -ProbeDtz(pos, success);
    pos.UnmakeMove(undo);
    if (*success == 0) return 0;
    if (mates) {
      best = 1;
    } else if (wdl > 0) {
      if (v > 0) best = std::min(best, v + 1);
    } else {
      best = std::min(best, v - 1);
    }
  }
  *success = 1;
  return best;
}

int ProbeWdl(ChessGame& game, int* success) { return ProbeWdl(static_cast<Position&>(game), success); }
int ProbeDtz(ChessGame& game, int* success) { return ProbeDtz(static_cast<Position&>(game), success); }

bool RootProbe(ChessGame& game) {
  Position& pos = game;
  MoveList& list = game.Moves;
  int success = 0;
  const int dtz = ProbeDtz(pos, &success);
  if (!success) return false;

  for (int i = 0; i < list.Count; i++) {
    UndoRecord undo;
    int value;
    if (!pos.MakeMove(list.Moves[i], undo)) {
      value = IllegalRootValue;
    } else {
      if (pos.InCheck() && dtz >= 1 && !HasLegalMove(pos)) {
        value = 1;  // mate
      } else if (pos.Fifty != 0) {
        value = -ProbeDtz(pos, &success);
        if (value > 0) value++;
        else if (value < 0) value--;
      } else {
        value = -ProbeWdl(pos, &success);
        value = WdlToDtz[value + 2];
      }
      pos.UnmakeMove(undo);
      if (!success) return false;
    }
    list.Scores[i] = static_cast<std::uint32_t>(value);
  }

  const int cnt50 = pos.Fifty;
  // The root owns the order of its moves and what travels with them, so the
  // probe only marks the moves to drop and the root takes them out.
  auto keep = [&](auto wanted) {
    for (int i = 0; i < list.Count; i++) {
      const int value = RootValue(list, i);
      if (value == IllegalRootValue || !wanted(value)) list.Scores[i] = RootMoveDropped;
    }
  };
  if (dtz > 0) {
    int best = 0xffff;
    for (int i = 0; i < list.Count; i++) {
      const int value = RootValue(list, i);
      if (value != IllegalRootValue && value > 0) best = std::min(best, value);
    }
    int max = best;
    if (!(cnt50 >= 4 && HasRepeated(pos)) && best + cnt50 <= 99) max = 99 - cnt50;
    keep([max](int value) { return value > 0 && value <= max; });
  } else if (dtz < 0) {
    int best = 0;
    for (int i = 0; i < list.Count; i++) {
      const int value = RootValue(list, i);
      if (value != IllegalRootValue) best = std::min(best, value);
    }
    if (cnt50 - 2 * best < 100) keep([](int) { return true; });
    else keep([best](int value) { return value == best; });
  } else {
    keep([](int value) { return value == 0; });
  }
  return true;
}
