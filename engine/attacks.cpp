// Attack tables and the attack queries of a position: who attacks a square,
// x-rays behind it, the per-ply attack maps, static exchange evaluation and
// the cheap safe-move test of move ordering.
#include "engine/attacks.h"

#include <algorithm>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

unsigned char PopcntAvailable = 0;

Bitboard KnightAttacks[64];
Bitboard KingAttacks[64];
Bitboard PawnAttacks[2][64];
Bitboard RookRays[64];
Bitboard BishopRays[64];
Bitboard QueenRays[64];
Bitboard Between[64][64];
Bitboard LineBeyond[64][64];
Bitboard LineOutside[64][64];
Bitboard FrontFile[2][64];
Bitboard AdjacentFrontFiles[2][64];
Bitboard PawnSupport[2][64];
Bitboard PawnSquare[2][64];
std::int32_t KingDistance[64][64];
MagicEntry BishopMagics[64];
MagicEntry RookMagics[64];

namespace {

// Magic multipliers for our square numbering (a8 = 0), found once by a
// search over sparse random numbers with plain shifts (64 minus the mask's
// size); every subset of every mask maps without a conflicting collision.
constexpr Bitboard BishopMagicNumbers[64] = {
    0x10102002004a1420ull, 0x8020040400584008ull, 0x10510800811201c8ull, 0x5204042080000088ull,
    0x2204106880000002ull, 0x1401042004000000ull, 0x0400880410042004ull, 0x0028208200a02020ull,
    0x1500241990010e00ull, 0x8001200182020a40ull, 0x40004101030b0000ull, 0x8002041042000100ull,
    0x4010011041020038ull, 0x0000010421044000ull, 0x1500210808020a00ull, 0x8000088400880520ull,
    0x0405004010040100ull, 0x1005823210040108ull, 0x2708008102040011ull, 0x4048200404009100ull,
    0x0018104101400024ull, 0x0003000601190101ull, 0x8004803108491000ull, 0x8014241200820800ull,
    0x0006e080100c3040ull, 0x0501044a11041800ull, 0x9020300008004045ull, 0x0894080000220040ull,
    0x1001010083104000ull, 0x5004030040900080ull, 0x000400422c012400ull, 0x0002128698404812ull,
    0x1010108404900440ull, 0x0928021182084100ull, 0x2006080409020024ull, 0x1010202020180080ull,
    0xa010008200202200ull, 0x2098015100019004ull, 0x0002041440810811ull, 0x802a02020000b098ull,
    0x0009015090004060ull, 0x4000821082081001ull, 0x0100210040420800ull, 0x0800004010488a00ull,
    0x2000081104004040ull, 0x4c8e029015000082ull, 0x0420340322224842ull, 0x1298260043400210ull,
    0x0000822802400008ull, 0x00008a0101600000ull, 0x3040003412080021ull, 0x3040290220884800ull,
    0x4a1500401041004aull, 0x8010200282020781ull, 0x0020203142209091ull, 0x0070300600902110ull,
    0x0040808800b62048ull, 0x0000810400c44420ull, 0x00080400440c0441ull, 0x8340080020840411ull,
    0x0000000104208200ull, 0x0000800810d00080ull, 0x0400530411080200ull, 0x4040702400932244ull,
};

constexpr Bitboard RookMagicNumbers[64] = {
    0x1080004008801020ull, 0x0840092002c03000ull, 0x1900200010400900ull, 0x0880100008000480ull,
    0x4200100420080200ull, 0x8100020100080400ull, 0x0200040110886200ull, 0x0200008040220411ull,
    0x0404800084400220ull, 0x0000401000402000ull, 0x0086001081220440ull, 0x0408800800100280ull,
    0x000a001201040820ull, 0x8848800200840080ull, 0x4001000100040200ull, 0x0442000102105084ull,
    0x9080010020804100ull, 0x0040404000201009ull, 0x0000808010002009ull, 0x2200090021d00100ull,
    0x0008008008040080ull, 0x0004004002010040ull, 0x0011040008015042ull, 0x00000a0001768104ull,
    0x0000800080204009ull, 0x2010004140002001ull, 0x9800200280100080ull, 0x1000100080080080ull,
    0x0442000a00049020ull, 0x2100040080020080ull, 0x0800120400900148ull, 0x0010040a00128541ull,
    0x2800804000800030ull, 0x1010002000400041ull, 0x4000200011004100ull, 0x0610008410800800ull,
    0x0400802402800800ull, 0xc100020080800400ull, 0x0002000802000401ull, 0x0182085882000401ull,
    0x0220204000808000ull, 0x2860100040024022ull, 0x0001002004110040ull, 0x99101042000a0020ull,
    0x0004080004008080ull, 0x0010040002008080ull, 0x2012004881020004ull, 0x8300842444820011ull,
    0x0088403882010200ull, 0x0820400080210100ull, 0x0110910040a00300ull, 0x0801100280080480ull,
    0x0242009008200600ull, 0x1002000489500200ull, 0x0040800200010080ull, 0x0091800041000080ull,
    0x0000209300488001ull, 0x04c1002414824001ull, 0x020020000b001041ull, 0x7000100004200901ull,
    0x8002002004100802ull, 0x30010002084c0007ull, 0x0888221800813004ull, 0x4000002840840112ull,
};

// Shared attack arrays: rook blocks need 2^10..2^12 entries per square,
// bishop blocks 2^5..2^9.
constexpr int RookTableSize = 102400;
constexpr int BishopTableSize = 5248;
Bitboard RookTable[RookTableSize];
Bitboard BishopTable[BishopTableSize];

constexpr int RookDirections[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};    // row, file steps
constexpr int BishopDirections[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
constexpr int KnightSteps[8][2] = {{-2, -1}, {-2, 1}, {-1, -2}, {-1, 2}, {1, -2}, {1, 2}, {2, -1}, {2, 1}};
constexpr int KingSteps[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

bool OnBoard(int row, int file) { return row >= 0 && row < 8 && file >= 0 && file < 8; }

// Walks the four rays from square, stopping after the first occupied
// square; with maskOnly, the relevance mask instead (each ray without its
// last square at the board edge).
Bitboard SlideFrom(int square, Bitboard occupied, const int (&directions)[4][2], bool maskOnly) {
  Bitboard result = 0;
  for (const auto& d : directions) {
    int row = RowOf(square) + d[0], file = FileOf(square) + d[1];
    while (OnBoard(row, file)) {
      if (maskOnly && !OnBoard(row + d[0], file + d[1])) break;
      const int target = MakeSquare(file, row);
      result |= SquareBit(target);
      if (!maskOnly && (occupied & SquareBit(target))) break;
      row += d[0];
      file += d[1];
    }
  }
  return result;
}

Bitboard StepTargets(int square, const int (&steps)[8][2]) {
  Bitboard result = 0;
  for (const auto& st : steps) {
    const int row = RowOf(square) + st[0], file = FileOf(square) + st[1];
    if (OnBoard(row, file)) result |= SquareBit(MakeSquare(file, row));
  }
  return result;
}

void InitMagicKind(MagicEntry (&entries)[64], const Bitboard (&magics)[64], Bitboard* table, int tableSize,
                   const int (&directions)[4][2]) {
  int offset = 0;
  for (int square = 0; square < 64; ++square) {
    MagicEntry& e = entries[square];
    e.Mask = SlideFrom(square, 0, directions, true);
    e.Magic = magics[square];
    const int bits = PopCount(e.Mask);
    e.Shift = 64 - bits;
    e.Attacks = table + offset;
    if (offset + (1 << bits) > tableSize) std::abort();
    // Subset k takes the i-th mask square when bit i of k is set.
    int maskSquares[12];
    int n = 0;
    for (Bitboard m = e.Mask; m;) maskSquares[n++] = PopLowestSquare(m);
    for (int k = 0; k < (1 << bits); ++k) {
      Bitboard occupied = 0;
      for (int i = 0; i < n; ++i)
        if (k >> i & 1) occupied |= SquareBit(maskSquares[i]);
      table[offset + ((occupied * e.Magic) >> e.Shift)] = SlideFrom(square, occupied, directions, false);
    }
    offset += 1 << bits;
  }
}

// The whole line through a and b, 0 when they share none.
Bitboard LineThrough(int a, int b) {
  if (a == b) return 0;
  if (RowOf(a) == RowOf(b)) return RowBits(RowOf(a));
  if (FileOf(a) == FileOf(b)) return FileBits(FileOf(a));
  if (!(BishopRays[a] & SquareBit(b))) return 0;
  Bitboard line = SquareBit(a);
  const int dr = RowOf(b) > RowOf(a) ? 1 : -1, df = FileOf(b) > FileOf(a) ? 1 : -1;
  for (int sign : {1, -1})
    for (int row = RowOf(a) + sign * dr, file = FileOf(a) + sign * df; OnBoard(row, file);
         row += sign * dr, file += sign * df)
      line |= SquareBit(MakeSquare(file, row));
  return line;
}

void InitLines() {
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      Between[a][b] = 0;
      LineBeyond[a][b] = 0;
      LineOutside[a][b] = 0;
      const Bitboard line = LineThrough(a, b);
      if (!line) continue;
      Bitboard between = 0;
      const int dr = (RowOf(b) > RowOf(a)) - (RowOf(b) < RowOf(a));
      const int df = (FileOf(b) > FileOf(a)) - (FileOf(b) < FileOf(a));
      int row = RowOf(a) + dr, file = FileOf(a) + df;
      for (; MakeSquare(file, row) != b; row += dr, file += df) between |= SquareBit(MakeSquare(file, row));
      Between[a][b] = between;
      Bitboard beyond = 0;
      for (row = RowOf(b) + dr, file = FileOf(b) + df; OnBoard(row, file); row += dr, file += df)
        beyond |= SquareBit(MakeSquare(file, row));
      LineBeyond[a][b] = beyond;
      LineOutside[a][b] = line & ~between & ~SquareBit(a) & ~SquareBit(b);
    }
  }
}

void InitPawnMasks() {
  for (int s = 0; s < 64; ++s) {
    const int row = RowOf(s), file = FileOf(s);
    PawnAttacks[White][s] = PawnAttacks[Black][s] = 0;
    if (row > 0) {
      if (file > 0) PawnAttacks[White][s] |= SquareBit(s - 9);
      if (file < 7) PawnAttacks[White][s] |= SquareBit(s - 7);
    }
    if (row < 7) {
      if (file > 0) PawnAttacks[Black][s] |= SquareBit(s + 7);
      if (file < 7) PawnAttacks[Black][s] |= SquareBit(s + 9);
    }
    FrontFile[White][s] = FrontFile[Black][s] = 0;
    for (int r = 0; r < row; ++r) FrontFile[White][s] |= SquareBit(MakeSquare(file, r));
    for (int r = row + 1; r < 8; ++r) FrontFile[Black][s] |= SquareBit(MakeSquare(file, r));

    Bitboard beside = 0;
    if (file > 0) beside |= SquareBit(s - 1);
    if (file < 7) beside |= SquareBit(s + 1);
    PawnSupport[White][s] = PawnSupport[Black][s] = beside;
    if (row < 7) {
      if (file > 0) PawnSupport[White][s] |= SquareBit(s + 7);
      if (file < 7) PawnSupport[White][s] |= SquareBit(s + 9);
    }
    if (row > 0) {
      if (file > 0) PawnSupport[Black][s] |= SquareBit(s - 9);
      if (file < 7) PawnSupport[Black][s] |= SquareBit(s - 7);
    }

    // Rule of the square; a pawn on its start rank counts as one step on.
    const int whiteRow = row == 6 ? 5 : row;
    const int blackRow = row == 1 ? 2 : row;
    PawnSquare[White][s] = PawnSquare[Black][s] = 0;
    for (int r = 0; r < 8; ++r)
      for (int f = 0; f < 8; ++f) {
        if (r <= whiteRow && std::abs(f - file) <= whiteRow) PawnSquare[White][s] |= SquareBit(MakeSquare(f, r));
        if (r >= blackRow && std::abs(f - file) <= 7 - blackRow) PawnSquare[Black][s] |= SquareBit(MakeSquare(f, r));
      }
  }
  for (int s = 0; s < 64; ++s)
    for (int c = 0; c < 2; ++c) {
      AdjacentFrontFiles[c][s] = 0;
      if (FileOf(s) > 0) AdjacentFrontFiles[c][s] |= FrontFile[c][s - 1];
      if (FileOf(s) < 7) AdjacentFrontFiles[c][s] |= FrontFile[c][s + 1];
    }
}

bool CpuHasPopcnt() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx >> 23) & 1;
#else
  return false;
