// CTG opening books: the reader of the three files, and the CTG book of the
// book list built on a reader of its own. Every look-up opens the files it
// needs and closes them again, so nothing stays open between moves.
#include "books/ctg.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "support/output.h"
#include "support/platform.h"

CTGReader GlobalCTGReader;

namespace {

constexpr int WhitePawn = 1, WhiteKnight = 2, WhiteKing = 3, WhiteBishop = 5, WhiteRook = 6, WhiteQueen = 7;
constexpr int BlackOffset = 8;
constexpr int BlackPawn = WhitePawn + BlackOffset;
constexpr int BlackRook = WhiteRook + BlackOffset;

// Squares of the engine's numbering (0 = a8, 63 = h1).
constexpr int A8 = 0, H8 = 7, A1 = 56, C1 = 58, D1 = 59, E1 = 60, F1 = 61, G1 = 62, H1 = 63;
constexpr int NoMoveFrom = 0, NoMoveTo = 15;  // a8h7 stands for "no move"

int FileOf(int square) { return square % 8; }
int RankOf(int square) { return 7 - square / 8; }  // 0 = rank 1
int SquareAt(int file, int rank) { return file + 8 * (7 - rank); }
bool IsWhite(int piece) { return piece >= 1 && piece <= 7; }
int OtherColour(int piece) { return piece == 0 ? 0 : IsWhite(piece) ? piece + BlackOffset : piece - BlackOffset; }

// Castling bits of the format: the low pair belongs to White (the side to
// move once the board is oriented).
constexpr int WhiteQueenSide = 1, WhiteKingSide = 2, BlackQueenSide = 4, BlackKingSide = 8;
int SwapCastlingSides(int castling) { return (castling >> 2) + ((castling & 3) << 2); }

// Bit strings of the position code by piece code: value (written from its
// highest bit) and length. Empty squares and the unused codes write "0".
struct PieceBits {
  std::uint8_t Value;
  std::uint8_t Length;
};
constexpr PieceBits CodeBits[16] = {
    {0b0, 1},      {0b110, 3},    {0b10010, 5},  {0b100000, 6}, {0b0, 1},      {0b10100, 5},
    {0b10110, 5},  {0b100010, 6}, {0b0, 1},      {0b111, 3},    {0b10011, 5},  {0b100001, 6},
    {0b0, 1},      {0b10101, 5},  {0b10111, 5},  {0b100011, 6},
};

// The position hash's table, as the format defines it.
constexpr std::uint32_t HashTable[64] = {
    0x3100d2bf, 0x3118e3de, 0x34ab1372, 0x2807a847, 0x1633f566, 0x2143b359, 0x26d56488, 0x3b9e6f59,
    0x37755656, 0x3089ca7b, 0x18e92d85, 0x0cd0e9d8, 0x1a9e3b54, 0x3eaa902f, 0x0d9bfaae, 0x2f32b45b,
    0x31ed6102, 0x3d3c8398, 0x146660e3, 0x0f8d4b76, 0x02c77a5f, 0x146c8799, 0x1c47f51f, 0x249f8f36,
    0x24772043, 0x1fbc1e4d, 0x1e86b3fa, 0x37df36a6, 0x16ed30e4, 0x02c3148e, 0x216e5929, 0x0636b34e,
    0x317f9f56, 0x15f09d70, 0x131026fb, 0x38c784b1, 0x29ac3305, 0x2b485dc5, 0x3c049ddc, 0x35a9fbcd,
    0x31d5373b, 0x2b246799, 0x0a2923d3, 0x08a96e9d, 0x30031a9f, 0x08f525b5, 0x33611c06, 0x2409db98,
    0x0ca4feb2, 0x1000b71e, 0x30566e32, 0x39447d31, 0x194e3752, 0x08233a95, 0x0f38fe36, 0x29c7cd57,
    0x0f7b3a39, 0x328e8a16, 0x1e7d1388, 0x0fba78f5, 0x274c7e7c, 0x1e8be65c, 0x2fa0b0bb, 0x1eb6c371,
};

// Move bytes: the n-th piece of a kind (counted from 1, files a to h, each
// from rank 1 up, on the oriented board) moves right and up, wrapping round
// the board. Bytes that are not listed name no move.
struct MoveRow {
  std::uint8_t Byte;
  std::int8_t Piece;
  std::int8_t Nth;
  std::int8_t Right;
  std::int8_t Up;
};
constexpr int P = WhitePawn, N = WhiteKnight, B = WhiteBishop, R = WhiteRook, Q = WhiteQueen, K = WhiteKing;
constexpr MoveRow MoveRows[] = {
    // Pawn
    {0x00, P, 5, 1, 1}, {0x04, P, 2, 0, 1}, {0x06, P, 4, -1, 1}, {0x0C, P, 1, -1, 1}, {0x14, P, 8, 1, 1},
    {0x18, P, 7, 0, 1}, {0x24, P, 8, -1, 1}, {0x27, P, 3, -1, 1}, {0x2D, P, 6, 1, 1}, {0x4A, P, 8, 0, 2},
    {0x55, P, 3, 0, 1}, {0x5C, P, 7, 1, 1}, {0x5F, P, 5, 0, 2}, {0x62, P, 2, 0, 2}, {0x7C, P, 3, 1, 1},
    {0x82, P, 6, -1, 1}, {0x8B, P, 1, 1, 1}, {0x96, P, 2, 1, 1}, {0x9B, P, 3, 0, 2}, {0xA3, P, 8, 0, 1},
    {0xB1, P, 6, 0, 2}, {0xBB, P, 5, 0, 1}, {0xC7, P, 7, -1, 1}, {0xC8, P, 7, 0, 2}, {0xCB, P, 6, 0, 1},
    {0xCF, P, 4, 0, 1}, {0xD1, P, 2, -1, 1}, {0xDB, P, 1, 0, 2}, {0xDE, P, 5, -1, 1}, {0xE6, P, 4, 0, 2},
    {0xEB, P, 4, 1, 1}, {0xEC, P, 1, 0, 1},
    // Knight
    {0x01, N, 2, -2, -1}, {0x0F, N, 1, -2, -1}, {0x2A, N, 2, 1, -2}, {0x30, N, 2, -1, -2}, {0x34, N, 1, 1, 2},
    {0x36, N, 1, 2, 1}, {0x4C, N, 2, 1, 2}, {0x85, N, 1, -1, 2}, {0x8A, N, 1, 1, -2}, {0xD2, N, 2, 2, 1},
    {0xD3, N, 2, -2, 1}, {0xDA, N, 1, -1, -2}, {0xE0, N, 2, 2, -1}, {0xE9, N, 1, 2, -1}, {0xF3, N, 2, -1, 2},
    {0xF7, N, 1, -2, 1},
    // Bishop
    {0x09, B, 2, 6, 6}, {0x0D, B, 1, 3, 3}, {0x12, B, 1, 7, 7}, {0x15, B, 1, 5, 5}, {0x1B, B, 1, -1, 1},
    {0x1D, B, 2, 7, 7}, {0x22, B, 2, -2, 2}, {0x26, B, 1, -7, 7}, {0x2E, B, 1, 1, 1}, {0x32, B, 2, 5, 5},
    {0x3A, B, 1, 6, 6}, {0x3C, B, 1, -5, 5}, {0x54, B, 2, -1, 1}, {0x66, B, 1, -3, 3}, {0x6A, B, 1, 4, 4},
    {0x72, B, 2, -7, 7}, {0x79, B, 2, -6, 6}, {0x9F, B, 2, -4, 4}, {0xB2, B, 1, -6, 6}, {0xB9, B, 2, 3, 3},
    {0xC1, B, 1, 2, 2}, {0xC2, B, 2, 2, 2}, {0xC3, B, 1, -2, 2}, {0xCA, B, 2, -3, 3}, {0xCC, B, 2, -5, 5},
    {0xF5, B, 2, 1, 1},
    // Rook
    {0x0E, R, 2, 3, 0}, {0x21, R, 2, 7, 0}, {0x50, R, 1, 0, 6}, {0x52, R, 1, 6, 0}, {0x69, R, 2, 0, 7},
    {0x6E, R, 1, 5, 0}, {0x7A, R, 1, 0, 3}, {0x7B, R, 2, 0, 6}, {0x7D, R, 2, 0, 1}, {0x7F, R, 1, 1, 0},
    {0x81, R, 1, 0, 1}, {0x86, R, 1, 7, 0}, {0x87, R, 1, 0, 5}, {0x98, R, 1, 3, 0}, {0x99, R, 1, 0, 4},
    {0xA5, R, 2, 0, 5}, {0xA9, R, 2, 2, 0}, {0xAD, R, 2, 4, 0}, {0xB5, R, 2, 5, 0}, {0xC4, R, 2, 1, 0},
    {0xC5, R, 2, 0, 4}, {0xCD, R, 1, 2, 0}, {0xD8, R, 2, 6, 0}, {0xE1, R, 1, 0, 7}, {0xE3, R, 2, 0, 3},
    {0xE8, R, 1, 0, 2}, {0xEF, R, 1, 4, 0}, {0xF4, R, 2, 0, 2},
    // Queen
    {0x03, Q, 2, 2, 0}, {0x05, Q, 1, 0, 1}, {0x08, Q, 2, 4, 0}, {0x1A, Q, 2, 0, 6}, {0x23, Q, 2, 6, 6},
    {0x28, Q, 1, 5, 5}, {0x29, Q, 1, 6, 0}, {0x2C, Q, 3, 3, -3}, {0x2F, Q, 1, 1, 0}, {0x31, Q, 1, 3, 0},
    {0x37, Q, 1, 0, 4}, {0x38, Q, 2, -4, 4}, {0x39, Q, 1, 5, 0}, {0x3B, Q, 2, -5, 5}, {0x41, Q, 2, 5, 5},
    {0x42, Q, 1, -7, 7}, {0x45, Q, 1, 3, 3}, {0x4B, Q, 1, -5, 5}, {0x4D, Q, 2, 0, 1}, {0x61, Q, 1, 6, 6},
    {0x63, Q, 2, -7, 7}, {0x6F, Q, 2, 7, 7}, {0x74, Q, 1, 2, 0}, {0x7E, Q, 1, -3, 3}, {0x80, Q, 1, -6, 6},
    {0x8E, Q, 2, -2, 2}, {0x8F, Q, 1, 7, 0}, {0x90, Q, 3, -2, 0}, {0x92, Q, 2, 1, 1}, {0x94, Q, 1, 0, 3},
    {0x9A, Q, 1, 0, 6}, {0x9D, Q, 1, 0, 2}, {0xA0, Q, 2, 0, 3}, {0xA2, Q, 1, 2, 2}, {0xAB, Q, 2, -6, 6},
    {0xAE, Q, 2, 3, 3}, {0xB0, Q, 2, 0, 4}, {0xB7, Q, 1, 0, 5}, {0xBC, Q, 2, 5, 0}, {0xBD, Q, 2, 0, 2},
    {0xC6, Q, 2, 0, 5}, {0xC9, Q, 2, 0, 7}, {0xD4, Q, 3, 2, 0}, {0xD7, Q, 1, -1, 1}, {0xD9, Q, 1, -2, 2},
    {0xE5, Q, 1, 4, 0}, {0xE7, Q, 1, 4, 4}, {0xED, Q, 1, 7, 7}, {0xEE, Q, 2, -1, 1}, {0xF0, Q, 2, 7, 0},
    {0xF1, Q, 1, 1, 1}, {0xF8, Q, 2, 1, 0}, {0xF9, Q, 2, 0, 6}, {0xFA, Q, 2, 3, 0}, {0xFB, Q, 2, 2, 2},
    {0xFD, Q, 1, 0, 7}, {0xFE, Q, 2, -3, 3},
    // King
    {0x0A, K, 1, 0, -1}, {0x13, K, 1, 0, 1}, {0x44, K, 1, 1, -1}, {0x67, K, 1, 1, 1}, {0x8C, K, 1, -1, -1},
    {0x97, K, 1, -1, 0}, {0xBE, K, 1, 1, 0}, {0xDF, K, 1, -1, 1},
};
constexpr int KingSideCastlingByte = 0x6B, QueenSideCastlingByte = 0xF6;

constexpr std::array<MoveRow, 256> MakeMoveTable() {
  std::array<MoveRow, 256> rows{};
  for (int i = 0; i < 256; i++) rows[i] = {static_cast<std::uint8_t>(i), 0, 0, 0, 0};
  for (const MoveRow& row : MoveRows) rows[row.Byte] = row;
  return rows;
}
constexpr std::array<MoveRow, 256> MoveTable = MakeMoveTable();
static_assert(std::size(MoveRows) == 167, "32 pawn, 16 knight, 26 bishop, 28 rook, 57 queen and 8 king bytes");

// The three files of a book: "x.ctg" has "x.cto" and "x.ctb" beside it, in
// the same case as the name's own extension.
bool CompanionName(const std::string& name, char letter, std::string& companion) {
  if (name.size() < 4) return false;
  const std::string extension = name.substr(name.size() - 4);
  const bool upper = extension == ".CTG";
  if (!upper) {
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower != ".ctg") return false;
  }
  companion = name;
  companion.back() = upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) : letter;
  return true;
}

