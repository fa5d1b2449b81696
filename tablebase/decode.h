// Decoding of a mapped Syzygy table in place: the file layout with every
// offset checked against the file size, the index of a placement of the
// pieces, and the Huffman-coded pair compression of the stored values.
// Squares here are numbered from a1 = 0 (the table format's own order).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

inline constexpr int TbMaxPieces = 6;

// The compressed values of one sub-table and where they lie in the file.
struct PairsData {
  std::uint8_t Flags = 0;
  std::uint8_t IndexBits = 0;  // 0: every index holds ConstValue
  std::uint8_t ConstValue = 0;
  std::uint8_t BlockSizeLog = 0;
  std::uint8_t MinLen = 0;
  std::uint8_t MaxLen = 0;
  std::uint32_t RealBlocks = 0;
  std::uint64_t SizeEntries = 0;  // real and extra blocks in the size table
  std::uint64_t IndexEntries = 0;
  std::uint32_t SymbolCount = 0;
  const std::uint8_t* Offsets = nullptr;  // u16 per code length from MinLen
  const std::uint8_t* SymbolPatterns = nullptr;
  const std::uint8_t* IndexTable = nullptr;
  const std::uint8_t* SizeTable = nullptr;
  const std::uint8_t* Data = nullptr;
  const std::uint8_t* DataEnd = nullptr;
  std::vector<std::uint8_t> SymbolLengths;
  std::vector<std::uint64_t> Base;  // per code length from MinLen, left-aligned
};

// One side to move (and, with pawns, one file of the leading pawn).
struct SubTable {
  std::uint8_t Pieces[TbMaxPieces] = {};  // table piece codes, 1..6 white, 9..14 black
  std::uint8_t Norm[TbMaxPieces] = {};
  std::uint64_t Factor[TbMaxPieces] = {};
  std::uint64_t Size = 0;  // positions
  std::unique_ptr<PairsData> Pairs;
};

// What the registry knows of a table before its file is read.
struct TableShape {
  std::uint8_t Men = 0;
  bool HasPawns = false;
  std::uint8_t EncodingType = 0;  // pawnless: 0 three unique pieces lead, 2 the kings lead
  std::uint8_t Pawns[2] = {};     // leading colour's pawns, the other colour's
  std::uint8_t Counts[16] = {};   // colour * 8 + table piece code
};

struct WdlTable {
  SubTable Sub[4][2];  // file (0 only without pawns), side
};

struct DtzTable {
  SubTable Sub[4];  // file (0 only without pawns)
  std::uint8_t Flags[4] = {};
  std::uint32_t MapIndex[4][4] = {};  // file, WDL class: offset of a map list
  const std::uint8_t* Map = nullptr;
  std::uint64_t MapSize = 0;
};

inline constexpr std::uint32_t WdlMagic = 0x5d23e871;
inline constexpr std::uint32_t DtzMagic = 0xa50c66d7;

// Set the sub-tables up from a mapped file; false for a file whose layout
// does not fit its size or its material (the magic is checked by the caller).
bool InitTableWdl(const TableShape& shape, const std::uint8_t* data, std::uint64_t size, WdlTable& table);
bool InitTableDtz(const TableShape& shape, const std::uint8_t* data, std::uint64_t size, DtzTable& table);

// The index of a placement; squares in piece-list order, changed in place.
// Fails (returns false) only for a placement no legal position has.
bool EncodePiece(const TableShape& shape, const SubTable& sub, int* squares, std::uint64_t& index);
std::uint64_t EncodePawn(const TableShape& shape, const SubTable& sub, int* squares);
// Moves the leading pawn that decides the file to the front; returns the
// file (0..3) of the sub-table.
int PawnFile(const TableShape& shape, int* squares);

// The stored value at an index, or -1 when the data are damaged.
int DecompressPairs(const PairsData& pairs, std::uint64_t index);
// The DTZ in plies of a stored value, through the map and the doubling of
// distances kept in full moves; -1 when the map is damaged.
int DtzFromStored(const DtzTable& table, int file, int stored, int wdl);

// Exposed for tests: the table of binomials C(j, i + 1).
std::uint64_t Binomial(int i, int j);
