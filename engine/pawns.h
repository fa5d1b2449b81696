// The pawn structure of a position and its per-thread cache. Everything here
// depends on the pawns alone, so it is computed once per pawn configuration and
// kept in a table keyed by the position's pawn key.
#pragma once

#include <cstdint>

#include "engine/bitboard.h"

class Position;

struct PawnColourInfo {
  Bitboard PassedPawns;
  std::uint8_t MostAdvanced[8];  // per file: row of the most advanced pawn; 8 when none
  std::uint8_t Rearmost[8];      // per file: row of the rearmost pawn; 0 when none
  std::int32_t ScoreMg;
  std::int32_t ScoreEg;
  std::int32_t PassedMg;
  std::int32_t PassedEg;
  std::uint8_t CentreWeight[2];  // [0] light squares, [1] dark squares
  std::uint8_t FrontRow;         // 8 when none
  std::uint8_t FrontSquare;      // 0 when none
  std::uint8_t Files;
  std::uint8_t DoubledFiles;
  std::uint8_t SupportedPassedFiles;
  std::uint8_t FileSpan;
  std::uint8_t IsolatedFiles;
};

struct PawnInfo {
  PawnColourInfo Colour[2];  // White, Black
  Bitboard BackwardMarks;
  std::uint32_t CentreType;  // 1..6
};

struct PawnHashEntry {
  PawnInfo Info;
  std::uint64_t Pawnkey;
};

// Each slot on a cache line of its own: every worker counts its probes in its
// slot at every evaluation, and neighbours must not fight over the line.
struct alignas(64) PawnHash {
  static constexpr int Entries = 16384;

  PawnHashEntry* Table = nullptr;
  std::uint64_t Probes = 0;
  std::uint64_t Hits = 0;

  static void Probe(PawnHash& slot, const Position& position, PawnInfo& out);
  // True when the allocation failed; the slot then stays without a table.
  static bool Allocate(PawnHash& slot);
  static void Free(PawnHash& slot);
};

// One slot per possible search worker; slot 0 belongs to the main thread.
extern PawnHash PawnHashes[32];

void EvaluatePawns(PawnInfo& out, const Position& position);