// Reads n bytes at offset; false on any shortfall. Only a regular file is
// read: a FIFO named like a book would hold the look-up, and with it
// start-up or the search, for ever.
bool ReadAt(const std::string& fileName, std::uint64_t offset, void* buffer, std::size_t n) {
  RegularFileReader file;
  if (file.Open(fileName.c_str())) return false;
  const std::uint64_t size = file.Size();
  if (offset > size || size - offset < n) return false;
  return !file.ReadAt(offset, buffer, n);
}

std::uint32_t BigEndian(const std::uint8_t* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; i++) value = (value << 8) | bytes[i];
  return value;
}

// Turns the board for the other side: ranks swapped, colours changed.
void TurnBoard(CTGPosition& position) {
  int turned[64];
  for (int s = 0; s < 64; s++) turned[s] = OtherColour(position.Board[s ^ 56]);
  std::memcpy(position.Board, turned, sizeof turned);
  if (position.Castling) position.Castling = SwapCastlingSides(position.Castling);
  position.ColourFlipped ^= 1;
}

void MirrorFiles(CTGPosition& position) {
  int mirrored[64];
  for (int s = 0; s < 64; s++) mirrored[s] = position.Board[s ^ 7];
  std::memcpy(position.Board, mirrored, sizeof mirrored);
  if (position.EpFile >= 0) position.EpFile ^= 7;
  position.FilesMirrored ^= 1;
}

