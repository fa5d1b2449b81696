// The game board's moves: the pseudo-legal list in its fixed order (game
// records store each move as its place in it, so the order is a file
// format), the attack tests, playing and taking back moves with a full
// record, and reading SAN.
#include <cassert>
#include <cstring>

#include "games/gameboard.h"
#include "support/output.h"

namespace {

// The 12 x 12 mailbox: two guard rows and columns around the board. Square
// s sits in cell (s / 8 + 2) * 12 + s % 8 + 2; guard cells map back to -1.
constexpr int MailboxCell(int square) { return (square / 8 + 2) * 12 + square % 8 + 2; }

struct MailboxTables {
  int SquareOfCell[144];
  constexpr MailboxTables() : SquareOfCell() {
    for (int& square : SquareOfCell) square = -1;
    for (int s = 0; s < 64; s++) SquareOfCell[MailboxCell(s)] = s;
  }
};
constexpr MailboxTables Mailbox;

// Cell offsets in generation order: a row down is +12 (towards rank 1).
constexpr int KnightOffsets[8] = {25, -25, 14, -14, 10, -10, 23, -23};
constexpr int DiagonalOffsets[4] = {11, -11, 13, -13};
constexpr int StraightOffsets[4] = {12, -12, 1, -1};
constexpr int KingOffsets[8] = {12, -12, 11, -11, 13, -13, 1, -1};

// The squares each offset table reaches from a square, in table order and
// ended by -1: walking them gives the same order as stepping the mailbox,
// with one look-up a step. Rays 0-3 follow the diagonal offsets, 4-7 the
// straight ones, each square by square outwards.
struct PathTables {
  std::int8_t Knight[64][9];
  std::int8_t King[64][9];
  std::int8_t Ray[64][8][8];
  constexpr PathTables() : Knight(), King(), Ray() {
    for (int s = 0; s < 64; s++) {
      const int cell = MailboxCell(s);
      int k = 0, g = 0;
      for (int i = 0; i < 8; i++) {
        const int knight = Mailbox.SquareOfCell[cell + KnightOffsets[i]];
        const int king = Mailbox.SquareOfCell[cell + KingOffsets[i]];
        if (knight >= 0) Knight[s][k++] = static_cast<std::int8_t>(knight);
        if (king >= 0) King[s][g++] = static_cast<std::int8_t>(king);
      }
      Knight[s][k] = King[s][g] = -1;
      for (int d = 0; d < 8; d++) {
        const int offset = d < 4 ? DiagonalOffsets[d] : StraightOffsets[d - 4];
        int n = 0;
        for (int c = cell + offset; Mailbox.SquareOfCell[c] >= 0; c += offset)
          Ray[s][d][n++] = static_cast<std::int8_t>(Mailbox.SquareOfCell[c]);
        Ray[s][d][n] = -1;
      }
    }
  }
};
constexpr PathTables Paths;

// Promotions in list order.
constexpr int Promotions[4] = {GamePiece::Queen, GamePiece::Rook, GamePiece::Bishop, GamePiece::Knight};

constexpr int Corners[4] = {CornerA1, CornerH1, CornerA8, CornerH8};  // by CastlingSide

int RightOfCorner(int corner) {
  switch (corner) {
    case CornerA1: return WhiteASide;
    case CornerH1: return WhiteHSide;
    case CornerA8: return BlackASide;
    default: return BlackHSide;
  }
}

int ColourOf(std::uint32_t code) { return static_cast<int>(code >> 3); }

}  // namespace

// ---- Attack tests ----------------------------------------------------------

