// Decoding of mapped Syzygy tables: sub-table set-up from the file layout,
// the placement index and the pair decompression. Everything read from the
// file is checked against its size before use, so a damaged table fails its
// probes instead of reading outside the mapping.
#include "tablebase/decode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

// The fixed index tables of the table format, squares from a1 = 0.
// OffDiag: 0 on the a1-h8 diagonal, 1 below it, -1 above it.
constexpr std::int8_t OffDiag[64] = {
      0,  -1,  -1,  -1,  -1,  -1,  -1,  -1,
      1,   0,  -1,  -1,  -1,  -1,  -1,  -1,
      1,   1,   0,  -1,  -1,  -1,  -1,  -1,
      1,   1,   1,   0,  -1,  -1,  -1,  -1,
      1,   1,   1,   1,   0,  -1,  -1,  -1,
      1,   1,   1,   1,   1,   0,  -1,  -1,
      1,   1,   1,   1,   1,   1,   0,  -1,
      1,   1,   1,   1,   1,   1,   1,   0,
};
constexpr std::uint8_t Triangle[64] = {
      6,   0,   1,   2,   2,   1,   0,   6,
      0,   7,   3,   4,   4,   3,   7,   0,
      1,   3,   8,   5,   5,   8,   3,   1,
      2,   4,   5,   9,   9,   5,   4,   2,
      2,   4,   5,   9,   9,   5,   4,   2,
      1,   3,   8,   5,   5,   8,   3,   1,
      0,   7,   3,   4,   4,   3,   7,   0,
      6,   0,   1,   2,   2,   1,   0,   6,
};
constexpr std::uint8_t FlipDiag[64] = {
      0,   8,  16,  24,  32,  40,  48,  56,
      1,   9,  17,  25,  33,  41,  49,  57,
      2,  10,  18,  26,  34,  42,  50,  58,
      3,  11,  19,  27,  35,  43,  51,  59,
      4,  12,  20,  28,  36,  44,  52,  60,
      5,  13,  21,  29,  37,  45,  53,  61,
      6,  14,  22,  30,  38,  46,  54,  62,
      7,  15,  23,  31,  39,  47,  55,  63,
};
constexpr std::uint8_t Lower[64] = {
     28,   0,   1,   2,   3,   4,   5,   6,
      0,  29,   7,   8,   9,  10,  11,  12,
      1,   7,  30,  13,  14,  15,  16,  17,
      2,   8,  13,  31,  18,  19,  20,  21,
      3,   9,  14,  18,  32,  22,  23,  24,
      4,  10,  15,  19,  22,  33,  25,  26,
      5,  11,  16,  20,  23,  25,  34,  27,
      6,  12,  17,  21,  24,  26,  27,  35,
};
constexpr std::uint8_t Diag[64] = {
      0,   0,   0,   0,   0,   0,   0,   8,
      0,   1,   0,   0,   0,   0,   9,   0,
      0,   0,   2,   0,   0,  10,   0,   0,
      0,   0,   0,   3,  11,   0,   0,   0,
      0,   0,   0,  12,   4,   0,   0,   0,
      0,   0,  13,   0,   0,   5,   0,   0,
      0,  14,   0,   0,   0,   0,   6,   0,
     15,   0,   0,   0,   0,   0,   0,   7,
};
constexpr std::uint8_t Flap[64] = {
      0,   0,   0,   0,   0,   0,   0,   0,
      0,   6,  12,  18,  18,  12,   6,   0,
      1,   7,  13,  19,  19,  13,   7,   1,
      2,   8,  14,  20,  20,  14,   8,   2,
      3,   9,  15,  21,  21,  15,   9,   3,
      4,  10,  16,  22,  22,  16,  10,   4,
      5,  11,  17,  23,  23,  17,  11,   5,
      0,   0,   0,   0,   0,   0,   0,   0,
};
constexpr std::uint8_t Ptwist[64] = {
      0,   0,   0,   0,   0,   0,   0,   0,
     47,  35,  23,  11,  10,  22,  34,  46,
     45,  33,  21,   9,   8,  20,  32,  44,
     43,  31,  19,   7,   6,  18,  30,  42,
     41,  29,  17,   5,   4,  16,  28,  40,
     39,  27,  15,   3,   2,  14,  26,  38,
     37,  25,  13,   1,   0,  12,  24,  36,
      0,   0,   0,   0,   0,   0,   0,   0,
};
constexpr std::uint8_t InvFlap[24] = {
      8,  16,  24,  32,  40,  48,   9,  17,
     25,  33,  41,  49,  10,  18,  26,  34,
     42,  50,  11,  19,  27,  35,  43,  51,
};
constexpr std::uint8_t FileToFile[8] = {
      0,   1,   2,   3,   3,   2,   1,   0,
};
constexpr std::int16_t KkIndex[10][64] = {
    {
         -1,  -1,  -1,   0,   1,   2,   3,   4,
         -1,  -1,  -1,   5,   6,   7,   8,   9,
         10,  11,  12,  13,  14,  15,  16,  17,
         18,  19,  20,  21,  22,  23,  24,  25,
         26,  27,  28,  29,  30,  31,  32,  33,
         34,  35,  36,  37,  38,  39,  40,  41,
         42,  43,  44,  45,  46,  47,  48,  49,
         50,  51,  52,  53,  54,  55,  56,  57,
    },
    {
         58,  -1,  -1,  -1,  59,  60,  61,  62,
         63,  -1,  -1,  -1,  64,  65,  66,  67,
         68,  69,  70,  71,  72,  73,  74,  75,
         76,  77,  78,  79,  80,  81,  82,  83,
         84,  85,  86,  87,  88,  89,  90,  91,
         92,  93,  94,  95,  96,  97,  98,  99,
        100, 101, 102, 103, 104, 105, 106, 107,
        108, 109, 110, 111, 112, 113, 114, 115,
    },
    {
        116, 117,  -1,  -1,  -1, 118, 119, 120,
        121, 122,  -1,  -1,  -1, 123, 124, 125,
        126, 127, 128, 129, 130, 131, 132, 133,
        134, 135, 136, 137, 138, 139, 140, 141,
        142, 143, 144, 145, 146, 147, 148, 149,
        150, 151, 152, 153, 154, 155, 156, 157,
        158, 159, 160, 161, 162, 163, 164, 165,
        166, 167, 168, 169, 170, 171, 172, 173,
    },
    {
        174,  -1,  -1,  -1, 175, 176, 177, 178,
        179,  -1,  -1,  -1, 180, 181, 182, 183,
        184,  -1,  -1,  -1, 185, 186, 187, 188,
        189, 190, 191, 192, 193, 194, 195, 196,
        197, 198, 199, 200, 201, 202, 203, 204,
        205, 206, 207, 208, 209, 210, 211, 212,
        213, 214, 215, 216, 217, 218, 219, 220,
        221, 222, 223, 224, 225, 226, 227, 228,
    },
    {
        229, 230,  -1,  -1,  -1, 231, 232, 233,
        234, 235,  -1,  -1,  -1, 236, 237, 238,
        239, 240,  -1,  -1,  -1, 241, 242, 243,
        244, 245, 246, 247, 248, 249, 250, 251,
        252, 253, 254, 255, 256, 257, 258, 259,
        260, 261, 262, 263, 264, 265, 266, 267,
        268, 269, 270, 271, 272, 273, 274, 275,
        276, 277, 278, 279, 280, 281, 282, 283,
    },
    {
        284, 285, 286, 287, 288, 289, 290, 291,
        292, 293,  -1,  -1,  -1, 294, 295, 296,
        297, 298,  -1,  -1,  -1, 299, 300, 301,
        302, 303,  -1,  -1,  -1, 304, 305, 306,
        307, 308, 309, 310, 311, 312, 313, 314,
        315, 316, 317, 318, 319, 320, 321, 322,
        323, 324, 325, 326, 327, 328, 329, 330,
        331, 332, 333, 334, 335, 336, 337, 338,
    },
    {
         -1,  -1, 339, 340, 341, 342, 343, 344,
         -1,  -1, 345, 346, 347, 348, 349, 350,
         -1,  -1, 441, 351, 352, 353, 354, 355,
         -1,  -1,  -1, 442, 356, 357, 358, 359,
         -1,  -1,  -1,  -1, 443, 360, 361, 362,
         -1,  -1,  -1,  -1,  -1, 444, 363, 364,
         -1,  -1,  -1,  -1,  -1,  -1, 445, 365,
         -1,  -1,  -1,  -1,  -1,  -1,  -1, 446,
    },
    {
         -1,  -1,  -1, 366, 367, 368, 369, 370,
         -1,  -1,  -1, 371, 372, 373, 374, 375,
         -1,  -1,  -1, 376, 377, 378, 379, 380,
         -1,  -1,  -1, 447, 381, 382, 383, 384,
         -1,  -1,  -1,  -1, 448, 385, 386, 387,
         -1,  -1,  -1,  -1,  -1, 449, 388, 389,
         -1,  -1,  -1,  -1,  -1,  -1, 450, 390,
         -1,  -1,  -1,  -1,  -1,  -1,  -1, 451,
    },
    {
        452, 391, 392, 393, 394, 395, 396, 397,
         -1,  -1,  -1,  -1, 398, 399, 400, 401,
         -1,  -1,  -1,  -1, 402, 403, 404, 405,
         -1,  -1,  -1,  -1, 406, 407, 408, 409,
         -1,  -1,  -1,  -1, 453, 410, 411, 412,
         -1,  -1,  -1,  -1,  -1, 454, 413, 414,
         -1,  -1,  -1,  -1,  -1,  -1, 455, 415,
         -1,  -1,  -1,  -1,  -1,  -1,  -1, 456,
    },
    {
        457, 416, 417, 418, 419, 420, 421, 422,
         -1, 458, 423, 424, 425, 426, 427, 428,
         -1,  -1,  -1,  -1,  -1, 429, 430, 431,
         -1,  -1,  -1,  -1,  -1, 432, 433, 434,
         -1,  -1,  -1,  -1,  -1, 435, 436, 437,
         -1,  -1,  -1,  -1,  -1, 459, 438, 439,
         -1,  -1,  -1,  -1,  -1,  -1, 460, 440,
         -1,  -1,  -1,  -1,  -1,  -1,  -1, 461,
    },
};

