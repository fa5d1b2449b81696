// The game board's position: set-up from FEN text, FEN text and printing,
// the position key, and the building of the board's two tables (the keys
// and the 960 start positions).
#include "games/gameboard.h"

#include <cstring>

#include "support/output.h"
#include "support/random.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

char FileLetter(int square) { return static_cast<char>('a' + square % 8); }
char RankDigit(int square) { return static_cast<char>('8' - square / 8); }

int CodeOfLetter(char letter) {
  switch (letter) {
    case 'P': return GamePiece::Pawn;
    case 'N': return GamePiece::Knight;
    case 'B': return GamePiece::Bishop;
    case 'R': return GamePiece::Rook;
    case 'Q': return GamePiece::Queen;
    case 'K': return GamePiece::King;
    case 'p': return GamePiece::Pawn + GamePiece::Black;
    case 'n': return GamePiece::Knight + GamePiece::Black;
    case 'b': return GamePiece::Bishop + GamePiece::Black;
    case 'r': return GamePiece::Rook + GamePiece::Black;
    case 'q': return GamePiece::Queen + GamePiece::Black;
    case 'k': return GamePiece::King + GamePiece::Black;
    default: return 0;
  }
}

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

void Tell(FenMessageSink* messages, bool error, const char* text) {
  if (messages) messages->Report(error, text);
}

// Each right's home, by CastlingSide: the king's and the rook's squares of
// the standard start. The rook's is also the corner that GetFen's K, Q, k, q
// stand for.
struct CastlingHome {
  int King, Rook;
};
constexpr CastlingHome Homes[4] = {{60, 56}, {60, 63}, {4, 0}, {4, 7}};

}  // namespace

void PrintingFenSink::Report(bool error, const char* text) {
  Printer.Print(error ? ChannelStderr : ChannelStdout, false, "%s", text);
}

GameBoard::GameBoard() {
  SetFen(StartFen);
  RookSquareOption = 1;
}

void GameBoard::Reset() {
  KingSquare[White] = KingSquare[Black] = -1;
  DropMoveList();
  SavedOwner.Held = false;
  PositionSerial = ++SerialCounter;
  std::memset(Squares, 0, sizeof Squares);
  RunningKey = 0;
  PieceCount = 0;
  // Every field starts afresh: a text cut short must not keep the side,
  // en passant, rights or rook squares of the position before it.
  Side = White;
  EpSquare = -1;
  HalfMoves = 0;
  std::memset(CastlingFlags, 0, sizeof CastlingFlags);
  for (int r = 0; r < 4; r++) CastlingRookSquare[r] = Homes[r].Rook;
}

int GameBoard::CastlingIndex() const {
  int index = 0;
  for (int r = 0; r < 4; r++)
    if (CastlingFlags[r]) index |= 1 << r;
  return index;
}

// Rank by rank from rank 8. A rank may stop short at '/' or a blank (the
// rest stays empty); a full rank must be followed by one of them.
bool GameBoard::ParsePlacement(const char*& p, FenMessageSink* messages) {
  char text[64];
  for (int row = 0; row < 8; row++) {
    int file = 0;
    for (;;) {
      const int rank = 8 - row;
      if (file > 7) {
        std::snprintf(text, sizeof text, "BAD FEN: Too many digits on rank%d\n", rank);
        Tell(messages, false, text);
        return true;
      }
      const char c = *p;
      if (c == '\0') {
        Tell(messages, false, "BAD FEN: premature end of FEN string\n");
        return true;
      }
      if (c >= '1' && c <= '8') {
        // A run past file h would write into the next rank, and past h1
        // beyond the board.
        if (file + (c - '0') > 8) {
          std::snprintf(text, sizeof text, "BAD FEN: Too many digits on rank%d\n", rank);
          Tell(messages, false, text);
          return true;
        }
        file += c - '0';
      } else if (const int code = CodeOfLetter(c)) {
        const int square = row * 8 + file;
        Place(code, square);
        if ((code & 7) == GamePiece::King) KingSquare[code >> 3] = square;
        file++;
      } else {
        // '0', '9', a '/' that starts a rank, and anything else.
        std::snprintf(text, sizeof text, "BAD FEN: Unexpected character on rank %d\n", rank);
        Tell(messages, false, text);
        return true;
      }
      p++;
      if (*p == '/' || *p == ' ') {
        p++;
        break;
      }
    }
  }
  return false;
}