namespace {

bool IsAttackedBy(const std::uint32_t* squares, int square, int colour) {
  const std::uint32_t black = colour == GameBoard::Black ? GamePiece::Black : 0;
  const std::uint32_t pawn = GamePiece::Pawn + black, knight = GamePiece::Knight + black;
  const std::uint32_t bishop = GamePiece::Bishop + black, rook = GamePiece::Rook + black;
  const std::uint32_t queen = GamePiece::Queen + black, king = GamePiece::King + black;
  const int file = square % 8;
  if (colour == GameBoard::White) {
    if (square < 48 && ((file > 0 && squares[square + 7] == pawn) || (file < 7 && squares[square + 9] == pawn)))
      return true;
  } else {
    if (square > 15 && ((file > 0 && squares[square - 9] == pawn) || (file < 7 && squares[square - 7] == pawn)))
      return true;
  }
  for (const std::int8_t* t = Paths.Knight[square]; *t >= 0; t++)
    if (squares[*t] == knight) return true;
  for (const std::int8_t* t = Paths.King[square]; *t >= 0; t++)
    if (squares[*t] == king) return true;
  for (int d = 0; d < 8; d++) {
    const std::uint32_t slider = d < 4 ? bishop : rook;
    for (const std::int8_t* t = Paths.Ray[square][d]; *t >= 0; t++) {
      const std::uint32_t code = squares[*t];
      if (!code) continue;
      if (code == slider || code == queen) return true;
      break;
    }
  }
  return false;
}

}  // namespace

// A square off the board (a king square of -1) is attacked by nobody.
bool GameBoard::IsAttackedByWhite(int square) const {
  return square >= 0 && square < 64 && IsAttackedBy(Squares, square, White);
}
bool GameBoard::IsAttackedByBlack(int square) const {
  return square >= 0 && square < 64 && IsAttackedBy(Squares, square, Black);
}

// ---- Generation ------------------------------------------------------------

MoveListResult GameBoard::GenerateMoves() {
  MoveListBuilt = 1;
  Moves.Clear();
  const int king = KingSquare[Side];
  ListInCheck = king < 0 || (Side == White ? IsAttackedByBlack(king) : IsAttackedByWhite(king));
  if (GenerateCastling() != MoveListResult::Complete) return MoveListResult::Incomplete;
  if (EpSquare > 0 && GenerateEnPassant() != MoveListResult::Complete) return MoveListResult::Incomplete;
  for (int square = 0; square < 64; square++) {
    const std::uint32_t code = Squares[square];
    if (!code || ColourOf(code) != Side) continue;
    switch (code & 7) {
      case GamePiece::Pawn:
        if (Side == White)
          GenerateWhitePawn(square);
        else
          GenerateBlackPawn(square);
        break;
      case GamePiece::Knight: GenerateSteps(square, Paths.Knight[square]); break;
      case GamePiece::Bishop: GenerateSlides(square, 0, 4); break;
      case GamePiece::Rook: GenerateSlides(square, 4, 8); break;
      case GamePiece::Queen: GenerateSlides(square, 0, 8); break;  // diagonals, then lines
      case GamePiece::King: GenerateSteps(square, Paths.King[square]); break;
      default: break;
    }
  }
  return MoveListResult::Complete;
}

// Pushes first (four promotions, queen first, from rank 7), then the double
// push, then the captures towards the a-file and the h-file. A pawn on its
// last rank, which a FEN may hold, has no move.
void GameBoard::GenerateWhitePawn(int s) {
  if (s < 8) return;
  const bool promotes = s < 16;
  auto add = [&](int to) {
    if (!promotes) {
      Moves.Append(s, to, 0);
      return;
    }
    for (int promotion : Promotions) Moves.Append(s, to, promotion);
  };
  if (!Squares[s - 8]) {
    add(s - 8);
    if (s >= 48 && !Squares[s - 16]) Moves.Append(s, s - 16, 0);
  }
  const int file = s % 8;
  if (file > 0 && Squares[s - 9] && ColourOf(Squares[s - 9]) == Black) add(s - 9);
  if (file < 7 && Squares[s - 7] && ColourOf(Squares[s - 7]) == Black) add(s - 7);
}