// binomial[i][j] = C(j, i + 1).
constexpr std::array<std::array<std::uint64_t, 64>, 5> MakeBinomials() {
  std::array<std::array<std::uint64_t, 64>, 5> table{};
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 64; j++) {
      std::uint64_t f = j, l = 1;
      for (int k = 1; k <= i; k++) {
        f *= static_cast<std::uint64_t>(j - k);
        l *= static_cast<std::uint64_t>(k + 1);
      }
      table[i][j] = j > i ? f / l : 0;
    }
  return table;
}
constexpr auto Binomials = MakeBinomials();

// The leading pawns' index: PawnIndex[count - 1][flap square] is the number
// of placements of the leading pawns that come before it on its file group,
// PawnFactor[count - 1][file] the number of placements per file.
struct PawnTables {
  std::uint64_t Index[5][24];
  std::uint64_t Factor[5][4];
};
constexpr PawnTables MakePawnTables() {
  PawnTables t{};
  for (int i = 0; i < 5; i++) {
    int j = 0;
    for (int file = 0; file < 4; file++) {
      std::uint64_t s = 0;
      for (int n = 0; n < 6; n++, j++) {
        t.Index[i][j] = s;
        s += i == 0 ? 1 : Binomials[i - 1][Ptwist[InvFlap[j]]];
      }
      t.Factor[i][file] = s;
    }
  }
  return t;
}
constexpr PawnTables Pawn = MakePawnTables();

