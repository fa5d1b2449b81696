// The engine's board: mailbox, piece lists and bitboards kept together, the
// incremental keys and material index, castling, en-passant and fifty-move
// state, a history of keys for repetitions, and the castling rules of the
// game it belongs to. A flat record without pointers: a byte copy is a
// complete, independent board that moves by its own rules.
#pragma once

#include <cstdint>

#include "engine/bitboard.h"
#include "engine/move.h"

enum Colour : int { White = 0, Black = 1 };

// Piece kinds; a piece code is colour * 8 + kind, 0 an empty square. Codes 4,
// 8 and 12 are no piece (8 marks an undefined square while a FEN is read).
enum PieceKind : int { Pawn = 1, Knight = 2, King = 3, Bishop = 5, Rook = 6, Queen = 7 };

constexpr int PieceCode(int colour, int kind) { return colour * 8 + kind; }
constexpr int ColourOf(int code) { return (code - 1) >> 3; }
constexpr int KindOf(int code) { return code & 7; }

inline constexpr int UndefinedSquare = 8;

// The character of each piece code.
inline constexpr char PieceChars[] = ".PNK*BRQ*pnk*brq";

// Room in the key history (and in a game's undo records): moves and null
// moves made since the position was set.
inline constexpr int MaxGamePlies = 800;

// Castling rights bits.
enum CastlingRight : int {
  CastleWhiteKingSide = 1,
  CastleWhiteQueenSide = 2,
  CastleBlackKingSide = 4,
  CastleBlackQueenSide = 8,
};

// Index into CastleRookSquare of the rook that castles with a right:
// White king side, Black king side, White queen side, Black queen side.
constexpr int CastleRookSlot(int colour, bool queenSide) { return colour + (queenSide ? 2 : 0); }

enum VariantKind : int { VariantNormal = 0, VariantChess960 = 1 };

struct KeyPair {
  std::uint64_t Hashkey;
  std::uint64_t Pawnkey;
  bool operator==(const KeyPair&) const = default;
};

struct PieceSquares {
  std::int32_t Count;
  std::int32_t Squares[15];
};

// What MakeMove needs to take a move back; a null move fills only EpSquare
// and Fifty.
struct UndoRecord {
  ::Move Move;
  std::int32_t Captured;  // code on the to-square before the move; 0 for castling, en passant
  std::int32_t Castling;
  std::int32_t EpSquare;
  std::int32_t Fifty;
  std::int32_t Matkey;
  std::int32_t CheckCache;
};

struct AttackMaps;
struct PawnInfo;

class Position {
public:
  Position();

  // Make and unmake. MakeMove takes a move from the generators (or looked up
  // in their list): true when legal and made, false with the position exactly
  // as before, also when the key history is full.
  bool MakeMove(Move move, UndoRecord& undo);
  void UnmakeMove(const UndoRecord& undo);
  // False (and nothing changed) only when the key history is full.
  bool MakeNullMove(UndoRecord& undo);
  void UnmakeNullMove(const UndoRecord& undo);

  // Primitives that keep mailbox, piece lists, counts and bitboards together;
  // they touch neither keys nor the material index.
  void MovePiece(int from, int to);
  void AddPiece(int code, int square);
  void RemovePiece(int square);
  // Material index upkeep after a piece of that code left or joined.
  void MaterialRemove(int code);
  void MaterialAdd(int code);
  // The material index recomputed from the piece counts (-1 out of table).
  int ComputeMaterialIndex() const;

  void ComputeKeys();
  bool InCheck() const;
  int KingSquare(int colour) const { return PieceList[PieceCode(colour, King)].Squares[0]; }
  int CountOf(int code) const { return PieceList[code].Count; }
  KeyPair Keys() const { return {Hashkey, Pawnkey}; }

  // Attack queries (attacks.cpp).
  bool IsAttacked(int square, int colour) const;
  Bitboard AttackersOf(int square, int colour) const;
  Bitboard AllAttackersOf(int square) const;
  Bitboard XrayAttackers(int square, Bitboard removed) const;
  void BuildAttackMaps(AttackMaps& maps) const;
  int SEE(int from, int to, int opponent, int capturedValue, int moverValue, int threshold) const;
  int SEEMove(int from, int to, int threshold) const;
  bool IsSafeMove(const AttackMaps& maps, int from, int to) const;

  // Set-up and text (fen.cpp). ParseFEN answers true on error, with the
  // reason in Message; the board is then left as it was.
  bool ParseFEN(const char* fen);
  void SetupCastling();
  bool CheckLegality();
  // Plays this position on under the other castling rules: the rights whose
  // king or rook does not stand where those rules need it are dropped.
  void ChangeVariant(int variant);
  const char* GetFEN() const;
  const char* GetMirroredFEN() const;
  void Print() const;

  // Material table look-ups (material.cpp).
  int GetMaterialScore(int& blackPhase, int& whitePhase) const;
  int CallEndgameFunction() const;

  // Endgame knowledge (endgame.cpp).
  bool IsPawnStalemate() const;
  bool IsTrivialDraw(int colour) const;
  bool CannotWin(int colour, const PawnInfo& pawns) const;
  int EndgameScaleClass(int colour) const;
  bool HasOpposition(int colour) const;
  bool HasDirectOpposition(int colour) const;

  // Repetition test of the search (game.cpp).
  bool IsRepetition(int pliesFromRoot, std::uint32_t& count) const;

  char Message[256];
  KeyPair KeyHistory[MaxGamePlies];  // keys before the move made at each ply
  std::int32_t Ply;
  std::int32_t Board[64];
  PieceSquares PieceList[16];
  std::int32_t PieceCount[2];
  std::uint64_t Hashkey;
  std::uint64_t Pawnkey;
  Bitboard PieceBB[16];
  Bitboard ColourBB[2];
  Bitboard Occupied;
  std::int32_t Side;
  std::int32_t Castling;
  std::int32_t EpSquare;  // -1 when none
  std::int32_t Fifty;
  mutable std::int32_t CheckCache;  // -1 unknown, 0 no, 1 in check
  std::int32_t Matkey;

  // The castling rules of this position's game: normal chess or Chess960,
  // the start squares of the castling rooks (-1 while unset) and, per
  // square, the rights that survive a move from or to it.
  std::int32_t ChessVariant;
  std::int32_t CastleRookSquare[4];
  std::uint32_t CastleMask[64];

private:
  bool MakeCastlingRookMove(int kingFrom, int kingTo);
  // Drops the castling rights the variant cannot play here (key kept true).
  void DropUnplayableCastling();
};

// The repetition test on a key history given apart from its position: keys
// is the current pair, history[0 .. ply - 1] the earlier positions.
bool IsDrawByRepetition(const KeyPair* history, int ply, const KeyPair& keys, int pliesFromRoot, int fifty,
                        std::uint32_t& count);