// With the castling field missing, only rights that the standard start
// position could still have: a stale rook square would make castling move
// a rook that is not there.
void GameBoard::SetHomeCastlingRights() {
  const int king[2] = {GamePiece::King, GamePiece::King + GamePiece::Black};
  const int rook[2] = {GamePiece::Rook, GamePiece::Rook + GamePiece::Black};
  for (int r = 0; r < 4; r++) {
    const int colour = r / 2;
    CastlingFlags[r] = Squares[Homes[r].King] == static_cast<std::uint32_t>(king[colour]) &&
                       Squares[Homes[r].Rook] == static_cast<std::uint32_t>(rook[colour]);
    CastlingRookSquare[r] = Homes[r].Rook;
  }
}

// The castling letters until a blank: K, Q, k, q find the first rook walking
// from the corner towards the king; A..H and a..h name the rook's file.
GameBoard::FieldEnd GameBoard::ParseCastling(const char*& p, FenMessageSink* messages) {
  struct Search {
    char Letter;
    int Right, Start, Step, End;
    std::uint32_t Rook, King;
    const char* NoRook;
  };
  static constexpr Search Searches[4] = {
      {'K', WhiteHSide, 63, -1, 58, GamePiece::Rook, GamePiece::King,
       "WARNING: H-side castling for white specified, but no rook found\n"},
      {'Q', WhiteASide, 56, 1, 61, GamePiece::Rook, GamePiece::King,
       "WARNING: A-side castling for white specified, but no rook found\n"},
      {'k', BlackHSide, 7, -1, 2, GamePiece::Rook + GamePiece::Black, GamePiece::King + GamePiece::Black,
       "WARNING: H-side castling for black specified, but no rook found\n"},
      {'q', BlackASide, 0, 1, 5, GamePiece::Rook + GamePiece::Black, GamePiece::King + GamePiece::Black,
       "WARNING: A-side castling for black specified, but no rook found\n"},
  };
  for (; *p != ' '; p++) {
    const char c = *p;
    if (c == '\0') return FieldEnd::TextEnded;
    const Search* search = nullptr;
    for (const Search& s : Searches)
      if (c == s.Letter) search = &s;
    if (search) {
      for (int square = search->Start;; square += search->Step) {
        if (Squares[square] == search->Rook) {
          CastlingFlags[search->Right] = 1;
          CastlingRookSquare[search->Right] = square;
          break;
        }
        if (Squares[square] == search->King) {
          Tell(messages, false, search->NoRook);
          break;
        }
        if (square == search->End) break;
      }
      continue;
    }
    const bool white = c >= 'A' && c <= 'H', black = c >= 'a' && c <= 'h';
    if (white || black) {
      const int square = white ? 56 + (c - 'A') : c - 'a';
      const std::uint32_t rook = white ? GamePiece::Rook : GamePiece::Rook + GamePiece::Black;
      if (Squares[square] != rook) {
        char text[96];
        std::snprintf(text, sizeof text, "WARNING: Castling for %s specified, but no rook at the %c-file.\n",
                      white ? "white" : "black", static_cast<char>('A' + square % 8));
        Tell(messages, false, text);
        // The rest of the field is abandoned; en passant follows the blank.
        while (*p != ' ' && *p != '\0') p++;
        return *p == '\0' ? FieldEnd::TextEnded : FieldEnd::Blank;
      }
      const int colour = white ? White : Black;
      const bool aSide = square < KingSquare[colour];
      const int right = colour == White ? (aSide ? WhiteASide : WhiteHSide) : (aSide ? BlackASide : BlackHSide);
      CastlingFlags[right] = 1;
      CastlingRookSquare[right] = square;
      continue;
    }
    // Any other letter names no castling rook: the text is no FEN. Signs
    // such as '-' are passed over.
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      Tell(messages, false, "BAD FEN: Unexpected castling letter\n");
      return FieldEnd::Refused;
    }
  }
  return FieldEnd::Blank;
}