// C(n, k) for the group factors.
std::uint64_t Choose(int n, int k) {
  if (k < 0 || n < k) return 0;
  std::uint64_t result = 1;
  for (int i = 1; i <= k; i++) result = result * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
  return result;
}

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t ReadBigEndian64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; i++) value = value << 8 | p[i];
  return value;
}
std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// A read position in the mapped file that refuses to step beyond its end.
class FileCursor {
public:
  FileCursor(const std::uint8_t* data, std::uint64_t size) : Begin(data), Length(size) {}

  bool Ok() const { return Good; }
  std::uint64_t Offset() const { return Position; }
  const std::uint8_t* Here() const { return Begin + Position; }
  bool Has(std::uint64_t count) const { return Good && count <= Length - Position; }
  const std::uint8_t* Take(std::uint64_t count) {
    if (!Has(count)) {
      Good = false;
      return nullptr;
    }
    const std::uint8_t* at = Begin + Position;
    Position += count;
    return at;
  }
  // Alignment is to the file's start, which the mapping puts on a page.
  void Align(std::uint64_t boundary) {
    const std::uint64_t aligned = (Position + boundary - 1) & ~(boundary - 1);
    if (aligned > Length) Good = false;
    else Position = aligned;
  }

private:
  const std::uint8_t* Begin;
  std::uint64_t Length;
  std::uint64_t Position = 0;
  bool Good = true;
};