int FindWhiteKing(const CTGPosition& position) {
  for (int s = 0; s < 64; s++)
    if (position.Board[s] == WhiteKing) return s;
  return -1;
}

// Without castling rights the format stores only the frame in which the king
// of the side to move stands on files e-h.
void MirrorWhenKingOnQueenSide(CTGPosition& position, int kingSquare) {
  if (position.Castling == 0 && kingSquare >= 0 && FileOf(kingSquare) < 4) MirrorFiles(position);
}

bool ReadPlacement(const char*& text, int board[64], int kings[2]) {
  int rank = 7, file = 0;
  for (; *text && *text != ' '; text++) {
    const char c = *text;
    if (c == '/') {
      if (file != 8 || rank == 0) return false;
      rank--;
      file = 0;
    } else if (c >= '1' && c <= '8') {
      file += c - '0';
      if (file > 8) return false;
    } else {
      const char* pieces = ".PNK*BRQ*pnk*brq";
      const char* found = std::strchr(pieces, c);
      if (!found || c == '.' || c == '*' || file > 7) return false;
      const int code = static_cast<int>(found - pieces);
      const int square = SquareAt(file, rank);
      board[square] = code;
      if (code == WhiteKing) kings[0] = square;
      if (code == WhiteKing + BlackOffset) kings[1] = square;
      file++;
    }
  }
  return rank == 0 && file == 8;
}

}  // namespace