void GameBoard::GenerateBlackPawn(int s) {
  if (s >= 56) return;
  const bool promotes = s >= 48;
  auto add = [&](int to) {
    if (!promotes) {
      Moves.Append(s, to, 0);
      return;
    }
    for (int promotion : Promotions) Moves.Append(s, to, promotion);
  };
  if (!Squares[s + 8]) {
    add(s + 8);
    if (s < 16 && !Squares[s + 16]) Moves.Append(s, s + 16, 0);
  }
  const int file = s % 8;
  if (file < 7 && Squares[s + 9] && ColourOf(Squares[s + 9]) == White) add(s + 9);
  if (file > 0 && Squares[s + 7] && ColourOf(Squares[s + 7]) == White) add(s + 7);
}

void GameBoard::GenerateSteps(int square, const std::int8_t* targets) {
  for (; *targets >= 0; targets++) {
    const std::uint32_t code = Squares[*targets];
    if (!code || ColourOf(code) != Side) Moves.Append(square, *targets, 0);
  }
}

void GameBoard::GenerateSlides(int square, int firstRay, int endRay) {
  for (int d = firstRay; d < endRay; d++)
    for (const std::int8_t* t = Paths.Ray[square][d]; *t >= 0; t++) {
      const std::uint32_t code = Squares[*t];
      if (code && ColourOf(code) == Side) break;
      Moves.Append(square, *t, 0);
      if (code) break;
    }
}

// A-side first. The king goes to the c- or g-file and the rook to the d- or
// f-file of the first rank, standard chess and Chess960 alike: no square the
// king crosses (both ends included) may be attacked or hold another piece
// than king and rook, and the rook's way must be free but for the king.
MoveListResult GameBoard::GenerateCastling() {
  const int row = Side == White ? 7 : 0;
  const int king = KingSquare[Side];
  if (king < 0 || king / 8 != row) return MoveListResult::Complete;
  const std::uint32_t ownRook = GamePiece::Rook + (Side == White ? 0 : GamePiece::Black);
  for (int aSide = 1; aSide >= 0; aSide--) {
    const int right = Side * 2 + (aSide ? 0 : 1);
    if (!CastlingFlags[right]) continue;
    const int rook = CastlingRookSquare[right];
    // Without the rook-square option a taken rook leaves its right behind.
    if (rook < 0 || rook > 63 || Squares[rook] != ownRook) continue;
    const int kingTo = row * 8 + (aSide ? 2 : 6), rookTo = row * 8 + (aSide ? 3 : 5);
    bool allowed = true;
    const int low = king < kingTo ? king : kingTo, high = king < kingTo ? kingTo : king;
    for (int s = low; s <= high && allowed; s++) {
      if (Squares[s] && s != king && s != rook) allowed = false;
      else if (Side == White ? IsAttackedByBlack(s) : IsAttackedByWhite(s)) allowed = false;
    }
    const int step = rookTo > rook ? 1 : -1;
    for (int s = rook; s != rookTo && allowed;) {
      s += step;
      if (Squares[s] && s != king) allowed = false;
    }
    if (allowed) Moves.Append(Corners[right], Corners[right], 0);
  }
  return MoveListResult::Complete;
}

MoveListResult GameBoard::GenerateEnPassant() {
  const int ep = EpSquare, file = ep % 8;
  if (Side == Black) {
    if (ep / 8 != 5) {
      Printer.Print(ChannelStderr, false, "ERROR: enPassant target square is not on the 3rd rank\n");
      return MoveListResult::Incomplete;
    }
    const std::uint32_t pawn = GamePiece::Pawn + GamePiece::Black;
    if (file > 0 && Squares[ep - 9] == pawn) Moves.Append(ep - 9, ep, 0);
    if (file < 7 && Squares[ep - 7] == pawn) Moves.Append(ep - 7, ep, 0);
  } else {
    if (ep / 8 != 2) {
      Printer.Print(ChannelStderr, false, "ERROR: enPassant target square is not on the 6th rank\n");
      return MoveListResult::Incomplete;
    }
    const std::uint32_t pawn = GamePiece::Pawn;
    if (file > 0 && Squares[ep + 7] == pawn) Moves.Append(ep + 7, ep, 0);
    if (file < 7 && Squares[ep + 9] == pawn) Moves.Append(ep + 9, ep, 0);
  }
  return MoveListResult::Complete;
}