// The sizes of the three areas that follow the pairs headers.
struct AreaSizes {
  std::uint64_t Index = 0;
  std::uint64_t Sizes = 0;
  std::uint64_t Data = 0;
};

// Symbol lengths of the pattern tree; a symbol's parts must be other
// symbols, and a damaged table whose parts run in a circle is refused.
bool CalcSymbolLengths(PairsData& d) {
  enum : std::uint8_t { Unseen, Busy, Done };
  std::vector<std::uint8_t> state(d.SymbolCount, Unseen);
  std::vector<int> lengths(d.SymbolCount, 0);
  std::vector<std::uint32_t> stack;
  for (std::uint32_t root = 0; root < d.SymbolCount; root++) {
    if (state[root] == Done) continue;
    stack.push_back(root);
    while (!stack.empty()) {
      const std::uint32_t s = stack.back();
      const std::uint8_t* w = d.SymbolPatterns + 3 * s;
      const std::uint32_t right = static_cast<std::uint32_t>(w[2] << 4 | w[1] >> 4);
      if (right == 0xfff) {
        lengths[s] = 0;
        state[s] = Done;
        stack.pop_back();
        continue;
      }
      const std::uint32_t left = static_cast<std::uint32_t>((w[1] & 0xf) << 8 | w[0]);
      if (left >= d.SymbolCount || right >= d.SymbolCount) return false;
      if (state[s] == Unseen) {
        state[s] = Busy;
        for (std::uint32_t part : {left, right}) {
          if (state[part] == Busy) return false;
          if (state[part] == Unseen) stack.push_back(part);
        }
        continue;
      }
      if (state[s] == Busy && state[left] == Done && state[right] == Done) {
        lengths[s] = lengths[left] + lengths[right] + 1;
        // The decoder keeps lengths in a byte; no sound table exceeds it.
        if (lengths[s] > 255) return false;
        state[s] = Done;
        stack.pop_back();
        continue;
      }
      if (state[s] == Done) {
        stack.pop_back();
        continue;
      }
      return false;
    }
  }
  d.SymbolLengths.resize(d.SymbolCount);
  for (std::uint32_t s = 0; s < d.SymbolCount; s++) d.SymbolLengths[s] = static_cast<std::uint8_t>(lengths[s]);
  return true;
}

// Reads one pairs header for a sub-table of `positions` values.
std::unique_ptr<PairsData> SetupPairs(FileCursor& cursor, std::uint64_t positions, bool wdl, AreaSizes& sizes) {
  auto d = std::make_unique<PairsData>();
  const std::uint8_t* head = cursor.Take(2);
  if (!head) return nullptr;
  d->Flags = head[0];
  if (head[0] & 0x80) {
    d->IndexBits = 0;
    d->ConstValue = wdl ? head[1] : 0;
    sizes = {};
    return d;
  }
  const std::uint8_t* rest = cursor.Take(8);
  if (!rest) return nullptr;
  d->BlockSizeLog = head[1];
  d->IndexBits = rest[0];
  const std::uint32_t extraBlocks = rest[1];
  d->RealBlocks = ReadU32(rest + 2);
  d->MaxLen = rest[6];
  d->MinLen = rest[7];
  // Code lengths index shifts of a 64-bit word; block and index sizes must
  // stay far below anything a 6-man table needs.
  if (d->MinLen < 1 || d->MaxLen < d->MinLen || d->MaxLen > 64) return nullptr;
  if (d->IndexBits < 1 || d->IndexBits > 40 || d->BlockSizeLog < 3 || d->BlockSizeLog > 30) return nullptr;
  const int h = d->MaxLen - d->MinLen + 1;
  d->Offsets = cursor.Take(2 * static_cast<std::uint64_t>(h));
  const std::uint8_t* countBytes = cursor.Take(2);
  if (!countBytes) return nullptr;
  d->SymbolCount = ReadU16(countBytes);
  if (d->SymbolCount == 0 || d->SymbolCount > 4096) return nullptr;
  d->SymbolPatterns = cursor.Take(3 * static_cast<std::uint64_t>(d->SymbolCount));
  if (!d->SymbolPatterns) return nullptr;
  if (d->SymbolCount & 1) cursor.Take(1);
  if (!cursor.Ok()) return nullptr;

  d->IndexEntries = (positions + (std::uint64_t{1} << d->IndexBits) - 1) >> d->IndexBits;
  d->SizeEntries = static_cast<std::uint64_t>(d->RealBlocks) + extraBlocks;
  sizes.Index = 6 * d->IndexEntries;
  sizes.Sizes = 2 * d->SizeEntries;
  sizes.Data = static_cast<std::uint64_t>(d->RealBlocks) << d->BlockSizeLog;

  if (!CalcSymbolLengths(*d)) return nullptr;

  d->Base.assign(static_cast<std::size_t>(h), 0);
  for (int i = h - 2; i >= 0; i--)
    d->Base[i] = (d->Base[i + 1] + ReadU16(d->Offsets + 2 * i) - ReadU16(d->Offsets + 2 * (i + 1))) / 2;
  for (int i = 0; i < h; i++) {
    const int shift = 64 - (d->MinLen + i);
    d->Base[i] = shift >= 64 ? 0 : d->Base[i] << shift;
  }
  return d;
}