CTGReader::CTGReader() { SeedBookGenerator(Generator); }

bool CTGReader::SetFen(const char* fen) {
  CTGPosition position;
  int kings[2] = {-1, -1};
  const char* text = fen;
  while (*text == ' ') text++;
  if (!ReadPlacement(text, position.Board, kings)) return false;
  while (*text == ' ') text++;
  if (*text != 'w' && *text != 'b') return false;
  const bool blackToMove = *text++ == 'b';
  while (*text == ' ') text++;
  for (; *text && *text != ' '; text++) {
    switch (*text) {
      case 'K': position.Castling |= WhiteKingSide; break;
      case 'Q': position.Castling |= WhiteQueenSide; break;
      case 'k': position.Castling |= BlackKingSide; break;
      case 'q': position.Castling |= BlackQueenSide; break;
      case '-': break;
      default: return false;  // Chess960 rook files: the format knows only KQkq
    }
  }
  while (*text == ' ') text++;
  if (*text >= 'a' && *text <= 'h') position.EpFile = *text - 'a';

  int kingSquare = kings[0];
  if (blackToMove) {
    kingSquare = kings[1] >= 0 ? kings[1] ^ 56 : -1;
    TurnBoard(position);
  }
  MirrorWhenKingOnQueenSide(position, kingSquare);
  // The format keeps an en-passant file only when a capture there is possible.
  if (position.EpFile >= 0) {
    const int f = position.EpFile;
    const bool left = f > 0 && position.Board[SquareAt(f - 1, 4)] == WhitePawn;
    const bool right = f < 7 && position.Board[SquareAt(f + 1, 4)] == WhitePawn;
    if (!left && !right) position.EpFile = -1;
  }
  EncodePosition(position);
  Current = position;
  return true;
}

