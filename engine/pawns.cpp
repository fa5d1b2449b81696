// The pawn structure record (piece-square values, doubled, isolated,
// connected and backward pawns, passed pawns, file masks, centre type) and
// the per-thread table that caches it by pawn key.
#include "engine/pawns.h"

#include <cstdlib>
#include <cstring>

#include "engine/attacks.h"
#include "engine/position.h"

PawnHash PawnHashes[32];

namespace {

// Squares are in White's view (row 0 = rank 8); Black looks them up with
// its square xor 56. A pawn never stands on rank 8 (999) or rank 1 (0).
constexpr int PawnPstMg[64] = {
    999,  999,  999,  999,  999,  999,  999,  999,   //
    273,  -137, -22,  379,  379,  -22,  -137, 273,   //
    33,   57,   148,  126,  126,  148,  57,   33,    //
    18,   17,   72,   95,   95,   72,   17,   18,    //
    -34,  -53,  86,   69,   69,   86,   -53,  -34,   //
    -55,  -11,  48,   51,   51,   48,   -11,  -55,   //
    -87,  -10,  38,   7,    7,    38,   -10,  -87,   //
    0,    0,    0,    0,    0,    0,    0,    0,     //
};
constexpr int PawnPstEg[64] = {
    999,  999,  999,  999,  999,  999,  999,  999,   //
    -35,  141,  96,   27,   27,   96,   141,  -35,   //
    165,  207,  149,  -27,  -27,  149,  207,  165,   //
    95,   84,   -42,  -126, -126, -42,  84,   95,    //
    7,    37,   -24,  -85,  -85,  -24,  37,   7,     //
    -26,  16,   -4,   -32,  -32,  -4,   16,   -26,   //
    -8,   26,   22,   18,   18,   22,   26,   -8,    //
    0,    0,    0,    0,    0,    0,    0,    0,     //
};

// Per file, a..h.
constexpr int DoubledMg[8] = {-75, -1, -112, -69, -69, -112, -1, -75};
constexpr int DoubledEg[8] = {-275, -182, -140, -88, -88, -140, -182, -275};
constexpr int ConnectedMg[8] = {48, 30, 44, 51, 51, 44, 30, 48};
constexpr int ConnectedEg[8] = {0, 17, 91, 133, 133, 91, 17, 0};
// Each pawn beyond the second on one file.
constexpr int TripledMg = -192;
constexpr int TripledEg = -164;

// By number of files. At most four files can be isolated at once, so the
// tables are never read past their ends.
constexpr int IsolatedMg[6] = {0, -99, -204, -427, -419, -510};
constexpr int IsolatedEg[6] = {0, -120, -226, -258, -408, -665};
constexpr int DoubledIsolatedMg[5] = {0, -53, -173, -334, -548};
constexpr int DoubledIsolatedEg[5] = {0, -224, -317, -563, -1104};
// Doubled isolated files with no enemy pawn on either neighbouring file.
constexpr int DoubledIsolatedOpenMg[5] = {-30, 0, -279, -268, -268};
constexpr int DoubledIsolatedOpenEg[5] = {105, -65, 0, -93, -93};

// Hanging pawns on c4 and d4 (c5 and d5 for Black).
constexpr int HangingPairMg = 7;
constexpr int HangingPairEg = 171;

// Passed pawns by row (1 = one step from promotion .. 6 = start rank).
constexpr int PassedMg[8] = {0, 1124, 484, 146, 1, 0, 9, 0};
constexpr int PassedEg[8] = {0, 495, 176, 101, 60, 13, 70, 0};
constexpr int SupportedPassedMg[8] = {0, 825, 332, 135, 106, 0, 58, 0};
constexpr int SupportedPassedEg[8] = {0, 603, 247, 216, 93, 90, 0, 0};
constexpr int ConnectedPassedMg[8] = {0, 2527, 683, 236, 39, 69, 18, 0};
constexpr int ConnectedPassedEg[8] = {0, 805, 641, 350, 199, 0, 0, 0};

// Backward pawn beside blocked pawns, by square in White's view.
constexpr int BackwardMg[64] = {
    0, 0,    0,    0,    0,    0,    0,    0,  //
    0, 0,    0,    0,    0,    0,    0,    0,  //
    0, 0,    0,    0,    0,    0,    0,    0,  //
    0, -174, -10,  -488, -488, -10,  -174, 0,  //
    0, -173, -207, 0,    0,    -207, -173, 0,  //
    0, -96,  0,    0,    0,    0,    -96,  0,  //
    0, -157, -4,   -112, -112, -4,   -157, 0,  //
    0, 0,    0,    0,    0,    0,    0,    0,  //
};
constexpr int BackwardEg[64] = {
    0, 0,    0,   0,    0,    0,   0,    0,  //
    0, 0,    0,   0,    0,    0,   0,    0,  //
    0, 0,    0,   0,    0,    0,   0,    0,  //
    0, -154, 0,   0,    0,    0,   -154, 0,  //
    0, -192, -18, 0,    0,    -18, -192, 0,  //
    0, -86,  -11, 0,    0,    -11, -86,  0,  //
    0, -50,  -9,  -150, -150, -9,  -50,  0,  //
    0, 0,    0,   0,    0,    0,   0,    0,  //
};

// Centre weight of a square, the same for both colours; sums stay below 256.
constexpr std::uint8_t CentreWeights[64] = {
    0, 0, 0,  0,  0,  0,  0, 0,  //
    5, 5, 5,  5,  5,  5,  5, 5,  //
    5, 5, 10, 25, 25, 10, 5, 5,  //
    5, 5, 25, 40, 40, 25, 5, 5,  //
    5, 5, 25, 40, 40, 25, 5, 5,  //
    5, 5, 10, 25, 25, 10, 5, 5,  //
    5, 5, 5,  5,  5,  5,  5, 5,  //
    0, 0, 0,  0,  0,  0,  0, 0,  //
};

constexpr std::uint8_t FileC = 1 << 2, FileD = 1 << 3, FileE = 1 << 4;
constexpr std::uint8_t FileB = 1 << 1, FileF = 1 << 5;

// Files of a file mask with no neighbouring file in it. A c-file pawn whose
// only neighbours are the d- and e-pawns, with nothing on b and f, counts as
// isolated too: the trio leans on the d-pawn alone.
constexpr std::uint8_t IsolatedFilesOf(int mask) {
  int isolated = mask & ~((mask << 1) | (mask >> 1)) & 0xff;
  if ((mask & (FileC | FileD | FileE)) == (FileC | FileD | FileE) && !(mask & (FileB | FileF))) isolated |= FileC;
  return static_cast<std::uint8_t>(isolated);
}

constexpr std::uint8_t FileSpanOf(int mask) {
  if (!mask) return 0;
  int low = 0, high = 7;
  while (!(mask & (1 << low))) ++low;
  while (!(mask & (1 << high))) --high;
  return static_cast<std::uint8_t>(high - low + 1);
}

template <std::uint8_t (*Rule)(int)>
constexpr auto FileMaskTable() {
  struct Table {
    std::uint8_t Values[256];
  } table{};
  for (int mask = 0; mask < 256; ++mask) table.Values[mask] = Rule(mask);
  return table;
}

constexpr auto IsolatedTable = FileMaskTable<IsolatedFilesOf>();
constexpr auto FileSpanTable = FileMaskTable<FileSpanOf>();

static_assert(IsolatedTable.Values[FileC | FileD | FileE] == FileC);
static_assert(IsolatedTable.Values[1 | FileC | FileD | FileE] == (1 | FileC));
static_assert(FileSpanTable.Values[0x81] == 8 && FileSpanTable.Values[0] == 0);


inline int CountFiles(int mask) { return PopCount(static_cast<Bitboard>(mask & 0xff)); }

void ClearRecord(PawnInfo& out) {
  std::memset(&out, 0, sizeof(out));
  for (PawnColourInfo& side : out.Colour) {
    std::memset(side.MostAdvanced, 8, sizeof(side.MostAdvanced));
    side.FrontRow = 8;
  }
}

// Piece-square, doubled, connected values and the per-file rows of every
// pawn of one colour.
void ScanPawns(PawnColourInfo& side, const Position& position, int colour) {
  const Bitboard own = position.PieceBB[PieceCode(colour, Pawn)];
  const PieceSquares& list = position.PieceList[PieceCode(colour, Pawn)];
  for (int i = 0; i < list.Count; ++i) {
    const int square = list.Squares[i];
    const int relative = RelativeSquare(colour, square);
    const int file = FileOf(square), row = RowOf(relative);
    const std::uint8_t fileBit = static_cast<std::uint8_t>(1 << file);
    int mg = PawnPstMg[relative], eg = PawnPstEg[relative];
    if (side.Files & fileBit) {
      mg += DoubledMg[file];
      eg += DoubledEg[file];
      if (side.DoubledFiles & fileBit) {
        mg += TripledMg;
        eg += TripledEg;
      }
      side.DoubledFiles |= fileBit;
    }
    side.CentreWeight[SquareColour(square)] += CentreWeights[square];
    side.Files |= fileBit;
    if (row > side.Rearmost[file]) side.Rearmost[file] = static_cast<std::uint8_t>(row);
    if (row < side.MostAdvanced[file]) side.MostAdvanced[file] = static_cast<std::uint8_t>(row);
    if (row < side.FrontRow) {
      side.FrontRow = static_cast<std::uint8_t>(row);
      side.FrontSquare = static_cast<std::uint8_t>(square);
    }
    // Beside it or one rank in front: the support mask of the other colour.
    if (PawnSupport[colour ^ 1][square] & own) {
      mg += ConnectedMg[file];
      eg += ConnectedEg[file];
    }
    side.ScoreMg += mg;
    side.ScoreEg += eg;
  }
  side.FileSpan = FileSpanTable.Values[side.Files];
}

void ScoreIsolated(PawnColourInfo& side, std::uint8_t enemyFiles) {
  side.IsolatedFiles = IsolatedTable.Values[side.Files];
  if (!side.IsolatedFiles) return;
  const int isolated = CountFiles(side.IsolatedFiles);
  side.ScoreMg += IsolatedMg[isolated];
  side.ScoreEg += IsolatedEg[isolated];
  const int doubled = side.DoubledFiles & side.IsolatedFiles;
  if (!doubled) return;
  const int count = CountFiles(doubled);
  side.ScoreMg += DoubledIsolatedMg[count];
  side.ScoreEg += DoubledIsolatedEg[count];
  const int open = doubled & ~((enemyFiles << 1) | (enemyFiles >> 1));
  const int openCount = CountFiles(open);
  side.ScoreMg += DoubledIsolatedOpenMg[openCount];
  side.ScoreEg += DoubledIsolatedOpenEg[openCount];
}

// Two pawns side by side on c4/d4 against enemy pawns on b and e.
void ScoreHangingPair(PawnColourInfo& side, const PawnColourInfo& enemy, const Position& position, int colour) {
  constexpr int Middle = FileB | FileC | FileD | FileE;
  if ((side.Files & Middle) != (FileC | FileD) || (enemy.Files & Middle) != (FileB | FileE)) return;
  const Bitboard own = position.PieceBB[PieceCode(colour, Pawn)];
  if (position.CountOf(PieceCode(colour, Pawn)) != 2) return;
  const int c4 = RelativeSquare(colour, MakeSquare(2, 4)), d4 = RelativeSquare(colour, MakeSquare(3, 4));
  const int c3 = RelativeSquare(colour, MakeSquare(2, 5));
  if (!(own & SquareBit(c4)) || !(own & SquareBit(d4)) || (own & SquareBit(c3))) return;
  side.ScoreMg += HangingPairMg;
  side.ScoreEg += HangingPairEg;
}

// Highest value in full (the first one in file order), every other a quarter.
int CombinePassed(const int* values, int count) {
  int best = -1;
  for (int i = 0; i < count; ++i)
    if (values[i] > 0 && (best < 0 || values[i] > values[best])) best = i;
  int total = best >= 0 ? values[best] : 0;
  for (int i = 0; i < count; ++i)
    if (i != best) total += values[i] / 4;
  return total;
}

void FindPassedPawns(PawnColourInfo& side, const PawnColourInfo& enemy, const Position& position, int colour) {
  const Bitboard own = position.PieceBB[PieceCode(colour, Pawn)];
  int squares[8], mg[8], eg[8], count = 0;
  for (int file = 0; file < 8; ++file) {
    if (!(side.Files & (1 << file))) continue;
    const int row = side.MostAdvanced[file];
    // The enemy's rows are counted from its side: 7 - row is ours.
    if (row >= 7 - enemy.Rearmost[file]) continue;
    if (file > 0 && row > 7 - enemy.Rearmost[file - 1]) continue;
    if (file < 7 && row > 7 - enemy.Rearmost[file + 1]) continue;
    const int square = RelativeSquare(colour, MakeSquare(file, row));
    side.PassedPawns |= SquareBit(square);
    squares[count] = square;
    mg[count] = PassedMg[row];
    eg[count] = PassedEg[row];
    if (PawnSupport[colour][square] & own) {
      mg[count] += SupportedPassedMg[row];
      eg[count] += SupportedPassedEg[row];
      side.SupportedPassedFiles |= static_cast<std::uint8_t>(1 << file);
    }
    ++count;
  }
  for (int i = 0; i < count; ++i) {
    if (!(PawnSupport[colour][squares[i]] & side.PassedPawns)) continue;
    const int row = RowOf(RelativeSquare(colour, squares[i]));
    mg[i] += ConnectedPassedMg[row];
    eg[i] += ConnectedPassedEg[row];
  }
  side.PassedMg = CombinePassed(mg, count);
  side.PassedEg = CombinePassed(eg, count);
}

// A pawn behind two blocked neighbours: marked once per blocked neighbour,
// penalised when the second mark arrives.
void MarkBackward(PawnInfo& info, const Position& position, int colour) {
  PawnColourInfo& side = info.Colour[colour];
  const Bitboard enemyPawns = position.PieceBB[PieceCode(colour ^ 1, Pawn)];
  auto mark = [&](int file, int row) {
    const int relative = MakeSquare(file, row);
    const Bitboard bit = SquareBit(RelativeSquare(colour, relative));
    if (info.BackwardMarks & bit) {
      side.ScoreMg += BackwardMg[relative];
      side.ScoreEg += BackwardEg[relative];
    }
    info.BackwardMarks |= bit;
  };
  for (int file = 0; file < 8; ++file) {
    const int fileBit = 1 << file;
    if (!(side.Files & fileBit) || (side.IsolatedFiles & fileBit)) continue;
    const int row = side.MostAdvanced[file];
    if (!(enemyPawns & SquareBit(RelativeSquare(colour, MakeSquare(file, row - 1))))) continue;
    if (file > 0) {
      const int left = side.Rearmost[file - 1];
      if (row < left && (file < 2 || side.Rearmost[file - 2] < left) && side.Rearmost[file] < left)
        mark(file - 1, left);
    }
    if (file < 7) {
      const int right = side.Rearmost[file + 1];
      if (row < right && (file > 5 || side.Rearmost[file + 2] < right) && side.Rearmost[file] < right)
        mark(file + 1, right);
    }
  }
}

// 1 few centre pawns, 2 open centre, 3 one blocked pair, 4 a chain,
// 5 all four centre pawns without blocks, 6 both centre pawns blocked.
std::uint32_t ClassifyCentre(const Position& position) {
  const Bitboard white = position.PieceBB[PieceCode(White, Pawn)];
  const Bitboard black = position.PieceBB[PieceCode(Black, Pawn)];
  const Bitboard whiteD = white & FileBits(3), whiteE = white & FileBits(4);
  const Bitboard blackD = black & FileBits(3), blackE = black & FileBits(4);
  const int present = (whiteD != 0) + (whiteE != 0) + (blackD != 0) + (blackE != 0);
  if (present < 2) return 1;
  if (((whiteD >> 7) & blackE) || ((whiteE >> 9) & blackD)) return 4;
  const bool dBlocked = (whiteD >> 8) & blackD;
  const bool eBlocked = (whiteE >> 8) & blackE;
  if (present < 4) return dBlocked || eBlocked ? 3 : 2;
  std::uint32_t type = dBlocked ? 3 : 5;
  if (eBlocked) type = type == 5 ? 3 : 6;
  return type;
}

}  // namespace

