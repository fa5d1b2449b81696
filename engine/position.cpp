// Make and unmake of moves and null moves with incremental keys and material
// index, the piece primitives, and the cached in-check test.
#include "engine/position.h"

#include <cassert>
#include <cstring>

#include "engine/attacks.h"
#include "engine/material.h"
#include "engine/zobrist.h"

namespace {

inline std::uint64_t PieceKey(int code, int square) { return ZobristKeys.PieceSquare[code][square]; }
inline std::uint64_t EpKey(int epSquare) { return ZobristKeys.EnPassant[epSquare + 1]; }

// Where the rook lands when castling to the king's target square.
inline int CastlingRookTarget(int kingTarget) {
  return FileOf(kingTarget) == 2 ? kingTarget + 1 : kingTarget - 1;
}

// Every square of one rank from a to b, both included.
inline Bitboard RankSpan(int a, int b) {
  const int lo = a < b ? a : b, hi = a < b ? b : a;
  return (SquareBit(hi) | (SquareBit(hi) - SquareBit(lo)));
}

#ifndef NDEBUG
// Debug builds check after every make and unmake that the incremental keys
// and material index are what a fresh computation gives.
bool KeysMatchBoard(const Position& pos) {
  Position fresh = pos;
  fresh.ComputeKeys();
  return fresh.Hashkey == pos.Hashkey && fresh.Pawnkey == pos.Pawnkey && pos.ComputeMaterialIndex() == pos.Matkey;
}
#endif

}  // namespace

Position::Position() {
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  EpSquare = -1;
  CheckCache = -1;
  for (int& square : CastleRookSquare) square = -1;
  for (auto& mask : CastleMask) mask = 15;
}

void Position::MovePiece(int from, int to) {
  if (from == to) return;
  const int code = Board[from];
  Board[to] = code;
  Board[from] = 0;
  PieceSquares& list = PieceList[code];
  for (int i = 0; i < list.Count; ++i)
    if (list.Squares[i] == from) {
      list.Squares[i] = to;
      break;
    }
  const Bitboard both = SquareBit(from) | SquareBit(to);
  Occupied ^= both;
  ColourBB[ColourOf(code)] ^= both;
  PieceBB[code] ^= both;
}

void Position::AddPiece(int code, int square) {
  PieceSquares& list = PieceList[code];
  list.Squares[list.Count++] = square;
  ++PieceCount[ColourOf(code)];
  Board[square] = code;
  Occupied |= SquareBit(square);
  ColourBB[ColourOf(code)] |= SquareBit(square);
  PieceBB[code] |= SquareBit(square);
}

void Position::RemovePiece(int square) {
  const int code = Board[square];
  PieceSquares& list = PieceList[code];
  --list.Count;
  for (int i = 0; i < list.Count; ++i)
    if (list.Squares[i] == square) {
      list.Squares[i] = list.Squares[list.Count];
      break;
    }
  --PieceCount[ColourOf(code)];
  Board[square] = 0;
  Occupied &= ~SquareBit(square);
  ColourBB[ColourOf(code)] &= ~SquareBit(square);
  PieceBB[code] &= ~SquareBit(square);
}

int Position::ComputeMaterialIndex() const {
  if (CountOf(PieceCode(White, Pawn)) > 8 || CountOf(PieceCode(Black, Pawn)) > 8) return -1;
  return MaterialTable::Index(CountOf(PieceCode(White, Queen)), CountOf(PieceCode(Black, Queen)),
                              CountOf(PieceCode(White, Rook)), CountOf(PieceCode(Black, Rook)),
                              CountOf(PieceCode(White, Bishop)), CountOf(PieceCode(Black, Bishop)),
                              CountOf(PieceCode(White, Knight)), CountOf(PieceCode(Black, Knight)),
                              CountOf(PieceCode(White, Pawn)), CountOf(PieceCode(Black, Pawn)));
}

void Position::MaterialRemove(int code) {
  Matkey -= MaterialWeight[code];
  // Out of the table before: the piece that left may bring it back in.
  if (Matkey < 0) Matkey = ComputeMaterialIndex();
}

void Position::MaterialAdd(int code) {
  if (CountOf(code) > MaterialMax[code])
    Matkey = -1;
  else if (Matkey >= 0)
    Matkey += MaterialWeight[code];
}

void Position::ComputeKeys() {
  Hashkey = 0;
  Pawnkey = 0;
  for (int square = 0; square < 64; ++square) {
    const int code = Board[square];
    if (code == 0 || code == UndefinedSquare) continue;
    Hashkey ^= PieceKey(code, square);
    if (KindOf(code) == Pawn) Pawnkey ^= ZobristKeys.Pawn[ColourOf(code)][square];
  }
  if (Side == Black) Hashkey ^= ZobristKeys.Side;
  Hashkey ^= EpKey(EpSquare);
  Hashkey ^= ZobristKeys.Castling[Castling];
}