void CTGReader::EncodePosition(CTGPosition& position) {
  std::memset(position.Code, 0, sizeof position.Code);
  int bit = 7, byte = 1;
  position.CodeLength = 2;
  auto beginByte = [&] {
    bit = 7;
    byte++;
    position.CodeLength++;
  };
  auto put = [&](int value) {
    if (value) position.Code[byte] |= static_cast<std::uint8_t>(1u << bit);
    if (--bit < 0) beginByte();
  };
  for (int file = 0; file < 8; file++) {
    for (int rank = 0; rank < 8; rank++) {
      const PieceBits bits = CodeBits[position.Board[SquareAt(file, rank)] & 15];
      for (int i = bits.Length - 1; i >= 0; i--) put((bits.Value >> i) & 1);
    }
  }
  const bool ep = position.EpFile >= 0;
  const int needed = (ep ? 3 : 0) + (position.Castling ? 4 : 0);
  if (bit + 1 < needed) beginByte();
  if (position.Castling) {
    position.Code[byte] |= static_cast<std::uint8_t>(position.Castling & 15);
    if (ep) position.Code[byte] |= static_cast<std::uint8_t>(position.EpFile << 4);
  } else if (ep) {
    position.Code[byte] |= static_cast<std::uint8_t>(position.EpFile);
  }
  position.Code[0] = static_cast<std::uint8_t>(position.CodeLength + (ep ? 0x20 : 0) + (position.Castling ? 0x40 : 0));

  std::int16_t t = 0;
  std::uint32_t h = 0;
  for (int i = 0; i < position.CodeLength; i++) {
    const int c = position.Code[i];
    t = static_cast<std::int16_t>(t + 61 - 4 * (c & 15));
    h += HashTable[t & 63];
    t = static_cast<std::int16_t>(t + (60 - 4 * (c >> 4)) + 1);
    h += HashTable[t & 63];
  }
  position.Hash = h;
}

