// Move generation into a caller's fixed list: pawns first, then knights,
// bishops, rooks, queens and the king, castling and en passant last. Targets
// of one piece go in increasing square order; pieces of a kind in the order
// of their piece list. Last, the pseudo-legality test of a single move.
#include "engine/movegen.h"

#include "engine/attacks.h"

namespace {

constexpr int PromotionOrder[4] = {Queen, Knight, Rook, Bishop};
constexpr int PieceKindsInOrder[4] = {Knight, Bishop, Rook, Queen};

struct Side {
  int Us, Them;
  int Push;       // square step of a pawn push
  int LastRow;    // promotion row
  int StartRow;   // row of a pawn that may double-push
  int SeventhRow;
};

inline Side SideOf(const Position& pos) {
  if (pos.Side == White) return {White, Black, -8, 0, 6, 1};
  return {Black, White, 8, 7, 1, 6};
}

inline void Add(MoveList& list, Move move) { list.Moves[list.Count++] = move; }

inline void AddPromotions(MoveList& list, int us, int from, int to, Move flags) {
  for (int kind : PromotionOrder)
    Add(list, MakeMoveWord(from, to) | flags | MovePawn | MovePromotion |
                  (static_cast<Move>(PieceCode(us, kind)) << 12));
}

inline Bitboard PieceTargets(int kind, int square, Bitboard occupied) {
  switch (kind) {
    case Knight: return KnightAttacks[square];
    case Bishop: return BishopAttacksFrom(square, occupied);
    case Rook: return RookAttacksFrom(square, occupied);
    default: return QueenAttacksFrom(square, occupied);
  }
}

// The squares from which a piece of that kind would attack the square king.
inline Bitboard CheckSquares(int kind, int king, Bitboard occupied) { return PieceTargets(kind, king, occupied); }

inline void AddTargets(MoveList& list, int from, Bitboard targets, Move flags) {
  while (targets) Add(list, MakeMoveWord(from, PopLowestSquare(targets)) | flags);
}

void AddEnPassant(const Position& pos, MoveList& list, const Side& s) {
  if (pos.EpSquare < 1) return;
  Bitboard takers = PawnAttacks[s.Them][pos.EpSquare] & pos.PieceBB[PieceCode(s.Us, Pawn)];
  while (takers)
    Add(list, MakeMoveWord(PopLowestSquare(takers), pos.EpSquare) | MovePawn | MoveEnPassant | MoveCapture);
}

void AddCastling(const Position& pos, MoveList& list, const Side& s, const AttackMaps* maps) {
  const int kingSideRight = s.Us == White ? CastleWhiteKingSide : CastleBlackKingSide;
  const int queenSideRight = s.Us == White ? CastleWhiteQueenSide : CastleBlackQueenSide;
  if (!(pos.Castling & (kingSideRight | queenSideRight)) || pos.InCheck()) return;
  const int backRow = s.Us == White ? 7 : 0;
  const int kingTarget = MakeSquare(6, backRow), queenTarget = MakeSquare(2, backRow);
  if (pos.ChessVariant != VariantNormal) {
    // Chess960: MakeMove tests the paths and the attacked squares.
    const int king = pos.KingSquare(s.Us);
    if (pos.Castling & kingSideRight) Add(list, MakeMoveWord(king, kingTarget) | MoveCastle);
    if (pos.Castling & queenSideRight) Add(list, MakeMoveWord(king, queenTarget) | MoveCastle);
    return;
  }
  const bool valid = maps && maps->Valid;
  const Bitboard attacked = valid ? maps->All[s.Them] : 0;
  const Bitboard blocked = pos.Occupied | attacked;
  const int kingFrom = MakeSquare(4, backRow);
  if ((pos.Castling & kingSideRight) && !(blocked & (SquareBit(kingFrom + 1) | SquareBit(kingFrom + 2))))
    Add(list, MakeMoveWord(kingFrom, kingTarget) | MoveCastle);
  const Bitboard queenPath = SquareBit(kingFrom - 1) | SquareBit(kingFrom - 2);
  if ((pos.Castling & queenSideRight) && !(pos.Occupied & (queenPath | SquareBit(kingFrom - 3))) &&
      !(attacked & queenPath))
    Add(list, MakeMoveWord(kingFrom, queenTarget) | MoveCastle);
}

}  // namespace