#endif
}

}  // namespace

void InitAttackTables() {
  PopcntAvailable = CpuHasPopcnt() ? 1 : 0;
  for (int s = 0; s < 64; ++s) {
    KnightAttacks[s] = StepTargets(s, KnightSteps);
    KingAttacks[s] = StepTargets(s, KingSteps) | SquareBit(s);
    RookRays[s] = SlideFrom(s, 0, RookDirections, false) | SquareBit(s);
    BishopRays[s] = SlideFrom(s, 0, BishopDirections, false) | SquareBit(s);
    QueenRays[s] = RookRays[s] | BishopRays[s];
  }
  InitPawnMasks();
  InitBitscan();
  InitLines();
}

void InitBitscan() {
  InitMagicKind(BishopMagics, BishopMagicNumbers, BishopTable, BishopTableSize, BishopDirections);
  InitMagicKind(RookMagics, RookMagicNumbers, RookTable, RookTableSize, RookDirections);
}

void InitDistanceTable() {
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b)
      KingDistance[a][b] = std::max(std::abs(FileOf(a) - FileOf(b)), std::abs(RowOf(a) - RowOf(b)));
}

// ---- Queries -------------------------------------------------------------

bool Position::IsAttacked(int s, int c) const {
  if (PawnAttacks[c ^ 1][s] & PieceBB[PieceCode(c, Pawn)]) return true;
  if (KnightAttacks[s] & PieceBB[PieceCode(c, Knight)]) return true;
  if (KingAttacks[s] & PieceBB[PieceCode(c, King)]) return true;
  const Bitboard queens = PieceBB[PieceCode(c, Queen)];
  if (BishopAttacksFrom(s, Occupied) & (PieceBB[PieceCode(c, Bishop)] | queens)) return true;
  return (RookAttacksFrom(s, Occupied) & (PieceBB[PieceCode(c, Rook)] | queens)) != 0;
}

