// The two byte forms of a game: the stored record of the games files
// (little-endian, Game::CompactWriteFile / CompactReadFile) and the buffer
// form that the remote book sends (big-endian, at most 2048 bytes,
// Game::CompactWrite / CompactRead). Both keep each move as its 1-based
// place in the GameBoard move list of the position before it.
#pragma once

#include <cstdint>

#include "games/gamerecord.h"

struct CompactGameRecord {
  static constexpr int Size = 2048;  // the remote book's buffer

  // Byte values of both forms.
  static constexpr std::uint8_t RecordBegin = 255;  // stored form: begins a record; buffer form: ends it
  static constexpr std::uint8_t TagMarker = 254;    // the tag list; one tag in the buffer form
  static constexpr std::uint8_t MovesMarker = 253;
  static constexpr std::uint8_t CommentBegin = 252;
  static constexpr std::uint8_t CommentEnd = 251;
  static constexpr std::uint8_t StartStandard = 250;
  static constexpr std::uint8_t StartChess960 = 249;  // then the number in 2 bytes
  static constexpr std::uint8_t StartFen = 248;       // then the text and 247 (stored) or 0 (buffer)
  static constexpr std::uint8_t FenEnd = 247;
  static constexpr std::uint8_t VariationBegin = 246;
  static constexpr std::uint8_t VariationEnd = 245;
  static constexpr std::uint8_t NagMarker = 243;
  // Places 1..223 take one byte; larger ones a 0 byte and 2 bytes.
  static constexpr int LongPlace = 224;
  // Open variations a reader follows at once.
  static constexpr int MaxOpenVariations = 100;

  std::uint8_t Bytes[Size] = {};
  int Length = 0;
};
