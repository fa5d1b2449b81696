// The material table: every configuration of non-king material within the
// table's ranges maps to one mixed-radix index, which the position keeps up
// to date on every capture and promotion, and to one precomputed entry with
// the material and imbalance score, both sides' game phases, the draw marks
// of the endgame recognisers and, for two rook endings, a scale function.
#pragma once

#include <cstdint>

class Position;

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

// Bits of MaterialEntry::info beside the two phases (bits 0-3 black's,
// bits 4-7 white's).
inline constexpr std::uint32_t FlagWhiteRookMinorVsRook = 0x100;
inline constexpr std::uint32_t FlagBlackRookMinorVsRook = 0x200;
inline constexpr std::uint32_t FlagNoMatingMaterial = 0x10000;

inline int BlackPhaseOf(std::uint32_t info) { return static_cast<int>(info & 15); }
inline int WhitePhaseOf(std::uint32_t info) { return static_cast<int>((info >> 4) & 15); }

// The game phase of a colour from its raw piece weight (minors + 2 rooks +
// 4 queens): 0 with at most a minor and a rook or so, 8 with a full set.
constexpr int MaterialPhase(int raw) { return (raw < 3 ? 3 : raw > 11 ? 11 : raw) - 3; }

// Answers a scale class 0..7 for the position; 0 leaves the score alone.
using EndgameScaleFunction = int (*)(const Position&);

struct MaterialEntry {
  std::int32_t score;  // white's view, milli-pawns
  std::uint32_t info;
  EndgameScaleFunction scale;  // null for all but two entries
};

class MaterialTable {
public:
  static constexpr int Size = 2 * 2 * 3 * 3 * 3 * 3 * 3 * 3 * 9 * 9;

  // The index of a configuration, -1 when any count lies outside the table
  // (a second queen, a third rook, bishop or knight, a ninth pawn).
  static int Index(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP);

  // Material and imbalance score from white's view, and both phases. A pure
  // function of the counts, valid for any counts; positions outside the
  // table are scored by it directly.
  static int EvaluateMaterial(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP, int bP,
                              int& blackPhase, int& whitePhase);

  // Fills every entry and installs the scale functions; run once at
  // start-up (running it again rebuilds the same table).
  static void Build();

  // The entry of an index from Index (0 <= index < Size).
  static const MaterialEntry& Entry(int index) { return Entries[index]; }

private:
  static MaterialEntry Entries[Size];
};