Bitboard Position::AttackersOf(int s, int c) const {
  const Bitboard queens = PieceBB[PieceCode(c, Queen)];
  return (PawnAttacks[c ^ 1][s] & PieceBB[PieceCode(c, Pawn)]) | (KnightAttacks[s] & PieceBB[PieceCode(c, Knight)]) |
         (KingAttacks[s] & PieceBB[PieceCode(c, King)]) |
         (BishopAttacksFrom(s, Occupied) & (PieceBB[PieceCode(c, Bishop)] | queens)) |
         (RookAttacksFrom(s, Occupied) & (PieceBB[PieceCode(c, Rook)] | queens));
}

Bitboard Position::AllAttackersOf(int s) const {
  const Bitboard bishopLike = PieceBB[PieceCode(White, Bishop)] | PieceBB[PieceCode(Black, Bishop)] |
                              PieceBB[PieceCode(White, Queen)] | PieceBB[PieceCode(Black, Queen)];
  const Bitboard rookLike = PieceBB[PieceCode(White, Rook)] | PieceBB[PieceCode(Black, Rook)] |
                            PieceBB[PieceCode(White, Queen)] | PieceBB[PieceCode(Black, Queen)];
  return (PawnAttacks[Black][s] & PieceBB[PieceCode(White, Pawn)]) |
         (PawnAttacks[White][s] & PieceBB[PieceCode(Black, Pawn)]) |
         (KnightAttacks[s] & (PieceBB[PieceCode(White, Knight)] | PieceBB[PieceCode(Black, Knight)])) |
         (KingAttacks[s] & (PieceBB[PieceCode(White, King)] | PieceBB[PieceCode(Black, King)])) |
         (BishopAttacksFrom(s, Occupied) & bishopLike) | (RookAttacksFrom(s, Occupied) & rookLike);
}