// The groups of like pieces: Norm[i] is the size of the group that begins
// at list position i.
void SetNorm(const TableShape& shape, SubTable& sub) {
  std::fill(std::begin(sub.Norm), std::end(sub.Norm), 0);
  int i;
  if (shape.HasPawns) {
    sub.Norm[0] = shape.Pawns[0];
    if (shape.Pawns[1]) sub.Norm[shape.Pawns[0]] = shape.Pawns[1];
    i = shape.Pawns[0] + shape.Pawns[1];
  } else {
    sub.Norm[0] = shape.EncodingType == 0 ? 3 : 2;
    i = sub.Norm[0];
  }
  for (; i < shape.Men; i += sub.Norm[i])
    for (int j = i; j < shape.Men && sub.Pieces[j] == sub.Pieces[i]; j++) sub.Norm[i]++;
}

// The factor of each group; `order` places the leading block (and
// `order2` the other colour's pawns) among the groups. False when an order
// names no group, which leaves a factor unset.
bool CalcFactors(const TableShape& shape, SubTable& sub, int order, int order2, int file) {
  const int men = shape.Men;
  std::fill(std::begin(sub.Factor), std::end(sub.Factor), 0);
  int i = sub.Norm[0];
  if (shape.HasPawns && order2 < 0x0f) i += sub.Norm[i];
  int free = 64 - i;
  std::uint64_t f = 1;
  constexpr std::uint64_t KingBlocks[3] = {31332, 28056, 462};
  for (int k = 0; i < men || k == order || k == order2; k++) {
    if (k > 2 * TbMaxPieces) return false;
    if (k == order) {
      sub.Factor[0] = f;
      f *= shape.HasPawns ? Pawn.Factor[sub.Norm[0] - 1][file] : KingBlocks[shape.EncodingType];
    } else if (shape.HasPawns && k == order2) {
      sub.Factor[sub.Norm[0]] = f;
      f *= Choose(48 - sub.Norm[0], sub.Norm[sub.Norm[0]]);
    } else {
      sub.Factor[i] = f;
      f *= Choose(free, sub.Norm[i]);
      free -= sub.Norm[i];
      i += sub.Norm[i];
    }
  }
  for (int g = 0; g < men; g += sub.Norm[g])
    if (sub.Factor[g] == 0) return false;
  sub.Size = f;
  return true;
}

// The piece list of the file must name exactly the table's men, with like
// pieces side by side and the pawns first in the order the index expects:
// the probes fill squares group by group from it.
bool PieceListFits(const TableShape& shape, const SubTable& sub) {
  std::uint8_t counts[16] = {};
  for (int i = 0; i < shape.Men; i++) {
    const int code = sub.Pieces[i];
    if ((code & 7) < 1 || (code & 7) > 6) return false;
    if (i > 0 && code != sub.Pieces[i - 1])
      for (int j = 0; j < i - 1; j++)
        if (sub.Pieces[j] == code) return false;
    counts[code]++;
  }
  if (!std::equal(std::begin(counts), std::end(counts), std::begin(shape.Counts))) return false;
  if (!shape.HasPawns) return true;
  const int lead = sub.Pieces[0];
  if ((lead & 7) != 1 || counts[lead] != shape.Pawns[0]) return false;
  for (int i = 0; i < shape.Pawns[0]; i++)
    if (sub.Pieces[i] != lead) return false;
  for (int i = 0; i < shape.Pawns[1]; i++)
    if (sub.Pieces[shape.Pawns[0] + i] != (lead ^ 8)) return false;
  return true;
}

