// Bitboards (bit s = square s, a8 = 0 ... h1 = 63) and the bit tricks the
// board code is built on: scanning and counting set bits.
#pragma once

#include <cstdint>

using Bitboard = std::uint64_t;

// Set when the processor has the POPCNT instruction; filled by
// InitAttackTables. The 32-bit program always counts by loop.
extern unsigned char PopcntAvailable;

constexpr Bitboard SquareBit(int square) { return Bitboard{1} << square; }

// Index of the lowest set bit; b must not be empty.
inline int LowestSquare(Bitboard b) { return __builtin_ctzll(b); }

// Index of the highest set bit; b must not be empty.
inline int HighestSquare(Bitboard b) { return 63 - __builtin_clzll(b); }

// Removes the lowest set bit of b and returns its index.
inline int PopLowestSquare(Bitboard& b) {
  const int square = LowestSquare(b);
  b &= b - 1;
  return square;
}

inline int CountBitsByLoop(Bitboard b) {
  int count = 0;
  for (; b; b &= b - 1) ++count;
  return count;
}

#if defined(__x86_64__)
__attribute__((target("popcnt"))) inline int CountBitsByInstruction(Bitboard b) {
  return __builtin_popcountll(b);
}
#endif

inline int PopCount(Bitboard b) {
#if defined(__x86_64__)
  if (PopcntAvailable) return CountBitsByInstruction(b);
#endif
  return CountBitsByLoop(b);
}

// Board geometry (row 0 = rank 8).
constexpr int FileOf(int square) { return square & 7; }
constexpr int RowOf(int square) { return square >> 3; }
constexpr int RankOf(int square) { return 8 - (square >> 3); }
constexpr int MakeSquare(int file, int row) { return row * 8 + file; }
// A square as a colour sees the board: Black's ranks turned over.
constexpr int RelativeSquare(int colour, int square) { return square ^ (colour * 56); }
// 0 for a light square (a8, h1), 1 for a dark one (a1, h8).
constexpr int SquareColour(int square) { return (RowOf(square) + FileOf(square)) & 1; }

inline constexpr Bitboard FileABits = 0x0101010101010101ULL;
inline constexpr Bitboard FileHBits = FileABits << 7;
inline constexpr Bitboard Rank8Bits = 0xffULL;          // row 0
inline constexpr Bitboard Rank1Bits = 0xffULL << 56;    // row 7
constexpr Bitboard FileBits(int file) { return FileABits << file; }
constexpr Bitboard RowBits(int row) { return Rank8Bits << (8 * row); }

// Named squares used by castling.
enum : int {
  SquareA8 = 0, SquareB8 = 1, SquareC8 = 2, SquareD8 = 3, SquareE8 = 4, SquareF8 = 5, SquareG8 = 6, SquareH8 = 7,
  SquareA1 = 56, SquareB1 = 57, SquareC1 = 58, SquareD1 = 59, SquareE1 = 60, SquareF1 = 61, SquareG1 = 62, SquareH1 = 63,
};
