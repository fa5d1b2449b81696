// Writes a small CTG book (".ctg", ".cto", ".ctb") laid out as real ones are:
// positions grouped on pages by their hash's index slot, one page per slot.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "books/ctg.h"

struct CtgFixturePosition {
  std::string Fen;
  std::vector<std::pair<int, int>> Moves;  // move byte, annotation byte
  std::uint32_t Wins = 0, Draws = 0, Losses = 0;
  int Recommendation = 0;
};

namespace ctg_fixture {

inline void PutBigEndian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; i--) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The ".ctg" page of one entry: code, move list, the 33-byte statistics block.
inline std::vector<std::uint8_t> EntryBytes(const CTGPosition& position, const CtgFixturePosition& entry) {
  std::vector<std::uint8_t> bytes(position.Code, position.Code + position.CodeLength);
  bytes.push_back(static_cast<std::uint8_t>(1 + 2 * entry.Moves.size()));
  for (auto [move, annotation] : entry.Moves) {
    bytes.push_back(static_cast<std::uint8_t>(move));
    bytes.push_back(static_cast<std::uint8_t>(annotation));
  }
  PutBigEndian(bytes, 0, 3);
  PutBigEndian(bytes, entry.Losses, 3);
  PutBigEndian(bytes, entry.Wins, 3);
  PutBigEndian(bytes, entry.Draws, 3);
  for (int i = 12; i < 30; i++) bytes.push_back(0);
  bytes.push_back(static_cast<std::uint8_t>(entry.Recommendation));
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace ctg_fixture

// Index slots 31..62 (mask 31 and its first following slot), each pointing to
// its own page; the bounds say so. ctgPath ends in ".ctg" or ".CTG".
inline bool WriteCtgBook(const std::string& ctgPath, const std::vector<CtgFixturePosition>& positions) {
  using namespace ctg_fixture;
  constexpr std::uint32_t Lower = 31, Upper = 62, Slots = 63;
  std::map<std::uint32_t, std::vector<std::uint8_t>> pages;  // slot -> entries
  std::map<std::uint32_t, int> counts;
  CTGReader reader;
  for (const CtgFixturePosition& entry : positions) {
    if (!reader.SetFen(entry.Fen.c_str())) return false;
    const std::uint32_t slot = (reader.Current.Hash & 31) + 31;
    const std::vector<std::uint8_t> bytes = EntryBytes(reader.Current, entry);
    pages[slot].insert(pages[slot].end(), bytes.begin(), bytes.end());
    counts[slot]++;
  }
  std::vector<std::uint8_t> ctg(CTGReader::PageSize, 0), cto(16, 0), ctb;
  PutBigEndian(ctb, 0, 4);
  PutBigEndian(ctb, Lower, 4);
  PutBigEndian(ctb, Upper, 4);
  for (std::uint32_t slot = 0; slot < Slots; slot++) {
    PutBigEndian(cto, slot, 4);  // page number = slot
    std::vector<std::uint8_t> page;
    page.reserve(CTGReader::PageSize);
    PutBigEndian(page, counts[slot], 2);
    page.push_back(0);
    page.push_back(0);
    page.insert(page.end(), pages[slot].begin(), pages[slot].end());
    if (page.size() > CTGReader::PageSize) return false;
    page.resize(CTGReader::PageSize, 0);
    ctg.insert(ctg.end(), page.begin(), page.end());
  }
  std::string base = ctgPath.substr(0, ctgPath.size() - 1);
  const bool upper = ctgPath.back() == 'G';
  WriteFile(ctgPath, ctg);
  WriteFile(base + (upper ? "O" : "o"), cto);
  WriteFile(base + (upper ? "B" : "b"), ctb);
  return true;
}
