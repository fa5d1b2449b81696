// Writing moves as coordinate text and finding the move of a list that a
// coordinate or SAN text names. Nothing here prints: callers report a text
// that names no move.
#include "engine/movetext.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "engine/frontendport.h"

namespace {

char PromotionLetter(int code) {
  switch (KindOf(code)) {
    case Knight: return 'n';
    case Bishop: return 'b';
    case Rook: return 'r';
    default: return 'q';
  }
}

// The kind a promotion letter names (either case), 0 for any other character.
int PromotionKindOfLetter(char c) {
  switch (c) {
    case 'b': case 'B': return Bishop;
    case 'n': case 'N': return Knight;
    case 'r': case 'R': return Rook;
    case 'q': case 'Q': return Queen;
    default: return 0;
  }
}

bool SpeaksUci() { return ActiveFrontEnd && ActiveFrontEnd->Kind == ProtocolUci; }

bool IsCastlingWord(const char* t, bool queenSide) {
  static const char* const KingSide[3] = {"o-o", "O-O", "0-0"};
  static const char* const QueenSide[3] = {"o-o-o", "O-O-O", "0-0-0"};
  for (const char* word : queenSide ? QueenSide : KingSide)
    if (std::strcmp(t, word) == 0) return true;
  return false;
}

bool IsFileLetter(char c) { return c >= 'a' && c <= 'h'; }
bool IsRankDigit(char c) { return c >= '0' && c <= '8'; }

// A square from file letter and rank digit; -1 off the board (rank 0).
int SquareOfText(const char* t) {
  const int rank = t[1] - '0';
  if (!IsFileLetter(t[0]) || rank < 1 || rank > 8) return -1;
  return (t[0] - 'a') + (8 - rank) * 8;
}

}  // namespace

const char* MoveToText(const Position& pos, const Move& move) {
  thread_local char ring[32][8];
  thread_local unsigned next = 0;
  char* text = ring[next++ % 32];
  const int from = MoveFrom(move), to = MoveTo(move);
  if (move & MoveNull) {
    // UCI writes no move as "0000"; "null" there is a word no GUI reads.
    std::snprintf(text, 8, "%s", SpeaksUci() ? "0000" : "null");
  } else if (MovePromotionCode(move)) {
    std::snprintf(text, 8, "%c%d%c%d%c", 'a' + FileOf(from), RankOf(from), 'a' + FileOf(to), RankOf(to),
                  PromotionLetter(MovePromotionCode(move)));
  } else if ((move & MoveCastle) && pos.ChessVariant == VariantChess960) {
    const bool queenSide = FileOf(to) == 2;
    if (SpeaksUci()) {
      const int colour = RowOf(to) == 7 ? White : Black;
      const int rook = pos.CastleRookSquare[CastleRookSlot(colour, queenSide)];
      std::snprintf(text, 8, "%c%d%c%d", 'a' + FileOf(from), RankOf(from), 'a' + FileOf(rook < 0 ? to : rook),
                    RankOf(from));
    } else {
      std::snprintf(text, 8, "%s", queenSide ? "O-O-O" : "O-O");
    }
  } else {
    std::snprintf(text, 8, "%c%d%c%d", 'a' + FileOf(from), RankOf(from), 'a' + FileOf(to), RankOf(to));
  }
  return text;
}

bool IsMoveText(const char* t) {
  if (!t) return false;
  if (IsCastlingWord(t, false) || IsCastlingWord(t, true)) return true;
  return IsFileLetter(t[0]) && IsRankDigit(t[1]) && IsFileLetter(t[2]) && IsRankDigit(t[3]);
}

void ParseCoordinateSquares(const Position& pos, const char* t, int& from, int& to, bool& castling) {
  castling = false;
  const int backRow = pos.Side == White ? 7 : 0;
  if (IsCastlingWord(t, false) || IsCastlingWord(t, true)) {
    from = pos.KingSquare(pos.Side);
    to = MakeSquare(IsCastlingWord(t, true) ? 2 : 6, backRow);
    castling = true;
    return;
  }
  from = SquareOfText(t);
  to = SquareOfText(t + 2);
  if (from < 0 || to < 0) return;
  for (int colour = White; colour <= Black; ++colour) {
    if (from != pos.KingSquare(colour) || pos.Board[to] != PieceCode(colour, Rook)) continue;
    const int row = colour == White ? 7 : 0;
    if (to == pos.CastleRookSquare[CastleRookSlot(colour, true)]) {
      to = MakeSquare(2, row);
      castling = true;
    } else if (to == pos.CastleRookSquare[CastleRookSlot(colour, false)]) {
      to = MakeSquare(6, row);
      castling = true;
    }
    return;
  }
}