bool SetupPieces(const TableShape& shape, SubTable& sub, const std::uint8_t* pieces, int shift, int order,
                 int order2, int file) {
  for (int i = 0; i < shape.Men; i++) sub.Pieces[i] = static_cast<std::uint8_t>((pieces[i] >> shift) & 0x0f);
  if (!PieceListFits(shape, sub)) return false;
  SetNorm(shape, sub);
  return CalcFactors(shape, sub, order, order2, file);
}

// Reads the piece descriptions of `files` files for `sides` sides.
bool SetupDescriptions(const TableShape& shape, FileCursor& cursor, int sides, SubTable (*subs)[2],
                       SubTable* dtzSubs) {
  const int files = shape.HasPawns ? 4 : 1;
  const int orderBytes = shape.HasPawns && shape.Pawns[1] ? 2 : 1;
  for (int file = 0; file < files; file++) {
    const std::uint8_t* orders = cursor.Take(static_cast<std::uint64_t>(orderBytes));
    const std::uint8_t* pieces = cursor.Take(shape.Men);
    if (!orders || !pieces) return false;
    for (int side = 0; side < sides; side++) {
      const int shift = side * 4;
      const int order = (orders[0] >> shift) & 0x0f;
      const int order2 = orderBytes == 2 ? (orders[1] >> shift) & 0x0f : 0x0f;
      SubTable& sub = subs ? subs[file][side] : dtzSubs[file];
      if (!SetupPieces(shape, sub, pieces, shift, order, order2, file)) return false;
    }
  }
  cursor.Align(2);
  return cursor.Ok();
}

// Points a sub-table's pairs data at its index table, size table and data.
bool Place(FileCursor& cursor, const std::uint8_t*& where, std::uint64_t size) {
  where = cursor.Take(size);
  return where != nullptr || size == 0;
}

}  // namespace

std::uint64_t Binomial(int i, int j) { return Binomials[i][j]; }

bool InitTableWdl(const TableShape& shape, const std::uint8_t* data, std::uint64_t size, WdlTable& table) {
  FileCursor cursor(data, size);
  const std::uint8_t* head = cursor.Take(5);
  if (!head || ReadU32(head) != WdlMagic) return false;
  const bool split = head[4] & 1;
  const int files = head[4] & 2 ? 4 : 1;
  if ((files == 4) != shape.HasPawns) return false;
  const int sides = split ? 2 : 1;
  if (!SetupDescriptions(shape, cursor, 2, table.Sub, nullptr)) return false;

  AreaSizes areas[4][2];
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++) {
      table.Sub[f][s].Pairs = SetupPairs(cursor, table.Sub[f][s].Size, true, areas[f][s]);
      if (!table.Sub[f][s].Pairs) return false;
    }
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++)
      if (!Place(cursor, table.Sub[f][s].Pairs->IndexTable, areas[f][s].Index)) return false;
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++)
      if (!Place(cursor, table.Sub[f][s].Pairs->SizeTable, areas[f][s].Sizes)) return false;
  for (int f = 0; f < files; f++)
    for (int s = 0; s < sides; s++) {
      PairsData& pairs = *table.Sub[f][s].Pairs;
      cursor.Align(64);
      if (!Place(cursor, pairs.Data, areas[f][s].Data)) return false;
      pairs.DataEnd = pairs.Data ? pairs.Data + areas[f][s].Data : nullptr;
    }
  return cursor.Ok();
}

bool InitTableDtz(const TableShape& shape, const std::uint8_t* data, std::uint64_t size, DtzTable& table) {
  FileCursor cursor(data, size);
  const std::uint8_t* head = cursor.Take(5);
  if (!head || ReadU32(head) != DtzMagic) return false;
  const int files = head[4] & 2 ? 4 : 1;
  if ((files == 4) != shape.HasPawns) return false;
  if (!SetupDescriptions(shape, cursor, 1, nullptr, table.Sub)) return false;

  AreaSizes areas[4];
  for (int f = 0; f < files; f++) {
    table.Sub[f].Pairs = SetupPairs(cursor, table.Sub[f].Size, false, areas[f]);
    if (!table.Sub[f].Pairs) return false;
    table.Flags[f] = table.Sub[f].Pairs->Flags;
  }

  const std::uint64_t mapStart = cursor.Offset();
  table.Map = cursor.Here();
  for (int f = 0; f < files; f++) {
    if (!(table.Flags[f] & 2)) continue;
    for (int i = 0; i < 4; i++) {
      const std::uint8_t* length = cursor.Take(1);
      if (!length) return false;
      table.MapIndex[f][i] = static_cast<std::uint32_t>(cursor.Offset() - mapStart);
      if (!cursor.Take(*length) && *length) return false;
    }
  }
  table.MapSize = cursor.Offset() - mapStart;
  // Pawnless tables align after a map only when there is one.
  if (shape.HasPawns || (table.Flags[0] & 2)) cursor.Align(2);

  for (int f = 0; f < files; f++)
    if (!Place(cursor, table.Sub[f].Pairs->IndexTable, areas[f].Index)) return false;
  for (int f = 0; f < files; f++)
    if (!Place(cursor, table.Sub[f].Pairs->SizeTable, areas[f].Sizes)) return false;
  for (int f = 0; f < files; f++) {
    PairsData& pairs = *table.Sub[f].Pairs;
    cursor.Align(64);
    if (!Place(cursor, pairs.Data, areas[f].Data)) return false;
    pairs.DataEnd = pairs.Data ? pairs.Data + areas[f].Data : nullptr;
  }
  return cursor.Ok();
}