bool CTGReader::FindPosition(const CTGPosition& position, CTGLookup& result) const {
  std::string indexName, boundsName;
  if (!CompanionName(Name, 'o', indexName) || !CompanionName(Name, 'b', boundsName)) return false;
  std::uint8_t bounds[8];
  if (!ReadAt(boundsName, 4, bounds, sizeof bounds)) return false;
  const std::uint32_t lower = BigEndian(bounds, 4), upper = BigEndian(bounds + 4, 4);
  for (std::uint32_t mask = 0; mask < 0x7FFFFFFF; mask = 2 * mask + 1) {
    const std::uint64_t slot = static_cast<std::uint64_t>(position.Hash & mask) + mask;
    if (slot < lower) continue;
    std::uint8_t page[4];
    // A slot the index does not reach holds no page.
    if (!ReadAt(indexName, 16 + 4 * slot, page, sizeof page)) return false;
    if (SearchPage(BigEndian(page, 4), position, result)) return true;
    if (slot >= upper) return false;
  }
  return false;
}

bool CTGReader::SearchPage(std::uint64_t page, const CTGPosition& position, CTGLookup& result) const {
  std::vector<std::uint8_t> bytes(PageSize);
  // Pages past the end of the file are refused by the read itself.
  if (!ReadAt(Name, (page + 1) * PageSize, bytes.data(), PageSize)) return false;
  const std::uint32_t count = BigEndian(bytes.data(), 2);
  std::uint32_t e = 4;
  for (std::uint32_t i = 0; i < count; i++) {
    // Every length comes from the file: the entry must lie inside the page
    // before any byte of it is read.
    if (e >= PageSize) return false;
    const std::uint32_t codeLength = bytes[e] & 31;
    if (e + codeLength >= PageSize) return false;
    const std::uint32_t listLength = bytes[e + codeLength];
    if (listLength == 0 || e + codeLength + listLength + 33 > PageSize) return false;
    const std::uint32_t s = e + codeLength + listLength;
    if (static_cast<int>(codeLength) == position.CodeLength &&
        std::memcmp(bytes.data() + e, position.Code, codeLength) == 0) {
      result.MoveCount = static_cast<int>((listLength - 1) / 2);
      std::memcpy(result.Moves, bytes.data() + e + codeLength + 1, 2 * result.MoveCount);
      result.Losses = BigEndian(bytes.data() + s + 3, 3);
      result.Wins = BigEndian(bytes.data() + s + 6, 3);
      result.Draws = BigEndian(bytes.data() + s + 9, 3);
      result.Recommendation = bytes[s + 30];
      return true;
    }
    e = s + 33;
  }
  return false;
}

CTGSquares CTGReader::DecodeMove(const CTGPosition& position, int moveByte) {
  if (moveByte == KingSideCastlingByte) return {H1, H1};
  if (moveByte == QueenSideCastlingByte) return {A1, A1};
  const MoveRow& row = MoveTable[moveByte & 255];
  if (row.Piece == 0) return {NoMoveFrom, NoMoveTo};
  int seen = 0;
  for (int file = 0; file < 8; file++) {
    for (int rank = 0; rank < 8; rank++) {
      const int square = SquareAt(file, rank);
      if (position.Board[square] != row.Piece || ++seen != row.Nth) continue;
      return {square, SquareAt((file + row.Right + 8) % 8, (rank + row.Up + 8) % 8)};
    }
  }
  return {NoMoveFrom, NoMoveTo};
}