Bitboard Position::XrayAttackers(int t, Bitboard removed) const {
  const Bitboard kings = PieceBB[PieceCode(White, King)] | PieceBB[PieceCode(Black, King)];
  const Bitboard bishopLike = PieceBB[PieceCode(White, Bishop)] | PieceBB[PieceCode(Black, Bishop)] |
                              PieceBB[PieceCode(White, Queen)] | PieceBB[PieceCode(Black, Queen)];
  const Bitboard rookLike = PieceBB[PieceCode(White, Rook)] | PieceBB[PieceCode(Black, Rook)] |
                            PieceBB[PieceCode(White, Queen)] | PieceBB[PieceCode(Black, Queen)];
  Bitboard occupied = (Occupied ^ removed) | kings;
  Bitboard result = 0;
  for (Bitboard hits; (hits = BishopAttacksFrom(t, occupied) & bishopLike & occupied) != 0;) {
    occupied ^= hits;
    result |= hits;
  }
  for (Bitboard hits; (hits = RookAttacksFrom(t, occupied) & rookLike & occupied) != 0;) {
    occupied ^= hits;
    result |= hits;
  }
  return result;
}

void Position::BuildAttackMaps(AttackMaps& maps) const {
  const Bitboard whitePawns = PieceBB[PieceCode(White, Pawn)];
  const Bitboard blackPawns = PieceBB[PieceCode(Black, Pawn)];
  maps.Pawns[White] = ((whitePawns & ~FileABits) >> 9) | ((whitePawns & ~FileHBits) >> 7);
  maps.Pawns[Black] = ((blackPawns & ~FileABits) << 7) | ((blackPawns & ~FileHBits) << 9);
  for (int c = 0; c < 2; ++c) {
    Bitboard knights = 0, bishops = 0, rooks = 0, queens = 0;
    const PieceSquares& n = PieceList[PieceCode(c, Knight)];
    for (int i = 0; i < n.Count; ++i) knights |= KnightAttacks[n.Squares[i]];
    const PieceSquares& b = PieceList[PieceCode(c, Bishop)];
    for (int i = 0; i < b.Count; ++i) bishops |= BishopAttacksFrom(b.Squares[i], Occupied);
    const PieceSquares& r = PieceList[PieceCode(c, Rook)];
    for (int i = 0; i < r.Count; ++i) rooks |= RookAttacksFrom(r.Squares[i], Occupied);
    const PieceSquares& q = PieceList[PieceCode(c, Queen)];
    for (int i = 0; i < q.Count; ++i) queens |= QueenAttacksFrom(q.Squares[i], Occupied);
    maps.Knights[c] = knights;
    maps.Bishops[c] = bishops;
    maps.Minors[c] = knights | bishops;
    maps.Rooks[c] = rooks;
    maps.Queens[c] = queens;
    maps.UpToMinors[c] = maps.Pawns[c] | maps.Minors[c];
    maps.UpToRooks[c] = maps.UpToMinors[c] | rooks;
    maps.UpToQueens[c] = maps.UpToRooks[c] | queens;
    maps.All[c] = maps.UpToQueens[c] | KingAttacks[KingSquare(c)];
  }
  maps.Valid = true;
}