bool GameBoard::RunningKeyMatchesSquares() const {
  std::uint64_t key = 0;
  int count = 0;
  for (int square = 0; square < 64; square++)
    if (Squares[square]) {
      key ^= GameBoardKeys().PieceSquare[Squares[square] & 15][square];
      count++;
    }
  return key == RunningKey && count == PieceCount;
}

// ---- The kept move list ----------------------------------------------------

void GameBoard::DropMoveList() {
  Moves.Clear();
  MoveListBuilt = 0;
}

void GameBoard::SaveMoveList() {
  const std::uint64_t parent = PositionSerial;
  PositionSerial = ++SerialCounter;
  if (MoveListBuilt) {
    Moves.Swap(SavedMoves);
    SavedOwner = {parent, PositionSerial, ListInCheck, true};
  }
  DropMoveList();
}

// The position numbers tell whether this take-back returns to the position
// whose list was kept: nothing was played, taken back or set up since.
void GameBoard::RestoreMoveList() {
  if (!SavedOwner.Held || SavedOwner.Child != PositionSerial) {
    PositionSerial = ++SerialCounter;
    DropMoveList();
    return;
  }
  Moves.Swap(SavedMoves);
  MoveListBuilt = 1;
  ListInCheck = SavedOwner.InCheck;
  PositionSerial = SavedOwner.Parent;
  SavedOwner.Held = false;
}

// ---- Play ------------------------------------------------------------------

void GameBoard::FillRecord(const GameMove& move, int place, GameMove& record) const {
  record = GameMove();
  record.From = move.From;
  record.To = move.To;
  record.Promotion = move.Promotion;
  record.Valid = 1;
  record.Place = place;
  record.MovingPiece = static_cast<std::int32_t>(Squares[move.From]);
  record.CapturedPiece = static_cast<std::int32_t>(Squares[move.To]);
  if (move.From == move.To) {
    record.CastlingKingSquare = KingSquare[Side];
  } else if (move.To == EpSquare && (Squares[move.From] & 7) == GamePiece::Pawn) {
    record.EnPassant = 1;
    record.CapturedPiece = GamePiece::Pawn + (Side == White ? GamePiece::Black : 0);
  }
  record.CastlingIndex = CastlingIndex();
  record.EpSquareBefore = EpSquare;
  record.HalfMovesBefore = HalfMoves;
}

// A move can leave its own king attacked only when the king stood in check,
// moves itself (castling too), or a piece leaves a line through the king's
// square, en passant also taking a second piece off the board.
bool GameBoard::NeedsKingTest(const GameMove& record) const {
  if (ListInCheck || record.From == record.To || record.EnPassant) return true;
  if ((record.MovingPiece & 7) == GamePiece::King) return true;
  const int king = KingSquare[Side], from = record.From;
  const int rows = king / 8 - from / 8, files = king % 8 - from % 8;
  return rows == 0 || files == 0 || rows == files || rows == -files;
}

bool GameBoard::IsLegal(const GameMove& move) {
  GameMove record;
  FillRecord(move, 0, record);
  const int mover = Side;
  MakeMove(record);
  const bool legal = mover == White ? !IsAttackedByBlack(KingSquare[White]) : !IsAttackedByWhite(KingSquare[Black]);
  UnmakeMove(record);
  return legal;
}

// Whether another piece of the mover's code reaches to: then the list holds
// a move of it to the same square (to is empty or holds an enemy piece), and
// SAN may have to tell the two apart. Pawns never need it: a pawn capture
// names its file anyway. Castling moves have no rivals.
bool GameBoard::HasRival(int from, int to) const {
  const std::uint32_t code = Squares[from];
  auto steps = [&](const std::int8_t* targets) {
    for (; *targets >= 0; targets++)
      if (*targets != from && Squares[*targets] == code) return true;
    return false;
  };
  auto slides = [&](int firstRay, int endRay) {
    for (int d = firstRay; d < endRay; d++)
      for (const std::int8_t* t = Paths.Ray[to][d]; *t >= 0; t++) {
        if (!Squares[*t]) continue;
        if (*t != from && Squares[*t] == code) return true;
        break;
      }
    return false;
  };
  if (from == to) return false;
  switch (code & 7) {
    case GamePiece::Knight: return steps(Paths.Knight[to]);
    case GamePiece::King: return steps(Paths.King[to]);
    case GamePiece::Bishop: return slides(0, 4);
    case GamePiece::Rook: return slides(4, 8);
    case GamePiece::Queen: return slides(0, 8);
    default: return false;
  }
}