// Kept only where the side to move can take: on rank 6 with White to move,
// rank 3 with Black to move, an empty target, the enemy pawn that passed it
// behind, and a pawn of the mover beside that one. Anything else would make
// the generator or MakeMove take a piece that is not there.
void GameBoard::ParseEnPassant(const char*& p, FenMessageSink* messages) {
  EpSquare = -1;
  if (*p == '\0') return;
  if (*p == '-') {
    p++;
    return;
  }
  const char file = p[0], rank = p[1];
  p += rank ? 2 : 1;
  const int wantedRank = Side == White ? '6' : '3';
  bool valid = file >= 'a' && file <= 'h' && rank == wantedRank;
  if (valid) {
    const int square = (file - 'a') + 8 * ('8' - rank);
    const int f = square % 8;
    const std::uint32_t ownPawn = Side == White ? GamePiece::Pawn : GamePiece::Pawn + GamePiece::Black;
    const std::uint32_t enemyPawn = Side == White ? GamePiece::Pawn + GamePiece::Black : GamePiece::Pawn;
    const int passed = Side == White ? square + 8 : square - 8;
    const int left = Side == White ? square + 7 : square - 9;
    const int right = Side == White ? square + 9 : square - 7;
    const bool canTake = (f > 0 && Squares[left] == ownPawn) || (f < 7 && Squares[right] == ownPawn);
    valid = Squares[square] == 0 && Squares[passed] == enemyPawn && canTake;
    if (valid) EpSquare = square;
  }
  if (!valid) Tell(messages, false, "En-Passant rights are not valid\n");
}

bool GameBoard::SetFen(const char* fen, FenMessageSink* messages) {
  Reset();
  const char* p = fen ? fen : "";
  while (*p && !IsLetterOrDigit(*p)) p++;
  if (!*p) {
    Tell(messages, false, "BAD FEN: short string.\n");
    return true;
  }
  if (ParsePlacement(p, messages)) return true;
  // Both kings before anything else: the attack tests and castling read
  // the king squares.
  if (KingSquare[White] < 0) {
    Tell(messages, true, "ERROR: No white king in FEN string\n");
    return true;
  }
  if (KingSquare[Black] < 0) {
    Tell(messages, true, "ERROR: No black king in FEN string\n");
    return true;
  }

  if (*p == '\0') {
    Tell(messages, false, "WARNING: premature end of FEN string: No side to move specified\n");
    SetHomeCastlingRights();
    return false;
  }
  Side = (*p == 'b' || *p == 'B') ? Black : White;
  p++;
  // The castling field: a text that ends after the side letter, with or
  // without its blank, has none.
  if (*p != '\0') p++;
  if (*p == '\0') {
    Tell(messages, false, "WARNING: Premature end of FEN string: No castling flags\n");
    SetHomeCastlingRights();
    return false;
  }
  switch (ParseCastling(p, messages)) {
    case FieldEnd::Refused: return true;
    case FieldEnd::TextEnded:
      Tell(messages, false, "WARNING: Premature end of FEN string: No castling flags\n");
      return false;
    case FieldEnd::Blank: break;
  }
  p++;

  ParseEnPassant(p, messages);
  // The half-move counter; the move number is ignored. Large values stop
  // growing: a counter of 100 already ends a game.
  while (*p && !(*p >= '0' && *p <= '9')) p++;
  for (; *p >= '0' && *p <= '9'; p++)
    if (HalfMoves < 100000) HalfMoves = HalfMoves * 10 + (*p - '0');

  (void)GenerateMoves();
  return false;
}