void EvaluatePawns(PawnInfo& out, const Position& position) {
  ClearRecord(out);
  PawnColourInfo& white = out.Colour[White];
  PawnColourInfo& black = out.Colour[Black];
  ScanPawns(white, position, White);
  ScanPawns(black, position, Black);
  ScoreIsolated(white, black.Files);
  ScoreHangingPair(white, black, position, White);
  ScoreIsolated(black, white.Files);
  ScoreHangingPair(black, white, position, Black);
  for (int colour = White; colour <= Black; ++colour) {
    FindPassedPawns(out.Colour[colour], out.Colour[colour ^ 1], position, colour);
    MarkBackward(out, position, colour);
  }
  out.CentreType = ClassifyCentre(position);
}

void PawnHash::Probe(PawnHash& slot, const Position& position, PawnInfo& out) {
  ++slot.Probes;
  // Without a table (its allocation failed) every probe is computed afresh.
  if (!slot.Table) {
    EvaluatePawns(out, position);
    return;
  }
  PawnHashEntry& entry = slot.Table[position.Pawnkey & (Entries - 1)];
  if (entry.Pawnkey == position.Pawnkey) {
    ++slot.Hits;
    out = entry.Info;
    return;
  }
  EvaluatePawns(out, position);
  entry.Pawnkey = position.Pawnkey;
  entry.Info = out;
}

bool PawnHash::Allocate(PawnHash& slot) {
  Free(slot);
  auto* table = static_cast<PawnHashEntry*>(std::calloc(Entries, sizeof(PawnHashEntry)));
  if (!table) return true;
  // A pawnless position has key 0 and lands on entry 0: a zeroed entry would
  // answer it with an all-zero record, so the first such probe must miss.
  table[0].Pawnkey = 1;
  slot.Table = table;
  return false;
}

void PawnHash::Free(PawnHash& slot) {
  std::free(slot.Table);
  slot.Table = nullptr;
}

namespace {

// Releases every slot's table when the process ends.
struct PawnHashRelease {
  ~PawnHashRelease() {
    for (PawnHash& slot : PawnHashes) PawnHash::Free(slot);
  }
} ReleaseAtExit;

}  // namespace
