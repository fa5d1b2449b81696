// The material index: every configuration of non-king material that fits the
// material table maps to one mixed-radix number, which the position keeps up
// to date on every capture and promotion.
#pragma once

// Weight of one piece of each code in the index (piece code order: empty,
// P N K * B R Q, then black). Black before white in each radix digit: a digit
// of 9 pawn counts, 3 counts for each minor and rook, 2 for each queen.
inline constexpr int MaterialWeight[16] = {
    0, 9, 243, 0, 0, 2187, 19683, 118098,  // white
    0, 1, 81,  0, 0, 729,  6561,  59049,   // black
};

// Largest count of each code that the table holds; one more puts the
// position outside the table (index -1).
inline constexpr int MaterialMax[16] = {
    0, 8, 2, 1, 0, 2, 2, 1,
    0, 8, 2, 1, 0, 2, 2, 1,
};

class MaterialTable {
public:
  static constexpr int Size = 2 * 2 * 3 * 3 * 3 * 3 * 3 * 3 * 9 * 9;

  // The index of a configuration, -1 when a queen, rook, bishop or knight
  // count is beyond the table. Pawn counts are not tested: a side never has
  // more than eight.
  static int Index(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP);
};
