// The Random64 values that Polyglot keys are made of, as the format publishes
// them. Indices: pieces 0-767, castling 768-771, en-passant file 772-779,
// White to move 780.
#pragma once

#include <cstdint>

inline constexpr int PolyglotRandomCount = 781;
inline constexpr int PolyglotCastlingIndex = 768;
inline constexpr int PolyglotEnPassantIndex = 772;
inline constexpr int PolyglotTurnIndex = 780;

extern const std::uint64_t PolyglotRandom64[PolyglotRandomCount];
