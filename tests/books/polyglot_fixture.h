// Writes Polyglot books entry by entry, and reads one back by a plain scan
// of the whole file: the oracle for the reader's binary search.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "books/polyglot.h"
#include "games/gameboard.h"

struct PolyglotFixtureEntry {
  std::uint64_t Key;
  std::uint16_t Move;
  std::uint16_t Weight;
};

// The format's move word of board squares (a8 = 0) and a promotion value
// of the format (1 knight ... 4 queen).
inline std::uint16_t PolyglotMove(int from, int to, int promotion = 0) {
  return static_cast<std::uint16_t>((to ^ 56) | ((from ^ 56) << 6) | (promotion << 12));
}

inline int SquareOf(const char* name) { return (name[0] - 'a') + 8 * ('8' - name[1]); }

inline std::uint16_t PolyglotMove(const char* text, int promotion = 0) {
  return PolyglotMove(SquareOf(text), SquareOf(text + 2), promotion);
}

inline std::uint64_t PolyglotKeyOf(const char* fen) {
  GameBoard board;
  if (board.SetFen(fen)) return 0;
  return BookPolyglot::ComputeKey(board);
}

// Entries are written in the order given: sort them first for a real book.
inline void WritePolyglotBook(const std::string& path, const std::vector<PolyglotFixtureEntry>& entries) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const PolyglotFixtureEntry& entry : entries) {
    unsigned char bytes[16] = {};
    for (int i = 0; i < 8; i++) bytes[i] = static_cast<unsigned char>(entry.Key >> (56 - 8 * i));
    bytes[8] = static_cast<unsigned char>(entry.Move >> 8);
    bytes[9] = static_cast<unsigned char>(entry.Move);
    bytes[10] = static_cast<unsigned char>(entry.Weight >> 8);
    bytes[11] = static_cast<unsigned char>(entry.Weight);
    out.write(reinterpret_cast<const char*>(bytes), 16);
  }
}

// Every entry of the file by key, each key's entries in file order: one
// plain pass over the whole file.
inline std::map<std::uint64_t, std::vector<PolyglotFixtureEntry>> ScanPolyglotBook(const std::string& path) {
  std::map<std::uint64_t, std::vector<PolyglotFixtureEntry>> found;
  std::ifstream in(path, std::ios::binary);
  unsigned char bytes[16];
  while (in.read(reinterpret_cast<char*>(bytes), 16)) {
    std::uint64_t key = 0;
    for (int i = 0; i < 8; i++) key = (key << 8) | bytes[i];
    found[key].push_back({key, static_cast<std::uint16_t>(bytes[8] << 8 | bytes[9]),
                          static_cast<std::uint16_t>(bytes[10] << 8 | bytes[11])});
  }
  return found;
}