const char* GameBoard::GetFen() const {
  thread_local char text[96];
  char* out = text;
  for (int row = 0; row < 8; row++) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      const std::uint32_t code = Squares[row * 8 + file];
      if (!code) {
        empty++;
        continue;
      }
      if (empty) *out++ = static_cast<char>('0' + empty);
      empty = 0;
      *out++ = GamePiece::Letters[code & 15];
    }
    if (empty) *out++ = static_cast<char>('0' + empty);
    if (row < 7) *out++ = '/';
  }
  *out++ = ' ';
  *out++ = Side == White ? 'w' : 'b';
  *out++ = ' ';
  // Written H-side first; rook files as soon as one castling rook is off its corner.
  static constexpr int Order[4] = {WhiteHSide, WhiteASide, BlackHSide, BlackASide};
  static constexpr char Classic[4] = {'K', 'Q', 'k', 'q'};
  bool byFile = false, any = false;
  for (int r = 0; r < 4; r++)
    if (CastlingFlags[r]) {
      any = true;
      byFile |= CastlingRookSquare[r] != Homes[r].Rook;
    }
  if (!any) *out++ = '-';
  for (int i = 0; i < 4; i++) {
    const int r = Order[i];
    if (!CastlingFlags[r]) continue;
    if (byFile)
      *out++ = static_cast<char>((r < 2 ? 'A' : 'a') + CastlingRookSquare[r] % 8);
    else
      *out++ = Classic[i];
  }
  *out++ = ' ';
  if (EpSquare < 1) {
    *out++ = '-';
  } else {
    *out++ = FileLetter(EpSquare);
    *out++ = RankDigit(EpSquare);
  }
  *out = '\0';
  return text;
}

void GameBoard::Print(std::FILE* out) const {
  for (int row = 0; row < 8; row++) {
    std::fprintf(out, "\n%d ", 8 - row);
    for (int file = 0; file < 8; file++) std::fprintf(out, " %c", GamePiece::Letters[Squares[row * 8 + file] & 15]);
  }
  std::fprintf(out, "\n\n   a b c d e f g h\n\n");
  std::fprintf(out, "%s\n", Side == White ? "White to move" : "Black to move");
  std::fprintf(out, "Nr Pieces = %d\n", PieceCount);
  static constexpr const char* Lines[4] = {
      "White A-side Castling is possible with the Rook on ", "White H-side Castling is possible with the Rook on ",
      "Black A-side Castling is possible with the Rook on ", "Black H-side Castling is possible with the Rook on "};
  for (int r = 0; r < 4; r++)
    if (CastlingFlags[r])
      std::fprintf(out, "%s%c%c\n", Lines[r], FileLetter(CastlingRookSquare[r]), RankDigit(CastlingRookSquare[r]));
  if (EpSquare > 0) std::fprintf(out, "En-Passant capture possible to %c%c\n", FileLetter(EpSquare), RankDigit(EpSquare));
  if (MoveListBuilt) PrintMoves(out);
  std::fputc('\n', out);
}

void GameBoard::PrintMoves(std::FILE* out) const {
  if (!MoveListBuilt) return;
  std::fprintf(out, "\nPossible moves:");
  for (int i = 0; i < Moves.Count(); i++) {
    std::fputc(i % 15 == 0 ? '\n' : ' ', out);
    Moves[i].Print(out);
  }
  std::fputc('\n', out);
}

std::uint64_t GameBoard::HashKey() const {
  std::uint64_t key = 0;
  for (int square = 0; square < 64; square++)
    if (Squares[square]) key ^= GameBoardKeys().PieceSquare[Squares[square] & 15][square];
  if (Side == Black) key ^= GameBoardKeys().Side;
  key ^= GameBoardKeys().EnPassant[EpSquare > 0 ? EpSquare : 0];
  key ^= GameBoardKeys().Castling[CastlingIndex()];
  return key;
}

