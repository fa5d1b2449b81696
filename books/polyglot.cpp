// Polyglot opening books: keys, entry reading, the position's moves and the
// weighted choice.
#include "books/polyglot.h"

#include <algorithm>
#include <cinttypes>

#include "books/polyglotrandom.h"
#include "support/output.h"

namespace {

// Random64 piece rows re-indexed by the game board's piece code and square:
// the format's kind of code c (black pawn 0, white pawn 1, ... white king 11;
// -1 for empty and the unused codes), and its square a1 = 0, so square s of
// the board is s ^ 56.
constexpr int KindOfCode[16] = {-1, 1, 3, 11, -1, 5, 7, 9, -1, 0, 2, 10, -1, 4, 6, 8};

struct PieceSquareTable {
  std::uint64_t Values[16][64] = {};
  PieceSquareTable() {
    for (int code = 0; code < 16; code++) {
      if (KindOfCode[code] < 0) continue;
      for (int square = 0; square < 64; square++)
        Values[code][square] = PolyglotRandom64[64 * KindOfCode[code] + (square ^ 56)];
    }
  }
};
const PieceSquareTable& PieceSquareKeys() {
  static const PieceSquareTable table;
  return table;
}

// The format's castling values in its own order, by the board's rights.
constexpr int CastlingValueOf[4] = {
    PolyglotCastlingIndex + 1,  // WhiteASide: White queen side
    PolyglotCastlingIndex + 0,  // WhiteHSide: White king side
    PolyglotCastlingIndex + 3,  // BlackASide: Black queen side
    PolyglotCastlingIndex + 2,  // BlackHSide: Black king side
};

// Promotion values 1-4 of the format as piece codes; 5-7 name nothing.
constexpr int PromotionCode[8] = {0, GamePiece::Knight, GamePiece::Bishop, GamePiece::Rook, GamePiece::Queen, -1, -1, -1};

// Polyglot writes castling as the king taking its own rook (e1h1). Whether
// such an entry is castling is told by the board, not by the other entries:
// the king on its square, the rook in the corner and the right still set.
struct CastlingForm {
  int KingFrom, RookCorner, King, Rook, Side;
};
constexpr CastlingForm CastlingForms[4] = {
    {60, CornerH1, GamePiece::King, GamePiece::Rook, WhiteHSide},
    {60, CornerA1, GamePiece::King, GamePiece::Rook, WhiteASide},
    {4, CornerH8, GamePiece::King + GamePiece::Black, GamePiece::Rook + GamePiece::Black, BlackHSide},
    {4, CornerA8, GamePiece::King + GamePiece::Black, GamePiece::Rook + GamePiece::Black, BlackASide},
};

void ToCastlingFormWhereTheBoardAllowsIt(const GameBoard& board, GameMove& move) {
  for (const CastlingForm& form : CastlingForms) {
    if (move.From != form.KingFrom || move.To != form.RookCorner || move.Promotion != 0) continue;
    if (static_cast<int>(board.Squares[form.KingFrom]) != form.King) return;
    if (static_cast<int>(board.Squares[form.RookCorner]) != form.Rook) return;
    if (!board.CastlingFlags[form.Side] || board.CastlingRookSquare[form.Side] != form.RookCorner) return;
    move.From = move.To = form.RookCorner;
    return;
  }
}

}  // namespace

bool BookPolyglotEntry::Set(const GameBoard& board, const GameMove& move) {
  Key = BookPolyglot::ComputeKey(board);
  Manual = 0;
  SetMove(move);
  Valid = 1;
  return false;
}

int BookPolyglotEntry::SetMove(const GameMove& move) {
  Move.From = move.From;
  Move.To = move.To;
  Move.Promotion = move.Promotion;
  Move.Valid = move.Valid;
  return 0;
}

BookPolyglot::BookPolyglot() { choiceGenerator.SeedByArray(EngineSeedKey, 4); }

bool BookPolyglot::Create(const char*) {
  Printer.Print(ChannelStdout, false, "BookPolyglot::Create is not yet supported\n");
  return true;
}

bool BookPolyglot::Open(const char* fileName, bool) {
  name = fileName ? fileName : "";
  if (name.empty() || file.Open(name.c_str())) return true;
  const std::uint64_t size = file.Size();
  if (size < EntrySize || size % EntrySize != 0) {
    file.Close();
    return true;
  }
  entryCount = size / EntrySize;
  entriesRead = 0;
  open = 1;
  return false;
}

std::uint64_t BookPolyglot::ComputeKey(const GameBoard& board) {
  const PieceSquareTable& pieces = PieceSquareKeys();
  std::uint64_t result = 0;
  for (int square = 0; square < 64; square++) result ^= pieces.Values[board.Squares[square] & 15][square];
  for (int side = 0; side < 4; side++)
    if (board.CastlingFlags[side]) result ^= PolyglotRandom64[CastlingValueOf[side]];
  // The board keeps an en-passant square only when a pawn of the side to
  // move can take there, which is when the format keys it too.
  if (board.EpSquare > 0) result ^= PolyglotRandom64[PolyglotEnPassantIndex + board.EpSquare % 8];
  if (board.Side == GameBoard::White) result ^= PolyglotRandom64[PolyglotTurnIndex];
  return result;
}