void GenerateMoves(const Position& pos, MoveList& list, const AttackMaps* maps) {
  list.Count = 0;
  const Side s = SideOf(pos);
  const Bitboard own = pos.ColourBB[s.Us], enemy = pos.ColourBB[s.Them], empty = ~pos.Occupied;

  const PieceSquares& pawns = pos.PieceList[PieceCode(s.Us, Pawn)];
  for (int i = 0; i < pawns.Count; ++i) {
    const int from = pawns.Squares[i];
    for (Bitboard captures = PawnAttacks[s.Us][from] & enemy; captures;) {
      const int to = PopLowestSquare(captures);
      if (RowOf(to) == s.LastRow)
        AddPromotions(list, s.Us, from, to, MoveCapture);
      else
        Add(list, MakeMoveWord(from, to) | MovePawn | MoveCapture);
    }
    const int ahead = from + s.Push;
    if (!(empty & SquareBit(ahead))) continue;
    if (RowOf(ahead) == s.LastRow) {
      AddPromotions(list, s.Us, from, ahead, 0);
      continue;
    }
    Add(list, MakeMoveWord(from, ahead) | MovePawn);
    if (RowOf(from) == s.StartRow && (empty & SquareBit(ahead + s.Push)))
      Add(list, MakeMoveWord(from, ahead + s.Push) | MovePawn | MoveDoublePush);
  }

  for (int kind : PieceKindsInOrder) {
    const PieceSquares& pieces = pos.PieceList[PieceCode(s.Us, kind)];
    for (int i = 0; i < pieces.Count; ++i) {
      const int from = pieces.Squares[i];
      const Bitboard targets = PieceTargets(kind, from, pos.Occupied);
      AddTargets(list, from, targets & enemy, MoveCapture);
      AddTargets(list, from, targets & empty, 0);
    }
  }

  const int king = pos.KingSquare(s.Us);
  Bitboard kingTargets = KingAttacks[king] & ~own;
  if (maps && maps->Valid) kingTargets &= ~maps->All[s.Them];
  AddTargets(list, king, kingTargets & enemy, MoveCapture);
  AddTargets(list, king, kingTargets & empty, 0);

  AddCastling(pos, list, s, maps);
  AddEnPassant(pos, list, s);
}