// Standard SAN: only the legal moves of the same piece to the same square
// count, so a pinned knight does not make "Nac4" of "Nc4".
int GameBoard::Disambiguation(const GameMove& move) {
  const std::uint32_t piece = Squares[move.From];
  auto isRival = [&](const GameMove& m) {
    return m.To == move.To && m.From != move.From && m.From != m.To && m.Promotion == move.Promotion &&
           Squares[m.From] == piece;
  };
  int count = 0;
  for (const GameMove& m : Moves) count += isRival(m);
  if (count == 0) return 0;
  // Copied: trying a rival plays and takes it back.
  GameMove rivals[64];
  count = 0;
  for (const GameMove& m : Moves)
    if (isRival(m) && count < 64) rivals[count++] = m;
  int sameFile = 1, sameRank = 1, legal = 0;
  for (int i = 0; i < count; i++) {
    if (!IsLegal(rivals[i])) continue;
    legal++;
    sameFile += rivals[i].From % 8 == move.From % 8;
    sameRank += rivals[i].From / 8 == move.From / 8;
  }
  if (legal == 0) return 0;
  if (sameFile == 1) return 1;
  if (sameRank == 1) return 2;
  return 3;
}

int GameBoard::PlayMove(const GameMove& move, GameMove& record) {
  if (!move.Valid || move.From < 0 || move.From > 63 || move.To < 0 || move.To > 63) return 0;
  // A board that a refused FEN left without a king has no legal move.
  if (KingSquare[White] < 0 || KingSquare[Black] < 0) return 0;
  if (!MoveListBuilt) (void)GenerateMoves();

  // A king moving two squares, or onto its own rook, means castling.
  GameMove wanted = move;
  const std::uint32_t code = Squares[move.From];
  if ((code & 7) == GamePiece::King && move.From / 8 == move.To / 8 && move.From != move.To) {
    const int colour = ColourOf(code);
    const bool twoSquares = move.To == move.From + 2 || move.To == move.From - 2;
    const bool ontoOwnRook = Squares[move.To] == GamePiece::Rook + (colour == White ? 0u : GamePiece::Black);
    if (twoSquares || ontoOwnRook) {
      const bool hSide = move.To > move.From;
      const int corner = colour == White ? (hSide ? CornerH1 : CornerA1) : (hSide ? CornerH8 : CornerA8);
      wanted.From = wanted.To = corner;
      wanted.Promotion = 0;
    }
  }

  // No move stands twice in a list, so the search may start anywhere: where
  // the last one ended, as walking a list plays its moves in turn.
  int place = 0;
  const int count = Moves.Count();
  for (int n = 0, i = SearchStart < count ? SearchStart : 0; n < count && !place; n++, i = i + 1 < count ? i + 1 : 0) {
    const GameMoveList::Entry& m = Moves.EntryAt(i);
    if (m.To == wanted.To && m.From == wanted.From && m.Promotion == wanted.Promotion) place = i + 1;
  }
  if (!place) return 0;
  SearchStart = place;

  const GameMove found = Moves[place - 1];
  const int disambiguation = HasRival(found.From, found.To) ? Disambiguation(found) : 0;
  FillRecord(found, place, record);
  record.Disambiguation = disambiguation;
  const bool test = NeedsKingTest(record);
  const int mover = Side;
  MakeMove(record);
  if (!test) return place;
  const bool legal = mover == White ? !IsAttackedByBlack(KingSquare[White]) : !IsAttackedByWhite(KingSquare[Black]);
  if (!legal) {
    UnmakeMove(record);
    return 0;
  }
  return place;
}

