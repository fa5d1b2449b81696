// A learning-file record as the file must hold it, written out byte by byte
// (little-endian), so that the tests check the engine's layout against their
// own rather than against the engine's writer.
#pragma once

#include <cstdint>
#include <string>

inline std::string Record(std::uint64_t hashkey, std::uint64_t pawnkey, std::int32_t score, std::int32_t depth) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>(hashkey >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>(pawnkey >> (8 * i));
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(static_cast<std::uint32_t>(score) >> (8 * i));
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(static_cast<std::uint32_t>(depth) >> (8 * i));
  return bytes;
}