bool BookPolyglot::DecodeEntry(const unsigned char (&bytes)[EntrySize], BookPolyglotEntry& entry) {
  auto bigEndian = [&](int offset, int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; i++) value = (value << 8) | bytes[offset + i];
    return value;
  };
  entry.Key = bigEndian(0, 8);
  const auto move = static_cast<std::uint32_t>(bigEndian(8, 2));
  entry.Manual = static_cast<std::int32_t>(bigEndian(10, 2));
  entry.Move = GameMove();
  if (entry.Key == 0) {  // an empty entry: a8a8, skipped by the reader
    entry.Valid = 0;
    return false;
  }
  const int promotion = PromotionCode[(move >> 12) & 7];
  if (promotion < 0) return true;
  entry.Move.To = static_cast<std::int32_t>((move & 63) ^ 56);
  entry.Move.From = static_cast<std::int32_t>(((move >> 6) & 63) ^ 56);
  entry.Move.Promotion = static_cast<std::uint32_t>(promotion);
  entry.Move.Valid = 1;
  entry.Valid = 1;
  return false;
}

bool BookPolyglot::ReadEntryAt(std::uint64_t index, BookPolyglotEntry& entry) {
  unsigned char bytes[EntrySize];
  entriesRead++;
  return file.ReadAt(index * EntrySize, bytes, EntrySize) || DecodeEntry(bytes, entry);
}

BookPosition* BookPolyglot::GetBookPosition(const GameBoard& board) {
  if (!open) return nullptr;
  BookPosition* position = BookPosition::Allocate();
  if (!position) return nullptr;
  key = ComputeKey(board);
  // The first entry whose key is not below ours.
  BookPolyglotEntry probe;
  std::int64_t lo = -1, hi = static_cast<std::int64_t>(entryCount) - 1;
  if (ReadEntryAt(static_cast<std::uint64_t>(hi), probe)) {
    position->Release();
    return nullptr;
  }
  while (hi - lo > 1) {
    const std::int64_t mid = (lo + hi) / 2;
    if (ReadEntryAt(static_cast<std::uint64_t>(mid), probe)) {
      position->Release();
      return nullptr;
    }
    if (key > probe.Key)
      lo = mid;
    else
      hi = mid;
  }
  // Every entry of the key, in file order; an unreadable one ends the scan
  // and what was gathered stays. In a sorted file the search ends on the
  // position's first entry, or on the last entry when every key is below
  // ours, so at most one lower key is met: a second shows the file out of
  // order, and the probe ends with no move rather than walk the whole file.
  // A key repeated past any position's move count is no book either: the
  // scan stops at the bound and keeps what it has.
  int lowerKeys = 0, entriesOfKey = 0;
  for (std::uint64_t index = static_cast<std::uint64_t>(hi);
       index < entryCount && entriesOfKey < MaxEntriesOfOnePosition; index++) {
    BookPolyglotEntry entry;
    if (ReadEntryAt(index, entry)) break;
    if (entry.Key < key) {
      if (++lowerKeys == 1) continue;
      position->Release();
      return BookPosition::Allocate();
    }
    if (entry.Key > key) break;
    entriesOfKey++;
    // A move to its own square is no move (an empty entry, or a null move
    // that would otherwise read as castling in the a1 corner).
    if (!entry.Valid || entry.Move.From == entry.Move.To) continue;
    ToCastlingFormWhereTheBoardAllowsIt(board, entry.Move);
    position->Add(new BookPolyglotEntry(entry));
  }
  return position;
}

GameMove BookPolyglot::SelectMove(const GameBoard& board) {
  GameMove answer;
  if (!open) return answer;
  BookPosition* position = GetBookPosition(board);
  if (!position) return answer;
  // 2. Weights are what the format chooses by; without one there is no move.
  std::int64_t largest = 0;
  for (int i = 0; i < position->Count; i++) largest = std::max<std::int64_t>(largest, position->Entries[i]->GetManual());
  if (largest == 0) {
    position->Release();
    return answer;
  }
  // 3. Each score becomes the entry's weight.
  position->ScoreEntries(100, 100, 0, 0, 0, 50, 0, 0, 0);
  position->Order(true);
  // 4-6. Entries within the randomness of the best, in percent of the
  // largest weight.
  auto percent = [&](int i) { return std::int64_t{position->Scores[i]} * 100 / largest; };
  std::int64_t best = -1;
  for (int i = 0; i < position->Count; i++) {
    const std::int64_t v = position->Entries[i]->GetManual() < 1 ? -100 : percent(i) + 1000;
    best = std::max(best, v);
  }
  const std::int64_t threshold = best - randomness;
  std::int64_t weights[BookPosition::MaxEntries];
  for (int i = 0; i < position->Count; i++) {
    weights[i] = percent(i) - threshold + 1;
    if (position->Entries[i]->GetManual() > 0) weights[i] += 1000;
  }
  // 7-8. One weighted draw among the entries.
  PickWeightedEntry(*position, weights, choiceGenerator, answer);
  position->Release();
  return answer;
}

void BookPolyglot::Display() {
  if (open)
    Printer.Print(ChannelStdout, false, "The Polyglot book '%s'; is opened\n", name.c_str());
  else
    Printer.Print(ChannelStdout, false, "No open book\n");
}

void BookPolyglot::ShowBookMoves(const GameBoard& board) {
  board.Print(stdout);
  Printer.Print(ChannelStdout, false, "Hashkey = 0x%016" PRIx64 "\n", ComputeKey(board));
  Printer.Print(ChannelStdout, false, "Book moves:\n");
  if (!open) {
    Printer.Print(ChannelStdout, false, "--- No open book ---\n");
    return;
  }
  ShowManualListing(board);
}

void BookPolyglot::Show() { Printer.Print(ChannelStdout, false, "BookPolyglot::Show is not yet supported\n"); }