void GenerateEvasions(const Position& pos, MoveList& list, const AttackMaps& maps) {
  list.Count = 0;
  const Side s = SideOf(pos);
  const int king = pos.KingSquare(s.Us);
  const Bitboard checkers = pos.AttackersOf(king, s.Them);
  const bool single = checkers && !(checkers & (checkers - 1));
  const int checker = single ? LowestSquare(checkers) : -1;
  const Bitboard block = single ? Between[king][checker] : 0;
  Bitboard targets = single ? checkers | block : 0;
  if (maps.Valid) targets &= maps.UpToQueens[s.Us];
  const Bitboard ownPawns = pos.PieceBB[PieceCode(s.Us, Pawn)];

  if (single) {
    for (Bitboard takers = PawnAttacks[s.Them][checker] & ownPawns; takers;) {
      const int from = PopLowestSquare(takers);
      if (RowOf(checker) == s.LastRow)
        AddPromotions(list, s.Us, from, checker, MoveCapture);
      else
        Add(list, MakeMoveWord(from, checker) | MovePawn | MoveCapture);
    }
  }

  if (block) {
    const Bitboard pushed = s.Us == White ? ownPawns >> 8 : ownPawns << 8;
    for (Bitboard landing = pushed & block; landing;) {
      const int to = PopLowestSquare(landing);
      if (RowOf(to) == s.LastRow)
        AddPromotions(list, s.Us, to - s.Push, to, 0);
      else
        Add(list, MakeMoveWord(to - s.Push, to) | MovePawn);
    }
    const int doubleRow = s.Us == White ? 4 : 3;
    const Bitboard starters = ownPawns & RowBits(s.StartRow);
    const Bitboard middle = (s.Us == White ? starters >> 8 : starters << 8) & ~pos.Occupied;
    const Bitboard doubled = s.Us == White ? middle >> 8 : middle << 8;
    for (Bitboard landing = doubled & block & RowBits(doubleRow); landing;) {
      const int to = PopLowestSquare(landing);
      Add(list, MakeMoveWord(to - 2 * s.Push, to) | MovePawn | MoveDoublePush);
    }
  }

  if (targets) {
    for (int kind : PieceKindsInOrder) {
      const PieceSquares& pieces = pos.PieceList[PieceCode(s.Us, kind)];
      for (int i = 0; i < pieces.Count; ++i) {
        const int from = pieces.Squares[i];
        for (Bitboard reach = PieceTargets(kind, from, pos.Occupied) & targets; reach;) {
          const int to = PopLowestSquare(reach);
          Add(list, MakeMoveWord(from, to) | (to == checker ? MoveCapture : 0));
        }
      }
    }
  }

  Bitboard kingTargets = KingAttacks[king] & ~pos.ColourBB[s.Us];
  if (maps.Valid) kingTargets &= ~maps.All[s.Them];
  while (kingTargets) {
    const int to = PopLowestSquare(kingTargets);
    Add(list, MakeMoveWord(king, to) | (pos.Board[to] ? MoveCapture : 0));
  }

  if (checker >= 1 && KindOf(pos.Board[checker]) == Pawn) AddEnPassant(pos, list, s);
}

namespace {

// Captures and checking quiet moves of knights, bishops, rooks and queens.
// escapeOnly: quiet checks only for a piece that stands threatened
// (quiescence moves); otherwise for every piece, to safe squares only.
void AddPieceCapturesAndChecks(const Position& pos, MoveList& list, const AttackMaps& maps, const Side& s,
                               bool escapeOnly) {
  const int enemyKing = pos.KingSquare(s.Them);
  const Bitboard enemy = pos.ColourBB[s.Them], empty = ~pos.Occupied;
  const Bitboard hanging = maps.All[s.Them] & ~maps.All[s.Us];
  const Bitboard safe = maps.All[s.Us] | ~maps.All[s.Them];
  for (int kind : PieceKindsInOrder) {
    const Bitboard checkSquares = CheckSquares(kind, enemyKing, pos.Occupied);
    Bitboard threats;  // attackers that make the piece want to escape
    switch (kind) {
      case Knight:
      case Bishop: threats = maps.Pawns[s.Them]; break;
      case Rook: threats = maps.UpToMinors[s.Them]; break;
      default: threats = maps.UpToRooks[s.Them]; break;
    }
    const PieceSquares& pieces = pos.PieceList[PieceCode(s.Us, kind)];
    for (int i = 0; i < pieces.Count; ++i) {
      const int from = pieces.Squares[i];
      const Bitboard targets = PieceTargets(kind, from, pos.Occupied);
      for (Bitboard captures = targets & enemy; captures;) {
        const int to = PopLowestSquare(captures);
        Add(list, MakeMoveWord(from, to) | MoveCapture | ((checkSquares & SquareBit(to)) ? MoveGivesCheck : 0));
      }
      Bitboard checks = targets & empty & checkSquares;
      if (escapeOnly) {
        if (!((threats | hanging) & SquareBit(from))) continue;
        checks &= ~maps.All[s.Them];
      } else {
        checks &= safe;
      }
      AddTargets(list, from, checks, MoveGivesCheck);
    }
  }
}

void AddKingCaptures(const Position& pos, MoveList& list, const AttackMaps& maps, const Side& s) {
  const int king = pos.KingSquare(s.Us);
  AddTargets(list, king, KingAttacks[king] & pos.ColourBB[s.Them] & ~maps.All[s.Them], MoveCapture);
}

}  // namespace