GameBoard& GameBoard::CopyFrom(const GameBoard& other) {
  if (&other == this) return *this;
  std::memcpy(Squares, other.Squares, sizeof Squares);
  RunningKey = other.RunningKey;
  KingSquare[White] = other.KingSquare[White];
  KingSquare[Black] = other.KingSquare[Black];
  Side = other.Side;
  EpSquare = other.EpSquare;
  HalfMoves = other.HalfMoves;
  std::memcpy(CastlingFlags, other.CastlingFlags, sizeof CastlingFlags);
  std::memcpy(CastlingRookSquare, other.CastlingRookSquare, sizeof CastlingRookSquare);
  PieceCount = other.PieceCount;
  RookSquareOption = other.RookSquareOption;
  DropMoveList();
  SavedOwner.Held = false;
  PositionSerial = ++SerialCounter;
  if (other.MoveListBuilt) (void)GenerateMoves();
  return *this;
}

namespace {

// Bishop pairs by n mod 16, as files (bit 128 = a-file ... bit 1 = h-file).
constexpr int BishopMasks[16] = {0xC0, 0x90, 0x84, 0x81, 0x60, 0x30, 0x24, 0x21,
                                 0x48, 0x18, 0x0C, 0x09, 0x42, 0x12, 0x06, 0x03};
// The knights' places (1-based) among the five files left after the queen,
// by (n / 16) / 6.
constexpr int KnightPlaces[10][2] = {{1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 3}, {2, 4}, {2, 5}, {3, 4}, {3, 5}, {4, 5}};

void BuildChess960Fen(int n, char* row) {
  char rank[9] = "........";
  const int mask = BishopMasks[n % 16];
  for (int file = 0; file < 8; file++)
    if (mask & (128 >> file)) rank[file] = 'B';
  const int j = (n / 16) % 60;  // string 60 repeats string 0
  // The k-th free file (1-based) from a to h.
  auto freeFile = [&rank](int k) {
    for (int file = 0; file < 8; file++)
      if (rank[file] == '.' && --k == 0) return file;
    return -1;
  };
  rank[freeFile(j % 6 + 1)] = 'Q';
  const int* knights = KnightPlaces[j / 6];
  const int second = freeFile(knights[1]);  // the later one first, so the earlier keeps its place
  rank[second] = 'N';
  rank[freeFile(knights[0])] = 'N';
  for (char piece : {'R', 'K', 'R'}) rank[freeFile(1)] = piece;
  char lower[9];
  for (int file = 0; file < 8; file++) lower[file] = static_cast<char>(rank[file] - 'A' + 'a');
  lower[8] = '\0';
  std::snprintf(row, Chess960FenLength, "%s/pppppppp/8/8/8/8/PPPPPPPP/%s w KQkq -", lower, rank);
}

}  // namespace

GameBoardTables BuildGameBoardTables() {
  GameBoardTables tables;
  for (int n = 0; n < Chess960FenCount; n++) BuildChess960Fen(n, tables.Fens[n]);
  // A generator of the board's own, seeded as the engine's is: one draw is
  // the low half of a key, the next the high half. 2210 draws in this order.
  MersenneTwister generator;
  generator.SeedByArray(EngineSeedKey, 4);
  GameBoardKeyTable& keys = tables.Keys;
  for (auto& row : keys.PieceSquare)
    for (std::uint64_t& key : row) key = generator.Next64();
  keys.Side = generator.Next64();
  for (std::uint64_t& key : keys.EnPassant) key = generator.Next64();
  for (std::uint64_t& key : keys.Castling) key = generator.Next64();
  return tables;
}

void InitGameBoardTables() { (void)GameBoardTablesOnce(); }