void CTGReader::MakeMove(CTGPosition& position, int from, int to) {
  int* board = position.Board;
  const int piece = board[from];
  const bool castles = from == to && (from == H1 || from == A1);
  if (castles) {
    const bool kingSide = from == H1;
    board[E1] = 0;
    board[kingSide ? H1 : A1] = 0;
    board[kingSide ? G1 : C1] = WhiteKing;
    board[kingSide ? F1 : D1] = WhiteRook;
  } else {
    // A pawn that steps aside onto an empty square takes en passant: the
    // pawn it passed must leave the board too.
    if (piece == WhitePawn && FileOf(from) != FileOf(to) && board[to] == 0) board[to + 8] = 0;
    // A rook taken in its corner takes its side's castling with it.
    if (to == A8 && board[to] == BlackRook) position.Castling &= ~BlackQueenSide;
    if (to == H8 && board[to] == BlackRook) position.Castling &= ~BlackKingSide;
    board[to] = RankOf(to) == 7 && piece == WhitePawn ? WhiteQueen : piece;
    board[from] = 0;
    if (piece == WhiteKing && from == E1 && (to == G1 || to == C1)) {
      board[to == G1 ? H1 : A1] = 0;
      board[to == G1 ? F1 : D1] = WhiteRook;
    }
  }
  if (castles || piece == WhiteKing) position.Castling &= BlackQueenSide | BlackKingSide;
  if (from == A1) position.Castling &= ~WhiteQueenSide;
  if (from == H1) position.Castling &= ~WhiteKingSide;

  position.EpFile = -1;
  if (piece == WhitePawn && RankOf(from) == 1 && RankOf(to) == 3) {
    const int f = FileOf(to);
    if ((f > 0 && board[to - 1] == BlackPawn) || (f < 7 && board[to + 1] == BlackPawn)) position.EpFile = f;
  }
  TurnBoard(position);
  MirrorWhenKingOnQueenSide(position, FindWhiteKing(position));
  EncodePosition(position);
}

std::string CTGReader::MoveToText(int moveByte) const {
  const CTGSquares move = DecodeMove(Current, moveByte);
  if (move.From == NoMoveFrom && move.To == NoMoveTo) return "a8h7";
  const bool promotes = Current.Board[move.From] == WhitePawn && RankOf(move.From) == 6;
  const int undo = (Current.FilesMirrored ? 7 : 0) ^ (Current.ColourFlipped ? 56 : 0);
  std::string text;
  for (const int square : {move.From ^ undo, move.To ^ undo}) {
    text += static_cast<char>('a' + FileOf(square));
    text += static_cast<char>('1' + RankOf(square));
  }
  if (promotes) text += 'q';
  return text;
}

int CTGReader::GetMove(const char* fen, std::string& text) {
  text = "a1a1\n";
  CTGLookup found;
  if (!fen || !SetFen(fen) || !FindPosition(Current, found)) return 0;

  struct Candidate {
    int Byte;
    std::int64_t Score;
  };
  constexpr std::int64_t Brilliant = 9999999, Good = 999999, NotToBePlayed = -9999999;
  std::vector<Candidate> candidates;
  std::int64_t best = NotToBePlayed;
  for (int i = 0; i < found.MoveCount; i++) {
    const int moveByte = found.Moves[2 * i], annotation = found.Moves[2 * i + 1];
    CTGPosition child = Current;
    const CTGSquares move = DecodeMove(child, moveByte);
    MakeMove(child, move.From, move.To);
    CTGLookup next;
    std::int64_t score = 1;
    if (FindPosition(child, next)) {
      const std::uint64_t games = std::uint64_t{next.Wins} + next.Draws + next.Losses;
      if (next.Recommendation >= 128 && annotation == 3) score = Brilliant;
      else if (next.Recommendation >= 128 && annotation == 1) score = Good;
      else if (next.Recommendation & 64) score = NotToBePlayed;
      else if (games > 0) score = std::int64_t{next.Wins} + next.Draws / 2;
    }
    // A move the book says not to play stays unplayed even when it is all
    // the book has.
    if (score == NotToBePlayed) continue;
    candidates.push_back({moveByte, score});
    best = std::max(best, score);
  }
  const std::int64_t threshold = UniformPick ? best : best / 20;
  std::vector<Candidate> kept;
  std::int64_t sum = 0;
  for (const Candidate& candidate : candidates) {
    if (candidate.Score < threshold) continue;
    kept.push_back(candidate);
    sum += candidate.Score;
  }
  if (kept.empty()) return 0;

  const std::uint32_t r = Generator.Next();
  const Candidate* chosen = nullptr;
  if (UniformPick) {
    chosen = &kept[r % kept.size()];
  } else {
    std::int64_t x = static_cast<std::int64_t>(r % static_cast<std::uint64_t>(sum + 1));
    for (const Candidate& candidate : kept) {
      x -= candidate.Score;
      if (x <= 0) {
        chosen = &candidate;
        break;
      }
    }
  }
  if (!chosen) {
    Printer.Print(ChannelLogOnly, true, "ERROR: no move returned from openingbook while one is present\n");
    return 0;
  }
  text = MoveToText(chosen->Byte);
  return 1;
}

