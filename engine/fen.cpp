// Position set-up from FEN text (standard and Chess960 castling letters),
// the legality check, the castling tables, and FEN output and printing.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/attacks.h"
#include "engine/frontendport.h"
#include "engine/position.h"
#include "engine/settings.h"
#include "engine/zobrist.h"
#include "support/output.h"

namespace {

void SetMessage(Position& pos, const char* format, ...) __attribute__((format(printf, 2, 3)));
void SetMessage(Position& pos, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(pos.Message, sizeof(pos.Message), format, args);
  va_end(args);
}

int PieceCodeOfLetter(char c) {
  switch (c) {
    case 'P': return PieceCode(White, Pawn);
    case 'N': return PieceCode(White, Knight);
    case 'B': return PieceCode(White, Bishop);
    case 'R': return PieceCode(White, Rook);
    case 'Q': return PieceCode(White, Queen);
    case 'K': return PieceCode(White, King);
    case 'p': return PieceCode(Black, Pawn);
    case 'n': return PieceCode(Black, Knight);
    case 'b': return PieceCode(Black, Bishop);
    case 'r': return PieceCode(Black, Rook);
    case 'q': return PieceCode(Black, Queen);
    case 'k': return PieceCode(Black, King);
    default: return 0;
  }
}

const char* SkipSpaces(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

bool AtFieldEnd(const char* p) { return *p == '\0' || *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'; }

// The board field, rank 8 first. Refuses what the board cannot hold: ranks
// of the wrong length or number, unknown characters, more men than a side
// can have, a second king, pawns on the first or last rank.
bool ParseBoard(Position& pos, const char*& p) {
  for (int row = 0; row < 8; ++row) {
    int file = 0;
    for (;; ++p) {
      const char c = *p;
      if (c == '/' || AtFieldEnd(p)) break;
      if (c >= '1' && c <= '8') {
        if (file + (c - '0') > 8) {
          SetMessage(pos, "Bad FEN: Too many digits on rank %d\n", 8 - row);
          return false;
        }
        for (int i = 0; i < c - '0'; ++i) pos.Board[MakeSquare(file++, row)] = 0;
        continue;
      }
      const int code = PieceCodeOfLetter(c);
      if (!code) {
        SetMessage(pos, "Bad FEN: Unexpected character '%c' on rank %d\n", c, 8 - row);
        return false;
      }
      if (file >= 8) {
        SetMessage(pos, "Bad FEN: Too many digits on rank %d\n", 8 - row);
        return false;
      }
      const int colour = ColourOf(code);
      // A side has 16 men at most; a piece list holds 15 of a kind beside the king.
      if (pos.PieceCount[colour] >= 16 || pos.CountOf(code) >= 15) {
        SetMessage(pos, "Bad FEN: More than 16 %s men\n", colour == White ? "white" : "black");
        return false;
      }
      if (KindOf(code) == King && pos.CountOf(code) > 0) {
        SetMessage(pos, "Bad FEN: More than one %s king\n", colour == White ? "white" : "black");
        return false;
      }
      if (KindOf(code) == Pawn && (row == 0 || row == 7)) {
        SetMessage(pos, "Bad FEN: Pawn on rank %d\n", 8 - row);
        return false;
      }
      if (KindOf(code) == Pawn && pos.CountOf(code) >= 8) {
        SetMessage(pos, "Bad FEN: More than 8 %s pawns\n", colour == White ? "white" : "black");
        return false;
      }
      pos.AddPiece(code, MakeSquare(file++, row));
    }
    if (file < 8) {
      SetMessage(pos, "Bad FEN: Too few digits on rank %d\n", 8 - row);
      return false;
    }
    if (row < 7 && *p != '/') {
      SetMessage(pos, "Bad FEN: The board has %d ranks instead of 8\n", row + 1);
      return false;
    }
    if (row == 7 && *p == '/') {
      SetMessage(pos, "Bad FEN: The board has more than 8 ranks\n");
      return false;
    }
    if (*p == '/') ++p;
  }
  return true;
}

// A castling letter: KQkq, or the file of the castling rook (Chess960).
// Shredder letters for the corner rooks of a king on its home square are
// the standard rights while the GUI has not chosen Chess960: taking them
// for Chess960 would make the king's castling move (e1g1) unknown.
void ParseCastlingLetter(Position& pos, char c) {
  switch (c) {
    case 'K': pos.Castling |= CastleWhiteKingSide; return;
    case 'Q': pos.Castling |= CastleWhiteQueenSide; return;
    case 'k': pos.Castling |= CastleBlackKingSide; return;
    case 'q': pos.Castling |= CastleBlackQueenSide; return;
    default: break;
  }
  int colour, file;
  if (c >= 'A' && c <= 'H')
    colour = White, file = c - 'A';
  else if (c >= 'a' && c <= 'h')
    colour = Black, file = c - 'a';
  else
    return;
  const int kingFile = FileOf(pos.KingSquare(colour));
  if (file == kingFile) return;
  const bool queenSide = file < kingFile;
  const int right = colour == White ? (queenSide ? CastleWhiteQueenSide : CastleWhiteKingSide)
                                    : (queenSide ? CastleBlackQueenSide : CastleBlackKingSide);
  pos.Castling |= right;
  pos.CastleRookSquare[CastleRookSlot(colour, queenSide)] = MakeSquare(file, colour == White ? 7 : 0);
  const bool cornerOfKingAtHome =
      (file == 0 || file == 7) && pos.KingSquare(colour) == (colour == White ? SquareE1 : SquareE8);
  if (!cornerOfKingAtHome || Settings::DefaultVariant != VariantNormal) pos.ChessVariant = VariantChess960;
}

// The rights a position given without its castling field keeps: those of
// a king and rook still on their standard home squares.
void SetHomeCastlingRights(Position& pos) {
  static constexpr struct {
    int Right, Colour, King, Rook;
    bool QueenSide;
  } Homes[4] = {
      {CastleWhiteKingSide, White, SquareE1, SquareH1, false},
      {CastleWhiteQueenSide, White, SquareE1, SquareA1, true},
      {CastleBlackKingSide, Black, SquareE8, SquareH8, false},
      {CastleBlackQueenSide, Black, SquareE8, SquareA8, true},
  };
  for (const auto& home : Homes) {
    if (pos.Board[home.King] != PieceCode(home.Colour, King) || pos.Board[home.Rook] != PieceCode(home.Colour, Rook))
      continue;
    pos.Castling |= home.Right;
    pos.CastleRookSquare[CastleRookSlot(home.Colour, home.QueenSide)] = home.Rook;
  }
}

// An en-passant square must lie just behind a pawn of the side that moved,
// with the squares it passed over and left empty.
bool PlausibleEnPassant(const Position& pos, int square) {
  const int pushed = pos.Side == White ? square + 8 : square - 8;
  const int origin = pos.Side == White ? square - 8 : square + 8;
  if (RowOf(square) != (pos.Side == White ? 2 : 5)) return false;
  return pos.Board[pushed] == PieceCode(pos.Side ^ 1, Pawn) && pos.Board[square] == 0 && pos.Board[origin] == 0;
}

bool SideMayTakeEnPassant(const Position& pos, int square) {
  return (PawnAttacks[pos.Side ^ 1][square] & pos.PieceBB[PieceCode(pos.Side, Pawn)]) != 0;
}

// Reads the whole text into pos (a cleared position); false with the reason
// in pos.Message.
bool ParseInto(Position& pos, const char* fen) {
  pos.ChessVariant = Settings::DefaultVariant;
  pos.Castling = 0;
  pos.EpSquare = -1;
  pos.CheckCache = -1;
  pos.Side = White;
  pos.Ply = 0;
  for (int& code : pos.Board) code = UndefinedSquare;

  const char* p = fen;
  while (*p && !std::isalnum(static_cast<unsigned char>(*p))) ++p;
  if (!*p) {
    SetMessage(pos, "Bad FEN: No board given\n");
    return false;
  }
  if (!ParseBoard(pos, p)) return false;
  if (pos.CountOf(PieceCode(White, King)) != 1 || pos.CountOf(PieceCode(Black, King)) != 1) {
    SetMessage(pos, "Bad FEN: Illegal board\n");
    return false;
  }

  p = SkipSpaces(p);
  if (!std::isalpha(static_cast<unsigned char>(*p)) || !AtFieldEnd(p + 1)) {
    SetMessage(pos, "Bad FEN: Side to move missing or not a single letter\n");
    return false;
  }
  pos.Side = (*p == 'w' || *p == 'W') ? White : Black;
  p = SkipSpaces(p + 1);

  // GUIs send the board and the side alone, or the castling field too; the
  // fields left out are read as the book-side board reads them.
  for (int& square : pos.CastleRookSquare) square = -1;
  if (AtFieldEnd(p)) SetHomeCastlingRights(pos);
  for (; !AtFieldEnd(p); ++p) ParseCastlingLetter(pos, *p);
  p = SkipSpaces(p);

  if (AtFieldEnd(p)) {
    // No en-passant field: no en-passant square.
  } else if (*p == '-' && AtFieldEnd(p + 1)) {
    ++p;
  } else {
    const int file = std::tolower(static_cast<unsigned char>(p[0])) - 'a';
    const int rank = p[1] - '0';
    if (file < 0 || file > 7 || rank < 1 || rank > 8 || !AtFieldEnd(p + 2)) {
      SetMessage(pos, "Bad FEN: Bad en passant field\n");
      return false;
    }
    const int square = file + (8 - rank) * 8;
    if (!PlausibleEnPassant(pos, square)) {
      SetMessage(pos, "Bad FEN: %c%d cannot be an en passant square\n", 'a' + file, rank);
      return false;
    }
    if (SideMayTakeEnPassant(pos, square)) pos.EpSquare = square;
    p += 2;
  }

  // The half-move clock; very large values are capped, which changes no
  // verdict (100 already ends the game).
  p = SkipSpaces(p);
  pos.Fifty = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (pos.Fifty < 100000) pos.Fifty = pos.Fifty * 10 + (*p - '0');
  pos.Ply = 0;

  pos.SetupCastling();
  if (!pos.CheckLegality()) {
    SetMessage(pos, "Bad FEN: Illegal board\n");
    return false;
  }
  return true;
}

void ReportInfo(const char* text) {
  if (ActiveFrontEnd) ActiveFrontEnd->Info(text);
}

}  // namespace

bool Position::ParseFEN(const char* fen) {
  if (!fen) {
    SetMessage(*this, "BAD FEN: No fen string given\n");
    return true;
  }
  // Parsed apart so that bad text leaves this position as it was.
  Position scratch;
  if (!ParseInto(scratch, fen)) {
    std::memcpy(Message, scratch.Message, sizeof(Message));
    return true;
  }
  *this = scratch;
  return false;
}

void Position::SetupCastling() {
  for (auto& mask : CastleMask) mask = 15;
  CastleMask[KingSquare(White)] = 12;
  CastleMask[KingSquare(Black)] = 3;

  struct RightInfo {
    int Right, Colour;
    bool QueenSide;
    std::uint32_t Mask;
    int Corner;
    const char* Missing;
  };
  static constexpr RightInfo Rights[4] = {
      {CastleWhiteKingSide, White, false, 14, SquareH1,
       "Error in the position. White Kingside castle flag set, but no castling rook found"},
      {CastleWhiteQueenSide, White, true, 13, SquareA1,
       "Error in the position. White Queenside castle flag set, but no castling rook found"},
      {CastleBlackKingSide, Black, false, 11, SquareH8,
       "Error in the position. Black Kingside castle flag set, but no castling rook found"},
      {CastleBlackQueenSide, Black, true, 7, SquareA8,
       "Error in the position. Black Queenside castle flag set, but no castling rook found"},
  };
  for (const RightInfo& r : Rights) {
    if (!(Castling & r.Right)) continue;
    int& rookSquare = CastleRookSquare[CastleRookSlot(r.Colour, r.QueenSide)];
    // A right without a file letter belongs to the outermost rook on its
    // side, walking from the corner towards the king: in normal chess the
    // corner rook, and in Chess960 the rook X-FEN means (GUIs name an inner
    // rook by its file).
    if (rookSquare == -1) {
      const int row = r.Colour == White ? 7 : 0, step = r.QueenSide ? 1 : -1;
      const int rook = PieceCode(r.Colour, Rook), kingFile = FileOf(KingSquare(r.Colour));
      for (int file = FileOf(r.Corner); file != kingFile; file += step)
        if (Board[MakeSquare(file, row)] == rook) {
          rookSquare = MakeSquare(file, row);
          break;
        }
      if (rookSquare == -1) {
        ReportInfo(r.Missing);
        Castling &= ~r.Right;
        rookSquare = r.Corner;
      }
    }
    CastleMask[rookSquare] = r.Mask;
  }

  ComputeKeys();
  Matkey = ComputeMaterialIndex();
  CheckCache = -1;
}

void Position::DropUnplayableCastling() {
  const int oldCastling = Castling;
  auto drop = [this](int right, const char* text) {
    if (!(Castling & right)) return;
    Castling &= ~right;
    SetMessage(*this, "%s", text);
  };
  if (ChessVariant == VariantChess960) {
    static constexpr struct {
      int Right, Colour;
      bool QueenSide;
      const char* NoRook;
      const char* KingAway;
    } Rights[4] = {
        {CastleWhiteKingSide, White, false, "White h-side castle flag set, but no castling rook found\n",
         "White h-side castle flag set, but king not on the first rank\n"},
        {CastleWhiteQueenSide, White, true, "White a-side castle flag set, but no castling rook found\n",
         "White a-side castle flag set, but king not on the first rank\n"},
        {CastleBlackKingSide, Black, false, "Black h-side castle flag set, but no castling rook found\n",
         "Black h-side castle flag set, but king not on the eighth rank\n"},
        {CastleBlackQueenSide, Black, true, "Black a-side castle flag set, but no castling rook found\n",
         "Black a-side castle flag set, but king not on the eighth rank\n"},
    };
    for (const auto& r : Rights) {
      const int rookSquare = CastleRookSquare[CastleRookSlot(r.Colour, r.QueenSide)];
      if (rookSquare < 0 || Board[rookSquare] != PieceCode(r.Colour, Rook)) drop(r.Right, r.NoRook);
      // Castling moves a king along its own back rank only.
      if (RowOf(KingSquare(r.Colour)) != (r.Colour == White ? 7 : 0)) drop(r.Right, r.KingAway);
    }
  } else {
    const bool whiteKingHome = Board[SquareE1] == PieceCode(White, King);
    const bool blackKingHome = Board[SquareE8] == PieceCode(Black, King);
    if (!whiteKingHome) drop(CastleWhiteKingSide, "White king-side castle flag set, but king not on e1\n");
    if (Board[SquareH1] != PieceCode(White, Rook))
      drop(CastleWhiteKingSide, "White king-side castle flag set, but rook not on h1\n");
    if (!whiteKingHome) drop(CastleWhiteQueenSide, "White queen-side castle flag set, but king not on e1\n");
    if (Board[SquareA1] != PieceCode(White, Rook))
      drop(CastleWhiteQueenSide, "White queen-side castle flag set, but rook not on a1\n");
    if (!blackKingHome) drop(CastleBlackKingSide, "Black king-side castle flag set, but king not on e8\n");
    if (Board[SquareH8] != PieceCode(Black, Rook))
      drop(CastleBlackKingSide, "Black king-side castle flag set, but rook not on h8\n");
    if (!blackKingHome) drop(CastleBlackQueenSide, "Black queen-side castle flag set, but king not on e8\n");
    if (Board[SquareA8] != PieceCode(Black, Rook))
      drop(CastleBlackQueenSide, "Black queen-side castle flag set, but rook not on a8\n");
  }
  // Dropped rights change the key.
  if (Castling != oldCastling) Hashkey ^= ZobristKeys.Castling[oldCastling] ^ ZobristKeys.Castling[Castling];
}

void Position::ChangeVariant(int variant) {
  ChessVariant = variant;
  // The rook squares are found again from the board: normal chess needs the
  // corners, and Chess960 keeps the squares its rights were given with.
  if (variant == VariantNormal)
    for (int& square : CastleRookSquare) square = -1;
  DropUnplayableCastling();
  SetupCastling();
}

bool Position::CheckLegality() {
  if (CountOf(PieceCode(White, King)) != 1) {
    SetMessage(*this, "Illegal position, no white king\n");
    return false;
  }
  if (CountOf(PieceCode(Black, King)) != 1) {
    SetMessage(*this, "Illegal position, no black king\n");
    return false;
  }
  if (IsAttacked(KingSquare(Side ^ 1), Side)) {
    SetMessage(*this, "Illegal position, side to move gives check\n");
    return false;
  }

  DropUnplayableCastling();

  for (int square = 0; square < 64; ++square)
    if (Board[square] == UndefinedSquare) {
      SetMessage(*this, "Undefined square %d\n", square);
      return false;
    }
  return true;
}

namespace {

// Writes the castling field; mirrored swaps the colours.
char* WriteCastling(const Position& pos, char* out, bool mirrored) {
  if (pos.Castling == 0) {
    *out++ = '-';
    return out;
  }
  static constexpr int Rights[4] = {CastleWhiteKingSide, CastleWhiteQueenSide, CastleBlackKingSide,
                                    CastleBlackQueenSide};
  static constexpr char Letters[4] = {'K', 'Q', 'k', 'q'};
  for (int i = 0; i < 4; ++i) {
    if (!(pos.Castling & Rights[i])) continue;
    const int colour = i < 2 ? White : Black;
    const bool upper = (colour == White) != mirrored;
    if (pos.ChessVariant == VariantChess960) {
      const int rookSquare = pos.CastleRookSquare[CastleRookSlot(colour, i % 2 == 1)];
      *out++ = static_cast<char>((upper ? 'A' : 'a') + FileOf(rookSquare < 0 ? 0 : rookSquare));
    } else {
      *out++ = mirrored ? static_cast<char>(Letters[i] ^ 0x20) : Letters[i];
    }
  }
  return out;
}

char* WriteRank(const Position& pos, char* out, int row, bool swapColours) {
  int empty = 0;
  for (int file = 0; file < 8; ++file) {
    int code = pos.Board[MakeSquare(file, row)];
    if (code == 0 || code == UndefinedSquare) {
      ++empty;
      continue;
    }
    if (empty) *out++ = static_cast<char>('0' + empty);
    empty = 0;
    if (swapColours) code ^= 8;
    *out++ = PieceChars[code];
  }
  if (empty) *out++ = static_cast<char>('0' + empty);
  return out;
}

// The FEN without the move counters; mirrored turns the board over and
// swaps the colours, so that the other side sees the same position.
const char* WriteFen(const Position& pos, char* text, bool mirrored) {
  char* out = text;
  for (int i = 0; i < 8; ++i) {
    out = WriteRank(pos, out, mirrored ? 7 - i : i, mirrored);
    if (i < 7) *out++ = '/';
  }
  *out++ = ' ';
  *out++ = (pos.Side == White) != mirrored ? 'w' : 'b';
  *out++ = ' ';
  out = WriteCastling(pos, out, mirrored);
  *out++ = ' ';
  if (pos.EpSquare < 1) {
    *out++ = '-';
  } else {
    *out++ = static_cast<char>('a' + FileOf(pos.EpSquare));
    *out++ = static_cast<char>('0' + (mirrored ? RowOf(pos.EpSquare) + 1 : RankOf(pos.EpSquare)));
  }
  *out = '\0';
  return text;
}

}  // namespace

const char* Position::GetFEN() const {
  thread_local char text[96];
  return WriteFen(*this, text, false);
}

const char* Position::GetMirroredFEN() const {
  thread_local char text[96];
  return WriteFen(*this, text, true);
}

void Position::Print() const {
  for (int row = 0; row < 8; ++row) {
    Printer.Print(ChannelStdout, false, "\n%d ", 8 - row);
    for (int file = 0; file < 8; ++file) {
      const int code = Board[MakeSquare(file, row)];
      Printer.Print(ChannelStdout, false, " %c", PieceChars[code & 15]);
    }
  }
  Printer.Print(ChannelStdout, false, "\n\n   a b c d e f g h\n\n");
  Printer.Print(ChannelStdout, false, "%s\n\n", GetFEN());
  Printer.Print(ChannelStdout, false, "0x%0llx\n", static_cast<unsigned long long>(Hashkey));
  Printer.Print(ChannelStdout, false, "0x%0llx\n", static_cast<unsigned long long>(Pawnkey));
}
