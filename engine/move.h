// The move word shared by the whole engine: from, to, promotion code and the
// flags the generators set. A quiet non-pawn move is just from | to << 6.
#pragma once

#include <cstdint>

using Move = std::uint32_t;

// The empty move: never legal, the answer when a node has no more moves.
inline constexpr Move NoMove = 0;

inline constexpr Move MoveFromMask = 0x3f;
inline constexpr Move MoveToMask = 0xfc0;
inline constexpr Move MovePromotionMask = 0xf000;  // promotion piece code incl. colour
inline constexpr Move MoveCapture = 0x10000;       // also en passant and capturing promotions
inline constexpr Move MoveCastle = 0x20000;        // written as the king's move
inline constexpr Move MoveEnPassant = 0x40000;
inline constexpr Move MovePawn = 0x80000;          // every pawn move
inline constexpr Move MoveDoublePush = 0x100000;
inline constexpr Move MovePromotion = 0x200000;
inline constexpr Move MoveGivesCheck = 0x400000;   // set by the quiescence generators only
inline constexpr Move MoveNull = 0x800000;

constexpr int MoveFrom(Move m) { return static_cast<int>(m & MoveFromMask); }
constexpr int MoveTo(Move m) { return static_cast<int>((m & MoveToMask) >> 6); }
constexpr int MovePromotionCode(Move m) { return static_cast<int>((m & MovePromotionMask) >> 12); }
constexpr Move MakeMoveWord(int from, int to) {
  return static_cast<Move>(from) | (static_cast<Move>(to) << 6);
}