void GenerateQuiescenceMoves(const Position& pos, MoveList& list, const AttackMaps& maps) {
  list.Count = 0;
  const Side s = SideOf(pos);
  const Bitboard enemy = pos.ColourBB[s.Them], empty = ~pos.Occupied;
  const Move queen = static_cast<Move>(PieceCode(s.Us, Queen)) << 12;
  const PieceSquares& pawns = pos.PieceList[PieceCode(s.Us, Pawn)];
  for (int i = 0; i < pawns.Count; ++i) {
    const int from = pawns.Squares[i];
    for (Bitboard captures = PawnAttacks[s.Us][from] & enemy; captures;) {
      const int to = PopLowestSquare(captures);
      Move move = MakeMoveWord(from, to) | MovePawn | MoveCapture;
      if (RowOf(to) == s.LastRow) move |= MovePromotion | queen;
      Add(list, move);
    }
    const int ahead = from + s.Push;
    if (RowOf(ahead) == s.LastRow && (empty & SquareBit(ahead)))
      Add(list, MakeMoveWord(from, ahead) | MovePawn | MovePromotion | queen);
  }
  AddPieceCapturesAndChecks(pos, list, maps, s, true);
  AddKingCaptures(pos, list, maps, s);
  AddEnPassant(pos, list, s);
}

void GenerateQuiescenceChecks(const Position& pos, MoveList& list, const AttackMaps& maps) {
  list.Count = 0;
  const Side s = SideOf(pos);
  const Bitboard enemy = pos.ColourBB[s.Them], empty = ~pos.Occupied;
  const int enemyKing = pos.KingSquare(s.Them);
  const Bitboard knightChecks = KnightAttacks[enemyKing];
  const Bitboard safe = maps.All[s.Us] | ~maps.All[s.Them];
  const Move queen = static_cast<Move>(PieceCode(s.Us, Queen)) << 12;
  const Move knight = static_cast<Move>(PieceCode(s.Us, Knight)) << 12;

  // A promotion as a queen, and also as a knight when that gives check.
  auto addPromotions = [&](int from, int to, Move flags) {
    const Move base = MakeMoveWord(from, to) | flags | MovePawn | MovePromotion;
    Add(list, base | queen);
    if (knightChecks & SquareBit(to)) Add(list, base | knight | MoveGivesCheck);
  };

  const PieceSquares& pawns = pos.PieceList[PieceCode(s.Us, Pawn)];
  for (int i = 0; i < pawns.Count; ++i) {
    const int from = pawns.Squares[i];
    for (Bitboard captures = PawnAttacks[s.Us][from] & enemy; captures;) {
      const int to = PopLowestSquare(captures);
      if (RowOf(to) == s.LastRow)
        addPromotions(from, to, MoveCapture);
      else
        Add(list, MakeMoveWord(from, to) | MovePawn | MoveCapture);
    }
    const int to = from + s.Push;
    if (!(empty & SquareBit(to))) continue;
    if (RowOf(to) == s.LastRow) {
      addPromotions(from, to, 0);
    } else if (safe & SquareBit(to)) {
      if (PawnAttacks[s.Us][to] & SquareBit(enemyKing))
        Add(list, MakeMoveWord(from, to) | MovePawn | MoveGivesCheck);
      else if (RowOf(to) == s.SeventhRow)
        Add(list, MakeMoveWord(from, to) | MovePawn);
    }
  }
  AddPieceCapturesAndChecks(pos, list, maps, s, false);
  AddKingCaptures(pos, list, maps, s);
  AddEnPassant(pos, list, s);
}

bool IsPseudoLegal(const Position& pos, Move move) {
  // The generator defines what is pseudo-legal, so the test asks it rather
  // than restating its rules, which could drift apart from them.
  const Move plain = move & ~MoveGivesCheck;
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  for (int i = 0; i < list.Count; ++i)
    if (list.Moves[i] == plain) return true;
  return false;
}