int GameBoard::MakeMove(const GameMove& record) {
  SaveMoveList();
  const int from = record.From, to = record.To;
  const std::uint32_t black = Side == White ? 0 : GamePiece::Black;

  if (from == to) {
    // Castling: the corner names the right, the rook stands where the FEN put it.
    const int right = RightOfCorner(from);
    const int row = Side == White ? 7 : 0, aSide = right % 2 == 0;
    const int kingTo = row * 8 + (aSide ? 2 : 6), rookTo = row * 8 + (aSide ? 3 : 5);
    HalfMoves = 0;
    EpSquare = -1;
    Remove(KingSquare[Side]);
    Remove(CastlingRookSquare[right]);
    Place(static_cast<int>(GamePiece::King + black), kingTo);
    Place(static_cast<int>(GamePiece::Rook + black), rookTo);
    KingSquare[Side] = kingTo;
    CastlingFlags[Side * 2] = CastlingFlags[Side * 2 + 1] = 0;
  } else {
    if (record.EnPassant) Remove(Side == White ? to + 8 : to - 8);
    const std::uint32_t piece = Squares[from];
    Remove(to);
    Remove(from);
    Place(static_cast<int>(record.Promotion ? record.Promotion + black : piece), to);
    if ((piece & 7) == GamePiece::King) {
      KingSquare[Side] = to;
      CastlingFlags[Side * 2] = CastlingFlags[Side * 2 + 1] = 0;
    }
    for (int r = 0; r < 4; r++) {
      if (!CastlingFlags[r]) continue;
      if (CastlingRookSquare[r] == from || (RookSquareOption > 0 && CastlingRookSquare[r] == to))
        CastlingFlags[r] = 0;
    }
    const bool pawn = (piece & 7) == GamePiece::Pawn;
    HalfMoves = record.CapturedPiece || pawn ? 0 : HalfMoves + 1;
    EpSquare = -1;
    if (pawn && (to - from == 16 || from - to == 16)) {
      // Only worth a square when an enemy pawn stands beside the pushed one,
      // on the same rank: the file tests keep a- and h-file apart.
      const std::uint32_t enemyPawn = GamePiece::Pawn + (Side == White ? GamePiece::Black : 0);
      const int file = to % 8;
      if ((file > 0 && Squares[to - 1] == enemyPawn) || (file < 7 && Squares[to + 1] == enemyPawn))
        EpSquare = (from + to) / 2;
    }
  }
  Side ^= 1;
  assert(RunningKeyMatchesSquares());
  return record.Place;
}

void GameBoard::UnmakeMove(const GameMove& record) {
  Side ^= 1;
  EpSquare = record.EpSquareBefore;
  for (int r = 0; r < 4; r++) CastlingFlags[r] = (record.CastlingIndex >> r) & 1;
  HalfMoves = record.HalfMovesBefore;
  const int from = record.From, to = record.To;
  const std::uint32_t black = Side == White ? 0 : GamePiece::Black;
  if (from == to) {
    const int right = RightOfCorner(from);
    const int row = Side == White ? 7 : 0, aSide = right % 2 == 0;
    Remove(row * 8 + (aSide ? 2 : 6));
    Remove(row * 8 + (aSide ? 3 : 5));
    Place(static_cast<int>(GamePiece::King + black), record.CastlingKingSquare);
    Place(static_cast<int>(GamePiece::Rook + black), CastlingRookSquare[right]);
    KingSquare[Side] = record.CastlingKingSquare;
  } else {
    Remove(to);
    Place(record.MovingPiece, from);
    if ((record.MovingPiece & 7) == GamePiece::King) KingSquare[Side] = from;
    if (record.EnPassant)
      Place(record.CapturedPiece, Side == White ? to + 8 : to - 8);
    else if (record.CapturedPiece)
      Place(record.CapturedPiece, to);
  }
  assert(RunningKeyMatchesSquares());
  RestoreMoveList();
}