bool Position::InCheck() const {
  if (CheckCache < 0) CheckCache = IsAttacked(KingSquare(Side), Side ^ 1) ? 1 : 0;
  return CheckCache != 0;
}

// Chess960 castling up to the king's move: tests the paths and the squares
// the king crosses, then lifts the rook off its start square (it lands after
// the king has moved, so king and rook may swap squares).
bool Position::MakeCastlingRookMove(int kingFrom, int kingTo) {
  const bool queenSide = FileOf(kingTo) == 2;
  const int right = Side == White ? (queenSide ? CastleWhiteQueenSide : CastleWhiteKingSide)
                                  : (queenSide ? CastleBlackQueenSide : CastleBlackKingSide);
  const int rookFrom = CastleRookSquare[CastleRookSlot(Side, queenSide)];
  const int rookCode = PieceCode(Side, Rook);
  if (!(Castling & right) || rookFrom < 0 || Board[rookFrom] != rookCode) return false;
  const int rookTo = CastlingRookTarget(kingTo);
  const Bitboard mayStand = SquareBit(kingFrom) | SquareBit(rookFrom);
  if ((RankSpan(kingFrom, kingTo) | RankSpan(rookFrom, rookTo)) & Occupied & ~mayStand) return false;
  for (Bitboard crossed = Between[kingFrom][kingTo]; crossed;)
    if (IsAttacked(PopLowestSquare(crossed), Side ^ 1)) return false;
  RemovePiece(rookFrom);
  MaterialRemove(rookCode);
  Hashkey ^= PieceKey(rookCode, rookFrom);
  return true;
}

bool Position::MakeMove(Move m, UndoRecord& u) {
  // A full key history cannot take another ply; the move is refused.
  if (Ply >= MaxGamePlies) return false;
  const int from = MoveFrom(m), to = MoveTo(m);
  const int us = Side, them = us ^ 1;

  KeyHistory[Ply] = {Hashkey, Pawnkey};
  u.Move = m;
  u.Captured = Board[to];
  u.Castling = Castling;
  u.EpSquare = EpSquare;
  u.Fifty = Fifty;
  u.Matkey = Matkey;
  u.CheckCache = CheckCache;

  if (m & MoveCastle) {
    if (InCheck()) return false;
    u.Captured = 0;
    if (ChessVariant == VariantNormal) {
      int rookFrom, rookTo;
      switch (to) {
        case SquareG1:
          if (IsAttacked(SquareF1, Black) || IsAttacked(SquareG1, Black)) return false;
          rookFrom = SquareH1, rookTo = SquareF1;
          break;
        case SquareC1:
          if (IsAttacked(SquareC1, Black) || IsAttacked(SquareD1, Black)) return false;
          rookFrom = SquareA1, rookTo = SquareD1;
          break;
        case SquareG8:
          if (IsAttacked(SquareF8, White) || IsAttacked(SquareG8, White)) return false;
          rookFrom = SquareH8, rookTo = SquareF8;
          break;
        case SquareC8:
          if (IsAttacked(SquareC8, White) || IsAttacked(SquareD8, White)) return false;
          rookFrom = SquareA8, rookTo = SquareD8;
          break;
        default:
          return false;
      }
      const int rookCode = PieceCode(us, Rook);
      if (Board[rookFrom] != rookCode) return false;
      MovePiece(rookFrom, rookTo);
      Hashkey ^= PieceKey(rookCode, rookFrom) ^ PieceKey(rookCode, rookTo);
    } else if (ChessVariant != VariantChess960 || !MakeCastlingRookMove(from, to)) {
      return false;
    }
  }

  ++Ply;

  const int captured = Board[to];
  if (captured != 0 && to != from) {
    Hashkey ^= PieceKey(captured, to);
    if (KindOf(captured) == Pawn) Pawnkey ^= ZobristKeys.Pawn[them][to];
    RemovePiece(to);
    MaterialRemove(captured);
  }

  if (Castling != 0) {
    const int rights = Castling & CastleMask[from] & CastleMask[to];
    if (rights != Castling) {
      Hashkey ^= ZobristKeys.Castling[Castling] ^ ZobristKeys.Castling[rights];
      Castling = rights;
    }
  }

  Hashkey ^= EpKey(EpSquare);
  EpSquare = -1;
  if (m & MoveDoublePush) {
    // Only worth a key when an enemy pawn stands beside the pushed one.
    const Bitboard beside = ((SquareBit(to) & ~FileABits) >> 1) | ((SquareBit(to) & ~FileHBits) << 1);
    if (beside & PieceBB[PieceCode(them, Pawn)]) EpSquare = us == White ? to + 8 : to - 8;
  }
  Hashkey ^= EpKey(EpSquare);

  ++Fifty;
  if (m & (MoveCapture | MoveCastle | MovePawn)) Fifty = 0;

  const int piece = Board[from];
  MovePiece(from, to);
  Hashkey ^= PieceKey(piece, from) ^ PieceKey(piece, to);
  if (KindOf(piece) == Pawn) {
    Pawnkey ^= ZobristKeys.Pawn[us][from] ^ ZobristKeys.Pawn[us][to];
    const int promoted = MovePromotionCode(m);
    if (promoted) {
      RemovePiece(to);
      AddPiece(promoted, to);
      if (CountOf(promoted) > MaterialMax[promoted])
        Matkey = -1;
      else if (Matkey >= 0)
        Matkey += MaterialWeight[promoted] - MaterialWeight[piece];
      Pawnkey ^= ZobristKeys.Pawn[us][to];
      Hashkey ^= PieceKey(piece, to) ^ PieceKey(promoted, to);
    }
  }

  if (m & MoveEnPassant) {
    const int victimSquare = us == White ? to + 8 : to - 8;
    const int victim = PieceCode(them, Pawn);
    RemovePiece(victimSquare);
    MaterialRemove(victim);
    Hashkey ^= PieceKey(victim, victimSquare);
    Pawnkey ^= ZobristKeys.Pawn[them][victimSquare];
  }

  if ((m & MoveCastle) && ChessVariant == VariantChess960) {
    const int rookCode = PieceCode(us, Rook), rookTo = CastlingRookTarget(to);
    AddPiece(rookCode, rookTo);
    MaterialAdd(rookCode);
    Hashkey ^= PieceKey(rookCode, rookTo);
  }

  Side = them;
  Hashkey ^= ZobristKeys.Side;

  if (IsAttacked(KingSquare(us), them)) {
    UnmakeMove(u);
    return false;
  }
  CheckCache = -1;
  assert(KeysMatchBoard(*this));
  return true;
}