int DecompressPairs(const PairsData& d, std::uint64_t index) {
  if (d.IndexBits == 0) return d.ConstValue;

  const std::uint64_t mainIndex = index >> d.IndexBits;
  if (mainIndex >= d.IndexEntries) return -1;
  std::int64_t litIndex = static_cast<std::int64_t>(index & ((std::uint64_t{1} << d.IndexBits) - 1)) -
                          (std::int64_t{1} << (d.IndexBits - 1));
  const std::uint8_t* entry = d.IndexTable + 6 * mainIndex;
  std::uint64_t block = ReadU32(entry);
  litIndex += ReadU16(entry + 4);
  if (block >= d.SizeEntries) return -1;
  while (litIndex < 0) {
    if (block == 0) return -1;
    --block;
    litIndex += ReadU16(d.SizeTable + 2 * block) + 1;
  }
  while (litIndex > ReadU16(d.SizeTable + 2 * block)) {
    litIndex -= ReadU16(d.SizeTable + 2 * block) + 1;
    if (++block >= d.SizeEntries) return -1;
  }
  if (block >= d.RealBlocks) return -1;

  const std::uint8_t* ptr = d.Data + (block << d.BlockSizeLog);
  if (d.DataEnd - ptr < 8) return -1;
  const int minLen = d.MinLen;
  std::uint64_t code = ReadBigEndian64(ptr);
  ptr += 8;
  int bitCount = 0;  // bits consumed from the low end of code
  std::uint32_t symbol;
  for (;;) {
    int l = minLen;
    while (code < d.Base[l - minLen]) l++;
    symbol = ReadU16(d.Offsets + 2 * (l - minLen)) + static_cast<std::uint32_t>((code - d.Base[l - minLen]) >> (64 - l));
    if (symbol >= d.SymbolCount) return -1;
    if (litIndex < static_cast<int>(d.SymbolLengths[symbol]) + 1) break;
    litIndex -= static_cast<int>(d.SymbolLengths[symbol]) + 1;
    code = l < 64 ? code << l : 0;
    bitCount += l;
    while (bitCount >= 32) {
      bitCount -= 32;
      if (d.DataEnd - ptr < 4) return -1;
      code |= static_cast<std::uint64_t>(ReadBigEndian32(ptr)) << bitCount;
      ptr += 4;
    }
  }

  while (d.SymbolLengths[symbol] != 0) {
    const std::uint8_t* w = d.SymbolPatterns + 3 * symbol;
    const std::uint32_t left = static_cast<std::uint32_t>((w[1] & 0xf) << 8 | w[0]);
    if (litIndex < static_cast<int>(d.SymbolLengths[left]) + 1) {
      symbol = left;
    } else {
      litIndex -= static_cast<int>(d.SymbolLengths[left]) + 1;
      symbol = static_cast<std::uint32_t>(w[2] << 4 | w[1] >> 4);
    }
  }
  return d.SymbolPatterns[3 * symbol];
}

int DtzFromStored(const DtzTable& table, int file, int stored, int wdl) {
  constexpr int MapClass[5] = {1, 3, 0, 2, 0};
  constexpr std::uint8_t ExactFlag[5] = {8, 0, 0, 0, 4};
  const std::uint8_t flags = table.Flags[file];
  int value = stored;
  if (flags & 2) {
    const std::uint64_t at = static_cast<std::uint64_t>(table.MapIndex[file][MapClass[wdl + 2]]) + static_cast<std::uint64_t>(stored);
    if (at >= table.MapSize) return -1;
    value = table.Map[at];
  }
  if (!(flags & ExactFlag[wdl + 2]) || (wdl & 1)) value *= 2;
  return value;
}