// ---- SAN -------------------------------------------------------------------

namespace {

int PromotionOfUpperLetter(char letter) {
  switch (letter) {
    case 'N': return GamePiece::Knight;
    case 'B': return GamePiece::Bishop;
    case 'R': return GamePiece::Rook;
    case 'Q': return GamePiece::Queen;
    default: return -1;
  }
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

const GameMove* GameBoard::ParseSan(const char* text) {
  thread_local GameMove answer;
  answer = GameMove();
  if (!text) return &answer;
  const int length = static_cast<int>(std::strlen(text));
  if (length < 2 || KingSquare[White] < 0 || KingSquare[Black] < 0) return &answer;

  for (const char* word : {"O-O", "o-o", "0-0"})
    if (std::strcmp(text, word) == 0) {
      answer.FromText(Side == White ? "h1h1" : "h8h8");
      return &answer;
    }
  for (const char* word : {"O-O-O", "o-o-o", "0-0-0"})
    if (std::strcmp(text, word) == 0) {
      answer.FromText(Side == White ? "a1a1" : "a8a8");
      return &answer;
    }
  if (text[0] == '0' || text[0] == 'O' || text[0] == 'o') return &answer;

  int kind = GamePiece::Pawn, start = 0;
  switch (text[0]) {
    case 'N': kind = GamePiece::Knight, start = 1; break;
    case 'B': kind = GamePiece::Bishop, start = 1; break;
    case 'R': kind = GamePiece::Rook, start = 1; break;
    case 'Q': kind = GamePiece::Queen, start = 1; break;
    case 'K': kind = GamePiece::King, start = 1; break;
    default: break;
  }
  int end = length, promotion = 0;
  if (text[length - 2] == '=' || IsLetter(text[length - 1])) {
    char letter = text[length - 1];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    promotion = PromotionOfUpperLetter(letter);
    if (promotion < 0) return &answer;
    end = text[length - 2] == '=' ? length - 2 : length - 1;
  }
  if (end - 2 < start) return &answer;
  const char file = text[end - 2], rank = text[end - 1];
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return &answer;
  const int target = (file - 'a') + 8 * ('8' - rank);
  // Between the piece letter and the target only squares' letters and
  // digits, a capture sign or a dash: "Zf3" names no pawn move.
  for (int i = start; i < end - 2; i++) {
    const char c = text[i];
    if (!((c >= 'a' && c <= 'h') || (c >= '1' && c <= '8') || c == 'x' || c == '-')) return &answer;
  }

  if (!MoveListBuilt) (void)GenerateMoves();
  // Copied first: trying a candidate plays and takes it back, which may
  // rebuild the list.
  const std::uint32_t piece = static_cast<std::uint32_t>(kind) + (Side == White ? 0 : GamePiece::Black);
  GameMove candidates[64];
  int count = 0;
  for (const GameMove& m : Moves)
    if (m.To == target && m.From != m.To && m.Promotion == static_cast<std::uint32_t>(promotion) &&
        Squares[m.From] == piece && count < 64)
      candidates[count++] = m;

  if (count > 1) {
    int legal = 0;
    for (int i = 0; i < count; i++)
      if (IsLegal(candidates[i])) candidates[legal++] = candidates[i];
    count = legal;
  }
  for (int i = start; count > 1 && i < end - 2; i++) {
    const char c = text[i];
    int kept = 0;
    if (c >= '1' && c <= '8') {
      for (int k = 0; k < count; k++)
        if (candidates[k].From / 8 == '8' - c) candidates[kept++] = candidates[k];
    } else if (c >= 'a' && c <= 'h') {
      for (int k = 0; k < count; k++)
        if (candidates[k].From % 8 == c - 'a') candidates[kept++] = candidates[k];
    } else {
      return &answer;
    }
    count = kept;
  }
  if (count != 1) return &answer;
  answer.From = candidates[0].From;
  answer.To = candidates[0].To;
  answer.Promotion = candidates[0].Promotion;
  answer.Valid = candidates[0].Valid;
  return &answer;
}