namespace {

// The least valuable attacker of a colour among attackers, in the order
// pawn, knight, bishop, rook, queen, king; -1 when there is none.
int LeastValuableAttacker(const Position& pos, Bitboard attackers, int colour) {
  static constexpr int Order[6] = {Pawn, Knight, Bishop, Rook, Queen, King};
  for (int kind : Order) {
    const Bitboard b = attackers & pos.PieceBB[PieceCode(colour, kind)];
    if (b) return LowestSquare(b);
  }
  return -1;
}

// The slider hidden behind square (seen from target) that now joins.
int NextXray(int target, int square, Bitboard xrays) {
  const Bitboard behind = LineBeyond[target][square] & xrays;
  if (!behind) return -1;
  return target < square ? LowestSquare(behind) : HighestSquare(behind);
}

}  // namespace

int Position::SEE(int from, int to, int opp, int g, int vm, int threshold) const {
  const int mover = opp ^ 1;
  Bitboard attackers = AllAttackersOf(to) | SquareBit(from);
  if (!(attackers & ColourBB[opp])) return g;
  if (KindOf(Board[from]) == King) return threshold;

  Bitboard xrays = XrayAttackers(to, attackers);
  attackers &= ~SquareBit(from);
  // A piece leaves the exchange; the slider behind it (if any) joins.
  auto leave = [&](int square) {
    attackers &= ~SquareBit(square);
    const int next = NextXray(to, square, xrays);
    if (next >= 0) {
      attackers |= SquareBit(next);
      xrays &= ~SquareBit(next);
    }
  };
  {
    const int next = NextXray(to, from, xrays);
    if (next >= 0) {
      attackers |= SquareBit(next);
      xrays &= ~SquareBit(next);
    }
  }

  int lo = threshold, hi = g, s = g - vm;
  for (;;) {
    lo = std::max(lo, s);
    const int oppSquare = LeastValuableAttacker(*this, attackers, opp);
    const int oppPiece = Board[oppSquare];
    leave(oppSquare);
    if (!(attackers & ColourBB[mover])) break;
    if (KindOf(oppPiece) == King) return hi;
    s += SeeValue[oppPiece];
    if (s <= lo) return lo;
    hi = std::min(hi, s);

    const int moverSquare = LeastValuableAttacker(*this, attackers, mover);
    const int moverPiece = Board[moverSquare];
    leave(moverSquare);
    if (!(attackers & ColourBB[opp])) break;
    if (KindOf(moverPiece) == King) return lo;
    s -= SeeValue[moverPiece];
    if (s >= hi) return hi;
  }
  return s >= lo ? std::min(hi, s) : lo;
}

int Position::SEEMove(int from, int to, int threshold) const {
  return SEE(from, to, ColourOf(Board[from]) ^ 1, SeeValue[Board[to]], SeeValue[Board[from]], threshold);
}

bool Position::IsSafeMove(const AttackMaps& maps, int from, int to) const {
  const int mover = Board[from];
  const int vm = SeeValue[mover], vc = SeeValue[Board[to]];
  if (vc + 400 >= vm) return true;
  if (maps.Valid) {
    const int opp = ColourOf(mover) ^ 1;
    if (!(maps.All[opp] & SquareBit(to))) return true;
    if (KindOf(mover) != Pawn && (maps.Pawns[opp] & SquareBit(to))) return false;
    if (vm - (vc + 400) > 3627 && (maps.Minors[opp] & SquareBit(to))) return false;
  }
  return SEEMove(from, to, -400) > -400;
}