bool EncodePiece(const TableShape& shape, const SubTable& sub, int* pos, std::uint64_t& index) {
  const int n = shape.Men;
  if (pos[0] & 0x04)
    for (int i = 0; i < n; i++) pos[i] ^= 0x07;
  if (pos[0] & 0x20)
    for (int i = 0; i < n; i++) pos[i] ^= 0x38;

  int first = 0;
  while (first < n && !OffDiag[pos[first]]) first++;
  if (first < (shape.EncodingType == 0 ? 3 : 2) && first < n && OffDiag[pos[first]] > 0)
    for (int i = 0; i < n; i++) pos[i] = FlipDiag[pos[i]];

  std::uint64_t idx;
  int i;
  if (shape.EncodingType == 0) {
    const int a = pos[1] > pos[0];
    const int b = (pos[2] > pos[0]) + (pos[2] > pos[1]);
    if (OffDiag[pos[0]])
      idx = Triangle[pos[0]] * 63 * 62 + (pos[1] - a) * 62 + (pos[2] - b);
    else if (OffDiag[pos[1]])
      idx = 6 * 63 * 62 + Diag[pos[0]] * 28 * 62 + Lower[pos[1]] * 62 + pos[2] - b;
    else if (OffDiag[pos[2]])
      idx = 6 * 63 * 62 + 4 * 28 * 62 + Diag[pos[0]] * 7 * 28 + (Diag[pos[1]] - a) * 28 + Lower[pos[2]];
    else
      idx = 6 * 63 * 62 + 4 * 28 * 62 + 4 * 7 * 28 + Diag[pos[0]] * 7 * 6 + (Diag[pos[1]] - a) * 6 + (Diag[pos[2]] - b);
    i = 3;
  } else {
    const int kk = KkIndex[Triangle[pos[0]]][pos[1]];
    if (kk < 0) return false;  // kings side by side
    idx = static_cast<std::uint64_t>(kk);
    i = 2;
  }
  idx *= sub.Factor[0];

  while (i < n) {
    const int t = sub.Norm[i];
    std::sort(pos + i, pos + i + t);
    std::uint64_t s = 0;
    for (int m = i; m < i + t; m++) {
      const int p = pos[m];
      int below = 0;
      for (int l = 0; l < i; l++) below += p > pos[l];
      s += Binomials[m - i][p - below];
    }
    idx += s * sub.Factor[i];
    i += t;
  }
  index = idx;
  return true;
}

int PawnFile(const TableShape& shape, int* pos) {
  for (int i = 1; i < shape.Pawns[0]; i++)
    if (Flap[pos[0]] > Flap[pos[i]]) std::swap(pos[0], pos[i]);
  return FileToFile[pos[0] & 0x07];
}

std::uint64_t EncodePawn(const TableShape& shape, const SubTable& sub, int* pos) {
  const int n = shape.Men;
  if (pos[0] & 0x04)
    for (int i = 0; i < n; i++) pos[i] ^= 0x07;

  const int lead = shape.Pawns[0];
  std::sort(pos + 1, pos + lead, [](int a, int b) { return Ptwist[a] > Ptwist[b]; });

  int t = lead - 1;
  std::uint64_t idx = Pawn.Index[t][Flap[pos[0]]];
  for (int i = t; i > 0; i--) idx += Binomials[t - i][Ptwist[pos[i]]];
  idx *= sub.Factor[0];

  int i = lead;
  t = i + shape.Pawns[1];
  if (t > i) {
    std::sort(pos + i, pos + t);
    std::uint64_t s = 0;
    for (int m = i; m < t; m++) {
      const int p = pos[m];
      int below = 0;
      for (int k = 0; k < i; k++) below += p > pos[k];
      s += Binomials[m - i][p - below - 8];
    }
    idx += s * sub.Factor[i];
    i = t;
  }

  while (i < n) {
    t = sub.Norm[i];
    std::sort(pos + i, pos + i + t);
    std::uint64_t s = 0;
    for (int m = i; m < i + t; m++) {
      const int p = pos[m];
      int below = 0;
      for (int k = 0; k < i; k++) below += p > pos[k];
      s += Binomials[m - i][p - below];
    }
    idx += s * sub.Factor[i];
    i += t;
  }
  return idx;
}
