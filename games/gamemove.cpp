// Move text of the game side (coordinates in, coordinates and SAN out), the
// pool of game-record moves and the board's move list.
#include "games/gamemove.h"

#include <cstring>
#include <new>

std::mutex PooledGameMoveLock;

namespace {

// A square from a file letter and a rank digit, -1 when they name none.
int SquareOfText(const char* text) {
  const char file = text[0], rank = text[1];
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return -1;
  return (file - 'a') + 8 * ('8' - rank);
}

char FileLetter(int square) { return static_cast<char>('a' + square % 8); }
char RankDigit(int square) { return static_cast<char>('8' - square / 8); }

int PromotionOfLetter(char letter) {
  switch (letter) {
    case 'n': case 'N': return GamePiece::Knight;
    case 'b': case 'B': return GamePiece::Bishop;
    case 'r': case 'R': return GamePiece::Rook;
    case 'q': case 'Q': return GamePiece::Queen;
    default: return -1;
  }
}

char LowerPromotionLetter(std::uint32_t code) { return GamePiece::Letters[(code & 7) + GamePiece::Black]; }

}  // namespace

GameMove& GameMove::FromText(const char* text) {
  Valid = 0;
  From = To = -1;
  if (!text || std::strlen(text) < 4) return *this;
  From = SquareOfText(text);
  To = SquareOfText(text + 2);
  if (From < 0 || To < 0) return *this;
  int promotion = 0;
  if (text[4] != '\0' && text[4] != ' ') {
    promotion = PromotionOfLetter(text[4]);
    if (promotion < 0) return *this;
  }
  Promotion = static_cast<std::uint32_t>(promotion);
  Valid = 1;
  return *this;
}

GameMove& GameMove::FromTextLine(const char* line) {
  char text[16] = {};
  if (line) {
    const std::size_t length = std::strcspn(line, "\r\n");
    // A longer text is no coordinate move; cutting it could make it one.
    if (length >= sizeof text) return FromText("");
    std::memcpy(text, line, length);
  }
  return FromText(text);
}

void GameMove::Print(std::FILE* out) const {
  if (From == To && (From == CornerA8 || From == CornerA1)) {
    std::fputs("O-O-O", out);
    return;
  }
  if (From == To && (From == CornerH8 || From == CornerH1)) {
    std::fputs("O-O", out);
    return;
  }
  if (From < 0 || From > 63 || To < 0 || To > 63) {
    std::fputs("----", out);
    return;
  }
  std::fprintf(out, "%c%c%c%c", FileLetter(From), RankDigit(From), FileLetter(To), RankDigit(To));
  if (Promotion) std::fputc(LowerPromotionLetter(Promotion), out);
}

const char* GameMove::ToSan() const {
  thread_local char text[16];
  if (From == To) {
    std::strcpy(text, From % 8 == 7 ? "O-O" : "O-O-O");
    return text;
  }
  char* out = text;
  // The letter comes from the code without its colour, so Black's pieces
  // read as White's do.
  const int kind = MovingPiece & 7;
  if (kind == GamePiece::Pawn) {
    if (CapturedPiece) *out++ = FileLetter(From);
  } else {
    switch (kind) {
      case GamePiece::Knight: *out++ = 'N'; break;
      case GamePiece::King: *out++ = 'K'; break;
      case GamePiece::Bishop: *out++ = 'B'; break;
      case GamePiece::Rook: *out++ = 'R'; break;
      case GamePiece::Queen: *out++ = 'Q'; break;
      default: *out++ = '?'; break;
    }
    if (Disambiguation & 1) *out++ = FileLetter(From);
    if (Disambiguation & 2) *out++ = RankDigit(From);
  }
  if (CapturedPiece) *out++ = 'x';
  if (To >= 0 && To < 64) {
    *out++ = FileLetter(To);
    *out++ = RankDigit(To);
  }
  if (Promotion) {
    *out++ = '=';
    *out++ = GamePiece::Letters[Promotion & 7];
  }
  *out = '\0';
  return text;
}

namespace {

// A heap block of the pool; blocks stay linked from PoolBlocks for the
// whole run, so a leak checker sees every pooled object as reachable.
struct PoolBlock {
  PoolBlock* Next = nullptr;
  PooledGameMove Objects[PooledGameMove::BlockObjects];
};

PoolBlock* PoolBlocks = nullptr;
PooledGameMove* FreeMoves = nullptr;

}  // namespace

PooledGameMove* PooledGameMove::Alloc() {
  std::lock_guard<std::mutex> guard(PooledGameMoveLock);
  if (!FreeMoves) {
    PoolBlock* block = new (std::nothrow) PoolBlock;
    if (!block) return nullptr;
    block->Next = PoolBlocks;
    PoolBlocks = block;
    // Linked in order, so the block's objects are handed out first to last.
    for (int i = 0; i < BlockObjects - 1; i++) block->Objects[i].NextFree = &block->Objects[i + 1];
    FreeMoves = &block->Objects[0];
  }
  PooledGameMove* move = FreeMoves;
  FreeMoves = move->NextFree;
  *move = PooledGameMove();
  return move;
}

PooledGameMove* PooledGameMove::Alloc(const GameMove& move) {
  PooledGameMove* pooled = Alloc();
  if (pooled) static_cast<GameMove&>(*pooled) = move;
  return pooled;
}

void PooledGameMove::Delete() {
  std::lock_guard<std::mutex> guard(PooledGameMoveLock);
  NextFree = FreeMoves;
  FreeMoves = this;
}

bool GameMoveList::Append(const GameMove& move) {
  if (move.From < 0 || move.From > 63 || move.To < 0 || move.To > 63) return true;
  try {
    Append(move.From, move.To, static_cast<int>(move.Promotion & 15));
    Items.back().Valid = move.Valid;
  } catch (const std::bad_alloc&) {
    return true;
  }
  return false;
}