// ------------------------------------------------------------------ BookCTG

namespace {
constexpr const char* StandardStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
}  // namespace

int BookCTGEntry::SetMove(const GameMove& move) {
  Move = GameMove();
  Move.From = move.From;
  Move.To = move.To;
  Move.Promotion = move.Promotion;
  Move.Valid = move.Valid;
  Manual = 0;
  Valid = 1;
  return 0;
}

bool BookCTG::Open(const char* name, bool writable) {
  if (writable || !name) return true;
  Reader.SetName(name);
  CTGLookup found;
  if (!Reader.SetFen(StandardStartFen) || !Reader.FindPosition(Reader.Current, found)) return true;
  open = 1;
  return false;
}

GameMove BookCTG::SelectMove(const GameBoard& board) {
  GameMove answer;
  if (!open) return answer;
  std::string text;
  if (!Reader.GetMove(board.GetFen(), text)) return answer;
  answer.FromText(text.c_str());
  return answer;
}

BookPosition* BookCTG::GetBookPosition(const GameBoard& board) {
  CTGLookup found;
  if (!Reader.SetFen(board.GetFen()) || !Reader.FindPosition(Reader.Current, found) || found.MoveCount == 0)
    return nullptr;
  BookPosition* position = BookPosition::Allocate();
  if (!position) {
    Printer.Print(ChannelStderr, false, "BookCTG::GetBookPosition: Cannot create new BookPosition object\n");
    return nullptr;
  }
  for (int i = 0; i < found.MoveCount; i++) {
    const int moveByte = found.Moves[2 * i], annotation = found.Moves[2 * i + 1];
    const std::string text = Reader.MoveToText(moveByte);
    if (text == "a8h7") continue;
    auto* entry = new BookCTGEntry;
    GameMove move;
    entry->SetMove(move.FromText(text.c_str()));
    CTGPosition child = Reader.Current;
    const CTGSquares squares = CTGReader::DecodeMove(child, moveByte);
    CTGReader::MakeMove(child, squares.From, squares.To);
    CTGLookup next;
    if (Reader.FindPosition(child, next)) {
      if (next.Recommendation >= 128 && (annotation == 3 || annotation == 1))
        entry->Manual = 5;
      else if (next.Recommendation & 64)
        entry->Manual = -5;
    }
    position->Add(entry);
  }
  if (position->Count == 0) {
    position->Release();
    return nullptr;
  }
  return position;
}

void BookCTG::ShowBookMoves(const GameBoard& board) {
  board.Print(stdout);
  Printer.Print(ChannelStdout, false, "Book moves:\n");
  ShowManualListing(board);
}

void BookCTG::Display() { Printer.Print(ChannelStderr, false, "BookCTG::Display() is not yet supported\n"); }

void BookCTG::Show() { Printer.Print(ChannelStderr, false, "BookCTG::Show() is not yet supported\n"); }