int FindCoordinateMove(MoveList& list, const Position& pos, const char* t) {
  if (!IsMoveText(t)) return -1;
  int from, to;
  bool castling;
  ParseCoordinateSquares(pos, t, from, to, castling);
  const size_t length = std::strlen(t);
  for (list.Cursor = 0; list.Cursor < list.Count;) {
    const Move m = list.Moves[list.Cursor++];
    if (MoveFrom(m) != from || MoveTo(m) != to) continue;
    if (MovePromotionCode(m)) {
      const int named = length > 4 ? PromotionKindOfLetter(t[4]) : 0;
      if (!named) return -1;
      if (named == KindOf(MovePromotionCode(m))) return list.Cursor - 1;
      continue;
    }
    if (pos.ChessVariant != VariantChess960 || ((m & MoveCastle) != 0) == castling) return list.Cursor - 1;
  }
  return -1;
}

bool MatchCoordinateMove(const Position& pos, const char* t, const Move& m) {
  if (m == 0 || !IsMoveText(t)) return false;
  int from, to;
  bool castling;
  ParseCoordinateSquares(pos, t, from, to, castling);
  if (MoveFrom(m) != from || MoveTo(m) != to) return false;
  if (MovePromotionCode(m)) {
    const int named = std::strlen(t) > 4 ? PromotionKindOfLetter(t[4]) : 0;
    return named == KindOf(MovePromotionCode(m));
  }
  if (pos.ChessVariant == VariantChess960) return ((m & MoveCastle) != 0) == castling;
  return true;
}

namespace {

struct SanRequest {
  int Kind = Pawn;
  int To = -1;
  int FromFile = -1;
  int FromRow = -1;
  int Promotion = 0;  // piece code
  bool Castling = false;
};

bool ParseSanText(const Position& pos, const char* text, SanRequest& r) {
  char t[16];
  const size_t inputLength = std::strlen(text);
  if (inputLength >= sizeof(t)) return false;
  std::memcpy(t, text, inputLength + 1);
  const int backRow = pos.Side == White ? 7 : 0;
  if (!std::strncmp(t, "o-o-o", 5) || !std::strncmp(t, "O-O-O", 5) || !std::strncmp(t, "0-0-0", 5)) {
    r.Kind = King, r.To = MakeSquare(2, backRow), r.Castling = true;
    return true;
  }
  if (!std::strncmp(t, "o-o", 3) || !std::strncmp(t, "O-O", 3) || !std::strncmp(t, "0-0", 3)) {
    r.Kind = King, r.To = MakeSquare(6, backRow), r.Castling = true;
    return true;
  }
  int length = static_cast<int>(inputLength);
  for (char suffix : {'+', '#', '?', '!', '?'})
    if (length > 0 && t[length - 1] == suffix) --length;
  if (length >= 2 && t[length - 2] == '=') {
    const int kind = PromotionKindOfLetter(t[length - 1]);
    if (!kind) return false;
    r.Promotion = PieceCode(pos.Side, kind);
    length -= 2;
  }
  if (length < 2) return false;
  const char file = t[length - 2], rank = t[length - 1];
  if (!IsFileLetter(file) || rank < '1' || rank > '8') return false;
  r.To = (file - 'a') + (8 - (rank - '0')) * 8;
  length -= 2;

  int start = 0;
  if (length > 0 && t[0] >= 'A' && t[0] <= 'Z') {
    switch (t[0]) {
      case 'B': r.Kind = Bishop; break;
      case 'K': r.Kind = King; break;
      case 'N': r.Kind = Knight; break;
      case 'Q': r.Kind = Queen; break;
      case 'R': r.Kind = Rook; break;
      default: return false;
    }
    start = 1;
  }
  if (length > start && t[length - 1] == 'x') --length;
  for (int i = start; i < length; ++i) {
    if (IsFileLetter(t[i]) && r.FromFile < 0)
      r.FromFile = t[i] - 'a';
    else if (t[i] >= '1' && t[i] <= '8' && r.FromRow < 0)
      r.FromRow = 8 - (t[i] - '0');
    else
      return false;
  }
  return true;
}

bool IsLegal(Position& pos, Move m) {
  UndoRecord undo;
  if (!pos.MakeMove(m, undo)) return false;
  pos.UnmakeMove(undo);
  return true;
}

}  // namespace

int ParseSanMove(MoveList& list, Position& pos, const char* text) {
  SanRequest r;
  if (!text || !ParseSanText(pos, text, r)) return -1;
  const int wanted = PieceCode(pos.Side, r.Kind);
  for (int i = 0; i < list.Count; ++i) {
    const Move m = list.Moves[i];
    const int from = MoveFrom(m);
    if (pos.Board[from] != wanted || MoveTo(m) != r.To) continue;
    if (r.FromFile >= 0 && FileOf(from) != r.FromFile) continue;
    if (r.FromRow >= 0 && RowOf(from) != r.FromRow) continue;
    // A promotion text names only that promotion; a plain king move is not
    // castling, nor the reverse.
    if (MovePromotionCode(m) != r.Promotion) continue;
    if (((m & MoveCastle) != 0) != r.Castling) continue;
    if (IsLegal(pos, m)) return i;
  }
  return -1;
}