void Position::UnmakeMove(const UndoRecord& u) {
  Side ^= 1;
  Castling = u.Castling;
  EpSquare = u.EpSquare;
  Fifty = u.Fifty;
  Matkey = u.Matkey;
  CheckCache = u.CheckCache;
  --Ply;
  Hashkey = KeyHistory[Ply].Hashkey;
  Pawnkey = KeyHistory[Ply].Pawnkey;

  const Move m = u.Move;
  const int from = MoveFrom(m), to = MoveTo(m);
  const int us = Side;
  const bool castle960 = (m & MoveCastle) && ChessVariant == VariantChess960;
  if (castle960) RemovePiece(CastlingRookTarget(to));
  MovePiece(to, from);
  if (MovePromotionCode(m)) {
    RemovePiece(from);
    AddPiece(PieceCode(us, Pawn), from);
  }
  if (u.Captured != 0) AddPiece(u.Captured, to);
  if (m & MoveCastle) {
    if (castle960) {
      AddPiece(PieceCode(us, Rook), CastleRookSquare[CastleRookSlot(us, FileOf(to) == 2)]);
    } else {
      switch (to) {
        case SquareG1: MovePiece(SquareF1, SquareH1); break;
        case SquareC1: MovePiece(SquareD1, SquareA1); break;
        case SquareG8: MovePiece(SquareF8, SquareH8); break;
        case SquareC8: MovePiece(SquareD8, SquareA8); break;
        default: break;
      }
    }
  }
  if (m & MoveEnPassant) AddPiece(PieceCode(us ^ 1, Pawn), us == White ? to + 8 : to - 8);
  assert(KeysMatchBoard(*this));
}

bool Position::MakeNullMove(UndoRecord& u) {
  if (Ply >= MaxGamePlies) return false;
  u.EpSquare = EpSquare;
  u.Fifty = Fifty;
  KeyHistory[Ply] = {Hashkey, Pawnkey};
  Side ^= 1;
  Hashkey ^= ZobristKeys.Side;
  if (EpSquare >= 0) {
    Hashkey ^= EpKey(EpSquare) ^ EpKey(-1);
    EpSquare = -1;
  }
  Fifty = 0;
  ++Ply;
  return true;
}

void Position::UnmakeNullMove(const UndoRecord& u) {
  --Ply;
  Hashkey = KeyHistory[Ply].Hashkey;
  Pawnkey = KeyHistory[Ply].Pawnkey;
  EpSquare = u.EpSquare;
  Fifty = u.Fifty;
  Side ^= 1;
}
